#pragma once
// The disk-space query of a drive.

#include <QString>
#include <cstdint>
#include <functional>

namespace platform {

struct DiskSpace {
    uint64_t availableToCaller = 0;
    uint64_t total = 0;
    uint64_t totalFree = 0;
};

// Fills the counts of the volume that holds a drive path ("D:" is the drive's
// root) and reports success; on failure the counts are left as they were.
bool GetDiskFreeSpaceEx(const QString& directory, DiskSpace& space);

// Replaces the host's query (tests); an empty function restores it.
using DiskSpaceQuery = std::function<bool(const QString& directory, DiskSpace& space)>;
void installDiskSpaceQuery(DiskSpaceQuery query);

} // namespace platform
