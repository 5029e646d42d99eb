#include "engine/copyfile.h"
#include "engine/jobstate.h"
#include "platform/compare.h"
#include "platform/events.h"
#include "platform/messagebox.h"
#include "platform/progresswindow.h"

#include <optional>

namespace TRAVO1 {

using namespace platform;

bool vanished(int32_t number) {
    return number == ErrFileNotFound || number == ErrPathNotFound;
}

namespace {

bool stopRequested() {
    return StopFlag == 1;
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
bool copyBySize(const Level& level, const std::string& name, const FileInfo& source, CopyRun& run,
                Lookahead::Level* ahead) {
    FileSystem& fs = FileSystem::get();
    if (run.mark)
        run.mark->make(); // before any copy is placed
    if (!isLarge(source)) {
        if (std::optional<PreparedCopy> made = ahead ? ahead->prepared(name) : std::nullopt) {
            fs.placeCopy(*made, level.destDir, name);
            return true;
        }
        return fs.copyFile(level.sourceDir, name, level.destDir, name);
    }
    const ShellCopy shell = CopyFileShell(level.sourceDir, name, level.destDir, name);
    // ErrFileNotFound only for a source that is gone.
    if (shell.failure.number != 0 && shell.failure.number != ErrFileNotFound)
        run.failed(shell.failure, level.source, level.sourceDir, name);
    run.stopped = run.stopped || shell.cancelled;
    return !shell.cancelled && shell.failure.number == 0;
}

// Whether a copy that its length and time call up to date must be made
// again: an unfinished run may have placed it, and its contents differ from
// its source's or cannot be read. The comparison shows, and gives way to a
// stop request, which leaves the copy as it is.
bool torn(const Level& level, const std::string& name, const FileInfo& to, CopyRun& run) {
    if (!run.mark || !run.mark->suspect(to, level.destDir))
        return false;
    run.events.fileVerifying(level.dest, name);
    CompareBuffers buffers;
    const Comparison same = compareFile(level.sourceDir, level.destDir, name, buffers, [] {
        pumpEventsIfDue();
        return !stopRequested();
    });
    // A copy that cannot be read is copied again too: that tells what is wrong.
    if (same.result == Comparison::Equal || same.result == Comparison::Stopped)
        return false;
    run.events.fileInHand(level.source, level.dest, name);
    return true;
}

} // namespace

bool copyEntry(const Level& level, const std::string& name, const FileInfo& from, CopyRun& run,
               Lookahead::Level* ahead) {
    FileSystem& fs = FileSystem::get();
    pumpEventsIfDue();
    run.events.fileInHand(level.source, level.dest, name);
    clearError();

    // The file's last failure, until a later copy of it succeeds. It reaches
    // the run before any return, so a stop cannot hide it.
    RecordedError failure;
    const auto settle = [&] {
        if (failure.number != 0)
            run.failed(failure, level.source, level.sourceDir, name);
    };
    const auto copy = [&] {
        try {
            if (copyBySize(level, name, from, run, ahead)) {
                failure = {};
                run.wroteTo(level.destDir);
                run.fileCopied();
            }
        } catch (const Failure& f) {
            if (f.number == ErrFileNotFound && sourceGone(level.sourceDir, name))
                throw; // nothing left to back up
            if (f.number == ErrFileNotFound)
                Err() = notPlaced();
            failure = Err();
            throw;
        }
    };

    // Up-to-date test: the probe leaves 0 when the destination exists. In a
    // folder that the run has just made none does, and none is looked for.
    const Directory& destDir = level.destDir;
    FileInfo to{};
    if (!destDir.made() &&
        resumeNext([&] { to = ahead ? ahead->probe(name) : fs.probe(destDir, name); })) {
        if (outOfDate(from, to, destDir) || torn(level, name, to, run))
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

bool copiedAhead(const FileInfo& from, int32_t toError, const FileInfo& to,
                 const Directory& destDir, CopyRun& run) {
    if (isLarge(from))
        return false; // through its own window, at its turn
    if (toError != 0 ? toError == ErrPermissionDenied : !outOfDate(from, to, destDir))
        return false;
    // The mark goes on the disk before any copy begins; on a worker, its
    // failure is left for the copy at its turn to raise.
    const KeepRecordedError kept;
    return resumeNext([&] {
        if (run.mark)
            run.mark->make();
    });
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
