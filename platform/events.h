#pragma once
// The window event pump and the end of the program.

namespace platform {

// Dispatches the pending window events, key presses included.
void pumpEvents();

} // namespace platform
