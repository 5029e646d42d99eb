#pragma once
// The names of the hidden temporary files and staging folders that copies
// make, and how a cleaning tells those whose copy can no longer be under way.
//
// A name is FileSystem::temporaryPrefix, the computer's name, "-", the
// process id, "-", the time it was made (seconds since the epoch), ".", a
// random number of 8 hex digits, and ".tmp":
//   .pelivor-loja-pc-4242-1733541443.0badf00d.tmp
// Earlier versions left the same without the time and its ".".

#include <ctime>
#include <string>
#include <string_view>
#include <sys/stat.h>

namespace platform {

// This computer's name as temporary names hold it: letters, digits, "-" and
// "."; anything else becomes "_".
const std::string& computerName();

// A name no other copy takes, made now by this process.
std::string temporaryName();

// Whether the temporary file or staging folder `name` (whose stat is `st`;
// it begins with the prefix and ends in ".tmp") belongs to no copy under
// way at `now`. One of this computer belongs to
// its process for as long as that lives, whatever its age; this process
// knows its own and keeps them apart. Another computer's copy may be
// running still, so only one begun more than a day ago is abandoned: by the
// time in its name, which nothing changes and every volume keeps, or, for
// an earlier version's name, by the later of its change and modification
// times (a copy sets the modification time to its source's, which may be
// years old).
bool abandoned(std::string_view name, const struct stat& st, time_t now);

} // namespace platform
