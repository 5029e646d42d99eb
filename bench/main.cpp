// pelivor-bench: times Pelivor's Copy command against cp and rsync on the
// same generated tree, runs interleaved, and prints medians and ratios.

#include "bench/runner.h"
#include "bench/tree.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace bench;

namespace {

// The peak resident memory since the last reset, in bytes; 0 where the
// kernel does not tell it.
void resetPeakMemory() {
    QFile f(QStringLiteral("/proc/self/clear_refs"));
    if (f.open(QIODevice::WriteOnly))
        f.write("5");
}

int64_t peakMemory() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

std::pair<int64_t, int64_t> range(const QString& text, int64_t unit) {
    const QStringList parts = text.split(QLatin1Char('-'));
    bool ok1 = false, ok2 = false;
    const int64_t low = parts.value(0).toLongLong(&ok1);
    const int64_t high = parts.size() == 2 ? parts[1].toLongLong(&ok2) : low;
    if (!ok1 || (parts.size() == 2 && !ok2) || parts.size() > 2 || low <= 0 || high < low)
        throw std::runtime_error("bad size range: " + text.toStdString());
    return {low * unit, high * unit};
}

struct Result {
    std::vector<double> seconds;
    int64_t peak = 0;
    double median() const {
        std::vector<double> s = seconds;
        std::sort(s.begin(), s.end());
        const size_t n = s.size();
        return n == 0 ? 0 : n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
    }
};

struct Scenario {
    QString title;
    Amount walked;                  // files the tools look at
    Amount written;                 // files and bytes they must copy
    std::map<QString, Result> runs; // by peer
};

class Bench {
public:
    Bench(TreeShape shape, int runs, const fs::path& work)
        : m_shape(shape), m_runs(runs), m_work(work) {}

    void add(Peer peer) { m_peers.push_back(std::move(peer)); }
    QStringList m_only; // scenarios by number; all when empty
    int main();

private:
    // One timed run of `peer` into `destination`, verified where the peer asks.
    void run(Scenario& s, const Peer& peer, const fs::path& source, const fs::path& destination);
    void print(const std::vector<Scenario>& scenarios) const;

    TreeShape m_shape;
    int m_runs;
    fs::path m_work;
    std::vector<Peer> m_peers;
    const QString m_titles[4] = {QStringLiteral("full copy"), QStringLiteral("no-op rerun"),
                                 QStringLiteral("1% rerun"), QStringLiteral("large files")};
};

void Bench::run(Scenario& s, const Peer& peer, const fs::path& source,
                const fs::path& destination) {
    ::sync(); // earlier runs' write-back must not land on this one
    if (peer.prepare)
        peer.prepare(source.string(), destination.string());
    if (peer.inProcess)
        resetPeakMemory();
    const auto start = std::chrono::steady_clock::now();
    peer.copy(source.string(), destination.string());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    Result& r = s.runs[peer.name];
    r.seconds.push_back(took.count());
    if (peer.inProcess)
        r.peak = std::max(r.peak, peakMemory());
    if (peer.verified) {
        const std::string difference = compareTrees(source, destination / source.filename());
        if (!difference.empty())
            throw std::runtime_error(peer.name.toStdString() + " left a wrong copy in " +
                                     difference);
    }
    std::fprintf(stderr, "  %-8s %-14s %8.3f s\n", qPrintable(peer.name), qPrintable(s.title),
                 took.count());
}

int Bench::main() {
    const fs::path sources = m_work / "src", destinations = m_work / "dst";
    const fs::path tree = sources / "TREE", large = sources / "LARGE";
    fs::create_directories(destinations);
    installDrives((m_work / "c").string(), sources.string(), destinations.string());

    std::fprintf(stderr, "building the tree in %s\n", tree.c_str());
    const TreeSizes sizes = buildTree(m_shape, tree, large);
    const Amount all{sizes.small.files + sizes.large.files, sizes.small.bytes + sizes.large.bytes};

    std::vector<Scenario> scenarios{{m_titles[0], all, all, {}},
                                    {m_titles[1], all, {}, {}},
                                    {m_titles[2], all, {}, {}},
                                    {m_titles[3], sizes.large, sizes.large, {}}};
    const auto freshDestination = [&](const Peer& peer, const char* what) {
        const fs::path d = destinations / (peer.name.toUpper().toStdString() + what);
        fs::remove_all(d);
        fs::create_directories(d);
        return d;
    };
    // The reruns work on the destinations of the last full copies.
    const auto wanted = [&](int i) {
        return m_only.isEmpty() || m_only.contains(QString::number(i + 1));
    };
    for (int r = 0; r < m_runs; ++r) {
        // The round's destinations are cleared before any of its runs, and
        // the file system is given time to forget: it allocates new inodes
        // around the ones freed in the last seconds, which would weigh on
        // whichever tool comes right after a removal.
        std::vector<fs::path> fresh;
        for (const Peer& peer : m_peers)
            fresh.push_back(freshDestination(peer, "-TREE"));
        ::sync();
        std::this_thread::sleep_for(std::chrono::seconds(6));
        for (size_t i = 0; i < m_peers.size(); ++i)
            run(scenarios[0], m_peers[i], tree, fresh[i]);
    }
    for (int r = 0; r < m_runs && wanted(1); ++r)
        for (const Peer& peer : m_peers)
            run(scenarios[1], peer, tree,
                destinations / (peer.name.toUpper().toStdString() + "-TREE"));
    for (int r = 0; r < m_runs && wanted(2); ++r) {
        scenarios[2].written = touchOnePercent(m_shape, tree, r);
        for (const Peer& peer : m_peers)
            run(scenarios[2], peer, tree,
                destinations / (peer.name.toUpper().toStdString() + "-TREE"));
    }
    for (int r = 0; r < m_runs && wanted(3); ++r)
        for (const Peer& peer : m_peers)
            run(scenarios[3], peer, large, freshDestination(peer, "-LARGE"));
    std::erase_if(scenarios, [](const Scenario& s) { return s.runs.empty(); });

    print(scenarios);
    return 0;
}

void Bench::print(const std::vector<Scenario>& scenarios) const {
    QTextStream out(stdout);
    const auto mib = [](double bytes) { return bytes / (1 << 20); };
    out << QStringLiteral("Pelivor benchmark: %1 files of %2-%3 KiB in %4 folders, %5 large files "
                          "of %6-%7 MiB; median of %8 interleaved runs\n\n")
               .arg(m_shape.files)
               .arg(m_shape.minBytes / 1024)
               .arg(m_shape.maxBytes / 1024)
               .arg(m_shape.folders)
               .arg(m_shape.large)
               .arg(m_shape.largeMinBytes >> 20)
               .arg(m_shape.largeMaxBytes >> 20)
               .arg(m_runs);
    out << QStringLiteral(
        "| scenario | tool | median s | files/s | MB/s | Pelivor ÷ tool | peak MiB |\n");
    out << QStringLiteral("|---|---|---:|---:|---:|---:|---:|\n");
    const Peer& ours = m_peers.front();
    for (const Scenario& s : scenarios) {
        const double pelivor = s.runs.at(ours.name).median();
        for (const Peer& peer : m_peers) {
            const double t = s.runs.at(peer.name).median();
            out << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 |\n")
                       .arg(s.title, peer.name)
                       .arg(t, 0, 'f', 3)
                       .arg(t > 0 ? double(s.walked.files) / t : 0, 0, 'f', 0)
                       .arg(t > 0 ? mib(double(s.written.bytes)) / t : 0, 0, 'f', 1)
                       .arg(&peer == &ours ? QStringLiteral("")
                                           : QString::number(pelivor / t, 'f', 2))
                       .arg(peer.inProcess
                                ? QString::number(mib(double(s.runs.at(peer.name).peak)), 'f', 1)
                                : QString());
        }
    }
    int64_t peak = 0;
    for (const Scenario& s : scenarios)
        peak = std::max(peak, s.runs.at(ours.name).peak);
    out << QStringLiteral("\nPelivor's peak resident memory: %1 MiB\n")
               .arg(mib(double(peak)), 0, 'f', 1);
    out << QStringLiteral("(files/s: files in the tree per second; MB/s: MiB that had to be copied "
                          "per second)\n");

    // The targets: Pelivor's median time over the peer's, at most this much.
    struct Target {
        int scenario;
        const char* peer;
        double limit;
    };
    const Target targets[] = {{0, "cp+sync", 1.10}, {0, "rsync+sync", 0.6},
                              {1, "cp+sync", 1.25}, {1, "rsync+sync", 0.6},
                              {2, "cp+sync", 1.15}, {3, "cp+sync", 1 / 0.95}};
    out << QStringLiteral("\nTargets (Pelivor's time over the tool's):\n");
    for (const Target& t : targets) {
        const QString peer = QLatin1String(t.peer);
        const auto s = std::find_if(scenarios.begin(), scenarios.end(), [&](const Scenario& s) {
            return s.title == m_titles[t.scenario];
        });
        if (s == scenarios.end() || !s->runs.contains(peer) || !s->runs.contains(ours.name))
            continue;
        const double ratio = s->runs.at(ours.name).median() / s->runs.at(peer).median();
        out << QStringLiteral("  %1 vs %2: %3 (at most %4) %5\n")
                   .arg(s->title, peer)
                   .arg(ratio, 0, 'f', 2)
                   .arg(t.limit, 0, 'f', 2)
                   .arg(ratio <= t.limit ? QStringLiteral("met") : QStringLiteral("MISSED"));
    }
    if (ours.inProcess)
        out << QStringLiteral("  peak memory: %1 MiB (at most 64) %2\n")
                   .arg(mib(double(peak)), 0, 'f', 1)
                   .arg(peak <= (int64_t(64) << 20) ? QStringLiteral("met")
                                                    : QStringLiteral("MISSED"));
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv); // large files show a progress window
    QCoreApplication::setApplicationName(QStringLiteral("pelivor-bench"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Times Pelivor's Copy command, cp -ru --preserve=timestamps and "
                       "rsync -rt --update on one generated tree."));
    parser.addHelpOption();
    const QCommandLineOption files(QStringLiteral("files"), QStringLiteral("Small files (20000)."),
                                   QStringLiteral("n"), QStringLiteral("20000"));
    const QCommandLineOption folders(QStringLiteral("folders"),
                                     QStringLiteral("Folders (one per 50 files)."),
                                     QStringLiteral("n"));
    const QCommandLineOption sizes(QStringLiteral("kib"),
                                   QStringLiteral("Small file sizes in KiB (1-64)."),
                                   QStringLiteral("min-max"), QStringLiteral("1-64"));
    const QCommandLineOption large(QStringLiteral("large"), QStringLiteral("Large files (12)."),
                                   QStringLiteral("n"), QStringLiteral("12"));
    const QCommandLineOption largeSizes(QStringLiteral("large-mib"),
                                        QStringLiteral("Large file sizes in MiB (3-40)."),
                                        QStringLiteral("min-max"), QStringLiteral("3-40"));
    const QCommandLineOption runs(QStringLiteral("runs"), QStringLiteral("Runs per tool (3)."),
                                  QStringLiteral("n"), QStringLiteral("3"));
    const QCommandLineOption work(QStringLiteral("work"),
                                  QStringLiteral("Folder for the trees (a temporary one)."),
                                  QStringLiteral("dir"));
    const QCommandLineOption tools(
        QStringLiteral("tools"),
        QStringLiteral("Tools to run, Pelivor first (pelivor,cp,rsync,cp+sync,rsync+sync: the "
                       "last two flush the destination as Pelivor does; also window, Pelivor "
                       "through its real main window)."),
        QStringLiteral("list"), QStringLiteral("pelivor,cp,rsync,cp+sync,rsync+sync"));
    const QCommandLineOption only(QStringLiteral("scenarios"),
                                  QStringLiteral("Scenarios to time after the full copy: 2 no-op, "
                                                 "3 1%, 4 large (all)."),
                                  QStringLiteral("list"));
    parser.addOptions({files, folders, sizes, large, largeSizes, runs, work, tools, only});
    parser.process(app);

    try {
        TreeShape shape;
        shape.files = parser.value(files).toInt();
        shape.folders =
            parser.isSet(folders) ? parser.value(folders).toInt() : std::max(1, shape.files / 50);
        std::tie(shape.minBytes, shape.maxBytes) = range(parser.value(sizes), 1024);
        shape.large = parser.value(large).toInt();
        std::tie(shape.largeMinBytes, shape.largeMaxBytes) =
            range(parser.value(largeSizes), 1 << 20);
        const int runCount = parser.value(runs).toInt();
        if (shape.files < 0 || shape.folders < 1 || shape.large < 0 || runCount < 1)
            throw std::runtime_error("bad option value");

        QTemporaryDir temporary(parser.isSet(work)
                                    ? parser.value(work) + QStringLiteral("/pelivor-bench-XXXXXX")
                                    : QDir::tempPath() + QStringLiteral("/pelivor-bench-XXXXXX"));
        if (!temporary.isValid())
            throw std::runtime_error("cannot create the work folder");
        Bench bench(shape, runCount, QFile::encodeName(temporary.path()).toStdString());
        std::map<QString, Peer> known;
        for (Peer peer :
             {pelivorPeer(QStringLiteral("pelivor"), headlessWindow),
              pelivorPeer(QStringLiteral("window"), mainWindow),
              commandPeer(QStringLiteral("cp"), QStringLiteral("cp"),
                          {QStringLiteral("-ru"), QStringLiteral("--preserve=timestamps")}),
              commandPeer(QStringLiteral("rsync"), QStringLiteral("rsync"),
                          {QStringLiteral("-rt"), QStringLiteral("--update")})}) {
            known[peer.name] = peer;
            if (!peer.inProcess)
                known[peer.name + QStringLiteral("+sync")] = syncedPeer(peer);
        }
        if (parser.isSet(only))
            bench.m_only = parser.value(only).split(QLatin1Char(','));
        for (const QString& name : parser.value(tools).split(QLatin1Char(','))) {
            if (!known.contains(name))
                throw std::runtime_error("unknown tool: " + name.toStdString());
            bench.add(known[name]);
        }
        return bench.main();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "pelivor-bench: FAILED: %s\n", e.what());
        return 1;
    }
}
