#include "platform/files.h"
#include "platform/temporarynames.h"

#include <cctype>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

bool FileSystem::foldsCase(const Directory& dir) {
    if (dir.fd() < 0)
        return false;
    // Named as a copy's temporary file: known to this process while it
    // exists, so that a stop removes it, and cleaned by a later run if this
    // one is killed.
    const std::string name = temporaryName();
    std::string other = name;
    for (char& c : other) {
        const unsigned char u = static_cast<unsigned char>(c);
        c = char(std::islower(u) ? std::toupper(u) : std::tolower(u));
    }
    {
        const std::lock_guard lock(m_mutex);
        m_temporaryFiles.push_back({dir.fd(), name});
    }
    bool folds = false;
    const int fd = ::openat(dir.fd(), name.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        struct stat st {};
        folds = ::fstatat(dir.fd(), other.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        ::unlinkat(dir.fd(), name.c_str(), 0);
    }
    forgetTemporary(dir.fd(), name);
    return folds;
}

} // namespace platform
