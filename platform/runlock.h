#pragma once
// One copy run per program folder at a time, whatever process runs it (the
// window or the command line): a lock on a file in the program's folder,
// which the kernel releases when the process ends, however it ends.

#include <string>

namespace platform {

class RunLock {
public:
    enum State { Held, Busy, Unavailable };

    // Takes the lock of the folder `hostFolder`, without waiting. Busy when
    // another run holds it; Unavailable when the lock file cannot be made
    // (a read-only folder, or no folder given), where the run goes on
    // unguarded rather than not at all.
    static RunLock take(const std::string& hostFolder);

    RunLock(RunLock&& other) noexcept;
    RunLock& operator=(RunLock&&) = delete;
    ~RunLock();

    State state() const { return m_state; }

    // The lock file's name: a dot name, so the copy never takes it along.
    static constexpr const char* FileName = ".pelivor.lock";

private:
    RunLock(State state, int fd) : m_state(state), m_fd(fd) {}
    State m_state;
    int m_fd;
};

} // namespace platform
