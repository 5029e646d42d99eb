#pragma once
// An open directory and what its volume is known to keep: the handle that
// every file service works through, by exact host names.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>

namespace platform {

class FileSystem;

enum Attribute : int {
    AttrNormal = 0,
    AttrHidden = 2,
    AttrSystem = 4,
    AttrDirectory = 16,
};

struct FileInfo {
    int attributes = AttrNormal;
    int64_t length = 0;
    int64_t modified = 0;   // whole seconds since the epoch
    int32_t modifiedNs = 0; // and the nanoseconds within that second
    // The last change of its data or attributes, which no copy sets: the
    // host's clock, where the volume keeps one.
    int64_t changed = 0;
    int32_t changedNs = 0;
};

struct DirEntry {
    std::string name; // host bytes
    bool directory = false;
};

// A descriptor closed with its owner, and moved with it.
class OwnedFd {
public:
    OwnedFd() = default;
    explicit OwnedFd(int fd) : m_fd(fd) {}
    OwnedFd(OwnedFd&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    OwnedFd& operator=(OwnedFd&& other) noexcept;
    ~OwnedFd();
    int get() const { return m_fd; }

private:
    int m_fd = -1;
};

// An open directory, or the error number that opening it gave; operations on
// a directory that could not be opened raise that error.
class Directory {
public:
    Directory() = default;
    Directory(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}
    static Directory failed(int32_t error, std::string path);
    Directory(Directory&& other) noexcept = default;
    Directory& operator=(Directory&& other) noexcept = default;
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;

    int fd() const { return m_fd.get(); }
    int32_t error() const { return m_error; }
    const std::string& path() const { return m_path; }
    std::string pathOf(const std::string& name) const;
    // Raises the error of a directory that could not be opened.
    void require() const;
    // Whether its file system keeps modification times only to 2 seconds
    // (FAT), so that a copy may land up to a second older than its source.
    bool keepsCoarseTimes() const { return volume().coarseTimes; }
    // Whether its names are matched without regard to case, so that "A.TXT"
    // and "a.txt" are one file: known by the file system's type (FAT, exFAT,
    // a case-folding ext4 folder) or, where the type cannot tell (a share,
    // FUSE, a type unknown here), asked of the volume itself the first time
    // a folder of it is asked, and kept for the folders opened below it.
    bool ignoresCase() const;
    // Whether it may ignore case: ignoresCase() is then worth asking. False
    // where the type tells that names are matched exactly.
    bool mayIgnoreCase() const { return volume().ignoresCase || volume().caseProbe || foldsHere(); }
    // Whether it lies on a network share or a FUSE file system, where every
    // question waits for a round trip to a server or a program.
    bool remote() const { return volume().remote; }

    // The device of its volume, as the kernel knows it: one per file system
    // mounted.
    dev_t device() const { return volume().device; }
    // Its device and inode, which tell it from every other folder however it
    // is reached; none for a folder that could not be opened or asked.
    using Identity = std::pair<dev_t, ino_t>;
    std::optional<Identity> identity() const;
    // Its mode and owners as the kernel held them when it was opened below
    // a folder of known volume, asked with its identity: none otherwise.
    // Not updated: what is done with them afterwards is not seen here.
    struct Access {
        mode_t mode = 0;
        uid_t uid = 0;
        gid_t gid = 0;
    };
    const std::optional<Access>& accessWhenOpened() const { return m_accessWhenOpened; }

    // The run made this folder: none of its files needs looking for, and no
    // killed copy can have left a temporary file there.
    void markMade() { m_made = m_leftoversRemoved = true; }
    bool made() const { return m_made; }

    // What asking a volume whether it ignores case found, once.
    struct CaseProbe {
        std::once_flag asked;
        bool folds = false;
    };
    struct Volume {
        bool coarseTimes = false, ignoresCase = false, remote = false;
        // A FUSE driver hears of each file's fsync, never of a syncfs: its
        // copies are flushed one by one before they are placed.
        bool flushedByFile = false;
        // Its owners are users (ext4, f2fs, tmpfs, btrfs, xfs), not the
        // mount's one owner for every file (FAT, a share).
        bool keepsOwners = false;
        bool foldsPerFolder = false; // case folding is a folder's own (ext4, f2fs, tmpfs)
        // Where the type does not tell whether names fold: the one answer
        // that the volume's folders share.
        std::shared_ptr<CaseProbe> caseProbe;
        dev_t device = 0;
    };

private:
    friend class FileSystem;
    // Asked of the host once, on the first question.
    const Volume& volume() const;
    // Whether this folder folds case on its own (a case-folding ext4 folder),
    // asked only when a run wants to know: one call a folder.
    bool foldsHere() const;
    // Learns the volume from its parent's where both lie on one, which the
    // kernel tells without a round trip; and its identity and access with it.
    void learnFrom(const Directory& parent);
    bool hasDefaultAcl() const;
    OwnedFd m_fd;
    int32_t m_error = 0;
    std::string m_path;
    mutable std::optional<Volume> m_volume;
    mutable std::optional<Identity> m_identity;
    std::optional<Access> m_accessWhenOpened;
    mutable std::optional<bool> m_folds;
    bool m_made = false;
    mutable bool m_leftoversRemoved = false; // by the first copy into it
    // Whether it has a default ACL, which new files take their bits from.
    mutable std::optional<bool> m_defaultAcl;
};

} // namespace platform
