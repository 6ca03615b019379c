// Recovery data through Debian's par2: what Morvane writes, par2 verifies
// and repairs with.

#include <gtest/gtest.h>
#include <unistd.h>

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
               c.chunkSize);
    const morvane::Status s =
        protectDivision(set.path(), "rt", work.file("original.dat"), c.recovery, 65536);
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
        Par2RoundTrip{
            "tiny chunks, n=4", 301, 3, 4, {"rt_1.div", "rt_50.div", "rt.hed", "~rt_101.div"}}));

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
    const morvane::Status s =
        morvane::rebuildFiles(layer, par2, set.folder(), c.lost,
                              [&](const std::string& name, std::unique_ptr<morvane::File>* out) {
                                  return layer.openReadWrite(set.folder() + name, out);
                              });
    ASSERT_TRUE(s.ok()) << s.text();
    for (std::size_t i = 0; i < c.lost.size(); ++i) {
        EXPECT_EQ(readFile(set.file(c.lost[i])), originals[i]) << c.lost[i];
    }
}

INSTANTIATE_TEST_SUITE_P(
    Sets, Par2CreatedTest,
    ::testing::Values(Par2Created{"one slice per file", "-s60000 -c2", {"pc_2.div", "pc.hed"}},
                      Par2Created{"many slices per file", "-s4000 -c40", {"pc_5.div"}},
                      Par2Created{"recovery numbered from 5", "-s60000 -c1 -f5", {"pc_1.div"}}));

}  // namespace
}  // namespace morvane_test
