#pragma once
// What the file services' own sources share: a descriptor closed on every
// way out, and what a stat tells.

#include "platform/directory.h"
#include "platform/errors.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

// A file descriptor closed on every way out.
struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
    int release() {
        const int f = fd;
        fd = -1;
        return f;
    }
};

// What fstat tells of a file just opened: the open's own failure, and
// anything but a regular file (a folder, pipe or device where a file
// belongs), are raised.
inline struct stat regularFile(const Fd& f) {
    if (f.fd < 0)
        raiseErrno(errno, Missing::File);
    struct stat st {};
    if (::fstat(f.fd, &st) != 0)
        raiseErrno(errno, Missing::File);
    if (!S_ISREG(st.st_mode))
        raiseError(ErrPathFileAccess);
    return st;
}

// The attributes, length and times that a stat gives.
inline FileInfo infoOf(const struct stat& st) {
    FileInfo info;
    if (S_ISDIR(st.st_mode))
        info.attributes = AttrDirectory;
    else if (!S_ISREG(st.st_mode))
        info.attributes = AttrSystem;
    info.length = st.st_size;
    info.modified = st.st_mtim.tv_sec;
    info.modifiedNs = int32_t(st.st_mtim.tv_nsec);
    info.changed = st.st_ctim.tv_sec;
    info.changedNs = int32_t(st.st_ctim.tv_nsec);
    return info;
}

} // namespace platform
