// The division header record: its bytes, the validity rule, reading short
// or foreign files, the stored name's encoding, and the file names.

#include "engine/division_header.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::DivisionHeader;

// 08 00 "data.bin" 00 00 10 00 | 00 00 08 00 | 03 00 00 00
const unsigned char kWorkedExample[22] = {0x08, 0x00, 0x64, 0x61, 0x74, 0x61, 0x2E, 0x62,
                                          0x69, 0x6E, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00,
                                          0x08, 0x00, 0x03, 0x00, 0x00, 0x00};

std::vector<char> workedExampleBytes(std::size_t n = sizeof kWorkedExample) {
    return std::vector<char>(kWorkedExample, kWorkedExample + n);
}

DivisionHeader make(const std::string& name, int32_t avg, int32_t last, int32_t num) {
    DivisionHeader h;
    h.BigFileName = name;
    h.AvgChunkSize = avg;
    h.LastChunkSize = last;
    h.NumOfChunks = num;
    return h;
}

TEST(HeaderEncodingTest, WorkedExampleIsTheExact22Bytes) {
    std::vector<char> out;
    ASSERT_TRUE(morvane::encodeHeader(make("data.bin", 1048576, 524288, 3), &out));
    EXPECT_EQ(out, workedExampleBytes());
}

TEST(HeaderEncodingTest, WorkedExampleReadsBack) {
    DivisionHeader h = morvane::decodeHeader(workedExampleBytes());
    EXPECT_EQ(h.BigFileName, "data.bin");
    EXPECT_EQ(h.AvgChunkSize, 1048576);
    EXPECT_EQ(h.LastChunkSize, 524288);
    EXPECT_EQ(h.NumOfChunks, 3);
    EXPECT_TRUE(h.isValid());
    EXPECT_EQ(h.bigFileSize(), 2621440);
}

TEST(HeaderEncodingTest, FieldsAreLittleEndianTwosComplement) {
    std::vector<char> out;
    ASSERT_TRUE(morvane::encodeHeader(make("ab", -1, 0x01020304, INT32_MIN), &out));
    const Bytes expected = headerBytes("ab", -1, 0x01020304, INT32_MIN);
    EXPECT_EQ(std::string(out.begin(), out.end()), expected);
    ASSERT_EQ(out.size(), 16u);
    EXPECT_EQ(static_cast<unsigned char>(out[4]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(out[8]), 0x04);
    EXPECT_EQ(static_cast<unsigned char>(out[11]), 0x01);
    EXPECT_EQ(static_cast<unsigned char>(out[15]), 0x80);

    DivisionHeader back = morvane::decodeHeader(out);
    EXPECT_EQ(back.AvgChunkSize, -1);
    EXPECT_EQ(back.LastChunkSize, 0x01020304);
    EXPECT_EQ(back.NumOfChunks, INT32_MIN);
}

TEST(HeaderEncodingTest, RecordIs14BytesPlusTheNameBytes) {
    for (std::size_t n : {1u, 7u, 255u, 256u, 1000u}) {
        std::vector<char> out;
        ASSERT_TRUE(morvane::encodeHeader(make(std::string(n, 'x'), 5, 5, 1), &out));
        EXPECT_EQ(out.size(), 14 + n);
        EXPECT_EQ(static_cast<unsigned char>(out[0]), n & 0xFF);
        EXPECT_EQ(static_cast<unsigned char>(out[1]), n >> 8);
    }
}

TEST(HeaderEncodingTest, NameOfMaximumLengthFitsOneByteMoreDoesNot) {
    std::vector<char> out;
    ASSERT_TRUE(morvane::encodeHeader(make(std::string(65535, 'n'), 5, 5, 1), &out));
    EXPECT_EQ(out.size(), 14u + 65535u);
    EXPECT_EQ(static_cast<unsigned char>(out[0]), 0xFF);
    EXPECT_EQ(static_cast<unsigned char>(out[1]), 0xFF);
    EXPECT_EQ(morvane::decodeHeader(out).BigFileName.size(), 65535u);

    std::vector<char> tooLong;
    EXPECT_FALSE(morvane::encodeHeader(make(std::string(65536, 'n'), 5, 5, 1), &tooLong));
}

TEST(HeaderEncodingTest, RecordSizeFollowsTheLengthField) {
    const unsigned char eight[2] = {0x08, 0x00};
    const unsigned char max[2] = {0xFF, 0xFF};
    const unsigned char zero[2] = {0x00, 0x00};
    const unsigned char hi[2] = {0x00, 0x01};
    EXPECT_EQ(morvane::headerRecordSize(eight), 22u);
    EXPECT_EQ(morvane::headerRecordSize(max), 65549u);
    EXPECT_EQ(morvane::headerRecordSize(zero), 14u);
    EXPECT_EQ(morvane::headerRecordSize(hi), 270u);
}

TEST(HeaderEncodingTest, BytesAfterTheRecordAreIgnored) {
    std::vector<char> data = workedExampleBytes();
    for (int i = 0; i < 50; ++i) data.push_back(static_cast<char>(0xAB));
    DivisionHeader h = morvane::decodeHeader(data);
    EXPECT_EQ(h.BigFileName, "data.bin");
    EXPECT_EQ(h.AvgChunkSize, 1048576);
    EXPECT_EQ(h.LastChunkSize, 524288);
    EXPECT_EQ(h.NumOfChunks, 3);
}

// Short files: whatever is missing at the end reads as zero.
struct Truncation {
    std::size_t keep;
    int32_t avg;
    int32_t last;
    int32_t num;
    bool nameComplete;
};

void PrintTo(const Truncation& t, std::ostream* os) {
    *os << t.keep << " bytes kept";
}

class HeaderTruncationTest : public ::testing::TestWithParam<Truncation> {};

TEST_P(HeaderTruncationTest, MissingBytesReadAsZero) {
    const Truncation& t = GetParam();
    DivisionHeader h = morvane::decodeHeader(workedExampleBytes(t.keep));
    if (t.nameComplete) {
        EXPECT_EQ(h.BigFileName, "data.bin");
    }
    EXPECT_EQ(h.AvgChunkSize, t.avg);
    EXPECT_EQ(h.LastChunkSize, t.last);
    EXPECT_EQ(h.NumOfChunks, t.num);
    EXPECT_FALSE(h.isValid());
}

INSTANTIATE_TEST_SUITE_P(
    Prefixes, HeaderTruncationTest,
    ::testing::Values(Truncation{0, 0, 0, 0, false}, Truncation{1, 0, 0, 0, false},
                      Truncation{5, 0, 0, 0, false}, Truncation{10, 0, 0, 0, true},
                      Truncation{12, 0, 0, 0, true},  // two of avg's bytes: 00 00 -> 0
                      Truncation{13, 0x100000, 0, 0, true}, Truncation{14, 1048576, 0, 0, true},
                      Truncation{18, 1048576, 524288, 0, true}),
    [](const ::testing::TestParamInfo<Truncation>& info) {
        return "keep" + std::to_string(info.param.keep);
    });

TEST(HeaderTruncationTest, OneMissingHighByteOfTheCountStillReadsThree) {
    DivisionHeader h = morvane::decodeHeader(workedExampleBytes(19));
    EXPECT_EQ(h.NumOfChunks, 3);
    EXPECT_TRUE(h.isValid());
}

TEST(HeaderTruncationTest, EmptyDataIsAnEmptyRecord) {
    DivisionHeader h = morvane::decodeHeader({});
    EXPECT_EQ(h.BigFileName, "");
    EXPECT_EQ(h.AvgChunkSize, 0);
    EXPECT_EQ(h.LastChunkSize, 0);
    EXPECT_EQ(h.NumOfChunks, 0);
    EXPECT_FALSE(h.isValid());
}

struct Validity {
    const char* label;
    const char* name;
    int32_t avg;
    int32_t last;
    int32_t num;
    bool valid;
};

void PrintTo(const Validity& v, std::ostream* os) {
    *os << v.label;
}

class HeaderValidityTest : public ::testing::TestWithParam<Validity> {};

TEST_P(HeaderValidityTest, FollowsTheRule) {
    const Validity& v = GetParam();
    EXPECT_EQ(make(v.name, v.avg, v.last, v.num).isValid(), v.valid);
}

INSTANTIATE_TEST_SUITE_P(
    Records, HeaderValidityTest,
    ::testing::Values(Validity{"workedExample", "data.bin", 1048576, 524288, 3, true},
                      Validity{"lastEqualsAvg", "a", 100, 100, 4, true},
                      Validity{"lastAboveAvg", "a", 100, 101, 4, false},
                      Validity{"singleChunk", "a", 100, 1, 1, true},
                      Validity{"allOnes", "a", 1, 1, 1, true},
                      Validity{"emptyName", "", 100, 50, 2, false},
                      Validity{"zeroAvg", "a", 0, 0, 2, false},
                      Validity{"negativeAvg", "a", -100, -200, 2, false},
                      Validity{"zeroLast", "a", 100, 0, 2, false},
                      Validity{"negativeLast", "a", 100, -1, 2, false},
                      Validity{"zeroChunks", "a", 100, 50, 0, false},
                      Validity{"negativeChunks", "a", 100, 50, -3, false},
                      Validity{"maxValues", "a", INT32_MAX, INT32_MAX, INT32_MAX, true}),
    [](const ::testing::TestParamInfo<Validity>& info) { return std::string(info.param.label); });

TEST(HeaderSizeTest, BigFileSizeIsWorkedOutIn64Bits) {
    EXPECT_EQ(make("a", 100, 1, 1).bigFileSize(), 1);
    EXPECT_EQ(make("a", 25000000, 12000000, 4).bigFileSize(), 87000000);
    EXPECT_EQ(make("a", 2000000000, 147483648, 2).bigFileSize(), 2147483648LL);
    EXPECT_EQ(make("a", INT32_MAX, INT32_MAX, INT32_MAX).bigFileSize(),
              static_cast<int64_t>(INT32_MAX) * INT32_MAX);
}

// The name is stored as its own bytes and read back as UTF-8; a name that
// is not valid UTF-8 comes from a Western Windows system (Windows-1252).
struct NameCase {
    const char* label;
    std::string stored;
    std::string read;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.label;
}

class StoredNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(StoredNameTest, DecodesAsUtf8OrWindows1252) {
    EXPECT_EQ(morvane::decodeStoredName(GetParam().stored), GetParam().read);
}

TEST_P(StoredNameTest, HeaderRecordCarriesTheDecodedName) {
    Bytes raw = headerBytes(GetParam().stored, 10, 5, 2);
    DivisionHeader h = morvane::decodeHeader(std::vector<char>(raw.begin(), raw.end()));
    EXPECT_EQ(h.BigFileName, GetParam().read);
    EXPECT_EQ(h.AvgChunkSize, 10);
    EXPECT_EQ(h.LastChunkSize, 5);
    EXPECT_EQ(h.NumOfChunks, 2);
}

INSTANTIATE_TEST_SUITE_P(
    Names, StoredNameTest,
    ::testing::Values(
        NameCase{"ascii", "movie.avi", "movie.avi"},
        NameCase{"utf8Accent", "caf\xC3\xA9.txt", "caf\xC3\xA9.txt"},
        NameCase{"utf8FourByte", "\xF0\x9F\x8E\xAC.mkv", "\xF0\x9F\x8E\xAC.mkv"},
        NameCase{"cp1252EAcute", "caf\xE9.txt", "caf\xC3\xA9.txt"},
        NameCase{"cp1252Euro", "\x80", "\xE2\x82\xAC"},
        NameCase{"cp1252SmartQuotes", "\x93q\x94", "\xE2\x80\x9Cq\xE2\x80\x9D"},
        NameCase{"cp1252UpperHalf", "\xFF\xC0", "\xC3\xBF\xC3\x80"},
        // One invalid byte makes the whole name Windows-1252, valid-looking pairs included.
        NameCase{"mixedIsDecodedWhole", "\xC3\xA9\xE9", "\xC3\x83\xC2\xA9\xC3\xA9"},
        NameCase{"overlongIsNotUtf8", "\xC0\xAF", "\xC3\x80\xC2\xAF"},
        NameCase{"truncatedSequence", "ab\xC3", "ab\xC3\x83"},
        NameCase{"surrogateIsNotUtf8", "\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"}),
    [](const ::testing::TestParamInfo<NameCase>& info) { return std::string(info.param.label); });

TEST(ChunkNamingTest, NumbersArePlainDecimal) {
    EXPECT_EQ(morvane::chunkFileName("p", 1), "p_1.div");
    EXPECT_EQ(morvane::chunkFileName("p", 9), "p_9.div");
    EXPECT_EQ(morvane::chunkFileName("p", 10), "p_10.div");
    EXPECT_EQ(morvane::chunkFileName("movie", 12), "movie_12.div");
    EXPECT_EQ(morvane::chunkFileName("p", 2147483647), "p_2147483647.div");
    EXPECT_EQ(morvane::chunkFileName("p", 10000000000LL), "p_10000000000.div");
}

TEST(ChunkNamingTest, PrefixIsKeptAsItIsDotsIncluded) {
    EXPECT_EQ(morvane::chunkFileName("a.b", 1), "a.b_1.div");
    EXPECT_EQ(morvane::headerFileName("a.b"), "a.b.hed");
    EXPECT_EQ(morvane::headerFileName("movie"), "movie.hed");
    EXPECT_EQ(morvane::chunkFileName("caf\xC3\xA9 1", 3), "caf\xC3\xA9 1_3.div");
}

}  // namespace
}  // namespace morvane_test
