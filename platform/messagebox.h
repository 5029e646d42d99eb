#pragma once
// The modal message box as a service. The program installs the box it shows:
// the window system's (ui/) or the terminal's (cli/); tests install a double
// that records every box and answers from a script, so no timer has to close
// real boxes.

#include <QString>
#include <functional>

class QObject;

namespace platform {

// Style bits: buttons + icon + default button.
enum MessageStyle : int {
    MbOk = 0,
    MbYesNoCancel = 3,
    MbYesNo = 4,
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
    QObject* owner = nullptr; // the window the box belongs to, if any
};

class MessageBox {
public:
    // Shows a modal box and returns the button pressed. An empty title
    // shows the application title.
    static int show(const QString& prompt, int style = MbOk, const QString& title = QString(),
                    QObject* owner = nullptr);

    // How boxes are shown from now on. With none installed (an empty
    // function), a box is written to standard error and gets its default
    // answer, as nobody is there to press a button.
    using Presenter = std::function<int(const MessageRequest&)>;
    using Double = Presenter;
    static void install(Presenter presenter);

    // The button that Enter would press: the first, or the second with
    // MbDefaultButton2.
    static int defaultAnswer(int style);
    // The box as one line of text: "title: text", line breaks as blanks.
    static QString oneLine(const MessageRequest& request);
};

} // namespace platform
