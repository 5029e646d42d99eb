// The program's entry: a classic-looking application that runs basMain.

#include "app/basmain.h"

#include <QApplication>
#include <QWidget>
#include <algorithm>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Windows")); // a classic utility's look
    basMain::Main();
    // A start that failed before any window came up leaves nothing on screen
    // that could end the program.
    const QWidgetList windows = QApplication::topLevelWidgets();
    const bool shown =
        std::any_of(windows.begin(), windows.end(), [](QWidget* w) { return w->isVisible(); });
    const int code = shown ? app.exec() : 1;
    basMain::UnloadWindows();
    return code;
}
