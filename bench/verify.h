#pragma once
// The verification of a copy, timed against cmp over the same pairs of
// files: Pelivor's in the benchmark's process, cmp started for each pair as
// a script would start it. Each peer's `copy` compares the tree `source`
// with its copy in destination/<source's name> and raises when they differ.

#include "bench/runner.h"

#include <filesystem>

namespace bench {

// Pelivor's verification (VerifyCopy), through the drive table in force;
// anything but "every file the same" fails.
Peer pelivorVerifier();

// `cmp -s` on every pair of files, one process after another.
Peer cmpVerifier();

// Forgets what memory holds of the files below `tree`, so that the next
// reader reads them from the disk, as a verification after a flushed copy
// does.
void dropCachedPages(const std::filesystem::path& tree);

} // namespace bench
