#include "test_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "engine/block_plan.h"

namespace morvane_test {

namespace fs = std::filesystem;

TempDir::TempDir(const std::string& base) {
    std::string root = base;
    if (root.empty()) {
        const char* env = std::getenv("TMPDIR");
        root = (env && *env) ? env : "/tmp";
    }
    std::string pattern = root + "/morvane_test_XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp under " << root << ": " << std::strerror(errno);
        return;
    }
    m_path = buf.data();
}

TempDir::~TempDir() {
    if (m_path.empty()) return;
    std::error_code ec;
    // Make read-only subfolders writable again so that everything can go.
    for (auto it = fs::recursive_directory_iterator(m_path, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec) && !it->is_symlink(ec))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(m_path, ec);
}

std::vector<std::string> TempDir::entriesOf(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Bytes randomBytes(std::size_t n, uint64_t seed) {
    std::mt19937_64 gen(seed);
    Bytes out(n, '\0');
    std::size_t i = 0;
    while (i + 8 <= n) {
        uint64_t v = gen();
        std::memcpy(&out[i], &v, 8);
        i += 8;
    }
    if (i < n) {
        uint64_t v = gen();
        std::memcpy(&out[i], &v, n - i);
    }
    return out;
}

void writeFile(const std::string& path, const Bytes& content) {
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(f) << "cannot create " << path;
    f.write(content.data(), static_cast<std::streamsize>(content.size()));
    ASSERT_TRUE(f) << "cannot write " << path;
}

Bytes readFile(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) {
        ADD_FAILURE() << "cannot read " << path;
        return Bytes();
    }
    std::ostringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

bool fileExists(const std::string& path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

int64_t fileSize(const std::string& path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return -1;
    return st.st_size;
}

void makeSparseFile(const std::string& path, int64_t size) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path << ": " << std::strerror(errno);
    ASSERT_EQ(::ftruncate(fd, size), 0) << std::strerror(errno);
    ::close(fd);
}

std::string runCommand(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return "popen failed";
    char piece[4096];
    while (const std::size_t n = std::fread(piece, 1, sizeof piece, pipe)) output.append(piece, n);
    const int status = ::pclose(pipe);
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return "exit " + std::to_string(code) + ":" + output;
}

int openDescriptorCount() {
    int count = 0;
    DIR* d = ::opendir("/proc/self/fd");
    if (!d) return -1;
    while (struct dirent* e = ::readdir(d)) {
        if (e->d_name[0] != '.') ++count;
    }
    ::closedir(d);
    return count - 1;  // the descriptor of the listing itself
}

DescriptorLimit::DescriptorLimit(int spare) {
    struct rlimit lim;
    if (::getrlimit(RLIMIT_NOFILE, &lim) != 0) {
        ADD_FAILURE() << "getrlimit: " << std::strerror(errno);
        return;
    }
    m_soft = lim.rlim_cur;
    // Descriptors are handed out lowest first; leave `spare` above the highest in use.
    int highest = 0;
    if (DIR* d = ::opendir("/proc/self/fd")) {
        while (struct dirent* e = ::readdir(d))
            if (e->d_name[0] != '.') highest = std::max(highest, std::atoi(e->d_name));
        ::closedir(d);
    }
    lim.rlim_cur = static_cast<rlim_t>(highest + 1 + spare);
    if (::setrlimit(RLIMIT_NOFILE, &lim) != 0) {
        ADD_FAILURE() << "setrlimit: " << std::strerror(errno);
        return;
    }
    m_set = true;
}

DescriptorLimit::~DescriptorLimit() {
    if (!m_set) return;
    struct rlimit lim;
    ::getrlimit(RLIMIT_NOFILE, &lim);
    lim.rlim_cur = static_cast<rlim_t>(m_soft);
    ::setrlimit(RLIMIT_NOFILE, &lim);
}

std::string ownExecutableFolder() {
    char buf[4096];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    std::string exe(buf, static_cast<std::size_t>(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

int64_t blocksOf(int64_t bytes) {
    const int64_t b = 10485760;
    return bytes / b + (bytes % b > 0 ? 1 : 0);
}

std::vector<std::size_t> blockSizesOf(int64_t bytes) {
    const int64_t b = 10485760;
    std::vector<std::size_t> sizes;
    while (bytes > b) {
        sizes.push_back(static_cast<std::size_t>(b));
        bytes -= b;
    }
    sizes.push_back(static_cast<std::size_t>(bytes));
    return sizes;
}

std::string messageOf(int code) {
    switch (code) {
        case 0:
            return "No Error";
        case 2:
            return "Invalid Filename";
        case 3:
            return "Invalid Chunk Prefix";
        case 4:
            return "Invalid Chunk Size";
        case 5:
            return "Zero Length File";
        case 10:
            return "Analysis Required";
        case 11:
            return "Invalid Header File";
        case 12:
            return "Chunk File Missing";
        case 13:
            return "Output Would Overwrite Input";
        case 14:
            return "Chunk File Damaged";
        case 15:
            return "Invalid Checksum File";
        default:
            return "";
    }
}

static void appendLe32(Bytes& out, int32_t v) {
    uint32_t u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((u >> (8 * i)) & 0xFF));
}

Bytes headerBytes(const std::string& name, int32_t avg, int32_t last, int32_t num) {
    Bytes out;
    out.push_back(static_cast<char>(name.size() & 0xFF));
    out.push_back(static_cast<char>((name.size() >> 8) & 0xFF));
    out += name;
    appendLe32(out, avg);
    appendLe32(out, last);
    appendLe32(out, num);
    return out;
}

std::vector<std::string> namesOf(const std::vector<Event>& events) {
    std::vector<std::string> names;
    for (const auto& e : events) names.push_back(e.name);
    return names;
}

int countOf(const std::vector<Event>& events, const std::string& name) {
    return static_cast<int>(std::count_if(events.begin(), events.end(),
                                          [&](const Event& e) { return e.name == name; }));
}

std::string describe(const std::vector<Event>& events) {
    std::ostringstream ss;
    for (const auto& e : events) {
        ss << e.name;
        if (e.name == "onError") ss << "(" << e.code << ")";
        if (e.name == "onNewDivision" || e.name == "onCheckExist")
            ss << "(" << e.chunk << "," << e.op << ")";
        ss << ' ';
    }
    return ss.str();
}

// What an observer reads of `engine` while handling notification `name`.
template <class Engine>
static Event eventOf(const Engine& engine, const char* name) {
    Event e;
    e.name = name;
    e.chunk = engine.CurrentChunk();
    e.op = engine.CurrentOp();
    e.numOfOps = engine.NumOfOps();
    e.code = engine.ErrorCode();
    e.description = engine.ErrorDescription();
    e.sysErr = engine.IsSysErr();
    return e;
}

void DividerRecorder::record(const char* name) {
    events.push_back(eventOf(m_engine, name));
}

void GlueRecorder::record(const char* name) {
    events.push_back(eventOf(m_engine, name));
}

template <class Engine>
static std::string stateText(const Engine& engine) {
    std::ostringstream ss;
    ss << "ErrorCode=" << engine.ErrorCode() << " IsSysErr=" << std::boolalpha << engine.IsSysErr()
       << " ErrorDescription=\"" << engine.ErrorDescription() << "\"";
    return ss.str();
}

std::string errorStateOf(const morvane::FileDivider& engine) {
    return stateText(engine);
}
std::string errorStateOf(const morvane::FileGlue& engine) {
    return stateText(engine);
}

std::string strerrorText(int err) {
    return std::strerror(err);
}

void prepareDivider(morvane::FileDivider& div, const std::string& folder, const std::string& name,
                    const std::string& chunkFolder, const std::string& prefix) {
    div.setBigFileName(name);
    div.setBigFilePath(folder);
    ASSERT_TRUE(Succeeded(div.analyze(), div));
    div.setChunkPrefix(prefix);
    div.setChunkPath(chunkFolder);
}

void writeDivision(const std::string& folder, const std::string& prefix, const std::string& name,
                   const Bytes& content, int32_t avg) {
    const int64_t size = static_cast<int64_t>(content.size());
    int32_t num = static_cast<int32_t>(size / avg + (size % avg ? 1 : 0));
    int32_t last = static_cast<int32_t>(size - static_cast<int64_t>(num - 1) * avg);
    std::string dir = folder;
    if (dir.back() != '/') dir += '/';
    writeFile(dir + prefix + ".hed", headerBytes(name, avg, last, num));
    for (int32_t k = 1; k <= num; ++k) {
        int64_t offset = static_cast<int64_t>(k - 1) * avg;
        int64_t len = k == num ? last : avg;
        writeFile(dir + prefix + "_" + std::to_string(k) + ".div",
                  content.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(len)));
    }
}

}  // namespace morvane_test
