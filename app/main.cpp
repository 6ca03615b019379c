#include <QApplication>

#include "ui/frm_main.h"
#include "ui/qt_desktop.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    morvane::QtDesktop desktop;
    morvane::frmMain window(desktop);
    window.show();
    window.centreOnScreen();
    return application.exec();
}
