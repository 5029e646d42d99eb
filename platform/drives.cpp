#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/mounttable.h"
#include "platform/names.h"
#include "platform/volumelabel.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMap>
#include <QSet>
#include <algorithm>
#include <dirent.h>
#include <optional>
#include <sys/stat.h>
#include <sys/statvfs.h>

namespace platform {

namespace {

std::optional<DriveTable>& installed() {
    static std::optional<DriveTable> table;
    return table;
}

bool& installedByTest() {
    static bool byTest = false;
    return byTest;
}

QString& programFolderOverride() {
    static QString folder;
    return folder;
}

bool isPseudoFileSystem(const QByteArray& type) {
    static const QSet<QByteArray> pseudo = {
        "proc",      "sysfs",       "cgroup",          "cgroup2",    "devtmpfs",      "devpts",
        "tmpfs",     "squashfs",    "securityfs",      "debugfs",    "tracefs",       "pstore",
        "bpf",       "mqueue",      "hugetlbfs",       "configfs",   "fusectl",       "binfmt_misc",
        "autofs",    "efivarfs",    "overlay",         "nsfs",       "ramfs",         "rpc_pipefs",
        "selinuxfs", "fuse.portal", "fuse.gvfsd-fuse", "fuse.lxcfs", "fuse.snapfuse",
    };
    return pseudo.contains(type);
}

bool isNetworkFileSystem(const QByteArray& type) {
    return type == "nfs" || type == "nfs4" || type == "cifs" || type == "smb3" || type == "smbfs" ||
           type == "9p" || type == "fuse.sshfs" || type == "ceph" || type == "glusterfs";
}

std::string joined(const std::string& dir, const std::string& name) {
    return dir.back() == '/' ? dir + name : dir + '/' + name;
}

bool under(const std::string& path, const std::string& root) {
    if (root == "/")
        return !path.empty() && path[0] == '/';
    return path.compare(0, root.size(), root) == 0 &&
           (path.size() == root.size() || path[root.size()] == '/');
}

// The one entry of `dir` whose name equals `name` but for case: none when
// there is no such entry, ErrPathNotFound when there are several, since the operator's
// text cannot tell them apart.
std::optional<std::string> onlyCaseMatch(const std::string& dir, const QString& name) {
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return std::nullopt;
    std::optional<std::string> found;
    bool ambiguous = false;
    while (dirent* e = ::readdir(d)) {
        if (QString::compare(QFile::decodeName(e->d_name), name, Qt::CaseInsensitive) != 0)
            continue;
        ambiguous = found.has_value();
        if (ambiguous)
            break;
        found = e->d_name;
    }
    ::closedir(d);
    if (ambiguous)
        raiseError(ErrPathNotFound);
    return found;
}

} // namespace

namespace {

struct Mounts {
    std::vector<Drive> volumes; // no letters yet, by mount point
    std::vector<std::string> networkRoots;
};

// The real volumes of a mount table, with the directories of network-browsing
// bridges, which get no letter. Read here rather than through QStorageInfo,
// which gives mount points as decoded text (a name that is not UTF-8 is
// lost), no mount's root within its file system, and a list filtered by
// rules of its own, where the letters need these.
Mounts mountsIn(const QByteArray& mountinfo) {
    QMap<QByteArray, std::pair<QByteArray, QByteArray>> mounts; // point -> (type, source)
    Mounts found;
    for (const MountEntry& mount : parseMountInfo(mountinfo)) {
        const QByteArray point = QByteArray::fromStdString(mount.point);
        if (mount.type == "fuse.gvfsd-fuse") {
            found.networkRoots.push_back(mount.point);
            continue;
        }
        mounts.insert(point, {mount.type, mount.source}); // a later mount over the same point wins
    }

    for (auto it = mounts.cbegin(); it != mounts.cend(); ++it) {
        const QByteArray& point = it.key();
        const auto& [type, source] = it.value();
        if (point == "/" || isPseudoFileSystem(type))
            continue;
        if (!source.startsWith("/dev/") && !isNetworkFileSystem(type) && !type.startsWith("fuse."))
            continue;
        if (point.startsWith("/proc/") || point.startsWith("/sys/") || point.startsWith("/dev/"))
            continue;
        struct stat st {};
        if (::stat(point.constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            continue; // bind mounts of single files (containers) are no volumes
        QString description = volumeLabel(point.toStdString(), source);
        if (description.isEmpty())
            description = QFile::decodeName(point);
        found.volumes.push_back(
            Drive{QChar(), point.toStdString(), description, Volume::at(point.toStdString())});
    }
    return found;
}

// The same volume at the same folder: the device number alone may be reused
// by the next stick, the file system's identity is not.
bool sameVolume(const Drive& a, const Drive& b) {
    return a.hostRoot == b.hostRoot && a.volume && b.volume && a.volume->fsid == b.volume->fsid &&
           (a.volume->fsid != 0 || a.volume->device == b.volume->device);
}

} // namespace

std::optional<Volume> Volume::at(const std::string& folder) {
    struct stat st {};
    struct statvfs vfs {};
    if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        ::statvfs(folder.c_str(), &vfs) != 0)
        return std::nullopt;
    return Volume{st.st_dev, uint64_t(vfs.f_fsid)};
}

DriveTable DriveTable::fromMountInfo(const QByteArray& mountinfo) {
    return DriveTable().withMounts(mountinfo);
}

DriveTable DriveTable::withMounts(const QByteArray& mountinfo) const {
    Mounts found = mountsIn(mountinfo);
    DriveTable next;
    next.networkRoots = std::move(found.networkRoots);
    next.m_gone = m_gone;
    next.m_drives.push_back(Drive{QLatin1Char('C'), "/", QStringLiteral("/"), {}});

    // Volumes seen before keep their letters, present or returning.
    std::vector<Drive> fresh;
    for (Drive& v : found.volumes) {
        const auto same = [&](const Drive& d) { return sameVolume(d, v); };
        const auto present = std::find_if(m_drives.begin(), m_drives.end(), same);
        const auto back = std::find_if(next.m_gone.begin(), next.m_gone.end(), same);
        if (present != m_drives.end()) {
            next.m_drives.push_back(*present);
        } else if (back != next.m_gone.end()) {
            next.m_drives.push_back(*back);
            next.m_gone.erase(back);
        } else {
            fresh.push_back(std::move(v));
            continue;
        }
        next.m_drives.back().volume = v.volume; // the same file system on another device
    }
    for (const Drive& d : m_drives)
        if (d.letter != QLatin1Char('C') && !next.find(d.letter))
            next.m_gone.push_back(d);

    // New volumes: the first letter nobody holds; when none is left, the one
    // held longest.
    const auto taken = [&](char letter) {
        const auto is = [&](const Drive& d) { return d.letter == QLatin1Char(letter); };
        return std::any_of(next.m_drives.begin(), next.m_drives.end(), is) ||
               std::any_of(next.m_gone.begin(), next.m_gone.end(), is);
    };
    for (Drive& v : fresh) {
        char letter = 'D';
        while (letter <= 'Z' && taken(letter))
            ++letter;
        if (letter <= 'Z') {
            v.letter = QLatin1Char(letter);
        } else if (!next.m_gone.empty()) {
            v.letter = next.m_gone.front().letter;
            next.m_gone.erase(next.m_gone.begin());
        } else {
            break; // every letter names a mounted volume
        }
        next.m_drives.push_back(std::move(v));
    }
    std::sort(next.m_drives.begin(), next.m_drives.end(),
              [](const Drive& a, const Drive& b) { return a.letter < b.letter; });
    return next;
}

const DriveTable& DriveTable::current() {
    if (!installed())
        installed() = fromMountInfo(mountInfoText());
    return *installed();
}

void DriveTable::install(const DriveTable& table) {
    installed() = table;
    installedByTest() = true;
}

void DriveTable::reset() {
    installed().reset();
    installedByTest() = false;
}

void DriveTable::refresh() {
    if (installedByTest())
        return;
    if (!installed()) {
        current();
        return;
    }
    if (const QByteArray text = mountInfoText(); !text.isEmpty())
        installed() = installed()->withMounts(text);
}

const Drive* DriveTable::find(QChar letter) const {
    const QChar upper = letter.toUpper();
    for (const Drive& d : m_drives)
        if (d.letter == upper)
            return &d;
    return nullptr;
}

QChar DriveTable::currentDrive() const {
    const QString cwd = toDrivePath(hostBytes(QDir::currentPath()));
    if (cwd.size() >= 2 && cwd[1] == QLatin1Char(':'))
        return cwd[0];
    return m_drives.empty() ? QLatin1Char('C') : m_drives.front().letter;
}

void DriveTable::requireVolume(const QString& drivePath) const {
    const Drive* drive =
        drivePath.size() >= 2 && drivePath[1] == QLatin1Char(':') ? find(drivePath[0]) : nullptr;
    if (drive && drive->volume && Volume::at(drive->hostRoot) != drive->volume)
        raiseError(ErrDeviceUnavailable);
}

DriveTable::HostPath DriveTable::resolve(const QString& drivePath) const {
    requireVolume(drivePath);
    // "\A\B" addresses the current drive; "\\server\share" has no drive.
    if (drivePath.startsWith(QLatin1Char('\\')) && !drivePath.startsWith(QLatin1String("\\\\")))
        return resolve(QString(currentDrive()) + QLatin1Char(':') + drivePath);
    if (drivePath.size() < 2 || drivePath[1] != QLatin1Char(':') || !drivePath[0].isLetter())
        raiseError(ErrPathNotFound);
    const Drive* drive = find(drivePath[0]);
    if (!drive)
        raiseError(ErrDeviceUnavailable);

    HostPath resolved{drive->hostRoot, {}};
    std::string dir = drive->hostRoot; // the host path of the last component
    bool missing = false;              // past a missing component the rest are taken as typed
    for (const QString& component : drivePath.mid(2).split(QLatin1Char('\\'), Qt::SkipEmptyParts)) {
        if (component == QLatin1String("."))
            continue;
        if (component == QLatin1String("..")) {
            if (!resolved.names.empty())
                resolved.names.pop_back();
            dir = resolved.path();
            missing = false;
            continue;
        }
        std::string name = hostBytes(component);
        struct stat st {};
        if (!missing && ::lstat(joined(dir, name).c_str(), &st) != 0) {
            if (auto real = onlyCaseMatch(dir, component))
                name = std::move(*real);
            else
                missing = true;
        }
        dir = joined(dir, name);
        resolved.names.push_back(std::move(name));
    }
    return resolved;
}

std::string DriveTable::HostPath::path() const {
    std::string path = root;
    for (const std::string& name : names)
        path = joined(path, name);
    return path;
}

std::string DriveTable::toHost(const QString& drivePath) const {
    return resolve(drivePath).path();
}

QString DriveTable::toDrivePath(const std::string& hostPath) const {
    for (const std::string& root : networkRoots)
        if (under(hostPath, root)) {
            QString rest = hostText(hostPath.substr(root.size()));
            return QStringLiteral("\\") + rest.replace(QLatin1Char('/'), QLatin1Char('\\'));
        }
    const Drive* best = nullptr;
    for (const Drive& d : m_drives)
        if (under(hostPath, d.hostRoot) && (!best || d.hostRoot.size() > best->hostRoot.size()))
            best = &d;
    if (!best) {
        QString rest = hostText(hostPath);
        return rest.replace(QLatin1Char('/'), QLatin1Char('\\'));
    }
    std::string rest = hostPath.substr(best->hostRoot == "/" ? 1 : best->hostRoot.size());
    while (!rest.empty() && rest.front() == '/')
        rest.erase(0, 1);
    while (!rest.empty() && rest.back() == '/')
        rest.pop_back();
    QString text = hostText(rest);
    // A name holding "\" would read as two folders: such a path has no
    // faithful drive text, and is written like a path without a drive.
    if (text.contains(QLatin1Char('\\')))
        return QLatin1Char('\\') + text;
    return QString(best->letter) + QStringLiteral(":\\") +
           text.replace(QLatin1Char('/'), QLatin1Char('\\'));
}

QString currentDirectory() {
    return DriveTable::current().toDrivePath(hostBytes(QDir::currentPath()));
}

QString currentDirectory(QChar letter) {
    const QString cwd = currentDirectory();
    if (cwd.size() >= 3 && cwd[1] == QLatin1Char(':') && cwd[0] == letter.toUpper())
        return cwd;
    return QString(letter.toUpper()) + QStringLiteral(":\\");
}

QString programFolder() {
    if (!programFolderOverride().isEmpty())
        return programFolderOverride();
    const QByteArray dir = QFile::encodeName(QCoreApplication::applicationDirPath());
    return DriveTable::current().toDrivePath(dir.toStdString());
}

void setProgramFolder(const QString& drivePath) {
    programFolderOverride() = drivePath;
}

} // namespace platform
