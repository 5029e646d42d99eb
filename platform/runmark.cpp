#include "platform/runmark.h"
#include "platform/errors.h"

#include <QScopeGuard>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The mark's modification time, set far back when it is made: a volume whose
// change time is not later than it keeps no change time of its own. An even
// second of this century, which FAT can hold.
constexpr struct timespec markTimes[2] = {{0, UTIME_OMIT}, {946684800, 0}}; // 2000-01-01

const char markText[] = "Uma cópia para esta pasta não chegou ao fim: a próxima compara o "
                        "conteúdo das cópias com o das origens.\n";

// A volume that cannot flush a file or a folder does as well as it can.
void flushed(int fd) {
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EOPNOTSUPP && errno != ENOSYS)
        raiseErrno(errno, Missing::Path);
}

} // namespace

RunMark::RunMark(const Directory& top) : m_top(top) {
    struct stat st {};
    if (top.fd() < 0 || ::fstatat(top.fd(), fileName, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
        return;
    m_found = true;
    m_exists = true;
    m_made = st.st_ctim;
    m_changeTimeKept = st.st_ctim.tv_sec > st.st_mtim.tv_sec;
}

bool RunMark::suspect(const FileInfo& copy, const Directory& dir) const {
    if (!m_found)
        return false;
    if (!m_changeTimeKept || dir.keepsCoarseTimes())
        return true;
    // In whole seconds: a volume mounted below the top may keep no finer.
    return copy.changed >= m_made.tv_sec;
}

void RunMark::make() {
    if (m_exists.load(std::memory_order_acquire))
        return;
    const std::lock_guard lock(m_mutex);
    if (m_exists.load())
        return;
    m_top.require();
    const int fd =
        ::openat(m_top.fd(), fileName, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        struct stat st {};
        if (error != EEXIST)
            raiseErrno(error, Missing::Path);
        // Made meanwhile by another run; anything but a file is no mark.
        if (::fstatat(m_top.fd(), fileName, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode))
            raiseError(ErrPathFileAccess);
        m_exists = true;
        return;
    }
    bool open = true;
    auto halfMade = qScopeGuard([&] {
        if (open)
            ::close(fd);
        ::unlinkat(m_top.fd(), fileName, 0);
    });
    const ssize_t size = sizeof markText - 1;
    errno = 0; // a short write sets none
    if (::write(fd, markText, size) != size)
        raiseErrno(errno ? errno : ENOSPC, Missing::Path);
    if (::futimens(fd, markTimes) != 0 && errno != EPERM && errno != EOPNOTSUPP)
        raiseErrno(errno, Missing::Path);
    flushed(fd);
    open = false;
    if (::close(fd) != 0)
        raiseErrno(errno, Missing::Path);
    flushed(m_top.fd()); // its name, too, is on the disk
    halfMade.dismiss();
    m_exists = true;
}

void RunMark::clear() {
    if (m_exists.exchange(false))
        ::unlinkat(m_top.fd(), fileName, 0);
    m_found = false;
}

} // namespace platform
