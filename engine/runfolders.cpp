#include "engine/runfolders.h"
#include "engine/jobstate.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"

namespace TRAVO1 {

using namespace platform;

std::string hostFolder(const QString& text) {
    return DriveTable::current().toHost(text + QLatin1Char('\\'));
}

bool insideSource(const QString& from, const QString& to) {
    try {
        FileSystem& fs = FileSystem::get();
        return fs.isWithin(hostFolder(to), fs.openDirectory(hostFolder(from)));
    } catch (const Failure&) {
        clearError();
        return false;
    }
}

RunLock lockProgramFolder() {
    try {
        return RunLock::take(DriveTable::current().toHost(programFolder()));
    } catch (const Failure&) {
        clearError();
        return RunLock::take(std::string());
    }
}

} // namespace TRAVO1
