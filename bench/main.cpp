// pelivor-bench: times Pelivor's Copy command against the floor (the bare
// system calls of a copy), cp and rsync on the same generated tree, runs
// interleaved, and prints medians, ratios and the targets; on a local disk,
// or with --latency-ms on a share that latencyfs imitates. Then Pelivor's
// peak memory on growing trees (--memory alone runs only that).

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
                       "rsync -rt --update on one generated tree, and its verification against "
                       "cmp; then Pelivor's peak memory on trees of 1,000 to 1,000,000 files."));
    parser.addHelpOption();
    const auto option = [&](const char* name, const char* help, const char* value = nullptr,
                            const char* byDefault = nullptr) {
        QCommandLineOption o(QLatin1String(name), QString::fromUtf8(help));
        if (value)
            o.setValueName(QLatin1String(value));
        if (byDefault)
            o.setDefaultValue(QLatin1String(byDefault));
        parser.addOption(o);
        return o;
    };
    const auto files = option("files", "Small files (20000).", "n", "20000");
    const auto folders = option("folders", "Folders (one per 50 files).", "n");
    const auto sizes = option("kib", "Small file sizes in KiB (1-64).", "min-max", "1-64");
    const auto large = option("large", "Large files (12).", "n", "12");
    const auto largeSizes =
        option("large-mib", "Large file sizes in MiB (3-40).", "min-max", "3-40");
    const auto runs = option("runs", "Rounds; each tool runs once a round (3).", "n", "3");
    const auto work = option("work", "Folder for the trees (a temporary one).", "dir");
    const auto tools = option(
        "tools",
        "Tools to run, Pelivor first: pelivor, floor, floorR, floor+sync, floorR+sync, cp, "
        "rsync, cp+sync, rsync+sync (+sync: the destination flushed, as Pelivor does), window "
        "(Pelivor through its real main window). Default: all but window; on a share pelivor, "
        "floor, cp, rsync.",
        "list");
    const auto only = option("scenarios",
                             "Scenarios to time after the full copy: 2 no-op, 3 1%, 4 large, "
                             "5 no-op on the second tree, 6 verify, 7 verify the large files "
                             "(all).",
                             "list");
    const auto settle =
        option("settle", "Seconds the disk is left alone after deletions (6).", "s", "6");
    const auto latency = option("latency-ms",
                                "Puts the destinations on latencyfs, every operation delayed by "
                                "this much (a share); needs /dev/fuse.",
                                "ms");
    const auto second = option(
        "second-files", "Files of the second tree, timed in a no-op rerun (100000; 0: none).", "n",
        "100000");
    const auto memory = option("memory", "Only the peak memory on growing trees.");
    const auto memoryFiles = option("memory-files",
                                    "Tree sizes for the peak memory (1000,10000,100000,1000000; "
                                    "none: skip it).",
                                    "list", "1000,10000,100000,1000000");
    parser.process(app);

    try {
        BenchOptions o;
        TreeShape& shape = o.shape;
        shape.files = parser.value(files).toInt();
        shape.folders =
            parser.isSet(folders) ? parser.value(folders).toInt() : std::max(1, shape.files / 50);
        std::tie(shape.minBytes, shape.maxBytes) = range(parser.value(sizes), 1024);
        shape.large = parser.value(large).toInt();
        std::tie(shape.largeMinBytes, shape.largeMaxBytes) =
            range(parser.value(largeSizes), 1 << 20);
        o.runs = parser.value(runs).toInt();
        o.settleSeconds = parser.value(settle).toDouble();
        o.latencyMs = parser.isSet(latency) ? parser.value(latency).toDouble() : 0;
        // A second tree through a slow share would take many minutes a run.
        o.secondFiles = o.latencyMs > 0 && !parser.isSet(second) ? 0 : parser.value(second).toInt();
        if (parser.isSet(only))
            o.scenarios = parser.value(only).split(QLatin1Char(','));
        std::vector<int> memorySizes;
        if (parser.value(memoryFiles) != QStringLiteral("none"))
            for (const QString& n : parser.value(memoryFiles).split(QLatin1Char(',')))
                memorySizes.push_back(n.toInt());
        if (shape.files < 0 || shape.folders < 1 || shape.large < 0 || o.runs < 1 ||
            o.settleSeconds < 0 || (parser.isSet(latency) && o.latencyMs <= 0) ||
            o.secondFiles < 0 ||
            std::any_of(memorySizes.begin(), memorySizes.end(), [](int n) { return n < 1; }))
            throw std::runtime_error("bad option value");

        QTemporaryDir temporary(parser.isSet(work)
                                    ? parser.value(work) + QStringLiteral("/pelivor-bench-XXXXXX")
                                    : QDir::tempPath() + QStringLiteral("/pelivor-bench-XXXXXX"));
        if (!temporary.isValid())
            throw std::runtime_error("cannot create the work folder");
        o.work = platform::hostBytes(temporary.path());

        const std::map<QString, Peer> known = knownPeers();
        if (parser.isSet(memory)) {
            runMemory(o.work, memorySizes, known.at(QStringLiteral("pelivor")), pelivorVerifier());
            return 0;
        }
        const QString defaultTools =
            o.latencyMs > 0
                ? QStringLiteral("pelivor,floor,cp,rsync")
                : QStringLiteral("pelivor,floor,floor+sync,floorR,floorR+sync,cp,rsync,cp+sync,"
                                 "rsync+sync");
        std::vector<Peer> peers;
        for (const QString& name :
             (parser.isSet(tools) ? parser.value(tools) : defaultTools).split(QLatin1Char(','))) {
            if (!known.contains(name))
                throw std::runtime_error("unknown tool: " + name.toStdString());
            peers.push_back(known.at(name));
        }
        runBench(o, peers);
        if (o.latencyMs <= 0 && !memorySizes.empty() && peers.front().inProcess) {
            try {
                runMemory(o.work, memorySizes, peers.front(), pelivorVerifier());
            } catch (const Unavailable& e) {
                std::printf("  peak memory on growing trees: not measured: %s\n", e.what());
            }
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
