#pragma once

class QIcon;

namespace morvane {

// The window's 32 x 32 icon: a sheet of paper cut in two, drawn in the
// sixteen colours of the classic palette.
QIcon appIcon();

}  // namespace morvane
