// FileDivider's division run: the block pattern, the notifications, the
// files it writes, and its refusals.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "engine/division_header.h"
#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "engine/output_names.h"
#include "faulty_file_layer.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::FileDivider;
constexpr int64_t MiB = 1048576;

class DivisionRunTest : public ::testing::Test {
  protected:
    // Writes `size` random bytes as the source "big.bin" and analyses it.
    void setUpSource(FileDivider& div, std::size_t size, const std::string& prefix = "p") {
        source = randomBytes(size, size * 7 + 1);
        writeFile(src.file("big.bin"), source);
        prepareDivider(div, src.path(), "big.bin", out.path(), prefix);
    }
    std::string chunk(const std::string& prefix, int k) const {
        return out.file(prefix + "_" + std::to_string(k) + ".div");
    }
    Bytes slice(int64_t offset, int64_t len) const {
        return source.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(len));
    }

    TempDir src;
    TempDir out;
    Bytes source;
};

// 25 MiB in chunks of 12 MiB: chunks of 12, 12 and 1 MiB, copied in blocks
// of 10, 2, 10, 2 and 1 MiB.
TEST_F(DivisionRunTest, TwentyFiveMebibytesInTwelveMebibyteChunks) {
    auto layer = std::make_shared<FaultyFileLayer>();
    FileDivider div(layer);
    setUpSource(div, 25 * MiB);
    div.setAvgChunkSize(12 * MiB);
    DividerRecorder rec(div);
    layer->reset();

    ASSERT_TRUE(Succeeded(div.divideFile(), div));

    EXPECT_EQ(layer->readSizes(src.file("big.bin")),
              (std::vector<std::size_t>{10 * MiB, 2 * MiB, 10 * MiB, 2 * MiB, 1 * MiB}));
    EXPECT_EQ(div.NumOfChunks(), 3);
    EXPECT_EQ(div.LastChunkSize(), 1 * MiB);
    EXPECT_EQ(div.NumOfOps(), 5);

    ASSERT_EQ(rec.events.size(), 8u) << describe(rec.events);
    EXPECT_EQ(rec.events[0].name, "onGenHeader");
    const std::pair<int32_t, int64_t> expected[] = {{1, 1}, {1, 2}, {2, 3}, {2, 4}, {3, 5}};
    for (int i = 0; i < 5; ++i) {
        const Event& e = rec.events[1 + i];
        EXPECT_EQ(e.name, "onNewDivision");
        EXPECT_EQ(e.chunk, expected[i].first) << "block " << i + 1;
        EXPECT_EQ(e.op, expected[i].second) << "block " << i + 1;
        EXPECT_EQ(e.numOfOps, 5) << "NumOfOps is set before the first block";
    }
    EXPECT_EQ(rec.events[6].name, "onClearErr");
    EXPECT_EQ(rec.events[7].name, "onComplete");
    EXPECT_EQ(div.ErrorDescription(), "No Error");
    EXPECT_EQ(div.CurrentChunk(), 3);
    EXPECT_EQ(div.CurrentOp(), 5);

    EXPECT_EQ(readFile(out.file("p.hed")), headerBytes("big.bin", 12 * MiB, 1 * MiB, 3));
    EXPECT_EQ(readFile(chunk("p", 1)), slice(0, 12 * MiB));
    EXPECT_EQ(readFile(chunk("p", 2)), slice(12 * MiB, 12 * MiB));
    EXPECT_EQ(readFile(chunk("p", 3)), slice(24 * MiB, 1 * MiB));
    EXPECT_EQ(out.entries(),
              (std::vector<std::string>{"p.hed", "p.sha256", "p_1.div", "p_2.div", "p_3.div"}));
    EXPECT_EQ(readFile(src.file("big.bin")), source) << "the large file must stay unchanged";
}

// The header of the worked example: data.bin, 1 MiB chunks, last 512 KiB, 3 chunks.
TEST_F(DivisionRunTest, WritesTheWorkedExampleHeaderByteForByte) {
    source = randomBytes(2621440, 5);
    writeFile(src.file("data.bin"), source);
    FileDivider div;
    prepareDivider(div, src.path(), "data.bin", out.path(), "data");
    div.setAvgChunkSize(1048576);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    const unsigned char expected[22] = {0x08, 0x00, 0x64, 0x61, 0x74, 0x61, 0x2E, 0x62,
                                        0x69, 0x6E, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00,
                                        0x08, 0x00, 0x03, 0x00, 0x00, 0x00};
    EXPECT_EQ(readFile(out.file("data.hed")),
              Bytes(reinterpret_cast<const char*>(expected), sizeof expected));
    EXPECT_EQ(fileSize(out.file("data_3.div")), 524288);
}

TEST_F(DivisionRunTest, OneChunkPlanCopiesTheWholeFile) {
    FileDivider div;
    setUpSource(div, 2 * 10485760 + 3);
    DividerRecorder rec(div);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(div.NumOfOps(), 3);
    EXPECT_EQ(countOf(rec.events, "onNewDivision"), 3);
    EXPECT_EQ(readFile(chunk("p", 1)), source);
    EXPECT_EQ(out.entries(), (std::vector<std::string>{"p.hed", "p.sha256", "p_1.div"}));
    EXPECT_EQ(readFile(out.file("p.hed")),
              headerBytes("big.bin", 2 * 10485760 + 3, 2 * 10485760 + 3, 1));
}

TEST_F(DivisionRunTest, EvenDivisionMakesAFullLastChunkAndNoEmptyFile) {
    FileDivider div;
    setUpSource(div, 1000);
    div.setAvgChunkSize(250);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(div.LastChunkSize(), 250);
    EXPECT_EQ(out.entries(), (std::vector<std::string>{"p.hed", "p.sha256", "p_1.div", "p_2.div",
                                                       "p_3.div", "p_4.div"}));
    for (int k = 1; k <= 4; ++k) EXPECT_EQ(readFile(chunk("p", k)), slice((k - 1) * 250, 250));
}

TEST_F(DivisionRunTest, ExactMultipleOfTheBlockSizeIsCopiedInFullBlocks) {
    auto layer = std::make_shared<FaultyFileLayer>();
    FileDivider div(layer);
    setUpSource(div, 2 * 10485760 + 5);
    div.setAvgChunkSize(2 * 10485760);
    layer->reset();
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(layer->readSizes(src.file("big.bin")),
              (std::vector<std::size_t>{10485760, 10485760, 5}));
    EXPECT_EQ(div.NumOfOps(), 3);
}

TEST_F(DivisionRunTest, OneByteChunksTakeOneBlockEach) {
    FileDivider div;
    DividerRecorder rec(div);
    setUpSource(div, 12);
    div.setAvgChunkSize(1);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(div.NumOfChunks(), 12);
    EXPECT_EQ(div.NumOfOps(), 12);
    EXPECT_EQ(countOf(rec.events, "onNewDivision"), 12);
    // No leading zeros: p_10.div, never p_010.div.
    EXPECT_TRUE(fileExists(chunk("p", 10)));
    EXPECT_TRUE(fileExists(chunk("p", 12)));
    EXPECT_FALSE(fileExists(out.file("p_010.div")));
    EXPECT_FALSE(fileExists(out.file("p_0.div")));
    EXPECT_FALSE(fileExists(chunk("p", 13)));
    for (int k = 1; k <= 12; ++k) EXPECT_EQ(readFile(chunk("p", k)), slice(k - 1, 1));
}

TEST_F(DivisionRunTest, PrefixWithDotsIsUsedAsItIs) {
    FileDivider div;
    setUpSource(div, 30, "a.b");
    div.setAvgChunkSize(20);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(out.entries(),
              (std::vector<std::string>{"a.b.hed", "a.b.sha256", "a.b_1.div", "a.b_2.div"}));
}

TEST_F(DivisionRunTest, HeaderStoresTheNameBytesAndIs14PlusNBytes) {
    const std::string name = "caf\xC3\xA9 \xE2\x82\xAC.bin";  // "café €.bin"
    source = randomBytes(10, 9);
    writeFile(src.file(name), source);
    FileDivider div;
    prepareDivider(div, src.path(), name, out.path(), "h");
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    const Bytes header = readFile(out.file("h.hed"));
    EXPECT_EQ(header.size(), 14 + name.size());
    EXPECT_EQ(header, headerBytes(name, 10, 10, 1));
}

// Linux names are bytes: one that is not UTF-8 is stored as it is.
TEST_F(DivisionRunTest, NameThatIsNotUtf8IsStoredAsItsOwnBytes) {
    const std::string name = "caf\xE9.bin";
    source = randomBytes(10, 10);
    writeFile(src.file(name), source);
    FileDivider div;
    prepareDivider(div, src.path(), name, out.path(), "h");
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(readFile(out.file("h.hed")), headerBytes(name, 10, 10, 1));

    // Read back, it is taken for a Windows-1252 name.
    morvane::FileGlue glu;
    glu.setHeaderFileName("h.hed");
    glu.setHeaderFilePath(out.path());
    glu.setChunkPrefix("h");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(glu.BigFileName(), "caf\xC3\xA9.bin");
}

// The run copies what the analysis measured, not what the file has grown to.
TEST_F(DivisionRunTest, SourceThatGrewAfterTheAnalysisIsCutAtTheMeasuredSize) {
    FileDivider div;
    setUpSource(div, 100);
    div.setAvgChunkSize(40);
    writeFile(src.file("big.bin"), source + Bytes(50, 'g'));
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(out.entries(),
              (std::vector<std::string>{"p.hed", "p.sha256", "p_1.div", "p_2.div", "p_3.div"}));
    EXPECT_EQ(readFile(chunk("p", 3)), slice(80, 20));
}

TEST_F(DivisionRunTest, EmptyPrefixIsCode3BeforeAnythingIsWritten) {
    source = randomBytes(10, 9);
    writeFile(src.file("big.bin"), source);
    FileDivider div;
    div.setBigFileName("big.bin");
    div.setBigFilePath(src.path());
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    div.setChunkPath(out.path());
    DividerRecorder rec(div);
    EXPECT_TRUE(FailedWithCode(div.divideFile(), div, 3));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
    EXPECT_TRUE(out.entries().empty());
}

TEST_F(DivisionRunTest, NoAnalysisIsCode10BeforeAnythingIsWritten) {
    FileDivider div;
    div.setChunkPrefix("p");
    div.setChunkPath(out.path());
    DividerRecorder rec(div);
    EXPECT_TRUE(FailedWithCode(div.divideFile(), div, 10));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
    EXPECT_TRUE(out.entries().empty());
}

TEST_F(DivisionRunTest, MissingChunkFolderFailsOnTheHeader) {
    FileDivider div;
    setUpSource(div, 100);
    div.setAvgChunkSize(10);
    div.setChunkPath(out.file("not_there"));
    DividerRecorder rec(div);
    EXPECT_TRUE(FailedWithSystemError(div.divideFile(), div, ENOENT));
    EXPECT_EQ(namesOf(rec.events), (std::vector<std::string>{"onGenHeader", "onError"}));
    EXPECT_TRUE(out.entries().empty());
}

TEST_F(DivisionRunTest, HeaderIsOpenedOnlyAfterOnGenHeader) {
    struct Probe : morvane::FileDividerEvents {
        std::string headerPath;
        bool headerExisted = true;
        int newDivisions = 0;
        std::vector<bool> chunkExisted;
        std::string chunkDir;
        FileDivider* div = nullptr;
        void onGenHeader() override { headerExisted = fileExists(headerPath); }
        void onNewDivision() override {
            ++newDivisions;
            // Written under a temporary name until the whole set is done.
            const std::string name = "p_" + std::to_string(div->CurrentChunk()) + ".div";
            bool temporary = false;
            for (const auto& entry : TempDir::entriesOf(chunkDir))
                temporary =
                    temporary || finalPathOf(chunkDir + "/" + entry) == chunkDir + "/" + name;
            chunkExisted.push_back(temporary && !fileExists(chunkDir + "/" + name));
        }
    } probe;
    FileDivider div;
    setUpSource(div, 50);
    div.setAvgChunkSize(20);
    probe.headerPath = out.file("p.hed");
    probe.chunkDir = out.path();
    probe.div = &div;
    div.setObserver(&probe);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_FALSE(probe.headerExisted);
    EXPECT_EQ(probe.chunkExisted, (std::vector<bool>{true, true, true}))
        << "each chunk file is opened before its first block is announced";
}

TEST_F(DivisionRunTest, SecondRunCountsFromOneAgain) {
    FileDivider div;
    setUpSource(div, 40);
    div.setAvgChunkSize(10);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(div.CurrentOp(), 4);
    div.setAvgChunkSize(20);
    EXPECT_EQ(div.NumOfOps(), 4) << "NumOfOps keeps the last run's value until a run starts";
    DividerRecorder rec(div);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    std::vector<int64_t> ops;
    for (const Event& e : rec.events)
        if (e.name == "onNewDivision") ops.push_back(e.op);
    EXPECT_EQ(ops, (std::vector<int64_t>{1, 2}));
    EXPECT_EQ(div.NumOfOps(), 2);
    EXPECT_EQ(readFile(chunk("p", 2)), slice(20, 20));
}

TEST_F(DivisionRunTest, RunWithoutObserverSucceeds) {
    FileDivider div;
    setUpSource(div, 33);
    div.setAvgChunkSize(10);
    div.setObserver(nullptr);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(readFile(chunk("p", 4)), slice(30, 3));
}

// Chunk files are written one at a time: a run of many chunks needs only a
// few descriptors.
TEST_F(DivisionRunTest, ManyChunksFitInAFewDescriptors) {
    FileDivider div;
    setUpSource(div, 150);
    div.setAvgChunkSize(1);
    {
        DescriptorLimit limit(8);
        ASSERT_TRUE(Succeeded(div.divideFile(), div));
    }
    EXPECT_EQ(readFile(chunk("p", 150)), slice(149, 1));
}

// The log of a run, as the file layer sees it: the output folder is opened
// first, the outputs one at a time are closed without waiting for the disk,
// then the file system and the folder are flushed once, before onComplete.
TEST_F(DivisionRunTest, OutputsAreClosedOneByOneThenFlushedTogetherBeforeCompletion) {
    auto layer = std::make_shared<FaultyFileLayer>();
    FileDivider div(layer);
    setUpSource(div, 100);
    div.setAvgChunkSize(30);
    CompletionProbe probe(*layer);
    div.setObserver(&probe);
    layer->reset();
    ASSERT_TRUE(Succeeded(div.divideFile(), div));

    const std::string big = src.file("big.bin");
    std::vector<std::string> written = {out.file("p.hed"), chunk("p", 1), chunk("p", 2),
                                        chunk("p", 3),     chunk("p", 4), out.file("p.sha256")};
    EXPECT_EQ(finalPathsOf(layer->openedForWrite), written)
        << "header first, then the chunks in order, then the checksums";
    int bigOpens = 0;
    std::string openChunk;
    for (const auto& e : layer->log) {
        if (e.op == Op::OpenRead) {
            EXPECT_EQ(e.path, big);
            ++bigOpens;
        }
        if (e.op == Op::OpenWrite) {
            EXPECT_EQ(openChunk, "") << e.path << " opened while " << openChunk << " is open";
            openChunk = e.path;
        }
        if (e.op == Op::Close && e.path != big && e.path != out.folder()) {
            EXPECT_EQ(e.path, openChunk);
            openChunk.clear();
        }
    }
    EXPECT_EQ(bigOpens, 1) << "the large file is opened once per run";
    std::vector<std::string> closedWritten;
    for (const auto& p : layer->closedOk)
        if (p != big && p != out.folder()) closedWritten.push_back(p);
    EXPECT_EQ(finalPathsOf(closedWritten), written);
    EXPECT_EQ(layer->calls(Op::Close), 7);
    EXPECT_EQ(layer->calls(Op::Flush), 0) << "no file waits for the disk on its own";
    // Looking at what the folder holds comes first; then the folder is opened.
    const auto firstOpen = std::find_if(layer->log.begin(), layer->log.end(),
                                        [](const auto& e) { return e.op != Op::ListFolder; });
    ASSERT_NE(firstOpen, layer->log.end());
    EXPECT_EQ(firstOpen->op, Op::OpenFolder);
    EXPECT_EQ(probe.endOfLog(), finalFlushes(out.folder(), out.file("p.hed")));
    std::vector<std::string> renamed;
    for (const auto& e : layer->log)
        if (e.op == Op::Rename) renamed.push_back(e.path);
    EXPECT_EQ(renamed,
              (std::vector<std::string>{chunk("p", 1), chunk("p", 2), chunk("p", 3), chunk("p", 4),
                                        out.file("p.sha256"), out.file("p.hed")}))
        << "the header is put in place last";
}

// Outputs replace what their names name, links included: a link's target
// elsewhere is left alone.
TEST_F(DivisionRunTest, AnOutputNameThatIsALinkIsReplacedNotWrittenThrough) {
    FileDivider div;
    setUpSource(div, 100);
    div.setAvgChunkSize(30);
    TempDir elsewhere;
    writeFile(elsewhere.file("precious"), "keep me");
    ASSERT_EQ(::symlink(elsewhere.file("precious").c_str(), chunk("p", 2).c_str()), 0);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(readFile(elsewhere.file("precious")), "keep me");
    EXPECT_EQ(readFile(chunk("p", 2)), slice(30, 30));
}

// What a killed run left under temporary names is removed by the next run of
// the same names; other programs' files of similar names are never touched.
TEST_F(DivisionRunTest, LeftoversOfAKilledRunGoAndNothingElse) {
    FileDivider div;
    setUpSource(div, 100);
    div.setAvgChunkSize(30);
    const std::vector<std::string> leftovers = {".p_2.div.a1B2c3.morvane-part",
                                                ".p.hed.Zz9Zz9.morvane-part"};
    const std::vector<std::string> others = {"p_1.div.bak",
                                             ".p.hed.swp",
                                             "p_2.div~",
                                             ".q_1.div.a1B2c3.morvane-part",
                                             ".p_2.div.a1B2c.morvane-part",
                                             "p.hed.morvane-part"};
    for (const auto& name : leftovers) writeFile(out.file(name), "unfinished");
    for (const auto& name : others) writeFile(out.file(name), "someone else's");
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    for (const auto& name : leftovers) EXPECT_FALSE(fileExists(out.file(name))) << name;
    for (const auto& name : others) EXPECT_EQ(readFile(out.file(name)), "someone else's") << name;
}

// Cut names are matched whole, non-ASCII ones included; a file another run
// holds (locked), a link and a folder are left alone.
TEST_F(DivisionRunTest, LeftoversOfCutNamesGoButNothingHeldLinkedOrAFolder) {
    FileDivider div;
    std::string prefix;
    for (int i = 0; i < 120; ++i) prefix += "\xC3\xA9";  // 240 bytes of "é"
    setUpSource(div, 100, prefix);
    div.setAvgChunkSize(60);
    const std::string tail = ".a1B2c3.morvane-part";
    const std::string ours = "." + morvane::cutName(prefix + "_1.div", 234) + tail;
    const std::string held =
        "." + morvane::cutName(prefix + "x_1.div", 234) + ".HeLd00.morvane-part";
    writeFile(out.file(ours), "unfinished");
    writeFile(out.file(held), "another run's");
    const int fd = ::open(out.file(held).c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);
    ASSERT_EQ(::symlink(out.file(held).c_str(), out.file(".p_1.div" + tail).c_str()), 0);
    ASSERT_EQ(::mkdir(out.file(".p_2.div" + tail).c_str(), 0755), 0);
    prepareDivider(div, src.path(), "big.bin", out.path(), "p");
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    div.setChunkPrefix(prefix);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    ::close(fd);
    EXPECT_FALSE(fileExists(out.file(ours)));
    EXPECT_EQ(readFile(out.file(held)), "another run's");
    EXPECT_EQ(readFile(out.file(".p_1.div" + tail)), "another run's") << "the link stays";
    EXPECT_TRUE(std::filesystem::is_directory(out.file(".p_2.div" + tail)));
}

// A folder in the way of a final name is refused, not moved; a name longer
// than the folder takes (a recovery volume's) is refused before writing.
TEST_F(DivisionRunTest, FinalNamesAreCheckedBeforeWriting) {
    FileDivider div;
    setUpSource(div, 100, std::string(248, 'x'));
    div.setAvgChunkSize(60);
    writeFile(out.file(std::string(248, 'x') + ".hed"), "older header");
    div.setRecoveryChunks(1);
    EXPECT_TRUE(FailedWithSystemError(div.divideFile(), div, ENAMETOOLONG));
    EXPECT_EQ(out.entries().size(), 1u);
    ASSERT_EQ(::mkdir(out.file("p.hed").c_str(), 0755), 0);
    div.setChunkPrefix("p");
    div.setRecoveryChunks(0);
    EXPECT_TRUE(FailedWithSystemError(div.divideFile(), div, EISDIR));
    EXPECT_EQ(out.entries().size(), 2u);
}

// The longest name the file system takes still gets a temporary name
// within the limit, and the run completes.
TEST_F(DivisionRunTest, LongestPrefixStillFitsItsTemporaryNames) {
    FileDivider div;
    const std::string prefix(255 - 7, 'x');  // "<prefix>.sha256" is 255 bytes
    setUpSource(div, 100, prefix);
    div.setAvgChunkSize(60);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(readFile(chunk(prefix, 1)), slice(0, 60));
    EXPECT_EQ(out.entries().size(), 4u) << "header, two chunks, checksum file; no leftover";
}

// A folder that plainly lacks the room is refused before anything is written.
TEST_F(DivisionRunTest, TooLittleFreeSpaceIsRefusedBeforeWriting) {
    struct SmallDisk : FaultyFileLayer {
        morvane::Status freeSpace(morvane::File&, int64_t* out) override {
            *out = 99;
            return morvane::Status::OK();
        }
    };
    auto layer = std::make_shared<SmallDisk>();
    FileDivider div(layer);
    setUpSource(div, 100);
    div.setAvgChunkSize(30);
    DividerRecorder rec(div);
    EXPECT_TRUE(FailedWithSystemError(div.divideFile(), div, ENOSPC));
    EXPECT_EQ(layer->calls(Op::OpenWrite), 0);
    EXPECT_EQ(namesOf(rec.events), (std::vector<std::string>{"onGenHeader", "onError"}));
    EXPECT_TRUE(out.entries().empty());
}

// Where copies share extents, chunks need no room of their own: only what is
// really written counts.
TEST_F(DivisionRunTest, SharedExtentsNeedNoRoomForTheChunks) {
    struct SmallDisk : FaultyFileLayer {
        morvane::Status freeSpace(morvane::File&, int64_t* out) override {
            *out = 1000;
            return morvane::Status::OK();
        }
    };
    auto layer = std::make_shared<SmallDisk>();
    layer->setCopyMode(FaultyFileLayer::CopyMode::Shared);
    FileDivider div(layer);
    setUpSource(div, 3 * 4096 + 100);
    div.setAvgChunkSize(4096);
    EXPECT_TRUE(Succeeded(div.divideFile(), div));
}

// A long run flushes the file system in the background as it goes; a
// failure there fails the run at its end, although the last flush succeeds.
TEST_F(DivisionRunTest, FailedBackgroundFlushFailsTheRun) {
    auto layer = std::make_shared<FaultyFileLayer>();
    FileDivider div(layer);
    setUpSource(div, 70 * MiB);
    div.setAvgChunkSize(30 * MiB);
    DividerRecorder rec(div);
    layer->reset();
    layer->failAt(Op::FlushFileSystem, 1, EIO);
    EXPECT_TRUE(FailedWithSystemError(div.divideFile(), div, EIO, std::strerror(EIO)));
    EXPECT_EQ(layer->calls(Op::FlushFileSystem), 2) << "one in the background, one at the end";
    EXPECT_EQ(countOf(rec.events, "onComplete"), 0);
    EXPECT_EQ(div.CurrentChunk(), 3);
}

// Without read permission on the folder it cannot be flushed: every file is
// then flushed before its close, as the run goes.
TEST_F(DivisionRunTest, UnreadableFolderFlushesEveryFileBeforeItsClose) {
    auto layer = std::make_shared<FaultyFileLayer>();
    FileDivider div(layer);
    setUpSource(div, 100);
    div.setAvgChunkSize(30);
    layer->reset();
    layer->failAt(Op::OpenFolder, 1, EACCES);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    std::string flushed;
    for (const auto& e : layer->log) {
        if (e.op == Op::Flush) flushed = e.path;
        if (e.op == Op::Close && e.path != src.file("big.bin")) {
            EXPECT_EQ(flushed, e.path);
        }
    }
    EXPECT_EQ(layer->calls(Op::Flush), 6);
    // The entries go to storage through one of the files: chunks, then header.
    EXPECT_EQ(layer->calls(Op::FlushFileSystem), 2);
}

}  // namespace
// Where flushing the file system reaches no file (FUSE), every output is
// flushed on its own before any takes its name; a failed flush fails the run
// and leaves the folder as it was.
TEST_F(DivisionRunTest, FileByFileSystemFlushesEveryOutputBeforeTheRenames) {
    auto layer = std::make_shared<FaultyFileLayer>();
    layer->setFlushesFileByFile(true);
    FileDivider div(layer);
    setUpSource(div, 100);
    div.setAvgChunkSize(30);
    div.setRecoveryChunks(1);
    layer->reset();
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    std::set<std::string> flushed, renamed;
    for (const auto& e : layer->log) {
        if (e.op == Op::Flush && renamed.empty()) flushed.insert(finalPathsOf({e.path})[0]);
        if (e.op == Op::Rename) renamed.insert(e.path);
    }
    EXPECT_EQ(flushed, renamed);
    EXPECT_EQ(renamed.size(), 8u) << "header, 4 chunks, checksums, 2 recovery files";
    const std::vector<std::string> before = out.entries();
    const int flushes = layer->calls(Op::Flush);
    layer->reset();
    layer->failAt(Op::Flush, flushes, EIO);
    EXPECT_TRUE(FailedWithSystemError(div.divideFile(), div, EIO, std::strerror(EIO)));
    EXPECT_EQ(out.entries(), before);
}

}  // namespace morvane_test
