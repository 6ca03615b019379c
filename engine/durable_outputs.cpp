#include "engine/durable_outputs.h"

#include <cerrno>
#include <system_error>

namespace morvane {

Status DurableOutputs::begin(const std::string& folder) {
    release();
    m_unflushed = 0;
    m_flushFailure = Status::OK();
    Status s = m_layer.openFolder(folder, &m_folder);
    if (s.number() == EACCES) return Status::OK();
    if (s.ok() && !m_layer.identify(*m_folder, &m_folderId)) s = Status::SysError(errno);
    if (!s.ok()) m_folder.reset();
    return s;
}

void DurableOutputs::wrote(File& file) {
    startWriteback(file, false);
}

void DurableOutputs::startWriteback(File& file, bool whole) {
    const int64_t before = file.writebackStarted();
    m_layer.startWriteback(file, whole);
    m_unflushed += file.writebackStarted() - before;
    if (!m_folder || m_unflushed < kBackgroundStep) return;
    m_unflushed = 0;
    if (!m_flusher.joinable()) {
        try {
            m_flusher = std::thread([this] { runFlusher(); });
        } catch (const std::system_error&) {
            return;  // finish() flushes everything all the same
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_flushWanted = true;
    }
    m_changed.notify_one();
}

void DurableOutputs::runFlusher() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_flushWanted || m_stopping; });
        // A flush asked for is made even when the run is ending.
        if (!m_flushWanted) return;
        m_flushWanted = false;
        lock.unlock();
        const Status s = m_layer.flushFileSystem(*m_folder);
        lock.lock();
        if (!s.ok() && m_flushFailure.ok()) m_flushFailure = s;
    }
}

Status DurableOutputs::stopFlusher() {
    if (m_flusher.joinable()) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stopping = true;
        }
        m_changed.notify_one();
        m_flusher.join();
        m_stopping = false;
        m_flushWanted = false;
    }
    return m_flushFailure;
}

void DurableOutputs::release() {
    stopFlusher();
    m_folder.reset();
}

Status DurableOutputs::retire(File& file) {
    FileId id;
    const bool covered = m_folder && m_layer.identify(file, &id) && id.device == m_folderId.device;
    Status s;
    if (covered) {
        startWriteback(file, true);
    } else {
        s = m_layer.flush(file);
    }
    if (s.ok()) s = m_layer.close(file);
    return s;
}

Status DurableOutputs::finish() {
    if (!m_folder) return Status::OK();
    const Status background = stopFlusher();
    Status s = m_layer.flushFileSystem(*m_folder);
    if (s.ok()) s = m_layer.flushFolder(*m_folder);
    if (s.ok()) s = m_layer.close(*m_folder);
    m_folder.reset();
    return background.ok() ? s : background;
}

}  // namespace morvane
