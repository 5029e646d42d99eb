#include "engine/copycommand.h"
#include "engine/copytree.h"
#include "engine/jobstate.h"
#include "engine/reporterror.h"
#include "engine/runfolders.h"
#include "engine/runlog.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/messagebox.h"
#include "platform/names.h"
#include "platform/runlock.h"
#include "platform/runmark.h"

namespace TRAVO1 {

using namespace platform;

namespace {

bool isDestinationError(int32_t n) {
    switch (n) {
    case ErrDeviceIO:
    case ErrDiskFull:
    case ErrDeviceUnavailable:
    case ErrPermissionDenied:
    case ErrDiskNotReady:
    case ErrPathFileAccess:
    case ErrPathNotFound:
        return true;
    default:
        return false;
    }
}

void refuse(const RunObserver& events, const QString& text) {
    MessageBox::show(text, MbOk | MbExclamation, QStringLiteral("Cópia de Arquivo."),
                     events.boxOwner());
}

// The destination folders that mirror the source's path below its drive,
// each found or made by the exact host name of the source's folder, parent
// first, with that folder's access, into the run's top. The destination
// folder itself must exist; it counts among the run's output.
void mirrorSourcePath(const QString& from, const QString& to, CopyRun& run) {
    FileSystem& fs = FileSystem::get();
    Directory folder = fs.openDirectory(hostFolder(to));
    run.addOutput(folder);
    const Directory top = fs.tryOpenDirectory(folder, ".");
    const DriveTable::HostPath source = DriveTable::current().resolve(from);
    Directory like = fs.tryOpenDirectory(source.root);
    for (const std::string& name : source.names) {
        like = fs.tryOpenDirectory(like, name);
        folder = fs.openOrMakeDirectory(folder, name);
        fs.mirrorAccess(like, folder, top);
    }
    run.destination = std::move(folder);
}

// Refuses, with its box, a destination that is the source, a drive root,
// or inside the source.
bool refused(const RunRequest& request, const RunObserver& events) {
    const QString& from = request.from;
    const QString& to = request.to;
    if (from.toLower() == to.toLower()) {
        refuse(events, QStringLiteral("A Origem e Destino dos Arquivos selecionados são iguais\n"
                                      "Selecione outro local para o Destino.\n"));
        return true;
    }
    if (to.size() == 3) {
        refuse(events, rootRefusal(to));
        return true;
    }
    if (insideSource(from, to)) {
        refuse(events, QStringLiteral("O Destino dos Arquivos está dentro da Origem: ") + to +
                           QStringLiteral("\nSelecione outro local para o Destino.\n"));
        return true;
    }
    return false;
}

// A run that ended so now.
RunResult endedAs(RunEnd end, int32_t error = 0) {
    return {end, error, QDateTime::currentDateTime(), 0, 0};
}

RunResult ended(RunObserver& events, RunEnd end) {
    const RunResult result = endedAs(end);
    events.runEnded(result);
    return result;
}

// How a run that went through the tree ends. Any file that did not reach
// the destination, at any level, is reported: the run is not a complete
// backup. Nor is one that a stop request or a cancelled large copy cut
// short. "Cópia Atualizada" promises the data is on the disk, not in
// memory: on every volume the run wrote to. `wholeTree`: the run looked at
// every file of the tree, so it may clear the mark of an unfinished run.
RunResult finished(CopyRun& run, int16_t result, bool wholeTree, RunObserver& events) {
    if (run.failure.number != 0) {
        Err() = run.failure;
        CurrentName = run.failedName;
    }
    RunResult outcome{RunEnd::Unfinished, 0, {}, run.copied, run.failures};
    if (isDestinationError(Err().number) || run.failure.number != 0) {
        outcome.end = RunEnd::Reported;
        outcome.error = Err().number;
    } else if (result != False && !run.stopped) {
        run.flush(); // ErrDeviceIO is raised and reported
        // A run that saw part of the tree (a pattern, no subfolders) cannot
        // vouch for the copies an unfinished run may have torn elsewhere.
        if (wholeTree)
            run.mark->clear();
        outcome.end = RunEnd::Completed;
    } else if (run.stopped || StopFlag == 1) {
        outcome.end = RunEnd::Stopped;
    }
    outcome.at = QDateTime::currentDateTime();
    events.runEnded(outcome);
    if (outcome.end == RunEnd::Reported)
        ReportError(events);
    return outcome;
}

} // namespace

QString rootRefusal(const QString& to) {
    return QStringLiteral("Destino dos Arquivos Inválido: ") + to +
           QStringLiteral("\nSelecione outro local ou um subdiretório para o Destino.\n");
}

bool StartAllowed(const QString& startFolder) {
    if (!startFolder.startsWith(QLatin1Char('\\')) &&
        !programFolder().startsWith(QLatin1Char('\\')))
        return true;
    MessageBox::show(QStringLiteral("Execute somente em unidade mapeada."), MbOk | MbInformation,
                     QStringLiteral("Mapeamento incorreto."));
    return false;
}

RunResult CopyCommand(const RunRequest& request, RunObserver& front) {
    // A second run inside the first would share the engine's state with it.
    if (front.runInProgress())
        return endedAs(RunEnd::Busy);
    const RunInProgress running(front);
    RunLog events(front);

    clearError(); // the trap is armed
    bool started = false;
    try {
        if (refused(request, events))
            return ended(events, RunEnd::Refused);
        // Two runs into one destination would each see the other's half-made
        // copies, and their log records would interleave.
        const RunLock lock = lockProgramFolder();
        if (lock.state() == RunLock::Busy) {
            refuse(events, QStringLiteral("Já há uma cópia desta pasta em andamento.\n"
                                          "Aguarde o fim dela para copiar de novo.\n"));
            return ended(events, RunEnd::Busy);
        }

        // Start of the run. An ESC pressed before it belongs to an earlier run.
        StopFlag = 0;
        DestPath = request.to;
        started = true;
        events.runStarted(QDateTime::currentDateTime());
        // A user who may run the program but not write its folder (one
        // placed for every user) still gets a backup, told that nothing keeps
        // a second run of the folder from meeting this one.
        if (lock.state() == RunLock::Unavailable)
            events.lockUnavailable(lock.error());

        CopyRun run(events);
        mirrorSourcePath(request.from, request.to, run);
        run.source = FileSystem::get().tryOpenDirectory(hostFolder(request.from));
        // Until its flush, a run leaves copies that a power cut may tear.
        RunMark mark(run.destination);
        run.mark = &mark;
        const QString from = request.from.endsWith(QLatin1Char('\\'))
                                 ? request.from
                                 : request.from + QLatin1Char('\\');
        const int16_t result = CopyTree(request.from, request.to + from.mid(2),
                                        request.subfolders ? True : False, request.pattern, run);
        return finished(run, result, request.subfolders && matchesEveryName(request.pattern),
                        events);
    } catch (const Failure&) {
        const RunResult result = endedAs(RunEnd::Reported, Err().number);
        if (started)
            events.runEnded(result);
        ReportError(events);
        clearError();
        return result;
    }
}

} // namespace TRAVO1
