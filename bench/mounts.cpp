#include "bench/mounts.h"

#include "platform/mounttable.h"

#include <QFile>
#include <QThread>
#include <cerrno>
#include <cstring>
#include <linux/magic.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

namespace bench {

namespace fs = std::filesystem;

namespace {

bool isFuse(const fs::path& point) {
    struct statfs st;
    return ::statfs(point.c_str(), &st) == 0 && st.f_type == FUSE_SUPER_MAGIC;
}

} // namespace

QString fileSystemType(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    QString type;
    for (const platform::MountEntry& mount : platform::parseMountInfo(platform::mountInfoText()))
        if (mount.device == st.st_dev)
            type = QString::fromUtf8(mount.type); // the last mount of it is the one seen
    return type;
}

std::unique_ptr<Mount> Mount::latency(const fs::path& backing, const fs::path& point,
                                      double delayMs) {
    const QString program = QStringLiteral(PELIVOR_LATENCYFS);
    if (program.isEmpty())
        throw Unavailable("latencyfs was not built: libfuse3 was missing (scripts/install-deps "
                          "bench installs libfuse3-dev and fuse3)");
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        throw Unavailable(std::string("no access to /dev/fuse: ") + std::strerror(errno));
    fs::create_directories(backing);
    fs::create_directories(point);
    std::unique_ptr<Mount> mount(new Mount(point));
    mount->m_server = std::make_unique<QProcess>();
    QProcess& server = *mount->m_server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.start(program, {QStringLiteral("--delay-ms"), QString::number(delayMs, 'g', 6),
                           QFile::decodeName(backing.c_str()), QFile::decodeName(point.c_str())});
    for (int waited = 0; !isFuse(point); waited += 10) {
        if (server.state() == QProcess::NotRunning || waited > 10000) {
            const std::string why = server.readAll().trimmed().toStdString();
            mount->m_server.reset();
            throw Unavailable("latencyfs did not mount on " + point.string() + ": " +
                              (why.empty() ? server.errorString().toStdString() : why));
        }
        server.waitForFinished(10);
    }
    return mount;
}

std::unique_ptr<Mount> Mount::tmpfs(const fs::path& point) {
    fs::create_directories(point);
    if (::mount("tmpfs", point.c_str(), "tmpfs", 0, "size=90%,nr_inodes=0,mode=0755") != 0)
        throw Unavailable("cannot mount a tmpfs on " + point.string() + ": " +
                          std::strerror(errno));
    return std::unique_ptr<Mount>(new Mount(point));
}

Mount::~Mount() {
    // Detached if still busy, so that a failed run does not leave it behind
    // (nor a dead server's mount).
    if (::umount2(m_point.c_str(), 0) != 0)
        ::umount2(m_point.c_str(), MNT_DETACH);
    if (m_server && !m_server->waitForFinished(5000))
        m_server->kill();
}

} // namespace bench
