// No run overwrites its own input: code 13, "Output Would Overwrite Input",
// decided by device and inode, before anything is written.

#include <gtest/gtest.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::FileDivider;
using morvane::FileGlue;

class DivisionOverwriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        source = randomBytes(300, 21);
        writeFile(dir.file("big.bin"), source);
    }
    // A divider that has already run once (so its counters are not zero).
    void prepareUsedDivider(FileDivider& div) {
        TempDir first;
        prepareDivider(div, dir.path(), "big.bin", first.path(), "first");
        div.setAvgChunkSize(100);
        ASSERT_TRUE(Succeeded(div.divideFile(), div));
        ASSERT_EQ(div.NumOfOps(), 3);
    }
    void expectRefused(FileDivider& div, const std::vector<std::string>& entriesBefore) {
        DividerRecorder rec(div);
        EXPECT_TRUE(FailedWithCode(div.divideFile(), div, 13));
        EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"})
            << "no onGenHeader, no block";
        EXPECT_EQ(div.NumOfOps(), 3) << "counters are not reset";
        EXPECT_EQ(div.CurrentOp(), 3);
        EXPECT_EQ(div.CurrentChunk(), 3);
        EXPECT_EQ(dir.entries(), entriesBefore) << "nothing written";
        EXPECT_EQ(readFile(dir.file("big.bin")), source);
    }
    TempDir dir;
    Bytes source;
};

TEST_F(DivisionOverwriteTest, ChunkThatIsAHardLinkToTheSource) {
    FileDivider div;
    prepareUsedDivider(div);
    ASSERT_EQ(::link(dir.file("big.bin").c_str(), dir.file("p_2.div").c_str()), 0);
    div.setChunkPrefix("p");
    div.setChunkPath(dir.path());
    expectRefused(div, dir.entries());
}

TEST_F(DivisionOverwriteTest, HeaderThatIsASymlinkToTheSource) {
    FileDivider div;
    prepareUsedDivider(div);
    ASSERT_EQ(::symlink("big.bin", dir.file("p.hed").c_str()), 0);
    div.setChunkPrefix("p");
    div.setChunkPath(dir.path());
    expectRefused(div, dir.entries());
}

TEST_F(DivisionOverwriteTest, RecoveryIndexThatIsTheSource) {
    FileDivider div;
    prepareUsedDivider(div);
    ASSERT_EQ(::rename(dir.file("big.bin").c_str(), dir.file("p.par2").c_str()), 0);
    div.setBigFileName("p.par2");
    div.setChunkPrefix("p");
    div.setChunkPath(dir.path());
    div.setRecoveryChunks(1);
    DividerRecorder rec(div);
    EXPECT_TRUE(FailedWithCode(div.divideFile(), div, 13));
    EXPECT_EQ(readFile(dir.file("p.par2")), source);
}

TEST_F(DivisionOverwriteTest, ChecksumFileThatIsAHardLinkToTheSource) {
    FileDivider div;
    prepareUsedDivider(div);
    ASSERT_EQ(::link(dir.file("big.bin").c_str(), dir.file("p.sha256").c_str()), 0);
    div.setChunkPrefix("p");
    div.setChunkPath(dir.path());
    expectRefused(div, dir.entries());
}

TEST_F(DivisionOverwriteTest, LastChunkThatIsASymlinkToTheSource) {
    FileDivider div;
    prepareUsedDivider(div);
    div.setAvgChunkSize(1);  // 300 chunks
    ASSERT_EQ(::symlink(dir.file("big.bin").c_str(), dir.file("p_300.div").c_str()), 0);
    div.setChunkPrefix("p");
    div.setChunkPath(dir.path());
    expectRefused(div, dir.entries());
}

TEST_F(DivisionOverwriteTest, HeaderNamedLikeTheSourceThroughAnotherSpelling) {
    // The source is "x.hed" and the header of prefix "x" is the same file,
    // reached through "sub/../".
    writeFile(dir.file("x.hed"), source);
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    FileDivider div;
    prepareUsedDivider(div);
    div.setBigFileName("x.hed");
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    div.setAvgChunkSize(100);
    div.setChunkPrefix("x");
    div.setChunkPath(dir.path() + "/sub/../");
    DividerRecorder rec(div);
    const auto before = dir.entries();
    EXPECT_TRUE(FailedWithCode(div.divideFile(), div, 13));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
    EXPECT_EQ(dir.entries(), before);
    EXPECT_EQ(readFile(dir.file("x.hed")), source);
}

TEST_F(DivisionOverwriteTest, OutputsNotYetPresentAreNotTheSource) {
    FileDivider div;
    prepareDivider(div, dir.path(), "big.bin", dir.path(), "p");
    div.setAvgChunkSize(100);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    // And again over the files of the first run, which are distinct files.
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(readFile(dir.file("p_3.div")), source.substr(200));
}

TEST_F(DivisionOverwriteTest, PrefixIsCheckedBeforeTheOverwrite) {
    // With no prefix the header would be ".hed", here a link to the source:
    // code 3 still comes first.
    ASSERT_EQ(::symlink("big.bin", dir.file(".hed").c_str()), 0);
    FileDivider div;
    div.setBigFileName("big.bin");
    div.setBigFilePath(dir.path());
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    div.setChunkPath(dir.path());
    EXPECT_TRUE(FailedWithCode(div.divideFile(), div, 3));
    EXPECT_EQ(readFile(dir.file("big.bin")), source);
}

TEST_F(DivisionOverwriteTest, AnalysisIsCheckedBeforeTheOverwrite) {
    writeFile(dir.file("z.bin"), randomBytes(100, 24));
    FileDivider div;
    prepareDivider(div, dir.path(), "z.bin", dir.path(), "p");
    div.setAvgChunkSize(50);
    // The source becomes empty: the re-analysis fails and leaves BigFileSize 0.
    writeFile(dir.file("z.bin"), "");
    EXPECT_TRUE(FailedWithCode(div.analyze(), div, 5));
    ASSERT_EQ(::link(dir.file("z.bin").c_str(), dir.file("p_1.div").c_str()), 0);
    const auto before = dir.entries();
    EXPECT_TRUE(FailedWithCode(div.divideFile(), div, 10));
    EXPECT_EQ(dir.entries(), before);
}

class GlueOverwriteTest : public ::testing::Test {
  protected:
    void SetUp() override {
        source = randomBytes(300, 22);
        writeDivision(dir.path(), "p", "big.bin", source, 100);
        header = readFile(dir.file("p.hed"));
        glu.setHeaderFileName("p.hed");
        glu.setHeaderFilePath(dir.path());
        glu.setChunkPrefix("p");
        ASSERT_TRUE(Succeeded(glu.analyze(), glu));
        // One good run first, so that the counters are not zero.
        glu.setBigFileName("first.bin");
        glu.setBigFilePath(other.path());
        ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
        ASSERT_EQ(glu.NumOfOps(), 3);
    }
    void expectRefused() {
        const auto before = dir.entries();
        GlueRecorder rec(glu);
        EXPECT_TRUE(FailedWithCode(glu.glueFile(), glu, 13));
        EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
        EXPECT_EQ(glu.NumOfOps(), 3) << "counters are not reset";
        EXPECT_EQ(glu.CurrentOp(), 3);
        EXPECT_EQ(dir.entries(), before);
        EXPECT_EQ(readFile(dir.file("p.hed")), header);
        for (int k = 1; k <= 3; ++k)
            EXPECT_EQ(readFile(dir.file("p_" + std::to_string(k) + ".div")),
                      source.substr((k - 1) * 100, 100))
                << "chunk " << k;
    }
    TempDir dir, other;
    Bytes source, header;
    FileGlue glu;
};

TEST_F(GlueOverwriteTest, OutputIsTheHeaderFile) {
    glu.setBigFileName("p.hed");
    glu.setBigFilePath(dir.path());
    expectRefused();
}

TEST_F(GlueOverwriteTest, OutputIsTheChecksumFile) {
    writeFile(dir.file("p.sha256"), "not read by this engine's analysis\n");
    glu.setBigFileName("p.sha256");
    glu.setBigFilePath(dir.path());
    expectRefused();
    EXPECT_EQ(readFile(dir.file("p.sha256")), "not read by this engine's analysis\n");
}

TEST_F(GlueOverwriteTest, OutputIsAChunkSpelledDifferently) {
    glu.setBigFileName("p_2.div");
    glu.setBigFilePath(dir.path() + "/./");
    expectRefused();
}

// Recovery files are inputs too, and a lost chunk's name is an output of
// the rebuild.
TEST_F(GlueOverwriteTest, OutputIsARecoveryFileOrALostChunksName) {
    writeFile(dir.file("p.vol0+1.par2"), "recovery data");
    glu.setBigFilePath(dir.path());
    for (const char* name : {"p.par2", "p.vol0+1.par2"}) {
        glu.setBigFileName(name);
        EXPECT_TRUE(FailedWithCode(glu.glueFile(), glu, 13)) << name;
    }
    EXPECT_EQ(readFile(dir.file("p.vol0+1.par2")), "recovery data");
    ASSERT_EQ(::unlink(dir.file("p_2.div").c_str()), 0);
    glu.setBigFileName("p_2.div");
    EXPECT_TRUE(FailedWithCode(glu.glueFile(), glu, 13));
    EXPECT_FALSE(fileExists(dir.file("p_2.div")));
}

TEST_F(GlueOverwriteTest, OutputIsASymlinkToTheLastChunk) {
    ASSERT_EQ(::symlink(dir.file("p_3.div").c_str(), other.file("out.bin").c_str()), 0);
    glu.setBigFileName("out.bin");
    glu.setBigFilePath(other.path());
    expectRefused();
}

TEST_F(GlueOverwriteTest, OutputIsAHardLinkToTheFirstChunk) {
    ASSERT_EQ(::link(dir.file("p_1.div").c_str(), other.file("out.bin").c_str()), 0);
    glu.setBigFileName("out.bin");
    glu.setBigFilePath(other.path());
    expectRefused();
}

TEST_F(GlueOverwriteTest, OutputNamedLikeTheOriginalInTheChunkFolderIsFine) {
    glu.setBigFileName("big.bin");
    glu.setBigFilePath(dir.path());
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(readFile(dir.file("big.bin")), source);
}

TEST_F(GlueOverwriteTest, AHeaderNamedLikeThePrefixButNotTheInputIsFine) {
    // The header read is "p.old"; "p.hed" beside it is some other file.
    ASSERT_EQ(::rename(dir.file("p.hed").c_str(), dir.file("p.old").c_str()), 0);
    writeFile(dir.file("p.hed"), "unrelated");
    glu.setHeaderFileName("p.old");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setBigFileName("p.hed");
    glu.setBigFilePath(dir.path());
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(readFile(dir.file("p.hed")), source);
    EXPECT_EQ(readFile(dir.file("p.old")), header);
}

TEST(GlueOverwriteOrderTest, PrefixIsCheckedBeforeTheOverwrite) {
    TempDir dir;
    writeDivision(dir.path(), "p", "big.bin", randomBytes(30, 23), 10);
    const Bytes header = readFile(dir.file("p.hed"));
    FileGlue glu;
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(dir.path());
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setBigFileName("p.hed");
    glu.setBigFilePath(dir.path());
    EXPECT_TRUE(FailedWithCode(glu.glueFile(), glu, 3));
    EXPECT_EQ(readFile(dir.file("p.hed")), header);
}

}  // namespace
}  // namespace morvane_test
