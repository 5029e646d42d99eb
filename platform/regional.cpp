#include "platform/regional.h"

namespace platform {

QLocale regionalLocale() {
    const QLocale system = QLocale::system();
    if (system.language() == QLocale::C)
        return QLocale(QLocale::Portuguese, QLocale::Brazil);
    return system;
}

QString timeText(const QDateTime& when) {
    const QLocale locale = regionalLocale();
    // The long format carries seconds; drop its zone field.
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return locale.toString(when.time(), format.trimmed());
}

QString dateText(const QDateTime& when) {
    return regionalLocale().toString(when.date(), QLocale::ShortFormat);
}

QString generalDate(const QDateTime& when) {
    if (when.time() == QTime(0, 0))
        return dateText(when);
    return dateText(when) + QLatin1Char(' ') + timeText(when);
}

QString formatNumber(double value) {
    return regionalLocale().toString(value, 'f', 2);
}

QByteArray toSystemEncoding(const QString& text) {
    return text.toLocal8Bit();
}

} // namespace platform
