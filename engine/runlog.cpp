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

QString LastFailedRun() {
    const KeepRecordedError kept; // a log that cannot be read tells nothing
    QString last;
    resumeNext([&] {
        FileSystem& fs = FileSystem::get();
        const QByteArray tail = fs.textTail(
            fs.openDirectory(DriveTable::current().toHost(programFolder())), "Log.txt", 64 * 1024);
        const QStringList lines =
            fromSystemEncoding(tail).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        if (!lines.isEmpty())
            last = lines.last();
    });
    // RESULTADO, DESTINO, ERROS, DATA.
    const QStringList fields = last.split(QLatin1Char('\t'));
    if (fields.size() < 4 || fields[0] == QLatin1String("RESULTADO"))
        return QString();
    const QString& result = fields[0];
    if (result.startsWith(QStringLiteral("Cópia Atualizada")) ||
        (result.startsWith(QStringLiteral("Verificação")) && fields[2] == QLatin1String(" 0 ")))
        return QString();
    // "07/12/2026 22:30:05" to the minute; a midnight record has no time.
    const QString when = fields[3].size() > 16 ? fields[3].left(16) : fields[3];
    return QStringLiteral("Última cópia: ") + when + QStringLiteral(" - ") + result;
}

void RunLog::levelFailed(const RecordedError& error) {
    m_next.levelFailed(error);
    WriteRunLog(levelFailedText(error), error.number, error.description);
}

void RunLog::runEnded(const RunResult& result) {
    m_next.runEnded(result);
    if (result.end == RunEnd::Completed)
        WriteRunLog(completedText(result.at));
}

} // namespace TRAVO1
