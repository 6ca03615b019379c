// Files of 2 GiB and more, without writing gigabytes: sparse sources, and a
// file layer that moves offsets instead of bytes.

#include <gtest/gtest.h>

#include <climits>
#include <memory>

#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "faulty_file_layer.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::FileDivider;
using morvane::FileGlue;

constexpr int64_t kTwoGiB = 2147483648LL;

class LargeAccountingTest : public ::testing::Test {
  protected:
    void analyse(FileDivider& div, int64_t size) {
        makeSparseFile(src.file("huge.img"), size);
        prepareDivider(div, src.path(), "huge.img", out.path(), "h");
    }
    TempDir src, out;
};

TEST_F(LargeAccountingTest, FileOfTwoGiBIsPlannedInChunksOfTwoBillionBytes) {
    FileDivider div;
    analyse(div, kTwoGiB);
    EXPECT_EQ(div.BigFileSize(), kTwoGiB);
    EXPECT_EQ(div.AvgChunkSize(), 2000000000);
    EXPECT_EQ(div.NumOfChunks(), 2);
    EXPECT_EQ(div.LastChunkSize(), 147483648);
}

TEST_F(LargeAccountingTest, FileJustUnderTwoGiBKeepsTheOneChunkPlan) {
    FileDivider div;
    analyse(div, kTwoGiB - 1);
    EXPECT_EQ(div.BigFileSize(), kTwoGiB - 1);
    EXPECT_EQ(div.AvgChunkSize(), INT32_MAX);
    EXPECT_EQ(div.NumOfChunks(), 1);
    EXPECT_EQ(div.LastChunkSize(), INT32_MAX);
    // INT32_MAX one-byte chunks is still a plan.
    div.setAvgChunkSize(1);
    EXPECT_EQ(div.AvgChunkSize(), 1) << errorStateOf(div);
    EXPECT_EQ(div.NumOfChunks(), INT32_MAX);
}

TEST_F(LargeAccountingTest, PlanOfMoreThanInt32MaxChunksIsCode4) {
    FileDivider div;
    analyse(div, kTwoGiB);
    DividerRecorder rec(div);
    div.setAvgChunkSize(1);
    EXPECT_TRUE(HasCode(div, 4));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
    EXPECT_EQ(div.AvgChunkSize(), 2000000000);
    EXPECT_EQ(div.NumOfChunks(), 2);
    div.setAvgChunkSize(2);
    EXPECT_EQ(div.AvgChunkSize(), 2) << errorStateOf(div);
    EXPECT_EQ(div.NumOfChunks(), 1073741824);
    EXPECT_EQ(div.LastChunkSize(), 2);
    div.setAvgChunkSize(INT32_MAX);
    EXPECT_EQ(div.AvgChunkSize(), INT32_MAX) << errorStateOf(div);
    EXPECT_EQ(div.NumOfChunks(), 2);
    EXPECT_EQ(div.LastChunkSize(), 1);
}

// 4,294,967,294 bytes are exactly INT32_MAX chunks of 2; one byte more needs
// one chunk more.
TEST_F(LargeAccountingTest, ChunkCountLimitCountsThePartialLastChunk) {
    FileDivider div;
    analyse(div, 2LL * INT32_MAX);
    div.setAvgChunkSize(2);
    EXPECT_EQ(div.AvgChunkSize(), 2) << errorStateOf(div);
    EXPECT_EQ(div.NumOfChunks(), INT32_MAX);
    EXPECT_EQ(div.LastChunkSize(), 2);

    FileDivider bigger;
    makeSparseFile(src.file("huge2.img"), 2LL * INT32_MAX + 1);
    prepareDivider(bigger, src.path(), "huge2.img", out.path(), "h");
    bigger.setAvgChunkSize(2);
    EXPECT_TRUE(HasCode(bigger, 4));
    bigger.setAvgChunkSize(3);
    EXPECT_EQ(bigger.AvgChunkSize(), 3) << errorStateOf(bigger);
    EXPECT_EQ(bigger.NumOfChunks(), 1431655765);
    EXPECT_EQ(bigger.LastChunkSize(), 3);
}

TEST_F(LargeAccountingTest, ChunkSizeAboveFourGiBFileIsStillBoundByTheFile) {
    FileDivider div;
    analyse(div, 5 * kTwoGiB);
    EXPECT_EQ(div.BigFileSize(), 5 * kTwoGiB);
    EXPECT_EQ(div.NumOfChunks(), 6);  // 10,737,418,240 = 5 x 2e9 + 737,418,240
    EXPECT_EQ(div.LastChunkSize(), 737418240);
    div.setAvgChunkSize(INT32_MAX);
    EXPECT_EQ(div.NumOfChunks(), 6);
    EXPECT_EQ(div.LastChunkSize(), 5);
}

// The whole run, with block copies that only move offsets: the header keeps
// its 32-bit format, the chunk files get their planned lengths, and the
// counters go past what 32 bits of bytes could hold.
TEST_F(LargeAccountingTest, DivisionAndGlueOfTwoGiBWithoutMovingData) {
    auto layer = std::make_shared<FaultyFileLayer>();
    layer->setCopyMode(FaultyFileLayer::CopyMode::Skip);
    FileDivider div(layer);
    DividerRecorder drec(div);
    analyse(div, kTwoGiB);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(div.NumOfOps(), 206);
    EXPECT_EQ(countOf(drec.events, "onNewDivision"), 206);
    EXPECT_EQ(div.CurrentOp(), 206);
    EXPECT_EQ(readFile(out.file("h.hed")), headerBytes("huge.img", 2000000000, 147483648, 2));
    EXPECT_EQ(fileSize(out.file("h_1.div")), 2000000000);
    EXPECT_EQ(fileSize(out.file("h_2.div")), 147483648);

    FileGlue glu(layer);
    GlueRecorder grec(glu);
    glu.setHeaderFileName("h.hed");
    glu.setHeaderFilePath(out.path());
    glu.setChunkPrefix("h");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(glu.BigFileSize(), kTwoGiB);
    glu.setBigFilePath(src.path());
    glu.setBigFileName("back.img");
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(glu.NumOfOps(), 206);
    EXPECT_EQ(countOf(grec.events, "onNewDivision"), 206);
    EXPECT_EQ(fileSize(src.file("back.img")), kTwoGiB);
}

}  // namespace
}  // namespace morvane_test
