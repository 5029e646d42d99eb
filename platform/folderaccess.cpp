// How a destination folder takes the access of its source folder.

#include "platform/errors.h"
#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The mode and owner the kernel holds for an open folder: just opened, so
// current, and on a share without a round trip to the server.
bool heldAttributes(int fd, struct statx& sx) {
    return ::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_MODE | STATX_UID | STATX_GID,
                   &sx) == 0;
}

// What a file system without permission bits or owners answers (FAT
// through FUSE, a share that maps every file to one user, an owner that the
// volume cannot store).
bool refused(int err) {
    return err == EPERM || err == ENOSYS || err == EOPNOTSUPP || err == EINVAL;
}

} // namespace

void FileSystem::mirrorAccess(const Directory& source, const Directory& dest,
                              const Directory& top) {
    struct statx from {
    }, to{};
    if (source.fd() < 0 || dest.fd() < 0 || !heldAttributes(source.fd(), from))
        return; // a folder made stays 0700
    constexpr mode_t groupAndOthers = S_IRWXG | S_IRWXO;
    // A folder that others may write to is safe only with the sticky bit,
    // which lets nobody but an entry's owner rename or remove it (/tmp and
    // every folder shared like it): without it any user could swap the
    // backup's folders or block the next run.
    const mode_t sticky = from.stx_mode & S_ISVTX;
    mode_t bits = 0;
    if (dest.made()) {
        if (::geteuid() == 0 && ::fchown(dest.fd(), from.stx_uid, from.stx_gid) != 0 &&
            !refused(errno))
            raiseErrno(errno, Missing::Path);
        bits = S_IRWXU | (from.stx_mode & groupAndOthers) | sticky;
    } else {
        if (!heldAttributes(dest.fd(), to))
            raiseErrno(errno, Missing::Path);
        // A mirror that another user made stays open to them whatever its
        // bits: theirs to read and to change. The destination's owner may
        // rearrange all below it anyway.
        struct statx above {};
        if (dest.volume().keepsOwners && to.stx_uid != ::geteuid() && to.stx_uid != 0 &&
            to.stx_uid != from.stx_uid &&
            !(heldAttributes(top.fd(), above) && above.stx_uid == to.stx_uid))
            raiseError(ErrPermissionDenied);
        const mode_t lacking = groupAndOthers & ~from.stx_mode;
        if ((to.stx_mode & lacking) == 0 && (to.stx_mode & sticky) == sticky)
            return; // as narrow as its source already: the usual rerun
        bits = (to.stx_mode & 07777 & ~lacking) | sticky;
    }
    if (::fchmod(dest.fd(), bits) != 0 && !refused(errno))
        raiseErrno(errno, Missing::Path);
}

} // namespace platform
