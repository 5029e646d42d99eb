#pragma once
// The kernel's mount table of this process (/proc/self/mountinfo).
//
// Each line names one mount: the file system's device, the folder of that
// file system it shows (a bind mount shows a folder below the file system's
// root) and where it shows it. From these a folder's place within its own
// file system is exact, whatever mount it is reached through.

#include <QByteArray>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform {

// One line of the mount table, its escapes (\040 for a blank) undone.
struct MountEntry {
    int id = 0;
    dev_t device = 0;  // of the file system (major:minor)
    std::string root;  // the folder of the file system mounted here
    std::string point; // where it is mounted
    QByteArray type;   // "ext4", "fuse.sshfs", ...
    QByteArray source; // "/dev/sdb1", "server:/share", ...
};

// The table as the kernel gives it now; empty when it cannot be read.
QByteArray mountInfoText();
// The lines of a mount table text, in its order (later mounts last).
std::vector<MountEntry> parseMountInfo(const QByteArray& text);

// Where an open folder lies within its file system.
struct PlaceInFileSystem {
    dev_t device = 0;
    std::string path; // from the file system's root, "/" for the root itself
};

// The place of the folder open as `fd`, through the mount it was opened on;
// none where the kernel does not tell which mount that is or the folder is
// out of this process's reach (a deleted folder, one outside a chroot).
std::optional<PlaceInFileSystem> placeInFileSystem(int fd, const std::vector<MountEntry>& table);

// Whether `inner` is `outer` or lies below it on the same file system.
bool isBelow(const PlaceInFileSystem& inner, const PlaceInFileSystem& outer);

} // namespace platform
