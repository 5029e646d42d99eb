#include "engine/copytree.h"
#include "engine/foldersahead.h"
#include "engine/runlog.h"
#include "platform/drives.h"
#include "platform/events.h"

#include <optional>
#include <set>

namespace TRAVO1 {

using namespace platform;

namespace {

// A failed creation of a destination directory: it leaves the level that
// met it and is handled by the level above, unlike the level's own failures.
struct DirectoryCreationFailed {};

bool stopRequested() {
    return StopFlag == 1;
}

bool stop(CopyRun& run) {
    run.stopped = true;
    return false;
}

QString normalised(const QString& path) {
    return (path.endsWith(QLatin1Char('\\')) ? path : path + QLatin1Char('\\')).toUpper();
}

// The error path: the level's error told (the status line, a log record),
// the recorded error cleared.
void errorPath(const Level& level, CopyRun& run) {
    const RecordedError error = Err();
    if (!vanished(error.number))
        run.failed(error, level.source, level.sourceDir, CurrentName.host());
    run.events.levelFailed(error);
    clearError();
}

// The folder that a text names, opened without touching the recorded error:
// a missing one shows up where it is used.
Directory openText(const QString& text) {
    const KeepRecordedError kept;
    try {
        return FileSystem::get().tryOpenDirectory(DriveTable::current().toHost(text));
    } catch (const Failure& f) {
        return Directory::failed(f.number, {});
    }
}

// Names that a destination ignoring case cannot keep apart: the second of
// two such source names would be copied over the first. Names are kept only
// where the destination may ignore case; a volume whose type does not tell
// is asked only when two names meet, once for all its folders.
class CaseCollisions {
public:
    explicit CaseCollisions(const Directory& destDir)
        : m_destDir(destDir), m_active(destDir.mayIgnoreCase()) {}
    // Whether the name collides with one taken before; records ErrPathFileAccess when it does.
    bool collides(const std::string& hostName) {
        if (!m_active || m_taken.insert(hostText(hostName).toCaseFolded()).second ||
            !m_destDir.ignoresCase())
            return false;
        Err() = RecordedError{ErrPathFileAccess, describe(ErrPathFileAccess)};
        return true;
    }

private:
    const Directory& m_destDir;
    bool m_active;
    std::set<QString> m_taken;
};

// The entries that the file scan takes, in its order: files whose names
// match the pattern.
bool scanned(const DirEntry& entry, const QString& pattern, bool everyName) {
    return !entry.directory && (everyName || matchesPattern(hostText(entry.name), pattern));
}

std::vector<const std::string*> scannedFiles(const std::vector<DirEntry>& entries,
                                             const QString& pattern, bool everyName) {
    std::vector<const std::string*> files;
    for (const DirEntry& entry : entries)
        if (scanned(entry, pattern, everyName))
            files.push_back(&entry.name);
    return files;
}

// The subdirectory scan: the names of the level's folders, in listing
// order; none on a stop request.
std::optional<std::vector<std::string>> subdirectoryScan(const std::vector<DirEntry>& entries) {
    std::vector<std::string> subdirectories;
    for (const DirEntry& entry : entries) {
        CurrentName = entry.name;
        if (entry.name == "." || entry.name == "..")
            continue;
        if (stopRequested())
            return std::nullopt;
        if (entry.directory)
            subdirectories.push_back(entry.name);
    }
    CurrentName.clear(); // the listing's end
    return subdirectories;
}

// The file scan: each file whose name matches, copied by the up-to-date
// and size rules. The first entry's failure takes the level's error path;
// from then on failures are recorded and the scan goes on. Returns false on
// a stop request.
bool fileScan(const Level& level, const std::vector<DirEntry>& entries, const QString& pattern,
              CaseCollisions& collisions, CopyRun& run) {
    FileSystem& fs = FileSystem::get();
    const bool everyName = matchesEveryName(pattern);
    std::optional<Lookahead::Level> ahead;
    if (run.lookahead)
        ahead.emplace(*run.lookahead, level.sourceDir, level.destDir,
                      scannedFiles(entries, pattern, everyName), !level.destDir.made(),
                      [&level, &run](const FileInfo& from, int32_t toError, const FileInfo& to) {
                          return copiedAhead(from, toError, to, level.destDir, run);
                      });
    bool recording = false; // record-and-continue, from the first file on
    for (const DirEntry& entry : entries) {
        if (!scanned(entry, pattern, everyName))
            continue;
        CurrentName = entry.name;
        if (stopRequested())
            return false;
        FileInfo from{};
        const auto readAttributes = [&] {
            from =
                ahead ? ahead->attributes(entry.name) : fs.attributes(level.sourceDir, entry.name);
        };
        // While recording, a failed test counts as passed: the entry is skipped.
        if (recording && !resumeNext(readAttributes)) {
            if (!vanished(Err().number))
                run.failed(Err(), level.source, level.sourceDir, entry.name);
            continue;
        }
        // A file gone since the listing (a program's temporary file) is
        // passed by, the first as any other: its folder still goes.
        if (!recording && !resumeNext(readAttributes)) {
            if (!vanished(Err().number))
                throw Failure(Err().number); // the level's error path
            clearError();
            continue;
        }
        if (from.attributes & AttrDirectory)
            continue;
        recording = true;
        if (collisions.collides(entry.name)) {
            run.failed(Err(), level.source, level.sourceDir, entry.name);
            continue;
        }
        if (!copyEntry(level, entry.name, from, run, ahead ? &*ahead : nullptr) || stopRequested())
            return false;
    }
    CurrentName.clear();
    return !stopRequested();
}

// The destination folder of a subdirectory, opened, or made when missing.
// A failure to make it is the run's and raises DirectoryCreationFailed;
// other failures take the level's error path.
Directory destinationFolder(const Level& level, const std::string& name, const QString& text,
                            CopyRun& run, FoldersAhead* ahead) {
    FileSystem& fs = FileSystem::get();
    // A folder just made holds none: it is made without looking.
    if (!level.destDir.made()) {
        try {
            return ahead ? ahead->open(name) : fs.openDirectory(level.destDir, name);
        } catch (const Failure& f) {
            if (f.number != ErrPathFileAccess && f.number != ErrPathNotFound)
                throw; // the error path
        }
    }
    run.events.folderMaking(level.dest + text);
    bool made = false;
    try {
        made = fs.makeDirectory(level.destDir, name);
    } catch (const Failure&) {
        run.failed(Err(), level.source, level.sourceDir, name);
        throw DirectoryCreationFailed{};
    }
    clearError();
    // By its handle, so that no path grows past the system's limit.
    Directory folder = fs.tryOpenDirectory(level.destDir, name);
    if (made) {
        folder.markMade();
        run.addOutput(folder);
        run.wroteTo(level.destDir);
    }
    return folder;
}

bool copyLevel(const Level& level, bool include, const QString& pattern, CopyRun& run);

// The subdirectories, depth first. After a stop request no folder more is
// entered, nor made empty: on a share each would keep the operator waiting.
void subdirectories(const Level& level, const std::vector<std::string>& names, bool include,
                    const QString& pattern, CaseCollisions& collisions, FoldersAhead* ahead,
                    CopyRun& run) {
    FileSystem& fs = FileSystem::get();
    for (const std::string& name : names) {
        if (!include || stopRequested())
            return;
        clearError(); // the directory-creation path is armed
        const QString text = hostText(name);
        if (collisions.collides(name)) {
            run.failed(Err(), level.source, level.sourceDir, name);
            continue;
        }
        // The run's own output, reached through a mount that the check
        // before the run could not see: never copied into itself.
        const Directory sourceDir = fs.tryOpenDirectory(level.sourceDir, name);
        if (run.isOutput(sourceDir))
            continue;
        const Directory destDir = destinationFolder(level, name, text, run, ahead);
        clearError(); // the error path is armed again
        // A private folder stays private in the backup: where its mirror
        // cannot be kept so, nothing goes into it.
        if (!resumeNext([&] { fs.mirrorAccess(sourceDir, destDir, run.destination); })) {
            run.failed(Err(), level.source, level.sourceDir, name);
            clearError();
            continue;
        }
        try {
            copyLevel({level.source + text, level.dest + text, sourceDir, destDir}, include,
                      pattern, run);
        } catch (const DirectoryCreationFailed&) {
            throw Failure(Err().number);
        }
    }
}

bool copyLevel(const Level& given, bool include, const QString& pattern, CopyRun& run) {
    const Level level{normalised(given.source), normalised(given.dest), given.sourceDir,
                      given.destDir};
    clearError(); // the error path is armed from here
    try {
        level.sourceDir.require();
        // One read of the directory serves both scans.
        std::vector<DirEntry> entries =
            FileSystem::get().list(level.sourceDir, QStringLiteral("*.*"), AttrDirectory);
        const std::optional<std::vector<std::string>> names = subdirectoryScan(entries);
        if (!names)
            return stop(run);
        pumpEvents();
        // On a share the subfolders' destinations are opened while the
        // level's files are asked about; a folder the run made has none.
        std::optional<FoldersAhead> folders;
        if (run.lookahead && include && !level.destDir.made())
            folders.emplace(level.destDir, *names, run.foldersAheadBudget);
        CaseCollisions collisions(level.destDir);
        if (!fileScan(level, entries, pattern, collisions, run))
            return stop(run);
        entries = {}; // deep trees keep only the subfolder names of each open level
        subdirectories(level, *names, include, pattern, collisions, folders ? &*folders : nullptr,
                       run);
        return true;
    } catch (const Failure&) {
        errorPath(level, run);
        return false;
    }
}

} // namespace

int16_t CopyTree(const QString& source, const QString& destination,
                 const int16_t& includeSubdirectories, const QString& pattern, CopyRun& run) {
    FileSystem& fs = FileSystem::get();
    run.addOutput(run.destination);
    // A killed run's staging folders and temporary files in the top go on
    // every run that reaches it, also one that copies nothing there: one
    // listing of the top.
    if (run.destination.fd() >= 0 && fs.claimLeftovers(run.destination))
        fs.removeLeftovers(run.destination);
    if (!run.lookahead && fs.asksAhead(run.source, run.destination))
        run.lookahead = std::make_unique<Lookahead>(run.destination);
    try {
        const bool ended = copyLevel({source, destination, run.source, run.destination},
                                     includeSubdirectories != 0, pattern, run);
        return ended ? True : False;
    } catch (const DirectoryCreationFailed&) {
        throw Failure(Err().number);
    }
}

int16_t CopyTree(RunObserver& events, const QString& source, const QString& destination,
                 const int16_t& includeSubdirectories, const QString& pattern) {
    RunLog logged(events);
    CopyRun run(logged);
    run.source = openText(source);
    run.destination = openText(destination);
    const int16_t result = CopyTree(source, destination, includeSubdirectories, pattern, run);
    if (run.failure.number != 0)
        Err() = run.failure;
    return result;
}

} // namespace TRAVO1
