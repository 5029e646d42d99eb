#include "engine/lookahead.h"

namespace TRAVO1 {

using namespace platform;

Lookahead::Lookahead(const Directory& top) : m_top(top), m_slots(window) {
    for (int i = 0; i < workers; ++i)
        m_threads.emplace_back([this] { work(); });
}

Lookahead::~Lookahead() {
    {
        const std::lock_guard lock(m_mutex);
        m_ending = true;
    }
    m_work.notify_all();
    for (std::thread& t : m_threads)
        t.join();
    for (auto& [name, folder] : m_staging) {
        folder = Directory();
        FileSystem::get().removeStaging(m_top, name);
    }
}

bool Lookahead::copyMayBegin(size_t question) const {
    size_t before = 0;
    for (size_t p = m_taken; p < question; ++p) {
        const Slot& slot = m_slots[p % window];
        if (slot.copying ? ++before == copiesAhead : !slot.answered)
            return false; // a copy too many, or not yet known whether it copies
    }
    return true;
}

bool Lookahead::handOutAllowed() const {
    return m_handedOut < m_files.size() && m_handedOut < m_taken + window;
}

void Lookahead::work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] {
            return m_ending || !m_dropped.empty() || m_leftoversWanted || handOutAllowed();
        });
        if (m_ending)
            return;
        ++m_underWay;
        if (m_leftoversWanted) {
            m_leftoversWanted = false;
            lock.unlock();
            FileSystem::get().removeLeftovers(*m_destination);
            lock.lock();
        } else if (!m_dropped.empty()) {
            std::optional<PreparedCopy> dropped(std::move(m_dropped.back()));
            m_dropped.pop_back();
            lock.unlock();
            dropped.reset(); // its file removed
            lock.lock();
        } else {
            const size_t question = m_handedOut++;
            Slot& slot = m_slots[question % window];
            slot.question = question;
            slot.answered = false;
            slot.copying = false;
            const std::string name = *m_files[question];
            lock.unlock();
            Slot answered;
            answer(answered, name, question);
            lock.lock();
            slot.from = std::move(answered.from);
            slot.to = std::move(answered.to);
            slot.copy = std::move(answered.copy);
            slot.answered = true;
            m_turn.notify_all(); // a file known not to be copied lets later copies begin
        }
        --m_underWay;
        m_answered.notify_all();
    }
}

// The level's questions for one file, as it would ask them. The recorded
// error is this thread's own: each failure travels in the answer to the
// level, which records it when it takes it. m_mutex is not held, but the
// level does not change while questions are under way.
void Lookahead::answer(Slot& slot, const std::string& name, size_t question) {
    FileSystem& fs = FileSystem::get();
    try {
        slot.from.info = fs.attributes(*m_source, name);
    } catch (const Failure&) {
        slot.from.error = Err();
    }
    const bool file = slot.from.error.number == 0 && !(slot.from.info.attributes & AttrDirectory);
    if (file && m_probe) {
        try {
            slot.to.info = fs.probe(*m_destination, name);
        } catch (const Failure&) {
            slot.to.error = Err();
        }
    }
    const int32_t toError = m_probe ? slot.to.error.number : int32_t(ErrFileNotFound);
    std::optional<const Directory*> staging;
    if (file && m_copies && m_copies(slot.from.info, toError, slot.to.info))
        staging = mayCopy(question);
    if (staging) {
        try {
            // Past the level's end the copy goes at its next step.
            slot.copy.made = fs.prepareCopy(
                *m_source, name, *m_destination, [this](int64_t, int64_t) { return !m_ended; },
                *staging);
        } catch (const Failure&) {
            slot.copy.error = Err();
        }
    }
    clearError();
}

// Records that the file is copied ahead and waits until its copy is among
// the next copiesAhead of the level: the questions before it answered that
// far, and fewer than copiesAhead copies among them. The file in hand's
// always is, so a rerun's few changed files are copied as soon as the files
// before them are known to be up to date, a full copy's a few files ahead.
// None when the level ended meanwhile. The first copy into the level's
// destination has the leftovers of killed copies removed there, on another
// worker. Gives the staging folder that the copy takes, if any: in folders
// the run made.
std::optional<const Directory*> Lookahead::mayCopy(size_t question) {
    std::unique_lock lock(m_mutex);
    m_slots[question % window].copying = true;
    m_turn.wait(lock, [&] { return m_files.empty() || copyMayBegin(question); });
    if (m_files.empty())
        return std::nullopt;
    if (FileSystem::get().claimLeftovers(*m_destination)) {
        m_leftoversWanted = true;
        m_work.notify_one();
    }
    // A folder the run made takes every file at once, and there copies
    // queue; a few changed files are best renamed within their folder.
    if (!m_destination->made())
        return nullptr;
    if (m_stagingState == Staging::None)
        makeStaging(lock);
    m_turn.wait(lock, [&] { return m_stagingState == Staging::Made; });
    return m_staging.empty() ? nullptr : &m_staging[m_copiesBegun++ % m_staging.size()].second;
}

// Made at the run's first copy, so that a run copying nothing makes none;
// none when one cannot be made: copies are then prepared beside their
// destination.
void Lookahead::makeStaging(std::unique_lock<std::mutex>& lock) {
    m_stagingState = Staging::Making;
    lock.unlock();
    std::vector<std::pair<std::string, Directory>> made;
    for (size_t i = 0; i < stagingFolders; ++i) {
        std::string name;
        Directory folder = FileSystem::get().makeStaging(m_top, name);
        made.emplace_back(std::move(name), std::move(folder));
        if (made.back().second.fd() < 0)
            break;
    }
    const bool complete = made.size() == stagingFolders && made.back().second.fd() >= 0;
    if (!complete)
        for (auto& [name, folder] : made) {
            folder = Directory();
            FileSystem::get().removeStaging(m_top, name);
        }
    lock.lock();
    if (complete)
        m_staging = std::move(made);
    m_stagingState = Staging::Made;
    m_turn.notify_all();
}

Lookahead::Level::Level(Lookahead& pool, const Directory& source, const Directory& destination,
                        std::vector<const std::string*> files, bool probe, Copies copies)
    : m_pool(pool) {
    {
        const std::lock_guard lock(pool.m_mutex);
        pool.m_source = &source;
        pool.m_destination = &destination;
        pool.m_files = std::move(files);
        pool.m_probe = probe;
        pool.m_copies = std::move(copies);
        pool.m_handedOut = pool.m_taken = 0;
        pool.m_ended = false;
    }
    pool.m_work.notify_all();
}

Lookahead::Level::~Level() {
    Lookahead& pool = m_pool;
    std::unique_lock lock(pool.m_mutex);
    pool.m_files.clear(); // nothing more is handed out, no copy more begun
    pool.m_ended = true;
    pool.m_turn.notify_all();
    // Copies made ahead of where the level ended go, on the workers, as
    // each costs a round trip on a share: those made already while the
    // questions under way end (a stop waits for both), then theirs.
    const auto drop = [&](Copy& copy) {
        if (copy.made)
            pool.m_dropped.push_back(std::move(*copy.made));
        copy = {};
    };
    drop(pool.m_copyInHand);
    for (Slot& slot : pool.m_slots)
        drop(slot.copy);
    pool.m_work.notify_all();
    pool.m_answered.wait(lock, [&] { return pool.m_underWay == 0; });
    for (Slot& slot : pool.m_slots) {
        drop(slot.copy);
        slot = Slot{};
    }
    pool.m_work.notify_all();
    pool.m_answered.wait(lock, [&] {
        return pool.m_underWay == 0 && pool.m_dropped.empty() && !pool.m_leftoversWanted;
    });
    pool.m_source = pool.m_destination = nullptr;
    pool.m_copies = nullptr;
}

FileInfo Lookahead::Level::attributes(const std::string& name) {
    Lookahead& pool = m_pool;
    std::unique_lock lock(pool.m_mutex);
    const size_t question = pool.m_taken;
    Q_ASSERT(question < pool.m_files.size() && *pool.m_files[question] == name);
    Slot& slot = pool.m_slots[question % window];
    pool.m_answered.wait(lock, [&] { return slot.question == question && slot.answered; });
    if (pool.m_copyInHand.made) // the last file's, which the level did not take
        pool.m_dropped.push_back(std::move(*pool.m_copyInHand.made));
    pool.m_inHand = std::move(slot.to);
    pool.m_copyInHand = std::move(slot.copy);
    const Answer from = std::move(slot.from);
    slot = Slot{};
    ++pool.m_taken; // a slot is free for the next question
    const bool dropped = !pool.m_dropped.empty();
    lock.unlock();
    // One more question may go out, and copies after this file may begin;
    // a worker woken for nothing costs a switch of threads on few cores.
    if (dropped)
        pool.m_work.notify_all();
    else
        pool.m_work.notify_one();
    pool.m_turn.notify_all();
    return given(from);
}

FileInfo Lookahead::Level::probe([[maybe_unused]] const std::string& name) {
    Q_ASSERT(m_pool.m_taken > 0 && *m_pool.m_files[m_pool.m_taken - 1] == name);
    return given(m_pool.m_inHand);
}

std::optional<PreparedCopy> Lookahead::Level::prepared([[maybe_unused]] const std::string& name) {
    Q_ASSERT(m_pool.m_taken > 0 && *m_pool.m_files[m_pool.m_taken - 1] == name);
    Copy copy = std::move(m_pool.m_copyInHand);
    m_pool.m_copyInHand = {};
    if (copy.error.number != 0) {
        Err() = copy.error;
        throw Failure(copy.error.number);
    }
    return std::move(copy.made);
}

FileInfo Lookahead::given(const Answer& answer) {
    if (answer.error.number != 0) {
        Err() = answer.error;
        throw Failure(answer.error.number);
    }
    return answer.info;
}

} // namespace TRAVO1
