#include "ui/frm_copy.h"
#include "engine/copycommand.h"
#include "engine/jobstate.h"
#include "engine/reporterror.h"
#include "engine/runlog.h"
#include "platform/diskspace.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/events.h"
#include "platform/messagebox.h"
#include "platform/mountwatch.h"
#include "platform/regional.h"
#include "ui/destination.h"
#include "ui/frm_copylook.h"
#include "ui/placement.h"
#include "ui/programicon.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <QWindow>
#include <cstring>

using namespace platform;
using namespace ui;
using namespace TRAVO1;

namespace {

// Client area 8175 x 4755 twips.
constexpr int ClientWidth = 545;
constexpr int ClientHeight = 317;
// How often the per-file texts reach the screen during a run.
constexpr int RefreshMs = 30;
// The classic 3-D face, the base colour of the engraved frame: on it both the
// light and the dark edge of the groove show.
const QColor FaceColour(197, 196, 198);

QFont arial(bool bold) {
    QFont font;
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11); // 8.25 points on a 96 dpi screen
    font.setBold(bold);
    return font;
}

QFont msSansSerifBold() {
    QFont font = arial(true);
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Liberation Sans")});
    return font;
}

} // namespace

Frm_Copy::Frm_Copy(QWidget* splash) : m_splash(splash) {
    setObjectName(QStringLiteral("Frm_Copy"));
    setWindowTitle(ownTitle());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(ClientWidth, ClientHeight);
    setWindowIcon(programIcon());
    setFont(arial(false));
    QPalette face = palette();
    face.setColor(QPalette::Window, FaceColour);
    setPalette(face);
    createControls();
    // The engine writes these once per file; the screen shows a few a second.
    m_caption = windowTitle();
    m_titleThrottle = new Throttle([this] { setWindowTitle(m_caption); }, RefreshMs, this);
    m_copyingThrottle = new Throttle([this] { composeCopying(); }, RefreshMs, this);
    ui.Lbl_CopyInfo->setLive(RefreshMs);
    ui.Lbl_CopyInfo2->setLive(RefreshMs);

    connect(ui.Drive1, &DriveListBox::change, this, &Frm_Copy::Drive1_Change);
    connect(ui.Dir1, &DirListBox::change, this, &Frm_Copy::Dir1_Change);
    connect(ui.Drive2, &DriveListBox::change, this, &Frm_Copy::Drive2_Change);
    connect(ui.Dir2, &DirListBox::change, this, &Frm_Copy::Dir2_Change);
    // A folder the operator opens may have gone meanwhile. The list stays
    // where it was, and so does the destination: "Copiar" is left as it is.
    for (DirListBox* dir : {ui.Dir1, ui.Dir2})
        connect(dir, &DirListBox::failed, this, [this] {
            const bool copyEnabled =
                runInProgress() ? m_copyEnabledAfterRun : ui.cmdCopy->isEnabled();
            ReportError(*this);
            clearError();
            setCmdCopyEnabled(copyEnabled);
        });
    connect(ui.Check1, &CheckBox::clickEvent, this, &Frm_Copy::Check1_Click);
    connect(ui.Check4, &CheckBox::clickEvent, this, &Frm_Copy::Check4_Click);
    connect(ui.cmdAjuda, &QPushButton::clicked, this, &Frm_Copy::cmdAjuda_Click);
    connect(ui.cmdCopy, &QPushButton::clicked, this, &Frm_Copy::copyPressed);
    connect(ui.cmdExit, &QPushButton::clicked, this, &Frm_Copy::cmdExit_Click);
    // A stick pulled out takes its free space with it.
    onMountsChanged(this, [this] { refreshFreeSpace(); });

    // Key preview: the window sees every key before the control that has the focus.
    installEventFilter(this);
    for (QWidget* child : findChildren<QWidget*>())
        child->installEventFilter(this);
}

void Frm_Copy::createControls() {
    const QFont bold = arial(true);
    const QFont optionFont = msSansSerifBold();
    auto& c = ui;

    // Created in tab order, so Qt's focus chain is the window's tab order.
    c.txtFrom = place<TextBox>(this, "txtFrom", twipsRect(120, 2040, 2655, 285));
    c.Label1 = place<Label>(this, "Label1", twipsRect(120, 120, 255, 210), QStringLiteral("&De:"));
    c.Label2 =
        place<Label>(this, "Label2", twipsRect(2520, 120, 405, 210), QStringLiteral("&Para:"));
    c.txtTo = place<TextBox>(this, "txtTo", twipsRect(3000, 2040, 2655, 285));
    c.Label3 = place<Label>(this, "Label3", twipsRect(5760, 2040, 1260, 210),
                            QStringLiteral("&Novo Diretório :"));
    c.txtPattern = place<TextBox>(this, "txtPattern", twipsRect(7080, 2040, 855, 285));
    c.Drive1 = place<DriveListBox>(this, "Drive1", twipsRect(120, 360, 2655, 330));
    c.Dir1 = place<DirListBox>(this, "Dir1", twipsRect(120, 600, 2655, 1050));
    c.Frame1 =
        place<Frame>(this, "Frame1", twipsRect(5760, 0, 2295, 1335), QStringLiteral("Opções"));
    c.Check1 = place<CheckBox>(c.Frame1, "Check1", twipsRect(240, 600, 1215, 255),
                               QStringLiteral("Sistema"));
    c.chkRecourse = place<CheckBox>(c.Frame1, "chkRecourse", twipsRect(240, 240, 1695, 375),
                                    QStringLiteral("Incluir Subdiretórios"));
    c.Label4 =
        place<Label>(this, "Label4", twipsRect(120, 3960, 855, 255), QStringLiteral("&Situação:"));
    c.Drive2 = place<DriveListBox>(this, "Drive2", twipsRect(3000, 120, 2655, 330));
    c.Dir2 = place<DirListBox>(this, "Dir2", twipsRect(3000, 600, 2655, 1050));
    c.Label5 = place<Label>(this, "Label5", twipsRect(120, 1800, 255, 210), QStringLiteral("&De:"));
    c.Label6 =
        place<Label>(this, "Label6", twipsRect(3000, 1800, 405, 210), QStringLiteral("&Para:"));
    c.File1 = place<FileListBox>(this, "File1", twipsRect(120, 2880, 2655, 930));
    c.File2 = place<FileListBox>(this, "File2", twipsRect(3000, 2880, 2655, 930));
    c.Label7 = place<Label>(this, "Label7", twipsRect(120, 2640, 1935, 255),
                            QStringLiteral("Arquivos de origem:"));
    c.Label8 = place<Label>(this, "Label8", twipsRect(3000, 2640, 2175, 255),
                            QStringLiteral("Arquivos do destino:"));
    c.Check4 = place<CheckBox>(c.Frame1, "Check4", twipsRect(240, 840, 1815, 375),
                               QStringLiteral("Criar Diretório"));
    c.cmdExit = place<CommandButton>(this, "cmdExit", twipsRect(6240, 3600, 1455, 255),
                                     QStringLiteral("Sair"));
    c.Label9 = place<Label>(this, "Label9", twipsRect(120, 2400, 165, 210));
    c.Label10 = place<Label>(this, "Label10", twipsRect(3000, 2400, 45, 210));
    c.cmdCopy = place<CommandButton>(this, "cmdCopy", twipsRect(6240, 3240, 1455, 255),
                                     QStringLiteral("Copiar"));
    c.cmdAjuda = place<CommandButton>(this, "cmdAjuda", twipsRect(6240, 2880, 1455, 255),
                                      QStringLiteral("Ajuda"));
    c.Lbl_CopyInfo1 = place<ProgressPanel>(this, "Lbl_CopyInfo1", twipsRect(120, 4320, 615, 375));
    c.Lbl_CopyInfo = place<Label>(this, "Lbl_CopyInfo", twipsRect(1080, 3960, 6975, 255));
    c.Label11 = place<Label>(this, "Label11", twipsRect(3000, 2400, 2685, 210));
    c.Label12 = place<Label>(this, "Label12", twipsRect(6120, 2520, 1815, 255),
                             QStringLiteral("Tecle ESC para parar"));
    c.Lbl_CopyInfo2 = place<Label>(this, "Lbl_CopyInfo2", twipsRect(1080, 4320, 6975, 255),
                                   QStringLiteral("Informação"));
    c.lblHoraIni = place<Label>(this, "lblHoraIni", twipsRect(5760, 1440, 2295, 255),
                                QStringLiteral("Horário Inicial:"));
    c.lblHoraFin = place<Label>(this, "lblHoraFin", twipsRect(5760, 1680, 2295, 255),
                                QStringLiteral("Horário Final:"));

    for (QWidget* w : std::initializer_list<QWidget*>{
             c.Label1, c.Label2, c.Label3, c.Frame1, c.Label4, c.Label5, c.Label6, c.Label7,
             c.Label8, c.cmdExit, c.Label9, c.Label10, c.cmdCopy, c.cmdAjuda, c.Label11,
             c.lblHoraIni, c.lblHoraFin})
        w->setFont(bold);
    // The option captions are set in a narrow face; where the sans face that
    // stands in for it is wider, a box may use the frame's free width.
    for (QWidget* w : {c.Check1, c.chkRecourse, c.Check4}) {
        w->setFont(optionFont);
        w->setFixedWidth(std::max(w->width(), c.Frame1->width() - w->x() - 4));
    }
    // Access keys of the captions.
    for (Label* l : {c.Label1, c.Label2, c.Label3, c.Label4, c.Label5, c.Label6})
        l->enableAccessKey();
    // The groove of the window's frame stops at the options frame.
    c.Frame1->setAutoFillBackground(true);
    dressControls(c, FaceColour);

    // Start states.
    for (QWidget* w : {static_cast<QWidget*>(c.txtFrom), static_cast<QWidget*>(c.txtTo),
                       static_cast<QWidget*>(c.Label3), static_cast<QWidget*>(c.txtPattern)})
        w->setEnabled(false);
    c.Lbl_CopyInfo1->setVisible(false);
    c.Label12->setVisible(false);
}

template <class Handler> void Frm_Copy::trapped(Handler&& handler) {
    clearError();
    try {
        handler();
    } catch (const Failure&) {
        ReportError(*this);
    }
    clearError();
}

// --- load -------------------------------------------------------------------

void Frm_Copy::Form_Load() {
    trapped([this] {
        if (!TRAVO1::StartAllowed(ui.Dir1->path())) {
            ui.cmdCopy->setEnabled(false);
            return;
        }
        show();
        ui.Lbl_CopyInfo2->setCaption(QString());
        centre();
        // A window manager frames the window a little later; once it shows
        // the window framed, the outer size is known and the window is
        // centred by it again.
        m_centreWhenFramed = true;
        if (windowHandle())
            windowHandle()->installEventFilter(this);
        const QString folder = programFolder();
        ui.Drive1->refresh();
        ui.Drive1->setDrive(folder);
        ui.Dir1->setPath(folder);
        // Where the last run went, when it is still there; else the root of
        // the program's drive.
        const QString last = rememberedDestination();
        if (last.isEmpty() || !resumeNext([&] {
                ui.Drive2->setDrive(last);
                ui.Dir2->setPath(last);
            })) {
            clearError();
            ui.Drive2->setDrive(folder);
            ui.Dir2->setPath(folder.left(3));
        }
        ShowFreeSpace();
        // A night's run that failed is seen the morning after.
        ui.Lbl_CopyInfo->setCaption(TRAVO1::LastFailedRun());
        ui.Dir1->setEnabled(false);
        ui.Drive1->setEnabled(false);
        ui.txtFrom->setText(folder);
        ui.chkRecourse->setValue(1);
        ui.chkRecourse->setEnabled(false);
        ui.Check4->setValue(0);
        ui.Check4->setEnabled(false);
        ui.Check1->setValue(0);
        ui.Check1->setEnabled(false);
        // An owned window stays in front of its owner.
        if (m_splash && m_splash->windowHandle() && windowHandle())
            m_splash->windowHandle()->setTransientParent(windowHandle());
    });
}

void Frm_Copy::centre() {
    const QScreen* screen = this->screen();
    if (!screen)
        return;
    // The whole window, title bar included, stays on the screen: where it
    // does not fit (a small screen, a large scale factor) it shrinks.
    const QRect area = screen->availableGeometry();
    const QMargins frame = windowHandle() ? windowHandle()->frameMargins() : QMargins();
    const double scale = fittingScale(QSize(ClientWidth, ClientHeight), frame, area);
    if (scale != m_scale) {
        m_scale = scale;
        m_background = QImage(); // the frame is painted anew at the new size
        scaleControls(*this, scale);
    }
    move(centredIn(size().grownBy(frame), area));
}

QString Frm_Copy::ownTitle() {
    return QStringLiteral("Cópias de Segurança");
}

// Where the chosen drive has gone, nothing is known of its space.
void Frm_Copy::refreshFreeSpace() {
    const KeepRecordedError kept;
    if (!resumeNext([this] { ShowFreeSpace(); }))
        ui.Label11->setCaption(QString());
}

void Frm_Copy::ShowFreeSpace() {
    const QString drive = ui.Drive2->drive().left(2);
    DriveTable::current().requireVolume(drive); // not the free space of what lies below it
    DiskSpace space; // all three counts zero, as a failed query leaves them
    GetDiskFreeSpaceEx(drive, space);
    // The count in a fixed-point number of four decimals: its raw 64 bits
    // hold ten thousand times the value.
    int64_t raw = 0;
    std::memcpy(&raw, &space.totalFree, sizeof raw);
    int64_t scaled = 0;
    if (__builtin_mul_overflow(raw, int64_t(10000), &scaled))
        raiseError(ErrOverflow);
    const double megabytes = double(raw) / 1048576.0;
    ui.Label11->setCaption(QStringLiteral("Livre: ") + formatNumber(megabytes) +
                           QStringLiteral(" MBytes"));
}

// --- selection chains -------------------------------------------------------

void Frm_Copy::Drive1_Change() {
    trapped([this] { ui.Dir1->setPath(ui.Drive1->drive()); });
}

void Frm_Copy::Dir1_Change() {
    trapped([this] {
        ui.File1->setPath(ui.Dir1->path());
        ui.txtFrom->setText(ui.Dir1->path());
    });
}

void Frm_Copy::Drive2_Change() {
    trapped([this] {
        setCmdCopyEnabled(true);
        // The drive already shown keeps the folder chosen on it, while that
        // is there; any other drive shows its current folder.
        const QString drive = ui.Drive2->drive();
        const QString chosen = ui.Dir2->path();
        bool kept = false;
        if (chosen.startsWith(drive.left(2), Qt::CaseInsensitive)) {
            const KeepRecordedError gone; // a folder gone is no error: the drive's is shown
            kept = resumeNext([&] { ui.Dir2->setPath(chosen); });
        }
        if (!kept)
            ui.Dir2->setPath(drive);
        ShowFreeSpace();
    });
}

void Frm_Copy::Dir2_Change() {
    trapped([this] {
        ui.File2->setPath(ui.Dir2->path());
        ui.txtTo->setText(ui.Dir2->path());
    });
}

// --- options, help, copy, exit, keys ------------------------------------------

void Frm_Copy::Check1_Click() {
    trapped([this] {
        if (ui.Check1->value() != 0) {
            const int answer = MessageBox::show(
                QStringLiteral("Warning using this option will copy all files with the specified "
                               "name or extension from all directories on system. Do you want to "
                               "enable this feature ?"),
                MbYesNoCancel | MbQuestion | MbDefaultButton2, QString(), this);
            if (answer == IdNo || answer == IdCancel) {
                ui.Check1->setValue(0);
            } else if (answer == IdYes) {
                ui.txtPattern->setEnabled(true);
                ui.Label3->setEnabled(true);
                ui.txtPattern->setFocus();
            }
        } else {
            ui.txtPattern->setEnabled(false);
            ui.Label3->setEnabled(false);
        }
    });
}

void Frm_Copy::Check4_Click() {
    trapped([this] {
        if (ui.Check4->value() != 0) {
            ui.Drive2->setEnabled(false);
            ui.Dir2->setEnabled(false);
            ui.txtTo->setEnabled(true);
        } else {
            ui.txtTo->setText(ui.Dir2->path());
            ui.txtTo->setEnabled(false);
        }
    });
}

void Frm_Copy::cmdAjuda_Click() {
    const QString crlf = QStringLiteral("\r\n");
    const QString blank = QStringLiteral(" ") + crlf;
    MessageBox::show(
        QStringLiteral("Faça cópias de segurança todos os dias.") + crlf + blank +
            QStringLiteral("Escolha um local diferente para cada dia da semana: (Segunda, Terça, "
                           "etc.).") +
            crlf + blank + QStringLiteral("Sempre faça duas cópias em locais diferentes.") + crlf +
            blank +
            QStringLiteral("Verifique no diretório Destino, após a cópia, se os arquivos estão "
                           "corretos.") +
            crlf + blank + blank,
        MbOk | MbExclamation, QStringLiteral("Cópia de Arquivo."), this);
}

// "Copiar". A drive root is refused as a destination, but a fresh stick has
// nothing else: the refusal offers its folder BACKUP.
void Frm_Copy::copyPressed() {
    if (!runInProgress() && ui.txtTo->text().size() == 3 &&
        ui.txtFrom->text().compare(ui.txtTo->text(), Qt::CaseInsensitive) != 0) {
        QString folder;
        trapped([&] {
            folder = offerBackupFolder(ui.txtTo->text(), this);
            if (!folder.isEmpty())
                ui.Dir2->setPath(folder);
        });
        if (folder.isEmpty() || ui.txtTo->text() != folder)
            return;
    }
    cmdCopy_Click();
}

void Frm_Copy::cmdExit_Click() {
    hide();
    endProgram();
}

void Frm_Copy::Form_KeyPress(int16_t& KeyAscii) {
    if (KeyAscii == 27)
        StopFlag = 1;
}

void Frm_Copy::Form_Resize() {
    clearError(); // every failure of the painting is ignored
    try {
        PaintBackground(*this, 197, 196, 198, 250);
    } catch (const Failure&) {
    }
    clearError();
}

bool Frm_Copy::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose && m_centreWhenFramed &&
        !windowHandle()->frameMargins().isNull()) {
        m_centreWhenFramed = false;
        centre();
    }
    if (event->type() == QEvent::KeyPress) {
        // Seen once: at the widget Qt delivers the key to first.
        QWidget* first = QApplication::focusWidget();
        if (!first || first->window() != this)
            first = this;
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == first && !key->text().isEmpty()) {
            int16_t code = int16_t(key->text().at(0).unicode());
            Form_KeyPress(code);
        }
    }
    return QWidget::eventFilter(watched, event);
}

// Closing the window is "Sair", whatever is under way.
void Frm_Copy::closeEvent(QCloseEvent*) {
    cmdExit_Click();
}

void Frm_Copy::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Form_Resize();
}

void Frm_Copy::paintEvent(QPaintEvent*) {
    if (m_autoRedraw && !m_background.isNull()) {
        QPainter painter(this);
        painter.drawImage(0, 0, m_background);
    }
}

// --- drawing surface --------------------------------------------------------

void Frm_Copy::setScaleMode(int mode) {
    m_scaleMode = mode;
}

void Frm_Copy::setAutoRedraw(bool persistent) {
    m_autoRedraw = persistent;
    if (persistent && m_background.size() != size()) {
        QImage image(size(), QImage::Format_RGB32);
        image.fill(palette().color(QPalette::Window));
        if (!m_background.isNull())
            QPainter(&image).drawImage(0, 0, m_background);
        m_background = image;
    }
}

int Frm_Copy::scaleWidth() const {
    return m_scaleMode == ScalePixels ? width() : width() * TwipsPerPixel;
}

int Frm_Copy::scaleHeight() const {
    return m_scaleMode == ScalePixels ? height() : height() * TwipsPerPixel;
}

void Frm_Copy::line(int x1, int y1, int x2, int y2, int32_t colour, bool box) {
    if (m_background.isNull())
        return;
    QPainter painter(&m_background);
    painter.setPen(QColor(colour & 0xff, (colour >> 8) & 0xff, (colour >> 16) & 0xff));
    if (box)
        painter.drawRect(std::min(x1, x2), std::min(y1, y2), std::abs(x2 - x1), std::abs(y2 - y1));
    else
        painter.drawLine(x1, y1, x2, y2);
    update();
}
