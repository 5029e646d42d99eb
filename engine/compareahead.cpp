#include "engine/compareahead.h"

#include <chrono>

namespace TRAVO1 {

using namespace platform;

CompareAhead::CompareAhead() : m_slots(window) {
    for (int i = 0; i < workers; ++i)
        m_threads.emplace_back([this] { work(); });
}

CompareAhead::~CompareAhead() {
    end();
    {
        const std::lock_guard lock(m_mutex);
        m_quitting = true;
    }
    m_work.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

bool CompareAhead::handOutAllowed() const {
    return m_handedOut < m_names.size() && m_handedOut < m_taken + window;
}

void CompareAhead::work() {
    CompareBuffers buffers; // a worker's own, for the whole run
    const auto goOn = [this] { return !m_givingUp.load(std::memory_order_relaxed); };
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_work.wait(lock, [this] { return m_quitting || handOutAllowed(); });
        if (m_quitting)
            return;
        const size_t file = m_handedOut++;
        Slot& slot = m_slots[file % window];
        slot.file = file;
        slot.done = false;
        const std::string& name = *m_names[file];
        ++m_underWay;
        lock.unlock();
        const Comparison verdict = compareFile(*m_source, *m_copy, name, buffers, goOn);
        lock.lock();
        slot.verdict = verdict;
        slot.done = true;
        --m_underWay;
        m_done.notify_all();
    }
}

void CompareAhead::begin(const Directory& source, const Directory& copy,
                         std::vector<const std::string*> names) {
    {
        const std::lock_guard lock(m_mutex);
        m_source = &source;
        m_copy = &copy;
        m_names = std::move(names);
        m_handedOut = m_taken = 0;
        m_givingUp = false;
        for (Slot& slot : m_slots)
            slot = Slot{};
    }
    m_work.notify_all();
}

Comparison CompareAhead::next(const std::function<bool()>& goOn) {
    std::unique_lock lock(m_mutex);
    Slot& slot = m_slots[m_taken % window];
    while (!(slot.file == m_taken && slot.done)) {
        m_done.wait_for(lock, std::chrono::milliseconds(5));
        lock.unlock();
        const bool waiting = goOn();
        lock.lock();
        if (!waiting)
            return {Comparison::Stopped};
    }
    const Comparison verdict = slot.verdict;
    slot = Slot{};
    ++m_taken;
    lock.unlock();
    m_work.notify_one(); // room for one more
    return verdict;
}

void CompareAhead::end() {
    std::unique_lock lock(m_mutex);
    m_givingUp = true;
    m_handedOut = m_names.size(); // nothing more is handed out
    m_done.wait(lock, [this] { return m_underWay == 0; });
    m_names.clear();
    m_handedOut = m_taken = 0;
    m_source = m_copy = nullptr;
}

} // namespace TRAVO1
