#include "platform/progresswindow.h"
#include "platform/events.h"

#include <QElapsedTimer>
#include <QProgressDialog>
#include <algorithm>

namespace platform {

namespace {

ProgressWindow::Factory& installedFactory() {
    static ProgressWindow::Factory factory;
    return factory;
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
        m_dialog = std::make_unique<QProgressDialog>(QStringLiteral("Copiando %1").arg(m_fileName),
                                                     QStringLiteral("Cancelar"), 0, 100);
        m_dialog->setWindowTitle(QStringLiteral("Copiando..."));
        // Modeless and ownerless: the main window stays usable (ESC, "Sair").
        m_dialog->setWindowModality(Qt::NonModal);
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

std::unique_ptr<ProgressWindow> ProgressWindow::open(const QString& fileName) {
    if (installedFactory())
        return installedFactory()(fileName);
    return std::make_unique<DialogProgress>(fileName);
}

void ProgressWindow::install(Factory factory) {
    installedFactory() = std::move(factory);
}

} // namespace platform
