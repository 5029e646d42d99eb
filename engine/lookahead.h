#pragma once
// The questions a folder's files put to the file system, asked ahead.
//
// On a network share every stat waits for a round trip. A level asks each
// of its files the same two questions (the source's attributes, then how its
// copy stands), and no answer depends on another file's copy: a pool of
// workers asks them for the files ahead while the level works on the file in
// hand. The level takes every answer in its own order, as if it had just
// asked, so what it shows, records and logs is that of a walk that asks one
// question at a time.

#include "platform/errors.h"
#include "platform/files.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace TRAVO1 {

class Lookahead {
public:
    // Questions under way at once, and how far ahead of the file in hand
    // they may go.
    static constexpr int workers = 16;
    static constexpr size_t window = 64;

    Lookahead();
    ~Lookahead();
    Lookahead(const Lookahead&) = delete;
    Lookahead& operator=(const Lookahead&) = delete;

    // The questions of one level, asked ahead for as long as it lives.
    class Level {
    public:
        // `files` are the names the level takes, in its order, each living
        // as long as the level; their copies are looked for unless the
        // level's destination was just made (`probe` false).
        Level(Lookahead& pool, const platform::Directory& source,
              const platform::Directory& destination, std::vector<const std::string*> files,
              bool probe);
        ~Level(); // waits for the questions under way; the rest are dropped
        Level(const Level&) = delete;
        Level& operator=(const Level&) = delete;

        // What FileSystem::attributes gives for the next file, `name`, and
        // then what FileSystem::probe gives for its copy: an answer that
        // failed raises, with the recorded error that asking it set.
        platform::FileInfo attributes(const std::string& name);
        platform::FileInfo probe(const std::string& name);

    private:
        Lookahead& m_pool;
    };

private:
    struct Answer {
        platform::FileInfo info;
        platform::RecordedError error;
    };
    struct Slot {
        size_t question = SIZE_MAX; // which file of the level it holds
        bool answered = false;
        Answer from, to;
    };

    void work();
    bool handOutAllowed() const; // with m_mutex held
    static platform::FileInfo given(const Answer& answer);

    // The level in hand; no level while `m_files` is empty.
    const platform::Directory* m_source = nullptr;
    const platform::Directory* m_destination = nullptr;
    std::vector<const std::string*> m_files;
    bool m_probe = false;
    size_t m_handedOut = 0; // files whose questions a worker took
    size_t m_taken = 0;     // files whose answers the level took
    Answer m_inHand;        // the copy's answer for the file in hand
    int m_underWay = 0;
    bool m_ending = false;
    std::vector<Slot> m_slots; // question i in slot i % window
    std::mutex m_mutex;
    std::condition_variable m_work, m_answered;
    std::vector<std::thread> m_threads;
};

} // namespace TRAVO1
