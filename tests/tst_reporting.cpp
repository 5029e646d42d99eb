// The error reporter and the run log.

#include "support/testsupport.h"

#include "engine/reporterror.h"
#include "engine/runlog.h"
#include "platform/errors.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

using namespace TRAVO1;
using namespace platform;

namespace {

// Raises `number` and reports it, as a trapped handler does.
void report(RecordingWindow& w, int32_t number) {
    clearError();
    try {
        raiseError(number);
    } catch (const Failure&) {
        ReportError(w);
    }
}

} // namespace

class TestReporting : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void messageTable() {
        TempDrives drives;
        CurrentName = u"VENDAS.DBF"_s;
        // The rows of the destination errors are checked where the Copy command
        // reports them (tst_copycommand).
        const struct {
            int32_t number;
            QString text;
            int style;
            QString title;
        } rows[] = {
            // clang-format off
            {52, u"Nome de arquivo inválido! (erro 52)\n\nVENDAS.DBF"_s, 48, u"Pelivor"_s},
            {53, u"Arquivo não encontrado! (erro 53)\n\nVENDAS.DBF"_s, 48, u"Pelivor"_s},
            {9, u"Erro imprevisto!\n\n9: "_s + describe(9), 16, u"Erro de Cópia"_s},
            // clang-format on
        };
        BoxRecorder boxes;
        RecordingWindow w;
        for (const auto& row : rows) {
            report(w, row.number);
            const MessageRequest& box = boxes.boxes.back();
            QCOMPARE(box.prompt, row.text);
            QCOMPARE(box.style, row.style);
            QCOMPARE(box.title, row.title);
            QCOMPARE(box.owner, nullptr);
        }
        // Before any listing the name is empty; an unexpected 0 still has its box.
        CurrentName.clear();
        report(w, 53);
        QCOMPARE(boxes.boxes.back().prompt, u"Arquivo não encontrado! (erro 53)\n\n"_s);
        clearError();
        ReportError(w);
        QCOMPARE(boxes.boxes.back().prompt, u"Erro imprevisto!\n\n0: "_s);

        // 5 shows no box; the rest is as for any error: status, button, panel, log.
        w.writes.clear();
        report(w, 5);
        QCOMPARE(boxes.boxes.size(), std::size(rows) + 2);
        QCOMPARE(w.writes.size(), size_t(3));
        QCOMPARE(w.writes[0].value + w.writes[1].value + w.writes[2].value,
                 u"Erro na execução da cópia. 5off0"_s);
        QCOMPARE(Err().number, 0); // cleared by the run log
        QCOMPARE(drives.logRecords(), int(std::size(rows)) + 3);
        const QString lastRecord = QString::fromUtf8(drives.log()).section(u"\r\n"_s, -2, -2);
        QVERIFY(
            lastRecord.startsWith(u"Erro na execução da cópia. 5\t\t 5 %1\t"_s.arg(describe(5))));
    }

    void logRecords() {
        TempDrives drives;
        DestPath = u"D:\\BACKUP"_s;
        const QString completed = u"Cópia Atualizada - 06/12/2026"_s;
        const QString levelError = u"Erro: 61 - Disco cheio"_s;
        WriteRunLog(completed);
        WriteRunLog(levelError, 61, describe(61));
        WriteRunLog(levelError, -3, u"x"_s);
        const QRegularExpression whole(
            u"^RESULTADO\tDESTINO\tERROS\tDATA\t%1\r\n"
            "Cópia Atualizada - 06/12/2026\tD:\\\\BACKUP\t 0 \t%1\r\n"
            "Erro: 61 - Disco cheio\tD:\\\\BACKUP\t 61 Disco cheio\t%1\r\n"
            "Erro: 61 - Disco cheio\tD:\\\\BACKUP\t-3 x\t%1\r\n$"_s.arg(
                u"\\d\\d/\\d\\d/\\d{4}( \\d\\d:\\d\\d:\\d\\d)?"_s));
        QVERIFY2(whole.match(QString::fromUtf8(drives.log())).hasMatch(), drives.log().constData());

        // An existing empty log gets the header; a non-empty one never a second.
        writeFile(drives.logPath(), QByteArray());
        WriteRunLog(completed);
        WriteRunLog(completed);
        QCOMPARE(drives.log().count("RESULTADO"), 1);
        QCOMPARE(drives.logRecords(), 2);

        // A log that cannot be written leaves no error behind and no trace.
        QFile::remove(drives.logPath());
        QDir().mkpath(drives.logPath());
        resumeNext([] { raiseError(ErrDiskFull); });
        WriteRunLog(levelError, 61, describe(61));
        QCOMPARE(Err().number, 0);
        QVERIFY(QFileInfo(drives.logPath()).isDir());
    }
};

QTEST_GUILESS_MAIN(TestReporting)
#include "tst_reporting.moc"
