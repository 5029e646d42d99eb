#pragma once
// A run without a window: what the operator would have seen of its events,
// on the terminal. Status texts go to standard output, message boxes
// to standard error; on a terminal a progress line is redrawn in place, on a
// pipe or in a journal only plain lines are written, rate-limited. Names are
// written printable(): a line feed or an ESC in one is shown, not obeyed.

#include "engine/runevents.h"
#include "engine/statustexts.h"

#include "platform/clock.h"

#include <cstdio>
#include <optional>

namespace cli {

class TerminalWindow : public TRAVO1::RunObserver {
public:
    // Once `stopRequested` says so, a reader that stopped taking the texts
    // (a full pipe, a terminal on hold) no longer keeps the run waiting:
    // what it does not take at once is dropped.
    TerminalWindow(std::FILE* out, std::FILE* err, bool (*stopRequested)() = nullptr);

    void runStarted(const QDateTime& at) override { line(m_out, TRAVO1::startTimeText(at)); }
    void lockUnavailable(int32_t error) override { line(m_err, TRAVO1::noLockText(error)); }
    void folderMaking(const QString& destination) override;
    void fileInHand(const QString& sourceDir, const QString& destDir,
                    const std::string& name) override;
    void fileVerifying(const QString& destDir, const std::string& name) override;
    void fileCopied() override { ++m_copied; }
    // On standard error as it happens: "Não copiado: " with the host path,
    // the error's description and number.
    void fileFailed(const QString& path, const std::string& hostPath,
                    const platform::RecordedError& error) override;
    void levelFailed(const platform::RecordedError& error) override;
    void runEnded(const TRAVO1::RunResult& result) override;
    void errorReported(const platform::RecordedError& error) override;

    // A message box as one line on standard error.
    void message(const QString& text);
    // A large file's progress, on a terminal.
    void largeCopy(const QString& name, int percent);
    // The status line's last text, last of all.
    void finish();
    // How many files did not reach the destination ("3 arquivos não
    // copiados"), when any did not: the run's last line.
    void failedCount();
    // A line of the command line's own on standard output.
    void say(const QString& text) { line(m_out, text); }

private:
    void line(std::FILE* stream, const QString& text);
    // Writes the bytes to the stream's file descriptor, past its buffer.
    void put(std::FILE* stream, const QByteArray& bytes);
    // Whether the next progress text is to be written now, and then writing it.
    bool due();
    void showProgress(const QString& text);
    void drawProgress(const QString& current);
    void clearProgress();

    // A status text, as the status line would show it: each a line but the
    // progress texts, which come once a file and are shown now and then.
    void status(const QString& text, bool progress);
    QString lastStatus() const;

    QString m_status;
    bool m_statusIsProgress = false;
    TRAVO1::FileInHand m_file; // the status, while it is the file's
    std::FILE* m_out;
    std::FILE* m_err;
    bool (*m_stopRequested)();
    bool m_terminal;      // standard output is a terminal: the progress line
    bool m_drawn = false; // the progress line is on the screen
    int64_t m_seen = 0;   // files the run looked at
    int64_t m_copied = 0; // and those it copied
    int64_t m_failed = 0; // and the files and folders that did not reach the destination
    // When the last progress was written; asked at every file.
    std::optional<platform::CoarseClock::time_point> m_shown;
};

// Makes the engine's message boxes and large-copy windows those of `window`.
// A large copy is cancelled once `stopRequested` says so.
void installTerminalServices(TerminalWindow& window, bool (*stopRequested)());

} // namespace cli
