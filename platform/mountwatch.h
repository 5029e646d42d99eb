#pragma once
// Volumes mounted and unmounted while the program runs. The kernel marks
// /proc/self/mountinfo when the mount table changes; a poll on it wakes the
// event loop only then, so following it costs nothing while idle.

#include <QObject>
#include <functional>

namespace platform {

// Runs `changed` on the event loop after each change of the host's mount
// table, once the drive table has been read again; for as long as `context`
// lives.
void onMountsChanged(QObject* context, std::function<void()> changed);

} // namespace platform
