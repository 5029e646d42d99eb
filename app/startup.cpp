#include "app/startup.h"
#include "cli/failurenotice.h"
#include "cli/places.h"
#include "cli/unattended.h"
#include "platform/drives.h"
#include "platform/printable.h"
#include "platform/regional.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace startup {

namespace {

const char* const HelpText =
    "Uso: pelivor [opções]\n"
    "\n"
    "Copia a pasta em que o programa está, com as subpastas, para a unidade e a\n"
    "pasta de destino escolhidas na janela. Coloque-o na pasta de um aplicativo\n"
    "com pelivor-instalar e inicie-o pelo lançador dessa pasta.\n"
    "\n"
    "Opções:\n"
    "  --copiar-para DESTINO, --destino DESTINO\n"
    "                 copia sem janela para DESTINO, uma pasta com letra de\n"
    "                 unidade ('E:\\BACKUP') ou do sistema ('/mnt/nas/backup', ou\n"
    "                 relativa à pasta atual), e sai; os textos da janela vão\n"
    "                 para o terminal. Dado duas vezes, copia para um e depois\n"
    "                 para o outro\n"
    "  --verificar DESTINO\n"
    "                 compara, byte a byte, a pasta com a sua cópia em DESTINO e\n"
    "                 mostra cada arquivo diferente, ausente ou não lido\n"
    "  --copiar-para DESTINO --verificar\n"
    "                 verifica a cópia logo depois dela, se ela terminou\n"
    "  --rodizio      copia (ou verifica) na pasta do dia da semana abaixo de\n"
    "                 DESTINO: Segunda, Terça, ..., Domingo\n"
    "  --unidades     mostra as letras de unidade e as pastas que elas nomeiam\n"
    "  --avisar-falha diz que a cópia agendada falhou, e por quê: uma linha e,\n"
    "                 numa sessão gráfica, uma notificação (notify-send)\n"
    "  -h, --help     mostra esta ajuda e sai\n"
    "  -v, --version  mostra a versão e sai\n"
    "\n"
    "Saída de --copiar-para: 0 cópia atualizada; o número do erro informado\n"
    "(61 disco cheio, 70 permissão negada, ...); 3 cópia recusada; 4 cópia\n"
    "interrompida (SIGINT, SIGTERM); 5 outra cópia desta pasta em andamento.\n"
    "Saída de --verificar: 0 todos os arquivos iguais; 1 algum diferente,\n"
    "ausente ou não lido; 76 destino inexistente; 68 destino que sumiu; 3, 4 e\n"
    "5 como na cópia. Com dois destinos, a saída do primeiro que falhou.\n";

int refuse(const QString& what) {
    std::fprintf(stderr, "pelivor: %s (veja pelivor --help)\n",
                 qPrintable(platform::printable(what)));
    return 2;
}

// A host folder as the terminal shows it: its bytes, unless a control
// character in them would break the line or command the terminal.
QByteArray shown(const std::string& hostPath) {
    const QByteArray bytes = QByteArray::fromStdString(hostPath);
    const QString text = QFile::decodeName(bytes);
    const QString escaped = platform::printable(text);
    return escaped == text ? bytes : escaped.toLocal8Bit();
}

struct HeldMessage {
    QtMsgType type;
    const char* file;
    int line;
    const char* function;
    const char* category;
    QString text;
};

QtMessageHandler previousHandler = nullptr;
std::vector<HeldMessage> heldMessages;

QString displayName() {
    for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"})
        if (!qEnvironmentVariableIsEmpty(name))
            return qEnvironmentVariable(name);
    return QString();
}

void holdMessage(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type == QtFatalMsg) {
        const QString display = displayName();
        if (display.isEmpty())
            std::fputs("pelivor: não há tela gráfica (DISPLAY e WAYLAND_DISPLAY vazios); "
                       "inicie o programa numa sessão gráfica.\n",
                       stderr);
        else
            std::fprintf(stderr,
                         "pelivor: não foi possível abrir a tela %s; inicie o programa numa "
                         "sessão gráfica.\n",
                         qPrintable(display));
        std::fflush(stderr);
        std::_Exit(1);
    }
    heldMessages.push_back(
        {type, context.file, context.line, context.function, context.category, text});
}

// The places as drive texts; a refusal's status when one has none.
std::optional<int> driveTexts(const QStringList& arguments, QStringList& texts) {
    for (const QString& argument : arguments) {
        if (argument.isEmpty())
            return refuse(QStringLiteral("falta o DESTINO"));
        const QString destination = cli::destinationText(argument);
        if (destination.isEmpty())
            return refuse(QStringLiteral("destino sem letra de unidade: %1").arg(argument));
        texts << destination;
    }
    return std::nullopt;
}

// Runs `work` with an application object and no window system.
int withApplication(const std::function<int()>& work) {
    static int argc = 1;
    static char name[] = "pelivor";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    return work();
}

int withoutWindow(const QStringList& copies, const QStringList& verifications, bool verify,
                  bool rotate) {
    cli::Plan plan;
    plan.verifyAfterCopy = verify;
    plan.rotate = rotate;
    if (const auto refused = driveTexts(copies, plan.copies))
        return *refused;
    if (const auto refused = driveTexts(verifications, plan.verifications))
        return *refused;
    // No window system: the event loop of the application object carries
    // the stop signals, as it carries ESC in the window.
    return withApplication([&plan] { return cli::runPlan(plan); });
}

} // namespace

std::optional<int> runCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    // The help text lists the options itself, in Portuguese whatever Qt's
    // translations are.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    const QCommandLineOption copyTo({QStringLiteral("copiar-para"), QStringLiteral("destino")},
                                    QString(), QStringLiteral("DESTINO"));
    const QCommandLineOption drives(QStringLiteral("unidades"), QString());
    // A flag: after a copy it needs no value, alone its DESTINO follows it.
    const QCommandLineOption verify(QStringLiteral("verificar"), QString());
    const QCommandLineOption rotate(QStringLiteral("rodizio"), QString());
    // Started by the unit that systemd starts when a scheduled run fails.
    const QCommandLineOption notice(QStringLiteral("avisar-falha"), QString());
    parser.addOptions({help, version, copyTo, drives, verify, rotate, notice});
    if (!parser.parse(arguments)) {
        const QString name = parser.unknownOptionNames().value(0);
        if (!name.isEmpty())
            return refuse(
                QStringLiteral("opção desconhecida: %1%2")
                    .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name));
        // Either the last option lacks its value, or an option that takes
        // none was given one.
        const QString last = arguments.last();
        if (last.startsWith(QLatin1String("--")) && copyTo.names().contains(last.mid(2)))
            return refuse(QStringLiteral("falta o valor de %1").arg(last));
        return refuse(QStringLiteral("linha de comando inválida"));
    }
    if (parser.isSet(help)) {
        std::fputs(HelpText, stdout);
        return 0;
    }
    if (parser.isSet(version)) {
        std::puts("pelivor " PELIVOR_VERSION);
        return 0;
    }
    // Alone, --verificar takes the places that follow it.
    const QStringList places = parser.positionalArguments();
    if (!places.isEmpty() && (!parser.isSet(verify) || parser.isSet(copyTo)))
        return refuse(QStringLiteral("argumento inesperado: %1").arg(places.first()));
    if (parser.isSet(verify) && !parser.isSet(copyTo) && places.isEmpty())
        return refuse(QStringLiteral("falta o DESTINO de --verificar"));
    if (parser.isSet(rotate) && !parser.isSet(copyTo) && !parser.isSet(verify))
        return refuse(QStringLiteral("--rodizio vale com --copiar-para ou --verificar"));
    if (parser.isSet(drives)) {
        for (const platform::Drive& d : platform::DriveTable::current().drives())
            std::printf("%s:\t%s\n", qPrintable(QString(d.letter)), shown(d.hostRoot).constData());
        return 0;
    }
    if (parser.isSet(notice)) {
        if (parser.optionNames().size() > 1 || !places.isEmpty())
            return refuse(QStringLiteral("--avisar-falha vem sozinho"));
        return withApplication([] { return cli::noticeFailure(); });
    }
    if (parser.isSet(copyTo) || parser.isSet(verify))
        return withoutWindow(parser.values(copyTo), places, parser.isSet(verify),
                             parser.isSet(rotate));
    return std::nullopt;
}

void guardWindowSystemStart() {
    previousHandler = qInstallMessageHandler(holdMessage);
}

void windowSystemStarted() {
    qInstallMessageHandler(previousHandler);
    for (const HeldMessage& m : heldMessages)
        previousHandler(m.type, QMessageLogContext(m.file, m.line, m.function, m.category), m.text);
    heldMessages.clear();
}

bool installQtTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    if (!translator->load(platform::regionalLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace startup
