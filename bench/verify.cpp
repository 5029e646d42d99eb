#include "bench/verify.h"

#include "engine/verify.h"
#include "platform/drives.h"

#include <fcntl.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace bench {

namespace fs = std::filesystem;

namespace {

// Fails at the first file that differs; nothing else is to be reported.
class Silent : public TRAVO1::VerifyObserver {
public:
    void missing(const std::string& path) override { throw std::runtime_error("missing " + path); }
    void different(const std::string& path) override {
        throw std::runtime_error("different " + path);
    }
    void unreadable(const std::string& path, const platform::RecordedError&) override {
        throw std::runtime_error("unreadable " + path);
    }
    void failed(const platform::RecordedError& e) override {
        throw std::runtime_error("failed with " + std::to_string(e.number));
    }
    void stopped() override {}
    void finished(const TRAVO1::VerifyCounts&) override {}
};

QString drivePath(const fs::path& host) {
    return platform::DriveTable::current().toDrivePath(host.string());
}

void cmp(const std::string& a, const std::string& b) {
    const char* argv[] = {"cmp", "-s", a.c_str(), b.c_str(), nullptr};
    pid_t pid = 0;
    if (::posix_spawnp(&pid, "cmp", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
        throw std::runtime_error("cannot start cmp");
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("cmp: " + a + " and " + b + " differ");
}

} // namespace

Peer pelivorVerifier() {
    Peer peer;
    peer.name = QStringLiteral("pelivor");
    peer.inProcess = true;
    peer.copy = [](const std::string& source, const std::string& destination) {
        Silent silent;
        const TRAVO1::VerifyOutcome outcome =
            TRAVO1::VerifyCopy(drivePath(source), drivePath(destination), silent);
        if (outcome.end != TRAVO1::VerifyEnd::Equal || outcome.counts.equal == 0)
            throw std::runtime_error("Pelivor's verification ended with \"" +
                                     TRAVO1::verifyResultText(outcome).toStdString() + '"');
    };
    return peer;
}

Peer cmpVerifier() {
    Peer peer;
    peer.name = QStringLiteral("cmp");
    peer.copy = [](const std::string& source, const std::string& destination) {
        const fs::path from(source), to = fs::path(destination) / from.filename();
        for (const auto& entry : fs::recursive_directory_iterator(from))
            if (entry.is_regular_file())
                cmp(entry.path().string(), (to / entry.path().lexically_relative(from)).string());
    };
    return peer;
}

void dropCachedPages(const fs::path& tree) {
    for (const auto& entry : fs::recursive_directory_iterator(tree)) {
        if (!entry.is_regular_file())
            continue;
        const int fd = ::open(entry.path().c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) {
            ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
            ::close(fd);
        }
    }
}

} // namespace bench
