#pragma once
// The benchmark's own mounts: the latency file system that poses as a
// network share, and a tmpfs for the memory runs. Each is unmounted when
// its object goes, on failure as well.

#include <QProcess>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace bench {

// The mount cannot be made here (no FUSE, not root): the run is skipped,
// not failed.
struct Unavailable : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The type of the file system that holds `path` ("tmpfs", "ext4", ...), as
// the mount table names it; empty when it cannot tell.
QString fileSystemType(const std::filesystem::path& path);

class Mount {
public:
    // latencyfs over `point`, passing through to `backing`, every
    // operation delayed by `delayMs`.
    static std::unique_ptr<Mount> latency(const std::filesystem::path& backing,
                                          const std::filesystem::path& point, double delayMs);
    static std::unique_ptr<Mount> tmpfs(const std::filesystem::path& point);
    ~Mount();

private:
    explicit Mount(std::filesystem::path point) : m_point(std::move(point)) {}
    std::filesystem::path m_point;
    std::unique_ptr<QProcess> m_server; // latencyfs, serving until unmounted
};

} // namespace bench
