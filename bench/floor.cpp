#include "bench/floor.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bench {

namespace {

[[noreturn]] void fail(const std::string& what) {
    throw std::runtime_error("floor: " + what + ": " + std::strerror(errno));
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    // Closes now, so that a failing close is seen (a network volume reports
    // write errors there).
    void close(const std::string& what) {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0)
            fail(what);
    }

private:
    int m_fd;
};

bool newer(const timespec& a, const timespec& b) {
    return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}

// Copies `size` bytes: in the kernel where both volumes allow it, else by
// read and write (a FUSE volume, or two volumes of different kinds). It
// stops at the known length instead of asking for one more empty range.
void copyData(int in, int out, off_t size, const std::string& path) {
    bool kernel = true;
    std::vector<char> buffer;
    for (off_t done = 0; done < size;) {
        ssize_t n;
        if (kernel) {
            n = ::copy_file_range(in, nullptr, out, nullptr, size_t(size - done), 0);
            if (n < 0 && done == 0 &&
                (errno == EXDEV || errno == EOPNOTSUPP || errno == ENOSYS || errno == EINVAL)) {
                kernel = false;
                continue;
            }
        } else {
            buffer.resize(size_t(1) << 17);
            n = ::read(in, buffer.data(), std::min(buffer.size(), size_t(size - done)));
            for (ssize_t put = 0; n > 0 && put < n;) {
                const ssize_t w = ::write(out, buffer.data() + put, size_t(n - put));
                if (w < 0 && errno != EINTR)
                    fail("write " + path);
                put += std::max<ssize_t>(w, 0);
            }
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail("copy " + path);
        if (n == 0)
            break; // the source shrank meanwhile
        done += n;
    }
}

class Walk {
public:
    explicit Walk(FloorKind kind) : m_kind(kind) {}

    // `fresh`: the run has just made the destination folder, so none of its
    // files can exist yet and none is looked up.
    void folder(int from, int to, bool fresh, const std::string& path) {
        DIR* dir = ::fdopendir(::dup(from));
        if (!dir)
            fail("open " + path);
        struct Closer {
            DIR* d;
            ~Closer() { ::closedir(d); }
        } closer{dir};
        for (errno = 0; const dirent* e = ::readdir(dir); errno = 0) {
            const char* name = e->d_name;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0)
                continue;
            unsigned char type = e->d_type;
            if (type == DT_UNKNOWN) {
                struct stat st;
                if (::fstatat(from, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                    fail("stat " + path + '/' + name);
                type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
            }
            if (type == DT_DIR)
                subfolder(from, to, name, path + '/' + name);
            else if (type == DT_REG)
                file(from, to, name, fresh, path + '/' + name);
        }
        if (errno != 0)
            fail("read " + path);
    }

    void subfolder(int from, int to, const char* name, const std::string& path) {
        const Fd source(::openat(from, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (source.get() < 0)
            fail("open " + path);
        const bool fresh = ::mkdirat(to, name, 0755) == 0;
        if (!fresh && errno != EEXIST)
            fail("mkdir " + path);
        const Fd copy(::openat(to, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (copy.get() < 0)
            fail("open copy of " + path);
        folder(source.get(), copy.get(), fresh, path);
    }

private:
    void file(int from, int to, const char* name, bool fresh, const std::string& path) {
        struct stat source;
        if (!fresh) {
            struct stat copy;
            if (::fstatat(from, name, &source, AT_SYMLINK_NOFOLLOW) != 0)
                fail("stat " + path);
            if (::fstatat(to, name, &copy, AT_SYMLINK_NOFOLLOW) == 0) {
                if (!newer(source.st_mtim, copy.st_mtim))
                    return;
            } else if (errno != ENOENT) {
                fail("stat copy of " + path);
            }
        }
        Fd in(::openat(from, name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (in.get() < 0)
            fail("open " + path);
        if (fresh && ::fstat(in.get(), &source) != 0)
            fail("stat " + path);
        const std::string target = m_kind.safe ? std::string(".~") + name : std::string(name);
        Fd out(::openat(to, target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC,
                        source.st_mode & 07777));
        if (out.get() < 0)
            fail("create copy of " + path);
        copyData(in.get(), out.get(), source.st_size, path);
        const timespec times[2] = {source.st_atim, source.st_mtim};
        if (::futimens(out.get(), times) != 0)
            fail("set the times of " + path);
        out.close("close copy of " + path);
        if (m_kind.safe && ::renameat(to, target.c_str(), to, name) != 0)
            fail("rename copy of " + path);
    }

    FloorKind m_kind;
};

} // namespace

void floorCopy(const std::string& source, const std::string& destination, FloorKind kind) {
    const size_t slash = source.find_last_of('/');
    const std::string name = slash == std::string::npos ? source : source.substr(slash + 1);
    const std::string parent =
        slash == std::string::npos ? "." : source.substr(0, slash ? slash : 1);
    const Fd from(::open(parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    const Fd into(::open(destination.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (from.get() < 0 || into.get() < 0)
        fail("open " + parent + " or " + destination);
    Walk(kind).subfolder(from.get(), into.get(), name.c_str(), source);
    if (kind.flush && ::syncfs(into.get()) != 0)
        fail("syncfs " + destination);
}

} // namespace bench
