// The main window, offscreen, on temporary drives: start-up, selection
// chains, free space, options, help, ESC, a fresh stick, the remembered
// destination, long paths, the keyboard, its looks and the engraved frame.

#include "support/testsupport.h"
#include "support/window.h"

#include "engine/paintbackground.h"
#include "platform/diskspace.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/names.h"
#include "platform/regional.h"
#include "ui/frm_copy.h"
#include "ui/windowservices.h"

#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QProcess>
#include <QRegularExpression>
#include <QStyle>
#include <QStyleFactory>
#include <QTest>
#include <cmath>
#include <memory>

using namespace TRAVO1;
using namespace platform;
using namespace ui;

namespace {

QStringList enabledFocusChain(QWidget& window) {
    QStringList names;
    QWidget* w = &window;
    for (int i = 0; i < 60; ++i) {
        w = w->nextInFocusChain();
        if (w == &window)
            break;
        if (w->isEnabled() && w->isVisible() && (w->focusPolicy() & Qt::TabFocus))
            names << w->objectName();
    }
    return names;
}

} // namespace

class TestFrmCopy : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void normalStart() {
        Window t;
        Frm_Copy& f = t.load();
        auto& c = t.ui();
        QVERIFY(f.isVisible());
        QCOMPARE(f.windowTitle(), u"Cópias de Segurança"_s);
        QCOMPARE(f.size(), QSize(545, 317));
        QCOMPARE(c.Drive1->drive().left(2), u"c:"_s);
        QCOMPARE(c.Dir1->path(), u"C:\\PROG"_s);
        QCOMPARE(c.File1->count(), 1); // cad.dat
        QCOMPARE(c.txtFrom->text(), u"C:\\PROG"_s);
        QCOMPARE(c.Dir2->path(), u"C:\\"_s);
        QCOMPARE(c.txtTo->text(), u"C:\\"_s);
        QCOMPARE(c.Label11->text(), u"Livre: 1,50 MBytes"_s);
        QCOMPARE(t.queried, QStringList{u"c:"_s});
        QCOMPARE(c.Lbl_CopyInfo2->text(), QString());
        QCOMPARE(c.chkRecourse->value(), 1);
        QVERIFY(c.cmdCopy->isEnabled());
        QVERIFY(!c.Label12->isVisible() && !c.Lbl_CopyInfo1->isVisible());
        for (QWidget* w :
             std::initializer_list<QWidget*>{c.Drive1, c.Dir1, c.txtFrom, c.txtTo, c.txtPattern,
                                             c.Label3, c.Check1, c.Check4, c.chkRecourse})
            QVERIFY2(!w->isEnabled(), qPrintable(w->objectName()));
        QCOMPARE(enabledFocusChain(f), (QStringList{u"Drive2"_s, u"Dir2"_s, u"File1"_s, u"File2"_s,
                                                    u"cmdExit"_s, u"cmdCopy"_s, u"cmdAjuda"_s}));
        QVERIFY(t.boxes.boxes.empty());
        QCOMPARE(t.drives.logRecords(), 0);
    }

    void refusedStart() {
        Window t;
        // Started in a network folder that has no drive letter.
        DriveTable table = DriveTable::current();
        const QString net = t.drives.host(u"C:\\PROG"_s) + u"/../../net"_s;
        QDir().mkpath(net + u"/server/share"_s);
        table.networkRoots = {platform::hostBytes(QDir(net).canonicalPath())};
        DriveTable::install(table);
        QDir::setCurrent(net + u"/server/share"_s);

        Frm_Copy& f = t.load();
        auto& c = t.ui();
        QCOMPARE(t.boxes.boxes.size(), size_t(1));
        QCOMPARE(t.boxes.boxes[0].prompt, u"Execute somente em unidade mapeada."_s);
        QCOMPARE(t.boxes.boxes[0].title, u"Mapeamento incorreto."_s);
        QCOMPARE(t.boxes.boxes[0].style, int(MbOk | MbInformation));
        QVERIFY(!f.isVisible());
        QVERIFY(!c.cmdCopy->isEnabled());
        QCOMPARE(c.Lbl_CopyInfo2->text(), u"Informação"_s);
        QCOMPARE(c.txtFrom->text(), QString());
        QCOMPARE(c.Label11->text(), QString());
        QVERIFY(c.Drive1->isEnabled() && c.Dir1->isEnabled() && c.Check1->isEnabled() &&
                c.Check4->isEnabled() && c.chkRecourse->isEnabled());
        QCOMPARE(c.chkRecourse->value(), 0);

        // The first change of destination drive makes copying possible.
        c.Drive2->setDrive(u"D:"_s);
        QVERIFY(c.cmdCopy->isEnabled());
        QCOMPARE(c.txtTo->text(), u"D:\\"_s);
        QCOMPARE(c.Label11->text(), u"Livre: 1,50 MBytes"_s);
    }

    void refusedWithoutAFaithfulDriveText() {
        // A folder whose name holds "\\" reads like one without a drive:
        // started there, or placed there, the program refuses to start.
        for (const bool startedThere : {true, false}) {
            Window t;
            const QString odd = t.drives.host(u"C:\\PROG"_s) + u"/a\\..\\b"_s;
            QDir().mkpath(odd);
            const QString text = DriveTable::current().toDrivePath(platform::hostBytes(odd));
            QVERIFY(text.startsWith(u'\\'));
            if (startedThere)
                QDir::setCurrent(odd);
            else
                setProgramFolder(text);
            t.load();
            QCOMPARE(t.boxes.boxes.size(), size_t(1));
            QCOMPARE(t.boxes.boxes[0].prompt, u"Execute somente em unidade mapeada."_s);
            QVERIFY(!t.ui().cmdCopy->isEnabled());
            QCOMPARE(t.ui().txtFrom->text(), QString());
        }
    }

    void selectionChains() {
        Window t;
        t.load();
        auto& c = t.ui();
        // Destination drive: enable, then the nested directory change, then free space.
        c.cmdCopy->setEnabled(false);
        QStringList atQuery;
        t.onQuery = [&] {
            atQuery << c.txtTo->text() << c.Dir2->path() << QString::number(c.cmdCopy->isEnabled());
        };
        t.freeBytes = 10737418240;
        c.Drive2->setDrive(u"d:"_s);
        QCOMPARE(atQuery, (QStringList{u"D:\\"_s, u"D:\\"_s, u"1"_s}));
        QCOMPARE(c.File2->count(), 0);
        QCOMPARE(c.Label11->text(), u"Livre: 10.240,00 MBytes"_s);

        // A directory alone touches neither the free space nor "Copiar".
        c.cmdCopy->setEnabled(false);
        t.freeBytes = 0;
        c.Dir2->setPath(u"D:\\BACKUP"_s);
        QCOMPARE(c.txtTo->text(), u"D:\\BACKUP"_s);
        QCOMPARE(c.File2->path(), u"D:\\BACKUP"_s);
        QCOMPARE(c.Label11->text(), u"Livre: 10.240,00 MBytes"_s);
        QVERIFY(!c.cmdCopy->isEnabled());
        // The same drive again raises no change.
        c.Drive2->setDrive(u"D:"_s);
        QVERIFY(!c.cmdCopy->isEnabled());
        QCOMPARE(t.queried.size(), 2);

        // Source chain: drive, then directory, file list and text.
        c.Drive1->setEnabled(true);
        writeFile(t.drives.host(u"F:\\x.txt"_s), "x");
        c.Drive1->setDrive(u"F:"_s);
        QCOMPARE(c.Dir1->path(), u"F:\\"_s);
        QCOMPARE(c.File1->count(), 1);
        QCOMPARE(c.txtFrom->text(), u"F:\\"_s);
        QVERIFY(t.boxes.boxes.empty());
    }

    void unreadableDestinationDrive() {
        Window t;
        t.load();
        auto& c = t.ui();
        c.Dir2->setPath(u"D:\\BACKUP"_s);
        QDir(t.drives.host(u"F:\\"_s)).removeRecursively(); // the volume is gone
        c.Drive2->setDrive(u"F:"_s);
        QCOMPARE(c.Drive2->drive().left(2), u"f:"_s);
        QCOMPARE(c.Dir2->path(), u"D:\\BACKUP"_s);
        QCOMPARE(c.txtTo->text(), u"D:\\BACKUP"_s);
        QCOMPARE(c.Label11->text(), u"Livre: 1,50 MBytes"_s);
        QVERIFY(!c.cmdCopy->isEnabled());
        QCOMPARE(t.boxes.boxes.size(), size_t(1));
        QCOMPARE(c.Lbl_CopyInfo->caption(), u"Erro na execução da cópia. 68"_s);
        QCOMPARE(t.drives.logRecords(), 1);
        QCOMPARE(Err().number, 0);
    }

    void freeSpaceTexts() {
        Window t;
        t.load();
        auto& c = t.ui();
        const std::pair<uint64_t, const char*> cases[] = {
            {0, "0,00"},
            {5242, "0,00"},
            {1294537850880, "1.234.567,50"},
            {922337203685477, "879.609.302,22"},
        };
        for (const auto& [bytes, text] : cases) {
            t.freeBytes = bytes;
            f_show(t);
            QCOMPARE(c.Label11->text(), u"Livre: %1 MBytes"_s.arg(QLatin1String(text)));
        }
        // One byte more overflows: reported by the caller, the label kept.
        t.freeBytes = 922337203685478;
        c.Drive2->setDrive(u"D:"_s);
        QCOMPARE(c.Label11->text(), u"Livre: 879.609.302,22 MBytes"_s);
        QCOMPARE(c.txtTo->text(), u"D:\\"_s);
        QCOMPARE(c.Lbl_CopyInfo->caption(), u"Erro na execução da cópia. 6"_s);
        QCOMPARE(t.boxes.boxes.size(), size_t(1));
        // A failed query shows zero without a word.
        t.queryWorks = false;
        c.Drive2->setDrive(u"F:"_s);
        QCOMPARE(c.Label11->text(), u"Livre: 0,00 MBytes"_s);
        QCOMPARE(t.boxes.boxes.size(), size_t(1));
    }

    void options() {
        Window t;
        // The options act only after a refused start; a normal one locks them.
        DriveTable table = DriveTable::current();
        const QString share = QDir(t.drives.host(u"F:\\"_s)).absolutePath();
        table.networkRoots = {platform::hostBytes(share)};
        DriveTable::install(table);
        QDir::setCurrent(share);
        t.load();
        auto& c = t.ui();
        t.boxes.boxes.clear();

        for (const int answer : {int(IdNo), int(IdCancel)}) {
            t.boxes.answers = {answer};
            c.Check1->click();
            QCOMPARE(t.boxes.boxes.size(), size_t(1));
            QCOMPARE(t.boxes.boxes[0].style, int(MbYesNoCancel | MbQuestion | MbDefaultButton2));
            QCOMPARE(t.boxes.boxes[0].title, u"Pelivor"_s);
            QVERIFY(t.boxes.boxes[0].prompt.startsWith(u"Warning using this option"_s));
            QCOMPARE(c.Check1->value(), 0);
            QVERIFY(!c.txtPattern->isEnabled() && !c.Label3->isEnabled());
            t.boxes.boxes.clear();
        }
        t.form->show();
        QApplication::setActiveWindow(t.form.get());
        t.boxes.answers = {IdYes};
        c.Check1->click();
        QVERIFY(c.txtPattern->isEnabled() && c.Label3->isEnabled());
        QVERIFY(c.txtPattern->hasFocus());
        c.txtPattern->setText(u"*.DBF"_s);
        c.Check1->click();
        QVERIFY(!c.txtPattern->isEnabled() && !c.Label3->isEnabled());
        QCOMPARE(c.txtPattern->text(), u"*.DBF"_s);

        c.Drive2->setDrive(u"D:"_s);
        c.Check4->click();
        QVERIFY(!c.Drive2->isEnabled() && !c.Dir2->isEnabled() && c.txtTo->isEnabled());
        c.txtTo->setText(u"D:\\NOVO"_s);
        c.Check4->click();
        QCOMPARE(c.txtTo->text(), u"D:\\"_s);
        QVERIFY(!c.txtTo->isEnabled() && !c.Drive2->isEnabled());
    }

    void helpAndEsc() {
        Window t;
        Frm_Copy& f = t.load();
        f.ui.cmdAjuda->click();
        QCOMPARE(t.boxes.boxes.size(), size_t(1));
        const MessageRequest& box = t.boxes.boxes[0];
        QCOMPARE(box.prompt.toUtf8(),
                 QByteArray("Fa\xc3\xa7"
                            "a c\xc3\xb3pias de seguran\xc3\xa7"
                            "a todos os dias.\r\n"
                            " \r\n"
                            "Escolha um local diferente para cada dia da semana: (Segunda, "
                            "Ter\xc3\xa7"
                            "a, etc.).\r\n"
                            " \r\n"
                            "Sempre fa\xc3\xa7"
                            "a duas c\xc3\xb3pias em locais diferentes.\r\n"
                            " \r\n"
                            "Verifique no diret\xc3\xb3rio Destino, ap\xc3\xb3s a c\xc3\xb3pia, "
                            "se os arquivos est\xc3\xa3o corretos.\r\n"
                            " \r\n"
                            " \r\n"));
        QCOMPARE(box.title, u"Cópia de Arquivo."_s);
        QCOMPARE(box.style, int(MbOk | MbExclamation));
        QCOMPARE(box.owner, &f);

        // ESC from any control, with no run: the stop request is set.
        f.ui.Dir2->setFocus();
        StopFlag = 0;
        QTest::keyClick(f.ui.Dir2, Qt::Key_A);
        QCOMPARE(StopFlag, uint8_t(0));
        QTest::keyClick(f.ui.Dir2, Qt::Key_Escape);
        QCOMPARE(StopFlag, uint8_t(1));

        // ESC during a run stops it: the key arrives at the run's first event pump.
        for (int i = 0; i < 40; ++i)
            writeFile(t.drives.host(u"C:\\PROG\\f%1.dat"_s.arg(i)), "data");
        f.ui.Dir2->setPath(u"D:\\BACKUP"_s);
        f.ui.cmdCopy->setFocus();
        QCoreApplication::postEvent(f.ui.cmdCopy, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape,
                                                                Qt::NoModifier, u"\x1b"_s));
        f.ui.cmdCopy->click();
        // What arrived before the stop is whole, and nothing else is there.
        const QStringList arrived = tree(t.drives.host(u"D:\\BACKUP\\PROG"_s));
        QVERIFY(arrived.size() < 20);
        for (const QString& entry : arrived)
            QVERIFY2(entry.endsWith(u"=data"_s) || entry == u"cad.dat=cad"_s ||
                         entry.startsWith(u"SUB"_s),
                     qPrintable(entry));
        QVERIFY(!f.ui.Lbl_CopyInfo->caption().startsWith(u"Cópia Atualizada"_s));
    }

    void freshStick() {
        // A stick holds only its root, which is refused: the refusal offers
        // its folder BACKUP, made on Sim, used as it is where it exists.
        Window t;
        t.load();
        auto& c = t.ui();
        c.Drive2->setDrive(u"F:"_s);
        QCOMPARE(c.txtTo->text(), u"F:\\"_s);
        t.boxes.answers = {IdNo};
        c.cmdCopy->click();
        QCOMPARE(t.boxes.boxes.size(), size_t(1));
        const MessageRequest offer = t.boxes.boxes[0];
        QCOMPARE(offer.prompt, u"Destino dos Arquivos Inválido: F:\\\nSelecione outro local ou um "
                               u"subdiretório para o Destino.\n\nCriar a pasta F:\\BACKUP e usá-la "
                               u"como Destino?\n"_s);
        QCOMPARE(offer.style, int(MbYesNo | MbQuestion | MbDefaultButton2));
        QCOMPARE(offer.title, u"Cópia de Arquivo."_s);
        QCOMPARE(tree(t.drives.host(u"F:\\"_s)), QStringList());
        QCOMPARE(t.drives.logRecords(), 0);

        t.boxes.answers = {IdYes};
        c.cmdCopy->click();
        QCOMPARE(c.txtTo->text(), u"F:\\BACKUP"_s);
        QCOMPARE(c.Dir2->path(), u"F:\\BACKUP"_s);
        QCOMPARE(readFile(t.drives.host(u"F:\\BACKUP\\PROG\\cad.dat"_s)), QByteArray("cad"));
        QCOMPARE(c.Lbl_CopyInfo->caption(), u"Cópia Atualizada - "_s + dateText());
        QCOMPARE(t.boxes.boxes.size(), size_t(2));

        // Where the folder exists it is offered as it is.
        c.Drive2->setDrive(u"D:"_s);
        t.boxes.answers = {IdYes};
        c.cmdCopy->click();
        QVERIFY(t.boxes.boxes[2].prompt.endsWith(u"\n\nUsar a pasta D:\\BACKUP como Destino?\n"_s));
        QCOMPARE(readFile(t.drives.host(u"D:\\BACKUP\\PROG\\cad.dat"_s)), QByteArray("cad"));
        QCOMPARE(t.drives.logRecords(), 2);
    }

    void remembersTheLastDestination() {
        Window t;
        t.load();
        t.ui().Drive2->setDrive(u"D:"_s);
        t.ui().Dir2->setPath(u"D:\\BACKUP"_s);
        t.ui().cmdCopy->click();
        QCOMPARE(t.drives.logRecords(), 1);
        // A refused run leaves what is remembered as it was.
        t.ui().Dir2->setPath(u"C:\\PROG"_s);
        t.ui().cmdCopy->click();
        QCOMPARE(t.boxes.boxes.size(), size_t(1));

        // The next start is where the last run went, free space included.
        t.queried.clear();
        auto& c = t.load().ui;
        QCOMPARE(c.Dir2->path(), u"D:\\BACKUP"_s);
        QCOMPARE(c.txtTo->text(), u"D:\\BACKUP"_s);
        QCOMPARE(c.Drive2->drive().left(2), u"d:"_s);
        QCOMPARE(t.queried.value(t.queried.size() - 1), u"d:"_s);
        QCOMPARE(c.Label11->text(), u"Livre: 1,50 MBytes"_s);
        QCOMPARE(c.txtFrom->text(), u"C:\\PROG"_s);
        QVERIFY(c.cmdCopy->isEnabled());

        // Gone: the start is as it always was.
        QVERIFY(QDir(t.drives.host(u"D:\\BACKUP"_s)).removeRecursively());
        auto& again = t.load().ui;
        QCOMPARE(again.Dir2->path(), u"C:\\"_s);
        QCOMPARE(again.Drive2->drive().left(2), u"c:"_s);
        QCOMPARE(t.boxes.boxes.size(), size_t(1));
    }

    void unreadableFolderLeavesCopiar() {
        Window t;
        t.load();
        auto& c = t.ui();
        QVERIFY(QDir().mkpath(t.drives.host(u"D:\\BACKUP\\A"_s)));
        QVERIFY(QDir().mkpath(t.drives.host(u"D:\\BACKUP\\B"_s)));
        c.Drive2->setDrive(u"D:"_s);
        c.Dir2->setPath(u"D:\\BACKUP"_s);
        // Both folders go after the list showed them; opening one fails.
        QDir(t.drives.host(u"D:\\BACKUP\\A"_s)).removeRecursively();
        QDir(t.drives.host(u"D:\\BACKUP\\B"_s)).removeRecursively();
        for (const bool enabled : {true, false}) {
            c.cmdCopy->setEnabled(enabled);
            const QString name = enabled ? u"A"_s : u"B"_s;
            Q_EMIT c.Dir2->itemActivated(c.Dir2->findItems(name, Qt::MatchExactly).value(0));
            QCOMPARE(c.cmdCopy->isEnabled(), enabled);
            QCOMPARE(c.txtTo->text(), u"D:\\BACKUP"_s);
        }
        QCOMPARE(t.boxes.boxes.size(), size_t(2));
        QCOMPARE(t.boxes.boxes[0].prompt, u"Diretório de destino inexistente! (erro 76)"_s);
    }

private:
    static void f_show(Window& t) { t.form->ShowFreeSpace(); }
};

int main(int argc, char* argv[]) {
    // What the window remembers goes to a configuration of the test's own.
    QTemporaryDir configuration;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(configuration.path()));
    QApplication app(argc, argv);
    TestFrmCopy test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_frmcopy.moc"
