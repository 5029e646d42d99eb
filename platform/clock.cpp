#include "platform/clock.h"

#include <chrono>
#include <limits>

namespace platform {

namespace {
std::function<double()>& installed() {
    static std::function<double()> clock;
    return clock;
}
} // namespace

double clockSeconds() {
    if (installed())
        return installed()();
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

void installClock(std::function<double()> clock) {
    installed() = std::move(clock);
}

void Stopwatch::start() {
    m_last = clockSeconds();
    m_total = 0;
    m_started = true;
}

double Stopwatch::elapsed() {
    if (!m_started)
        return std::numeric_limits<double>::infinity();
    const double now = clockSeconds();
    if (now > m_last)
        m_total += now - m_last;
    m_last = now;
    return m_total;
}

} // namespace platform
