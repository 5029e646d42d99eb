// A run and the mounts around it: a destination reached through a bind mount
// of a source folder, a mount made under a running walk, volumes mounted
// below the destination, and what a run killed on a share leaves in the
// destination's top. Every volume is a real mount made by the test itself.

#include "support/testsupport.h"
#include "support/volumes.h"

#include "engine/copycommand.h"
#include "engine/copytree.h"
#include "platform/errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSysInfo>
#include <QTest>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using namespace TRAVO1;
using namespace platform;

namespace {

const QDateTime t0(QDate(2024, 3, 1), QTime(10, 0, 0));

struct stat statOf(const QString& path) {
    struct stat st {};
    ::stat(bytes(path).c_str(), &st);
    return st;
}

std::unique_ptr<Mount> bindMount(const QString& folder, const QString& point) {
    return std::make_unique<Mount>(point, u"mount"_s, QStringList{u"--bind"_s, folder});
}

std::unique_ptr<Mount> tmpfsAt(const QString& point) {
    QDir().mkpath(point);
    return std::make_unique<Mount>(point, u"mount"_s,
                                   QStringList{u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=4m"_s, u"t"_s});
}

// The child: a run into D:\T\S whose copies, all into folders it makes and
// so prepared in staging folders as on a share, hang until it is killed.
int stagingChild(const QString& root) {
    TempDrives::adopt(root);
    FaultyFileSystem faulty;
    faulty.askAhead = true;
    faulty.duringTransfer = [] {
        static std::atomic<bool> said = false;
        if (!said.exchange(true)) {
            std::puts("copying");
            std::fflush(stdout);
        }
        for (;;)
            ::pause();
    };
    RecordingWindow w;
    QString from = u"F:\\S"_s, to = u"D:\\T\\S"_s;
    CopyTree(w, from, to, 1, u"*.*"_s);
    return 0;
}

} // namespace

class TestMounts : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void destinationInsideTheSourceWhateverTheMount() {
        // A bind mount of a source subfolder, named as the destination or
        // with a folder below it, existing or not: refused before anything
        // is made.
        for (const QString& to : {u"D:\\B"_s, u"D:\\B\\bk"_s, u"D:\\B\\x\\novo"_s}) {
            TempDrives drives;
            writeFile(drives.host(u"F:\\S\\a.txt"_s), "a");
            writeFile(drives.host(u"F:\\S\\sub\\b.txt"_s), "b");
            QDir().mkpath(drives.host(u"F:\\S\\sub\\x"_s));
            QDir().mkpath(drives.host(u"D:\\B"_s));
            const auto bind = bindMount(drives.host(u"F:\\S\\sub"_s), drives.host(u"D:\\B"_s));
            if (!bind->mounted)
                QSKIP(qPrintable(u"a bind mount cannot be made here: "_s + bind->error));
            const QStringList before = tree(drives.host(u"F:"_s));
            CommandRun run(to);
            run.w.onWrite = [](const RecordingWindow::Write& write) {
                if (write.value.count(u'\\') > 12) // copying into itself: ended
                    StopFlag = 1;
            };
            QCOMPARE(int(copyCommand(run.w).end), int(RunEnd::Refused));
            QCOMPARE(run.box(), u"O Destino dos Arquivos está dentro da Origem: "_s + to +
                                    u"\nSelecione outro local para o Destino.\n"_s);
            QVERIFY(run.w.writes.empty());
            QCOMPARE(tree(drives.host(u"F:"_s)), before);
        }

        // The roots of two tmpfs volumes hold the same inode number, and
        // neither lies within the other: the run goes ahead.
        TempDrives drives;
        const auto source = tmpfsAt(drives.host(u"F:\\S"_s));
        const auto destination = tmpfsAt(drives.host(u"D:\\T"_s));
        if (!source->mounted || !destination->mounted)
            QSKIP(qPrintable(u"a tmpfs cannot be mounted here: "_s + source->error +
                             destination->error));
        const struct stat from = statOf(drives.host(u"F:\\S"_s)),
                          to = statOf(drives.host(u"D:\\T"_s));
        if (from.st_ino != to.st_ino)
            QSKIP("this kernel numbers the roots of two tmpfs volumes apart");
        QVERIFY(from.st_dev != to.st_dev);
        writeFile(drives.host(u"F:\\S\\a.txt"_s), "a", t0);
        CommandRun run;
        QCOMPARE(int(copyCommand(run.w).end), int(RunEnd::Completed));
        QVERIFY(run.boxes.boxes.empty());
        QCOMPARE(tree(drives.host(u"D:\\T"_s)), (QStringList{u"S/"_s, u"S/a.txt=a"_s}));
    }

    void walkNeverEntersItsOwnOutput() {
        // A bind mount made under the running walk, which no check before the
        // run could see, brings the destination into the source: the named
        // folder, the top, or a folder the run made. The walk leaves it out
        // and the run completes, having copied everything else once.
        struct Case {
            QString trigger, folder, point;
            QStringList arrived;
        };
        const QStringList all{u"A/"_s,      u"A/B/"_s, u"A/B/y.txt=y"_s, u"A/x.txt=x"_s,
                              u"a.txt=a"_s, u"sub/"_s, u"sub/b.txt=b"_s};
        QStringList withoutSub = all, withoutB = all;
        withoutSub.removeIf([](const QString& e) { return e.startsWith(u"sub/"_s); });
        withoutB.removeIf([](const QString& e) { return e.startsWith(u"A/B/"_s); });
        for (const Case& c : {Case{u"\\a.txt"_s, u"D:\\T"_s, u"F:\\S\\sub"_s, withoutSub},
                              Case{u"\\a.txt"_s, u"D:\\T\\S"_s, u"F:\\S\\sub"_s, withoutSub},
                              Case{u"\\x.txt"_s, u"D:\\T\\S\\A"_s, u"F:\\S\\A\\B"_s, withoutB}}) {
            TempDrives drives;
            for (const char* f : {"a.txt", "sub\\b.txt", "A\\x.txt", "A\\B\\y.txt"})
                writeFile(drives.host(u"F:\\S\\"_s + QLatin1String(f)),
                          QByteArray(f).right(5).left(1), t0);
            QDir().mkpath(drives.host(u"D:\\T"_s));
            std::unique_ptr<Mount> bind;
            bool runaway = false;
            CommandRun run;
            run.w.onWrite = [&](const RecordingWindow::Write& write) {
                if (!bind && write.value.endsWith(c.trigger))
                    bind = bindMount(drives.host(c.folder), drives.host(c.point));
                if (write.value.count(u'\\') > 8) { // far deeper than the source
                    runaway = true;
                    StopFlag = 1;
                }
            };
            const RunResult outcome = copyCommand(run.w);
            if (bind && !bind->mounted)
                QSKIP(qPrintable(u"a bind mount cannot be made here: "_s + bind->error));
            QVERIFY(bind);
            bind.reset();
            QVERIFY(!runaway);
            QCOMPARE(int(outcome.end), int(RunEnd::Completed));
            QVERIFY(run.boxes.boxes.empty());
            QCOMPARE(tree(drives.host(u"D:\\T\\S"_s)), c.arrived);
        }
    }

    void killedRunLeavesNothingInTheTop() {
        // A run killed while it prepares copies in staging folders, as on a
        // share, leaves them in the destination's top, with a partial copy
        // in each; a killed plain copy leaves its temporary file there. The
        // next run removes them although it copies nothing there, and keeps
        // those of a live process and of another computer.
        TempDrives drives;
        const QString top = drives.host(u"D:\\T\\S"_s);
        QDir().mkpath(top);
        for (int i = 0; i < 8; ++i)
            writeFile(drives.host(u"F:\\S\\Nova\\f%1.txt"_s.arg(i)), "novo", t0);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {u"--child"_s, drives.root()});
        QVERIFY(child.waitForReadyRead(60000));
        QCOMPARE(child.readAllStandardOutput(), "copying\n");
        ::kill(pid_t(child.processId()), SIGKILL);
        QVERIFY(child.waitForFinished(10000));
        const int staged =
            int(QDir(top).entryList({u".pelivor-*.tmp"_s}, QDir::Dirs | QDir::Hidden).size());
        QCOMPARE(staged, int(Lookahead::stagingFolders));

        const QString mine = u"/.pelivor-"_s + QSysInfo::machineHostName();
        writeFile(top + mine + u"-999999-0badf00d.tmp"_s, "partial");
        writeFile(top + mine + u"-1-0badf00d.tmp"_s, "live");
        writeFile(top + u"/.pelivor-other-pc-999999-0badf00d.tmp"_s, "remote");
        // The copies, made by hand: nothing is left to copy.
        for (int i = 0; i < 8; ++i)
            writeFile(top + u"/Nova/f%1.txt"_s.arg(i), "novo", t0);

        FaultyFileSystem faulty;
        RecordingWindow w;
        QString from = u"F:\\S"_s, to = u"D:\\T\\S"_s;
        QCOMPARE(CopyTree(w, from, to, 1, u"*.*"_s), True);
        QCOMPARE(faulty.moved, int64_t(0));
        QCOMPARE(leftovers(top), 2);
        QVERIFY(QFile::exists(top + mine + u"-1-0badf00d.tmp"_s));
        QVERIFY(QFile::exists(top + u"/.pelivor-other-pc-999999-0badf00d.tmp"_s));
    }

    void everyVolumeWrittenIsFlushed() {
        // A stick mounted inside the backup folder is written and flushed
        // with the top's volume; its flush failing is the run's 57, and the
        // top is flushed all the same.
        for (const bool stickFails : {false, true}) {
            TempDrives drives;
            writeFile(drives.host(u"F:\\S\\a.txt"_s), "a", t0);
            writeFile(drives.host(u"F:\\S\\Stick\\x.txt"_s), "x", t0);
            const auto stick = tmpfsAt(drives.host(u"D:\\T\\S\\Stick"_s));
            if (!stick->mounted)
                QSKIP(qPrintable(u"a tmpfs cannot be mounted here: "_s + stick->error));
            const dev_t topDevice = statOf(drives.host(u"D:\\T\\S"_s)).st_dev;
            const dev_t stickDevice = statOf(stick->point).st_dev;
            QVERIFY(topDevice != stickDevice);
            FaultyFileSystem faulty;
            faulty.onSync = [&] {
                faulty.failSyncWith = stickFails && faulty.synced.back() == stickDevice ? EIO : 0;
            };
            CommandRun run;
            const RunResult outcome = copyCommand(run.w);
            QCOMPARE(readFile(stick->point + u"/x.txt"_s), "x");
            std::sort(faulty.synced.begin(), faulty.synced.end());
            std::vector<dev_t> expected{topDevice, stickDevice};
            std::sort(expected.begin(), expected.end());
            QCOMPARE(faulty.synced, expected);
            if (!stickFails) {
                QCOMPARE(int(outcome.end), int(RunEnd::Completed));
                continue;
            }
            QCOMPARE(outcome.error, 57);
            QCOMPARE(run.box(), u"O disco de destino não está pronto! (erro 57)"_s);
        }
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::string_view(argv[1]) == "--child")
        return stagingChild(QFile::decodeName(argv[2]));
    TestMounts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mounts.moc"
