#include "engine/commit_journal.h"

#include <cerrno>

#include "engine/file_layer.h"

namespace morvane {

namespace {

constexpr char kMagic[] = "MORVANE-COMMIT 1";
// A journal lists a few dozen bytes per chunk: more than this is not one.
constexpr int64_t kMaxJournal = int64_t{1} << 30;

void putField(std::string* out, const std::string& field) {
    out->append(field);
    out->push_back('\0');
}

// The fields of a journal's text; false when it is not one.
bool parseJournal(const std::string& text, std::string* key,
                  std::vector<CommitJournal::Entry>* entries) {
    std::vector<std::string> fields;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find('\0', at);
        if (end == std::string::npos) return false;
        fields.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (fields.size() < 2 || fields[0] != kMagic || fields.size() % 2 != 0) return false;
    *key = fields[1];
    for (std::size_t i = 2; i < fields.size(); i += 2) {
        entries->push_back({fields[i], fields[i + 1]});
    }
    return true;
}

bool isPlainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos;
}

}  // namespace

CommitJournal::CommitJournal(std::shared_ptr<FileLayer> layer, std::string folderPath)
    : m_layer(std::move(layer)), m_folderPath(std::move(folderPath)) {}

Status CommitJournal::write(const std::string& name, const std::string& key,
                            const std::vector<Entry>& entries) {
    std::string text;
    putField(&text, kMagic);
    putField(&text, key);
    for (const Entry& entry : entries) {
        putField(&text, entry.name);
        putField(&text, entry.aside);
    }
    std::unique_ptr<File> file;
    Status s = m_layer->createNew(m_folderPath + name, &file);
    if (!s.ok()) return s;
    m_name = name;
    m_file = std::move(file);
    s = m_layer->lock(*m_file);
    if (s.number() == ENOLCK || s.number() == EOPNOTSUPP) s = Status::OK();
    if (s.ok()) s = m_layer->write(*m_file, text.data(), text.size());
    if (s.ok()) s = m_layer->flush(*m_file);
    if (!s.ok()) remove();
    return s;
}

Status CommitJournal::remove() {
    if (m_name.empty()) return Status::OK();
    const Status s = m_layer->remove(m_folderPath + m_name);
    m_name.clear();
    // Its bytes are on storage and its name is gone: closing only unlocks it.
    m_file.reset();
    return s;
}

bool CommitJournal::recover(FileLayer& layer, const std::string& folderPath, const std::string& key,
                            const std::vector<std::string>& journalNames) {
    bool restored = false;
    std::unique_ptr<File> folder;
    if (!journalNames.empty()) layer.openFolder(folderPath, &folder);
    for (const std::string& journalName : journalNames) {
        std::unique_ptr<File> file;
        if (!layer.openUnlocked(folderPath + journalName, &file).ok()) continue;
        int64_t length = 0;
        if (!layer.size(*file, &length).ok() || length > kMaxJournal) continue;
        std::string text(static_cast<std::size_t>(length), '\0');
        std::string journalKey;
        std::vector<Entry> entries;
        if (!readExact(layer, *file, text.data(), text.size()).ok() ||
            !parseJournal(text, &journalKey, &entries) || journalKey != key) {
            continue;
        }
        const bool complete = layer.entryOf(folderPath + key) != FileLayer::Entry::None;
        bool settled = true;
        for (const Entry& entry : entries) {
            if (!isPlainName(entry.name) || (!entry.aside.empty() && !isPlainName(entry.aside))) {
                settled = false;
                continue;
            }
            const std::string finalPath = folderPath + entry.name;
            const std::string asidePath = folderPath + entry.aside;
            if (complete) {
                if (!entry.aside.empty() && layer.entryOf(asidePath) != FileLayer::Entry::None) {
                    settled = layer.remove(asidePath).ok() && settled;
                }
            } else if (!entry.aside.empty()) {
                if (layer.entryOf(asidePath) != FileLayer::Entry::None) {
                    settled = layer.rename(asidePath, finalPath).ok() && settled;
                    restored = true;
                }
            } else if (layer.entryOf(finalPath) == FileLayer::Entry::File) {
                settled = layer.remove(finalPath).ok() && settled;
            }
        }
        // Gone only once what it settled is on storage; kept when something
        // could not be settled, for the next run.
        if (settled && folder) settled = layer.flushFolder(*folder).ok();
        if (settled) layer.remove(folderPath + journalName);
    }
    return restored;
}

}  // namespace morvane
