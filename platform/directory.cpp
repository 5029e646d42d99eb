#include "platform/directory.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/mounttable.h"

#include <QByteArray>
#include <algorithm>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <map>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

namespace {

// The FUSE driver of a device, which the mount table alone names. Read once
// per device: a walk asks it of every folder.
QByteArray fuseDriver(dev_t device) {
    static std::map<dev_t, QByteArray> drivers;
    if (const auto known = drivers.find(device); known != drivers.end())
        return known->second;
    QByteArray driver;
    for (const MountEntry& mount : parseMountInfo(mountInfoText()))
        if (mount.device == device)
            driver = mount.type;
    return drivers[device] = driver;
}

// FAT keeps modification times to 2 seconds and, like exFAT, matches names
// without regard to case: the kernel's vfat, msdos and exfat, and the FUSE
// drivers that stand in where the kernel has none. An ext4, f2fs or tmpfs
// folder may fold case on its own; btrfs and xfs match names exactly. Of
// any other type (a share to a Windows server, NFS, FUSE) only the volume
// itself can tell.
Directory::Volume volumeOf(int fd) {
    constexpr long exfatMagic = 0x2011BAB0;
    Directory::Volume volume;
    struct statfs fs {};
    struct stat st {};
    if (::fstatfs(fd, &fs) != 0 || ::fstat(fd, &st) != 0)
        return volume;
    volume.device = st.st_dev;
    const QByteArray driver = fs.f_type == FUSE_SUPER_MAGIC ? fuseDriver(st.st_dev) : "";
    volume.coarseTimes = fs.f_type == MSDOS_SUPER_MAGIC || driver == "fuse.fusefat";
    // FUSE, NFS, SMB (both magics), 9p, AFS, Ceph and Coda.
    constexpr long remoteMagics[] = {FUSE_SUPER_MAGIC, NFS_SUPER_MAGIC,  SMB_SUPER_MAGIC,
                                     long(0xFF534D42), long(0xFE534D42), V9FS_MAGIC,
                                     AFS_SUPER_MAGIC,  0x00C36400,       CODA_SUPER_MAGIC};
    volume.flushedByFile = fs.f_type == FUSE_SUPER_MAGIC;
    volume.remote = std::find(std::begin(remoteMagics), std::end(remoteMagics), long(fs.f_type)) !=
                    std::end(remoteMagics);
    volume.foldsPerFolder =
        fs.f_type == EXT4_SUPER_MAGIC || fs.f_type == F2FS_SUPER_MAGIC || fs.f_type == TMPFS_MAGIC;
    volume.ignoresCase = volume.coarseTimes || fs.f_type == exfatMagic || driver.contains("exfat");
    const bool exact =
        volume.foldsPerFolder || fs.f_type == BTRFS_SUPER_MAGIC || fs.f_type == XFS_SUPER_MAGIC;
    volume.keepsOwners = exact;
    if (!volume.ignoresCase && !exact)
        volume.caseProbe = std::make_shared<Directory::CaseProbe>();
    return volume;
}

} // namespace

Directory Directory::failed(int32_t error, std::string path) {
    Directory d;
    d.m_error = error;
    d.m_path = std::move(path);
    return d;
}

OwnedFd& OwnedFd::operator=(OwnedFd&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
    }
    return *this;
}

OwnedFd::~OwnedFd() {
    if (m_fd >= 0)
        ::close(m_fd);
}

std::string Directory::pathOf(const std::string& name) const {
    if (!m_path.empty() && m_path.back() == '/')
        return m_path + name;
    return m_path + '/' + name;
}

void Directory::require() const {
    if (fd() < 0)
        raiseError(m_error ? m_error : ErrPathNotFound);
}

bool Directory::hasDefaultAcl() const {
    if (!m_defaultAcl)
        m_defaultAcl = ::fgetxattr(fd(), "system.posix_acl_default", nullptr, 0) > 0;
    return *m_defaultAcl;
}

std::optional<Directory::Identity> Directory::identity() const {
    struct statx sx {};
    if (!m_identity && fd() >= 0 &&
        ::statx(fd(), "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_INO, &sx) == 0 &&
        (sx.stx_mask & STATX_INO))
        m_identity = Identity{makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino};
    return m_identity;
}

bool Directory::foldsHere() const {
    if (!m_folds) {
        int flags = 0;
        m_folds = volume().foldsPerFolder && ::ioctl(fd(), FS_IOC_GETFLAGS, &flags) == 0 &&
                  (flags & FS_CASEFOLD_FL);
    }
    return *m_folds;
}

bool Directory::ignoresCase() const {
    const Volume& v = volume();
    if (v.ignoresCase || foldsHere())
        return true;
    if (!v.caseProbe)
        return false;
    std::call_once(v.caseProbe->asked,
                   [&] { v.caseProbe->folds = FileSystem::get().foldsCase(*this); });
    return v.caseProbe->folds;
}

const Directory::Volume& Directory::volume() const {
    if (!m_volume)
        m_volume = fd() >= 0 ? volumeOf(fd()) : Volume{};
    return *m_volume;
}

void Directory::learnFrom(const Directory& parent) {
    // A folder on its parent's volume is known by it: on a share, asking
    // the volume costs a round trip a folder. The device is the one the
    // kernel holds, whatever the server's attributes say; the same answer
    // gives the folder's identity, and the access that a mirror takes.
    constexpr unsigned access = STATX_MODE | STATX_UID | STATX_GID;
    struct statx sx {};
    if (parent.m_volume && ::statx(fd(), "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC,
                                   STATX_TYPE | STATX_INO | access, &sx) == 0) {
        const dev_t device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
        if (sx.stx_mask & STATX_INO)
            m_identity = Directory::Identity{device, sx.stx_ino};
        if ((sx.stx_mask & access) == access)
            m_accessWhenOpened = Access{sx.stx_mode, sx.stx_uid, sx.stx_gid};
        if (device == parent.m_volume->device)
            m_volume = parent.m_volume;
    }
}

} // namespace platform
