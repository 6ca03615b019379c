#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QProgressBar>
#include <QSpinBox>
#include <QTest>
#include <QToolTip>

#include "ui/elided_label.h"
#include "window_fixture.h"

namespace {

using morvane::FileDialogRequest;
using morvane::FileFilter;
using morvane::MessageIcon;

class DividePanelTest : public WindowTest {
  protected:
    // Chooses a file of `size` bytes and leaves the panel open on it.
    void openPanelOn(const QString& name, qint64 size, bool sparse = false) {
        makeFile(name, size, sparse);
        chooseFileToDivide(path(name));
        ASSERT_TRUE(panel("fraDiv")->isVisible());
    }
    QString numChunks() const { return label("lblDNumChunk")->text(); }
    QString lastChunk() const { return label("lblDLastChunkSize")->text(); }
    void selectUnit(int index) { unitList()->setCurrentIndex(index); }
    QSpinBox* recoveryBox() const { return child<QSpinBox>("spnDRecovery"); }
    QString recoveryPlan() const { return label("lblDRecovery")->text(); }
    // Goes to the Recovery box by its access key, types `text` over its
    // number and leaves it by Tab.
    void typeRecovery(const QString& text) {
        QTest::keyClick(window.get(), Qt::Key_R, Qt::AltModifier);
        ASSERT_EQ(QApplication::focusWidget(), recoveryBox());
        recoveryBox()->selectAll();
        QTest::keyClicks(recoveryBox(), text);
        QTest::keyClick(recoveryBox(), Qt::Key_Tab);
    }
};

TEST_F(DividePanelTest, ChoosingAFileShowsItAsOneChunkInBytes) {
    openPanelOn(QStringLiteral("big.bin"), 3000000);

    ASSERT_EQ(desktop.fileRequests.size(), 1u);
    const FileDialogRequest& request = desktop.fileRequests[0];
    EXPECT_EQ(request.kind, FileDialogRequest::Kind::Open);
    EXPECT_EQ(request.title, QStringLiteral("File to be divided"));
    EXPECT_EQ(request.filter, (FileFilter{QStringLiteral("All Files (*.*)"), {"*"}}));
    EXPECT_TRUE(request.fileMustExist);
    EXPECT_TRUE(request.folderMustExist);
    EXPECT_TRUE(request.hideReadOnly);
    EXPECT_FALSE(request.confirmOverwrite);
    EXPECT_EQ(request.fileName, QString());

    EXPECT_EQ(label("lblDFilename")->text(), path(QStringLiteral("big.bin")));
    EXPECT_EQ(label("lblDFilesize")->text(), QStringLiteral("3,000,000 bytes"));
    EXPECT_EQ(chunkBox()->text(), QStringLiteral("3000000."));
    EXPECT_EQ(unitList()->currentText(), QStringLiteral("Bytes"));
    EXPECT_EQ(lastChunk(), QStringLiteral("3,000,000 bytes"));
    EXPECT_EQ(numChunks(), QStringLiteral("1"));
    EXPECT_FALSE(welcomeShown());
    EXPECT_TRUE(action("mnuDivide")->isEnabled());
    EXPECT_FALSE(action("mnuGlue")->isEnabled());
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Status"));
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(DividePanelTest, AnyOtherFileGivenByPathOrDroppedIsChosenAsInTheDialog) {
    makeFile(QStringLiteral("big.bin"), 3000000);
    makeFile(QStringLiteral("other.bin"), 10);
    const QString file = path(QStringLiteral("big.bin"));
    // One local file only, and no folder.
    for (const QList<QUrl>& refused :
         {QList<QUrl>{QUrl::fromLocalFile(file), QUrl::fromLocalFile(path("other.bin"))},
          QList<QUrl>{QUrl(QStringLiteral("https://morvane.example/big.bin"))},
          QList<QUrl>{QUrl::fromLocalFile(dir.path())}, QList<QUrl>{}})
        EXPECT_FALSE(drop(refused));
    EXPECT_TRUE(welcomeShown());
    // The boxes leave a dropped file to the window.
    EXPECT_FALSE(chunkBox()->acceptDrops());
    EXPECT_FALSE(recoveryBox()->findChild<QLineEdit*>()->acceptDrops());

    for (bool dropped : {false, true}) {
        SCOPED_TRACE(dropped ? "dropped" : "given by path");
        EXPECT_TRUE(dropped ? drop({QUrl::fromLocalFile(file)}) : window->openPath(file));
        EXPECT_TRUE(panel("fraDiv")->isVisible());
        EXPECT_EQ(label("lblDFilename")->text(), file);
        EXPECT_EQ(chunkBox()->text(), QStringLiteral("3000000."));
        EXPECT_EQ(unitList()->currentText(), QStringLiteral("Bytes"));
        EXPECT_FALSE(action("mnuGlue")->isEnabled());
        EXPECT_FALSE(window->openPath(path(QStringLiteral("big.hed"))));
        EXPECT_TRUE(desktop.fileRequests.empty());
        EXPECT_TRUE(desktop.messages.empty());
        QTest::mouseClick(button("cmdDCancel"), Qt::LeftButton);
    }

    window->openPath(path(QStringLiteral("missing.bin")));
    EXPECT_EQ(label("lblStatus")->text(),
              QStringLiteral("System Error: 2  No such file or directory"));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("File Analysis Failed"));
    EXPECT_TRUE(welcomeShown());
    desktop.fileAnswers.push_back(std::nullopt);
    action("mnuDivide")->trigger();
    EXPECT_EQ(desktop.fileRequests.back().fileName, path(QStringLiteral("missing.bin")));
}

TEST_F(DividePanelTest, AFailedAnalysisSaysSoAndDropsTheFile) {
    makeFile(QStringLiteral("empty.bin"), 0);
    chooseFileToDivide(path(QStringLiteral("empty.bin")));
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Application Error: 5  Zero Length File"));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("File Analysis Failed"));
    EXPECT_EQ(desktop.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(welcomeShown());
    EXPECT_TRUE(action("mnuGlue")->isEnabled());

    chooseFileToDivide(path(QStringLiteral("missing.bin")));
    EXPECT_EQ(label("lblStatus")->text(),
              QStringLiteral("System Error: 2  No such file or directory"));
    EXPECT_EQ(desktop.messages.size(), 2u);
}

struct EntryCase {
    qint64 fileSize;
    int unit;
    const char* entry;
    const char* box;
    const char* last;
    const char* count;
    bool advice;
};

class ChunkEntryTest : public DividePanelTest, public ::testing::WithParamInterface<EntryCase> {};

TEST_P(ChunkEntryTest, CommitsNumberTimesUnitOnLeavingTheBox) {
    const EntryCase& c = GetParam();
    openPanelOn(QStringLiteral("data.bin"), c.fileSize);
    selectUnit(c.unit);
    typeChunkSize(QString::fromUtf8(c.entry));
    EXPECT_EQ(QApplication::focusWidget(), unitList());
    EXPECT_EQ(chunkBox()->text().toStdString(), c.box);
    EXPECT_EQ(lastChunk().toStdString(), c.last);
    EXPECT_EQ(numChunks().toStdString(), c.count);
    ASSERT_EQ(desktop.messages.size(), c.advice ? 1u : 0u);
    if (c.advice) {
        EXPECT_EQ(desktop.messages[0].text, kAdviceMessage);
        EXPECT_EQ(desktop.messages[0].icon, MessageIcon::Information);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChunkEntryTest,
    ::testing::Values(EntryCase{3072, 1, "1.5", "1.5", "1,536 bytes", "2", false},
                      EntryCase{3000000, 0, "1,024", "1.", "1 bytes", "3,000,000", true},
                      EntryCase{3000000, 0, " 1 000 000 ", "1000000.", "1,000,000 bytes", "3",
                                false},
                      EntryCase{3000000, 1, "1e3", "1000.", "952,000 bytes", "3", false},
                      EntryCase{3000000, 1, "1D3", "1000.", "952,000 bytes", "3", false},
                      EntryCase{3000000, 2, "2", "2.", "902,848 bytes", "2", false},
                      EntryCase{10, 0, "2.5", "2.", "2 bytes", "5", false},
                      EntryCase{10, 0, "3.5", "4.", "2 bytes", "3", false},
                      EntryCase{1000000, 0, "1000", "1000.", "1,000 bytes", "1,000", false},
                      EntryCase{1001000, 0, "1000", "1000.", "1,000 bytes", "1,001", true},
                      EntryCase{3000000, 0, "3000000", "3000000.", "3,000,000 bytes", "1", false}));

struct RefusedCase {
    const char* entry;
};

class RefusedEntryTest : public DividePanelTest,
                         public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedEntryTest, KeepsThePreviousSizeAndShowsTheDividersError) {
    openPanelOn(QStringLiteral("data.bin"), 3000000);
    selectUnit(0);
    typeChunkSize(QString::fromUtf8(GetParam().entry));
    EXPECT_EQ(label("lblStatus")->text(),
              QStringLiteral("Application Error: 4  Invalid Chunk Size"));
    EXPECT_EQ(chunkBox()->text(), QStringLiteral("3000000."));
    EXPECT_EQ(numChunks(), QStringLiteral("1"));
    EXPECT_TRUE(desktop.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, RefusedEntryTest,
                         ::testing::Values(RefusedCase{"abc"}, RefusedCase{"0"}, RefusedCase{"-5"},
                                           RefusedCase{"3000001"}, RefusedCase{"-1E300"}));

struct RecoveryCase {
    qint64 fileSize;
    const char* chunkSize;
    const char* typed;
    int most;
    int value;
    const char* plan;
};

class RecoveryPlanTest : public DividePanelTest,
                         public ::testing::WithParamInterface<RecoveryCase> {};

TEST_P(RecoveryPlanTest, TheBoxGoesUpToWhatThePlanAllowsAndThePlanShowsWhatItAdds) {
    const RecoveryCase& c = GetParam();
    openPanelOn(QStringLiteral("data.bin"), c.fileSize, /*sparse=*/true);
    selectUnit(0);
    typeChunkSize(QString::fromUtf8(c.chunkSize));
    typeRecovery(QString::fromUtf8(c.typed));
    EXPECT_EQ(recoveryBox()->minimum(), 0);
    EXPECT_EQ(recoveryBox()->maximum(), c.most);
    EXPECT_EQ(recoveryBox()->value(), c.value);
    EXPECT_EQ(recoveryPlan().toStdString(), c.plan);
    EXPECT_EQ(recoveryBox()->accessibleDescription(), recoveryPlan());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecoveryPlanTest,
    ::testing::Values(
        RecoveryCase{3000000, "1000000", "2", 5, 2, "2 recovery chunks, 2,000,000 bytes"},
        RecoveryCase{3000000, "3000000", "1", 3, 1, "1 recovery chunk, 3,000,000 bytes"},
        RecoveryCase{3000000, "3000000", "9", 3, 0, "none"},
        RecoveryCase{3000000, "1000000", "0", 5, 0, "none"},
        RecoveryCase{32766, "1", "0", 32768, 0, "none"},
        RecoveryCase{32767, "1", "1", 0, 0, "none (too many chunks for recovery data)"}));

TEST_F(DividePanelTest, TheRecoveryNumberFollowsThePlanAndANewFileStartsWithout) {
    openPanelOn(QStringLiteral("data.bin"), 3000000);
    typeChunkSize(QStringLiteral("1000000"));
    typeRecovery(QStringLiteral("5"));
    EXPECT_EQ(recoveryPlan(), QStringLiteral("5 recovery chunks, 5,000,000 bytes"));
    // One chunk allows three: the number comes down to it.
    typeChunkSize(QStringLiteral("3000000"));
    EXPECT_EQ(recoveryBox()->maximum(), 3);
    EXPECT_EQ(recoveryBox()->value(), 3);
    EXPECT_EQ(recoveryPlan(), QStringLiteral("3 recovery chunks, 9,000,000 bytes"));
    // A unit change keeps it.
    selectUnit(1);
    EXPECT_EQ(recoveryBox()->value(), 3);

    chooseFileToDivide(path(QStringLiteral("data.bin")));
    EXPECT_EQ(recoveryBox()->value(), 0);
    EXPECT_EQ(recoveryPlan(), QStringLiteral("none"));
}

TEST_F(DividePanelTest, AnAcceptedSizeAfterARefusedOneClearsTheStatusLine) {
    openPanelOn(QStringLiteral("data.bin"), 3000000);
    typeChunkSize(QStringLiteral("0"));
    EXPECT_EQ(label("lblStatus")->text(),
              QStringLiteral("Application Error: 4  Invalid Chunk Size"));
    typeChunkSize(QStringLiteral("1000000"));
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Status"));
    EXPECT_EQ(numChunks(), QStringLiteral("3"));
}

TEST_F(DividePanelTest, TheLargestSizeIsAcceptedAndOneMoreKilobyteIsTooBig) {
    openPanelOn(QStringLiteral("huge.bin"), 2000000000, /*sparse=*/true);
    selectUnit(1);
    typeChunkSize(QStringLiteral("1953125"));
    EXPECT_EQ(chunkBox()->text(), QStringLiteral("1953125."));
    EXPECT_EQ(lastChunk(), QStringLiteral("2,000,000,000 bytes"));
    EXPECT_TRUE(desktop.messages.empty());

    // The focus goes back into the box with its text selected, and the
    // divider keeps its chunk size.
    std::vector<QWidget*> focusDuringMessage;
    desktop.onMessage = [&](const ScriptedDesktop::Message&) {
        focusDuringMessage.push_back(QApplication::focusWidget());
    };
    typeChunkSize(QStringLiteral("1953126"));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("Chunk Size Too Big."));
    EXPECT_EQ(desktop.messages[0].icon, MessageIcon::Error);
    EXPECT_EQ(QApplication::focusWidget(), chunkBox());
    EXPECT_EQ(chunkBox()->text(), QStringLiteral("1953126"));
    EXPECT_EQ(chunkBox()->selectedText(), QStringLiteral("1953126"));
    EXPECT_EQ(lastChunk(), QStringLiteral("2,000,000,000 bytes"));

    typeChunkSize(QStringLiteral("1E400"));
    EXPECT_EQ(desktop.messages.size(), 2u);
    EXPECT_EQ(desktop.messages[1].text, QStringLiteral("Chunk Size Too Big."));
    EXPECT_EQ(focusDuringMessage.size(), 2u);
}

TEST_F(DividePanelTest, SwitchingUnitsReexpressesTheSizeAndLeavingTheBoxCommitsIt) {
    openPanelOn(QStringLiteral("data.bin"), 3000000);
    typeChunkSize(QStringLiteral("1000000"));
    EXPECT_EQ(numChunks(), QStringLiteral("3"));
    // With the focus on the list, the arrow keys pick KB, then MB.
    QTest::keyClick(unitList(), Qt::Key_Down);
    EXPECT_EQ(chunkBox()->text(), QStringLiteral("976.56"));
    QTest::keyClick(unitList(), Qt::Key_Down);
    EXPECT_EQ(unitList()->currentText(), QStringLiteral("MB"));
    EXPECT_EQ(chunkBox()->text(), QStringLiteral(".95"));
    EXPECT_EQ(numChunks(), QStringLiteral("3"));

    // Back into the box and out again without typing: .95 MB is committed.
    QTest::keyClick(unitList(), Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), chunkBox());
    EXPECT_EQ(chunkBox()->selectedText(), QStringLiteral(".95"));
    QTest::keyClick(chunkBox(), Qt::Key_Tab);
    EXPECT_EQ(numChunks(), QStringLiteral("4"));
    EXPECT_EQ(lastChunk(), QStringLiteral("11,559 bytes"));  // 3,000,000 - 3 x 996,147
    selectUnit(0);
    EXPECT_EQ(chunkBox()->text(), QStringLiteral("996147."));
}

TEST_F(DividePanelTest, OpeningTheUnitListCommitsTheTypedSizeFirst) {
    openPanelOn(QStringLiteral("data.bin"), 3000000);
    selectUnit(1);
    chunkBox()->setFocus();
    chunkBox()->selectAll();
    QTest::keyClicks(chunkBox(), QStringLiteral("10"));
    QTest::mouseClick(unitList(), Qt::LeftButton);
    unitList()->hidePopup();
    EXPECT_EQ(numChunks(), QStringLiteral("293"));  // 10,240-byte chunks
    selectUnit(2);
    EXPECT_EQ(chunkBox()->text(), QStringLiteral(".01"));
}

TEST_F(DividePanelTest, EnterCommitsInPlaceAndLeavingCommitsAgain) {
    openPanelOn(QStringLiteral("data.bin"), 1001000);
    chunkBox()->setFocus();
    QTest::keyClicks(chunkBox(), QStringLiteral("1000"));
    QTest::keyClick(chunkBox(), Qt::Key_Return);
    EXPECT_EQ(QApplication::focusWidget(), chunkBox());
    EXPECT_EQ(numChunks(), QStringLiteral("1,001"));
    EXPECT_EQ(desktop.messages.size(), 1u);
    QTest::keyClick(chunkBox(), Qt::Key_Tab);
    EXPECT_EQ(desktop.messages.size(), 2u);
    // Every refill of the panel repeats the advice, a unit change too.
    selectUnit(1);
    ASSERT_EQ(desktop.messages.size(), 3u);
    EXPECT_EQ(desktop.messages[2].text, kAdviceMessage);
}

TEST_F(DividePanelTest, TheBoxSelectsItsTextWheneverItGetsTheFocus) {
    openPanelOn(QStringLiteral("data.bin"), 5000);
    QTest::mouseClick(chunkBox(), Qt::LeftButton, {}, QPoint(5, 5));
    QApplication::processEvents();
    EXPECT_EQ(chunkBox()->selectedText(), QStringLiteral("5000."));
    QTest::keyClick(chunkBox(), Qt::Key_Tab);
    // The caption's access key.
    QTest::keyClick(window.get(), Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(QApplication::focusWidget(), chunkBox());
    EXPECT_EQ(chunkBox()->selectedText(), QStringLiteral("5000."));
}

TEST_F(DividePanelTest, OpeningTheMenuDoesNotCommit) {
    openPanelOn(QStringLiteral("data.bin"), 3000000);
    chunkBox()->setFocus();
    chunkBox()->selectAll();
    QTest::keyClicks(chunkBox(), QStringLiteral("abc"));
    const int before = statuses.size();
    // A file dialog takes the focus away from the window: no commit either.
    desktop.fileAnswers.push_back(std::nullopt);
    QTest::keyClick(window.get(), Qt::Key_I, Qt::ControlModifier);
    QFocusEvent toMenu(QEvent::FocusOut, Qt::PopupFocusReason);
    QApplication::sendEvent(chunkBox(), &toMenu);
    QFocusEvent deactivated(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(chunkBox(), &deactivated);
    EXPECT_EQ(statusesSince(before), QStringList());
    EXPECT_EQ(chunkBox()->text(), QStringLiteral("abc"));
}

TEST_F(DividePanelTest, AClickThatBringsUpAMessageIsDroppedNotHalfDone) {
    openPanelOn(QStringLiteral("data.bin"), 3000000);
    chunkBox()->setFocus();
    chunkBox()->selectAll();
    QTest::keyClicks(chunkBox(), QStringLiteral("1E400"));
    QTest::mouseClick(button("cmdDiv"), Qt::LeftButton);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("Chunk Size Too Big."));
    EXPECT_FALSE(button("cmdDiv")->isDown());
    EXPECT_EQ(QApplication::focusWidget(), chunkBox());
    EXPECT_EQ(chunkBox()->selectedText(), QStringLiteral("1E400"));
    EXPECT_EQ(desktop.fileRequests.size(), 1u);  // no "Divide as"

    // The next click is a click again.
    typeChunkSize(QStringLiteral("1000000"));
    desktop.fileAnswers.push_back(std::nullopt);
    QTest::mouseClick(button("cmdDiv"), Qt::LeftButton);
    ASSERT_EQ(desktop.fileRequests.size(), 2u);
    EXPECT_EQ(desktop.fileRequests[1].title, QStringLiteral("Divide as"));
}

TEST_F(DividePanelTest, TheDivideAccessKeyCommitsTheBoxBeforeItActs) {
    openPanelOn(QStringLiteral("movie.part1.avi"), 3000000);
    // On a desktop the window is active again only a moment after a message
    // box has gone; here another window keeps the activation meanwhile.
    QWidget elsewhere;
    desktop.onMessage = [&elsewhere](const ScriptedDesktop::Message&) {
        elsewhere.show();
        elsewhere.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere, 30000));
    };
    const auto accessKey = [this](Qt::Key key) {
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), 30000));
        QTest::keyClick(window.get(), key, Qt::AltModifier);
    };
    chunkBox()->setFocus();
    chunkBox()->selectAll();
    QTest::keyClicks(chunkBox(), QStringLiteral("1E400"));
    accessKey(Qt::Key_D);
    EXPECT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(window->focusWidget(), chunkBox());
    EXPECT_EQ(desktop.fileRequests.size(), 1u);
    // A key press that brought up a message ends there: Cancel's too, and
    // one that brought up the advice on many chunks.
    accessKey(Qt::Key_C);
    EXPECT_EQ(desktop.messages.size(), 2u);
    EXPECT_TRUE(panel("fraDiv")->isVisible());
    chunkBox()->setFocus();
    chunkBox()->selectAll();
    QTest::keyClicks(chunkBox(), QStringLiteral("1000"));
    accessKey(Qt::Key_D);
    ASSERT_EQ(desktop.messages.size(), 3u);
    EXPECT_EQ(desktop.messages[2].text, kAdviceMessage);
    EXPECT_EQ(desktop.fileRequests.size(), 1u);
    desktop.onMessage = nullptr;
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), 30000));

    QStringList chunksWhenAsked;
    desktop.onFileDialog = [&](const FileDialogRequest&) { chunksWhenAsked << numChunks(); };
    desktop.fileAnswers.push_back(std::nullopt);
    chunkBox()->setFocus();
    chunkBox()->selectAll();
    QTest::keyClicks(chunkBox(), QStringLiteral("1000000"));
    QTest::keyClick(window.get(), Qt::Key_D, Qt::AltModifier);
    ASSERT_EQ(desktop.fileRequests.size(), 2u);
    EXPECT_EQ(chunksWhenAsked, QStringList{QStringLiteral("3")});

    const FileDialogRequest& request = desktop.fileRequests[1];
    EXPECT_EQ(request.kind, FileDialogRequest::Kind::Save);
    EXPECT_EQ(request.title, QStringLiteral("Divide as"));
    EXPECT_EQ(request.filter,
              (FileFilter{QStringLiteral("Division Header Files (*.hed)"), {"*.hed"}}));
    EXPECT_EQ(request.fileName, QStringLiteral("movie.part1.hed"));
    EXPECT_EQ(request.startFolder, dir.path() + u'/');
    EXPECT_TRUE(request.confirmOverwrite);
    EXPECT_TRUE(request.folderMustExist);
    EXPECT_TRUE(request.hideReadOnly);
    // Cancelled: the panel stays as it was.
    EXPECT_TRUE(panel("fraDiv")->isVisible());
    EXPECT_EQ(numChunks(), QStringLiteral("3"));
}

TEST_F(DividePanelTest, DividesIntoThreeChunksFollowingTheRunOnTheStatusLine) {
    openPanelOn(QStringLiteral("movie.avi"), 25000000);
    typeChunkSize(QStringLiteral("10000000"));
    desktop.fileAnswers.push_back(path(QStringLiteral("notes.txt")));
    const int before = statuses.size();
    // The busy cursor while the run writes the status line, none after it.
    QList<int> cursors;
    QObject::connect(window.get(), &morvane::frmMain::statusChanged, [&cursors] {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        cursors << (cursor ? cursor->shape() : -1);
    });
    QTest::mouseClick(button("cmdDiv"), Qt::LeftButton);
    runToEnd();
    EXPECT_EQ(cursors.mid(2, 4), QList<int>(4, Qt::BusyCursor));
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    EXPECT_EQ(statusesSince(before),
              (QStringList{"Status", "Status", "Generating Division Header File...",
                           "Processing 1 of 3 Chunks. (33.3%)", "Processing 2 of 3 Chunks. (66.7%)",
                           "Processing 3 of 3 Chunks. (100.0%)", "Status",
                           "File Successfully Divided!"}));
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("File Successfully Divided!"));
    EXPECT_EQ(label("lblStatus")->toolTip(),
              QStringLiteral("Written to %1/: notes.hed and 3 chunks.").arg(dir.path()));
    EXPECT_TRUE(welcomeShown());
    EXPECT_FALSE(panel("fraDiv")->isVisible());
    EXPECT_TRUE(action("mnuDivide")->isEnabled());
    EXPECT_TRUE(action("mnuGlue")->isEnabled());
    EXPECT_TRUE(desktop.messages.empty());

    // The header takes the prefix of the typed name, whatever its extension.
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("notes.hed"))));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("notes.txt"))));
    const QByteArray original = contents(QStringLiteral("movie.avi"));
    EXPECT_EQ(contents(QStringLiteral("notes_1.div")), original.mid(0, 10000000));
    EXPECT_EQ(contents(QStringLiteral("notes_2.div")), original.mid(10000000, 10000000));
    EXPECT_EQ(contents(QStringLiteral("notes_3.div")), original.mid(20000000));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).join(u' ').toStdString(),
              "movie.avi notes.hed notes.sha256 notes_1.div notes_2.div notes_3.div")
        << "without recovery chunks the division writes no recovery data";

    // The divider is gone with the run: dividing again means choosing again.
    button("cmdDiv")->click();
    EXPECT_EQ(desktop.fileRequests.size(), 2u);
}

TEST_F(DividePanelTest, ARunShowsItsShareDoneAndTheTimeLeft) {
    openPanelOn(QStringLiteral("movie.avi"), 25000000);
    typeChunkSize(QStringLiteral("10000000"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    auto* bar = child<QProgressBar>("prgRun");
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(button("cmdStop")->isVisible());
    int shownValue = -1;
    QString shownLeft, spokenValue, spokenLeft, barText, statusText;
    QAccessible::Role role = QAccessible::NoRole;
    // With the first chunk done and the second begun, once the strip has
    // caught up and a second has passed.
    whenStatusShows(QStringLiteral("Processing 2 of 3 Chunks. (66.7%)"), 10001000, [&] {
        // The bar counts what the status line counts, once it has caught up.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                barText = bar->text();
                statusText = label("lblStatus")->text();
                return statusText.endsWith(u'(' + barText + u')') &&
                       !label("lblTimeLeft")->text().isEmpty();
            },
            60000))
            << barText.toStdString() << " / " << statusText.toStdString();
        shownValue = bar->value();
        shownLeft = label("lblTimeLeft")->text();
        QAccessibleInterface* spoken = QAccessible::queryAccessibleInterface(bar);
        ASSERT_NE(spoken, nullptr);
        role = spoken->role();
        ASSERT_NE(spoken->valueInterface(), nullptr);
        spokenValue = spoken->valueInterface()->currentValue().toString();
        spokenLeft = spoken->text(QAccessible::Description);
    });
    button("cmdDiv")->click();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_TRUE(button("cmdStop")->isVisible());
    runToEnd();

    EXPECT_TRUE(statusText.endsWith(u'(' + barText + u')')) << barText.toStdString();
    EXPECT_EQ(shownValue, qRound(barText.chopped(1).toDouble() * 10));
    EXPECT_EQ(role, QAccessible::ProgressBar);
    EXPECT_EQ(spokenValue, QString::number(shownValue));
    // What is left depends on the machine's pace; that it is said does not.
    EXPECT_TRUE(shownLeft.endsWith(QStringLiteral(" left"))) << shownLeft.toStdString();
    EXPECT_EQ(spokenLeft, shownLeft);
    EXPECT_FALSE(bar->isVisible());
    EXPECT_FALSE(label("lblTimeLeft")->isVisible());
    EXPECT_EQ(label("lblStatus")->width(), 595) << "the status line keeps its row after the run";
    // The taskbar follows the share done and is cleared at the end; the
    // machine stays awake for the run only; an active window is not told.
    ASSERT_GE(desktop.runProgress.size(), 3u);
    EXPECT_EQ(desktop.runProgress.front(), std::optional<double>(0.0));
    EXPECT_TRUE(std::any_of(
        desktop.runProgress.begin(), desktop.runProgress.end(),
        [](std::optional<double> shown) { return shown && *shown >= 0.4 && *shown < 0.5; }));
    EXPECT_EQ(desktop.runProgress.back(), std::nullopt);
    EXPECT_EQ(desktop.sleepRequests, (QStringList{"inhibit: Dividing movie.avi", "allow"}));
    EXPECT_TRUE(desktop.notifications.empty());
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("File Successfully Divided!"));
}

TEST_F(DividePanelTest, ADivisionWithOneRecoveryChunkWritesTheRecoveryFiles) {
    openPanelOn(QStringLiteral("movie.avi"), 3000000);
    typeChunkSize(QStringLiteral("1000000"));
    typeRecovery(QStringLiteral("1"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    // The run keeps the number it started with: the box too.
    int duringRun = -1;
    whenStatusShows(QStringLiteral("Processing 1 of 3 Chunks. (33.3%)"), 1000, [&] {
        recoveryBox()->setValue(0);
        duringRun = recoveryBox()->value();
    });
    button("cmdDiv")->click();
    runToEnd();

    EXPECT_EQ(duringRun, 1);
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("File Successfully Divided!"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).join(u' ').toStdString(),
              "movie.avi movie.hed movie.par2 movie.sha256 movie.vol0+1.par2 movie_1.div "
              "movie_2.div movie_3.div");
    EXPECT_GE(QFileInfo(path(QStringLiteral("movie.vol0+1.par2"))).size(), 1000000);

    // Divided again over it: the overwrite question lists the whole set.
    openPanelOn(QStringLiteral("movie.avi"), 3000000);
    typeChunkSize(QStringLiteral("1500000"));
    QStringList replaced;
    desktop.onFileDialog = [&](const morvane::FileDialogRequest& request) {
        replaced = request.replacedBy(path(QStringLiteral("movie.hed")));
    };
    desktop.fileAnswers.push_back(std::nullopt);
    button("cmdDiv")->click();
    EXPECT_EQ(replaced.join(u' ').toStdString(),
              "movie.hed movie.par2 movie.sha256 movie.vol0+1.par2 movie_1.div movie_2.div");
}

TEST_F(DividePanelTest, StopEndsADivisionAndLeavesNothing) {
    openPanelOn(QStringLiteral("movie.avi"), 25000000);
    selectUnit(1);
    typeChunkSize(QStringLiteral("9765.63"));
    typeRecovery(QStringLiteral("1"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    whenStatusShows(QStringLiteral("Processing 1 of 3 Chunks. (33.3%)"), 1000, [&] {
        EXPECT_EQ(button("cmdStop")->accessibleName(), QStringLiteral("Stop"));
        // Escape, then Stop, which changes nothing more.
        QTest::keyClick(window.get(), Qt::Key_Escape);
        EXPECT_EQ(label("lblPhase")->text(), QStringLiteral("Stopping…"));
        EXPECT_FALSE(button("cmdStop")->isEnabled());
        EXPECT_FALSE(button("cmdDiv")->isEnabled() || chunkBox()->isEnabled());
        QTest::mouseClick(button("cmdStop"), Qt::LeftButton);
    });
    const int before = statuses.size();
    button("cmdDiv")->click();
    runToEnd();

    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Division stopped."));
    EXPECT_EQ(statusesSince(before).filter(QStringLiteral("Success")), QStringList());
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_TRUE(welcomeShown());
    EXPECT_FALSE(panel("fraDiv")->isVisible());
    EXPECT_TRUE(action("mnuGlue")->isEnabled());
    EXPECT_FALSE(button("cmdStop")->isVisible());
    EXPECT_EQ(desktop.sleepRequests.last(), QStringLiteral("allow"));
    // The divider went with the run.
    button("cmdDiv")->click();
    EXPECT_EQ(desktop.fileRequests.size(), 2u);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).join(u' ').toStdString(), "movie.avi")
        << "the stopped division left files behind";
    // Opened again, the file comes back with what the stopped run was asked for.
    ASSERT_TRUE(window->openPath(path(QStringLiteral("movie.avi"))));
    EXPECT_EQ(unitList()->currentText(), QStringLiteral("KB"));
    EXPECT_EQ(label("lblDNumChunk")->text(), QStringLiteral("3"));
    EXPECT_EQ(recoveryBox()->value(), 1);
    EXPECT_TRUE(button("cmdDiv")->isEnabled() && chunkBox()->isEnabled());
}

TEST_F(DividePanelTest, AHeaderNameWithoutPrefixFailsTheRunAndClosesThePanel) {
    openPanelOn(QStringLiteral("movie.avi"), 1000);
    desktop.fileAnswers.push_back(path(QStringLiteral(".hed")));
    button("cmdDiv")->click();
    runToEnd();
    EXPECT_EQ(label("lblStatus")->text(),
              QStringLiteral("Application Error: 3  Invalid Chunk Prefix"));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, QStringLiteral("Failed to divide the file."));
    EXPECT_EQ(desktop.messages[0].icon, MessageIcon::Error);
    EXPECT_TRUE(welcomeShown());
    EXPECT_FALSE(panel("fraDiv")->isVisible());
    EXPECT_TRUE(action("mnuGlue")->isEnabled());
}

TEST_F(DividePanelTest, ANameWithoutDotGetsTheHeaderExtension) {
    openPanelOn(QStringLiteral("movie.avi"), 1000);
    desktop.fileAnswers.push_back(path(QStringLiteral("pieces")));
    button("cmdDiv")->click();
    runToEnd();
    EXPECT_TRUE(QFileInfo::exists(path(QStringLiteral("pieces.hed"))));
    EXPECT_EQ(contents(QStringLiteral("pieces_1.div")), contents(QStringLiteral("movie.avi")));
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("File Successfully Divided!"));
}

TEST_F(DividePanelTest, AFileNameIsShownAsPlainText) {
    openPanelOn(QStringLiteral("<i>bold<br>&amp;.bin"), 10);
    EXPECT_EQ(label("lblDFilename")->text(), path(QStringLiteral("<i>bold<br>&amp;.bin")));
    EXPECT_EQ(label("lblDFilename")->textFormat(), Qt::PlainText);
}

TEST_F(DividePanelTest, ALongNameIsCutInTheMiddleAndKeptWhole) {
    const QString name = QString(150, u'n') + QStringLiteral("-end.bin");
    openPanelOn(name, 10);
    auto* value = qobject_cast<morvane::ElidedLabel*>(label("lblDFilename"));
    ASSERT_NE(value, nullptr);
    // Screen readers and the engines get the whole path.
    EXPECT_EQ(value->text(), path(name));
    const QString shown = value->shownText();
    EXPECT_TRUE(shown.contains(u'…') && shown.endsWith(QStringLiteral("-end.bin")))
        << shown.toStdString();
    EXPECT_LE(value->fontMetrics().horizontalAdvance(shown), value->contentsRect().width());
    QHelpEvent hover(QEvent::ToolTip, QPoint(5, 5), value->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(value, &hover);
    EXPECT_EQ(QToolTip::text(), path(name));
}

}  // namespace
