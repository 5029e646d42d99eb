#pragma once
// The timed scenarios: every tool on the same tree, round after round in a
// rotating order, then medians, per-round ratios and the targets.

#include "bench/runner.h"
#include "bench/tree.h"

#include <QStringList>
#include <QTextStream>
#include <filesystem>
#include <vector>

namespace bench {

// Where the trees lie, which decides the targets: a local disk (the user's
// view, flushes included), a tmpfs (no disk: the programs' own cost alone),
// or a share imitated by latencyfs.
enum class Volume { Disk, Tmpfs, Share };

struct BenchOptions {
    Volume volume = Volume::Disk;
    QString where; // the volume as the tables' heading tells it
    TreeShape shape;
    int runs = 3;
    double settleSeconds = 6; // after bulk deletions, before the next round's copies
    std::filesystem::path work;
    QStringList scenarios; // to time after the full copy, by number; all when empty
    double latencyMs = 0;  // > 0: the destinations are on latencyfs with this delay
    int secondFiles = 0;   // > 0: a no-op rerun on a second tree of this many 1 KiB files
};

// The far share's targets from this many milliseconds an operation on.
constexpr double farShareMs = 10;

// One target as printed: "<scenario>, <ours> vs <tool>: ...: met".
struct TargetResult {
    enum State { Met, Missed, NotMeasured };
    QString text;
    State state = NotMeasured;
};

// Prints a target's line and keeps it in `into`.
void report(QTextStream& out, std::vector<TargetResult>& into, TargetResult result);

// Times `peers` (Pelivor first) and prints the tables and the targets, which
// it returns. Raises Unavailable when the latency mount cannot be made.
std::vector<TargetResult> runBench(const BenchOptions& options, const std::vector<Peer>& peers);

} // namespace bench
