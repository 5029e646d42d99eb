#include "engine/runlog.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/regional.h"

namespace TRAVO1 {

using namespace platform;

void WriteRunLog(WindowModel& w, int32_t errorNumber, const QString& description) {
    appendRunLog(w.lblCopyInfo(), DestPath, errorNumber, description);
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
        const QString record = result + tab + destination + tab + errors + tab + date + crlf;
        const std::string path =
            DriveTable::current().toHost(programFolder() + QStringLiteral("\\Log.txt"));
        FileSystem::get().appendText(path, toSystemEncoding(header), toSystemEncoding(record));
    } catch (const Failure&) {
        // best effort: the caller goes on as if the record had been written
    }
    clearError();
}

} // namespace TRAVO1
