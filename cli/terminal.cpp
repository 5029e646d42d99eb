#include "cli/terminal.h"
#include "platform/messagebox.h"
#include "platform/progresswindow.h"

#include <QLocale>
#include <sys/ioctl.h>
#include <unistd.h>

namespace cli {

using namespace platform;

namespace {

const QString Copying = QStringLiteral("Copiando De: ");
const QString Creating = QStringLiteral("Criando diretório ");
const QString Verifying = QStringLiteral("Verificando ");

// Progress texts come once a file; the others (an error of a level, the
// end) are each worth a line.
bool isProgress(const QString& text) {
    return text.startsWith(Copying) || text.startsWith(Creating) || text.startsWith(Verifying);
}

int terminalColumns(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace

TerminalWindow::TerminalWindow(const QString& from, const QString& to, std::FILE* out,
                               std::FILE* err)
    : m_from(from), m_to(to), m_out(out), m_err(err), m_terminal(::isatty(::fileno(out))) {}

void TerminalWindow::setLblCopyInfo(const QString& caption) {
    m_file.pending = false;
    m_status = caption;
    if (!isProgress(caption))
        line(m_out, caption);
    else if (due())
        showProgress(caption);
}

QString TerminalWindow::lblCopyInfo() const {
    return m_file.pending ? m_file.status() : m_status;
}

void TerminalWindow::showCopying(const QString& sourceDir, const QString& destDir,
                                 const std::string& name) {
    ++m_seen;
    m_file.set(sourceDir, destDir, name);
    if (due())
        showProgress(m_file.status());
}

bool TerminalWindow::due() {
    // A line a second in a journal; a terminal redraws ten times as often.
    const int every = m_terminal ? 100 : 1000;
    if (m_shown.isValid() && m_shown.elapsed() < every)
        return false;
    m_shown.start();
    return true;
}

void TerminalWindow::showProgress(const QString& text) {
    if (m_terminal)
        drawProgress(text.startsWith(Copying) ? text.mid(Copying.size()) : text);
    else
        line(m_out, text);
}

void TerminalWindow::message(const QString& text) {
    line(m_err, text);
}

void TerminalWindow::largeCopy(const QString& name, int percent) {
    if (m_terminal && (!m_shown.isValid() || m_shown.elapsed() >= 100)) {
        m_shown.start();
        drawProgress(QStringLiteral("%1 %2%").arg(name).arg(percent));
    }
}

void TerminalWindow::finish() {
    clearProgress();
    if (const QString status = lblCopyInfo(); isProgress(status))
        line(m_out, status); // where a stopped run was
}

void TerminalWindow::line(std::FILE* stream, const QString& text) {
    clearProgress();
    std::fprintf(stream, "%s\n", qPrintable(text));
    std::fflush(stream);
}

void TerminalWindow::drawProgress(const QString& current) {
    const QLocale locale;
    QString text = QStringLiteral("%1 arquivos vistos, %2 copiados: %3")
                       .arg(locale.toString(m_seen), locale.toString(m_copied), current);
    // One line, so that a carriage return goes back to its start: the
    // file's name gives way from its beginning, where the path repeats.
    const int room = terminalColumns(m_out) - 1;
    if (text.size() > room)
        text = QStringLiteral("…") + text.right(std::max(room - 1, 0));
    std::fprintf(m_out, "\r\033[K%s", qPrintable(text));
    std::fflush(m_out);
    m_drawn = true;
}

void TerminalWindow::clearProgress() {
    if (!m_drawn)
        return;
    std::fputs("\r\033[K", m_out);
    std::fflush(m_out);
    m_drawn = false;
}

namespace {

class TerminalProgress : public ProgressWindow {
public:
    TerminalProgress(TerminalWindow& window, const QString& name, bool (*stopRequested)())
        : m_window(window), m_name(name), m_stopRequested(stopRequested) {}
    bool update(int percent) override {
        m_window.largeCopy(m_name, percent);
        return !m_stopRequested();
    }

private:
    TerminalWindow& m_window;
    QString m_name;
    bool (*m_stopRequested)();
};

} // namespace

void installTerminalServices(TerminalWindow& window, bool (*stopRequested)()) {
    MessageBox::install([&window](const MessageRequest& request) {
        window.message(MessageBox::oneLine(request));
        return MessageBox::defaultAnswer(request.style);
    });
    ProgressWindow::install([&window, stopRequested](const QString& name) {
        return std::make_unique<TerminalProgress>(window, name, stopRequested);
    });
}

} // namespace cli
