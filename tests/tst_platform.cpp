// The platform layer: error numbers, drive letters, listings, the safe copy
// and the regional formats.

#include "support/testsupport.h"

#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/progresswindow.h"
#include "platform/regional.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace platform;

namespace {

int32_t failureOf(const std::function<void()>& step) {
    clearError();
    return resumeNext(step) ? 0 : Err().number;
}

QStringList names(const std::vector<DirEntry>& entries) {
    QStringList out;
    for (const DirEntry& e : entries)
        out << QString::fromStdString(e.name) + (e.directory ? u"/"_s : QString());
    out.sort();
    return out;
}

} // namespace

class TestPlatform : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void hostErrors() {
        // Every host error the table knows, by the number the program shows; a
        // missing entry alone depends on whether a file or a path was sought.
        const struct {
            int err;
            int32_t asFile, asPath;
        } rows[] = {
            {ENOENT, 53, 76},    {ENOTDIR, 76, 76},      {EACCES, 70, 70},
            {EPERM, 70, 70},     {EROFS, 70, 70},        {EBUSY, 70, 70},
            {ETXTBSY, 70, 70},   {ENOSPC, 61, 61},       {EDQUOT, 61, 61},
            {EIO, 57, 57},       {EREMOTEIO, 57, 57},    {ENXIO, 68, 68},
            {ENODEV, 68, 68},    {ESTALE, 68, 68},       {ENOTCONN, 68, 68},
            {EHOSTDOWN, 68, 68}, {EHOSTUNREACH, 68, 68}, {ETIMEDOUT, 68, 68},
            {ENOMEDIUM, 71, 71}, {EINVAL, 52, 52},       {EILSEQ, 52, 52},
            {EBADF, 52, 52},     {ENAMETOOLONG, 75, 75}, {EISDIR, 75, 75},
            {EEXIST, 75, 75},    {ENOTEMPTY, 75, 75},    {ELOOP, 75, 75},
            {EFBIG, 75, 75},     {EXDEV, 75, 75},        {EMFILE, 75, 75},
            {ENFILE, 75, 75},    {E2BIG, 75, 75}, // any other
        };
        QStringList actual, expected;
        for (const auto& [err, asFile, asPath] : rows) {
            const QString name = QString::fromLocal8Bit(std::strerror(err)) + u": "_s;
            actual << name + u"%1 %2"_s.arg(errorFromErrno(err, Missing::File))
                                 .arg(errorFromErrno(err, Missing::Path));
            expected << name + u"%1 %2"_s.arg(asFile).arg(asPath);
        }
        QCOMPARE(actual, expected);
        QCOMPARE(errorFromErrno(ENOENT), 76); // a path, unless the caller says otherwise
        QCOMPARE(failureOf([] { raiseErrno(EDQUOT); }), 61);
        QCOMPARE(Err().description, u"Disco cheio"_s);
    }

    void driveTableFromMounts() {
        const DriveTable table = DriveTable::fromMountInfo(
            "26 1 254:0 / / rw - ext4 /dev/vda rw\n"
            "21 26 0:20 / /proc rw - proc proc rw\n"
            "30 26 0:27 / /usr rw - nfs4 server:/export rw\n"
            "31 26 0:28 / /tmp rw shared:1 - ext4 /dev/sdb1 rw\n"
            "32 26 0:29 / /etc/hostname rw - ext4 /dev/vda rw\n"
            "33 26 0:30 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n"
            "34 26 0:31 / /var rw - squashfs /dev/loop3 ro\n");
        QCOMPARE(table.drives().size(), size_t(3)); // C: /, D: /tmp, E: /usr, by mount point
        QCOMPARE(table.drives()[1].hostRoot, "/tmp");
        QCOMPARE(table.drives()[2].letter, u'E');
        QCOMPARE(table.toDrivePath("/tmp/a/b"), u"D:\\a\\b"_s);
        QCOMPARE(table.toDrivePath("/tmpfoo"), u"C:\\tmpfoo"_s);
        QCOMPARE(table.toDrivePath("/"), u"C:\\"_s);
        QCOMPARE(table.toDrivePath("/run/user/1000/gvfs/smb-share:server=s,share=x").left(2),
                 u"\\\\"_s);

        // A stick mounted on a folder whose name has a blank, which the table
        // writes as \040, keeps its letter and its real folder.
        QTemporaryDir media;
        const QByteArray stick = QFile::encodeName(media.path()) + "/USB Stick";
        QVERIFY(QDir().mkpath(QFile::decodeName(stick)));
        const DriveTable usb = DriveTable::fromMountInfo("26 1 254:0 / / rw - ext4 /dev/vda rw\n"
                                                         "40 26 8:17 / " +
                                                         QByteArray(stick).replace(" ", "\\040") +
                                                         " rw,nosuid - vfat /dev/sdz1 rw\n");
        QCOMPARE(usb.drives().size(), size_t(2));
        QCOMPARE(usb.drives()[1].hostRoot, stick.toStdString());
        QCOMPARE(usb.toDrivePath(stick.toStdString() + "/a b"), u"D:\\a b"_s);
    }

    void drivePaths() {
        TempDrives drives;
        QDir().mkpath(drives.host(u"D:\\Backup\\Dados"_s));
        const DriveTable& table = DriveTable::current();
        const auto host = [&](const QString& p) { return platform::hostBytes(drives.host(p)); };
        // Any case finds the one real name; what is missing stays as typed;
        // ".." never leaves the drive. An exact name wins over names that
        // differ only in case; several of those and no exact one are 76.
        QDir().mkpath(drives.host(u"D:\\Backup\\Twin"_s));
        QDir().mkpath(drives.host(u"D:\\Backup\\TWIN"_s));
        QCOMPARE(table.toHost(u"d:\\BACKUP\\\\dados\\"_s), host(u"D:\\Backup\\Dados"_s));
        QCOMPARE(table.toHost(u"D:\\BACKUP\\Novo"_s), host(u"D:\\Backup\\Novo"_s));
        QCOMPARE(table.toHost(u"D:\\..\\..\\Backup"_s), host(u"D:\\Backup"_s));
        QCOMPARE(table.toHost(u"D:\\Backup\\TWIN"_s), host(u"D:\\Backup\\TWIN"_s));
        QCOMPARE(failureOf([&] { table.toHost(u"D:\\Backup\\twin"_s); }), 76);
        // A name holding "\\" has no faithful drive text: it reads like a path
        // without a drive, which the start-up refuses.
        QCOMPARE(table.toDrivePath(host(u"D:\\Backup"_s) + "/x\\..\\ESC/a").left(1), u"\\"_s);
        QCOMPARE(table.toDrivePath(host(u"D:\\Backup\\Dados"_s)), u"D:\\Backup\\Dados"_s);
        QCOMPARE(table.toDrivePath(table.toHost(u"D:\\"_s)), u"D:\\"_s);
        QCOMPARE(failureOf([&] { table.toHost(u"Q:\\X"_s); }), 68);
        QCOMPARE(failureOf([&] { table.toHost(u"\\\\server\\share"_s); }), 76);
    }

    void listings() {
        TempDrives drives;
        const QString d = drives.host(u"D:\\L"_s);
        writeFile(d + u"/Plain.txt"_s, "x");
        writeFile(d + u"/.hidden"_s, "x");
        QDir().mkpath(d + u"/Sub"_s);
        QVERIFY(QFile::link(d + u"/Plain.txt"_s, d + u"/link.txt"_s));
        QVERIFY(QFile::link(d + u"/Sub"_s, d + u"/linkdir"_s));
        QCOMPARE(::mkfifo(QFile::encodeName(d + u"/fifo"_s).constData(), 0600), 0);

        FileSystem& fs = FileSystem::get();
        const Directory dir = fs.openDirectory(platform::hostBytes(d));
        QCOMPARE(names(fs.list(dir, u"*.*"_s, 0)), QStringList{u"Plain.txt"_s});
        QCOMPARE(names(fs.list(dir, {}, AttrDirectory)),
                 (QStringList{u"../"_s, u"./"_s, u"Plain.txt"_s, u"Sub/"_s}));
        QCOMPARE(names(fs.list(dir, u"SUB"_s, AttrDirectory)), QStringList{u"Sub/"_s});
        QCOMPARE(names(fs.list(dir, u"SUB"_s, 0)), QStringList{});
        QCOMPARE(names(fs.list(dir, u"p?AIN.*"_s, 0)), QStringList{u"Plain.txt"_s});
        QCOMPARE(failureOf([&] { fs.openDirectory(platform::hostBytes(d) + "/NOPE"); }), 76);

        // The probe: 53 for a missing file, 75 for anything not a regular file,
        // the folder's own error when the folder could not be opened.
        QCOMPARE(fs.probe(dir, "Plain.txt").length, 1);
        QCOMPARE(failureOf([&] { fs.probe(dir, "missing"); }), 53);
        QCOMPARE(failureOf([&] { fs.probe(dir, "fifo"); }), 75);
        // A file whose bits refuse reading is opened: the system's answer counts.
        QVERIFY(QFile::setPermissions(d + u"/Plain.txt"_s, {}));
        if (::geteuid() == 0)
            QCOMPARE(fs.probe(dir, "Plain.txt").length, 1);
        else
            QCOMPARE(failureOf([&] { fs.probe(dir, "Plain.txt"); }), 70);
        QCOMPARE(failureOf([&] { fs.probe(fs.tryOpenDirectory("/nonexistent"), "x"); }), 76);

        // Folders made by name: one that exists already, made by another run
        // meanwhile, counts as made; a file or a link in its place is 75.
        fs.makeDirectory(dir, "Sub");
        QVERIFY(fs.openOrMakeDirectory(dir, "Sub").fd() >= 0);
        QVERIFY(fs.openOrMakeDirectory(dir, ".new").fd() >= 0);
        QVERIFY(QFileInfo(d + u"/.new"_s).isDir());
        for (const char* inTheWay : {"Plain.txt", "linkdir"}) {
            QCOMPARE(failureOf([&] { fs.makeDirectory(dir, inTheWay); }), 75);
            QCOMPARE(failureOf([&] { fs.openOrMakeDirectory(dir, inTheWay); }), 75);
        }
    }

    void patterns() {
        // As on the command line: any case, "*" also for nothing, and a name
        // without extension matches "NAME.*" and "*.*".
        const struct {
            QString name, pattern;
            bool matches;
        } rows[] = {
            {u"Plain"_s, u"Plain*"_s, true},      {u"Plain"_s, u"Plain**"_s, true},
            {u"Plain.txt"_s, u"Plain*"_s, true},  {u"Plai"_s, u"Plain*"_s, false},
            {u"Plain"_s, u"P*"_s, true},          {u"Plain"_s, u"*"_s, true},
            {u"Plain"_s, u"*.*"_s, true},         {u"Plain.txt"_s, u"*.*"_s, true},
            {u"Plain"_s, u"P*.*"_s, true},        {u"Plain.txt"_s, u"p*.*"_s, true},
            {u"Plain.txt"_s, u"Q*.*"_s, false},   {u"VENDAS"_s, u"vendas.*"_s, true},
            {u"Plain.txt"_s, u"Plain.*"_s, true}, {u"Plainer"_s, u"Plain.*"_s, false},
            {u"Plain"_s, u"Plain"_s, true},       {u"Plainer"_s, u"Plain"_s, false},
            {u"Plain.txt"_s, u"*.TXT"_s, true},   {u"Plain"_s, u"*.txt"_s, false},
            {u"a.txt.bak"_s, u"*.txt"_s, false},  {u"a.txt.bak"_s, u"*.bak"_s, true},
            {u"Plain.txt"_s, u"*.t"_s, false},    {u"plain.TXT"_s, u"P?AIN.t*"_s, true},
            {u"Plain"_s, u"?????"_s, true},       {u"Plain"_s, u"????"_s, false},
        };
        QStringList actual, expected;
        for (const auto& [name, pattern, matches] : rows) {
            actual << name + u' ' + pattern +
                          (matchesPattern(name, pattern) ? u" yes"_s : u" no"_s);
            expected << name + u' ' + pattern + (matches ? u" yes"_s : u" no"_s);
        }
        QCOMPARE(actual, expected);
    }

    void safeCopy() {
        TempDrives drives;
        const QString from = drives.host(u"F:\\S"_s), to = drives.host(u"D:\\T"_s);
        QByteArray data(3 * 1024 * 1024 + 17, 'a');
        for (int i = 0; i < data.size(); i += 4096)
            data[i] = char(i / 4096);
        const QDateTime when(QDate(2019, 5, 6), QTime(7, 8, 9));
        writeFile(from + u"/big.dat"_s, data, when);
        QVERIFY(QFile::setPermissions(from + u"/big.dat"_s,
                                      QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup));
        writeFile(to + u"/big.dat"_s, "old contents", when.addDays(-1));

        FaultyFileSystem fs;
        const Directory sd = fs.openDirectory(platform::hostBytes(from));
        const Directory dd = fs.openDirectory(platform::hostBytes(to));
        const auto unchanged = [&] { return tree(to) == QStringList{u"big.dat=old contents"_s}; };

        // Failed, cancelled, or ended with the program: the old copy stays, no temporary file.
        fs.failTransferWith = ENOSPC;
        fs.failAfter = 5000;
        QCOMPARE(failureOf([&] { fs.copyFile(sd, "big.dat", dd, "big.dat", {}); }), 61);
        QVERIFY(unchanged());
        fs.failTransferWith = 0;
        QVERIFY(!fs.copyFile(sd, "big.dat", dd, "big.dat",
                             [](int64_t done, int64_t) { return done == 0; }));
        QVERIFY(unchanged());
        const pid_t child = ::fork();
        if (child == 0) {
            fs.copyFile(sd, "big.dat", dd, "big.dat",
                        [](int64_t, int64_t) -> bool { endProgram(); });
            std::_Exit(3);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        QVERIFY(unchanged());
        QCOMPARE(failureOf([&] { fs.copyFile(sd, "gone.dat", dd, "gone.dat", {}); }), 53);
        QVERIFY(unchanged());
        // The time goes on before the rename: a copy that cannot be stamped
        // never replaces the old one.
        fs.failTimesWith = EIO;
        QCOMPARE(failureOf([&] { fs.copyFile(sd, "big.dat", dd, "big.dat", {}); }), 57);
        QVERIFY(unchanged());
        fs.failTimesWith = 0;
        // A source rewritten in place under its copy is read again, up to
        // three more times; one that never holds still is not copied at all.
        // Each write stamps its own time, as the clock's ticks may not.
        const auto rewrite = [&](int times, char mark) {
            return [&, times, mark, n = 0]() mutable {
                if (n++ >= times)
                    return;
                QFile f(from + u"/big.dat"_s);
                QVERIFY(f.open(QIODevice::ReadWrite) && f.seek(n * 7) && f.putChar(mark));
                QVERIFY(f.setFileTime(when.addSecs(n), QFileDevice::FileModificationTime));
            };
        };
        fs.duringTransfer = rewrite(1000, 'X');
        QCOMPARE(failureOf([&] { fs.copyFile(sd, "big.dat", dd, "big.dat", {}); }), 75);
        QVERIFY(unchanged());
        data = readFile(from + u"/big.dat"_s);
        fs.duringTransfer = rewrite(3, 'Y');
        QCOMPARE(failureOf([&] { fs.copyFile(sd, "big.dat", dd, "big.dat", {}); }), 0);
        fs.duringTransfer = {};
        QCOMPARE(readFile(to + u"/big.dat"_s), readFile(from + u"/big.dat"_s));
        QVERIFY(readFile(to + u"/big.dat"_s) != data);
        writeFile(to + u"/big.dat"_s, "old contents", when.addDays(-1));
        data = readFile(from + u"/big.dat"_s);
        writeFile(from + u"/big.dat"_s, data, when);

        // A complete copy: data, time and permission bits, in steps when watched.
        int steps = 0;
        QVERIFY(
            fs.copyFile(sd, "big.dat", dd, "big.dat", [&](int64_t, int64_t) { return ++steps; }));
        QVERIFY(steps >= 2);
        QCOMPARE(readFile(to + u"/big.dat"_s), data);
        QCOMPARE(QFileInfo(to + u"/big.dat"_s).lastModified(), when);
        QCOMPARE(QFile::permissions(to + u"/big.dat"_s), QFile::permissions(from + u"/big.dat"_s));
        QCOMPARE(tree(to), QStringList{u"big.dat=<3145745>"_s});
    }

    void eventPump() {
        int dispatched = 0;
        const auto post = [&] { QTimer::singleShot(0, [&] { ++dispatched; }); };
        post();
        pumpEvents();
        QCOMPARE(dispatched, 1);
        // A loop's pump lets events through once the last dispatch is 2 ms old,
        // on a clock of the kernel's tick (10 ms at the coarsest)...
        post();
        QTest::qSleep(15);
        pumpEventsIfDue();
        QCOMPARE(dispatched, 2);
        // ...and a loop that pumps all the time never starves them.
        post();
        for (int i = 0; dispatched < 3 && i < 100000000; ++i)
            pumpEventsIfDue();
        QCOMPARE(dispatched, 3);
    }

    void regionalFormats() {
        // The tests run under a C locale, which falls back to Brazilian Portuguese.
        const QDateTime evening(QDate(2026, 12, 6), QTime(20, 18, 30));
        // "General Date" leaves out the time of midnight alone, to the second.
        for (const auto& [time, text] : {std::pair{QTime(20, 18, 30), u"06/12/2026 20:18:30"_s},
                                         std::pair{QTime(0, 0), u"06/12/2026"_s},
                                         std::pair{QTime(0, 0, 0, 500), u"06/12/2026"_s},
                                         std::pair{QTime(0, 30), u"06/12/2026 00:30:00"_s},
                                         std::pair{QTime(0, 0, 1), u"06/12/2026 00:00:01"_s}})
            QCOMPARE(generalDate(QDateTime(QDate(2026, 12, 6), time)), text);
        QCOMPARE(formatNumber(1234567.5), u"1.234.567,50"_s);
        QCOMPARE(formatNumber(0.004), u"0,00"_s);

        // Every locale: thousands grouped, the time of day with no zone nor
        // what stood around it.
        const QList<QLocale> locales = QLocale::matchingLocales(
            QLocale::AnyLanguage, QLocale::AnyScript, QLocale::AnyTerritory);
        for (const QLocale& each : locales) {
            QLocale::setDefault(each);
            const QLocale locale = regionalLocale(); // C stands for Brazilian Portuguese
            const QString name = locale.name();
            QLocale plain = locale;
            plain.setNumberOptions(QLocale::OmitGroupSeparator);
            for (const auto& [value, groups] : {std::pair{999.5, 0}, {1234.5, 1}, {1234567.5, 2}}) {
                const QString text = formatNumber(value);
                QVERIFY2(text.count(locale.groupSeparator()) == groups,
                         qPrintable(name + u' ' + text));
                QCOMPARE(QString(text).remove(locale.groupSeparator()),
                         plain.toString(value, 'f', 2));
            }
            const QString time = timeText(evening);
            QVERIFY2(time == time.trimmed() && !time.contains(u"  "_s) &&
                         !time.contains(QRegularExpression(u"[()\\[\\],]"_s)) &&
                         time.contains(locale.toString(30)),
                     qPrintable(name + u": \""_s + time + u'"'));
        }
        QLocale::setDefault(QLocale(u"ca_ES"_s));
        QCOMPARE(timeText(evening), u"20:18:30"_s);
        QLocale::setDefault(QLocale(u"es_ES"_s));
        QCOMPARE(formatNumber(1234.5), u"1.234,50"_s);
        QLocale::setDefault(QLocale::system());
        QCOMPARE(formatNumber(1234.5), u"1.234,50"_s);
    }

    void drivesComeAndGo() {
        // Sticks on folders of the real host, seen through its own mount table.
        QTemporaryDir dir;
        const QString a = dir.filePath(u"a"_s), b = dir.filePath(u"b"_s);
        QVERIFY(QDir().mkpath(a) && QDir().mkpath(b));
        Stick one(u"UM"_s), two(u"DOIS"_s);
        if (!one.plugIn(a))
            QSKIP(qPrintable(u"a loop volume cannot be mounted here: "_s + one.error));
        DriveTable::reset();
        const auto letterOf = [](const QString& folder) {
            for (const Drive& d : DriveTable::current().drives())
                if (d.hostRoot == platform::hostBytes(folder))
                    return d.letter;
            return QChar(u'?');
        };
        const auto onDrive = [](QChar letter) {
            return failureOf([&] { DriveTable::current().toHost(QString(letter) + u":\\X"_s); });
        };
        const QChar first = letterOf(a);
        QVERIFY(first != u'?');
        QCOMPARE(onDrive(first), 0);

        // A second stick takes a letter of its own; the first keeps its.
        QVERIFY(two.plugIn(b));
        DriveTable::refresh();
        const QChar second = letterOf(b);
        QVERIFY(second != u'?' && second != first);
        QCOMPARE(letterOf(a), first);

        // Pulled out: its folder is a plain folder of C: again. The letter
        // fails with 68 at once, before the table is read again, and after.
        QVERIFY(one.pullOut());
        QCOMPARE(onDrive(first), 68);
        DriveTable::refresh();
        QCOMPARE(letterOf(a), u'?');
        QCOMPARE(onDrive(first), 68);
        QCOMPARE(letterOf(b), second);

        // Another stick in the first one's folder is another drive; the
        // first stick, back in its folder, gets its own letter back.
        QVERIFY(two.pullOut() && two.plugIn(a));
        DriveTable::refresh();
        const QChar third = letterOf(a);
        QVERIFY(third != u'?' && third != first && third != second);
        QVERIFY(two.pullOut() && one.plugIn(a));
        DriveTable::refresh();
        QCOMPARE(letterOf(a), first);
        QCOMPARE(onDrive(first), 0);
        QCOMPARE(onDrive(third), 68);
        DriveTable::reset();
    }
};

QTEST_GUILESS_MAIN(TestPlatform)
#include "platform/names.h"
#include "tst_platform.moc"
