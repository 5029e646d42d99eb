#include "engine/runlog.h"
#include "engine/jobstate.h"
#include "engine/statustexts.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/printable.h"
#include "platform/regional.h"

namespace TRAVO1 {

using namespace platform;

void WriteRunLog(const QString& result, int32_t errorNumber, const QString& description) {
    appendRunLog(result, DestPath, errorNumber, description);
}

void appendRunLog(const QString& result, const QString& destination, int32_t errorNumber,
                  const QString& description) {
    clearError();
    try {
        const QString crlf = QStringLiteral("\r\n");
        const QChar tab = QLatin1Char('\t');
        const QString date = generalDate();
        const QString header = QStringLiteral("RESULTADO\tDESTINO\tERROS\tDATA\t") + date + crlf;
        const QString errors = (errorNumber >= 0 ? QStringLiteral(" ") : QString()) +
                               QString::number(errorNumber) + QLatin1Char(' ') + description;
        // A name holding a tab or a line break would forge fields or records.
        const QString record = printable(result) + tab + printable(destination) + tab +
                               printable(errors) + tab + date + crlf;
        FileSystem& fs = FileSystem::get();
        fs.appendText(fs.openDirectory(DriveTable::current().toHost(programFolder())), "Log.txt",
                      toSystemEncoding(header), toSystemEncoding(record));
    } catch (const Failure&) {
        // best effort: the caller goes on as if the record had been written
    }
    clearError();
}

namespace {

// The records at the end of the run log, oldest first, each as its fields
// (RESULTADO, DESTINO, ERROS, DATA); the header and a line cut by the start
// of the tail left out.
QList<QStringList> lastRecords() {
    const qint64 tailBytes = 64 * 1024;
    const KeepRecordedError kept; // a log that cannot be read tells nothing
    QByteArray tail;
    resumeNext([&] {
        FileSystem& fs = FileSystem::get();
        tail = fs.textTail(fs.openDirectory(DriveTable::current().toHost(programFolder())),
                           "Log.txt", tailBytes);
    });
    // CRLF as the program writes it; a line feed alone where a hand edited it.
    QStringList lines = fromSystemEncoding(tail).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (QString& line : lines)
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    if (tail.size() == tailBytes && !lines.isEmpty())
        lines.removeFirst();
    QList<QStringList> records;
    for (const QString& line : std::as_const(lines)) {
        const QStringList fields = line.split(QLatin1Char('\t'));
        if (fields.size() >= 4 && fields[0] != QLatin1String("RESULTADO"))
            records << fields;
    }
    return records;
}

// Whether a record tells of a run that did not end well: all but a completed
// copy and a verification that found every file the same. A verification
// that found files different or missing has no error of its own: its
// counts tell.
bool tellsOfFailure(const QStringList& record) {
    const QString& result = record[0];
    const bool verifiedEqual = result.startsWith(QStringLiteral("Verificação: ")) &&
                               result.endsWith(QStringLiteral(", 0 diferentes, 0 ausentes")) &&
                               record[2] == QLatin1String(" 0 ");
    return !result.startsWith(QStringLiteral("Cópia Atualizada")) && !verifiedEqual;
}

// Whether a record names one file that did not reach the destination, or
// counts those the run left unnamed: part of a run's failure, not its end.
bool perFile(const QStringList& record) {
    return record[0].startsWith(notCopiedText(QString())) ||
           record[0].startsWith(QStringLiteral("... e mais "));
}

} // namespace

QString LastFailedRun() {
    const QList<QStringList> records = lastRecords();
    if (records.isEmpty() || !tellsOfFailure(records.last()))
        return QString();
    const QStringList& last = records.last();
    // "07/12/2026 22:30:05" to the minute; a midnight record has no time.
    const QString when = last[3].size() > 16 ? last[3].left(16) : last[3];
    return QStringLiteral("Última cópia: ") + when + QStringLiteral(" - ") + last[0];
}

QString LastFailure() {
    const QList<QStringList> records = lastRecords();
    for (auto record = records.crbegin(); record != records.crend(); ++record) {
        if (perFile(*record) || !tellsOfFailure(*record))
            continue;
        // ERROS: " 61 Disco cheio", " 0 " for none.
        const QString errors = (*record)[2].trimmed();
        const qsizetype blank = errors.indexOf(QLatin1Char(' '));
        const int number = errors.left(blank).toInt();
        if (number == 0 || blank < 0)
            return (*record)[0];
        return QStringLiteral("%1 (erro %2)").arg(errors.mid(blank + 1)).arg(number);
    }
    return QString();
}

void RunLog::fileFailed(const QString& path, const std::string& hostPath,
                        const RecordedError& error) {
    m_next.fileFailed(path, hostPath, error);
    // The run goes on with its recorded error, which may be this one.
    const KeepRecordedError kept;
    if (++m_failures <= NamedFailures)
        WriteRunLog(notCopiedText(path), error.number, error.description);
}

void RunLog::levelFailed(const RecordedError& error) {
    m_next.levelFailed(error);
    WriteRunLog(levelFailedText(error), error.number, error.description);
}

void RunLog::runEnded(const RunResult& result) {
    m_next.runEnded(result);
    if (result.end == RunEnd::Completed) {
        WriteRunLog(completedText(result.at));
        return;
    }
    // A reported run's error is reported next: it stays recorded.
    const KeepRecordedError kept;
    if (m_failures > NamedFailures)
        WriteRunLog(moreNotCopiedText(m_failures - NamedFailures));
    if (result.end == RunEnd::Stopped)
        WriteRunLog(stoppedText());
}

} // namespace TRAVO1
