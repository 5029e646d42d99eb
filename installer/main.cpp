// pelivor-instalar: places the program into an application folder with a
// desktop launcher for that folder, or takes both away again; with
// --agendar, also a nightly copy of the folder as a systemd user timer.
//   pelivor-instalar [--sistema [--grupo GRUPO]] [--modelo ARQUIVO] PASTA
//   pelivor-instalar --agendar DESTINO [--agendar DESTINO2] HH:MM [--verificar]
//                    [--rodizio] [--criar] [--modelo ARQUIVO] PASTA
//   pelivor-instalar --remover [--sistema] PASTA
//   pelivor-instalar --listar
// Exit status: 0 done, 1 failed, 2 folder or options refused.

#include "installer/groupaccess.h"
#include "installer/placing.h"
#include "installer/schedule.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QSaveFile>
#include <QStandardPaths>
#include <cstdio>
#include <grp.h>
#include <pwd.h>
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
            "     pelivor-instalar --agendar DESTINO HH:MM [opções] PASTA\n"
            "     pelivor-instalar --listar\n"
            "\n"
            "Coloca o Pelivor na pasta de um aplicativo, cujos dados ele copia, e cria\n"
            "no menu de aplicativos um lançador para essa pasta, \"Cópia de Segurança –\n"
            "NOME\". Uma cópia colocada antes é substituída, se não estiver em execução.\n"
            "\n"
            "Opções:\n"
            "  --agendar DESTINO HH:MM\n"
            "                   também copia a PASTA para DESTINO todo dia às HH:MM,\n"
            "                   sem janela (pelivor --copiar-para DESTINO), por um\n"
            "                   temporizador do systemd do usuário; dado duas vezes\n"
            "                   (--agendar DESTINO --agendar DESTINO2 HH:MM), copia\n"
            "                   para um e depois para o outro. Uma cópia que falha é\n"
            "                   avisada no diário e, numa sessão gráfica, na área de\n"
            "                   trabalho (notify-send)\n"
            "  --verificar      com --agendar: compara cada cópia com a pasta, byte a\n"
            "                   byte, logo depois dela\n"
            "  --rodizio        com --agendar: copia na pasta do dia da semana abaixo\n"
            "                   de DESTINO (Segunda, Terça, ..., Domingo)\n"
            "  --criar          com --agendar: cria o DESTINO que não existe\n"
            "  --remover        remove o programa da PASTA, o seu lançador e o seu\n"
            "                   agendamento\n"
            "  --sistema        lançador para todos os usuários (como root), em\n"
            "                   /usr/local/share/applications\n"
            "  --grupo GRUPO    com --sistema: os membros do GRUPO gravam Log.txt e\n"
            "                   usam a trava de cópia da PASTA; só o root grava o\n"
            "                   programa e a pasta\n"
            "  --listar         lista as cópias colocadas e os seus lançadores, do\n"
            "                   usuário e de /usr/local/share/applications\n"
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

// One line on standard error that does not stop the command.
void warn(const QString& line) {
    std::fprintf(stderr, "pelivor-instalar: aviso: %s\n", qPrintable(line));
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

QString unitFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/systemd/user");
}

// systemctl --user with these arguments; false when it is missing or fails,
// as where no user service manager runs, with its complaint in `error`.
bool systemctl(const QStringList& arguments, QString* error = nullptr) {
    QProcess p;
    p.start(QStringLiteral("systemctl"), QStringList{QStringLiteral("--user")} + arguments);
    const bool done =
        p.waitForFinished(30000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (!done && error) {
        *error = QString::fromLocal8Bit(p.readAllStandardError()).section(u'\n', 0, 0).trimmed();
        if (error->isEmpty())
            *error = p.errorString();
    }
    return done;
}

QString userName() {
    const passwd* entry = ::getpwuid(::geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : qEnvironmentVariable("USER");
}

// The destinations as the service will name them, each an existing folder
// or, with `create`, one to be made (`missing`); a status when one is refused.
int destinationsOf(const QStringList& given, bool create, QStringList& texts,
                   QStringList& missing) {
    for (const QString& argument : given) {
        const Destination destination = scheduledDestination(argument);
        texts << destination.text;
        if (!destination.host.isEmpty() && QFileInfo(destination.host).isDir())
            continue;
        // A nightly copy into a folder that is not there would only fail.
        if (!create || destination.host.isEmpty())
            return say(Refused,
                       QStringLiteral("o DESTINO %1 não existe%2")
                           .arg(argument, destination.host.isEmpty()
                                              ? QString()
                                              : QStringLiteral(": crie-o, ou use --criar")));
        missing << destination.host;
    }
    return 0;
}

int makeFolders(const QStringList& folders) {
    for (const QString& folder : folders) {
        if (!QDir().mkpath(folder))
            return say(Failed, QStringLiteral("não foi possível criar %1").arg(folder));
        say(0, QStringLiteral("Pasta criada: %1").arg(folder));
    }
    return 0;
}

int schedule(const QString& given, const QStringList& destinations, const RunOptions& options,
             int hour, int minute) {
    const QString folder = QFileInfo(given).canonicalFilePath();
    const Schedule units = nightlySchedule(folder, destinations, options, hour, minute);
    const QString folderOfUnits = unitFolder();
    for (const auto& [file, text] :
         {std::pair{units.service, units.serviceText}, std::pair{units.timer, units.timerText},
          std::pair{units.notice, units.noticeText}}) {
        QSaveFile unit(folderOfUnits + QLatin1Char('/') + file);
        if (!QDir().mkpath(folderOfUnits) || !unit.open(QIODevice::WriteOnly) ||
            unit.write(text) < 0 || !unit.commit())
            return say(Failed, QStringLiteral("não foi possível gravar %1").arg(unit.fileName()));
        say(0, QStringLiteral("Agendamento: %1").arg(unit.fileName()));
    }
    say(0, QStringLiteral("Unidades: %1, %2 e %3").arg(units.service, units.timer, units.notice));
    if (const QString user = userName(); !lingers(user))
        say(0, QStringLiteral("Para a cópia rodar sem ninguém na sessão, uma vez: sudo loginctl "
                              "enable-linger %1")
                   .arg(user));
    QString error;
    // A timer that is not enabled never runs: that is a failure, not a hint.
    if (!systemctl({QStringLiteral("daemon-reload")}, &error) ||
        !systemctl({QStringLiteral("enable"), QStringLiteral("--now"), units.timer}, &error))
        return say(Failed, QStringLiteral("o temporizador não foi ativado, o gerenciador de "
                                          "serviços do usuário não respondeu (%1); as unidades "
                                          "ficaram gravadas: ative-as numa sessão do usuário com "
                                          "systemctl --user daemon-reload && systemctl --user "
                                          "enable --now %2")
                               .arg(error, units.timer));
    return say(0, QStringLiteral("Cópia agendada todo dia às %1:%2; situação: systemctl --user "
                                 "status %3; linhas: journalctl --user -u %3")
                      .arg(hour, 2, 10, QLatin1Char('0'))
                      .arg(minute, 2, 10, QLatin1Char('0'))
                      .arg(units.service));
}

// The schedule of a folder, if it has one: stopped, then its units removed.
int unschedule(const QString& folder, bool& removed) {
    const Schedule units = nightlySchedule(folder, {}, {}, 0, 0);
    const QString timer = unitFolder() + QLatin1Char('/') + units.timer;
    QString error;
    const bool stopped =
        !QFileInfo::exists(timer) ||
        systemctl({QStringLiteral("disable"), QStringLiteral("--now"), units.timer}, &error);
    // The link that enabling made, removed by hand when the manager did not
    // answer, so that its next start finds no timer for a program now gone.
    // Only a timer that was enabled may still run in a manager out of reach.
    const QString link = unitFolder() + QStringLiteral("/timers.target.wants/") + units.timer;
    const bool enabled = QFileInfo(link).isSymLink();
    if (!stopped)
        QFile::remove(link);
    for (const QString& file : {timer, unitFolder() + QLatin1Char('/') + units.service,
                                unitFolder() + QLatin1Char('/') + units.notice}) {
        if (!QFileInfo::exists(file))
            continue;
        if (!QFile::remove(file))
            return say(Failed, QStringLiteral("não foi possível remover %1").arg(file));
        say(0, QStringLiteral("Removido: %1").arg(file));
        removed = true;
    }
    if (removed)
        systemctl({QStringLiteral("daemon-reload")});
    if (!stopped && enabled)
        return say(Failed, QStringLiteral("o temporizador %1 não foi parado, o gerenciador de "
                                          "serviços do usuário não respondeu (%2); numa sessão "
                                          "do usuário: systemctl --user daemon-reload && "
                                          "systemctl --user stop %1")
                               .arg(units.timer, error));
    return 0;
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
    if (const int status = unschedule(folder, removed))
        return status;
    if (!removed)
        say(0, QStringLiteral("Nada a remover para %1").arg(folder));
    return 0;
}

// What is wrong with a command line the parser refused.
QString parseFailure(const QCommandLineParser& parser) {
    if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty())
        return QStringLiteral("opção desconhecida: --%1").arg(unknown.first());
    // Otherwise the last option lacks its value, or one that takes none got one.
    const QString last = QCoreApplication::arguments().last();
    if (last.startsWith(QLatin1String("--")))
        return QStringLiteral("falta o valor de %1").arg(last);
    return QStringLiteral("linha de comando inválida");
}

// The placements this command knows of, from the launchers it wrote for
// this user and for every user, each with its schedule when it has one.
int list() {
    int count = 0;
    for (const bool system : {false, true}) {
        for (const Placement& placed : placementsIn(launcherFolder(system))) {
            const QString program = placed.folder + QLatin1Char('/') + ProgramName;
            say(0, QFileInfo(program).isFile()
                       ? program
                       : QStringLiteral("%1 (não existe mais)").arg(program));
            say(0, QStringLiteral("  lançador: %1").arg(placed.launcher));
            const QString timer = unitFolder() + QLatin1Char('/') +
                                  nightlySchedule(placed.folder, {}, {}, 0, 0).timer;
            if (QFileInfo::exists(timer))
                say(0, QStringLiteral("  agendamento: %1").arg(timer));
            ++count;
        }
    }
    if (count == 0)
        return say(0, QStringLiteral("Nenhum lançador do pelivor-instalar em %1 nem em %2.")
                          .arg(launcherFolder(false), launcherFolder(true)));
    return say(0, QStringLiteral("Para tirar uma: pelivor-instalar --remover PASTA (com --sistema "
                                 "para um lançador de /usr/local)."));
}

// After placing with --sistema: the run log and lock for the group, or the
// warning that the users' runs will leave no record.
int shareFolder(const QString& given, const QString& group, gid_t gid) {
    const QString folder = QFileInfo(given).canonicalFilePath();
    const QString warning = writableFolderWarning(folder);
    if (!warning.isEmpty())
        warn(warning);
    if (group.isEmpty()) {
        warn(QStringLiteral("sem --grupo, os usuários não gravam Log.txt em %1 e os registros das "
                            "suas cópias se perdem; use --grupo GRUPO")
                 .arg(folder));
        return 0;
    }
    if (const QString error = shareWithGroup(folder, gid); !error.isEmpty())
        return say(
            Failed,
            QStringLiteral("não foi possível dar %1 ao grupo %2: %3").arg(folder, group, error));
    // Only where it holds: the warning above says who else may.
    const QString rootOnly =
        warning.isEmpty() ? QStringLiteral("; só o root grava o programa e a pasta") : QString();
    return say(0,
               QStringLiteral("Grupo %1: grava Log.txt (0664) e usa .pelivor.lock (0660) em %2%3")
                   .arg(group, folder, rootOnly));
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
    const QCommandLineOption scheduling(QStringLiteral("agendar"), QString(),
                                        QStringLiteral("DESTINO"));
    const QCommandLineOption groupOption(QStringLiteral("grupo"), QString(),
                                         QStringLiteral("GRUPO"));
    const QCommandLineOption listing(QStringLiteral("listar"), QString());
    const QCommandLineOption verifying(QStringLiteral("verificar"), QString());
    const QCommandLineOption rotating(QStringLiteral("rodizio"), QString());
    const QCommandLineOption creating(QStringLiteral("criar"), QString());
    parser.addOptions({help, version, removing, system, templateOption, scheduling, groupOption,
                       listing, verifying, rotating, creating});
    const QString seeHelp = QStringLiteral(" (veja pelivor-instalar --help)");
    if (!parser.parse(QCoreApplication::arguments()))
        return say(Refused, parseFailure(parser) + seeHelp);
    if (parser.isSet(help)) {
        printHelp();
        return 0;
    }
    if (parser.isSet(version)) {
        std::puts("pelivor-instalar " PELIVOR_VERSION);
        return 0;
    }
    QStringList folders = parser.positionalArguments();
    if (parser.isSet(listing)) {
        if (!folders.isEmpty() || parser.optionNames().size() > 1)
            return say(Refused, QStringLiteral("--listar vem sozinho") + seeHelp);
        return list();
    }
    const QString group = parser.value(groupOption);
    gid_t gid = 0;
    if (parser.isSet(groupOption)) {
        if (!parser.isSet(system) || parser.isSet(removing))
            return say(Refused,
                       QStringLiteral("--grupo vale para colocar com --sistema") + seeHelp);
        const ::group* entry = ::getgrnam(QFile::encodeName(group).constData());
        if (!entry)
            return say(Refused, QStringLiteral("o grupo %1 não existe").arg(group));
        gid = entry->gr_gid;
    }
    int hour = 0, minute = 0;
    if (parser.isSet(scheduling)) {
        if (parser.isSet(removing) || parser.isSet(system))
            return say(Refused, QStringLiteral("--agendar agenda a cópia do usuário: use-o sem "
                                               "--remover e sem --sistema") +
                                    seeHelp);
        if (folders.isEmpty() || !parseTime(folders.takeFirst(), hour, minute))
            return say(Refused, QStringLiteral("--agendar DESTINO pede a hora, HH:MM, antes da "
                                               "PASTA") +
                                    seeHelp);
        if (parser.values(scheduling).contains(QString()))
            return say(Refused, QStringLiteral("falta o DESTINO de --agendar") + seeHelp);
        if (parser.values(scheduling).size() > 2)
            return say(Refused, QStringLiteral("--agendar vale para até dois destinos") + seeHelp);
    } else if (parser.isSet(verifying) || parser.isSet(rotating) || parser.isSet(creating)) {
        return say(Refused, QStringLiteral("--verificar, --rodizio e --criar valem com --agendar") +
                                seeHelp);
    }
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
    if (parser.isSet(groupOption) && QFileInfo(folders.first()).isDir())
        if (const QString refusal =
                groupRefusal(QFileInfo(folders.first()).canonicalFilePath(), gid);
            !refusal.isEmpty())
            return say(Refused, refusal);
    QStringList destinations, missing;
    if (parser.isSet(scheduling))
        if (const int status = destinationsOf(parser.values(scheduling), parser.isSet(creating),
                                              destinations, missing))
            return status;
    const QString templateFile =
        parser.isSet(templateOption) ? parser.value(templateOption) : defaultTemplate();
    const int status = place(folders.first(), templateFile, launchers);
    if (status == 0 && parser.isSet(system))
        return shareFolder(folders.first(), group, gid);
    if (status == 0 && !parser.isSet(system) && ::geteuid() == 0 && !parser.isSet(scheduling))
        say(0, QStringLiteral("Esse lançador é só do root; --sistema o cria para todos."));
    if (status == 0 && parser.isSet(scheduling) && makeFolders(missing) != 0)
        return Failed;
    if (status == 0 && parser.isSet(scheduling))
        return schedule(folders.first(), destinations,
                        {.verify = parser.isSet(verifying), .rotate = parser.isSet(rotating)}, hour,
                        minute);
    return status;
}
