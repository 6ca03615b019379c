// Recovery data through Debian's par2: what Morvane writes, par2 verifies
// and repairs with.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>

#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "engine/file_layer.h"
#include "recovery_support.h"
#include "test_support.h"

namespace morvane_test {
namespace {

struct Par2RoundTrip {
    const char* label;
    int64_t fileSize;
    int32_t chunkSize;
    int32_t recovery;
    // Files removed (or damaged when the name starts with '~') before the repair.
    std::vector<std::string> lost;
    // The divider writes the recovery data during its run.
    bool byDivider = false;
};

void PrintTo(const Par2RoundTrip& c, std::ostream* os) {
    *os << c.label;
}

class Par2RoundTripTest : public ::testing::TestWithParam<Par2RoundTrip> {};

TEST_P(Par2RoundTripTest, Par2VerifiesAndRepairs) {
    const Par2RoundTrip& c = GetParam();
    TempDir work, set;
    divideInto(work.path(), set.path(), "rt",
               randomBytes(static_cast<std::size_t>(c.fileSize), uint64_t(c.fileSize) * 7 + 1),
               c.chunkSize, c.byDivider ? c.recovery : 0);
    const morvane::Status s =
        c.byDivider
            ? morvane::Status::OK()
            : protectDivision(set.path(), "rt", work.file("original.dat"), c.recovery, 65536);
    ASSERT_TRUE(s.ok()) << s.text();
    const std::string in = "cd " + set.path() + " && ";
    ASSERT_EQ(runCommand(in + "par2 verify -q -q rt.par2"), "exit 0:");

    std::vector<std::pair<std::string, Bytes>> originals;
    for (std::string name : c.lost) {
        const bool damage = name[0] == '~';
        if (damage) name.erase(0, 1);
        originals.emplace_back(name, readFile(set.file(name)));
        if (damage) {
            Bytes bytes = originals.back().second;
            bytes[bytes.size() / 2] ^= 0x5A;
            writeFile(set.file(name), bytes);
        } else {
            ASSERT_EQ(::unlink(set.file(name).c_str()), 0);
        }
    }
    ASSERT_NE(runCommand(in + "par2 verify -q -q rt.par2"), "exit 0:");
    ASSERT_EQ(runCommand(in + "par2 repair -q -q rt.par2"), "exit 0:");
    for (const auto& [name, bytes] : originals) EXPECT_EQ(readFile(set.file(name)), bytes) << name;
}

INSTANTIATE_TEST_SUITE_P(
    Sets, Par2RoundTripTest,
    ::testing::Values(
        Par2RoundTrip{"one chunk, n=1", 1000, 1000, 1, {"rt_1.div"}},
        Par2RoundTrip{"two chunks, n=1, header lost", 200001, 100000, 1, {"rt.hed"}},
        Par2RoundTrip{"two chunks, n=2", 200001, 100001, 2, {"rt_1.div", "~rt_2.div"}},
        Par2RoundTrip{"odd chunk size, n=2", 77777, 12345, 2, {"rt_3.div", "rt.sha256"}},
        Par2RoundTrip{"seven chunks, n=3", 700000, 100003, 3, {"rt_1.div", "rt_4.div", "rt_7.div"}},
        Par2RoundTrip{"1,500 chunks, n=2", 1500 * 3 - 1, 3, 2, {"rt_1.div", "rt_1500.div"}},
        Par2RoundTrip{"slices beyond memory, in their files, n=2",
                      18000000,
                      9000001,
                      2,
                      {"rt_1.div", "~rt_2.div"}},
        Par2RoundTrip{
            "tiny chunks, n=4", 301, 3, 4, {"rt_1.div", "rt_50.div", "rt.hed", "~rt_101.div"}},
        Par2RoundTrip{"checksum file's ID known mid-run, by the divider, n=3",
                      299500,
                      1000,
                      3,
                      {"rt_1.div", "rt_250.div", "~rt_300.div"},
                      true}));

// A division with recovery data, some of its chunks lost or damaged, then
// Morvane's own glue: it rebuilds what the data covers, puts it back and
// glues; with more lost, it refuses before writing anything.
struct GlueRepair {
    const char* label;
    int32_t recovery;
    std::vector<int32_t> missing;
    std::vector<int32_t> damaged;
    // The chunk folder cannot be written: rebuilt chunks are used, not put back.
    bool readOnly;
    // 0: glued; otherwise the code checkExistence or glueFile reports.
    int16_t refusal;
    // Done to the set's folder besides; the chunk folder reports no free space.
    std::function<void(const TempDir&)> harm = [](const TempDir&) {};
    bool noSpace = false;
    bool foreign = false;
    // The file the glue is opened with.
    const char* open = "g.hed";
    // Repaired in place first, then glued with nothing left to rebuild.
    bool repairFirst = false;
    // A set of the same file written by older code, under tests/engine/data, used instead.
    const char* stored = nullptr;
    // Damage then lies this many bytes short of a chunk's end, past its first 16 KiB.
    int32_t chunkSize = 1000;
};

// Damage entries past these are cut to half their length, or made one byte longer.
constexpr int32_t kCut = 100, kLonger = 200;

void removeFile(const TempDir& dir, const std::string& name) {
    ASSERT_EQ(::unlink(dir.file(name).c_str()), 0) << name;
}

// Puts the recovery files of another division of `bytes` bytes with the same names beside `dir`.
void putForeignRecovery(const TempDir& dir, std::size_t bytes) {
    TempDir work, other;
    divideInto(work.path(), other.path(), "g", randomBytes(bytes, 7), 1000, 1);
    runCommand("rm -f " + dir.path() + "/*.par2; cp " + other.path() + "/*.par2 " + dir.path());
}

void PrintTo(const GlueRepair& c, std::ostream* os) {
    *os << c.label;
}

class GlueRepairTest : public ::testing::TestWithParam<GlueRepair> {};

auto none = [](const TempDir&) {};
auto lose = [](const char* name) { return [name](const TempDir& d) { removeFile(d, name); }; };
auto flip = [](const char* name) {
    return [name](const TempDir& d) {
        Bytes bytes = readFile(d.file(name));
        const std::size_t slice = bytes.find("RecvSlic");  // its data, or a digest's first bytes
        bytes[slice == std::string::npos ? 10 : slice + 22] ^= 1;
        writeFile(d.file(name), bytes);
    };
};
// par2 create's files of 100-byte slices, too few to rebuild a chunk; the header lost.
auto smallSlices = [](const TempDir& d) {
    runCommand("cd " + d.path() + " && par2 create -q -q -s100 -c5 g.par2 g_*.div g.hed g.sha256");
    removeFile(d, "g.hed");
};
auto foreign = [](std::size_t bytes) {
    return [bytes](const TempDir& d) { putForeignRecovery(d, bytes); };
};

// Refuses new files in one folder, as read-only media do.
struct ReadOnlyFolder : morvane::FileLayer {
    std::string folder;
    bool noSpace = false;
    morvane::Status freeSpace(morvane::File& f, int64_t* out) override {
        const morvane::Status s = FileLayer::freeSpace(f, out);
        if (noSpace && f.path() == folder) *out = 0;
        return s;
    }
    morvane::Status createNew(const std::string& path,
                              std::unique_ptr<morvane::File>* out) override {
        if (!folder.empty() && path.compare(0, folder.size(), folder) == 0) {
            return morvane::Status::SysError(EROFS);
        }
        return FileLayer::createNew(path, out);
    }
};

TEST_P(GlueRepairTest, RebuildsWhatTheRecoveryDataCovers) {
    const GlueRepair& c = GetParam();
    TempDir work, set, out;
    const Bytes source = randomBytes(5 * std::size_t(c.chunkSize) + 77, 99);
    divideInto(work.path(), set.path(), "g", source, c.chunkSize, c.recovery);
    if (c.stored) {
        runCommand("rm " + set.path() + "/*; cp " + MORVANE_TEST_DATA "/" + c.stored + "/* " +
                   set.path());
    }
    ASSERT_EQ(runCommand("cd " + set.path() + " && par2 verify -q -q g.par2"),
              c.recovery > 0 ? "exit 0:" : "exit 3:failed to set the main par file\n")
        << "the division's own recovery data is the standard's";
    std::map<std::string, Bytes> chunks;
    for (int k = 1; k <= 6; ++k)
        chunks["g_" + std::to_string(k) + ".div"] =
            readFile(set.file("g_" + std::to_string(k) + ".div"));
    for (int32_t k : c.missing)
        ASSERT_EQ(::unlink(set.file("g_" + std::to_string(k) + ".div").c_str()), 0);
    for (int32_t d : c.damaged) {
        const std::string name = "g_" + std::to_string(d % kCut) + ".div";
        Bytes bytes = chunks[name];
        bytes[c.chunkSize > 1000 ? bytes.size() - 7 : 7] ^= d < kCut ? 0x20 : 0;
        bytes = d < kCut ? bytes : d < kLonger ? bytes.substr(0, bytes.size() / 2) : bytes + "x";
        writeFile(set.file(name), bytes);
    }
    c.harm(set);
    auto layer = std::make_shared<ReadOnlyFolder>();
    if (c.readOnly) layer->folder = set.folder();
    layer->noSpace = c.noSpace;
    morvane::FileGlue glu(layer);
    glu.setHeaderFileName(c.open);
    glu.setHeaderFilePath(set.path());
    glu.setChunkPrefix("g");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    EXPECT_EQ(glu.RecoveryChunks(), c.recovery);
    const std::vector<std::string> before = set.entries();
    ASSERT_TRUE(Succeeded(glu.checkSet(), glu));
    EXPECT_EQ(set.entries(), before) << "a check writes nothing";
    const morvane::SetCheck& check = glu.CheckResult();
    std::vector<morvane::FileHealth> health;
    for (int32_t k = 0; k < check.chunks; ++k) health.push_back(check.files[std::size_t(k)].health);
    EXPECT_EQ(std::count(health.begin(), health.end(), morvane::FileHealth::Missing),
              c.missing.size());
    EXPECT_EQ(std::count(health.begin(), health.end(), morvane::FileHealth::Damaged),
              c.damaged.size());
    const bool beyond = c.missing.size() + c.damaged.size() > std::size_t(c.recovery);
    EXPECT_EQ(check.recoverable, c.refusal == 0) << check.why;
    EXPECT_FALSE(check.recoverable && beyond);
    if (c.repairFirst) {
        const bool repaired = glu.repairSet();
        if (c.refusal != 0) {
            EXPECT_FALSE(repaired);
            EXPECT_EQ(glu.ErrorCode(), c.refusal);
            EXPECT_EQ(set.entries(), before) << "a refused repair changes nothing";
            return;
        }
        ASSERT_TRUE(Succeeded(repaired, glu));
        for (const auto& [name, bytes] : chunks)
            EXPECT_TRUE(readFile(set.file(name)) == bytes) << name << " not repaired";
    }
    glu.setBigFileName("back.dat");
    glu.setBigFilePath(out.path());
    const bool checked = glu.checkExistence();
    // Refused at once when more chunks are missing than the data covers, or
    // when the check already found too few intact recovery slices.
    if (c.refusal == 12 && (c.missing.size() > std::size_t(c.recovery) || !checked)) {
        EXPECT_FALSE(checked);
        EXPECT_EQ(glu.ErrorCode(), 12);
    } else {
        EXPECT_TRUE(Succeeded(checked, glu));
    }
    const bool glued = glu.glueFile();
    EXPECT_EQ(glu.ForeignRecovery(), c.foreign);
    if (c.refusal != 0) {
        EXPECT_FALSE(glued);
        EXPECT_EQ(glu.ErrorCode(), c.refusal);
        const bool named =
            glu.ErrorDescription().find("the recovery data holds") != std::string::npos;
        EXPECT_TRUE(named || c.foreign) << glu.ErrorDescription();
        EXPECT_TRUE(out.entries().empty()) << "nothing written";
        return;
    }
    ASSERT_TRUE(Succeeded(glued, glu));
    EXPECT_TRUE(readFile(out.file("back.dat")) == source);
    std::vector<int32_t> lost = c.missing;
    for (int32_t d : c.damaged) lost.push_back(d % kCut);
    std::sort(lost.begin(), lost.end());
    EXPECT_EQ(glu.RebuiltChunks(), c.repairFirst ? std::vector<int32_t>() : lost);
    EXPECT_EQ(glu.RebuiltInPlace(), !c.readOnly);
    for (const auto& [name, bytes] : chunks) {
        if (c.readOnly) continue;
        EXPECT_TRUE(readFile(set.file(name)) == bytes) << name << " not put back";
    }
    EXPECT_EQ(out.entries(), std::vector<std::string>{"back.dat"}) << "no rebuilt chunk left there";
    EXPECT_TRUE(fileExists(set.file("g.hed")));
}

INSTANTIATE_TEST_SUITE_P(
    Damage, GlueRepairTest,
    ::testing::Values(
        GlueRepair{"oneMissing", 1, {3}, {}, false, 0},
        GlueRepair{"oneDamaged", 1, {}, {6}, false, 0},
        GlueRepair{"missingAndDamaged", 2, {1}, {4}, false, 0},
        GlueRepair{"readOnlyChunkFolder", 1, {2}, {}, true, 0},
        GlueRepair{"twoMissingOneRecoveryChunk", 1, {2, 5}, {}, false, 12},
        GlueRepair{"twoDamagedOneRecoveryChunk", 1, {}, {2, 5}, false, 14},
        GlueRepair{"readOnlyWithoutFreeSpace", 1, {2}, {}, true, 0, none, true},
        GlueRepair{"checksumFileLost", 2, {3}, {}, false, 0, lose("g.sha256")},
        GlueRepair{"checksumFileDamaged", 2, {3}, {}, false, 0, flip("g.sha256")},
        GlueRepair{"readOnlyChecksumFileLost", 2, {3}, {}, true, 0, lose("g.sha256")},
        GlueRepair{"indexLost", 1, {3}, {}, false, 0, lose("g.par2")},
        GlueRepair{"chunkCutToHalf", 1, {}, {kCut + 2}, false, 0},
        GlueRepair{"chunkOneByteLonger", 1, {}, {kLonger + 4}, false, 0},
        GlueRepair{"damagedWithoutChecksumFile", 2, {}, {5}, false, 0, lose("g.sha256")},
        GlueRepair{"twoMissingOneDamaged", 2, {2, 5}, {3}, false, 12},
        GlueRepair{"threeDamagedChecksumFileLost", 2, {}, {1, 2, 3}, false, 14, lose("g.sha256")},
        GlueRepair{"recoverySliceDamaged", 1, {2}, {}, false, 12, flip("g.vol0+1.par2")},
        GlueRepair{"recoverySliceDamagedRepair",
                   1,
                   {2},
                   {},
                   false,
                   12,
                   flip("g.vol0+1.par2"),
                   false,
                   false,
                   "g.hed",
                   true},
        GlueRepair{"round3Set", 2, {}, {}, false, 0, none, false, false, "g.hed", false, "round3"},
        GlueRepair{"round3SetChunkDamaged",
                   2,
                   {},
                   {3},
                   false,
                   0,
                   none,
                   false,
                   false,
                   "g.hed",
                   true,
                   "round3"},
        GlueRepair{"foreignSameSizes", 1, {}, {}, false, 0, foreign(5077), false, true},
        GlueRepair{"foreignWithAChunkLost", 1, {3}, {}, false, 12, foreign(5077), false, true},
        GlueRepair{"headerLostOpenedThroughIndex",
                   1,
                   {},
                   {},
                   false,
                   0,
                   lose("g.hed"),
                   false,
                   false,
                   "g.par2"},
        GlueRepair{"olderSetOtherSizes", 0, {}, {}, false, 0, foreign(3500)},
        GlueRepair{"headerLostSlicesTooFewForAChunk",
                   0,
                   {},
                   {},
                   false,
                   0,
                   smallSlices,
                   false,
                   false,
                   "g.par2"},
        GlueRepair{"damagedPastTheFirst16KiB",
                   1,
                   {},
                   {2},
                   false,
                   0,
                   none,
                   false,
                   false,
                   "g.hed",
                   false,
                   nullptr,
                   40000},
        GlueRepair{"repairedInPlace", 2, {1}, {4}, false, 0, none, false, false, "g.hed", true},
        GlueRepair{
            "repairBeyondTheData", 1, {2, 5}, {}, false, 12, none, false, false, "g.hed", true}),
    [](const ::testing::TestParamInfo<GlueRepair>& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace morvane_test

#include "engine/file_layer.h"
#include "engine/recovery/par2_repair.h"
#include "engine/recovery/par2_set.h"

namespace morvane_test {
namespace {

struct Par2Created {
    const char* label;
    // par2 create's options for slice size and recovery count.
    const char* options;
    std::vector<std::string> lost;
};

void PrintTo(const Par2Created& c, std::ostream* os) {
    *os << c.label;
}

class Par2CreatedTest : public ::testing::TestWithParam<Par2Created> {};

TEST_P(Par2CreatedTest, RebuildsWithPar2CreateFiles) {
    const Par2Created& c = GetParam();
    TempDir work, set;
    divideInto(work.path(), set.path(), "pc", randomBytes(250001, 99), 60000);
    ASSERT_EQ(runCommand("cd " + set.path() + " && par2 create -q -q " + c.options +
                         " pc.par2 pc_*.div pc.hed pc.sha256 >/dev/null"),
              "exit 0:");
    std::vector<Bytes> originals;
    for (const std::string& name : c.lost) {
        originals.push_back(readFile(set.file(name)));
        ASSERT_EQ(::unlink(set.file(name).c_str()), 0);
    }
    morvane::FileLayer layer;
    morvane::Par2Set par2;
    ASSERT_TRUE(par2.read(layer, set.folder(), "pc").ok());
    ASSERT_TRUE(par2.usable()) << par2.problem();
    // What the read-back shows of each file, "|" once it has ended.
    std::map<std::string, Bytes> seen;
    const morvane::Status s = morvane::rebuildFiles(
        layer, par2, set.folder(), c.lost,
        [&](const std::string& name, std::unique_ptr<morvane::File>* out) {
            return layer.openReadWrite(set.folder() + name, out);
        },
        nullptr, nullptr,
        [&](const std::string& name, const char* bytes, std::size_t n) {
            seen[name] += n > 0 ? Bytes(bytes, n) : Bytes("|");
            return morvane::Status::OK();
        });
    ASSERT_TRUE(s.ok()) << s.text();
    for (std::size_t i = 0; i < c.lost.size(); ++i) {
        EXPECT_EQ(readFile(set.file(c.lost[i])), originals[i]) << c.lost[i];
        EXPECT_EQ(seen[c.lost[i]], originals[i] + "|") << c.lost[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sets, Par2CreatedTest,
    ::testing::Values(Par2Created{"one slice per file", "-s60000 -c2", {"pc_2.div", "pc.hed"}},
                      Par2Created{"many slices per file", "-s4000 -c40", {"pc_5.div"}},
                      Par2Created{"recovery numbered from 5", "-s60000 -c1 -f5", {"pc_1.div"}}));

// A division over a set replaces its older recovery files, and only those:
// par2's own files for another file of the same stem stay.
TEST(OlderRecoveryFilesTest, GoWithTheSetTheyDescribe) {
    TempDir work, set;
    writeFile(set.file("pc.avi"), randomBytes(5000, 7));
    ASSERT_EQ(
        runCommand("cd " + set.path() + " && par2 create -q -q -c3 pc.par2 pc.avi >/dev/null"),
        "exit 0:");
    divideInto(work.path(), set.path(), "pc", randomBytes(250001, 98), 60000, 1);
    divideInto(work.path(), set.path(), "pc", randomBytes(250001, 97), 60000);
    std::vector<std::string> left;
    for (const std::string& name : set.entries()) {
        if (name.find(".par2") != std::string::npos) left.push_back(name);
    }
    EXPECT_EQ(left, std::vector<std::string>{"pc.vol1+2.par2"})
        << "the volume par2 made for pc.avi stays";
}

// A large file named like one of its own chunks divides into a set that glues.
TEST(OwnChunkNameTest, DividesIntoASetThatGlues) {
    TempDir work, set, out;
    const Bytes content = randomBytes(250001, 96);
    writeFile(work.file("x_1.div"), content);
    morvane::FileDivider div;
    prepareDivider(div, work.path(), "x_1.div", set.path(), "x");
    div.setAvgChunkSize(100000);
    ASSERT_TRUE(Succeeded(div.divideFile(), div));
    EXPECT_EQ(runCommand("cd " + set.path() + " && sha256sum -c --quiet x.sha256"), "exit 0:");
    morvane::FileGlue glu;
    glu.setHeaderFileName("x.hed");
    glu.setHeaderFilePath(set.path());
    glu.setChunkPrefix("x");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setBigFileName("x_1.div");
    glu.setBigFilePath(out.path());
    ASSERT_TRUE(Succeeded(glu.glueFile(), glu));
    EXPECT_TRUE(readFile(out.file("x_1.div")) == content);
}

}  // namespace
}  // namespace morvane_test
