#include "engine/copycommand.h"
#include "engine/copytree.h"
#include "engine/reporterror.h"
#include "engine/runlog.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/messagebox.h"
#include "platform/regional.h"
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

void refuse(WindowModel& w, const QString& text) {
    MessageBox::show(text, MbOk | MbExclamation, QStringLiteral("Cópia de Arquivo."), w.owner());
}

// A destination text names the folder below its last "\"; an empty one
// addresses the root of the current drive.
std::string hostFolder(const QString& text) {
    return DriveTable::current().toHost(text + QLatin1Char('\\'));
}

// Whether the destination is the source or lies below it, however it is
// spelt: such a run would copy its own output into itself. A text that does
// not resolve is left for the run to meet.
bool insideSource(const QString& from, const QString& to) {
    try {
        FileSystem& fs = FileSystem::get();
        return fs.isWithin(hostFolder(to), fs.openDirectory(hostFolder(from)));
    } catch (const Failure&) {
        clearError();
        return false;
    }
}

// The destination folders that mirror the source's path below its drive,
// each found or made by the exact host name of the source's folder, parent
// first, with that folder's access, into the run's top. The destination
// folder itself must exist; it counts among the run's output.
void mirrorSourcePath(const QString& from, const QString& to, CopyRun& run) {
    FileSystem& fs = FileSystem::get();
    Directory folder = fs.openDirectory(hostFolder(to));
    run.addOutput(folder);
    const DriveTable::HostPath source = DriveTable::current().resolve(from);
    Directory like = fs.tryOpenDirectory(source.root);
    for (const std::string& name : source.names) {
        like = fs.tryOpenDirectory(like, name);
        folder = fs.openOrMakeDirectory(folder, name);
        fs.mirrorAccess(like, folder);
    }
    run.destination = std::move(folder);
}

// The lock of the program's folder, whose Log.txt a run writes.
RunLock lockProgramFolder() {
    try {
        return RunLock::take(DriveTable::current().toHost(programFolder()));
    } catch (const Failure&) {
        clearError();
        return RunLock::take(std::string());
    }
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

CopyOutcome cmdCopy_Click(WindowModel& w) {
    // A second run inside the first would share the engine's state with it.
    if (w.runInProgress())
        return {RunEnd::Busy};
    const RunInProgress running(w);

    clearError(); // the trap is armed
    bool started = false;
    try {
        const QString from = w.txtFrom();
        const QString to = w.txtTo();
        if (from.toLower() == to.toLower()) {
            refuse(w, QStringLiteral("A Origem e Destino dos Arquivos selecionados são iguais\n"
                                     "Selecione outro local para o Destino.\n"));
            return {RunEnd::Refused};
        }
        if (to.size() == 3) {
            refuse(w, rootRefusal(to));
            return {RunEnd::Refused};
        }
        if (insideSource(from, to)) {
            refuse(w, QStringLiteral("O Destino dos Arquivos está dentro da Origem: ") + to +
                          QStringLiteral("\nSelecione outro local para o Destino.\n"));
            return {RunEnd::Refused};
        }
        // Two runs into one destination would each see the other's half-made
        // copies, and their log records would interleave.
        const RunLock lock = lockProgramFolder();
        if (lock.state() == RunLock::Busy) {
            refuse(w, QStringLiteral("Já há uma cópia desta pasta em andamento.\n"
                                     "Aguarde o fim dela para copiar de novo.\n"));
            return {RunEnd::Busy};
        }

        // Start of the run. An ESC pressed before it belongs to an earlier run.
        StopFlag = 0;
        DestPath = to;
        w.setCmdCopyEnabled(false);
        w.setMousePointer(PointerHourglass);
        started = true;
        w.setLabel12Visible(true);
        w.setLblHoraIni(QStringLiteral("Horário Inicial:   ") + timeText());
        // A user who may run the program but not write its folder (one
        // placed for every user) still gets a backup, told that nothing keeps
        // a second run of the folder from meeting this one.
        if (lock.state() == RunLock::Unavailable)
            w.notice(QStringLiteral("Cópia sem trava: não foi possível criar nem abrir %1 na pasta "
                                    "do programa (%2); nada impede outra cópia desta pasta ao "
                                    "mesmo tempo.")
                         .arg(QLatin1String(RunLock::FileName), describe(lock.error())));

        const QString s = from.endsWith(QLatin1Char('\\')) ? from : from + QLatin1Char('\\');
        CopyRun run;
        mirrorSourcePath(from, to, run);
        run.source = FileSystem::get().tryOpenDirectory(hostFolder(from));
        // Until its flush, a run leaves copies that a power cut may tear.
        RunMark mark(run.destination);
        run.mark = &mark;

        QString source = from;
        QString destination = to + s.mid(2);
        const int16_t include = w.chkRecourse();
        const QString pattern = w.txtPattern();
        const int16_t result = CopyTree(w, source, destination, include, pattern, run);

        w.setMousePointer(PointerDefault);
        // Any file that did not reach the destination, at any level, is
        // reported: the run is not a complete backup.
        if (run.failure.number != 0) {
            Err() = run.failure;
            CurrentName = run.failedName;
        }
        if (isDestinationError(Err().number) || run.failure.number != 0) {
            const int32_t reported = Err().number;
            ReportError(w);
            return {RunEnd::Reported, reported};
        }
        // A run that a stop request or a cancelled large copy cut short, at
        // any level, is not complete either.
        if (result != False && !run.stopped) {
            // "Cópia Atualizada" promises the data is on the disk, not in
            // memory: on every volume the run wrote to.
            run.flush();
            mark.clear();
            w.setCmdCopyEnabled(true);
            w.setLabel12Visible(false);
            w.setLblCopyInfo2(QString());
            w.setLblHoraFin(QStringLiteral("Horário Final:     ") + timeText());
            w.setLblCopyInfo(QStringLiteral("Cópia Atualizada - ") + dateText());
            w.setCaption(QStringLiteral("Cópia Atualizada - ") + dateText());
            WriteRunLog(w);
            w.setLblCopyInfo1Flood(0);
            return {RunEnd::Completed};
        }
        return {run.stopped || StopFlag == 1 ? RunEnd::Stopped : RunEnd::Unfinished};
    } catch (const Failure&) {
        // An hourglass left after a failed run would look like a run still working.
        if (started)
            w.setMousePointer(PointerDefault);
        const int32_t reported = Err().number;
        ReportError(w);
        clearError();
        return {RunEnd::Reported, reported};
    }
}

} // namespace TRAVO1
