#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/status.h"

namespace morvane {

// An open file. Owns its descriptor: destroying an open File closes it and
// ignores the result, so every failure path releases what it opened. Call
// FileLayer::close to learn whether the close succeeded.
class File {
  public:
    File(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }
    bool isOpen() const { return m_fd >= 0; }
    // Gives up the descriptor without closing it; returns it.
    int release();

    // Set once the kernel refused to copy into or out of this file, so
    // later copies go through a buffer straight away.
    bool kernelCopyRefused() const { return m_kernelCopyRefused; }
    void setKernelCopyRefused() { m_kernelCopyRefused = true; }

    // Bytes written through the layer so far, and how many of them have
    // been handed to writeback.
    int64_t written() const { return m_written; }
    void addWritten(int64_t bytes) { m_written += bytes; }
    int64_t writebackStarted() const { return m_writebackStarted; }
    void setWritebackStarted(int64_t bytes) { m_writebackStarted = bytes; }

  private:
    int m_fd;
    std::string m_path;
    bool m_kernelCopyRefused = false;
    int64_t m_written = 0;
    int64_t m_writebackStarted = 0;
};

// Identity of a file on its device: two paths naming one (device, inode)
// pair name one file, whatever their spelling or links.
struct FileId {
    dev_t device = 0;
    ino_t inode = 0;
    bool operator==(const FileId& o) const { return device == o.device && inode == o.inode; }
};

// The engines' only way to the file system. Every operation returns a
// Status carrying errno and its text when it fails. The POSIX layer retries
// EINTR and short writes. Tests derive from it to make single operations fail.
class FileLayer {
  public:
    virtual ~FileLayer() = default;

    // Opens an existing file for reading raw bytes.
    virtual Status openRead(const std::string& path, std::unique_ptr<File>* out);
    // Opens a file for writing raw bytes, creating it when missing and
    // emptying it when present.
    virtual Status openWrite(const std::string& path, std::unique_ptr<File>* out);
    // Length in bytes of an open file.
    virtual Status size(File& file, int64_t* out);
    // Reads up to `n` bytes; `*got` is less than `n` only at the end of the file.
    virtual Status read(File& file, char* buffer, std::size_t n, std::size_t* got);
    // Writes all `n` bytes.
    virtual Status write(File& file, const char* buffer, std::size_t n);
    // Copies exactly `n` bytes from the current offset of `from` to that of
    // `to`, in the kernel where the file system allows it, else through
    // `buffer` (at least `n` bytes). An early end of `from` is ENODATA.
    virtual Status copy(File& from, File& to, std::size_t n, char* buffer);
    // Starts writing what was written so far to storage, without waiting,
    // so that the final flush has little left to do. Waits for a few
    // megabytes to gather first unless `whole`. A hint, never an error.
    virtual void startWriteback(File& file, bool whole);
    // Flushes the file's data to storage. Files that cannot be synced
    // (EINVAL, such as /dev/null) count as flushed.
    virtual Status flush(File& file);
    // Opens a folder for flushFileSystem and flushFolder.
    virtual Status openFolder(const std::string& path, std::unique_ptr<File>* out);
    // Writes everything the file system holding `folder` has not yet put on
    // storage, and reports any writeback error on that file system since
    // `folder` was opened (syncfs).
    virtual Status flushFileSystem(File& folder);
    // Flushes a folder's entries to storage. Folders that cannot be synced
    // (EINVAL) count as flushed.
    virtual Status flushFolder(File& folder);
    // Closes the file and reports the result of close(2).
    virtual Status close(File& file);
    // True when `path` names an existing entry that is not a directory
    // (links followed).
    virtual bool isPresentFile(const std::string& path);
    // The identity of the file `path` names, following links. False when
    // there is none (or it cannot be looked up).
    virtual bool identify(const std::string& path, FileId* out);
    // The identity of an open file.
    virtual bool identify(File& file, FileId* out);
    // A buffer of `bytes` bytes for block copies; nullptr when the memory
    // cannot be had.
    virtual std::unique_ptr<char[]> allocateBlock(std::size_t bytes);

    // Positioned access and folder listing, for files written out of order
    // (recovery data) and for finding a set's files.

    // Opens a file for reading and writing, creating it when missing and
    // emptying it when present.
    virtual Status openReadWrite(const std::string& path, std::unique_ptr<File>* out);
    // Reads up to `n` bytes at `offset` without moving the file's offset;
    // `*got` is less than `n` only at the end of the file.
    virtual Status readAt(File& file, int64_t offset, char* buffer, std::size_t n,
                          std::size_t* got);
    // Writes all `n` bytes at `offset` without moving the file's offset.
    virtual Status writeAt(File& file, int64_t offset, const char* buffer, std::size_t n);
    // The names of the entries of folder `path`, without "." and "..".
    virtual Status listFolder(const std::string& path, std::vector<std::string>* names);

  protected:
    // The read/write path of copy(): one read() and one write() per piece.
    Status copyThroughBuffer(File& from, File& to, std::size_t n, char* buffer);
};

// Reads exactly `n` bytes, or fails with ENODATA when the file ends early.
Status readExact(FileLayer& layer, File& file, char* buffer, std::size_t n);

// ENODATA with a text saying that `path` ended before the expected bytes.
Status earlyEnd(const std::string& path);

// The folder that holds the running program, ending in "/".
std::string executableFolder();

// `folder` with exactly one trailing "/" appended when it has none.
std::string withTrailingSeparator(const std::string& folder);

}  // namespace morvane
