#include "engine/reporterror.h"
#include "engine/jobstate.h"
#include "engine/runlog.h"
#include "engine/statustexts.h"
#include "platform/errors.h"
#include "platform/messagebox.h"

namespace TRAVO1 {

using namespace platform;

ErrorMessage messageFor(int32_t number, const QString& description, const QString& name) {
    const QString copyError = QStringLiteral("Erro de Cópia");
    const QString lf2 = QStringLiteral("\n\n");
    switch (number) {
    case ErrInvalidCall:
        return {false, {}, 0, {}};
    case ErrBadFileName:
        return {true,
                QStringLiteral("Nome de arquivo inválido! (erro 52)") + lf2 + name,
                MbExclamation,
                {}};
    case ErrFileNotFound:
        return {true,
                QStringLiteral("Arquivo não encontrado! (erro 53)") + lf2 + name,
                MbExclamation,
                {}};
    case ErrDeviceIO:
        return {true, QStringLiteral("O disco de destino não está pronto! (erro 57)"), MbCritical,
                copyError};
    case ErrDiskFull:
        return {true, QStringLiteral("Drive de destino cheio! (erro 61)"), MbExclamation,
                copyError};
    case ErrDeviceUnavailable:
        return {true, QStringLiteral("Diretório ou drive de não disponível! (erro 68)"), MbCritical,
                copyError};
    case ErrPermissionDenied:
        return {true,
                QStringLiteral("Diretório ou drive de destino protegido! (erro 70)\r\n"
                               "Ou programa está sendo usado por algum usuário.\r\n"
                               "Feche o programa que está sendo copiado e faça a cópia novamente"),
                MbCritical, QStringLiteral("Erro na cópia")};
    case ErrDiskNotReady:
        return {true, QStringLiteral("O disco de destino não está pronto! (erro 71)"), MbCritical,
                copyError};
    case ErrPathFileAccess:
        return {true, QStringLiteral("Erro de acesso ao Arquivo! (erro 75)"), MbCritical,
                copyError};
    case ErrPathNotFound:
        return {true, QStringLiteral("Diretório de destino inexistente! (erro 76)"), MbCritical,
                copyError};
    default:
        return {true,
                QStringLiteral("Erro imprevisto!") + lf2 + QString::number(number) +
                    QStringLiteral(": ") + description,
                MbCritical, copyError};
    }
}

void ReportError(RunObserver& events) {
    const RecordedError error = Err();
    const ErrorMessage message = messageFor(error.number, error.description, CurrentName.text());
    if (message.shown)
        MessageBox::show(message.text, MbOk | message.style, message.title);
    events.errorReported(error);
    WriteRunLog(reportedText(error.number), error.number, error.description);
}

} // namespace TRAVO1
