// The program's entry: a classic-looking application that runs basMain.

#include "app/basmain.h"
#include "app/startup.h"
#include "ui/windowservices.h"

#include <QApplication>
#include <QWidget>
#include <algorithm>

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    if (const std::optional<int> status = startup::runCommandLine(arguments))
        return *status;

    startup::guardWindowSystemStart();
    QApplication app(argc, argv);
    startup::windowSystemStarted();
    startup::installQtTranslations(app);
    QApplication::setStyle(QStringLiteral("Windows")); // a classic utility's look
    ui::installWindowServices();
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
