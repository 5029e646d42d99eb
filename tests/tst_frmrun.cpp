// A run through the main window, offscreen, on temporary drives: what the
// window shows at each end of a run (completed, stopped, reported), the
// morning after a failed night, a drive changed or pulled out meanwhile, the
// command line's run of the same case, and "Sair" in the middle of a run.

#include "support/testsupport.h"
#include "support/window.h"

#include "engine/jobstate.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/names.h"
#include "platform/regional.h"
#include "ui/controls.h"
#include "ui/frm_copy.h"
#include "ui/windowservices.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace TRAVO1;
using namespace platform;
using namespace ui;

class TestFrmRun : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Whatever ends a run, the window shows that nothing runs any more and
    // how it ended: never a success of an earlier run, never "Tecle ESC para
    // parar" or a greyed "Copiar" after the end, an end time later than the
    // start, and the free space as it is now.
    void everyEndOfARunIsShown() {
        Window t;
        Frm_Copy& f = t.load();
        auto& c = t.ui();
        for (int i = 0; i < 40; ++i)
            writeFile(t.drives.host(u"C:\\PROG\\f%1.dat"_s.arg(i)), "data");
        c.Drive2->setDrive(u"D:"_s);
        c.Dir2->setPath(u"D:\\BACKUP"_s);
        const auto ended = [&](const QString& how) {
            QCOMPARE(c.Lbl_CopyInfo->caption(), how);
            QCOMPARE(f.windowTitle(), how);
            QCOMPARE(c.Lbl_CopyInfo2->caption(), QString());
            QVERIFY(c.cmdCopy->isEnabled());
            QVERIFY(!c.Label12->isVisible());
            QVERIFY(c.lblHoraFin->caption().startsWith(u"Horário Final:"_s));
            QCOMPARE(mousePointer(), 0);
        };
        // What a run shows while it works, read at its first file.
        QString titleDuring, endDuring;
        const auto watchTheStart = [&] {
            QTimer::singleShot(0, &f, [&] {
                titleDuring = f.caption();
                endDuring = c.lblHoraFin->caption();
            });
        };

        t.freeBytes = 3 << 20;
        watchTheStart();
        c.cmdCopy->click();
        const QString done = u"Cópia Atualizada - "_s + dateText();
        ended(done);
        QCOMPARE(c.Label11->caption(), u"Livre: 3,00 MBytes"_s);

        // Another run of the folder (the night's) holds its lock: the box
        // says so, and this window's last success no longer stands.
        {
            const QByteArray lock =
                QFile::encodeName(t.drives.host(u"C:\\PROG"_s) + u"/.pelivor.lock"_s);
            const int held = ::open(lock.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            QVERIFY(held >= 0 && ::flock(held, LOCK_EX | LOCK_NB) == 0);
            c.cmdCopy->click();
            ::close(held);
        }
        QCOMPARE(t.boxes.boxes.size(), size_t(1));
        QVERIFY(!f.windowTitle().startsWith(u"Cópia Atualizada"_s));
        QVERIFY(!c.Lbl_CopyInfo->caption().startsWith(u"Cópia Atualizada"_s));
        QVERIFY(c.cmdCopy->isEnabled());

        // A stop: seen as such.
        t.freeBytes = 2 << 20;
        for (int i = 0; i < 40; ++i)
            writeFile(t.drives.host(u"C:\\PROG\\f%1.dat"_s.arg(i)), "newer");
        watchTheStart();
        QTimer::singleShot(0, &f, [&] {
            QWidget* focused = QApplication::focusWidget();
            QTest::keyClick(focused ? focused : &f, Qt::Key_Escape);
        });
        c.cmdCopy->click();
        ended(u"Cópia interrompida."_s);
        QVERIFY(!titleDuring.startsWith(u"Cópia Atualizada"_s));
        QCOMPARE(endDuring, QString()); // the last end time went with the start
        QCOMPARE(c.Label11->caption(), u"Livre: 2,00 MBytes"_s);

        // The destination gone (a stick pulled out): the error, in the title too.
        QVERIFY(QDir(t.drives.host(u"D:\\BACKUP"_s)).removeRecursively());
        QString behindTheBox;
        t.boxes.whileShown = [&] { behindTheBox = f.caption() + u'|' + c.Lbl_CopyInfo->caption(); };
        c.cmdCopy->click();
        QCOMPARE(behindTheBox, u"Erro na execução da cópia. 76|Erro na execução da cópia. 76"_s);
        QCOMPARE(t.boxes.boxes.size(), size_t(2));
        ended(u"Erro na execução da cópia. 76"_s);
        QCOMPARE(t.drives.logResults(),
                 (QStringList{done, u"Cópia interrompida."_s, u"Erro na execução da cópia. 76"_s}));
    }

    // A night's run that failed is in the status line the next morning,
    // until the next run; a night that completed leaves nothing there.
    void theMorningAfter() {
        const QByteArray header = "RESULTADO\tDESTINO\tERROS\tDATA\t06/12/2026 22:30:00\r\n";
        const QByteArray completed =
            "Cópia Atualizada - 06/12/2026\tD:\\BACKUP\t 0 \t06/12/2026 22:31:10\r\n";
        const QByteArray failed =
            "Erro na execução da cópia. 61\tD:\\BACKUP\t 61 Disco cheio\t07/12/2026 22:30:05\r\n";
        for (const QByteArray& last : {completed, failed}) {
            Window t;
            writeFile(t.drives.logPath(), header + (last == failed ? completed : failed) + last);
            Frm_Copy& f = t.load();
            if (last == completed) {
                QCOMPARE(f.ui.Lbl_CopyInfo->caption(), QString());
                continue;
            }
            QCOMPARE(f.ui.Lbl_CopyInfo->caption(),
                     u"Última cópia: 07/12/2026 22:30 - Erro na execução da cópia. 61"_s);
            f.ui.Drive2->setDrive(u"D:"_s);
            f.ui.Dir2->setPath(u"D:\\BACKUP"_s);
            QString during;
            QTimer::singleShot(0, &f, [&] { during = f.ui.Lbl_CopyInfo->caption(); });
            f.ui.cmdCopy->click();
            QVERIFY2(!during.startsWith(u"Última"_s), qPrintable(during));
            QVERIFY(f.ui.Lbl_CopyInfo->caption().startsWith(u"Cópia Atualizada"_s));
        }
    }

    void wholeRunThroughTheWindow() {
        Window t;
        Frm_Copy& f = t.load();
        auto& c = t.ui();
        // The root of a drive is refused as a destination.
        c.cmdCopy->click();
        QCOMPARE(t.boxes.boxes.size(), size_t(1));
        QVERIFY(c.cmdCopy->isEnabled());
        t.boxes.boxes.clear();

        c.Drive2->setDrive(u"D:"_s);
        // The operator opens BACKUP with a double-click, then the drive root
        // and BACKUP again with Enter.
        const auto rowOf = [&](int row) {
            return c.Dir2->visualItemRect(c.Dir2->item(row)).center();
        };
        QTest::mouseClick(c.Dir2->viewport(), Qt::LeftButton, {}, rowOf(1));
        QTest::mouseDClick(c.Dir2->viewport(), Qt::LeftButton, {}, rowOf(1));
        QCOMPARE(c.txtTo->text(), u"D:\\BACKUP"_s);
        c.Dir2->setFocus();
        c.Dir2->setCurrentRow(0);
        QTest::keyClick(c.Dir2, Qt::Key_Return);
        QCOMPARE(c.txtTo->text(), u"D:\\"_s);
        c.Dir2->setCurrentRow(1);
        QTest::keyClick(c.Dir2, Qt::Key_Return);
        QCOMPARE(c.txtTo->text(), u"D:\\BACKUP"_s);
        c.cmdCopy->click();
        QCOMPARE(readFile(t.drives.host(u"D:\\BACKUP\\PROG\\cad.dat"_s)), QByteArray("cad"));
        QCOMPARE(readFile(t.drives.host(u"D:\\BACKUP\\PROG\\SUB\\mov.dat"_s)), QByteArray("mov"));
        const QString done = u"Cópia Atualizada - "_s + dateText();
        QCOMPARE(c.Lbl_CopyInfo->caption(), done);
        QCOMPARE(f.windowTitle(), done);
        QVERIFY(c.lblHoraFin->text().startsWith(u"Horário Final:"_s));
        QVERIFY(c.cmdCopy->isEnabled() && !c.Label12->isVisible());
        QCOMPARE(t.drives.logRecords(), 1);
        QVERIFY(t.boxes.boxes.empty());
        QCOMPARE(mousePointer(), 0);
    }

    void commandLineRunIsAWindowRun() {
        // One case twice, on the host's own drives: a click on "Copiar" in
        // the window, and the program started with --copiar-para, each from
        // its own application folder. The copies and the log records are the
        // same but for the folder's name and the times.
        QTemporaryDir root;
        const auto drivePath = [](const QString& host) {
            return DriveTable::current().toDrivePath(platform::hostBytes(host));
        };
        for (const QString& run : {u"W"_s, u"L"_s}) {
            const QString program = root.path() + u'/' + run + u"/PROG"_s;
            writeFile(program + u"/cad.dat"_s, "cad");
            writeFile(program + u"/SUB/mov.dat"_s, "mov");
            writeFile(program + u"/.oculto"_s, "hidden");
            QVERIFY(QFile::copy(QStringLiteral(PELIVOR_PROGRAM), program + u"/pelivor"_s));
            QVERIFY(QDir().mkpath(root.path() + u'/' + run + u"/BACKUP"_s));
        }
        const QString w = root.path() + u"/W"_s, l = root.path() + u"/L"_s;
        {
            BoxRecorder boxes;
            const QString saved = QDir::currentPath();
            DriveTable::reset();
            setProgramFolder(drivePath(w + u"/PROG"_s));
            QDir::setCurrent(w + u"/PROG"_s);
            Frm_Copy form;
            form.Form_Load();
            form.ui.Drive2->setDrive(drivePath(w));
            form.ui.Dir2->setPath(drivePath(w + u"/BACKUP"_s));
            form.ui.cmdCopy->click();
            QDir::setCurrent(saved);
            setProgramFolder(QString());
            QVERIFY(boxes.boxes.empty());
        }
        QProcess cli;
        cli.setWorkingDirectory(l + u"/PROG"_s);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(u"DISPLAY"_s);
        env.remove(u"QT_QPA_PLATFORM"_s);
        cli.setProcessEnvironment(env);
        cli.start(l + u"/PROG/pelivor"_s, {u"--copiar-para"_s, drivePath(l + u"/BACKUP"_s)});
        QVERIFY(cli.waitForFinished(60000));
        QCOMPARE(cli.exitCode(), 0);

        QCOMPARE(tree(l + u"/BACKUP"_s + l + u"/PROG"_s), tree(w + u"/BACKUP"_s + w + u"/PROG"_s));
        QCOMPARE(tree(w + u"/BACKUP"_s + w + u"/PROG"_s),
                 (QStringList{u"SUB/"_s, u"SUB/mov.dat=mov"_s, u"cad.dat=cad"_s,
                              u"pelivor=<%1>"_s.arg(QFileInfo(l + u"/PROG/pelivor"_s).size())}));
        const auto records = [&](const QString& folder) {
            static const QRegularExpression times(
                u"\\d\\d/\\d\\d/\\d{4}( \\d\\d:\\d\\d:\\d\\d)?"_s);
            return QString::fromLocal8Bit(readFile(folder + u"/PROG/Log.txt"_s))
                .replace(times, u"<data>"_s)
                .replace(drivePath(folder), u"<pasta>"_s);
        };
        QCOMPARE(records(l), records(w));
        QCOMPARE(records(w).count(u"Cópia Atualizada - <data>\t<pasta>\\BACKUP\t 0 \t<data>"_s), 1);
    }

    void driveChangeDuringRun() {
        Window t;
        Frm_Copy& f = t.load();
        auto& c = t.ui();
        c.Drive2->setDrive(u"D:"_s);
        c.Dir2->setPath(u"D:\\BACKUP"_s);
        // The operator picks another drive while the run works; a second
        // click then does nothing.
        bool changed = false;
        std::vector<bool> enabledDuring;
        t.onQuery = [&] { enabledDuring.push_back(c.cmdCopy->isEnabled()); };
        QTimer::singleShot(0, &f, [&] {
            c.Drive2->setDrive(u"F:"_s);
            changed = true;
            enabledDuring.push_back(c.cmdCopy->isEnabled());
            f.cmdCopy_Click();
        });
        c.cmdCopy->click();
        QVERIFY(changed);
        // The drive's change, its free space, and the run's end refreshing
        // it (another test's mount may add a refresh): "Copiar" off at each.
        QVERIFY(enabledDuring.size() >= 3);
        QVERIFY(std::find(enabledDuring.begin(), enabledDuring.end(), true) == enabledDuring.end());
        QCOMPARE(t.drives.logRecords(), 1); // a run inside the run would log its own end
        QVERIFY(c.cmdCopy->isEnabled());
        QCOMPARE(readFile(t.drives.host(u"D:\\BACKUP\\PROG\\cad.dat"_s)), QByteArray("cad"));
    }

    void oneDriveWayOut() {
        // A machine whose only drive is C:. Choosing the drive shown counts as
        // choosing it, so every state that disables "Copiar" has a way out.
        Window t;
        DriveTable::install(DriveTable({*DriveTable::current().find(u'C')}));
        t.load();
        auto& c = t.ui();
        for (int i = 0; i < 40; ++i)
            writeFile(t.drives.host(u"C:\\PROG\\f%1.dat"_s.arg(i)), "data");
        QVERIFY(QDir().mkpath(t.drives.host(u"C:\\BACKUP"_s)));
        c.Dir2->setPath(u"C:\\BACKUP"_s);
        // The drive already shown, chosen again, keeps the folder chosen on it.
        chooseShownDrive(c.Drive2);
        QCOMPARE(c.txtTo->text(), u"C:\\BACKUP"_s);
        // A reported error (the free space overflows), then the drive again.
        t.freeBytes = 922337203685478;
        chooseShownDrive(c.Drive2);
        QVERIFY(!c.cmdCopy->isEnabled());
        QCOMPARE(t.boxes.boxes.size(), size_t(1));
        t.freeBytes = 0;
        chooseShownDrive(c.Drive2);
        QVERIFY(c.cmdCopy->isEnabled());
        QCOMPARE(c.Label11->text(), u"Livre: 0,00 MBytes"_s);

        // A refused start, in a network folder: the source list leaves it for
        // the drive, and "Copiar" comes on.
        Window r;
        DriveTable table({*DriveTable::current().find(u'C')});
        const QString net = r.drives.host(u"C:\\NET"_s);
        QVERIFY(QDir().mkpath(net + u"/share"_s));
        table.networkRoots = {platform::hostBytes(net)};
        DriveTable::install(table);
        QDir::setCurrent(net + u"/share"_s);
        r.load();
        QVERIFY(r.ui().Dir1->path().startsWith(u'\\'));
        chooseShownDrive(r.ui().Drive1);
        QCOMPARE(r.ui().txtFrom->text(), u"C:\\"_s);
        QVERIFY(!r.ui().cmdCopy->isEnabled());
        chooseShownDrive(r.ui().Drive2);
        QVERIFY(r.ui().cmdCopy->isEnabled());
    }

    void leavingInTheMiddleOfALargeCopy() {
        // "Sair" and closing the window end the program at once, so the run
        // happens in a child process.
        for (const QString& how : {u"--sair-mid-run"_s, u"--close-mid-run"_s}) {
            QProcess child;
            child.start(QCoreApplication::applicationFilePath(), {how});
            QVERIFY(child.waitForFinished(120000));
            QCOMPARE(child.exitStatus(), QProcess::NormalExit);
            QCOMPARE(child.exitCode(), 0);
            const QString root = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
            QVERIFY(root.startsWith(u'/'));
            const QString dest = root + u"/d/BACKUP/PROG"_s;
            // Whatever arrived is whole; no temporary file and no end-of-run record.
            const QStringList arrived = tree(dest);
            QVERIFY(!arrived.join(u' ').contains(u".pelivor-"_s));
            QVERIFY2(!QFileInfo::exists(dest + u"/big.dat"_s), qPrintable(how));
            for (const QString& entry : arrived)
                if (!entry.endsWith(u'/'))
                    QCOMPARE(readFile(dest + u'/' + entry.section(u'=', 0, 0)),
                             readFile(root + u"/c/PROG/"_s + entry.section(u'=', 0, 0)));
            QVERIFY(!readFile(root + u"/c/PROG/Log.txt"_s).contains("Atualizada"));
            QDir(root).removeRecursively();
        }
    }
};

namespace {

// The child of the test above: "Sair", or closing the window, while a large
// file is half copied.
int leaveMidRun(bool close) {
    auto* t = new Window;        // never freed: the program ends inside the run
    ui::installWindowServices(); // the program's own progress window, which lets events through
    t->drives.keep();
    writeFile(t->drives.host(u"C:\\PROG\\big.dat"_s), QByteArray(20 << 20, 'b'));
    std::printf("%s\n", qPrintable(t->drives.host(u"C:\\"_s).section(u'/', 0, -3)));
    std::fflush(stdout);
    Frm_Copy& f = t->load();
    f.ui.Drive2->setDrive(u"D:"_s);
    f.ui.Dir2->setPath(u"D:\\BACKUP"_s);
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        const QDir dest(t->drives.host(u"D:\\BACKUP\\PROG"_s));
        if (dest.entryList({u".pelivor-*"_s}, QDir::Files | QDir::Hidden).isEmpty())
            return;
        if (close)
            f.close();
        else
            f.ui.cmdExit->click();
    });
    watch.start(0);
    f.ui.cmdCopy->click();
    return 3; // the run ended without leaving the program
}

} // namespace

int main(int argc, char* argv[]) {
    // What the window remembers goes to a configuration of the test's own.
    QTemporaryDir configuration;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configuration.path()));
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], "--sair-mid-run") == 0)
        return leaveMidRun(false);
    if (argc > 1 && qstrcmp(argv[1], "--close-mid-run") == 0)
        return leaveMidRun(true);
    TestFrmRun test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frmrun.moc"
