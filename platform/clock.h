#pragma once
// The clock that the program's waits are measured on.

#include <functional>

namespace platform {

// Seconds on a monotonic clock: neither midnight nor a change of the system
// time can stretch or cut a wait measured on it.
double clockSeconds();

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
