#include "engine/output_set.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <map>

namespace morvane {

namespace {

constexpr std::size_t kRandomLetters = 6;
// Writeback is started in pieces of at least this many bytes: large enough
// for the disk to take them in long runs, small enough to keep it busy.
constexpr int64_t kWritebackStep = 16 << 20;

int64_t msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
}

// Reads a hidden name ending in `suffix` back: the final name in it, cut
// short or not. False for any other name.
bool parseHiddenName(const std::string& name, const std::string& suffix, std::string* stem) {
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
    // Handed to the flusher to be flushed on its own.
    bool flushQueued = false;
};

OutputSet::OutputSet(std::shared_ptr<FileLayer> layer, const std::atomic<bool>* stop)
    : m_layer(std::move(layer)), m_stop(stop) {}

OutputSet::~OutputSet() {
    abandon();
}

Status OutputSet::begin(const std::string& folder, const Plan& plan) {
    abandon();
    m_plan = plan;
    m_folderPath = folder;
    m_unflushed = 0;
    m_fileByFile = false;
    m_alsoReplaced.clear();
    m_runLetters = randomLetters();
    std::unique_ptr<File> opened;
    Status s = m_layer->openFolder(folder, &opened);
    // A folder that can be written but not read: each file is flushed on
    // its own then, and the entries through one of them.
    if (!s.ok() && s.number() != EACCES) return s;
    m_folder = std::move(opened);
    m_maxName = m_folder ? m_layer->maxNameLength(*m_folder) : m_layer->maxNameLength(folder);

    std::vector<std::string> entries;
    const bool listed = m_layer->listFolder(m_folderPath, &entries).ok();
    if (listed && !m_plan.last.empty()) {
        const std::vector<std::string> journals = journalsOf(entries, m_plan.last, m_maxName);
        if (!journals.empty()) {
            CommitJournal::recover(*m_layer, m_folderPath, m_plan.last, journals);
            m_layer->listFolder(m_folderPath, &entries);
        }
    }
    s = checkNames(entries, listed);
    if (!s.ok()) return s;
    removeLeftovers(entries);

    int64_t bytes = m_plan.bytes;
    FileId where;
    if (m_folder && m_plan.shareable > 0 && m_layer->sharesExtents(*m_folder) &&
        m_layer->identify(*m_folder, &where) && where.device == m_plan.sharedFrom) {
        bytes -= m_plan.shareable;
    }
    int64_t free = 0;
    if (m_folder && bytes > 0 && m_layer->freeSpace(*m_folder, &free).ok() && free < bytes) {
        return Status::SysError(ENOSPC);
    }
    if (!m_folder) return Status::OK();

    // A background flush and the final one, at most, wait at a time.
    auto flusher = std::make_unique<WorkerLane>(2);
    s = flusher->start();
    if (!s.ok()) return s;
    m_flusher = std::move(flusher);
    m_fileByFile = m_layer->flushesFileByFile(*m_folder);
    return Status::OK();
}

std::vector<std::string> OutputSet::namesFor(const std::vector<std::string>& entries,
                                             const char* suffix, const OutputNames& names,
                                             std::size_t maxName) {
    std::vector<std::string> found;
    std::string stem;
    for (const std::string& name : entries) {
        if (!parseHiddenName(name, suffix, &stem)) continue;
        // Only a name as long as the limit can hold a name cut short.
        const bool cut = name.size() == maxName;
        if (names.contains(stem) || (cut && names.containsCut(stem))) found.push_back(name);
    }
    return found;
}

std::vector<std::string> OutputSet::journalsOf(const std::vector<std::string>& entries,
                                               const std::string& last, std::size_t maxName) {
    std::vector<std::string> found;
    std::string stem;
    for (const std::string& name : entries) {
        if (parseHiddenName(name, CommitJournal::kSuffix, &stem) &&
            (stem == last || (name.size() == maxName && stem == cutName(last, stem.size())))) {
            found.push_back(name);
        }
    }
    return found;
}

void OutputSet::settleInterrupted(FileLayer& layer, const std::string& folder,
                                  const std::string& last) {
    std::vector<std::string> entries;
    if (!layer.listFolder(folder, &entries).ok()) return;
    const std::vector<std::string> journals =
        journalsOf(entries, last, layer.maxNameLength(folder));
    if (!journals.empty()) CommitJournal::recover(layer, folder, last, journals);
}

Status OutputSet::checkNames(const std::vector<std::string>& entries, bool listed) {
    if (m_plan.names.longest() > m_maxName) return Status::SysError(ENAMETOOLONG);
    // Unlisted, only the first chunks are looked up: the rest would cost a
    // lookup each.
    constexpr int32_t kLookups = 4096;
    const std::vector<std::string> candidates = listed ? entries : m_plan.names.list(kLookups);
    for (const std::string& name : candidates) {
        if (!m_plan.names.contains(name)) continue;
        const std::string path = m_folderPath + name;
        switch (m_layer->entryOf(path)) {
            case FileLayer::Entry::Folder:
                return Status::SysError(EISDIR);
            case FileLayer::Entry::Special:
                if (m_plan.devicesInPlace) break;
                return Status::SysError(EEXIST);
            default:
                break;
        }
    }
    return Status::OK();
}

void OutputSet::removeLeftovers(const std::vector<std::string>& entries) {
    removeLeftoversOf(*m_layer, m_folderPath, entries, m_plan.names, m_maxName);
}

OutputSet::Leftovers OutputSet::clearLeftovers(FileLayer& layer, const std::string& folder,
                                               const OutputNames& names) {
    std::vector<std::string> entries;
    if (!layer.listFolder(folder, &entries).ok()) return Leftovers();
    return removeLeftoversOf(layer, folder, entries, names, layer.maxNameLength(folder));
}

OutputSet::Leftovers OutputSet::removeLeftoversOf(FileLayer& layer, const std::string& folder,
                                                  const std::vector<std::string>& entries,
                                                  const OutputNames& names, std::size_t maxName) {
    const std::string suffix = kTemporarySuffix;
    const auto lettersOf = [&suffix](const std::string& name) {
        return name.substr(name.size() - suffix.size() - kRandomLetters, kRandomLetters);
    };
    std::multimap<std::string, std::string> byLetters;
    std::string stem;
    for (const std::string& name : entries) {
        if (parseHiddenName(name, suffix, &stem)) byLetters.emplace(lettersOf(name), name);
    }
    Leftovers removed;
    for (const std::string& name : namesFor(entries, kTemporarySuffix, names, maxName)) {
        // Only a regular file that no running run holds, never through a
        // link; a run holds one of its files for all that share its letters.
        std::unique_ptr<File> leftover;
        if (!layer.openUnlocked(folder + name, &leftover).ok()) continue;
        bool held = false;
        const auto [from, to] = byLetters.equal_range(lettersOf(name));
        for (auto it = from; it != to && !held; ++it) {
            std::unique_ptr<File> other;
            held = it->second != name &&
                   layer.openUnlocked(folder + it->second, &other).number() == EWOULDBLOCK;
        }
        int64_t bytes = 0;
        if (held || !layer.size(*leftover, &bytes).ok()) bytes = 0;
        if (!held && layer.remove(folder + name).ok()) {
            ++removed.files;
            removed.bytes += bytes;
        }
    }
    return removed;
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

std::string OutputSet::hiddenName(const std::string& name, const char* suffix,
                                  const std::string& letters) {
    const std::string tail = "." + letters + suffix;
    const std::size_t room = m_maxName > 1 + tail.size() ? m_maxName - 1 - tail.size() : 1;
    return "." + cutName(name, room) + tail;
}

Status OutputSet::create(const std::string& name, bool last, File** out) {
    auto output = std::make_unique<Output>();
    output->name = name;
    output->last = last;
    const std::string finalPath = m_folderPath + name;
    std::unique_ptr<File> file;
    Status s;
    if (m_plan.devicesInPlace && m_layer->kindOf(finalPath) == FileLayer::Kind::Other) {
        s = m_layer->openWrite(finalPath, &file);
    } else {
        s = createTemporary(name, &output->temporary, &file);
        if (s.ok() && m_plan.keepAttributes &&
            m_layer->kindOf(finalPath) == FileLayer::Kind::Regular) {
            s = m_layer->keepAttributes(finalPath, *file);
            if (!s.ok()) m_layer->remove(m_folderPath + output->temporary);
        }
    }
    if (!s.ok()) return s;
    output->file = std::move(file);
    *out = output->file.get();
    if (output->temporary.empty() && m_flusher) m_inPlace.push_back(output->file);
    m_outputs.push_back(std::move(output));
    return Status::OK();
}

Status OutputSet::createDetached(const std::string& name, std::unique_ptr<File>* out) {
    auto output = std::make_unique<Output>();
    output->name = name;
    const Status s = createTemporary(name, &output->temporary, out);
    if (!s.ok()) return s;
    m_outputs.push_back(std::move(output));
    return Status::OK();
}

Status OutputSet::createTemporary(const std::string& name, std::string* temporary,
                                  std::unique_ptr<File>* out) {
    for (bool shared = true;; shared = false) {
        // The run's files share its letters, so that the one it keeps locked
        // speaks for them all; a name taken gets letters of its own, and the
        // run keeps that file locked too.
        *temporary = hiddenName(name, kTemporarySuffix, shared ? m_runLetters : randomLetters());
        const std::string path = m_folderPath + *temporary;
        Status s = m_layer->createNew(path, out);
        if (s.number() == EEXIST) continue;
        if (!s.ok()) return s;
        if (m_holder && shared) {
            s = m_layer->lock(**out);
        } else {
            std::unique_ptr<File> holder;
            s = m_layer->openUnlocked(path, &holder);
            if (s.ok() || s.number() != EWOULDBLOCK) m_holders.push_back(std::move(holder));
            if (!m_holder && shared && s.ok()) m_holder = true;
        }
        // Another run's clean-up took the new name between its creation and
        // the lock, and removes it: take another.
        if (s.number() == EWOULDBLOCK) {
            out->reset();
            continue;
        }
        // Where the file system has no locks, the file goes unlocked.
        return Status::OK();
    }
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
    // A flush already waiting covers these bytes too.
    if (m_flusher->waiting() > 0) return;
    m_flusher->post([layer = m_layer, folder = m_folder, times = m_flushTimes] {
        const auto start = std::chrono::steady_clock::now();
        const Status s = layer->flushFileSystem(*folder);
        if (times) times->store(msSince(start));
        return s;
    });
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
    } else if (m_fileByFile) {
        // A flush of the file system would not reach it: the flusher flushes
        // it now, while the run goes on, then closes it.
        const int64_t job = m_flusher->post(
            [layer = m_layer, file = output->file, times = m_flushTimes] {
                const auto start = std::chrono::steady_clock::now();
                Status s = layer->flush(*file);
                const Status closed = layer->close(*file);
                if (times) times->store(msSince(start));
                return s.ok() ? closed : s;
            },
            m_stop);
        if (job == 0) return Status::SysError(ECANCELED);
        output->flushQueued = true;
        return Status::OK();
    } else {
        startWriteback(*output, true);
    }
    return m_layer->close(file);
}

Status OutputSet::flushAll() {
    if (!m_flusher) return Status::OK();
    // The job holds what it flushes, so that a stopped run can leave it to
    // finish on its own.
    // Where each file is flushed on its own, those the flusher was not
    // handed (written by others, or still open) are opened again for it.
    std::vector<std::string> others;
    for (const auto& output : m_outputs) {
        if (m_fileByFile && !output->flushQueued && !output->temporary.empty())
            others.push_back(m_folderPath + output->temporary);
    }
    const int64_t job = m_flusher->post(
        [layer = m_layer, folder = m_folder, files = m_inPlace, others = std::move(others)] {
            Status s = layer->flushFileSystem(*folder);
            for (const auto& file : files) {
                if (s.ok()) s = layer->flush(*file);
            }
            for (const std::string& path : others) {
                std::unique_ptr<File> file;
                if (s.ok()) s = layer->openRead(path, &file);
                if (s.ok()) s = layer->flush(*file);
                if (file) {
                    const Status closed = layer->close(*file);
                    if (s.ok()) s = closed;
                }
            }
            return s;
        });
    return m_flusher->waitFor(job, m_stop);
}

Status OutputSet::renameOutputs(bool last) {
    bool renamed = false;
    for (auto& output : m_outputs) {
        if (output->last != last || output->temporary.empty()) continue;
        // Until the last output has its name the new set is not whole: a stop
        // puts back what the folder held.
        if (!last && m_stop && *m_stop) return Status::SysError(ECANCELED);
        const Status s =
            m_layer->rename(m_folderPath + output->temporary, m_folderPath + output->name);
        if (!s.ok()) return s;
        output->temporary.clear();
        m_placed.push_back(output->name);
        renamed = true;
    }
    return renamed ? flushEntries() : Status::OK();
}

Status OutputSet::flushEntries() {
    if (m_folder) return m_layer->flushFolder(*m_folder);
    return m_anchor ? m_layer->flushFileSystem(*m_anchor) : Status::OK();
}

Status OutputSet::setAside() {
    // The last output's older file goes first: a cut in the middle then
    // never leaves an older header over new chunks, nor a new one over old.
    std::vector<std::string> names;
    for (const auto& output : m_outputs) {
        if (output->last && !output->temporary.empty()) names.push_back(output->name);
    }
    for (const auto& output : m_outputs) {
        if (!output->last && !output->temporary.empty()) names.push_back(output->name);
    }
    std::vector<CommitJournal::Entry> entries;
    for (const std::string& name : names) entries.push_back({name, ""});
    for (const std::string& name : m_alsoReplaced) {
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            entries.push_back({name, ""});
        }
    }
    bool older = false;
    for (auto& entry : entries) {
        if (m_layer->entryOf(m_folderPath + entry.name) == FileLayer::Entry::None) continue;
        do {
            entry.aside = hiddenName(entry.name, kAsideSuffix, randomLetters());
        } while (m_layer->entryOf(m_folderPath + entry.aside) != FileLayer::Entry::None);
        older = true;
    }
    if (!older) return Status::OK();

    m_journal = std::make_unique<CommitJournal>(m_layer, m_folderPath);
    Status s;
    do {
        s = m_journal->write(hiddenName(m_plan.last, CommitJournal::kSuffix, randomLetters()),
                             m_plan.last, entries);
    } while (s.number() == EEXIST);
    if (s.ok()) s = flushEntries();
    for (const auto& entry : entries) {
        if (!s.ok()) break;
        if (entry.aside.empty()) continue;
        // Nothing has its final name yet: a stop puts back what was set aside.
        if (m_stop && *m_stop) {
            s = Status::SysError(ECANCELED);
            break;
        }
        s = m_layer->renameExclusive(m_folderPath + entry.name, m_folderPath + entry.aside);
        if (s.ok()) m_asides.push_back({entry.name, entry.aside});
    }
    if (s.ok()) s = flushEntries();
    return s;
}

void OutputSet::rollBack() {
    bool settled = true;
    for (auto it = m_placed.rbegin(); it != m_placed.rend(); ++it) {
        settled = m_layer->remove(m_folderPath + *it).ok() && settled;
    }
    m_placed.clear();
    for (auto it = m_asides.rbegin(); it != m_asides.rend(); ++it) {
        settled =
            m_layer->rename(m_folderPath + it->aside, m_folderPath + it->name).ok() && settled;
    }
    m_asides.clear();
    if (settled) settled = flushEntries().ok();
    // A journal left behind lets the next run finish putting things back.
    if (settled && m_journal) m_journal->remove();
    m_journal.reset();
}

Status OutputSet::commit() {
    Status s = flushAll();
    for (auto& output : m_outputs) {
        if (s.ok() && output->file && output->file->isOpen()) s = m_layer->close(*output->file);
    }
    // Up to the last output's rename a stop leaves nothing; from there on the
    // run completes.
    if (s.ok() && m_stop && *m_stop) s = Status::SysError(ECANCELED);
    if (!s.ok()) return s;
    endFlusher();
    if (!m_folder) {
        for (const auto& output : m_outputs) {
            if (!m_anchor && !output->temporary.empty()) {
                m_layer->openRead(m_folderPath + output->temporary, &m_anchor);
            }
        }
    }
    m_placed.clear();
    m_asides.clear();
    s = setAside();
    if (s.ok()) s = renameOutputs(false);
    if (s.ok()) s = renameOutputs(true);
    if (!s.ok()) {
        rollBack();
        return s;
    }
    // The new set is complete and on storage: the older files can go. A
    // cut before their removal is on storage leaves them to the next run.
    bool removed = true;
    for (const Aside& aside : m_asides) {
        removed = m_layer->remove(m_folderPath + aside.aside).ok() && removed;
    }
    if (removed && m_journal) m_journal->remove();
    if (!m_asides.empty()) flushEntries();
    m_journal.reset();
    m_asides.clear();
    m_placed.clear();
    m_anchor.reset();
    m_holders.clear();
    m_holder = false;
    // Nothing was written through the folder's descriptor: its close has
    // nothing to report.
    m_outputs.clear();
    m_folder.reset();
    return Status::OK();
}

void OutputSet::endFlusher() {
    if (!m_flusher) return;
    // A stopped run does not wait for a flush the kernel cannot interrupt.
    if (m_stop && *m_stop) {
        m_flusher->detach();
    } else {
        m_flusher->stop();
    }
    m_flusher.reset();
    m_inPlace.clear();
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
    m_anchor.reset();
    m_holders.clear();
    m_holder = false;
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
