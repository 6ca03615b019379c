#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <climits>

#include "engine/chunk_census.h"
#include "ui/recovery_text.h"
#include "window_fixture.h"

namespace {

using morvane::FileDialogRequest;
using morvane::FileFilter;
using morvane::MessageIcon;

class GluePanelTest : public WindowTest {
  protected:
    // The worked example: three chunks of 25,000,000 bytes and a last one
    // of 12,000,000, an original file of 87,000,000 bytes. The chunks are
    // sparse with a marker at the start of each.
    void makeWorkedExample(const QString& prefix) {
        makeHeader(prefix + QStringLiteral(".hed"), "original.bin", 25000000, 12000000, 4);
        for (int k = 1; k <= 4; ++k) makeChunk(prefix, k, k < 4 ? 25000000 : 12000000);
    }
    void makeChunk(const QString& prefix, int k, qint64 size) {
        const QString name = prefix + u'_' + QString::number(k) + QStringLiteral(".div");
        QFile file(path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_TRUE(file.resize(size));
        file.write("chunk " + QByteArray::number(k));
    }
    // A small division made by hand: "abcdefghij" in chunks of 4.
    void makeSmallDivision(const QString& headerName, const QString& prefix) {
        makeHeader(headerName, "letters.txt", 4, 2, 3);
        const char* parts[] = {"abcd", "efgh", "ij"};
        for (int k = 1; k <= 3; ++k) {
            QFile file(path(prefix + u'_' + QString::number(k) + QStringLiteral(".div")));
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
            file.write(parts[k - 1]);
        }
    }
};

TEST_F(GluePanelTest, ChoosingAHeaderShowsItsSummary) {
    makeWorkedExample(QStringLiteral("data"));
    chooseHeader(path(QStringLiteral("data.hed")));

    ASSERT_EQ(desktop.fileRequests.size(), 1u);
    const FileDialogRequest& request = desktop.fileRequests[0];
    EXPECT_EQ(request.kind, FileDialogRequest::Kind::Open);
    EXPECT_EQ(request.title, QStringLiteral("Open header file"));
    EXPECT_EQ(request.filter,
              (FileFilter{QStringLiteral("Division Header Files (*.hed)"), {"*.hed"}}));
    EXPECT_EQ(request.moreFilters,
              (QList<FileFilter>{{QStringLiteral("Recovery Data Files (*.par2)"), {"*.par2"}}}));
    EXPECT_TRUE(request.fileMustExist);
    EXPECT_TRUE(request.folderMustExist);
    EXPECT_TRUE(request.hideReadOnly);

    EXPECT_TRUE(panel("fraGlu")->isVisible());
    EXPECT_FALSE(welcomeShown());
    EXPECT_EQ(label("lblGHeader")->text(), path(QStringLiteral("data.hed")));
    EXPECT_EQ(label("lblGChunkSize")->text(), QStringLiteral("25,000,000 bytes"));
    EXPECT_EQ(label("lblGLastChunkSize")->text(), QStringLiteral("12,000,000 bytes"));
    EXPECT_EQ(label("lblGNumChunk")->text(), QStringLiteral("4"));
    EXPECT_EQ(label("lblGChunksFound")->text(), QStringLiteral("all present"));
    EXPECT_EQ(label("lblGBigFileName")->text(), QStringLiteral("original.bin"));
    EXPECT_EQ(label("lblGBigFileSize")->text(), QStringLiteral("87,000,000 bytes"));
    EXPECT_EQ(label("lblGChecksum")->text(), QStringLiteral("none"));
    EXPECT_EQ(label("lblGRecovery")->text(), QStringLiteral("none"));
    EXPECT_FALSE(action("mnuDivide")->isEnabled());
    EXPECT_TRUE(action("mnuGlue")->isEnabled());
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Status"));
}

TEST_F(GluePanelTest, AHeaderGivenByPathOrDroppedIsChosenAsInTheDialog) {
    makeWorkedExample(QStringLiteral("data"));
    ASSERT_TRUE(QFile::rename(path(QStringLiteral("data.hed")), path(QStringLiteral("data.HED"))));
    for (bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "dropped" : "given by path");
        const QString header = path(QStringLiteral("data.HED"));
        EXPECT_TRUE(dropped ? drop({QUrl::fromLocalFile(header)}) : window->openPath(header));
        EXPECT_TRUE(panel("fraGlu")->isVisible());
        EXPECT_EQ(label("lblGHeader")->text(), header);
        EXPECT_EQ(label("lblGBigFileSize")->text(), QStringLiteral("87,000,000 bytes"));
        EXPECT_FALSE(action("mnuDivide")->isEnabled());
        EXPECT_TRUE(desktop.fileRequests.empty());
        EXPECT_TRUE(desktop.messages.empty());
        // The next dialog proposes it, as after choosing it there.
        desktop.fileAnswers.push_back(std::nullopt);
        action("mnuGlue")->trigger();
        EXPECT_EQ(desktop.fileRequests.back().fileName, header);
        desktop.fileRequests.clear();
        QTest::mouseClick(button("cmdGCancel"), Qt::LeftButton);
    }
    // Nothing but a header opens while the divide side is closed.
    chooseHeader(path(QStringLiteral("data.HED")));
    EXPECT_FALSE(window->openPath(path(QStringLiteral("data_1.div"))));
    EXPECT_FALSE(drop({QUrl::fromLocalFile(path(QStringLiteral("data_1.div")))}));

    window->openPath(path(QStringLiteral("gone.hed")));
    EXPECT_TRUE(label("lblStatus")->text().startsWith(QStringLiteral("System Error: 2  ")));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("Header File Analysis Failed."));
    EXPECT_TRUE(welcomeShown());
}

TEST_F(GluePanelTest, GluesTheWorkedExampleInElevenBlocks) {
    makeWorkedExample(QStringLiteral("data"));
    chooseHeader(path(QStringLiteral("data.hed")));
    desktop.fileAnswers.push_back(path(QStringLiteral("restored.bin")));
    const int before = statuses.size();
    QTest::mouseClick(button("cmdGlu"), Qt::LeftButton);
    runToEnd();

    ASSERT_EQ(desktop.fileRequests.size(), 2u);
    const FileDialogRequest& request = desktop.fileRequests[1];
    EXPECT_EQ(request.kind, FileDialogRequest::Kind::Save);
    EXPECT_EQ(request.title, QStringLiteral("Glue as"));
    EXPECT_EQ(request.filter, (FileFilter{QStringLiteral("All Files (*.*)"), {"*"}}));
    EXPECT_EQ(request.fileName, QStringLiteral("original.bin"));
    EXPECT_TRUE(request.confirmOverwrite);
    EXPECT_TRUE(request.folderMustExist);
    EXPECT_TRUE(request.hideReadOnly);

    EXPECT_EQ(
        statusesSince(before),
        (QStringList{"Status", "Status", "Processing 1 of 4 Chunks. (9.1%)",
                     "Processing 1 of 4 Chunks. (18.2%)", "Processing 1 of 4 Chunks. (27.3%)",
                     "Processing 2 of 4 Chunks. (36.4%)", "Processing 2 of 4 Chunks. (45.5%)",
                     "Processing 2 of 4 Chunks. (54.5%)", "Processing 3 of 4 Chunks. (63.6%)",
                     "Processing 3 of 4 Chunks. (72.7%)", "Processing 3 of 4 Chunks. (81.8%)",
                     "Processing 4 of 4 Chunks. (90.9%)", "Processing 4 of 4 Chunks. (100.0%)",
                     "Status", "File Successfully Glued Together!"}));
    EXPECT_EQ(label("lblStatus")->toolTip(),
              QStringLiteral("Written to %1/: restored.bin.").arg(dir.path()));
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_TRUE(welcomeShown());
    EXPECT_FALSE(panel("fraGlu")->isVisible());
    EXPECT_TRUE(action("mnuDivide")->isEnabled());
    EXPECT_TRUE(action("mnuGlue")->isEnabled());

    QFile output(path(QStringLiteral("restored.bin")));
    ASSERT_TRUE(output.open(QIODevice::ReadOnly));
    EXPECT_EQ(output.size(), 87000000);
    for (int k = 1; k <= 4; ++k) {
        ASSERT_TRUE(output.seek(qint64(k - 1) * 25000000));
        EXPECT_EQ(output.read(7), "chunk " + QByteArray::number(k));
    }
}

TEST_F(GluePanelTest, StopByItsAccessKeyEndsAGlueAndLeavesNothing) {
    makeWorkedExample(QStringLiteral("data"));
    chooseHeader(path(QStringLiteral("data.hed")));
    desktop.fileAnswers.push_back(path(QStringLiteral("restored.bin")));
    whenStatusShows(QStringLiteral("Processing 1 of 4 Chunks. (9.1%)"), 1000, [&] {
        EXPECT_FALSE(button("cmdCheck")->isEnabled() || button("cmdRepair")->isEnabled());
        // An access key clicks its button a moment later, as a person sees it.
        const QSignalSpy clicks(button("cmdStop"), &QPushButton::clicked);
        QTest::keyClick(window.get(), Qt::Key_T, Qt::AltModifier);
        QTest::keyClick(window.get(), Qt::Key_T, Qt::AltModifier);
        EXPECT_TRUE(QTest::qWaitFor([&] { return clicks.count() > 0; }, 60000));
    });
    const int before = statuses.size();
    button("cmdGlu")->click();
    runToEnd();

    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Glue stopped."));
    EXPECT_EQ(statusesSince(before).filter(QStringLiteral("Success")), QStringList());
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_FALSE(panel("fraGlu")->isVisible());
    EXPECT_TRUE(welcomeShown());
    EXPECT_TRUE(action("mnuDivide")->isEnabled());
    // The engine went with the run.
    button("cmdGlu")->click();
    EXPECT_EQ(desktop.fileRequests.size(), 2u);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("restored.bin"))))
        << "the stopped glue left its output behind";
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 5);
}

TEST_F(GluePanelTest, AMissingChunkKeepsThePanelAndTheChosenName) {
    makeWorkedExample(QStringLiteral("data"));
    QFile::remove(path(QStringLiteral("data_3.div")));
    chooseHeader(path(QStringLiteral("data.hed")));
    desktop.fileAnswers.push_back(path(QStringLiteral("out.bin")));
    const QCursor* cursorAtMessage = nullptr;
    desktop.onMessage = [&](const auto&) { cursorAtMessage = QGuiApplication::overrideCursor(); };
    button("cmdGlu")->click();
    runToEnd();
    EXPECT_EQ(cursorAtMessage, nullptr) << "the busy cursor ends with the run";
    desktop.onMessage = nullptr;

    EXPECT_EQ(label("lblStatus")->text(),
              QStringLiteral("Application Error: 12  Chunk File Missing"));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, kChunkCheckMessage);
    EXPECT_EQ(desktop.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(panel("fraGlu")->isVisible());
    EXPECT_FALSE(action("mnuDivide")->isEnabled());
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("out.bin"))));

    // The engine is kept: a second try proposes the name chosen the first
    // time, while the summary still shows the header's name.
    desktop.fileAnswers.push_back(std::nullopt);
    button("cmdGlu")->click();
    ASSERT_EQ(desktop.fileRequests.size(), 3u);
    EXPECT_EQ(desktop.fileRequests[2].fileName, QStringLiteral("out.bin"));
    EXPECT_EQ(label("lblGBigFileName")->text(), QStringLiteral("original.bin"));

    // With the chunk back in place the glue goes through.
    QFile::copy(path(QStringLiteral("data_2.div")), path(QStringLiteral("data_3.div")));
    desktop.fileAnswers.push_back(path(QStringLiteral("out.bin")));
    button("cmdGlu")->click();
    runToEnd();
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("File Successfully Glued Together!"));
    EXPECT_EQ(QFileInfo(path(QStringLiteral("out.bin"))).size(), 87000000);
}

TEST_F(GluePanelTest, AHeaderNamedOnlyByItsExtensionOpensButDoesNotGlue) {
    makeSmallDivision(QStringLiteral(".hed"), QString());
    chooseHeader(path(QStringLiteral(".hed")));
    EXPECT_TRUE(panel("fraGlu")->isVisible());
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Status"));
    EXPECT_TRUE(statuses.contains(QStringLiteral("Application Error: 3  Invalid Chunk Prefix")));

    desktop.fileAnswers.push_back(path(QStringLiteral("letters.txt")));
    button("cmdGlu")->click();
    runToEnd();
    EXPECT_EQ(label("lblStatus")->text(),
              QStringLiteral("Application Error: 3  Invalid Chunk Prefix"));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, kChunkCheckMessage);
    EXPECT_TRUE(panel("fraGlu")->isVisible());
}

TEST_F(GluePanelTest, GluesASmallDivisionByteForByte) {
    makeSmallDivision(QStringLiteral("a.b.hed"), QStringLiteral("a.b"));
    chooseHeader(path(QStringLiteral("a.b.hed")));
    EXPECT_EQ(label("lblGLastChunkSize")->text(), QStringLiteral("2 bytes"));
    desktop.fileAnswers.push_back(path(QStringLiteral("letters.txt")));
    button("cmdGlu")->click();
    runToEnd();
    EXPECT_EQ(contents(QStringLiteral("letters.txt")), QByteArray("abcdefghij"));
}

// A checksum file beside the header is shown before Glue is pressed; the
// glue then names the damaged chunk, and an unreadable one fails the analysis.
TEST_F(GluePanelTest, ChecksumsAreShownAndADamagedChunkIsNamed) {
    makeSmallDivision(QStringLiteral("s.hed"), QStringLiteral("s"));
    QByteArray sums;
    for (const char* chunk : {"abcd", "efgX", "ij"})
        sums += QCryptographicHash::hash(chunk, QCryptographicHash::Sha256).toHex() + "  s_" +
                QByteArray::number(sums.count('\n') + 1) + ".div\n";
    QFile file(path(QStringLiteral("s.sha256")));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(sums);
    file.close();

    chooseHeader(path(QStringLiteral("s.hed")));
    EXPECT_EQ(label("lblGChecksum")->text(), QStringLiteral("s.sha256"));
    desktop.fileAnswers.push_back(path(QStringLiteral("letters.txt")));
    button("cmdGlu")->click();
    runToEnd();
    EXPECT_EQ(label("lblStatus")->text(),
              QStringLiteral("Application Error: 14  Chunk File Damaged: s_2.div"));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("Failed to glue files together."));
    EXPECT_FALSE(QFile::exists(path(QStringLiteral("letters.txt")))) << "nothing of the run stays";

    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(sums.left(70));
    file.close();
    chooseHeader(path(QStringLiteral("s.hed")));
    EXPECT_EQ(label("lblStatus")->text(),
              QStringLiteral("Application Error: 15  Invalid Checksum File"));
    ASSERT_EQ(desktop.messages.size(), 2u);
    EXPECT_EQ(desktop.messages[1].text, QStringLiteral("Header File Analysis Failed."));
    EXPECT_FALSE(panel("fraGlu")->isVisible());
}

struct RecoveryTextCase {
    int32_t recoveryChunks;
    const char* row;
    std::vector<int32_t> rebuilt;
    bool inPlace;
    const char* rebuiltText;
    // Chunks of a set of `count` looked up after opening its header.
    morvane::ChunkCensus census;
    int32_t count;
    const char* censusText;
};

class RecoveryTextTest : public ::testing::TestWithParam<RecoveryTextCase> {};

// The glue panel's Recovery row, and what the status line adds to the
// success text once chunks were rebuilt.
TEST_P(RecoveryTextTest, CountsAndRebuiltChunksInWords) {
    const RecoveryTextCase& c = GetParam();
    EXPECT_EQ(morvane::recoveryChunksText(c.recoveryChunks).toStdString(), c.row);
    EXPECT_EQ(
        morvane::rebuiltChunksText(QStringLiteral("movie"), c.rebuilt, c.inPlace).toStdString(),
        c.rebuiltText);
    EXPECT_EQ(morvane::chunkCensusText(QStringLiteral("movie"), c.census, c.count).toStdString(),
              c.censusText);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecoveryTextTest,
    ::testing::Values(
        RecoveryTextCase{0, "none", {}, false, "", {4, 0, {}}, 4, "all present"},
        RecoveryTextCase{1,
                         "1 recovery chunk",
                         {2},
                         true,
                         "Rebuilt from recovery data: movie_2.div",
                         {4, 1, {2}},
                         4,
                         "movie_2.div missing"},
        RecoveryTextCase{2,
                         "2 recovery chunks",
                         {2, 5},
                         false,
                         "Rebuilt from recovery data: movie_2.div, movie_5.div (not written "
                         "back: the chunk folder cannot be written)",
                         {100000, 0, {}},
                         INT32_MAX,
                         "the first 100,000 present, the rest not looked up"},
        RecoveryTextCase{32768,
                         "32,768 recovery chunks",
                         {1, 2, 3, 10, 11},
                         true,
                         "Rebuilt from recovery data: movie_1.div, movie_2.div, movie_3.div "
                         "and 2 more",
                         {100000, 99997, {4, 5, 6}},
                         INT32_MAX,
                         "movie_4.div, movie_5.div, movie_6.div and 99,994 more missing among "
                         "the first 100,000"}));

// Waits for the glue's repair: the analysis finding the recovery data and
// glueFile rebuilding a lost chunk.
TEST_F(GluePanelTest, ALostChunkIsRebuiltAndNamedOnTheStatusLine) {
    makeFile(QStringLiteral("movie.avi"), 3000000);
    chooseFileToDivide(path(QStringLiteral("movie.avi")));
    typeChunkSize(QStringLiteral("1000000"));
    child<QSpinBox>("spnDRecovery")->setValue(1);
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    button("cmdDiv")->click();
    runToEnd();
    const QByteArray second = contents(QStringLiteral("movie_2.div"));
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("movie_2.div"))));
    // A glue into the chunks' folder killed mid-run, and a file of another program.
    makeFile(QStringLiteral(".movie.avi.Ab3dE6.morvane-part"), 3000);
    makeFile(QStringLiteral(".other.avi.Ab3dE6.morvane-part"), 10);

    chooseHeader(path(QStringLiteral("movie.hed")));
    EXPECT_EQ(statuses.back().toStdString(),
              "Removed 1 unfinished file of an interrupted run: 2.9 KB freed.");
    EXPECT_FALSE(QFile::exists(path(QStringLiteral(".movie.avi.Ab3dE6.morvane-part"))));
    EXPECT_TRUE(QFile::exists(path(QStringLiteral(".other.avi.Ab3dE6.morvane-part"))));
    EXPECT_EQ(label("lblGChunksFound")->text(), QStringLiteral("movie_2.div missing"));
    EXPECT_EQ(label("lblGRecovery")->text(), QStringLiteral("1 recovery chunk"));
    desktop.fileAnswers.push_back(path(QStringLiteral("restored.avi")));
    button("cmdGlu")->click();
    runToEnd();
    EXPECT_EQ(label("lblStatus")->text(),
              QStringLiteral("File Successfully Glued Together! Rebuilt from recovery data: "
                             "movie_2.div"));
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(contents(QStringLiteral("restored.avi")), contents(QStringLiteral("movie.avi")));
    EXPECT_EQ(contents(QStringLiteral("movie_2.div")), second);

    // The header lost: its recovery index, given by path, opens the set.
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("movie.hed"))));
    EXPECT_TRUE(window->openPath(path(QStringLiteral("movie.par2"))));
    EXPECT_EQ(label("lblGHeader")->text(), path(QStringLiteral("movie.hed")));
    EXPECT_EQ(label("lblGChunksFound")->text(), QStringLiteral("all present"));

    // Two chunks lost where one can be rebuilt: the reason, too long for
    // the status line, is whole in the message and the tooltip.
    for (const char* lost : {"movie_1.div", "movie_3.div"}) QFile::remove(path(lost));
    desktop.fileAnswers.push_back(path(QStringLiteral("again.avi")));
    button("cmdGlu")->click();
    runToEnd();
    const QString reason = label("lblStatus")->text();
    EXPECT_TRUE(reason.contains(QStringLiteral("2 recovery chunks needed")))
        << reason.toStdString();
    EXPECT_FALSE(reason.contains(QStringLiteral("slice")));
    EXPECT_EQ(label("lblStatus")->toolTip(), reason);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].details, reason);
}

// The recovery files of a first division lie beside a second one of the
// same names and sizes: the glue sets them aside and says so.
TEST_F(GluePanelTest, RecoveryDataOfAnotherDivisionIsNotedAndNotUsed) {
    for (const bool second : {false, true}) {
        makeFile(QStringLiteral("movie.avi"), 3000000, second);
        chooseFileToDivide(path(QStringLiteral("movie.avi")));
        typeChunkSize(QStringLiteral("1000000"));
        child<QSpinBox>("spnDRecovery")->setValue(second ? 0 : 1);
        desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
        button("cmdDiv")->click();
        runToEnd();
        for (const QString& name :
             {QStringLiteral("movie.par2"), QStringLiteral("movie.vol0+1.par2")})
            ASSERT_TRUE(second ? QFile::rename(path(u'o' + name), path(name))
                               : QFile::rename(path(name), path(u'o' + name)));
    }
    chooseHeader(path(QStringLiteral("movie.hed")));
    desktop.fileAnswers.push_back(path(QStringLiteral("restored.avi")));
    button("cmdGlu")->click();
    runToEnd();
    EXPECT_EQ(label("lblStatus")->text().toStdString(),
              "File Successfully Glued Together! (recovery data from another division: not used)");
    EXPECT_EQ(contents(QStringLiteral("restored.avi")), contents(QStringLiteral("movie.avi")));
}

TEST_F(GluePanelTest, CheckFindsADamagedChunkAndRepairMendsItInPlace) {
    makeFile(QStringLiteral("movie.avi"), 3000000);
    chooseFileToDivide(path(QStringLiteral("movie.avi")));
    typeChunkSize(QStringLiteral("1000000"));
    child<QSpinBox>("spnDRecovery")->setValue(1);
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    button("cmdDiv")->click();
    runToEnd();
    const QByteArray second = contents(QStringLiteral("movie_2.div"));
    {
        QFile damaged(path(QStringLiteral("movie_2.div")));
        ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
        damaged.write("damage");
    }

    chooseHeader(path(QStringLiteral("movie.hed")));
    EXPECT_FALSE(button("cmdRepair")->isEnabled());
    button("cmdCheck")->click();
    runToEnd();
    EXPECT_EQ(label("lblStatus")->text(),
              QStringLiteral("movie_2.div damaged: the recovery data can rebuild it"));
    ASSERT_TRUE(button("cmdRepair")->isEnabled());
    button("cmdRepair")->click();
    runToEnd();
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Repaired: movie_2.div"));
    EXPECT_EQ(contents(QStringLiteral("movie_2.div")), second);
    EXPECT_FALSE(button("cmdRepair")->isEnabled());
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(GluePanelTest, TheProposedNameIsOnlyTheLastPartOfTheStoredName) {
    makeHeader(QStringLiteral("odd.hed"), "../../etc\\dir/ev\x01il\tname.bin<b>", 4, 2, 3);
    chooseHeader(path(QStringLiteral("odd.hed")));
    // The summary shows the stored name as it is, as text.
    EXPECT_EQ(label("lblGBigFileName")->text(),
              QStringLiteral("../../etc\\dir/ev\x01il\tname.bin<b>"));
    EXPECT_EQ(label("lblGBigFileName")->textFormat(), Qt::PlainText);
    desktop.fileAnswers.push_back(std::nullopt);
    button("cmdGlu")->click();
    EXPECT_EQ(desktop.fileRequests.back().fileName, QStringLiteral("evilname.bin<b>"));

    makeHeader(QStringLiteral("dots.hed"), "..", 4, 2, 3);
    chooseHeader(path(QStringLiteral("dots.hed")));
    desktop.fileAnswers.push_back(std::nullopt);
    button("cmdGlu")->click();
    EXPECT_EQ(desktop.fileRequests.back().fileName, QStringLiteral("dots"));
}

TEST_F(GluePanelTest, AccessKeysActOnTheShownPanelOnly) {
    makeSmallDivision(QStringLiteral("a.hed"), QStringLiteral("a"));
    chooseHeader(path(QStringLiteral("a.hed")));
    desktop.fileAnswers.push_back(std::nullopt);
    QTest::keyClick(window.get(), Qt::Key_G, Qt::AltModifier);
    ASSERT_EQ(desktop.fileRequests.size(), 2u);
    EXPECT_EQ(desktop.fileRequests[1].title, QStringLiteral("Glue as"));
    // Both panels have "&Cancel": the hidden divide panel's does not count.
    QTest::keyClick(window.get(), Qt::Key_C, Qt::AltModifier);
    EXPECT_FALSE(panel("fraGlu")->isVisible());
    EXPECT_TRUE(welcomeShown());
    EXPECT_TRUE(action("mnuDivide")->isEnabled());
}

}  // namespace
