#pragma once
// The timed scenarios: every tool on the same tree, round after round in a
// rotating order, then medians, per-round ratios and the targets.

#include "bench/runner.h"
#include "bench/tree.h"

#include <QStringList>
#include <filesystem>
#include <vector>

namespace bench {

struct BenchOptions {
    TreeShape shape;
    int runs = 3;
    double settleSeconds = 6; // after bulk deletions, before the next round's copies
    std::filesystem::path work;
    QStringList scenarios; // to time after the full copy, by number; all when empty
    double latencyMs = 0;  // > 0: the destinations are on latencyfs with this delay
    int secondFiles = 0;   // > 0: a no-op rerun on a second tree of this many 1 KiB files
};

// Times `peers` (Pelivor first) and prints the tables and the targets.
// Raises Unavailable when the latency mount cannot be made.
void runBench(const BenchOptions& options, const std::vector<Peer>& peers);

} // namespace bench
