#pragma once
// The program's working window: the source and destination lists, the
// options, the three commands and the status lines the copy engine writes.

#include "engine/paintbackground.h"
#include "engine/runevents.h"
#include "engine/statustexts.h"
#include "ui/controls.h"

#include <QImage>
#include <QPointer>
#include <QWidget>

// The controls, by the names the handlers use.
struct Frm_CopyControls {
    ui::TextBox* txtFrom;
    ui::Label* Label1;
    ui::Label* Label2;
    ui::TextBox* txtTo;
    ui::Label* Label3;
    ui::TextBox* txtPattern;
    ui::DriveListBox* Drive1;
    ui::DirListBox* Dir1;
    ui::Frame* Frame1;
    ui::CheckBox* Check1;
    ui::CheckBox* chkRecourse;
    ui::Label* Label4;
    ui::DriveListBox* Drive2;
    ui::DirListBox* Dir2;
    ui::Label* Label5;
    ui::Label* Label6;
    ui::FileListBox* File1;
    ui::FileListBox* File2;
    ui::Label* Label7;
    ui::Label* Label8;
    ui::CheckBox* Check4;
    ui::CommandButton* cmdExit;
    ui::Label* Label9;
    ui::Label* Label10;
    ui::CommandButton* cmdCopy;
    ui::CommandButton* cmdAjuda;
    ui::ProgressPanel* Lbl_CopyInfo1;
    ui::Label* Lbl_CopyInfo;
    ui::Label* Label11;
    ui::Label* Label12;
    ui::Label* Lbl_CopyInfo2;
    ui::Label* lblHoraIni;
    ui::Label* lblHoraFin;
};

class Frm_Copy : public QWidget, public TRAVO1::RunObserver, public TRAVO1::Surface {
    Q_OBJECT
public:
    // `splash`, when given, is made a window owned by this one at load.
    explicit Frm_Copy(QWidget* splash = nullptr);

    Frm_CopyControls ui;

    // The load behaviour: the start-up check, then the normal start. The
    // creator runs it once, right after construction.
    void Form_Load();
    void ShowFreeSpace();

    // Event handlers.
    void Drive1_Change();
    void Dir1_Change();
    void Drive2_Change();
    void Dir2_Change();
    void Check1_Click();
    void Check4_Click();
    void cmdAjuda_Click();
    void cmdCopy_Click();
    // "Copiar" pressed: offers a folder for a drive root, runs the Copy
    // command and remembers where it went.
    void copyPressed();
    [[noreturn]] void cmdExit_Click();
    void Form_KeyPress(int16_t& KeyAscii);
    void Form_Resize();

    // What a run tells, shown in the window.
    void runStarted(const QDateTime& at) override;
    void lockUnavailable(int32_t error) override;
    void folderMaking(const QString& destination) override;
    void fileInHand(const QString& sourceDir, const QString& destDir,
                    const std::string& name) override;
    void fileVerifying(const QString& destDir, const std::string& name) override;
    void levelFailed(const platform::RecordedError& error) override;
    void runEnded(const TRAVO1::RunResult& result) override;
    void errorReported(const platform::RecordedError& error) override;
    QObject* boxOwner() const override;

    // The drawing surface of the engraved frame: a persistent background.
    void setScaleMode(int mode) override;
    void setAutoRedraw(bool persistent) override;
    int scaleWidth() const override;
    int scaleHeight() const override;
    void line(int x1, int y1, int x2, int y2, int32_t colour, bool box) override;
    const QImage& background() const { return m_background; }
    // The caption as last set; the title bar shows it within a few milliseconds.
    QString caption() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void createControls();
    // Centred on the screen by the window's outer size, within the screen's
    // free area, and shrunk to fit it where it is smaller.
    void centre();
    template <class Handler> void trapped(Handler&& handler);

    QPointer<QWidget> m_splash; // unloaded before this window
    // The window's own title, which a run's start brings back.
    static QString ownTitle();
    // The free space of the destination drive now; none for one gone.
    void refreshFreeSpace();
    // The run the window's controls ask for.
    TRAVO1::RunRequest request() const;
    // "Copiar", which stays disabled while a run is in progress.
    void setCmdCopyEnabled(bool enabled);
    void showStatus(const QString& text);
    void setCaption(const QString& caption);
    // The texts of the file in hand, composed only when they are shown or read:
    // a run passes through far more files than the screen shows.
    void composeCopying();
    TRAVO1::FileInHand m_copying;
    ui::Throttle* m_copyingThrottle;

    QString m_caption;
    ui::Throttle* m_titleThrottle;
    int m_scaleMode = 1; // twips
    bool m_autoRedraw = false;
    QImage m_background;
    // While a run is in progress "Copiar" stays disabled; what the handlers
    // ask of it meanwhile takes effect when the run ends.
    bool m_copyEnabledAfterRun = false;
    bool m_centreWhenFramed = false;
    double m_scale = 1;
};
