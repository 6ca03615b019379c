// Divide, glue, compare: random content for sizes and chunk sizes around the
// block boundaries. The glue verifies the chunks against the checksum file
// the division wrote, which sha256sum accepts too; the rows that route
// copies through the buffer glue without it.

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>

#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "faulty_file_layer.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::FileDivider;
using morvane::FileGlue;
using CopyMode = FaultyFileLayer::CopyMode;

constexpr int64_t B = 10485760;

struct RoundTrip {
    const char* label;
    int64_t fileSize;
    int32_t chunkSize;
    CopyMode mode;
};

void PrintTo(const RoundTrip& c, std::ostream* os) {
    *os << "file " << c.fileSize << ", chunk " << c.chunkSize;
}

class RoundTripTest : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(RoundTripTest, GlueGivesBackTheOriginal) {
    const RoundTrip& c = GetParam();
    TempDir src, chunks, restored;
    const Bytes source =
        randomBytes(static_cast<std::size_t>(c.fileSize), c.fileSize * 31 + c.chunkSize);
    writeFile(src.file("original.dat"), source);

    const int32_t num = static_cast<int32_t>((c.fileSize + c.chunkSize - 1) / c.chunkSize);
    const int32_t last =
        static_cast<int32_t>(c.fileSize - static_cast<int64_t>(num - 1) * c.chunkSize);
    const int64_t ops = blocksOf(c.chunkSize) * (num - 1) + blocksOf(last);

    auto layer = std::make_shared<FaultyFileLayer>();
    layer->setCopyMode(c.mode);

    FileDivider div(layer);
    DividerRecorder drec(div);
    prepareDivider(div, src.path(), "original.dat", chunks.path(), "rt");
    div.setAvgChunkSize(c.chunkSize);
    ASSERT_EQ(div.AvgChunkSize(), c.chunkSize) << errorStateOf(div);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(div.NumOfChunks(), num);
    EXPECT_EQ(div.LastChunkSize(), last);
    EXPECT_EQ(div.NumOfOps(), ops);
    EXPECT_EQ(countOf(drec.events, "onNewDivision"), ops);
    EXPECT_EQ(drec.events.back().name, "onComplete");
    EXPECT_EQ(fileSize(chunks.file("rt_1.div")), num == 1 ? last : c.chunkSize);
    EXPECT_EQ(fileSize(chunks.file("rt_" + std::to_string(num) + ".div")), last);
    EXPECT_FALSE(fileExists(chunks.file("rt_" + std::to_string(num + 1) + ".div")));
    EXPECT_EQ(chunks.entries().size(), static_cast<std::size_t>(num) + 2);
    EXPECT_EQ(
        runCommand("cd " + chunks.path() + " && sha256sum -c --quiet --ignore-missing rt.sha256"),
        "exit 0:");
    const bool verified = c.mode == CopyMode::Native || c.mode == CopyMode::Shared;
    if (!verified) {
        ASSERT_EQ(::unlink(chunks.file("rt.sha256").c_str()), 0);
    }

    FileGlue glu(layer);
    GlueRecorder grec(glu);
    glu.setHeaderFileName("rt.hed");
    glu.setHeaderFilePath(chunks.path());
    glu.setChunkPrefix("rt");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(glu.ChecksumFileName(), verified ? "rt.sha256" : "");
    EXPECT_EQ(glu.BigFileName(), "original.dat");
    EXPECT_EQ(glu.BigFileSize(), c.fileSize);
    EXPECT_EQ(glu.NumOfChunks(), num);
    glu.setBigFileName("original.dat");
    glu.setBigFilePath(restored.path());
    ASSERT_TRUE(Succeeded(glu.checkExistence(), glu));
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(glu.NumOfOps(), ops);
    EXPECT_EQ(countOf(grec.events, "onNewDivision"), ops);
    const Bytes back = readFile(restored.file("original.dat"));
    ASSERT_EQ(back.size(), source.size());
    EXPECT_TRUE(back == source) << "restored file differs from the original";
    if (verified) {
        EXPECT_EQ(runCommand("cd " + restored.path() + " && sha256sum -c --ignore-missing " +
                             chunks.file("rt.sha256")),
                  "exit 0:original.dat: OK\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, RoundTripTest,
    ::testing::Values(
        RoundTrip{"oneByte", 1, 1, CopyMode::Native},
        RoundTrip{"oneByteChunksOfSmallFile", 300, 1, CopyMode::Native},
        RoundTrip{"twoChunksLastOneByte", 101, 100, CopyMode::Native},
        RoundTrip{"blockMinusOneWhole", B - 1, static_cast<int32_t>(B - 1), CopyMode::Native},
        RoundTrip{"blockWhole", B, static_cast<int32_t>(B), CopyMode::Native},
        RoundTrip{"blockPlusOneWhole", B + 1, static_cast<int32_t>(B + 1), CopyMode::Native},
        RoundTrip{"blockPlusOneInBlocks", B + 1, static_cast<int32_t>(B), CopyMode::Native},
        RoundTrip{"twoBlocksInBlocks", 2 * B, static_cast<int32_t>(B), CopyMode::Native},
        RoundTrip{"twoBlocksInBlockMinusOne", 2 * B, static_cast<int32_t>(B - 1), CopyMode::Native},
        RoundTrip{"twoBlocksPlusOneInDoubleBlocks", 2 * B + 1, static_cast<int32_t>(2 * B),
                  CopyMode::Native},
        RoundTrip{"threeBlocksMinusOneInBlockPlusOne", 3 * B - 1, static_cast<int32_t>(B + 1),
                  CopyMode::Native},
        RoundTrip{"unevenSmallChunks", 1000003, 4099, CopyMode::Native},
        RoundTrip{"blockPlusOneThroughBuffer", 2 * B + 2, static_cast<int32_t>(B + 1),
                  CopyMode::ThroughBuffer},
        RoundTrip{"oneByteChunksThroughBuffer", 64, 1, CopyMode::ThroughBuffer},
        // The kernel copies while the hashes read each block beside it.
        RoundTrip{"sharedExtentsInBlockPlusOne", 3 * B - 1, static_cast<int32_t>(B + 1),
                  CopyMode::Shared},
        RoundTrip{"sharedExtentsSmallChunks", 100003, 4096, CopyMode::Shared}),
    [](const ::testing::TestParamInfo<RoundTrip>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace morvane_test
