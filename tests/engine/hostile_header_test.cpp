// Header files the glue engine did not write: lengths beyond the file,
// sizes and counts at the ends of their range, names that look like paths,
// control characters or markup. Whatever the record says, the engine
// crashes on none of them, refuses the invalid ones, and writes nothing but
// the output file the person chose, in the folder they chose.

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <map>

#include "engine/file_glue.h"
#include "test_support.h"

namespace morvane_test {
namespace {

namespace fs = std::filesystem;
using morvane::FileGlue;

// The chunks beside every header: three of 10 bytes.
constexpr int32_t kChunk = 10;

struct HostileHeader {
    const char* label;
    Bytes bytes;
    bool accepted;
    // When accepted: the name and count the engine reads back.
    std::string name;
    int32_t count;
};

void PrintTo(const HostileHeader& c, std::ostream* os) {
    *os << c.label;
}

class HostileHeaderTest : public ::testing::TestWithParam<HostileHeader> {
  protected:
    void SetUp() override {
        // Two levels below the temporary folder, so that a name climbing
        // out of the chosen folder would still land where the test looks.
        ASSERT_TRUE(fs::create_directories(in));
        ASSERT_TRUE(fs::create_directories(out));
        content = randomBytes(3 * kChunk, 77);
        for (int k = 1; k <= 3; ++k)
            writeFile(in + "/p_" + std::to_string(k) + ".div",
                      content.substr((k - 1) * kChunk, kChunk));
        writeFile(in + "/p.hed", GetParam().bytes);
    }

    // Every entry under the temporary folder, by relative path: a file's
    // bytes, or "<folder>".
    std::map<std::string, Bytes> tree() const {
        std::map<std::string, Bytes> entries;
        for (const auto& e : fs::recursive_directory_iterator(top.path())) {
            const std::string rel = fs::relative(e.path(), top.path()).string();
            entries[rel] = e.is_directory() ? Bytes("<folder>") : readFile(e.path().string());
        }
        return entries;
    }

    TempDir top;
    const std::string in = top.file("a/b/in");
    const std::string out = top.file("a/b/out");
    Bytes content;
};

TEST_P(HostileHeaderTest, WritesOnlyWhatThePersonChose) {
    const HostileHeader& c = GetParam();
    const std::map<std::string, Bytes> before = tree();
    FileGlue glu;
    GlueRecorder rec(glu);
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(in);
    glu.setChunkPrefix("p");
    const bool analysed = glu.analyze();

    if (!c.accepted) {
        EXPECT_TRUE(FailedWithCode(analysed, glu, 11));
        EXPECT_EQ(glu.BigFileName(), "");
        EXPECT_EQ(glu.NumOfChunks(), 0);
        glu.setBigFileName("chosen.bin");
        glu.setBigFilePath(out);
        EXPECT_TRUE(FailedWithCode(glu.checkExistence(), glu, 10));
        EXPECT_TRUE(FailedWithCode(glu.glueFile(), glu, 10));
        EXPECT_TRUE(tree() == before) << "a refused header led to a write";
        return;
    }

    ASSERT_TRUE(Succeeded(analysed, glu));
    EXPECT_EQ(glu.BigFileName(), c.name);
    EXPECT_EQ(glu.NumOfChunks(), c.count);
    EXPECT_EQ(glu.BigFileSize(), int64_t{c.count} * kChunk);

    // The person chooses the output; the stored name plays no part in it.
    glu.setBigFileName("chosen.bin");
    glu.setBigFilePath(out);
    if (c.count == 3) {
        EXPECT_TRUE(Succeeded(glu.checkExistence(), glu));
        EXPECT_TRUE(Succeeded(glu.glueFile(), glu));
    } else {
        // A count beyond the chunks there are: the check stops at the first
        // missing one, and a run anyway fails there having copied the rest.
        EXPECT_TRUE(FailedWithCode(glu.checkExistence(), glu, 12));
        EXPECT_EQ(glu.CurrentChunk(), 4);
        EXPECT_TRUE(FailedWithSystemError(glu.glueFile(), glu, ENOENT));
        EXPECT_EQ(glu.NumOfOps(), c.count);
        EXPECT_EQ(glu.CurrentChunk(), 4);
        EXPECT_EQ(countOf(rec.events, "onComplete"), 0);
    }

    std::map<std::string, Bytes> expected = before;
    if (c.count == 3) expected["a/b/out/chosen.bin"] = content;
    EXPECT_TRUE(tree() == expected) << "something besides the chosen output was written";
}

INSTANTIATE_TEST_SUITE_P(
    Records, HostileHeaderTest,
    ::testing::Values(
        HostileHeader{"maxNameLengthShortFile",
                      Bytes("\xFF\xFF"
                            "abc",
                            5),
                      false, "", 0},
        HostileHeader{"maxNameLengthAlone", Bytes("\xFF\xFF", 2), false, "", 0},
        HostileHeader{"maxNameLengthComplete", headerBytes(Bytes(65535, 'n'), kChunk, kChunk, 3),
                      true, Bytes(65535, 'n'), 3},
        HostileHeader{"negativeSizes", headerBytes("a", -kChunk, -kChunk, 3), false, "", 0},
        HostileHeader{"negativeCount", headerBytes("a", kChunk, kChunk, -3), false, "", 0},
        HostileHeader{"zeroSizes", headerBytes("a", 0, 0, 3), false, "", 0},
        HostileHeader{"zeroEverything", headerBytes("a", 0, 0, 0), false, "", 0},
        HostileHeader{"lowestIntegers", headerBytes("a", INT32_MIN, INT32_MIN, INT32_MIN), false,
                      "", 0},
        HostileHeader{"int32MaxCount", headerBytes("big.bin", kChunk, kChunk, INT32_MAX), true,
                      "big.bin", INT32_MAX},
        HostileHeader{"parentFolders", headerBytes("../../escape.bin", kChunk, kChunk, 3), true,
                      "../../escape.bin", 3},
        HostileHeader{"subFolders", headerBytes("sub/dir/name.bin", kChunk, kChunk, 3), true,
                      "sub/dir/name.bin", 3},
        HostileHeader{"controlCharacters",
                      headerBytes("ev\x01il\x1b[31m\tname\n.bin", kChunk, kChunk, 3), true,
                      "ev\x01il\x1b[31m\tname\n.bin", 3},
        HostileHeader{"markup", headerBytes("<b>bold</b><img src=x>&amp;.bin", kChunk, kChunk, 3),
                      true, "<b>bold</b><img src=x>&amp;.bin", 3}),
    [](const ::testing::TestParamInfo<HostileHeader>& info) {
        return std::string(info.param.label);
    });

}  // namespace
}  // namespace morvane_test
