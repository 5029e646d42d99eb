#pragma once
// Dates, times and numbers in the system's regional settings. Every text of
// the program is Portuguese, so a C or POSIX locale falls back to Brazilian
// Portuguese.

#include <QDateTime>
#include <QLocale>
#include <QString>

namespace platform {

QLocale regionalLocale();

// The time of day with seconds and without a zone, as 20:18:30.
QString timeText(const QDateTime& when = QDateTime::currentDateTime());
// The short date, as 06/12/2026.
QString dateText(const QDateTime& when = QDateTime::currentDateTime());
// "General Date": the short date, and the time of day unless it is midnight.
QString generalDate(const QDateTime& when = QDateTime::currentDateTime());
// The pattern "#,###,###,##0.00": grouped thousands, two decimals.
QString formatNumber(double value);

// Text for "Log.txt" and other files: the system's 8-bit encoding.
QByteArray toSystemEncoding(const QString& text);
QString fromSystemEncoding(const QByteArray& bytes);

} // namespace platform
