#pragma once

// Where the window's controls stand, in twips (15 make one pixel), as left,
// top, width and height: in the client area below the menu bar, or for a
// panel's controls in the panel.
namespace morvane::layout {

constexpr int kClientWidth = 9150;
constexpr int kClientHeight = 5235;

// The height of a row of the panels and of the status line.
constexpr int kRowHeight = 315;

// The welcome area: the banner, then the two links.
constexpr int kWelcomeLeft = 240;
constexpr int kWelcomeWidth = 8535;
constexpr int kBannerTop = 600;
constexpr int kBannerHeight = 1215;
constexpr int kEmailTop = 2040;
constexpr int kUpdatesTop = 2400;
constexpr int kLinkHeight = 255;

// Both panels stand in the same place.
constexpr int kPanelLeft = 120;
constexpr int kPanelTop = 0;
constexpr int kPanelWidth = 8895;
constexpr int kPanelHeight = 4695;

// A panel's row: a caption on the left, a framed value on the right.
constexpr int kCaptionLeft = 240;
constexpr int kCaptionWidth = 1455;
constexpr int kValueLeft = 1800;
constexpr int kValueWidth = 6735;
// A box that takes input stands this much above its row's labels.
constexpr int kBoxRaise = 24;

// The two buttons at a panel's foot.
constexpr int kButtonTop = 3960;
constexpr int kButtonWidth = 1815;
constexpr int kButtonHeight = 495;
constexpr int kRunButtonLeft = 4680;
constexpr int kCancelButtonLeft = 6720;

// The divide panel's rows, and the boxes on them.
constexpr int kDivideFileRow = 480;
constexpr int kDivideSizeRow = 1032;
constexpr int kDivideChunkSizeRow = 1584;
constexpr int kDivideLastChunkRow = 2136;
constexpr int kDivideNumChunksRow = 2688;
constexpr int kDivideRecoveryRow = 3240;
constexpr int kChunkBoxWidth = 5655;
constexpr int kUnitListLeft = 7560;
constexpr int kSmallBoxWidth = 975;
constexpr int kRecoveryPlanLeft = 2880;
constexpr int kRecoveryPlanWidth = 5655;

// The glue panel's rows; its Recovery value ends left of the buttons.
constexpr int kGlueHeaderRow = 480;
constexpr int kGlueChunkSizeRow = 1020;
constexpr int kGlueLastChunkRow = 1560;
constexpr int kGlueNumChunksRow = 2100;
// Inside the number of chunks' box, right of the number: which are missing.
constexpr int kGlueChunksFoundLeft = 1455;
constexpr int kGlueBigFileNameRow = 2688;
constexpr int kGlueBigFileSizeRow = 3276;
constexpr int kGlueChecksumRow = 3615;
constexpr int kGlueRecoveryRow = 4050;
constexpr int kGlueRecoveryWidth = 2715;
// Check and Repair stand on the original file size's row, above Glue and
// Cancel; that row's value ends left of them.
constexpr int kGlueCheckTop = 3210;
constexpr int kGlueCheckHeight = 390;

// The status line's row. During a run the status line leaves its right
// part to the progress bar, the time left and Stop.
constexpr int kStatusLeft = 120;
constexpr int kStatusTop = 4800;
constexpr int kStatusWidth = 8925;
constexpr int kRunStatusWidth = 3600;
constexpr int kBarLeft = 3780;
constexpr int kBarWidth = 1860;
constexpr int kTimeLeftLeft = 5730;
constexpr int kTimeLeftWidth = 2145;
constexpr int kStopLeft = 7935;
constexpr int kStopTop = 4770;
constexpr int kStopWidth = 1110;
constexpr int kStopHeight = 375;

// During a run the client area grows by a row below the status line: the
// phase by name on the left, bytes done and speed on the right.
constexpr int kRunClientHeight = 5595;
constexpr int kRunRowTop = 5205;
constexpr int kPhaseWidth = 4500;
constexpr int kRunBytesLeft = 4740;
constexpr int kRunBytesWidth = 4305;

}  // namespace morvane::layout
