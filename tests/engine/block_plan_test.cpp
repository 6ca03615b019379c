// How chunks are cut into block copies, and how many copies a run makes.

#include "engine/block_plan.h"

#include <gtest/gtest.h>

#include <climits>

namespace morvane_test {
namespace {

TEST(BlockPlanTest, BlockSizeIsTenMebibytes) {
    EXPECT_EQ(morvane::BlockSize, 10485760);
}

struct PlanCase {
    int32_t chunk;
    int64_t blocks;
    int32_t tail;
};

void PrintTo(const PlanCase& c, std::ostream* os) {
    *os << c.chunk << " bytes";
}

class PlanBlocksTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(PlanBlocksTest, FullBlocksThenOneTail) {
    morvane::BlockPlan p = morvane::planBlocks(GetParam().chunk);
    EXPECT_EQ(p.blocks, GetParam().blocks);
    EXPECT_EQ(p.tail, GetParam().tail);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PlanBlocksTest,
    ::testing::Values(PlanCase{1, 1, 1}, PlanCase{10485759, 1, 10485759},
                      PlanCase{10485760, 1, 10485760}, PlanCase{10485761, 2, 1},
                      PlanCase{20971520, 2, 10485760}, PlanCase{20971521, 3, 1},
                      PlanCase{25000000, 3, 4028480}, PlanCase{12000000, 2, 1514240},
                      PlanCase{12582912, 2, 2097152}, PlanCase{2000000000, 191, 7705600},
                      PlanCase{INT32_MAX, 205, 8388607}),
    [](const ::testing::TestParamInfo<PlanCase>& info) {
        return "bytes" + std::to_string(info.param.chunk);
    });

struct OpsCase {
    const char* label;
    int32_t avg;
    int32_t last;
    int32_t num;
    int64_t ops;
};

void PrintTo(const OpsCase& c, std::ostream* os) {
    *os << c.label;
}

class CountOpsTest : public ::testing::TestWithParam<OpsCase> {};

TEST_P(CountOpsTest, CountsEveryBlockOfEveryChunk) {
    const OpsCase& c = GetParam();
    EXPECT_EQ(morvane::countOps(c.avg, c.last, c.num), c.ops);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, CountOpsTest,
    ::testing::Values(OpsCase{"oneByte", 1, 1, 1, 1},
                      OpsCase{"twoBlocksPlusOneByteTimesFour", 2 * 10485760 + 1, 10485760, 4, 10},
                      OpsCase{"glueExample", 25000000, 12000000, 4, 11},
                      OpsCase{"divideExample", 12582912, 1048576, 3, 5},
                      OpsCase{"exactMultiple", 20971520, 20971520, 3, 6},
                      OpsCase{"oneByteChunks", 1, 1, 1000, 1000},
                      OpsCase{"overTwoGiB", 2000000000, 147483648, 2, 206},
                      // Beyond 32 bits: 205 blocks for each of INT32_MAX chunks.
                      OpsCase{"hugeCount", INT32_MAX, INT32_MAX, INT32_MAX, 205LL * INT32_MAX}),
    [](const ::testing::TestParamInfo<OpsCase>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace morvane_test
