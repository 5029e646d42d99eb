#include "cli/verification.h"
#include "cli/unattended.h"
#include "engine/copycommand.h"
#include "engine/reporterror.h"
#include "engine/verify.h"
#include "platform/drives.h"
#include "platform/messagebox.h"
#include "platform/names.h"
#include "platform/printable.h"

#include <cstdio>

namespace cli {

using namespace platform;

namespace {

// A host path on one line: a line feed or an escape in a name is shown.
QString lineSafe(const std::string& hostPath) {
    return printable(hostText(hostPath));
}

void line(std::FILE* stream, const QString& text) {
    std::fprintf(stream, "%s\n", qPrintable(text));
    std::fflush(stream);
}

// What the verification meets, on standard error as it happens.
class TerminalReport : public TRAVO1::VerifyObserver {
public:
    void missing(const std::string& hostPath) override {
        line(stderr, QStringLiteral("Ausente no destino: ") + lineSafe(hostPath));
    }
    void different(const std::string& hostPath) override {
        line(stderr, QStringLiteral("Diferente da origem: ") + lineSafe(hostPath));
    }
    void unreadable(const std::string& hostPath, const RecordedError& error) override {
        line(stderr, QStringLiteral("Não foi possível ler %1: %2 (erro %3)")
                         .arg(lineSafe(hostPath), error.description)
                         .arg(error.number));
    }
    void failed(const RecordedError& error) override {
        const TRAVO1::ErrorMessage message =
            TRAVO1::messageFor(error.number, error.description, QString());
        QString text = message.text;
        text.replace(QLatin1String("\r\n"), QLatin1String(" "));
        text.replace(QLatin1Char('\n'), QLatin1Char(' '));
        line(stderr, QStringLiteral("Erro na verificação: ") + text.simplified());
    }
    void stopped() override {}
    void finished(const TRAVO1::VerifyCounts&) override {}
};

int exitStatus(const TRAVO1::VerifyOutcome& outcome) {
    using TRAVO1::VerifyEnd;
    switch (outcome.end) {
    case VerifyEnd::Equal:
        return 0;
    case VerifyEnd::Unequal:
        return ExitUnfinished; // as cmp and diff say "not the same"
    case VerifyEnd::Failed:
        return outcome.error.number > 0 && outcome.error.number < 256 ? outcome.error.number
                                                                      : ExitUnfinished;
    case VerifyEnd::Stopped:
        return ExitStopped;
    case VerifyEnd::Busy:
        return ExitBusy;
    case VerifyEnd::Refused:
        return ExitRefused;
    }
    return ExitUnfinished;
}

} // namespace

int runVerification(const QString& destination) {
    catchStopSignals();
    MessageBox::install([](const MessageRequest& request) {
        line(stderr, MessageBox::oneLine(request));
        return MessageBox::defaultAnswer(request.style);
    });
    if (!TRAVO1::StartAllowed(currentDirectory()))
        return ExitRefused;
    TerminalReport report;
    const TRAVO1::VerifyOutcome outcome = TRAVO1::VerifyCopy(programFolder(), destination, report);
    if (outcome.end != TRAVO1::VerifyEnd::Busy && outcome.end != TRAVO1::VerifyEnd::Refused)
        line(stdout, TRAVO1::verifyResultText(outcome));
    return exitStatus(outcome);
}

} // namespace cli
