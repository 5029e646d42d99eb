#include "platform/compare.h"
#include "platform/errors.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

struct Opened {
    int fd = -1;
    ~Opened() {
        if (fd >= 0)
            ::close(fd);
    }
};

int openIn(const Directory& dir, const std::string& name) {
    // Non-blocking, so that a FIFO by that name cannot hang the walk.
    return ::openat(dir.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
}

// Up to `count` bytes, fewer only at the end of the file; -1 with errno set.
ssize_t readFully(int fd, char* into, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, into + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        done += size_t(n);
    }
    return ssize_t(done);
}

Comparison sourceFailed(int err) {
    if (err == ENOENT)
        return {Comparison::SourceGone};
    return {Comparison::SourceFailed, errorFromErrno(err, Missing::File)};
}

Comparison copyFailed(int err) {
    switch (err) {
    case ENOENT:
    case ENOTDIR:
        return {Comparison::Missing};
    case ELOOP: // a link where the copy belongs
        return {Comparison::Different};
    default:
        return {Comparison::CopyFailed, errorFromErrno(err, Missing::File)};
    }
}

} // namespace

Comparison compareFile(const Directory& source, const Directory& copy, const std::string& name,
                       CompareBuffers& buffers, const std::function<bool()>& goOn) {
    if (source.error() != 0)
        return {Comparison::SourceFailed, source.error()};
    if (copy.error() == ErrPathNotFound || copy.error() == ErrFileNotFound)
        return {Comparison::Missing};
    if (copy.error() != 0)
        return {Comparison::CopyFailed, copy.error()};

    const Opened from{openIn(source, name)};
    struct stat fromStat {};
    if (from.fd < 0 || ::fstat(from.fd, &fromStat) != 0)
        return sourceFailed(errno);
    if (!S_ISREG(fromStat.st_mode))
        return {Comparison::SourceFailed, ErrPathFileAccess};
    const Opened to{openIn(copy, name)};
    struct stat toStat {};
    if (to.fd < 0 || ::fstat(to.fd, &toStat) != 0)
        return copyFailed(errno);
    if (!S_ISREG(toStat.st_mode) || toStat.st_size != fromStat.st_size)
        return {Comparison::Different};

    // The copy as the volume holds it: a flushed copy's pages are clean and
    // go; a share's client forgets what it cached.
    ::posix_fadvise(to.fd, 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(to.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(from.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    // Up to the length both had when opened: a source that grows meanwhile
    // is compared as it was.
    off_t left = fromStat.st_size;
    while (left > 0) {
        if (!goOn())
            return {Comparison::Stopped};
        const size_t want = size_t(std::min<off_t>(left, off_t(CompareBuffers::block)));
        const ssize_t a = readFully(from.fd, buffers.source.data(), want);
        if (a < 0)
            return sourceFailed(errno);
        const ssize_t b = readFully(to.fd, buffers.copy.data(), want);
        if (b < 0)
            return copyFailed(errno);
        if (a != b || std::memcmp(buffers.source.data(), buffers.copy.data(), size_t(a)) != 0)
            return {Comparison::Different};
        if (size_t(a) < want)
            break; // both shrank alike
        left -= a;
    }
    return {Comparison::Equal};
}

} // namespace platform
