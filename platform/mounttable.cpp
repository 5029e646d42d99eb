#include "platform/mounttable.h"

#include <QFile>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace platform {

namespace {

// mountinfo escapes blanks and a few other bytes as \ooo.
QByteArray unescaped(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out.append(char(value));
                i += 3;
                continue;
            }
        }
        out.append(field[i]);
    }
    return out;
}

// The path the kernel gives for an open file, in this process's view.
std::optional<std::string> pathOf(int fd) {
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    std::string path(4096, '\0');
    for (;;) {
        const ssize_t n = ::readlink(link.c_str(), path.data(), path.size());
        if (n < 0)
            return std::nullopt;
        if (size_t(n) < path.size()) {
            path.resize(size_t(n));
            return path;
        }
        path.resize(path.size() * 2); // a folder deeper than the path limit
    }
}

} // namespace

QByteArray mountInfoText() {
    QFile file(QStringLiteral("/proc/self/mountinfo"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::vector<MountEntry> parseMountInfo(const QByteArray& text) {
    // Fields: id parent major:minor root point options [optional...] - type source ...
    std::vector<MountEntry> table;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        const qsizetype dash = f.indexOf("-");
        const qsizetype colon = f.size() > 2 ? f[2].indexOf(':') : -1;
        if (dash < 6 || dash + 2 >= f.size() || colon < 0)
            continue;
        MountEntry entry;
        entry.id = f[0].toInt();
        entry.device = makedev(f[2].left(colon).toUInt(), f[2].mid(colon + 1).toUInt());
        entry.root = unescaped(f[3]).toStdString();
        entry.point = unescaped(f[4]).toStdString();
        entry.type = f[dash + 1];
        entry.source = unescaped(f[dash + 2]);
        table.push_back(std::move(entry));
    }
    return table;
}

std::optional<PlaceInFileSystem> placeInFileSystem(int fd, const std::vector<MountEntry>& table) {
    struct statx sx {};
    if (::statx(fd, "", AT_EMPTY_PATH, STATX_MNT_ID | STATX_NLINK, &sx) != 0 ||
        !(sx.stx_mask & STATX_MNT_ID) || sx.stx_nlink == 0)
        return std::nullopt;
    const std::optional<std::string> path = pathOf(fd);
    if (!path || !path->starts_with('/'))
        return std::nullopt;
    for (const MountEntry& mount : table) {
        if (mount.id != int(sx.stx_mnt_id))
            continue;
        // The part of the path below the mount point, "" at the point itself.
        std::string rest;
        if (mount.point == "/")
            rest = *path == "/" ? std::string() : *path;
        else if (path->starts_with(mount.point) &&
                 (path->size() == mount.point.size() || (*path)[mount.point.size()] == '/'))
            rest = path->substr(mount.point.size());
        else
            return std::nullopt;
        if (mount.root == "/")
            return PlaceInFileSystem{mount.device, rest.empty() ? "/" : rest};
        return PlaceInFileSystem{mount.device, mount.root + rest};
    }
    return std::nullopt; // mounted after the table was read
}

bool isBelow(const PlaceInFileSystem& inner, const PlaceInFileSystem& outer) {
    if (inner.device != outer.device)
        return false;
    const std::string& in = inner.path;
    const std::string& out = outer.path;
    return out == "/" || in == out ||
           (in.starts_with(out) && in.size() > out.size() && in[out.size()] == '/');
}

} // namespace platform
