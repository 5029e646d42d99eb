#include "cli/terminal.h"
#include "platform/messagebox.h"
#include "platform/names.h"
#include "platform/printable.h"
#include "platform/progresswindow.h"

#include <QLocale>
#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace cli {

using namespace platform;

namespace {

const QString Copying = QStringLiteral("Copiando De: ");

int terminalColumns(std::FILE* stream) {
    winsize size{};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
        return size.ws_col;
    return 80;
}

} // namespace

TerminalWindow::TerminalWindow(std::FILE* out, std::FILE* err, bool (*stopRequested)())
    : m_out(out), m_err(err), m_stopRequested(stopRequested), m_terminal(::isatty(::fileno(out))) {}

void TerminalWindow::status(const QString& text, bool progress) {
    m_file.pending = false;
    m_status = text;
    m_statusIsProgress = progress;
    if (!progress)
        line(m_out, text);
    else if (due())
        showProgress(text);
}

QString TerminalWindow::lastStatus() const {
    return m_file.pending ? m_file.status() : m_status;
}

void TerminalWindow::folderMaking(const QString& destination) {
    status(TRAVO1::folderMakingText(destination), true);
}

void TerminalWindow::fileInHand(const QString& sourceDir, const QString& destDir,
                                const std::string& name) {
    ++m_seen;
    m_file.set(sourceDir, destDir, name);
    if (due())
        showProgress(m_file.status());
}

void TerminalWindow::fileVerifying(const QString& destDir, const std::string& name) {
    status(TRAVO1::verifyingText(destDir, name), true);
}

void TerminalWindow::fileFailed(const QString& path, const std::string& hostPath,
                                const platform::RecordedError& error) {
    ++m_failed;
    line(m_err, QStringLiteral("%1: %2 (erro %3)")
                    .arg(TRAVO1::notCopiedText(hostPath.empty() ? path : hostText(hostPath)),
                         error.description)
                    .arg(error.number));
}

void TerminalWindow::levelFailed(const platform::RecordedError& error) {
    status(TRAVO1::levelFailedText(error), false);
}

void TerminalWindow::runEnded(const TRAVO1::RunResult& result) {
    if (result.end != TRAVO1::RunEnd::Completed)
        return;
    line(m_out, TRAVO1::endTimeText(result.at));
    status(TRAVO1::completedText(result.at), false);
}

void TerminalWindow::errorReported(const platform::RecordedError& error) {
    status(TRAVO1::reportedText(error.number), false);
}

bool TerminalWindow::due() {
    // A line a second in a journal; a terminal redraws ten times as often.
    const auto every = std::chrono::milliseconds(m_terminal ? 100 : 1000);
    const auto now = platform::CoarseClock::now();
    if (m_shown && now - *m_shown < every)
        return false;
    m_shown = now;
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
    if (m_terminal && due())
        drawProgress(QStringLiteral("%1 %2%").arg(name).arg(percent));
}

void TerminalWindow::finish() {
    clearProgress();
    if (m_file.pending || m_statusIsProgress)
        line(m_out, lastStatus()); // where a stopped run was
}

void TerminalWindow::failedCount() {
    if (m_failed > 0)
        line(m_out, TRAVO1::notCopiedCountText(m_failed));
}

void TerminalWindow::line(std::FILE* stream, const QString& text) {
    clearProgress();
    put(stream, printable(text).toLocal8Bit() + '\n');
}

void TerminalWindow::put(std::FILE* stream, const QByteArray& bytes) {
    const int fd = ::fileno(stream);
    for (qsizetype done = 0; done < bytes.size();) {
        pollfd room{fd, POLLOUT, 0};
        const bool stopping = m_stopRequested && m_stopRequested();
        if (stopping && (::poll(&room, 1, 0) != 1 || !(room.revents & POLLOUT)))
            return;
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n > 0)
            done += n;
        else if (n < 0 && errno == EAGAIN) // a descriptor made non-blocking by another
            ::poll(&room, 1, -1);
        else if (n == 0 || errno != EINTR) // the reader is gone
            return;
    }
}

void TerminalWindow::drawProgress(const QString& current) {
    const QLocale locale;
    const QString counts = QStringLiteral("%1 arquivos vistos, %2 copiados: ")
                               .arg(locale.toString(m_seen), locale.toString(m_copied));
    // One line, so that a carriage return goes back to its start: the counts
    // stay, the file's name gives way from its beginning, where the path repeats.
    const qsizetype room = terminalColumns(m_out) - 1 - counts.size();
    QString name = printable(current);
    if (name.size() > room)
        name = room > 1 ? QStringLiteral("…") + name.right(room - 1) : QString();
    put(m_out, "\r\033[K" + (counts + name).toLocal8Bit());
    m_drawn = true;
}

void TerminalWindow::clearProgress() {
    if (!m_drawn)
        return;
    put(m_out, "\r\033[K");
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
