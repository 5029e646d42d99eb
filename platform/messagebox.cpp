#include "platform/messagebox.h"

#include <cstdio>

namespace platform {

namespace {

MessageBox::Presenter& installedPresenter() {
    static MessageBox::Presenter presenter;
    return presenter;
}

} // namespace

int MessageBox::show(const QString& prompt, int style, const QString& title, QObject* owner) {
    const MessageRequest request{prompt, style, title.isEmpty() ? applicationTitle() : title,
                                 owner};
    if (installedPresenter())
        return installedPresenter()(request);
    std::fprintf(stderr, "%s\n", qPrintable(oneLine(request)));
    return defaultAnswer(style);
}

void MessageBox::install(Presenter presenter) {
    installedPresenter() = std::move(presenter);
}

int MessageBox::defaultAnswer(int style) {
    const int buttons = style & 0x0f;
    if (buttons != MbYesNoCancel && buttons != MbYesNo)
        return IdOk;
    return style & MbDefaultButton2 ? IdNo : IdYes;
}

QString MessageBox::oneLine(const MessageRequest& request) {
    return request.title + QStringLiteral(": ") + request.prompt.simplified();
}

} // namespace platform
