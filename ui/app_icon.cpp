#include "ui/app_icon.h"

#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QPolygon>

namespace morvane {

namespace {

// Draws the icon on a 32 x 32 grid; the painter scales it to other sizes.
void drawIcon(QPainter& p) {
    // Colours of the 16-colour palette only.
    const QColor black(0, 0, 0), white(255, 255, 255), silver(192, 192, 192);
    const QColor navy(0, 0, 128), blue(0, 0, 255), red(255, 0, 0), gray(128, 128, 128);

    // Upper piece of the sheet, with a folded corner.
    p.setPen(black);
    p.setBrush(white);
    p.drawPolygon(
        QPolygon({QPoint(6, 1), QPoint(20, 1), QPoint(26, 7), QPoint(26, 13), QPoint(6, 13)}));
    p.setBrush(silver);
    p.drawPolygon(QPolygon({QPoint(20, 1), QPoint(20, 7), QPoint(26, 7)}));
    // Lower piece, shifted down and right as if pulled away.
    p.setBrush(white);
    p.drawRect(8, 17, 20, 13);
    // Lines of text on both pieces.
    p.setPen(navy);
    for (int y : {5, 9}) p.drawLine(9, y, 17, y);
    p.drawLine(9, 11, 23, 11);
    for (int y : {21, 25}) p.drawLine(11, y, 25, y);
    p.setPen(blue);
    p.drawLine(11, 28, 19, 28);
    // The cut: a dashed red line between the pieces, with a shadow.
    p.setPen(gray);
    p.drawLine(3, 16, 30, 16);
    p.setPen(QPen(red, 1, Qt::DashLine));
    p.drawLine(2, 15, 29, 15);
}

QPixmap iconPixmap(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    if (size == kAppIconGrid) {
        p.setRenderHint(QPainter::Antialiasing, false);
    } else {
        // Lines of one grid unit run through the middle of the grid's cells.
        p.setRenderHint(QPainter::Antialiasing, true);
        p.scale(size / double(kAppIconGrid), size / double(kAppIconGrid));
        p.translate(0.5, 0.5);
    }
    drawIcon(p);
    return pixmap;
}

}  // namespace

QIcon appIcon() {
    QIcon icon;
    for (int size : kAppIconSizes) icon.addPixmap(iconPixmap(size));
    return icon;
}

}  // namespace morvane
