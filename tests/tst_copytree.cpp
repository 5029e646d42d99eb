// The tree copy on real temporary trees.

#include "support/testsupport.h"

#include "engine/copytree.h"
#include "platform/errors.h"
#include "platform/progresswindow.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <sys/stat.h>

using namespace TRAVO1;
using namespace platform;

namespace {

const QDateTime t0(QDate(2024, 3, 1), QTime(10, 0, 0));

int16_t copyTree(RecordingWindow& w, const QString& from, const QString& to, int16_t include = 1,
                 const QString& pattern = QStringLiteral("*.*")) {
    QString source = from, dest = to;
    return CopyTree(w, source, dest, include, pattern);
}

// Records the large-file windows and can cancel one.
struct ProgressDouble {
    QStringList opened;
    int cancelAt = 101;
    ProgressDouble() {
        ProgressWindow::install([this](const QString& name) -> std::unique_ptr<ProgressWindow> {
            opened << name;
            struct Window : ProgressWindow {
                int cancelAt;
                bool update(int percent) override { return percent < cancelAt; }
            };
            auto window = std::make_unique<Window>();
            window->cancelAt = cancelAt;
            return window;
        });
    }
    ~ProgressDouble() { ProgressWindow::install({}); }
};

} // namespace

class TestCopyTree : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void upToDateRuleAndStatusTexts();
    void hiddenSystemAndLinksAreLeftAlone();
    void sizeRuleAndLargeFileCopy();
    void subdirectoriesAreMirroredDepthFirst();
    void withoutSubdirectories();
    void anyNumberOfSubdirectories();
    void emptyDestinationFile();
    void stopCheckpoints();
    void levelFailures();
};

void TestCopyTree::upToDateRuleAndStatusTexts() {
    TempDrives drives;
    const QString s = drives.host(QStringLiteral("F:\\Src"));
    const QString d = drives.host(QStringLiteral("D:\\Dst"));
    writeFile(s + QStringLiteral("/Missing.Txt"), "new", t0);
    writeFile(s + QStringLiteral("/older.txt"), "new", t0);
    writeFile(d + QStringLiteral("/older.txt"), "old", t0.addSecs(-1));
    writeFile(s + QStringLiteral("/equal.txt"), "new", t0);
    writeFile(d + QStringLiteral("/equal.txt"), "old", t0);
    writeFile(s + QStringLiteral("/newer.txt"), "new", t0);
    writeFile(d + QStringLiteral("/newer.txt"), "old", t0.addSecs(1));

    RecordingWindow w;
    QCOMPARE(copyTree(w, QStringLiteral("F:\\Src"), QStringLiteral("d:\\dst")), True);
    QCOMPARE(readFile(d + QStringLiteral("/Missing.Txt")), QByteArray("new"));
    QCOMPARE(modifiedOf(d + QStringLiteral("/Missing.Txt")), t0);
    QCOMPARE(readFile(d + QStringLiteral("/older.txt")), QByteArray("new"));
    QCOMPARE(readFile(d + QStringLiteral("/equal.txt")), QByteArray("old"));
    QCOMPARE(readFile(d + QStringLiteral("/newer.txt")), QByteArray("old"));

    // Folders upper case and ending in "\", names as listed.
    QVERIFY(w.all(QStringLiteral("Lbl_CopyInfo"))
                .contains(QStringLiteral("Copiando De: F:\\SRC\\Missing.Txt")));
    QVERIFY(w.all(QStringLiteral("Lbl_CopyInfo2"))
                .contains(QStringLiteral("Para: D:\\DST\\Missing.Txt")));
    QVERIFY(
        w.all(QStringLiteral("Caption")).contains(QStringLiteral("Para: D:\\DST\\Missing.Txt")));
    QCOMPARE(w.all(QStringLiteral("Lbl_CopyInfo")).size(), 4);
    QCOMPARE(entriesOf(d).size(), 4); // no temporary file left
}

void TestCopyTree::hiddenSystemAndLinksAreLeftAlone() {
    TempDrives drives;
    QDir().mkpath(drives.host(QStringLiteral("D:\\T")));
    const QString s = drives.host(QStringLiteral("F:\\S"));
    const QString outside = drives.host(QStringLiteral("F:\\Outside"));
    writeFile(s + QStringLiteral("/real.txt"), "r");
    writeFile(s + QStringLiteral("/.hidden.txt"), "h");
    writeFile(s + QStringLiteral("/.cache/inner.txt"), "h");
    writeFile(outside + QStringLiteral("/secret.txt"), "o");
    QVERIFY(QFile::link(s + QStringLiteral("/real.txt"), s + QStringLiteral("/link.txt")));
    QVERIFY(QFile::link(outside, s + QStringLiteral("/escape")));
    QVERIFY(QFile::link(s, s + QStringLiteral("/loop")));
    QCOMPARE(::mkfifo(QFile::encodeName(s + QStringLiteral("/pipe")).constData(), 0600), 0);

    RecordingWindow w;
    QCOMPARE(copyTree(w, QStringLiteral("F:\\S"), QStringLiteral("D:\\T")), True);
    QCOMPARE(entriesOf(drives.host(QStringLiteral("D:\\T"))),
             QStringList{QStringLiteral("real.txt")});
}

void TestCopyTree::sizeRuleAndLargeFileCopy() {
    TempDrives drives;
    QDir().mkpath(drives.host(QStringLiteral("D:\\T")));
    const QString s = drives.host(QStringLiteral("F:\\S"));
    writeFile(s + QStringLiteral("/limit.bin"), QByteArray(2048000, 'a'), t0);
    writeFile(s + QStringLiteral("/over.bin"), QByteArray(2048001, 'b'), t0);
    ProgressDouble progress;
    BoxRecorder boxes;
    RecordingWindow w;
    QCOMPARE(copyTree(w, QStringLiteral("F:\\S"), QStringLiteral("D:\\T")), True);
    QVERIFY2(boxes.boxes.empty(),
             qPrintable(boxes.boxes.empty() ? QString() : boxes.boxes[0].prompt));
    QCOMPARE(progress.opened, QStringList{QStringLiteral("over.bin")});
    QCOMPARE(readFile(drives.host(QStringLiteral("D:\\T\\over.bin"))), QByteArray(2048001, 'b'));
    QCOMPARE(modifiedOf(drives.host(QStringLiteral("D:\\T\\over.bin"))), t0);
    QCOMPARE(readFile(drives.host(QStringLiteral("D:\\T\\limit.bin"))).size(), 2048000);
}

void TestCopyTree::subdirectoriesAreMirroredDepthFirst() {
    TempDrives drives;
    const QString s = drives.host(QStringLiteral("F:\\S"));
    writeFile(s + QStringLiteral("/top.txt"), "t");
    writeFile(s + QStringLiteral("/Sub1/a.txt"), "a");
    writeFile(s + QStringLiteral("/Sub1/Deep/b.txt"), "b");
    QDir().mkpath(drives.host(QStringLiteral("D:\\T")));

    RecordingWindow w;
    QCOMPARE(copyTree(w, QStringLiteral("F:\\S"), QStringLiteral("D:\\T")), True);
    QCOMPARE(readFile(drives.host(QStringLiteral("D:\\T\\Sub1\\Deep\\b.txt"))), QByteArray("b"));
    QCOMPARE(readFile(drives.host(QStringLiteral("D:\\T\\Sub1\\a.txt"))), QByteArray("a"));

    const QStringList status = w.all(QStringLiteral("Lbl_CopyInfo"));
    const QStringList expected = {
        QStringLiteral("Copiando De: F:\\S\\top.txt"),
        QStringLiteral("Criando diretório D:\\T\\Sub1"),
        QStringLiteral("Copiando De: F:\\S\\SUB1\\a.txt"),
        QStringLiteral("Criando diretório D:\\T\\SUB1\\Deep"),
        QStringLiteral("Copiando De: F:\\S\\SUB1\\DEEP\\b.txt"),
    };
    QCOMPARE(status, expected);
    QVERIFY(w.all(QStringLiteral("Lbl_CopyInfo.Refresh")).contains(expected[1]));

    // A second run finds everything in place: no creation, no copy.
    RecordingWindow again;
    QCOMPARE(copyTree(again, QStringLiteral("F:\\S"), QStringLiteral("D:\\T")), True);
    QVERIFY(!again.all(QStringLiteral("Lbl_CopyInfo"))
                 .join(QLatin1Char('|'))
                 .contains(QStringLiteral("Criando")));
}

void TestCopyTree::withoutSubdirectories() {
    TempDrives drives;
    QDir().mkpath(drives.host(QStringLiteral("D:\\T")));
    writeFile(drives.host(QStringLiteral("F:\\S\\a.txt")), "a");
    writeFile(drives.host(QStringLiteral("F:\\S\\Sub\\b.txt")), "b");
    RecordingWindow w;
    QCOMPARE(copyTree(w, QStringLiteral("F:\\S"), QStringLiteral("D:\\T"), 0), True);
    QCOMPARE(entriesOf(drives.host(QStringLiteral("D:\\T"))), QStringList{QStringLiteral("a.txt")});
}

void TestCopyTree::anyNumberOfSubdirectories() {
    TempDrives drives;
    QDir().mkpath(drives.host(QStringLiteral("D:\\T")));
    for (int i = 0; i < 120; ++i)
        writeFile(drives.host(QStringLiteral("F:\\S\\d%1\\f.txt").arg(i)), QByteArray::number(i));
    writeFile(drives.host(QStringLiteral("F:\\S\\top.txt")), "t");
    RecordingWindow w;
    QCOMPARE(copyTree(w, QStringLiteral("F:\\S"), QStringLiteral("D:\\T")), True);
    QCOMPARE(entriesOf(drives.host(QStringLiteral("D:\\T"))).size(), 121);
    QCOMPARE(readFile(drives.host(QStringLiteral("D:\\T\\d119\\f.txt"))), QByteArray("119"));
}

void TestCopyTree::emptyDestinationFile() {
    TempDrives drives;
    writeFile(drives.host(QStringLiteral("F:\\S\\A\\full.txt")), "data", t0);
    writeFile(drives.host(QStringLiteral("D:\\T\\A\\full.txt")), "", t0.addDays(1));
    writeFile(drives.host(QStringLiteral("F:\\S\\B\\empty.txt")), "", t0.addDays(1));
    writeFile(drives.host(QStringLiteral("D:\\T\\B\\empty.txt")), "", t0);
    writeFile(drives.host(QStringLiteral("F:\\S\\B\\more.txt")), "more", t0);

    RecordingWindow w;
    QCOMPARE(copyTree(w, QStringLiteral("F:\\S"), QStringLiteral("D:\\T")), True);
    // A ends on "Disco cheio" with one log record; B, whose empty file is up
    // to date, goes on.
    QCOMPARE(w.all(QStringLiteral("Lbl_CopyInfo")).count(QStringLiteral("Disco cheio")), 1);
    QCOMPARE(readFile(drives.host(QStringLiteral("D:\\T\\A\\full.txt"))), QByteArray());
    QCOMPARE(readFile(drives.host(QStringLiteral("D:\\T\\B\\more.txt"))), QByteArray("more"));
    const QList<QByteArray> log = drives.log().split('\n');
    QCOMPARE(log.size(), 3); // header, one record, the final line end
    QVERIFY(log[1].startsWith("Disco cheio\t\t 0 \t"));
}

void TestCopyTree::stopCheckpoints() {
    TempDrives drives;
    QDir().mkpath(drives.host(QStringLiteral("D:\\T")));
    writeFile(drives.host(QStringLiteral("F:\\S\\a.txt")), "a");
    writeFile(drives.host(QStringLiteral("F:\\S\\b.txt")), "b");
    writeFile(drives.host(QStringLiteral("F:\\S\\Sub\\c.txt")), "c");
    writeFile(drives.host(QStringLiteral("F:\\S\\Sub2\\d.txt")), "d");
    const QString t = drives.host(QStringLiteral("D:\\T"));
    const auto copied = [&] {
        QStringList files;
        for (const char* f : {"a.txt", "b.txt", "Sub/c.txt", "Sub2/d.txt"})
            if (QFile::exists(t + QLatin1Char('/') + QString::fromLatin1(f)))
                files << QString::fromLatin1(f);
        return files;
    };

    // Pressed before the run: the subdirectory scan stops at its first entry.
    {
        RecordingWindow w;
        StopFlag = 1;
        QCOMPARE(copyTree(w, QStringLiteral("F:\\S"), QStringLiteral("D:\\T")), False);
        QVERIFY(w.writes.empty());
    }
    // Pressed during the pump after the file listing: no file is copied.
    {
        StopFlag = 0;
        RecordingWindow w;
        QTimer::singleShot(0, [] { StopFlag = 1; });
        QCOMPARE(copyTree(w, QStringLiteral("F:\\S"), QStringLiteral("D:\\T")), False);
        QVERIFY(w.writes.empty());
        QCOMPARE(copied(), QStringList{});
    }
    // Pressed while the first file is shown: that file is still copied, no other.
    {
        StopFlag = 0;
        RecordingWindow w;
        w.onWrite = [](const RecordingWindow::Write& write) {
            if (write.control == QStringLiteral("Lbl_CopyInfo"))
                StopFlag = 1;
        };
        QCOMPARE(copyTree(w, QStringLiteral("F:\\S"), QStringLiteral("D:\\T")), False);
        QCOMPARE(copied().size(), 1);
        QDir(t).removeRecursively();
        QDir().mkpath(t);
    }
    // Pressed during the pump of a level without files: its subfolders are
    // not entered.
    {
        StopFlag = 0;
        RecordingWindow w;
        QTimer::singleShot(0, [] { StopFlag = 1; });
        QCOMPARE(copyTree(w, QStringLiteral("F:\\S\\"), QStringLiteral("D:\\T"), 1,
                          QStringLiteral("*.none")),
                 False);
        QCOMPARE(entriesOf(t), QStringList{});
    }
    // Pressed inside a subdirectory: that level stops, the top level runs to
    // its end and still enters the remaining subdirectories, copying nothing.
    {
        StopFlag = 0;
        RecordingWindow w;
        w.onWrite = [](const RecordingWindow::Write& write) {
            if (write.value.contains(QStringLiteral("c.txt")) ||
                write.value.contains(QStringLiteral("d.txt")))
                StopFlag = 1;
        };
        QCOMPARE(copyTree(w, QStringLiteral("F:\\S"), QStringLiteral("D:\\T")), True);
        QCOMPARE(copied().size(), 3);
        QVERIFY(QFileInfo(t + QStringLiteral("/Sub")).isDir());
        QVERIFY(QFileInfo(t + QStringLiteral("/Sub2")).isDir());
    }
    StopFlag = 0;
}

void TestCopyTree::levelFailures() {
    TempDrives drives;
    writeFile(drives.host(QStringLiteral("F:\\S\\Locked\\x.txt")), "x");
    writeFile(drives.host(QStringLiteral("F:\\S\\Open\\y.txt")), "y");
    writeFile(drives.host(QStringLiteral("F:\\S\\Outer\\Mid\\Blocked\\z.txt")), "z");
    writeFile(drives.host(QStringLiteral("F:\\S\\Outer\\Mid\\m.txt")), "m");
    writeFile(drives.host(QStringLiteral("F:\\S\\big.bin")), QByteArray(3000000, 'g'));
    writeFile(drives.host(QStringLiteral("D:\\T\\big.bin")), "old", t0);
    writeFile(drives.host(QStringLiteral("D:\\T\\Outer\\Mid\\Blocked")), "a file in the way");

    FaultyFileSystem faulty;
    faulty.openFails["f/S/Locked"] = EACCES;
    faulty.copyFails["big.bin"] = ENOSPC;
    BoxRecorder boxes;
    ProgressDouble progress;
    RecordingWindow w;
    const int16_t result = copyTree(w, QStringLiteral("F:\\S"), QStringLiteral("D:\\T"));
    QVERIFY2(result == True,
             qPrintable(w.all(QStringLiteral("Lbl_CopyInfo")).join(QLatin1Char('|'))));

    // The large copy's failure is shown in its own box only.
    QCOMPARE(boxes.boxes.size(), size_t(1));
    QCOMPARE(boxes.boxes[0].title, QStringLiteral("Erro ao copiar arquivo"));
    QVERIFY(boxes.boxes[0].prompt.contains(QStringLiteral("big.bin")));
    QCOMPARE(readFile(drives.host(QStringLiteral("D:\\T\\big.bin"))), QByteArray("old"));

    // An unreadable folder ends its own level through the error path; a file
    // where a folder belongs ends the level above the one that met it.
    const QStringList status = w.all(QStringLiteral("Lbl_CopyInfo"));
    QVERIFY(status.contains(QStringLiteral("Erro: 70 - Permissão negada")));
    QVERIFY(status.contains(QStringLiteral("Criando diretório D:\\T\\OUTER\\MID\\Blocked")));
    QVERIFY(status.contains(QStringLiteral("Erro: 75 - ") + describe(75)));
    QCOMPARE(readFile(drives.host(QStringLiteral("D:\\T\\Open\\y.txt"))), QByteArray("y"));
    QCOMPARE(readFile(drives.host(QStringLiteral("D:\\T\\Outer\\Mid\\m.txt"))), QByteArray("m"));
    const QByteArray log = drives.log();
    QVERIFY(log.contains("Erro: 70 - Permiss\xc3\xa3o negada\t\t 70 Permiss\xc3\xa3o negada\t"));
    QCOMPARE(log.count("\r\n"), 3);

    // A failed creation at the top level is raised to the caller.
    faulty.openFails.clear();
    writeFile(drives.host(QStringLiteral("D:\\U\\Open")), "in the way");
    RecordingWindow top;
    clearError();
    try {
        copyTree(top, QStringLiteral("F:\\S"), QStringLiteral("D:\\U"));
        QFAIL("the failed creation was not raised");
    } catch (const Failure& f) {
        QCOMPARE(f.number, 75);
        QCOMPARE(Err().number, 75);
    }

    // A cancelled large copy leaves the old file and no temporary file.
    faulty.copyFails.clear();
    progress.cancelAt = 50;
    RecordingWindow cancel;
    copyTree(cancel, QStringLiteral("F:\\S"), QStringLiteral("D:\\T"), 0);
    QCOMPARE(readFile(drives.host(QStringLiteral("D:\\T\\big.bin"))), QByteArray("old"));
    QCOMPARE(entriesOf(drives.host(QStringLiteral("D:\\T"))),
             (QStringList{QStringLiteral("Locked"), QStringLiteral("Open"), QStringLiteral("Outer"),
                          QStringLiteral("big.bin")}));
}

QTEST_MAIN(TestCopyTree)
#include "tst_copytree.moc"
