// The verification of a backup on real folders and volumes: what it finds
// and in which order, alone and with the files compared ahead; a copy that
// differs only on the disk; a destination missing or pulled out in the
// middle; a stop; the run lock.

#include "support/testsupport.h"
#include "support/volumes.h"

#include "engine/verify.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/runlock.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>

using namespace TRAVO1;
using namespace platform;

namespace {

const QDateTime t0(QDate(2024, 3, 1), QTime(10, 0, 0));

// Every event as a line, the destination's paths below `root`.
class Recorder : public VerifyObserver {
public:
    explicit Recorder(QString root = QString()) : m_root(std::move(root)) {}
    QStringList events;
    std::function<void()> onMissing; // acts at the first missing file
    bool finishedCalled = false;

    void missing(const std::string& path) override {
        events << u"missing "_s + relative(path);
        if (onMissing)
            std::exchange(onMissing, {})();
    }
    void different(const std::string& path) override { events << u"different "_s + relative(path); }
    void unreadable(const std::string& path, const RecordedError& e) override {
        events << u"unreadable %1 %2"_s.arg(relative(path)).arg(e.number);
    }
    void failed(const RecordedError& e) override { events << u"failed %1"_s.arg(e.number); }
    void stopped() override { events << u"stopped"_s; }
    void finished(const VerifyCounts&) override { finishedCalled = true; }

private:
    QString relative(const std::string& path) const {
        const QString text = QFile::decodeName(QByteArray::fromStdString(path));
        return m_root.isEmpty() ? text : QDir(m_root).relativeFilePath(text);
    }
    QString m_root;
};

QByteArray randomBytes(int size, quint32 seed) {
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((seed = seed * 1103515245 + 12345) >> 16);
    return data;
}

// The Log.txt record's first three fields.
QString lastRecord(const TempDrives& drives) {
    const QList<QByteArray> lines = drives.log().split('\n');
    const QString record = QString::fromUtf8(lines.value(lines.size() - 2));
    return record.section(u'\t', 0, 2);
}

} // namespace

class TestVerify : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void findsWhatDiffers_data();
    void findsWhatDiffers();
    void readsTheDiskNotTheCache();
    void destinationMissingOrPulledOut();
    void stopLockAndRefusal();
};

void TestVerify::findsWhatDiffers_data() {
    QTest::addColumn<bool>("ahead");
    QTest::newRow("one file at a time") << false;
    QTest::newRow("compared ahead, as on a share") << true;
}

// Every byte counts, not the length and time; the selection is a copy's,
// no link is followed at either side; files below a missing folder are each
// missing. Compared ahead, the events come in the same order as one at a time.
void TestVerify::findsWhatDiffers() {
    QFETCH(bool, ahead);
    FaultyFileSystem fs;
    fs.askAhead = ahead;
    TempDrives drives;
    BoxRecorder boxes;
    const QString src = drives.host(u"F:\\S"_s), dst = drives.host(u"D:\\T\\S"_s);
    const QByteArray big = randomBytes(600 * 1024, 7);
    QByteArray flipped = big;
    flipped[590 * 1024] = char(flipped[590 * 1024] ^ 1); // in the third block
    const auto both = [&](const QString& name, const QByteArray& data, const QByteArray& copy) {
        writeFile(src + u'/' + name, data, t0);
        writeFile(dst + u'/' + name, copy, t0);
    };
    both(u"same.txt"_s, "abc", "abc");
    both(u"flipped.bin"_s, big, flipped);
    both(u"empty"_s, {}, {});
    both(u".hidden"_s, "one", "other");
    both(u"sub/x.txt"_s, "x", "x");
    both(u"sub/deep/y.txt"_s, big, big);
    writeFile(src + u"/gone.txt"_s, "g", t0);
    writeFile(src + u"/new/n1.txt"_s, "1", t0);
    writeFile(src + u"/new/n2.txt"_s, "2", t0);
    writeFile(dst + u"/extra.txt"_s, "not in the source", t0);
    writeFile(src + u"/linked.txt"_s, "l", t0);
    writeFile(dst + u"/elsewhere.txt"_s, "l", t0);
    QVERIFY(QFile::link(dst + u"/elsewhere.txt"_s, dst + u"/linked.txt"_s));
    writeFile(src + u"/fifo.txt"_s, "f", t0);
    QCOMPARE(::mkfifo(bytes(dst + u"/fifo.txt"_s).c_str(), 0644), 0);
    QVERIFY(QFile::link(src + u"/same.txt"_s, src + u"/link-in-source"_s));

    Recorder seen(drives.host(u"D:\\T"_s));
    const VerifyOutcome outcome = VerifyCopy(u"F:\\S"_s, u"D:\\T"_s, seen);
    QCOMPARE(int(outcome.end), int(VerifyEnd::Unequal));
    QStringList sorted = seen.events;
    sorted.sort();
    QCOMPARE(sorted, (QStringList{u"different S/fifo.txt"_s, u"different S/flipped.bin"_s,
                                  u"different S/linked.txt"_s, u"missing S/gone.txt"_s,
                                  u"missing S/new/n1.txt"_s, u"missing S/new/n2.txt"_s}));
    QCOMPARE(outcome.counts.equal, 4);
    QVERIFY(seen.finishedCalled);
    QCOMPARE(lastRecord(drives),
             u"Verificação: 4 arquivos iguais, 3 diferentes, 3 ausentes\tD:\\T\t 0 "_s);
    QVERIFY(boxes.boxes.empty());

    // The same walk one file at a time gives the same events in the same order.
    fs.askAhead = !ahead;
    Recorder again(drives.host(u"D:\\T"_s));
    VerifyCopy(u"F:\\S"_s, u"D:\\T"_s, again);
    QCOMPARE(again.events, seen.events);

    // Made equal, it says so.
    QVERIFY(QDir(drives.host(u"D:\\T"_s)).removeRecursively());
    for (const QString& name :
         {u"same.txt"_s, u"flipped.bin"_s, u"empty"_s, u"sub/x.txt"_s, u"sub/deep/y.txt"_s,
          u"gone.txt"_s, u"new/n1.txt"_s, u"new/n2.txt"_s, u"linked.txt"_s, u"fifo.txt"_s})
        writeFile(dst + u'/' + name, readFile(src + u'/' + name));
    Recorder equal;
    QCOMPARE(int(VerifyCopy(u"F:\\S"_s, u"D:\\T"_s, equal).end), int(VerifyEnd::Equal));
    QCOMPARE(equal.events, QStringList());
    QCOMPARE(lastRecord(drives),
             u"Verificação: 10 arquivos iguais, 0 diferentes, 0 ausentes\tD:\\T\t 0 "_s);
}

// A copy whose sectors went bad after it was written reads back from the
// cache as it was written: the verification reads what the volume holds.
void TestVerify::readsTheDiskNotTheCache() {
    TempDrives drives;
    QTemporaryDir dir;
    const QString image = dir.filePath(u"disk.img"_s), point = dir.filePath(u"mnt"_s);
    QDir().mkpath(point);
    QFile file(image);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(8 << 20));
    file.close();
    QString why;
    if (!succeeds(u"mkfs.ext2"_s, {u"-q"_s, u"-F"_s, image}, &why))
        QSKIP(qPrintable(why));
    Mount mount(point, u"mount"_s, {u"-o"_s, u"loop"_s, image});
    if (!mount.mounted)
        QSKIP(qPrintable(u"no loop mount here: "_s + mount.error));
    std::vector<Drive> table = DriveTable::current().drives();
    table.push_back({QLatin1Char('E'), bytes(point), u"disk"_s, Volume::at(bytes(point))});
    DriveTable::install(DriveTable(table));

    const QByteArray data = QByteArray("pelivor-marker-") + randomBytes(64 * 1024, 3);
    writeFile(drives.host(u"F:\\S\\data.bin"_s), data, t0);
    writeFile(point + u"/S/data.bin"_s, data, t0);
    QVERIFY(succeeds(u"sync"_s, {u"-f"_s, point + u"/S/data.bin"_s}));
    // The bad sector: the data changed in the image, behind the volume's cache.
    QFile disk(image);
    QVERIFY(disk.open(QIODevice::ReadWrite));
    const qint64 at = disk.readAll().indexOf(data.left(4096));
    QVERIFY(at > 0);
    QVERIFY(disk.seek(at + 100) && disk.write("X", 1) == 1);
    QVERIFY(disk.flush() && ::fsync(disk.handle()) == 0); // a loop device may read it directly
    disk.close();
    QCOMPARE(readFile(point + u"/S/data.bin"_s), data); // the cache still says all is well

    Recorder seen(point);
    QCOMPARE(int(VerifyCopy(u"F:\\S"_s, u"E:\\"_s, seen).end), int(VerifyEnd::Unequal));
    QCOMPARE(seen.events, QStringList{u"different S/data.bin"_s});
}

// 76 when the destination is not there; 68 when the stick holding it is
// pulled out in the middle: its folders stay readable through the handles
// held, but the drive is gone. One record each, with the error.
void TestVerify::destinationMissingOrPulledOut() {
    TempDrives drives;
    BoxRecorder boxes;
    writeFile(drives.host(u"F:\\S\\a.txt"_s), "a", t0);
    writeFile(drives.host(u"F:\\S\\sub\\b.txt"_s), "b", t0);

    Recorder missing;
    VerifyOutcome outcome = VerifyCopy(u"F:\\S"_s, u"D:\\NAO"_s, missing);
    QCOMPARE(int(outcome.end), int(VerifyEnd::Failed));
    QCOMPARE(outcome.error.number, int(ErrPathNotFound));
    QCOMPARE(missing.events, QStringList{u"failed 76"_s});
    QCOMPARE(lastRecord(drives), u"Verificação: Erro: 76 - Caminho não encontrado\tD:\\NAO\t 76 "
                                 u"Caminho não encontrado"_s);

    Stick stick(u"PEN"_s);
    const QString point = drives.host(u"D:\\pen"_s);
    QDir().mkpath(point);
    if (!stick.plugIn(point))
        QSKIP(qPrintable(stick.error));
    std::vector<Drive> table = DriveTable::current().drives();
    table.push_back({QLatin1Char('E'), bytes(point), u"PEN"_s, Volume::at(bytes(point))});
    DriveTable::install(DriveTable(table));
    writeFile(point + u"/S/sub/b.txt"_s, "b", t0); // a.txt is missing
    Recorder pulled;
    pulled.onMissing = [&] { QVERIFY(stick.pullOut()); };
    outcome = VerifyCopy(u"F:\\S"_s, u"E:\\"_s, pulled);
    QCOMPARE(int(outcome.end), int(VerifyEnd::Failed));
    QCOMPARE(pulled.events, (QStringList{u"missing "_s + point + u"/S/a.txt"_s, u"failed 68"_s}));
    QVERIFY(lastRecord(drives).endsWith(u"\tE:\\\t 68 Dispositivo não disponível"_s));
    QVERIFY(boxes.boxes.empty());
}

// A stop request ends the run at the next file, with its record; another
// run of the program's folder keeps it out; a destination inside the
// source is refused. Neither of these two writes a record.
void TestVerify::stopLockAndRefusal() {
    TempDrives drives;
    BoxRecorder boxes;
    for (const QString& name : {u"a"_s, u"b"_s, u"c"_s, u"d"_s})
        writeFile(drives.host(u"F:\\S\\"_s + name), name.toLatin1(), t0);
    QDir().mkpath(drives.host(u"D:\\T"_s));

    Recorder stopped;
    stopped.onMissing = [] { StopFlag = 1; };
    VerifyOutcome outcome = VerifyCopy(u"F:\\S"_s, u"D:\\T"_s, stopped);
    QCOMPARE(int(outcome.end), int(VerifyEnd::Stopped));
    QCOMPARE(stopped.events.size(), 2);
    QCOMPARE(stopped.events.last(), u"stopped"_s);
    QCOMPARE(lastRecord(drives), u"Verificação interrompida.\tD:\\T\t 0 "_s);
    // The next run clears the request.
    Recorder after;
    QCOMPARE(VerifyCopy(u"F:\\S"_s, u"D:\\T"_s, after).counts.missing, 4);

    const int records = drives.logRecords();
    {
        const RunLock other = RunLock::take(bytes(drives.host(u"C:\\PROG"_s)));
        QCOMPARE(int(other.state()), int(RunLock::Held));
        Recorder busy;
        QCOMPARE(int(VerifyCopy(u"F:\\S"_s, u"D:\\T"_s, busy).end), int(VerifyEnd::Busy));
        QCOMPARE(busy.events, QStringList());
        QCOMPARE(boxes.boxes.size(), size_t(1));
        QVERIFY(boxes.boxes[0].prompt.startsWith(u"Já há uma cópia desta pasta em andamento."_s));
    }
    Recorder inside;
    QCOMPARE(int(VerifyCopy(u"F:\\S"_s, u"F:\\S\\X"_s, inside).end), int(VerifyEnd::Refused));
    QVERIFY(
        boxes.boxes.back().prompt.startsWith(u"O Destino dos Arquivos está dentro da Origem"_s));
    QCOMPARE(drives.logRecords(), records);
}

QTEST_GUILESS_MAIN(TestVerify)
#include "tst_verify.moc"
