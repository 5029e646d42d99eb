#pragma once
// The peers that the benchmark times side by side. Each copies a source
// folder into a destination folder, the copy landing in
// destination/<source's name>, as `cp -r` and `rsync -r` place it.

#include "bench/floor.h"
#include "engine/jobstate.h"

#include <QStringList>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace bench {

struct Peer {
    QString name;
    // Copies one tree; raises std::runtime_error when the tool fails.
    std::function<void(const std::string& source, const std::string& destination)> copy;
    // Runs untimed before each copy: what a real program has ready before
    // the operator presses "Copiar", such as its window.
    std::function<void(const std::string& source, const std::string& destination)> prepare;
    bool verified = false;  // its destination is compared with the source after each run
    bool inProcess = false; // its peak resident memory is the benchmark's own
};

// The peak resident memory since the last reset, in bytes; 0 where the
// kernel does not tell it. Pelivor runs in this process, so this is its own.
void resetPeakMemory();
int64_t peakMemory();

// A front end that a Pelivor run reports to.
class Front {
public:
    virtual ~Front() = default;
    // Runs the Copy command once; the status text it ended on.
    virtual QString run() = 0;
};

// Makes the front end of a run with its source and destination texts set to
// these drive paths.
using WindowFactory = std::function<std::unique_ptr<Front>(const QString& from, const QString& to)>;

// A front end without widgets: it keeps the status texts as a run tells them.
std::unique_ptr<Front> headlessWindow(const QString& from, const QString& to);

// The program's real main window, offscreen, its source and destination
// texts set, run by its "Copiar": the same run, with every status text going
// into its labels.
std::unique_ptr<Front> mainWindow(const QString& from, const QString& to);

// Pelivor's Copy command through the window that `makeWindow` gives; a run
// that does not end on "Cópia Atualizada" fails. Host folders become drive
// paths through the drive table in force. `oneThread`: the run is refused
// the look-ahead pool (FileSystem::asksAhead answers false), so that it
// works on the user-interface thread alone, whatever the volumes.
Peer pelivorPeer(const QString& name, WindowFactory makeWindow, bool oneThread = false);

// Milliseconds from an ESC, pressed `afterMs` into Pelivor's copy of `source`
// into `destination` (as the window's event pump delivers the key), to the
// end of the Copy command; negative when the run ended before the key.
double millisecondsToStop(const std::string& source, const std::string& destination, int afterMs);

// An external command; the source and destination folders follow `arguments`.
Peer commandPeer(const QString& name, const QString& program, const QStringList& arguments);

// The floor (see floor.h) as a peer: "floor", "floorR" (safe), each also
// with "+sync" (flushed), in the benchmark's own process.
Peer floorPeer(const QString& name, FloorKind kind);

// The same peer followed by `sync -f` on its destination, as Pelivor flushes
// before it reports a completed run: "<name>+sync".
Peer syncedPeer(Peer peer);

// The drives of the Pelivor runs: C: holds the program's folder C:\PROG (and
// its Log.txt), S: the sources, D: the destinations. Any message box fails
// the run, as it would stop a real one.
void installDrives(const std::string& programDrive, const std::string& sources,
                   const std::string& destinations);

} // namespace bench
