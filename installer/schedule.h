#pragma once
// A nightly copy of an application folder: a systemd user service that runs
// the placed program without a window, and a timer that starts it every day.

#include <QByteArray>
#include <QString>

namespace placing {

struct Schedule {
    QString service, timer;            // the units' file names
    QByteArray serviceText, timerText; // their contents
};

// The units for copying `folder` to `destination` (as the program's
// --copiar-para takes it) every day at `hour`:`minute`. A time missed while
// the computer was off is made up at the next start.
Schedule nightlySchedule(const QString& folder, const QString& destination, int hour, int minute);

// "HH:MM" as hour and minute; false for anything else.
bool parseTime(const QString& text, int& hour, int& minute);

} // namespace placing
