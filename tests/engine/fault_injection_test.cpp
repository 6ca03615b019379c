// Every file operation of every run, and the block buffers, made to fail one
// at a time: the run reports the system error, closes everything, leaves its
// inputs alone, and leaves its output folder exactly as it was: an older
// output of the same name (kept there on purpose) unchanged, nothing new.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <iostream>
#include <map>
#include <memory>
#include <set>

#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "faulty_file_layer.h"
#include "recovery_support.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::FileDivider;
using morvane::FileGlue;
using CopyMode = FaultyFileLayer::CopyMode;

enum class Run {
    DivideAnalyze,
    Divide,
    GlueAnalyze,
    Glue,
    VerifiedGlueAnalyze,
    VerifiedGlue,
    // With two recovery chunks; a glue that rebuilds the lost p_2.div.
    RecoveryDivide,
    RecoveryGlueAnalyze,
    RecoveryGlue
};

const char* runName(Run r) {
    switch (r) {
        case Run::DivideAnalyze:
            return "DivideAnalyze";
        case Run::Divide:
            return "Divide";
        case Run::GlueAnalyze:
            return "GlueAnalyze";
        case Run::Glue:
            return "Glue";
        case Run::VerifiedGlueAnalyze:
            return "VerifiedGlueAnalyze";
        case Run::VerifiedGlue:
            return "VerifiedGlue";
        case Run::RecoveryDivide:
            return "RecoveryDivide";
        case Run::RecoveryGlueAnalyze:
            return "RecoveryGlueAnalyze";
        case Run::RecoveryGlue:
            return "RecoveryGlue";
    }
    return "?";
}

constexpr int kLast = 0;

struct FaultCase {
    Run run;
    Op op;
    int occurrence;  // from 1; kLast for the last call of the run
    int err;
    CopyMode mode;
    // True for operations a run may do without: the case is skipped when it does not.
    bool optional;
};

std::string caseName(const ::testing::TestParamInfo<FaultCase>& info) {
    const FaultCase& c = info.param;
    std::string occ = c.occurrence == kLast ? "Last" : std::to_string(c.occurrence);
    std::string e = c.err == EIO       ? "EIO"
                    : c.err == ENOSPC  ? "ENOSPC"
                    : c.err == EACCES  ? "EACCES"
                    : c.err == EROFS   ? "EROFS"
                    : c.err == ENOMEM  ? "ENOMEM"
                    : c.err == ENOENT  ? "ENOENT"
                    : c.err == ENOTDIR ? "ENOTDIR"
                                       : std::to_string(c.err);
    return std::string(runName(c.run)) + "_" + opName(c.op) + "_" + occ + "_" + e;
}

// The source: 2,500 bytes in chunks of 1,000 (three chunks, the last of 500).
constexpr std::size_t kSourceSize = 2500;
constexpr int32_t kChunk = 1000;

// One run set up in its own folders, with the fault layer under its engine.
class Scenario {
  public:
    Scenario(Run run, CopyMode mode) : m_run(run), layer(std::make_shared<FaultyFileLayer>()) {
        layer->setCopyMode(mode);
        source = randomBytes(kSourceSize, 4242);
        switch (run) {
            case Run::DivideAnalyze:
            case Run::Divide:
            case Run::RecoveryDivide:
                writeFile(in.file("big.bin"), source);
                div = std::make_unique<FileDivider>(layer);
                divRec = std::make_unique<DividerRecorder>(*div);
                prepareDivider(*div, in.path(), "big.bin", out.path(), "p");
                div->setAvgChunkSize(kChunk);
                div->setRecoveryChunks(run == Run::RecoveryDivide ? 2 : 0);
                break;
            case Run::RecoveryGlueAnalyze:
            case Run::RecoveryGlue: {
                TempDir work;
                divideInto(work.path(), in.path(), "p", source, kChunk, 2);
                EXPECT_EQ(::unlink(in.file("p_2.div").c_str()), 0);
                glu = std::make_unique<FileGlue>(layer);
                gluRec = std::make_unique<GlueRecorder>(*glu);
                glu->setHeaderFilePath(in.path());
                glu->setChunkPrefix("p");
                glu->setHeaderFileName("p.hed");
                EXPECT_TRUE(Succeeded(glu->analyze(), *glu));
                glu->setBigFileName("restored.bin");
                glu->setBigFilePath(out.path());
                break;
            }
            case Run::GlueAnalyze:
            case Run::Glue:
                writeDivision(in.path(), "p", "big.bin", source, kChunk);
                // Another header first, so that an unchanged header information shows.
                writeFile(in.file("q.hed"), headerBytes("other.iso", 77, 7, 9));
                glu = std::make_unique<FileGlue>(layer);
                gluRec = std::make_unique<GlueRecorder>(*glu);
                glu->setHeaderFilePath(in.path());
                glu->setChunkPrefix("p");
                glu->setHeaderFileName(run == Run::Glue ? "p.hed" : "q.hed");
                EXPECT_TRUE(Succeeded(glu->analyze(), *glu));
                glu->setHeaderFileName("p.hed");
                if (run == Run::Glue) {
                    glu->setBigFileName("restored.bin");
                    glu->setBigFilePath(out.path());
                }
                break;
            case Run::VerifiedGlueAnalyze:
            case Run::VerifiedGlue:
                writeDivision(in.path(), "p", "big.bin", source, kChunk);
                EXPECT_EQ(runCommand("cd " + in.path() +
                                     " && sha256sum p_1.div p_2.div p_3.div > p.sha256"),
                          "exit 0:");
                glu = std::make_unique<FileGlue>(layer);
                gluRec = std::make_unique<GlueRecorder>(*glu);
                glu->setHeaderFilePath(in.path());
                glu->setChunkPrefix("p");
                glu->setHeaderFileName("p.hed");
                EXPECT_TRUE(Succeeded(glu->analyze(), *glu));
                EXPECT_EQ(glu->ChecksumFileName(), "p.sha256");
                glu->setBigFileName("restored.bin");
                glu->setBigFilePath(out.path());
                break;
        }
        // An earlier run's outputs, which a failed run must not touch: for a
        // division, a whole older set of the same names.
        for (const char* name : {"p.hed", "p_1.div", "p_2.div", "p_3.div", "p.sha256"}) {
            if (div) writeFile(out.file(name), std::string("older ") + name);
        }
        if (!div) writeFile(out.file("restored.bin"), "older output");
        inputs = snapshot(in);
        outputs = snapshot(out);
        layer->reset();
        if (divRec) divRec->clear();
        if (gluRec) gluRec->clear();
    }

    bool act() {
        switch (m_run) {
            case Run::DivideAnalyze:
                return div->analyze();
            case Run::Divide:
            case Run::RecoveryDivide:
                return div->divideFile();
            case Run::GlueAnalyze:
            case Run::VerifiedGlueAnalyze:
            case Run::RecoveryGlueAnalyze:
                return glu->analyze();
            case Run::Glue:
            case Run::VerifiedGlue:
            case Run::RecoveryGlue:
                return glu->glueFile();
        }
        return false;
    }

    std::map<std::string, Bytes> snapshot(const TempDir& d) const {
        std::map<std::string, Bytes> files;
        for (const auto& name : d.entries()) files[name] = readFile(d.file(name));
        return files;
    }

    const std::vector<Event>& events() const { return divRec ? divRec->events : gluRec->events; }

    // What a completely written output file holds.
    Bytes expectedContent(const std::string& path) const {
        if (path == out.file("p.hed")) return headerBytes("big.bin", kChunk, 500, 3);
        if (path == out.file("restored.bin")) return source;
        if (path == out.file("p.sha256")) {
            return runCommand("cd " + out.path() + " && sha256sum p_1.div p_2.div p_3.div")
                       .substr(7) +
                   runCommand("cd " + in.path() + " && sha256sum big.bin").substr(7);
        }
        for (int k = 1; k <= 3; ++k)
            if (path == out.file("p_" + std::to_string(k) + ".div"))
                return source.substr((k - 1) * kChunk, kChunk);
        ADD_FAILURE() << "unexpected output " << path;
        return Bytes();
    }

    Run m_run;
    TempDir in, out;
    Bytes source;
    std::shared_ptr<FaultyFileLayer> layer;
    std::unique_ptr<FileDivider> div;
    std::unique_ptr<FileGlue> glu;
    std::unique_ptr<DividerRecorder> divRec;
    std::unique_ptr<GlueRecorder> gluRec;
    std::map<std::string, Bytes> inputs;
    std::map<std::string, Bytes> outputs;
};

// The chunk number in a path (or "from -> to" text) naming a chunk file; 0 when none.
int chunkNumberIn(const std::string& text) {
    std::size_t at = text.rfind("/p_");
    if (at == std::string::npos) return 0;
    return std::atoi(text.c_str() + at + 3);
}

void PrintTo(const FaultCase& c, std::ostream* os) {
    *os << runName(c.run) << " " << opName(c.op) << " #"
        << (c.occurrence == kLast ? std::string("last") : std::to_string(c.occurrence)) << " errno "
        << c.err;
}

class FaultInjectionTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultInjectionTest, RunFailsCleanly) {
    const FaultCase& c = GetParam();

    // A clean run first, to learn how many calls of the operation it makes.
    int calls = 0;
    {
        Scenario dry(c.run, c.mode);
        ASSERT_TRUE(dry.act()) << "the run fails even without a fault";
        calls = dry.layer->calls(c.op);
    }
    if (calls == 0 && c.optional) GTEST_SKIP() << "this run makes no " << opName(c.op) << " call";
    const int occurrence = c.occurrence == kLast ? calls : c.occurrence;
    ASSERT_GE(calls, occurrence) << "the run makes only " << calls << " " << opName(c.op)
                                 << " calls";

    Scenario s(c.run, c.mode);
    const int fdsBefore = openDescriptorCount();
    s.layer->failAt(c.op, occurrence, c.err);
    const bool result = s.act();
    ASSERT_TRUE(s.layer->faultHit()) << "the fault was never reached";
    SCOPED_TRACE("failed operation on " + s.layer->faultPath());

    // The error state: the injected errno and its text, as a system error.
    if (s.div)
        EXPECT_TRUE(FailedWithSystemError(result, *s.div, c.err, std::strerror(c.err)));
    else
        EXPECT_TRUE(FailedWithSystemError(result, *s.glu, c.err, std::strerror(c.err)));

    // One onError, last; no onComplete.
    const auto& ev = s.events();
    EXPECT_EQ(countOf(ev, "onError"), 1) << describe(ev);
    EXPECT_EQ(countOf(ev, "onComplete"), 0) << describe(ev);
    ASSERT_FALSE(ev.empty());
    EXPECT_EQ(ev.back().name, "onError");

    // Every descriptor released.
    EXPECT_EQ(openDescriptorCount(), fdsBefore);

    // Inputs untouched; a chunk rebuilt before the failure may be back in place.
    std::map<std::string, Bytes> inputsNow = s.snapshot(s.in);
    if (inputsNow.count("p_2.div") && !s.inputs.count("p_2.div") &&
        inputsNow["p_2.div"] == s.source.substr(kChunk, kChunk)) {
        inputsNow.erase("p_2.div");
    }
    EXPECT_TRUE(inputsNow == s.inputs) << "an input file changed";

    // Progress counters keep where the failure left them.
    const int blocks = countOf(ev, "onNewDivision");
    const int64_t currentOp = s.div ? s.div->CurrentOp() : s.glu->CurrentOp();
    const int32_t currentChunk = s.div ? s.div->CurrentChunk() : s.glu->CurrentChunk();
    EXPECT_EQ(currentOp, blocks);
    if (const int k = chunkNumberIn(s.layer->faultPath());
        k > 0 && c.op != Op::Rename && c.run != Run::RecoveryGlue) {
        EXPECT_EQ(currentChunk, k);
    }

    // The output folder holds what it held before, and nothing else, a
    // failure in the commit included.
    EXPECT_TRUE(s.snapshot(s.out) == s.outputs) << "the output folder changed";

    if (c.op == Op::Allocate) {
        // The buffers are had before the run opens any file it copies between.
        EXPECT_EQ(blocks, 0);
        EXPECT_EQ(s.layer->calls(Op::OpenRead), 0);
        EXPECT_LE(s.layer->openedForWrite.size(), c.run == Run::Divide ? 1u : 0u);
    }

    switch (c.run) {
        case Run::DivideAnalyze:
            EXPECT_EQ(s.div->AvgChunkSize(), kChunk) << "the old plan stays";
            EXPECT_EQ(s.div->NumOfChunks(), 3);
            EXPECT_EQ(s.div->LastChunkSize(), 500);
            EXPECT_EQ(s.div->BigFileSize(), 0);
            break;
        case Run::Divide:
            if (s.layer->faultPath().find("p.hed.") != std::string::npos &&
                s.layer->faultPath().find("commit") == std::string::npos && c.op != Op::Rename &&
                c.op != Op::FlushFolder) {
                EXPECT_EQ(blocks, 0);
            }
            break;
        case Run::GlueAnalyze:
            EXPECT_EQ(s.glu->BigFileName(), "other.iso") << "header information unchanged";
            EXPECT_EQ(s.glu->AvgChunkSize(), 77);
            EXPECT_EQ(s.glu->LastChunkSize(), 7);
            EXPECT_EQ(s.glu->NumOfChunks(), 9);
            EXPECT_EQ(s.glu->BigFileSize(), 8 * 77 + 7);
            break;
        case Run::VerifiedGlueAnalyze:
            EXPECT_EQ(s.glu->BigFileName(), "") << "header information emptied";
            EXPECT_EQ(s.glu->NumOfChunks(), 0);
            EXPECT_EQ(s.glu->ChecksumFileName(), "");
            break;
        case Run::Glue:
        case Run::VerifiedGlue:
        case Run::RecoveryDivide:
        case Run::RecoveryGlueAnalyze:
        case Run::RecoveryGlue:
            break;
    }
}

const CopyMode RW = CopyMode::ReadWrite;
const CopyMode NAT = CopyMode::Native;

INSTANTIATE_TEST_SUITE_P(
    DividerAnalysis, FaultInjectionTest,
    ::testing::Values(FaultCase{Run::DivideAnalyze, Op::OpenRead, 1, EACCES, RW, false},
                      FaultCase{Run::DivideAnalyze, Op::Size, 1, EIO, RW, false},
                      FaultCase{Run::DivideAnalyze, Op::Close, 1, EIO, RW, false}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Division, FaultInjectionTest,
    ::testing::Values(FaultCase{Run::Divide, Op::OpenRead, 1, EACCES, RW, false},
                      FaultCase{Run::Divide, Op::OpenWrite, 1, EROFS, RW, false},
                      FaultCase{Run::Divide, Op::OpenWrite, 2, ENOSPC, RW, false},
                      FaultCase{Run::Divide, Op::OpenWrite, kLast, EACCES, RW, false},
                      FaultCase{Run::Divide, Op::Read, 1, EIO, RW, false},
                      FaultCase{Run::Divide, Op::Read, 2, EIO, RW, false},
                      FaultCase{Run::Divide, Op::Read, kLast, EIO, RW, false},
                      FaultCase{Run::Divide, Op::Write, 1, ENOSPC, RW, false},
                      FaultCase{Run::Divide, Op::Write, 2, ENOSPC, RW, false},
                      FaultCase{Run::Divide, Op::Write, kLast, EIO, RW, false},
                      FaultCase{Run::Divide, Op::OpenFolder, 1, ENOENT, RW, false},
                      FaultCase{Run::Divide, Op::FlushFileSystem, 1, EIO, RW, false},
                      FaultCase{Run::Divide, Op::FlushFileSystem, 1, ENOSPC, RW, false},
                      FaultCase{Run::Divide, Op::FlushFolder, 1, EIO, RW, false},
                      FaultCase{Run::Divide, Op::Close, 1, EIO, RW, false},
                      FaultCase{Run::Divide, Op::Close, 2, EIO, RW, false},
                      FaultCase{Run::Divide, Op::Close, kLast, EIO, RW, false},
                      // The last chunk's, just before the checksum file's (the last ones).
                      FaultCase{Run::Divide, Op::OpenWrite, 4, EIO, RW, false},
                      FaultCase{Run::Divide, Op::Write, 4, ENOSPC, RW, false},
                      FaultCase{Run::Divide, Op::Close, 4, EIO, RW, false},
                      FaultCase{Run::Divide, Op::Read, 3, EIO, NAT, false},
                      FaultCase{Run::Divide, Op::Allocate, 1, ENOMEM, RW, false},
                      FaultCase{Run::Divide, Op::Allocate, kLast, ENOMEM, RW, false},
                      FaultCase{Run::Divide, Op::Rename, kLast, ENOSPC, RW, false}),
    caseName);

// Every step of a commit over an older set: setting each older file aside
// (the header's first), putting each new one in place (the header's last),
// and the folder flushes between.
std::vector<FaultCase> commitSteps(Run run, int renames, int flushes) {
    std::vector<FaultCase> steps;
    for (int k = 1; k <= renames; ++k) steps.push_back({run, Op::Rename, k, EIO, RW, false});
    for (int k = 1; k <= flushes; ++k) steps.push_back({run, Op::FlushFolder, k, EIO, RW, false});
    return steps;
}

INSTANTIATE_TEST_SUITE_P(DivisionCommit, FaultInjectionTest,
                         ::testing::ValuesIn(commitSteps(Run::Divide, 10, 4)), caseName);
INSTANTIATE_TEST_SUITE_P(GlueCommit, FaultInjectionTest,
                         ::testing::ValuesIn(commitSteps(Run::Glue, 2, 3)), caseName);

INSTANTIATE_TEST_SUITE_P(
    Recovery, FaultInjectionTest,
    ::testing::Values(FaultCase{Run::RecoveryDivide, Op::ReadAt, 1, EIO, RW, false},
                      FaultCase{Run::RecoveryDivide, Op::ReadAt, kLast, EIO, RW, false},
                      FaultCase{Run::RecoveryDivide, Op::WriteAt, 1, ENOSPC, RW, false},
                      FaultCase{Run::RecoveryDivide, Op::WriteAt, kLast, EIO, RW, false},
                      FaultCase{Run::RecoveryDivide, Op::OpenWrite, kLast, EIO, RW, false},
                      FaultCase{Run::RecoveryDivide, Op::Close, kLast, EIO, RW, false},
                      FaultCase{Run::RecoveryGlueAnalyze, Op::ListFolder, kLast, EIO, RW, false},
                      FaultCase{Run::RecoveryGlueAnalyze, Op::ReadAt, 1, EIO, RW, false},
                      FaultCase{Run::RecoveryGlue, Op::ReadAt, 1, EIO, RW, false},
                      FaultCase{Run::RecoveryGlue, Op::ReadAt, 4, EIO, RW, false},
                      FaultCase{Run::RecoveryGlue, Op::WriteAt, 1, EIO, RW, false},
                      FaultCase{Run::RecoveryGlue, Op::WriteAt, kLast, EIO, RW, false},
                      FaultCase{Run::RecoveryGlue, Op::OpenRead, 1, EIO, RW, false},
                      FaultCase{Run::RecoveryGlue, Op::Close, 1, EIO, RW, false},
                      FaultCase{Run::RecoveryGlue, Op::Rename, 1, EIO, RW, false},
                      FaultCase{Run::RecoveryGlue, Op::Allocate, 1, ENOMEM, RW, false}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    GlueAnalysis, FaultInjectionTest,
    ::testing::Values(FaultCase{Run::GlueAnalyze, Op::OpenRead, 1, EACCES, RW, false},
                      FaultCase{Run::GlueAnalyze, Op::Read, 1, EIO, RW, false},
                      FaultCase{Run::GlueAnalyze, Op::Read, kLast, EIO, RW, false},
                      FaultCase{Run::GlueAnalyze, Op::Close, 1, EIO, RW, false}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    Glue, FaultInjectionTest,
    ::testing::Values(FaultCase{Run::Glue, Op::OpenWrite, 1, EROFS, RW, false},
                      FaultCase{Run::Glue, Op::OpenRead, 1, EACCES, RW, false},
                      FaultCase{Run::Glue, Op::OpenRead, 2, EACCES, RW, false},
                      FaultCase{Run::Glue, Op::OpenRead, kLast, EIO, RW, false},
                      FaultCase{Run::Glue, Op::Read, 1, EIO, RW, false},
                      FaultCase{Run::Glue, Op::Read, 2, EIO, RW, false},
                      FaultCase{Run::Glue, Op::Read, kLast, EIO, RW, false},
                      FaultCase{Run::Glue, Op::Write, 1, ENOSPC, RW, false},
                      FaultCase{Run::Glue, Op::Write, kLast, ENOSPC, RW, false},
                      FaultCase{Run::Glue, Op::OpenFolder, 1, ENOTDIR, RW, false},
                      FaultCase{Run::Glue, Op::FlushFileSystem, 1, EIO, RW, false},
                      FaultCase{Run::Glue, Op::Close, 1, EIO, RW, false},
                      FaultCase{Run::Glue, Op::Close, 2, EIO, RW, false},
                      FaultCase{Run::Glue, Op::Close, kLast, EIO, RW, false},
                      FaultCase{Run::Glue, Op::Copy, 1, EIO, NAT, false},
                      FaultCase{Run::Glue, Op::Copy, kLast, ENOSPC, NAT, false},
                      FaultCase{Run::Glue, Op::Allocate, 1, ENOMEM, RW, false}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    VerifiedGlueAnalysis, FaultInjectionTest,
    ::testing::Values(FaultCase{Run::VerifiedGlueAnalyze, Op::OpenRead, 2, EACCES, RW, false},
                      FaultCase{Run::VerifiedGlueAnalyze, Op::Read, kLast, EIO, RW, false},
                      FaultCase{Run::VerifiedGlueAnalyze, Op::Close, kLast, EIO, RW, false}),
    caseName);

INSTANTIATE_TEST_SUITE_P(
    VerifiedGlue, FaultInjectionTest,
    ::testing::Values(FaultCase{Run::VerifiedGlue, Op::OpenWrite, 1, EROFS, NAT, false},
                      FaultCase{Run::VerifiedGlue, Op::OpenRead, 2, EACCES, NAT, false},
                      FaultCase{Run::VerifiedGlue, Op::Read, 1, EIO, NAT, false},
                      FaultCase{Run::VerifiedGlue, Op::Read, kLast, EIO, NAT, false},
                      FaultCase{Run::VerifiedGlue, Op::Write, 2, ENOSPC, NAT, false},
                      FaultCase{Run::VerifiedGlue, Op::Write, kLast, ENOSPC, NAT, false},
                      FaultCase{Run::VerifiedGlue, Op::FlushFileSystem, 1, EIO, NAT, false},
                      FaultCase{Run::VerifiedGlue, Op::Close, 2, EIO, NAT, false},
                      FaultCase{Run::VerifiedGlue, Op::Close, kLast, EIO, NAT, false},
                      FaultCase{Run::VerifiedGlue, Op::Allocate, 1, ENOMEM, NAT, false},
                      FaultCase{Run::VerifiedGlue, Op::Allocate, kLast, ENOMEM, NAT, false}),
    caseName);

// A stop requested in each phase of a run: the run ends without onError or
// onComplete, reports Stopped, and leaves the output folder as it was; a stop
// that comes as the header takes its name lets the run complete.
struct StopCase {
    Run run;
    Op op;
    int occurrence;  // kLast for the last call of the run
    bool completes;
    // The phase the run says it is in when the stop is asked for.
    morvane::RunPhaseKind phase;
};

void PrintTo(const StopCase& c, std::ostream* os) {
    *os << runName(c.run) << " at " << opName(c.op) << " #" << c.occurrence;
}

class StopTest : public ::testing::TestWithParam<StopCase> {};

using P = morvane::RunPhaseKind;

TEST_P(StopTest, LeavesTheFolderAsItWas) {
    const StopCase& c = GetParam();
    int calls = 0;
    {
        Scenario dry(c.run, CopyMode::ReadWrite);
        ASSERT_TRUE(dry.act());
        calls = dry.layer->calls(c.op);
    }
    Scenario s(c.run, CopyMode::ReadWrite);
    morvane::RunPhaseSnapshot phase;
    std::chrono::steady_clock::time_point asked;
    s.layer->hookAt(c.op, c.occurrence == kLast ? calls : c.occurrence, [&] {
        phase = s.div ? s.div->Phase() : s.glu->Phase();
        asked = std::chrono::steady_clock::now();
        if (s.div) s.div->requestStop();
        if (s.glu) s.glu->requestStop();
    });
    const bool result = s.act();
    const std::chrono::duration<double, std::milli> latency =
        std::chrono::steady_clock::now() - asked;
    EXPECT_EQ(int(phase.kind), int(c.phase)) << morvane::phaseText(phase);
    // A rebuild counts what it has read and written of its total.
    EXPECT_TRUE(phase.kind != P::Rebuilding || (phase.done > 0 && phase.done < phase.total))
        << phase.done << " of " << phase.total;
    RecordProperty("stop_to_end_ms", std::to_string(latency.count()));
    std::cout << "stop in \"" << morvane::phaseText(phase) << "\" ended the run after "
              << latency.count() << " ms\n";
    const bool stopped = s.div ? s.div->Stopped() : s.glu->Stopped();
    EXPECT_EQ(result, c.completes);
    EXPECT_EQ(stopped, !c.completes);
    EXPECT_EQ(countOf(s.events(), "onError"), 0) << describe(s.events());
    EXPECT_EQ(countOf(s.events(), "onComplete"), c.completes ? 1 : 0);
    if (!c.completes) {
        EXPECT_TRUE(s.snapshot(s.out) == s.outputs) << "the output folder changed";
    }
    EXPECT_TRUE(s.snapshot(s.in) == s.inputs) << "an input file changed";
    // The request does not outlive the run.
    EXPECT_TRUE(s.act());
}

INSTANTIATE_TEST_SUITE_P(
    Phases, StopTest,
    ::testing::Values(
        StopCase{Run::Divide, Op::OpenWrite, 1, false, P::WritingChunks},   // the header
        StopCase{Run::Divide, Op::Write, 2, false, P::WritingChunks},       // chunk 1
        StopCase{Run::Divide, Op::OpenWrite, 5, false, P::WritingChunks},   // the checksum file
        StopCase{Run::Divide, Op::FlushFileSystem, 1, false, P::Flushing},  // the final flush
        StopCase{Run::Divide, Op::Rename, 1, false, P::Flushing},           // setting aside
        StopCase{Run::Divide, Op::Rename, 7, false, P::Flushing},           // placing a chunk
        StopCase{Run::Divide, Op::Rename, kLast, true, P::Flushing},        // the header's
        StopCase{Run::Glue, Op::Read, 1, false, P::Gluing},
        StopCase{Run::Glue, Op::Write, 3, false, P::Gluing},
        StopCase{Run::Glue, Op::FlushFileSystem, 1, false, P::Flushing},
        StopCase{Run::VerifiedGlue, Op::Read, 2, false, P::Gluing},
        StopCase{Run::RecoveryDivide, Op::WriteAt, kLast, false, P::WritingRecovery},  // its finish
        StopCase{Run::RecoveryGlue, Op::ReadAt, 1, false, P::Checking},                // the survey
        StopCase{Run::RecoveryGlue, Op::WriteAt, 1, false, P::Rebuilding}),  // the rebuild
    [](const ::testing::TestParamInfo<StopCase>& info) {
        return std::string(runName(info.param.run)) + "_" + opName(info.param.op) + "_" +
               (info.param.occurrence == kLast ? std::string("Last")
                                               : std::to_string(info.param.occurrence));
    });

}  // namespace
}  // namespace morvane_test
