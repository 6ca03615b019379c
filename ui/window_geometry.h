#pragma once

#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

// The window's layout is given in twips: 15 twips make one pixel.
namespace morvane {

constexpr int kTwipsPerPixel = 15;

// A rectangle given as left, top, width, height in twips, in whole pixels.
QRect twipsRect(int left, int top, int width, int height);

// Where a window of outer size `window` stands centred on a screen of
// `screen`: each difference halved, the remainder dropped (toward zero), so
// a window larger than the screen gets a negative position.
QPoint centredOrigin(const QSize& screen, const QSize& window);

// "<major>.<minor><revision>": the version as the banner writes it, minor
// and revision joined without a separator (1, 1, 1 gives "1.11").
QString bannerVersion(int major, int minor, int revision);

}  // namespace morvane
