#pragma once
// The benchmark's reproducible source tree and the check of a copy of it.
//
// Nothing of the tree is kept in memory: its layout is drawn again from the
// seed whenever it is needed, so the benchmark's own memory stays flat as
// the tree grows.

#include <cstdint>
#include <filesystem>
#include <string>

namespace bench {

struct TreeShape {
    int files = 20000;       // small files
    int folders = 400;       // the top folder included
    int depth = 8;           // deepest folder level below the top
    int64_t minBytes = 1024; // small file sizes
    int64_t maxBytes = 65536;
    int large = 12; // files that take the large-file path
    int64_t largeMinBytes = int64_t(3) << 20;
    int64_t largeMaxBytes = int64_t(40) << 20;
    uint64_t seed = 20261206;
};

struct Amount {
    int64_t files = 0;
    int64_t bytes = 0;
};

struct TreeSizes {
    Amount small, large;
};

// Writes the tree below `root` (which must not exist), and hard links to its
// large files below `largeRoot`, a tree of the large files alone.
TreeSizes buildTree(const TreeShape& shape, const std::filesystem::path& root,
                    const std::filesystem::path& largeRoot);

// Gives 1% of the small files new content and a later modification time;
// each round takes other files.
Amount touchOnePercent(const TreeShape& shape, const std::filesystem::path& root, int round);

// Compares a copy with its source: the same names, kinds, sizes,
// modification times and contents, and nothing else. Returns the first
// difference, empty when there is none.
std::string compareTrees(const std::filesystem::path& source, const std::filesystem::path& copy);

} // namespace bench
