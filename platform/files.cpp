#include "platform/files.h"
#include "platform/errors.h"
#include "platform/mounttable.h"
#include "platform/temporarynames.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <map>
#include <sys/ioctl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace platform {

namespace {

FileSystem*& installedFileSystem() {
    static FileSystem* fs = nullptr;
    return fs;
}

FileInfo infoOf(const struct stat& st) {
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

// Whether the permission bits grant this process read access: the owner's
// bits to the owner, the group's to a member, the others' to the rest.
bool readableByMode(const struct stat& st) {
    static const uid_t user = ::geteuid();
    static const std::vector<gid_t> groups = [] {
        std::vector<gid_t> ids(size_t(std::max(::getgroups(0, nullptr), 0)) + 1);
        const int n = ::getgroups(int(ids.size()) - 1, ids.data());
        ids.resize(size_t(std::max(n, 0)));
        ids.push_back(::getegid());
        return ids;
    }();
    if (st.st_uid == user)
        return st.st_mode & S_IRUSR;
    if (std::find(groups.begin(), groups.end(), st.st_gid) != groups.end())
        return st.st_mode & S_IRGRP;
    return st.st_mode & S_IROTH;
}

bool isHidden(const char* name) {
    return name[0] == '.';
}

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
    volume.remote = std::find(std::begin(remoteMagics), std::end(remoteMagics), long(fs.f_type)) !=
                    std::end(remoteMagics);
    volume.foldsPerFolder =
        fs.f_type == EXT4_SUPER_MAGIC || fs.f_type == F2FS_SUPER_MAGIC || fs.f_type == TMPFS_MAGIC;
    volume.ignoresCase = volume.coarseTimes || fs.f_type == exfatMagic || driver.contains("exfat");
    const bool exact =
        volume.foldsPerFolder || fs.f_type == BTRFS_SUPER_MAGIC || fs.f_type == XFS_SUPER_MAGIC;
    if (!volume.ignoresCase && !exact)
        volume.caseProbe = std::make_shared<Directory::CaseProbe>();
    return volume;
}

// The folder's own case folding, on a volume where folders have one.
Directory::Volume withFolding(Directory::Volume volume, int fd) {
    int flags = 0;
    if (volume.foldsPerFolder)
        volume.ignoresCase = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & FS_CASEFOLD_FL);
    return volume;
}

// The mask that creating a file applies to its bits, read at the first copy:
// the program sets it, if at all, before it copies anything.
mode_t processUmask() {
    static const mode_t mask = [] {
        const mode_t m = ::umask(0); // reading it means setting it
        ::umask(m);
        return m;
    }();
    return mask;
}

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
struct stat regularFile(const Fd& f) {
    if (f.fd < 0)
        raiseErrno(errno, Missing::File);
    struct stat st {};
    if (::fstat(f.fd, &st) != 0)
        raiseErrno(errno, Missing::File);
    if (!S_ISREG(st.st_mode))
        raiseError(ErrPathFileAccess);
    return st;
}

} // namespace

// The file service knows a temporary file while it exists, so that a program
// ending in the middle of the copy can remove it too.
void PreparedCopy::reserve(std::string name) {
    m_name = std::move(name);
    const std::lock_guard lock(m_fs->m_mutex);
    m_fs->m_temporaryFiles.push_back({m_dirFd, m_name});
}

void PreparedCopy::forget() {
    if (m_name.empty())
        return;
    m_fs->forgetTemporary(m_dirFd, m_name);
    m_name.clear();
}

PreparedCopy::PreparedCopy(PreparedCopy&& other) noexcept
    : m_fs(other.m_fs), m_dirFd(other.m_dirFd),
      m_name(std::exchange(other.m_name, {})), m_times{other.m_times[0], other.m_times[1]} {}

PreparedCopy& PreparedCopy::operator=(PreparedCopy&& other) noexcept {
    if (this != &other) {
        drop();
        m_fs = other.m_fs;
        m_dirFd = other.m_dirFd;
        m_name = std::exchange(other.m_name, {});
        m_times[0] = other.m_times[0];
        m_times[1] = other.m_times[1];
    }
    return *this;
}

PreparedCopy::~PreparedCopy() {
    drop();
}

void PreparedCopy::drop() {
    if (!m_name.empty())
        ::unlinkat(m_dirFd, m_name.c_str(), 0);
    forget();
}

Directory Directory::failed(int32_t error, std::string path) {
    Directory d;
    d.m_error = error;
    d.m_path = std::move(path);
    return d;
}

Directory::~Directory() {
    if (m_fd >= 0)
        ::close(m_fd);
}

Directory::Directory(Directory&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1)), m_error(other.m_error), m_path(std::move(other.m_path)),
      m_volume(other.m_volume), m_identity(other.m_identity), m_made(other.m_made),
      m_leftoversRemoved(other.m_leftoversRemoved), m_defaultAcl(other.m_defaultAcl) {}

Directory& Directory::operator=(Directory&& other) noexcept {
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_error = other.m_error;
        m_path = std::move(other.m_path);
        m_volume = other.m_volume;
        m_identity = other.m_identity;
        m_made = other.m_made;
        m_leftoversRemoved = other.m_leftoversRemoved;
        m_defaultAcl = other.m_defaultAcl;
    }
    return *this;
}

std::string Directory::pathOf(const std::string& name) const {
    if (!m_path.empty() && m_path.back() == '/')
        return m_path + name;
    return m_path + '/' + name;
}

void Directory::require() const {
    if (m_fd < 0)
        raiseError(m_error ? m_error : ErrPathNotFound);
}

bool Directory::hasDefaultAcl() const {
    if (!m_defaultAcl)
        m_defaultAcl = ::fgetxattr(m_fd, "system.posix_acl_default", nullptr, 0) > 0;
    return *m_defaultAcl;
}

std::optional<Directory::Identity> Directory::identity() const {
    struct statx sx {};
    if (!m_identity && m_fd >= 0 &&
        ::statx(m_fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_INO, &sx) == 0 &&
        (sx.stx_mask & STATX_INO))
        m_identity = Identity{makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino};
    return m_identity;
}

bool Directory::ignoresCase() const {
    const Volume& v = volume();
    if (v.ignoresCase || !v.caseProbe)
        return v.ignoresCase;
    std::call_once(v.caseProbe->asked,
                   [&] { v.caseProbe->folds = FileSystem::get().foldsCase(*this); });
    return v.caseProbe->folds;
}

const Directory::Volume& Directory::volume() const {
    if (!m_volume)
        m_volume = m_fd >= 0 ? withFolding(volumeOf(m_fd), m_fd) : Volume{};
    return *m_volume;
}

bool matchesEveryName(const QString& pattern) {
    return pattern.isEmpty() || pattern == QLatin1String("*.*") || pattern == QLatin1String("*");
}

bool matchesPattern(const QString& name, const QString& pattern) {
    if (matchesEveryName(pattern))
        return true;
    // Greedy match with one backtrack point per "*", case-insensitive.
    qsizetype n = 0, p = 0, star = -1, mark = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == QLatin1Char('?') ||
                                   pattern[p].toCaseFolded() == name[n].toCaseFolded())) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == QLatin1Char('*')) {
            star = p++;
            mark = n;
        } else if (star >= 0) {
            p = star + 1;
            n = ++mark;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == QLatin1Char('*'))
        ++p;
    // "NAME.*" also matches "NAME", as on the command line.
    if (p + 2 == pattern.size() && pattern[p] == QLatin1Char('.') &&
        pattern[p + 1] == QLatin1Char('*'))
        return true;
    return p == pattern.size();
}

FileSystem& FileSystem::get() {
    static FileSystem host;
    FileSystem* fs = installedFileSystem();
    return fs ? *fs : host;
}

void FileSystem::install(FileSystem* fs) {
    installedFileSystem() = fs;
}

Directory FileSystem::openDirectory(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        raiseErrno(errno, Missing::Path);
    return Directory(fd, path);
}

Directory FileSystem::openDirectory(const Directory& parent, const std::string& name) {
    parent.require();
    // Never through a link: a link in the tree must not lead out of it.
    const int fd =
        ::openat(parent.fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        raiseErrno(errno == ELOOP ? ENOTDIR : errno, Missing::Path);
    Directory child(fd, parent.pathOf(name));
    // A folder on its parent's volume is known by it: on a share, asking
    // the volume costs a round trip a folder. The device is the one the
    // kernel holds, whatever the server's attributes say; the same answer
    // gives the folder's identity.
    struct statx sx {};
    if (parent.m_volume &&
        ::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_TYPE | STATX_INO, &sx) == 0) {
        const dev_t device = makedev(sx.stx_dev_major, sx.stx_dev_minor);
        if (sx.stx_mask & STATX_INO)
            child.m_identity = Directory::Identity{device, sx.stx_ino};
        if (device == parent.m_volume->device)
            child.m_volume = withFolding(*parent.m_volume, fd);
    }
    return child;
}

Directory FileSystem::tryOpenDirectory(const std::string& path) {
    const RecordedError saved = Err();
    try {
        return openDirectory(path);
    } catch (const Failure& f) {
        Err() = saved;
        return Directory::failed(f.number, path);
    }
}

Directory FileSystem::tryOpenDirectory(const Directory& parent, const std::string& name) {
    const RecordedError saved = Err();
    try {
        return openDirectory(parent, name);
    } catch (const Failure& f) {
        Err() = saved;
        return Directory::failed(f.number, parent.pathOf(name));
    }
}

Directory FileSystem::openOrMakeDirectory(const Directory& parent, const std::string& name) {
    parent.require();
    bool made = false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const int fd =
            ::openat(parent.fd(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) {
            Directory folder(fd, parent.pathOf(name));
            if (made)
                folder.markMade();
            return folder;
        }
        if (errno == ENOTDIR || errno == ELOOP)
            raiseError(ErrPathFileAccess); // a file or a link where the folder belongs
        if (errno != ENOENT)
            raiseErrno(errno, Missing::Path);
        // Private until it takes its source's access (mirrorAccess).
        made = ::mkdirat(parent.fd(), name.c_str(), 0700) == 0;
        if (!made && errno != EEXIST)
            raiseErrno(errno, Missing::Path);
    }
    raiseError(ErrPathNotFound); // made, and gone again at once
}

namespace {

// The folder at `path` or, where it is missing, its nearest existing parent,
// opened as a path handle; -1 when not even the root is there.
int nearestFolder(std::string path) {
    Fd at{::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)};
    while (at.fd < 0 && (errno == ENOENT || errno == ENOTDIR)) {
        const size_t cut = path.find_last_of('/');
        if (cut == std::string::npos || path == "/")
            return -1;
        path.resize(std::max<size_t>(cut, 1));
        at.fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    }
    if (at.fd < 0)
        raiseErrno(errno, Missing::Path);
    return at.release();
}

// Whether walking up through the real parents of `from` meets `top`. The
// walk leaves a mount at its root, so it misses a folder reached through a
// bind mount of a folder below `top`; it needs nothing but the folders.
bool walksUpTo(int from, const struct stat& top) {
    Fd held; // the folder in hand once past `from`
    for (int at = from;;) {
        struct stat here {};
        if (::fstat(at, &here) != 0)
            raiseErrno(errno, Missing::Path);
        if (here.st_dev == top.st_dev && here.st_ino == top.st_ino)
            return true;
        Fd up{::openat(at, "..", O_PATH | O_DIRECTORY | O_CLOEXEC)};
        struct stat parent {};
        if (up.fd < 0 || ::fstat(up.fd, &parent) != 0)
            raiseErrno(errno, Missing::Path);
        if (parent.st_dev == here.st_dev && parent.st_ino == here.st_ino)
            return false; // the root, its own parent
        std::swap(held.fd, up.fd);
        at = held.fd;
    }
}

} // namespace

bool FileSystem::isWithin(const std::string& inner, const Directory& outer) {
    outer.require();
    struct stat top {};
    if (::fstat(outer.fd(), &top) != 0)
        raiseErrno(errno, Missing::Path);
    const Fd at{nearestFolder(inner)};
    if (at.fd < 0)
        return false;
    if (walksUpTo(at.fd, top))
        return true;
    // Through any mount: the two folders' places within their file systems.
    const std::vector<MountEntry> table = parseMountInfo(mountInfoText());
    const auto place = placeInFileSystem(at.fd, table);
    const auto source = placeInFileSystem(outer.fd(), table);
    return place && source && isBelow(*place, *source);
}

std::vector<DirEntry> FileSystem::list(const Directory& dir, const QString& pattern, int mask) {
    dir.require();
    const int fd = ::openat(dir.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        raiseErrno(errno, Missing::Path);
    DIR* d = ::fdopendir(fd);
    if (!d) {
        const int err = errno;
        ::close(fd);
        raiseErrno(err, Missing::Path);
    }
    const bool everything = matchesEveryName(pattern);
    const bool withDirectories = mask & AttrDirectory;
    std::vector<DirEntry> entries;
    errno = 0;
    while (dirent* e = ::readdir(d)) {
        const bool dots = !std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, "..");
        if (isHidden(e->d_name) && !(dots && withDirectories))
            continue;
        unsigned char type = e->d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(dir.fd(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue; // gone since the directory was read
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type != DT_REG && !(type == DT_DIR && withDirectories))
            continue;
        if (!everything && !matchesPattern(QFile::decodeName(e->d_name), pattern))
            continue;
        entries.push_back(DirEntry{e->d_name, type == DT_DIR});
    }
    const int err = errno;
    ::closedir(d);
    if (err)
        raiseErrno(err, Missing::Path);
    return entries;
}

FileInfo FileSystem::attributes(const Directory& dir, const std::string& name) {
    dir.require();
    struct stat st {};
    if (::fstatat(dir.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        raiseErrno(errno, Missing::File);
    return infoOf(st);
}

FileInfo FileSystem::probe(const Directory& dir, const std::string& name) {
    dir.require();
    // One stat answers for a regular file whose mode lets this process read
    // it; any other entry is opened, so that a refusal is the system's own
    // answer. Most files of a rerun thus cost one call instead of three.
    struct stat st {};
    if (::fstatat(dir.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        raiseErrno(errno, Missing::File);
    if (S_ISREG(st.st_mode) && readableByMode(st))
        return infoOf(st);
    // Non-blocking, so that a FIFO by that name cannot hang the run.
    const Fd f{::openat(dir.fd(), name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    return infoOf(regularFile(f));
}

bool FileSystem::makeDirectory(const Directory& parent, const std::string& name) {
    parent.require();
    // Private until it takes its source's access (mirrorAccess).
    if (::mkdirat(parent.fd(), name.c_str(), 0700) == 0)
        return true;
    const int err = errno;
    struct stat st {};
    if (err == EEXIST && ::fstatat(parent.fd(), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISDIR(st.st_mode))
        return false; // made meanwhile by another run
    raiseErrno(err, Missing::Path);
}

bool FileSystem::asksAhead(const Directory& source, const Directory& destination) {
    return source.remote() || destination.remote();
}

void FileSystem::flush(const Directory& dir) {
    dir.require();
    if (syncVolume(dir.fd()) != 0)
        raiseError(ErrDeviceIO);
}

ssize_t FileSystem::transfer(int in, int out, size_t count, bool& kernelCopy) {
    if (kernelCopy) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, count, 0);
        if (n >= 0)
            return n;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP &&
            errno != EBADF)
            return -1;
        kernelCopy = false;
    }
    const ssize_t n = ::sendfile(out, in, nullptr, count);
    if (n >= 0 || (errno != EINVAL && errno != ENOSYS))
        return n;
    // Last resort: a plain read and write.
    char buffer[64 * 1024];
    const ssize_t got = ::read(in, buffer, std::min(count, sizeof buffer));
    if (got <= 0)
        return got;
    for (ssize_t done = 0; done < got;) {
        const ssize_t put = ::write(out, buffer + done, size_t(got - done));
        if (put < 0)
            return -1;
        done += put;
    }
    return got;
}

int FileSystem::setTimes(int fd, const struct timespec times[2]) {
    return ::futimens(fd, times);
}

int FileSystem::syncVolume(int fd) {
    return ::syncfs(fd);
}

bool FileSystem::copyData(int in, int out, const struct stat& st, const Progress& progress) {
    // Small files go in one request; with a progress window, in steps.
    const size_t step = progress ? size_t(8) << 20 : size_t(1) << 30;
    const int64_t total = st.st_size;
    int64_t done = 0;
    bool kernelCopy = true;
    // A file with fewer blocks than its length has holes: only its data is
    // moved, so that the copy keeps the holes and a mostly empty disk image
    // takes neither the time nor the space of its length.
    bool sparse = int64_t(st.st_blocks) * 512 < total;
    int64_t dataEnd = 0;
    if (progress && !progress(0, total))
        return false;
    for (;;) {
        if (sparse && done == dataEnd) {
            const off_t data = ::lseek(in, done, SEEK_DATA);
            const off_t hole = data < 0 ? data : ::lseek(in, data, SEEK_HOLE);
            if (data < 0 && errno == ENXIO)
                break; // nothing but a hole up to the end
            if (hole < 0 || ::lseek(in, data, SEEK_SET) < 0 || ::lseek(out, data, SEEK_SET) < 0) {
                if (errno != EINVAL || ::lseek(in, done, SEEK_SET) < 0)
                    raiseErrno(errno, Missing::File);
                sparse = false; // holes unknown here: copy every byte
                continue;
            }
            done = data;
            dataEnd = hole;
        }
        // A file read to its known length is done without the read that
        // finds its end: one that grew meanwhile is seen changed and copied
        // again.
        if (!sparse && done >= total)
            break;
        const size_t count =
            sparse ? size_t(std::min<int64_t>(int64_t(step), dataEnd - done)) : step;
        const ssize_t n = transfer(in, out, count, kernelCopy);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            raiseErrno(errno, Missing::File);
        if (n == 0)
            break;
        done += n;
        if (progress && !progress(done, total))
            return false;
    }
    if (sparse) {
        // The length the source has now, trailing hole included.
        const off_t end = ::lseek(in, 0, SEEK_END);
        if (end < 0 || ::ftruncate(out, std::max<off_t>(end, done)) != 0)
            raiseErrno(errno, Missing::File);
    }
    return true;
}

namespace {

// Whether a file was written to between two stats of its open handle.
bool changed(const struct stat& before, const struct stat& after) {
    const auto same = [](const timespec& a, const timespec& b) {
        return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
    };
    return before.st_size != after.st_size || !same(before.st_mtim, after.st_mtim) ||
           !same(before.st_ctim, after.st_ctim);
}

} // namespace

bool FileSystem::copyFile(const Directory& fromDir, const std::string& from, const Directory& toDir,
                          const std::string& to, const Progress& progress) {
    std::optional<PreparedCopy> copy = prepareCopy(fromDir, from, toDir, progress);
    if (!copy)
        return false;
    placeCopy(*copy, toDir, to);
    return true;
}

namespace {

// The temporary files in a staging folder, and the folder.
void removeStagingAt(int topFd, const char* name) {
    const int fd = ::openat(topFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (DIR* d = fd < 0 ? nullptr : ::fdopendir(fd)) {
        while (dirent* e = ::readdir(d))
            if (std::string_view(e->d_name).starts_with(FileSystem::temporaryPrefix))
                ::unlinkat(fd, e->d_name, 0);
        ::closedir(d);
    } else if (fd >= 0) {
        ::close(fd);
    }
    ::unlinkat(topFd, name, AT_REMOVEDIR);
}

} // namespace

Directory FileSystem::makeStaging(const Directory& top, std::string& name) {
    const RecordedError saved = Err();
    try {
        top.require();
        if (claimLeftovers(top))
            removeLeftovers(top); // a killed run's staging folders with the rest
        for (int attempt = 0;; ++attempt) {
            name = temporaryName();
            {
                const std::lock_guard lock(m_mutex); // no scan beside it takes it
                m_temporaryFiles.push_back({top.fd(), name});
            }
            if (::mkdirat(top.fd(), name.c_str(), 0700) == 0)
                break;
            const int error = errno;
            forgetTemporary(top.fd(), name);
            name.clear(); // another's, if it exists: not to be removed
            if (error != EEXIST || attempt > 16)
                raiseErrno(error, Missing::Path);
        }
        Directory staging = openDirectory(top, name);
        staging.volume(); // known before copies on other threads ask
        return staging;
    } catch (const Failure& f) {
        Err() = saved;
        if (!name.empty()) {
            removeStaging(top, name);
            name.clear();
        }
        return Directory::failed(f.number, {});
    }
}

void FileSystem::removeStaging(const Directory& top, const std::string& name) {
    if (top.fd() < 0 || name.empty())
        return;
    // Empty once every copy in it is placed or dropped: then one round trip.
    if (::unlinkat(top.fd(), name.c_str(), AT_REMOVEDIR) != 0)
        removeStagingAt(top.fd(), name.c_str());
    forgetTemporary(top.fd(), name);
}

void FileSystem::forgetTemporary(int dirFd, const std::string& name) {
    const std::lock_guard lock(m_mutex);
    std::erase_if(m_temporaryFiles,
                  [&](const TemporaryFile& t) { return t.dirFd == dirFd && t.name == name; });
}

std::optional<PreparedCopy> FileSystem::prepareCopy(const Directory& fromDir,
                                                    const std::string& from, const Directory& toDir,
                                                    const Progress& progress,
                                                    const Directory* staging) {
    fromDir.require();
    // Non-blocking, so that a pipe put in the file's place cannot hang the
    // run; a file under another's lease (a file server's) waits for its break.
    Fd in{::openat(fromDir.fd(), from.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (in.fd < 0 && errno == EWOULDBLOCK)
        in.fd = ::openat(fromDir.fd(), from.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st = regularFile(in);

    toDir.require();
    if (claimLeftovers(toDir))
        removeLeftovers(toDir);
    // Made beside the destination, or in a staging folder on its volume.
    const Directory& into =
        staging && staging->fd() >= 0 && staging->volume().device == toDir.volume().device
            ? *staging
            : toDir;
    bool defaultAcl = false;
    {
        const std::lock_guard lock(m_mutex); // copies into one folder may run at once
        defaultAcl = into.hasDefaultAcl();
    }
    PreparedCopy copy(*this, into.fd());
    Fd out;
    for (int attempt = 0; out.fd < 0; ++attempt) {
        const std::string name = temporaryName();
        copy.reserve(name);
        out.fd = ::openat(into.fd(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC,
                          st.st_mode & 0777);
        if (out.fd >= 0)
            continue;
        const int error = errno;
        copy.forget(); // not ours: an EEXIST name stays as it is
        if (error != EEXIST || attempt > 16)
            raiseErrno(error, Missing::Path); // the folder itself is gone
    }

    // A source written to while it was read would give a copy of no version
    // at all: it is read again from the start.
    for (int attempt = 0;; ++attempt) {
        if (!copyData(in.fd, out.fd, st, progress))
            return std::nullopt;
        struct stat now {};
        if (::fstat(in.fd, &now) != 0)
            raiseErrno(errno, Missing::File);
        if (!changed(st, now))
            break;
        if (attempt == tornCopyRetries)
            raiseError(ErrPathFileAccess);
        st = now;
        if (::ftruncate(out.fd, 0) != 0 || ::lseek(in.fd, 0, SEEK_SET) < 0 ||
            ::lseek(out.fd, 0, SEEK_SET) < 0)
            raiseErrno(errno, Missing::File);
    }

    // The umask or the folder's default ACL may have taken bits the source
    // has. A file system without permission bits (FAT through FUSE) refuses
    // them; the data and the time are what a backup needs.
    const mode_t bits = st.st_mode & 0777;
    if (((bits & ~processUmask()) != bits || defaultAcl) && ::fchmod(out.fd, bits) != 0 &&
        errno != EPERM && errno != ENOSYS && errno != EOPNOTSUPP)
        raiseErrno(errno, Missing::File);
    // The time goes on before the rename, so the destination never shows a
    // complete file with a wrong time.
    copy.m_times[0] = st.st_atim;
    copy.m_times[1] = st.st_mtim;
    const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
    if (setTimes(out.fd, times) != 0)
        raiseErrno(errno, Missing::File);
    // close() is where a network or full volume may report a lost write.
    if (::close(out.release()) != 0)
        raiseErrno(errno, Missing::File);
    return copy;
}

namespace {

// A copy that could not be placed: what is missing is the copy or the
// folder, never the source.
[[noreturn]] void raiseNotPlaced(int err, const Directory& toDir) {
    if (err != ENOENT)
        raiseErrno(err, Missing::File);
    struct stat folder {};
    const bool folderGone = ::fstat(toDir.fd(), &folder) == 0 && folder.st_nlink == 0;
    raiseError(folderGone ? ErrPathNotFound : ErrPathFileAccess);
}

} // namespace

void FileSystem::placeCopy(PreparedCopy& copy, const Directory& toDir, const std::string& to) {
    if (::renameat(copy.m_dirFd, copy.m_name.c_str(), toDir.fd(), to.c_str()) != 0)
        raiseNotPlaced(errno, toDir);
    copy.forget();
    // FAT through FUSE stamps a renamed file anew and ignores a modification
    // time that comes alone: there both times go on again, by name.
    if (toDir.keepsCoarseTimes() &&
        ::utimensat(toDir.fd(), to.c_str(), copy.m_times, AT_SYMLINK_NOFOLLOW) != 0)
        raiseNotPlaced(errno, toDir);
}

bool FileSystem::claimLeftovers(const Directory& dir) {
    const std::lock_guard lock(m_mutex);
    return !std::exchange(dir.m_leftoversRemoved, true);
}

void FileSystem::removeLeftovers(const Directory& dir) {
    // Best effort: a folder that cannot be read fails the copy itself.
    const int fd = ::openat(dir.fd(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* d = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!d) {
        if (fd >= 0)
            ::close(fd);
        return;
    }
    const size_t prefix = std::strlen(temporaryPrefix);
    const time_t now = ::time(nullptr);
    while (dirent* e = ::readdir(d)) {
        const std::string_view name(e->d_name);
        struct stat st {};
        if (!name.starts_with(temporaryPrefix) || !name.ends_with(".tmp") ||
            name.size() <= prefix + 4 ||
            ::fstatat(dir.fd(), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
            continue;
        // A copy's name is reserved before its file exists, so one listed
        // here is either reserved still or gone (placed, or dropped).
        bool ours = false;
        {
            const std::lock_guard lock(m_mutex);
            ours = std::any_of(m_temporaryFiles.begin(), m_temporaryFiles.end(),
                               [&](const TemporaryFile& t) { return t.name == name; });
        }
        if (ours || !abandoned(name, st, now))
            continue;
        if (S_ISDIR(st.st_mode))
            removeStagingAt(dir.fd(), e->d_name);
        else
            ::unlinkat(dir.fd(), e->d_name, 0);
    }
    ::closedir(d);
}

void FileSystem::removeTemporaryFiles() {
    const std::lock_guard lock(m_mutex);
    // The files first, then the staging folders that held them.
    for (auto t = m_temporaryFiles.rbegin(); t != m_temporaryFiles.rend(); ++t)
        if (::unlinkat(t->dirFd, t->name.c_str(), 0) != 0 && errno == EISDIR)
            ::unlinkat(t->dirFd, t->name.c_str(), AT_REMOVEDIR);
    m_temporaryFiles.clear();
}

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
