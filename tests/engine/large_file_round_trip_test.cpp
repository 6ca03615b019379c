// A real division and glue of a file larger than 2 GiB. The source is
// sparse, but the chunks and the glued file are written in full: about
// 4.3 GB of writes, so the test checks the free space first.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <vector>

#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "engine/recovery/md5_lanes.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::FileDivider;
using morvane::FileGlue;

constexpr int64_t kSize = 2147483648LL + 3 * 1048576 + 7;
constexpr uint64_t kNeeded = 5ULL * 1024 * 1024 * 1024;

uint64_t freeBytes(const std::string& dir) {
    struct statvfs st;
    if (::statvfs(dir.c_str(), &st) != 0) return 0;
    return static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
}

// The first folder with room for the test: $MORVANE_LARGE_TMP, the working
// folder (the build tree under CTest), /var/tmp, /tmp.
std::string roomyFolder() {
    std::vector<std::string> candidates;
    if (const char* env = std::getenv("MORVANE_LARGE_TMP")) candidates.push_back(env);
    candidates.push_back(std::filesystem::current_path().string());
    candidates.push_back("/var/tmp");
    candidates.push_back("/tmp");
    for (const auto& c : candidates)
        if (freeBytes(c) >= kNeeded) return c;
    return "";
}

void writeAt(int fd, int64_t offset, const Bytes& bytes) {
    ASSERT_EQ(::pwrite(fd, bytes.data(), bytes.size(), offset), static_cast<ssize_t>(bytes.size()))
        << std::strerror(errno);
}

// Compares two files in 8 MiB pieces; reports the first differing offset.
::testing::AssertionResult SameContent(const std::string& a, const std::string& b) {
    int fa = ::open(a.c_str(), O_RDONLY), fb = ::open(b.c_str(), O_RDONLY);
    if (fa < 0 || fb < 0) {
        if (fa >= 0) ::close(fa);
        if (fb >= 0) ::close(fb);
        return ::testing::AssertionFailure() << "cannot open " << a << " or " << b;
    }
    std::vector<char> ba(8 << 20), bb(8 << 20);
    int64_t offset = 0;
    ::testing::AssertionResult result = ::testing::AssertionSuccess();
    for (;;) {
        ssize_t na = ::read(fa, ba.data(), ba.size());
        ssize_t nb = ::read(fb, bb.data(), bb.size());
        if (na != nb) {
            result = ::testing::AssertionFailure() << "lengths differ near offset " << offset;
            break;
        }
        if (na <= 0) break;
        if (std::memcmp(ba.data(), bb.data(), static_cast<std::size_t>(na)) != 0) {
            for (ssize_t i = 0; i < na; ++i)
                if (ba[i] != bb[i]) {
                    result = ::testing::AssertionFailure() << "first difference at " << offset + i;
                    break;
                }
            break;
        }
        offset += na;
    }
    ::close(fa);
    ::close(fb);
    return result;
}

TEST(LargeFileRoundTripTest, MoreThanTwoGiBDividesAndGluesBack) {
    const std::string base = roomyFolder();
    if (base.empty())
        GTEST_SKIP() << "needs about 5 GiB of free disk space (working folder, /var/tmp or /tmp; "
                        "or set MORVANE_LARGE_TMP); not enough free space here";
    TempDir dir(base);
    const std::string src = dir.file("huge.bin");
    makeSparseFile(src, kSize);
    {
        int fd = ::open(src.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0);
        // Data around the start, the chunk boundary, 2 GiB and the end.
        writeAt(fd, 0, randomBytes(4096, 1));
        writeAt(fd, 1999999000, randomBytes(2000, 2));
        writeAt(fd, 2147483648LL - 3000, randomBytes(6000, 3));
        writeAt(fd, kSize - 100, randomBytes(100, 4));
        ::close(fd);
    }
    ASSERT_EQ(::mkdir(dir.file("chunks").c_str(), 0755), 0);

    FileDivider div;
    DividerRecorder drec(div);
    prepareDivider(div, dir.path(), "huge.bin", dir.file("chunks"), "huge");
    EXPECT_EQ(div.BigFileSize(), kSize);
    ASSERT_EQ(div.AvgChunkSize(), 2000000000);
    ASSERT_EQ(div.NumOfChunks(), 2);
    const int32_t last = static_cast<int32_t>(kSize - 2000000000);
    ASSERT_EQ(div.LastChunkSize(), last);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    const int64_t ops = blocksOf(2000000000) + blocksOf(last);
    EXPECT_EQ(div.NumOfOps(), ops);
    EXPECT_EQ(countOf(drec.events, "onNewDivision"), ops);
    EXPECT_EQ(fileSize(dir.file("chunks/huge_1.div")), 2000000000);
    EXPECT_EQ(fileSize(dir.file("chunks/huge_2.div")), last);
    EXPECT_EQ(readFile(dir.file("chunks/huge.hed")), headerBytes("huge.bin", 2000000000, last, 2));

    FileGlue glu;
    GlueRecorder grec(glu);
    glu.setHeaderFileName("huge.hed");
    glu.setHeaderFilePath(dir.file("chunks"));
    glu.setChunkPrefix("huge");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(glu.BigFileSize(), kSize);
    glu.setBigFileName("restored.bin");
    glu.setBigFilePath(dir.path());
    ASSERT_TRUE(Succeeded(glu.checkExistence(), glu));
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(glu.NumOfOps(), ops);
    EXPECT_EQ(countOf(grec.events, "onNewDivision"), ops);
    EXPECT_EQ(fileSize(dir.file("restored.bin")), kSize);
    EXPECT_TRUE(SameContent(src, dir.file("restored.bin")));
}

// Streams of random lengths up to 1 GiB through the lane MD5 at once, fed
// in pieces of a repeated pattern, against OpenSSL's digest of the same.
TEST(LargeFileRoundTripTest, LaneMd5MatchesOpensslUpToOneGiB) {
    const Bytes pattern = randomBytes(1 << 20, 21);
    std::mt19937_64 random(22);
    std::vector<std::size_t> left{std::size_t{1} << 30};
    for (int i = 0; i < 3; ++i) left.push_back(random() % (std::size_t{1} << 30));
    std::vector<morvane::Md5Lane> lanes(left.size());
    std::vector<morvane::Md5Stream> reference(left.size());
    std::vector<std::size_t> lengths = left;
    for (std::size_t round = 0;; ++round) {
        std::vector<morvane::Md5Lane*> ptrs;
        std::vector<const char*> data;
        std::vector<std::size_t> sizes;
        for (std::size_t i = 0; i < left.size(); ++i) {
            const std::size_t at = (round * 7919 + i * 131) % 4096;
            const std::size_t n = std::min(left[i], pattern.size() - at);
            ptrs.push_back(&lanes[i]);
            data.push_back(pattern.data() + at);
            sizes.push_back(n);
            reference[i].update(data.back(), n);
            left[i] -= n;
        }
        morvane::Md5Lane::updateMany(ptrs.data(), data.data(), sizes.data(), ptrs.size());
        if (*std::max_element(left.begin(), left.end()) == 0) break;
    }
    for (std::size_t i = 0; i < lanes.size(); ++i) {
        morvane::Md5Digest theirs{};
        ASSERT_TRUE(reference[i].finish(&theirs));
        EXPECT_EQ(lanes[i].finish(), theirs) << lengths[i] << " bytes";
    }
}

}  // namespace
}  // namespace morvane_test
