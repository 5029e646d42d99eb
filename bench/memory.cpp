#include "bench/memory.h"

#include "bench/mounts.h"
#include "bench/tree.h"

#include <QFile>
#include <QTextStream>
#include <chrono>
#include <cstdio>

namespace bench {

namespace fs = std::filesystem;

namespace {

// What a tree of `files` 1 KiB files and its copy take on a tmpfs: a page
// each and about as much again for inodes and names.
int64_t footprint(int64_t files) {
    return files * 2 * 8192;
}

struct Row {
    int files = 0;
    double copySeconds = 0, rerunSeconds = 0, verifySeconds = 0;
    int64_t peak = 0;
    bool skipped = false;
};

// One timed Pelivor run, its peak memory and its copy checked.
double timed(const Peer& pelivor, const fs::path& tree, const fs::path& destination,
             int64_t& peak) {
    if (pelivor.prepare)
        pelivor.prepare(tree.string(), destination.string());
    resetPeakMemory();
    const auto start = std::chrono::steady_clock::now();
    pelivor.copy(tree.string(), destination.string());
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    peak = std::max(peak, peakMemory());
    if (const std::string difference = compareTrees(tree, destination / tree.filename());
        !difference.empty())
        throw std::runtime_error("Pelivor left a wrong copy in " + difference);
    return took.count();
}

Row measure(const Peer& pelivor, const Peer& verifier, const fs::path& root, int files) {
    Row row;
    row.files = files;
    if (footprint(files) > availableMemory() * 8 / 10) {
        row.skipped = true;
        return row;
    }
    TreeShape shape;
    shape.files = files;
    shape.folders = std::max(1, files / 50);
    shape.minBytes = shape.maxBytes = 1024;
    shape.large = 0;
    const fs::path tree = root / "src" / "TREE", destination = root / "dst" / "PELIVOR";
    std::fprintf(stderr, "memory: building %d files\n", files);
    buildTree(shape, tree, root / "src" / "LARGE");
    fs::create_directories(destination);
    row.copySeconds = timed(pelivor, tree, destination, row.peak);
    row.rerunSeconds = timed(pelivor, tree, destination, row.peak);
    row.verifySeconds = timed(verifier, tree, destination, row.peak);
    std::fprintf(stderr, "memory: %d files: %.1f MiB\n", files, double(row.peak) / (1 << 20));
    fs::remove_all(root / "src");
    fs::remove_all(root / "dst");
    return row;
}

} // namespace

int64_t availableMemory() {
    QFile f(QStringLiteral("/proc/meminfo"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("MemAvailable:"))
            return line.mid(13).trimmed().split(' ').value(0).toLongLong() * 1024;
    return 0;
}

std::vector<TargetResult> runMemory(const fs::path& work, const std::vector<int>& sizes,
                                    const Peer& pelivor, const Peer& verifier) {
    const fs::path root = work / "memory";
    const std::unique_ptr<Mount> tmpfs = Mount::tmpfs(root);
    installDrives((work / "c").string(), (root / "src").string(), (root / "dst").string());
    std::vector<Row> rows;
    for (int files : sizes)
        rows.push_back(measure(pelivor, verifier, root, files));

    QTextStream out(stdout);
    const auto mib = [](int64_t bytes) {
        return QString::number(double(bytes) / (1 << 20), 'f', 1);
    };
    out << QStringLiteral("\nPelivor's peak memory, trees of 1 KiB files (one folder per 50) on a "
                          "tmpfs, a full copy, a no-op rerun and a verification each:\n\n"
                          "| files | full copy s | no-op rerun s | verify s | peak MiB "
                          "|\n|---:|---:|---:|---:|---:|\n");
    int64_t most = 0;
    const Row* first = nullptr;
    const Row* last = nullptr;
    for (const Row& row : rows) {
        if (row.skipped) {
            out << QStringLiteral("| %1 | skipped: needs about %2 GiB of free memory | | | |\n")
                       .arg(row.files)
                       .arg(double(footprint(row.files)) / (1 << 30), 0, 'f', 1);
            continue;
        }
        out << QStringLiteral("| %1 | %2 | %3 | %4 | %5 |\n")
                   .arg(row.files)
                   .arg(row.copySeconds, 0, 'f', 2)
                   .arg(row.rerunSeconds, 0, 'f', 2)
                   .arg(row.verifySeconds, 0, 'f', 2)
                   .arg(mib(row.peak));
        most = std::max(most, row.peak);
        first = first ? first : &row;
        last = &row;
    }
    std::vector<TargetResult> targets;
    out << QStringLiteral("\nTargets:\n");
    if (!first) {
        report(out, targets, {QStringLiteral("peak memory on growing trees: not measured")});
        return targets;
    }
    // Flat: what a run keeps per file must not add up; 4 MiB over a million
    // files is 4 bytes each.
    const int64_t growth = last->peak - first->peak;
    const auto state = [](bool met) { return met ? TargetResult::Met : TargetResult::Missed; };
    report(out, targets,
           {QStringLiteral("peak memory at every size up to %1 files: %2 MiB, at most 64")
                .arg(last->files)
                .arg(mib(most)),
            state(most <= (int64_t(64) << 20))});
    report(out, targets,
           {QStringLiteral("peak memory flat from %1 to %2 files: %3 MiB more, at most 4")
                .arg(first->files)
                .arg(last->files)
                .arg(mib(growth)),
            state(growth <= (int64_t(4) << 20))});
    return targets;
}

} // namespace bench
