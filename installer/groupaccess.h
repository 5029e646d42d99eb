#pragma once
// A folder placed for every user of a group: its run log and its run lock
// writable by the group, while the folder and the program file stay the
// administrator's, so that no member can replace the program that the
// others, and the scheduled runs, start.

#include <QString>
#include <sys/types.h>

namespace placing {

// Why `folder` cannot be given to the group `group`: it is writable by a
// group of its own, which `group` would then be. Empty when it can.
QString groupRefusal(const QString& folder, gid_t group);

// Gives `folder` to `group`, its mode untouched, and creates or takes over
// `Log.txt` (0664) and the run lock (0660) as root's and the group's; takes
// write access to the placed program away from group and others. Refuses a
// log or lock that is not a plain file of one name (a link, a pipe, a second
// name). Returns an error text, empty on success.
QString shareWithGroup(const QString& folder, gid_t group);

// A warning when anyone but root may replace the program in `folder`: by
// owning it or a folder above it, or by writing to one of them without the
// sticky bit; empty when only root may.
QString writableFolderWarning(const QString& folder);

} // namespace placing
