#pragma once

#include <QString>

#include "engine/set_check.h"

namespace morvane {

// What a check of a set found, in one sentence: "All 7 chunks intact",
// "movie_3.div damaged, movie_5.div missing: the recovery data can rebuild
// them" ("... rebuild it" for one file), or the same with "cannot" and the
// reason. A set checked for presence and length only says so.
QString checkSummaryText(const SetCheck& check);

}  // namespace morvane
