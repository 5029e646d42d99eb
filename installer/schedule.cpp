#include "installer/schedule.h"
#include "installer/placing.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/names.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

namespace placing {

namespace {

// One word of a unit's command line after the program: quoted, with C
// escapes for the characters special inside quotes and for control
// characters (a line feed would end the line), and "%" and "$" doubled,
// which would start a specifier or a variable.
QString unitWord(const QString& text) {
    QString quoted;
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            quoted += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
            continue;
        }
        if (c == QLatin1Char('"') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        if (c == QLatin1Char('%') || c == QLatin1Char('$'))
            quoted += c;
        quoted += c;
    }
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString specifiersDoubled(QString text) {
    return text.replace(QLatin1Char('%'), QStringLiteral("%%"));
}

// Whether systemd takes the folder's program as a command's first word,
// which it reads as written but for specifiers, and whether the folder can
// stand as WorkingDirectory, whose value loses the blanks at its end.
bool nameable(const QString& folder) {
    for (const QChar c : folder)
        if (c == QLatin1Char('"') || c == QLatin1Char('\'') || c == QLatin1Char('\\'))
            return false;
    return !folder.isEmpty() && !folder.back().isSpace();
}

// The program's arguments for the nightly run.
QString runArguments(const QStringList& destinations, const RunOptions& options) {
    QString arguments;
    for (const QString& destination : destinations)
        arguments += QStringLiteral(" --copiar-para ") + unitWord(destination);
    if (options.verify)
        arguments += QStringLiteral(" --verificar");
    if (options.rotate)
        arguments += QStringLiteral(" --rodizio");
    return arguments;
}

// The lines of a service that start the program in its folder with
// `arguments`, each word already as a unit writes it.
QString startLines(const QString& folder, const QString& arguments) {
    if (!nameable(folder))
        return QStringLiteral("ExecStart=/usr/bin/env -C %1 ./%2%3\n")
            .arg(unitWord(folder), ProgramName, arguments);
    return QStringLiteral("WorkingDirectory=%1\nExecStart=\"%2\"%3\n")
        .arg(specifiersDoubled(folder), specifiersDoubled(folder + QLatin1Char('/') + ProgramName),
             arguments);
}

} // namespace

Destination scheduledDestination(const QString& given) {
    const bool driveText = given.startsWith(QLatin1Char('\\')) ||
                           (given.size() >= 2 && given[0].isLetter() && given[0].unicode() < 128 &&
                            given[1] == QLatin1Char(':'));
    if (!driveText) {
        const QString host = QDir::cleanPath(QDir::current().absoluteFilePath(given));
        return {host, host};
    }
    try {
        const std::string host = platform::DriveTable::current().toHost(given + QLatin1Char('\\'));
        return {given, platform::hostText(host)};
    } catch (const platform::Failure&) {
        platform::clearError();
        return {given, QString()};
    }
}

bool lingers(const QString& user) {
    return QFileInfo::exists(QStringLiteral("/var/lib/systemd/linger/") + user);
}

bool parseTime(const QString& text, int& hour, int& minute) {
    static const QRegularExpression form(QStringLiteral("^([01]?[0-9]|2[0-3]):([0-5][0-9])$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    hour = match.captured(1).toInt();
    minute = match.captured(2).toInt();
    return true;
}

Schedule nightlySchedule(const QString& folder, const QStringList& destinations,
                         const RunOptions& options, int hour, int minute) {
    QString base = launcherFileName(folder);
    base.chop(int(QStringLiteral(".desktop").size()));
    const QString name = specifiersDoubled(QFileInfo(folder).fileName());
    const QString time = QStringLiteral("%1:%2")
                             .arg(hour, 2, 10, QLatin1Char('0'))
                             .arg(minute, 2, 10, QLatin1Char('0'));
    Schedule s;
    s.service = base + QStringLiteral(".service");
    s.timer = base + QStringLiteral(".timer");
    s.notice = base + QStringLiteral("-falha.service");
    s.serviceText =
        QStringLiteral("[Unit]\n"
                       "Description=Cópia de segurança de %1 (Pelivor)\n"
                       "Documentation=man:pelivor(1)\n"
                       "OnFailure=%3\n"
                       "\n"
                       "[Service]\n"
                       "Type=oneshot\n"
                       "%2"
                       "Nice=10\n"
                       "SyslogIdentifier=pelivor\n")
            .arg(name, startLines(folder, runArguments(destinations, options)), s.notice)
            .toUtf8();
    s.noticeText = QStringLiteral("[Unit]\n"
                                  "Description=Aviso de falha da cópia de segurança de %1 "
                                  "(Pelivor)\n"
                                  "Documentation=man:pelivor(1)\n"
                                  "\n"
                                  "[Service]\n"
                                  "Type=oneshot\n"
                                  "%2"
                                  "SyslogIdentifier=pelivor\n")
                       .arg(name, startLines(folder, QStringLiteral(" --avisar-falha")))
                       .toUtf8();
    s.timerText = QStringLiteral("[Unit]\n"
                                 "Description=Cópia de segurança de %1 todo dia às %2 (Pelivor)\n"
                                 "\n"
                                 "[Timer]\n"
                                 "OnCalendar=*-*-* %2:00\n"
                                 "Persistent=true\n"
                                 "Unit=%3\n"
                                 "\n"
                                 "[Install]\n"
                                 "WantedBy=timers.target\n")
                      .arg(name, time, s.service)
                      .toUtf8();
    return s;
}

} // namespace placing
