#pragma once
// The questions a folder's files put to the file system, asked ahead.
//
// On a network share every stat waits for a round trip. A level asks each
// of its files the same two questions (the source's attributes, then how its
// copy stands), and no answer depends on another file's copy: a pool of
// workers asks them for the files ahead while the level works on the file in
// hand. A file the level will copy is also copied ahead, all but the rename
// that puts it in place. The level takes every answer in its own order, as
// if it had just asked, and renames each copy at its turn, so what it shows,
// records, logs and leaves at the destination is that of a walk that asks
// one question at a time; copies made ahead of a stop are removed.

#include "platform/errors.h"
#include "platform/files.h"

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace TRAVO1 {

class Lookahead {
public:
    // Questions under way at once, and how far ahead of the file in hand
    // they may go. A far share (10 ms a round trip) keeps 32 busy where 16
    // left the folder's opening alone on the wire a quarter of the time.
    static constexpr int workers = 32;
    static constexpr size_t window = 64;
    // Copies made ahead of the file in hand at most: the next ones in the
    // level's order, however far ahead their files lie. A stop waits for
    // each one under way and removes each one made, a round trip apiece on
    // a share.
    static constexpr size_t copiesAhead = 4;
    // Copies are prepared in turn in this many staging folders, so that
    // none waits for another: a number that does not divide copiesAhead,
    // or copy k + copiesAhead would be made in the folder that copy k is
    // being renamed out of. Few, since a stop removes them one after another:
    // removals in one folder wait for each other, whatever the threads.
    static constexpr size_t stagingFolders = 3;

    // `top`: the run's destination, where the staging folders go; it
    // outlives the pool.
    explicit Lookahead(const platform::Directory& top);
    ~Lookahead();
    Lookahead(const Lookahead&) = delete;
    Lookahead& operator=(const Lookahead&) = delete;

    // The questions of one level, asked ahead for as long as it lives.
    class Level {
    public:
        // Whether the level copies a file, by its attributes and its copy's
        // (`toError` when the copy could not be looked at). Asked on the
        // workers: it may read only what does not change meanwhile.
        using Copies = std::function<bool(const platform::FileInfo& from, int32_t toError,
                                          const platform::FileInfo& to)>;
        // `files` are the names the level takes, in its order, each living
        // as long as the level; their copies are looked for unless the
        // level's destination was just made (`probe` false).
        Level(Lookahead& pool, const platform::Directory& source,
              const platform::Directory& destination, std::vector<const std::string*> files,
              bool probe, Copies copies);
        ~Level(); // waits for the questions under way; the rest are dropped
        Level(const Level&) = delete;
        Level& operator=(const Level&) = delete;

        // What FileSystem::attributes gives for the next file, `name`, and
        // then what FileSystem::probe gives for its copy: an answer that
        // failed raises, with the recorded error that asking it set.
        platform::FileInfo attributes(const std::string& name);
        platform::FileInfo probe(const std::string& name);
        // The copy of the file in hand made ahead, once: none when it was
        // not made; what making it raised is raised.
        std::optional<platform::PreparedCopy> prepared(const std::string& name);

    private:
        Lookahead& m_pool;
    };

private:
    struct Answer {
        platform::FileInfo info;
        platform::RecordedError error;
    };
    struct Copy {
        std::optional<platform::PreparedCopy> made;
        platform::RecordedError error;
    };
    struct Slot {
        size_t question = SIZE_MAX; // which file of the level it holds
        bool answered = false;
        bool copying = false; // its file is copied ahead: set under the lock, before the answer
        Answer from, to;
        Copy copy;
    };

    void work();
    void answer(Slot& slot, const std::string& name, size_t question);
    std::optional<const platform::Directory*> mayCopy(size_t question);
    bool copyMayBegin(size_t question) const; // with m_mutex held
    void makeStaging(std::unique_lock<std::mutex>& lock);
    bool handOutAllowed() const; // with m_mutex held
    static platform::FileInfo given(const Answer& answer);

    // Who touches what. "main": the thread that runs the level; "workers":
    // the pool's threads; "lock": m_mutex held.
    const platform::Directory& m_top; // set once; read by all

    // The staging folders: made by the first worker that copies into a
    // folder the run made, then read by all workers; under the lock (the
    // destructor, on main, reads them after the workers are joined).
    enum class Staging { None, Making, Made } m_stagingState = Staging::None;
    std::vector<std::pair<std::string, platform::Directory>> m_staging; // name, folder
    size_t m_copiesBegun = 0;

    // The level in hand; no level while `m_files` is empty. Written by main
    // under the lock, only while no question is under way (a level's
    // destructor waits for them); read by the workers without the lock while
    // they answer.
    const platform::Directory* m_source = nullptr;
    const platform::Directory* m_destination = nullptr;
    std::vector<const std::string*> m_files;
    bool m_probe = false;
    Level::Copies m_copies;

    // Under the lock, by main and the workers.
    size_t m_handedOut = 0;                        // files whose questions a worker took
    size_t m_taken = 0;                            // files whose answers the level took
    std::vector<platform::PreparedCopy> m_dropped; // removed by the workers
    bool m_leftoversWanted = false;                // the destination's, by a worker
    int m_underWay = 0;                            // questions being answered
    bool m_ending = false;                         // the pool is going
    // Question i in slot i % window; a worker answers into a slot of its
    // own, then moves it in.
    std::vector<Slot> m_slots;

    // Main's alone (moved in from a slot under the lock).
    Answer m_inHand;   // the copy's answer for the file in hand
    Copy m_copyInHand; // and its copy made ahead

    std::atomic<bool> m_ended{false}; // set by main: copies under way give up
    std::mutex m_mutex;
    // Idle workers wait for m_work, copies for their turn (and the staging
    // folders) for m_turn, main for m_answered.
    std::condition_variable m_work, m_turn, m_answered;
    std::vector<std::thread> m_threads; // main's: started and joined
};

} // namespace TRAVO1
