#pragma once
// Reading one directory level's metadata ahead of the tree copy.
//
// A worker thread queries each file's attributes in the source directory
// and probes the same name in the destination directory, while the user-
// interface thread shows, compares and copies the files before it. The
// user-interface thread still takes every result in order and at the point
// where it would have made the call, and a failure is raised there, on that
// thread, exactly as the direct call would raise it.

#include "platform/files.h"

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

namespace platform {

class MetadataAhead {
public:
    // `names` are the files the level will take, in order; they and both
    // directories must outlive this object. Only the host's file service
    // reads ahead, and only for more than a few files; otherwise each call
    // goes straight to the file service in force.
    MetadataAhead(const Directory& from, const Directory& to,
                  std::vector<const std::string*> names);
    ~MetadataAhead(); // stops the worker and waits for it
    MetadataAhead(const MetadataAhead&) = delete;
    MetadataAhead& operator=(const MetadataAhead&) = delete;

    // Of names[i], as FileSystem::attributes(from, ...) and probe(to, ...).
    FileInfo attributes(size_t i);
    FileInfo probe(size_t i);

private:
    struct Result {
        FileInfo attributes, probe;
        int32_t attributesError = 0, probeError = 0;
    };
    const Result& result(size_t i);
    void work();

    const Directory& m_from;
    const Directory& m_to;
    std::vector<const std::string*> m_names;
    std::unique_ptr<Result[]> m_results;
    std::atomic<size_t> m_ready{0}; // results written so far
    std::atomic<bool> m_stop{false};
    std::thread m_worker;
};

} // namespace platform
