#pragma once
// The Copy command run once from the command line, without a window: for a
// timer or cron to back the program's folder up every night.

#include <QString>

namespace cli {

// Exit statuses besides 0 (completed) and the number of an error the run
// reported (61, 70, ...).
enum ExitStatus : int {
    ExitUnfinished = 1, // the run ended otherwise; its last status text says how
    ExitRefused = 3,    // the start-up check or the Copy command refused to start
    ExitStopped = 4,    // SIGINT or SIGTERM, as ESC in the window
    ExitBusy = 5,       // another run of the program's folder is in progress
};

// The destination as the operator gives it: a drive text such as
// "E:\BACKUP", or a host folder such as "/mnt/nas/backup" or "../backup"
// (from the current folder), which is written with its drive. An empty text
// when no drive covers a host folder.
QString destinationText(const QString& argument);

// SIGINT and SIGTERM act as ESC for every run of the process from now on:
// the event loop sets the stop request between two files. Needs the
// application object.
void catchStopSignals();
// Whether SIGINT or SIGTERM came: a run that cleared the stop request when
// it started must not be followed by another.
bool stopSignalled();

// Copies the program's folder below `destination` (a drive text) through the
// same start-up check and Copy command as a click on "Copiar" in the window,
// with the subfolders and every file. Needs the application object; returns
// the exit status.
int runUnattended(const QString& destination);

} // namespace cli
