#include "engine/output_set.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace morvane {

namespace {

constexpr std::size_t kRandomLetters = 6;
// Writeback is started in pieces of at least this many bytes: large enough
// for the disk to take them in long runs, small enough to keep it busy.
constexpr int64_t kWritebackStep = 16 << 20;
// How often a wait for the final flush looks for a stop request.
constexpr auto kStopPoll = std::chrono::milliseconds(50);

// Reads a temporary name back: the final name in it, and whether that was
// cut short. False for any other name.
bool parseTemporaryName(const std::string& name, std::size_t maxName, std::string* stem,
                        bool* cut) {
    const std::string suffix = OutputSet::kTemporarySuffix;
    const std::size_t tail = 1 + kRandomLetters + suffix.size();
    if (name.size() < 2 + tail || name[0] != '.' ||
        name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0 ||
        name[name.size() - tail] != '.') {
        return false;
    }
    for (std::size_t i = name.size() - tail + 1; i < name.size() - suffix.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    *stem = name.substr(1, name.size() - 1 - tail);
    *cut = name.size() >= maxName;
    return true;
}

}  // namespace

struct OutputSet::Output {
    std::string name;
    std::string temporary;  // empty for an output written in place
    bool last = false;
    std::shared_ptr<File> file;
    int64_t written = 0;
    int64_t writebackStarted = 0;
};

// The thread that flushes the file system while the run goes on, and makes
// the final flush. Shared with that thread, so that a run stopped during a
// flush that cannot be interrupted returns at once and leaves the flush to
// finish on its own.
struct OutputSet::Flusher {
    std::shared_ptr<FileLayer> layer;
    std::shared_ptr<File> folder;
    std::vector<std::shared_ptr<File>> inPlace;

    std::mutex mutex;
    std::condition_variable changed;
    bool backgroundWanted = false;
    bool finalWanted = false;
    bool finalDone = false;
    bool quitting = false;
    Status failure;
    std::thread thread;

    void run() {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            changed.wait(lock, [this] { return backgroundWanted || finalWanted || quitting; });
            if (backgroundWanted) {
                backgroundWanted = false;
                lock.unlock();
                const Status s = layer->flushFileSystem(*folder);
                lock.lock();
                if (!s.ok() && failure.ok()) failure = s;
            } else if (finalWanted) {
                finalWanted = false;
                const auto files = inPlace;
                lock.unlock();
                Status s = layer->flushFileSystem(*folder);
                for (const auto& file : files) {
                    if (s.ok()) s = layer->flush(*file);
                }
                lock.lock();
                if (!s.ok() && failure.ok()) failure = s;
                finalDone = true;
                changed.notify_all();
            } else {
                return;
            }
        }
    }
};

OutputSet::OutputSet(std::shared_ptr<FileLayer> layer, const std::atomic<bool>* stop)
    : m_layer(std::move(layer)), m_stop(stop) {}

OutputSet::~OutputSet() {
    abandon();
}

Status OutputSet::begin(const std::string& folder, int64_t bytes, const NameTest& isOurs,
                        bool devicesInPlace) {
    abandon();
    m_devicesInPlace = devicesInPlace;
    m_folderPath = folder;
    m_unflushed = 0;
    std::unique_ptr<File> opened;
    Status s = m_layer->openFolder(folder, &opened);
    if (s.number() == EACCES) return Status::OK();  // each file is flushed on its own then
    if (!s.ok()) return s;
    m_folder = std::move(opened);
    m_maxName = m_layer->maxNameLength(*m_folder);
    removeLeftovers(isOurs);

    int64_t free = 0;
    if (bytes > 0 && m_layer->freeSpace(*m_folder, &free).ok() && free < bytes) {
        return Status::SysError(ENOSPC);
    }

    auto flusher = std::make_shared<Flusher>();
    flusher->layer = m_layer;
    flusher->folder = m_folder;
    try {
        flusher->thread = std::thread([flusher] { flusher->run(); });
    } catch (const std::system_error& e) {
        return Status::SysError(e.code().value());
    }
    m_flusher = std::move(flusher);
    return Status::OK();
}

void OutputSet::removeLeftovers(const NameTest& isOurs) {
    std::vector<std::string> names;
    if (!m_layer->listFolder(m_folderPath, &names).ok()) return;
    std::string stem;
    bool cut = false;
    for (const std::string& name : names) {
        if (!parseTemporaryName(name, m_maxName, &stem, &cut) || !isOurs(stem, cut)) continue;
        if (m_layer->kindOf(m_folderPath + name) == FileLayer::Kind::Regular) {
            m_layer->remove(m_folderPath + name);
        }
    }
}

std::string OutputSet::randomLetters() {
    static constexpr char kLetters[] =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    if (m_noiseUsed + kRandomLetters > m_noise.size()) {
        // Should the kernel give none, the exclusive create still keeps the
        // names safe; they are only easier to guess.
        m_layer->randomBytes(m_noise.data(), m_noise.size());
        m_noiseUsed = 0;
    }
    std::string letters(kRandomLetters, 'x');
    for (char& c : letters) c = kLetters[m_noise[m_noiseUsed++] % 62];
    return letters;
}

std::string OutputSet::temporaryName(const std::string& name) {
    const std::string tail = "." + randomLetters() + kTemporarySuffix;
    std::string stem = name;
    if (1 + stem.size() + tail.size() > m_maxName) {
        stem.resize(m_maxName - 1 - tail.size());
        // Do not leave half a UTF-8 character at the end.
        while (!stem.empty() && (static_cast<unsigned char>(stem.back()) & 0xC0) == 0x80) {
            stem.pop_back();
        }
        if (!stem.empty() && static_cast<unsigned char>(stem.back()) >= 0xC0) stem.pop_back();
        // Pad to the limit, so that a reader can tell the name was cut.
        stem.resize(m_maxName - 1 - tail.size(), '_');
    }
    return "." + stem + tail;
}

Status OutputSet::create(const std::string& name, bool last, File** out) {
    auto output = std::make_unique<Output>();
    output->name = name;
    output->last = last;
    const std::string finalPath = m_folderPath + name;
    std::unique_ptr<File> file;
    Status s;
    if (m_devicesInPlace && m_layer->kindOf(finalPath) == FileLayer::Kind::Other) {
        s = m_layer->openWrite(finalPath, &file);
    } else {
        do {
            output->temporary = temporaryName(name);
            s = m_layer->createNew(m_folderPath + output->temporary, &file);
        } while (s.number() == EEXIST);
    }
    if (!s.ok()) return s;
    output->file = std::move(file);
    *out = output->file.get();
    if (output->temporary.empty() && m_flusher) {
        std::lock_guard<std::mutex> lock(m_flusher->mutex);
        m_flusher->inPlace.push_back(output->file);
    }
    m_outputs.push_back(std::move(output));
    return Status::OK();
}

Status OutputSet::createDetached(const std::string& name, std::unique_ptr<File>* out) {
    auto output = std::make_unique<Output>();
    output->name = name;
    Status s;
    do {
        output->temporary = temporaryName(name);
        s = m_layer->createNew(m_folderPath + output->temporary, out);
    } while (s.number() == EEXIST);
    if (!s.ok()) return s;
    m_outputs.push_back(std::move(output));
    return Status::OK();
}

std::string OutputSet::pathOf(const std::string& name) const {
    for (const auto& output : m_outputs) {
        if (output->name == name) {
            return m_folderPath + (output->temporary.empty() ? name : output->temporary);
        }
    }
    return "";
}

OutputSet::Output* OutputSet::find(File& file) {
    for (auto it = m_outputs.rbegin(); it != m_outputs.rend(); ++it) {
        if ((*it)->file.get() == &file) return it->get();
    }
    return nullptr;
}

void OutputSet::wrote(File& file, int64_t bytes) {
    Output* output = find(file);
    if (!output) return;
    output->written += bytes;
    startWriteback(*output, false);
}

void OutputSet::startWriteback(Output& output, bool whole) {
    const int64_t pending = output.written - output.writebackStarted;
    if (pending <= 0 || (!whole && pending < kWritebackStep)) return;
    // A small file is left to the next flush of the file system: one call
    // each would cost more than it saves.
    if (pending >= kWritebackStep) {
        m_layer->startWriteback(*output.file, output.writebackStarted, pending);
    }
    output.writebackStarted = output.written;
    m_unflushed += pending;
    if (!m_flusher || m_unflushed < kBackgroundStep) return;
    m_unflushed = 0;
    {
        std::lock_guard<std::mutex> lock(m_flusher->mutex);
        m_flusher->backgroundWanted = true;
    }
    m_flusher->changed.notify_all();
}

Status OutputSet::retire(File& file) {
    Output* output = find(file);
    if (!output) return m_layer->close(file);
    if (!m_flusher) {
        // Without the folder nothing flushes the file later.
        const Status s = m_layer->flush(file);
        if (!s.ok()) return s;
    } else if (output->temporary.empty()) {
        return Status::OK();  // kept open for the final flush
    } else {
        startWriteback(*output, true);
    }
    return m_layer->close(file);
}

Status OutputSet::flushAll() {
    if (!m_flusher) return Status::OK();
    std::unique_lock<std::mutex> lock(m_flusher->mutex);
    m_flusher->finalDone = false;
    m_flusher->finalWanted = true;
    m_flusher->changed.notify_all();
    while (!m_flusher->finalDone) {
        if (m_stop && *m_stop) return Status::SysError(ECANCELED);
        m_flusher->changed.wait_for(lock, kStopPoll);
    }
    return m_flusher->failure;
}

Status OutputSet::renameOutputs(bool last, bool* placed) {
    bool renamed = false;
    for (auto& output : m_outputs) {
        if (output->last != last || output->temporary.empty()) continue;
        const Status s =
            m_layer->rename(m_folderPath + output->temporary, m_folderPath + output->name);
        if (!s.ok()) return s;
        output->temporary.clear();
        renamed = true;
        *placed = true;
    }
    if (!renamed || !m_folder) return Status::OK();
    return m_layer->flushFolder(*m_folder);
}

Status OutputSet::commit() {
    Status s = flushAll();
    for (auto& output : m_outputs) {
        if (s.ok() && output->file && output->file->isOpen()) s = m_layer->close(*output->file);
    }
    // Up to here a stop leaves nothing; once the renames begin they finish.
    if (s.ok() && m_stop && *m_stop) s = Status::SysError(ECANCELED);
    if (!s.ok()) return s;
    endFlusher();
    // A set being replaced loses its header first, so that a cut in the
    // middle never leaves a header over chunks of another set. It comes back
    // when the commit fails before any of the new files is in place.
    std::string header;
    std::string kept;
    for (auto& output : m_outputs) {
        if (output->last && !output->temporary.empty() && m_outputs.size() > 1 &&
            m_layer->kindOf(m_folderPath + output->name) != FileLayer::Kind::Absent) {
            header = m_folderPath + output->name;
            kept = m_folderPath + temporaryName(output->name);
            s = m_layer->rename(header, kept);
            if (!s.ok()) return s;
            if (m_folder) s = m_layer->flushFolder(*m_folder);
            if (!s.ok()) {
                m_layer->rename(kept, header);
                return s;
            }
        }
    }
    bool placed = false;
    s = renameOutputs(false, &placed);
    if (s.ok()) s = renameOutputs(true, &placed);
    if (!kept.empty()) {
        if (s.ok() || placed) {
            m_layer->remove(kept);
        } else {
            m_layer->rename(kept, header);
        }
    }
    if (!s.ok()) return s;
    // Nothing was written through the folder's descriptor: its close has
    // nothing to report.
    m_outputs.clear();
    m_folder.reset();
    return Status::OK();
}

void OutputSet::endFlusher() {
    if (!m_flusher) return;
    {
        std::lock_guard<std::mutex> lock(m_flusher->mutex);
        m_flusher->quitting = true;
    }
    m_flusher->changed.notify_all();
    // A stopped run does not wait for a flush the kernel cannot interrupt.
    if (m_stop && *m_stop) {
        m_flusher->thread.detach();
    } else {
        m_flusher->thread.join();
    }
    m_flusher.reset();
}

void OutputSet::abandon() {
    for (auto& output : m_outputs) {
        if (output->temporary.empty()) continue;
        output->file.reset();
        if (m_folder) {
            m_layer->removeIn(*m_folder, output->temporary);
        } else {
            m_layer->remove(m_folderPath + output->temporary);
        }
    }
    m_outputs.clear();
    endFlusher();
    m_folder.reset();
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "./" : path.substr(0, slash + 1);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace morvane
