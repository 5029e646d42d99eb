#pragma once
// One file of a level: the up-to-date rule, the size rule, and the copy that
// a shell window shows for large files.

#include "engine/copyrun.h"
#include "engine/lookahead.h"
#include "platform/files.h"

#include <QString>
#include <string>

namespace TRAVO1 {

// Files longer than this go through CopyFileShell.
constexpr double LargeFileKiB = 2000.0;

// A level of the tree: the folders' texts as shown (upper case, ending in
// "\") and the open folders themselves.
struct Level {
    QString source, dest;
    const platform::Directory& sourceDir;
    const platform::Directory& destDir;
};

// Whether an error of a source entry means it is gone: then there is
// nothing left to back up, and no failure.
bool vanished(int32_t number);

// Copies one file of the level by the up-to-date and size rules, showing it
// first (the record-and-continue steps of the file scan). Its failure
// reaches the run before any return. Returns false on a stop request.
bool copyEntry(const Level& level, const std::string& name, const platform::FileInfo& from,
               CopyRun& run, Lookahead::Level* ahead);

// Whether copyEntry's first copy of a file is one that can be made ahead:
// the plain copy of a file that is missing at the destination, could not be
// looked at there (but for a refusal) or is out of date; and the run's mark,
// if any, is on the disk. Asked on the pool's workers.
bool copiedAhead(const platform::FileInfo& from, int32_t toError, const platform::FileInfo& to,
                 const platform::Directory& destDir, CopyRun& run);

// What became of one large copy.
struct ShellCopy {
    bool cancelled = false;          // by the operator, in its window
    platform::RecordedError failure; // shown in its own box
};

// Copies one large file with its own progress window and Cancel button. Its
// failures are shown in its own message box and never reach the caller's
// recorded error, which is left as it was. Its failure is ErrFileNotFound only for a
// source that is gone when looked at again.
ShellCopy CopyFileShell(const platform::Directory& fromDir, const std::string& from,
                        const platform::Directory& toDir, const std::string& to);

} // namespace TRAVO1
