#pragma once
// Doubles and fixtures shared by the tests.

#include "engine/jobstate.h"
#include "engine/runevents.h"
#include "platform/files.h"
#include "platform/messagebox.h"

#include <QDateTime>
#include <QStringList>
#include <QTemporaryDir>
#include <functional>
#include <map>
#include <optional>

using namespace Qt::StringLiterals;

// The tests' window: holds the inputs of a run and records what its events
// set, as writes to the window's controls, in order.
class RecordingWindow : public TRAVO1::RunObserver {
public:
    QString from, to, pattern = u"*.*"_s;
    int16_t recourse = 1;
    struct Write {
        QString control, value;
    };
    std::vector<Write> writes;
    std::function<void(const Write&)> onWrite; // acts at a chosen moment, say ESC
    // The files and folders that failed, "path: number", in order.
    QStringList failures;

    TRAVO1::RunRequest request() const { return {from, to, pattern, recourse != 0}; }
    QString last(const QString& control) const; // "<none>" when never written
    QStringList all(const QString& control) const;
    QString lblCopyInfo() const; // the status line as it stands
    QObject* owner() const { return boxOwner(); }

    void runStarted(const QDateTime& at) override;
    void lockUnavailable(int32_t error) override;
    void folderMaking(const QString& destination) override;
    void fileInHand(const QString& sourceDir, const QString& destDir,
                    const std::string& name) override;
    void fileVerifying(const QString& destDir, const std::string& name) override;
    void fileFailed(const QString& path, const std::string& hostPath,
                    const platform::RecordedError& error) override;
    void levelFailed(const platform::RecordedError& error) override;
    void runEnded(const TRAVO1::RunResult& result) override;
    void errorReported(const platform::RecordedError& error) override;
    QObject* boxOwner() const override { return reinterpret_cast<QObject*>(0x1); }

private:
    void record(const QString& control, const QString& value);
    QString m_status;
};

// The Copy command run from a recording window, as its "Copiar" would.
TRAVO1::RunResult copyCommand(RecordingWindow& w);

// Records every message box; answers from `answers` in turn, then OK.
struct BoxRecorder {
    BoxRecorder();
    ~BoxRecorder();
    std::vector<platform::MessageRequest> boxes;
    std::vector<int> answers;
    std::function<void()> whileShown; // looks at the screen behind a box
};

// Drives C:, D: and F: on temporary folders, the program's folder C:\PROG;
// resets the engine's state.
class TempDrives {
public:
    TempDrives();
    ~TempDrives();
    QString host(const QString& drivePath) const; // "D:\A\B" -> its host path
    QString logPath() const { return host(u"C:\\PROG\\Log.txt"_s); }
    QByteArray log() const;
    int logRecords() const;                      // lines after the header
    QStringList logResults() const;              // the RESULTADO of each record, in order
    void keep() { m_root.setAutoRemove(false); } // for a process that ends abruptly
    QString root() const { return m_root.path(); }
    // Installs, in another process (a child of the test), the drives of the
    // TempDrives whose root() this is.
    static void adopt(const QString& root);

private:
    QTemporaryDir m_root;
};

// The clock of the program's waits, installed for a test's lifetime: it
// reads `now` and moves on by `step`; `midnight` makes it count seconds since
// midnight, wrapping at 86,400; `failWith` makes a reading raise that error.
struct FakeClock {
    FakeClock();
    ~FakeClock();
    double now = 1000, step = 0.25;
    bool midnight = false;
    int failWith = 0;
    int readings = 0;
};

void writeFile(const QString& path, const QByteArray& data, const QDateTime& modified = {});
QByteArray readFile(const QString& path); // "<missing>" when it cannot be read
// Everything below a folder, sorted: "dir/" and "dir/file=contents" (or its
// size when long), hidden entries included, so stray files show up too; not
// the mark of an unfinished run.
QStringList tree(const QString& folder);

// The host's file service with injected faults.
class FaultyFileSystem : public platform::FileSystem {
public:
    FaultyFileSystem() { install(this); }
    ~FaultyFileSystem() override { install(nullptr); }
    using platform::FileSystem::openDirectory;

    // errno values by entry name; for openFails by the end of the folder's path.
    std::map<std::string, int> probeFails, copyFails, openFails;
    // Copies fail with this errno once `failAfter` bytes went through.
    int failTransferWith = 0;
    int64_t failAfter = 0, moved = 0;
    // Acts before each step of a copy's data, say a writer of the source.
    std::function<void()> duringTransfer;
    // Stamping a copy's time, or flushing a volume, fails with this errno.
    int failTimesWith = 0, failSyncWith = 0;
    // Volume flushes asked for, and the device of each in turn; `onSync`
    // sees each one.
    int syncs = 0;
    std::vector<dev_t> synced;
    std::function<void()> onSync;
    // Whether runs ask ahead, whatever volume they are on.
    std::optional<bool> askAhead;

    platform::Directory openDirectory(const platform::Directory& parent,
                                      const std::string& name) override;
    platform::FileInfo probe(const platform::Directory& dir, const std::string& name) override;
    bool asksAhead(const platform::Directory& source,
                   const platform::Directory& destination) override;
    std::optional<platform::PreparedCopy> prepareCopy(const platform::Directory& fromDir,
                                                      const std::string& from,
                                                      const platform::Directory& toDir,
                                                      const Progress& progress,
                                                      const platform::Directory* staging) override;

protected:
    ssize_t transfer(int in, int out, size_t count, bool& kernelCopy) override;
    int setTimes(int fd, const struct timespec times[2]) override;
    int syncVolume(int fd) override;
};

// An ext2 image standing for a USB stick, plugged in (mounted on a folder)
// and pulled out (unmounted) while a test runs. Needs root, mkfs.ext2 and
// loop devices; `error` says what was missing when a step fails.
class Stick {
public:
    explicit Stick(const QString& label);
    ~Stick(); // pulled out if still in
    bool plugIn(const QString& folder);
    bool pullOut();
    QString error;

private:
    QTemporaryDir m_dir;
    QString m_image, m_point;
};
