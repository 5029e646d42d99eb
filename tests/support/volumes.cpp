#include "volumes.h"

#include "platform/progresswindow.h"

#include <QFile>
#include <QProcess>
#include <QTest>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

using namespace platform;
namespace fs = std::filesystem;

std::string bytes(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

std::map<std::string, std::string> rawTree(const QString& folder) {
    std::map<std::string, std::string> out;
    const fs::path root(bytes(folder));
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        const std::string name = fs::relative(e.path(), root).native();
        if (e.is_directory()) {
            out[name + '/'] = {};
            continue;
        }
        std::string& data = out[name];
        data.resize(size_t(e.file_size()));
        const int fd = ::open(e.path().c_str(), O_RDONLY);
        if (fd < 0 || ::read(fd, data.data(), data.size()) != ssize_t(data.size()))
            data = "<unreadable>";
        ::close(fd);
    }
    return out;
}

int leftovers(const QString& folder) {
    int n = 0;
    for (const auto& [name, data] : rawTree(folder)) {
        const fs::path path(name.ends_with('/') ? name.substr(0, name.size() - 1) : name);
        n += path.filename().native().starts_with(FileSystem::temporaryPrefix);
    }
    return n;
}

bool succeeds(const QString& program, const QStringList& args, QString* error) {
    QProcess p;
    p.start(program, args);
    const bool ok =
        p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    if (error && !ok)
        *error = program + u": "_s +
                 (p.error() == QProcess::FailedToStart
                      ? u"not installed"_s
                      : QString::fromLocal8Bit(p.readAllStandardError()).trimmed());
    return ok;
}

Mount::Mount(const QString& point, const QString& program, const QStringList& args) : point(point) {
    mounted = succeeds(program, args + QStringList{point}, &error);
}

Mount::~Mount() {
    if (mounted && !succeeds(u"umount"_s, {point}))
        succeeds(u"umount"_s, {u"-l"_s, point});
}

std::unique_ptr<Mount> mountFat(const QString& point, const QString& image) {
    auto m = std::make_unique<Mount>(point, u"mount"_s,
                                     QStringList{u"-t"_s, u"vfat"_s, u"-o"_s, u"loop"_s, image});
    if (!m->mounted) {
        const QString kernel = m->error;
        m = std::make_unique<Mount>(point, u"fusefat"_s, QStringList{u"-o"_s, u"rw+"_s, image});
        m->error = kernel + u"; "_s + m->error;
    }
    return m;
}

std::unique_ptr<Mount> freshFat(const QString& point, const QString& image, QString& why) {
    QFile file(image);
    if (!file.open(QIODevice::WriteOnly) || !file.resize(32 << 20)) {
        why = u"cannot make "_s + image;
        return nullptr;
    }
    file.close();
    if (!succeeds(u"mkfs.vfat"_s, {image}, &why)) {
        why = u"mkfs.vfat (dosfstools) is missing: "_s + why;
        return nullptr;
    }
    auto fat = mountFat(point, image);
    if (!fat->mounted) {
        why = u"a FAT image cannot be mounted here: "_s + fat->error;
        return nullptr;
    }
    return fat;
}

void own(const QString& path, uid_t uid, mode_t mode) {
    QCOMPARE(::chown(bytes(path).c_str(), uid, uid), 0);
    QCOMPARE(::chmod(bytes(path).c_str(), mode), 0);
}

SilentProgress::SilentProgress(bool hang) {
    ProgressWindow::install([hang](const QString&) {
        struct Window : ProgressWindow {
            bool hang;
            explicit Window(bool h) : hang(h) {}
            bool update(int percent) override {
                if (hang && percent > 0) {
                    std::puts("copying");
                    std::fflush(stdout);
                    for (;;)
                        ::pause();
                }
                return true;
            }
        };
        return std::unique_ptr<ProgressWindow>(new Window(hang));
    });
}

SilentProgress::~SilentProgress() {
    ProgressWindow::install({});
}

CommandRun::CommandRun(const QString& to) {
    w.from = u"F:\\S"_s;
    w.to = to;
}

QString CommandRun::box() const {
    return boxes.boxes.size() == 1 ? boxes.boxes[0].prompt
                                   : u"<%1 boxes>"_s.arg(boxes.boxes.size());
}
