#pragma once
// A verification of the backup from the command line, without a window.

#include <QString>

namespace cli {

// Compares the program's folder with its copy below `destination` (a drive
// text): each file that differs, is missing or could not be read as one
// line on standard error with its host path, the counts last on standard
// output. Needs the application object. Returns the exit status: 0 every
// file the same, 1 any other, the error number when the run could not go
// on (76 no destination, 68 gone meanwhile), 3, 4 and 5 as a copy's.
int runVerification(const QString& destination);

} // namespace cli
