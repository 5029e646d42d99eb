#pragma once
// Whether a file and its copy hold the same bytes.
//
// Safe on any thread: nothing here raises or touches the recorded error, so
// that workers can compare several files at once and hand each verdict over.

#include "platform/files.h"

#include <functional>
#include <string>
#include <vector>

namespace platform {

struct Comparison {
    enum Result {
        Equal,
        Different,    // other contents, another length, or not a file
        Missing,      // no entry of that name at the copy's side
        SourceGone,   // removed from the source since it was listed
        SourceFailed, // the source could not be read: `error`
        CopyFailed,   // the copy could not be read: `error`
        Stopped,      // `goOn` said no
    };
    Result result = Equal;
    int32_t error = 0; // the program's error number
};

// Room for one block of each side; kept by the caller from file to file, so
// that a walk allocates it once.
struct CompareBuffers {
    static constexpr size_t block = 256 * 1024;
    std::vector<char> source = std::vector<char>(block), copy = std::vector<char>(block);
};

// Compares `name` of the folder `source` with the entry of that exact name in
// `copy`, every byte, in large blocks; links are never followed on either
// side. The copy's pages are dropped from memory first, so that what is read
// is what the volume holds, not what was just written to it. `goOn` is asked
// between blocks; a folder that failed to open gives its error.
Comparison compareFile(const Directory& source, const Directory& copy, const std::string& name,
                       CompareBuffers& buffers, const std::function<bool()>& goOn);

} // namespace platform
