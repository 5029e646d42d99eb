// Bad days on real file systems: full and read-only volumes, refused access,
// files that change under a run, FAT, odd names and sizes, a copy killed
// half-way and a run log that cannot be written. Refused access is tried by a
// child process of this program that runs as "nobody", since root ignores
// file modes; volumes are mounted by the tests themselves.

#include "support/testsupport.h"
#include "support/volumes.h"

#include "engine/copycommand.h"
#include "engine/copytree.h"
#include "platform/diskspace.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/progresswindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSysInfo>
#include <QTest>
#include <QThread>
#include <atomic>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace TRAVO1;
using namespace platform;
namespace fs = std::filesystem;

namespace {

const QDateTime t0(QDate(2024, 3, 1), QTime(10, 0, 0));

struct Outcome {
    int exitCode = -1;
    QStringList lines; // "status ...", "box ...", "error n"
};

// Starts this program's child mode, as "nobody" where asked.
void startChild(QProcess& p, const QString& mode, const QString& root, bool asNobody) {
    const QStringList child{QCoreApplication::applicationFilePath(), u"--child"_s, mode, root};
    if (!asNobody)
        return p.start(child[0], child.mid(1));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"ASAN_OPTIONS"_s, u"detect_leaks=0"_s); // no leak checker without privileges
    p.setProcessEnvironment(env);
    p.start(u"setpriv"_s,
            QStringList{u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s} + child);
}

Outcome outcomeOf(QProcess& p) {
    p.waitForFinished(120000);
    Outcome o{p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, {}};
    o.lines = QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    if (o.exitCode != 0)
        qWarning().noquote() << p.readAllStandardError();
    return o;
}

Outcome runAsNobody(const QString& mode, const QString& root) {
    QProcess p;
    startChild(p, mode, root, true);
    return outcomeOf(p);
}

int16_t copyTree(RecordingWindow& w, QString source = u"F:\\S"_s, QString dest = u"D:\\T"_s) {
    return CopyTree(w, source, dest, 1, u"*.*"_s);
}

// The child: one run on the drives below `root`, its outputs on stdout.
int child(const QString& mode, const QString& root) {
    TempDrives::adopt(root);
    SilentProgress progress(mode == u"hang"_s);
    CommandRun run;
    DestPath = run.w.to;
    if (mode == u"command"_s)
        copyCommand(run.w);
    else
        copyTree(run.w, u"F:\\S"_s, u"D:\\T\\S"_s);
    QTextStream out(stdout);
    for (const QString& status : run.w.all(u"Lbl_CopyInfo"_s))
        out << "status " << status << '\n';
    for (const MessageRequest& box : run.boxes.boxes)
        out << "box " << QString(box.prompt).replace(u'\n', u'|') << '\n';
    out << "error " << Err().number << '\n';
    return 0;
}

} // namespace

class TestFaults : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void diskFull() {
        TempDrives drives;
        const QString d = drives.host(u"D:"_s);
        Mount tmpfs(d, u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=4m"_s, u"tmpfs"_s});
        if (!tmpfs.mounted)
            QSKIP(qPrintable(u"a 4 MiB tmpfs cannot be mounted here: "_s + tmpfs.error));
        // 7 MiB of files, none large enough for the large-file window.
        for (int i = 0; i < 10; ++i)
            writeFile(drives.host((i < 6 ? u"F:\\S\\f%1.bin"_s : u"F:\\S\\Sub\\f%1.bin"_s).arg(i)),
                      QByteArray(700 * 1024, char('a' + i)), t0);
        writeFile(drives.host(u"F:\\S\\small.txt"_s), "fits", t0);
        QDir().mkpath(drives.host(u"D:\\T"_s));
        const auto source = rawTree(drives.host(u"F:\\S"_s));

        for (int round = 0; round < 2; ++round) {
            CommandRun run;
            copyCommand(run.w);
            const auto copied = rawTree(drives.host(u"D:\\T\\S"_s));
            // Whatever arrived is whole; nothing half-written is left.
            for (const auto& [name, data] : copied) {
                const auto original = source.find(name);
                QVERIFY2(original != source.end(), ("not in the source: " + name).c_str());
                QVERIFY2(original->second == data, name.c_str());
            }
            QCOMPARE(leftovers(drives.host(u"D:"_s)), 0);
            if (round == 0) {
                QVERIFY(copied.size() < source.size());
                QCOMPARE(run.box(), u"Drive de destino cheio! (erro 61)"_s);
                QCOMPARE(run.w.lblCopyInfo(), u"Erro na execução da cópia. 61"_s);
                // Each file that did not fit named, then the run's report.
                const QStringList results = drives.logResults();
                QCOMPARE(results.filter(u"Não copiado: F:\\S\\"_s).size(),
                         qsizetype(source.size() - copied.size()));
                QCOMPARE(results.size(), qsizetype(source.size() - copied.size()) + 1);
                QCOMPARE(results.last(), u"Erro na execução da cópia. 61"_s);
                QVERIFY(drives.log().contains("\tD:\\T\t 61 Disco cheio\t"));
                // Space freed: the next run completes the backup.
                QVERIFY(succeeds(u"mount"_s, {u"-o"_s, u"remount,size=64m"_s, d}));
            } else {
                QCOMPARE(copied, source);
                QVERIFY(run.boxes.boxes.empty());
                QVERIFY(run.w.lblCopyInfo().startsWith(u"Cópia Atualizada - "_s));
            }
        }
    }

    void diskFullAfterSmallerFilesStillReported() {
        // A file that does not fit, followed by one that does, and later a
        // destination file that refuses access: the run must not end as up
        // to date, and the full disk is what it reports.
        TempDrives drives;
        writeFile(drives.host(u"F:\\S\\a.bin"_s), "a");
        writeFile(drives.host(u"F:\\S\\b.bin"_s), "b");
        writeFile(drives.host(u"F:\\S\\Sub\\c.bin"_s), "c");
        QDir().mkpath(drives.host(u"D:\\T\\S\\Sub"_s));
        // Whichever comes first fails, the other is copied.
        struct FullOnce : FileSystem {
            bool full = true;
            FullOnce() { install(this); }
            ~FullOnce() override { install(nullptr); }
            std::optional<PreparedCopy> prepareCopy(const Directory& fromDir,
                                                    const std::string& from, const Directory& toDir,
                                                    const Progress& progress,
                                                    const Directory* staging) override {
                if (std::exchange(full, false))
                    raiseErrno(ENOSPC, Missing::File);
                return FileSystem::prepareCopy(fromDir, from, toDir, progress, staging);
            }
            FileInfo probe(const Directory& dir, const std::string& name) override {
                if (name == "c.bin")
                    raiseErrno(EACCES, Missing::File);
                return FileSystem::probe(dir, name);
            }
        } fullOnce;
        CommandRun run;
        copyCommand(run.w);
        QCOMPARE(tree(drives.host(u"D:\\T\\S"_s)).size(), 2);
        QCOMPARE(run.box(), u"Drive de destino cheio! (erro 61)"_s);
        QCOMPARE(run.w.lblCopyInfo(), u"Erro na execução da cópia. 61"_s);
    }

    void refusedAccessAndUnwritableLog() {
        if (::geteuid() != 0)
            QSKIP("handing files to \"nobody\" needs root");
        TempDrives drives;
        const QString root = drives.root();
        const QString f = drives.host(u"F:\\S"_s), t = drives.host(u"D:\\T\\S"_s);
        writeFile(f + u"/a.txt"_s, "a", t0);
        writeFile(f + u"/secret.txt"_s, "s", t0);
        writeFile(f + u"/Locked/x.txt"_s, "x", t0);
        writeFile(f + u"/Protected/c.txt"_s, "new", t0);
        writeFile(f + u"/ReadOnly/d.txt"_s, "d", t0);
        writeFile(t + u"/Protected/c.txt"_s, "old", t0.addDays(-1));
        QDir().mkpath(t + u"/ReadOnly"_s);
        own(root, 0, 0755);
        for (const QString& dir : {drives.host(u"D:\\T"_s), t, t + u"/Protected"_s})
            own(dir, nobody, 0755);
        own(f + u"/secret.txt"_s, 0, 0);
        own(f + u"/Locked"_s, 0, 0);
        own(t + u"/Protected/c.txt"_s, 0, 0);
        own(t + u"/ReadOnly"_s, 0, 0555);
        own(drives.host(u"C:\\PROG"_s), nobody, 0755);

        const Outcome o = runAsNobody(u"tree"_s, root);
        QCOMPARE(o.exitCode, 0);
        // Only the unreadable folder ends its level, with one status and one
        // record; the refusals of single files pass without a status or a
        // box, each named in a record of its own.
        QCOMPARE(o.lines.filter(u"status Erro"_s),
                 QStringList{u"status Erro: 70 - Permissão negada"_s});
        QVERIFY(o.lines.filter(u"box"_s).isEmpty());
        QStringList results = drives.logResults();
        results.sort();
        QCOMPARE(results,
                 (QStringList{u"Erro: 70 - Permissão negada"_s, u"Não copiado: F:\\S\\LOCKED\\"_s,
                              u"Não copiado: F:\\S\\PROTECTED\\c.txt"_s,
                              u"Não copiado: F:\\S\\READONLY\\d.txt"_s,
                              u"Não copiado: F:\\S\\secret.txt"_s}));
        const auto copied = rawTree(t);
        QCOMPARE(copied, (std::map<std::string, std::string>{{"Locked/", ""},
                                                             {"Protected/", ""},
                                                             {"Protected/c.txt", "old"},
                                                             {"ReadOnly/", ""},
                                                             {"a.txt", "a"}}));
        QVERIFY(o.lines.contains(u"status Copiando De: F:\\S\\READONLY\\d.txt"_s));

        // The run log read-only, a folder, or in a folder that cannot be
        // written: the same run, no message, the log untouched.
        QFile::remove(drives.logPath());
        QDir(t).removeRecursively();
        QDir(f).removeRecursively();
        writeFile(f + u"/a.txt"_s, "a", t0);
        writeFile(f + u"/Locked/x.txt"_s, "x", t0);
        own(f + u"/Locked"_s, 0, 0);
        own(drives.host(u"D:\\T"_s), nobody, 0755);
        QStringList first;
        for (const QString& log : {u"writable"_s, u"read-only"_s, u"folder"_s, u"unwritable"_s}) {
            QDir(t).removeRecursively();
            QFile::remove(drives.logPath());
            QDir(drives.logPath()).removeRecursively();
            own(drives.host(u"C:\\PROG"_s), log == u"unwritable"_s ? 0 : nobody, 0755);
            if (log == u"read-only"_s) {
                writeFile(drives.logPath(), "kept\r\n");
                own(drives.logPath(), 0, 0444);
            } else if (log == u"folder"_s) {
                QDir().mkpath(drives.logPath());
            }
            const QByteArray before = drives.log();
            const Outcome command = runAsNobody(u"command"_s, root);
            QCOMPARE(command.exitCode, 0);
            QCOMPARE(rawTree(t),
                     (std::map<std::string, std::string>{{"Locked/", ""}, {"a.txt", "a"}}));
            // The folder that could not be read is missing from the backup:
            // the run is reported, not completed.
            QCOMPARE(command.lines.filter(u"box"_s).size(), 1);
            QVERIFY(command.lines.filter(u"box"_s)[0].contains(u"(erro 70)"_s));
            QVERIFY(command.lines.filter(u"Cópia Atualizada"_s).isEmpty());
            if (first.isEmpty()) {
                first = command.lines;
                QCOMPARE(drives.logResults(), (QStringList{u"Não copiado: F:\\S\\LOCKED\\"_s,
                                                           u"Erro: 70 - Permissão negada"_s,
                                                           u"Erro na execução da cópia. 70"_s}));
                QVERIFY(first.contains(u"status Erro na execução da cópia. 70"_s));
            } else {
                QCOMPARE(command.lines, first);
                QCOMPARE(drives.log(), before);
            }
        }
    }

    void readOnlyDestinationVolume() {
        TempDrives drives;
        writeFile(drives.host(u"F:\\S\\a.txt"_s), "new", t0);
        writeFile(drives.host(u"F:\\S\\New\\b.txt"_s), "b", t0);
        const QString d = drives.host(u"D:"_s);
        Mount tmpfs(d, u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=1m"_s, u"tmpfs"_s});
        if (!tmpfs.mounted)
            QSKIP(qPrintable(u"a tmpfs cannot be mounted here: "_s + tmpfs.error));
        writeFile(drives.host(u"D:\\T\\S\\a.txt"_s), "old", t0.addDays(-1));
        QVERIFY(succeeds(u"mount"_s, {u"-o"_s, u"remount,ro"_s, d}));
        CommandRun run;
        copyCommand(run.w);
        QCOMPARE(tree(drives.host(u"D:\\T"_s)), (QStringList{u"S/"_s, u"S/a.txt=old"_s}));
        QVERIFY(run.box().startsWith(u"Diretório ou drive de destino protegido!"_s));
        QCOMPARE(run.w.lblCopyInfo(), u"Erro na execução da cópia. 70"_s);
    }

    void changesUnderARun() {
        TempDrives drives;
        const QString s = drives.host(u"F:\\S"_s), t = drives.host(u"D:\\T"_s);
        writeFile(s + u"/gone.txt"_s, "gone", t0);
        writeFile(s + u"/shrunk.txt"_s, "shrinking", t0);
        writeFile(s + u"/grown.txt"_s, "grow", t0);
        writeFile(s + u"/kept.txt"_s, "kept", t0);
        writeFile(s + u"/Vanish/v.txt"_s, "v", t0);
        writeFile(s + u"/Going/g1.txt"_s, "g1", t0);
        writeFile(s + u"/Going/g2.txt"_s, "g2", t0);
        writeFile(s + u"/Stay/x.txt"_s, "x", t0);
        QDir().mkpath(t);
        // Each change lands after the listing, when its file is shown.
        RecordingWindow w;
        w.onWrite = [&](const RecordingWindow::Write& write) {
            if (!write.value.startsWith(u"Copiando De: "_s))
                return;
            QDir(s + u"/Vanish"_s).removeRecursively();
            if (write.value.endsWith(u"gone.txt"_s))
                QFile::remove(s + u"/gone.txt"_s);
            if (write.value.endsWith(u"shrunk.txt"_s))
                QFile::resize(s + u"/shrunk.txt"_s, 3);
            if (write.value.endsWith(u"grown.txt"_s))
                writeFile(s + u"/grown.txt"_s, "grown larger", t0);
            if (write.value.contains(u"GOING"_s))
                QDir(s + u"/Going"_s).removeRecursively();
        };
        QCOMPARE(copyTree(w), True);
        QCOMPARE(tree(t), (QStringList{u"Going/"_s, u"Stay/"_s, u"Stay/x.txt=x"_s, u"Vanish/"_s,
                                       u"grown.txt=grown larger"_s, u"kept.txt=kept"_s,
                                       u"shrunk.txt=shr"_s}));
        QCOMPARE(w.all(u"Lbl_CopyInfo"_s).filter(u"Erro"_s),
                 QStringList{u"Erro: 76 - Caminho não encontrado"_s});
        QCOMPARE(drives.logRecords(), 1);

        // The destination removed under the run: reported as missing.
        writeFile(s + u"/Sub/y.txt"_s, "y", t0);
        CommandRun run(u"D:\\U"_s);
        QDir().mkpath(drives.host(u"D:\\U"_s));
        run.w.onWrite = [&](const RecordingWindow::Write& write) {
            if (write.value.startsWith(u"Copiando De: "_s))
                QDir(drives.host(u"D:\\U\\S"_s)).removeRecursively();
        };
        copyCommand(run.w);
        QCOMPARE(run.box(), u"Diretório de destino inexistente! (erro 76)"_s);
        QCOMPARE(tree(drives.host(u"D:\\U"_s)), QStringList{});
    }

    void twoRunsIntoOneDestination() {
        // Two processes of one program folder: the second to start is turned
        // away while the first runs, and whatever the timing the tree is whole.
        TempDrives drives;
        for (int folder = 0; folder < 40; ++folder)
            for (int file = 0; file < 10; ++file)
                writeFile(drives.host(u"F:\\S\\d%1\\e%1\\f%2"_s.arg(folder).arg(file)), "x");
        QDir().mkpath(drives.host(u"D:\\T"_s));
        QProcess one, two;
        startChild(one, u"command"_s, drives.root(), false);
        startChild(two, u"command"_s, drives.root(), false);
        int completed = 0;
        for (QProcess* p : {&one, &two}) {
            const Outcome o = outcomeOf(*p);
            QCOMPARE(o.exitCode, 0);
            const QString lines = o.lines.join(u'\n');
            if (o.lines.filter(u"status Cópia Atualizada"_s).size() == 1) {
                QVERIFY2(o.lines.filter(u"box"_s).isEmpty(), qPrintable(lines));
                ++completed;
            } else {
                QVERIFY2(o.lines.filter(u"status"_s).isEmpty(), qPrintable(lines));
                QCOMPARE(o.lines.filter(u"box"_s),
                         QStringList{u"box Já há uma cópia desta pasta em andamento.|"
                                     u"Aguarde o fim dela para copiar de novo.|"_s});
            }
        }
        QVERIFY(completed >= 1);
        QCOMPARE(tree(drives.host(u"D:\\T\\S"_s)), tree(drives.host(u"F:\\S"_s)));
    }

    void largeFileMeetsAFullDisk() {
        TempDrives drives;
        const QString d = drives.host(u"D:"_s);
        Mount tmpfs(d, u"mount"_s, {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=2m"_s, u"tmpfs"_s});
        if (!tmpfs.mounted)
            QSKIP(qPrintable(u"a 2 MiB tmpfs cannot be mounted here: "_s + tmpfs.error));
        QDir().mkpath(drives.host(u"D:\\T"_s));
        writeFile(drives.host(u"F:\\S\\large.bin"_s), QByteArray(3 << 20, 'l'), t0);
        for (int i = 0; i < 5; ++i)
            writeFile(drives.host(u"F:\\S\\small%1.txt"_s.arg(i)), "fits", t0);
        SilentProgress progress;
        CommandRun run;
        copyCommand(run.w);
        // The large copy's own box, then the run's report.
        QCOMPARE(run.boxes.boxes.size(), size_t(2));
        QCOMPARE(run.boxes.boxes.back().prompt, u"Drive de destino cheio! (erro 61)"_s);
        QCOMPARE(tree(drives.host(u"D:\\T\\S"_s)).size(), 5);
        QCOMPARE(leftovers(d), 0);
    }

    void killedInTheMiddleOfALargeCopy() {
        TempDrives drives;
        const QString t = drives.host(u"D:\\T\\S"_s);
        const QByteArray big(24 << 20, 'b');
        writeFile(drives.host(u"F:\\S\\big.bin"_s), big, t0);
        writeFile(drives.host(u"F:\\S\\Other\\o.txt"_s), "o", t0);
        writeFile(t + u"/big.bin"_s, "old", t0.addDays(-1));
        writeFile(t + u"/Other/o.txt"_s, "o", t0);
        // Leftovers of this computer, of a copy whose source is gone by now
        // and of a process still alive; of another computer sharing the
        // folder, one from today, whose copy may be under way, and an old one.
        const QString host = u"/Other/.pelivor-"_s + QSysInfo::machineHostName();
        writeFile(t + host + u"-999999-0badf00d.tmp"_s, "partial");
        writeFile(t + host + u"-1-0badf00d.tmp"_s, "live");
        writeFile(t + u"/Other/.pelivor-other-pc-999999-0badf00d.tmp"_s, "remote");
        writeFile(t + u"/Other/.pelivor-other-pc-999998-%1.0badf00d.tmp"_s.arg(
                          QDateTime::currentDateTime().addDays(-2).toSecsSinceEpoch()),
                  "old");

        QProcess p;
        p.start(QCoreApplication::applicationFilePath(), {u"--child"_s, u"hang"_s, drives.root()});
        QVERIFY(p.waitForReadyRead(60000));
        QCOMPARE(p.readAllStandardOutput(), "copying\n");
        ::kill(pid_t(p.processId()), SIGKILL);
        QVERIFY(p.waitForFinished(10000));

        // The old copy is intact; the partial one hidden beside it.
        QCOMPARE(readFile(t + u"/big.bin"_s), "old");
        QCOMPARE(leftovers(t), 5);
        // Never taken for a real file, not even when that folder is a source.
        RecordingWindow w;
        QDir().mkpath(drives.host(u"D:\\Copy"_s));
        QCOMPARE(copyTree(w, u"D:\\T\\S"_s, u"D:\\Copy"_s), True);
        QCOMPARE(tree(drives.host(u"D:\\Copy"_s)),
                 (QStringList{u"Other/"_s, u"Other/o.txt=o"_s, u"big.bin=old"_s}));

        // The next run removes, where it copies, the leftovers of this
        // computer's dead processes and any older than a day.
        writeFile(drives.host(u"F:\\S\\Other\\o.txt"_s), "o2", t0.addDays(1));
        QCOMPARE(copyTree(w, u"F:\\S"_s, u"D:\\T\\S"_s), True);
        QStringList expected{u"Other/"_s, host.mid(1) + u"-1-0badf00d.tmp=live"_s,
                             u"Other/.pelivor-other-pc-999999-0badf00d.tmp=remote"_s,
                             u"Other/o.txt=o2"_s, u"big.bin=<25165824>"_s};
        expected.sort();
        QCOMPARE(tree(t), expected);
        QCOMPARE(readFile(t + u"/big.bin"_s), big);
    }
};

int main(int argc, char** argv) {
    if (argc == 4 && std::string_view(argv[1]) == "--child") {
        QCoreApplication app(argc, argv);
        return child(QString::fromLocal8Bit(argv[2]), QFile::decodeName(argv[3]));
    }
    QCoreApplication app(argc, argv);
    TestFaults test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults.moc"
