#pragma once

#include <QLocale>
#include <QString>
#include <cstdint>
#include <vector>

#include "engine/chunk_census.h"

// How the panels write what a set holds and what recovery data does for it.
namespace morvane {

// "none", "1 recovery chunk", "2 recovery chunks": `count` grouped as "#,#".
QString recoveryChunksText(int32_t count, const QLocale& locale = QLocale());

// What `count` recovery chunks add to a division, for a plan that allows at
// most `most` of them: "none", "none (too many chunks for recovery data)"
// when the plan allows none at all, or "2 recovery chunks, 200,000,000 bytes".
QString recoveryPlanText(int32_t count, int64_t bytes, int32_t most,
                         const QLocale& locale = QLocale());

// The chunk files of `prefix` numbered in `rebuilt`, as a glue's status line
// reports them: "Rebuilt from recovery data: movie_2.div, movie_5.div",
// with at most three names and then "and N more"; when they could not be
// put back (`inPlace` false) a note says so. Empty when none was rebuilt.
QString rebuiltChunksText(const QString& prefix, const std::vector<int32_t>& rebuilt, bool inPlace,
                          const QLocale& locale = QLocale());

// "(recovery data from another division: not used)"
QString foreignRecoveryText();

// Which of the `count` chunk files of `prefix` the look-up after opening
// the header found missing: "all present", "movie_3.div missing",
// "movie_3.div, movie_5.div, movie_6.div and 4 more missing"; when it
// stopped before the last chunk, " among the first 100,000" follows, or
// "the first 100,000 present, the rest not looked up".
QString chunkCensusText(const QString& prefix, const ChunkCensus& census, int32_t count,
                        const QLocale& locale = QLocale());

}  // namespace morvane
