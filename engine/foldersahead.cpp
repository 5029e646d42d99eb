#include "engine/foldersahead.h"

#include <optional>

namespace TRAVO1 {

using namespace platform;

FoldersAhead::FoldersAhead(const Directory& parent, const std::vector<std::string>& names,
                           int& budget)
    : m_parent(parent), m_names(names), m_budget(budget) {
    parent.remote(); // its volume known before the threads learn from it
    topUp();
}

// An open under way is waited for as its future goes; one left to run at its
// turn never runs.
FoldersAhead::~FoldersAhead() {
    m_budget += int(m_underWay.size());
}

// Starts the next names' opens, as far as the level and the run allow.
// Where no thread can be had, an open waits for the walk to take it.
void FoldersAhead::topUp() {
    while (m_budget > 0 && m_underWay.size() < ahead && m_next < m_names.size()) {
        const std::string* name = &m_names[m_next++];
        // The folders, not this, which an open may outlive into its future's end.
        const auto open = [&parent = m_parent, name] {
            Opened opened;
            try {
                opened.folder = FileSystem::get().openDirectory(parent, *name);
            } catch (const Failure&) {
                opened.error = Err(); // this thread's own, carried to the walk
            }
            return opened;
        };
        m_underWay.emplace_back(name, std::async(open));
        --m_budget;
    }
}

Directory FoldersAhead::open(const std::string& name) {
    std::optional<Opened> opened;
    while (!opened && !m_underWay.empty()) {
        auto [which, future] = std::move(m_underWay.front());
        m_underWay.pop_front();
        ++m_budget;
        if (*which == name)
            opened = future.get(); // one passed by is closed with its future
    }
    // Not started: the names before it are passed by.
    while (!opened && m_next < m_names.size())
        if (m_names[m_next++] == name)
            break;
    topUp();
    if (!opened)
        return FileSystem::get().openDirectory(m_parent, name);
    if (opened->error.number != 0) {
        Err() = opened->error;
        throw Failure(opened->error.number);
    }
    return std::move(opened->folder);
}

} // namespace TRAVO1
