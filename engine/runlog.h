#pragma once
// The run log "Log.txt" beside the program: one tab-separated record per
// call, appended; best effort, never reported.

#include "engine/jobstate.h"

namespace TRAVO1 {

// Appends the status line, DestPath, the error in hand (0 for none) and the
// date. Leaves the recorded error clear, whether or not the log was written,
// so that a log that cannot be written changes nothing else in a run.
void WriteRunLog(WindowModel& w, int32_t errorNumber = 0, const QString& description = QString());

// The same record from its fields: `result` as RESULTADO, `destination` as
// DESTINO.
void appendRunLog(const QString& result, const QString& destination, int32_t errorNumber = 0,
                  const QString& description = QString());

} // namespace TRAVO1
