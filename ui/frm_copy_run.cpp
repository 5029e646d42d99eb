// How the window starts a run and shows its events: the status line, the
// target line and the title, the times, "Tecle ESC para parar", "Copiar",
// the progress panel and the pointer.

#include "engine/copycommand.h"
#include "engine/jobstate.h"
#include "engine/statustexts.h"
#include "ui/destination.h"
#include "ui/frm_copy.h"

using namespace TRAVO1;

void Frm_Copy::cmdCopy_Click() {
    if (runInProgress())
        return;
    m_copyEnabledAfterRun = ui.cmdCopy->isEnabled();
    CopyCommand(request(), *this);
    // However it ended, the next run may be asked for: a run in progress is
    // refused anyway, and a disabled button would be a trap.
    ui.cmdCopy->setEnabled(true);
    // The run's last texts, at once.
    composeCopying();
    ui.Lbl_CopyInfo->flush();
    ui.Lbl_CopyInfo2->flush();
    m_titleThrottle->flush();
}

RunRequest Frm_Copy::request() const {
    return {ui.txtFrom->text(), ui.txtTo->text(), ui.txtPattern->text(),
            ui.chkRecourse->value() != 0};
}

void Frm_Copy::setCmdCopyEnabled(bool enabled) {
    // A second run must not start inside the first one.
    if (runInProgress()) {
        m_copyEnabledAfterRun = enabled;
        ui.cmdCopy->setEnabled(false);
        return;
    }
    ui.cmdCopy->setEnabled(enabled);
}

// A text set directly replaces the file's texts; those come first, so that
// one of them left pending cannot show over it later.
void Frm_Copy::showStatus(const QString& text) {
    composeCopying();
    ui.Lbl_CopyInfo->setCaption(text);
}

void Frm_Copy::setCaption(const QString& caption) {
    composeCopying();
    m_caption = caption;
    m_titleThrottle->changed();
}

QString Frm_Copy::caption() const {
    if (m_copying.pending)
        return m_copying.target();
    return m_caption;
}

void Frm_Copy::composeCopying() {
    if (!m_copying.pending)
        return;
    m_copying.pending = false;
    ui.Lbl_CopyInfo->setCaption(m_copying.status());
    m_caption = m_copying.target();
    ui.Lbl_CopyInfo2->setCaption(m_caption);
    m_titleThrottle->changed();
}

// Nothing of an earlier run stays: its status, its end time, its title.
void Frm_Copy::runStarted(const QDateTime& at) {
    setCmdCopyEnabled(false);
    ui::setMousePointer(ui::PointerHourglass);
    ui.Label12->setVisible(true);
    ui.lblHoraIni->setCaption(startTimeText(at));
    ui.lblHoraFin->setCaption(QString());
    showStatus(QString());
    ui.Lbl_CopyInfo2->setCaption(QString());
    setCaption(ownTitle());
    // The next start begins where this run goes.
    ui::rememberDestination(DestPath);
}

// Until the run's next text.
void Frm_Copy::lockUnavailable(int32_t error) {
    showStatus(noLockText(error));
    ui.Lbl_CopyInfo->refresh();
}

void Frm_Copy::folderMaking(const QString& destination) {
    showStatus(folderMakingText(destination));
    ui.Lbl_CopyInfo->refresh();
}

// The screen shows a few a second: the texts are composed then.
void Frm_Copy::fileInHand(const QString& sourceDir, const QString& destDir,
                          const std::string& name) {
    m_copying.set(sourceDir, destDir, name);
    m_copyingThrottle->changed();
}

void Frm_Copy::fileVerifying(const QString& destDir, const std::string& name) {
    showStatus(verifyingText(destDir, name));
}

void Frm_Copy::levelFailed(const platform::RecordedError& error) {
    showStatus(levelFailedText(error));
}

// Every end shows that nothing runs any more: the pointer, "Tecle ESC para
// parar" gone, the end time, the free space now, and what the end was, in
// the status line and the title; never a success that this run did not have.
void Frm_Copy::runEnded(const RunResult& result) {
    if (result.end == RunEnd::Busy) {
        // Nothing began here, but another run is changing the backup now:
        // an earlier success would no longer be true.
        showStatus(QString());
        setCaption(ownTitle());
        return;
    }
    if (result.end == RunEnd::Refused)
        return; // nothing began
    ui::setMousePointer(ui::PointerDefault);
    composeCopying();
    ui.Label12->setVisible(false);
    ui.Lbl_CopyInfo2->setCaption(QString());
    ui.lblHoraFin->setCaption(endTimeText(result.at));
    refreshFreeSpace();
    switch (result.end) {
    case RunEnd::Completed:
        ui.Lbl_CopyInfo->setCaption(completedText(result.at));
        ui.Lbl_CopyInfo1->setFloodPercent(0);
        break;
    case RunEnd::Stopped:
        ui.Lbl_CopyInfo->setCaption(stoppedText());
        break;
    case RunEnd::Reported: // already behind the error's box, shown next
        ui.Lbl_CopyInfo->setCaption(reportedText(result.error));
        break;
    default:
        break;
    }
    setCaption(ui.Lbl_CopyInfo->caption());
}

// A run's error, or a failing handler's, which leaves "Copiar" disabled
// until a drive is chosen (a run's end enables it again at once).
void Frm_Copy::errorReported(const platform::RecordedError& error) {
    showStatus(reportedText(error.number));
    setCaption(reportedText(error.number));
    setCmdCopyEnabled(false);
    ui.Lbl_CopyInfo1->setFloodPercent(0);
}

QObject* Frm_Copy::boxOwner() const {
    return const_cast<Frm_Copy*>(this);
}
