// The Copy command, run whole against the recording window on temporary drives.

#include "support/testsupport.h"

#include "engine/copycommand.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/progresswindow.h"
#include "platform/runlock.h"

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
        const QString busy =
            u"Já há uma cópia desta pasta em andamento.\nAguarde o fim dela para copiar de novo.\n"_s;
        const struct {
            QString from, to, text;
            RunEnd end;
        } rows[] = {{u"F:\\DADOS"_s, u"f:\\dados"_s, same, RunEnd::Refused},
                    {u"D:\\"_s, u"d:\\"_s, same, RunEnd::Refused},
                    {u"F:\\DADOS"_s, u"D:\\"_s, root, RunEnd::Refused},
                    // Another run of the program's folder holds its lock.
                    {u"F:\\DADOS"_s, u"D:\\BACKUP"_s, busy, RunEnd::Busy}};
        for (const auto& [from, to, text, end] : rows) {
            Setup s;
            s.w.from = from;
            s.w.to = to;
            const std::optional<RunLock> other =
                end == RunEnd::Busy
                    ? std::optional(RunLock::take(DriveTable::current().toHost(programFolder())))
                    : std::nullopt;
            QVERIFY(!other || other->state() == RunLock::Held);
            QCOMPARE(int(copyCommand(s.w).end), int(end));
            QCOMPARE(s.box(), text);
            const MessageRequest& box = s.boxes.boxes[0];
            QCOMPARE(box.title, u"Cópia de Arquivo."_s);
            QCOMPARE(box.style, 48);
            QCOMPARE(box.owner, s.w.owner());
            QVERIFY(s.w.writes.empty() && DestPath.isEmpty());
            QCOMPARE(s.drives.logRecords(), 0);
            QCOMPARE(tree(s.drives.host(u"D:\\BACKUP"_s)), QStringList{});
        }
    }

    void completedRun() {
        Setup s;
        writeFile(s.drives.host(u"D:\\BACKUP\\DADOS\\keep.txt"_s), "k");
        StopFlag = 1; // an ESC from before the run does not stop it
        copyCommand(s.w);

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
        // The last copy of the run fails half-way: it ends the run with its
        // box, status and log record, a name the destination refuses naming
        // the file; a source gone before it was read lets the run complete
        // (53), but "not found" while the source is still there is the
        // file's failure (75). No partial copy is left either way.
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
            {EINVAL, 52, u"Nome de arquivo inválido! (erro 52)\n\na.dbf"_s, 48, u"Pelivor"_s},
            {ENOENT, 53, {}, 0, {}},
            {ENOENT, 75, u"Erro de acesso ao Arquivo! (erro 75)"_s, 16, copia},
            // clang-format on
        };
        for (const auto& row : rows) {
            const QByteArray number = QByteArray::number(row.number);
            Setup s(0);
            FaultyFileSystem faulty;
            faulty.failTransferWith = row.err;
            if (row.number == 53)
                faulty.duringTransfer = [&] {
                    QFile::remove(s.drives.host(u"F:\\DADOS\\VENDAS\\a.dbf"_s));
                };
            copyCommand(s.w);
            QCOMPARE(s.w.last(u"MousePointer"_s), u"0"_s);
            // The file that did not reach the destination, named, then the
            // run's own record.
            QCOMPARE(s.drives.logResults().filter(u"Não copiado: "_s),
                     row.text.isEmpty() ? QStringList{}
                                        : QStringList{u"Não copiado: F:\\DADOS\\VENDAS\\a.dbf"_s});
            QCOMPARE(s.drives.logRecords(), row.text.isEmpty() ? 1 : 2);
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
            copyCommand(s.w);
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
            copyCommand(s.w);
            QCOMPARE(s.box(), box);
            QCOMPARE(s.w.last(u"MousePointer"_s), u"0"_s);
            QCOMPARE(s.drives.logRecords(), 1);
            QVERIFY(!QFileInfo::exists(s.drives.host(u"D:\\NAOEXISTE"_s)));
            QCOMPARE(readFile(s.drives.host(u"D:\\FILE\\DADOS"_s)), "a file");
        }
    }

    void destinationInsideTheSource() {
        // However it is spelt or reached, a destination that is the source or
        // lies below it is refused before anything is made.
        for (const QString& to : {u"F:\\DADOS\\VENDAS\\"_s, u"f:\\dados\\vendas\\Mes"_s,
                                  u"D:\\LINK"_s, u"D:\\LINK\\Novo\\Mais"_s}) {
            Setup s;
            QVERIFY(
                QFile::link(s.drives.host(u"F:\\DADOS\\VENDAS"_s), s.drives.host(u"D:\\LINK"_s)));
            const QStringList before = tree(s.drives.host(u"C:"_s).chopped(2));
            s.w.to = to;
            copyCommand(s.w);
            QCOMPARE(s.box(), u"O Destino dos Arquivos está dentro da Origem: "_s + to +
                                  u"\nSelecione outro local para o Destino.\n"_s);
            QCOMPARE(s.boxes.boxes[0].title, u"Cópia de Arquivo."_s);
            QCOMPARE(s.boxes.boxes[0].style, 48);
            QCOMPARE(s.boxes.boxes[0].owner, s.w.owner());
            QVERIFY(s.w.writes.empty() && DestPath.isEmpty());
            QCOMPARE(tree(s.drives.host(u"C:"_s).chopped(2)), before);
        }
    }

    void exactNames() {
        // Names that differ only in case are two folders and two files; the
        // mirrored chain is found by its exact names, a hidden one and one
        // holding a wildcard among them, on every run.
        Setup s;
        const QString from = u"F:\\.wine\\drive_c\\A?B"_s;
        for (const char* f : {"DADOS\\x.txt", "Dados\\x.txt", "a.txt", "A.TXT"})
            writeFile(s.drives.host(from + u'\\' + QLatin1String(f)), f);
        writeFile(s.drives.host(u"D:\\BACKUP\\.wine\\drive_c\\AXB\\keep"_s), "k");
        s.w.from = from;
        for (int run = 0; run < 2; ++run) {
            writeFile(s.drives.host(from + u"\\a.txt"_s), QByteArray::number(run),
                      QDateTime::currentDateTime().addSecs(run));
            copyCommand(s.w);
            QVERIFY(s.boxes.boxes.empty());
            QVERIFY(s.w.lblCopyInfo().startsWith(u"Cópia Atualizada - "_s));
            QCOMPARE(
                tree(s.drives.host(u"D:\\BACKUP\\.wine\\drive_c"_s)),
                (QStringList{u"A?B/"_s, u"A?B/A.TXT=A.TXT"_s, u"A?B/DADOS/"_s,
                             u"A?B/DADOS/x.txt=DADOS\\x.txt"_s, u"A?B/Dados/"_s,
                             u"A?B/Dados/x.txt=Dados\\x.txt"_s,
                             u"A?B/a.txt="_s + QString::number(run), u"AXB/"_s, u"AXB/keep=k"_s}));
        }
    }

    void incompleteRuns() {
        // ESC in a subfolder, or a large copy cancelled in its window: the
        // run ends without completion or times, its record says it stopped.
        struct Cancelling : ProgressWindow {
            bool update(int percent) override { return percent == 0; }
        };
        for (const bool esc : {true, false}) {
            Setup s;
            if (esc) {
                s.w.onWrite = [](const RecordingWindow::Write& write) {
                    if (write.value.contains(u"\\MES\\"_s))
                        StopFlag = 1;
                };
            } else {
                writeFile(s.drives.host(u"F:\\DADOS\\VENDAS\\big.bin"_s), QByteArray(2048001, 'b'));
                ProgressWindow::install(
                    [](const QString&) { return std::make_unique<Cancelling>(); });
            }
            copyCommand(s.w);
            ProgressWindow::install({});
            QVERIFY(s.boxes.boxes.empty());
            QCOMPARE(s.w.last(u"lblHoraFin"_s), u"<none>"_s);
            QCOMPARE(s.w.last(u"cmdCopy"_s) + s.w.last(u"Label12"_s), u"offon"_s);
            QVERIFY(s.w.all(u"Lbl_CopyInfo"_s).filter(u"Atualizada"_s).isEmpty());
            QCOMPARE(s.drives.logResults(), QStringList{u"Cópia interrompida."_s});
            QVERIFY(s.drives.log().contains("\r\nCópia interrompida.\tD:\\BACKUP\t 0 \t"));
        }

        // A stop that comes with a copy meeting a full disk, in a subfolder
        // with others after it, still reports the disk.
        {
            Setup s;
            for (const char* sibling : {"A1", "A2", "A3"})
                writeFile(
                    s.drives.host(u"F:\\DADOS\\VENDAS\\"_s + QLatin1String(sibling) + u"\\c"_s),
                    "c");
            writeFile(s.drives.host(u"D:\\BACKUP\\DADOS\\VENDAS\\Mes\\b.dbf"_s), "old",
                      QDateTime::currentDateTime().addDays(-1));
            FaultyFileSystem faulty;
            faulty.copyFails["b.dbf"] = ENOSPC;
            s.w.onWrite = [](const RecordingWindow::Write& write) {
                if (write.value.endsWith(u"b.dbf"_s))
                    StopFlag = 1;
            };
            copyCommand(s.w);
            QCOMPARE(s.box(), u"Drive de destino cheio! (erro 61)"_s);
        }

        // A file that failed anywhere in the run is reported, whatever came
        // after it: a plain copy, a large one (also shown in its own box), a
        // folder standing where the source has a file.
        const QString ioError = u"O disco de destino não está pronto! (erro 57)"_s;
        const QString access = u"Erro de acesso ao Arquivo! (erro 75)"_s;
        const std::pair<std::string, QString> failures[] = {
            {"a.dbf", ioError}, {"big.bin", ioError}, {"folder", access}};
        for (const auto& [failing, box] : failures) {
            Setup s;
            writeFile(s.drives.host(u"F:\\DADOS\\VENDAS\\big.bin"_s), QByteArray(2048001, 'b'));
            writeFile(s.drives.host(u"F:\\DADOS\\VENDAS\\z.dbf"_s), "z");
            FaultyFileSystem faulty;
            if (failing == "folder")
                QDir().mkpath(s.drives.host(u"D:\\BACKUP\\DADOS\\VENDAS\\a.dbf\\kept"_s));
            else
                faulty.copyFails[failing] = EIO;
            struct Silent : ProgressWindow {
                bool update(int) override { return true; }
            };
            ProgressWindow::install([](const QString&) { return std::make_unique<Silent>(); });
            copyCommand(s.w);
            ProgressWindow::install({});
            QCOMPARE(s.boxes.boxes.back().prompt, box);
            QCOMPARE(s.boxes.boxes.size(), size_t(failing == "big.bin" ? 2 : 1));
            QCOMPARE(s.w.lblCopyInfo(), u"Erro na execução da cópia. "_s + box.right(3).left(2));
            QCOMPARE(readFile(s.drives.host(u"D:\\BACKUP\\DADOS\\VENDAS\\Mes\\b.dbf"_s)), "b");
            QVERIFY(QFileInfo(s.drives.host(u"D:\\BACKUP\\DADOS\\VENDAS\\a.dbf\\kept"_s)).isDir() ==
                    (failing == "folder"));
        }
    }

    void flushedBeforeCompletion() {
        // One flush of the destination volume, before the completion texts;
        // a flush that fails is a device error, not a completed backup.
        for (const int fails : {0, EIO}) {
            Setup s;
            FaultyFileSystem faulty;
            faulty.failSyncWith = fails;
            faulty.onSync = [&] {
                QVERIFY(s.w.all(u"Lbl_CopyInfo"_s).filter(u"Atualizada"_s).isEmpty());
                QCOMPARE(readFile(s.drives.host(u"D:\\BACKUP\\DADOS\\VENDAS\\Mes\\b.dbf"_s)), "b");
            };
            copyCommand(s.w);
            QCOMPARE(faulty.syncs, 1);
            if (!fails) {
                QVERIFY(s.w.lblCopyInfo().startsWith(u"Cópia Atualizada - "_s));
                continue;
            }
            QCOMPARE(s.box(), u"O disco de destino não está pronto! (erro 57)"_s);
            QCOMPARE(s.w.lblCopyInfo(), u"Erro na execução da cópia. 57"_s);
            QVERIFY(s.drives.log().contains("\t 57 "));
        }
    }

    void oneRunAtATime() {
        Setup s;
        s.w.onWrite = [&](const RecordingWindow::Write& write) {
            if (write.value.startsWith(u"Copiando"_s)) // "Copiar" clicked during the run
                copyCommand(s.w);
        };
        copyCommand(s.w);
        QCOMPARE(s.w.all(u"lblHoraIni"_s).size(), 1);
        QCOMPARE(s.drives.logRecords(), 1);
        QVERIFY(!s.w.runInProgress());
    }
};

QTEST_GUILESS_MAIN(TestCopyCommand)
#include "tst_copycommand.moc"
