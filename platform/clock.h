#pragma once
// The clock that the program's waits are measured on.

#include <chrono>
#include <ctime>
#include <functional>

namespace platform {

// Seconds on a monotonic clock: neither midnight nor a change of the system
// time can stretch or cut a wait measured on it.
double clockSeconds();

// A monotonic clock to the kernel's tick (1 to 4 ms), read without the
// hardware counter: several times cheaper, for checks made at every file
// that need no finer time.
struct CoarseClock {
    using duration = std::chrono::nanoseconds;
    using rep = duration::rep;
    using period = duration::period;
    using time_point = std::chrono::time_point<CoarseClock>;
    static constexpr bool is_steady = true;
    static time_point now() noexcept {
        timespec t{};
        ::clock_gettime(CLOCK_MONOTONIC_COARSE, &t);
        return time_point(std::chrono::seconds(t.tv_sec) + duration(t.tv_nsec));
    }
};

// Tests install their own clock, which may raise a Failure like any other
// operation; an empty function restores the real one.
void installClock(std::function<double()> clock);

// Time passed since start(). A reading earlier than the one before it (an
// installed clock counting seconds since midnight, passing midnight) counts
// as no time, so a wait measured here always ends.
class Stopwatch {
public:
    void start(); // reads the clock
    // Reads the clock; before start() the time is unknown and counts as long past.
    double elapsed();

private:
    bool m_started = false;
    double m_last = 0;
    double m_total = 0;
};

} // namespace platform
