#pragma once
// The mark of a run that has not reached its flush.
//
// A copy is renamed into place with its source's length and time before its
// data is on the disk: only the end of a run flushes. A power cut, or a stick
// pulled out without ejecting, can leave a copy whose length and time are its
// source's and whose contents are not, and the up-to-date rule would trust
// it for ever. So before its first copy a run leaves a mark in its
// destination's top folder, on the disk, and removes it after its flush; the
// next run onto a marked folder compares the contents of the copies that the
// unfinished run may have placed.
//
// The mark's own change time, kept by the destination's clock, tells which
// copies those are: the ones changed since. A volume that keeps no change
// time (FAT) cannot tell, and there every copy is suspect.

#include "platform/files.h"

#include <atomic>
#include <ctime>
#include <mutex>

namespace platform {

class RunMark {
public:
    // Hidden, so never listed or copied; not a leftover, which ends in ".tmp".
    static constexpr const char* fileName = ".pelivor-incompleta";

    // Reads the mark that an earlier run left in `top`, the run's destination,
    // which outlives this object: one system call where there is none.
    explicit RunMark(const Directory& top);
    RunMark(const RunMark&) = delete;
    RunMark& operator=(const RunMark&) = delete;

    // Whether an earlier run left the mark.
    bool found() const { return m_found; }
    // Whether a copy in `dir`, by its attributes, may have been placed by the
    // unfinished run: changed since the mark was made, or any copy where the
    // change time is not kept. Asks the host nothing.
    bool suspect(const FileInfo& copy, const Directory& dir) const;

    // Puts the mark on the disk, unless it is there: written, flushed, and
    // its folder flushed, so that no copy this run places can outlive it.
    // Called before each copy, on any thread; after the first, costs nothing.
    // Raises what kept it from being made, and tries again at the next call.
    void make();
    // Removes the mark, once the run's copies are flushed.
    void clear();

private:
    const Directory& m_top;
    bool m_found = false;
    bool m_changeTimeKept = false;
    struct timespec m_made = {}; // the found mark's change time
    std::atomic<bool> m_exists{false};
    std::mutex m_mutex;
};

} // namespace platform
