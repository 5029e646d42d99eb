#pragma once
// Pelivor's peak memory as the tree grows: trees of 1 KiB files, one size
// after another, copied, rerun and verified on a tmpfs, so that the disk sets no pace
// and a million files fit in minutes.

#include "bench/bench.h"
#include "bench/runner.h"

#include <filesystem>
#include <vector>

namespace bench {

// MemAvailable of /proc/meminfo in bytes; 0 where it cannot be read.
int64_t availableMemory();

// Each tree is copied by `pelivor`, the copy rerun and then verified by
// `verifier`. Prints the table and the targets (at most 64 MiB at every
// size, flat from the smallest to the largest), which it returns. Raises
// Unavailable when no tmpfs can be mounted.
std::vector<TargetResult> runMemory(const std::filesystem::path& work,
                                    const std::vector<int>& sizes, const Peer& pelivor,
                                    const Peer& verifier);

} // namespace bench
