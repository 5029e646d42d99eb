#pragma once
// The run log "Log.txt" beside the program: one tab-separated record per
// outcome, appended; best effort, never reported.

#include "engine/runevents.h"

namespace TRAVO1 {

// Appends `result` (the status text that shows the outcome), DestPath, the
// error (0 for none) and the date. Leaves the recorded error clear, whether
// or not the log was written, so that a log that cannot be written changes
// nothing else in a run.
void WriteRunLog(const QString& result, int32_t errorNumber = 0,
                 const QString& description = QString());

// The last record of the run log, if it tells of a run that did not end
// well: "Última cópia: " with its date and time to the minute, and its
// result ("Erro na execução da cópia. 61"). Empty when the last run
// completed (and, after it, verified equal), or there is no log to read.
QString LastFailedRun();

// The failure that the most recent record of the run log telling of one
// names, per-file records aside: its error, "Disco cheio (erro 61)", or, for
// a record without one, its result ("Cópia interrompida.", "Verificação: 9
// arquivos iguais, 1 diferente, 0 ausentes"). Empty when none of the last
// 64 KiB does, or there is no log to read.
QString LastFailure();

// Passes a run's events on to `next`, and records the outcomes that the run
// itself meets: a level's error, each file that did not reach the
// destination (the first hundred by name, the rest counted at the end), a
// stopped run and a completed one. An error reported is recorded by
// ReportError, which the window's handlers use as well.
class RunLog final : public RunObserver {
public:
    explicit RunLog(RunObserver& next) : m_next(next) {}

    void runStarted(const QDateTime& at) override { m_next.runStarted(at); }
    void lockUnavailable(int32_t error) override { m_next.lockUnavailable(error); }
    void folderMaking(const QString& destination) override { m_next.folderMaking(destination); }
    void fileInHand(const QString& sourceDir, const QString& destDir,
                    const std::string& name) override {
        m_next.fileInHand(sourceDir, destDir, name);
    }
    void fileVerifying(const QString& destDir, const std::string& name) override {
        m_next.fileVerifying(destDir, name);
    }
    void fileCopied() override { m_next.fileCopied(); }
    void fileFailed(const QString& path, const std::string& hostPath,
                    const platform::RecordedError& error) override;
    void levelFailed(const platform::RecordedError& error) override;
    void runEnded(const RunResult& result) override;
    void errorReported(const platform::RecordedError& error) override {
        m_next.errorReported(error);
    }
    QObject* boxOwner() const override { return m_next.boxOwner(); }

    // Files named in a run's records at most; the rest are counted.
    static constexpr int64_t NamedFailures = 100;

private:
    RunObserver& m_next;
    int64_t m_failures = 0;
};

// The same record from its fields: `result` as RESULTADO, `destination` as
// DESTINO.
void appendRunLog(const QString& result, const QString& destination, int32_t errorNumber = 0,
                  const QString& description = QString());

} // namespace TRAVO1
