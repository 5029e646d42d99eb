#include "platform/compare.h"
#include "platform/errors.h"

#include <QScopeGuard>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// A regular file opened for reading, never through a link nor blocking on a
// FIFO; its length goes to `length`.
int openRegular(const Directory& dir, const std::string& name, int64_t& length) {
    dir.require();
    const int fd = ::openat(dir.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0)
            ::close(fd);
        raiseErrno(error, Missing::File);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        raiseError(ErrPathFileAccess);
    }
    length = st.st_size;
    return fd;
}

// Up to `count` bytes, fewer only at the end of the file.
size_t readUpTo(int fd, char* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, buffer + done, count - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            raiseErrno(errno, Missing::File);
        if (n == 0)
            break;
        done += size_t(n);
    }
    return done;
}

} // namespace

Comparison compareContents(const Directory& fromDir, const std::string& from,
                           const Directory& toDir, const std::string& to,
                           const std::function<bool()>& goOn) {
    int64_t fromLength = 0, toLength = 0;
    const int in = openRegular(fromDir, from, fromLength);
    const auto closeIn = qScopeGuard([in] { ::close(in); });
    const int out = openRegular(toDir, to, toLength);
    const auto closeOut = qScopeGuard([out] { ::close(out); });
    if (fromLength != toLength)
        return Comparison::Different;

    // A small file in one step, a buffer no larger than it needs.
    const size_t step = size_t(std::clamp<int64_t>(fromLength + 1, 4096, 512 * 1024));
    const std::unique_ptr<char[]> source(new char[step]), copy(new char[step]);
    for (;;) {
        if (!goOn())
            return Comparison::Stopped;
        const size_t got = readUpTo(in, source.get(), step);
        if (readUpTo(out, copy.get(), step) != got || std::memcmp(source.get(), copy.get(), got))
            return Comparison::Different;
        if (got < step)
            return Comparison::Same;
    }
}

} // namespace platform
