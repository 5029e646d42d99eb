// The Copy command, run whole against the recording window on temporary drives.

#include "support/testsupport.h"

#include "engine/copycommand.h"
#include "platform/errors.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using namespace TRAVO1;
using namespace platform;

namespace {

// Source F:\DADOS\VENDAS with a file and a subfolder; destination D:\BACKUP.
struct Setup {
    TempDrives drives;
    BoxRecorder boxes;
    RecordingWindow w;
    Setup() {
        writeFile(drives.host(QStringLiteral("F:\\DADOS\\VENDAS\\a.dbf")), "a");
        writeFile(drives.host(QStringLiteral("F:\\DADOS\\VENDAS\\Mes\\b.dbf")), "b");
        QDir().mkpath(drives.host(QStringLiteral("D:\\BACKUP")));
        w.from = QStringLiteral("F:\\DADOS\\VENDAS");
        w.to = QStringLiteral("D:\\BACKUP");
    }
    int logRecords() const { return int(drives.log().count("\r\n")) - 1; }
};

QStringList controls(const RecordingWindow& w) {
    QStringList out;
    for (const auto& write : w.writes)
        out << write.control;
    return out;
}

} // namespace

class TestCopyCommand : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refusals();
    void completedRun();
    void destinationErrorsAreReported();
    void stopRequests();
    void unwritableLogChangesNoRun();
    void oneRunAtATime();
    void emptyDestinationAddressesCurrentDrive();
};

void TestCopyCommand::refusals() {
    const struct {
        QString from, to, text;
    } rows[] = {
        {QStringLiteral("F:\\DADOS"), QStringLiteral("f:\\dados"),
         QStringLiteral("A Origem e Destino dos Arquivos selecionados são iguais\nSelecione outro "
                        "local para o Destino.\n")},
        {QStringLiteral("D:\\"), QStringLiteral("d:\\"),
         QStringLiteral("A Origem e Destino dos Arquivos selecionados são iguais\nSelecione outro "
                        "local para o Destino.\n")},
        {QStringLiteral("F:\\DADOS"), QStringLiteral("D:\\"),
         QStringLiteral("Destino dos Arquivos Inválido: D:\\\nSelecione outro local ou um "
                        "subdiretório para o Destino.\n")},
    };
    for (const auto& row : rows) {
        Setup s;
        s.w.from = row.from;
        s.w.to = row.to;
        cmdCopy_Click(s.w);
        QCOMPARE(s.boxes.boxes.size(), size_t(1));
        QCOMPARE(s.boxes.boxes[0].prompt, row.text);
        QCOMPARE(s.boxes.boxes[0].title, QStringLiteral("Cópia de Arquivo."));
        QCOMPARE(s.boxes.boxes[0].style, 48);
        QCOMPARE(s.boxes.boxes[0].owner, s.w.ownerWidget);
        QVERIFY(s.w.writes.empty());
        QVERIFY(DestPath.isEmpty());
        QCOMPARE(s.drives.log(), QByteArray("<missing>"));
    }
    // F:\DADOS and F:\DADOS\ are different texts; D: passes the root check.
    Setup s;
    s.w.from = QStringLiteral("F:\\DADOS\\VENDAS");
    s.w.to = QStringLiteral("F:\\DADOS\\VENDAS\\");
    cmdCopy_Click(s.w);
    s.w.to = QStringLiteral("D:");
    cmdCopy_Click(s.w);
    QVERIFY(s.boxes.boxes.empty());
}

void TestCopyCommand::completedRun() {
    Setup s;
    writeFile(s.drives.host(QStringLiteral("D:\\BACKUP\\DADOS\\keep.txt")), "k");
    StopFlag = 1; // an ESC from before the run does not stop it
    cmdCopy_Click(s.w);

    // The mirrored chain below the destination, and the files in it.
    QCOMPARE(readFile(s.drives.host(QStringLiteral("D:\\BACKUP\\DADOS\\VENDAS\\a.dbf"))),
             QByteArray("a"));
    QCOMPARE(readFile(s.drives.host(QStringLiteral("D:\\BACKUP\\DADOS\\VENDAS\\Mes\\b.dbf"))),
             QByteArray("b"));
    QCOMPARE(readFile(s.drives.host(QStringLiteral("D:\\BACKUP\\DADOS\\keep.txt"))),
             QByteArray("k"));
    QCOMPARE(DestPath, QStringLiteral("D:\\BACKUP"));
    QVERIFY(s.boxes.boxes.empty()); // the 53 of the last probe is not reported
    QVERIFY(s.w.all(QStringLiteral("Lbl_CopyInfo"))
                .contains(QStringLiteral("Copiando De: F:\\DADOS\\VENDAS\\a.dbf")));
    QVERIFY(s.w.all(QStringLiteral("Lbl_CopyInfo2"))
                .contains(QStringLiteral("Para: D:\\BACKUP\\DADOS\\VENDAS\\a.dbf")));

    // Start and end, in order.
    const QStringList order = controls(s.w);
    QCOMPARE(order.mid(0, 4),
             (QStringList{QStringLiteral("cmdCopy.Enabled"), QStringLiteral("MousePointer"),
                          QStringLiteral("Label12.Visible"), QStringLiteral("lblHoraIni")}));
    QCOMPARE(order.mid(order.size() - 8),
             (QStringList{QStringLiteral("MousePointer"), QStringLiteral("cmdCopy.Enabled"),
                          QStringLiteral("Label12.Visible"), QStringLiteral("Lbl_CopyInfo2"),
                          QStringLiteral("lblHoraFin"), QStringLiteral("Lbl_CopyInfo"),
                          QStringLiteral("Caption"), QStringLiteral("Lbl_CopyInfo1.Flood")}));
    QCOMPARE(s.w.all(QStringLiteral("MousePointer")),
             (QStringList{QStringLiteral("11"), QStringLiteral("0")}));
    QCOMPARE(s.w.all(QStringLiteral("cmdCopy.Enabled")),
             (QStringList{QStringLiteral("false"), QStringLiteral("true")}));
    QCOMPARE(s.w.all(QStringLiteral("Label12.Visible")),
             (QStringList{QStringLiteral("true"), QStringLiteral("false")}));
    QVERIFY(QRegularExpression(QStringLiteral("^Horário Inicial:   \\d\\d:\\d\\d:\\d\\d$"))
                .match(s.w.last(QStringLiteral("lblHoraIni")))
                .hasMatch());
    QVERIFY(QRegularExpression(QStringLiteral("^Horário Final:     \\d\\d:\\d\\d:\\d\\d$"))
                .match(s.w.last(QStringLiteral("lblHoraFin")))
                .hasMatch());
    const QRegularExpression done(QStringLiteral("^Cópia Atualizada - \\d\\d/\\d\\d/\\d{4}$"));
    QVERIFY(done.match(s.w.last(QStringLiteral("Lbl_CopyInfo"))).hasMatch());
    QVERIFY(done.match(s.w.last(QStringLiteral("Caption"))).hasMatch());
    QCOMPARE(s.w.last(QStringLiteral("Lbl_CopyInfo2")), QString());
    QCOMPARE(s.logRecords(), 1);
    QVERIFY(s.drives.log().contains("\tD:\\BACKUP\t 0 \t"));
    QVERIFY(!s.w.runInProgress());
}

void TestCopyCommand::destinationErrorsAreReported() {
    // The last copy of the run failed on a full disk: 61 reaches the report.
    {
        Setup s;
        FaultyFileSystem faulty;
        faulty.failTransferWith = ENOSPC;
        s.w.recourse = 0;
        cmdCopy_Click(s.w);
        QCOMPARE(s.boxes.boxes.size(), size_t(1));
        QCOMPARE(s.boxes.boxes[0].prompt, QStringLiteral("Drive de destino cheio! (erro 61)"));
        QCOMPARE(s.w.last(QStringLiteral("Lbl_CopyInfo")),
                 QStringLiteral("Erro na execução da cópia. 61"));
        QCOMPARE(s.w.last(QStringLiteral("cmdCopy.Enabled")), QStringLiteral("false"));
        QCOMPARE(s.w.last(QStringLiteral("Label12.Visible")), QStringLiteral("true"));
        QCOMPARE(s.w.last(QStringLiteral("MousePointer")), QStringLiteral("0"));
        QCOMPARE(s.logRecords(), 1);
        QVERIFY(s.drives.log().contains("\t 61 Disco cheio\t"));
        QCOMPARE(entriesOf(s.drives.host(QStringLiteral("D:\\BACKUP\\DADOS\\VENDAS"))),
                 QStringList{});
    }
    // A refused probe of the last file: skipped without a word, then reported as 70.
    {
        Setup s;
        writeFile(s.drives.host(QStringLiteral("D:\\BACKUP\\DADOS\\VENDAS\\a.dbf")), "in use");
        FaultyFileSystem faulty;
        faulty.probeFails["a.dbf"] = EACCES;
        s.w.recourse = 0;
        cmdCopy_Click(s.w);
        QCOMPARE(s.boxes.boxes.size(), size_t(1));
        QCOMPARE(s.boxes.boxes[0].title, QStringLiteral("Erro na cópia"));
        QCOMPARE(readFile(s.drives.host(QStringLiteral("D:\\BACKUP\\DADOS\\VENDAS\\a.dbf"))),
                 QByteArray("in use"));
    }
    // A destination folder that does not exist: the chain fails with 76 in the trap.
    {
        Setup s;
        s.w.to = QStringLiteral("D:\\NAOEXISTE");
        cmdCopy_Click(s.w);
        QCOMPARE(s.boxes.boxes.size(), size_t(1));
        QCOMPARE(s.boxes.boxes[0].prompt,
                 QStringLiteral("Diretório de destino inexistente! (erro 76)"));
        QCOMPARE(s.w.last(QStringLiteral("MousePointer")), QStringLiteral("0"));
        QCOMPARE(s.logRecords(), 1);
        QVERIFY(!QFileInfo::exists(s.drives.host(QStringLiteral("D:\\NAOEXISTE"))));
    }
    // With the source at a drive root there is no chain: the copies fail and 76 is reported.
    {
        Setup s;
        s.w.from = QStringLiteral("F:\\");
        s.w.to = QStringLiteral("D:\\NAOEXISTE");
        s.w.recourse = 0;
        writeFile(s.drives.host(QStringLiteral("F:\\root.txt")), "r");
        cmdCopy_Click(s.w);
        QCOMPARE(s.boxes.boxes.size(), size_t(1));
        QCOMPARE(s.boxes.boxes[0].prompt,
                 QStringLiteral("Diretório de destino inexistente! (erro 76)"));
        QVERIFY(s.w.all(QStringLiteral("Lbl_CopyInfo"))
                    .contains(QStringLiteral("Copiando De: F:\\root.txt")));
    }
    // A file in place of a chain folder is not created over; the copies into it fail.
    {
        Setup s;
        writeFile(s.drives.host(QStringLiteral("D:\\BACKUP\\DADOS")), "a file");
        s.w.recourse = 0;
        cmdCopy_Click(s.w);
        QCOMPARE(s.boxes.boxes.size(), size_t(1));
        QCOMPARE(s.boxes.boxes[0].prompt,
                 QStringLiteral("Diretório de destino inexistente! (erro 76)"));
        QCOMPARE(readFile(s.drives.host(QStringLiteral("D:\\BACKUP\\DADOS"))),
                 QByteArray("a file"));
    }
}

void TestCopyCommand::stopRequests() {
    // At the top level: the run ends without completion.
    {
        Setup s;
        QTimer::singleShot(0, [] { StopFlag = 1; });
        cmdCopy_Click(s.w);
        QCOMPARE(s.w.last(QStringLiteral("cmdCopy.Enabled")), QStringLiteral("false"));
        QCOMPARE(s.w.last(QStringLiteral("Label12.Visible")), QStringLiteral("true"));
        QCOMPARE(s.w.last(QStringLiteral("MousePointer")), QStringLiteral("0"));
        QCOMPARE(s.w.last(QStringLiteral("lblHoraFin")), QStringLiteral("<none>"));
        QCOMPARE(s.drives.log(), QByteArray("<missing>"));
        QVERIFY(s.boxes.boxes.empty());
    }
    // Inside a subdirectory: the top level still ends, so the run completes.
    {
        Setup s;
        s.w.onWrite = [](const RecordingWindow::Write& write) {
            if (write.value.endsWith(QStringLiteral("b.dbf")))
                StopFlag = 1;
        };
        cmdCopy_Click(s.w);
        QCOMPARE(s.w.last(QStringLiteral("cmdCopy.Enabled")), QStringLiteral("true"));
        QCOMPARE(s.logRecords(), 1);
    }
    StopFlag = 0;
}

void TestCopyCommand::unwritableLogChangesNoRun() {
    // A level that ends on "Disco cheio" leaves the run uncompleted and
    // unreported, and a clean run completes, whether or not the log is written.
    for (const bool writable : {true, false}) {
        Setup s;
        if (!writable) // a folder in the log's place: opening it fails with 75
            QDir().mkpath(s.drives.logPath());
        writeFile(s.drives.host(QStringLiteral("D:\\BACKUP\\DADOS\\VENDAS\\a.dbf")), "");
        cmdCopy_Click(s.w);
        QVERIFY(s.boxes.boxes.empty());
        QCOMPARE(s.w.last(QStringLiteral("Lbl_CopyInfo")), QStringLiteral("Disco cheio"));
        QCOMPARE(s.w.last(QStringLiteral("cmdCopy.Enabled")), QStringLiteral("false"));

        QFile::remove(s.drives.host(QStringLiteral("D:\\BACKUP\\DADOS\\VENDAS\\a.dbf")));
        RecordingWindow again;
        again.from = s.w.from;
        again.to = s.w.to;
        cmdCopy_Click(again);
        QVERIFY(s.boxes.boxes.empty());
        QCOMPARE(again.last(QStringLiteral("cmdCopy.Enabled")), QStringLiteral("true"));
        QCOMPARE(QFileInfo(s.drives.logPath()).isFile(), writable);
        if (writable)
            QCOMPARE(s.logRecords(), 2);
    }
}

void TestCopyCommand::oneRunAtATime() {
    Setup s;
    int nested = 0;
    s.w.onWrite = [&](const RecordingWindow::Write& write) {
        if (write.control == QStringLiteral("Lbl_CopyInfo") && nested++ == 0) {
            QVERIFY(s.w.runInProgress());
            cmdCopy_Click(s.w); // as if "Copiar" were clicked during the run
        }
    };
    cmdCopy_Click(s.w);
    QCOMPARE(s.w.all(QStringLiteral("lblHoraIni")).size(), 1);
    QCOMPARE(s.logRecords(), 1);
}

void TestCopyCommand::emptyDestinationAddressesCurrentDrive() {
    Setup s;
    s.w.to = QString();
    s.w.recourse = 0;
    cmdCopy_Click(s.w);
    QVERIFY(s.boxes.boxes.empty());
    QCOMPARE(readFile(s.drives.host(QStringLiteral("C:\\DADOS\\VENDAS\\a.dbf"))), QByteArray("a"));
}

QTEST_MAIN(TestCopyCommand)
#include "tst_copycommand.moc"
