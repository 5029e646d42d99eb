// The window controls: values set from code, change events, listings.

#include "support/testsupport.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/progresswindow.h"
#include "ui/controls.h"
#include "ui/windowservices.h"

#include <QApplication>
#include <QDir>
#include <QListView>
#include <QProgressDialog>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleFactory>
#include <QTest>

using namespace platform;
using namespace ui;

namespace {

// Where a row's drawing starts: its first pixel unlike the list's background.
int inkStart(const QImage& image, const QRect& row, const QColor& background) {
    for (int x = row.left(); x < row.right(); ++x)
        for (int y = row.top(); y <= row.bottom(); ++y)
            if (image.pixelColor(x, y) != background)
                return x;
    return -1;
}

QStringList itemTexts(const QListWidget& list) {
    QStringList texts;
    for (int i = 0; i < list.count(); ++i)
        texts << list.item(i)->text();
    return texts;
}

int raised(const std::function<void()>& step) {
    clearError();
    try {
        step();
    } catch (const Failure& f) {
        return f.number;
    }
    return 0;
}

} // namespace

class TestControls : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void driveList() {
        TempDrives drives;
        DriveListBox list;
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.itemText(1), u"d: [t]"_s);
        QSignalSpy changes(&list, &DriveListBox::change);

        list.setDrive(u"D:\\BACKUP\\X"_s);
        QCOMPARE(list.drive(), u"d: [t]"_s);
        QCOMPARE(changes.count(), 1);
        list.setDrive(u"d: [t]"_s); // the same drive: no change
        QCOMPARE(changes.count(), 1);

        // A letter that names no drive, or no drive at all, leaves the list as it was.
        QCOMPARE(raised([&] { list.setDrive(u"Q:"_s); }), int(ErrDeviceUnavailable));
        QCOMPARE(raised([&] { list.setDrive(u"\\\\server\\share"_s); }), int(ErrDeviceUnavailable));
        QCOMPARE(list.drive(), u"d: [t]"_s);
        QCOMPARE(changes.count(), 1);

        // The operator's choices raise the same change: a letter typed, and
        // the drive already shown, picked in the opened list.
        list.setFocus();
        QTest::keyClick(&list, Qt::Key_F);
        QCOMPARE(list.drive(), u"f: [t]"_s);
        QCOMPARE(changes.count(), 2);
        list.showPopup();
        QTest::keyClick(list.view(), Qt::Key_Return);
        QCOMPARE(list.drive(), u"f: [t]"_s);
        QCOMPARE(changes.count(), 3);
    }

    void driveListFollowsTheMounts() {
        QTemporaryDir dir;
        const QString point = dir.filePath(u"pen"_s);
        QVERIFY(QDir().mkpath(point));
        Stick stick(u"PEN"_s);
        DriveTable::reset(); // the host's own mount table
        DriveListBox list;
        const auto letter = [&] {
            for (const Drive& d : DriveTable::current().drives())
                if (d.hostRoot == platform::hostBytes(point))
                    return d.letter;
            return QChar();
        };
        const auto offered = [&](QChar l) {
            const int row = list.findData(l);
            return row >= 0 && !static_cast<QListView*>(list.view())->isRowHidden(row);
        };
        if (!stick.plugIn(point))
            QSKIP(qPrintable(u"a loop volume cannot be mounted here: "_s + stick.error));

        // Plugged in: offered without the list being opened.
        QTRY_VERIFY(!letter().isNull() && offered(letter()));
        const QChar pen = letter();
        list.setDrive(QString(pen) + u':');
        const QString shown = list.drive();
        // Described by its label, not by the folder it is mounted on.
        QCOMPARE(shown, QString(pen.toLower()) + u": [PEN]"_s);

        // Pulled out: no longer offered, but still shown while it is the
        // current drive; choosing it fails.
        QVERIFY(stick.pullOut());
        QTRY_VERIFY(letter().isNull() && !offered(pen));
        QCOMPARE(list.drive(), shown);
        QCOMPARE(raised([&] { list.setDrive(QString(pen) + u':'); }), int(ErrDeviceUnavailable));

        // Plugged in again with the event loop idle: opening the list reads
        // the mount table; the stick has its letter back.
        QVERIFY(stick.plugIn(point));
        list.showPopup();
        QVERIFY(offered(pen));
        QCOMPARE(list.drive(), shown);
        list.hidePopup();
        DriveTable::reset();
    }

    void driveListGivesLongEntriesRoom() {
        TempDrives drives;
        DriveTable table = DriveTable::current();
        std::vector<Drive> all = table.drives();
        all[1].description = u"/media/operador/CÓPIAS DE SEGURANÇA DA LOJA CENTRAL"_s;
        DriveTable::install(DriveTable(all));
        DriveListBox list;
        // The program's style, whose list is otherwise as wide as the box.
        const std::unique_ptr<QStyle> windows(QStyleFactory::create(u"Windows"_s));
        list.setStyle(windows.get());
        list.resize(177, 22);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        list.showPopup();
        const int entry = list.view()->fontMetrics().horizontalAdvance(list.itemText(1));
        QVERIFY2(list.view()->viewport()->width() >= entry,
                 qPrintable(u"%1 < %2"_s.arg(list.view()->viewport()->width()).arg(entry)));
        list.hidePopup();
        list.setStyle(nullptr);
    }

    void typeAhead() {
        // The same letter again moves on to the next entry that starts with
        // it, however fast it is typed; letters in quick succession look for
        // a name that starts with all of them.
        TempDrives drives;
        for (const QString& name : {u"dados"_s, u"diario"_s, u"DOMINGO"_s, u"extra"_s})
            QVERIFY(QDir().mkpath(drives.host(u"D:\\BACKUP\\"_s + name)));
        DirListBox list;
        list.setPath(u"D:\\BACKUP"_s);
        list.setFocus();
        QStringList visited;
        for (const Qt::Key key : {Qt::Key_D, Qt::Key_D, Qt::Key_D, Qt::Key_D}) {
            QTest::keyClick(&list, key);
            visited << list.currentItem()->text();
        }
        QCOMPARE(visited, (QStringList{u"dados"_s, u"diario"_s, u"DOMINGO"_s, u"D:\\"_s}));
        list.keyboardSearch(QString()); // as a pause does
        QTest::keyClicks(&list, u"dom"_s);
        QCOMPARE(list.currentItem()->text(), u"DOMINGO"_s);
        // No name starts with "de": the "e" starts a search of its own.
        list.keyboardSearch(QString());
        QTest::keyClicks(&list, u"de"_s);
        QCOMPARE(list.currentItem()->text(), u"extra"_s);

        // In a drive list each letter names a drive.
        DriveListBox drive;
        drive.setFocus();
        QTest::keyClicks(&drive, u"df"_s);
        QCOMPARE(drive.drive().left(2), u"f:"_s);
    }

    void longNamesInLists() {
        // A long name is shortened inside the list's width: no sideways
        // scroll bar takes the rows' room.
        TempDrives drives;
        const QString name = u"RELATORIOS-MENSAIS-DE-VENDAS-DA-LOJA-CENTRAL-2026"_s;
        QVERIFY(QDir().mkpath(drives.host(u"D:\\"_s + name)));
        for (const QString& other : {u"a"_s, u"b"_s, u"c"_s})
            QVERIFY(QDir().mkpath(drives.host(u"D:\\"_s + name + u"\\"_s + other)));
        DirListBox list;
        list.setFixedSize(177, 70); // the window's folder lists
        list.setPath(u"D:\\"_s + name);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        QVERIFY(!list.horizontalScrollBar()->isVisible());
        const int rowHeight = list.visualItemRect(list.item(0)).height();
        QVERIFY2(list.viewport()->height() >= 3 * rowHeight,
                 qPrintable(u"%1 rows"_s.arg(double(list.viewport()->height()) / rowHeight)));
        for (int row = 0; row < list.count(); ++row)
            QVERIFY(list.visualItemRect(list.item(row)).right() < list.viewport()->width());
    }

    void dirList() {
        TempDrives drives;
        QDir().mkpath(drives.host(u"D:\\Backup\\Seg\\b"_s));
        QDir().mkpath(drives.host(u"D:\\Backup\\Seg\\a"_s));
        writeFile(drives.host(u"D:\\Backup\\Seg\\file.txt"_s), "x");
        QDir().mkpath(drives.host(u"D:\\Backup\\Seg\\.hidden"_s));
        const QString saved = QDir::currentPath();
        QDir::setCurrent(drives.host(u"C:\\PROG"_s));

        DirListBox list;
        QCOMPARE(list.path(), u"C:\\PROG"_s); // the process's current directory
        QSignalSpy changes(&list, &DirListBox::change);

        // Any case; the path takes the folders' real names, the chain above the subfolders.
        list.setPath(u"d:\\BACKUP\\seg\\"_s);
        QCOMPARE(list.path(), u"D:\\Backup\\Seg"_s);
        QCOMPARE(itemTexts(list), (QStringList{u"D:\\"_s, u"Backup"_s, u"Seg"_s, u"a"_s, u"b"_s}));
        QCOMPARE(list.currentItem()->text(), u"Seg"_s);
        QCOMPARE(changes.count(), 1);
        // The chain is indented by the drawing, a step per level.
        list.resize(200, 120);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        list.clearSelection();
        const QImage image = list.viewport()->grab().toImage();
        QList<int> starts;
        for (int row = 0; row < list.count(); ++row)
            starts << inkStart(image, list.visualItemRect(list.item(row)),
                               list.palette().color(QPalette::Base));
        QString drawn;
        for (const int x : starts)
            drawn += QString::number(x) + u' ';
        QVERIFY2(starts[0] < starts[1] && starts[1] < starts[2] && starts[2] < starts[3] &&
                     starts[3] == starts[4],
                 qPrintable(drawn));
        // A letter moves to the next folder that starts with it, and opens
        // nothing; a list just opened starts a new search.
        list.setFocus();
        QTest::keyClick(&list, Qt::Key_B);
        QCOMPARE(list.currentItem()->text(), u"b"_s);
        list.setPath(u"D:\\Backup\\Seg"_s);
        list.setCurrentRow(0);
        QTest::keyClick(&list, Qt::Key_B);
        QCOMPARE(list.currentItem()->text(), u"Backup"_s);
        QCOMPARE(list.path(), u"D:\\Backup\\Seg"_s);
        QCOMPARE(changes.count(), 2);

        // Opening an entry moves there; a drive moves to that drive's current directory.
        Q_EMIT list.itemActivated(list.item(1));
        QCOMPARE(list.path(), u"D:\\Backup"_s);
        list.setPath(u"f: [t]"_s);
        QCOMPARE(list.path(), u"F:\\"_s);
        list.setPath(u"c:"_s);
        QCOMPARE(list.path(), u"C:\\PROG"_s);
        QCOMPARE(changes.count(), 5);

        // What cannot be read fails with its number and changes nothing.
        QCOMPARE(raised([&] { list.setPath(u"C:\\NADA"_s); }), int(ErrPathNotFound));
        QDir(drives.host(u"F:\\"_s)).removeRecursively();
        QCOMPARE(raised([&] { list.setPath(u"F:"_s); }), int(ErrDeviceUnavailable));
        QCOMPARE(list.path(), u"C:\\PROG"_s);
        QCOMPARE(changes.count(), 5);
        QDir::setCurrent(saved);
    }

    void fileListAndCheckBox() {
        TempDrives drives;
        writeFile(drives.host(u"D:\\X\\b.txt"_s), "b");
        writeFile(drives.host(u"D:\\X\\A.txt"_s), "a");
        writeFile(drives.host(u"D:\\X\\.oculto"_s), "h");
        QDir().mkpath(drives.host(u"D:\\X\\pasta"_s));
        FileListBox files;
        files.setPath(u"D:\\X"_s);
        QCOMPARE(itemTexts(files), (QStringList{u"A.txt"_s, u"b.txt"_s}));
        QCOMPARE(raised([&] { files.setPath(u"D:\\Y"_s); }), int(ErrPathNotFound));
        QCOMPARE(files.path(), u"D:\\X"_s);

        // A value set from code clicks once per real change, nested, even
        // when the handler changes the value again.
        CheckBox box(u"Sistema"_s);
        QStringList trace;
        QObject::connect(&box, &CheckBox::clickEvent, [&] {
            trace << u"click %1"_s.arg(box.value());
            if (box.value() == 1)
                box.setValue(0);
            trace << u"end %1"_s.arg(box.value());
        });
        box.setValue(1);
        trace << u"after"_s;
        box.setValue(0);
        QCOMPARE(trace,
                 (QStringList{u"click 1"_s, u"click 0"_s, u"end 0"_s, u"end 0"_s, u"after"_s}));
    }

    void liveLabelShowsTheLatestCaption() {
        Label label;
        label.setLive(20);
        label.setCaption(u"a"_s);
        label.setCaption(u"b"_s); // kept at once, shown when the interval is over
        QCOMPARE(label.caption(), u"b"_s);
        QCOMPARE(label.text(), u"a"_s);
        QTRY_COMPARE(label.text(), u"b"_s);
        label.setCaption(u"c"_s);
        label.flush();
        QCOMPARE(label.text(), u"c"_s);
    }

    void mousePointerIsOneState() {
        setMousePointer(11);
        setMousePointer(11);
        QVERIFY(QApplication::overrideCursor());
        setMousePointer(0);
        QVERIFY(!QApplication::overrideCursor());
        QCOMPARE(mousePointer(), 0);
    }

    void progressWindow() {
        const auto dialogs = [] {
            QStringList labels;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<QProgressDialog*>(w))
                    labels << d->labelText();
            return labels;
        };
        ui::installWindowServices();
        {
            const auto window = ProgressWindow::open(u"big.dat"_s);
            QVERIFY(window->update(0));
            QTest::qSleep(60); // a copy that lasts gets its window
            QVERIFY(window->update(40));
            QCOMPARE(dialogs(), QStringList{u"Copiando big.dat"_s});
        }
        QCOMPARE(dialogs(), QStringList{});
        ProgressWindow::install({});
    }
};

QTEST_MAIN(TestControls)
#include "platform/names.h"
#include "tst_controls.moc"
