#include "engine/copytree.h"
#include "engine/runlog.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/messagebox.h"
#include "platform/progresswindow.h"

#include <QFile>
#include <functional>

namespace TRAVO1 {

using namespace platform;

namespace {

// A failed creation of a destination directory: it leaves the level that
// met it and is handled by the level above, unlike the level's own failures.
struct DirectoryCreationFailed {};

using SourceOpener = std::function<Directory()>;

bool stopRequested() {
    return StopFlag == 1;
}

QString normalised(const QString& path) {
    return (path.endsWith(QLatin1Char('\\')) ? path : path + QLatin1Char('\\')).toUpper();
}

QString nameText(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

// The error path: status line, log record, recorded error cleared.
void errorPath(WindowModel& w) {
    const RecordedError error = Err();
    w.setLblCopyInfo(QStringLiteral("Erro: ") + QString::number(error.number) +
                     QStringLiteral(" - ") + error.description);
    WriteRunLog(w, error.number, error.description);
    clearError();
}

// The size rule: large files through CopyFileShell, the rest plainly.
void copyBySize(const FileInfo& source, const Directory& fromDir, const Directory& toDir,
                const std::string& name) {
    if (double(source.length) / 1024.0 > LargeFileKiB)
        CopyFileShell(fromDir, name, toDir, name);
    else
        FileSystem::get().copyFile(fromDir, name, toDir, name);
}

// The destination directory as given, opened without touching the recorded
// error: a missing one shows up as the failures of the files copied into it.
Directory openDestination(const QString& text) {
    const RecordedError saved = Err();
    try {
        return FileSystem::get().tryOpenDirectory(DriveTable::current().toHost(text));
    } catch (const Failure& f) {
        Err() = saved;
        return Directory::failed(f.number, {});
    }
}

int16_t copyLevel(WindowModel& w, QString& source, QString& dest, int16_t include,
                  const QString& pattern, const SourceOpener& openSource, const Directory& destDir,
                  bool& diskFull) {
    FileSystem& fs = FileSystem::get();
    clearError(); // the error path is armed from here
    try {
        source = normalised(source);
        dest = normalised(dest);
        const QString savedDest = dest;
        const Directory sourceDir = openSource();

        // Subdirectory scan. One read of the directory serves both scans.
        std::vector<DirEntry> entries = fs.list(sourceDir, QStringLiteral("*.*"), AttrDirectory);
        std::vector<std::string> subdirectories;
        std::vector<QString> names; // each name decoded once, for both scans
        names.reserve(entries.size());
        for (const DirEntry& entry : entries) {
            CurrentName = names.emplace_back(nameText(entry.name));
            if (entry.name == "." || entry.name == "..")
                continue;
            if (stopRequested())
                return False;
            if (entry.directory)
                subdirectories.push_back(entry.name);
        }
        CurrentName.clear(); // the listing's end

        // File scan.
        pumpEvents();
        bool recording = false; // record-and-continue, from the first file on
        for (size_t i = 0; i < entries.size(); ++i) {
            const DirEntry& entry = entries[i];
            const QString& name = names[i];
            if (entry.directory || !matchesPattern(name, pattern))
                continue;
            CurrentName = name;
            if (stopRequested())
                return False;

            FileInfo from{};
            bool isDirectory = false;
            const auto readAttributes = [&] {
                from = fs.attributes(sourceDir, entry.name);
                isDirectory = from.attributes & AttrDirectory;
            };
            // While recording, a failed test counts as passed: the entry is skipped.
            if (recording ? !resumeNext(readAttributes) || isDirectory
                          : (readAttributes(), isDirectory))
                continue;

            pumpEventsIfDue();
            const QString target = QStringLiteral("Para: ") + dest + name;
            w.setLblCopyInfo(QStringLiteral("Copiando De: ") + source + name);
            w.setLblCopyInfo2(target);
            w.setCaption(target);

            recording = true;
            clearError();
            bool fullDisk = false; // the file's last copy found the disk full
            const auto copy = [&] {
                try {
                    copyBySize(from, sourceDir, destDir, entry.name);
                    fullDisk = false;
                } catch (const Failure& f) {
                    fullDisk = f.number == ErrDiskFull;
                    throw;
                }
            };

            // Up-to-date test: the probe leaves 0 when the destination exists.
            FileInfo to{};
            resumeNext([&] { to = fs.probe(destDir, entry.name); });
            if (Err().number == 0) {
                if (to.length == 0 && from.length != 0) {
                    // An empty copy of a file that is not empty: the last run
                    // ran out of space here.
                    w.setLblCopyInfo(QStringLiteral("Disco cheio"));
                    WriteRunLog(w);
                    return False;
                }
                const bool bothEmpty = to.length == 0; // up to date whatever the times
                // FAT stores an odd second one lower: a second older is up to date there.
                const bool older =
                    from.modified > to.modified &&
                    !(from.modified - to.modified == 1 && destDir.keepsCoarseTimes());
                if (!bothEmpty && older)
                    resumeNext(copy);
                if (stopRequested())
                    return False;
            }
            const int32_t n = Err().number;
            if (n != 0 && n != ErrPermissionDenied) {
                pumpEventsIfDue();
                resumeNext(copy);
                pumpEventsIfDue();
            }
            diskFull = diskFull || fullDisk;
            if (stopRequested())
                return False;
        }
        CurrentName.clear();
        if (stopRequested())
            return False;
        entries = {}; // deep trees keep only the subfolder names of each open level
        names = {};

        // Subdirectories, depth first.
        for (const std::string& subdirectory : subdirectories) {
            if (include == 0)
                return True;
            clearError(); // the directory-creation path is armed
            const QString name = nameText(subdirectory);
            dest += name;
            Directory childDest;
            try {
                childDest = fs.openDirectory(destDir, subdirectory);
            } catch (const Failure& f) {
                if (f.number != ErrPathFileAccess && f.number != ErrPathNotFound)
                    throw; // the error path
                w.setLblCopyInfo(QStringLiteral("Criando diretório ") + dest);
                w.repaintLblCopyInfo();
                try {
                    fs.makeDirectory(destDir, subdirectory);
                } catch (const Failure&) {
                    throw DirectoryCreationFailed{};
                }
                clearError();
                childDest = fs.tryOpenDirectory(destDir.pathOf(subdirectory));
            }
            clearError(); // the error path is armed again

            QString childSource = source + name;
            QString childDestText = dest;
            const SourceOpener openChild = [&] {
                return fs.openDirectory(sourceDir, subdirectory);
            };
            try {
                copyLevel(w, childSource, childDestText, include, pattern, openChild, childDest,
                          diskFull);
            } catch (const DirectoryCreationFailed&) {
                throw Failure(Err().number);
            }
            dest = savedDest;
        }
        return True;
    } catch (const Failure&) {
        errorPath(w);
        return False;
    }
}

} // namespace

int16_t CopyTree(WindowModel& w, QString& source, QString& destination,
                 const int16_t& includeSubdirectories, const QString& pattern) {
    // File access goes by the texts as given, whose components find their
    // real case; the upper-cased texts are for display only.
    const QString sourceText = source;
    const Directory destDir = openDestination(destination);
    const SourceOpener openSource = [&] {
        return FileSystem::get().openDirectory(DriveTable::current().toHost(sourceText));
    };
    bool diskFull = false;
    try {
        const int16_t result = copyLevel(w, source, destination, includeSubdirectories, pattern,
                                         openSource, destDir, diskFull);
        // A file that found the disk full is missing from the backup, whatever
        // the files after it did: the run must not end as up to date.
        if (diskFull)
            Err() = RecordedError{ErrDiskFull, describe(ErrDiskFull)};
        return result;
    } catch (const DirectoryCreationFailed&) {
        throw Failure(Err().number);
    }
}

void CopyFileShell(const Directory& fromDir, const std::string& from, const Directory& toDir,
                   const std::string& to) {
    const RecordedError saved = Err();
    const QString name = nameText(from);
    try {
        const auto window = ProgressWindow::open(name);
        FileSystem::get().copyFile(fromDir, from, toDir, to, [&](int64_t done, int64_t total) {
            return window->update(total > 0 ? int(std::min<int64_t>(done * 100 / total, 100))
                                            : 100);
        });
    } catch (const Failure& f) {
        MessageBox::show(QStringLiteral("Não foi possível copiar o arquivo %1.\n\n%2 (erro %3)")
                             .arg(name, describe(f.number))
                             .arg(f.number),
                         MbOk | MbCritical, QStringLiteral("Erro ao copiar arquivo"));
    }
    Err() = saved;
}

} // namespace TRAVO1
