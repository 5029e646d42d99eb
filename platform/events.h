#pragma once
// The window event pump and the end of the program.

namespace platform {

// Dispatches the pending window events, key presses included.
void pumpEvents();

// Ends the program at once: nothing further runs. A copy under way leaves
// no temporary file behind.
[[noreturn]] void endProgram();

} // namespace platform
