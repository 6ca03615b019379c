// Writes the window's icon as a PNG file, so that the desktop shows the
// same picture as the window: write_icon OUTPUT.png SIZE
#include <QGuiApplication>
#include <QIcon>
#include <QPixmap>

#include "ui/app_icon.h"

int main(int argc, char* argv[]) {
    if (argc != 3) return 2;
    QGuiApplication application(argc, argv);
    const int size = QString(argv[2]).toInt();
    return morvane::appIcon().pixmap(size, size).save(argv[1], "PNG") ? 0 : 1;
}
