#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/files.h"

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

} // namespace platform
