#pragma once
// The floor: a copy made of nothing but the system calls that no copying
// program can avoid, the yardstick that Pelivor's times are held against.
// Plain C++ and the C library, so no framework's cost hides in it.

#include <string>

namespace bench {

struct FloorKind {
    bool safe = false;  // each file is written under a temporary name, then renamed over its own
    bool flush = false; // the destination volume is flushed (syncfs) before the copy counts as done
};

// Copies the tree `source` into destination/<source's name>, keeping each
// file's modification time to the nanosecond. A file that exists in the
// copy and is not older than its source is left alone, as `cp -u` does.
// Raises std::runtime_error on any failure.
void floorCopy(const std::string& source, const std::string& destination, FloorKind kind);

} // namespace bench
