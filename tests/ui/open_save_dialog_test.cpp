#include "ui/open_save_dialog.h"

#include <gtest/gtest.h>

#include "scripted_desktop.h"

using namespace morvane;

namespace {

FileDialogRequest requestNamed(const QString& name) {
    FileDialogRequest request;
    request.title = QStringLiteral("t");
    request.fileName = name;
    return request;
}

TEST(OpenSaveDialog, ProposesTheLastChosenPathWhenTheCallerSetsNoName) {
    ScriptedDesktop desktop;
    OpenSaveDialog dialog(desktop);
    desktop.fileAnswers = {QStringLiteral("/data/in/movie.avi"), std::nullopt,
                           QStringLiteral("/data/out/movie.hed")};

    EXPECT_EQ(dialog.show(nullptr, requestNamed(QString())), QStringLiteral("/data/in/movie.avi"));
    EXPECT_EQ(desktop.fileRequests[0].fileName, QString());
    EXPECT_EQ(desktop.fileRequests[0].startFolder, QString());

    // Cancelled: nothing is remembered from it.
    EXPECT_EQ(dialog.show(nullptr, requestNamed(QString())), std::nullopt);
    EXPECT_EQ(desktop.fileRequests[1].fileName, QStringLiteral("/data/in/movie.avi"));
    EXPECT_EQ(dialog.lastPath(), QStringLiteral("/data/in/movie.avi"));

    // A bare name opens in the folder of the last choice.
    dialog.show(nullptr, requestNamed(QStringLiteral("movie.hed")));
    EXPECT_EQ(desktop.fileRequests[2].fileName, QStringLiteral("movie.hed"));
    EXPECT_EQ(desktop.fileRequests[2].startFolder, QStringLiteral("/data/in/"));
    EXPECT_EQ(dialog.lastPath(), QStringLiteral("/data/out/movie.hed"));
}

struct NameCase {
    const char* path;
    const char* folder;
    const char* name;
    const char* base;
};

class PathPartsTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(PathPartsTest, CutsAtTheLastSeparatorAndTheLastDot) {
    const QString path = QString::fromUtf8(GetParam().path);
    EXPECT_EQ(folderOf(path).toStdString(), GetParam().folder);
    EXPECT_EQ(nameOf(path).toStdString(), GetParam().name);
    EXPECT_EQ(baseNameOf(nameOf(path)).toStdString(), GetParam().base);
}

INSTANTIATE_TEST_SUITE_P(Cases, PathPartsTest,
                         ::testing::Values(NameCase{"/home/me/movie.part1.avi", "/home/me/",
                                                    "movie.part1.avi", "movie.part1"},
                                           NameCase{"/home/me/README", "/home/me/", "README",
                                                    "README"},
                                           NameCase{"/home/me/.hed", "/home/me/", ".hed", ""},
                                           NameCase{"/a.b/notes", "/a.b/", "notes", "notes"},
                                           NameCase{"/data.bin", "/", "data.bin", "data"},
                                           NameCase{"bare.txt", "", "bare.txt", "bare"}));

}  // namespace
