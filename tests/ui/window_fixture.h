#pragma once

#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "engine/file_layer.h"
#include "scripted_desktop.h"
#include "tick_gaps.h"
#include "ui/frm_main.h"

// The texts of the window's message boxes, as the window hands them over.
inline const QString kAdviceMessage = QStringLiteral(
    "It is recommended to keep the number of chunks under 1000.\n"
    "Increase the chunk size will reduce the number of chunks produced.");
inline const QString kChunkCheckMessage =
    QStringLiteral("Error has occurred when checking chunk existence.\nFiles not glued.");

// The POSIX file layer at the pace of a slow disk: every write and copy
// takes as long as `bytesPerSecond` allows (0: no delay), and every flush of
// the file system `flushDelayMs` more. It can also hold a run's thread after
// a given write or copy until the test lets it go on.
class SlowFileLayer : public morvane::FileLayer {
  public:
    morvane::Status write(morvane::File& file, const char* buffer, std::size_t n) override;
    morvane::Status copy(morvane::File& from, morvane::File& to, std::size_t n,
                         char* buffer) override;
    morvane::Status flushFileSystem(morvane::File& folder) override;
    // Opening a header for reading takes `headerOpenDelayMs` more.
    morvane::Status openRead(const std::string& path, std::unique_ptr<morvane::File>* out) override;

    // The write or copy that takes the bytes written and copied from now on
    // past `moreThan` waits, once done, until release() (at most 30 s).
    void holdAfter(int64_t moreThan);
    void release();
    // True while a run's thread waits in the hold.
    bool holding() const { return m_waiting; }

    std::atomic<double> bytesPerSecond{0.0};
    std::atomic<int> flushDelayMs{0};
    std::atomic<int> headerOpenDelayMs{0};
    // Writes and copies begun so far.
    std::atomic<int64_t> dataCalls{0};

  private:
    void pace(std::size_t n);

    std::mutex m_mutex;
    std::condition_variable m_released;
    int64_t m_holdBeyond = -1;
    int64_t m_counted = 0;
    bool m_holding = false;
    std::atomic<bool> m_waiting{false};
};

// A shown and active frmMain on a scripted desktop, a temporary folder, and
// every text the status line received.
class WindowTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    template <typename T>
    T* child(const char* name) const {
        T* found = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QLabel* label(const char* name) const { return child<QLabel>(name); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    QAction* action(const char* name) const { return child<QAction>(name); }
    QLineEdit* chunkBox() const { return child<QLineEdit>("txtDChunk"); }
    QComboBox* unitList() const { return child<QComboBox>("cmbUnit"); }
    QGroupBox* panel(const char* name) const { return child<QGroupBox>(name); }
    bool welcomeShown() const;

    // Full path of `name` in the temporary folder.
    QString path(const QString& name) const { return dir.filePath(name); }
    // Writes `size` bytes of a pattern that differs from offset to offset;
    // a sparse file when `sparse` is set.
    void makeFile(const QString& name, qint64 size, bool sparse = false) const;
    QByteArray contents(const QString& name) const;
    // Writes a division header file with the engine's own record layout.
    void makeHeader(const QString& name, const std::string& bigFileName, int32_t avg, int32_t last,
                    int32_t count) const;

    // File > Divide File, answering the dialog with `file`; likewise for glue.
    void chooseFileToDivide(const QString& file);
    void chooseHeader(const QString& file);
    // Drags `urls` over the window, offering a copy or a move, and drops
    // them there; whether the window took them. Events are processed after.
    bool drop(const QList<QUrl>& urls);
    // Types `text` into the chunk-size box (replacing it) and leaves it by Tab.
    void typeChunkSize(const QString& text);
    // Waits until the run started last has ended and the window has taken
    // its end.
    void runToEnd();
    // Holds the next run once it has written or copied more than
    // `moreThan` bytes; the first time the status line then shows `text`,
    // runs `act` from the event loop, as input arriving at that moment, and
    // lets the run go on.
    void whenStatusShows(const QString& text, int64_t moreThan, std::function<void()> act);
    // Texts the status line received since `from`.
    QStringList statusesSince(int from) const { return statuses.mid(from); }

    QTemporaryDir dir;
    ScriptedDesktop desktop;
    std::shared_ptr<SlowFileLayer> fileLayer = std::make_shared<SlowFileLayer>();
    std::unique_ptr<morvane::frmMain> window;
    QStringList statuses;
};
