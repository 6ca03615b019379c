// Header files the program did not write, chosen in the window: records it
// must refuse, and accepted ones whose stored name climbs out of folders,
// holds control characters or markup, or is far too long for a file name.
// The panel shows such a name as it is, as plain text; the proposed output
// name is its last path component without control characters; and the
// glue, when the person takes the proposal, writes into the chosen folder
// and nowhere else.

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>
#include <climits>
#include <iostream>
#include <map>
#include <string>

#include "engine/recovery/par2_packets.h"
#include "window_fixture.h"

namespace {

using morvane::FileDialogRequest;
using morvane::MessageIcon;

constexpr int32_t kChunk = 1000;

// A header record assembled byte by byte, so that records the engine would
// never write can be made.
std::string record(const std::string& name, int32_t avg, int32_t last, int32_t count) {
    std::string bytes;
    bytes.push_back(static_cast<char>(name.size() & 0xFF));
    bytes.push_back(static_cast<char>((name.size() >> 8) & 0xFF));
    bytes += name;
    for (const int32_t value : {avg, last, count}) {
        const uint32_t bits = static_cast<uint32_t>(value);
        for (int shift = 0; shift < 32; shift += 8)
            bytes.push_back(static_cast<char>((bits >> shift) & 0xFF));
    }
    return bytes;
}

struct HostileHeader {
    const char* label;
    std::string bytes;
    // Empty when the analysis refuses the record; otherwise the stored name
    // as the panel shows it.
    std::string shownName;
    const char* chunkCount;  // as the panel shows it
    // The proposed output name, and the status line after taking it.
    const char* proposal;
    const char* status;
    // A 4 MiB recovery index beside it that claims a megabyte every 64 bytes.
    bool hostileRecovery = false;
};

void PrintTo(const HostileHeader& c, std::ostream* os) {
    *os << c.label;
}

const char* const kGlued = "File Successfully Glued Together!";

class HostileHeaderWindowTest : public WindowTest,
                                public ::testing::WithParamInterface<HostileHeader> {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        // Two levels below the temporary folder, so that a name climbing out
        // of the chosen folder would still land where the test looks.
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("a/b/in")));
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("a/b/out")));
        makeFile(QStringLiteral("a/b/in/original"), 3 * kChunk);
        original = contents(QStringLiteral("a/b/in/original"));
        ASSERT_TRUE(QFile::remove(path(QStringLiteral("a/b/in/original"))));
        for (int k = 1; k <= 3; ++k) {
            QFile chunk(path(QStringLiteral("a/b/in/movie_%1.div").arg(k)));
            ASSERT_TRUE(chunk.open(QIODevice::WriteOnly));
            chunk.write(original.mid((k - 1) * kChunk, kChunk));
        }
        QFile header(path(QStringLiteral("a/b/in/movie.hed")));
        ASSERT_TRUE(header.open(QIODevice::WriteOnly));
        header.write(GetParam().bytes.data(), static_cast<qint64>(GetParam().bytes.size()));
        if (GetParam().hostileRecovery) writeHostileRecoveryIndex();
    }

    void writeHostileRecoveryIndex() {
        std::vector<char> fake = morvane::makePacket(morvane::kMainPacket, {}, {});
        morvane::putLe64(fake.data() + 8, 1 << 20);
        QFile index(path(QStringLiteral("a/b/in/movie.par2")));
        ASSERT_TRUE(index.open(QIODevice::WriteOnly));
        for (int i = 0; i < (1 << 16); ++i) index.write(fake.data(), qint64(fake.size()));
    }

    // Every file and folder under the temporary folder, by relative path.
    std::map<QString, QByteArray> tree() const {
        std::map<QString, QByteArray> entries;
        QDirIterator it(dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = it.next();
            const QString rel = QDir(dir.path()).relativeFilePath(file);
            entries[rel] = it.fileInfo().isDir() ? QByteArray("<folder>") : contents(rel);
        }
        return entries;
    }

    QByteArray original;
};

TEST_P(HostileHeaderWindowTest, ShowsThePlainNameAndWritesOnlyIntoTheChosenFolder) {
    const HostileHeader& c = GetParam();
    const std::map<QString, QByteArray> before = tree();
    {
        const TickGaps gaps;
        chooseHeader(path(QStringLiteral("a/b/in/movie.hed")));
        QTest::qWait(20);  // a tick held back by a stall comes now
        RecordProperty("longest_stall_ms", std::to_string(gaps.longestMs()));
        std::cout << "opening the header, the window's longest stall: " << gaps.longestMs()
                  << " ms\n";
    }

    if (c.shownName.empty()) {
        EXPECT_EQ(label("lblStatus")->text().toStdString(),
                  "Application Error: 11  Invalid Header File");
        ASSERT_EQ(desktop.messages.size(), 1u);
        EXPECT_EQ(desktop.messages[0].text, QStringLiteral("Header File Analysis Failed."));
        EXPECT_EQ(desktop.messages[0].icon, MessageIcon::Error);
        EXPECT_FALSE(panel("fraGlu")->isVisible());
        EXPECT_TRUE(welcomeShown());
        EXPECT_TRUE(tree() == before);
        return;
    }

    ASSERT_TRUE(panel("fraGlu")->isVisible());
    QLabel* name = label("lblGBigFileName");
    EXPECT_EQ(name->textFormat(), Qt::PlainText);
    EXPECT_TRUE(name->text() == QString::fromStdString(c.shownName))
        << "the panel shows another name than the header's";
    EXPECT_EQ(label("lblGNumChunk")->text().toStdString(), c.chunkCount);

    // The person takes the proposed name in the out folder.
    QString proposal;
    desktop.onFileDialog = [&](const FileDialogRequest& request) {
        proposal = request.fileName;
        desktop.fileAnswers.push_back(path(QStringLiteral("a/b/out/")) + request.fileName);
    };
    button("cmdGlu")->click();
    runToEnd();
    desktop.onFileDialog = nullptr;
    EXPECT_EQ(proposal.toStdString(), c.proposal);
    EXPECT_EQ(label("lblStatus")->text().toStdString(), c.status);

    std::map<QString, QByteArray> expected = before;
    if (c.status == std::string(kGlued)) {
        EXPECT_TRUE(desktop.messages.empty());
        expected[QStringLiteral("a/b/out/") + proposal] = original;
    } else {
        ASSERT_EQ(desktop.messages.size(), 1u);
        EXPECT_EQ(desktop.messages[0].text,
                  QString::fromLatin1(c.status).startsWith(QStringLiteral("Application Error"))
                      ? kChunkCheckMessage
                      : QStringLiteral("Failed to glue files together."));
    }
    EXPECT_TRUE(tree() == expected) << "something besides the chosen output was written";
}

const std::string kLongName(65535, 'n');

INSTANTIATE_TEST_SUITE_P(
    Refused, HostileHeaderWindowTest,
    ::testing::Values(
        HostileHeader{"maxNameLengthShortFile",
                      std::string("\xFF\xFF"
                                  "abc",
                                  5),
                      "", "", "", ""},
        HostileHeader{"negativeSizes", record("a.bin", -kChunk, -kChunk, 3), "", "", "", ""},
        HostileHeader{"zeroSizes", record("a.bin", 0, 0, 3), "", "", "", ""},
        HostileHeader{"zeroCount", record("a.bin", kChunk, kChunk, 0), "", "", "", ""},
        HostileHeader{"negativeCount", record("a.bin", kChunk, kChunk, -1), "", "", "", ""}),
    [](const ::testing::TestParamInfo<HostileHeader>& info) {
        return std::string(info.param.label);
    });

INSTANTIATE_TEST_SUITE_P(
    Accepted, HostileHeaderWindowTest,
    ::testing::Values(
        HostileHeader{"int32MaxCount", record("big.bin", kChunk, kChunk, INT32_MAX), "big.bin",
                      "2,147,483,647", "big.bin", "Application Error: 12  Chunk File Missing"},
        HostileHeader{"parentFolders", record("../../escape.bin", kChunk, kChunk, 3),
                      "../../escape.bin", "3", "escape.bin", kGlued},
        HostileHeader{"windowsParentFolders", record("..\\..\\escape.bin", kChunk, kChunk, 3),
                      "..\\..\\escape.bin", "3", "escape.bin", kGlued},
        HostileHeader{"absolutePath", record("/etc/passwd", kChunk, kChunk, 3), "/etc/passwd", "3",
                      "passwd", kGlued},
        HostileHeader{"controlCharacters",
                      record("ev\x01il\x1b[31m\tname\n.bin", kChunk, kChunk, 3),
                      "ev\x01il\x1b[31m\tname\n.bin", "3", "evil[31mname.bin", kGlued},
        HostileHeader{"markup", record("<b>bold</b><img src=x>&amp;.bin", kChunk, kChunk, 3),
                      "<b>bold</b><img src=x>&amp;.bin", "3", "b><img src=x>&amp;.bin", kGlued},
        HostileHeader{"maxNameLength", record(kLongName, kChunk, kChunk, 3), kLongName, "3",
                      kLongName.c_str(), "System Error: 36  File name too long"},
        HostileHeader{"hostileRecoveryIndex", record("movie.avi", kChunk, kChunk, 3), "movie.avi",
                      "3", "movie.avi", kGlued, true}),
    [](const ::testing::TestParamInfo<HostileHeader>& info) {
        return std::string(info.param.label);
    });

}  // namespace
