#include "engine/copyrun.h"
#include "platform/names.h"

namespace TRAVO1 {

using namespace platform;

void CopyRun::failed(const RecordedError& error, const QString& folder, const Directory& sourceDir,
                     const std::string& name) {
    ++failures;
    const QString text = hostText(name);
    events.fileFailed(folder + text, name.empty() ? sourceDir.path() : sourceDir.pathOf(name),
                      error);
    // A full disk says most about a backup that did not fit: no later
    // failure hides it.
    if (failure.number == ErrDiskFull && error.number != ErrDiskFull)
        return;
    failure = error;
    failedName = text;
}

void CopyRun::fileCopied() {
    ++copied;
    events.fileCopied();
}

void CopyRun::addOutput(const Directory& folder) {
    if (const auto id = folder.identity())
        output.insert(*id);
}

bool CopyRun::isOutput(const Directory& folder) const {
    const auto id = folder.identity();
    return id && output.contains(*id);
}

void CopyRun::wroteTo(const Directory& folder) {
    const dev_t device = folder.device();
    if (device == destination.device())
        return;
    for (const Directory& known : written)
        if (known.device() == device)
            return;
    written.push_back(FileSystem::get().tryOpenDirectory(folder, "."));
}

void CopyRun::flush() {
    FileSystem& fs = FileSystem::get();
    bool confirmed = resumeNext([&] { fs.flush(destination); });
    for (const Directory& folder : written)
        confirmed = resumeNext([&] { fs.flush(folder); }) && confirmed;
    if (!confirmed)
        raiseError(ErrDeviceIO);
}

} // namespace TRAVO1
