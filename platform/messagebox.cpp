#include "platform/messagebox.h"

#include <QMessageBox>
#include <QPushButton>

namespace platform {

namespace {

MessageBox::Double& installedDouble() {
    static MessageBox::Double fake;
    return fake;
}

QMessageBox::Icon iconOf(int style) {
    switch (style & 0x70) {
    case MbCritical:
        return QMessageBox::Critical;
    case MbQuestion:
        return QMessageBox::Question;
    case MbExclamation:
        return QMessageBox::Warning;
    case MbInformation:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

} // namespace

int MessageBox::show(const QString& prompt, int style, const QString& title, QWidget* owner) {
    const MessageRequest request{prompt, style, title.isEmpty() ? applicationTitle() : title,
                                 owner};
    if (installedDouble())
        return installedDouble()(request);

    // Texts end their lines with CR LF; the box wants bare line feeds.
    QString text = prompt;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(iconOf(style), request.title, text, QMessageBox::NoButton, owner);
    std::vector<std::pair<QPushButton*, int>> buttons;
    if ((style & 0x0f) == MbYesNoCancel) {
        buttons = {{box.addButton(QStringLiteral("&Sim"), QMessageBox::YesRole), IdYes},
                   {box.addButton(QStringLiteral("&Não"), QMessageBox::NoRole), IdNo},
                   {box.addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole), IdCancel}};
        box.setEscapeButton(buttons[2].first);
    } else {
        buttons = {{box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole), IdOk}};
        box.setEscapeButton(buttons[0].first);
    }
    const size_t defaultIndex = (style & MbDefaultButton2) && buttons.size() > 1 ? 1 : 0;
    box.setDefaultButton(buttons[defaultIndex].first);
    box.exec();
    for (const auto& [button, answer] : buttons)
        if (box.clickedButton() == button)
            return answer;
    return buttons.size() > 1 ? IdCancel : IdOk;
}

void MessageBox::install(Double fake) {
    installedDouble() = std::move(fake);
}

} // namespace platform
