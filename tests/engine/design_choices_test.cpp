// Choices of the Linux build: files emptied when opened for writing, early
// ends as system errors, no division without a current analysis, and the
// kernel copy with its read/write fallback.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
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

TEST(EmptyingTest, LongerHeaderAndChunkFilesEndUpWithTheRightLength) {
    TempDir src, out;
    const Bytes source = randomBytes(250, 11);
    writeFile(src.file("big.bin"), source);
    writeFile(out.file("p.hed"), Bytes(5000, 'H'));
    writeFile(out.file("p_1.div"), Bytes(5000, '1'));
    writeFile(out.file("p_3.div"), Bytes(5000, '3'));
    FileDivider div;
    prepareDivider(div, src.path(), "big.bin", out.path(), "p");
    div.setAvgChunkSize(100);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(readFile(out.file("p.hed")), headerBytes("big.bin", 100, 50, 3));
    EXPECT_EQ(readFile(out.file("p_1.div")), source.substr(0, 100));
    EXPECT_EQ(readFile(out.file("p_3.div")), source.substr(200, 50));
}

TEST(EmptyingTest, LongerGlueOutputEndsUpWithTheRightLength) {
    TempDir dir;
    const Bytes source = randomBytes(250, 12);
    writeDivision(dir.path(), "p", "big.bin", source, 100);
    writeFile(dir.file("restored.bin"), Bytes(100000, 'o'));
    FileGlue glu;
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(dir.path());
    glu.setChunkPrefix("p");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setBigFileName("restored.bin");
    glu.setBigFilePath(dir.path());
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(readFile(dir.file("restored.bin")), source);
}

class EarlyEndTest : public ::testing::TestWithParam<CopyMode> {};

// A chunk shorter than the header says is an early end: ENODATA, a system error.
TEST_P(EarlyEndTest, ShortChunkFailsTheGlue) {
    TempDir dir, outDir;
    const Bytes source = randomBytes(300, 13);
    writeDivision(dir.path(), "p", "big.bin", source, 100);
    writeFile(dir.file("p_2.div"), source.substr(100, 60));
    auto layer = std::make_shared<FaultyFileLayer>();
    layer->setCopyMode(GetParam());
    FileGlue glu(layer);
    GlueRecorder rec(glu);
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(dir.path());
    glu.setChunkPrefix("p");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setBigFileName("out.bin");
    glu.setBigFilePath(outDir.path());
    ASSERT_TRUE(Succeeded(glu.checkExistence(), glu)) << "presence only: the short chunk counts";
    rec.clear();
    const int fds = openDescriptorCount();
    EXPECT_FALSE(glu.glueFile());
    EXPECT_TRUE(glu.IsSysErr()) << errorStateOf(glu);
    EXPECT_EQ(glu.ErrorCode(), ENODATA) << errorStateOf(glu);
    EXPECT_FALSE(glu.ErrorDescription().empty());
    EXPECT_NE(glu.ErrorDescription(), "No Error");
    EXPECT_EQ(glu.CurrentChunk(), 2);
    EXPECT_EQ(countOf(rec.events, "onComplete"), 0);
    EXPECT_EQ(rec.events.back().name, "onError");
    EXPECT_EQ(openDescriptorCount(), fds);
    EXPECT_TRUE(outDir.entries().empty()) << "nothing of the run stays";
}

// A large file that shrank after its analysis is an early end too.
TEST_P(EarlyEndTest, ShrunkSourceFailsTheDivision) {
    TempDir src, out;
    const Bytes source = randomBytes(3000, 14);
    writeFile(src.file("big.bin"), source);
    auto layer = std::make_shared<FaultyFileLayer>();
    layer->setCopyMode(GetParam());
    FileDivider div(layer);
    prepareDivider(div, src.path(), "big.bin", out.path(), "p");
    div.setAvgChunkSize(1000);
    ASSERT_EQ(::truncate(src.file("big.bin").c_str(), 1500), 0);
    DividerRecorder rec(div);
    const int fds = openDescriptorCount();
    EXPECT_FALSE(div.divideFile());
    EXPECT_TRUE(div.IsSysErr()) << errorStateOf(div);
    EXPECT_EQ(div.ErrorCode(), ENODATA) << errorStateOf(div);
    EXPECT_FALSE(div.ErrorDescription().empty());
    EXPECT_EQ(div.CurrentChunk(), 2);
    EXPECT_EQ(countOf(rec.events, "onComplete"), 0);
    EXPECT_EQ(rec.events.back().name, "onError");
    EXPECT_EQ(openDescriptorCount(), fds);
    EXPECT_TRUE(out.entries().empty()) << "nothing of the run stays";
}

INSTANTIATE_TEST_SUITE_P(CopyPaths, EarlyEndTest,
                         ::testing::Values(CopyMode::Native, CopyMode::ThroughBuffer),
                         [](const ::testing::TestParamInfo<CopyMode>& info) {
                             return std::string(info.param == CopyMode::Native ? "Native"
                                                                               : "ThroughBuffer");
                         });

class NoCurrentAnalysisTest : public ::testing::Test {
  protected:
    void SetUp() override {
        writeFile(src.file("big.bin"), randomBytes(100, 15));
        prepareDivider(div, src.path(), "big.bin", out.path(), "p");
        div.setAvgChunkSize(30);
    }
    void expectRefusedWithNothingWritten() {
        DividerRecorder rec(div);
        EXPECT_TRUE(FailedWithCode(div.divideFile(), div, 10));
        EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
        EXPECT_TRUE(out.entries().empty());
        EXPECT_EQ(div.NumOfOps(), 0);
    }
    TempDir src, out;
    FileDivider div;
};

TEST_F(NoCurrentAnalysisTest, DivisionAfterAFailedReanalysisIsCode10) {
    ASSERT_EQ(::unlink(src.file("big.bin").c_str()), 0);
    EXPECT_FALSE(div.analyze());
    expectRefusedWithNothingWritten();
}

TEST_F(NoCurrentAnalysisTest, DivisionAfterAReanalysisOfAnEmptyFileIsCode10) {
    writeFile(src.file("big.bin"), "");
    EXPECT_FALSE(div.analyze());
    expectRefusedWithNothingWritten();
}

// One notification per block, whether the kernel copies or the layer falls
// back. The division reads and writes every block to hash it; a glue
// without a checksum file copies.
class CopyPathTest : public ::testing::TestWithParam<CopyMode> {};

TEST_P(CopyPathTest, OneNotificationPerBlockAndTheSameBytes) {
    TempDir src, out, glued;
    const std::size_t size = 2 * 10485760 + 1000;
    const Bytes source = randomBytes(size, 16);
    writeFile(src.file("big.bin"), source);
    auto layer = std::make_shared<FaultyFileLayer>();
    layer->setCopyMode(GetParam());
    FileDivider div(layer);
    DividerRecorder drec(div);
    prepareDivider(div, src.path(), "big.bin", out.path(), "p");
    div.setAvgChunkSize(10485760 + 500);
    layer->reset();
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(div.NumOfOps(), 4);
    EXPECT_EQ(countOf(drec.events, "onNewDivision"), 4);
    EXPECT_EQ(layer->readSizes(src.file("big.bin")).size(), 4u);
    ASSERT_EQ(::unlink(out.file("p.sha256").c_str()), 0);

    FileGlue glu(layer);
    GlueRecorder grec(glu);
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(out.path());
    glu.setChunkPrefix("p");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setBigFileName("big.bin");
    glu.setBigFilePath(glued.path());
    layer->reset();
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(glu.NumOfOps(), 4);
    EXPECT_EQ(countOf(grec.events, "onNewDivision"), 4);
    const std::size_t B = 10485760;
    EXPECT_EQ(layer->copySizes, piecesOf({B, 500, B, 500}));
    EXPECT_TRUE(readFile(glued.file("big.bin")) == source) << "glued file differs";
}

INSTANTIATE_TEST_SUITE_P(CopyPaths, CopyPathTest,
                         ::testing::Values(CopyMode::Native, CopyMode::ThroughBuffer,
                                           CopyMode::ReadWrite),
                         [](const ::testing::TestParamInfo<CopyMode>& info) {
                             switch (info.param) {
                                 case CopyMode::Native:
                                     return std::string("Native");
                                 case CopyMode::ThroughBuffer:
                                     return std::string("ThroughBuffer");
                                 default:
                                     return std::string("ReadWrite");
                             }
                         });

// A source on tmpfs and chunks on another file system: the kernel refuses
// copy_file_range across them (EXDEV), so the layer has to fall back.
TEST(CopyFallbackTest, DivisionAcrossFileSystemsStillOneNotificationPerBlock) {
    struct stat shm, tmp;
    TempDir out;
    if (::stat("/dev/shm", &shm) != 0 || ::stat(out.path().c_str(), &tmp) != 0 ||
        shm.st_dev == tmp.st_dev)
        GTEST_SKIP() << "needs /dev/shm on another file system than " << out.path();
    TempDir src("/dev/shm");
    TempDir glued("/dev/shm");
    const std::size_t size = 10485760 + 4321;
    const Bytes source = randomBytes(size, 17);
    writeFile(src.file("big.bin"), source);
    FileDivider div;
    DividerRecorder drec(div);
    prepareDivider(div, src.path(), "big.bin", out.path(), "p");
    div.setAvgChunkSize(5000000);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(div.NumOfChunks(), 3);
    EXPECT_EQ(div.NumOfOps(), 3);
    EXPECT_EQ(countOf(drec.events, "onNewDivision"), 3);
    Bytes chunks = readFile(out.file("p_1.div")) + readFile(out.file("p_2.div")) +
                   readFile(out.file("p_3.div"));
    EXPECT_TRUE(chunks == source);

    FileGlue glu;
    GlueRecorder grec(glu);
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(out.path());
    glu.setChunkPrefix("p");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setBigFileName("big.bin");
    glu.setBigFilePath(glued.path());
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(countOf(grec.events, "onNewDivision"), 3);
    EXPECT_TRUE(readFile(glued.file("big.bin")) == source);
}

}  // namespace
}  // namespace morvane_test
