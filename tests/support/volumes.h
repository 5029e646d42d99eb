#pragma once
// Real volumes and raw trees for the tests of bad days on real file systems:
// tmpfs, loop images, FUSE and bind mounts made by the tests themselves.

#include "engine/jobstate.h"
#include "platform/files.h"
#include "testsupport.h"

#include <QProcess>
#include <QString>
#include <QStringList>
#include <map>
#include <memory>
#include <string>
#include <sys/types.h>

// A text path as the host keeps it.
std::string bytes(const QString& path);

// Everything below a folder by raw names, hidden entries included: a name
// that is not valid UTF-8 survives, and a stray temporary file shows up. The
// mark of an unfinished run is left out.
std::map<std::string, std::string> rawTree(const QString& folder);
// How many temporary files and staging folders lie below a folder.
int leftovers(const QString& folder);

// Whether a program ran to a zero exit; when it did not, `error` gets what
// it said, or that it is not installed.
bool succeeds(const QString& program, const QStringList& args, QString* error = nullptr);

// A volume mounted on an existing folder for the length of a test.
struct Mount {
    QString point, error;
    bool mounted = false;
    Mount(const QString& at, const QString& program, const QStringList& args);
    explicit Mount(const QString& at) : point(at) {} // made by its server
    ~Mount();                                        // unmounted, and its FUSE server ended
    std::unique_ptr<QProcess> server;                // a FUSE server that serves it until unmounted
    Mount(const Mount&) = delete;
    Mount& operator=(const Mount&) = delete;
};

// The kernel's FAT driver on an image, or the FUSE one where the kernel has none.
std::unique_ptr<Mount> mountFat(const QString& point, const QString& image);
// A new 32 MiB FAT image mounted on `point`; none, and why, where that
// cannot be done here.
std::unique_ptr<Mount> freshFat(const QString& point, const QString& image, QString& why);

// latencyfs, the benchmark's FUSE pass-through, serving `backing` on `point`
// with `options` (--ignore-case, say) and no delay; none, and why, where it
// was not built or cannot be mounted here.
std::unique_ptr<Mount> mountLatencyFs(const QString& point, const QString& backing,
                                      const QStringList& options, QString& why);

// Hands a path to a user (and the group of the same number) with a mode.
void own(const QString& path, uid_t uid, mode_t mode);
constexpr uid_t nobody = 65534;

// Large copies without a window; `hang` stops the process in the middle.
struct SilentProgress {
    explicit SilentProgress(bool hang = false);
    ~SilentProgress();
};

// The Copy command from F:\S into a destination, its message boxes recorded.
struct CommandRun {
    BoxRecorder boxes;
    RecordingWindow w;
    explicit CommandRun(const QString& to = QStringLiteral("D:\\T"));
    QString box() const; // the one box's prompt, or how many there were
};
