#pragma once
// One copy run per program folder at a time, whatever process runs it (the
// window or the command line): a lock on a file in the program's folder,
// which the kernel releases when the process ends, however it ends.
//
// Anyone who can open a file can lock it, for reading as well as for
// writing, so the lock file is open to its owner alone (0600), or to a group
// that may both read and write it (0660, a folder placed for a group): a
// user who can only read the folder can neither open nor hold it.

#include <cstdint>
#include <string>

namespace platform {

class RunLock {
public:
    enum State { Held, Busy, Unavailable };

    // Takes the lock of the folder `hostFolder`, without waiting. Busy when
    // another run holds it; Unavailable when the lock file can be neither
    // made nor opened for reading and writing (a folder this user may not
    // write, a link, a pipe or anything but a regular file in its place),
    // error() says why. Made 0600; one of the running user's that others or
    // a read-only group could open is replaced by one with those bits taken
    // away, so that a descriptor opened meanwhile holds nothing.
    static RunLock take(const std::string& hostFolder);

    RunLock(RunLock&& other) noexcept;
    RunLock& operator=(RunLock&&) = delete;
    ~RunLock();

    State state() const { return m_state; }
    // The error number of an Unavailable lock.
    int32_t error() const { return m_error; }

    // The lock file's name: a dot name, so the copy never takes it along.
    static constexpr const char* FileName = ".pelivor.lock";

private:
    RunLock(State state, int fd, int32_t error = 0) : m_state(state), m_fd(fd), m_error(error) {}
    State m_state;
    int m_fd;
    int32_t m_error;
};

} // namespace platform
