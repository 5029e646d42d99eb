#include "platform/names.h"

#include <QFile>

namespace platform {

QString hostText(const std::string& name) {
    return QFile::decodeName(QByteArray::fromStdString(name));
}

std::string hostBytes(const QString& text) {
    return QFile::encodeName(text).toStdString();
}

bool matchesEveryName(const QString& pattern) {
    return pattern.isEmpty() || pattern == QLatin1String("*.*") || pattern == QLatin1String("*");
}

bool matchesPattern(const QString& name, const QString& pattern) {
    if (matchesEveryName(pattern))
        return true;
    // Greedy match with one backtrack point per "*", case-insensitive.
    qsizetype n = 0, p = 0, star = -1, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == QLatin1Char('?') ||
                                   pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == QLatin1Char('*')) {
            star = p++;
            mark = n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == QLatin1Char('*'))
        ++p;
    // "NAME.*" also matches "NAME", as on the command line.
    if (p + 2 == pattern.size() && pattern[p] == QLatin1Char('.') &&
        pattern[p + 1] == QLatin1Char('*'))
        return true;
    return p == pattern.size();
}

} // namespace platform
