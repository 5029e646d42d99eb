#include "platform/events.h"

#include "platform/clock.h"
#include "platform/files.h"

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace platform {

namespace {

// Asked at every file: its tick is fine enough for a 2 ms pace.
using Clock = CoarseClock;

Clock::time_point& lastDispatch() {
    static Clock::time_point at;
    return at;
}

} // namespace

void pumpEvents() {
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
    lastDispatch() = Clock::now();
}

void pumpEventsIfDue() {
    if (Clock::now() - lastDispatch() >= std::chrono::milliseconds(2))
        pumpEvents();
}

void waitForEvents(int ms) {
    if (!QCoreApplication::instance())
        return;
    QTimer wake; // an event that ends the wait at the latest
    wake.setSingleShot(true);
    wake.start(ms);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    lastDispatch() = Clock::now();
}

void endProgram() {
    FileSystem::get().removeTemporaryFiles();
    std::fflush(nullptr);
    std::_Exit(0);
}

} // namespace platform
