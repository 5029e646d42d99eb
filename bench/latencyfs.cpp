// latencyfs: a folder seen through FUSE, every operation delayed as if it
// crossed a network to a file server. The benchmark puts its destinations
// on it to time the tools against a share:
//
//   latencyfs --delay-ms 1 [--ignore-case] BACKING MOUNTPOINT [-o option,...]
//
// It stays in the foreground until the mount is unmounted. The tests mount
// it with --ignore-case as a share to a Windows server, whose type does not
// tell that it matches names without regard to case.
//
// Requests are served by several threads at once, each waiting out its own
// delay, as a server answers several clients' round trips in parallel; a
// program that asks one question at a time pays the delay for each.
// copy_file_range is left out, as on most shares: the kernel then refuses
// it and a copying program must fall back to read and write.
//
// With --stick it stands for a FAT stick pulled out without ejecting, at
// its worst, for the tests: no change time is kept (FAT has none; the
// modification time stands in), and on SIGUSR1 the data written to each file
// since its last fsync is lost, replaced by zeros of the same length with its
// times kept, as on a stick that got the directory entries and not the data;
// then "pulled" goes to standard output. Only fsync keeps data: the kernel
// tells no FUSE driver of a syncfs (only virtiofs hears of it).

#define FUSE_USE_VERSION 314
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <linux/fuse.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <string>
#include <strings.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/uio.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

int g_base = -1; // the backing folder
std::chrono::nanoseconds g_delay{0};
bool g_ignoreCase = false; // names resolved without regard to case
bool g_stick = false;      // a FAT stick pulled out without ejecting

// With --stick: the files written since their last fsync, each by a
// descriptor of its own that outlives the caller's.
std::mutex g_unflushedMutex;
std::map<std::pair<dev_t, ino_t>, int> g_unflushed;

void written(int fd) {
    struct stat st {};
    if (!g_stick || ::fstat(fd, &st) != 0)
        return;
    const std::lock_guard lock(g_unflushedMutex);
    if (const auto [file, added] = g_unflushed.try_emplace({st.st_dev, st.st_ino}, -1); added)
        file->second = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
}

void flushed(int fd) {
    struct stat st {};
    if (!g_stick || ::fstat(fd, &st) != 0)
        return;
    const std::lock_guard lock(g_unflushedMutex);
    if (const auto file = g_unflushed.find({st.st_dev, st.st_ino}); file != g_unflushed.end()) {
        ::close(file->second);
        g_unflushed.erase(file);
    }
}

// The stick pulled out: what was not flushed reads as zeros.
void pull() {
    const std::lock_guard lock(g_unflushedMutex);
    for (const auto& [id, fd] : g_unflushed) {
        struct stat st {};
        if (fd >= 0 && ::fstat(fd, &st) == 0 && ::ftruncate(fd, 0) == 0 &&
            ::ftruncate(fd, st.st_size) == 0) {
            const timespec times[2] = {st.st_atim, st.st_mtim};
            ::futimens(fd, times);
        }
        ::close(fd);
    }
    g_unflushed.clear();
    std::puts("pulled");
    std::fflush(stdout);
}

// Every operation starts with the round trip.
void roundTrip() {
    if (g_delay.count() > 0)
        std::this_thread::sleep_for(g_delay);
}

// The entry of `folder` (relative to the backing folder) whose name differs
// from `name` only in case; `name` itself when there is none.
std::string caseless(const std::string& folder, const std::string& name) {
    const int fd = ::openat(g_base, folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0)
            ::close(fd);
        return name;
    }
    std::string found = name;
    while (const dirent* e = ::readdir(dir))
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            break;
        }
    ::closedir(dir);
    return found;
}

// The high-level interface names files by absolute paths of the mount;
// they are looked up relative to the backing folder. With --ignore-case a
// name that no entry has exactly is taken for the entry whose name differs
// only in case, as a Windows server resolves names: creating "NOTAS.TXT"
// beside "notas.txt" opens the one file.
std::string rel(const char* path) {
    if (!path[1])
        return ".";
    if (!g_ignoreCase)
        return path + 1;
    std::string resolved;
    for (const char* part = path + 1; *part;) {
        const char* end = std::strchr(part, '/');
        const std::string name(part, end ? size_t(end - part) : std::strlen(part));
        const std::string folder = resolved.empty() ? "." : resolved;
        const std::string exact = resolved.empty() ? name : resolved + '/' + name;
        struct stat st {};
        const bool present = ::fstatat(g_base, exact.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        resolved =
            present ? exact : (resolved.empty() ? "" : resolved + '/') + caseless(folder, name);
        part = end ? end + 1 : part + name.size();
    }
    return resolved;
}

int result(int r) {
    return r < 0 ? -errno : 0;
}

int lfsGetattr(const char* path, struct stat* st, fuse_file_info* fi) {
    roundTrip();
    const int r = result(fi ? ::fstat(int(fi->fh), st)
                            : ::fstatat(g_base, rel(path).c_str(), st, AT_SYMLINK_NOFOLLOW));
    if (g_stick)
        st->st_ctim = st->st_mtim;
    return r;
}

int lfsAccess(const char* path, int mask) {
    roundTrip();
    return result(::faccessat(g_base, rel(path).c_str(), mask, 0));
}

int lfsReadlink(const char* path, char* buffer, size_t size) {
    roundTrip();
    const ssize_t n = ::readlinkat(g_base, rel(path).c_str(), buffer, size - 1);
    if (n < 0)
        return -errno;
    buffer[n] = 0;
    return 0;
}

int lfsOpendir(const char* path, fuse_file_info* fi) {
    roundTrip();
    const int fd = ::openat(g_base, rel(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    fi->fh = reinterpret_cast<uint64_t>(dir);
    return 0;
}

// The whole folder in one reply: offsets of 0 let the library buffer it.
int lfsReaddir(const char*, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info* fi,
               fuse_readdir_flags) {
    roundTrip();
    DIR* dir = reinterpret_cast<DIR*>(fi->fh);
    ::rewinddir(dir);
    for (errno = 0; const dirent* e = ::readdir(dir); errno = 0) {
        struct stat st {};
        st.st_ino = e->d_ino;
        st.st_mode = mode_t(DTTOIF(e->d_type));
        if (fill(buffer, e->d_name, &st, 0, fuse_fill_dir_flags(0)) != 0)
            return -ENOMEM;
    }
    return -errno;
}

int lfsReleasedir(const char*, fuse_file_info* fi) {
    roundTrip();
    ::closedir(reinterpret_cast<DIR*>(fi->fh));
    return 0;
}

int lfsMkdir(const char* path, mode_t mode) {
    roundTrip();
    return result(::mkdirat(g_base, rel(path).c_str(), mode));
}

int lfsUnlink(const char* path) {
    roundTrip();
    return result(::unlinkat(g_base, rel(path).c_str(), 0));
}

int lfsRmdir(const char* path) {
    roundTrip();
    return result(::unlinkat(g_base, rel(path).c_str(), AT_REMOVEDIR));
}

int lfsSymlink(const char* target, const char* path) {
    roundTrip();
    return result(::symlinkat(target, g_base, rel(path).c_str()));
}

int lfsRename(const char* from, const char* to, unsigned int flags) {
    roundTrip();
    return result(::renameat2(g_base, rel(from).c_str(), g_base, rel(to).c_str(), flags));
}

int lfsLink(const char* from, const char* to) {
    roundTrip();
    return result(::linkat(g_base, rel(from).c_str(), g_base, rel(to).c_str(), 0));
}

int lfsChmod(const char* path, mode_t mode, fuse_file_info* fi) {
    roundTrip();
    return result(fi ? ::fchmod(int(fi->fh), mode)
                     : ::fchmodat(g_base, rel(path).c_str(), mode, 0));
}

int lfsChown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi) {
    roundTrip();
    return result(fi ? ::fchown(int(fi->fh), uid, gid)
                     : ::fchownat(g_base, rel(path).c_str(), uid, gid, AT_SYMLINK_NOFOLLOW));
}

int lfsTruncate(const char* path, off_t size, fuse_file_info* fi) {
    roundTrip();
    if (fi)
        return result(::ftruncate(int(fi->fh), size));
    const int fd = ::openat(g_base, rel(path).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    const int r = result(::ftruncate(fd, size));
    ::close(fd);
    return r;
}

int lfsUtimens(const char* path, const timespec times[2], fuse_file_info* fi) {
    roundTrip();
    return result(fi ? ::futimens(int(fi->fh), times)
                     : ::utimensat(g_base, rel(path).c_str(), times, AT_SYMLINK_NOFOLLOW));
}

int lfsCreate(const char* path, mode_t mode, fuse_file_info* fi) {
    roundTrip();
    const int fd = ::openat(g_base, rel(path).c_str(), fi->flags | O_CLOEXEC, mode);
    if (fd < 0)
        return -errno;
    fi->fh = uint64_t(fd);
    return 0;
}

int lfsOpen(const char* path, fuse_file_info* fi) {
    roundTrip();
    const int fd = ::openat(g_base, rel(path).c_str(), fi->flags | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    fi->fh = uint64_t(fd);
    return 0;
}

int lfsRead(const char*, char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    roundTrip();
    const ssize_t n = ::pread(int(fi->fh), buffer, size, offset);
    return n < 0 ? -errno : int(n);
}

int lfsWrite(const char*, const char* buffer, size_t size, off_t offset, fuse_file_info* fi) {
    roundTrip();
    const ssize_t n = ::pwrite(int(fi->fh), buffer, size, offset);
    if (n < 0)
        return -errno;
    written(int(fi->fh));
    return int(n);
}

int lfsStatfs(const char*, struct statvfs* st) {
    roundTrip();
    return result(::fstatvfs(g_base, st));
}

int lfsFlush(const char*, fuse_file_info*) {
    roundTrip();
    return 0;
}

int lfsRelease(const char*, fuse_file_info* fi) {
    roundTrip();
    ::close(int(fi->fh));
    return 0;
}

int lfsFsync(const char*, int dataOnly, fuse_file_info* fi) {
    roundTrip();
    const int r = result(dataOnly ? ::fdatasync(int(fi->fh)) : ::fsync(int(fi->fh)));
    if (r == 0)
        flushed(int(fi->fh));
    return r;
}

int lfsFallocate(const char*, int mode, off_t offset, off_t length, fuse_file_info* fi) {
    roundTrip();
    return result(::fallocate(int(fi->fh), mode, offset, length));
}

void* lfsInit(fuse_conn_info* conn, fuse_config* config) {
    // Lookups and listings of one folder at once, as a share answers them.
    if (conn->capable & FUSE_CAP_PARALLEL_DIROPS)
        conn->want |= FUSE_CAP_PARALLEL_DIROPS;
    // The kernel may keep what it learnt for the library's default second,
    // as a share's client caches attributes for about that long; but inode
    // numbers are the backing folder's own, so hard links stay visible.
    config->use_ino = 1;
    return nullptr;
}

fuse_operations operations() {
    fuse_operations op{};
    op.getattr = lfsGetattr;
    op.readlink = lfsReadlink;
    op.mkdir = lfsMkdir;
    op.unlink = lfsUnlink;
    op.rmdir = lfsRmdir;
    op.symlink = lfsSymlink;
    op.rename = lfsRename;
    op.link = lfsLink;
    op.chmod = lfsChmod;
    op.chown = lfsChown;
    op.truncate = lfsTruncate;
    op.open = lfsOpen;
    op.read = lfsRead;
    op.write = lfsWrite;
    op.statfs = lfsStatfs;
    op.flush = lfsFlush;
    op.release = lfsRelease;
    op.fsync = lfsFsync;
    op.opendir = lfsOpendir;
    op.readdir = lfsReaddir;
    op.releasedir = lfsReleasedir;
    op.init = lfsInit;
    op.access = lfsAccess;
    op.create = lfsCreate;
    op.utimens = lfsUtimens;
    op.fallocate = lfsFallocate;
    return op;
}

// libfuse 3.14 leaves the kernel's parallel lookups off whatever the file
// system asks for, so that lookups in one folder would go one at a time;
// the reply to the kernel's INIT, always the first message sent, asks for
// them itself.
ssize_t sendReply(int fd, iovec* iov, int count, void*) {
    static std::atomic<bool> first{true};
    if (first.exchange(false) && count >= 2 && iov[1].iov_len >= sizeof(fuse_init_out))
        static_cast<fuse_init_out*>(iov[1].iov_base)->flags |= FUSE_PARALLEL_DIROPS;
    return ::writev(fd, iov, count);
}

ssize_t receive(int fd, void* buffer, size_t size, void*) {
    return ::read(fd, buffer, size);
}

// Mounts with the mount call itself (this needs root) on a /dev/fuse of
// its own, so that the replies go through sendReply.
int mountOn(const char* point, fuse_session* session) {
    const int fd = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1;
    const std::string options =
        "fd=" + std::to_string(fd) + ",rootmode=40000,user_id=0,group_id=0,default_permissions";
    static const fuse_custom_io io{sendReply, receive, nullptr, nullptr};
    if (::mount("latencyfs", point, "fuse.latencyfs", MS_NOSUID | MS_NODEV, options.c_str()) != 0 ||
        fuse_session_custom_io(session, &io, fd) != 0) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: latencyfs [--delay-ms MS] [--ignore-case] [--stick] BACKING MOUNTPOINT\n"
                 "                 [-o FUSE library options]\n"
                 "  every operation on MOUNTPOINT waits MS milliseconds (fractions allowed,\n"
                 "  default 1), then acts on the folder BACKING; runs until unmounted;\n"
                 "  --ignore-case resolves names without regard to case, as a Windows\n"
                 "  server does; --stick: no change time, and SIGUSR1 zeroes the data not\n"
                 "  fsync'd\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    double delayMs = 1;
    std::vector<char*> args{argv[0]};
    const char* folders[2] = {nullptr, nullptr};
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--ignore-case") {
            g_ignoreCase = true;
        } else if (a == "--delay-ms" && i + 1 < argc) {
            char* end = nullptr;
            delayMs = std::strtod(argv[++i], &end);
            if (*end || delayMs < 0)
                return usage();
        } else if (a == "--stick") {
            g_stick = true;
        } else if (a == "-o" && i + 1 < argc) {
            args.push_back(argv[i]);
            args.push_back(argv[++i]);
        } else if (a[0] != '-' && !folders[1]) {
            folders[folders[0] ? 1 : 0] = argv[i];
        } else {
            return usage();
        }
    }
    if (!folders[1])
        return usage();
    g_base = ::open(folders[0], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_base < 0) {
        std::fprintf(stderr, "latencyfs: %s: %s\n", folders[0], std::strerror(errno));
        return 1;
    }
    g_delay = std::chrono::nanoseconds(int64_t(delayMs * 1e6));
    // Sleeps of a millisecond must not be stretched by the default 50 µs
    // of timer slack; the library's threads inherit this.
    ::prctl(PR_SET_TIMERSLACK, 1UL);
    ::umask(0); // the kernel has applied the caller's already
    if (g_stick) {
        // Taken by a thread of its own: every thread made later blocks it.
        sigset_t pulls;
        sigemptyset(&pulls);
        sigaddset(&pulls, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &pulls, nullptr);
        std::thread([pulls] {
            for (int signal = 0; sigwait(&pulls, &signal) == 0;)
                pull();
        }).detach();
    }

    fuse_args fuseArgs = FUSE_ARGS_INIT(int(args.size()), args.data());
    const fuse_operations op = operations();
    fuse* fs = fuse_new(&fuseArgs, &op, sizeof op, nullptr);
    if (!fs)
        return 1;
    fuse_session* session = fuse_get_session(fs);
    if (mountOn(folders[1], session) != 0) {
        std::fprintf(stderr, "latencyfs: cannot mount on %s: %s\n", folders[1],
                     std::strerror(errno));
        fuse_destroy(fs);
        return 1;
    }
    fuse_set_signal_handlers(session);
    // Enough threads for every request that a pooled client has in flight.
    fuse_loop_config* loop = fuse_loop_cfg_create();
    fuse_loop_cfg_set_max_threads(loop, 64);
    fuse_loop_cfg_set_idle_threads(loop, 64);
    const int result = fuse_loop_mt(fs, loop);
    fuse_loop_cfg_destroy(loop);
    fuse_remove_signal_handlers(session);
    fuse_destroy(fs);
    return result == 0 ? 0 : 1;
}
