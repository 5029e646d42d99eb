#pragma once
// The Copy command: the only way a copy run starts.

#include "engine/jobstate.h"

namespace TRAVO1 {

// Checks the source and destination texts, creates the destination
// directories that mirror the source's path, runs CopyTree and reports,
// completes or leaves the run as the tree copy ended it. Does nothing while
// a run of the same window is in progress.
void cmdCopy_Click(WindowModel& w);

} // namespace TRAVO1
