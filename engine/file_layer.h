#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/status.h"

namespace morvane {

// Writes and kernel copies are made in pieces of this many bytes: one
// write(2) of a whole 10 MiB block was measured several times slower than
// the same bytes in 1 MiB pieces, which keep the copy into the page cache in
// the processor's cache. A run also checks for a stop request between pieces.
constexpr std::size_t kPieceSize = 1 << 20;

// An open file: a descriptor and the path it was opened by. Destroying an
// open File closes it and ignores the result, so every failure path releases
// what it opened. Call FileLayer::close to learn whether the close succeeded.
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

  private:
    int m_fd;
    std::string m_path;
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
    // Creates `path` for writing; fails with EEXIST when any entry, a
    // symbolic link included, already has that name.
    virtual Status createNew(const std::string& path, std::unique_ptr<File>* out);
    // Length in bytes of an open file.
    virtual Status size(File& file, int64_t* out);
    // Reads up to `n` bytes; `*got` is less than `n` only at the end of the file.
    virtual Status read(File& file, char* buffer, std::size_t n, std::size_t* got);
    // The current offset of `file`.
    virtual Status position(File& file, int64_t* out);
    // Writes all `n` bytes (in pieces of at most kPieceSize).
    virtual Status write(File& file, const char* buffer, std::size_t n);
    // Copies exactly `n` bytes from the current offset of `from` to that of
    // `to`, in the kernel where the file system allows it (sharing extents
    // where it can), else through `buffer` (at least `n` bytes). An early
    // end of `from` is ENODATA.
    virtual Status copy(File& from, File& to, std::size_t n, char* buffer);
    // Starts writing `bytes` bytes from `offset` of `file` to storage,
    // without waiting. A hint, never an error.
    virtual void startWriteback(File& file, int64_t offset, int64_t bytes);
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
    // Renames `from` to `to`, replacing what `to` names.
    virtual Status rename(const std::string& from, const std::string& to);
    // Renames `from` to `to`; fails with EEXIST when `to` names anything.
    virtual Status renameExclusive(const std::string& from, const std::string& to);
    // Takes an exclusive lock on `file` (flock) without waiting: EWOULDBLOCK
    // when another open file holds it. Released when the file is closed.
    virtual Status lock(File& file);
    // Opens the regular file `path` for reading, never through a symbolic
    // link, and takes its lock: ELOOP for a link, EISDIR for a folder,
    // EINVAL for another non-file, EWOULDBLOCK while a run holds the file.
    virtual Status openUnlocked(const std::string& path, std::unique_ptr<File>* out);
    // Gives `file` the permission bits of the regular file `existing`, and
    // its owner and group where the process may set them.
    virtual Status keepAttributes(const std::string& existing, File& file);
    // Removes the name `path`.
    virtual Status remove(const std::string& path);
    // Removes the entry `name` of the open folder `folder`, wherever the
    // folder has been moved.
    virtual Status removeIn(File& folder, const std::string& name);
    // The names in `folder`, without "." and "..".
    virtual Status listFolder(const std::string& folder, std::vector<std::string>* names);
    // Bytes an unprivileged user may still write on the file system of
    // `folder`.
    virtual Status freeSpace(File& folder, int64_t* out);
    // True when copies within the file system of `folder` may share
    // extents instead of copying data (reflink).
    virtual bool sharesExtents(File& folder);
    // True when flushing the file system of `folder` does not reach its
    // files' data, so that each file must be flushed on its own: a FUSE file
    // system, whose process hears of a flush only file by file.
    virtual bool flushesFileByFile(File& folder);
    // The longest file name the file system of `folder` takes.
    virtual std::size_t maxNameLength(File& folder);
    // The same for a folder that cannot be opened, by its path.
    virtual std::size_t maxNameLength(const std::string& folder);
    // The block size of the file system of `folder` (4096 when unknown).
    virtual int64_t blockSize(File& folder);
    // What `path` names, links followed: nothing, a regular file or
    // something else (a device, a FIFO, a folder).
    enum class Kind { Absent, Regular, Other };
    virtual Kind kindOf(const std::string& path);
    // What the entry `path` itself is, a symbolic link not followed.
    enum class Entry { None, File, Link, Folder, Special };
    virtual Entry entryOf(const std::string& path);
    // Where the symbolic link `path` leads, made absolute; `path` itself
    // when it is no link or its target cannot be resolved.
    virtual std::string followLinks(const std::string& path);
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
    // Fills `buffer` with `n` bytes nobody can guess.
    virtual Status randomBytes(unsigned char* buffer, std::size_t n);

    // Opens a file for reading and writing, creating it when missing and
    // emptying it when present.
    virtual Status openReadWrite(const std::string& path, std::unique_ptr<File>* out);
    // Reads up to `n` bytes at `offset` without moving the file's offset;
    // `*got` is less than `n` only at the end of the file.
    virtual Status readAt(File& file, int64_t offset, char* buffer, std::size_t n,
                          std::size_t* got);
    // Writes all `n` bytes at `offset` without moving the file's offset.
    virtual Status writeAt(File& file, int64_t offset, const char* buffer, std::size_t n);

  protected:
    // The read/write path of copy(): one read() and one write() per piece.
    Status copyThroughBuffer(File& from, File& to, std::size_t n, char* buffer);
};

// Reads exactly `n` bytes, or fails with ENODATA when the file ends early.
Status readExact(FileLayer& layer, File& file, char* buffer, std::size_t n);
// The same at `offset`, without moving the file's offset.
Status readExactAt(FileLayer& layer, File& file, int64_t offset, char* buffer, std::size_t n);

// ENODATA with a text saying that `path` ended before the expected bytes.
Status earlyEnd(const std::string& path);

// The folder that holds the running program, ending in "/".
std::string executableFolder();

// `folder` with exactly one trailing "/" appended when it has none.
std::string withTrailingSeparator(const std::string& folder);

}  // namespace morvane
