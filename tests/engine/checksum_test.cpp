// The checksum file: what a division writes (checked with sha256sum), and a
// glue's verification of damaged chunks and of bad or huge checksum files.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <functional>
#include <thread>

#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::FileDivider;
using morvane::FileGlue;

// 3,000 bytes in three chunks of 1,000, divided by the engine.
class ChecksumTest : public ::testing::Test {
  protected:
    void SetUp() override {
        source = randomBytes(3000, 77);
        writeFile(src.file("big.bin"), source);
    }
    void divide(const std::string& prefix = "p", const std::string& name = "big.bin") {
        if (name != "big.bin") writeFile(src.file(name), source);
        FileDivider div;
        prepareDivider(div, src.path(), name, dir.path(), prefix);
        div.setAvgChunkSize(1000);
        ASSERT_TRUE(Succeeded(div.divideFile(), div));
    }
    bool analyze(const std::string& prefix = "p") {
        glu.setHeaderFileName(prefix + ".hed");
        glu.setHeaderFilePath(dir.path());
        glu.setChunkPrefix(prefix);
        return glu.analyze();
    }
    bool glue(const std::string& name = "big.bin") {
        glu.setBigFileName(name);
        glu.setBigFilePath(out.path());
        return glu.glueFile();
    }
    std::string chunk(int k) const { return dir.file("p_" + std::to_string(k) + ".div"); }

    TempDir src, dir, out;
    Bytes source;
    FileGlue glu;
};

TEST_F(ChecksumTest, DivisionWritesWhatSha256sumWritesAndOverwritesAnOldFile) {
    writeFile(dir.file("p.sha256"), Bytes(5000, 'x'));
    divide();
    const std::string expected =
        runCommand("cd " + dir.path() + " && sha256sum p_1.div p_2.div p_3.div") +
        runCommand("cd " + src.path() + " && sha256sum big.bin").substr(7);
    EXPECT_EQ("exit 0:" + readFile(dir.file("p.sha256")), expected);
}

// sha256sum escapes a backslash, line feed and carriage return; both it and
// the glue read the escaped lines back.
TEST_F(ChecksumTest, EscapedNamesRoundTrip) {
    const std::string prefix = "a\\b";
    const std::string name = "x\\y\nz\r.bin";
    divide(prefix, name);
    const Bytes text = readFile(dir.file(prefix + ".sha256"));
    EXPECT_EQ(text.substr(0, 1), "\\");
    EXPECT_NE(text.find("  a\\\\b_3.div\n\\"), std::string::npos) << text;
    EXPECT_NE(text.find("  x\\\\y\\nz\\r.bin\n"), std::string::npos) << text;
    EXPECT_EQ(
        runCommand("cd " + dir.path() + " && sha256sum -c --quiet --ignore-missing 'a\\b.sha256'"),
        "exit 0:");

    ASSERT_TRUE(Succeeded(analyze(prefix), glu));
    EXPECT_EQ(glu.ChecksumFileName(), prefix + ".sha256");
    ASSERT_TRUE(Succeeded(glue(name), glu));
    EXPECT_EQ(readFile(out.file(name)), source);
    EXPECT_EQ(runCommand("cd " + out.path() + " && sha256sum -c --ignore-missing '" +
                         dir.file(prefix + ".sha256") + "'"),
              "exit 0:\\x\\\\y\\nz\\r.bin: OK\n");
}

enum class Outcome { Glued, Damaged, Invalid, WholeDamaged };

struct BadInput {
    const char* label;
    // Changes the divided set in `d` (chunks p_1..p_3 and p.sha256).
    std::function<void(const TempDir& d)> damage;
    Outcome outcome;
    int damagedChunk;  // for Outcome::Damaged
};

void PrintTo(const BadInput& c, std::ostream* os) {
    *os << c.label;
}

std::string at(const TempDir& d, const std::string& name) {
    return d.file(name);
}
Bytes lines(const TempDir& d) {
    return readFile(at(d, "p.sha256"));
}
// The checksum file's line `i` (from 0), with its line feed.
Bytes line(const TempDir& d, int i) {
    const Bytes text = lines(d);
    std::size_t from = 0;
    for (int n = 0; n < i; ++n) from = text.find('\n', from) + 1;
    return text.substr(from, text.find('\n', from) + 1 - from);
}
void replaceLine(const TempDir& d, int i, const Bytes& with) {
    Bytes text = lines(d);
    const Bytes old = line(d, i);
    writeFile(at(d, "p.sha256"), text.replace(text.find(old), old.size(), with));
}

class BadInputTest : public ChecksumTest, public ::testing::WithParamInterface<BadInput> {};

TEST_P(BadInputTest, EndsWithItsOwnErrorAndLosesNothing) {
    const BadInput& c = GetParam();
    divide();
    c.damage(dir);
    std::map<std::string, Bytes> inputs;
    for (const auto& name : dir.entries()) inputs[name] = readFile(dir.file(name));
    GlueRecorder rec(glu);

    if (c.outcome == Outcome::Invalid) {
        EXPECT_TRUE(FailedWithCode(analyze(), glu, 15));
        EXPECT_EQ(glu.NumOfChunks(), 0) << "header information emptied";
        EXPECT_EQ(glu.ChecksumFileName(), "");
        EXPECT_TRUE(FailedWithCode(glue(), glu, 10)) << "no unverified glue after it";
        EXPECT_TRUE(out.entries().empty()) << "nothing written";
    } else {
        ASSERT_TRUE(Succeeded(analyze(), glu));
        EXPECT_EQ(glu.ChecksumFileName(), "p.sha256");
        const bool glued = glue();
        if (c.outcome == Outcome::Glued) {
            EXPECT_TRUE(Succeeded(glued, glu));
            EXPECT_TRUE(readFile(out.file("big.bin")) == source);
        } else if (c.outcome == Outcome::WholeDamaged) {
            EXPECT_TRUE(FailedWithCode(glued, glu, 15));
            EXPECT_TRUE(out.entries().empty()) << "nothing of the run stays";
        } else {
            const std::string name = "p_" + std::to_string(c.damagedChunk) + ".div";
            EXPECT_FALSE(glued);
            EXPECT_EQ(glu.ErrorCode(), 14);
            EXPECT_FALSE(glu.IsSysErr());
            EXPECT_EQ(glu.ErrorDescription(), "Chunk File Damaged: " + name);
            EXPECT_EQ(glu.CurrentChunk(), c.damagedChunk);
            EXPECT_EQ(countOf(rec.events, "onComplete"), 0);
            EXPECT_EQ(rec.events.back().name, "onError");
            EXPECT_TRUE(out.entries().empty()) << "nothing of the run stays";
        }
    }
    for (const auto& [name, bytes] : inputs)
        EXPECT_TRUE(readFile(dir.file(name)) == bytes) << name << " changed";
}

void flipByte(const TempDir& d) {
    Bytes b = readFile(at(d, "p_2.div"));
    b[500] = static_cast<char>(b[500] ^ 0x10);
    writeFile(at(d, "p_2.div"), b);
}

const std::string kOtherDigest(64, 'e');

INSTANTIATE_TEST_SUITE_P(
    Checksums, BadInputTest,
    ::testing::Values(
        BadInput{"undamaged", [](const TempDir&) {}, Outcome::Glued, 0},
        BadInput{"oneByteFlipped", flipByte, Outcome::Damaged, 2},
        BadInput{"chunkReplacedBySameLength",
                 [](const TempDir& d) { writeFile(at(d, "p_3.div"), readFile(at(d, "p_1.div"))); },
                 Outcome::Damaged, 3},
        BadInput{"twoChunksSwapped",
                 [](const TempDir& d) {
                     const Bytes one = readFile(at(d, "p_1.div"));
                     writeFile(at(d, "p_1.div"), readFile(at(d, "p_2.div")));
                     writeFile(at(d, "p_2.div"), one);
                 },
                 Outcome::Damaged, 1},
        BadInput{"truncated",
                 [](const TempDir& d) { writeFile(at(d, "p.sha256"), lines(d).substr(0, 150)); },
                 Outcome::Invalid, 0},
        BadInput{"empty", [](const TempDir& d) { writeFile(at(d, "p.sha256"), ""); },
                 Outcome::Invalid, 0},
        BadInput{"binary",
                 [](const TempDir& d) { writeFile(at(d, "p.sha256"), randomBytes(300, 5)); },
                 Outcome::Invalid, 0},
        // Read as sha256sum -c reads them.
        BadInput{"upperCaseDigest",
                 [](const TempDir& d) {
                     Bytes l = line(d, 1);
                     for (std::size_t i = 0; i < 64; ++i)
                         l[i] = static_cast<char>(std::toupper(l[i]));
                     replaceLine(d, 1, l);
                 },
                 Outcome::Glued, 0},
        BadInput{"tagFormat",
                 [](const TempDir& d) {
                     const Bytes l = line(d, 1);
                     replaceLine(d, 1, "SHA256 (p_2.div) = " + l.substr(0, 64) + "\r\n");
                 },
                 Outcome::Glued, 0},
        BadInput{"tagFormatWrongDigest",
                 [](const TempDir& d) {
                     replaceLine(d, 1, "SHA256 (p_2.div) = " + kOtherDigest + "\n");
                 },
                 Outcome::Damaged, 2},
        // The header and the checksum file disagree on the set.
        BadInput{
            "chunkBeyondTheHeadersCount",
            [](const TempDir& d) { replaceLine(d, 3, line(d, 3) + kOtherDigest + "  p_4.div\n"); },
            Outcome::Invalid, 0},
        BadInput{"wholeFileLineWrong",
                 [](const TempDir& d) { replaceLine(d, 3, kOtherDigest + "  big.bin\n"); },
                 Outcome::WholeDamaged, 0},
        BadInput{"shortDigest", [](const TempDir& d) { replaceLine(d, 1, line(d, 1).substr(1)); },
                 Outcome::Invalid, 0},
        BadInput{"chunkTwoLineMissing", [](const TempDir& d) { replaceLine(d, 1, ""); },
                 Outcome::Invalid, 0},
        BadInput{
            "chunkTwoListedTwiceDifferently",
            [](const TempDir& d) { replaceLine(d, 1, line(d, 1) + kOtherDigest + "  p_2.div\n"); },
            Outcome::Invalid, 0},
        // A name whose escaped line feed is followed by a chunk's name is
        // another file's line, not chunk 2's.
        BadInput{"escapedLineFeedBeforeAChunkName",
                 [](const TempDir& d) {
                     writeFile(at(d, "p.sha256"),
                               "\\" + kOtherDigest + "  x\\np_2.div\n" + lines(d));
                 },
                 Outcome::Glued, 0},
        BadInput{"otherFilesBinaryMarkersAndCarriageReturns",
                 [](const TempDir& d) {
                     Bytes text = kOtherDigest + " *movie_1.div\r\n";
                     for (int i = 0; i < 4; ++i) {
                         Bytes l = line(d, i);
                         l[65] = '*';
                         text += l.substr(0, l.size() - 1) + "\r\n";
                     }
                     writeFile(at(d, "p.sha256"), text);
                 },
                 Outcome::Glued, 0},
        BadInput{"blankAndCommentLines",
                 [](const TempDir& d) {
                     writeFile(at(d, "p.sha256"), "# made by hand\n\n" + lines(d) + "\r\n#\n");
                 },
                 Outcome::Glued, 0}),
    [](const ::testing::TestParamInfo<BadInput>& info) { return std::string(info.param.label); });

// Resident memory of this process in bytes.
int64_t residentBytes() {
    std::ifstream statm("/proc/self/statm");
    int64_t size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

// Ten million lines for other files, then the chunks' own: the analysis
// reads them as they come, in bounded memory and time. A FIFO feeds them
// so that no 700 MB file has to be written.
TEST_F(ChecksumTest, TenMillionLinesAreReadInBoundedMemoryAndTime) {
    divide();
    const Bytes own = lines(dir);
    ASSERT_EQ(::unlink(dir.file("p.sha256").c_str()), 0);
    ASSERT_EQ(::mkfifo(dir.file("p.sha256").c_str(), 0600), 0);
    std::signal(SIGPIPE, SIG_IGN);

    Bytes block;
    for (int i = 0; i < 10000; ++i)
        block += kOtherDigest + "  other_" + std::to_string(i) + ".bin\n";
    const int64_t before = residentBytes();
    int64_t peak = before;
    // Opened for reading and writing, the FIFO has a writer before the
    // analysis opens it, so the analysis never reads an early end.
    const int fd = ::open(dir.file("p.sha256").c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    std::atomic<bool> written{false};
    std::thread writer([&] {
        bool ok = true;
        for (int i = 0; ok && i < 1000; ++i) {
            ok = ::write(fd, block.data(), block.size()) == static_cast<ssize_t>(block.size());
            if (i % 50 == 0) peak = std::max(peak, residentBytes());
        }
        if (ok) ok = ::write(fd, own.data(), own.size()) == static_cast<ssize_t>(own.size());
        written = true;
        ::close(fd);
    });
    const auto start = std::chrono::steady_clock::now();
    const bool analysed = analyze();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Should the analysis have stopped reading early, drain what the writer
    // still has to write.
    const int drain = ::open(dir.file("p.sha256").c_str(), O_RDONLY | O_NONBLOCK);
    char piece[1 << 16];
    while (!written)
        if (drain < 0 || ::read(drain, piece, sizeof piece) <= 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    writer.join();
    if (drain >= 0) ::close(drain);

    ASSERT_TRUE(Succeeded(analysed, glu));
    EXPECT_LT(peak - before, 32 << 20) << "memory grew with the lines";
    ASSERT_TRUE(Succeeded(glue(), glu));
    EXPECT_TRUE(readFile(out.file("big.bin")) == source);
    std::printf("10,000,000 lines analysed in %.2f s, resident memory +%lld KiB\n", seconds,
                static_cast<long long>((peak - before) / 1024));
}

}  // namespace
}  // namespace morvane_test
