#pragma once
// The Copy command: the only way a copy run starts.

#include "engine/jobstate.h"

#include <cstdint>

namespace TRAVO1 {

// How a click on "Copiar" ended.
enum class RunEnd {
    Completed, // "Cópia Atualizada"
    Reported,  // through ReportError, with `error`
    Refused,   // a refusal box; nothing was made
    Busy,      // another run of the program's folder is in progress
    Stopped,   // a stop request or a cancelled large copy cut it short
    Unfinished // the tree copy ended otherwise; the status line says how
};
struct CopyOutcome {
    RunEnd end = RunEnd::Unfinished;
    int32_t error = 0;
};

// Checks the source and destination texts, creates the destination
// directories that mirror the source's path, runs CopyTree and reports,
// completes or leaves the run as the tree copy ended it. Does nothing while
// a run of the same window is in progress, and refuses while any other run
// of the program's folder is.
CopyOutcome cmdCopy_Click(WindowModel& w);

// The refusal of a drive root ("D:\") as the destination.
QString rootRefusal(const QString& to);

// The start-up check: a program started from a folder without a drive
// letter (a network folder addressed by server name), or placed in one,
// would copy something other than what the operator sees. Shows why and
// returns false.
bool StartAllowed(const QString& startFolder);

} // namespace TRAVO1
