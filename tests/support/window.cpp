#include "window.h"

#include "platform/diskspace.h"

#include <QDir>
#include <QTest>

using namespace platform;

Window::Window() : savedCwd(QDir::currentPath()) {
    writeFile(drives.host(u"C:\\PROG\\cad.dat"_s), "cad");
    writeFile(drives.host(u"C:\\PROG\\SUB\\mov.dat"_s), "mov");
    QDir().mkpath(drives.host(u"D:\\BACKUP"_s));
    QDir::setCurrent(drives.host(u"C:\\PROG"_s));
    installDiskSpaceQuery([this](const QString& drive, DiskSpace& space) {
        queried << drive;
        if (onQuery)
            onQuery();
        if (queryWorks)
            space.totalFree = freeBytes;
        return queryWorks;
    });
}

Window::~Window() {
    form.reset();
    QDir::setCurrent(savedCwd);
    installDiskSpaceQuery({});
}

Frm_Copy& Window::load() {
    form = std::make_unique<Frm_Copy>();
    form->Form_Load();
    return *form;
}

void chooseShownDrive(ui::DriveListBox* list) {
    list->showPopup();
    QTest::keyClick(list->view(), Qt::Key_Return);
}
