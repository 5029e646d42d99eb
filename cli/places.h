#pragma once
// What one start of the program without a window does: copies to one place
// or two in turn, each optionally verified, or verifications alone; each
// place optionally the folder of the day of the week below it.

#include <QDate>
#include <QStringList>

namespace cli {

struct Plan {
    QStringList copies;           // drive texts, copied to in turn
    QStringList verifications;    // drive texts, verified alone in turn
    bool verifyAfterCopy = false; // each place whose copy completed
    bool rotate = false;          // into the weekday's folder below each place
};

// Runs the plan, each place with its own texts and Log.txt records; a place
// that fails does not stop the next, a stop signal does. Returns the first
// place's non-zero status, else the next one's, else 0. Needs the
// application object.
int runPlan(const Plan& plan);

// The folder of a day of the week as the help box names them: "Segunda",
// "Terça", ... "Domingo".
QString weekdayFolder(const QDate& day);

} // namespace cli
