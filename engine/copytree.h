#pragma once
// The recursive tree copy.

#include "engine/copyfile.h"
#include "engine/copyrun.h"
#include "engine/jobstate.h"
#include "engine/runevents.h"

namespace TRAVO1 {

// Copies one source directory level into the destination, and with
// `includeSubdirectories` each subdirectory below it, creating missing
// destination subdirectories. Every entry is reached through the open
// folders of `run` by its real host name; source and destination are the
// texts shown. What it does goes to `run.events`. Returns True when this
// level ran to its end; False on a stop request or its error path. A failed
// creation of a destination directory is raised to the caller.
int16_t CopyTree(const QString& source, const QString& destination,
                 const int16_t& includeSubdirectories, const QString& pattern, CopyRun& run);

// The same between the folders that the two texts name, told to `events`; a
// run that did not bring every file to the destination returns with its
// failure recorded.
int16_t CopyTree(RunObserver& events, const QString& source, const QString& destination,
                 const int16_t& includeSubdirectories, const QString& pattern);

} // namespace TRAVO1
