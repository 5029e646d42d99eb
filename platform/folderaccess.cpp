// How a destination folder takes the access of its source folder.

#include "platform/errors.h"
#include "platform/files.h"

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The mode and owner the kernel holds for an open folder: just opened, so
// current, and on a share without a round trip to the server. A folder
// opened below another was asked already, with its identity.
std::optional<Directory::Access> heldAccess(const Directory& folder) {
    if (folder.accessWhenOpened())
        return folder.accessWhenOpened();
    struct statx sx {};
    if (::statx(folder.fd(), "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC,
                STATX_MODE | STATX_UID | STATX_GID, &sx) != 0)
        return std::nullopt;
    return Directory::Access{sx.stx_mode, sx.stx_uid, sx.stx_gid};
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
    const std::optional<Directory::Access> from =
        source.fd() < 0 || dest.fd() < 0 ? std::nullopt : heldAccess(source);
    if (!from)
        return; // a folder made stays 0700
    constexpr mode_t groupAndOthers = S_IRWXG | S_IRWXO;
    // A folder that others may write to is safe only with the sticky bit,
    // which lets nobody but an entry's owner rename or remove it (/tmp and
    // every folder shared like it): without it any user could swap the
    // backup's folders or block the next run.
    const mode_t sticky = from->mode & S_ISVTX;
    mode_t bits = 0;
    if (dest.made()) {
        if (::geteuid() == 0 && ::fchown(dest.fd(), from->uid, from->gid) != 0 && !refused(errno))
            raiseErrno(errno, Missing::Path);
        bits = S_IRWXU | (from->mode & groupAndOthers) | sticky;
    } else {
        const std::optional<Directory::Access> to = heldAccess(dest);
        if (!to)
            raiseErrno(errno, Missing::Path);
        // A mirror that another user made stays open to them whatever its
        // bits: theirs to read and to change. The destination's owner may
        // rearrange all below it anyway.
        const auto ownsTop = [&] {
            const std::optional<Directory::Access> above = heldAccess(top);
            return above && above->uid == to->uid;
        };
        if (dest.volume().keepsOwners && to->uid != ::geteuid() && to->uid != 0 &&
            to->uid != from->uid && !ownsTop())
            raiseError(ErrPermissionDenied);
        const mode_t lacking = groupAndOthers & ~from->mode;
        if ((to->mode & lacking) == 0 && (to->mode & sticky) == sticky)
            return; // as narrow as its source already: the usual rerun
        bits = (to->mode & 07777 & ~lacking) | sticky;
    }
    if (::fchmod(dest.fd(), bits) != 0 && !refused(errno))
        raiseErrno(errno, Missing::Path);
}

} // namespace platform
