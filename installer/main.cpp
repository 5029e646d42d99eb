// pelivor-instalar: places the program into an application folder with a
// desktop launcher for that folder, or takes both away again.
//   pelivor-instalar [--sistema] [--modelo ARQUIVO] PASTA
//   pelivor-instalar --remover [--sistema] PASTA
// Exit status: 0 done, 1 failed, 2 folder or options refused.

#include "installer/placing.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace placing;

namespace {

constexpr int Failed = 1;
constexpr int Refused = 2;

QString defaultTemplate() {
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           QStringLiteral("/" PELIVOR_TEMPLATE));
}

void printHelp() {
    const QString text =
        QStringLiteral(
            "Uso: pelivor-instalar [opções] PASTA\n"
            "\n"
            "Coloca o Pelivor na pasta de um aplicativo, cujos dados ele copia, e cria\n"
            "no menu de aplicativos um lançador para essa pasta, \"Cópia de Segurança –\n"
            "NOME\". Uma cópia colocada antes é substituída, se não estiver em execução.\n"
            "\n"
            "Opções:\n"
            "  --remover        remove o programa da PASTA e o seu lançador\n"
            "  --sistema        lançador para todos os usuários (como root), em\n"
            "                   /usr/local/share/applications\n"
            "  --modelo ARQUIVO o programa a copiar (padrão: %1)\n"
            "  -h, --help       mostra esta ajuda e sai\n"
            "  -v, --version    mostra a versão e sai\n"
            "\n"
            "Saída: 0 feito, 1 falhou, 2 pasta ou opções recusadas.\n")
            .arg(defaultTemplate());
    std::fputs(qPrintable(text), stdout);
}

// One line, even for a path with a line feed in it.
int say(int status, QString line) {
    for (QChar& c : line)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char('?');
    std::fprintf(status == 0 ? stdout : stderr, "%s%s\n",
                 status == 0 ? "" : "pelivor-instalar: ", qPrintable(line));
    return status;
}

// A placed copy is replaced or removed only while nobody runs it.
int refuseRunning(const QString& program) {
    const qint64 pid = runningProcess(program);
    if (pid == 0)
        return 0;
    return say(Failed,
               QStringLiteral("o programa %1 está em execução (processo %2): feche-o e repita")
                   .arg(program)
                   .arg(pid));
}

QString launcherFolder(bool system) {
    return system ? QStringLiteral("/usr/local/share/applications")
                  : QStandardPaths::writableLocation(QStandardPaths::ApplicationsLocation);
}

int place(const QString& given, const QString& templateFile, const QString& launchers) {
    const QFileInfo info(given);
    if (!info.exists())
        return say(Refused, QStringLiteral("a pasta %1 não existe").arg(given));
    if (!info.isDir())
        return say(Refused, QStringLiteral("%1 não é uma pasta").arg(given));
    const QString folder = info.canonicalFilePath();
    if (const QString refusal = folderRefusal(folder); !refusal.isEmpty())
        return say(Refused, refusal);
    if (!QFileInfo(templateFile).isFile())
        return say(Failed, QStringLiteral("o modelo do programa não existe: %1").arg(templateFile));

    const QString program = folder + QLatin1Char('/') + ProgramName;
    const QFileInfo existing(program);
    if (existing.isSymLink() || (existing.exists() && !existing.isFile()))
        return say(Failed,
                   QStringLiteral("%1 já existe e não é o programa: nada foi mudado").arg(program));
    if (const int status = refuseRunning(program))
        return status;
    if (const QString error = copyProgram(templateFile, folder); !error.isEmpty())
        return say(
            Failed,
            QStringLiteral("não foi possível copiar o programa para %1: %2").arg(folder, error));
    say(0, QStringLiteral("Programa colocado em %1").arg(program));

    QSaveFile launcher(launchers + QLatin1Char('/') + launcherFileName(folder));
    if (!QDir().mkpath(launchers) || !launcher.open(QIODevice::WriteOnly) ||
        launcher.write(launcherText(folder)) < 0 || !launcher.commit())
        return say(
            Failed,
            QStringLiteral("não foi possível gravar o lançador %1").arg(launcher.fileName()));
    return say(0, QStringLiteral("Lançador: %1").arg(launcher.fileName()));
}

int remove(const QString& given, const QString& launchers) {
    const QFileInfo info(given);
    const QString folder =
        info.exists() ? info.canonicalFilePath() : QDir::cleanPath(info.absoluteFilePath());
    if (const QString refusal = folderRefusal(folder); !refusal.isEmpty())
        return say(Refused, refusal);

    bool removed = false;
    const QString program = folder + QLatin1Char('/') + ProgramName;
    const QFileInfo placed(program);
    if (placed.isFile() && !placed.isSymLink()) {
        if (const int status = refuseRunning(program))
            return status;
        if (!QFile::remove(program))
            return say(Failed, QStringLiteral("não foi possível remover %1").arg(program));
        say(0, QStringLiteral("Removido: %1").arg(program));
        removed = true;
    }
    const QString launcher = launchers + QLatin1Char('/') + launcherFileName(folder);
    if (QFileInfo::exists(launcher)) {
        if (!QFile::remove(launcher))
            return say(Failed, QStringLiteral("não foi possível remover %1").arg(launcher));
        say(0, QStringLiteral("Removido: %1").arg(launcher));
        removed = true;
    }
    if (!removed)
        say(0, QStringLiteral("Nada a remover para %1").arg(folder));
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    // The placed program and the launchers are for every user of the folder.
    ::umask(022);
    // A launcher is UTF-8 text: a folder name that is not cannot be written in it.
    for (int i = 1; i < argc; ++i)
        if (!QUtf8StringView(argv[i]).isValidUtf8())
            return say(Refused, QStringLiteral("o argumento %1 não é texto UTF-8 válido").arg(i));

    QCommandLineParser parser;
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QString());
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, QString());
    const QCommandLineOption removing(QStringLiteral("remover"), QString());
    const QCommandLineOption system(QStringLiteral("sistema"), QString());
    const QCommandLineOption templateOption(QStringLiteral("modelo"), QString(),
                                            QStringLiteral("ARQUIVO"));
    parser.addOptions({help, version, removing, system, templateOption});
    const QString seeHelp = QStringLiteral(" (veja pelivor-instalar --help)");
    if (!parser.parse(QCoreApplication::arguments())) {
        const QStringList unknown = parser.unknownOptionNames();
        return say(Refused,
                   (unknown.isEmpty()
                        ? QStringLiteral("falta o ARQUIVO de --modelo")
                        : QStringLiteral("opção desconhecida: --%1").arg(unknown.first())) +
                       seeHelp);
    }
    if (parser.isSet(help)) {
        printHelp();
        return 0;
    }
    if (parser.isSet(version)) {
        std::puts("pelivor-instalar " PELIVOR_VERSION);
        return 0;
    }
    const QStringList folders = parser.positionalArguments();
    if (folders.size() != 1)
        return say(Refused, (folders.isEmpty() ? QStringLiteral("falta a PASTA")
                                               : QStringLiteral("uma PASTA por vez")) +
                                seeHelp);
    if (parser.isSet(system) && ::geteuid() != 0)
        return say(Refused, QStringLiteral("--sistema grava o lançador para todos os usuários e "
                                           "pede o administrador: use sudo"));

    const QString launchers = launcherFolder(parser.isSet(system));
    if (parser.isSet(removing))
        return remove(folders.first(), launchers);
    const QString templateFile =
        parser.isSet(templateOption) ? parser.value(templateOption) : defaultTemplate();
    const int status = place(folders.first(), templateFile, launchers);
    if (status == 0 && !parser.isSet(system) && ::geteuid() == 0)
        say(0, QStringLiteral("Esse lançador é só do root; --sistema o cria para todos."));
    return status;
}
