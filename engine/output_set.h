#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/file_layer.h"
#include "engine/status.h"

namespace morvane {

// The files one run writes into one folder, written under temporary names
// and put under their final names only when every one of them is complete
// and on storage. A run that fails or is stopped removes them all, so the
// folder holds exactly what it held before.
//
// A temporary name is "." + the final name + "." + six random letters +
// ".morvane-part", created exclusively (never through an existing name or
// link). When that would exceed the file system's name limit, the final
// name is cut short in it. After a kill or a power cut only such names can
// remain; the next run writing the same final names removes them.
//
// Writeback of each file is started while it is written, and a background
// thread flushes the file system (syncfs) every kBackgroundStep bytes, so
// that the final flush has little left. commit() flushes the file system
// once more, renames the outputs in the order they were created, flushes
// the folder, then renames the outputs created `last` (the header: what
// makes a set) and flushes the folder again. An existing file of a final
// name, or a symbolic link, is replaced by the rename, never written in
// place or through.
//
// For a run that asks for it, an output whose final name is something other
// than a regular file (a block device, /dev/null, a FIFO) is written in
// place and flushed with fdatasync: a disk image restored onto a stick.
class OutputSet {
  public:
    static constexpr int64_t kBackgroundStep = 64 << 20;
    static constexpr const char* kTemporarySuffix = ".morvane-part";

    // Tells whether `stem`, the final name inside a temporary name, is one of
    // this run's outputs. `cut`: the final name was cut short, so `stem` is
    // only its beginning.
    using NameTest = std::function<bool(const std::string& stem, bool cut)>;

    // `stop`: set from any thread to end the run's waits early.
    OutputSet(std::shared_ptr<FileLayer> layer, const std::atomic<bool>* stop);
    // Removes the temporary files of a run not committed.
    ~OutputSet();
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // Starts a run writing into `folder`: opens it, removes the temporary
    // files that earlier runs left for names `isOurs` accepts, and fails
    // with ENOSPC when fewer than `bytes` bytes are free there.
    // `devicesInPlace`: a final name that is not a regular file is written
    // in place (see above); otherwise it is replaced like any other.
    Status begin(const std::string& folder, int64_t bytes, const NameTest& isOurs,
                 bool devicesInPlace = false);
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
    // ECANCELED when `stop` was set during the final flush; the run's
    // files are then removed.
    Status commit();
    // Removes every temporary file of the run and forgets the run.
    void abandon();
    // True when copies into the folder may share extents (reflink).
    bool sharesExtents() { return m_folder && m_layer->sharesExtents(*m_folder); }

  private:
    struct Output;
    struct Flusher;

    Output* find(File& file);
    // Starts writeback of what `output` has not handed over yet (once a few
    // megabytes have gathered, unless `whole`), and asks for a background
    // flush every kBackgroundStep bytes.
    void startWriteback(Output& output, bool whole);
    // The temporary name for `name`.
    std::string temporaryName(const std::string& name);
    std::string randomLetters();
    void removeLeftovers(const NameTest& isOurs);
    Status flushAll();
    // Renames the outputs created `last` or the others; `*placed` is set
    // once one of them is under its final name.
    Status renameOutputs(bool last, bool* placed);
    void endFlusher();

    std::shared_ptr<FileLayer> m_layer;
    const std::atomic<bool>* m_stop;
    std::string m_folderPath;
    std::shared_ptr<File> m_folder;
    std::size_t m_maxName = 255;
    std::vector<std::unique_ptr<Output>> m_outputs;
    int64_t m_unflushed = 0;
    std::shared_ptr<Flusher> m_flusher;
    bool m_devicesInPlace = false;
    std::array<unsigned char, 4096> m_noise{};
    std::size_t m_noiseUsed = 4096;
};

// The folder part of `path`, ending in "/" ("./" when it has none).
std::string folderOf(const std::string& path);
// The last component of `path`.
std::string nameOf(const std::string& path);

}  // namespace morvane
