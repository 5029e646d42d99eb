#include "cli/unattended.h"
#include "cli/terminal.h"
#include "engine/copycommand.h"
#include "engine/jobstate.h"
#include "platform/drives.h"
#include "platform/names.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace cli {

using namespace platform;

namespace {

// SIGINT and SIGTERM act as ESC: the handler only wakes the event loop,
// which sets the stop request between two files, where ESC would. A system
// call that waits (a write to a full pipe or a terminal on hold) is not
// taken up again after the handler but fails, so that the run gets back to
// its next file and ends there. (A share that stops answering keeps the
// call until the kernel gives it up: only SIGKILL ends such a wait.)
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t signalled = 0;

void onSignal(int) {
    signalled = 1;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(signalPipe[1], &byte, 1);
}

} // namespace

bool stopSignalled() {
    return signalled != 0;
}

void catchStopSignals() {
    static QSocketNotifier* notifier = nullptr; // one for every run of the process
    if (notifier || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    notifier =
        new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char bytes[16];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        TRAVO1::StopFlag = 1;
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

namespace {

int exitStatus(const TRAVO1::RunResult& outcome) {
    using TRAVO1::RunEnd;
    switch (outcome.end) {
    case RunEnd::Completed:
        return 0;
    case RunEnd::Reported:
        return outcome.error > 0 && outcome.error < 256 ? outcome.error : ExitUnfinished;
    case RunEnd::Refused:
        return ExitRefused;
    case RunEnd::Busy:
        return ExitBusy;
    case RunEnd::Stopped:
        return ExitStopped;
    case RunEnd::Unfinished:
        break;
    }
    return ExitUnfinished;
}

} // namespace

QString destinationText(const QString& argument) {
    // A drive text starts with its letter, or with "\" as a network path does.
    const bool drive = argument.startsWith(QLatin1Char('\\')) ||
                       (argument.size() >= 2 && argument[0].isLetter() &&
                        argument[0].unicode() < 128 && argument[1] == QLatin1Char(':'));
    if (drive) {
        // As the directory list gives a folder: no "\" at its end but at a root.
        QString text = argument;
        while (text.size() > 3 && text.endsWith(QLatin1Char('\\')))
            text.chop(1);
        return text;
    }
    // Any other text is a host folder, a relative one taken from the folder
    // the program was started in.
    const QString drivePath = DriveTable::current().toDrivePath(
        hostBytes(QDir::cleanPath(QDir::current().absoluteFilePath(argument))));
    return drivePath.startsWith(QLatin1Char('\\')) ? QString() : drivePath;
}

int runUnattended(const QString& destination) {
    catchStopSignals();
    TerminalWindow window(stdout, stderr, stopSignalled);
    installTerminalServices(window, stopSignalled);

    int status = ExitRefused;
    if (TRAVO1::StartAllowed(currentDirectory())) {
        // The whole program folder, every file, with the subfolders.
        const TRAVO1::RunRequest request{programFolder(), destination, QString(), true};
        status = exitStatus(TRAVO1::CopyCommand(request, window));
        window.finish();
        if (status == ExitStopped)
            window.say(TRAVO1::stoppedText());
        window.failedCount();
    }
    return status;
}

} // namespace cli
