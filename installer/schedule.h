#pragma once
// A nightly copy of an application folder: a systemd user service that runs
// the placed program without a window, and a timer that starts it every day.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace placing {

struct Schedule {
    QString service, timer;            // the units' file names
    QByteArray serviceText, timerText; // their contents
    // The unit that systemd starts when the service fails: it names the
    // failure in the journal and, in a graphical session, on the desktop.
    QString notice;
    QByteArray noticeText;
};

// What each nightly run does besides copying.
struct RunOptions {
    bool verify = false; // --verificar: each copy compared after it
    bool rotate = false; // --rodizio: into the weekday's folder below each place
};

// The units for copying `folder` to each of `destinations` in turn (as the
// program's --copiar-para takes them) every day at `hour`:`minute`, and for
// telling of a run that failed. A time
// missed while the computer was off is made up at the next start. Every
// folder name gives units that systemd reads as written: one it cannot name
// as a program (quotes, "\", a blank at its end) is started through env.
Schedule nightlySchedule(const QString& folder, const QStringList& destinations,
                         const RunOptions& options, int hour, int minute);

// A destination as the service names it, and the host folder it names now.
struct Destination {
    QString text; // a drive text as given, a host folder made absolute
    QString host; // empty when it names none now (a drive that is not there)
};
// Host folders are taken from the current folder, as the operator typed
// them, not from the application folder the runs start in.
Destination scheduledDestination(const QString& given);

// Whether the services of `user` run while nobody is logged in
// (loginctl enable-linger): otherwise a nightly copy waits for a session.
bool lingers(const QString& user);

// "HH:MM" as hour and minute; false for anything else.
bool parseTime(const QString& text, int& hour, int& minute);

} // namespace placing
