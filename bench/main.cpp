// pelivor-bench: times Pelivor's Copy command against the floor (the bare
// system calls of a copy), cp and rsync on the same generated tree, runs
// interleaved, and prints medians, ratios and the targets; on a local disk,
// with --tmpfs on a tmpfs, or with --latency-ms on a share that latencyfs
// imitates. Then Pelivor's peak memory on growing trees (--memory alone runs
// only that). --suite runs every scenario of the README's tables in turn.

#include "bench/bench.h"
#include "bench/memory.h"
#include "bench/mounts.h"
#include "bench/verify.h"
#include "platform/names.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <cstdio>
#include <map>
#include <stdexcept>

namespace fs = std::filesystem;
using namespace bench;

namespace {

std::pair<int64_t, int64_t> range(const QString& text, int64_t unit) {
    const QStringList parts = text.split(QLatin1Char('-'));
    bool ok1 = false, ok2 = false;
    const int64_t low = parts.value(0).toLongLong(&ok1);
    const int64_t high = parts.size() == 2 ? parts[1].toLongLong(&ok2) : low;
    if (!ok1 || (parts.size() == 2 && !ok2) || parts.size() > 2 || low <= 0 || high < low)
        throw std::runtime_error("bad size range: " + text.toStdString());
    return {low * unit, high * unit};
}

std::map<QString, Peer> knownPeers() {
    std::map<QString, Peer> known;
    for (Peer peer :
         {pelivorPeer(QStringLiteral("pelivor"), headlessWindow),
          pelivorPeer(QStringLiteral("pelivor1"), headlessWindow, true),
          pelivorPeer(QStringLiteral("window"), mainWindow), floorPeer(QStringLiteral("floor"), {}),
          floorPeer(QStringLiteral("floorR"), {.safe = true}),
          floorPeer(QStringLiteral("floor+sync"), {.flush = true}),
          floorPeer(QStringLiteral("floorR+sync"), {.safe = true, .flush = true}),
          commandPeer(QStringLiteral("cp"), QStringLiteral("cp"),
                      {QStringLiteral("-ru"), QStringLiteral("--preserve=timestamps")}),
          commandPeer(QStringLiteral("rsync"), QStringLiteral("rsync"),
                      {QStringLiteral("-rt"), QStringLiteral("--update")})}) {
        known[peer.name] = peer;
        if (!peer.inProcess && !peer.verified)
            known[peer.name + QStringLiteral("+sync")] = syncedPeer(peer);
    }
    return known;
}

// One scenario: where its trees go. The suite runs several in turn.
struct Request {
    bool tmpfs = false;   // on a tmpfs that the benchmark mounts
    double latencyMs = 0; // > 0: destinations on latencyfs
    QString title;        // its name and option, for the summary
};

// A number as one would type it on the command line: "10", "0.5".
QString fixed(double x) {
    return QString::number(x, 'g', 6);
}

// The work folder of one scenario, a temporary folder below `base`, on a
// tmpfs mounted for it when asked and allowed; unmounted and removed when it
// goes.
struct WorkFolder {
    QTemporaryDir temporary;
    std::unique_ptr<Mount> tmpfs; // unmounted before the folder is removed
    fs::path path;
    QString where;

    WorkFolder(const QString& base, bool onTmpfs)
        : temporary(base + QStringLiteral("/pelivor-bench-XXXXXX")) {
        if (!temporary.isValid())
            throw std::runtime_error("cannot create a work folder in " + base.toStdString());
        path = platform::hostBytes(temporary.path());
        if (onTmpfs && fileSystemType(path) != QStringLiteral("tmpfs")) {
            try {
                tmpfs = Mount::tmpfs(path / "tmpfs");
                path /= "tmpfs";
                where = QStringLiteral("trees on a tmpfs mounted for the benchmark");
            } catch (const Unavailable& e) {
                where = QStringLiteral("trees in %1 (%2: %3)")
                            .arg(QFile::decodeName(path.c_str()), fileSystemType(path),
                                 QString::fromUtf8(e.what()));
                std::fprintf(stderr, "pelivor-bench: %s; the trees stay in %s, on %s\n", e.what(),
                             path.c_str(), qPrintable(fileSystemType(path)));
            }
        }
        if (where.isEmpty())
            where = QStringLiteral("trees in %1 (%2)")
                        .arg(QFile::decodeName(path.c_str()), fileSystemType(path));
    }
};

// The option's value where the command line set it, else `fallback`.
QString valueOr(const QCommandLineParser& parser, const char* name, const QString& fallback) {
    const QString option = QLatin1String(name);
    return parser.isSet(option) ? parser.value(option) : fallback;
}

// The same as a whole number.
int number(const QCommandLineParser& parser, const char* name, int fallback) {
    return valueOr(parser, name, QString::number(fallback)).toInt();
}

// The tree sizes of the memory runs; none for "none". Raises on a size
// below 1.
std::vector<int> memorySizes(const QCommandLineParser& parser) {
    std::vector<int> sizes;
    const QString list =
        valueOr(parser, "memory-files", QStringLiteral("1000,10000,100000,1000000"));
    if (list != QStringLiteral("none"))
        for (const QString& n : list.split(QLatin1Char(',')))
            sizes.push_back(n.toInt());
    if (std::any_of(sizes.begin(), sizes.end(), [](int n) { return n < 1; }))
        throw std::runtime_error("bad option value: --memory-files");
    return sizes;
}

// A tmpfs holds the tree and every tool's copy in memory: a tree that would
// take more than 80% of the free memory is not tried.
void requireRoom(const BenchOptions& o, size_t tools) {
    const TreeShape& shape = o.shape;
    const int64_t page = 4096, perFile = 1024; // inode and name
    const int64_t small = (shape.minBytes + shape.maxBytes) / 2;
    const int64_t tree = shape.files * ((small + page - 1) / page * page + perFile) +
                         int64_t(shape.large) * (shape.largeMinBytes + shape.largeMaxBytes) / 2;
    const int64_t needed = tree * int64_t(tools + 1);
    if (needed > availableMemory() * 8 / 10)
        throw Unavailable(QStringLiteral("the tree and %1 copies need about %2 GiB of memory on "
                                         "the tmpfs; fewer --files or --tools")
                              .arg(tools)
                              .arg(double(needed) / (1 << 30), 0, 'f', 1)
                              .toStdString());
}

// One scenario: its work folder, its options (the command line's, else the
// volume's defaults), its tables and targets; then Pelivor's peak memory on
// trees of the `memory` sizes, after a run on a disk (or a tmpfs, when the
// sizes were given).
std::vector<TargetResult> runScenario(const QCommandLineParser& parser, const Request& request,
                                      const QString& base, const std::map<QString, Peer>& known,
                                      const std::vector<int>& memory) {
    WorkFolder folder(base, request.tmpfs);
    BenchOptions o;
    o.latencyMs = request.latencyMs;
    o.volume = o.latencyMs > 0                                          ? Volume::Share
               : fileSystemType(folder.path) == QStringLiteral("tmpfs") ? Volume::Tmpfs
                                                                        : Volume::Disk;
    o.where = folder.where;
    o.work = folder.path;
    const bool disk = o.volume == Volume::Disk, share = o.volume == Volume::Share;

    TreeShape& shape = o.shape;
    shape.files = number(parser, "files", !share ? 20000 : o.latencyMs >= farShareMs ? 2000 : 3000);
    shape.folders = number(parser, "folders", std::max(1, shape.files / 50));
    std::tie(shape.minBytes, shape.maxBytes) = range(valueOr(parser, "kib", "1-64"), 1024);
    shape.large = number(parser, "large", disk ? 12 : 0);
    std::tie(shape.largeMinBytes, shape.largeMaxBytes) =
        range(valueOr(parser, "large-mib", "3-40"), 1 << 20);
    o.runs = number(parser, "runs", disk ? 3 : share ? 1 : 5);
    // ext4 places new inodes around those freed in the last seconds; a
    // tmpfs has nothing to settle.
    o.settleSeconds = valueOr(parser, "settle", o.volume == Volume::Tmpfs ? "0" : "6").toDouble();
    // A second tree through a slow share would take many minutes a run.
    o.secondFiles = number(parser, "second-files", disk ? 100000 : 0);
    if (parser.isSet(QStringLiteral("scenarios")))
        o.scenarios = parser.value(QStringLiteral("scenarios")).split(QLatin1Char(','));
    if (shape.files < 0 || shape.folders < 1 || shape.large < 0 || o.runs < 1 ||
        o.settleSeconds < 0 || o.secondFiles < 0)
        throw std::runtime_error("bad option value");

    // The flushed variants are the disk's: a tmpfs has nothing to flush.
    const QString defaultTools =
        disk    ? QStringLiteral("pelivor,floor,floor+sync,floorR,floorR+sync,cp,rsync,cp+sync,"
                                    "rsync+sync")
        : share ? QStringLiteral("pelivor,floor,cp,rsync")
                : QStringLiteral("pelivor,pelivor1,floor,floorR,cp,rsync");
    std::vector<Peer> peers;
    for (const QString& name : valueOr(parser, "tools", defaultTools).split(QLatin1Char(','))) {
        if (!known.contains(name))
            throw std::runtime_error("unknown tool: " + name.toStdString());
        peers.push_back(known.at(name));
    }
    if (o.volume == Volume::Tmpfs)
        requireRoom(o, peers.size());

    std::vector<TargetResult> targets = runBench(o, peers);
    // After a tmpfs run only when asked for.
    if ((disk || parser.isSet(QStringLiteral("memory-files"))) && !memory.empty() &&
        peers.front().inProcess) {
        try {
            const std::vector<TargetResult> more =
                runMemory(o.work, memory, peers.front(), pelivorVerifier());
            targets.insert(targets.end(), more.begin(), more.end());
        } catch (const Unavailable& e) {
            std::printf("  peak memory on growing trees: not measured: %s\n", e.what());
        }
    }
    return targets;
}

// Every scenario's targets at the end of a suite, so that one screen tells
// what is met.
void printSummary(const std::vector<std::pair<Request, std::vector<TargetResult>>>& outcomes) {
    QTextStream out(stdout);
    out << QStringLiteral("\nEvery target of this run:\n");
    int missed = 0;
    for (const auto& [request, targets] : outcomes) {
        out << QStringLiteral("\n%1:\n").arg(request.title);
        for (const TargetResult& t : targets) {
            std::vector<TargetResult> ignored;
            report(out, ignored, t);
            missed += t.state == TargetResult::Missed;
        }
    }
    out << QStringLiteral("\n%1 missed.\n").arg(missed);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv); // large files show a progress window
    QCoreApplication::setApplicationName(QStringLiteral("pelivor-bench"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times Pelivor's Copy command, the floor (floor, floorR: the system calls "
                       "of a copy and of a safe copy alone), cp -ru --preserve=timestamps and "
                       "rsync -rt --update on one generated tree, on a local disk, a tmpfs or a "
                       "slow share, and its verification against cmp; then Pelivor's peak memory "
                       "on trees of 1,000 to 1,000,000 files. Defaults in brackets: disk / tmpfs "
                       "/ share."));
    parser.addHelpOption();
    const auto option = [&](const char* name, const char* help, const char* value = nullptr) {
        QCommandLineOption o(QLatin1String(name), QString::fromUtf8(help));
        if (value)
            o.setValueName(QLatin1String(value));
        parser.addOption(o);
    };
    option("files", "Small files (20000 / 20000 / 3000, 2000 from 10 ms).", "n");
    option("folders", "Folders (one per 50 files).", "n");
    option("kib", "Small file sizes in KiB (1-64).", "min-max");
    option("large", "Large files (12 / 0 / 0).", "n");
    option("large-mib", "Large file sizes in MiB (3-40).", "min-max");
    option("runs", "Rounds; each tool runs once a round (3 / 5 / 1).", "n");
    option("work", "Folder for the trees (a temporary one).", "dir");
    option("tmpfs",
           "The trees on a tmpfs mounted in the work folder (as root), where no disk hides "
           "the programs' own cost; where it cannot be mounted, in the work folder as it is.");
    option("tools",
           "Tools to run, Pelivor first: pelivor, pelivor1 (Pelivor on one thread), floor, "
           "floorR, floor+sync, floorR+sync, cp, rsync, cp+sync, rsync+sync (+sync: the "
           "destination flushed, as Pelivor does), window (Pelivor through its real main "
           "window). Default: all but pelivor1 and window on a disk; pelivor, pelivor1, floor, "
           "floorR, cp, rsync on a tmpfs; pelivor, floor, cp, rsync on a share.",
           "list");
    option("scenarios",
           "Scenarios to time after the full copy: 2 no-op, 3 1%, 4 large, 5 no-op on the "
           "second tree, 6 verify, 7 verify the large files (all).",
           "list");
    option("settle", "Seconds the disk is left alone after deletions (6 / 0 / 6).", "s");
    option("latency-ms",
           "Puts the destinations on latencyfs, every operation delayed by this much (a "
           "share); needs /dev/fuse. From 10 ms the far share's targets.",
           "ms");
    option("second-files",
           "Files of the second tree, timed in a no-op rerun (100000 / 0 / 0; 0: none).", "n");
    option("memory", "Only the peak memory on growing trees.");
    option("memory-files",
           "Tree sizes for the peak memory, after a run on a disk (1000,10000,100000,1000000; "
           "none: skip it).",
           "list");
    option("suite",
           "Every scenario of the README's tables in turn: --tmpfs, the disk, --latency-ms 1, "
           "--latency-ms 10, the peak memory; then every target. Other options, such as "
           "--runs 1, go to every scenario, in place of its defaults.");
    parser.process(app);

    try {
        const std::map<QString, Peer> known = knownPeers();
        const QString base = valueOr(parser, "work", QDir::tempPath());
        const Peer& pelivor = known.at(QStringLiteral("pelivor"));
        if (parser.isSet(QStringLiteral("memory"))) {
            const WorkFolder folder(base, false);
            runMemory(folder.path, memorySizes(parser), pelivor, pelivorVerifier());
            return 0;
        }
        const bool suite = parser.isSet(QStringLiteral("suite"));
        std::vector<Request> requests;
        if (suite) {
            for (const char* each : {"tmpfs", "latency-ms", "tools", "memory"})
                if (parser.isSet(QLatin1String(each)))
                    throw std::runtime_error(std::string("--suite chooses --") + each +
                                             " for each scenario itself");
            requests = {
                {true, 0, QStringLiteral("tmpfs (--tmpfs)")},
                {false, 0, QStringLiteral("local disk (no option)")},
                {false, 1, QStringLiteral("share at 1 ms (--latency-ms 1)")},
                {false, farShareMs,
                 QStringLiteral("far share at %1 ms (--latency-ms %1)").arg(fixed(farShareMs))}};
        } else {
            const double latency = valueOr(parser, "latency-ms", QStringLiteral("0")).toDouble();
            if (parser.isSet(QStringLiteral("latency-ms")) && latency <= 0)
                throw std::runtime_error("bad option value: --latency-ms");
            requests = {{parser.isSet(QStringLiteral("tmpfs")), latency, {}}};
        }

        std::vector<std::pair<Request, std::vector<TargetResult>>> outcomes;
        for (const Request& request : requests) {
            try {
                // The suite measures the memory once, at its end.
                outcomes.emplace_back(
                    request, runScenario(parser, request, base, known,
                                         suite ? std::vector<int>{} : memorySizes(parser)));
            } catch (const Unavailable& e) {
                if (!suite)
                    throw;
                std::printf("SKIP: %s: %s\n", qPrintable(request.title), e.what());
                outcomes.emplace_back(request,
                                      std::vector<TargetResult>{{QStringLiteral("not measured: ") +
                                                                 QString::fromUtf8(e.what())}});
            }
        }
        if (suite) {
            Request memory{false, 0, QStringLiteral("peak memory (--memory)")};
            try {
                const WorkFolder folder(base, false);
                outcomes.emplace_back(memory, runMemory(folder.path, memorySizes(parser), pelivor,
                                                        pelivorVerifier()));
            } catch (const Unavailable& e) {
                outcomes.emplace_back(memory,
                                      std::vector<TargetResult>{{QStringLiteral("not measured: ") +
                                                                 QString::fromUtf8(e.what())}});
            }
            printSummary(outcomes);
        }
        return 0;
    } catch (const Unavailable& e) {
        // A test run without FUSE or the right to mount: skipped, not failed.
        std::printf("SKIP: pelivor-bench: %s\n", e.what());
        return 77;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelivor-bench: FAILED: %s\n", e.what());
        return 1;
    }
}
