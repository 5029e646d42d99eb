#include "bench/tree.h"

#include <QFile>
#include <QHash>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <random>
#include <stdexcept>
#include <vector>

namespace bench {

namespace fs = std::filesystem;

namespace {

// Modification times: the tree's files are from 2024, touched ones from 2025.
constexpr int64_t builtAt = 1704153600;
constexpr int64_t touchedAt = 1735689600;

struct Layout {
    std::vector<std::string> folders; // relative paths, the top folder ""
};

Layout drawLayout(const TreeShape& shape, std::mt19937_64& rng) {
    Layout layout;
    std::vector<int> depth;
    layout.folders.push_back({});
    depth.push_back(0);
    char name[16];
    for (int i = 1; i < shape.folders; ++i) {
        // A chain first, so the deepest level is always reached.
        int parent = i - 1;
        if (i > shape.depth)
            do
                parent = int(rng() % uint64_t(i));
            while (depth[parent] >= shape.depth);
        std::snprintf(name, sizeof name, "D%04d", i);
        const std::string& up = layout.folders[parent];
        layout.folders.push_back(up.empty() ? name : up + '/' + name);
        depth.push_back(depth[parent] + 1);
    }
    return layout;
}

struct FileSpec {
    int index;
    std::string path; // relative
    int64_t bytes;
    bool large;
};

// Calls `each` for every file of the tree, drawn from the seed.
void forEachFile(const TreeShape& shape, const std::function<void(const FileSpec&)>& each) {
    std::mt19937_64 rng(shape.seed);
    const Layout layout = drawLayout(shape, rng);
    char name[24];
    const auto place = [&](int index, bool large, int64_t low, int64_t high) {
        const std::string& folder = layout.folders[rng() % layout.folders.size()];
        const int64_t bytes = low + int64_t(rng() % uint64_t(high - low + 1));
        std::snprintf(name, sizeof name, large ? "BIG%03d.BIN" : "F%06d.DAT", index);
        each({index, folder.empty() ? name : folder + '/' + name, bytes, large});
    };
    for (int i = 0; i < shape.files; ++i)
        place(i, false, shape.minBytes, shape.maxBytes);
    for (int i = 0; i < shape.large; ++i)
        place(i, true, shape.largeMinBytes, shape.largeMaxBytes);
    for (const std::string& folder : layout.folders)
        each({-1, folder, 0, false}); // folders without files are part of the tree too
}

void setModified(const fs::path& path, int64_t seconds, int64_t nanoseconds) {
    const auto when = std::chrono::sys_seconds(std::chrono::seconds(seconds)) +
                      std::chrono::nanoseconds(nanoseconds);
    fs::last_write_time(path, std::chrono::file_clock::from_sys(when));
}

void writeContent(const fs::path& path, int64_t bytes, uint64_t seed) {
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + path.string());
    static std::vector<uint64_t> block(1 << 17); // 1 MiB
    uint64_t state = seed;
    for (int64_t left = bytes; left > 0;) {
        const int64_t n = std::min<int64_t>(left, int64_t(block.size() * 8));
        for (size_t i = 0; i < size_t(n + 7) / 8; ++i) { // splitmix64
            uint64_t z = (state += 0x9e3779b97f4a7c15);
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9;
            z = (z ^ (z >> 27)) * 0x94d049bb133111eb;
            block[i] = z ^ (z >> 31);
        }
        if (file.write(reinterpret_cast<const char*>(block.data()), n) != n)
            throw std::runtime_error("cannot write " + path.string());
        left -= n;
    }
}

uint64_t contentSeed(const FileSpec& f, int version) {
    return (uint64_t(f.index) << 20) ^ (f.large ? 0x5a5a0000u : 0) ^ uint64_t(version);
}

size_t contentHash(const fs::path& path) {
    QFile file(QString::fromStdString(path.string()));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    static std::vector<char> block(1 << 20);
    size_t hash = 0;
    for (qint64 n; (n = file.read(block.data(), qint64(block.size()))) > 0;)
        hash = qHashBits(block.data(), size_t(n), hash);
    return hash;
}

} // namespace

TreeSizes buildTree(const TreeShape& shape, const fs::path& root, const fs::path& largeRoot) {
    if (fs::exists(root) || fs::exists(largeRoot))
        throw std::runtime_error("tree folder exists already: " + root.string());
    fs::create_directories(root);
    fs::create_directories(largeRoot);
    TreeSizes sizes;
    forEachFile(shape, [&](const FileSpec& f) {
        const fs::path path = root / f.path;
        if (f.index < 0) {
            fs::create_directories(path);
            return;
        }
        fs::create_directories(path.parent_path());
        writeContent(path, f.bytes, contentSeed(f, 0));
        setModified(path, builtAt + f.index, int64_t(f.index) * 7919 % 1000000000);
        Amount& amount = f.large ? sizes.large : sizes.small;
        ++amount.files;
        amount.bytes += f.bytes;
        if (f.large)
            fs::create_hard_link(path, largeRoot / path.filename());
    });
    return sizes;
}

Amount touchOnePercent(const TreeShape& shape, const fs::path& root, int round) {
    Amount touched;
    forEachFile(shape, [&](const FileSpec& f) {
        if (f.index < 0 || f.large || f.index % 100 != round % 100)
            return;
        const fs::path path = root / f.path;
        writeContent(path, f.bytes, contentSeed(f, round + 1));
        setModified(path, touchedAt + round * 60, 500000000);
        ++touched.files;
        touched.bytes += f.bytes;
    });
    return touched;
}

std::string compareTrees(const fs::path& source, const fs::path& copy) {
    const auto names = [](const fs::path& folder) {
        std::vector<std::string> list;
        for (const fs::directory_entry& e : fs::directory_iterator(folder))
            list.push_back(e.path().filename().string());
        std::sort(list.begin(), list.end());
        return list;
    };
    std::error_code error;
    if (!fs::is_directory(copy, error))
        return copy.string() + ": no folder";
    const std::vector<std::string> theirs = names(source), ours = names(copy);
    if (theirs != ours) {
        std::vector<std::string> odd;
        std::set_symmetric_difference(theirs.begin(), theirs.end(), ours.begin(), ours.end(),
                                      std::back_inserter(odd));
        return (copy / odd.front()).string() + ": " +
               (std::binary_search(ours.begin(), ours.end(), odd.front()) ? "extra" : "missing");
    }
    for (const std::string& name : theirs) {
        const fs::path from = source / name, to = copy / name;
        const fs::file_status kind = fs::symlink_status(from), copied = fs::symlink_status(to);
        if (kind.type() != copied.type())
            return to.string() + ": another kind of entry";
        if (kind.type() == fs::file_type::directory) {
            if (std::string difference = compareTrees(from, to); !difference.empty())
                return difference;
            continue;
        }
        if (fs::file_size(from) != fs::file_size(to))
            return to.string() + ": size differs";
        if (fs::last_write_time(from) != fs::last_write_time(to))
            return to.string() + ": modification time differs";
        if (contentHash(from) != contentHash(to))
            return to.string() + ": content differs";
    }
    return {};
}

} // namespace bench
