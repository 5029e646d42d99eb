#include "engine/lookahead.h"

namespace TRAVO1 {

using namespace platform;

Lookahead::Lookahead() : m_slots(window) {
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
}

bool Lookahead::handOutAllowed() const {
    return m_handedOut < m_files.size() && m_handedOut < m_taken + window;
}

void Lookahead::work() {
    FileSystem& fs = FileSystem::get();
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_ending || handOutAllowed(); });
        if (m_ending)
            return;
        const size_t question = m_handedOut++;
        Slot& slot = m_slots[question % window];
        slot.question = question;
        slot.answered = false;
        const std::string name = *m_files[question];
        const Directory& source = *m_source;
        const Directory& destination = *m_destination;
        const bool probe = m_probe;
        ++m_underWay;
        lock.unlock();

        // The recorded error is this thread's own: each failure travels in
        // the answer to the level, which records it when it takes it.
        Answer from, to;
        try {
            from.info = fs.attributes(source, name);
        } catch (const Failure&) {
            from.error = Err();
        }
        if (probe && from.error.number == 0 && !(from.info.attributes & AttrDirectory)) {
            try {
                to.info = fs.probe(destination, name);
            } catch (const Failure&) {
                to.error = Err();
            }
        }
        clearError();

        lock.lock();
        slot.from = std::move(from);
        slot.to = std::move(to);
        slot.answered = true;
        --m_underWay;
        m_answered.notify_all();
    }
}

Lookahead::Level::Level(Lookahead& pool, const Directory& source, const Directory& destination,
                        std::vector<const std::string*> files, bool probe)
    : m_pool(pool) {
    {
        const std::lock_guard lock(pool.m_mutex);
        pool.m_source = &source;
        pool.m_destination = &destination;
        pool.m_files = std::move(files);
        pool.m_probe = probe;
        pool.m_handedOut = pool.m_taken = 0;
    }
    pool.m_work.notify_all();
}

Lookahead::Level::~Level() {
    std::unique_lock lock(m_pool.m_mutex);
    m_pool.m_files.clear(); // nothing more is handed out
    m_pool.m_answered.wait(lock, [this] { return m_pool.m_underWay == 0; });
    for (Slot& slot : m_pool.m_slots)
        slot = Slot{};
    m_pool.m_source = m_pool.m_destination = nullptr;
}

FileInfo Lookahead::Level::attributes(const std::string& name) {
    Lookahead& pool = m_pool;
    std::unique_lock lock(pool.m_mutex);
    const size_t question = pool.m_taken;
    Q_ASSERT(question < pool.m_files.size() && *pool.m_files[question] == name);
    Slot& slot = pool.m_slots[question % window];
    pool.m_answered.wait(lock, [&] { return slot.question == question && slot.answered; });
    pool.m_inHand = std::move(slot.to);
    const Answer from = std::move(slot.from);
    slot = Slot{};
    ++pool.m_taken; // a slot is free for the next question
    lock.unlock();
    pool.m_work.notify_one();
    return given(from);
}

FileInfo Lookahead::Level::probe([[maybe_unused]] const std::string& name) {
    Q_ASSERT(m_pool.m_taken > 0 && *m_pool.m_files[m_pool.m_taken - 1] == name);
    return given(m_pool.m_inHand);
}

FileInfo Lookahead::given(const Answer& answer) {
    if (answer.error.number != 0) {
        Err() = answer.error;
        throw Failure(answer.error.number);
    }
    return answer.info;
}

} // namespace TRAVO1
