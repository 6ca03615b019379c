// Names that are not regular files: FIFOs and folders where files are
// expected. A run must fail, not hang, and release what it opened.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::FileDivider;
using morvane::FileGlue;

// Ends the test program if a call blocks for longer than `seconds`.
class Watchdog {
  public:
    explicit Watchdog(unsigned seconds) { ::alarm(seconds); }
    ~Watchdog() { ::alarm(0); }
};

class SpecialFileTest : public ::testing::Test {
  protected:
    void makeFifo(const std::string& name) {
        ASSERT_EQ(::mkfifo(dir.file(name).c_str(), 0644), 0) << std::strerror(errno);
    }
    TempDir dir, other;
};

TEST_F(SpecialFileTest, FifoAsTheLargeFileIsRefusedWithoutBlocking) {
    makeFifo("pipe");
    FileDivider div;
    div.setBigFileName("pipe");
    div.setBigFilePath(dir.path());
    const int fds = openDescriptorCount();
    bool ok;
    {
        Watchdog dog(20);
        ok = div.analyze();
    }
    EXPECT_FALSE(ok);
    EXPECT_TRUE(div.IsSysErr() || div.ErrorCode() == 5) << errorStateOf(div);
    EXPECT_EQ(openDescriptorCount(), fds);
}

TEST_F(SpecialFileTest, FifoAsTheHeaderFileIsRefusedWithoutBlocking) {
    makeFifo("p.hed");
    FileGlue glu;
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(dir.path());
    glu.setChunkPrefix("p");
    const int fds = openDescriptorCount();
    bool ok;
    {
        Watchdog dog(20);
        ok = glu.analyze();
    }
    EXPECT_FALSE(ok);
    EXPECT_TRUE(glu.IsSysErr() || glu.ErrorCode() == 11) << errorStateOf(glu);
    EXPECT_EQ(openDescriptorCount(), fds);
}

TEST_F(SpecialFileTest, FifoWithoutReaderAsTheGlueOutputFailsWithoutBlocking) {
    writeDivision(dir.path(), "p", "big.bin", randomBytes(30, 3), 10);
    makeFifo("out");
    FileGlue glu;
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(dir.path());
    glu.setChunkPrefix("p");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setBigFileName("out");
    glu.setBigFilePath(dir.path());
    const int fds = openDescriptorCount();
    bool ok;
    {
        Watchdog dog(20);
        ok = glu.glueFile();
    }
    EXPECT_FALSE(ok);
    EXPECT_TRUE(glu.IsSysErr()) << errorStateOf(glu);
    EXPECT_EQ(openDescriptorCount(), fds);
}

// A non-file in the way of a division's output is refused before anything is
// written: a FIFO there is neither written to, waited on nor moved.
TEST_F(SpecialFileTest, FifoWithoutReaderAsAChunkIsRefusedWithoutBlocking) {
    writeFile(other.file("big.bin"), randomBytes(30, 4));
    makeFifo("p_2.div");
    FileDivider div;
    prepareDivider(div, other.path(), "big.bin", dir.path(), "p");
    div.setAvgChunkSize(10);
    const int fds = openDescriptorCount();
    bool ok;
    {
        Watchdog dog(20);
        ok = div.divideFile();
    }
    EXPECT_TRUE(FailedWithSystemError(ok, div, EEXIST));
    EXPECT_EQ(openDescriptorCount(), fds);
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"p_2.div"});
}

TEST_F(SpecialFileTest, FolderAsTheHeaderFileIsASystemError) {
    ASSERT_EQ(::mkdir(dir.file("p.hed").c_str(), 0755), 0);
    FileGlue glu;
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(dir.path());
    const int fds = openDescriptorCount();
    EXPECT_TRUE(FailedWithSystemError(glu.analyze(), glu, EISDIR));
    EXPECT_EQ(openDescriptorCount(), fds);
}

TEST_F(SpecialFileTest, FolderAsTheGlueOutputIsASystemError) {
    writeDivision(dir.path(), "p", "big.bin", randomBytes(30, 5), 10);
    ASSERT_EQ(::mkdir(other.file("out").c_str(), 0755), 0);
    FileGlue glu;
    glu.setHeaderFileName("p.hed");
    glu.setHeaderFilePath(dir.path());
    glu.setChunkPrefix("p");
    ASSERT_TRUE(Succeeded(glu.analyze(), glu));
    glu.setBigFileName("out");
    glu.setBigFilePath(other.path());
    EXPECT_TRUE(FailedWithSystemError(glu.glueFile(), glu, EISDIR));
}

}  // namespace
}  // namespace morvane_test
