#include "platform/regional.h"

#include <vector>

namespace platform {

namespace {

bool isField(QChar c) {
    return c.isLetter();
}

// A time format without its time-zone field ("t" to "tttt"), and without the
// blanks and brackets around the field that would be left standing alone:
// "H:mm:ss (t)" gives "H:mm:ss". Quoted text is kept as it stands.
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
    // Every group of three digits is separated, also where the locale leaves
    // a four-digit number whole (pt_PT, es_ES).
    QLocale locale = regionalLocale();
    locale.setNumberOptions(QLocale::OmitGroupSeparator);
    QString text = locale.toString(value, 'f', 2);
    qsizetype end = text.indexOf(locale.decimalPoint());
    if (end < 0)
        end = text.size();
    // Where each digit of the whole part starts, from the right. Native
    // digits may lie outside the basic plane, two code units each.
    std::vector<qsizetype> starts;
    for (qsizetype i = end; i > 0;) {
        qsizetype start = i - 1;
        char32_t c = text[start].unicode();
        if (start > 0 && text[start].isLowSurrogate() && text[start - 1].isHighSurrogate()) {
            --start;
            c = QChar::surrogateToUcs4(text[start], text[start + 1]);
        }
        if (!QChar::isDigit(c))
            break;
        starts.push_back(start);
        i = start;
    }
    for (size_t k = 3; k < starts.size(); k += 3) // right to left: earlier places stay put
        text.insert(starts[k - 1], locale.groupSeparator());
    return text;
}

QByteArray toSystemEncoding(const QString& text) {
    return text.toLocal8Bit();
}

} // namespace platform
