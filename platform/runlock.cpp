#include "platform/runlock.h"
#include "platform/errors.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The bits a lock file keeps: its owner's, and its group's where the group
// may both read and write it. Anyone else who can open it could hold it.
mode_t lockBits(mode_t mode) {
    return (mode & S_IRWXU) | ((mode & 0060) == 0060 ? 0060 : 0);
}

int lockNow(int fd) {
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    return result;
}

// A new lock file with `bits` (and the group `gid` where they give it any),
// held, put in the place of the old one; -1 where it cannot be.
int replacement(int dir, mode_t bits, gid_t gid) {
    const std::string temporary = std::string(RunLock::FileName) + '-' + std::to_string(::getpid());
    const int fd =
        ::openat(dir, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return -1;
    if ((bits & S_IRWXG) && ::fchown(fd, uid_t(-1), gid) != 0)
        bits &= S_IRWXU;
    if (::fchmod(fd, bits) == 0 && lockNow(fd) == 0 &&
        ::renameat(dir, temporary.c_str(), dir, RunLock::FileName) == 0)
        return fd;
    ::unlinkat(dir, temporary.c_str(), 0);
    ::close(fd);
    return -1;
}

// Whether the lock held on `fd` is the one the name shows: a run that
// replaced the file meanwhile holds that one.
bool stillNamed(int dir, int fd) {
    struct stat held {
    }, named{};
    return ::fstat(fd, &held) == 0 &&
           ::fstatat(dir, RunLock::FileName, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
           held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

int32_t unavailable(int err) {
    // A socket in its place answers ENXIO: as any other entry that is no file.
    return err == ENXIO ? int32_t(ErrPathFileAccess) : errorFromErrno(err);
}

} // namespace

RunLock RunLock::take(const std::string& hostFolder) {
    if (hostFolder.empty())
        return RunLock(Unavailable, -1, ErrPathNotFound);
    const int dir = ::open(hostFolder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0)
        return RunLock(Unavailable, -1, unavailable(errno));
    const auto done = [dir](RunLock lock) {
        ::close(dir);
        return lock;
    };
    for (int attempt = 0; attempt < 4; ++attempt) {
        // Never through a link, never waiting on a pipe.
        int fd =
            ::openat(dir, FileName, O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (fd < 0)
            return done(RunLock(Unavailable, -1, unavailable(errno)));
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return done(RunLock(Unavailable, -1, ErrPathFileAccess));
        }
        // One that anyone else could open until now (an earlier version made
        // it 0644) may be open in another's hands: new bits would not take
        // that descriptor back, a new file does.
        const mode_t bits = lockBits(st.st_mode);
        if (st.st_uid == ::geteuid() && (st.st_mode & 07777) != bits) {
            if (const int fresh = replacement(dir, bits, st.st_gid); fresh >= 0) {
                ::close(fd);
                fd = fresh;
            } else {
                ::fchmod(fd, bits);
            }
        }
        if (lockNow(fd) != 0) {
            const int err = errno;
            ::close(fd);
            return done(err == EWOULDBLOCK ? RunLock(Busy, -1)
                                           : RunLock(Unavailable, -1, unavailable(err)));
        }
        if (stillNamed(dir, fd))
            return done(RunLock(Held, fd));
        ::close(fd);
    }
    return done(RunLock(Busy, -1)); // replaced again and again by other runs
}

RunLock::RunLock(RunLock&& other) noexcept
    : m_state(other.m_state), m_fd(other.m_fd), m_error(other.m_error) {
    other.m_fd = -1;
}

RunLock::~RunLock() {
    if (m_fd >= 0)
        ::close(m_fd);
}

} // namespace platform
