#pragma once
// The modal message box as a service. Tests install a double that records
// every box and answers from a script, so no timer has to close real boxes.

#include <QString>
#include <functional>

class QWidget;

namespace platform {

// Style bits: buttons + icon + default button.
enum MessageStyle : int {
    MbOk = 0,
    MbYesNoCancel = 3,
    MbCritical = 16,
    MbQuestion = 32,
    MbExclamation = 48,
    MbInformation = 64,
    MbDefaultButton2 = 256,
};

// Answers: the button pressed.
enum MessageAnswer : int {
    IdOk = 1,
    IdCancel = 2,
    IdYes = 6,
    IdNo = 7,
};

// The application title, used where a box names no title of its own.
inline QString applicationTitle() {
    return QStringLiteral("Pelivor");
}

struct MessageRequest {
    QString prompt;
    int style = MbOk;
    QString title;
    QWidget* owner = nullptr;
};

class MessageBox {
public:
    // Shows a modal box and returns the button pressed. An empty title
    // shows the application title.
    static int show(const QString& prompt, int style = MbOk, const QString& title = QString(),
                    QWidget* owner = nullptr);

    // Replaces the real box (tests); an empty function restores it.
    using Double = std::function<int(const MessageRequest&)>;
    static void install(Double fake);
};

} // namespace platform
