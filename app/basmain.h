#pragma once
// The program's start: the splash, a pause, the main window, the splash closed.

#include <functional>

class Frm_Copy;
class frmSplash;

namespace basMain {

// Shows the splash, pauses, opens the main window and closes the splash. A
// failure on the way shows one "ERRO" box and ends it there.
void Main();

// Returns once more than 4 seconds have passed, dispatching window events
// meanwhile; the processor sleeps between them.
void SplashPause();

// The windows, which live until the program ends; null before Main creates
// them (and the splash after Main unloads it).
frmSplash* splashWindow();
Frm_Copy* mainWindow();
// Destroys the windows before the application object goes.
void UnloadWindows();

// Tests: called with the number of each step of Main before it runs.
void installStepHook(std::function<void(int step)> hook);

} // namespace basMain
