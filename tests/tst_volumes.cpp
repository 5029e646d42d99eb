// Volumes of every kind under a run: FAT, a mount below the destination, a
// share asked ahead, paths past the system's limit, odd names and sizes,
// sparse files, real free space; mounted by the tests themselves.

#include "support/testsupport.h"
#include "support/volumes.h"

#include "engine/copycommand.h"
#include "engine/copytree.h"
#include "platform/diskspace.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/progresswindow.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSysInfo>
#include <QTest>
#include <QThread>
#include <atomic>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

using namespace TRAVO1;
using namespace platform;
namespace fs = std::filesystem;

namespace {

const QDateTime t0(QDate(2024, 3, 1), QTime(10, 0, 0));

// The data of a sparse file, by offset; the holes between read as zeros.
std::vector<std::pair<off_t, std::string>> segments(const std::string& path) {
    std::vector<std::pair<off_t, std::string>> out;
    const int f = ::open(path.c_str(), O_RDONLY);
    for (off_t at = 0; (at = ::lseek(f, at, SEEK_DATA)) >= 0;) {
        const off_t end = ::lseek(f, at, SEEK_HOLE);
        std::string bytes(size_t(end - at), '\0');
        if (::pread(f, bytes.data(), bytes.size(), at) != ssize_t(bytes.size()))
            break;
        out.emplace_back(at, std::move(bytes));
        at = end;
    }
    ::close(f);
    return out;
}

// A folder chain too deep for any path, made and read through handles.
constexpr int deepLevels = 18;
std::string deepName(int level) {
    return std::to_string(level) + std::string(250, 'p');
}
bool makeDeep(const std::string& top) {
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; i < deepLevels && fd >= 0; ++i) {
        const std::string data = std::to_string(i);
        const int f = ::openat(fd, "f", O_WRONLY | O_CREAT, 0644);
        const bool written = f >= 0 && ::write(f, data.data(), data.size()) == ssize_t(data.size());
        ::close(f);
        const int next = written && ::mkdirat(fd, deepName(i).c_str(), 0755) == 0
                             ? ::openat(fd, deepName(i).c_str(), O_RDONLY | O_DIRECTORY)
                             : -1;
        ::close(fd);
        fd = next;
    }
    return fd >= 0 && ::close(fd) == 0;
}
// The contents of "f" at each level, as far as the chain goes.
QStringList readDeep(const std::string& top) {
    QStringList found;
    int fd = ::open(top.c_str(), O_RDONLY | O_DIRECTORY);
    for (int i = 0; fd >= 0; ++i) {
        char data[16] = {};
        const int f = ::openat(fd, "f", O_RDONLY);
        if (f < 0 || ::read(f, data, sizeof data - 1) < 0)
            break;
        ::close(f);
        found << QString::fromLatin1(data);
        const int next = ::openat(fd, deepName(i).c_str(), O_RDONLY | O_DIRECTORY);
        ::close(fd);
        fd = next;
    }
    ::close(fd);
    return found;
}
// Removes what no path can reach, bottom up.
void removeDeep(int parent, const char* name) {
    const int fd = ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
    if (fd < 0) {
        ::unlinkat(parent, name, 0);
        return;
    }
    DIR* d = ::fdopendir(::dup(fd));
    while (dirent* e = d ? ::readdir(d) : nullptr)
        if (std::strcmp(e->d_name, ".") && std::strcmp(e->d_name, ".."))
            removeDeep(fd, e->d_name);
    if (d)
        ::closedir(d);
    ::close(fd);
    ::unlinkat(parent, name, AT_REMOVEDIR);
}

// Counts the copies the tree copy asks for, and the probes asked ahead.
struct CountingFileSystem : FileSystem {
    std::atomic<int> copies = 0, probesAhead = 0;
    CountingFileSystem() { install(this); }
    ~CountingFileSystem() override { install(nullptr); }
    FileInfo probe(const Directory& dir, const std::string& name) override {
        if (QThread::currentThread() != QCoreApplication::instance()->thread())
            ++probesAhead;
        return FileSystem::probe(dir, name);
    }
    std::optional<PreparedCopy> prepareCopy(const Directory& fromDir, const std::string& from,
                                            const Directory& toDir, const Progress& progress,
                                            const Directory* staging) override {
        ++copies;
        return FileSystem::prepareCopy(fromDir, from, toDir, progress, staging);
    }
};

int16_t copyTree(RecordingWindow& w, QString source = u"F:\\S"_s, QString dest = u"D:\\T"_s) {
    return CopyTree(w, source, dest, 1, u"*.*"_s);
}

} // namespace

class TestVolumes : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void fatDestination() {
        TempDrives drives;
        QTemporaryDir images;
        const QString image = images.filePath(u"fat.img"_s), d = drives.host(u"D:"_s);
        QString why;
        auto fat = freshFat(d, image, why);
        if (!fat)
            QSKIP(qPrintable(why));
        QVERIFY(QDir().mkpath(drives.host(u"D:\\T"_s)));
        for (int i = 0; i < 6; ++i)
            writeFile(drives.host(u"F:\\S\\%1\\f%2.txt"_s.arg(i % 2 ? u"Sub"_s : u"."_s).arg(i)),
                      QByteArray::number(i), t0.addSecs(i)); // odd and even seconds
        CountingFileSystem counting;
        RecordingWindow w;
        QCOMPARE(copyTree(w), True);
        QCOMPARE(counting.copies.load(), 6);
        // A FUSE volume, as a share, has its questions asked ahead; of the
        // folder the run made, none is asked.
        QCOMPARE(counting.probesAhead.load(), 3);
        const QStringList copied = tree(drives.host(u"D:\\T"_s));
        QCOMPARE(copied, tree(drives.host(u"F:\\S"_s)));

        // Unchanged, after a fresh mount: nothing is copied again.
        fat.reset();
        fat = mountFat(d, image);
        QVERIFY(fat->mounted);
        QCOMPARE(copyTree(w), True);
        QCOMPARE(counting.copies.load(), 6);
        // A real change, two seconds later, is still seen.
        writeFile(drives.host(u"F:\\S\\f2.txt"_s), "changed", t0.addSecs(4));
        QCOMPARE(copyTree(w), True);
        QCOMPARE(counting.copies.load(), 7);
        QCOMPARE(readFile(drives.host(u"D:\\T\\f2.txt"_s)), "changed");

        // Names FAT cannot keep apart, or cannot hold: of two that differ only
        // in case the first listed arrives and is not copied over; the second
        // and the refused name are reported, and the run is not complete.
        for (const char* f : {"Caixa\\x.txt", "CAIXA\\y.txt", "n.txt", "N.TXT", "a:b.txt"})
            writeFile(drives.host(u"F:\\N\\"_s + QLatin1String(f)), f, t0);
        FileSystem& host = FileSystem::get();
        QStringList listed;
        for (const DirEntry& e :
             host.list(host.openDirectory(bytes(drives.host(u"F:\\N"_s))), u"*.*"_s, AttrDirectory))
            listed << QString::fromStdString(e.name);
        const auto first = [&](const QString& a, const QString& b) {
            return listed.indexOf(a) < listed.indexOf(b) ? a : b;
        };
        CommandRun run(u"D:\\T"_s);
        run.w.from = u"F:\\N"_s;
        copyCommand(run.w);
        QCOMPARE(run.boxes.boxes.size(), size_t(1));
        QVERIFY(run.w.lblCopyInfo().startsWith(u"Erro na execução da cópia. "_s));
        const QString folder = first(u"Caixa"_s, u"CAIXA"_s), name = first(u"n.txt"_s, u"N.TXT"_s);
        QStringList arrived = tree(drives.host(u"D:\\T\\N"_s));
        arrived.replaceInStrings(QRegularExpression(u"^[cC][aA][iI][xX][aA]/"_s), u"caixa/"_s);
        QCOMPARE(arrived.filter(u"="_s).size(), 2);
        QVERIFY(arrived.contains(u"caixa/"_s + (folder == u"Caixa"_s ? u"x.txt=Caixa\\x.txt"_s
                                                                     : u"y.txt=CAIXA\\y.txt"_s)));
        QVERIFY(arrived
                    .filter(QRegularExpression(u"^n\\.txt="_s,
                                               QRegularExpression::CaseInsensitiveOption))
                    .first()
                    .endsWith(u'=' + name));

        // Files with holes, one ending in a hole: FAT through FUSE will not
        // set a file's length past its data, so the last zero is written.
        const QString holes = drives.host(u"F:\\H"_s);
        QVERIFY(QDir().mkpath(holes));
        for (const auto& [file, tail] : {std::pair("data.bin", "end"), std::pair("hole.bin", "")}) {
            QFile f(holes + u'/' + QLatin1String(file));
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("start") == 5 && f.seek(3 << 20) &&
                    f.write("middle") == 6 && f.seek(6 << 20) && f.write(tail) >= 0 &&
                    f.resize(std::max<qint64>(f.size(), 6 << 20)));
        }
        CommandRun sparse(u"D:\\T"_s);
        sparse.w.from = u"F:\\H"_s;
        QCOMPARE(int(copyCommand(sparse.w).end), int(RunEnd::Completed));
        for (const char* file : {"data.bin", "hole.bin"})
            QCOMPARE(readFile(drives.host(u"D:\\T\\H\\"_s + QLatin1String(file))),
                     readFile(holes + u'/' + QLatin1String(file)));
    }

    // A folder learns its volume from its parent's, but not across a mount;
    // nor does the pool prepare a copy in a staging folder across one.
    void volumeBelowAMount() {
        TempDrives drives;
        QTemporaryDir images;
        const QString point = drives.host(u"D:\\T\\Stick"_s);
        QVERIFY(QDir().mkpath(point));
        QString why;
        auto fat = freshFat(point, images.filePath(u"fat.img"_s), why);
        if (!fat)
            QSKIP(qPrintable(why));
        QVERIFY(QDir().mkpath(point + u"/Inner"_s));
        FileSystem& fs = FileSystem::get();
        const Directory local = fs.openDirectory(platform::hostBytes(drives.host(u"D:\\T"_s)));
        QVERIFY(!local.keepsCoarseTimes() && !local.ignoresCase());
        const Directory stick = fs.openDirectory(local, "Stick");
        QVERIFY(stick.keepsCoarseTimes() && stick.ignoresCase());
        const Directory inner = fs.openDirectory(stick, "Inner");
        QVERIFY(inner.keepsCoarseTimes() && inner.ignoresCase());

        // New folders on the top's volume and on the stick, asked ahead.
        writeFile(drives.host(u"F:\\S\\New\\a.txt"_s), "a", t0);
        writeFile(drives.host(u"F:\\S\\Stick\\New\\b.txt"_s), "b", t0);
        FaultyFileSystem faulty;
        faulty.askAhead = true;
        RecordingWindow w;
        QCOMPARE(copyTree(w), True);
        QCOMPARE(Err().number, 0);
        QCOMPARE(tree(drives.host(u"D:\\T"_s)),
                 (QStringList{u"New/"_s, u"New/a.txt=a"_s, u"Stick/"_s, u"Stick/Inner/"_s,
                              u"Stick/New/"_s, u"Stick/New/b.txt=b"_s}));
    }

    // The pool that asks ahead on shares changes nothing but the wait: the
    // same tree, texts, log and outcome, with a copy refused and one failing
    // in the middle of a folder of more files than it asks ahead, and with a
    // stop request there; and the subfolders' destinations opened ahead,
    // missing, there, and one refused, which ends the level.
    void askingAheadChangesNothingButTheWait() {
        const QRegularExpression realTime(u"\\d\\d:\\d\\d:\\d\\d"_s); // of the real clock
        const auto runOnce = [&](bool ahead, const QString& stopAt) {
            TempDrives drives;
            FakeClock clock;
            FaultyFileSystem fs;
            fs.askAhead = ahead;
            fs.probeFails["f040.txt"] = EACCES;
            fs.copyFails["f100.txt"] = EIO;
            for (int i = 0; i < 150; ++i) {
                const QString name = u"f%1.txt"_s.arg(i, 3, 10, QLatin1Char('0'));
                writeFile(drives.host(u"F:\\S\\"_s + name), "new", t0);
                if (i < 100) // up to date, then older
                    writeFile(drives.host(u"D:\\T\\S\\"_s + name), "old",
                              t0.addSecs(i < 50 ? 0 : -9));
                if (i % 10 == 0)
                    writeFile(drives.host(u"F:\\S\\Sub\\Deep\\"_s + name), "sub", t0);
            }
            for (const QString& folder : {u"Old"_s, u"Older"_s, u"Locked"_s, u"Last"_s}) {
                writeFile(drives.host(u"F:\\S\\%1\\f.txt"_s.arg(folder)), "fresh", t0);
                writeFile(drives.host(u"D:\\T\\S\\%1\\f.txt"_s.arg(folder)), "stale",
                          t0.addSecs(folder == u"Older"_s ? -9 : 0));
            }
            fs.openFails["T/S/Locked"] = EACCES;
            // A killed run's leftovers, a copy and a staging folder begun
            // long ago, removed beside the copies made ahead.
            const QString stale =
                u".pelivor-elsewhere-1-%1.0badf00%2.tmp"_s.arg(t0.toSecsSinceEpoch());
            writeFile(drives.host(u"D:\\T\\S\\"_s) + stale.arg(u'd'), "torn", t0);
            writeFile(drives.host(u"D:\\T\\S\\"_s) + stale.arg(u'e') + u'/' + stale.arg(u'f'),
                      "torn", t0);
            CommandRun run;
            run.w.onWrite = [&](const RecordingWindow::Write& write) {
                if (!stopAt.isEmpty() && write.value.endsWith(stopAt))
                    StopFlag = 1;
            };
            const RunResult outcome = copyCommand(run.w);
            QStringList writes;
            for (const RecordingWindow::Write& write : run.w.writes)
                writes
                    << QString(write.control + u'=' + write.value).replace(realTime, u"<hora>"_s);
            StopFlag = 0;
            return std::tuple{int(outcome.end),
                              outcome.error,
                              tree(drives.host(u"D:\\T"_s)),
                              writes,
                              QString::fromUtf8(drives.log()).replace(realTime, u"<hora>"_s),
                              run.box()};
        };
        for (const QString& stopAt : {QString(), u"\\f120.txt"_s}) {
            const auto alone = runOnce(false, stopAt), ahead = runOnce(true, stopAt);
            QCOMPARE(std::get<0>(ahead), std::get<0>(alone));
            QCOMPARE(std::get<1>(ahead), std::get<1>(alone));
            QCOMPARE(std::get<2>(ahead), std::get<2>(alone));
            QVERIFY(std::get<2>(ahead).filter(u".pelivor-"_s).isEmpty());
            QCOMPARE(std::get<3>(ahead), std::get<3>(alone));
            QCOMPARE(std::get<4>(ahead), std::get<4>(alone));
            QCOMPARE(std::get<5>(ahead), std::get<5>(alone));
            QCOMPARE(std::get<0>(alone), int(RunEnd::Reported)); // the failure outweighs the stop
            // The refused folder's failure comes last, after the files'.
            QCOMPARE(std::get<1>(alone), stopAt.isEmpty() ? 70 : 57);
            const qsizetype arrived = std::get<2>(alone).filter(u"=new"_s).size();
            QVERIFY(stopAt.isEmpty() ? arrived == 99 : arrived < 99);
        }
    }

    void destinationInsideTheSourceThroughAMount() {
        TempDrives drives;
        writeFile(drives.host(u"F:\\S\\a.txt"_s), "a");
        QDir().mkpath(drives.host(u"D:\\B"_s));
        Mount bind(drives.host(u"D:\\B"_s), u"mount"_s, {u"--bind"_s, drives.host(u"F:\\S"_s)});
        if (!bind.mounted)
            QSKIP(qPrintable(u"a bind mount cannot be made here: "_s + bind.error));
        CommandRun run(u"D:\\B\\Backup"_s);
        copyCommand(run.w);
        QCOMPARE(run.box(), u"O Destino dos Arquivos está dentro da Origem: D:\\B\\Backup\n"
                            "Selecione outro local para o Destino.\n"_s);
        QCOMPARE(tree(drives.host(u"F:\\S"_s)), QStringList{u"a.txt=a"_s});
    }

    void mirroredPathPastThePathLimit() {
        TempDrives drives;
        const std::string from = bytes(drives.host(u"F:\\S"_s));
        fs::create_directories(from);
        QVERIFY(makeDeep(from));
        const auto removeAll = qScopeGuard([&] {
            removeDeep(AT_FDCWD, from.c_str());
            removeDeep(AT_FDCWD, bytes(drives.host(u"D:\\T"_s)).c_str());
        });
        QDir().mkpath(drives.host(u"D:\\T"_s));
        CommandRun run;
        copyCommand(run.w);
        QVERIFY(run.boxes.boxes.empty());
        QVERIFY(run.w.lblCopyInfo().startsWith(u"Cópia Atualizada - "_s));
        const QStringList copied = readDeep(bytes(drives.host(u"D:\\T\\S"_s)));
        QCOMPARE(copied.size(), deepLevels);
        QCOMPARE(copied, readDeep(from));
    }

    void namesAndSizes() {
        TempDrives drives;
        const QString s = drives.host(u"F:\\S"_s), t = drives.host(u"D:\\T"_s);
        QDir().mkpath(t);
        const std::string src = bytes(s);
        // Names that are not valid UTF-8 defeat QDir's own removal.
        const auto removeAll = qScopeGuard([&] {
            fs::remove_all(src);
            fs::remove_all(bytes(t));
        });
        const auto put = [](const std::string& path, const std::string& data) {
            const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            QVERIFY(fd >= 0 && ::write(fd, data.data(), data.size()) == ssize_t(data.size()));
            ::close(fd);
        };
        fs::create_directories(src + "/Pasta \xc3\xa7\xc3\xa3o/\xff\xfe sub");
        fs::create_directories(src + "/y\\..\\..\\ESC"); // one name, never a way out
        for (const std::string& name : std::vector<std::string>{
                 "com espa\xc3\xa7o.txt", "a\xc3\xa7\xc3\xa3o \xc3\xa9 \xc3\xbc.txt",
                 "\xff\xfe.bin", "-rf", "--help", std::string(251, 'n') + ".txt",
                 std::string(255, 'x'), "Pasta \xc3\xa7\xc3\xa3o/\xff\xfe sub/-x \xe9.txt",
                 "x\\..\\..\\ESC", "y\\..\\..\\ESC/z"})
            put(src + '/' + name, name);
        // 100 levels deep, a file at each.
        std::string deep = src + "/deep";
        for (int i = 0; i < 100; ++i) {
            deep += "/n\xc3\xadvel " + std::to_string(i);
            fs::create_directories(deep);
            put(deep + "/f.txt", std::to_string(i));
        }
        RecordingWindow w;
        QCOMPARE(copyTree(w), True);
        QCOMPARE(rawTree(t), rawTree(s));
        QCOMPARE(rawTree(t).size(), size_t(10 + 3 + 1 + 200));

        // 50,000 files in one folder, then a rerun that copies nothing.
        const std::string many = src + "/many";
        fs::create_directory(many);
        for (int i = 0; i < 50000; ++i)
            put(many + "/file " + std::to_string(i), std::to_string(i));
        CountingFileSystem counting;
        RecordingWindow m;
        QCOMPARE(copyTree(m), True);
        QCOMPARE(counting.copies.load(), 50000);
        QCOMPARE(rawTree(t + u"/many"_s), rawTree(s + u"/many"_s));
        QCOMPARE(copyTree(m), True);
        QCOMPARE(counting.copies.load(), 50000);
    }

    void sparseFileOfThreeGiB() {
        TempDrives drives;
        const std::string from = bytes(drives.host(u"F:\\S\\disk.img"_s));
        const std::string to = bytes(drives.host(u"D:\\T\\disk.img"_s));
        fs::create_directories(fs::path(from).parent_path());
        fs::create_directories(fs::path(to).parent_path());
        const int64_t length = int64_t(3) << 30;
        const int fd = ::open(from.c_str(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0 && ::ftruncate(fd, length) == 0);
        const std::string data(1 << 20, 'd');
        for (const int64_t at : {int64_t(0), int64_t(3) << 29, length - (1 << 20)})
            QCOMPARE(::pwrite(fd, data.data(), data.size(), at), ssize_t(data.size()));
        ::close(fd);
        SilentProgress progress;
        RecordingWindow w;
        QCOMPARE(copyTree(w), True);

        // Same length, same data where the source has data, holes elsewhere.
        QCOMPARE(fs::file_size(to), uintmax_t(length));
        QVERIFY(segments(to) == segments(from));
        struct stat st {};
        QCOMPARE(::stat(to.c_str(), &st), 0);
        QVERIFY(st.st_blocks * 512 < 64 << 20);
    }

    void sparseFilesEndingInAHole() {
        // Disk images whose last part was never written: the copy must still
        // have the whole length, and stay sparse.
        TempDrives drives;
        const QString from = drives.host(u"F:\\S"_s), to = drives.host(u"D:\\T"_s);
        QDir().mkpath(from);
        QDir().mkpath(to);
        const off_t length = off_t(64) << 20;
        const std::string data(1 << 20, 'd');
        for (const auto& [name, written] :
             {std::pair{"start.img", data.size()}, std::pair{"empty.img", size_t(0)}}) {
            const std::string source = bytes(from) + '/' + name;
            const int fd = ::open(source.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            QVERIFY(fd >= 0);
            QCOMPARE(::write(fd, data.data(), written), ssize_t(written));
            QCOMPARE(::ftruncate(fd, length), 0);
            ::close(fd);
            const int in = ::open(source.c_str(), O_RDONLY);
            const off_t hole = ::lseek(in, 0, SEEK_HOLE);
            ::close(in);
            if (hole == length)
                QSKIP("the file system of the temporary folder reports no holes (SEEK_HOLE)");

            // In one request, and in steps as with a progress window.
            const FileSystem::Progress watch = [](int64_t, int64_t) { return true; };
            for (const FileSystem::Progress& progress : {FileSystem::Progress(), watch}) {
                FileSystem& files = FileSystem::get();
                const Directory sd = files.openDirectory(bytes(from));
                const Directory dd = files.openDirectory(bytes(to));
                QVERIFY(files.copyFile(sd, name, dd, name, progress));
                const std::string copy = bytes(to) + '/' + name;
                QCOMPARE(fs::file_size(copy), uintmax_t(length));
                QVERIFY(segments(copy) == segments(source));
                struct stat st {};
                QCOMPARE(::stat(copy.c_str(), &st), 0);
                QVERIFY2(st.st_blocks * 512 < 8 << 20, name);
                QVERIFY(fs::remove(copy));
            }
        }
    }

    void realFreeSpace() {
        // The free space of a volume with reserved blocks: all that is free,
        // the reserved part included, as the volume itself counts it.
        TempDrives drives;
        QTemporaryDir images;
        const QString image = images.filePath(u"ext4.img"_s), d = drives.host(u"D:"_s);
        QString error;
        if (!succeeds(u"mkfs.ext4"_s, {u"-q"_s, u"-F"_s, u"-m"_s, u"5"_s, image, u"64M"_s}, &error))
            QSKIP(qPrintable(u"mkfs.ext4 (e2fsprogs) cannot make the image: "_s + error));
        Mount ext4(d, u"mount"_s, {u"-t"_s, u"ext4"_s, u"-o"_s, u"loop"_s, image});
        if (!ext4.mounted)
            QSKIP(qPrintable(u"a loop device cannot be mounted here: "_s + ext4.error));

        struct statvfs st {};
        QCOMPARE(::statvfs(bytes(d).c_str(), &st), 0);
        QVERIFY(st.f_bfree > st.f_bavail); // the reserved blocks
        DiskSpace space;
        QVERIFY(GetDiskFreeSpaceEx(u"D:"_s, space));
        QCOMPARE(space.totalFree, uint64_t(st.f_bfree) * st.f_frsize);
        QCOMPARE(space.availableToCaller, uint64_t(st.f_bavail) * st.f_frsize);
        QCOMPARE(space.total, uint64_t(st.f_blocks) * st.f_frsize);

        // A drive without a volume: a failed query that leaves the counts and
        // the recorded error as they were.
        resumeNext([] { raiseError(ErrDiskFull); });
        DiskSpace none{1, 2, 3};
        QVERIFY(!GetDiskFreeSpaceEx(u"Q:"_s, none));
        QCOMPARE(none.availableToCaller + none.total + none.totalFree, uint64_t(6));
        QCOMPARE(Err().number, 61);
    }
};

QTEST_GUILESS_MAIN(TestVolumes)
#include "tst_volumes.moc"
