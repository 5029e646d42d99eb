#include "platform/lookahead.h"
#include "platform/errors.h"

#include <typeinfo>

namespace platform {

namespace {

// Below this many files a thread costs more than it saves.
constexpr size_t minimumFiles = 8;

} // namespace

MetadataAhead::MetadataAhead(const Directory& from, const Directory& to,
                             std::vector<const std::string*> names)
    : m_from(from), m_to(to), m_names(std::move(names)) {
    FileSystem& fs = FileSystem::get();
    // A test's file service injects its faults through the direct calls.
    if (typeid(fs) != typeid(FileSystem) || m_names.size() < minimumFiles || from.fd() < 0 ||
        to.fd() < 0)
        return;
    m_results = std::make_unique<Result[]>(m_names.size());
    m_worker = std::thread([this] { work(); });
}

MetadataAhead::~MetadataAhead() {
    m_stop = true;
    if (m_worker.joinable())
        m_worker.join();
}

void MetadataAhead::work() {
    for (size_t i = 0; i < m_names.size() && !m_stop.load(std::memory_order_relaxed); ++i) {
        Result& r = m_results[i];
        const char* name = m_names[i]->c_str();
        r.attributesError = hostAttributes(m_from.fd(), name, r.attributes);
        r.probeError = hostProbe(m_to.fd(), name, r.probe);
        m_ready.store(i + 1, std::memory_order_release);
        m_ready.notify_one();
    }
}

const MetadataAhead::Result& MetadataAhead::result(size_t i) {
    for (size_t ready; (ready = m_ready.load(std::memory_order_acquire)) <= i;)
        m_ready.wait(ready, std::memory_order_acquire);
    return m_results[i];
}

FileInfo MetadataAhead::attributes(size_t i) {
    if (!m_results)
        return FileSystem::get().attributes(m_from, *m_names[i]);
    const Result& r = result(i);
    if (r.attributesError)
        raiseError(r.attributesError);
    return r.attributes;
}

FileInfo MetadataAhead::probe(size_t i) {
    if (!m_results)
        return FileSystem::get().probe(m_to, *m_names[i]);
    const Result& r = result(i);
    if (r.probeError)
        raiseError(r.probeError);
    return r.probe;
}

} // namespace platform
