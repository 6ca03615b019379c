// Real file-system faults met by runs started from the window, not injected
// ones: a full device, folders and FIFOs where chunks should be, chunks and
// sources that change under a run, and output folders that vanish. Each
// shows its exact error on the status line and its message box, ends the
// window's run cleanly, and loses nothing: inputs the fault did not touch
// stay as they were, and nothing of the failed run stays.

#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <map>
#include <vector>

#include "engine/division_header.h"
#include "window_fixture.h"

namespace {

using morvane::FileDialogRequest;
using morvane::MessageIcon;

// The original: 3,000 bytes in chunks of 1,000, so each run copies three
// one-block chunks and notifies three times.
constexpr qint64 kSourceSize = 3000;
constexpr int32_t kChunk = 1000;
const QString kFirstBlock = QStringLiteral("Processing 1 of 3 Chunks. (33.3%)");

enum class RunKind { Divide, Glue };

// When the fault strikes.
enum class When {
    BeforeTheClick,  // the files are already so when Divide or Glue is clicked
    DialogAnswered,  // while the save dialog answers, before the handler goes on
    FirstStatus,     // at the first status line text after the dialog, before the run
    FirstBlock,      // when the first block is shown, before the second chunk is opened
};

// A file the run should have written: `name` in the output folder, a
// prefix of what the complete run writes there, at least `minBytes` long
// (kWhole: complete). A file with minBytes 0 may be missing.
constexpr qint64 kWhole = -1;
struct Written {
    const char* name;
    qint64 minBytes;
};

struct RealFault {
    const char* name;
    RunKind run;
    When when;
    // Acts on the temporary folder `top`.
    void (*fault)(const QString& top);
    // The save dialog's answer: relative to the temporary folder, or absolute.
    const char* saveAs;
    const char* status;
    // The chunk check refuses the run (the panel stays open), rather than
    // the run failing (the panel closes and the engine goes).
    bool checkFails;
    // The input the fault itself changes, if any.
    const char* changedInput;
    // Where the written files are afterwards (relative), and which they are.
    const char* outputFolder;
    std::vector<Written> written;
};

void PrintTo(const RealFault& c, std::ostream* os) {
    *os << c.name;
}

void replaceByFolder(const QString& file) {
    ASSERT_TRUE(QFile::remove(file));
    ASSERT_TRUE(QDir().mkdir(file));
}

void noFault(const QString&) {}
void shrinkSource(const QString& top) {
    ASSERT_TRUE(QFile::resize(top + QStringLiteral("/movie.avi"), 1500));
}
void removeOutputFolder(const QString& top) {
    ASSERT_TRUE(QDir(top + QStringLiteral("/out")).removeRecursively());
}
void moveOutputFolder(const QString& top) {
    ASSERT_TRUE(QDir(top).rename(QStringLiteral("out"), QStringLiteral("moved")));
}
void chunkBecomesFolder(const QString& top) {
    replaceByFolder(top + QStringLiteral("/in/movie_2.div"));
}
void chunkBecomesFifo(const QString& top) {
    const QString chunk = top + QStringLiteral("/in/movie_2.div");
    ASSERT_TRUE(QFile::remove(chunk));
    ASSERT_EQ(::mkfifo(QFile::encodeName(chunk).constData(), 0644), 0);
}
void deleteChunk(const QString& top) {
    ASSERT_TRUE(QFile::remove(top + QStringLiteral("/in/movie_2.div")));
}
void shortenChunk(const QString& top) {
    ASSERT_TRUE(QFile::resize(top + QStringLiteral("/in/movie_2.div"), 400));
}

// Ends the test program if the run blocks for longer than `seconds`.
class Watchdog {
  public:
    explicit Watchdog(unsigned seconds) { ::alarm(seconds); }
    ~Watchdog() { ::alarm(0); }
};

class RealFaultTest : public WindowTest, public ::testing::WithParamInterface<RealFault> {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("in")));
        ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("out")));
    }

    // A division of the original laid out by hand in in/, its header under
    // the original's name.
    void layDivision() {
        makeFile(QStringLiteral("movie.avi"), kSourceSize);
        original = contents(QStringLiteral("movie.avi"));
        ASSERT_TRUE(QFile::remove(path(QStringLiteral("movie.avi"))));
        makeHeader(QStringLiteral("in/movie.hed"), "movie.avi", kChunk, kChunk, 3);
        for (int k = 1; k <= 3; ++k) {
            QFile chunk(path(QStringLiteral("in/movie_%1.div").arg(k)));
            ASSERT_TRUE(chunk.open(QIODevice::WriteOnly));
            chunk.write(original.mid((k - 1) * kChunk, kChunk));
        }
    }

    // The run's input files with their contents (a folder or FIFO in place
    // of one as empty).
    std::map<QString, QByteArray> inputs() const {
        std::map<QString, QByteArray> files;
        const QDir top(dir.path());
        for (const QString& name :
             {QStringLiteral("movie.avi"), QStringLiteral("in/movie.hed"),
              QStringLiteral("in/movie_1.div"), QStringLiteral("in/movie_2.div"),
              QStringLiteral("in/movie_3.div")}) {
            const QFileInfo info(top.filePath(name));
            if (info.exists()) files[name] = info.isFile() ? contents(name) : QByteArray();
        }
        return files;
    }

    // What a complete run writes under `name`.
    QByteArray expectedContent(RunKind run, const QString& name) const {
        if (run == RunKind::Glue) return original;
        if (name == QStringLiteral("movie.hed")) {
            morvane::DivisionHeader header;
            header.BigFileName = "movie.avi";
            header.AvgChunkSize = kChunk;
            header.LastChunkSize = kChunk;
            header.NumOfChunks = 3;
            std::vector<char> bytes;
            EXPECT_TRUE(morvane::encodeHeader(header, &bytes));
            return QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size()));
        }
        for (int k = 1; k <= 3; ++k)
            if (name == QStringLiteral("movie_%1.div").arg(k))
                return original.mid((k - 1) * kChunk, kChunk);
        ADD_FAILURE() << "unexpected output " << name.toStdString();
        return QByteArray();
    }

    QByteArray original;
};

TEST_P(RealFaultTest, ShowsTheErrorAndLosesNothing) {
    const RealFault& c = GetParam();
    const QString top = dir.path();
    if (QString::fromLatin1(c.saveAs) == QStringLiteral("/dev/full") &&
        !QFileInfo::exists(QStringLiteral("/dev/full")))
        GTEST_SKIP() << "no /dev/full here";

    if (c.run == RunKind::Divide) {
        makeFile(QStringLiteral("movie.avi"), kSourceSize);
        original = contents(QStringLiteral("movie.avi"));
        chooseFileToDivide(path(QStringLiteral("movie.avi")));
        typeChunkSize(QString::number(kChunk));
        ASSERT_EQ(label("lblDNumChunk")->text(), QStringLiteral("3"));
    } else {
        layDivision();
        chooseHeader(path(QStringLiteral("in/movie.hed")));
        ASSERT_TRUE(panel("fraGlu")->isVisible());
    }
    const std::map<QString, QByteArray> before = inputs();

    const QString saveAs = QString::fromLatin1(c.saveAs);
    desktop.fileAnswers.push_back(QDir::isAbsolutePath(saveAs) ? saveAs : path(saveAs));
    bool struck = false;
    QObject hooks;  // ends the status hook with the test body
    auto strike = [&] {
        struck = true;
        c.fault(top);
    };
    switch (c.when) {
        case When::BeforeTheClick:
            strike();
            break;
        case When::DialogAnswered:
            desktop.onFileDialog = [&](const FileDialogRequest&) { strike(); };
            break;
        case When::FirstStatus:
            QObject::connect(window.get(), &morvane::frmMain::statusChanged, &hooks,
                             [&](const QString&) {
                                 if (!struck) strike();
                             });
            break;
        case When::FirstBlock:
            // The run waits after its first block until the fault has struck.
            fileLayer->holdAfter(kChunk - 1);
            QObject::connect(window.get(), &morvane::frmMain::statusChanged, &hooks,
                             [&](const QString& text) {
                                 if (struck || text != kFirstBlock) return;
                                 strike();
                                 fileLayer->release();
                             });
            break;
    }

    const int statusesBefore = statuses.size();
    const std::size_t requestsBefore = desktop.fileRequests.size();
    {
        Watchdog dog(30);
        button(c.run == RunKind::Divide ? "cmdDiv" : "cmdGlu")->click();
        runToEnd();
    }
    desktop.onFileDialog = nullptr;
    ASSERT_TRUE(struck) << "the run never reached the moment of the fault";
    EXPECT_FALSE(window->isBusy());

    // The error as the user reads it, and nothing that says otherwise.
    EXPECT_EQ(label("lblStatus")->text().toStdString(), c.status);
    for (const QString& text : statusesSince(statusesBefore))
        EXPECT_FALSE(text.startsWith(QStringLiteral("File Successfully"))) << text.toStdString();
    const QString message = c.checkFails ? kChunkCheckMessage
                            : c.run == RunKind::Divide
                                ? QStringLiteral("Failed to divide the file.")
                                : QStringLiteral("Failed to glue files together.");
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text.toStdString(), message.toStdString());
    EXPECT_EQ(desktop.messages[0].icon, MessageIcon::Error);

    if (c.checkFails) {
        // The panel stays for another try, with its engine.
        EXPECT_TRUE(panel("fraGlu")->isVisible());
        EXPECT_FALSE(action("mnuDivide")->isEnabled());
    } else {
        EXPECT_TRUE(welcomeShown());
        EXPECT_FALSE(panel("fraDiv")->isVisible());
        EXPECT_FALSE(panel("fraGlu")->isVisible());
        EXPECT_TRUE(action("mnuDivide")->isEnabled());
        EXPECT_TRUE(action("mnuGlue")->isEnabled());
        // The run's end released its engine: the button opens no dialog.
        button(c.run == RunKind::Divide ? "cmdDiv" : "cmdGlu")->click();
        EXPECT_EQ(desktop.fileRequests.size(), requestsBefore + 1);
    }

    // Inputs the fault left alone are as they were; one it shortened still
    // holds the start of what it held.
    const std::map<QString, QByteArray> after = inputs();
    for (const auto& [name, bytes] : before) {
        const auto now = after.find(name);
        if (name == QLatin1String(c.changedInput)) {
            if (now != after.end() && QFileInfo(path(name)).isFile()) {
                EXPECT_TRUE(bytes.startsWith(now->second)) << name.toStdString();
            }
            continue;
        }
        ASSERT_NE(now, after.end()) << name.toStdString() << " is gone";
        EXPECT_TRUE(now->second == bytes) << name.toStdString() << " changed";
    }

    // A device chosen as the output is still that device.
    if (QDir::isAbsolutePath(saveAs)) {
        struct stat device;
        ASSERT_EQ(::stat(QFile::encodeName(saveAs).constData(), &device), 0);
        EXPECT_TRUE(S_ISCHR(device.st_mode)) << c.saveAs << " was replaced";
    }

    // The output folder holds only what the case allows.
    if (*c.outputFolder == '\0') return;
    const QDir out(path(QString::fromLatin1(c.outputFolder)));
    std::map<QString, qint64> allowed;
    for (const Written& w : c.written) allowed[QString::fromLatin1(w.name)] = w.minBytes;
    for (const QString& name : out.entryList(QDir::AllEntries | QDir::NoDotAndDotDot))
        EXPECT_TRUE(allowed.count(name)) << name.toStdString() << " was written";
    for (const auto& [name, minBytes] : allowed) {
        const QString file = out.filePath(name);
        if (minBytes == 0 && !QFileInfo::exists(file)) continue;
        QFile written(file);
        ASSERT_TRUE(written.open(QIODevice::ReadOnly)) << file.toStdString();
        const QByteArray bytes = written.readAll();
        const QByteArray whole = expectedContent(c.run, name);
        EXPECT_GE(bytes.size(), minBytes == kWhole ? whole.size() : minBytes) << name.toStdString();
        EXPECT_TRUE(whole.startsWith(bytes)) << name.toStdString() << " is not what was copied";
    }
}

const char* const kNoSuchFile = "System Error: 2  No such file or directory";

INSTANTIATE_TEST_SUITE_P(
    Division, RealFaultTest,
    ::testing::Values(RealFault{"SourceShrinksDuringTheRun",
                                RunKind::Divide,
                                When::FirstBlock,
                                shrinkSource,
                                "out/movie.hed",
                                "System Error: 61  File ended before the expected bytes: movie.avi",
                                false,
                                "movie.avi",
                                "out",
                                {}},
                      RealFault{"ChunkFolderRemovedAfterTheSaveDialog",
                                RunKind::Divide,
                                When::DialogAnswered,
                                removeOutputFolder,
                                "out/movie.hed",
                                kNoSuchFile,
                                false,
                                "",
                                "out",
                                {}},
                      RealFault{"ChunkFolderMovedAwayDuringTheRun",
                                RunKind::Divide,
                                When::FirstBlock,
                                moveOutputFolder,
                                "out/movie.hed",
                                kNoSuchFile,
                                false,
                                "",
                                "moved",
                                {}}),
    [](const ::testing::TestParamInfo<RealFault>& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    Glue, RealFaultTest,
    ::testing::Values(
        RealFault{"OutputIsDevFull",
                  RunKind::Glue,
                  When::BeforeTheClick,
                  noFault,
                  "/dev/full",
                  "System Error: 28  No space left on device",
                  false,
                  "",
                  "",
                  {}},
        RealFault{"ChunkIsAFolder",
                  RunKind::Glue,
                  When::BeforeTheClick,
                  chunkBecomesFolder,
                  "out/restored.avi",
                  "Application Error: 12  Chunk File Missing",
                  true,
                  "in/movie_2.div",
                  "out",
                  {}},
        RealFault{"ChunkBecomesAFolderDuringTheRun",
                  RunKind::Glue,
                  When::FirstBlock,
                  chunkBecomesFolder,
                  "out/restored.avi",
                  "System Error: 21  Is a directory",
                  false,
                  "in/movie_2.div",
                  "out",
                  {}},
        RealFault{"ChunkIsAFifo",
                  RunKind::Glue,
                  When::BeforeTheClick,
                  chunkBecomesFifo,
                  "out/restored.avi",
                  "System Error: 61  File ended before the expected bytes: movie_2.div",
                  false,
                  "in/movie_2.div",
                  "out",
                  {}},
        RealFault{"ChunkDeletedAfterTheCheck",
                  RunKind::Glue,
                  When::FirstBlock,
                  deleteChunk,
                  "out/restored.avi",
                  kNoSuchFile,
                  false,
                  "in/movie_2.div",
                  "out",
                  {}},
        RealFault{"ChunkShortenedAfterTheCheck",
                  RunKind::Glue,
                  When::FirstBlock,
                  shortenChunk,
                  "out/restored.avi",
                  "System Error: 61  File ended before the expected bytes: movie_2.div",
                  false,
                  "in/movie_2.div",
                  "out",
                  {}},
        RealFault{"OutputFolderRemovedBeforeTheRunOpensIt",
                  RunKind::Glue,
                  When::FirstStatus,
                  removeOutputFolder,
                  "out/restored.avi",
                  kNoSuchFile,
                  false,
                  "",
                  "out",
                  {}}),
    [](const ::testing::TestParamInfo<RealFault>& info) { return std::string(info.param.name); });

}  // namespace
