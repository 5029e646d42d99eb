#pragma once
// One copy run across all its levels: the folders it copies between, where
// it reports, and what it met beyond the result of its top level.

#include "engine/lookahead.h"
#include "engine/runevents.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/runmark.h"

#include <memory>
#include <set>
#include <vector>

namespace TRAVO1 {

struct CopyRun {
    explicit CopyRun(RunObserver& observer) : events(observer) {}

    RunObserver& events;
    platform::Directory source, destination; // opened by the caller
    // The failure the operator must hear of: a full disk before anything
    // else, otherwise the last file or folder that did not reach the
    // destination; none when every one did. `failedName` is its name.
    platform::RecordedError failure;
    QString failedName;
    // Files that reached the destination, and files and folders that did not.
    int64_t copied = 0, failures = 0;
    // A stop request, or a cancelled large copy, took effect at some level.
    bool stopped = false;
    // Asks the questions of each level's files ahead, where that pays.
    std::unique_ptr<Lookahead> lookahead;
    // How many more destination folders may be held open ahead of the walk
    // (FoldersAhead), all levels together.
    int foldersAheadBudget = 64;
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

    // The entry `name` (host bytes) of the source folder `folder` (its text,
    // ending in "\"), opened as `sourceDir`, did not reach the destination:
    // told, counted and remembered. An empty name stands for the folder.
    void failed(const platform::RecordedError& error, const QString& folder,
                const platform::Directory& sourceDir, const std::string& name);
    // A file reached the destination.
    void fileCopied();
    // Counts `folder` among the run's output.
    void addOutput(const platform::Directory& folder);
    bool isOutput(const platform::Directory& folder) const;
    // Notes that the run wrote into `folder`: its volume is flushed at the
    // end. Costs a system call only for a volume not met before.
    void wroteTo(const platform::Directory& folder);
    // Puts what the run wrote onto the disks: the top's volume and every
    // other volume written to. Raises ErrDeviceIO when one cannot confirm it, after
    // trying them all.
    void flush();
};

} // namespace TRAVO1
