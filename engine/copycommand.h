#pragma once
// The Copy command: the only way a copy run starts.

#include "engine/runevents.h"

namespace TRAVO1 {

// Checks the request's source and destination, creates the destination
// directories that mirror the source's path, runs CopyTree and reports,
// completes or leaves the run as the tree copy ended it, telling `events`
// all along and the run log each outcome. Does nothing while a run that
// reports to `events` is in progress, and refuses while any other run of the
// program's folder is.
RunResult CopyCommand(const RunRequest& request, RunObserver& events);

// The refusal of a drive root ("D:\") as the destination.
QString rootRefusal(const QString& to);

// The start-up check: a program started from a folder without a drive
// letter (a network folder addressed by server name), or placed in one,
// would copy something other than what the operator sees. Shows why and
// returns false.
bool StartAllowed(const QString& startFolder);

} // namespace TRAVO1
