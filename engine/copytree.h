#pragma once
// The recursive tree copy.

#include "engine/jobstate.h"
#include "platform/files.h"

namespace TRAVO1 {

// Files longer than this go through CopyFileShell.
constexpr double LargeFileKiB = 2000.0;

// Copies one source directory level into the destination, and with
// `includeSubdirectories` each subdirectory below it, creating missing
// destination subdirectories. Source and destination are rewritten in place
// (upper case, ending in "\"). Returns True when this level ran to its end;
// False on a stop request, "Disco cheio" or its error path. A failed
// creation of a destination directory is raised to the caller. A run in which
// a copy met a full disk returns with "disk full" recorded.
int16_t CopyTree(WindowModel& w, QString& source, QString& destination,
                 const int16_t& includeSubdirectories, const QString& pattern);

// Copies one large file with its own progress window and Cancel button. Its
// failures are shown in its own message box and never reach the caller: the
// recorded error is left as it was.
void CopyFileShell(const platform::Directory& fromDir, const std::string& from,
                   const platform::Directory& toDir, const std::string& to);

} // namespace TRAVO1
