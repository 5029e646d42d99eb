// The platform layer: error numbers, drive letters, listings, the safe copy,
// the text-file append and the regional formats.

#include "support/testsupport.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/regional.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <cerrno>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

class TestPlatform : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void hostErrorsMapOntoProgramNumbers();
    void raisingRecordsAndResumeNextKeepsGoing();
    void driveTableFromMounts();
    void drivePathsAndHostPaths();
    void listingSkipsHiddenAndSystemEntries();
    void patterns();
    void probeAndAttributes();
    void safeCopyPlacesCompleteFiles();
    void failedOrCancelledCopyKeepsOldDestination();
    void appendWritesHeaderOnlyToEmptyFile();
    void regionalFormats();
};

void TestPlatform::hostErrorsMapOntoProgramNumbers() {
    const struct {
        int err;
        Missing missing;
        int32_t number;
    } rows[] = {
        {ENOENT, Missing::File, 53},       {ENOENT, Missing::Path, 76},
        {ENOTDIR, Missing::File, 76},      {EACCES, Missing::File, 70},
        {EPERM, Missing::File, 70},        {EROFS, Missing::File, 70},
        {EBUSY, Missing::File, 70},        {ETXTBSY, Missing::File, 70},
        {ENOSPC, Missing::File, 61},       {EDQUOT, Missing::File, 61},
        {EIO, Missing::File, 57},          {ENXIO, Missing::File, 68},
        {ENODEV, Missing::File, 68},       {ESTALE, Missing::File, 68},
        {ENOMEDIUM, Missing::File, 71},    {EISDIR, Missing::File, 75},
        {ENAMETOOLONG, Missing::File, 75}, {EEXIST, Missing::Path, 75},
        {EINVAL, Missing::File, 52},       {EFBIG, Missing::File, 75},
    };
    for (const auto& row : rows)
        QCOMPARE(errorFromErrno(row.err, row.missing), row.number);
    for (int32_t n : {5, 6, 9, 52, 53, 57, 61, 68, 70, 71, 75, 76})
        QVERIFY2(!describe(n).isEmpty() && describe(n) != describe(1234),
                 qPrintable(QString::number(n)));
    QCOMPARE(describe(61), QStringLiteral("Disco cheio"));
}

void TestPlatform::raisingRecordsAndResumeNextKeepsGoing() {
    clearError();
    bool after = false;
    QVERIFY(!resumeNext([] { raiseError(ErrDiskFull); }));
    after = true;
    QVERIFY(after);
    QCOMPARE(Err().number, 61);
    QCOMPARE(Err().description, describe(61));
    QVERIFY(resumeNext([] {}));
    QCOMPARE(Err().number, 61); // a normal return leaves it
    clearError();
    QCOMPARE(Err().number, 0);
    QVERIFY(Err().description.isEmpty());
}

void TestPlatform::driveTableFromMounts() {
    const QByteArray mountinfo =
        "26 1 254:0 / / rw - ext4 /dev/vda rw\n"
        "21 26 0:20 / /proc rw - proc proc rw\n"
        "23 26 0:6 / /dev rw - devtmpfs devtmpfs rw\n"
        "30 26 0:27 / /tmp rw shared:1 - ext4 /dev/sdb1 rw\n"
        "31 26 0:28 / /usr rw - nfs4 server:/export rw\n"
        "32 26 0:29 / /etc/hostname rw - ext4 /dev/vda rw\n"
        "33 26 0:30 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
        "34 26 0:31 / /var rw - squashfs /dev/loop3 ro\n";
    const DriveTable table = DriveTable::fromMountInfo(mountinfo);
    QCOMPARE(table.drives().size(), size_t(3));
    QCOMPARE(table.drives()[0].letter, QLatin1Char('C'));
    QCOMPARE(table.drives()[0].hostRoot, std::string("/"));
    QCOMPARE(table.drives()[1].hostRoot, std::string("/tmp"));
    QCOMPARE(table.drives()[1].letter, QLatin1Char('D'));
    QCOMPARE(table.drives()[2].hostRoot, std::string("/usr"));
    QCOMPARE(table.drives()[2].letter, QLatin1Char('E'));
    // Longest prefix wins; the network-browsing bridge has no letter.
    QCOMPARE(table.toDrivePath("/tmp/a/b"), QStringLiteral("D:\\a\\b"));
    QCOMPARE(table.toDrivePath("/tmpfoo"), QStringLiteral("C:\\tmpfoo"));
    QCOMPARE(table.toDrivePath("/"), QStringLiteral("C:\\"));
    QCOMPARE(table.toDrivePath("/run/user/1000/gvfs/smb-share:server=s,share=x/DADOS").left(1),
             QStringLiteral("\\"));
}

void TestPlatform::drivePathsAndHostPaths() {
    TempDrives drives;
    QDir().mkpath(drives.host(QStringLiteral("D:\\Backup\\Dados")));
    const DriveTable& table = DriveTable::current();
    const std::string real =
        QFile::encodeName(drives.host(QStringLiteral("D:\\Backup\\Dados"))).toStdString();
    // Any case finds the real names; missing parts are kept as typed.
    QCOMPARE(table.toHost(QStringLiteral("d:\\BACKUP\\dados")), real);
    QCOMPARE(table.toHost(QStringLiteral("D:\\Backup\\\\Dados\\")), real);
    QCOMPARE(table.toHost(QStringLiteral("D:\\BACKUP\\Novo")),
             QFile::encodeName(drives.host(QStringLiteral("D:\\Backup\\Novo"))).toStdString());
    // ".." never leaves the drive.
    QCOMPARE(table.toHost(QStringLiteral("D:\\..\\..\\Backup")),
             QFile::encodeName(drives.host(QStringLiteral("D:\\Backup"))).toStdString());
    QCOMPARE(table.toDrivePath(real), QStringLiteral("D:\\Backup\\Dados"));
    QCOMPARE(table.toDrivePath(table.toHost(QStringLiteral("D:\\"))), QStringLiteral("D:\\"));

    clearError();
    try {
        table.toHost(QStringLiteral("Q:\\X"));
        QFAIL("unknown drive accepted");
    } catch (const Failure& f) {
        QCOMPARE(f.number, 68);
    }
    try {
        table.toHost(QStringLiteral("\\\\server\\share"));
        QFAIL("path without a drive accepted");
    } catch (const Failure& f) {
        QCOMPARE(f.number, 76);
    }
}

void TestPlatform::listingSkipsHiddenAndSystemEntries() {
    TempDrives drives;
    const QString d = drives.host(QStringLiteral("D:\\L"));
    writeFile(d + QStringLiteral("/Plain.txt"), "x");
    writeFile(d + QStringLiteral("/.hidden"), "x");
    QDir().mkpath(d + QStringLiteral("/Sub"));
    QDir().mkpath(d + QStringLiteral("/.git"));
    QVERIFY(QFile::link(d + QStringLiteral("/Plain.txt"), d + QStringLiteral("/link.txt")));
    QVERIFY(QFile::link(d + QStringLiteral("/Sub"), d + QStringLiteral("/linkdir")));
    QCOMPARE(::mkfifo(QFile::encodeName(d + QStringLiteral("/fifo")).constData(), 0600), 0);

    const auto names = [](const std::vector<DirEntry>& entries) {
        QStringList out;
        for (const DirEntry& e : entries)
            out << QString::fromStdString(e.name) + (e.directory ? QStringLiteral("/") : QString());
        out.sort();
        return out;
    };
    QCOMPARE(names(listPath(QStringLiteral("D:\\L\\*.*"), 0)),
             QStringList{QStringLiteral("Plain.txt")});
    QCOMPARE(names(listPath(QStringLiteral("D:\\L\\"), AttrDirectory)),
             (QStringList{QStringLiteral("../"), QStringLiteral("./"), QStringLiteral("Plain.txt"),
                          QStringLiteral("Sub/")}));
    // A name without wildcards finds that one entry, whatever its case.
    QCOMPARE(names(listPath(QStringLiteral("D:\\L\\SUB"), AttrDirectory)),
             QStringList{QStringLiteral("Sub/")});
    QCOMPARE(names(listPath(QStringLiteral("D:\\L\\SUB"), 0)), QStringList{});
    QCOMPARE(names(listPath(QStringLiteral("D:\\L\\none"), AttrDirectory)), QStringList{});
    try {
        listPath(QStringLiteral("D:\\NOPE\\X"), AttrDirectory);
        QFAIL("listing of a missing folder");
    } catch (const Failure& f) {
        QCOMPARE(f.number, 76);
    }
}

void TestPlatform::patterns() {
    QVERIFY(matchesPattern(QStringLiteral("noext"), QStringLiteral("*.*")));
    QVERIFY(matchesPattern(QStringLiteral("a.TXT"), QStringLiteral("*.txt")));
    QVERIFY(!matchesPattern(QStringLiteral("a.txt.bak"), QStringLiteral("*.txt")));
    QVERIFY(matchesPattern(QStringLiteral("ABC"), QStringLiteral("a?c")));
    QVERIFY(!matchesPattern(QStringLiteral("AC"), QStringLiteral("a?c")));
    QVERIFY(matchesPattern(QStringLiteral("AÇÃO.dbf"), QStringLiteral("ação*")));
    QVERIFY(matchesPattern(QStringLiteral("VENDAS"), QStringLiteral("vendas.*")));
    QVERIFY(matchesPattern(QStringLiteral("x"), QString()));
}

void TestPlatform::probeAndAttributes() {
    TempDrives drives;
    writeFile(drives.host(QStringLiteral("D:\\P\\f.bin")), "12345",
              QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5)));
    FileSystem& fs = FileSystem::get();
    const Directory dir = fs.openDirectory(DriveTable::current().toHost(QStringLiteral("D:\\P")));
    const FileInfo info = fs.probe(dir, "f.bin");
    QCOMPARE(info.length, 5);
    QCOMPARE(info.modified, QDateTime(QDate(2020, 1, 2), QTime(3, 4, 5)).toSecsSinceEpoch());
    QCOMPARE(fs.attributes(dir, "f.bin").attributes, int(AttrNormal));
    clearError();
    QVERIFY(!resumeNext([&] { fs.probe(dir, "missing"); }));
    QCOMPARE(Err().number, 53);
    const Directory gone = fs.tryOpenDirectory("/nonexistent/dir");
    QVERIFY(!gone.isOpen());
    QCOMPARE(gone.error(), 76);
    QVERIFY(!resumeNext([&] { fs.probe(gone, "x"); }));
    QCOMPARE(Err().number, 76);
}

void TestPlatform::safeCopyPlacesCompleteFiles() {
    TempDrives drives;
    const QString from = drives.host(QStringLiteral("F:\\S"));
    const QString to = drives.host(QStringLiteral("D:\\T"));
    QDir().mkpath(to);
    QByteArray data(3 * 1024 * 1024 + 17, 'a');
    for (int i = 0; i < data.size(); i += 4096)
        data[i] = char(i / 4096);
    const QDateTime when(QDate(2019, 5, 6), QTime(7, 8, 9));
    writeFile(from + QStringLiteral("/big.dat"), data, when);
    QVERIFY(QFile::setPermissions(from + QStringLiteral("/big.dat"),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
    writeFile(to + QStringLiteral("/big.dat"), "old", when.addDays(-1));

    FileSystem& fs = FileSystem::get();
    const Directory sd = fs.openDirectory(QFile::encodeName(from).toStdString());
    const Directory dd = fs.openDirectory(QFile::encodeName(to).toStdString());
    int calls = 0;
    QVERIFY(fs.copyFile(sd, "big.dat", dd, "big.dat", [&](int64_t done, int64_t total) {
        ++calls;
        return done <= total;
    }));
    QVERIFY(calls >= 2);
    QCOMPARE(readFile(to + QStringLiteral("/big.dat")), data);
    QCOMPARE(modifiedOf(to + QStringLiteral("/big.dat")), when);
    QCOMPARE(QFile::permissions(to + QStringLiteral("/big.dat")),
             QFile::permissions(from + QStringLiteral("/big.dat")));
    QCOMPARE(entriesOf(to), QStringList{QStringLiteral("big.dat")});
}

void TestPlatform::failedOrCancelledCopyKeepsOldDestination() {
    TempDrives drives;
    const QString from = drives.host(QStringLiteral("F:\\S"));
    const QString to = drives.host(QStringLiteral("D:\\T"));
    writeFile(from + QStringLiteral("/a.dat"), QByteArray(100000, 'n'));
    writeFile(to + QStringLiteral("/a.dat"), "old contents");
    FaultyFileSystem faulty;
    const Directory sd = faulty.openDirectory(QFile::encodeName(from).toStdString());
    const Directory dd = faulty.openDirectory(QFile::encodeName(to).toStdString());

    faulty.failTransferWith = ENOSPC;
    faulty.failAfter = 5000;
    clearError();
    QVERIFY(!resumeNext([&] { faulty.copyFile(sd, "a.dat", dd, "a.dat", {}); }));
    QCOMPARE(Err().number, 61);
    QCOMPARE(readFile(to + QStringLiteral("/a.dat")), QByteArray("old contents"));
    QCOMPARE(entriesOf(to), QStringList{QStringLiteral("a.dat")});

    faulty.failTransferWith = 0;
    QVERIFY(!faulty.copyFile(sd, "a.dat", dd, "a.dat",
                             [](int64_t done, int64_t) { return done == 0; }));
    QCOMPARE(readFile(to + QStringLiteral("/a.dat")), QByteArray("old contents"));
    QCOMPARE(entriesOf(to), QStringList{QStringLiteral("a.dat")});

    // The program ended in the middle of a copy: no temporary file is left.
    const pid_t child = ::fork();
    if (child == 0) {
        faulty.copyFile(sd, "a.dat", dd, "a.dat", [](int64_t, int64_t) -> bool { endProgram(); });
        std::_Exit(3);
    }
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    QCOMPARE(readFile(to + QStringLiteral("/a.dat")), QByteArray("old contents"));
    QCOMPARE(entriesOf(to), QStringList{QStringLiteral("a.dat")});

    // A source that vanished is "file not found" and leaves nothing behind.
    QVERIFY(!resumeNext([&] { faulty.copyFile(sd, "gone.dat", dd, "gone.dat", {}); }));
    QCOMPARE(Err().number, 53);
    QCOMPARE(entriesOf(to), QStringList{QStringLiteral("a.dat")});
}

void TestPlatform::appendWritesHeaderOnlyToEmptyFile() {
    TempDrives drives;
    const QString path = drives.host(QStringLiteral("C:\\PROG\\t.txt"));
    const std::string host = QFile::encodeName(path).toStdString();
    FileSystem::get().appendText(host, "H\r\n", "one\r\n");
    FileSystem::get().appendText(host, "H\r\n", "two\r\n");
    QCOMPARE(readFile(path), QByteArray("H\r\none\r\ntwo\r\n"));
    writeFile(path, QByteArray());
    FileSystem::get().appendText(host, "H\r\n", "three\r\n");
    QCOMPARE(readFile(path), QByteArray("H\r\nthree\r\n"));
}

void TestPlatform::regionalFormats() {
    // The tests run under a C locale, which falls back to Brazilian Portuguese.
    const QDateTime evening(QDate(2026, 12, 6), QTime(20, 18, 30));
    QCOMPARE(dateText(evening), QStringLiteral("06/12/2026"));
    QCOMPARE(timeText(evening), QStringLiteral("20:18:30"));
    QCOMPARE(generalDate(evening), QStringLiteral("06/12/2026 20:18:30"));
    QCOMPARE(generalDate(QDateTime(QDate(2026, 12, 6), QTime(0, 0))), QStringLiteral("06/12/2026"));
    QCOMPARE(formatNumber(0.0), QStringLiteral("0,00"));
    QCOMPARE(formatNumber(1234567.5), QStringLiteral("1.234.567,50"));
    QCOMPARE(formatNumber(1.5), QStringLiteral("1,50"));
    QCOMPARE(toSystemEncoding(QStringLiteral("Cópia")), QByteArray("C\xc3\xb3pia"));
}

QTEST_MAIN(TestPlatform)
#include "tst_platform.moc"
