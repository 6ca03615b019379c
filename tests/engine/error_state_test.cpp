// The error state shared by both engines: codes, messages, system errors,
// and what an observer sees while handling onError and onClearErr.

#include "engine/error_state.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

#include "engine/file_layer.h"
#include "engine/status.h"
#include "test_support.h"

namespace morvane_test {
namespace {

using morvane::ErrorState;
using morvane::FileDivider;
using morvane::FileGlue;
using morvane::Status;

TEST(StatusTest, OkHasNumberZeroAndNoText) {
    Status s = Status::OK();
    EXPECT_TRUE(s.ok());
    EXPECT_EQ(s.number(), 0);
    EXPECT_EQ(s.text(), "");
}

TEST(StatusTest, SysErrorCarriesErrnoAndItsSystemText) {
    for (int err : {EIO, ENOSPC, ENOENT, EACCES, ENODATA}) {
        Status s = Status::SysError(err);
        EXPECT_FALSE(s.ok()) << err;
        EXPECT_EQ(s.number(), err);
        EXPECT_EQ(s.text(), std::strerror(err));
    }
}

TEST(StatusTest, SysErrorWithOwnTextKeepsThatText) {
    Status s = Status::SysError(ENODATA, "x.div ended early");
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.number(), ENODATA);
    EXPECT_EQ(s.text(), "x.div ended early");
}

TEST(StatusTest, EarlyEndIsEnodataWithATextNamingTheFile) {
    Status s = morvane::earlyEnd("/some/where/p_3.div");
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.number(), ENODATA);
    EXPECT_NE(s.text().find("p_3.div"), std::string::npos) << s.text();
}

struct CodeMessage {
    int code;
    const char* message;
};

void PrintTo(const CodeMessage& c, std::ostream* os) {
    *os << "code " << c.code;
}

class EngineMessageTest : public ::testing::TestWithParam<CodeMessage> {};

TEST_P(EngineMessageTest, CodeHasItsExactMessage) {
    EXPECT_STREQ(morvane::engineMessage(GetParam().code), GetParam().message);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, EngineMessageTest,
    ::testing::Values(CodeMessage{0, "No Error"}, CodeMessage{2, "Invalid Filename"},
                      CodeMessage{3, "Invalid Chunk Prefix"}, CodeMessage{4, "Invalid Chunk Size"},
                      CodeMessage{5, "Zero Length File"}, CodeMessage{10, "Analysis Required"},
                      CodeMessage{11, "Invalid Header File"}, CodeMessage{12, "Chunk File Missing"},
                      CodeMessage{13, "Output Would Overwrite Input"},
                      CodeMessage{14, "Chunk File Damaged"},
                      CodeMessage{15, "Invalid Checksum File"},
                      // Codes that are not engine codes have no message.
                      CodeMessage{1, ""}, CodeMessage{6, ""}, CodeMessage{7, ""},
                      CodeMessage{8, ""}, CodeMessage{9, ""}, CodeMessage{16, ""},
                      CodeMessage{-1, ""}),
    [](const ::testing::TestParamInfo<CodeMessage>& info) {
        return info.param.code < 0 ? std::string("minus1")
                                   : "code" + std::to_string(info.param.code);
    });

TEST(ErrorStateTest, StartsWithCodeZeroEmptyTextAndNoSystemError) {
    ErrorState s;
    EXPECT_EQ(s.code(), 0);
    EXPECT_EQ(s.description(), "");
    EXPECT_FALSE(s.isSysErr());
}

TEST(ErrorStateTest, KeepsOnlyTheLastErrorAndClearsToNoError) {
    ErrorState s;
    s.setSystem(Status::SysError(EIO));
    EXPECT_EQ(s.code(), EIO);
    EXPECT_EQ(s.description(), std::strerror(EIO));
    EXPECT_TRUE(s.isSysErr());

    s.setEngine(morvane::kChunkFileMissing);
    EXPECT_EQ(s.code(), 12);
    EXPECT_EQ(s.description(), "Chunk File Missing");
    EXPECT_FALSE(s.isSysErr()) << "an engine code after a system error is not a system error";

    s.setSystem(Status::SysError(ENODATA, "ended early"));
    EXPECT_EQ(s.code(), ENODATA);
    EXPECT_EQ(s.description(), "ended early");
    EXPECT_TRUE(s.isSysErr());

    s.clear();
    EXPECT_EQ(s.code(), 0);
    EXPECT_EQ(s.description(), "No Error");
    EXPECT_FALSE(s.isSysErr());
}

// A fresh engine has no description at all; "No Error" appears with the first clear.
TEST(EngineErrorStateTest, FreshEnginesHaveCodeZeroAndEmptyDescription) {
    FileDivider div;
    EXPECT_EQ(div.ErrorCode(), 0);
    EXPECT_EQ(div.ErrorDescription(), "");
    EXPECT_FALSE(div.IsSysErr());
    FileGlue glu;
    EXPECT_EQ(glu.ErrorCode(), 0);
    EXPECT_EQ(glu.ErrorDescription(), "");
    EXPECT_FALSE(glu.IsSysErr());
}

// Observers read the new state from inside the notification.
class StateReadingDividerObserver : public morvane::FileDividerEvents {
  public:
    explicit StateReadingDividerObserver(FileDivider& d) : div(d) { d.setObserver(this); }
    void onError() override {
        seen.push_back({"onError", div.ErrorCode(), div.ErrorDescription()});
    }
    void onClearErr() override {
        seen.push_back({"onClearErr", div.ErrorCode(), div.ErrorDescription()});
    }
    struct Seen {
        std::string name;
        int code;
        std::string text;
    };
    FileDivider& div;
    std::vector<Seen> seen;
};

TEST(EngineErrorStateTest, ObserverSeesTheNewStateInsideTheNotification) {
    FileDivider div;
    StateReadingDividerObserver obs(div);
    div.setBigFileName("");
    div.setChunkPrefix("");
    div.setChunkPrefix("p");
    ASSERT_EQ(obs.seen.size(), 3u);
    EXPECT_EQ(obs.seen[0].name, "onError");
    EXPECT_EQ(obs.seen[0].code, 2);
    EXPECT_EQ(obs.seen[0].text, "Invalid Filename");
    EXPECT_EQ(obs.seen[1].name, "onError");
    EXPECT_EQ(obs.seen[1].code, 3);
    EXPECT_EQ(obs.seen[1].text, "Invalid Chunk Prefix");
    EXPECT_EQ(obs.seen[2].name, "onClearErr");
    EXPECT_EQ(obs.seen[2].code, 0);
    EXPECT_EQ(obs.seen[2].text, "No Error");
}

TEST(EngineErrorStateTest, TwoFailuresInARowKeepTheSecondAndNotifyTwice) {
    FileGlue glu;
    GlueRecorder rec(glu);
    glu.setHeaderFileName("");
    glu.setChunkPrefix("");
    EXPECT_EQ(countOf(rec.events, "onError"), 2) << describe(rec.events);
    EXPECT_TRUE(HasCode(glu, 3));
}

TEST(EngineErrorStateTest, EngineCheckAfterSystemErrorResetsIsSysErr) {
    TempDir dir;
    FileDivider div;
    div.setBigFileName("missing.bin");
    div.setBigFilePath(dir.path());
    EXPECT_TRUE(FailedWithSystemError(div.analyze(), div, ENOENT));
    div.setChunkPrefix("");
    EXPECT_TRUE(HasCode(div, 3));
}

TEST(EngineErrorStateTest, EnginesWithoutObserverStillRecordErrors) {
    FileDivider div;
    div.setObserver(nullptr);
    div.setBigFileName("");
    EXPECT_TRUE(HasCode(div, 2));
    FileGlue glu;
    glu.setObserver(nullptr);
    EXPECT_TRUE(FailedWithCode(glu.glueFile(), glu, 10));
}

}  // namespace
}  // namespace morvane_test
