// The error reporter and the run log.

#include "support/testsupport.h"

#include "engine/reporterror.h"
#include "engine/runlog.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/messagebox.h"

#include <QDir>
#include <QRegularExpression>
#include <QTest>

using namespace TRAVO1;
using namespace platform;

namespace {

// A date of "General Date" as the tests' locale writes it.
const QString dateRe = QStringLiteral("\\d\\d/\\d\\d/\\d{4}( \\d\\d:\\d\\d:\\d\\d)?");

// Raises `number` and reports it, as a trapped handler would.
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
    void messageTable();
    void reportErrorEffects();
    void logRecordsByteForByte();
    void unwritableLogChangesNothing();
};

void TestReporting::messageTable() {
    TempDrives drives;
    CurrentName = QStringLiteral("VENDAS.DBF");
    const QString lf2 = QStringLiteral("\n\n");
    const struct {
        int32_t number;
        QString text;
        int style;
        QString title;
    } rows[] = {
        {52,
         QStringLiteral("Nome de arquivo inválido! (erro 52)") + lf2 + QStringLiteral("VENDAS.DBF"),
         48, QStringLiteral("Pelivor")},
        {53,
         QStringLiteral("Arquivo não encontrado! (erro 53)") + lf2 + QStringLiteral("VENDAS.DBF"),
         48, QStringLiteral("Pelivor")},
        {57, QStringLiteral("O disco de destino não está pronto! (erro 57)"), 16,
         QStringLiteral("Erro de Cópia")},
        {61, QStringLiteral("Drive de destino cheio! (erro 61)"), 48,
         QStringLiteral("Erro de Cópia")},
        {68, QStringLiteral("Diretório ou drive de não disponível! (erro 68)"), 16,
         QStringLiteral("Erro de Cópia")},
        {70,
         QStringLiteral("Diretório ou drive de destino protegido! (erro 70)\r\nOu programa está "
                        "sendo usado por algum usuário.\r\nFeche o programa que está sendo copiado "
                        "e faça a cópia novamente"),
         16, QStringLiteral("Erro na cópia")},
        {71, QStringLiteral("O disco de destino não está pronto! (erro 71)"), 16,
         QStringLiteral("Erro de Cópia")},
        {75, QStringLiteral("Erro de acesso ao Arquivo! (erro 75)"), 16,
         QStringLiteral("Erro de Cópia")},
        {76, QStringLiteral("Diretório de destino inexistente! (erro 76)"), 16,
         QStringLiteral("Erro de Cópia")},
        {9, QStringLiteral("Erro imprevisto!") + lf2 + QStringLiteral("9: ") + describe(9), 16,
         QStringLiteral("Erro de Cópia")},
        {6, QStringLiteral("Erro imprevisto!") + lf2 + QStringLiteral("6: ") + describe(6), 16,
         QStringLiteral("Erro de Cópia")},
    };
    for (const auto& row : rows) {
        BoxRecorder boxes;
        RecordingWindow w;
        report(w, row.number);
        QCOMPARE(boxes.boxes.size(), size_t(1));
        QCOMPARE(boxes.boxes[0].prompt, row.text);
        QCOMPARE(boxes.boxes[0].style, row.style);
        QCOMPARE(boxes.boxes[0].title, row.title);
        QCOMPARE(boxes.boxes[0].owner, nullptr);
    }
    // Before any listing, the name is empty and the text ends in the line feeds.
    CurrentName.clear();
    BoxRecorder boxes;
    RecordingWindow w;
    report(w, 53);
    QCOMPARE(boxes.boxes[0].prompt, QStringLiteral("Arquivo não encontrado! (erro 53)\n\n"));
    // An unexpected 0 still has its box.
    clearError();
    ReportError(w);
    QCOMPARE(boxes.boxes[1].prompt, QStringLiteral("Erro imprevisto!\n\n0: "));
}

void TestReporting::reportErrorEffects() {
    TempDrives drives;
    BoxRecorder boxes;
    RecordingWindow w;
    w.setLblCopyInfo(QStringLiteral("antes"));
    w.writes.clear();
    report(w, 5); // no box, everything else as for any error
    QVERIFY(boxes.boxes.empty());
    QCOMPARE(w.writes.size(), size_t(3));
    QCOMPARE(w.writes[0].value, QStringLiteral("Erro na execução da cópia. 5"));
    QCOMPARE(w.writes[1].control, QStringLiteral("cmdCopy.Enabled"));
    QCOMPARE(w.writes[1].value, QStringLiteral("false"));
    QCOMPARE(w.writes[2].control, QStringLiteral("Lbl_CopyInfo1.Flood"));
    QCOMPARE(w.writes[2].value, QStringLiteral("0"));
    QCOMPARE(Err().number, 0); // cleared by the run log
    // Outside a run the destination column is DestPath, empty before the first run.
    const QString line = QString::fromUtf8(drives.log().split('\n').value(1));
    QCOMPARE(line.section(QLatin1Char('\t'), 0, 2),
             QStringLiteral("Erro na execução da cópia. 5\t\t 5 ") + describe(5));
}

void TestReporting::logRecordsByteForByte() {
    TempDrives drives;
    RecordingWindow w;
    DestPath = QStringLiteral("D:\\BACKUP");
    w.setLblCopyInfo(QStringLiteral("Cópia Atualizada - 06/12/2026"));
    WriteRunLog(w);
    w.setLblCopyInfo(QStringLiteral("Erro: 61 - Disco cheio"));
    WriteRunLog(w, 61, describe(61));
    WriteRunLog(w, -3, QStringLiteral("x"));

    const QString log = QString::fromUtf8(drives.log());
    const QRegularExpression whole(
        QStringLiteral("^RESULTADO\tDESTINO\tERROS\tDATA\t%1\r\n"
                       "Cópia Atualizada - 06/12/2026\tD:\\\\BACKUP\t 0 \t%1\r\n"
                       "Erro: 61 - Disco cheio\tD:\\\\BACKUP\t 61 Disco cheio\t%1\r\n"
                       "Erro: 61 - Disco cheio\tD:\\\\BACKUP\t-3 x\t%1\r\n$")
            .arg(dateRe));
    QVERIFY2(whole.match(log).hasMatch(), qPrintable(log));
    QVERIFY(drives.log().contains("C\xc3\xb3pia")); // UTF-8, the system's encoding

    // An existing empty log gets the header; a non-empty one never a second.
    writeFile(drives.logPath(), QByteArray());
    WriteRunLog(w);
    WriteRunLog(w);
    QCOMPARE(drives.log().count("RESULTADO"), 1);
    QCOMPARE(drives.log().count("\r\n"), 3);
}

void TestReporting::unwritableLogChangesNothing() {
    TempDrives drives;
    RecordingWindow w;
    // Root may write anywhere, so make the log impossible instead: a folder
    // in its place, then a program folder that does not exist.
    QDir().mkpath(drives.logPath());
    clearError();
    resumeNext([] { raiseError(ErrDiskFull); });
    WriteRunLog(w, 61, describe(61));
    QCOMPARE(Err().number, 0);
    setProgramFolder(QStringLiteral("C:\\NAO\\EXISTE"));
    BoxRecorder boxes;
    report(w, 70);
    QCOMPARE(boxes.boxes.size(), size_t(1)); // the error's own box, nothing about the log
    QCOMPARE(Err().number, 0);
    QCOMPARE(entriesOf(drives.host(QStringLiteral("C:\\"))), QStringList{QStringLiteral("PROG")});
}

QTEST_MAIN(TestReporting)
#include "tst_reporting.moc"
