#pragma once
// Drive letters over the host file system.
//
// The program works with paths such as "D:\BACKUP\DADOS". A drive table maps
// each letter onto a host directory: C: is "/" and every other mounted real
// volume gets the next free letter. Host paths are byte strings, so names
// that are not valid UTF-8 survive untouched.
//
// Volumes come and go while the program runs (a USB stick). A letter, once
// given, stays with its volume: a volume that goes keeps its letter held, and
// gets it back when it returns; a new volume takes the next letter nobody
// holds.

#include <QString>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

// What tells one mounted volume from another at the same folder.
struct Volume {
    dev_t device = 0;  // of the folder, as stat() tells it
    uint64_t fsid = 0; // the file system's own identity (from its UUID on ext*)
    // The volume mounted at a folder now; none when the folder cannot be read.
    static std::optional<Volume> at(const std::string& folder);
    bool operator==(const Volume&) const = default;
};

struct Drive {
    QChar letter;         // upper case
    std::string hostRoot; // no trailing '/', except "/" itself
    QString description;  // volume label or mount point
    // The volume the letter was given to; none in tables that tests lay out
    // on plain folders.
    std::optional<Volume> volume = std::nullopt;
};

class DriveTable {
public:
    DriveTable() = default;
    explicit DriveTable(std::vector<Drive> drives) : m_drives(std::move(drives)) {}

    // The table read from the host's mounts (mountinfo text), with the
    // directories of network-browsing bridges, which get no letter.
    static DriveTable fromMountInfo(const QByteArray& mountinfo);

    // The table in force: the host's, or the one a test installed.
    static const DriveTable& current();
    static void install(const DriveTable& table);
    static void reset();
    // Reads the host's mounts again, so volumes mounted since show up and
    // those unmounted go; a table that a test installed stays.
    static void refresh();
    // The table after the host's mounts became `mountinfo`: the drives whose
    // volume is still mounted at their folder keep their letters, the others
    // go and hold theirs, and new volumes take the next free letter.
    DriveTable withMounts(const QByteArray& mountinfo) const;

    const std::vector<Drive>& drives() const { return m_drives; }
    const Drive* find(QChar letter) const;

    // A drive path on the host: the drive's root and the host names of the
    // components below it.
    struct HostPath {
        std::string root;
        std::vector<std::string> names;
        std::string path() const;
    };

    // "X:\A\B" on the host. A component names the entry of exactly that name;
    // failing that, the one entry whose name differs from it only in case
    // (operators type in any case), and ErrPathNotFound when several do. What is missing
    // stays as typed. "." and ".." are resolved by name and never climb above
    // the drive root. An unknown drive raises ErrDeviceUnavailable; a network path
    // ("\\server\share") raises ErrPathNotFound.
    HostPath resolve(const QString& drivePath) const;
    std::string toHost(const QString& drivePath) const;

    // A drive path on a drive whose folder is no longer the mount point of
    // its volume (the stick was pulled out, something else is mounted there)
    // raises ErrDeviceUnavailable: what is there now is not the drive the operator chose.
    void requireVolume(const QString& drivePath) const;

    // The drive of the process's current directory, which a path that begins
    // with a single "\" addresses.
    QChar currentDrive() const;

    // A host path written with the drive whose root is its longest prefix.
    // A path that no drive covers (a network-browsing folder), or one with a
    // name holding "\", is written starting with "\".
    QString toDrivePath(const std::string& hostPath) const;

    // Directories below which paths are network folders without a letter.
    std::vector<std::string> networkRoots;

private:
    std::vector<Drive> m_drives; // by letter
    std::vector<Drive> m_gone;   // volumes that went, holding their letters, oldest first
};

// The process's current directory as a drive path; one that no drive
// covers (a network folder) starts with "\\".
QString currentDirectory();
// A drive's current directory: the process's current directory on its own
// drive, the root ("X:\\") on every other.
QString currentDirectory(QChar letter);

// The program's folder as a drive path: no trailing "\" except at a root.
QString programFolder();
// Tests point the program's folder at a directory of their own.
void setProgramFolder(const QString& drivePath);

} // namespace platform
