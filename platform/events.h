#pragma once
// The window event pump and the end of the program.

namespace platform {

// Dispatches the pending window events, key presses included.
void pumpEvents();

// The same for loops that pump once per item, where a poll of the window
// system per item would cost more than the item: dispatches only when the
// last dispatch is at least 2 ms old, so a key press still gets through
// within a few milliseconds and the window stays as responsive.
void pumpEventsIfDue();

// For waits: dispatches the pending window events, or sleeps until one
// arrives, for at most `ms` milliseconds. The processor stays idle meanwhile.
void waitForEvents(int ms);

// Ends the program at once: nothing further runs. A copy under way leaves
// no temporary file behind.
[[noreturn]] void endProgram();

} // namespace platform
