#pragma once
// What a copy run is asked to do, and what it tells as it goes: one request
// in, domain events out. The window, the terminal, the benchmark and the
// tests each turn the events into what they show; the engine never names a
// control.

#include "platform/errors.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <string>

class QObject;

namespace TRAVO1 {

// What the operator chose for one run.
struct RunRequest {
    QString from;    // the source folder as the window shows it, "C:\APP"
    QString to;      // the destination folder, "D:\BACKUP"
    QString pattern; // the file names taken; "*.*" and "" take every one
    bool subfolders = true;
};

// How a run ended.
enum class RunEnd {
    Completed, // every file at the destination, flushed: "Cópia Atualizada"
    Reported,  // with `error`, reported through ReportError after the end
    Refused,   // a refusal box; nothing was made
    Busy,      // another run of the program's folder is in progress
    Stopped,   // a stop request or a cancelled large copy cut it short
    Unfinished // the tree copy ended otherwise
};

struct RunResult {
    RunEnd end = RunEnd::Unfinished;
    int32_t error = 0;  // the error reported
    QDateTime at;       // when it ended
    int64_t copied = 0; // files that reached the destination
    int64_t failed = 0; // files and folders that did not
};

// Receives a run's events, in order, on the thread that runs it. Each has a
// default that ignores it.
class RunObserver {
public:
    virtual ~RunObserver() = default;

    // The run has passed its checks and begins.
    virtual void runStarted(const QDateTime& /*at*/) {}
    // No run lock could be taken (the error says why): the run goes on, and
    // nothing keeps another run of the folder from meeting it.
    virtual void lockUnavailable(int32_t /*error*/) {}
    // A destination folder is being made; `destination` is its text.
    virtual void folderMaking(const QString& /*destination*/) {}
    // The file in hand: `sourceDir` and `destDir` are the folders' texts,
    // ending in "\", `name` the host name. Once per file: a front end that
    // shows a few a second composes its texts only when it shows them.
    virtual void fileInHand(const QString& /*sourceDir*/, const QString& /*destDir*/,
                            const std::string& /*name*/) {}
    // A copy that an unfinished run may have torn is compared with its source.
    virtual void fileVerifying(const QString& /*destDir*/, const std::string& /*name*/) {}
    virtual void fileCopied() {}
    // A file or folder that did not reach the destination: `path` is its
    // source text, "C:\APP\DADOS\VENDAS.DBF", `hostPath` its source's host
    // path, exact where the text is not (a folder's text is upper case, a
    // name that is not UTF-8 is not kept); empty when not known.
    virtual void fileFailed(const QString& /*path*/, const std::string& /*hostPath*/,
                            const platform::RecordedError& /*error*/) {}
    // A level of the tree ended on an error.
    virtual void levelFailed(const platform::RecordedError& /*error*/) {}
    // The run is over. A run that ends Reported is reported next, so that
    // a front end shows the run over before the error's box waits.
    virtual void runEnded(const RunResult& /*result*/) {}
    // An error shown to the operator, after its message box: a run's, or a
    // failing handler's of the window.
    virtual void errorReported(const platform::RecordedError& /*error*/) {}

    // The owner of the run's message boxes, if any.
    virtual QObject* boxOwner() const { return nullptr; }

    // Whether a run that reports to this observer has not ended yet: a
    // second run inside the first would share the engine's state with it.
    bool runInProgress() const { return m_running; }

private:
    friend class RunInProgress;
    bool m_running = false;
};

// Marks an observer's run as in progress for its lifetime.
class RunInProgress {
public:
    explicit RunInProgress(RunObserver& events) : m_events(events) { m_events.m_running = true; }
    ~RunInProgress() { m_events.m_running = false; }
    RunInProgress(const RunInProgress&) = delete;
    RunInProgress& operator=(const RunInProgress&) = delete;

private:
    RunObserver& m_events;
};

} // namespace TRAVO1
