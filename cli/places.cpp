#include "cli/places.h"
#include "cli/terminal.h"
#include "cli/unattended.h"
#include "cli/verification.h"
#include "engine/jobstate.h"
#include "engine/reporterror.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"

#include <cstdio>

namespace cli {

using namespace platform;

namespace {

QString below(const QString& place, const QString& name) {
    return place + (place.endsWith(QLatin1Char('\\')) ? QString() : QStringLiteral("\\")) + name;
}

// Makes the day's folder below an existing place, by its exact name and
// never through a link, as a copy makes its folders. A missing place is left
// for the copy to meet and report; any other failure is returned.
RecordedError makeDayFolder(const QString& place, const QString& day) {
    FileSystem& fs = FileSystem::get();
    try {
        const Directory top =
            fs.tryOpenDirectory(DriveTable::current().toHost(place + QLatin1Char('\\')));
        if (top.error() == 0)
            fs.openOrMakeDirectory(top, hostBytes(day));
    } catch (const Failure&) {
        if (Err().number != ErrPathNotFound && Err().number != ErrDeviceUnavailable) {
            const RecordedError error = Err();
            clearError();
            return error;
        }
    }
    clearError();
    return {};
}

// The day's folder that a verification reads: never through a link, and
// never made. Something other than a folder in its place (a link planted
// there) is 75, as for a copy; a missing one is left for the verification.
RecordedError dayFolderToRead(const QString& place, const QString& day) {
    FileSystem& fs = FileSystem::get();
    const KeepRecordedError kept;
    FileInfo entry{};
    const bool found = resumeNext([&] {
        entry =
            fs.attributes(fs.openDirectory(DriveTable::current().toHost(place + QLatin1Char('\\'))),
                          hostBytes(day));
    });
    if (found && !(entry.attributes & AttrDirectory))
        return RecordedError{ErrPathFileAccess, describe(ErrPathFileAccess)};
    return {};
}

// A place whose day folder could not be made fails as a run that met that
// error: its box, its status text, its record.
int reportFailure(const QString& to, const QString& day, const RecordedError& error) {
    TerminalWindow window(stdout, stderr, stopSignalled);
    installTerminalServices(window, stopSignalled);
    TRAVO1::DestPath = to;
    TRAVO1::CurrentName = day;
    Err() = error;
    TRAVO1::ReportError(window);
    window.finish();
    return error.number > 0 && error.number < 256 ? error.number : ExitUnfinished;
}

int copyTo(const QString& place, const Plan& plan, const QString& day) {
    QString to = place;
    if (plan.rotate) {
        to = below(place, day);
        if (const RecordedError error = makeDayFolder(place, day); error.number != 0)
            return reportFailure(to, day, error);
    }
    const int status = runUnattended(to);
    if (status != 0 || !plan.verifyAfterCopy || stopSignalled())
        return status;
    return runVerification(to);
}

// Which place the lines that follow are about, when there are several.
void announce(const QString& place) {
    std::printf("Destino: %s\n", qPrintable(place));
    std::fflush(stdout);
}

} // namespace

QString weekdayFolder(const QDate& day) {
    static const char* const names[] = {"Segunda", "Terça",  "Quarta", "Quinta",
                                        "Sexta",   "Sábado", "Domingo"};
    return QString::fromUtf8(names[day.dayOfWeek() - 1]);
}

int runPlan(const Plan& plan) {
    catchStopSignals();
    // One day for the whole run, even past midnight.
    const QString day = weekdayFolder(QDate::currentDate());
    const bool several = plan.copies.size() + plan.verifications.size() > 1;
    int status = 0;
    const auto settle = [&](int placeStatus) {
        if (status == 0)
            status = stopSignalled() ? int(ExitStopped) : placeStatus;
        return !stopSignalled();
    };
    for (const QString& place : plan.copies) {
        if (several)
            announce(place);
        if (!settle(copyTo(place, plan, day)))
            return status;
    }
    for (const QString& place : plan.verifications) {
        if (several)
            announce(place);
        const QString to = plan.rotate ? below(place, day) : place;
        const RecordedError error = plan.rotate ? dayFolderToRead(place, day) : RecordedError{};
        if (!settle(error.number != 0 ? reportFailure(to, day, error) : runVerification(to)))
            return status;
    }
    return status;
}

} // namespace cli
