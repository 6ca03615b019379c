#include <QAccessible>
#include <QFile>
#include <QIcon>
#include <QMenu>
#include <QMenuBar>
#include <QSpinBox>
#include <QTest>

#include "window_fixture.h"

namespace {

using morvane::MessageIcon;

TEST_F(WindowTest, StartsInTheWelcomeStateWithNothingSelected) {
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Morvane"));
    EXPECT_TRUE(welcomeShown());
    EXPECT_FALSE(panel("fraDiv")->isVisible());
    EXPECT_FALSE(panel("fraGlu")->isVisible());
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Status"));
    EXPECT_EQ(label("lblCopy")->text(),
              QStringLiteral("Morvane v1.11\n\nWritten by the Morvane developers"));
    EXPECT_EQ(label("lblEmail")->text(), QStringLiteral("Email: support@morvane.example"));
    EXPECT_EQ(label("lblUpdates")->text(),
              QStringLiteral("Updates: https://morvane.example/updates"));
    QComboBox* units = unitList();
    ASSERT_EQ(units->count(), 3);
    EXPECT_EQ(units->itemText(0), QStringLiteral("Bytes"));
    EXPECT_EQ(units->itemText(1), QStringLiteral("KB"));
    EXPECT_EQ(units->itemText(2), QStringLiteral("MB"));
    EXPECT_EQ(units->currentIndex(), -1);
    EXPECT_TRUE(action("mnuDivide")->isEnabled());
    EXPECT_TRUE(action("mnuGlue")->isEnabled());
    EXPECT_TRUE(desktop.fileRequests.empty());
    EXPECT_TRUE(desktop.messages.empty());
    // Docks and task switchers pick the icon's size: each one is drawn.
    QList<QSize> sizes;
    for (int side : {16, 24, 32, 48, 64, 128, 256}) sizes << QSize(side, side);
    EXPECT_EQ(window->windowIcon().availableSizes(), sizes);
}

TEST_F(WindowTest, HasAFixedClientAreaOf610By349BelowTheMenu) {
    EXPECT_EQ(window->centralWidget()->size(), QSize(610, 349));
    EXPECT_EQ(window->minimumSize(), window->maximumSize());
    EXPECT_EQ(window->height(), 349 + window->menuBar()->height());
}

struct Place {
    const char* name;
    QRect pixels;
};

TEST_F(WindowTest, PlacesEveryControlAtItsTwipsDividedBy15) {
    const Place places[] = {
        {"fraDiv", {8, 0, 593, 313}},
        {"fraGlu", {8, 0, 593, 313}},
        {"lblCopy", {16, 40, 569, 81}},
        {"lblEmail", {16, 136, 569, 17}},
        {"lblUpdates", {16, 160, 569, 17}},
        {"lblStatus", {8, 320, 595, 21}},
        {"lblDFilenameA", {16, 32, 97, 21}},
        {"lblDFilename", {120, 32, 449, 21}},
        {"lblDFileSizeA", {16, 69, 97, 21}},
        {"lblDFilesize", {120, 69, 449, 21}},
        {"lblDChunkSizeA", {16, 106, 97, 21}},
        {"txtDChunk", {120, 104, 377, 21}},
        {"cmbUnit", {504, 104, 65, 21}},
        {"lblDLstChunkSizeA", {16, 142, 97, 21}},
        {"lblDLastChunkSize", {120, 142, 449, 21}},
        {"lblDNumChunkA", {16, 179, 97, 21}},
        {"lblDNumChunk", {120, 179, 449, 21}},
        {"lblDRecoveryA", {16, 216, 97, 21}},
        {"spnDRecovery", {120, 214, 65, 21}},
        {"lblDRecovery", {192, 216, 377, 21}},
        {"cmdDiv", {312, 264, 121, 33}},
        {"cmdDCancel", {448, 264, 121, 33}},
        {"lblGHeaderA", {16, 32, 97, 21}},
        {"lblGHeader", {120, 32, 449, 21}},
        {"lblGChunkSize", {120, 68, 449, 21}},
        {"lblGLastChunkSize", {120, 104, 449, 21}},
        {"lblGNumChunk", {120, 140, 449, 21}},
        {"lblGBigFileName", {120, 179, 449, 21}},
        {"lblGBigFileSize", {120, 218, 181, 21}},
        {"lblGChecksumA", {16, 241, 97, 21}},
        {"lblGChecksum", {120, 241, 449, 21}},
        {"lblGRecoveryA", {16, 270, 97, 21}},
        {"lblGRecovery", {120, 270, 181, 21}},
        {"cmdGlu", {312, 264, 121, 33}},
        {"cmdGCancel", {448, 264, 121, 33}},
        {"cmdCheck", {312, 214, 121, 26}},
        {"cmdRepair", {448, 214, 121, 26}},
    };
    for (const Place& place : places) {
        QWidget* control = child<QWidget>(place.name);
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->geometry(), place.pixels) << place.name;
    }
}

struct Caption {
    const char* name;
    const char* text;
};

TEST_F(WindowTest, ShowsTheDesignTimeCaptionsAndValues) {
    const Caption captions[] = {
        {"lblDFilenameA", "File:"},
        {"lblDFilename", "..."},
        {"lblDFileSizeA", "Size:"},
        {"lblDFilesize", "0 byte"},
        {"lblDChunkSizeA", "Chunk &Size:"},
        {"lblDLstChunkSizeA", "Last Chunk Size:"},
        {"lblDLastChunkSize", "0 byte"},
        {"lblDNumChunkA", "Number of Chunks:"},
        {"lblDNumChunk", "0"},
        {"lblDRecoveryA", "&Recovery:"},
        {"lblDRecovery", "none"},
        {"lblGHeaderA", "Header File:"},
        {"lblGHeader", "..."},
        {"lblGChunkSizeA", "Chunk Size:"},
        {"lblGChunkSize", "0 byte"},
        {"lblGLastChunkSizeA", "Last Chunk Size:"},
        {"lblGLastChunkSize", "0 byte"},
        {"lblGNumChunkA", "Number of Chunks:"},
        {"lblGNumChunk", "0"},
        {"lblGBigFileNameA", "Original Filename:"},
        {"lblGBigFileName", "..."},
        {"lblGBigFileSizeA", "Original File Size:"},
        {"lblGBigFileSize", "0 byte"},
        {"lblGChecksumA", "Checksums:"},
        {"lblGChecksum", "none"},
        {"lblGRecoveryA", "Recovery:"},
        {"lblGRecovery", "none"},
    };
    for (const Caption& caption : captions)
        EXPECT_EQ(label(caption.name)->text().toStdString(), caption.text) << caption.name;
    EXPECT_EQ(chunkBox()->text(), QStringLiteral("0"));
    EXPECT_EQ(button("cmdDiv")->text(), QStringLiteral("&Divide"));
    EXPECT_EQ(button("cmdDCancel")->text(), QStringLiteral("&Cancel"));
    EXPECT_EQ(button("cmdGlu")->text(), QStringLiteral("&Glue"));
    EXPECT_EQ(button("cmdGCancel")->text(), QStringLiteral("&Cancel"));
    EXPECT_EQ(label("lblDChunkSizeA")->buddy(), chunkBox());
    // Labels that show names or engine texts never render markup.
    for (const char* name : {"lblDFilename", "lblGHeader", "lblGBigFileName", "lblStatus"})
        EXPECT_EQ(label(name)->textFormat(), Qt::PlainText) << name;
}

TEST_F(WindowTest, ScreenReadersHearEachValueWithItsCaption) {
    for (const char* name : {"fraDiv", "fraGlu"}) {
        for (QLabel* value : panel(name)->findChildren<QLabel*>()) {
            if (value->frameShape() == QFrame::NoFrame) continue;  // a caption
            const auto captions =
                QAccessible::queryAccessibleInterface(value)->relations(QAccessible::Label);
            ASSERT_EQ(captions.size(), 1) << value->objectName().toStdString();
            EXPECT_TRUE(captions[0].first->text(QAccessible::Name).endsWith(u':'))
                << value->objectName().toStdString();
        }
    }
    const auto spokenName = [](QObject* object) {
        return QAccessible::queryAccessibleInterface(object)->text(QAccessible::Name);
    };
    EXPECT_EQ(spokenName(unitList()), QStringLiteral("Unit"));
    EXPECT_EQ(spokenName(child<QSpinBox>("spnDRecovery")), QStringLiteral("Recovery"));
    EXPECT_EQ(label("lblDRecoveryA")->buddy(), child<QSpinBox>("spnDRecovery"));
    EXPECT_EQ(spokenName(panel("fraDiv")), QStringLiteral("Divide"));
    EXPECT_EQ(spokenName(panel("fraGlu")), QStringLiteral("Glue"));
}

TEST_F(WindowTest, LinksTakeTheColourSchemesLinkColour) {
    const QColor linkColour(255, 160, 0);
    QPalette dark = window->palette();
    dark.setColor(QPalette::Link, linkColour);
    window->setPalette(dark);
    for (const char* name : {"lblEmail", "lblUpdates"}) {
        const QImage image = label(name)->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const auto* pixels = reinterpret_cast<const QRgb*>(image.constBits());
        const auto* end = pixels + image.sizeInBytes() / sizeof(QRgb);
        EXPECT_NE(std::find(pixels, end, linkColour.rgb()), end) << name;
        EXPECT_TRUE(label(name)->font().underline()) << name;
    }
}

TEST_F(WindowTest, HasTheFileMenuWithItsAccessKeysAndShortcuts) {
    QMenu* file = child<QMenu>("mnuFile");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(file->title(), QStringLiteral("&File"));
    const QList<QAction*> items = file->actions();
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[0], action("mnuDivide"));
    EXPECT_EQ(items[0]->text(), QStringLiteral("D&ivide File"));
    EXPECT_EQ(items[0]->shortcut(), QKeySequence(QStringLiteral("Ctrl+I")));
    EXPECT_EQ(items[1]->text(), QStringLiteral("Gl&ue File"));
    EXPECT_EQ(items[1]->shortcut(), QKeySequence(QStringLiteral("Ctrl+U")));
    EXPECT_TRUE(items[2]->isSeparator());
    EXPECT_EQ(items[2]->objectName(), QStringLiteral("mnuSep1"));
    EXPECT_EQ(items[3]->text(), QStringLiteral("E&xit"));
}

TEST_F(WindowTest, ShortcutsOpenTheirDialogsAndExitClosesAtOnce) {
    desktop.fileAnswers = {std::nullopt, std::nullopt};
    QTest::keyClick(window.get(), Qt::Key_I, Qt::ControlModifier);
    QTest::keyClick(window.get(), Qt::Key_U, Qt::ControlModifier);
    ASSERT_EQ(desktop.fileRequests.size(), 2u);
    EXPECT_EQ(desktop.fileRequests[0].title, QStringLiteral("File to be divided"));
    EXPECT_EQ(desktop.fileRequests[1].title, QStringLiteral("Open header file"));
    // Cancelled dialogs change nothing.
    EXPECT_TRUE(welcomeShown());
    EXPECT_EQ(statuses, QStringList());

    action("mnuExit")->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(desktop.messages.empty());
}

TEST_F(WindowTest, LinksOpenMailAndBrowserOrSayWhatToDoByHand) {
    desktop.urlAnswers = {true, false, true, false};
    QTest::mouseClick(label("lblEmail"), Qt::LeftButton);
    ASSERT_EQ(desktop.openedUrls.size(), 1u);
    EXPECT_EQ(desktop.openedUrls[0].toString(),
              QStringLiteral("mailto:support@morvane.example?Subject=Morvane"));
    EXPECT_TRUE(desktop.messages.empty());

    QTest::mouseClick(label("lblEmail"), Qt::LeftButton);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text,
              QStringLiteral("Unable to start your Email agent automatically.\n"
                             "Please send an Email to support@morvane.example manually."));
    EXPECT_EQ(desktop.messages[0].icon, MessageIcon::Information);

    QTest::mouseClick(label("lblUpdates"), Qt::LeftButton);
    ASSERT_EQ(desktop.openedUrls.size(), 3u);
    EXPECT_EQ(desktop.openedUrls[2].toString(), QStringLiteral("https://morvane.example/updates"));
    EXPECT_EQ(desktop.messages.size(), 1u);

    QTest::mouseClick(label("lblUpdates"), Qt::LeftButton);
    ASSERT_EQ(desktop.messages.size(), 2u);
    EXPECT_EQ(desktop.messages[1].text,
              QStringLiteral("Unable to start your web browser automatically.\n"
                             "Please goto the site https://morvane.example/updates manually."));
    EXPECT_EQ(desktop.messages[1].icon, MessageIcon::Information);
    EXPECT_TRUE(welcomeShown());
    EXPECT_EQ(label("lblStatus")->text(), QStringLiteral("Status"));
}

// Each panel, with the file it opens and the controls that act on it.
struct PanelRow {
    const char* panel;
    const char* fileLabel;
    const char* run;
    const char* cancel;
    const char* item;
    const char* otherItem;
    const char* file;
    const char* refusal;
    const char* analysisFailed;
    const char* runFailed;
};

void PrintTo(const PanelRow& row, std::ostream* os) {
    *os << row.panel;
}

class PanelTest : public WindowTest, public ::testing::WithParamInterface<PanelRow> {
  protected:
    // Writes the panel's file, or one its analysis refuses, and chooses it.
    void choose(bool refused = false) {
        const QString file = QString::fromLatin1(GetParam().file);
        if (QLatin1String(GetParam().panel) == QLatin1String("fraDiv")) {
            makeFile(file, refused ? 0 : 10);
            chooseFileToDivide(path(file));
            return;
        }
        makeHeader(file, "movie.avi", 4, refused ? 5 : 2, 3);
        const char* chunks[] = {"abcd", "efgh", "ij"};
        for (int k = 1; k <= 3; ++k) {
            QFile chunk(path(QStringLiteral("movie_%1.div").arg(k)));
            ASSERT_TRUE(chunk.open(QIODevice::WriteOnly) && chunk.write(chunks[k - 1]) > 0);
        }
        chooseHeader(path(file));
    }
};

TEST_P(PanelTest, CancelClosesThePanelAndACancelledChoiceLeavesItAsItWas) {
    const PanelRow& row = GetParam();
    choose();
    ASSERT_TRUE(panel(row.panel)->isVisible());
    EXPECT_FALSE(action(row.otherItem)->isEnabled());
    const int before = statuses.size();
    QTest::mouseClick(button(row.cancel), Qt::LeftButton);
    EXPECT_TRUE(welcomeShown());
    EXPECT_FALSE(panel(row.panel)->isVisible());
    EXPECT_TRUE(action("mnuDivide")->isEnabled());
    EXPECT_TRUE(action("mnuGlue")->isEnabled());
    EXPECT_EQ(statusesSince(before), QStringList());

    choose();
    desktop.fileAnswers.push_back(std::nullopt);
    action(row.item)->trigger();
    EXPECT_TRUE(panel(row.panel)->isVisible());
    EXPECT_EQ(desktop.fileRequests.back().fileName, path(row.file));
    EXPECT_EQ(label(row.fileLabel)->text(), path(row.file));
}

TEST_P(PanelTest, ARefusedFileSaysSoAndClosesAnOpenPanel) {
    const PanelRow& row = GetParam();
    choose();
    choose(/*refused=*/true);
    EXPECT_EQ(label("lblStatus")->text().toStdString(), row.refusal);
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text.toStdString(), row.analysisFailed);
    EXPECT_EQ(desktop.messages[0].icon, MessageIcon::Error);
    EXPECT_FALSE(panel(row.panel)->isVisible());
    EXPECT_TRUE(welcomeShown());
    EXPECT_TRUE(action(row.otherItem)->isEnabled());
    // No engine is left behind the closed panel: its button does nothing.
    button(row.run)->click();
    EXPECT_EQ(desktop.fileRequests.size(), 2u);
}

TEST_P(PanelTest, ARunThatFailsSaysSoAndClosesThePanel) {
    const PanelRow& row = GetParam();
    choose();
    desktop.fileAnswers.push_back(path(QStringLiteral("no-such-folder/out")));
    button(row.run)->click();
    runToEnd();
    EXPECT_TRUE(label("lblStatus")->text().startsWith(QStringLiteral("System Error: 2  ")))
        << label("lblStatus")->text().toStdString();
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text.toStdString(), row.runFailed);
    EXPECT_EQ(desktop.messages[0].icon, MessageIcon::Error);
    EXPECT_FALSE(panel(row.panel)->isVisible());
    EXPECT_TRUE(welcomeShown());
    EXPECT_TRUE(action(row.otherItem)->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Panels, PanelTest,
    ::testing::Values(PanelRow{"fraDiv", "lblDFilename", "cmdDiv", "cmdDCancel", "mnuDivide",
                               "mnuGlue", "movie.avi", "Application Error: 5  Zero Length File",
                               "File Analysis Failed", "Failed to divide the file."},
                      PanelRow{"fraGlu", "lblGHeader", "cmdGlu", "cmdGCancel", "mnuGlue",
                               "mnuDivide", "movie.hed",
                               "Application Error: 11  Invalid Header File",
                               "Header File Analysis Failed.", "Failed to glue files together."}));

}  // namespace
