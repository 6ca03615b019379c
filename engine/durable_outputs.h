#pragma once

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "engine/file_layer.h"
#include "engine/status.h"

namespace morvane {

// The files one run creates in one folder, and the flushes that put them on
// storage before the run reports success.
//
// Writeback of each file is started while it is written and once more when
// it is finished; the file is then closed without waiting for the disk.
// finish() waits once, for the whole file system (syncfs), then flushes the
// folder (fsync), which also empties the disk's write cache where the file
// system's own sync does not. Writeback errors of closed files are not lost:
// syncfs reports every writeback error on the file system since the
// descriptor it is given was opened (Linux 5.8 and later), and the folder is
// opened before the first output. A file reopened late would not see them.
//
// A long run also flushes the file system in the background, on a thread of
// its own, each time kBackgroundStep more bytes have been written, so that
// the disk's write cache is emptied while the run goes on and finish() has
// little left to wait for. The first failure of such a flush is kept and
// reported by finish(): syncfs reports an error only once per descriptor.
//
// A file that lies on another file system than the folder (a name linking
// elsewhere), and every file when the folder cannot be opened for reading,
// is flushed before it is closed instead.
class DurableOutputs {
  public:
    static constexpr int64_t kBackgroundStep = 64 << 20;

    explicit DurableOutputs(FileLayer& layer) : m_layer(layer) {}
    ~DurableOutputs() { release(); }
    DurableOutputs(const DurableOutputs&) = delete;
    DurableOutputs& operator=(const DurableOutputs&) = delete;

    // Starts a run writing into `folder`; forgets any earlier run. Returns
    // the failure to open the folder (other than a lack of read permission).
    Status begin(const std::string& folder);
    // Notes that `file` has grown by what was written to it since the last
    // call: starts its writeback, and a background flush every
    // kBackgroundStep bytes.
    void wrote(File& file);
    // Hands a completely written file over to writeback and closes it.
    // Returns the first failure of the flush (see above) or the close.
    Status retire(File& file);
    // Returns once every file retired since begin() and the folder's entries
    // are on storage, or the first failure of that (a background flush's
    // included); releases the folder.
    Status finish();

    // Releases the folder when a run ends without finish(), so that a failed
    // run keeps no descriptor open.
    class Scope {
      public:
        explicit Scope(DurableOutputs& outputs) : m_outputs(outputs) {}
        ~Scope() { m_outputs.release(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

      private:
        DurableOutputs& m_outputs;
    };

  private:
    // Starts writeback of what `file` has not handed over yet, and asks for
    // a background flush every kBackgroundStep bytes.
    void startWriteback(File& file, bool whole);
    void runFlusher();
    // Waits for the background flushes to end; the first failure of them.
    Status stopFlusher();
    void release();

    FileLayer& m_layer;
    std::unique_ptr<File> m_folder;
    FileId m_folderId;
    int64_t m_unflushed = 0;

    std::thread m_flusher;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_flushWanted = false;
    bool m_stopping = false;
    Status m_flushFailure;
};

}  // namespace morvane
