#pragma once
// Pelivor's peak memory as the tree grows: trees of 1 KiB files, one size
// after another, copied and rerun on a tmpfs, so that the disk sets no pace
// and a million files fit in minutes.

#include "bench/runner.h"

#include <filesystem>
#include <vector>

namespace bench {

// Each tree is copied, the copy rerun and then verified. Prints the table
// and the targets (at most 64 MiB at every size, flat from the smallest to
// the largest). Raises Unavailable when no tmpfs can be mounted.
void runMemory(const std::filesystem::path& work, const std::vector<int>& sizes,
               const Peer& pelivor, const Peer& verifier);

} // namespace bench
