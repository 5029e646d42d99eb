#pragma once
// The files of a folder compared ahead, on a pool of workers.
//
// On a share every open and every block read waits for a round trip, and no
// file's comparison depends on another's: workers compare the files ahead of
// the one in hand, each with buffers of its own, and the walk takes the
// verdicts in its own order, so what it reports is what a walk that compares
// one file at a time would report.

#include "platform/compare.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace TRAVO1 {

class CompareAhead {
public:
    // Files compared at once, and how far ahead of the one in hand they may
    // go: the memory is the workers' buffers, whatever the size of the tree.
    static constexpr int workers = 8;
    static constexpr size_t window = 32;

    CompareAhead();
    ~CompareAhead(); // gives up what is under way
    CompareAhead(const CompareAhead&) = delete;
    CompareAhead& operator=(const CompareAhead&) = delete;

    // Starts on one folder's files, in its order; the folders and names must
    // outlive the level, which ends with end().
    void begin(const platform::Directory& source, const platform::Directory& copy,
               std::vector<const std::string*> names);
    // The verdict of the next file, waiting for it. `goOn` runs every few
    // milliseconds meanwhile (it pumps events); once it says no, the wait
    // ends with Stopped.
    platform::Comparison next(const std::function<bool()>& goOn);
    // Ends the level: comparisons under way give up, and their verdicts and
    // those not taken are dropped.
    void end();

private:
    struct Slot {
        size_t file = SIZE_MAX; // which file of the level it holds
        bool done = false;
        platform::Comparison verdict;
    };
    void work();
    bool handOutAllowed() const; // with m_mutex held

    const platform::Directory* m_source = nullptr;
    const platform::Directory* m_copy = nullptr;
    std::vector<const std::string*> m_names;
    size_t m_handedOut = 0, m_taken = 0;
    int m_underWay = 0;
    bool m_quitting = false;
    std::atomic<bool> m_givingUp{false};
    std::vector<Slot> m_slots;
    std::mutex m_mutex;
    std::condition_variable m_work, m_done;
    std::vector<std::thread> m_threads;
};

} // namespace TRAVO1
