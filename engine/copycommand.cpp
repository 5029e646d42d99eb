#include "engine/copycommand.h"
#include "engine/copytree.h"
#include "engine/reporterror.h"
#include "engine/runlog.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/messagebox.h"
#include "platform/regional.h"

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

} // namespace

void cmdCopy_Click(WindowModel& w) {
    // A second run inside the first would share the engine's state with it.
    if (w.runInProgress())
        return;
    const RunInProgress running(w);

    clearError(); // the trap is armed
    bool started = false;
    try {
        const QString from = w.txtFrom();
        const QString to = w.txtTo();
        if (from.toLower() == to.toLower()) {
            refuse(w, QStringLiteral("A Origem e Destino dos Arquivos selecionados são iguais\n"
                                     "Selecione outro local para o Destino.\n"));
            return;
        }
        if (to.size() == 3) {
            refuse(w, QStringLiteral("Destino dos Arquivos Inválido: ") + to +
                          QStringLiteral("\nSelecione outro local ou um subdiretório para o "
                                         "Destino.\n"));
            return;
        }

        // Start of the run. An ESC pressed before it belongs to an earlier run.
        StopFlag = 0;
        DestPath = to;
        w.setCmdCopyEnabled(false);
        w.setMousePointer(PointerHourglass);
        started = true;
        w.setLabel12Visible(true);
        w.setLblHoraIni(QStringLiteral("Horário Inicial:   ") + timeText());

        const QString s = from.endsWith(QLatin1Char('\\')) ? from : from + QLatin1Char('\\');

        // The destination directories that mirror the source's path, parent first.
        for (qsizetype i = 3; i < s.size(); ++i) {
            if (s[i] != QLatin1Char('\\'))
                continue;
            const QString p = to + s.mid(2, i - 2);
            if (listPath(p, AttrDirectory).empty())
                makeDirectoryPath(p);
        }

        QString source = from;
        QString destination = to + s.mid(2);
        const int16_t include = w.chkRecourse();
        const QString pattern = w.txtPattern();
        const int16_t result = CopyTree(w, source, destination, include, pattern);

        w.setMousePointer(PointerDefault);
        if (isDestinationError(Err().number)) {
            ReportError(w);
            return;
        }
        if (result != False) {
            w.setCmdCopyEnabled(true);
            w.setLabel12Visible(false);
            w.setLblCopyInfo2(QString());
            w.setLblHoraFin(QStringLiteral("Horário Final:     ") + timeText());
            w.setLblCopyInfo(QStringLiteral("Cópia Atualizada - ") + dateText());
            w.setCaption(QStringLiteral("Cópia Atualizada - ") + dateText());
            WriteRunLog(w);
            w.setLblCopyInfo1Flood(0);
        }
    } catch (const Failure&) {
        // An hourglass left after a failed run would look like a run still working.
        if (started)
            w.setMousePointer(PointerDefault);
        ReportError(w);
        clearError();
    }
}

} // namespace TRAVO1
