// A power cut, or a stick pulled out without ejecting, in the middle of a
// run, and the next run: an ext4 image copied as the cut left it, a FUSE
// stick that loses the data it was not made to flush, and a run stopped
// while it compares.

#include "support/testsupport.h"
#include "support/volumes.h"

#include "engine/copycommand.h"
#include "platform/files.h"
#include "platform/runmark.h"

#include <QDir>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTest>
#include <QThread>
#include <csignal>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

using namespace TRAVO1;
using namespace platform;

namespace {

const QDateTime t0(QDate(2024, 3, 1), QTime(10, 0, 0));

QByteArray noise(qsizetype size) {
    QByteArray data(size, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
    return data;
}

// A database file with holes: data at its start and in its middle.
void writeSparse(const QString& path, qint64 length) {
    writeFile(path, noise(256 << 10));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(length / 2) && f.write(noise(64 << 10)) > 0);
    QVERIFY(f.resize(length));
    QVERIFY(f.setFileTime(t0, QFileDevice::FileModificationTime));
}

bool marked(const TempDrives& drives) {
    return QFileInfo::exists(drives.host(u"D:\\T\\S\\"_s) + QLatin1String(RunMark::fileName));
}

// What the status line showed, each text once.
QStringList verified(const RecordingWindow& w) {
    QStringList texts = w.all(u"Lbl_CopyInfo"_s).filter(QRegularExpression(u"^Verificando "_s));
    texts.removeDuplicates();
    texts.sort();
    return texts;
}

// The files of the copy in D:\T that are not their source's in F:\S, or
// are not there at all.
QStringList different(const TempDrives& drives) {
    const auto source = rawTree(drives.host(u"F:\\S"_s));
    const auto copy = rawTree(drives.host(u"D:\\T\\S"_s));
    QStringList names;
    for (const auto& [name, data] : copy)
        if (!source.contains(name) || source.at(name) != data)
            names << QString::fromStdString(name);
    for (const auto& [name, data] : source)
        if (!copy.contains(name))
            names << QString::fromStdString(name);
    return names;
}

// A FUSE stick pulled out without ejecting (latencyfs --stick over a folder),
// plugged in on `point`; unplugged when it goes.
struct FuseStick {
    std::unique_ptr<Mount> mount;
    QString why;
    FuseStick(const QString& backing, const QString& point)
        : mount(mountLatencyFs(point, backing, {u"--stick"_s}, why)) {}
    bool plugged() const { return mount != nullptr; }
    // What the stick had not been made to keep reads as zeros.
    bool pull() {
        ::kill(pid_t(mount->server->processId()), SIGUSR1);
        return mount->server->waitForReadyRead(10000) &&
               mount->server->readAllStandardOutput() == "pulled\n";
    }
};

} // namespace

class TestPowerCut : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A copy torn by the cut keeps its source's length and time; the next run
    // compares the copies that the unfinished run may have placed, shows it,
    // copies again the one that differs, and stops there on ESC. Copies older
    // than the unfinished run are not read.
    void nextRunComparesWhatTheUnfinishedRunPlaced() {
        TempDrives drives;
        const QString s = drives.host(u"F:\\S"_s), t = drives.host(u"D:\\T\\S"_s);
        writeFile(s + u"/old.txt"_s, "backed up before", t0);
        QDir().mkpath(drives.host(u"D:\\T"_s));
        CommandRun before;
        QCOMPARE(int(copyCommand(before.w).end), int(RunEnd::Completed));
        QVERIFY(!marked(drives));
        QThread::msleep(1100); // change times are compared to the second

        writeFile(s + u"/a.txt"_s, "alpha", t0);
        writeFile(s + u"/b.txt"_s, "bravo", t0);
        writeFile(s + u"/Z/z.txt"_s, "zulu", t0);
        CommandRun cut;
        cut.w.onWrite = [&](const RecordingWindow::Write& write) {
            if (write.value == u"Copiando De: F:\\S\\Z\\z.txt"_s)
                StopFlag = 1;
        };
        QCOMPARE(int(copyCommand(cut.w).end), int(RunEnd::Stopped));
        QVERIFY(marked(drives));
        // The cut: b.txt has its length and time and not its data.
        writeFile(t + u"/b.txt"_s, QByteArray(5, '\0'), t0);

        CommandRun stopped;
        stopped.w.onWrite = [&](const RecordingWindow::Write& write) {
            if (write.value == u"Verificando D:\\T\\S\\b.txt"_s)
                StopFlag = 1;
        };
        QCOMPARE(int(copyCommand(stopped.w).end), int(RunEnd::Stopped));
        QVERIFY(marked(drives));
        QCOMPARE(readFile(t + u"/b.txt"_s), QByteArray(5, '\0'));

        // Runs that cover part of the tree, by a pattern or without the
        // subfolders, complete and leave the mark to a run that covers it all.
        for (const auto& [pattern, recourse] :
             {std::pair(u"*.dbf"_s, int16_t(1)), std::pair(u"*.*"_s, int16_t(0))}) {
            CommandRun part;
            part.w.pattern = pattern;
            part.w.recourse = recourse;
            QCOMPARE(int(copyCommand(part.w).end), int(RunEnd::Completed));
            QVERIFY(marked(drives));
        }

        CommandRun next;
        QCOMPARE(int(copyCommand(next.w).end), int(RunEnd::Completed));
        QCOMPARE(verified(next.w),
                 (QStringList{u"Verificando D:\\T\\S\\Z\\z.txt"_s, u"Verificando D:\\T\\S\\a.txt"_s,
                              u"Verificando D:\\T\\S\\b.txt"_s}));
        QVERIFY(!marked(drives));
        QCOMPARE(different(drives), QStringList());

        CommandRun after;
        QCOMPARE(int(copyCommand(after.w).end), int(RunEnd::Completed));
        QCOMPARE(verified(after.w), QStringList());
    }

    // ext4 in an image on a tmpfs, with the default options; the image is
    // copied as a power cut leaves it, after the journal's commit and before
    // the data's write-back, while the run is at a later file.
    void powerCutOnExt4() {
        TempDrives drives;
        QTemporaryDir folder;
        Mount ram(folder.path(), u"mount"_s,
                  {u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size=160m"_s, u"tmpfs"_s});
        if (!ram.mounted)
            QSKIP(qPrintable(u"a tmpfs cannot be mounted here: "_s + ram.error));
        const QString image = folder.path() + u"/disk.img"_s, cut = folder.path() + u"/cut.img"_s;
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(64 << 20));
        file.close();
        QString why;
        if (!succeeds(u"mkfs.ext4"_s, {u"-q"_s, u"-F"_s, image}, &why))
            QSKIP(qPrintable(why));
        const QString d = drives.host(u"D:"_s);
        auto disk = std::make_unique<Mount>(d, u"mount"_s, QStringList{u"-o"_s, u"loop"_s, image});
        if (!disk->mounted)
            QSKIP(qPrintable(u"a loop device cannot be mounted here: "_s + disk->error));
        QDir().mkpath(drives.host(u"D:\\T"_s));
        const QString s = drives.host(u"F:\\S"_s);
        writeSparse(s + u"/base.db"_s, 16 << 20);
        writeFile(s + u"/notas.txt"_s, "notas", t0);
        writeFile(s + u"/Z/z.txt"_s, "zulu", t0);

        SilentProgress progress;
        CommandRun run;
        bool taken = false;
        run.w.onWrite = [&](const RecordingWindow::Write& write) {
            if (write.value != u"Copiando De: F:\\S\\Z\\z.txt"_s)
                return;
            const int mirrored = ::open(bytes(drives.host(u"D:\\T\\S"_s)).c_str(), O_RDONLY);
            ::fsync(mirrored); // the journal's commit, which comes every 5 s anyway
            ::close(mirrored);
            taken = QFile::copy(image, cut);
            StopFlag = 1;
        };
        QCOMPARE(int(copyCommand(run.w).end), int(RunEnd::Stopped));
        QVERIFY(taken);
        disk.reset();

        QProcess fsck;
        fsck.start(u"e2fsck"_s, {u"-fy"_s, cut});
        QVERIFY(fsck.waitForFinished(60000));
        QVERIFY2(fsck.exitStatus() == QProcess::NormalExit && fsck.exitCode() < 4,
                 fsck.readAllStandardOutput().constData());
        disk = std::make_unique<Mount>(d, u"mount"_s, QStringList{u"-o"_s, u"loop"_s, cut});
        QVERIFY2(disk->mounted, qPrintable(disk->error));
        // What the cut left: the database with its length and time, and zeros.
        const QFileInfo torn(drives.host(u"D:\\T\\S\\base.db"_s));
        QCOMPARE(torn.size(), 16 << 20);
        QCOMPARE(torn.lastModified(), t0);
        QVERIFY(readFile(torn.filePath()) != readFile(s + u"/base.db"_s));

        CommandRun next;
        QCOMPARE(int(copyCommand(next.w).end), int(RunEnd::Completed));
        QCOMPARE(different(drives), QStringList());
        QVERIFY(verified(next.w).contains(u"Verificando D:\\T\\S\\base.db"_s));
    }

    // A stick through FUSE pulled out, at its worst: every file written and
    // not flushed turns to zeros of its length, with its time (the kernel
    // tells a FUSE driver of no syncfs), and the stick keeps no change time,
    // so the next run reads every copy. Each copy is flushed before it is
    // placed: those placed before the pull stay whole, and a completed run
    // leaves nothing unflushed.
    void stickPulledWithoutEjecting() {
        TempDrives drives;
        QTemporaryDir backing;
        const QString d = drives.host(u"D:"_s), s = drives.host(u"F:\\S"_s);
        auto stick = std::make_unique<FuseStick>(backing.path(), d);
        if (!stick->why.isEmpty())
            QSKIP(qPrintable(stick->why));
        QDir().mkpath(drives.host(u"D:\\T"_s));
        writeFile(s + u"/notas.txt"_s, "notas", t0);
        writeFile(s + u"/dados.bin"_s, noise(300 << 10), t0);
        writeFile(s + u"/Sub/c.txt"_s, "charlie", t0);
        writeFile(s + u"/Sub/Z/z.txt"_s, "zulu", t0);

        CommandRun run;
        bool pulled = false;
        run.w.onWrite = [&](const RecordingWindow::Write& write) {
            if (write.value != u"Copiando De: F:\\S\\SUB\\Z\\z.txt"_s)
                return;
            pulled = stick->pull();
            StopFlag = 1;
        };
        QCOMPARE(int(copyCommand(run.w).end), int(RunEnd::Stopped));
        QVERIFY(pulled);
        stick.reset();
        stick = std::make_unique<FuseStick>(backing.path(), d); // plugged in again
        QVERIFY2(stick->why.isEmpty(), qPrintable(stick->why));
        QCOMPARE(readFile(drives.host(u"D:\\T\\S\\Sub\\c.txt"_s)), "charlie");
        QCOMPARE(QFileInfo(drives.host(u"D:\\T\\S\\Sub\\c.txt"_s)).lastModified(), t0);

        CommandRun next;
        QCOMPARE(int(copyCommand(next.w).end), int(RunEnd::Completed));
        QCOMPARE(different(drives), QStringList());
        QCOMPARE(verified(next.w), (QStringList{u"Verificando D:\\T\\S\\SUB\\Z\\z.txt"_s,
                                                u"Verificando D:\\T\\S\\SUB\\c.txt"_s,
                                                u"Verificando D:\\T\\S\\dados.bin"_s,
                                                u"Verificando D:\\T\\S\\notas.txt"_s}));

        // Pulled right after "Cópia Atualizada": every copy is there, whole.
        QVERIFY(stick->pull());
        stick.reset();
        stick = std::make_unique<FuseStick>(backing.path(), d);
        QVERIFY2(stick->why.isEmpty(), qPrintable(stick->why));
        QCOMPARE(different(drives), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestPowerCut)
#include "tst_powercut.moc"
