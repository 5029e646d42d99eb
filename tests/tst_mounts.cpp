// A run and the mounts around it: a destination reached through a bind mount
// of a source folder. Every volume is a real mount made by the test itself.

#include "support/testsupport.h"
#include "support/volumes.h"

#include "engine/copycommand.h"
#include "platform/errors.h"

#include <QCoreApplication>
#include <QDir>
#include <QTest>
#include <sys/stat.h>

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
            QCOMPARE(int(cmdCopy_Click(run.w).end), int(RunEnd::Refused));
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
        QCOMPARE(int(cmdCopy_Click(run.w).end), int(RunEnd::Completed));
        QVERIFY(run.boxes.boxes.empty());
        QCOMPARE(tree(drives.host(u"D:\\T"_s)), (QStringList{u"S/"_s, u"S/a.txt=a"_s}));
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    TestMounts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mounts.moc"
