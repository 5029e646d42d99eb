#include "engine/copytree.h"
#include "engine/runlog.h"
#include "platform/compare.h"
#include "platform/drives.h"
#include "platform/events.h"
#include "platform/messagebox.h"
#include "platform/progresswindow.h"

#include <QFile>
#include <optional>
#include <set>

namespace TRAVO1 {

using namespace platform;

void CopyRun::failed(const RecordedError& error, const QString& name) {
    // A full disk says most about a backup that did not fit: no later
    // failure hides it.
    if (failure.number == ErrDiskFull && error.number != ErrDiskFull)
        return;
    failure = error;
    failedName = name;
}

void CopyRun::addOutput(const Directory& folder) {
    if (const auto id = folder.identity())
        output.insert(*id);
}

bool CopyRun::isOutput(const Directory& folder) const {
    const auto id = folder.identity();
    return id && output.contains(*id);
}

void CopyRun::wroteTo(const Directory& folder) {
    const dev_t device = folder.device();
    if (device == destination.device())
        return;
    for (const Directory& known : written)
        if (known.device() == device)
            return;
    written.push_back(FileSystem::get().tryOpenDirectory(folder, "."));
}

void CopyRun::flush() {
    FileSystem& fs = FileSystem::get();
    bool confirmed = resumeNext([&] { fs.flush(destination); });
    for (const Directory& folder : written)
        confirmed = resumeNext([&] { fs.flush(folder); }) && confirmed;
    if (!confirmed)
        raiseError(ErrDeviceIO);
}

namespace {

// A failed creation of a destination directory: it leaves the level that
// met it and is handled by the level above, unlike the level's own failures.
struct DirectoryCreationFailed {};

bool stopRequested() {
    return StopFlag == 1;
}

QString normalised(const QString& path) {
    return (path.endsWith(QLatin1Char('\\')) ? path : path + QLatin1Char('\\')).toUpper();
}

// A source entry that is gone by the time it is read is no failure of the
// backup: there is nothing left to back up.
bool vanished(int32_t number) {
    return number == ErrFileNotFound || number == ErrPathNotFound;
}

// Whether a source file whose copy ended in "not found" is gone: only then
// is there nothing left to back up. The source itself is looked at again;
// the copy's error cannot tell a vanished source from a copy that went
// before it was placed (another run's cleaning). The recorded error stays.
bool sourceGone(const Directory& dir, const std::string& name) {
    const KeepRecordedError kept;
    return !resumeNext([&] { FileSystem::get().attributes(dir, name); }) && vanished(Err().number);
}

// A copy that failed with "not found" while its source is still there was
// not placed: the file's failure, an access error.
RecordedError notPlaced() {
    return RecordedError{ErrPathFileAccess, describe(ErrPathFileAccess)};
}

// The error path: status line, log record, recorded error cleared.
void errorPath(WindowModel& w, CopyRun& run) {
    const RecordedError error = Err();
    if (!vanished(error.number))
        run.failed(error, CurrentName.text());
    w.setLblCopyInfo(QStringLiteral("Erro: ") + QString::number(error.number) +
                     QStringLiteral(" - ") + error.description);
    WriteRunLog(w, error.number, error.description);
    clearError();
}

// How the source's time compares with its copy's: above 0 when the source
// is later, 0 when they are the same at the finest precision that both
// volumes keep. A copy whose time has no digits below some power of ten is
// taken to be kept to that (whole seconds on many shares, 10 ms on exFAT).
// FAT keeps 2 seconds, so a copy there may land a second older than its
// source.
int compareTimes(const FileInfo& from, const FileInfo& to, bool coarseTimes) {
    if (coarseTimes) {
        const int64_t later = from.modified - to.modified;
        return later > 1 ? 1 : later < 0 ? -1 : 0;
    }
    int32_t precision = 1;
    while (precision < 1'000'000'000 && to.modifiedNs % (precision * 10) == 0)
        precision *= 10;
    const auto source = std::pair(from.modified, from.modifiedNs - from.modifiedNs % precision);
    const auto copy = std::pair(to.modified, to.modifiedNs);
    return source > copy ? 1 : source < copy ? -1 : 0;
}

// Whether an existing destination copy must be replaced: an older one; an
// empty copy of a file that is not empty, which is what an interrupted write
// leaves; and one of the same time but another length, another version.
bool outOfDate(const FileInfo& from, const FileInfo& to, const Directory& destDir) {
    if (to.length == 0 && from.length != 0)
        return true;
    const int later = compareTimes(from, to, destDir.keepsCoarseTimes());
    return later > 0 || (later == 0 && to.length != from.length);
}

bool isLarge(const FileInfo& source) {
    return double(source.length) / 1024.0 > LargeFileKiB;
}

// The size rule: large files through CopyFileShell, the rest plainly, from
// a copy made ahead where there is one. Returns whether the copy was made;
// raises when it failed.
bool copyBySize(const FileInfo& source, const Directory& fromDir, const Directory& toDir,
                const std::string& name, CopyRun& run, Lookahead::Level* ahead) {
    FileSystem& fs = FileSystem::get();
    if (run.mark)
        run.mark->make(); // before any copy is placed
    if (!isLarge(source)) {
        if (std::optional<PreparedCopy> made = ahead ? ahead->prepared(name) : std::nullopt) {
            fs.placeCopy(*made, toDir, name);
            return true;
        }
        return fs.copyFile(fromDir, name, toDir, name);
    }
    const ShellCopy shell = CopyFileShell(fromDir, name, toDir, name);
    // 53 only for a source that is gone.
    if (shell.failure.number != 0 && shell.failure.number != ErrFileNotFound)
        run.failed(shell.failure, hostText(name));
    run.stopped = run.stopped || shell.cancelled;
    return !shell.cancelled && shell.failure.number == 0;
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
    // Whether the name collides with one taken before; records 75 when it does.
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

// Whether a copy that its length and time call up to date must be made
// again: an unfinished run may have placed it, and its contents differ from
// its source's or cannot be read. The comparison shows in the status line
// and gives way to a stop request, which leaves the copy as it is.
bool torn(WindowModel& w, const QString& source, const QString& dest, const std::string& name,
          const FileInfo& to, const Directory& sourceDir, const Directory& destDir,
          const CopyRun& run) {
    if (!run.mark || !run.mark->suspect(to, destDir))
        return false;
    w.showVerifying(dest, name);
    Comparison same = Comparison::Different;
    {
        const KeepRecordedError kept; // copying it again tells what is wrong
        resumeNext([&] {
            same = compareContents(sourceDir, name, destDir, name, [] {
                pumpEventsIfDue();
                return !stopRequested();
            });
        });
    }
    if (same != Comparison::Different)
        return false;
    w.showCopying(source, dest, name);
    return true;
}

// One file of the file scan, from its status texts to its copy (the steps of
// the record-and-continue mode). Returns false on a stop request.
bool copyEntry(WindowModel& w, const QString& source, const QString& dest,
               const std::string& hostName, const FileInfo& from, const Directory& sourceDir,
               const Directory& destDir, CopyRun& run, Lookahead::Level* ahead) {
    FileSystem& fs = FileSystem::get();
    pumpEventsIfDue();
    w.showCopying(source, dest, hostName);
    clearError();

    // The file's last failure, until a later copy of it succeeds. It reaches
    // the run before any return, so a stop cannot hide it.
    RecordedError failure;
    const auto settle = [&] {
        if (failure.number != 0)
            run.failed(failure, hostText(hostName));
    };
    const auto copy = [&] {
        try {
            if (copyBySize(from, sourceDir, destDir, hostName, run, ahead)) {
                failure = {};
                run.wroteTo(destDir);
                w.fileCopied();
            }
        } catch (const Failure& f) {
            if (f.number == ErrFileNotFound && sourceGone(sourceDir, hostName))
                throw; // nothing left to back up
            if (f.number == ErrFileNotFound)
                Err() = notPlaced();
            failure = Err();
            throw;
        }
    };

    // Up-to-date test: the probe leaves 0 when the destination exists. In a
    // folder that the run has just made none does, and none is looked for.
    FileInfo to{};
    if (!destDir.made() &&
        resumeNext([&] { to = ahead ? ahead->probe(hostName) : fs.probe(destDir, hostName); })) {
        if (outOfDate(from, to, destDir) ||
            torn(w, source, dest, hostName, to, sourceDir, destDir, run))
            resumeNext(copy);
        if (stopRequested()) {
            settle();
            return false;
        }
    }
    const int32_t n = destDir.made() ? int32_t(ErrFileNotFound) : Err().number;
    if (n == ErrPermissionDenied)
        failure = Err(); // a destination in use is not backed up
    if (n != 0 && n != ErrPermissionDenied) {
        pumpEventsIfDue();
        resumeNext(copy);
        pumpEventsIfDue();
    }
    settle();
    return true;
}

// Whether copyEntry's first copy of a file is one that can be made ahead:
// the plain copy of a file that is missing at the destination, could not be
// looked at there (but for a refusal) or is out of date.
bool copiedAhead(const FileInfo& from, int32_t toError, const FileInfo& to,
                 const Directory& destDir) {
    if (isLarge(from))
        return false; // through its own window, at its turn
    return toError != 0 ? toError != ErrPermissionDenied : outOfDate(from, to, destDir);
}

// Whether the run's mark, if it has one, is on the disk, so that a copy may
// begin: on a worker, a failure is left for the copy at its turn to raise.
bool marked(CopyRun& run) {
    const KeepRecordedError kept;
    return resumeNext([&] {
        if (run.mark)
            run.mark->make();
    });
}

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

int16_t copyLevel(WindowModel& w, QString& source, QString& dest, int16_t include,
                  const QString& pattern, const Directory& sourceDir, const Directory& destDir,
                  CopyRun& run) {
    FileSystem& fs = FileSystem::get();
    const auto stop = [&] {
        run.stopped = true;
        return False;
    };
    clearError(); // the error path is armed from here
    try {
        source = normalised(source);
        dest = normalised(dest);
        const QString savedDest = dest;
        sourceDir.require();

        // Subdirectory scan. One read of the directory serves both scans.
        std::vector<DirEntry> entries = fs.list(sourceDir, QStringLiteral("*.*"), AttrDirectory);
        std::vector<std::string> subdirectories;
        for (const DirEntry& entry : entries) {
            CurrentName = entry.name;
            if (entry.name == "." || entry.name == "..")
                continue;
            if (stopRequested())
                return stop();
            if (entry.directory)
                subdirectories.push_back(entry.name);
        }
        CurrentName.clear(); // the listing's end

        // File scan. Names become text only where a pattern, a status text or
        // a failure needs them.
        pumpEvents();
        CaseCollisions collisions(destDir);
        const bool everyName = matchesEveryName(pattern);
        std::optional<Lookahead::Level> ahead;
        if (run.lookahead)
            ahead.emplace(
                *run.lookahead, sourceDir, destDir, scannedFiles(entries, pattern, everyName),
                !destDir.made(),
                [&destDir, &run](const FileInfo& from, int32_t toError, const FileInfo& to) {
                    return copiedAhead(from, toError, to, destDir) && marked(run);
                });
        bool recording = false; // record-and-continue, from the first file on
        for (const DirEntry& entry : entries) {
            if (!scanned(entry, pattern, everyName))
                continue;
            CurrentName = entry.name;
            if (stopRequested())
                return stop();

            FileInfo from{};
            bool isDirectory = false;
            const auto readAttributes = [&] {
                from = ahead ? ahead->attributes(entry.name) : fs.attributes(sourceDir, entry.name);
                isDirectory = from.attributes & AttrDirectory;
            };
            // While recording, a failed test counts as passed: the entry is skipped.
            if (recording && !resumeNext(readAttributes)) {
                if (!vanished(Err().number))
                    run.failed(Err(), hostText(entry.name));
                continue;
            }
            if (!recording)
                readAttributes();
            if (isDirectory)
                continue;
            recording = true;
            if (collisions.collides(entry.name)) {
                run.failed(Err(), hostText(entry.name));
                continue;
            }
            if (!copyEntry(w, source, dest, entry.name, from, sourceDir, destDir, run,
                           ahead ? &*ahead : nullptr))
                return stop();
            if (stopRequested())
                return stop();
        }
        CurrentName.clear();
        if (stopRequested())
            return stop();
        ahead.reset(); // before the names it asks about go
        entries = {};  // deep trees keep only the subfolder names of each open level

        // Subdirectories, depth first.
        for (const std::string& subdirectory : subdirectories) {
            if (include == 0)
                return True;
            // After a stop request no folder more is entered, nor made empty:
            // on a share each would keep the operator waiting.
            if (stopRequested())
                return True;
            clearError(); // the directory-creation path is armed
            const QString name = hostText(subdirectory);
            if (collisions.collides(subdirectory)) {
                run.failed(Err(), name);
                continue;
            }
            // The run's own output, reached through a mount that the check
            // before the run could not see: never copied into itself.
            const Directory childSourceDir = fs.tryOpenDirectory(sourceDir, subdirectory);
            if (run.isOutput(childSourceDir))
                continue;
            dest += name;
            Directory childDest;
            try {
                // A folder just made holds none: it is made without looking.
                if (destDir.made())
                    raiseError(ErrPathNotFound);
                childDest = fs.openDirectory(destDir, subdirectory);
            } catch (const Failure& f) {
                if (f.number != ErrPathFileAccess && f.number != ErrPathNotFound)
                    throw; // the error path
                w.setLblCopyInfo(QStringLiteral("Criando diretório ") + dest);
                w.repaintLblCopyInfo();
                bool made = false;
                try {
                    made = fs.makeDirectory(destDir, subdirectory);
                } catch (const Failure&) {
                    run.failed(Err(), name);
                    throw DirectoryCreationFailed{};
                }
                clearError();
                // By its handle, so that no path grows past the system's limit.
                childDest = fs.tryOpenDirectory(destDir, subdirectory);
                if (made) {
                    childDest.markMade();
                    run.addOutput(childDest);
                    run.wroteTo(destDir);
                }
            }
            clearError(); // the error path is armed again

            QString childSource = source + name;
            QString childDestText = dest;
            // A private folder stays private in the backup.
            if (!resumeNext([&] { fs.mirrorAccess(childSourceDir, childDest); }))
                run.failed(Err(), name);
            clearError();
            try {
                copyLevel(w, childSource, childDestText, include, pattern, childSourceDir,
                          childDest, run);
            } catch (const DirectoryCreationFailed&) {
                throw Failure(Err().number);
            }
            dest = savedDest;
        }
        return True;
    } catch (const Failure&) {
        errorPath(w, run);
        return False;
    }
}

} // namespace

int16_t CopyTree(WindowModel& w, QString& source, QString& destination,
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
        return copyLevel(w, source, destination, includeSubdirectories, pattern, run.source,
                         run.destination, run);
    } catch (const DirectoryCreationFailed&) {
        throw Failure(Err().number);
    }
}

int16_t CopyTree(WindowModel& w, QString& source, QString& destination,
                 const int16_t& includeSubdirectories, const QString& pattern) {
    CopyRun run;
    run.source = openText(source);
    run.destination = openText(destination);
    const int16_t result = CopyTree(w, source, destination, includeSubdirectories, pattern, run);
    if (run.failure.number != 0)
        Err() = run.failure;
    return result;
}

ShellCopy CopyFileShell(const Directory& fromDir, const std::string& from, const Directory& toDir,
                        const std::string& to) {
    const KeepRecordedError kept;
    const QString name = hostText(from);
    ShellCopy outcome;
    try {
        const auto window = ProgressWindow::open(name);
        outcome.cancelled =
            !FileSystem::get().copyFile(fromDir, from, toDir, to, [&](int64_t done, int64_t total) {
                return window->update(total > 0 ? int(std::min<int64_t>(done * 100 / total, 100))
                                                : 100);
            });
    } catch (const Failure& f) {
        outcome.failure =
            f.number == ErrFileNotFound && !sourceGone(fromDir, from) ? notPlaced() : Err();
        const int32_t n = outcome.failure.number;
        MessageBox::show(QStringLiteral("Não foi possível copiar o arquivo %1.\n\n%2 (erro %3)")
                             .arg(name, describe(n))
                             .arg(n),
                         MbOk | MbCritical, QStringLiteral("Erro ao copiar arquivo"));
    }
    return outcome;
}

} // namespace TRAVO1
