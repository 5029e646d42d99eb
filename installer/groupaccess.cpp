#include "installer/groupaccess.h"
#include "installer/placing.h"
#include "platform/runlock.h"

#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace placing {

namespace {

QString groupName(gid_t group) {
    const ::group* entry = ::getgrgid(group);
    return entry ? QString::fromLocal8Bit(entry->gr_name) : QString::number(group);
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    Fd(const Fd&) = delete;
    ~Fd() {
        if (fd >= 0)
            ::close(fd);
    }
};

// `name` in the folder `dir`, made or taken over as root's and the group's
// with exactly `mode`. Opened without following a link and without waiting
// on a pipe, so nothing someone planted there is changed.
QString giveToGroup(int dir, const char* name, gid_t group, mode_t mode) {
    const Fd file(
        ::openat(dir, name, O_RDONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode));
    struct stat st {};
    if (file.fd < 0 || ::fstat(file.fd, &st) != 0)
        return QStringLiteral("%1: %2").arg(QString::fromLatin1(name), systemError());
    if (!S_ISREG(st.st_mode) || st.st_nlink != 1)
        return QStringLiteral("%1 não é um arquivo comum de um só nome: nada foi mudado nele")
            .arg(QString::fromLatin1(name));
    if (::fchown(file.fd, 0, group) != 0 || ::fchmod(file.fd, mode) != 0)
        return QStringLiteral("%1: %2").arg(QString::fromLatin1(name), systemError());
    return QString();
}

} // namespace

QString groupRefusal(const QString& folder, gid_t group) {
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return QStringLiteral("%1: %2").arg(folder, systemError());
    if ((st.st_mode & S_IWGRP) && st.st_gid != group)
        return QStringLiteral("%1 é gravável pelo grupo %2: dada ao grupo %3, deixaria os seus "
                              "membros trocarem o programa; tire a escrita do grupo (chmod g-w) "
                              "ou use --grupo %2")
            .arg(folder, groupName(st.st_gid), groupName(group));
    return QString();
}

QString shareWithGroup(const QString& folder, gid_t group) {
    const Fd dir(::open(QFile::encodeName(folder).constData(),
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.fd < 0 || ::fchown(dir.fd, uid_t(-1), group) != 0)
        return QStringLiteral("%1: %2").arg(folder, systemError());
    for (const auto& [name, mode] :
         {std::pair{"Log.txt", mode_t(0664)}, std::pair{platform::RunLock::FileName, mode_t(0660)}})
        if (const QString error = giveToGroup(dir.fd, name, group, mode); !error.isEmpty())
            return error;
    // A folder with the set-group bit hands its group to the program file.
    const QByteArray program = QFile::encodeName(ProgramName);
    struct stat st {};
    if (::fstatat(dir.fd, program.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISREG(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) &&
        ::fchmodat(dir.fd, program.constData(), st.st_mode & 0755, 0) != 0)
        return QStringLiteral("%1: %2").arg(ProgramName, systemError());
    return QString();
}

QString writableFolderWarning(const QString& folder) {
    // The folder itself, then each folder above it: whoever may rename one
    // of those may put another folder, and another program, in its place.
    for (QString at = folder; !at.isEmpty();) {
        struct stat st {};
        if (::stat(QFile::encodeName(at).constData(), &st) != 0)
            return QString();
        const QString what = at == folder ? at : QStringLiteral("%1, acima de %2,").arg(at, folder);
        const bool sticky = st.st_mode & S_ISVTX; // entries stay their owners'
        if (st.st_uid != 0) {
            const ::passwd* owner = ::getpwuid(st.st_uid);
            return QStringLiteral("%1 é de %2, que pode trocar o programa que os outros iniciam "
                                  "(chown root)")
                .arg(what,
                     owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(st.st_uid));
        }
        if ((st.st_mode & S_IWOTH) && !sticky)
            return QStringLiteral("qualquer usuário grava em %1 e pode trocar o programa que os "
                                  "outros iniciam (chmod o-w)")
                .arg(what);
        if ((st.st_mode & S_IWGRP) && !sticky)
            return QStringLiteral("os membros do grupo %1 gravam em %2 e podem trocar o programa "
                                  "que os outros iniciam (chmod g-w)")
                .arg(groupName(st.st_gid), what);
        const QString parent = QFileInfo(at).path();
        at = parent == at ? QString() : parent;
    }
    return QString();
}

} // namespace placing
