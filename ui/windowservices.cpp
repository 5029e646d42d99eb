#include "ui/windowservices.h"
#include "platform/events.h"
#include "platform/messagebox.h"
#include "platform/progresswindow.h"
#include "ui/programicon.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <algorithm>

namespace ui {

using namespace platform;

namespace {

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

// The window a box or a progress window belongs to: its owner, or else the
// program's main window, the visible one that is no dialog. The window
// manager then keeps it over that window and treats it as its dialog.
QWidget* ownerWindow(QObject* owner) {
    if (auto* widget = qobject_cast<QWidget*>(owner))
        return widget->window();
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowType() == Qt::Window)
            return w;
    return nullptr;
}

// A dialog of `owner`'s window, in that window's face.
void belongTo(QWidget& dialog, QWidget* owner) {
    if (owner)
        dialog.setFont(owner->font());
    dialog.setWindowIcon(programIcon());
}

class DialogProgress : public ProgressWindow {
public:
    explicit DialogProgress(const QString& fileName) : m_fileName(fileName) { m_clock.start(); }
    bool update(int percent) override {
        // The dialog shows nothing in its first 50 ms, and most large copies
        // are over by then: it is built only for a copy that lasts.
        if (!m_dialog && m_clock.elapsed() >= 50)
            open();
        if (m_dialog)
            m_dialog->setValue(percent);
        pumpEvents();
        return !(m_dialog && m_dialog->wasCanceled());
    }

private:
    void open() {
        QWidget* owner = ownerWindow(nullptr);
        m_dialog = std::make_unique<QProgressDialog>(QStringLiteral("Copiando %1").arg(m_fileName),
                                                     QStringLiteral("Cancelar"), 0, 100, owner);
        m_dialog->setWindowTitle(QStringLiteral("Copiando..."));
        belongTo(*m_dialog, owner);
        // Modeless: the main window stays usable (ESC, "Sair").
        m_dialog->setWindowModality(Qt::NonModal);
        // Of a fixed size, as a box is: nothing to maximise.
        m_dialog->setFixedSize(m_dialog->sizeHint());
        // Short copies flash no window: it shows half a second after the copy began.
        m_dialog->setMinimumDuration(int(std::max<qint64>(0, 500 - m_clock.elapsed())));
        m_dialog->setAutoReset(false);
        m_dialog->setValue(0);
    }

    QString m_fileName;
    QElapsedTimer m_clock;
    std::unique_ptr<QProgressDialog> m_dialog;
};

} // namespace

int showMessageBox(const MessageRequest& request) {
    const int style = request.style;
    // Texts end their lines with CR LF; the box wants bare line feeds.
    QString text = request.prompt;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QWidget* owner = ownerWindow(request.owner);
    QMessageBox box(iconOf(style), request.title, text, QMessageBox::NoButton, owner);
    belongTo(box, owner);
    std::vector<std::pair<QPushButton*, int>> buttons;
    if ((style & 0x0f) == MbYesNoCancel) {
        buttons = {{box.addButton(QStringLiteral("&Sim"), QMessageBox::YesRole), IdYes},
                   {box.addButton(QStringLiteral("&Não"), QMessageBox::NoRole), IdNo},
                   {box.addButton(QStringLiteral("Cancelar"), QMessageBox::RejectRole), IdCancel}};
        box.setEscapeButton(buttons[2].first);
    } else if ((style & 0x0f) == MbYesNo) {
        buttons = {{box.addButton(QStringLiteral("&Sim"), QMessageBox::YesRole), IdYes},
                   {box.addButton(QStringLiteral("&Não"), QMessageBox::NoRole), IdNo}};
        box.setEscapeButton(buttons[1].first);
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
    if (buttons.size() == 1)
        return IdOk;
    return buttons.size() == 2 ? IdNo : IdCancel;
}

void installWindowServices() {
    // Every window of the program, the splash and the boxes too, shows its icon.
    QApplication::setWindowIcon(programIcon());
    MessageBox::install(showMessageBox);
    ProgressWindow::install(
        [](const QString& fileName) { return std::make_unique<DialogProgress>(fileName); });
}

} // namespace ui
