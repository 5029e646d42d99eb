#include "platform/progresswindow.h"
#include "platform/events.h"

#include <QProgressDialog>

namespace platform {

namespace {

ProgressWindow::Factory& installedFactory() {
    static ProgressWindow::Factory factory;
    return factory;
}

class DialogProgress : public ProgressWindow {
public:
    explicit DialogProgress(const QString& fileName)
        : m_dialog(QStringLiteral("Copiando %1").arg(fileName), QStringLiteral("Cancelar"), 0,
                   100) {
        m_dialog.setWindowTitle(QStringLiteral("Copiando..."));
        // Modeless and ownerless: the main window stays usable (ESC, "Sair").
        m_dialog.setWindowModality(Qt::NonModal);
        m_dialog.setMinimumDuration(500); // short copies flash no window
        m_dialog.setAutoReset(false);
        m_dialog.setValue(0);
    }
    bool update(int percent) override {
        m_dialog.setValue(percent);
        pumpEvents();
        return !m_dialog.wasCanceled();
    }

private:
    QProgressDialog m_dialog;
};

} // namespace

std::unique_ptr<ProgressWindow> ProgressWindow::open(const QString& fileName) {
    if (installedFactory())
        return installedFactory()(fileName);
    return std::make_unique<DialogProgress>(fileName);
}

void ProgressWindow::install(Factory factory) {
    installedFactory() = std::move(factory);
}

} // namespace platform
