#include "cli/failurenotice.h"
#include "cli/unattended.h"
#include "engine/runlog.h"
#include "engine/statustexts.h"
#include "platform/errors.h"
#include "platform/printable.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <cstdio>

namespace cli {

namespace {

void line(std::FILE* stream, const QString& text) {
    std::fprintf(stream, "%s\n", platform::printable(text).toLocal8Bit().constData());
    std::fflush(stream);
}

// Where the user's graphical session is, it has given its display to the
// user's services; a notification server runs only there.
bool graphicalSession() {
    return !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
           !qEnvironmentVariableIsEmpty("DISPLAY");
}

// Shows the notification; the reason when it could not be shown.
QString notify(const QString& summary) {
    QProcess p;
    // Critical: it stays until the operator closes it. The body is fixed
    // text, since notify-send reads escapes and servers read markup in it.
    p.start(QStringLiteral("notify-send"),
            {QStringLiteral("--app-name=Pelivor"), QStringLiteral("--icon=pelivor"),
             QStringLiteral("--urgency=critical"), summary,
             QStringLiteral("Detalhes em Log.txt, na pasta do programa, e em journalctl --user "
                            "-t pelivor.")});
    if (!p.waitForStarted(10000))
        return QStringLiteral("notify-send não pôde ser executado (pacote libnotify-bin): ") +
               p.errorString();
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished();
        return QStringLiteral("notify-send não respondeu");
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        return QStringLiteral("notify-send: ") +
               QString::fromLocal8Bit(p.readAllStandardError()).section(u'\n', 0, 0).trimmed();
    return QString();
}

} // namespace

QString failureText(const QString& status) {
    bool numeric = false;
    const int n = status.toInt(&numeric);
    if (!status.isEmpty() && !numeric)
        return QStringLiteral("encerrada pelo sinal SIG") + status;
    if (numeric && n > ExitBusy)
        return QStringLiteral("%1 (erro %2)").arg(platform::describe(n)).arg(n);
    if (numeric && n == ExitStopped)
        return TRAVO1::stoppedText();
    if (numeric && n == ExitBusy)
        return QStringLiteral("Já há uma cópia desta pasta em andamento.");
    if (numeric && n == ExitRefused)
        return QStringLiteral("cópia recusada antes de começar");
    if (numeric && n == 2)
        return QStringLiteral("linha de comando recusada");
    // A verification that found a file different or missing, or a run
    // that ended otherwise: its record tells more than its status.
    const QString recorded = TRAVO1::LastFailure();
    if (!recorded.isEmpty())
        return recorded;
    return numeric ? QStringLiteral("saída %1").arg(n) : QStringLiteral("veja Log.txt");
}

int noticeFailure() {
    const QString folder = QFileInfo(QCoreApplication::applicationDirPath()).fileName();
    const QString text = platform::printable(
        QStringLiteral("A cópia de segurança de %1 falhou: %2")
            .arg(folder, failureText(qEnvironmentVariable("MONITOR_EXIT_STATUS"))));
    line(stdout, text);
    if (graphicalSession())
        if (const QString why = notify(text); !why.isEmpty())
            line(stderr, QStringLiteral("Aviso na área de trabalho não mostrado: ") + why);
    return 0;
}

} // namespace cli
