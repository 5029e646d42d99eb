#pragma once
// The recursive tree copy.

#include "engine/jobstate.h"
#include "engine/lookahead.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/runmark.h"

#include <set>
#include <vector>

namespace TRAVO1 {

// Files longer than this go through CopyFileShell.
constexpr double LargeFileKiB = 2000.0;

// One copy run across all its levels: the top folders it copies between and
// what the run met beyond the result of its top level.
struct CopyRun {
    platform::Directory source, destination; // opened by the caller
    // The failure the operator must hear of: a full disk before anything
    // else, otherwise the last file or folder that did not reach the
    // destination; none when every one did. `failedName` is its name.
    platform::RecordedError failure;
    QString failedName;
    // A stop request, or a cancelled large copy, took effect at some level.
    bool stopped = false;
    // Asks the questions of each level's files ahead, where that pays.
    std::unique_ptr<Lookahead> lookahead;
    // The folders the run writes into: the destination folder named, the
    // top and every folder the run made. The walk never enters a source
    // folder among them, whatever mount leads there, so that a run never
    // copies its own output into itself; such a folder is left out as the
    // run's own output, not as a failure.
    std::set<platform::Directory::Identity> output;
    // One folder for each volume besides the top's that the run wrote to.
    std::vector<platform::Directory> written;
    // The mark of a run that has not flushed, for a run that flushes at its
    // end: made before the first copy, and telling which copies an earlier
    // unfinished run may have left torn.
    platform::RunMark* mark = nullptr;

    void failed(const platform::RecordedError& error, const QString& name);
    // Counts `folder` among the run's output.
    void addOutput(const platform::Directory& folder);
    bool isOutput(const platform::Directory& folder) const;
    // Notes that the run wrote into `folder`: its volume is flushed at the
    // end. Costs a system call only for a volume not met before.
    void wroteTo(const platform::Directory& folder);
    // Puts what the run wrote onto the disks: the top's volume and every
    // other volume written to. Raises 57 when one cannot confirm it, after
    // trying them all.
    void flush();
};

// Copies one source directory level into the destination, and with
// `includeSubdirectories` each subdirectory below it, creating missing
// destination subdirectories. Every entry is reached through the open
// folders of `run` by its real host name; source and destination are the
// texts shown (rewritten in place: upper case, ending in "\"). Returns True
// when this level ran to its end; False on a stop request or its error path.
// A failed creation of a destination directory is raised to the caller.
int16_t CopyTree(WindowModel& w, QString& source, QString& destination,
                 const int16_t& includeSubdirectories, const QString& pattern, CopyRun& run);

// The same between the folders that the two texts name; a run that did not
// bring every file to the destination returns with its failure recorded.
int16_t CopyTree(WindowModel& w, QString& source, QString& destination,
                 const int16_t& includeSubdirectories, const QString& pattern);

// What became of one large copy.
struct ShellCopy {
    bool cancelled = false;          // by the operator, in its window
    platform::RecordedError failure; // shown in its own box
};

// Copies one large file with its own progress window and Cancel button. Its
// failures are shown in its own message box and never reach the caller's
// recorded error, which is left as it was. Its failure is 53 only for a
// source that is gone when looked at again.
ShellCopy CopyFileShell(const platform::Directory& fromDir, const std::string& from,
                        const platform::Directory& toDir, const std::string& to);

} // namespace TRAVO1
