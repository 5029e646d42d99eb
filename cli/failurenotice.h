#pragma once
// The notice of a scheduled run that failed, given by the unit that systemd
// starts on its failure: a line in the journal and, while the user's
// graphical session is there, a desktop notification.

#include <QString>

namespace cli {

// What the failed run met. `status` is its exit status as systemd gives it
// (MONITOR_EXIT_STATUS: a number, or the name of the signal that ended it),
// empty when not known. An error number is told by its description and
// number ("Disco cheio (erro 61)"), 2 to 5 by what they mean; any
// other, and an unknown status, by the failure that Log.txt records last.
QString failureText(const QString& status);

// "A cópia de segurança de DADOS falhou: ..." on standard output, and as a
// notification through notify-send when a display is set (a graphical
// session gives it to the user's services). A notification that cannot be
// shown is one more line on standard error. Needs the application object;
// returns 0 once the line is written.
int noticeFailure();

} // namespace cli
