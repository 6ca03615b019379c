// FileDivider before a run: initial state, setters, analysis and the chunk plan.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <climits>

#include "engine/file_divider.h"
#include "engine/file_layer.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::FileDivider;

TEST(DividerInitialStateTest, StartsEmptyWithFoldersAtTheExecutable) {
    FileDivider div;
    EXPECT_EQ(div.BigFileName(), "");
    EXPECT_EQ(div.ChunkPrefix(), "");
    EXPECT_EQ(div.BigFilePath(), ownExecutableFolder());
    EXPECT_EQ(div.ChunkPath(), ownExecutableFolder());
    EXPECT_EQ(div.AvgChunkSize(), 0);
    EXPECT_EQ(div.LastChunkSize(), 0);
    EXPECT_EQ(div.NumOfChunks(), 0);
    EXPECT_EQ(div.NumOfOps(), 0);
    EXPECT_EQ(div.CurrentChunk(), -1);
    EXPECT_EQ(div.CurrentOp(), 0);
    EXPECT_EQ(div.ErrorCode(), 0);
    EXPECT_EQ(div.ErrorDescription(), "");
    EXPECT_FALSE(div.IsSysErr());
}

TEST(DividerInitialStateTest, ExecutableFolderEndsInOneSeparator) {
    const std::string folder = morvane::executableFolder();
    EXPECT_EQ(folder, ownExecutableFolder());
    ASSERT_GE(folder.size(), 2u);
    EXPECT_EQ(folder.back(), '/');
    EXPECT_NE(folder[folder.size() - 2], '/');
}

TEST(DividerInitialStateTest, ReadingBigFileSizeBeforeAnalysisRecordsCode10) {
    FileDivider div;
    DividerRecorder rec(div);
    EXPECT_EQ(div.BigFileSize(), 0);
    EXPECT_TRUE(HasCode(div, 10));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
}

TEST(DividerSettersTest, EmptyFileNameIsRefusedWithCode2AndOldNameKept) {
    FileDivider div;
    DividerRecorder rec(div);
    div.setBigFileName("a.bin");
    EXPECT_EQ(div.ErrorDescription(), "No Error");
    div.setBigFileName("");
    EXPECT_TRUE(HasCode(div, 2));
    EXPECT_EQ(div.BigFileName(), "a.bin");
    EXPECT_EQ(namesOf(rec.events), (std::vector<std::string>{"onClearErr", "onError"}));
}

TEST(DividerSettersTest, NamesAndPrefixesAreStoredUnchanged) {
    FileDivider div;
    div.setBigFileName(" odd name.tar.gz ");
    EXPECT_EQ(div.BigFileName(), " odd name.tar.gz ");
    div.setChunkPrefix("a.b.c");
    EXPECT_EQ(div.ChunkPrefix(), "a.b.c");
}

TEST(DividerSettersTest, EmptyPrefixIsRefusedWithCode3AndOldPrefixKept) {
    FileDivider div;
    DividerRecorder rec(div);
    div.setChunkPrefix("p");
    div.setChunkPrefix("");
    EXPECT_TRUE(HasCode(div, 3));
    EXPECT_EQ(div.ChunkPrefix(), "p");
    EXPECT_EQ(namesOf(rec.events), (std::vector<std::string>{"onClearErr", "onError"}));
}

struct FolderCase {
    const char* label;
    std::string given;
    std::string stored;
};

void PrintTo(const FolderCase& c, std::ostream* os) {
    *os << c.label;
}

class DividerFolderSetterTest : public ::testing::TestWithParam<FolderCase> {};

TEST_P(DividerFolderSetterTest, BigFilePathGetsExactlyOneTrailingSeparator) {
    FileDivider div;
    DividerRecorder rec(div);
    div.setBigFilePath(GetParam().given);
    EXPECT_EQ(div.BigFilePath(), GetParam().stored);
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onClearErr"});
    EXPECT_EQ(div.ErrorDescription(), "No Error");
}

TEST_P(DividerFolderSetterTest, ChunkPathGetsExactlyOneTrailingSeparator) {
    FileDivider div;
    DividerRecorder rec(div);
    div.setChunkPath(GetParam().given);
    EXPECT_EQ(div.ChunkPath(), GetParam().stored);
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onClearErr"});
}

TEST_P(DividerFolderSetterTest, SeparatorHelperAgrees) {
    EXPECT_EQ(morvane::withTrailingSeparator(GetParam().given), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, DividerFolderSetterTest,
    ::testing::Values(FolderCase{"noSeparator", "/home/me/in", "/home/me/in/"},
                      FolderCase{"withSeparator", "/home/me/in/", "/home/me/in/"},
                      FolderCase{"root", "/", "/"}, FolderCase{"relative", "out", "out/"},
                      FolderCase{"doubleSeparatorKept", "/a//", "/a//"},
                      FolderCase{"backslashIsAName", "C:\\out", "C:\\out/"}),
    [](const ::testing::TestParamInfo<FolderCase>& info) { return std::string(info.param.label); });

TEST(DividerSettersTest, EmptyFoldersAreIgnoredWithoutNotification) {
    FileDivider div;
    div.setBigFilePath("/x");
    div.setChunkPath("/y");
    div.setBigFileName("");  // leaves code 2 in place
    DividerRecorder rec(div);
    div.setBigFilePath("");
    div.setChunkPath("");
    EXPECT_EQ(div.BigFilePath(), "/x/");
    EXPECT_EQ(div.ChunkPath(), "/y/");
    EXPECT_TRUE(rec.events.empty()) << describe(rec.events);
    EXPECT_TRUE(HasCode(div, 2)) << "an ignored folder must not clear the error state";
}

class DividerAnalysisTest : public ::testing::Test {
  protected:
    void makeFile(const std::string& name, std::size_t size) {
        writeFile(dir.file(name), randomBytes(size, size));
    }
    void pointAt(FileDivider& div, const std::string& name) {
        div.setBigFileName(name);
        div.setBigFilePath(dir.path());
    }
    TempDir dir;
};

TEST_F(DividerAnalysisTest, OneByteFileGivesAOneByteOneChunkPlan) {
    makeFile("one", 1);
    FileDivider div;
    pointAt(div, "one");
    DividerRecorder rec(div);
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onClearErr"});
    EXPECT_EQ(div.ErrorDescription(), "No Error");
    EXPECT_EQ(div.BigFileSize(), 1);
    EXPECT_EQ(div.AvgChunkSize(), 1);
    EXPECT_EQ(div.NumOfChunks(), 1);
    EXPECT_EQ(div.LastChunkSize(), 1);
    EXPECT_EQ(div.NumOfOps(), 0) << "analysis does not plan a run";
}

TEST_F(DividerAnalysisTest, WholeFileIsOneChunk) {
    makeFile("f", 123457);
    FileDivider div;
    pointAt(div, "f");
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    EXPECT_EQ(div.BigFileSize(), 123457);
    EXPECT_EQ(div.AvgChunkSize(), 123457);
    EXPECT_EQ(div.NumOfChunks(), 1);
    EXPECT_EQ(div.LastChunkSize(), 123457);
}

TEST_F(DividerAnalysisTest, NoFileNameIsCode2) {
    FileDivider div;
    DividerRecorder rec(div);
    EXPECT_TRUE(FailedWithCode(div.analyze(), div, 2));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
}

TEST_F(DividerAnalysisTest, MissingFileIsASystemErrorAndLeavesSizeZero) {
    FileDivider div;
    pointAt(div, "absent.bin");
    DividerRecorder rec(div);
    EXPECT_TRUE(FailedWithSystemError(div.analyze(), div, ENOENT));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
    EXPECT_EQ(div.BigFileSize(), 0);
    EXPECT_FALSE(fileExists(dir.file("absent.bin"))) << "analysis must not create the file";
}

TEST_F(DividerAnalysisTest, ZeroLengthFileIsCode5AndKeepsTheOldPlan) {
    makeFile("f", 100);
    FileDivider div;
    pointAt(div, "f");
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    div.setAvgChunkSize(30);
    writeFile(dir.file("f"), "");
    EXPECT_TRUE(FailedWithCode(div.analyze(), div, 5));
    EXPECT_EQ(div.AvgChunkSize(), 30);
    EXPECT_EQ(div.NumOfChunks(), 4);
    EXPECT_EQ(div.LastChunkSize(), 10);
    EXPECT_EQ(div.BigFileSize(), 0);
}

TEST_F(DividerAnalysisTest, FailedReanalysisKeepsThePlanButNotTheSize) {
    makeFile("f", 100);
    FileDivider div;
    pointAt(div, "f");
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    div.setAvgChunkSize(30);
    ASSERT_EQ(::unlink(dir.file("f").c_str()), 0);
    EXPECT_TRUE(FailedWithSystemError(div.analyze(), div, ENOENT));
    EXPECT_EQ(div.AvgChunkSize(), 30);
    EXPECT_EQ(div.NumOfChunks(), 4);
    EXPECT_EQ(div.LastChunkSize(), 10);
    // Recomputing now works from a size of 0: no chunks, last = the old chunk size.
    EXPECT_TRUE(Succeeded(div.computeChunks(), div));
    EXPECT_EQ(div.NumOfChunks(), 0);
    EXPECT_EQ(div.LastChunkSize(), 30);
}

TEST_F(DividerAnalysisTest, ChunkSizeAfterAFailedReanalysisIsCode10Once) {
    makeFile("f", 100);
    FileDivider div;
    pointAt(div, "f");
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    div.setAvgChunkSize(30);
    writeFile(dir.file("f"), "");
    EXPECT_FALSE(div.analyze());
    DividerRecorder rec(div);
    div.setAvgChunkSize(10);
    EXPECT_TRUE(HasCode(div, 10));
    // The recomputation that follows has a chunk size and records nothing.
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
    EXPECT_EQ(div.AvgChunkSize(), 30);
    EXPECT_EQ(div.NumOfChunks(), 0);
    EXPECT_EQ(div.LastChunkSize(), 30);
}

TEST_F(DividerAnalysisTest, NewAnalysisStartsAgainFromOneChunk) {
    makeFile("a", 100);
    makeFile("b", 50);
    FileDivider div;
    pointAt(div, "a");
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    div.setAvgChunkSize(30);
    div.setBigFileName("b");
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    EXPECT_EQ(div.BigFileSize(), 50);
    EXPECT_EQ(div.AvgChunkSize(), 50);
    EXPECT_EQ(div.NumOfChunks(), 1);
    EXPECT_EQ(div.LastChunkSize(), 50);
}

TEST_F(DividerAnalysisTest, ChangingTheNameKeepsTheAnalysis) {
    makeFile("f", 100);
    FileDivider div;
    pointAt(div, "f");
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    div.setBigFileName("other");
    div.setBigFilePath("/nowhere");
    EXPECT_EQ(div.BigFileSize(), 100);
    EXPECT_EQ(div.AvgChunkSize(), 100);
    EXPECT_EQ(div.NumOfChunks(), 1);
}

TEST(DividerBareNameTest, BareNameIsLookedForBesideTheExecutable) {
    const std::string name = "morvane_bare_name_" + std::to_string(::getpid()) + ".bin";
    const std::string path = ownExecutableFolder() + name;
    writeFile(path, randomBytes(77, 1));
    FileDivider div;
    div.setBigFileName(name);
    const bool ok = div.analyze();
    ::unlink(path.c_str());
    ASSERT_TRUE(Succeeded(ok, div));
    EXPECT_EQ(div.BigFileSize(), 77);
}

TEST(DividerChunkSizeTest, BeforeAnalysisCode10IsRecordedTwice) {
    FileDivider div;
    DividerRecorder rec(div);
    div.setAvgChunkSize(10);
    EXPECT_TRUE(HasCode(div, 10));
    EXPECT_EQ(namesOf(rec.events), (std::vector<std::string>{"onError", "onError"}));
    EXPECT_EQ(div.AvgChunkSize(), 0);
    EXPECT_EQ(div.NumOfChunks(), 0);
}

TEST(DividerChunkSizeTest, ComputeChunksBeforeAnalysisIsCode10) {
    FileDivider div;
    EXPECT_TRUE(FailedWithCode(div.computeChunks(), div, 10));
}

struct ChunkSizeCase {
    int64_t fileSize;
    int32_t chunk;
    bool accepted;
    int32_t num;   // plan afterwards
    int32_t last;  // plan afterwards
};

void PrintTo(const ChunkSizeCase& c, std::ostream* os) {
    *os << "file " << c.fileSize << ", chunk " << c.chunk;
}

class DividerChunkSizeTableTest : public ::testing::TestWithParam<ChunkSizeCase> {
  protected:
    TempDir dir;
};

// Rejected sizes leave the plan of a previously accepted chunk size
// (a third of the file, rounded up) in place.
TEST_P(DividerChunkSizeTableTest, AcceptsOneToFileSize) {
    const ChunkSizeCase& c = GetParam();
    writeFile(dir.file("f"), randomBytes(static_cast<std::size_t>(c.fileSize), 3));
    FileDivider div;
    div.setBigFileName("f");
    div.setBigFilePath(dir.path());
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    const int32_t before = static_cast<int32_t>((c.fileSize + 2) / 3);
    div.setAvgChunkSize(before);
    ASSERT_EQ(div.AvgChunkSize(), before);
    DividerRecorder rec(div);

    div.setAvgChunkSize(c.chunk);
    if (c.accepted) {
        EXPECT_EQ(div.AvgChunkSize(), c.chunk);
        EXPECT_EQ(div.ErrorDescription(), "No Error");
        EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onClearErr"});
    } else {
        EXPECT_TRUE(HasCode(div, 4));
        EXPECT_EQ(div.AvgChunkSize(), before);
        EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
    }
    EXPECT_EQ(div.NumOfChunks(), c.num);
    EXPECT_EQ(div.LastChunkSize(), c.last);
    EXPECT_TRUE(Succeeded(div.computeChunks(), div));
    EXPECT_EQ(div.NumOfChunks(), c.num);
    EXPECT_EQ(div.LastChunkSize(), c.last);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, DividerChunkSizeTableTest,
    ::testing::Values(ChunkSizeCase{100, 100, true, 1, 100}, ChunkSizeCase{100, 99, true, 2, 1},
                      ChunkSizeCase{100, 1, true, 100, 1}, ChunkSizeCase{100, 50, true, 2, 50},
                      ChunkSizeCase{100, 101, false, 3, 32}, ChunkSizeCase{100, 0, false, 3, 32},
                      ChunkSizeCase{100, -1, false, 3, 32},
                      ChunkSizeCase{100, INT32_MIN, false, 3, 32},
                      ChunkSizeCase{100, INT32_MAX, false, 3, 32},
                      ChunkSizeCase{25, 10, true, 3, 5}, ChunkSizeCase{25, 5, true, 5, 5},
                      ChunkSizeCase{25, 25, true, 1, 25}, ChunkSizeCase{25, 24, true, 2, 1}),
    [](const ::testing::TestParamInfo<ChunkSizeCase>& info) {
        std::string c = info.param.chunk < 0 ? "minus" + std::to_string(-(int64_t)info.param.chunk)
                                             : std::to_string(info.param.chunk);
        return "file" + std::to_string(info.param.fileSize) + "_chunk" + c;
    });

TEST(DividerChunkSizeTest, SuccessfulRecomputeNeitherClearsNorNotifies) {
    TempDir dir;
    writeFile(dir.file("f"), randomBytes(25, 1));
    FileDivider div;
    div.setBigFileName("f");
    div.setBigFilePath(dir.path());
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    div.setAvgChunkSize(10);
    div.setChunkPrefix("");  // code 3
    DividerRecorder rec(div);
    EXPECT_TRUE(div.computeChunks());
    EXPECT_TRUE(rec.events.empty()) << describe(rec.events);
    EXPECT_TRUE(HasCode(div, 3));
    EXPECT_EQ(div.NumOfChunks(), 3);
    EXPECT_EQ(div.LastChunkSize(), 5);
}

}  // namespace
}  // namespace morvane_test
