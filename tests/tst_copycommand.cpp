// The Copy command, run whole against the recording window on temporary drives.

#include "support/testsupport.h"

#include "engine/copycommand.h"
#include "platform/errors.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

using namespace TRAVO1;
using namespace platform;

namespace {

// Source F:\DADOS\VENDAS with a file and a subfolder; destination D:\BACKUP.
struct Setup {
    TempDrives drives;
    BoxRecorder boxes;
    RecordingWindow w;
    explicit Setup(int16_t recourse = 1) {
        writeFile(drives.host(u"F:\\DADOS\\VENDAS\\a.dbf"_s), "a");
        writeFile(drives.host(u"F:\\DADOS\\VENDAS\\Mes\\b.dbf"_s), "b");
        QDir().mkpath(drives.host(u"D:\\BACKUP"_s));
        w.from = u"F:\\DADOS\\VENDAS"_s;
        w.to = u"D:\\BACKUP"_s;
        w.recourse = recourse;
    }
    QString box() const {
        return boxes.boxes.size() == 1 ? boxes.boxes[0].prompt
                                       : u"<%1 boxes>"_s.arg(boxes.boxes.size());
    }
};

} // namespace

class TestCopyCommand : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void refusals() {
        const QString same =
            u"A Origem e Destino dos Arquivos selecionados são iguais\nSelecione outro local para o Destino.\n"_s;
        const QString root =
            u"Destino dos Arquivos Inválido: D:\\\nSelecione outro local ou um subdiretório para o Destino.\n"_s;
        const QString rows[][3] = {{u"F:\\DADOS"_s, u"f:\\dados"_s, same},
                                   {u"D:\\"_s, u"d:\\"_s, same},
                                   {u"F:\\DADOS"_s, u"D:\\"_s, root}};
        for (const auto& [from, to, text] : rows) {
            Setup s;
            s.w.from = from;
            s.w.to = to;
            cmdCopy_Click(s.w);
            QCOMPARE(s.box(), text);
            const MessageRequest& box = s.boxes.boxes[0];
            QCOMPARE(box.title, u"Cópia de Arquivo."_s);
            QCOMPARE(box.style, 48);
            QCOMPARE(box.owner, s.w.owner());
            QVERIFY(s.w.writes.empty() && DestPath.isEmpty());
            QCOMPARE(s.drives.logRecords(), 0);
        }
    }

    void completedRun() {
        Setup s;
        writeFile(s.drives.host(u"D:\\BACKUP\\DADOS\\keep.txt"_s), "k");
        StopFlag = 1; // an ESC from before the run does not stop it
        cmdCopy_Click(s.w);

        // The mirrored chain, the files in it; the 53 of the last probe is not reported.
        QCOMPARE(tree(s.drives.host(u"D:\\BACKUP"_s)),
                 (QStringList{u"DADOS/"_s, u"DADOS/VENDAS/"_s, u"DADOS/VENDAS/Mes/"_s,
                              u"DADOS/VENDAS/Mes/b.dbf=b"_s, u"DADOS/VENDAS/a.dbf=a"_s,
                              u"DADOS/keep.txt=k"_s}));
        QVERIFY(s.boxes.boxes.empty());
        QCOMPARE(DestPath, u"D:\\BACKUP"_s);
        QVERIFY(s.w.all(u"Lbl_CopyInfo2"_s).contains(u"Para: D:\\BACKUP\\DADOS\\VENDAS\\a.dbf"_s));

        // Every write but the per-file ones, in order.
        QStringList order;
        for (const auto& [control, value] : s.w.writes)
            if (!value.startsWith(u"Copiando"_s) && !value.startsWith(u"Para"_s) &&
                control != u"Refresh"_s)
                order << control + u'=' + value;
        const QString time = u"\\d\\d:\\d\\d:\\d\\d"_s, date = u"\\d\\d/\\d\\d/\\d{4}"_s;
        const QRegularExpression expected(
            u"^cmdCopy=off MousePointer=11 Label12=on "
            "lblHoraIni=Horário Inicial:   %1 "
            "Lbl_CopyInfo=Criando diretório D:\\\\BACKUP\\\\DADOS\\\\VENDAS\\\\Mes "
            "MousePointer=0 cmdCopy=on Label12=off Lbl_CopyInfo2= "
            "lblHoraFin=Horário Final:     %1 Lbl_CopyInfo=(Cópia Atualizada - %2) "
            "Caption=\\1 Flood=0$"_s.arg(time, date));
        QVERIFY2(expected.match(order.join(u' ')).hasMatch(), qPrintable(order.join(u' ')));
        QCOMPARE(s.drives.logRecords(), 1);
        QVERIFY(s.drives.log().contains("\tD:\\BACKUP\t 0 \t"));
    }

    void destinationErrorsAreReported() {
        // The last copy of the run fails half-way: the destination errors end
        // the run with their box, status and log record; the others let it
        // complete. No partial copy is left either way.
        const QString copia = u"Erro de Cópia"_s;
        const struct {
            int err;
            int32_t number;
            QString text; // empty: the run completes
            int style;
            QString title;
        } rows[] = {
            // clang-format off
            {EIO, 57, u"O disco de destino não está pronto! (erro 57)"_s, 16, copia},
            {ENOSPC, 61, u"Drive de destino cheio! (erro 61)"_s, 48, copia},
            {ENODEV, 68, u"Diretório ou drive de não disponível! (erro 68)"_s, 16, copia},
            {EACCES, 70, u"Diretório ou drive de destino protegido! (erro 70)\r\nOu programa está sendo usado por algum usuário.\r\nFeche o programa que está sendo copiado e faça a cópia novamente"_s, 16, u"Erro na cópia"_s},
            {ENOMEDIUM, 71, u"O disco de destino não está pronto! (erro 71)"_s, 16, copia},
            {EFBIG, 75, u"Erro de acesso ao Arquivo! (erro 75)"_s, 16, copia},
            {ENOTDIR, 76, u"Diretório de destino inexistente! (erro 76)"_s, 16, copia},
            {0, 0, {}, 0, {}},
            {EINVAL, 52, {}, 0, {}},
            {ENOENT, 53, {}, 0, {}},
            // clang-format on
        };
        for (const auto& row : rows) {
            const QByteArray number = QByteArray::number(row.number);
            Setup s(0);
            FaultyFileSystem faulty;
            faulty.failTransferWith = row.err;
            cmdCopy_Click(s.w);
            QCOMPARE(s.w.last(u"MousePointer"_s), u"0"_s);
            QCOMPARE(s.drives.logRecords(), 1);
            QCOMPARE(tree(s.drives.host(u"D:\\BACKUP\\DADOS\\VENDAS"_s)),
                     row.err ? QStringList{} : QStringList{u"a.dbf=a"_s});
            if (row.text.isEmpty()) {
                QVERIFY2(s.boxes.boxes.empty(), number);
                QVERIFY2(s.w.lblCopyInfo().startsWith(u"Cópia Atualizada - "_s), number);
                QCOMPARE(s.w.last(u"cmdCopy"_s) + s.w.last(u"Label12"_s), u"onoff"_s);
                QVERIFY(s.drives.log().contains("\tD:\\BACKUP\t 0 \t"));
                continue;
            }
            QCOMPARE(s.box(), row.text);
            QCOMPARE(s.boxes.boxes[0].style, row.style);
            QCOMPARE(s.boxes.boxes[0].title, row.title);
            QCOMPARE(s.boxes.boxes[0].owner, nullptr);
            QCOMPARE(s.w.lblCopyInfo(), u"Erro na execução da cópia. "_s + number);
            QCOMPARE(s.w.last(u"cmdCopy"_s) + s.w.last(u"Label12"_s), u"offon"_s);
            QVERIFY2(s.w.all(u"Lbl_CopyInfo"_s).filter(u"Atualizada"_s).isEmpty(), number);
            const QByteArray record = "Erro na execução da cópia. " + number + "\tD:\\BACKUP\t " +
                                      number + ' ' + describe(row.number).toUtf8() + '\t';
            QVERIFY2(s.drives.log().contains(record), s.drives.log());
        }
        // The last file's probe refused: skipped without a word, then reported as 70.
        {
            Setup s(0);
            writeFile(s.drives.host(u"D:\\BACKUP\\DADOS\\VENDAS\\a.dbf"_s), "in use");
            FaultyFileSystem faulty;
            faulty.probeFails["a.dbf"] = EACCES;
            cmdCopy_Click(s.w);
            QVERIFY(s.box().startsWith(u"Diretório ou drive de destino protegido! (erro 70)"_s));
            QCOMPARE(readFile(s.drives.host(u"D:\\BACKUP\\DADOS\\VENDAS\\a.dbf"_s)), "in use");
        }
        // A missing destination folder: 76 from the chain, in the trap, pointer
        // restored, also with the source at a drive root, where there is no
        // chain. A file in place of a chain folder is left alone: 75.
        const QString missing = u"Diretório de destino inexistente! (erro 76)"_s;
        const QString access = u"Erro de acesso ao Arquivo! (erro 75)"_s;
        for (const auto& [from, to, box] :
             {std::tuple{u"F:\\DADOS\\VENDAS"_s, u"D:\\NAOEXISTE"_s, missing},
              std::tuple{u"F:\\"_s, u"D:\\NAOEXISTE"_s, missing},
              std::tuple{u"F:\\DADOS\\VENDAS"_s, u"D:\\FILE"_s, access}}) {
            Setup s(0);
            writeFile(s.drives.host(u"F:\\root.txt"_s), "r");
            writeFile(s.drives.host(u"D:\\FILE\\DADOS"_s), "a file");
            s.w.from = from;
            s.w.to = to;
            cmdCopy_Click(s.w);
            QCOMPARE(s.box(), box);
            QCOMPARE(s.w.last(u"MousePointer"_s), u"0"_s);
            QCOMPARE(s.drives.logRecords(), 1);
            QVERIFY(!QFileInfo::exists(s.drives.host(u"D:\\NAOEXISTE"_s)));
            QCOMPARE(readFile(s.drives.host(u"D:\\FILE\\DADOS"_s)), "a file");
        }
    }

    void oneRunAtATime() {
        Setup s;
        s.w.onWrite = [&](const RecordingWindow::Write& write) {
            if (write.value.startsWith(u"Copiando"_s)) // "Copiar" clicked during the run
                cmdCopy_Click(s.w);
        };
        cmdCopy_Click(s.w);
        QCOMPARE(s.w.all(u"lblHoraIni"_s).size(), 1);
        QCOMPARE(s.drives.logRecords(), 1);
        QVERIFY(!s.w.runInProgress());
    }
};

QTEST_MAIN(TestCopyCommand)
#include "tst_copycommand.moc"
