#pragma once
// What the file services' own sources share: a descriptor closed on every
// way out, and what a stat tells.

#include "platform/directory.h"
#include "platform/errors.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
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

// Hands each entry of the folder open as `dirFd` to `take`, read straight
// from the kernel through an open of its own, so with an offset of its own
// (the folder's descriptor may be listed elsewhere meanwhile), and without
// the three calls that a DIR stream costs at every folder. False, with
// errno set, when the folder could not be read.
template <typename Take> bool forEachEntry(int dirFd, Take&& take) {
    const Fd listing{::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)};
    if (listing.fd < 0)
        return false;
    alignas(dirent64) char buffer[32768];
    for (;;) {
        const ssize_t n = ::getdents64(listing.fd, buffer, sizeof buffer);
        if (n <= 0)
            return n == 0;
        for (ssize_t at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const dirent64*>(buffer + at);
            at += entry->d_reclen;
            take(*entry);
        }
    }
}

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
