#pragma once
// The folders a copy or a verification starts from: the destination's host
// folder, whether it lies inside the source, and the program folder's lock.

#include "platform/runlock.h"

#include <QString>
#include <string>

namespace TRAVO1 {

// The host folder a folder text names: the folder below its last "\"; an
// empty text addresses the root of the current drive. Raises a Failure for a
// text that does not resolve.
std::string hostFolder(const QString& text);

// Whether the folder `to` is the folder `from` or lies below it, however it
// is spelt or whatever mount it is reached through: a run into it would meet
// its own output. A text that does not resolve is left for the run to meet
// (false), and leaves no recorded error.
bool insideSource(const QString& from, const QString& to);

// The lock of the program's folder, whose Log.txt a run writes: taken, or
// not held where the folder cannot be resolved (RunLock tells which).
platform::RunLock lockProgramFolder();

} // namespace TRAVO1
