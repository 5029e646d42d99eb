// Sticks whose file system runs in a FUSE driver, as a desktop mounts
// exFAT where the kernel has no driver for it.

#include "support/testsupport.h"
#include "support/volumes.h"

#include "engine/copytree.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

using namespace TRAVO1;
using namespace platform;

namespace {

const QDateTime t0(QDate(2024, 3, 1), QTime(10, 0, 0));

int16_t copyTree(RecordingWindow& w) {
    return CopyTree(w, u"F:\\S"_s, u"D:\\T"_s, 1, u"*.*"_s);
}

} // namespace

class TestFuseSticks : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // exFAT through FUSE drops a modification time set without the access
    // time: each copy gets both, so it keeps its source's time and the next
    // run sees an older source as older.
    void exfatThroughFuse() {
        TempDrives drives;
        QTemporaryDir images;
        const QString image = images.filePath(u"exfat.img"_s), d = drives.host(u"D:"_s);
        QFile file(image);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(32 << 20));
        file.close();
        QString why;
        if (!succeeds(u"mkfs.exfat"_s, {image}, &why))
            QSKIP(qPrintable(why));
        // A block device, which the driver wants: the image on a loop device.
        QProcess loop;
        loop.start(u"losetup"_s, {u"-f"_s, u"--show"_s, image});
        const QString device = loop.waitForFinished() && loop.exitCode() == 0
                                   ? QString::fromLocal8Bit(loop.readAllStandardOutput()).trimmed()
                                   : QString();
        if (device.isEmpty())
            QSKIP("no loop device for the exFAT image");
        const auto detach = qScopeGuard([&] { succeeds(u"losetup"_s, {u"-d"_s, device}); });
        Mount exfat(d, u"mount.exfat-fuse"_s, {device});
        if (!exfat.mounted)
            QSKIP(qPrintable(u"exFAT through FUSE cannot be mounted here: "_s + exfat.error));
        QVERIFY(QDir().mkpath(drives.host(u"D:\\T"_s)));
        writeFile(drives.host(u"F:\\S\\notas.db"_s), "first", t0);
        RecordingWindow w;
        QCOMPARE(copyTree(w), True);
        QCOMPARE(QFileInfo(drives.host(u"D:\\T\\notas.db"_s)).lastModified(), t0);
        // A new version whose time is later than the old one's but earlier
        // than the day of the copy (unpacked, restored) is still copied.
        writeFile(drives.host(u"F:\\S\\notas.db"_s), "other", t0.addDays(1));
        QCOMPARE(copyTree(w), True);
        QCOMPARE(readFile(drives.host(u"D:\\T\\notas.db"_s)), "other");
    }
};

QTEST_GUILESS_MAIN(TestFuseSticks)
#include "tst_fusesticks.moc"
