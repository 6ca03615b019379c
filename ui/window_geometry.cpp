#include "ui/window_geometry.h"

#include <QtMath>

namespace morvane {

namespace {

int pixels(int twips) {
    return qRound(static_cast<double>(twips) / kTwipsPerPixel);
}

}  // namespace

QRect twipsRect(int left, int top, int width, int height) {
    return QRect(pixels(left), pixels(top), pixels(width), pixels(height));
}

QPoint centredOrigin(const QSize& screen, const QSize& window) {
    return QPoint((screen.width() - window.width()) / 2, (screen.height() - window.height()) / 2);
}

QString bannerVersion(int major, int minor, int revision) {
    return QString::number(major) + u'.' + QString::number(minor) + QString::number(revision);
}

}  // namespace morvane
