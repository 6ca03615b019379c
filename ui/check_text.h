#pragma once

#include <QString>
#include <string>

#include "engine/set_check.h"

namespace morvane {

// What a check of a set found, in one sentence: "All 7 chunks intact",
// "movie_3.div damaged, movie_5.div missing: the recovery data can rebuild
// them" ("... rebuild it" for one file), or the same with "cannot" and the
// reason. A set checked for presence and length only says so. File names
// keep the bytes the engine has for them.
std::string checkSummary(const SetCheck& check);

// The same sentence for the window.
QString checkSummaryText(const SetCheck& check);

}  // namespace morvane
