#pragma once
// What the process does before the start-up module runs: the command line,
// the window system and Qt's own texts.

#include <QStringList>
#include <optional>

class QCoreApplication;

namespace startup {

// Prints the help or the version, or refuses an argument the program does
// not take; returns the exit status when the process is to end there, before
// any window.
std::optional<int> runCommandLine(const QStringList& arguments);

// Around the construction of the application object: a window system that
// cannot be reached ends the process with one line on standard error and
// status 1 instead of Qt's abort. Qt's own messages meanwhile are held and
// passed on once the window system has started.
void guardWindowSystemStart();
void windowSystemStarted();

// Loads Qt's translations for the program's regional language, so that the
// texts Qt supplies itself (a text box's context menu, standard buttons)
// are Portuguese like the program's; false when they are not installed.
bool installQtTranslations(QCoreApplication& app);

} // namespace startup
