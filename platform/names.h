#pragma once
// Names: the host's bytes and the texts shown for them, and the file-name
// patterns of the command line.

#include <QString>
#include <string>

namespace platform {

// The text of a host name (the file system's bytes, in the locale's
// encoding), and the host name of a text: the one way between the two.
QString hostText(const std::string& name);
std::string hostBytes(const QString& text);

// "*" and "?" as on the system's command line, case-insensitive; "*.*" and an
// empty pattern match every name.
bool matchesPattern(const QString& name, const QString& pattern);
// Whether the pattern matches every name, so that no name need be read.
bool matchesEveryName(const QString& pattern);

} // namespace platform
