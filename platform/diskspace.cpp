#include "platform/diskspace.h"
#include "platform/drives.h"
#include "platform/errors.h"

#include <sys/statvfs.h>

namespace platform {

namespace {

DiskSpaceQuery& installedQuery() {
    static DiskSpaceQuery query;
    return query;
}

} // namespace

bool GetDiskFreeSpaceEx(const QString& directory, DiskSpace& space) {
    if (installedQuery())
        return installedQuery()(directory, space);
    const KeepRecordedError kept; // a failed query is an answer, not an error
    try {
        const QString path = directory.size() == 2 ? directory + QLatin1Char('\\') : directory;
        const std::string host = DriveTable::current().toHost(path);
        struct statvfs st {};
        if (::statvfs(host.c_str(), &st) != 0)
            return false;
        space.availableToCaller = uint64_t(st.f_bavail) * st.f_frsize;
        space.total = uint64_t(st.f_blocks) * st.f_frsize;
        space.totalFree = uint64_t(st.f_bfree) * st.f_frsize;
        return true;
    } catch (const Failure&) {
        return false;
    }
}

void installDiskSpaceQuery(DiskSpaceQuery query) {
    installedQuery() = std::move(query);
}

} // namespace platform
