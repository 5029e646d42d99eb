#pragma once
// The destination folders of a level's subfolders, opened ahead.
//
// On a share, opening a destination folder waits for a lookup and an open,
// two round trips, and the walk opens each subfolder's destination only when
// it reaches it. Opened ahead on threads of their own, a few at a time, they
// are ready when the walk gets there: what each open gave, a folder or a
// failure with its recorded error, is what the walk would have met.

#include "platform/errors.h"
#include "platform/files.h"

#include <deque>
#include <future>
#include <string>
#include <vector>

namespace TRAVO1 {

class FoldersAhead {
public:
    // Opens under way or waiting at most, for one level.
    static constexpr size_t ahead = 4;

    // `names` are the subfolders in the walk's order; `parent` and the names
    // outlive this. `budget` is how many more folders the run may hold open
    // ahead, all levels together: each holds a descriptor, and a deep tree
    // keeps a level open at every depth. The parent's volume is learnt here,
    // before any thread reads it.
    FoldersAhead(const platform::Directory& parent, const std::vector<std::string>& names,
                 int& budget);
    ~FoldersAhead(); // waits for the opens under way; gives back the budget
    FoldersAhead(const FoldersAhead&) = delete;
    FoldersAhead& operator=(const FoldersAhead&) = delete;

    // What FileSystem::openDirectory(parent, name) gives for `name`, a name
    // of the list after those taken before: the names passed by are
    // dropped. A failure raises, with the recorded error that it set.
    platform::Directory open(const std::string& name);

private:
    struct Opened {
        platform::Directory folder;
        platform::RecordedError error;
    };
    void topUp();

    const platform::Directory& m_parent;
    const std::vector<std::string>& m_names;
    int& m_budget;
    size_t m_next = 0; // the first name not yet started
    std::deque<std::pair<const std::string*, std::future<Opened>>> m_underWay;
};

} // namespace TRAVO1
