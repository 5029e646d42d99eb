#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/files.h"
#include "platform/temporarynames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

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
        // The length the source has now, trailing hole included. Only a
        // trailing hole needs it set; a volume that will not extend a file
        // so (FAT through FUSE) takes a last zero byte instead.
        const off_t end = ::lseek(in, 0, SEEK_END);
        struct stat copy {};
        if (end < 0 || ::fstat(out, &copy) != 0)
            raiseErrno(errno, Missing::File);
        const off_t length = std::max<off_t>(end, done);
        if (copy.st_size != length && ::ftruncate(out, length) != 0 &&
            !(errno == EPERM && length > copy.st_size && ::pwrite(out, "", 1, length - 1) == 1))
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
    const Fd staging{::openat(topFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)};
    if (staging.fd >= 0)
        forEachEntry(staging.fd, [&](const dirent64& e) {
            if (std::string_view(e.d_name).starts_with(FileSystem::temporaryPrefix))
                ::unlinkat(staging.fd, e.d_name, 0);
        });
    ::unlinkat(topFd, name, AT_REMOVEDIR);
}

} // namespace

Directory FileSystem::makeStaging(const Directory& top, std::string& name) {
    const KeepRecordedError kept;
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
    // Both times: a driver may drop a modification time sent alone
    // (exFAT through FUSE keeps the copy's own time then).
    const struct timespec times[2] = {st.st_atim, st.st_mtim};
    if (setTimes(out.fd, times) != 0)
        raiseErrno(errno, Missing::File);
    // The run's flush at its end would never reach a FUSE driver (a stick
    // through FUSE would keep the copies in its memory): each goes on its
    // own. A driver that does not flush at all says so, and has nothing to.
    if (into.volume().flushedByFile && ::fsync(out.fd) != 0 && errno != ENOSYS && errno != EINVAL &&
        errno != EOPNOTSUPP)
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
    const size_t prefix = std::strlen(temporaryPrefix);
    const time_t now = ::time(nullptr);
    // Best effort: a folder that cannot be read fails the copy itself.
    forEachEntry(dir.fd(), [&](const dirent64& e) {
        const std::string_view name(e.d_name);
        struct stat st {};
        if (!name.starts_with(temporaryPrefix) || !name.ends_with(".tmp") ||
            name.size() <= prefix + 4 ||
            ::fstatat(dir.fd(), e.d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
            !(S_ISREG(st.st_mode) || S_ISDIR(st.st_mode)))
            return;
        // A copy's name is reserved before its file exists, so one listed
        // here is either reserved still or gone (placed, or dropped).
        bool ours = false;
        {
            const std::lock_guard lock(m_mutex);
            ours = std::any_of(m_temporaryFiles.begin(), m_temporaryFiles.end(),
                               [&](const TemporaryFile& t) { return t.name == name; });
        }
        if (ours || !abandoned(name, st, now))
            return;
        if (S_ISDIR(st.st_mode))
            removeStagingAt(dir.fd(), e.d_name);
        else
            ::unlinkat(dir.fd(), e.d_name, 0);
    });
}

void FileSystem::removeTemporaryFiles() {
    const std::lock_guard lock(m_mutex);
    // The files first, then the staging folders that held them.
    for (auto t = m_temporaryFiles.rbegin(); t != m_temporaryFiles.rend(); ++t)
        if (::unlinkat(t->dirFd, t->name.c_str(), 0) != 0 && errno == EISDIR)
            ::unlinkat(t->dirFd, t->name.c_str(), AT_REMOVEDIR);
    m_temporaryFiles.clear();
}

} // namespace platform
