#pragma once
// The window shown while the program starts: the product name, the maker
// line, a warning that the program's files are about to be copied, a picture
// and a bar that a timer keeps filling. It owns the hourglass pointer of the
// start-up period.

#include "platform/clock.h"
#include "ui/controls.h"

#include <QWidget>
#include <array>

struct frmSplashControls {
    ui::Timer* Timer1;
    ui::ProgressPanel* SSP1;
    std::array<ui::Label*, 2> lblPlatformAndVersion;
    ui::Label* lblProductName;
    ui::Label* lblCopyright;
    ui::Label* lblWarning;
    ui::Image* BackgroundPicture;
};

class frmSplash : public QWidget {
    Q_OBJECT
public:
    frmSplash();

    frmSplashControls ui;

    // The load behaviour; the creator runs it once, right after construction.
    void Form_Load();
    void Form_Activate();
    // Runs on every close request, from code or from the operator; never
    // cancels the close.
    void Form_QueryUnload(int16_t& Cancel, int16_t UnloadMode);
    void Timer1_Timer();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    template <class Handler> void trapped(Handler&& handler);

    platform::Stopwatch m_loadTime; // started at the end of loading
};
