#include "engine/file_layer.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>

namespace morvane {

namespace {

// The largest piece one read(2) or kernel copy is asked to move.
constexpr std::size_t kMaxIo = 1 << 30;

std::string baseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// True for the failures with which copy_file_range says it cannot copy
// between these two files at all, as opposed to an I/O failure.
bool kernelCopyUnsupported(int number) {
    return number == EXDEV || number == EINVAL || number == ENOSYS || number == EOPNOTSUPP ||
           number == EBADF || number == ETXTBSY || number == EPERM;
}

// Opens without blocking, so that a FIFO without a peer cannot hang the
// caller (reading one then ends at once, writing one fails with ENXIO), then
// switches the descriptor back to blocking I/O.
Status openFile(const std::string& path, int flags, std::unique_ptr<File>* out) {
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Status::SysError(errno);
    auto file = std::make_unique<File>(fd, path);
    struct stat info;
    if (::fstat(fd, &info) != 0) return Status::SysError(errno);
    if (S_ISDIR(info.st_mode)) return Status::SysError(EISDIR);
    // F_SETFL takes only the status flags among `flags`: one call, where
    // reading them back first would cost a second one for every chunk.
    if (::fcntl(fd, F_SETFL, flags) != 0) return Status::SysError(errno);
    *out = std::move(file);
    return Status::OK();
}

// Reads up to `n` bytes at `offset`, or from the current offset when it is
// negative; `*got` is less than `n` only at the end of the file.
Status readFully(int fd, int64_t offset, char* buffer, std::size_t n, std::size_t* got) {
    std::size_t done = 0;
    while (done < n) {
        const std::size_t want = std::min(n - done, kMaxIo);
        const ssize_t r =
            offset < 0 ? ::read(fd, buffer + done, want)
                       : ::pread(fd, buffer + done, want, offset + static_cast<int64_t>(done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return Status::SysError(errno);
        }
        if (r == 0) break;
        done += static_cast<std::size_t>(r);
    }
    *got = done;
    return Status::OK();
}

// Writes all `n` bytes in pieces of kPieceSize, at `offset` or at the
// current offset when it is negative.
Status writeFully(int fd, int64_t offset, const char* buffer, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
        const std::size_t want = std::min(n - done, kPieceSize);
        const ssize_t w =
            offset < 0 ? ::write(fd, buffer + done, want)
                       : ::pwrite(fd, buffer + done, want, offset + static_cast<int64_t>(done));
        if (w < 0) {
            if (errno == EINTR) continue;
            return Status::SysError(errno);
        }
        if (w == 0) return Status::SysError(ENOSPC);
        done += static_cast<std::size_t>(w);
    }
    return Status::OK();
}

// Calls `call(fd)` until it is not interrupted; EINVAL counts as success
// when `einvalIsOk` (a file that cannot be synced).
Status retried(int (*call)(int), int fd, bool einvalIsOk) {
    int r;
    do {
        r = call(fd);
    } while (r != 0 && errno == EINTR);
    if (r != 0 && !(einvalIsOk && errno == EINVAL)) return Status::SysError(errno);
    return Status::OK();
}

}  // namespace

File::~File() {
    if (m_fd >= 0) ::close(m_fd);
}

int File::release() {
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

Status FileLayer::openRead(const std::string& path, std::unique_ptr<File>* out) {
    return openFile(path, O_RDONLY, out);
}

Status FileLayer::openWrite(const std::string& path, std::unique_ptr<File>* out) {
    return openFile(path, O_WRONLY | O_CREAT | O_TRUNC, out);
}

Status FileLayer::createNew(const std::string& path, std::unique_ptr<File>* out) {
    // A name created here is a new regular file: no FIFO to guard against.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Status::SysError(errno);
    *out = std::make_unique<File>(fd, path);
    return Status::OK();
}

Status FileLayer::size(File& file, int64_t* out) {
    struct stat info;
    if (::fstat(file.fd(), &info) != 0) return Status::SysError(errno);
    *out = info.st_size;
    return Status::OK();
}

Status FileLayer::read(File& file, char* buffer, std::size_t n, std::size_t* got) {
    return readFully(file.fd(), -1, buffer, n, got);
}

Status FileLayer::write(File& file, const char* buffer, std::size_t n) {
    return writeFully(file.fd(), -1, buffer, n);
}

Status FileLayer::position(File& file, int64_t* out) {
    const off_t at = ::lseek(file.fd(), 0, SEEK_CUR);
    if (at < 0) return Status::SysError(errno);
    *out = at;
    return Status::OK();
}

Status FileLayer::copy(File& from, File& to, std::size_t n, char* buffer) {
    std::size_t done = 0;
    while (done < n) {
        const ssize_t c =
            ::copy_file_range(from.fd(), nullptr, to.fd(), nullptr, std::min(n - done, kMaxIo), 0);
        if (c < 0) {
            if (errno == EINTR) continue;
            if (!kernelCopyUnsupported(errno)) return Status::SysError(errno);
            // Offsets have not moved: go on through the buffer.
            break;
        }
        if (c == 0) return earlyEnd(from.path());
        done += static_cast<std::size_t>(c);
    }
    if (done == n) return Status::OK();
    return copyThroughBuffer(from, to, n - done, buffer);
}

Status FileLayer::copyThroughBuffer(File& from, File& to, std::size_t n, char* buffer) {
    Status s = readExact(*this, from, buffer, n);
    if (!s.ok()) return s;
    return write(to, buffer, n);
}

void FileLayer::startWriteback(File& file, int64_t offset, int64_t bytes) {
    if (bytes > 0) ::sync_file_range(file.fd(), offset, bytes, SYNC_FILE_RANGE_WRITE);
}

Status FileLayer::flush(File& file) {
    return retried(::fdatasync, file.fd(), true);
}

Status FileLayer::openFolder(const std::string& path, std::unique_ptr<File>* out) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Status::SysError(errno);
    *out = std::make_unique<File>(fd, path);
    return Status::OK();
}

Status FileLayer::flushFileSystem(File& folder) {
    return retried(::syncfs, folder.fd(), false);
}

Status FileLayer::flushFolder(File& folder) {
    return retried(::fsync, folder.fd(), true);
}

Status FileLayer::close(File& file) {
    const int fd = file.release();
    if (fd < 0) return Status::OK();
    // On Linux the descriptor is gone even when close is interrupted.
    if (::close(fd) != 0 && errno != EINTR) return Status::SysError(errno);
    return Status::OK();
}

Status FileLayer::rename(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) return Status::SysError(errno);
    return Status::OK();
}

Status FileLayer::renameExclusive(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
        return Status::OK();
    }
    if (errno != EINVAL && errno != ENOSYS) return Status::SysError(errno);
    // A file system without the flag: a hard link is just as exclusive.
    if (::link(from.c_str(), to.c_str()) != 0) return Status::SysError(errno);
    if (::unlink(from.c_str()) != 0) {
        const int err = errno;
        ::unlink(to.c_str());
        return Status::SysError(err);
    }
    return Status::OK();
}

Status FileLayer::lock(File& file) {
    int r;
    do {
        r = ::flock(file.fd(), LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) return Status::SysError(errno);
    return Status::OK();
}

Status FileLayer::openUnlocked(const std::string& path, std::unique_ptr<File>* out) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return Status::SysError(errno);
    auto file = std::make_unique<File>(fd, path);
    struct stat info;
    if (::fstat(fd, &info) != 0) return Status::SysError(errno);
    if (S_ISDIR(info.st_mode)) return Status::SysError(EISDIR);
    if (!S_ISREG(info.st_mode)) return Status::SysError(EINVAL);
    const Status s = lock(*file);
    if (!s.ok()) return s;
    *out = std::move(file);
    return Status::OK();
}

Status FileLayer::keepAttributes(const std::string& existing, File& file) {
    struct stat info;
    if (::stat(existing.c_str(), &info) != 0) return Status::SysError(errno);
    if (!S_ISREG(info.st_mode)) return Status::OK();
    // Owner and group first: changing them may clear set-id bits.
    if (::fchown(file.fd(), info.st_uid, info.st_gid) != 0 && errno != EPERM) {
        return Status::SysError(errno);
    }
    if (::fchmod(file.fd(), info.st_mode & 07777) != 0) return Status::SysError(errno);
    return Status::OK();
}

Status FileLayer::remove(const std::string& path) {
    if (::unlink(path.c_str()) != 0) return Status::SysError(errno);
    return Status::OK();
}

Status FileLayer::removeIn(File& folder, const std::string& name) {
    if (::unlinkat(folder.fd(), name.c_str(), 0) != 0) return Status::SysError(errno);
    return Status::OK();
}

Status FileLayer::listFolder(const std::string& folder, std::vector<std::string>* names) {
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
    if (!dir) return Status::SysError(errno);
    names->clear();
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir.get());
        if (!entry) break;
        const std::string name = entry->d_name;
        if (name != "." && name != "..") names->push_back(name);
    }
    if (errno != 0) return Status::SysError(errno);
    return Status::OK();
}

Status FileLayer::freeSpace(File& folder, int64_t* out) {
    struct statvfs info;
    if (::fstatvfs(folder.fd(), &info) != 0) return Status::SysError(errno);
    *out = static_cast<int64_t>(info.f_bavail) * static_cast<int64_t>(info.f_frsize);
    return Status::OK();
}

bool FileLayer::sharesExtents(File& folder) {
    struct statfs info;
    if (::fstatfs(folder.fd(), &info) != 0) return false;
    return info.f_type == XFS_SUPER_MAGIC || info.f_type == BTRFS_SUPER_MAGIC;
}

bool FileLayer::flushesFileByFile(File& folder) {
    struct statfs info;
    if (::fstatfs(folder.fd(), &info) != 0) return false;
    return info.f_type == FUSE_SUPER_MAGIC;
}

std::size_t FileLayer::maxNameLength(File& folder) {
    const long limit = ::fpathconf(folder.fd(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : 255;
}

std::size_t FileLayer::maxNameLength(const std::string& folder) {
    const long limit = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return limit > 0 ? static_cast<std::size_t>(limit) : 255;
}

int64_t FileLayer::blockSize(File& folder) {
    struct statvfs info;
    if (::fstatvfs(folder.fd(), &info) != 0 || info.f_bsize == 0) return 4096;
    return static_cast<int64_t>(info.f_bsize);
}

FileLayer::Entry FileLayer::entryOf(const std::string& path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0) return Entry::None;
    if (S_ISREG(info.st_mode)) return Entry::File;
    if (S_ISLNK(info.st_mode)) return Entry::Link;
    if (S_ISDIR(info.st_mode)) return Entry::Folder;
    return Entry::Special;
}

FileLayer::Kind FileLayer::kindOf(const std::string& path) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return Kind::Absent;
    return S_ISREG(info.st_mode) ? Kind::Regular : Kind::Other;
}

std::string FileLayer::followLinks(const std::string& path) {
    struct stat info;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (!resolved) return path;
    std::string target(resolved);
    std::free(resolved);
    return target;
}

bool FileLayer::isPresentFile(const std::string& path) {
    std::error_code ec;
    const auto status = std::filesystem::status(path, ec);
    return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

bool FileLayer::identify(const std::string& path, FileId* out) {
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) return false;
    *out = FileId{info.st_dev, info.st_ino};
    return true;
}

bool FileLayer::identify(File& file, FileId* out) {
    struct stat info;
    if (::fstat(file.fd(), &info) != 0) return false;
    *out = FileId{info.st_dev, info.st_ino};
    return true;
}

std::unique_ptr<char[]> FileLayer::allocateBlock(std::size_t bytes) {
    return std::unique_ptr<char[]>(new (std::nothrow) char[bytes]);
}

Status FileLayer::randomBytes(unsigned char* buffer, std::size_t n) {
    std::size_t got = 0;
    while (got < n) {
        const ssize_t r = ::getrandom(buffer + got, n - got, 0);
        if (r < 0 && errno != EINTR) return Status::SysError(errno);
        if (r > 0) got += static_cast<std::size_t>(r);
    }
    return Status::OK();
}

Status FileLayer::openReadWrite(const std::string& path, std::unique_ptr<File>* out) {
    return openFile(path, O_RDWR | O_CREAT | O_TRUNC, out);
}

Status FileLayer::readAt(File& file, int64_t offset, char* buffer, std::size_t n,
                         std::size_t* got) {
    return readFully(file.fd(), offset, buffer, n, got);
}

Status FileLayer::writeAt(File& file, int64_t offset, const char* buffer, std::size_t n) {
    return writeFully(file.fd(), offset, buffer, n);
}

Status readExact(FileLayer& layer, File& file, char* buffer, std::size_t n) {
    std::size_t got = 0;
    Status s = layer.read(file, buffer, n, &got);
    if (!s.ok()) return s;
    if (got < n) return earlyEnd(file.path());
    return Status::OK();
}

Status readExactAt(FileLayer& layer, File& file, int64_t offset, char* buffer, std::size_t n) {
    std::size_t got = 0;
    Status s = layer.readAt(file, offset, buffer, n, &got);
    if (!s.ok()) return s;
    if (got < n) return earlyEnd(file.path());
    return Status::OK();
}

Status earlyEnd(const std::string& path) {
    return Status::SysError(ENODATA, "File ended before the expected bytes: " + baseName(path));
}

std::string executableFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "./";
    const std::string exe(buffer, static_cast<std::size_t>(n));
    const std::size_t slash = exe.find_last_of('/');
    return slash == std::string::npos ? "./" : exe.substr(0, slash + 1);
}

std::string withTrailingSeparator(const std::string& folder) {
    if (!folder.empty() && folder.back() == '/') return folder;
    return folder + "/";
}

}  // namespace morvane
