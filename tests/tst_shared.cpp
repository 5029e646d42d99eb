// A destination shared with other runs and other computers, and shares
// themselves: another run's cleaning beside copies under way, a copy that
// cannot be placed, the pool that copies ahead, a share that ignores case.

#include "support/testsupport.h"
#include "support/volumes.h"

#include "engine/copycommand.h"
#include "engine/copytree.h"
#include "engine/lookahead.h"
#include "engine/runlog.h"
#include "platform/errors.h"
#include "platform/temporarynames.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <atomic>
#include <filesystem>
#include <map>
#include <mutex>
#include <set>
#include <unistd.h>

using namespace TRAVO1;
using namespace platform;
namespace fs = std::filesystem;

namespace {

const QDateTime t0(QDate(2024, 3, 1), QTime(10, 0, 0));

// The child: a second run, of another program folder, from F:\B into the
// folder D:\T\S that the test's own run is copying into.
int secondRun(const QString& root) {
    TempDrives::adopt(root);
    RecordingWindow w;
    QString source = u"F:\\B"_s, destination = u"D:\\T\\S"_s;
    const int16_t result = CopyTree(w, source, destination, 1, u"*.*"_s);
    // A missing destination file leaves 53 recorded, as it does any run.
    const int32_t error = Err().number;
    return result == True && (error == 0 || error == ErrFileNotFound) ? 0 : 1;
}

// Removes the temporary files in a folder, as another run's cleaning may.
void loseTemporaryFiles(const Directory& dir) {
    for (const auto& e : fs::directory_iterator(dir.path()))
        if (e.is_regular_file() &&
            e.path().filename().native().starts_with(FileSystem::temporaryPrefix))
            fs::remove(e.path());
}

// The first name of the two in the order the folder lists them.
QString firstListed(const QString& folder, const QString& a, const QString& b) {
    QStringList listed;
    FileSystem& host = FileSystem::get();
    for (const DirEntry& e : host.list(host.openDirectory(bytes(folder)), u"*.*"_s, AttrDirectory))
        listed << QString::fromStdString(e.name);
    return listed.indexOf(a) < listed.indexOf(b) ? a : b;
}

} // namespace

class TestShared : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Another run into the same folder, started while this run holds copies
    // made and not yet placed (ahead, on a share, or the one in hand): its
    // cleaning leaves them, since their process lives, and they all arrive.
    void anotherRunLeavesCopiesUnderWay() {
        for (const bool ahead : {false, true}) {
            TempDrives drives;
            for (const char* name : {"a.txt", "b.txt", "c.txt"})
                writeFile(drives.host(u"F:\\S\\"_s + QLatin1String(name)), name, t0);
            writeFile(drives.host(u"F:\\B\\other.txt"_s), "other", t0);
            QDir().mkpath(drives.host(u"D:\\T\\S"_s));
            struct SecondRunMidway : FaultyFileSystem {
                QString root;
                std::atomic<bool> started = false;
                int status = -1;
                std::optional<PreparedCopy> prepareCopy(const Directory& fromDir,
                                                        const std::string& from,
                                                        const Directory& toDir,
                                                        const Progress& progress,
                                                        const Directory* staging) override {
                    auto copy =
                        FaultyFileSystem::prepareCopy(fromDir, from, toDir, progress, staging);
                    if (copy && !started.exchange(true))
                        status = QProcess::execute(QCoreApplication::applicationFilePath(),
                                                   {u"--child"_s, root});
                    return copy;
                }
            } files;
            files.root = drives.root();
            files.askAhead = ahead;
            CommandRun run;
            QCOMPARE(int(copyCommand(run.w).end), int(RunEnd::Completed));
            QCOMPARE(files.status, 0);
            QCOMPARE(tree(drives.host(u"D:\\T\\S"_s)),
                     (QStringList{u"a.txt=a.txt"_s, u"b.txt=b.txt"_s, u"c.txt=c.txt"_s,
                                  u"other.txt=other"_s}));
        }
    }

    // A cleaning removes another computer's temporary files and staging
    // folders only a day after they were begun, by the time in their names,
    // and this computer's once their process is gone, whatever their age.
    // Earlier versions' names hold no time: their change time counts, never
    // the modification time that a copy sets to its source's.
    void leftoversGoByTheirAge() {
        TempDrives drives;
        const QString t = drives.host(u"D:\\T\\S\\Other"_s);
        writeFile(drives.host(u"F:\\S\\Other\\o.txt"_s), "o", t0);
        const time_t now = ::time(nullptr);
        const auto name = [&](const std::string& computer, int pid, time_t made) {
            return QString::fromStdString(FileSystem::temporaryPrefix + computer + '-' +
                                          std::to_string(pid) + '-' + std::to_string(made) +
                                          ".0badf00d.tmp");
        };
        const std::string here = computerName();
        const QStringList stay{name("other-pc", 999999, now - 3 * 3600),
                               u".pelivor-other-pc-999998-0badf00d.tmp"_s,
                               name(here, 1, now - 2 * 24 * 3600)};
        const QStringList go{name("other-pc", 999999, now - 25 * 3600),
                             name(here, 999999, now - 60)};
        for (const QString& n : stay + go)
            writeFile(t + u'/' + n, "torn", t0); // a copy sets its source's old time
        const QString staging = name("other-pc", 999997, now - 25 * 3600);
        writeFile(t + u'/' + staging + u'/' + name("other-pc", 999997, now - 25 * 3600), "torn",
                  t0);
        RecordingWindow w;
        QString source = u"F:\\S"_s, destination = u"D:\\T\\S"_s;
        QCOMPARE(CopyTree(w, source, destination, 1, u"*.*"_s), True);
        QStringList kept = stay;
        kept.replaceInStrings(QRegularExpression(u"$"_s), u"=torn"_s);
        kept << u"o.txt=o"_s;
        kept.sort();
        QCOMPARE(tree(t), kept);

        // An earlier version's name, by its change time, and by its
        // modification time while it is being written.
        struct stat st {};
        st.st_mtime = now - 2 * 24 * 3600;
        st.st_ctime = now - 3600;
        const std::string earlier = ".pelivor-other-pc-999998-0badf00d.tmp";
        QVERIFY(!abandoned(earlier, st, now));
        st.st_ctime = now - 25 * 3600;
        QVERIFY(abandoned(earlier, st, now));
        st.st_mtime = now;
        QVERIFY(!abandoned(earlier, st, now)); // being written
    }

    // A copy whose temporary file went before its rename did not reach the
    // destination: its source is still there, so it is that file's failure,
    // reported, and the run is not complete. Through the large-file window
    // as well, and with copies made ahead (in staging folders for a new
    // folder).
    void aCopyThatCannotBePlacedIsAFailure() {
        for (const bool ahead : {false, true}) {
            TempDrives drives;
            SilentProgress progress;
            struct LosesCopies : FaultyFileSystem {
                std::set<std::string> lose;
                std::optional<PreparedCopy> prepareCopy(const Directory& fromDir,
                                                        const std::string& from,
                                                        const Directory& toDir,
                                                        const Progress& progress,
                                                        const Directory* staging) override {
                    auto copy =
                        FaultyFileSystem::prepareCopy(fromDir, from, toDir, progress, staging);
                    if (copy && lose.count(from))
                        for (const Directory* dir : {&toDir, staging})
                            if (dir && dir->fd() >= 0)
                                loseTemporaryFiles(*dir);
                    return copy;
                }
            } files;
            files.askAhead = ahead;
            files.lose = {"lost.txt", "large.bin"};
            writeFile(drives.host(u"F:\\S\\kept.txt"_s), "k", t0);
            writeFile(drives.host(u"F:\\S\\large.bin"_s), QByteArray(3 << 20, 'l'), t0);
            writeFile(drives.host(u"F:\\S\\Perdido\\lost.txt"_s), "l", t0);
            QDir().mkpath(drives.host(u"D:\\T"_s));
            CommandRun run;
            const RunResult outcome = copyCommand(run.w);
            QCOMPARE(int(outcome.end), int(RunEnd::Reported));
            QCOMPARE(outcome.error, 75);
            // The large copy's own box, then the run's.
            QCOMPARE(run.boxes.boxes.size(), size_t(2));
            QVERIFY(run.boxes.boxes.front().prompt.contains(u"large.bin"_s));
            QVERIFY(run.boxes.boxes.front().prompt.endsWith(u"(erro 75)"_s));
            QCOMPARE(run.boxes.boxes.back().prompt, u"Erro de acesso ao Arquivo! (erro 75)"_s);
            QVERIFY(run.w.all(u"Lbl_CopyInfo"_s).filter(u"Cópia Atualizada"_s).isEmpty());
            QCOMPARE(tree(drives.host(u"D:\\T\\S"_s)),
                     (QStringList{u"Perdido/"_s, u"kept.txt=k"_s}));
        }
    }

    // On a share the pool copies ahead of the file in hand, but never more
    // than its bound ahead of the files the level has taken; a stop leaves
    // no more than that to remove, and removes it.
    void copiesAheadStayWithinTheirBound() {
        TempDrives drives;
        for (int i = 0; i < 40; ++i)
            writeFile(drives.host(u"F:\\S\\f%1.txt"_s.arg(i, 2, 10, QLatin1Char('0'))), "f", t0);
        QDir().mkpath(drives.host(u"D:\\T"_s));
        struct Counting : FaultyFileSystem {
            std::atomic<int> begun = 0;
            std::optional<PreparedCopy> prepareCopy(const Directory& fromDir,
                                                    const std::string& from, const Directory& toDir,
                                                    const Progress& progress,
                                                    const Directory* staging) override {
                ++begun;
                return FaultyFileSystem::prepareCopy(fromDir, from, toDir, progress, staging);
            }
        } files;
        files.askAhead = true;
        constexpr int stopAt = 30, bound = int(Lookahead::copiesAhead);
        int taken = 0, furthest = 0;
        RecordingWindow w;
        w.onWrite = [&](const RecordingWindow::Write& write) {
            if (!write.value.startsWith(u"Copiando De: "_s))
                return;
            ++taken;
            QTest::qSleep(10); // the pool goes as far ahead as it may
            furthest = std::max(furthest, files.begun - taken);
            if (taken == stopAt)
                StopFlag = 1;
        };
        QString source = u"F:\\S"_s, destination = u"D:\\T"_s;
        QCOMPARE(CopyTree(w, source, destination, 1, u"*.*"_s), False);
        QVERIFY(furthest > 0);
        QVERIFY2(furthest <= bound, qPrintable(u"%1 copies ahead"_s.arg(furthest)));
        QVERIFY(files.begun <= stopAt + bound);
        QCOMPARE(tree(drives.host(u"D:\\T"_s)).size(), stopAt);
        QCOMPARE(leftovers(drives.host(u"D:\\T"_s)), 0);
    }

    // In a rerun the pool copies a changed file as soon as the files before
    // it are known to be up to date, long before its turn, yet never has
    // more than its bound of copies out.
    void changedFilesAreCopiedBeforeTheirTurn() {
        TempDrives drives;
        for (int i = 0; i < 40; ++i)
            writeFile(drives.host(u"F:\\S\\f%1.txt"_s.arg(i, 2, 10, QLatin1Char('0'))), "new", t0);
        // The walk's order is the folder's: the changed files are chosen in it.
        FileSystem& host = FileSystem::get();
        std::vector<std::string> order;
        for (const DirEntry& e :
             host.list(host.openDirectory(bytes(drives.host(u"F:\\S"_s))), u"*.*"_s, 0))
            order.push_back(e.name);
        const std::set<size_t> changed{10, 20, 30, 31, 32, 33, 34};
        for (size_t i = 0; i < order.size(); ++i) {
            const QString copy = drives.host(u"D:\\T\\"_s + QString::fromStdString(order[i]));
            writeFile(copy, changed.count(i) ? "old" : "new",
                      changed.count(i) ? t0.addDays(-1) : t0);
        }
        struct Counting : FaultyFileSystem {
            std::atomic<int> begun = 0, taken = 0;
            std::mutex m;
            std::map<std::string, int> begunAt; // files taken when its copy began
            std::optional<PreparedCopy> prepareCopy(const Directory& fromDir,
                                                    const std::string& from, const Directory& toDir,
                                                    const Progress& progress,
                                                    const Directory* staging) override {
                {
                    const std::lock_guard lock(m);
                    begunAt[from] = taken;
                }
                ++begun;
                return FaultyFileSystem::prepareCopy(fromDir, from, toDir, progress, staging);
            }
        } files;
        files.askAhead = true;
        int furthest = 0;
        RecordingWindow w;
        w.onWrite = [&](const RecordingWindow::Write& write) {
            if (!write.value.startsWith(u"Copiando De: "_s))
                return;
            ++files.taken;     // the one in hand with them
            QTest::qSleep(10); // the pool goes as far ahead as it may
            const auto passed = std::count_if(changed.begin(), changed.end(),
                                              [&](size_t i) { return int(i) < files.taken; });
            furthest = std::max(furthest, files.begun - int(passed));
        };
        QString source = u"F:\\S"_s, destination = u"D:\\T"_s;
        QCOMPARE(CopyTree(w, source, destination, 1, u"*.*"_s), True);
        QCOMPARE(files.begun.load(), int(changed.size()));
        QVERIFY2(furthest <= int(Lookahead::copiesAhead),
                 qPrintable(u"%1 copies out"_s.arg(furthest)));
        // The first four changed files (up to the 31st) are copied at the
        // start; the 32nd's copy begins once the 10th is in hand.
        QVERIFY2(files.begunAt[order[31]] < 31 - int(Lookahead::copiesAhead),
                 qPrintable(u"begun after %1 files"_s.arg(files.begunAt[order[31]])));
        QVERIFY(files.begunAt[order[32]] >= 10);
        for (const std::string& name : order)
            QCOMPARE(readFile(drives.host(u"D:\\T\\"_s + QString::fromStdString(name))),
                     QByteArray("new"));
        QCOMPARE(leftovers(drives.host(u"D:\\T"_s)), 0);
    }

    // The destination folders opened ahead on a share are held to the run's
    // budget at every depth of a tree wider than it, and given back; the
    // folders past it are opened at their turn, and the tree is the same.
    void foldersOpenedAheadKeepToTheirBudget() {
        TempDrives drives;
        QString path = u"S"_s;
        for (int depth = 0; depth < 12; ++depth) {
            for (int leaf = 0; leaf < 5; ++leaf)
                for (const QString& drive : {u"F:\\"_s, u"D:\\T\\"_s})
                    writeFile(drives.host(drive + path + u"\\L%1\\f.txt"_s.arg(leaf)), "f", t0);
            path += u"\\N"_s;
        }
        writeFile(drives.host(u"F:\\"_s + path + u"\\deep.txt"_s), "deep", t0);
        FaultyFileSystem files;
        files.askAhead = true;
        RecordingWindow w;
        RunLog logged(w);
        CopyRun run(logged);
        run.source = files.openDirectory(bytes(drives.host(u"F:\\S"_s)));
        run.destination = files.openDirectory(bytes(drives.host(u"D:\\T\\S"_s)));
        constexpr int budget = 6;
        run.foldersAheadBudget = budget;
        int least = budget;
        w.onWrite = [&](const RecordingWindow::Write&) {
            least = std::min(least, run.foldersAheadBudget);
        };
        QCOMPARE(CopyTree(u"F:\\S"_s, u"D:\\T\\S"_s, 1, u"*.*"_s, run), True);
        QVERIFY(least >= 0);
        QVERIFY(least < budget); // some were held
        QCOMPARE(run.foldersAheadBudget, budget);
        run.lookahead.reset(); // its staging folders go with it
        QCOMPARE(tree(drives.host(u"D:\\T\\S"_s)), tree(drives.host(u"F:\\S"_s)));
    }

    // A share whose type does not tell that it ignores case (a Windows
    // server, a FUSE volume) is asked: the second of two names that differ
    // only in case is not copied over the first, and the run reports 75.
    // The same share matching names exactly takes both.
    void shareThatIgnoresCase() {
        TempDrives drives;
        QTemporaryDir backing;
        const QString s = drives.host(u"F:\\S"_s), d = drives.host(u"D:"_s);
        for (const char* f : {"notas.txt", "NOTAS.TXT", "Caixa\\x.txt", "CAIXA\\y.txt", "a.txt"})
            writeFile(s + u'/' + QString::fromLatin1(f).replace(u'\\', u'/'), f, t0);
        // Folders beside the pair, so that some are listed after the one
        // passed by: in a destination that is there already, the subfolders'
        // folders are opened ahead, and each must get its own.
        QStringList others;
        for (int i = 0; i < 12; ++i) {
            others << u"P%1"_s.arg(i);
            writeFile(s + u'/' + others.back() + u"/p.txt"_s, others.back().toUtf8(), t0);
        }
        const QString name = firstListed(s, u"notas.txt"_s, u"NOTAS.TXT"_s);
        const QString folder = firstListed(s, u"Caixa"_s, u"CAIXA"_s);
        QString why;
        for (const bool ignoresCase : {true, false}) {
            QDir(backing.path()).removeRecursively();
            QDir().mkpath(backing.path() + u"/T/S"_s);
            auto share =
                mountLatencyFs(d, backing.path(),
                               ignoresCase ? QStringList{u"--ignore-case"_s} : QStringList{}, why);
            if (!share)
                QSKIP(qPrintable(why));
            CommandRun run;
            const RunResult outcome = copyCommand(run.w);
            share.reset();
            const QStringList arrived = tree(backing.path() + u"/T/S"_s);
            if (!ignoresCase) {
                QCOMPARE(int(outcome.end), int(RunEnd::Completed));
                QCOMPARE(arrived, tree(s));
                continue;
            }
            QCOMPARE(int(outcome.end), int(RunEnd::Reported));
            QCOMPARE(outcome.error, 75);
            QCOMPARE(run.box(), u"Erro de acesso ao Arquivo! (erro 75)"_s);
            // The first listed of each pair, whole.
            const QString inFolder = folder == u"Caixa"_s ? u"x.txt"_s : u"y.txt"_s;
            QStringList expected{folder + u'/',
                                 folder + u'/' + inFolder + u'=' + folder + u'\\' + inFolder,
                                 u"a.txt=a.txt"_s, name + u'=' + name};
            for (const QString& p : others)
                expected << p + u'/' << p + u"/p.txt="_s + p;
            expected.sort();
            QCOMPARE(arrived, expected);
            QCOMPARE(leftovers(backing.path()), 0); // nor the probe's name
        }
    }
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc == 3 && std::string_view(argv[1]) == "--child")
        return secondRun(QFile::decodeName(argv[2]));
    TestShared test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_shared.moc"
