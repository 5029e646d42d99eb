#pragma once
// File services on host paths and open directories.
//
// Every operation raises `Failure` with the program's error number. The
// engine works level by level on open directories, so each entry costs one
// system call on a short name instead of a walk of the whole path.

#include "platform/directory.h"
#include "platform/names.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace platform {

// A copy made but for its last step: the source's data in a hidden temporary
// file beside its destination, with the source's permission bits and time,
// closed. Placing it renames it over the destination; one dropped unplaced
// is removed.
class PreparedCopy {
public:
    PreparedCopy(PreparedCopy&& other) noexcept;
    PreparedCopy& operator=(PreparedCopy&& other) noexcept;
    PreparedCopy(const PreparedCopy&) = delete;
    ~PreparedCopy();

private:
    friend class FileSystem;
    PreparedCopy(FileSystem& fs, int dirFd) : m_fs(&fs), m_dirFd(dirFd) {}
    void reserve(std::string name); // before the file is created: no scan takes it
    void forget();                  // placed, or removed
    void drop();                    // removed unless placed

    FileSystem* m_fs;
    int m_dirFd; // the folder's, open for as long as the copy exists
    std::string m_name;
    struct timespec m_times[2] = {}; // the source's access and modification times
};

class FileSystem {
public:
    // The service in force: the host's, or a test's fault-injecting one.
    static FileSystem& get();
    static void install(FileSystem* fs); // nullptr restores the host's

    virtual ~FileSystem() = default;

    // Opens a directory, links not followed below the top: ErrPathNotFound when missing.
    virtual Directory openDirectory(const std::string& path);
    virtual Directory openDirectory(const Directory& parent, const std::string& name);
    // Like openDirectory but never raises: the error travels in the result.
    Directory tryOpenDirectory(const std::string& path);
    Directory tryOpenDirectory(const Directory& parent, const std::string& name);
    // The folder of that exact name in `parent`, created when missing (0700,
    // and made()). One that appears meanwhile (another run) is taken as it
    // is; a file or a link in its place raises ErrPathFileAccess.
    Directory openOrMakeDirectory(const Directory& parent, const std::string& name);
    // Whether `inner` is `outer` itself or lies anywhere below it, by device
    // and inode and by its place within its file system (from the mount
    // table), so that no link, bind mount or spelling hides it: not even a
    // bind mount of a folder below `outer`. `inner` need not exist: its
    // nearest existing folder answers for it.
    bool isWithin(const std::string& inner, const Directory& outer);

    // The entries whose names match the pattern. Mask 0 gives ordinary files;
    // mask 16 adds directories ("." and ".." included). Hidden entries (a name
    // beginning with ".") and system entries (anything neither a regular file
    // nor a directory, links included) never appear.
    virtual std::vector<DirEntry> list(const Directory& dir, const QString& pattern, int mask);

    // Attribute, length and modification time of an entry; links not followed.
    virtual FileInfo attributes(const Directory& dir, const std::string& name);
    // Whether the entry can be read: ErrFileNotFound when it is missing, ErrPermissionDenied when
    // access is refused, ErrPathFileAccess when it is not a regular file; also what its stat tells.
    // A file whose permission bits grant reading is taken as readable without
    // opening it.
    virtual FileInfo probe(const Directory& dir, const std::string& name);

    // One level, 0700; the parent must exist. A folder of that name that
    // exists already counts as made: two runs may make it at once. Returns
    // whether this call made it.
    virtual bool makeDirectory(const Directory& parent, const std::string& name);

    // Gives a destination folder the access of its source folder, so that a
    // private folder stays private in the backup. One the run made (made())
    // takes the source's bits for group and others, and as root its owner
    // and group; one that existed loses the bits for group and others that
    // the source lacks and gains none; one that another user owns (neither
    // this process's, root's, the source's owner's nor that of `top`, the
    // run's destination) raises ErrPermissionDenied, since its bits cannot
    // keep it from them. The owner keeps full access, which later runs need
    // to copy into it. A file system without permission bits or owners (FAT
    // through FUSE) refusing them is no failure. Asks the attributes the
    // kernel holds, so a share costs no round trip.
    void mirrorAccess(const Directory& source, const Directory& dest, const Directory& top);

    // Whether a run between these folders asks the questions of its files
    // ahead, on a pool of workers: where either is remote(). A local volume
    // answers within microseconds, and a pool there costs more in hand-offs
    // and in contention for the destination folder's lock than it saves,
    // with a warm cache or a cold one (the README's benchmark has figures).
    virtual bool asksAhead(const Directory& source, const Directory& destination);

    // Puts what was written to the directory's volume onto the disk: ErrDeviceIO when
    // the volume cannot confirm it.
    virtual void flush(const Directory& dir);

    // Asks the directory's volume whether it matches names without regard to
    // case: a hidden file named as a temporary file is made there, looked
    // up by its name in the other case, and removed. False where it cannot
    // be made (a volume that refuses it takes no copy either).
    bool foldsCase(const Directory& dir);

    // Copies a file safely: into a hidden temporary file beside the
    // destination, which takes the source's permission bits and modification
    // time and is then renamed over the destination. A source that changed
    // while it was read is copied again, up to three times, and then raises
    // ErrPathFileAccess: no copy mixes two versions. On failure or when `progress` answers
    // false, the temporary file is removed and the old destination is left
    // untouched. Returns false when cancelled. Holes of a sparse source stay
    // holes. The first copy into a directory also removes the temporary files
    // that killed copies left there.
    using Progress = std::function<bool(int64_t done, int64_t total)>;
    bool copyFile(const Directory& fromDir, const std::string& from, const Directory& toDir,
                  const std::string& to, const Progress& progress = {});
    // The same in two steps, so that copies can be made on several threads
    // at once and placed in order: all of copyFile but the rename (none when
    // cancelled), and then the rename over `to`. The temporary file is made
    // in `staging` (see makeStaging) where it is on toDir's volume.
    virtual std::optional<PreparedCopy> prepareCopy(const Directory& fromDir,
                                                    const std::string& from, const Directory& toDir,
                                                    const Progress& progress = {},
                                                    const Directory* staging = nullptr);
    // A rename that fails leaves the file not copied, whatever the reason:
    // ErrPathFileAccess when the temporary file is gone (another run's cleaning took it),
    // ErrPathNotFound when the folder is, otherwise the host error's number; never ErrFileNotFound,
    // which would pass for a source that vanished.
    void placeCopy(PreparedCopy& copy, const Directory& toDir, const std::string& to);

    // Appends to the text file `name` in `folder`, creating it; `header`
    // goes first when the file is empty. A link is not followed and a pipe
    // not waited on: anything but a regular file raises ErrPathFileAccess unwritten.
    // The last `bytes` of the text file `name` in `folder` (all of a shorter
    // one), read as appendText writes: never through a link or from a pipe;
    // anything but a regular file raises ErrPathFileAccess.
    QByteArray textTail(const Directory& folder, const std::string& name, qint64 bytes);
    virtual void appendText(const Directory& folder, const std::string& name,
                            const QByteArray& header, const QByteArray& text);

    // Prefix of the temporary files that copyFile leaves only when killed.
    // The full name (temporarynames.h) holds the computer's name, the
    // copying process's id and the time it was made: on a folder that
    // several computers share, each knows its own, and the others' by age.
    static constexpr const char* temporaryPrefix = ".pelivor-";
    // How many times a source that changes under its copy is read again.
    static constexpr int tornCopyRetries = 3;

    // Removes the temporary files of the copies under way, for a program
    // that ends in the middle of one.
    void removeTemporaryFiles();

    // A hidden folder in `top`, named as a temporary file, where copies into
    // the folders below it are prepared: on a share, creating a file holds
    // its folder's lock for several round trips, and copies prepared in
    // folders of their own queue neither behind one another nor behind the
    // renames into their destination. A failed folder is returned as such.
    Directory makeStaging(const Directory& top, std::string& name);
    // Removes it, with any temporary file left in it.
    void removeStaging(const Directory& top, const std::string& name);

    // True for the first caller only, who then removes the temporary files
    // that killed copies left in the folder (removeLeftovers), at once or on
    // another thread: no copy into it waits for that. False in a folder the
    // run made.
    bool claimLeftovers(const Directory& dir);
    // Removes the temporary files (and staging folders) whose copies can no
    // longer be under way (see abandoned()): of this computer's processes
    // that are gone, and of other computers' copies begun over a day ago;
    // safe beside copies into the folder, this run's or another's.
    void removeLeftovers(const Directory& dir);

protected:
    // Moves up to `count` bytes from `in` to `out` at their file offsets, as
    // read(2) would: the bytes moved, 0 at the end, -1 with errno set.
    // `kernelCopy` is cleared once the kernel's copy path is not available.
    virtual ssize_t transfer(int in, int out, size_t count, bool& kernelCopy);
    // Stamps a file's modification time, as futimens(2) would.
    virtual int setTimes(int fd, const struct timespec times[2]);
    // Writes a volume's data to its disk, as syncfs(2) would.
    virtual int syncVolume(int fd);

private:
    friend class PreparedCopy;
    // Moves the data of `in` (whose stat is `st`) to the start of `out`;
    // false when cancelled.
    bool copyData(int in, int out, const struct stat& st, const Progress& progress);
    void forgetTemporary(int dirFd, const std::string& name);
    struct TemporaryFile {
        int dirFd; // the folder's, open for as long as the copy lasts
        std::string name;
    };
    std::vector<TemporaryFile> m_temporaryFiles; // of the copies under way
    // Guards the temporary files and what copies learn of a folder once.
    std::mutex m_mutex;
};

} // namespace platform
