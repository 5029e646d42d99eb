#include "platform/runlock.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

RunLock RunLock::take(const std::string& hostFolder) {
    if (hostFolder.empty())
        return RunLock(Unavailable, -1);
    const std::string path = hostFolder + (hostFolder.ends_with('/') ? "" : "/") + FileName;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return RunLock(Unavailable, -1);
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result == 0)
        return RunLock(Held, fd);
    const State state = errno == EWOULDBLOCK ? Busy : Unavailable;
    ::close(fd);
    return RunLock(state, -1);
}

RunLock::RunLock(RunLock&& other) noexcept : m_state(other.m_state), m_fd(other.m_fd) {
    other.m_fd = -1;
}

RunLock::~RunLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace platform
