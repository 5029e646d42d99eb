#pragma once
// The main window on temporary drives, for the window's tests.

#include "testsupport.h"

#include "ui/frm_copy.h"

#include <QStringList>
#include <functional>
#include <memory>

// A window on C:\PROG, started from there, with a scripted disk-space query.
struct Window {
    TempDrives drives;
    BoxRecorder boxes;
    QString savedCwd;
    uint64_t freeBytes = 1572864;
    bool queryWorks = true;
    QStringList queried;
    std::function<void()> onQuery;
    std::unique_ptr<Frm_Copy> form;

    Window();
    ~Window();
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    Frm_Copy& load(); // created and loaded
    Frm_CopyControls& ui() { return form->ui; }
};

// The operator opens a drive list and takes the entry it stands on.
void chooseShownDrive(ui::DriveListBox* list);
