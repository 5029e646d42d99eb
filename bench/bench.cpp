#include "bench/bench.h"

#include "bench/mounts.h"
#include "bench/targets.h"
#include "bench/verify.h"
#include "platform/runmark.h"

#include <QFile>
#include <QTextStream>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace bench {

namespace fs = std::filesystem;

namespace {

class Bench {
public:
    Bench(const BenchOptions& options, const std::vector<Peer>& peers)
        : m_o(options), m_peers(peers), m_verifiers{pelivorVerifier(), cmpVerifier()},
          m_seen(options.work / "dst"),
          m_real(options.latencyMs > 0 ? options.work / "dst-real" : m_seen) {
        // Each reads the copy from the disk, as after a flushed copy; a
        // share's client forgets a file's data at every open by itself, and
        // a tmpfs has no disk behind its pages.
        if (options.volume == Volume::Disk)
            for (Peer& peer : m_verifiers)
                peer.prepare = [](const std::string&, const std::string& destination) {
                    dropCachedPages(destination);
                };
    }
    void main();
    const std::vector<TargetResult>& targets() const { return m_targets; }

private:
    using Destination = std::function<fs::path(const Peer&)>;
    bool wanted(ScenarioId s) const {
        return s == FullCopy || m_o.scenarios.isEmpty() ||
               m_o.scenarios.contains(QString::number(int(s) + 1));
    }
    fs::path destination(const Peer& peer, const char* what) const {
        return m_seen / (peer.name.toUpper().toStdString() + what);
    }
    // Where a destination's files really are: below latencyfs's backing
    // folder, so that checking and clearing them costs no round trips.
    fs::path real(const fs::path& seen) const { return m_real / seen.lexically_relative(m_seen); }
    void clear(const char* what);
    void settle() const;
    void round(ScenarioId id, int r, const fs::path& source, const Destination& destination);
    void verifyRounds(ScenarioId id, const fs::path& source, const char* what);
    const std::vector<Peer>& peersOf(int id) const { return verifies(id) ? m_verifiers : m_peers; }
    void run(ScenarioId id, const Peer& peer, const fs::path& source, const fs::path& destination);
    void secondTree(const fs::path& sources);
    void stopOnShare(const fs::path& tree);
    void print();

    const BenchOptions& m_o;
    std::vector<Peer> m_peers;
    std::vector<Peer> m_verifiers; // Pelivor's verification and cmp
    const fs::path m_seen, m_real;
    Scenario m_scenarios[ScenarioCount];
    std::vector<double> m_stopMs; // from ESC to the end of the run, a round each
    QString m_loadAtStart;        // of the machine, which other programs share
    std::vector<TargetResult> m_targets;
};

// The load averages of /proc/loadavg (1, 5 and 15 minutes): on a shared
// machine they tell how far the times can be trusted.
QString loadAverages() {
    QFile f(QStringLiteral("/proc/loadavg"));
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    const QList<QByteArray> fields = f.readAll().split(' ');
    return QString::fromLatin1(fields.mid(0, 3).join(' '));
}

void Bench::main() {
    m_loadAtStart = loadAverages();
    const fs::path sources = m_o.work / "src", tree = sources / "TREE", large = sources / "LARGE";
    fs::create_directories(m_real);
    std::unique_ptr<Mount> share;
    if (m_o.latencyMs > 0)
        share = Mount::latency(m_real, m_seen, m_o.latencyMs);
    installDrives((m_o.work / "c").string(), sources.string(), m_seen.string());

    std::fprintf(stderr, "building the tree in %s\n", tree.c_str());
    const TreeSizes sizes = buildTree(m_o.shape, tree, large);
    const Amount all{sizes.small.files + sizes.large.files, sizes.small.bytes + sizes.large.bytes};
    m_scenarios[FullCopy] = {QStringLiteral("full copy"), all, all, {}};
    m_scenarios[NoOp] = {QStringLiteral("no-op rerun"), all, {}, {}};
    m_scenarios[OnePercent] = {QStringLiteral("1% rerun"), all, {}, {}};
    m_scenarios[Large] = {QStringLiteral("large files"), sizes.large, sizes.large, {}};
    m_scenarios[SecondNoOp] = {
        QStringLiteral("no-op rerun, %1 files").arg(m_o.secondFiles), {m_o.secondFiles, 0}, {}, {}};
    m_scenarios[Verify] = {QStringLiteral("verify"), all, all, {}};
    m_scenarios[VerifyLarge] = {
        QStringLiteral("verify, large files"), sizes.large, sizes.large, {}};

    const auto treeCopy = [&](const Peer& peer) { return destination(peer, "-TREE"); };
    for (int r = 0; r < m_o.runs; ++r) {
        clear("-TREE");
        round(FullCopy, r, tree, treeCopy);
    }
    // The reruns work on the destinations of the last full copies.
    for (int r = 0; r < m_o.runs && wanted(NoOp); ++r)
        round(NoOp, r, tree, treeCopy);
    for (int r = 0; r < m_o.runs && wanted(OnePercent); ++r) {
        m_scenarios[OnePercent].written = touchOnePercent(m_o.shape, tree, r);
        round(OnePercent, r, tree, treeCopy);
    }
    // Pelivor's copy is whole again after the last round of reruns.
    verifyRounds(Verify, tree, "-TREE");
    for (int r = 0; r < m_o.runs && wanted(Large) && m_o.shape.large > 0; ++r) {
        clear("-LARGE");
        round(Large, r, large, [&](const Peer& peer) { return destination(peer, "-LARGE"); });
    }
    if (wanted(VerifyLarge) && m_o.shape.large > 0 && m_peers.front().inProcess) {
        // Pelivor's copy of the large files, made untimed where they were not timed.
        if (!wanted(Large)) {
            const Peer& ours = m_peers.front();
            fs::remove_all(real(destination(ours, "-LARGE")));
            fs::create_directories(real(destination(ours, "-LARGE")));
            ours.prepare(large.string(), destination(ours, "-LARGE").string());
            ours.copy(large.string(), destination(ours, "-LARGE").string());
        }
        verifyRounds(VerifyLarge, large, "-LARGE");
    }
    if (m_o.secondFiles > 0 && wanted(SecondNoOp))
        secondTree(sources);
    if (m_o.latencyMs > 0 && m_peers.front().inProcess)
        stopOnShare(tree);
    print();
}

// Every peer's destination is cleared before any of the round's runs, and
// the file system is given time to forget: it allocates new inodes around
// the ones freed in the last seconds, which would weigh on whichever tool
// came right after a removal.
void Bench::clear(const char* what) {
    for (const Peer& peer : m_peers) {
        const fs::path d = real(destination(peer, what));
        fs::remove_all(d);
        fs::create_directories(d);
    }
    settle();
}

void Bench::settle() const {
    ::sync();
    // Through latencyfs the kernel keeps entries for a second: the removed
    // ones must be forgotten before a tool looks at the folder again.
    const double seconds = m_o.latencyMs > 0 ? std::max(m_o.settleSeconds, 2.0) : m_o.settleSeconds;
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

// Each round starts with the next peer, so that none always runs right after
// the deletions, or right after a tool that left the disk busy.
void Bench::round(ScenarioId id, int r, const fs::path& source, const Destination& destination) {
    const size_t n = m_peers.size();
    for (size_t i = 0; i < n; ++i) {
        const Peer& peer = m_peers[(i + size_t(r)) % n];
        run(id, peer, source, destination(peer));
    }
}

// Pelivor's copy verified by each verifier, a round each, the order rotated.
void Bench::verifyRounds(ScenarioId id, const fs::path& source, const char* what) {
    if (!wanted(id) || !m_peers.front().inProcess)
        return;
    const fs::path copy = destination(m_peers.front(), what);
    for (int r = 0; r < m_o.runs; ++r)
        for (size_t i = 0; i < m_verifiers.size(); ++i)
            run(id, m_verifiers[(i + size_t(r)) % m_verifiers.size()], source, copy);
}

void Bench::run(ScenarioId id, const Peer& peer, const fs::path& source,
                const fs::path& destination) {
    Scenario& s = m_scenarios[id];
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
        const std::string difference = compareTrees(source, real(destination) / source.filename());
        if (!difference.empty())
            throw std::runtime_error(peer.name.toStdString() + " left a wrong copy in " +
                                     difference);
    }
    std::fprintf(stderr, "  %-12s %-24s %8.3f s\n", qPrintable(peer.name), qPrintable(s.title),
                 took.count());
}

// The no-op rerun again on a tree of many more files: Pelivor and the floor
// only, their destinations made by the floor beforehand. The files are of
// 1 KiB, since a no-op rerun reads none of them.
void Bench::secondTree(const fs::path& sources) {
    TreeShape shape = m_o.shape;
    shape.files = m_o.secondFiles;
    shape.folders = std::max(1, shape.files / 50);
    shape.minBytes = shape.maxBytes = 1024;
    shape.large = 0;
    const fs::path tree = sources / "TREE2";
    std::fprintf(stderr, "building the second tree in %s\n", tree.c_str());
    buildTree(shape, tree, sources / "LARGE2");
    const std::vector<Peer> all = m_peers;
    const auto floor = std::find_if(
        all.begin(), all.end(), [](const Peer& p) { return p.name == QStringLiteral("floor"); });
    if (floor == all.end())
        return;
    m_peers = {all.front(), *floor};
    const auto copy = [&](const Peer& peer) { return destination(peer, "-TREE2"); };
    for (const Peer& peer : m_peers) {
        fs::create_directories(real(copy(peer)));
        floorCopy(tree.string(), real(copy(peer)).string(), {});
    }
    settle();
    for (int r = 0; r < m_o.runs; ++r)
        round(SecondNoOp, r, tree, copy);
    m_peers = all;
}

// ESC a second into a full copy on the share, once a round: the slow share
// must not make the operator wait for the run to end.
void Bench::stopOnShare(const fs::path& tree) {
    const fs::path d = destination(m_peers.front(), "-STOP");
    for (int r = 0; r < m_o.runs; ++r) {
        fs::remove_all(real(d));
        fs::create_directories(real(d));
        const double ms = millisecondsToStop(tree.string(), d.string(), 1000);
        // What a stop gives up must be gone from the share, staging folders
        // too; the mark of the unfinished run stays for the next run.
        for (const auto& entry : fs::recursive_directory_iterator(real(d)))
            if (const std::string name = entry.path().filename().string();
                name.starts_with(".pelivor-") && name != platform::RunMark::fileName)
                throw std::runtime_error("left after ESC: " + entry.path().string());
        std::fprintf(stderr, "  %-12s %-24s %8.1f ms\n", qPrintable(m_peers.front().name),
                     "ESC in a full copy", ms);
        if (ms >= 0)
            m_stopMs.push_back(ms);
    }
    fs::remove_all(real(d));
}

void Bench::print() {
    QTextStream out(stdout);
    const TreeShape& shape = m_o.shape;
    const auto mib = [](double bytes) { return bytes / (1 << 20); };
    out << QStringLiteral("Pelivor benchmark: %1 files of %2-%3 KiB in %4 folders, %5 large files "
                          "of %6-%7 MiB; median of %8 runs, the order rotated each round")
               .arg(shape.files)
               .arg(shape.minBytes / 1024)
               .arg(shape.maxBytes / 1024)
               .arg(shape.folders)
               .arg(shape.large)
               .arg(shape.largeMinBytes >> 20)
               .arg(shape.largeMaxBytes >> 20)
               .arg(m_o.runs);
    if (!m_o.where.isEmpty())
        out << QStringLiteral("; ") << m_o.where;
    if (m_o.latencyMs > 0)
        out << QStringLiteral("; destinations on latencyfs, %1 ms an operation").arg(m_o.latencyMs);
    out << QStringLiteral("\nLoad averages (1, 5, 15 min): %1 at the start, %2 at the end\n")
               .arg(m_loadAtStart, loadAverages());
    out << QStringLiteral("\n| scenario | tool | median s | files/s | MB/s | Pelivor ÷ tool "
                          "(per round) | peak MiB |\n|---|---|---:|---:|---:|---:|---:|\n");
    for (int id = 0; id < ScenarioCount; ++id) {
        const Scenario& s = m_scenarios[id];
        const Peer& ours = peersOf(id).front();
        if (!s.runs.contains(ours.name))
            continue;
        for (const Peer& peer : peersOf(id)) {
            if (!s.runs.contains(peer.name))
                continue;
            const Result& result = s.runs.at(peer.name);
            const double t = median(result.seconds);
            QString relative;
            if (&peer != &ours) {
                const Ratio r = ratio(s.runs.at(ours.name), result);
                relative = QStringLiteral("%1 (%2-%3)")
                               .arg(r.ofMedians, 0, 'f', 2)
                               .arg(r.low, 0, 'f', 2)
                               .arg(r.high, 0, 'f', 2);
            }
            out << QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 | %7 |\n")
                       .arg(s.title, peer.name)
                       .arg(t, 0, 'f', 3)
                       .arg(t > 0 ? double(s.walked.files) / t : 0, 0, 'f', 0)
                       .arg(t > 0 ? mib(double(s.written.bytes)) / t : 0, 0, 'f', 1)
                       .arg(relative)
                       .arg(peer.inProcess ? QString::number(mib(double(result.peak)), 'f', 1)
                                           : QString());
        }
    }
    out << QStringLiteral(
        "(files/s: files in the tree per second; MB/s: MiB that had to be copied, "
        "or were compared, per second; in brackets the lowest and highest ratio of "
        "one round)\n");
    printTargets(out, m_o, m_scenarios, m_stopMs, m_peers.front().inProcess, m_targets);
}

} // namespace

std::vector<TargetResult> runBench(const BenchOptions& options, const std::vector<Peer>& peers) {
    Bench bench(options, peers);
    bench.main();
    return bench.targets();
}

} // namespace bench
