#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QTest>
#include <QTimer>
#include <functional>

#include "window_fixture.h"

namespace {

// While an engine works inside a handler, the notifications let the event
// loop run: these tests post input at such moments and check that it starts
// nothing and releases nothing.
class ReentrancyTest : public WindowTest {
  protected:
    // Runs `act` once, from the event loop, the first time the status line
    // shows `text`.
    void whenStatusShows(const QString& text, std::function<void()> act) {
        auto done = std::make_shared<bool>(false);
        QObject::connect(window.get(), &morvane::frmMain::statusChanged, window.get(),
                         [=](const QString& shown) {
                             if (*done || shown != text) return;
                             *done = true;
                             QTimer::singleShot(0, window.get(), act);
                         });
    }
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
    whenStatusShows(QStringLiteral("Processing 1 of 3 Chunks. (33.3%)"), [&] {
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

    EXPECT_TRUE(busyMeanwhile);
    EXPECT_FALSE(window->isBusy());
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

TEST_F(ReentrancyTest, CancelDuringADivisionClosesThePanelAndTheRunGoesOn) {
    openDividePanel(25000000, QStringLiteral("10000000"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    QStringList afterCancel;
    whenStatusShows(QStringLiteral("Processing 1 of 3 Chunks. (33.3%)"), [&] {
        QTest::mouseClick(button("cmdDCancel"), Qt::LeftButton);
        EXPECT_TRUE(welcomeShown());
        EXPECT_TRUE(action("mnuGlue")->isEnabled());
        afterCancel = statuses;
    });
    button("cmdDiv")->click();
    EXPECT_FALSE(afterCancel.isEmpty());
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("File Successfully Divided!"));
    EXPECT_GT(statuses.size(), afterCancel.size());
    EXPECT_EQ(QFileInfo(path(QStringLiteral("movie_3.div"))).size(), 5000000);
    EXPECT_TRUE(welcomeShown());
    // The run's end dropped the divider.
    button("cmdDiv")->click();
    EXPECT_EQ(desktop.fileRequests.size(), 2u);
}

TEST_F(ReentrancyTest, ClosingDuringADivisionClosesWhenTheRunEnds) {
    openDividePanel(25000000, QStringLiteral("10000000"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    bool visibleAfterClose = false;
    whenStatusShows(QStringLiteral("Processing 2 of 3 Chunks. (66.7%)"), [&] {
        action("mnuExit")->trigger();
        visibleAfterClose = window->isVisible();
    });
    button("cmdDiv")->click();
    EXPECT_TRUE(visibleAfterClose);
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("File Successfully Divided!"));
    EXPECT_EQ(QFileInfo(path(QStringLiteral("movie_3.div"))).size(), 5000000);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }));
}

TEST_F(ReentrancyTest, InputDuringAGlueStartsNothingAndReleasesNothing) {
    makeFile(QStringLiteral("movie.avi"), 25000000);
    chooseFileToDivide(path(QStringLiteral("movie.avi")));
    typeChunkSize(QStringLiteral("10000000"));
    desktop.fileAnswers.push_back(path(QStringLiteral("movie.hed")));
    button("cmdDiv")->click();

    chooseHeader(path(QStringLiteral("movie.hed")));
    desktop.fileAnswers = {path(QStringLiteral("copy.avi")), path(QStringLiteral("movie.hed"))};
    whenStatusShows(QStringLiteral("Processing 2 of 3 Chunks. (66.7%)"), [&] {
        action("mnuGlue")->trigger();  // would replace the running engine
        button("cmdGlu")->click();
        QTest::mouseClick(button("cmdGCancel"), Qt::LeftButton);
        action("mnuDivide")->trigger();  // enabled again by Cancel
        window->close();
    });
    button("cmdGlu")->click();

    EXPECT_EQ(desktop.fileAnswers.size(), 1u);
    desktop.fileAnswers.clear();
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("File Successfully Glued Together!"));
    EXPECT_EQ(contents(QStringLiteral("copy.avi")), contents(QStringLiteral("movie.avi")));
    EXPECT_TRUE(desktop.messages.empty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }));
}

}  // namespace
