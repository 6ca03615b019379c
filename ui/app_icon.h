#pragma once

class QIcon;

namespace morvane {

// The grid the icon is drawn on, and the sizes the window's icon holds.
inline constexpr int kAppIconGrid = 32;
inline constexpr int kAppIconSizes[] = {16, 24, 32, 48, 64, 128, 256};

// The window's icon: a sheet of paper cut in two, drawn in the sixteen
// colours of the classic palette. The 32 x 32 picture is drawn pixel for
// pixel; the other sizes are the same drawing scaled and smoothed.
QIcon appIcon();

}  // namespace morvane
