#include "app/basmain.h"
#include "platform/clock.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/messagebox.h"
#include "ui/frm_copy.h"
#include "ui/frm_splash.h"

#include <algorithm>

using namespace platform;
using namespace ui;

namespace basMain {

namespace {

constexpr double PauseSeconds = 4.0;

struct Windows {
    frmSplash* splash = nullptr;
    Frm_Copy* copy = nullptr;
};
Windows& windows() {
    static Windows w;
    return w;
}

std::function<void(int)>& stepHook() {
    static std::function<void(int)> hook;
    return hook;
}

void step(int number) {
    if (stepHook())
        stepHook()(number);
}

} // namespace

void Main() {
    Windows& w = windows();
    clearError();
    try {
        step(1);
        if (!w.splash) {
            w.splash = new frmSplash;
            w.splash->Form_Load();
        }
        w.splash->show();
        step(2);
        pumpEvents(); // paints the splash before the pause
        step(3);
        SplashPause();
        step(4);
        if (!w.copy) {
            w.copy = new Frm_Copy(w.splash);
            w.copy->Form_Load();
        }
        w.copy->show();
        step(5);
        pumpEvents();
        step(6);
        w.splash->ui.Timer1->setIntervalMs(0);
        step(7);
        w.splash->close();
        delete std::exchange(w.splash, nullptr);
    } catch (const Failure&) {
        MessageBox::show(QString::number(Err().number) + QStringLiteral(" - ") + Err().description,
                         MbOk | MbCritical, QStringLiteral("ERRO"));
    }
    clearError();
}

void SplashPause() {
    // Failures are ignored; a clock that cannot be read ends the pause
    // rather than holding the program.
    clearError();
    Stopwatch watch;
    double passed = 0;
    if (resumeNext([&] { watch.start(); }))
        while (resumeNext([&] { passed = watch.elapsed(); }) && passed <= PauseSeconds)
            waitForEvents(std::clamp(int((PauseSeconds - passed) * 1000) + 1, 1, 20));
    clearError();
}

frmSplash* splashWindow() {
    return windows().splash;
}

Frm_Copy* mainWindow() {
    return windows().copy;
}

void UnloadWindows() {
    delete std::exchange(windows().copy, nullptr);
    delete std::exchange(windows().splash, nullptr);
}

void installStepHook(std::function<void(int)> hook) {
    stepHook() = std::move(hook);
}

} // namespace basMain
