// Another user on the same computer, against runs by root: links and pipes
// put in the program's folder, a reader holding the run lock, private
// folders in the backup, names that would forge lines. The second user is
// "nobody", through setpriv; every file is one the test makes. The real
// program runs where its command line is what is tried.

#include "support/testsupport.h"
#include "support/volumes.h"

#include "cli/terminal.h"
#include "engine/copycommand.h"
#include "platform/progresswindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TRAVO1;
using namespace platform;

namespace {

const QStringList secondUser{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s};

// What this machine lacks to run a second user, if anything.
QString withoutSecondUser() {
    if (::geteuid() != 0)
        return u"needs root, to run as a second user"_s;
    if (QStandardPaths::findExecutable(u"setpriv"_s).isEmpty() ||
        QStandardPaths::findExecutable(u"flock"_s).isEmpty())
        return u"needs setpriv and flock (util-linux)"_s;
    return {};
}

struct Ended {
    int status = -1; // -1: still running after the time given, then killed
    QByteArray out, err;
};

Ended finish(QProcess& p, int ms = 60000) {
    Ended e;
    if (p.waitForFinished(ms))
        e.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    else
        p.kill(), p.waitForFinished();
    e.out = p.readAllStandardOutput();
    e.err = p.readAllStandardError();
    return e;
}

// A command run as the second user; its exit status.
int nobodyRuns(const QStringList& command) {
    QProcess p;
    p.start(u"setpriv"_s, secondUser + command);
    return finish(p, 30000).status;
}

struct stat statOf(const QString& path) {
    struct stat st {};
    ::lstat(bytes(path).c_str(), &st);
    return st;
}
mode_t modeOf(const QString& path) {
    return statOf(path).st_mode & 07777;
}

// The real program in an application folder of its own, with a file to
// back up, and a destination; below a folder the second user can reach.
struct App {
    QTemporaryDir dir;
    QString folder = dir.path() + u"/APP"_s, dest = dir.path() + u"/DEST"_s;
    QString log = folder + u"/Log.txt"_s, lock = folder + u"/.pelivor.lock"_s;

    App() {
        ::chmod(bytes(dir.path()).c_str(), 0755);
        QDir().mkpath(folder);
        QDir().mkpath(dest);
        QFile::copy(QStringLiteral(PELIVOR_PROGRAM), folder + u"/pelivor"_s);
        writeFile(folder + u"/a.txt"_s, "a");
    }
    // The program copying into the destination, as root or as the second user.
    void start(QProcess& p, bool asSecondUser = false) const {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const QString& name : {u"DISPLAY"_s, u"WAYLAND_DISPLAY"_s, u"QT_QPA_PLATFORM"_s})
            env.remove(name);
        env.insert(u"ASAN_OPTIONS"_s, u"detect_leaks=0"_s); // no leak checker without privileges
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(folder);
        const QStringList command{folder + u"/pelivor"_s, u"--copiar-para"_s, dest};
        if (asSecondUser)
            p.start(u"setpriv"_s, secondUser + command);
        else
            p.start(command[0], command.mid(1));
    }
    Ended run(bool asSecondUser = false) const {
        QProcess p;
        start(p, asSecondUser);
        return finish(p);
    }
};

// Holds a lock with flock(1), as the second user, until it goes out of
// scope; held() once it has it.
struct Holder {
    QProcess p;
    explicit Holder(const QString& lock) {
        p.start(u"setpriv"_s,
                secondUser + QStringList{u"flock"_s, u"-o"_s, u"-x"_s, lock, u"sleep"_s, u"60"_s});
    }
    ~Holder() {
        // Its sleep, which flock waits for.
        const QString pid = QString::number(p.processId());
        for (const QByteArray& child : readFile(u"/proc/%1/task/%1/children"_s.arg(pid)).split(' '))
            if (child.trimmed().toInt() > 0)
                ::kill(pid_t(child.trimmed().toInt()), SIGTERM);
        finish(p, 5000);
    }
    bool held(const QString& lock) {
        for (int i = 0; i < 100; ++i, QThread::msleep(50))
            if (QProcess::execute(u"flock"_s, {u"-n"_s, lock, u"true"_s}) != 0)
                return true;
        return false;
    }
};

QByteArray contents(std::FILE* f) {
    QByteArray all;
    char buffer[4096];
    for (ssize_t n; (n = ::pread(::fileno(f), buffer, sizeof buffer, all.size())) > 0;)
        all.append(buffer, n);
    return all;
}

} // namespace

class TestUsers : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void logIsNeitherFollowedNorWaitedOn() {
        if (const QString why = withoutSecondUser(); !why.isEmpty())
            QSKIP(qPrintable(why));
        App app;
        own(app.folder, nobody, 0755); // the second user may write the program's folder
        const QString secret = app.dir.path() + u"/secret"_s;
        const QString nowhere = app.dir.path() + u"/made-by-root"_s;
        writeFile(secret, "root's\n");
        own(secret, 0, 0600);

        // A link to root's own file, then one to nothing: the record is
        // skipped, the run is the same.
        for (const QString& target : {secret, nowhere}) {
            QFile::remove(app.log);
            QCOMPARE(nobodyRuns({u"ln"_s, u"-s"_s, target, app.log}), 0);
            const Ended e = app.run();
            QCOMPARE(e.status, 0);
            QCOMPARE(readFile(secret), "root's\n");
            QCOMPARE(modeOf(secret), mode_t(0600));
            QVERIFY(!QFileInfo::exists(nowhere));
            QVERIFY(QFileInfo(app.log).isSymLink());
        }

        // A named pipe nobody reads: the run does not wait on it.
        QFile::remove(app.log);
        QCOMPARE(nobodyRuns({u"mkfifo"_s, app.log}), 0);
        QProcess p;
        app.start(p);
        if (!p.waitForFinished(20000)) {
            ::kill(pid_t(p.processId()), SIGTERM);
            const bool ended = p.waitForFinished(5000);
            finish(p, 0);
            QFAIL(ended ? "the run waited on a pipe for Log.txt"
                        : "the run waited on a pipe for Log.txt, and SIGTERM did not end it");
        }
        QCOMPARE(p.exitCode(), 0);

        // The same pipe with the second user reading it: nothing reaches them.
        QProcess reader;
        reader.start(u"setpriv"_s, secondUser + QStringList{u"cat"_s, app.log});
        QThread::msleep(500); // until it waits for a writer
        QCOMPARE(app.run().status, 0);
        finish(reader, 5000);
        QCOMPARE(reader.readAllStandardOutput(), QByteArray());
        QVERIFY(S_ISFIFO(statOf(app.log).st_mode));
    }

    void stopSignalEndsARunBlockedOnItsOutput() {
        // A journal or terminal that stopped reading: the run waits in a
        // write of its first line. SIGTERM ends it as ESC would.
        App app;
        int pipe[2];
        QCOMPARE(::pipe2(pipe, O_CLOEXEC | O_NONBLOCK), 0);
        const auto closePipe = qScopeGuard([&] { ::close(pipe[0]), ::close(pipe[1]); });
        ::fcntl(pipe[1], F_SETPIPE_SZ, 4096);
        const QByteArray filler(512, 'x');
        while (::write(pipe[1], filler.data(), size_t(filler.size())) > 0) {
        }
        QCOMPARE(::fcntl(pipe[1], F_SETFL, 0), 0); // full, and blocking again
        QProcess p;
        p.setChildProcessModifier([fd = pipe[1]] { ::dup2(fd, STDOUT_FILENO); });
        app.start(p);
        QVERIFY(p.waitForStarted());
        const QString wchan = u"/proc/%1/wchan"_s.arg(p.processId());
        for (int i = 0; i < 600 && !readFile(wchan).endsWith("pipe_write"); ++i)
            QThread::msleep(50);
        if (readFile(wchan) == "0")
            QSKIP("the kernel does not say where a process waits");
        QVERIFY2(readFile(wchan).endsWith("pipe_write"), readFile(wchan).constData());

        ::kill(pid_t(p.processId()), SIGTERM);
        const Ended e = finish(p, 5000);
        QVERIFY2(e.status != -1, "SIGTERM did not end a run blocked on its output");
        QCOMPARE(e.status, 4);
        QCOMPARE(leftovers(app.dest), 0);
        QVERIFY(!readFile(app.log).contains("Cópia Atualizada"));
    }

    void lockIsHeldOnlyByThoseWhoRunTheFolder() {
        if (const QString why = withoutSecondUser(); !why.isEmpty())
            QSKIP(qPrintable(why));
        App app; // root's folder, 0755: the second user may read it, not write it

        // The second user may run the program but not write its folder: the
        // run goes ahead and says, in one line, that it holds no lock.
        own(app.dest, nobody, 0755);
        Ended e = app.run(true);
        QCOMPARE(e.status, 0);
        QCOMPARE(e.err.count('\n'), 1);
        QVERIFY2(e.err.startsWith("Cópia sem trava: ") && e.err.contains("(Permissão negada)"),
                 e.err.constData());
        QCOMPARE(readFile(app.dest + app.folder + u"/a.txt"_s), "a");
        QVERIFY(!QFileInfo::exists(app.lock));

        // An earlier version's lock, 0644, held by the second user through a
        // descriptor opened for reading: root's run neither waits nor stops.
        writeFile(app.lock, "");
        own(app.lock, 0, 0644);
        {
            Holder reader(app.lock);
            QVERIFY(reader.held(app.lock));
            e = app.run();
            QCOMPARE(e.status, 0);
            QVERIFY2(e.err.isEmpty(), e.err.constData());
        }
        // The lock is root's alone now: the second user cannot even open it.
        QCOMPARE(modeOf(app.lock), mode_t(0600));
        QVERIFY(nobodyRuns({u"flock"_s, u"-n"_s, app.lock, u"true"_s}) != 0);

        // A folder placed for a group: its members run it, so they hold the
        // lock, and root's run leaves its bits alone.
        QCOMPARE(::chown(bytes(app.lock).c_str(), 0, nobody), 0);
        QCOMPARE(::chmod(bytes(app.lock).c_str(), 0660), 0);
        {
            Holder member(app.lock);
            QVERIFY(member.held(app.lock));
            QCOMPARE(app.run().status, 5);
        }
        QCOMPARE(modeOf(app.lock), mode_t(0660));
        QCOMPARE(statOf(app.lock).st_gid, gid_t(nobody));

        // A link or a pipe the second user put in the lock's place (a folder
        // they may write) is neither followed nor waited on: no lock, said.
        own(app.folder, nobody, 0755);
        const QString secret = app.dir.path() + u"/secret"_s;
        writeFile(secret, "root's\n");
        own(secret, 0, 0600);
        for (const QStringList& plant : {QStringList{u"ln"_s, u"-s"_s, secret, app.lock},
                                         QStringList{u"mkfifo"_s, app.lock}}) {
            QFile::remove(app.lock);
            QCOMPARE(nobodyRuns(plant), 0);
            e = app.run();
            QCOMPARE(e.status, 0);
            QCOMPARE(e.err.count('\n'), 1);
            QVERIFY2(e.err.startsWith("Cópia sem trava: "), e.err.constData());
            QCOMPARE(readFile(secret), "root's\n");
            QCOMPARE(modeOf(secret), mode_t(0600));
        }
    }

    void privateFoldersStayPrivate() {
        if (const QString why = withoutSecondUser(); !why.isEmpty())
            QSKIP(qPrintable(why));
        TempDrives drives;
        const QString top = drives.host(u"C:"_s).chopped(2);
        for (const QString& folder : {top, top + u"/d"_s, top + u"/f"_s})
            ::chmod(bytes(folder).c_str(), 0755);
        const QString f = drives.host(u"F:\\S"_s), t = drives.host(u"D:\\T\\S"_s);
        const struct {
            QString name;
            mode_t mode;
            uid_t owner;
        } folders[] = {{u"secret"_s, 0700, 0},        {u"open"_s, 0755, 0},
                       {u"theirs"_s, 0750, nobody},   {u"earlier"_s, 0700, 0},
                       {u"narrow"_s, 0755, 0},        {u"shared"_s, 01777, 0},
                       {u"sharedEarlier"_s, 01777, 0}};
        for (const auto& [name, mode, owner] : folders) {
            writeFile(f + u'/' + name + u"/file.txt"_s, "private");
            own(f + u'/' + name, owner, mode);
        }
        // Mirrors an earlier version made 0755, and one the operator narrowed.
        QDir().mkpath(t + u"/earlier"_s);
        own(t, 0, 0755);
        own(t + u"/earlier"_s, 0, 0755);
        QDir().mkpath(t + u"/narrow"_s);
        own(t + u"/narrow"_s, 0, 0700);
        // A folder everyone writes to, mirrored by an earlier version
        // without the sticky bit that keeps each user's entries their own.
        QDir().mkpath(t + u"/sharedEarlier"_s);
        own(t + u"/sharedEarlier"_s, 0, 0777);

        {
            CommandRun run;
            QCOMPARE(int(copyCommand(run.w).end), int(RunEnd::Completed));
        }
        const std::map<QString, mode_t> expected{{u"secret"_s, 0700},        {u"open"_s, 0755},
                                                 {u"theirs"_s, 0750},        {u"earlier"_s, 0700},
                                                 {u"narrow"_s, 0700},        {u"shared"_s, 01777},
                                                 {u"sharedEarlier"_s, 01777}};
        for (const auto& [name, mode] : expected)
            QCOMPARE(modeOf(t + u'/' + name), mode);
        QCOMPARE(statOf(t + u"/theirs"_s).st_uid, uid_t(nobody));
        QCOMPARE(statOf(t + u"/theirs"_s).st_gid, gid_t(nobody));
        QVERIFY(nobodyRuns({u"cat"_s, t + u"/secret/file.txt"_s}) != 0);
        QVERIFY(nobodyRuns({u"cat"_s, t + u"/earlier/file.txt"_s}) != 0);
        QCOMPARE(nobodyRuns({u"cat"_s, t + u"/open/file.txt"_s}), 0);
        // Where everyone may write, nobody else may move root's copy away.
        QVERIFY(nobodyRuns({u"mv"_s, t + u"/shared/file.txt"_s, t + u"/shared/moved"_s}) != 0);
        QCOMPARE(nobodyRuns({u"touch"_s, t + u"/shared/theirs.txt"_s}), 0);

        // A mirror another user made first, open to all: whatever its bits
        // it stays theirs, so nothing goes into it, and the run says so.
        writeFile(f + u"/planted/file.txt"_s, "private");
        own(f + u"/planted"_s, 0, 0700);
        QDir().mkpath(t + u"/planted"_s);
        own(t + u"/planted"_s, nobody, 0777);
        {
            CommandRun run;
            const RunResult planted = copyCommand(run.w);
            QCOMPARE(int(planted.end), int(RunEnd::Reported));
            QCOMPARE(planted.error, 70);
        }
        QVERIFY(!QFile::exists(t + u"/planted/file.txt"_s));

        // The folders of the source's own path, made by the run, too.
        own(f, nobody, 0700);
        QDir().mkpath(drives.host(u"D:\\U"_s));
        {
            CommandRun run(u"D:\\U"_s);
            QCOMPARE(int(copyCommand(run.w).end), int(RunEnd::Completed));
        }
        const QString u = drives.host(u"D:\\U\\S"_s);
        QCOMPARE(modeOf(u), mode_t(0700));
        QCOMPARE(statOf(u).st_uid, uid_t(nobody));
    }

    void namesCannotForgeLines() {
        // The second user names a file and a destination folder with line
        // breaks, a tab and a terminal escape; root backs up into that folder.
        if (const QString why = withoutSecondUser(); !why.isEmpty())
            QSKIP(qPrintable(why));
        TempDrives drives;
        const QString top = drives.host(u"C:"_s).chopped(2);
        for (const QString& folder : {top, top + u"/f"_s, top + u"/d"_s})
            ::chmod(bytes(folder).c_str(), 0755);
        QDir().mkpath(drives.host(u"F:\\S"_s));
        own(drives.host(u"F:\\S"_s), nobody, 0755);
        own(drives.host(u"D:"_s), nobody, 0755);
        const QString file = u"a\nCópia Atualizada - hoje\x1b[2J.txt"_s;
        const QString folder = u"T\tx\r\ny"_s;
        QCOMPARE(nobodyRuns({u"sh"_s, u"-c"_s, u"printf x >\"$1\" && mkdir \"$2\""_s, u"sh"_s,
                             drives.host(u"F:\\S\\"_s + file), drives.host(u"D:\\"_s + folder)}),
                 0);

        std::FILE* out = std::tmpfile();
        std::FILE* err = std::tmpfile();
        const auto closeFiles = qScopeGuard([&] { std::fclose(out), std::fclose(err); });
        {
            cli::TerminalWindow window(out, err);
            cli::installTerminalServices(window, [] { return false; });
            const RunResult outcome =
                CopyCommand({u"F:\\S"_s, u"D:\\"_s + folder, u"*.*"_s, true}, window);
            window.finish();
            MessageBox::install({});
            ProgressWindow::install({});
            QCOMPARE(int(outcome.end), int(RunEnd::Completed));
        }
        QCOMPARE(readFile(drives.host(u"D:\\"_s + folder + u"\\S\\"_s + file)), "x");

        // One line per text, the name's controls shown, none obeyed: only
        // the run's own last line says "Cópia Atualizada".
        const QByteArray text = contents(out);
        QVERIFY2(!text.contains('\x1b') && !text.contains('\r'), text.constData());
        const QList<QByteArray> lines = text.trimmed().split('\n');
        QVERIFY(text.contains("F:\\S\\a\\x0aCópia Atualizada - hoje\\x1b[2J.txt\n"));
        QCOMPARE(text.count("\nCópia Atualizada"), 1);
        QVERIFY(lines.last().startsWith("Cópia Atualizada - "));
        QCOMPARE(contents(err), QByteArray());

        // Log.txt: the header and one record of four fields.
        const QList<QByteArray> records = drives.log().split('\n');
        QCOMPARE(records.size(), 3);
        const QList<QByteArray> fields = records[1].split('\t');
        QCOMPARE(fields.size(), 4);
        QCOMPARE(fields[1], "D:\\T\\x09x\\x0d\\x0ay");
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TestUsers test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_users.moc"
