// FileGlue before a run: initial state, setters, header analysis and the chunk check.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <memory>

#include "engine/file_glue.h"
#include "faulty_file_layer.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::FileGlue;

TEST(GlueInitialStateTest, StartsEmptyWithFoldersAtTheExecutable) {
    FileGlue glu;
    EXPECT_EQ(glu.BigFilePath(), ownExecutableFolder());
    EXPECT_EQ(glu.HeaderFilePath(), ownExecutableFolder());
    EXPECT_EQ(glu.ChunkPrefix(), "");
    EXPECT_EQ(glu.HeaderFileName(), "");
    EXPECT_EQ(glu.BigFileName(), "");
    EXPECT_EQ(glu.AvgChunkSize(), 0);
    EXPECT_EQ(glu.LastChunkSize(), 0);
    EXPECT_EQ(glu.NumOfChunks(), 0);
    EXPECT_EQ(glu.NumOfOps(), 0);
    EXPECT_EQ(glu.BigFileSize(), 0);
    EXPECT_EQ(glu.CurrentChunk(), -1);
    EXPECT_EQ(glu.CurrentOp(), 0);
    EXPECT_EQ(glu.ErrorCode(), 0);
    EXPECT_EQ(glu.ErrorDescription(), "");
    EXPECT_FALSE(glu.IsSysErr());
}

struct TextSetterCase {
    const char* label;
    void (FileGlue::*set)(const std::string&);
    const std::string& (FileGlue::*get)() const;
    int emptyCode;
};

void PrintTo(const TextSetterCase& c, std::ostream* os) {
    *os << c.label;
}

class GlueTextSetterTest : public ::testing::TestWithParam<TextSetterCase> {};

TEST_P(GlueTextSetterTest, StoresTextUnchangedAndRefusesEmpty) {
    const TextSetterCase& c = GetParam();
    FileGlue glu;
    GlueRecorder rec(glu);
    (glu.*c.set)("a.b c");
    EXPECT_EQ((glu.*c.get)(), "a.b c");
    EXPECT_EQ(glu.ErrorDescription(), "No Error");
    (glu.*c.set)("");
    EXPECT_EQ((glu.*c.get)(), "a.b c");
    EXPECT_TRUE(HasCode(glu, c.emptyCode));
    EXPECT_EQ(namesOf(rec.events), (std::vector<std::string>{"onClearErr", "onError"}));
}

INSTANTIATE_TEST_SUITE_P(Setters, GlueTextSetterTest,
                         ::testing::Values(TextSetterCase{"BigFileName", &FileGlue::setBigFileName,
                                                          &FileGlue::BigFileName, 2},
                                           TextSetterCase{"HeaderFileName",
                                                          &FileGlue::setHeaderFileName,
                                                          &FileGlue::HeaderFileName, 2},
                                           TextSetterCase{"ChunkPrefix", &FileGlue::setChunkPrefix,
                                                          &FileGlue::ChunkPrefix, 3}),
                         [](const ::testing::TestParamInfo<TextSetterCase>& info) {
                             return std::string(info.param.label);
                         });

struct FolderSetterCase {
    const char* label;
    void (FileGlue::*set)(const std::string&);
    const std::string& (FileGlue::*get)() const;
};

void PrintTo(const FolderSetterCase& c, std::ostream* os) {
    *os << c.label;
}

class GlueFolderSetterTest : public ::testing::TestWithParam<FolderSetterCase> {};

TEST_P(GlueFolderSetterTest, AppendsOneSeparatorAndIgnoresEmpty) {
    const FolderSetterCase& c = GetParam();
    FileGlue glu;
    GlueRecorder rec(glu);
    (glu.*c.set)("/out");
    EXPECT_EQ((glu.*c.get)(), "/out/");
    (glu.*c.set)("/out/");
    EXPECT_EQ((glu.*c.get)(), "/out/");
    EXPECT_EQ(namesOf(rec.events), (std::vector<std::string>{"onClearErr", "onClearErr"}));
    glu.setChunkPrefix("");  // code 3
    rec.clear();
    (glu.*c.set)("");
    EXPECT_EQ((glu.*c.get)(), "/out/");
    EXPECT_TRUE(rec.events.empty()) << describe(rec.events);
    EXPECT_TRUE(HasCode(glu, 3));
}

INSTANTIATE_TEST_SUITE_P(
    Setters, GlueFolderSetterTest,
    ::testing::Values(FolderSetterCase{"BigFilePath", &FileGlue::setBigFilePath,
                                       &FileGlue::BigFilePath},
                      FolderSetterCase{"HeaderFilePath", &FileGlue::setHeaderFilePath,
                                       &FileGlue::HeaderFilePath}),
    [](const ::testing::TestParamInfo<FolderSetterCase>& info) {
        return std::string(info.param.label);
    });

class GlueAnalysisTest : public ::testing::Test {
  protected:
    void writeHeader(const std::string& name, const Bytes& bytes) {
        writeFile(dir.file(name), bytes);
    }
    void pointAt(FileGlue& glu, const std::string& headerName, const std::string& prefix) {
        glu.setHeaderFileName(headerName);
        glu.setHeaderFilePath(dir.path());
        glu.setChunkPrefix(prefix);
    }
    TempDir dir;
};

TEST_F(GlueAnalysisTest, WorkedExampleReadsBack) {
    writeHeader("data.hed", headerBytes("data.bin", 1048576, 524288, 3));
    FileGlue glu;
    pointAt(glu, "data.hed", "data");
    GlueRecorder rec(glu);
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onClearErr"});
    EXPECT_EQ(glu.BigFileName(), "data.bin");
    EXPECT_EQ(glu.AvgChunkSize(), 1048576);
    EXPECT_EQ(glu.LastChunkSize(), 524288);
    EXPECT_EQ(glu.NumOfChunks(), 3);
    EXPECT_EQ(glu.BigFileSize(), 2621440);
    EXPECT_EQ(glu.ErrorDescription(), "No Error");
}

TEST_F(GlueAnalysisTest, NameSetBeforeAnalysisIsReplaced) {
    writeHeader("x.hed", headerBytes("orig.iso", 10, 10, 1));
    FileGlue glu;
    pointAt(glu, "x.hed", "x");
    glu.setBigFileName("mine.iso");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(glu.BigFileName(), "orig.iso");
}

TEST_F(GlueAnalysisTest, Windows1252NameIsReadAsUtf8) {
    writeHeader("x.hed", headerBytes("r\xE9sum\xE9 \x80.doc", 10, 5, 2));
    FileGlue glu;
    pointAt(glu, "x.hed", "x");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(glu.BigFileName(), "r\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC.doc");
}

TEST_F(GlueAnalysisTest, Utf8NameStaysAsItIs) {
    writeHeader("x.hed", headerBytes("r\xC3\xA9sum\xC3\xA9.doc", 10, 5, 2));
    FileGlue glu;
    pointAt(glu, "x.hed", "x");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(glu.BigFileName(), "r\xC3\xA9sum\xC3\xA9.doc");
}

TEST_F(GlueAnalysisTest, AnalysedEngineStaysAnalysedWhenAnEmptyNameIsRefused) {
    writeHeader("x.hed", headerBytes("orig.iso", 10, 10, 1));
    writeFile(dir.file("x_1.div"), Bytes(10, 'x'));
    FileGlue glu;
    pointAt(glu, "x.hed", "x");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setBigFileName("");
    EXPECT_TRUE(HasCode(glu, 2));
    EXPECT_EQ(glu.BigFileName(), "orig.iso");
    EXPECT_TRUE(Succeeded(glu.checkExistence(), glu));
}

TEST_F(GlueAnalysisTest, SingleChunkHeaderGivesTheLastChunkSize) {
    writeHeader("x.hed", headerBytes("a", 1000, 700, 1));
    FileGlue glu;
    pointAt(glu, "x.hed", "x");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(glu.BigFileSize(), 700);
}

TEST_F(GlueAnalysisTest, HugeCountsGiveA64BitSize) {
    writeHeader("x.hed", headerBytes("a", INT32_MAX, INT32_MAX, INT32_MAX));
    FileGlue glu;
    pointAt(glu, "x.hed", "x");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(glu.BigFileSize(), static_cast<int64_t>(INT32_MAX) * INT32_MAX);
}

TEST_F(GlueAnalysisTest, NoHeaderNameIsCode2) {
    FileGlue glu;
    glu.setHeaderFilePath(dir.path());
    GlueRecorder rec(glu);
    EXPECT_TRUE(FailedWithCode(glu.analyze(), glu, 2));
    EXPECT_EQ(glu.BigFileSize(), 0);
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
}

TEST_F(GlueAnalysisTest, MissingHeaderIsASystemErrorAndKeepsTheHeaderInformation) {
    writeHeader("good.hed", headerBytes("data.bin", 1048576, 524288, 3));
    FileGlue glu;
    pointAt(glu, "good.hed", "good");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setHeaderFileName("gone.hed");
    EXPECT_TRUE(FailedWithSystemError(glu.analyze(), glu, ENOENT));
    EXPECT_EQ(glu.BigFileName(), "data.bin");
    EXPECT_EQ(glu.AvgChunkSize(), 1048576);
    EXPECT_EQ(glu.LastChunkSize(), 524288);
    EXPECT_EQ(glu.NumOfChunks(), 3);
    EXPECT_EQ(glu.BigFileSize(), 2621440);
}

// Records that fail the validity rule: code 11, header information emptied,
// BigFileSize kept from before.
struct BadHeaderCase {
    const char* label;
    Bytes bytes;
};

void PrintTo(const BadHeaderCase& c, std::ostream* os) {
    *os << c.label;
}

class GlueBadHeaderTest : public GlueAnalysisTest,
                          public ::testing::WithParamInterface<BadHeaderCase> {};

TEST_P(GlueBadHeaderTest, IsCode11AndEmptiesTheHeaderInformation) {
    writeHeader("good.hed", headerBytes("data.bin", 1048576, 524288, 3));
    writeHeader("bad.hed", GetParam().bytes);
    FileGlue glu;
    pointAt(glu, "good.hed", "good");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setHeaderFileName("bad.hed");
    GlueRecorder rec(glu);
    EXPECT_TRUE(FailedWithCode(glu.analyze(), glu, 11));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
    EXPECT_EQ(glu.BigFileName(), "");
    EXPECT_EQ(glu.AvgChunkSize(), 0);
    EXPECT_EQ(glu.LastChunkSize(), 0);
    EXPECT_EQ(glu.NumOfChunks(), 0);
    EXPECT_EQ(glu.BigFileSize(), 2621440) << "BigFileSize keeps its value";
    // No longer analysed.
    glu.setBigFileName("out.bin");
    EXPECT_TRUE(FailedWithCode(glu.checkExistence(), glu, 10));
}

INSTANTIATE_TEST_SUITE_P(
    Records, GlueBadHeaderTest,
    ::testing::Values(
        BadHeaderCase{"lastAboveAvg", headerBytes("a", 100, 101, 2)},
        BadHeaderCase{"zeroChunks", headerBytes("a", 100, 50, 0)},
        BadHeaderCase{"negativeAvg", headerBytes("a", -5, -6, 2)},
        BadHeaderCase{"zeroLast", headerBytes("a", 100, 0, 2)},
        BadHeaderCase{"emptyName", headerBytes("", 100, 50, 2)}, BadHeaderCase{"emptyFile", ""},
        BadHeaderCase{"endsBeforeTheIntegers", headerBytes("a", 100, 50, 2).substr(0, 3)},
        BadHeaderCase{"endsInsideTheCount", headerBytes("a", 100, 50, 2).substr(0, 11)},
        BadHeaderCase{"lengthBeyondTheFile", Bytes("\x40\x00"
                                                   "abc",
                                                   5)}),
    [](const ::testing::TestParamInfo<BadHeaderCase>& info) {
        return std::string(info.param.label);
    });

TEST_F(GlueAnalysisTest, ForeignFileThatHappensToBeValidIsAccepted) {
    // Arbitrary bytes with no magic number: accepted whenever the rule holds.
    Bytes bytes = headerBytes("zz", 7, 3, 2) + "trailing bytes are never read";
    writeHeader("x.hed", bytes);
    FileGlue glu;
    pointAt(glu, "x.hed", "x");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(glu.BigFileSize(), 10);
}

TEST_F(GlueAnalysisTest, HeaderIsClosedAfterAnalysis) {
    writeHeader("x.hed", headerBytes("data.bin", 10, 10, 1));
    auto layer = std::make_shared<FaultyFileLayer>();
    FileGlue glu(layer);
    pointAt(glu, "x.hed", "x");
    const int before = openDescriptorCount();
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_EQ(layer->calls(Op::OpenRead), 1);
    EXPECT_EQ(layer->calls(Op::Close), 1);
    EXPECT_EQ(layer->calls(Op::OpenWrite), 0);
}

class GlueCheckTest : public GlueAnalysisTest {
  protected:
    // A header of `num` chunks of 10 bytes with chunk files for those in `present`.
    void lay(int num, const std::vector<int>& present) {
        writeHeader("p.hed", headerBytes("big.bin", 10, 10, num));
        for (int k : present)
            writeFile(dir.file("p_" + std::to_string(k) + ".div"), Bytes(10, 'c'));
    }
    void analyse(FileGlue& glu) {
        pointAt(glu, "p.hed", "p");
        ASSERT_TRUE(Succeeded(glu.analyze(), glu));
        glu.setBigFileName("out.bin");
        glu.setBigFilePath(dir.path());
    }
    static std::vector<int32_t> checkedChunks(const std::vector<Event>& events) {
        std::vector<int32_t> chunks;
        for (const Event& e : events)
            if (e.name == "onCheckExist") chunks.push_back(e.chunk);
        return chunks;
    }
};

TEST_F(GlueCheckTest, StopsAtTheFirstMissingChunk) {
    lay(5, {1, 2, 4, 5});
    FileGlue glu;
    analyse(glu);
    GlueRecorder rec(glu);
    EXPECT_TRUE(FailedWithCode(glu.checkExistence(), glu, 12));
    EXPECT_EQ(checkedChunks(rec.events), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_EQ(namesOf(rec.events), (std::vector<std::string>{"onCheckExist", "onCheckExist",
                                                             "onCheckExist", "onError"}));
    EXPECT_EQ(glu.CurrentChunk(), 3);
}

TEST_F(GlueCheckTest, AllPresentIsTrueWithoutClearingTheErrorState) {
    lay(4, {1, 2, 3, 4});
    FileGlue glu;
    analyse(glu);
    glu.setChunkPrefix("");  // code 3, prefix kept
    GlueRecorder rec(glu);
    EXPECT_TRUE(glu.checkExistence());
    EXPECT_EQ(checkedChunks(rec.events), (std::vector<int32_t>{1, 2, 3, 4}));
    EXPECT_EQ(countOf(rec.events, "onClearErr"), 0);
    EXPECT_TRUE(HasCode(glu, 3));
    EXPECT_EQ(glu.CurrentChunk(), 4);
}

TEST_F(GlueCheckTest, LooksAtPresenceOnlyAndOpensNothing) {
    lay(3, {1, 2, 3});
    ASSERT_EQ(::chmod(dir.file("p_2.div").c_str(), 0444), 0);  // read-only counts
    ASSERT_EQ(::chmod(dir.file("p_3.div").c_str(), 0000), 0);  // so does an unreadable one
    writeFile(dir.file("p_1.div"), "");                        // and a short one
    auto layer = std::make_shared<FaultyFileLayer>();
    FileGlue glu(layer);
    analyse(glu);
    layer->reset();
    EXPECT_TRUE(Succeeded(glu.checkExistence(), glu));
    EXPECT_EQ(layer->calls(Op::OpenRead), 0);
    EXPECT_EQ(layer->calls(Op::OpenWrite), 0);
}

TEST_F(GlueCheckTest, FolderNamedLikeAChunkIsMissing) {
    lay(3, {1, 3});
    ASSERT_EQ(::mkdir(dir.file("p_2.div").c_str(), 0755), 0);
    FileGlue glu;
    analyse(glu);
    EXPECT_TRUE(FailedWithCode(glu.checkExistence(), glu, 12));
    EXPECT_EQ(glu.CurrentChunk(), 2);
}

TEST_F(GlueCheckTest, LinksAreFollowed) {
    lay(3, {1});
    writeFile(dir.file("elsewhere"), Bytes(10, 'e'));
    ASSERT_EQ(::symlink("elsewhere", dir.file("p_2.div").c_str()), 0);
    ASSERT_EQ(::symlink("nothing_here", dir.file("p_3.div").c_str()), 0);
    FileGlue glu;
    analyse(glu);
    EXPECT_TRUE(FailedWithCode(glu.checkExistence(), glu, 12)) << "a dangling link is not a chunk";
    EXPECT_EQ(glu.CurrentChunk(), 3);

    ASSERT_EQ(::unlink(dir.file("p_3.div").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
    ASSERT_EQ(::symlink("sub", dir.file("p_3.div").c_str()), 0);
    EXPECT_TRUE(FailedWithCode(glu.checkExistence(), glu, 12))
        << "a link to a folder is not a chunk";
}

TEST_F(GlueCheckTest, RenamedHeaderLooksForChunksOfItsOwnName) {
    lay(2, {1, 2});
    ASSERT_EQ(::rename(dir.file("p.hed").c_str(), dir.file("q.hed").c_str()), 0);
    FileGlue glu;
    pointAt(glu, "q.hed", "q");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_TRUE(FailedWithCode(glu.checkExistence(), glu, 12));
    EXPECT_EQ(glu.CurrentChunk(), 1);
}

TEST_F(GlueCheckTest, BeforeAnalysisIsCode10) {
    FileGlue glu;
    glu.setChunkPrefix("p");
    glu.setHeaderFilePath(dir.path());
    GlueRecorder rec(glu);
    EXPECT_TRUE(FailedWithCode(glu.checkExistence(), glu, 10));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
    EXPECT_EQ(glu.CurrentChunk(), -1);
}

TEST_F(GlueCheckTest, NoPrefixIsCode3WithoutLooking) {
    lay(2, {1, 2});
    FileGlue glu;
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(dir.path());
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    GlueRecorder rec(glu);
    EXPECT_TRUE(FailedWithCode(glu.checkExistence(), glu, 3));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
}

TEST_F(GlueCheckTest, ChunksOfAPrefixWithDotsAreFound) {
    writeHeader("a.b.hed", headerBytes("x", 5, 5, 2));
    writeFile(dir.file("a.b_1.div"), Bytes(5, '1'));
    writeFile(dir.file("a.b_2.div"), Bytes(5, '2'));
    FileGlue glu;
    pointAt(glu, "a.b.hed", "a.b");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_TRUE(Succeeded(glu.checkExistence(), glu));
}

}  // namespace
}  // namespace morvane_test
