// The program's entry: the main window on the program's folder.

#include "ui/frm_copy.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Windows")); // a classic utility's look
    Frm_Copy form;
    form.Form_Load();
    form.show();
    return app.exec();
}
