// The tree copy on real temporary trees.

#include "support/testsupport.h"

#include "engine/copytree.h"
#include "platform/errors.h"
#include "platform/progresswindow.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace TRAVO1;
using namespace platform;

namespace {

const QDateTime t0(QDate(2024, 3, 1), QTime(10, 0, 0));

int16_t copyTree(RecordingWindow& w, QString source = u"F:\\S"_s, QString dest = u"D:\\T"_s,
                 int16_t include = 1, const QString& pattern = u"*.*"_s) {
    return CopyTree(w, source, dest, include, pattern);
}

// Records the large-file windows; cancels at `cancelAt` percent.
struct ProgressDouble {
    QStringList opened;
    int cancelAt = 101;
    ProgressDouble() {
        ProgressWindow::install([this](const QString& name) {
            struct Window : ProgressWindow {
                int cancelAt;
                explicit Window(int c) : cancelAt(c) {}
                bool update(int percent) override { return percent < cancelAt; }
            };
            opened << name;
            return std::unique_ptr<ProgressWindow>(new Window(cancelAt));
        });
    }
    ~ProgressDouble() { ProgressWindow::install({}); }
};

} // namespace

class TestCopyTree : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void upToDateRuleAndStatusTexts() {
        TempDrives drives;
        const QString d = drives.host(u"D:\\Dst"_s);
        writeFile(drives.host(u"F:\\Src\\Missing.Txt"_s), "new", t0);
        for (const auto& [name, offset] : {std::pair{"older", -1}, {"equal", 0}, {"newer", 1}}) {
            writeFile(drives.host(u"F:\\Src\\"_s + QLatin1String(name)), "new", t0);
            writeFile(d + u'/' + QLatin1String(name), "old", t0.addSecs(offset));
        }
        RecordingWindow w;
        QCOMPARE(copyTree(w, u"F:\\Src"_s, u"d:\\dst"_s), True);
        QCOMPARE(tree(d), (QStringList{u"Missing.Txt=new"_s, u"equal=old"_s, u"newer=old"_s,
                                       u"older=new"_s}));
        QCOMPARE(QFileInfo(d + u"/Missing.Txt"_s).lastModified(), t0);
        // Folders upper case and ending in "\", names as listed.
        QVERIFY(w.all(u"Lbl_CopyInfo"_s).contains(u"Copiando De: F:\\SRC\\Missing.Txt"_s));
        QVERIFY(w.all(u"Lbl_CopyInfo2"_s).contains(u"Para: D:\\DST\\Missing.Txt"_s));
        QVERIFY(w.all(u"Caption"_s).contains(u"Para: D:\\DST\\Missing.Txt"_s));
    }

    void hiddenSystemAndLinksAreLeftAlone() {
        TempDrives drives;
        const QString s = drives.host(u"F:\\S"_s);
        writeFile(s + u"/real.txt"_s, "r");
        writeFile(s + u"/.hidden.txt"_s, "h");
        writeFile(s + u"/.cache/inner.txt"_s, "h");
        writeFile(drives.host(u"F:\\Outside\\secret.txt"_s), "o");
        QVERIFY(QFile::link(s + u"/real.txt"_s, s + u"/link.txt"_s));
        QVERIFY(QFile::link(drives.host(u"F:\\Outside"_s), s + u"/escape"_s));
        QVERIFY(QFile::link(s, s + u"/loop"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(s + u"/pipe"_s).constData(), 0600), 0);
        QDir().mkpath(drives.host(u"D:\\T"_s));
        RecordingWindow w;
        QCOMPARE(copyTree(w), True);
        QCOMPARE(tree(drives.host(u"D:\\T"_s)), QStringList{u"real.txt=r"_s});
    }

    void sizeRuleAndLargeFiles() {
        TempDrives drives;
        writeFile(drives.host(u"F:\\S\\limit.bin"_s), QByteArray(2048000, 'a'), t0);
        writeFile(drives.host(u"F:\\S\\over.bin"_s), QByteArray(2048001, 'b'), t0);
        writeFile(drives.host(u"D:\\T\\over.bin"_s), "old", t0.addDays(-1));
        ProgressDouble progress;
        BoxRecorder boxes;
        FaultyFileSystem faulty;
        RecordingWindow w;

        // A cancelled or failed large copy keeps the old file; a failure is shown
        // in the copy's own box and still counts for the run.
        progress.cancelAt = 50;
        QCOMPARE(copyTree(w), True);
        faulty.copyFails["over.bin"] = ENOSPC;
        QCOMPARE(copyTree(w), True);
        QCOMPARE(tree(drives.host(u"D:\\T"_s)),
                 (QStringList{u"limit.bin=<2048000>"_s, u"over.bin=old"_s}));
        QCOMPARE(boxes.boxes.size(), size_t(1));
        QCOMPARE(boxes.boxes[0].title, u"Erro ao copiar arquivo"_s);
        QVERIFY(boxes.boxes[0].prompt.contains(u"over.bin"_s));
        QCOMPARE(Err().number, 61);

        // Exactly 2,048,000 bytes go the plain way, one more byte the large way.
        faulty.copyFails.clear();
        progress.cancelAt = 101;
        progress.opened.clear();
        QCOMPARE(copyTree(w), True);
        QCOMPARE(progress.opened, QStringList{u"over.bin"_s});
        QCOMPARE(readFile(drives.host(u"D:\\T\\over.bin"_s)), QByteArray(2048001, 'b'));
    }

    void subdirectories() {
        TempDrives drives;
        writeFile(drives.host(u"F:\\S\\top.txt"_s), "t");
        writeFile(drives.host(u"F:\\S\\Sub1\\a.txt"_s), "a");
        writeFile(drives.host(u"F:\\S\\Sub1\\Deep\\b.txt"_s), "b");
        const QString t = drives.host(u"D:\\T"_s);
        QDir().mkpath(t);
        RecordingWindow w;
        QCOMPARE(copyTree(w, u"F:\\S"_s, u"D:\\T"_s, 0), True);
        QCOMPARE(tree(t), QStringList{u"top.txt=t"_s});

        // Depth first, a level's files before its subfolders; creation shown and repainted.
        QCOMPARE(copyTree(w), True);
        QCOMPARE(tree(t), (QStringList{u"Sub1/"_s, u"Sub1/Deep/"_s, u"Sub1/Deep/b.txt=b"_s,
                                       u"Sub1/a.txt=a"_s, u"top.txt=t"_s}));
        const QStringList expected = {
            u"Copiando De: F:\\S\\top.txt"_s,
            u"Copiando De: F:\\S\\top.txt"_s, // also when up to date
            u"Criando diretório D:\\T\\Sub1"_s,       u"Copiando De: F:\\S\\SUB1\\a.txt"_s,
            u"Criando diretório D:\\T\\SUB1\\Deep"_s, u"Copiando De: F:\\S\\SUB1\\DEEP\\b.txt"_s};
        QCOMPARE(w.all(u"Lbl_CopyInfo"_s), expected);
        QCOMPARE(w.all(u"Refresh"_s), (QStringList{expected[2], expected[4]}));

        // Any number of subfolders is walked.
        for (int i = 0; i < 120; ++i)
            writeFile(drives.host(u"F:\\S\\d%1\\f.txt"_s.arg(i)), QByteArray::number(i));
        QCOMPARE(copyTree(w), True);
        QCOMPARE(tree(t).size(), 2 * 120 + 5);
        QCOMPARE(readFile(drives.host(u"D:\\T\\d119\\f.txt"_s)), "119");
    }

    void upToDateMeansTheSameFile() {
        TempDrives drives;
        const QString t = drives.host(u"D:\\T"_s);
        // An empty copy of a file that is not empty is an interrupted one, even
        // when it is later; the files and folders after it still arrive.
        writeFile(drives.host(u"F:\\S\\A\\full.txt"_s), "data", t0);
        writeFile(t + u"/A/full.txt"_s, "", t0.addDays(1));
        writeFile(drives.host(u"F:\\S\\A\\more.txt"_s), "more", t0);
        writeFile(drives.host(u"F:\\S\\A\\Sub\\deep.txt"_s), "deep", t0);
        writeFile(drives.host(u"F:\\S\\B\\empty.txt"_s), "", t0);
        writeFile(t + u"/B/empty.txt"_s, "", t0);
        // The same second but another length is another version; a later
        // copy of another length is left alone.
        writeFile(drives.host(u"F:\\S\\B\\resized.txt"_s), "longer", t0);
        writeFile(t + u"/B/resized.txt"_s, "short", t0);
        writeFile(drives.host(u"F:\\S\\B\\later.txt"_s), "new", t0);
        writeFile(t + u"/B/later.txt"_s, "newer copy", t0.addSecs(1));
        RecordingWindow w;
        QCOMPARE(copyTree(w), True);
        QCOMPARE(tree(t),
                 (QStringList{u"A/"_s, u"A/Sub/"_s, u"A/Sub/deep.txt=deep"_s, u"A/full.txt=data"_s,
                              u"A/more.txt=more"_s, u"B/"_s, u"B/empty.txt="_s,
                              u"B/later.txt=newer copy"_s, u"B/resized.txt=longer"_s}));
        QCOMPARE(drives.logRecords(), 0);

        // Saved twice within one second, with a run in between: the second
        // save reaches the copy; an unchanged file is not copied again.
        const QString s = drives.host(u"F:\\S\\B\\resized.txt"_s);
        const QDateTime first = t0.addMSecs(100), second = t0.addMSecs(700);
        writeFile(s, "first", first);
        QCOMPARE(copyTree(w), True);
        QCOMPARE(readFile(t + u"/B/resized.txt"_s), "first");
        writeFile(s, "again", second);
        QCOMPARE(copyTree(w), True);
        QCOMPARE(readFile(t + u"/B/resized.txt"_s), "again");
        QCOMPARE(QFileInfo(t + u"/B/resized.txt"_s).lastModified(), second);
        writeFile(t + u"/B/resized.txt"_s, "other", second); // same time and length
        QCOMPARE(copyTree(w), True);
        QCOMPARE(readFile(t + u"/B/resized.txt"_s), "other");
        // A copy kept to whole seconds (a share) is up to date with its source.
        writeFile(t + u"/B/resized.txt"_s, "again", t0);
        QCOMPARE(copyTree(w), True);
        QCOMPARE(readFile(t + u"/B/resized.txt"_s), "again");
        QCOMPARE(QFileInfo(t + u"/B/resized.txt"_s).lastModified(), t0);
    }

    void stopCheckpoints() {
        TempDrives drives;
        for (const char* f : {"a.txt", "b.txt", "Sub\\c.txt", "Sub2\\d.txt"})
            writeFile(drives.host(u"F:\\S\\"_s + QLatin1String(f)), "x");
        const QString t = drives.host(u"D:\\T"_s);
        const auto stopAt = [](const QString& text) {
            return [text](const RecordingWindow::Write& w) {
                if (w.value.contains(text))
                    StopFlag = 1;
            };
        };
        // Runs on a fresh destination: the result and the files that arrived.
        const auto run = [&](auto&& prepare, const QString& pattern = u"*.*"_s) {
            QDir(t).removeRecursively();
            QDir().mkpath(t);
            StopFlag = 0;
            RecordingWindow w;
            prepare(w);
            const int16_t result = copyTree(w, u"F:\\S"_s, u"D:\\T"_s, 1, pattern);
            return std::pair{result, int(tree(t).filter(u"="_s).size())};
        };
        const auto inPump = [](RecordingWindow&) { QTimer::singleShot(0, [] { StopFlag = 1; }); };
        // Before the run: the subfolder scan stops at its first entry.
        QCOMPARE(run([](RecordingWindow&) { StopFlag = 1; }), std::pair(False, 0));
        // In the pump after the listing: no file is copied.
        QCOMPARE(run(inPump), std::pair(False, 0));
        // While a file is shown: that file is still copied, no other.
        QCOMPARE(run([&](RecordingWindow& w) { w.onWrite = stopAt(u"Copiando"_s); }),
                 std::pair(False, 1));
        // ESC pressed while a file is shown reaches the pump before its copy:
        // that file is still copied, no other.
        QCOMPARE(run([](RecordingWindow& w) {
                     w.onWrite = [](const RecordingWindow::Write& write) {
                         if (!write.value.startsWith(u"Copiando"_s))
                             return;
                         QTimer::singleShot(0, [] { StopFlag = 1; });
                         QTest::qSleep(15); // the pump is due again, on a clock of the tick
                     };
                 }),
                 std::pair(False, 1));
        // After a level's file scan (here empty): its subfolders are not entered.
        QCOMPARE(run(inPump, u"*.none"_s), std::pair(False, 0));
        QCOMPARE(tree(t), QStringList{});
        // Inside a subfolder: the top level ends without entering, or making,
        // the remaining subfolders.
        QCOMPARE(run([&](RecordingWindow& w) { w.onWrite = stopAt(u"SUB"_s); }),
                 std::pair(True, 3));
        QCOMPARE(tree(t).filter(QRegularExpression(u"/$"_s)), QStringList{u"Sub/"_s});
        StopFlag = 0;
    }

    // A file removed between the listing and its turn (a program's
    // temporary file) is passed by, the first of its folder as any other:
    // the folder's other files and its subfolders still go, and the run
    // completes.
    void fileGoneSinceTheListing() {
        TempDrives drives;
        for (const QString& name : {u"a.txt"_s, u"b.txt"_s, u"c.txt"_s, u"Sub\\d.txt"_s})
            writeFile(drives.host(u"F:\\S\\Dados\\"_s + name), "x");
        QDir().mkpath(drives.host(u"D:\\T"_s));
        struct Vanishing : FaultyFileSystem {
            std::string gone;
            FileInfo attributes(const Directory& dir, const std::string& name) override {
                if (gone.empty() && dir.pathOf(name).find("/Dados/") != std::string::npos) {
                    ::unlinkat(dir.fd(), name.c_str(), 0);
                    gone = name;
                }
                return FileSystem::attributes(dir, name);
            }
        } vanishing;
        RecordingWindow w;
        QCOMPARE(copyTree(w), True);
        QCOMPARE(Err().number, 0);
        QStringList expected{u"Dados/"_s, u"Dados/Sub/"_s, u"Dados/Sub/d.txt=x"_s};
        for (const char* name : {"a.txt", "b.txt", "c.txt"})
            if (name != vanishing.gone)
                expected << u"Dados/"_s + QLatin1String(name) + u"=x"_s;
        expected.sort();
        QCOMPARE(tree(drives.host(u"D:\\T"_s)), expected);
    }

    void levelFailures() {
        TempDrives drives;
        writeFile(drives.host(u"F:\\S\\Locked\\x.txt"_s), "x");
        writeFile(drives.host(u"F:\\S\\Open\\y.txt"_s), "y");
        writeFile(drives.host(u"F:\\S\\Outer\\Mid\\m.txt"_s), "m");
        writeFile(drives.host(u"F:\\S\\Outer\\Mid\\Blocked\\z.txt"_s), "z");
        writeFile(drives.host(u"D:\\T\\Outer\\Mid\\Blocked"_s), "in the way");
        FaultyFileSystem faulty;
        faulty.openFails["f/S/Locked"] = EACCES;

        // An unreadable folder ends its own level through the error path; a file
        // where a folder belongs ends the level above the one that met it.
        RecordingWindow w;
        QCOMPARE(copyTree(w), True);
        const QStringList status = w.all(u"Lbl_CopyInfo"_s);
        QVERIFY(status.contains(u"Erro: 70 - Permissão negada"_s));
        QVERIFY(status.contains(u"Criando diretório D:\\T\\OUTER\\MID\\Blocked"_s));
        QVERIFY(status.contains(u"Erro: 75 - "_s + describe(75)));
        QCOMPARE(
            tree(drives.host(u"D:\\T"_s)),
            (QStringList{u"Locked/"_s, u"Open/"_s, u"Open/y.txt=y"_s, u"Outer/"_s, u"Outer/Mid/"_s,
                         u"Outer/Mid/Blocked=in the way"_s, u"Outer/Mid/m.txt=m"_s}));
        QVERIFY(drives.log().contains(
            "Erro: 70 - Permiss\xc3\xa3o negada\t\t 70 Permiss\xc3\xa3o negada\t"));
        // The two levels' records, and one for each folder that did not
        // reach the destination: the unreadable one, the one that could not
        // be made, and the level that its failure ended.
        QStringList notCopied = drives.logResults().filter(u"Não copiado: "_s);
        notCopied.sort();
        QCOMPARE(notCopied,
                 (QStringList{u"Não copiado: F:\\S\\LOCKED\\"_s, u"Não copiado: F:\\S\\OUTER\\"_s,
                              u"Não copiado: F:\\S\\OUTER\\MID\\Blocked"_s}));
        QCOMPARE(drives.logRecords(), 2 + 3);

        // At the top level the failed creation is raised to the caller.
        writeFile(drives.host(u"D:\\U\\Open"_s), "in the way");
        clearError();
        try {
            copyTree(w, u"F:\\S"_s, u"D:\\U"_s);
            QFAIL("the failed creation was not raised");
        } catch (const Failure& f) {
            QCOMPARE(f.number, 75);
        }
    }
};

QTEST_GUILESS_MAIN(TestCopyTree)
#include "tst_copytree.moc"
