#pragma once
// Names as the terminal and the run log show them. A name is the host's
// bytes and may hold any character but "/" and NUL: a line feed in it would
// start a line of its own (a forged "Cópia Atualizada" in a journal, a
// second record in Log.txt), an ESC would command the terminal.

#include <QString>

namespace platform {

// The text with each control character (C0, DEL and C1) written as a
// visible "\xHH", its code in two hexadecimal digits: "a\nb" becomes
// "a\x0ab". A text without one comes back as it is.
QString printable(const QString& text);

} // namespace platform
