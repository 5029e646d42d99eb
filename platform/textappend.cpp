#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/files.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

void FileSystem::appendText(const Directory& folder, const std::string& name,
                            const QByteArray& header, const QByteArray& text) {
    folder.require();
    // Whoever may write the folder may put a link or a pipe in the file's
    // place: neither is followed nor waited on, and only a regular file is
    // written.
    Fd f{::openat(folder.fd(), name.c_str(),
                  O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666)};
    const struct stat st = regularFile(f);
    const QByteArray all = st.st_size == 0 ? header + text : text;
    for (qsizetype done = 0; done < all.size();) {
        const ssize_t n = ::write(f.fd, all.constData() + done, size_t(all.size() - done));
        if (n < 0)
            raiseErrno(errno, Missing::File);
        done += n;
    }
    if (::close(f.release()) != 0)
        raiseErrno(errno, Missing::File);
}

QByteArray FileSystem::textTail(const Directory& folder, const std::string& name, qint64 bytes) {
    folder.require();
    const Fd f{::openat(folder.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    const struct stat st = regularFile(f);
    const off_t from = std::max<off_t>(0, st.st_size - bytes);
    QByteArray tail(qsizetype(st.st_size - from), '\0');
    qsizetype done = 0;
    while (done < tail.size()) {
        const ssize_t n =
            ::pread(f.fd, tail.data() + done, size_t(tail.size() - done), from + done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            raiseErrno(errno, Missing::File);
        if (n == 0)
            break;
        done += n;
    }
    tail.truncate(done);
    return tail;
}

} // namespace platform
