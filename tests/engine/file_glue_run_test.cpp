// FileGlue's glue run: the block pattern, the notifications, the output, and its refusals.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

#include "engine/file_glue.h"
#include "faulty_file_layer.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::FileGlue;
constexpr std::size_t B = 10485760;

class GlueRunTest : public ::testing::Test {
  protected:
    // Writes a header and chunk files of the given lengths (which may differ
    // from what the header states) with random content; returns the chunks.
    std::vector<Bytes> lay(const std::string& prefix, int32_t avg, int32_t last, int32_t num,
                           const std::vector<std::size_t>& actualLengths) {
        writeFile(dir.file(prefix + ".hed"), headerBytes("big.bin", avg, last, num));
        std::vector<Bytes> chunks;
        for (std::size_t i = 0; i < actualLengths.size(); ++i) {
            chunks.push_back(randomBytes(actualLengths[i], 1000 + i));
            writeFile(dir.file(prefix + "_" + std::to_string(i + 1) + ".div"), chunks.back());
        }
        return chunks;
    }
    // The bytes the header states: avg bytes of each chunk, last bytes of the last.
    static Bytes stated(const std::vector<Bytes>& chunks, int32_t avg, int32_t last) {
        Bytes all;
        for (std::size_t i = 0; i < chunks.size(); ++i)
            all += chunks[i].substr(0, i + 1 == chunks.size() ? last : avg);
        return all;
    }
    void analyse(FileGlue& glu, const std::string& prefix) {
        glu.setHeaderFileName(prefix + ".hed");
        glu.setHeaderFilePath(dir.path());
        glu.setChunkPrefix(prefix);
        ASSERT_TRUE(Succeeded(glu.analyze(), glu));
        glu.setBigFileName("out.bin");
        glu.setBigFilePath(outDir.path());
    }
    std::string output() const { return outDir.file("out.bin"); }

    TempDir dir;
    TempDir outDir;
};

// 87,000,000 bytes in chunks of 25,000,000 with a last one of 12,000,000.
// Chunks 2 and 4 hold more bytes than stated; only the stated bytes are glued.
TEST_F(GlueRunTest, WorkedExampleOfFourChunks) {
    auto chunks =
        lay("p", 25000000, 12000000, 4, {25000000, 25000000 + 4096, 25000000, 12000000 + 777});
    auto layer = std::make_shared<FaultyFileLayer>();
    FileGlue glu(layer);
    analyse(glu, "p");
    ASSERT_TRUE(Succeeded(glu.checkExistence(), glu));
    GlueRecorder rec(glu);
    layer->reset();

    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));

    EXPECT_EQ(glu.NumOfOps(), 11);
    const std::vector<std::pair<int32_t, int64_t>> expected = {
        {1, 1}, {1, 2}, {1, 3}, {2, 4}, {2, 5}, {2, 6}, {3, 7}, {3, 8}, {3, 9}, {4, 10}, {4, 11}};
    ASSERT_EQ(rec.events.size(), 13u) << describe(rec.events);
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(rec.events[i].name, "onNewDivision") << i;
        EXPECT_EQ(rec.events[i].chunk, expected[i].first) << "notification " << i + 1;
        EXPECT_EQ(rec.events[i].op, expected[i].second) << "notification " << i + 1;
        EXPECT_EQ(rec.events[i].numOfOps, 11);
    }
    EXPECT_EQ(rec.events[11].name, "onClearErr");
    EXPECT_EQ(rec.events[12].name, "onComplete");
    EXPECT_EQ(glu.ErrorDescription(), "No Error");
    EXPECT_EQ(glu.CurrentChunk(), 4);
    EXPECT_EQ(glu.CurrentOp(), 11);

    EXPECT_EQ(layer->copySizes,
              piecesOf({B, B, 4028480, B, B, 4028480, B, B, 4028480, B, 1514240}));
    const Bytes out = readFile(output());
    EXPECT_EQ(out.size(), 87000000u);
    EXPECT_TRUE(out == stated(chunks, 25000000, 12000000)) << "output differs from the chunks";
}

TEST_F(GlueRunTest, OneChunkGluesItsStatedBytes) {
    auto chunks = lay("p", 5000, 3000, 1, {3500});
    FileGlue glu;
    analyse(glu, "p");
    GlueRecorder rec(glu);
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(glu.NumOfOps(), 1);
    EXPECT_EQ(readFile(output()), chunks[0].substr(0, 3000));
    EXPECT_EQ(namesOf(rec.events),
              (std::vector<std::string>{"onNewDivision", "onClearErr", "onComplete"}));
}

TEST_F(GlueRunTest, ExactMultipleOfTheBlockSizeIsCopiedInFullBlocks) {
    auto chunks = lay("p", 2 * B, 1, 2, {2 * B, 1});
    auto layer = std::make_shared<FaultyFileLayer>();
    FileGlue glu(layer);
    analyse(glu, "p");
    layer->reset();
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(layer->copySizes, piecesOf({B, B, 1}));
    EXPECT_EQ(glu.NumOfOps(), 3);
    EXPECT_TRUE(readFile(output()) == chunks[0] + chunks[1]);
}

TEST_F(GlueRunTest, SmallChunksTakeOneBlockEach) {
    auto chunks = lay("p", 7, 2, 5, {7, 7, 7, 7, 2});
    FileGlue glu;
    analyse(glu, "p");
    GlueRecorder rec(glu);
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(glu.NumOfOps(), 5);
    EXPECT_EQ(countOf(rec.events, "onNewDivision"), 5);
    EXPECT_EQ(readFile(output()), stated(chunks, 7, 2));
}

TEST_F(GlueRunTest, EachChunkIsOpenedBeforeItsFirstBlockIsAnnounced) {
    lay("p", 7, 2, 3, {7, 7, 2});
    auto layer = std::make_shared<FaultyFileLayer>();
    FileGlue glu(layer);
    analyse(glu, "p");
    struct Probe : morvane::FileGlueEvents {
        FaultyFileLayer* layer;
        std::vector<int> opensSeen;
        void onNewDivision() override { opensSeen.push_back(layer->calls(Op::OpenRead)); }
    } probe;
    probe.layer = layer.get();
    glu.setObserver(&probe);
    layer->reset();
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(probe.opensSeen, (std::vector<int>{1, 2, 3}));
}

// Chunk files are read one at a time: a run of many chunks needs only a few descriptors.
TEST_F(GlueRunTest, ManyChunksFitInAFewDescriptors) {
    std::vector<std::size_t> lengths(150, 1);
    auto chunks = lay("p", 1, 1, 150, lengths);
    FileGlue glu;
    analyse(glu, "p");
    {
        DescriptorLimit limit(8);
        ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    }
    EXPECT_EQ(readFile(output()), stated(chunks, 1, 1));
}

TEST_F(GlueRunTest, FreshEngineIsCode10AndTouchesNoFile) {
    FileGlue glu;
    glu.setBigFileName("out.bin");
    glu.setBigFilePath(outDir.path());
    glu.setChunkPrefix("p");
    GlueRecorder rec(glu);
    EXPECT_TRUE(FailedWithCode(glu.glueFile(), glu, 10));
    EXPECT_EQ(namesOf(rec.events), std::vector<std::string>{"onError"});
    EXPECT_TRUE(outDir.entries().empty());
}

TEST_F(GlueRunTest, NoPrefixIsCode3AndTouchesNoFile) {
    lay("p", 7, 2, 2, {7, 2});
    FileGlue glu;
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(dir.path());
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setBigFileName("out.bin");
    glu.setBigFilePath(outDir.path());
    EXPECT_TRUE(FailedWithCode(glu.glueFile(), glu, 3));
    EXPECT_TRUE(outDir.entries().empty());
    EXPECT_EQ(glu.NumOfOps(), 0);
}

TEST_F(GlueRunTest, ChunkDeletedAfterTheCheckFailsAtThatChunk) {
    auto chunks = lay("p", 100, 100, 5, {100, 100, 100, 100, 100});
    FileGlue glu;
    analyse(glu, "p");
    ASSERT_TRUE(Succeeded(glu.checkExistence(), glu));
    ASSERT_EQ(::unlink(dir.file("p_3.div").c_str()), 0);
    GlueRecorder rec(glu);
    EXPECT_TRUE(FailedWithSystemError(glu.glueFile(), glu, ENOENT));
    EXPECT_EQ(glu.CurrentChunk(), 3);
    EXPECT_EQ(glu.CurrentOp(), 2);
    EXPECT_EQ(countOf(rec.events, "onComplete"), 0);
    EXPECT_EQ(rec.events.back().name, "onError");
    EXPECT_TRUE(outDir.entries().empty()) << "nothing of the run stays";
}

TEST_F(GlueRunTest, MissingOutputFolderIsASystemError) {
    lay("p", 7, 2, 2, {7, 2});
    FileGlue glu;
    analyse(glu, "p");
    glu.setBigFilePath(outDir.file("nope"));
    GlueRecorder rec(glu);
    EXPECT_TRUE(FailedWithSystemError(glu.glueFile(), glu, ENOENT));
    EXPECT_EQ(countOf(rec.events, "onNewDivision"), 0);
}

TEST_F(GlueRunTest, SecondRunRewritesTheOutputFromItsFirstByte) {
    auto chunks = lay("p", 50, 20, 3, {50, 50, 20});
    FileGlue glu;
    analyse(glu, "p");
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    GlueRecorder rec(glu);
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(rec.events.front().op, 1) << "a new run counts from 1";
    EXPECT_EQ(readFile(output()), stated(chunks, 50, 20));
    // The run changes none of the header information or the names.
    EXPECT_EQ(glu.BigFileName(), "out.bin");
    EXPECT_EQ(glu.AvgChunkSize(), 50);
    EXPECT_EQ(glu.LastChunkSize(), 20);
    EXPECT_EQ(glu.NumOfChunks(), 3);
    EXPECT_EQ(glu.BigFileSize(), 120);
    EXPECT_EQ(glu.ChunkPrefix(), "p");
    EXPECT_EQ(glu.HeaderFileName(), "p.hed");
}

TEST_F(GlueRunTest, GlueRunDoesNotNeedTheCheck) {
    auto chunks = lay("p", 50, 20, 2, {50, 20});
    FileGlue glu;
    analyse(glu, "p");
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(readFile(output()), chunks[0] + chunks[1]);
}

// A device that cannot be synced (fdatasync gives EINVAL) still counts as flushed.
TEST_F(GlueRunTest, OutputToDevNullSucceeds) {
    lay("p", 50, 20, 2, {50, 20});
    FileGlue glu;
    analyse(glu, "p");
    glu.setBigFileName("null");
    glu.setBigFilePath("/dev");
    EXPECT_TRUE(Succeeded(glu.glueFile(), glu));
}

// A block device cannot be renamed over: the glue writes it in place, as a
// disk image is restored onto a stick, and flushes the device itself.
TEST_F(GlueRunTest, BlockDeviceIsWrittenInPlaceAndFlushed) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root for a loop device";
    auto chunks = lay("p", 4096, 4096, 3, {4096, 4096, 4096});
    TempDir disk;
    writeFile(disk.file("stick.img"), Bytes(1 << 20, '\0'));
    const std::string attached = runCommand("losetup -f --show " + disk.file("stick.img"));
    if (attached.compare(0, 7, "exit 0:") != 0) GTEST_SKIP() << "no loop device: " << attached;
    const std::string device = attached.substr(7, attached.find('\n') - 7);
    auto layer = std::make_shared<FaultyFileLayer>();
    FileGlue glu(layer);
    analyse(glu, "p");
    glu.setBigFileName(device.substr(5));
    glu.setBigFilePath("/dev");
    layer->reset();
    EXPECT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(layer->calls(Op::Flush), 1) << "the device is flushed, not only its folder";
    EXPECT_EQ(layer->calls(Op::Rename), 0);
    runCommand("losetup -d " + device);
    EXPECT_TRUE(readFile(disk.file("stick.img")).substr(0, 3 * 4096) == stated(chunks, 4096, 4096));
}

// The output is closed without waiting for the disk; its file system and
// folder are flushed once, before onComplete.
TEST_F(GlueRunTest, EveryFileIsClosedThenTheOutputFlushedBeforeCompletion) {
    lay("p", 50, 20, 3, {50, 50, 20});
    auto layer = std::make_shared<FaultyFileLayer>();
    FileGlue glu(layer);
    analyse(glu, "p");
    CompletionProbe probe(*layer);
    glu.setObserver(&probe);
    layer->reset();
    const int before = openDescriptorCount();
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_EQ(openDescriptorCount(), before);
    EXPECT_EQ(finalPathsOf(layer->openedForWrite), std::vector<std::string>{output()});
    EXPECT_EQ(layer->calls(Op::OpenRead), 3) << "each chunk is opened once";
    EXPECT_EQ(layer->calls(Op::Close), 4);
    int openChunks = 0;
    for (const auto& e : layer->log) {
        if (e.op == Op::OpenRead) {
            ++openChunks;
            EXPECT_EQ(openChunks, 1) << "only one chunk file is open at a time";
        }
        if (e.op == Op::Close && finalPathOf(e.path) != output()) --openChunks;
    }
    EXPECT_EQ(finalPathOf(layer->closedOk.back()), output());
    const std::vector<LoggedOp> end = {{Op::FlushFileSystem, outDir.folder()},
                                       {Op::Rename, output()},
                                       {Op::FlushFolder, outDir.folder()}};
    EXPECT_EQ(probe.endOfLog(), end);
}

// A glue over an existing file keeps its permission bits.
TEST_F(GlueRunTest, ReplacedFileKeepsItsMode) {
    const auto chunks = lay("p", 10, 10, 2, {10, 10});
    writeFile(dir.file("out.bin"), "older");
    ASSERT_EQ(::chmod(dir.file("out.bin").c_str(), 0600), 0);
    FileGlue glu;
    analyse(glu, "p");
    glu.setBigFileName("out.bin");
    glu.setBigFilePath(dir.path());
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    struct stat info;
    ASSERT_EQ(::stat(dir.file("out.bin").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

}  // namespace
}  // namespace morvane_test
