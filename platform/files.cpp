#include "platform/files.h"
#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/mounttable.h"

#include <QFile>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

FileSystem*& installedFileSystem() {
    static FileSystem* fs = nullptr;
    return fs;
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

} // namespace

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
    child.learnFrom(parent);
    return child;
}

Directory FileSystem::tryOpenDirectory(const std::string& path) {
    const KeepRecordedError kept;
    try {
        return openDirectory(path);
    } catch (const Failure& f) {
        return Directory::failed(f.number, path);
    }
}

Directory FileSystem::tryOpenDirectory(const Directory& parent, const std::string& name) {
    const KeepRecordedError kept;
    try {
        return openDirectory(parent, name);
    } catch (const Failure& f) {
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
    const bool everything = matchesEveryName(pattern);
    const bool withDirectories = mask & AttrDirectory;
    std::vector<DirEntry> entries;
    const bool read = forEachEntry(dir.fd(), [&](const dirent64& e) {
        const bool dots = !std::strcmp(e.d_name, ".") || !std::strcmp(e.d_name, "..");
        if (isHidden(e.d_name) && !(dots && withDirectories))
            return;
        unsigned char type = e.d_type;
        if (type == DT_UNKNOWN) {
            struct stat st {};
            if (::fstatat(dir.fd(), e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return; // gone since the directory was read
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type != DT_REG && !(type == DT_DIR && withDirectories))
            return;
        if (!everything && !matchesPattern(QFile::decodeName(e.d_name), pattern))
            return;
        entries.push_back(DirEntry{e.d_name, type == DT_DIR});
    });
    if (!read)
        raiseErrno(errno, Missing::Path);
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

int FileSystem::syncVolume(int fd) {
    return ::syncfs(fd);
}

} // namespace platform
