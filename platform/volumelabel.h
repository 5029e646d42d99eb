#pragma once
// The label a volume was given (mkfs -L, a stick's name), which the drive
// lists show as the volume's description.

#include <QByteArray>
#include <QString>
#include <string>

namespace platform {

// The label of the volume of block device `source` mounted at `mountPoint`:
// as the system's device manager lists it (/dev/disk/by-label), or else as
// the mounted file system itself tells it (ext2/3/4, btrfs, xfs, f2fs). An
// empty text for a volume without a label, and for one that is not a block
// device, which is never asked: a share that stops answering would hold the
// caller.
QString volumeLabel(const std::string& mountPoint, const QByteArray& source);

} // namespace platform
