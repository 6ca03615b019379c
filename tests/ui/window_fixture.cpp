#include "window_fixture.h"

#include <QApplication>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <thread>
#include <vector>

#include "engine/division_header.h"

void WindowTest::SetUp() {
    ASSERT_TRUE(dir.isValid());
    window = std::make_unique<morvane::frmMain>(desktop, fileLayer);
    QObject::connect(window.get(), &morvane::frmMain::statusChanged,
                     [this](const QString& text) { statuses << text; });
    window->show();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get(), 30000));
}

void WindowTest::TearDown() {
    window.reset();
    EXPECT_TRUE(desktop.fileAnswers.empty()) << "file dialogs scripted but never shown";
}

namespace {

// A copy that falls back to reading and writing writes through write():
// the copy is paced as a whole, not its write again.
thread_local bool t_copying = false;

}  // namespace

morvane::Status SlowFileLayer::write(morvane::File& file, const char* buffer, std::size_t n) {
    const morvane::Status s = FileLayer::write(file, buffer, n);
    if (!t_copying) pace(n);
    return s;
}

morvane::Status SlowFileLayer::copy(morvane::File& from, morvane::File& to, std::size_t n,
                                    char* buffer) {
    t_copying = true;
    const morvane::Status s = FileLayer::copy(from, to, n, buffer);
    t_copying = false;
    pace(n);
    return s;
}

morvane::Status SlowFileLayer::flushFileSystem(morvane::File& folder) {
    std::this_thread::sleep_for(std::chrono::milliseconds(flushDelayMs.load()));
    return FileLayer::flushFileSystem(folder);
}

morvane::Status SlowFileLayer::openRead(const std::string& path,
                                        std::unique_ptr<morvane::File>* out) {
    if (path.size() > 4 && path.compare(path.size() - 4, 4, ".hed") == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(headerOpenDelayMs.load()));
    return FileLayer::openRead(path, out);
}

void SlowFileLayer::holdAfter(int64_t moreThan) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_holdBeyond = moreThan;
    m_counted = 0;
    m_holding = true;
}

void SlowFileLayer::release() {
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_holding = false;
        m_holdBeyond = -1;
    }
    m_released.notify_all();
}

void SlowFileLayer::pace(std::size_t n) {
    ++dataCalls;
    const double rate = bytesPerSecond;
    if (rate > 0) std::this_thread::sleep_for(std::chrono::duration<double>(n / rate));
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_holdBeyond < 0) return;
    m_counted += static_cast<int64_t>(n);
    if (m_counted <= m_holdBeyond) return;
    m_holdBeyond = -1;
    m_waiting = true;
    m_released.wait_for(lock, std::chrono::seconds(30), [this] { return !m_holding; });
    m_waiting = false;
}

void WindowTest::runToEnd() {
    ASSERT_TRUE(QTest::qWaitFor([this] { return !window->isBusy(); }, 60000))
        << "the run did not end";
}

void WindowTest::whenStatusShows(const QString& text, int64_t moreThan, std::function<void()> act) {
    fileLayer->holdAfter(moreThan);
    auto done = std::make_shared<bool>(false);
    QObject::connect(window.get(), &morvane::frmMain::statusChanged, window.get(),
                     [this, text, act, done](const QString& shown) {
                         if (*done || shown != text) return;
                         *done = true;
                         QTimer::singleShot(0, window.get(), [this, act] {
                             act();
                             fileLayer->release();
                         });
                     });
}

bool WindowTest::welcomeShown() const {
    return label("lblCopy")->isVisible() && label("lblEmail")->isVisible() &&
           label("lblUpdates")->isVisible();
}

void WindowTest::makeFile(const QString& name, qint64 size, bool sparse) const {
    QFile file(path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    if (sparse) {
        ASSERT_TRUE(file.resize(size));
        return;
    }
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qint64 at = 0; at < size; at += block.size()) {
        const qint64 n = std::min<qint64>(block.size(), size - at);
        for (qint64 i = 0; i < n; ++i) {
            const qint64 offset = at + i;
            block[i] = static_cast<char>((offset * 131 + offset / 9973) & 0xff);
        }
        ASSERT_EQ(file.write(block.constData(), n), n);
    }
}

QByteArray WindowTest::contents(const QString& name) const {
    QFile file(path(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
    return file.readAll();
}

void WindowTest::makeHeader(const QString& name, const std::string& bigFileName, int32_t avg,
                            int32_t last, int32_t count) const {
    morvane::DivisionHeader header;
    header.BigFileName = bigFileName;
    header.AvgChunkSize = avg;
    header.LastChunkSize = last;
    header.NumOfChunks = count;
    std::vector<char> bytes;
    ASSERT_TRUE(morvane::encodeHeader(header, &bytes));
    QFile file(path(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(bytes.data(), static_cast<qint64>(bytes.size())),
              static_cast<qint64>(bytes.size()));
}

void WindowTest::chooseFileToDivide(const QString& file) {
    desktop.fileAnswers.push_back(file);
    action("mnuDivide")->trigger();
}

void WindowTest::chooseHeader(const QString& file) {
    desktop.fileAnswers.push_back(file);
    action("mnuGlue")->trigger();
}

bool WindowTest::drop(const QList<QUrl>& urls) {
    QMimeData data;
    data.setUrls(urls);
    const QPoint at = window->rect().center();
    const Qt::DropActions offered = Qt::CopyAction | Qt::MoveAction;
    QDragEnterEvent enter(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &enter);
    QDropEvent dropped(at, offered, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &dropped);
    EXPECT_EQ(enter.isAccepted(), dropped.isAccepted()) << "the cursor promised otherwise";
    if (dropped.isAccepted()) {
        EXPECT_EQ(dropped.dropAction(), Qt::CopyAction);
    }
    QCoreApplication::processEvents();
    return dropped.isAccepted();
}

void WindowTest::typeChunkSize(const QString& text) {
    QLineEdit* box = chunkBox();
    box->setFocus(Qt::OtherFocusReason);
    box->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Tab);
}
