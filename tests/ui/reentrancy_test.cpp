#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

#include "engine/division_header.h"
#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "window_fixture.h"

namespace {

// Bytes written or copied by the time a run of chunks of 10,000,000 bytes is
// inside its first or its second chunk: a division has also written its
// header, of a few bytes.
constexpr int64_t kIntoChunk1 = 1000;
constexpr int64_t kIntoChunk2 = 10001000;

// While a run goes on, its notifications reach the window from the run's
// thread and the window takes input meanwhile: these tests give input at
// such moments and check that it starts nothing and releases nothing.
class ReentrancyTest : public WindowTest {
  protected:
    void openDividePanel(qint64 size, const QString& chunkSize) {
        makeFile(QStringLiteral("movie.avi"), size);
        chooseFileToDivide(path(QStringLiteral("movie.avi")));
        typeChunkSize(chunkSize);
    }
};

TEST_F(ReentrancyTest, InputDuringADivisionStartsNothingAndReleasesNothing) {
    openDividePanel(25000000, QStringLiteral("10000000"));
    // Answers for dialogs the guard must not open stay in the script.
    desktop.fileAnswers = {path(QStringLiteral("movie.hed")), path(QStringLiteral("other.hed"))};
    bool busyMeanwhile = false;
    whenStatusShows(QStringLiteral("Processing 1 of 3 Chunks. (33.3%)"), kIntoChunk1, [&] {
        busyMeanwhile = window->isBusy();
        button("cmdDiv")->click();
        action("mnuDivide")->trigger();
        action("mnuGlue")->trigger();
        unitList()->setCurrentIndex(2);
        chunkBox()->setText(QStringLiteral("1"));
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(chunkBox(), &enter);
        QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(chunkBox(), &leave);
    });
    const int before = statuses.size();
    button("cmdDiv")->click();
    runToEnd();

    EXPECT_TRUE(busyMeanwhile);
    EXPECT_EQ(desktop.fileRequests.size(), 2u);
    EXPECT_EQ(desktop.fileAnswers.size(), 1u);
    desktop.fileAnswers.clear();
    EXPECT_EQ(unitList()->currentIndex(), 0);
    EXPECT_EQ(
        statusesSince(before).mid(2),
        (QStringList{"Generating Division Header File...", "Processing 1 of 3 Chunks. (33.3%)",
                     "Processing 2 of 3 Chunks. (66.7%)", "Processing 3 of 3 Chunks. (100.0%)",
                     "Status", "File Successfully Divided!"}));
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_EQ(QFileInfo(path(QStringLiteral("movie_3.div"))).size(), 5000000);
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("movie_4.div"))));
    EXPECT_TRUE(welcomeShown());
}

TEST_F(ReentrancyTest, AFileDroppedOrGivenDuringARunIsRefused) {
    openDividePanel(25000000, QStringLiteral("10000000"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    makeFile(QStringLiteral("other.avi"), 10);
    bool refused = false;
    whenStatusShows(QStringLiteral("Processing 1 of 3 Chunks. (33.3%)"), kIntoChunk1, [&] {
        refused = !drop({QUrl::fromLocalFile(path(QStringLiteral("other.avi")))}) &&
                  !window->openPath(path(QStringLiteral("other.avi")));
    });
    button("cmdDiv")->click();
    runToEnd();

    EXPECT_TRUE(refused);
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("File Successfully Divided!"));
    EXPECT_EQ(QFileInfo(path(QStringLiteral("movie_3.div"))).size(), 5000000);
    EXPECT_TRUE(welcomeShown());
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(ReentrancyTest, CancelDuringADivisionStopsItThenClosesThePanel) {
    openDividePanel(25000000, QStringLiteral("10000000"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    QString phase;
    bool stopEnabled = true, panelShown = false, openItemEnabled = true;
    whenStatusShows(QStringLiteral("Processing 1 of 3 Chunks. (33.3%)"), kIntoChunk1, [&] {
        QTest::mouseClick(button("cmdDCancel"), Qt::LeftButton);
        phase = label("lblPhase")->text();
        stopEnabled = button("cmdStop")->isEnabled();
        panelShown = panel("fraDiv")->isVisible();
        openItemEnabled = action("mnuGlue")->isEnabled() || action("mnuDivide")->isEnabled();
    });
    button("cmdDiv")->click();
    runToEnd();
    EXPECT_EQ(phase, QStringLiteral("Stopping…"));
    EXPECT_FALSE(stopEnabled);
    EXPECT_TRUE(panelShown) << "the panel closes once the run has ended";
    EXPECT_FALSE(openItemEnabled);
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Division stopped."));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("movie_3.div"))));
    EXPECT_TRUE(welcomeShown());
    EXPECT_TRUE(action("mnuGlue")->isEnabled());
}

TEST_F(ReentrancyTest, ClosingDuringADivisionAndYesStopsTheRunAndCloses) {
    openDividePanel(25000000, QStringLiteral("10000000"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    desktop.questionAnswers = {true};
    whenStatusShows(QStringLiteral("Processing 1 of 3 Chunks. (33.3%)"), kIntoChunk1, [&] {
        window->close();
        // Asked once: a second request while the run stops asks nothing.
        window->close();
        EXPECT_TRUE(window->isVisible());
    });
    button("cmdDiv")->click();
    runToEnd();
    EXPECT_EQ(desktop.questions.size(), 1);
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Division stopped."));
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 60000));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).join(u' ').toStdString(), "movie.avi")
        << "the stopped run left files behind";
}

TEST_F(ReentrancyTest, DestroyingTheWindowDuringARunStopsItAndWaitsForIt) {
    openDividePanel(25000000, QStringLiteral("10000000"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    // The run is held in its first chunk for a moment after the window is told to go.
    fileLayer->holdAfter(kIntoChunk1);
    button("cmdDiv")->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileLayer->holding(); }, 60000));
    std::atomic<bool> released{false};
    std::thread releaser([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        released = true;
        fileLayer->release();
    });
    window.reset();
    const bool waited = released;
    releaser.join();
    EXPECT_TRUE(waited) << "the window went before its run";
    const int64_t calls = fileLayer->dataCalls;
    QTest::qWait(300);
    EXPECT_EQ(fileLayer->dataCalls, calls) << "the run wrote after the window had gone";
    EXPECT_EQ(desktop.sleepRequests.last(), QStringLiteral("allow"));
    EXPECT_EQ(desktop.runProgress.back(), std::nullopt);
}

TEST_F(ReentrancyTest, InputDuringAGlueStartsNothingAndReleasesNothing) {
    makeFile(QStringLiteral("movie.avi"), 25000000);
    chooseFileToDivide(path(QStringLiteral("movie.avi")));
    typeChunkSize(QStringLiteral("10000000"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    button("cmdDiv")->click();
    runToEnd();

    chooseHeader(path(QStringLiteral("movie.hed")));
    desktop.fileAnswers = {path(QStringLiteral("copy.avi")), path(QStringLiteral("movie.hed"))};
    whenStatusShows(QStringLiteral("Processing 2 of 3 Chunks. (66.7%)"), kIntoChunk2, [&] {
        action("mnuGlue")->trigger();  // would replace the running engine
        button("cmdGlu")->click();
        window->close();                 // answered No
        action("mnuDivide")->trigger();  // disabled during the run
        QTest::mouseClick(button("cmdGCancel"), Qt::LeftButton);
    });
    button("cmdGlu")->click();
    runToEnd();

    EXPECT_EQ(desktop.fileAnswers.size(), 1u);
    desktop.fileAnswers.clear();
    EXPECT_EQ(desktop.questions, QStringList{"A glue is going on. Stop it and quit?"});
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Glue stopped."));
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("copy.avi"))));
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_TRUE(window->isVisible());
}

// A header read from a slow disk: the window answers and starts nothing
// else meanwhile; the panel keeps the set it shows until the new one is read.
TEST_F(ReentrancyTest, InputWhileAHeaderIsReadStartsNothing) {
    makeHeader(QStringLiteral("movie.hed"), "movie.avi", 10, 10, 1);
    chooseHeader(path(QStringLiteral("movie.hed")));
    fileLayer->headerOpenDelayMs = 500;
    QTimer::singleShot(100, window.get(), [&] {
        action("mnuGlue")->trigger();
        action("mnuDivide")->trigger();
        button("cmdGlu")->click();
        QTest::mouseClick(button("cmdGCancel"), Qt::LeftButton);
        EXPECT_FALSE(window->openPath(path(QStringLiteral("movie.hed"))));
    });
    const TickGaps gaps;
    chooseHeader(path(QStringLiteral("movie.hed")));
    QTest::qWait(20);
    std::printf("longest stall while a header was read %lld ms\n",
                static_cast<long long>(gaps.longestMs()));
    EXPECT_EQ(desktop.fileRequests.size(), 2u);
    EXPECT_TRUE(panel("fraGlu")->isVisible());
    EXPECT_FALSE(action("mnuDivide")->isEnabled());
    EXPECT_EQ(label("lblGChunksFound")->text(), QStringLiteral("movie_1.div missing"));
}

// Onto a disk of 10 MB/s, whose final flush takes a second more. How long
// the window's thread went unanswered is logged here and measured by the
// window bench; a loaded machine decides it, not the window.
TEST_F(ReentrancyTest, ARunOntoASlowDiskEndsAndLogsTheWindowsLongestStall) {
    fileLayer->bytesPerSecond = 10e6;
    fileLayer->flushDelayMs = 1000;
    openDividePanel(30000000, QStringLiteral("10000000"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    const TickGaps gaps;
    button("cmdDiv")->click();
    runToEnd();
    std::printf("longest stall of the window's thread %lld ms\n",
                static_cast<long long>(gaps.longestMs()));
    RecordProperty("longest_stall_ms", static_cast<int>(gaps.longestMs()));
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("File Successfully Divided!"));
}

// A run of several chunks of several blocks each: 30 MiB in chunks of
// 12,000,000 bytes is three chunks of 2, 2 and 1 blocks.
constexpr qint64 kLoadSize = 31457280;
constexpr int32_t kLoadChunk = 12000000;
constexpr int32_t kLoadLast = 7457280;

// At every notification of a run, input of every kind but a stop (Cancel,
// which stops the run, has its own test) is posted, each as
// its own event, for the window to meet while the run goes on. The run goes
// at a disk's pace, so that the window meets most of it during the run;
// what it meets only after the run's end is not given.
class StormTest : public ReentrancyTest {
  protected:
    void SetUp() override {
        ReentrancyTest::SetUp();
        fileLayer->bytesPerSecond = 200e6;
    }

    // Posts the storm on every status-line change while the window is busy,
    // and notes whether the window was busy at each.
    void stormEveryNotification() {
        QObject::connect(window.get(), &morvane::frmMain::statusChanged, &hooks,
                         [this](const QString&) {
                             busyAtEach.push_back(window->isBusy());
                             shownAtEach.push_back(window->isVisible());
                             if (window->isBusy()) postStorm();
                         });
    }

    void postStorm() {
        const auto post = [this](std::function<void()> act) {
            QTimer::singleShot(0, window.get(), [this, act = std::move(act)] {
                if (!window->isBusy()) return;
                ++inputsDuringTheRun;
                act();
            });
        };
        post([this] { button("cmdDiv")->click(); });
        post([this] { button("cmdGlu")->click(); });
        post([this] { QTest::keyClick(window.get(), Qt::Key_I, Qt::ControlModifier); });
        post([this] { QTest::keyClick(window.get(), Qt::Key_U, Qt::ControlModifier); });
        post([this] { QTest::keyClick(window.get(), Qt::Key_D, Qt::AltModifier); });
        post([this] { QTest::keyClick(window.get(), Qt::Key_G, Qt::AltModifier); });
        post([this] {
            chunkBox()->setText(QStringLiteral("1"));
            QTest::keyClick(chunkBox(), Qt::Key_Return);
        });
        post([this] {
            QFocusEvent leave(QEvent::FocusOut, Qt::TabFocusReason);
            QApplication::sendEvent(chunkBox(), &leave);
        });
        post([this] { unitList()->setCurrentIndex((unitList()->currentIndex() + 1) % 3); });
        post([this] { window->close(); });
        ++storms;
    }

    // Answers for dialogs that only a broken guard would open: a second
    // division or glue of the same files, or a new choice.
    void scriptSpareAnswers() {
        spareAnswers = {path(QStringLiteral("movie.avi")), path(QStringLiteral("movie.hed")),
                        path(QStringLiteral("second.hed")), path(QStringLiteral("second.avi"))};
        for (const QString& answer : spareAnswers) desktop.fileAnswers.push_back(answer);
    }

    // Every notification came from a busy, shown window, none of the spare
    // answers was taken, nothing was said in a message box, and every close
    // request asked whether to stop (answered No).
    void expectNothingStarted(std::size_t dialogs) {
        EXPECT_GT(storms, 5);
        EXPECT_GT(inputsDuringTheRun, 5 * 10);
        EXPECT_FALSE(desktop.questions.isEmpty());
        EXPECT_EQ(std::count(busyAtEach.begin(), busyAtEach.end(), false), 0);
        EXPECT_EQ(std::count(shownAtEach.begin(), shownAtEach.end(), false), 0)
            << "the window closed during the run";
        EXPECT_EQ(desktop.fileRequests.size(), dialogs);
        EXPECT_EQ(desktop.fileAnswers.size(), spareAnswers.size());
        desktop.fileAnswers.clear();
        EXPECT_TRUE(desktop.messages.empty());
        EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("second.hed"))));
        EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("second.avi"))));
        EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("second_1.div"))));
    }

    QByteArray chunk(int k) const {
        return source.mid(qint64(k - 1) * kLoadChunk, k < 3 ? kLoadChunk : kLoadLast);
    }

    QObject hooks;
    QByteArray source;
    std::vector<bool> busyAtEach;
    std::vector<bool> shownAtEach;
    int storms = 0;
    int inputsDuringTheRun = 0;
    QStringList spareAnswers;
};

TEST_F(StormTest, ALongDivisionUnderAStormOfInputEndsAsPlanned) {
    makeFile(QStringLiteral("movie.avi"), kLoadSize);
    source = contents(QStringLiteral("movie.avi"));
    chooseFileToDivide(path(QStringLiteral("movie.avi")));
    typeChunkSize(QString::number(kLoadChunk));
    ASSERT_EQ(label("lblDNumChunk")->text(), QStringLiteral("3"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    scriptSpareAnswers();
    stormEveryNotification();
    const int before = statuses.size();
    button("cmdDiv")->click();
    runToEnd();

    EXPECT_EQ(statusesSince(before),
              (QStringList{"Status", "Status", "Generating Division Header File...",
                           "Processing 1 of 3 Chunks. (20.0%)", "Processing 1 of 3 Chunks. (40.0%)",
                           "Processing 2 of 3 Chunks. (60.0%)", "Processing 2 of 3 Chunks. (80.0%)",
                           "Processing 3 of 3 Chunks. (100.0%)", "Status",
                           "File Successfully Divided!"}));
    expectNothingStarted(2);
    EXPECT_EQ(unitList()->currentIndex(), 0) << "the unit in force changed";

    // The plan the run started with, byte for byte.
    morvane::DivisionHeader header;
    header.BigFileName = "movie.avi";
    header.AvgChunkSize = kLoadChunk;
    header.LastChunkSize = kLoadLast;
    header.NumOfChunks = 3;
    std::vector<char> record;
    ASSERT_TRUE(morvane::encodeHeader(header, &record));
    EXPECT_EQ(contents(QStringLiteral("movie.hed")),
              QByteArray(record.data(), static_cast<qsizetype>(record.size())));
    for (int k = 1; k <= 3; ++k)
        EXPECT_TRUE(contents(QStringLiteral("movie_%1.div").arg(k)) == chunk(k)) << "chunk " << k;
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("movie_4.div"))));
    EXPECT_TRUE(contents(QStringLiteral("movie.avi")) == source);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(StormTest, ALongGlueUnderAStormOfInputEndsAsPlanned) {
    makeFile(QStringLiteral("movie.avi"), kLoadSize);
    source = contents(QStringLiteral("movie.avi"));
    {
        morvane::FileDivider divider;
        divider.setBigFileName("movie.avi");
        divider.setBigFilePath(dir.path().toStdString());
        ASSERT_TRUE(divider.analyze());
        divider.setAvgChunkSize(kLoadChunk);
        divider.setChunkPrefix("movie");
        divider.setChunkPath(dir.path().toStdString());
        ASSERT_TRUE(divider.divideFile());
    }
    ASSERT_TRUE(QFile::remove(path(QStringLiteral("movie.avi"))));
    chooseHeader(path(QStringLiteral("movie.hed")));
    ASSERT_EQ(label("lblGNumChunk")->text(), QStringLiteral("3"));
    desktop.fileAnswers.push_back(path(QStringLiteral("copy.avi")));
    scriptSpareAnswers();
    stormEveryNotification();
    const int before = statuses.size();
    button("cmdGlu")->click();
    runToEnd();

    EXPECT_EQ(
        statusesSince(before),
        (QStringList{"Status", "Status", "Processing 1 of 3 Chunks. (20.0%)",
                     "Processing 1 of 3 Chunks. (40.0%)", "Processing 2 of 3 Chunks. (60.0%)",
                     "Processing 2 of 3 Chunks. (80.0%)", "Processing 3 of 3 Chunks. (100.0%)",
                     "Status", "File Successfully Glued Together!"}));
    expectNothingStarted(2);
    EXPECT_TRUE(contents(QStringLiteral("copy.avi")) == source) << "the glued file differs";
    for (int k = 1; k <= 3; ++k)
        EXPECT_TRUE(contents(QStringLiteral("movie_%1.div").arg(k)) == chunk(k)) << "chunk " << k;
    EXPECT_TRUE(window->isVisible());
}

}  // namespace
