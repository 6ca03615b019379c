#pragma once

#include <memory>
#include <string>
#include <vector>

#include "engine/status.h"

namespace morvane {

class File;
class FileLayer;

// The note a commit keeps in its folder while it replaces older files: the
// name that completes the new set (its key: a header, a glued file), every
// final name the commit puts in place, and, for those that held an older
// file, the name of its own that file was set aside under.
//
// It is written and on storage before the first older file is moved, and
// locked while the commit goes on. After a cut mid-commit, recover() by the
// next run of the same key settles it: when the key stands under its name
// the new set was complete, and the set-aside files are removed; otherwise
// they are put back and the new files of the commit removed.
class CommitJournal {
  public:
    struct Entry {
        std::string name;
        std::string aside;  // empty when no older file had the name
    };

    static constexpr const char* kSuffix = ".morvane-commit";

    CommitJournal(std::shared_ptr<FileLayer> layer, std::string folderPath);
    CommitJournal(const CommitJournal&) = delete;
    CommitJournal& operator=(const CommitJournal&) = delete;

    // Creates the journal `name` in the folder, writes `key` and `entries`,
    // flushes it and keeps it locked. EEXIST when the name is taken.
    Status write(const std::string& name, const std::string& key,
                 const std::vector<Entry>& entries);
    // Removes the journal and unlocks it.
    Status remove();

    // Settles the journals `journalNames` (names in the folder) that are
    // `key`'s, as above. Journals of other keys, and those a running commit
    // holds, are left alone. True when older files were put back.
    static bool recover(FileLayer& layer, const std::string& folderPath, const std::string& key,
                        const std::vector<std::string>& journalNames);

  private:
    std::shared_ptr<FileLayer> m_layer;
    std::string m_folderPath;
    std::string m_name;
    std::unique_ptr<File> m_file;
};

}  // namespace morvane
