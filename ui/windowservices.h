#pragma once
// The window system's message box and large-copy progress window, behind the
// engine's service seams.

#include "platform/messagebox.h"

namespace ui {

// Shows the box modally over its owner and returns the button pressed.
int showMessageBox(const platform::MessageRequest& request);

// Makes the engine's boxes and progress windows those of the window system.
// Called once the application object exists.
void installWindowServices();

} // namespace ui
