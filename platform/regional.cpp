#include "platform/regional.h"

#include <algorithm>

namespace platform {

namespace {

bool isField(QChar c) {
    return c.isLetter();
}

// A time format without its time-zone field ("t" to "tttt"), and without the
// blanks and brackets around the field that would be left standing alone:
// "H:mm:ss (t)" gives "H:mm:ss". Quoted text is kept as it stands. QLocale
// has no time format with seconds and without the zone: its short format
// drops the seconds in most locales, its long one adds the zone.
QString withoutZone(const QString& format) {
    QStringList parts; // fields, quoted texts and the runs of other characters
    for (qsizetype i = 0; i < format.size();) {
        qsizetype end = i + 1;
        if (format[i] == QLatin1Char('\'')) {
            while (end < format.size() && format[end] != QLatin1Char('\''))
                ++end;
            end = std::min(end + 1, format.size());
        } else if (isField(format[i])) {
            while (end < format.size() && format[end] == format[i])
                ++end;
        } else {
            while (end < format.size() && !isField(format[end]) && format[end] != QLatin1Char('\''))
                ++end;
        }
        parts << format.mid(i, end - i);
        i = end;
    }
    const auto isGap = [](const QString& part) {
        return !isField(part[0]) && part[0] != QLatin1Char('\'');
    };
    for (qsizetype i = 0; i < parts.size(); ++i) {
        if (parts[i][0] != QLatin1Char('t'))
            continue;
        // The field and the gaps beside it go; fields on both sides keep one blank.
        qsizetype first = i, last = i;
        if (first > 0 && isGap(parts[first - 1]))
            --first;
        if (last + 1 < parts.size() && isGap(parts[last + 1]))
            ++last;
        const bool between = first > 0 && last + 1 < parts.size();
        parts.erase(parts.begin() + first, parts.begin() + last + 1);
        if (between)
            parts.insert(first, QStringLiteral(" "));
        i = first - 1;
    }
    return parts.join(QString());
}

} // namespace

QLocale regionalLocale() {
    const QLocale system; // the system's, unless a test set another default
    if (system.language() == QLocale::C)
        return QLocale(QLocale::Portuguese, QLocale::Brazil);
    return system;
}

QString timeText(const QDateTime& when) {
    const QLocale locale = regionalLocale();
    // The long format carries seconds, and a zone field the program does not show.
    return locale.toString(when.time(), withoutZone(locale.timeFormat(QLocale::LongFormat)));
}

QString dateText(const QDateTime& when) {
    return regionalLocale().toString(when.date(), QLocale::ShortFormat);
}

QString generalDate(const QDateTime& when) {
    // Date-times have whole seconds: 00:00:00.500 is midnight.
    const QTime time = when.time();
    if (time.hour() == 0 && time.minute() == 0 && time.second() == 0)
        return dateText(when);
    return dateText(when) + QLatin1Char(' ') + timeText(when);
}

QString formatNumber(double value) {
    // The pattern groups every three digits whatever the locale does itself
    // (pt_PT and es_ES leave 1234 whole, hi_IN groups by two): the C locale
    // groups so, and its separators and digits become the locale's.
    const QLocale locale = regionalLocale();
    QLocale grouped = QLocale::c();
    grouped.setNumberOptions({});
    QString text;
    for (const QChar c : grouped.toString(value, 'f', 2)) {
        if (c == QLatin1Char(','))
            text += locale.groupSeparator();
        else if (c == QLatin1Char('.'))
            text += locale.decimalPoint();
        else if (c == QLatin1Char('-'))
            text += locale.negativeSign();
        else
            text += locale.toString(c.digitValue());
    }
    return text;
}

QByteArray toSystemEncoding(const QString& text) {
    return text.toLocal8Bit();
}

QString fromSystemEncoding(const QByteArray& bytes) {
    return QString::fromLocal8Bit(bytes);
}

} // namespace platform
