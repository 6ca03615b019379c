#include "faulty_file_layer.h"

#include <unistd.h>

#include <cerrno>

namespace morvane_test {

using morvane::File;
using morvane::Status;

const char* opName(Op op) {
    switch (op) {
        case Op::OpenRead:
            return "OpenRead";
        case Op::OpenWrite:
            return "OpenWrite";
        case Op::Size:
            return "Size";
        case Op::Read:
            return "Read";
        case Op::Write:
            return "Write";
        case Op::Copy:
            return "Copy";
        case Op::Flush:
            return "Flush";
        case Op::OpenFolder:
            return "OpenFolder";
        case Op::FlushFileSystem:
            return "FlushFileSystem";
        case Op::FlushFolder:
            return "FlushFolder";
        case Op::Close:
            return "Close";
        case Op::Allocate:
            return "Allocate";
        case Op::Rename:
            return "Rename";
        case Op::ReadAt:
            return "ReadAt";
        case Op::WriteAt:
            return "WriteAt";
        case Op::ListFolder:
            return "ListFolder";
        case Op::Count:
            break;
    }
    return "?";
}

void PrintTo(FaultyFileLayer::CopyMode mode, std::ostream* os) {
    switch (mode) {
        case FaultyFileLayer::CopyMode::Native:
            *os << "Native";
            break;
        case FaultyFileLayer::CopyMode::ThroughBuffer:
            *os << "ThroughBuffer";
            break;
        case FaultyFileLayer::CopyMode::ReadWrite:
            *os << "ReadWrite";
            break;
        case FaultyFileLayer::CopyMode::Skip:
            *os << "Skip";
            break;
        case FaultyFileLayer::CopyMode::Shared:
            *os << "Shared";
            break;
    }
}

void FaultyFileLayer::failAt(Op op, int occurrence, int err) {
    m_faultOp = op;
    m_faultOccurrence = occurrence;
    m_faultErr = err;
    m_faultHit = false;
    m_faultPath.clear();
}

void FaultyFileLayer::hookAt(Op op, int occurrence, std::function<void()> hook) {
    m_hookOp = op;
    m_hookOccurrence = occurrence;
    m_hook = std::move(hook);
}

void FaultyFileLayer::reset() {
    m_calls.fill(0);
    m_hookOp = Op::Count;
    m_hook = nullptr;
    m_faultOp = Op::Count;
    m_faultOccurrence = 0;
    m_faultErr = 0;
    m_faultHit = false;
    m_faultPath.clear();
    log.clear();
    copySizes.clear();
    openedForWrite.clear();
    closedOk.clear();
}

bool FaultyFileLayer::count(Op op, const std::string& path, std::size_t bytes) {
    // A long run flushes the file system from a thread of its own too.
    std::lock_guard<std::mutex> lock(m_countMutex);
    int n = ++m_calls[static_cast<std::size_t>(op)];
    log.push_back({op, path, bytes});
    if (op == m_hookOp && n == m_hookOccurrence && m_hook) m_hook();
    if (op == m_faultOp && n == m_faultOccurrence) {
        m_faultHit = true;
        m_faultPath = path;
        return true;
    }
    return false;
}

std::vector<std::size_t> FaultyFileLayer::readSizes(const std::string& path) const {
    std::vector<std::size_t> sizes;
    for (const Entry& e : log)
        if (e.op == Op::Read && e.path == path) sizes.push_back(e.bytes);
    return sizes;
}

Status FaultyFileLayer::openRead(const std::string& path, std::unique_ptr<File>* out) {
    if (count(Op::OpenRead, path)) return Status::SysError(m_faultErr);
    return FileLayer::openRead(path, out);
}

Status FaultyFileLayer::openWrite(const std::string& path, std::unique_ptr<File>* out) {
    if (count(Op::OpenWrite, path)) return Status::SysError(m_faultErr);
    Status s = FileLayer::openWrite(path, out);
    if (s.ok()) openedForWrite.push_back(path);
    return s;
}

Status FaultyFileLayer::createNew(const std::string& path, std::unique_ptr<File>* out) {
    if (count(Op::OpenWrite, path)) return Status::SysError(m_faultErr);
    Status s = FileLayer::createNew(path, out);
    if (s.ok()) openedForWrite.push_back(path);
    return s;
}

Status FaultyFileLayer::rename(const std::string& from, const std::string& to) {
    if (count(Op::Rename, to)) return Status::SysError(m_faultErr);
    return FileLayer::rename(from, to);
}

Status FaultyFileLayer::renameExclusive(const std::string& from, const std::string& to) {
    if (count(Op::Rename, to)) return Status::SysError(m_faultErr);
    return FileLayer::renameExclusive(from, to);
}

Status FaultyFileLayer::size(File& file, int64_t* out) {
    if (count(Op::Size, file.path())) return Status::SysError(m_faultErr);
    return FileLayer::size(file, out);
}

Status FaultyFileLayer::read(File& file, char* buffer, std::size_t n, std::size_t* got) {
    if (count(Op::Read, file.path(), n)) {
        if (got) *got = 0;
        return Status::SysError(m_faultErr);
    }
    return FileLayer::read(file, buffer, n, got);
}

Status FaultyFileLayer::readAt(File& file, int64_t offset, char* buffer, std::size_t n,
                               std::size_t* got) {
    if (count(Op::ReadAt, file.path(), n)) {
        if (got) *got = 0;
        return Status::SysError(m_faultErr);
    }
    return FileLayer::readAt(file, offset, buffer, n, got);
}

Status FaultyFileLayer::writeAt(File& file, int64_t offset, const char* buffer, std::size_t n) {
    if (count(Op::WriteAt, file.path(), n)) return Status::SysError(m_faultErr);
    return FileLayer::writeAt(file, offset, buffer, n);
}

Status FaultyFileLayer::listFolder(const std::string& folder, std::vector<std::string>* names) {
    if (count(Op::ListFolder, folder)) return Status::SysError(m_faultErr);
    return FileLayer::listFolder(folder, names);
}

Status FaultyFileLayer::write(File& file, const char* buffer, std::size_t n) {
    if (count(Op::Write, file.path(), n)) return Status::SysError(m_faultErr);
    return FileLayer::write(file, buffer, n);
}

Status FaultyFileLayer::copy(File& from, File& to, std::size_t n, char* buffer) {
    copySizes.push_back(n);
    if (count(Op::Copy, from.path() + " -> " + to.path(), n)) return Status::SysError(m_faultErr);
    switch (m_copyMode) {
        case CopyMode::Native:
        case CopyMode::Shared:
            return FileLayer::copy(from, to, n, buffer);
        case CopyMode::ThroughBuffer:
            return copyThroughBuffer(from, to, n, buffer);
        case CopyMode::ReadWrite: {
            std::size_t have = 0;
            while (have < n) {
                std::size_t got = 0;
                Status s = read(from, buffer + have, n - have, &got);
                if (!s.ok()) return s;
                if (got == 0) return morvane::earlyEnd(from.path());
                have += got;
            }
            return write(to, buffer, n);
        }
        case CopyMode::Skip: {
            const off_t step = static_cast<off_t>(n);
            if (::lseek(from.fd(), step, SEEK_CUR) < 0) return Status::SysError(errno);
            off_t end = ::lseek(to.fd(), step, SEEK_CUR);
            if (end < 0) return Status::SysError(errno);
            if (::ftruncate(to.fd(), end) != 0) return Status::SysError(errno);
            return Status::OK();
        }
    }
    return Status::SysError(EINVAL);
}

Status FaultyFileLayer::flush(File& file) {
    if (count(Op::Flush, file.path())) return Status::SysError(m_faultErr);
    return FileLayer::flush(file);
}

Status FaultyFileLayer::openFolder(const std::string& path, std::unique_ptr<File>* out) {
    if (count(Op::OpenFolder, path)) return Status::SysError(m_faultErr);
    return FileLayer::openFolder(path, out);
}

Status FaultyFileLayer::flushFileSystem(File& folder) {
    if (count(Op::FlushFileSystem, folder.path())) return Status::SysError(m_faultErr);
    return FileLayer::flushFileSystem(folder);
}

Status FaultyFileLayer::flushFolder(File& folder) {
    if (count(Op::FlushFolder, folder.path())) return Status::SysError(m_faultErr);
    return FileLayer::flushFolder(folder);
}

bool FaultyFileLayer::flushesFileByFile(File& folder) {
    return m_fileByFile || FileLayer::flushesFileByFile(folder);
}

bool FaultyFileLayer::sharesExtents(File& folder) {
    return m_copyMode == CopyMode::Shared || FileLayer::sharesExtents(folder);
}

bool FaultyFileLayer::identify(File& file, morvane::FileId* out) {
    if (!FileLayer::identify(file, out)) return false;
    if (file.path() == m_elsewhere) ++out->device;
    return true;
}

Status FaultyFileLayer::close(File& file) {
    const std::string path = file.path();
    if (count(Op::Close, path)) {
        // close(2) releases the descriptor even when it reports a failure.
        FileLayer::close(file);
        return Status::SysError(m_faultErr);
    }
    Status s = FileLayer::close(file);
    // Files may be closed on the flusher's thread.
    std::lock_guard<std::mutex> lock(m_countMutex);
    if (s.ok()) closedOk.push_back(path);
    return s;
}

std::unique_ptr<char[]> FaultyFileLayer::allocateBlock(std::size_t bytes) {
    if (count(Op::Allocate, "", bytes)) return nullptr;
    return FileLayer::allocateBlock(bytes);
}

std::vector<LoggedOp> CompletionProbe::endOfLog() const {
    std::vector<LoggedOp> ops;
    for (std::size_t i = m_logAtComplete < 3 ? 0 : m_logAtComplete - 3; i < m_layer.log.size(); ++i)
        ops.emplace_back(m_layer.log[i].op, m_layer.log[i].path);
    return ops;
}

std::vector<LoggedOp> finalFlushes(const std::string& folder, const std::string& lastOutput) {
    return {{Op::FlushFolder, folder}, {Op::Rename, lastOutput}, {Op::FlushFolder, folder}};
}

std::string finalPathOf(const std::string& path) {
    const std::string suffix = ".morvane-part";
    const std::size_t slash = path.find_last_of('/') + 1;
    const std::size_t tail = suffix.size() + 7;
    if (path.size() < slash + 1 + tail || path[slash] != '.' ||
        path.compare(path.size() - suffix.size(), suffix.size(), suffix) != 0) {
        return path;
    }
    return path.substr(0, slash) + path.substr(slash + 1, path.size() - slash - 1 - tail);
}

std::vector<std::string> finalPathsOf(const std::vector<std::string>& paths) {
    std::vector<std::string> finals;
    for (const auto& path : paths) finals.push_back(finalPathOf(path));
    return finals;
}

std::vector<std::size_t> piecesOf(const std::vector<std::size_t>& blocks) {
    std::vector<std::size_t> pieces;
    for (std::size_t block : blocks) {
        for (std::size_t done = 0; done < block;
             done += std::min<std::size_t>(block - done, 1 << 20))
            pieces.push_back(std::min<std::size_t>(block - done, 1 << 20));
    }
    return pieces;
}

}  // namespace morvane_test
