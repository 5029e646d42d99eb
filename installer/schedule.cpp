#include "installer/schedule.h"
#include "installer/placing.h"

#include <QFileInfo>
#include <QRegularExpression>

namespace placing {

namespace {

// One word of a unit's command line: quoted, with C escapes for the
// characters special inside quotes, and "%" and "$" doubled, which would
// start a specifier or a variable.
QString unitWord(const QString& text) {
    QString quoted;
    for (const QChar c : text) {
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

} // namespace

bool parseTime(const QString& text, int& hour, int& minute) {
    static const QRegularExpression form(QStringLiteral("^([01]?[0-9]|2[0-3]):([0-5][0-9])$"));
    const QRegularExpressionMatch match = form.match(text);
    if (!match.hasMatch())
        return false;
    hour = match.captured(1).toInt();
    minute = match.captured(2).toInt();
    return true;
}

Schedule nightlySchedule(const QString& folder, const QString& destination, int hour, int minute) {
    QString base = launcherFileName(folder);
    base.chop(int(QStringLiteral(".desktop").size()));
    const QString name = specifiersDoubled(QFileInfo(folder).fileName());
    const QString time = QStringLiteral("%1:%2")
                             .arg(hour, 2, 10, QLatin1Char('0'))
                             .arg(minute, 2, 10, QLatin1Char('0'));
    Schedule s;
    s.service = base + QStringLiteral(".service");
    s.timer = base + QStringLiteral(".timer");
    s.serviceText =
        QStringLiteral("[Unit]\n"
                       "Description=Cópia de segurança de %1 (Pelivor)\n"
                       "Documentation=man:pelivor(1)\n"
                       "\n"
                       "[Service]\n"
                       "Type=oneshot\n"
                       "WorkingDirectory=%2\n"
                       "ExecStart=%3 --copiar-para %4\n"
                       "Nice=10\n")
            .arg(name, specifiersDoubled(folder), unitWord(folder + QLatin1Char('/') + ProgramName),
                 unitWord(destination))
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
