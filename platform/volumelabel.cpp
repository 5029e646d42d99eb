#include "platform/volumelabel.h"

#include <QDir>
#include <QFileInfo>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {

namespace {

// The device manager's name for the device, "\x20" standing for a blank.
QString listedLabel(const QByteArray& source) {
    const QDir labels(QStringLiteral("/dev/disk/by-label"));
    const QString device = QFileInfo(QFile::decodeName(source)).canonicalFilePath();
    if (device.isEmpty())
        return QString();
    const auto names = labels.entryList(QDir::System | QDir::Files | QDir::NoDotAndDotDot);
    for (const QString& name : names) {
        if (QFileInfo(labels.filePath(name)).canonicalFilePath() == device) {
            QString label = name;
            return label.replace(QStringLiteral("\\x20"), QStringLiteral(" "));
        }
    }
    return QString();
}

// Where no device manager runs (a container, a minimal system), the file
// system answers for itself.
QString ownLabel(const std::string& mountPoint) {
    const int fd = ::open(mountPoint.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return QString();
    char label[FSLABEL_MAX] = {};
    const bool told = ::ioctl(fd, FS_IOC_GETFSLABEL, label) == 0;
    ::close(fd);
    return told ? QString::fromUtf8(label, qsizetype(strnlen(label, sizeof label))).trimmed()
                : QString();
}

} // namespace

QString volumeLabel(const std::string& mountPoint, const QByteArray& source) {
    if (!source.startsWith("/dev/"))
        return QString();
    const QString listed = listedLabel(source);
    return listed.isEmpty() ? ownLabel(mountPoint) : listed;
}

} // namespace platform
