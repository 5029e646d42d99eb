// Every file that a run did not bring to the destination, named in Log.txt:
// on a tmpfs that fills, one record a file in the log's four fields, a name
// with control characters kept on its line, the records capped at a hundred
// a run; and what the log tells afterwards of the last run that failed.

#include "support/testsupport.h"
#include "support/volumes.h"

#include "engine/runlog.h"
#include "platform/drives.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTest>
#include <set>

using namespace TRAVO1;
using namespace platform;

namespace {

const QDateTime t0(QDate(2024, 3, 1), QTime(10, 0, 0));

// The log's lines, without their CRLF, each checked to be one record of the
// header's fields: nothing in a name split a field or a line.
QList<QStringList> logLines(const TempDrives& drives) {
    const QString log = QString::fromLocal8Bit(drives.log());
    QList<QStringList> lines;
    if (!log.endsWith(u"\r\n"_s))
        return {{u"<no CRLF at the end>"_s}};
    for (const QString& line : log.chopped(2).split(u"\r\n"_s)) {
        if (line.contains(u'\r') || line.contains(u'\n'))
            return {{u"<a line break inside a line>"_s}};
        lines << line.split(u'\t');
    }
    return lines;
}

// The RESULTADO fields of the records after the header.
QStringList results(const QList<QStringList>& lines) {
    QStringList out;
    for (const QStringList& fields : lines.mid(1))
        out << fields.value(0);
    return out;
}

// A tmpfs of `size` on D:, with the destination folder D:\T in it.
std::unique_ptr<Mount> smallDisk(const TempDrives& drives, const QString& size) {
    auto disk = std::make_unique<Mount>(
        drives.host(u"D:"_s), u"mount"_s,
        QStringList{u"-t"_s, u"tmpfs"_s, u"-o"_s, u"size="_s + size, u"tmpfs"_s});
    if (disk->mounted)
        QDir().mkpath(drives.host(u"D:\\T"_s));
    return disk;
}

} // namespace

class TestFailures : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // A disk that fills in the middle: each file that did not fit has its
    // record, as the window shows its path, with the destination and the
    // error; a name holding TAB, CR, LF and ESC stays one field of one line;
    // the run's own records stay as they are, its report last.
    void fullDiskNamesEachFile() {
        TempDrives drives;
        const auto disk = smallDisk(drives, u"1m"_s);
        if (!disk->mounted)
            QSKIP(qPrintable(u"a 1 MiB tmpfs cannot be mounted here: "_s + disk->error));
        const QString odd = u"a\tb\rc\nd\x1b[31me.dbf"_s;
        // 400 KiB each: two fit; the odd one is larger than the disk.
        for (const QString& name : {u"Dados\\x.dbf"_s, u"DADOS\\y.dbf"_s, u"Dados\\z.dbf"_s,
                                    u"DADOS\\w.dbf"_s, u"v.dbf"_s})
            writeFile(drives.host(u"F:\\S\\"_s + name), QByteArray(400 * 1024, 'd'), t0);
        writeFile(drives.host(u"F:\\S\\"_s) + odd, QByteArray(1536 * 1024, 'o'), t0);

        CommandRun run;
        copyCommand(run.w);

        // The files that are not at the destination, as the window shows them.
        std::set<QString> missing;
        const auto copied = rawTree(drives.host(u"D:\\T\\S"_s));
        for (const auto& [name, data] : rawTree(drives.host(u"F:\\S"_s))) {
            if (name.ends_with('/') || copied.contains(name))
                continue;
            const QString path = QString::fromStdString(name);
            const qsizetype slash = path.lastIndexOf(u'/');
            missing.insert(u"Não copiado: F:\\S\\"_s +
                           path.left(slash + 1).toUpper().replace(u'/', u'\\') +
                           path.mid(slash + 1));
        }
        QVERIFY2(missing.size() >= 3, qPrintable(u"%1 not copied"_s.arg(missing.size())));
        QVERIFY(missing.contains(u"Não copiado: F:\\S\\"_s + odd));

        const QList<QStringList> lines = logLines(drives);
        QCOMPARE(lines.value(0).mid(0, 4),
                 (QStringList{u"RESULTADO"_s, u"DESTINO"_s, u"ERROS"_s, u"DATA"_s}));
        std::set<QString> named;
        for (const QStringList& fields : lines.mid(1, lines.size() - 2)) {
            QCOMPARE(fields.size(), 4);
            QCOMPARE(fields.mid(1, 2), (QStringList{u"D:\\T"_s, u" 61 Disco cheio"_s}));
            // The escaped name, read back, is the name.
            QString name = fields[0];
            name.replace(u"\\x09"_s, u"\t"_s)
                .replace(u"\\x0d"_s, u"\r"_s)
                .replace(u"\\x0a"_s, u"\n"_s)
                .replace(u"\\x1b"_s, u"\x1b"_s);
            named.insert(name);
        }
        QCOMPARE(named, missing);
        QCOMPARE(lines.last().mid(0, 3), (QStringList{u"Erro na execução da cópia. 61"_s,
                                                      u"D:\\T"_s, u" 61 Disco cheio"_s}));
        QCOMPARE(LastFailure(), u"Disco cheio (erro 61)"_s);
        QVERIFY(LastFailedRun().endsWith(u" - Erro na execução da cópia. 61"_s));
    }

    // A destination full from the start: a hundred files named, the rest
    // counted in one record at the run's end, before the run's report.
    void aHundredNamedTheRestCounted() {
        TempDrives drives;
        const auto disk = smallDisk(drives, u"256k"_s);
        if (!disk->mounted)
            QSKIP(qPrintable(u"a 256 KiB tmpfs cannot be mounted here: "_s + disk->error));
        QFile filler(drives.host(u"D:\\filler"_s));
        QVERIFY(filler.open(QIODevice::WriteOnly));
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        for (int i = 0; i < 130; ++i)
            writeFile(drives.host(u"F:\\S\\f%1.dbf"_s.arg(i, 3, 10, QLatin1Char('0'))), "x", t0);

        CommandRun run;
        copyCommand(run.w);

        const QList<QStringList> lines = logLines(drives);
        const QStringList texts = results(lines);
        QCOMPARE(texts.size(), 102);
        // A hundred files, each once.
        const QStringList named = texts.mid(0, 100);
        QCOMPARE(
            named.filter(QRegularExpression(u"^Não copiado: F:\\\\S\\\\f\\d{3}\\.dbf$"_s)).size(),
            100);
        QCOMPARE(QSet<QString>(named.begin(), named.end()).size(), 100);
        QCOMPARE(texts[100], u"... e mais 30 arquivos não copiados"_s);
        QCOMPARE(lines[101].mid(1, 2), (QStringList{u"D:\\T"_s, u" 0 "_s}));
        QCOMPARE(texts[101], u"Erro na execução da cópia. 61"_s);
    }

    // What the log tells of the last run that failed, for the window's
    // morning after and for the notice of a scheduled run: a verification
    // that found a file different failed, although it reports no error;
    // a second place that completed leaves the first place's failure to name.
    void theLastFailure() {
        TempDrives drives;
        const QByteArray header = "RESULTADO\tDESTINO\tERROS\tDATA\t06/12/2026 22:30:00\r\n";
        const QByteArray full =
            "Não copiado: C:\\APP\\A.DBF\tD:\\B\t 61 Disco cheio\t07/12/2026 22:30:04\r\n"
            "Erro na execução da cópia. 61\tD:\\B\t 61 Disco cheio\t07/12/2026 22:30:05\r\n";
        const QByteArray completed =
            "Cópia Atualizada - 07/12/2026\tE:\\B\t 0 \t07/12/2026 22:31:10\r\n";
        const QByteArray equal =
            "Verificação: 2 arquivos iguais, 0 diferentes, 0 ausentes\tE:\\B\t 0 \t07/12/2026 "
            "22:32:00\r\n";
        const QByteArray different =
            "Verificação: 1 arquivo igual, 1 diferente, 0 ausentes\tE:\\B\t 0 \t07/12/2026 "
            "22:32:00\r\n";
        const struct {
            QByteArray log;
            QString failure, morning;
        } rows[] = {
            {full, u"Disco cheio (erro 61)"_s,
             u"Última cópia: 07/12/2026 22:30 - Erro na execução da cópia. 61"_s},
            {full + completed + equal, u"Disco cheio (erro 61)"_s, QString()},
            {completed + different, u"Verificação: 1 arquivo igual, 1 diferente, 0 ausentes"_s,
             u"Última cópia: 07/12/2026 22:32 - Verificação: 1 arquivo igual, 1 diferente, 0 "
             u"ausentes"_s},
            {completed + equal, QString(), QString()},
        };
        for (const auto& [log, failure, morning] : rows) {
            writeFile(drives.logPath(), header + log);
            QCOMPARE(LastFailure(), failure);
            QCOMPARE(LastFailedRun(), morning);
            // A log whose line ends a hand turned into line feeds reads the same.
            writeFile(drives.logPath(), QByteArray(header + log).replace("\r\n", "\n"));
            QCOMPARE(LastFailure(), failure);
            QCOMPARE(LastFailedRun(), morning);
        }
    }
};

QTEST_GUILESS_MAIN(TestFailures)
#include "tst_failures.moc"
