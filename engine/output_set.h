#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/commit_journal.h"
#include "engine/file_layer.h"
#include "engine/output_names.h"
#include "engine/status.h"
#include "engine/worker_lane.h"

namespace morvane {

// The files one run writes into one folder, written under temporary names
// and put under their final names only when every one of them is complete
// and on storage. A run that fails or is stopped removes them all, so the
// folder holds exactly what it held before.
//
// A temporary name is "." + the final name + "." + six random letters +
// ".morvane-part", created exclusively (never through an existing name or
// link) and locked (flock) while it is written. A run's temporary files
// share its letters, and the run keeps the first of them open and locked
// until it ends, which holds them all. When a name would exceed the file
// system's name limit, the final name is cut short in it (see cutName).
// After a kill or a power cut only such names can remain; the next run
// writing the same final names removes the regular files among them that
// no run holds, never a folder or a link.
//
// Before anything is written, begin() checks every final name: its length
// against the folder's limit (ENAMETOOLONG), and that no folder (EISDIR) or
// other non-file (EEXIST) stands in the way.
//
// Writeback of each file is started while it is written, and a background
// thread flushes the file system (syncfs) every kBackgroundStep bytes, so
// that the final flush has little left. commit() flushes the file system
// once more. When older files have final names of the run, it then writes a
// CommitJournal and sets them aside under names of their own
// ("." + name + "." + six letters + ".morvane-old"), the `last` output's
// first. It renames the outputs in the order they were created, flushes
// the folder, renames the outputs created `last` (the header: what makes a
// set) and flushes the folder again; only then are the set-aside files
// removed. A failure at any step removes the new files and puts the older
// ones back. The folder is flushed with fsync, or, where it cannot be
// opened, with syncfs through one of the run's files.
//
// For a run that asks for it, an output whose final name is something other
// than a regular file (a block device, /dev/null, a FIFO) is written in
// place and flushed with fdatasync: a disk image restored onto a stick.
class OutputSet {
  public:
    static constexpr int64_t kBackgroundStep = 64 << 20;
    static constexpr const char* kTemporarySuffix = ".morvane-part";

    static constexpr const char* kAsideSuffix = ".morvane-old";

    // What a run will write into the folder.
    struct Plan {
        // Every final name the run may write.
        OutputNames names;
        // The name that completes the set (a header, a glued file); the key
        // of the commit's journal. Need not be one of `names`.
        std::string last;
        // Bytes the run writes, and how many of them may be copies that
        // share extents with files on the device `sharedFrom`.
        int64_t bytes = 0;
        int64_t shareable = 0;
        dev_t sharedFrom = 0;
        // A final name that is not a regular file is written in place.
        bool devicesInPlace = false;
        // A replaced file's permission bits, owner and group are kept.
        bool keepAttributes = false;
    };

    // `stop`: set from any thread to end the run's waits early.
    OutputSet(std::shared_ptr<FileLayer> layer, const std::atomic<bool>* stop);
    // Removes the temporary files of a run not committed.
    ~OutputSet();
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Starts a run writing into `folder`: opens it, settles commits of
    // `plan.last` cut short there, checks the final names (see above),
    // removes the temporary files that earlier runs left for them, and
    // fails with ENOSPC when the folder lacks the room for what will really
    // be written there.
    Status begin(const std::string& folder, const Plan& plan);
    // From the next begin() on, each background flush puts how long it
    // took, in milliseconds, into `times`.
    void timeFlushesInto(std::shared_ptr<std::atomic<int64_t>> times) {
        m_flushTimes = std::move(times);
    }
    // What clearing leftovers removed: files, and the bytes they held.
    struct Leftovers {
        int32_t files = 0;
        int64_t bytes = 0;
    };
    // Removes from `folder` (ending in "/") the temporary files that runs
    // which never ended left for the final names `names`, by the rule
    // begin() applies: only unlocked regular files, never a link or a
    // folder, never one that a running run holds.
    static Leftovers clearLeftovers(FileLayer& layer, const std::string& folder,
                                    const OutputNames& names);
    // Settles the commits of `last` in `folder` that a cut interrupted (see
    // CommitJournal), as begin() does.
    static void settleInterrupted(FileLayer& layer, const std::string& folder,
                                  const std::string& last);
    // Has the commit also replace the existing file `name`, which the run
    // writes no new file for: it is set aside and removed with the others.
    void replaceAlso(const std::string& name) { m_alsoReplaced.push_back(name); }
    // Creates the output to be named `name` in the folder. The set owns
    // the file; `*out` stays valid until the run ends. `last`: renamed
    // after all the others.
    Status create(const std::string& name, bool last, File** out);
    // As create, for a file whose writer keeps it and closes it (before
    // commit). It is flushed with the others and renamed in creation order.
    Status createDetached(const std::string& name, std::unique_ptr<File>* out);
    // Where the output to be named `name` is now: its temporary path until
    // commit; "" when there is no such output.
    std::string pathOf(const std::string& name) const;
    // Notes that `bytes` more bytes were written to `file`.
    void wrote(File& file, int64_t bytes);
    // Hands a completely written file to writeback and closes it.
    Status retire(File& file);
    // Puts every output under its final name, as described above. Returns
    // ECANCELED when `stop` was set before the last output's rename (during
    // the final flush, while older files were set aside or while the other
    // new files took their names); the run's files are then removed and the
    // older ones put back. Once the last output has been renamed the commit
    // completes.
    Status commit();
    // Removes every temporary file of the run and forgets the run.
    void abandon();
    // True when copies into the folder may share extents (reflink).
    bool sharesExtents() { return m_folder && m_layer->sharesExtents(*m_folder); }

  private:
    struct Output;

    Output* find(File& file);
    // Starts writeback of what `output` has not handed over yet (once a few
    // megabytes have gathered, unless `whole`), and asks for a background
    // flush every kBackgroundStep bytes.
    void startWriteback(Output& output, bool whole);
    // Creates and locks a new temporary file for the final name `name`.
    Status createTemporary(const std::string& name, std::string* temporary,
                           std::unique_ptr<File>* out);
    // The hidden name of its own for `name`, ending in `suffix`.
    std::string hiddenName(const std::string& name, const char* suffix, const std::string& letters);
    std::string randomLetters();
    // The names in the folder that stand for final names of the run.
    static std::vector<std::string> namesFor(const std::vector<std::string>& entries,
                                             const char* suffix, const OutputNames& names,
                                             std::size_t maxName);
    // The journals in `entries` of commits whose last name is `last`.
    static std::vector<std::string> journalsOf(const std::vector<std::string>& entries,
                                               const std::string& last, std::size_t maxName);
    Status checkNames(const std::vector<std::string>& entries, bool listed);
    void removeLeftovers(const std::vector<std::string>& entries);
    static Leftovers removeLeftoversOf(FileLayer& layer, const std::string& folder,
                                       const std::vector<std::string>& entries,
                                       const OutputNames& names, std::size_t maxName);
    Status flushAll();
    // Sets aside the older files of the final names, the last output's first.
    Status setAside();
    // Renames the outputs created `last` or the others into place.
    Status renameOutputs(bool last);
    // Removes the new files put in place and puts the older ones back.
    void rollBack();
    // Flushes the folder's entries.
    Status flushEntries();
    void endFlusher();

    struct Aside {
        std::string name;
        std::string aside;
    };

    std::shared_ptr<FileLayer> m_layer;
    const std::atomic<bool>* m_stop;
    std::string m_folderPath;
    std::shared_ptr<File> m_folder;
    std::size_t m_maxName = 255;
    Plan m_plan;
    std::vector<std::string> m_alsoReplaced;
    std::vector<Aside> m_asides;
    std::vector<std::string> m_placed;
    std::unique_ptr<CommitJournal> m_journal;
    // Where the folder cannot be opened: one of the run's files, for syncfs.
    std::unique_ptr<File> m_anchor;
    // The letters of the run's temporary names, and the files it keeps
    // open to hold their locks.
    std::string m_runLetters;
    std::vector<std::unique_ptr<File>> m_holders;
    bool m_holder = false;
    std::vector<std::unique_ptr<Output>> m_outputs;
    int64_t m_unflushed = 0;
    // Flushes the file system while the run goes on, and makes the final
    // flush; with the outputs written in place, which that flush covers.
    std::unique_ptr<WorkerLane> m_flusher;
    std::vector<std::shared_ptr<File>> m_inPlace;
    // The folder's file system flushes only what is flushed file by file.
    bool m_fileByFile = false;
    std::shared_ptr<std::atomic<int64_t>> m_flushTimes;
    std::array<unsigned char, 4096> m_noise{};
    std::size_t m_noiseUsed = 4096;
};

// The folder part of `path`, ending in "/" ("./" when it has none).
std::string folderOf(const std::string& path);
// The last component of `path`.
std::string nameOf(const std::string& path);

}  // namespace morvane
