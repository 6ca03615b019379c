// Times Morvane's division and glue through the engine, and through the
// program's command line (morvane divide, morvane glue) as whole processes,
// against split, cat and cp (each followed by sync, since Morvane flushes its files to storage
// before it reports success), checks every output byte for byte, and prints
// medians, spreads, ratios, the engine process's peak resident memory and,
// per row ("anon MiB"), the peak anonymous memory of the process run.
// The tools take turns in every round, and cp + sync of the whole file is
// printed as the disk's own pace in this run, so that a table taken while
// the disk was fast can be told from one taken while it was slow.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Options {
    long sizeMiB = 1024;
    long chunkBytes = 100000000;
    int runs = 5;
    std::string dir;
    std::string runner;
    std::string program;
    bool xfs = true;
    bool recovery = true;
};

struct Sample {
    double seconds = 0;
    // Processor time, user and system, of the process and its threads.
    double cpuSeconds = 0;
    double userSeconds = 0;
    double systemSeconds = 0;
    long maxRssKiB = 0;
    // Peak RssAnon of the process started (not its children), polled while it
    // ran; 0 when not watched (shell pipelines).
    long peakAnonKiB = 0;
    bool ok = false;
};

struct Series {
    std::string name;
    std::vector<Sample> samples;

    double median() const {
        std::vector<double> t;
        for (const Sample& s : samples) t.push_back(s.seconds);
        std::sort(t.begin(), t.end());
        if (t.empty()) return 0;
        return t.size() % 2 ? t[t.size() / 2] : (t[t.size() / 2 - 1] + t[t.size() / 2]) / 2;
    }
    double min() const {
        double m = 1e300;
        for (const Sample& s : samples) m = std::min(m, s.seconds);
        return m;
    }
    double max() const {
        double m = 0;
        for (const Sample& s : samples) m = std::max(m, s.seconds);
        return m;
    }
    double medianCpu() const { return medianOf(&Sample::cpuSeconds); }
    double medianOf(double Sample::*field) const {
        std::vector<double> t;
        for (const Sample& s : samples) t.push_back(s.*field);
        std::sort(t.begin(), t.end());
        if (t.empty()) return 0;
        return t.size() % 2 ? t[t.size() / 2] : (t[t.size() / 2 - 1] + t[t.size() / 2]) / 2;
    }
    long peakRssKiB() const {
        long m = 0;
        for (const Sample& s : samples) m = std::max(m, s.maxRssKiB);
        return m;
    }
    long peakAnonKiB() const {
        long m = 0;
        for (const Sample& s : samples) m = std::max(m, s.peakAnonKiB);
        return m;
    }
};

// The median of the rounds' ratios of `a`'s processor time to `b`'s: the
// two were run in the same round, so the machine's drift between rounds
// cancels out.
double medianCpuRatio(const Series& a, const Series& b) {
    std::vector<double> ratios;
    for (std::size_t i = 0; i < a.samples.size() && i < b.samples.size(); ++i) {
        if (b.samples[i].cpuSeconds > 0)
            ratios.push_back(a.samples[i].cpuSeconds / b.samples[i].cpuSeconds);
    }
    if (ratios.empty()) return 0;
    std::sort(ratios.begin(), ratios.end());
    const std::size_t n = ratios.size();
    return n % 2 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2;
}

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "benchmark: %s\n", what.c_str());
    std::exit(1);
}

// RssAnon of process `pid` from /proc/PID/status in KiB; 0 once it is gone.
long rssAnonKiB(pid_t pid) {
    const std::string path = "/proc/" + std::to_string(pid) + "/status";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f) return 0;
    char line[256];
    long kib = 0;
    while (std::fgets(line, sizeof line, f)) {
        if (std::sscanf(line, "RssAnon: %ld kB", &kib) == 1) break;
    }
    std::fclose(f);
    return kib;
}

// Waits for `pid` as wait4 does, polling its RssAnon every 2 ms meanwhile
// (only its anonymous pages: not those of files it maps or reads through
// the page cache). Returns the peak seen in KiB.
long waitWatchingAnon(pid_t pid, int* status, struct rusage* usage) {
    long peak = 0;
    for (;;) {
        const pid_t done = wait4(pid, status, WNOHANG, usage);
        if (done == pid) return peak;
        if (done < 0) die("wait4 failed");
        peak = std::max(peak, rssAnonKiB(pid));
        ::usleep(2000);
    }
}

Sample runTimed(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) die("fork failed");
    if (pid == 0) {
        execvp(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage;
    Sample sample;
    if (args[0] == "sh") {
        if (wait4(pid, &status, 0, &usage) != pid) die("wait4 failed");
    } else {
        sample.peakAnonKiB = waitWatchingAnon(pid, &status, &usage);
    }
    sample.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    sample.maxRssKiB = usage.ru_maxrss;
    const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    sample.userSeconds = seconds(usage.ru_utime);
    sample.systemSeconds = seconds(usage.ru_stime);
    sample.cpuSeconds = sample.userSeconds + sample.systemSeconds;
    sample.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!sample.ok) die("command failed: " + args[0] + " " + (args.size() > 1 ? args[1] : ""));
    return sample;
}

Sample shell(const std::string& command) {
    return runTimed({"sh", "-c", command});
}

void syncAll() {
    ::sync();
}

std::string quote(const std::string& s) {
    std::string out = "'";
    for (const char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

void makeRandomFile(const std::string& path, long sizeMiB) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) die("cannot create " + path);
    std::vector<uint64_t> block((4 << 20) / sizeof(uint64_t));
    uint64_t x = 0x9E3779B97F4A7C15ull;
    for (long written = 0; written < sizeMiB; written += 4) {
        for (uint64_t& v : block) {
            x ^= x << 13, x ^= x >> 7, x ^= x << 17;
            v = x;
        }
        const std::size_t bytes = std::min<long>(4, sizeMiB - written) << 20;
        if (::write(fd, block.data(), bytes) != static_cast<ssize_t>(bytes)) die("write failed");
    }
    ::fdatasync(fd);
    ::close(fd);
}

// True when the files in `parts`, laid end to end, are byte for byte `original`.
bool sameBytes(const std::string& original, const std::vector<std::string>& parts) {
    FILE* in = std::fopen(original.c_str(), "rb");
    if (!in) return false;
    std::vector<char> a(8 << 20), b(8 << 20);
    bool same = true;
    for (const std::string& part : parts) {
        FILE* p = std::fopen(part.c_str(), "rb");
        if (!p) return std::fclose(in), false;
        std::size_t n;
        while (same && (n = std::fread(b.data(), 1, b.size(), p)) > 0) {
            same = std::fread(a.data(), 1, n, in) == n && std::memcmp(a.data(), b.data(), n) == 0;
        }
        std::fclose(p);
    }
    same = same && std::fgetc(in) == EOF;
    std::fclose(in);
    return same;
}

// The chunks of a division in `dir`, in order. Stops the benchmark when the
// folder holds anything besides the header, the chunks and the checksum
// file (which stays for the glue to check the chunks against, and goes with
// the folder).
std::vector<std::string> morvaneChunks(const std::string& dir, const std::string& prefix) {
    std::vector<std::string> parts;
    for (int k = 1; fs::exists(dir + "/" + prefix + "_" + std::to_string(k) + ".div"); ++k) {
        parts.push_back(dir + "/" + prefix + "_" + std::to_string(k) + ".div");
    }
    std::size_t expected = parts.size() + 1 + fs::exists(dir + "/" + prefix + ".sha256");
    for (const auto& e : fs::directory_iterator(dir)) {
        expected += e.path().extension() == ".par2";
    }
    const auto entries = std::distance(fs::directory_iterator(dir), fs::directory_iterator());
    if (static_cast<std::size_t>(entries) != expected) {
        die("unexpected files beside the division in " + dir);
    }
    return parts;
}

std::vector<std::string> sortedFiles(const std::string& dir) {
    std::vector<std::string> parts;
    for (const auto& e : fs::directory_iterator(dir)) parts.push_back(e.path().string());
    std::sort(parts.begin(), parts.end());
    return parts;
}

void check(bool same, const std::string& what) {
    if (!same) die(what + ": output differs from the original");
}

void freshDir(const std::string& dir) {
    fs::remove_all(dir);
    fs::create_directories(dir);
}

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) die("missing value for " + a);
            return argv[++i];
        };
        if (a == "--size-mib")
            o.sizeMiB = std::atol(value().c_str());
        else if (a == "--chunk")
            o.chunkBytes = std::atol(value().c_str());
        else if (a == "--runs")
            o.runs = std::atoi(value().c_str());
        else if (a == "--dir")
            o.dir = value();
        else if (a == "--runner")
            o.runner = value();
        else if (a == "--program")
            o.program = value();
        else if (a == "--no-xfs")
            o.xfs = false;
        else if (a == "--no-recovery")
            o.recovery = false;
        else
            die("usage: morvane_bench [--size-mib N] [--chunk BYTES] [--runs N] [--dir DIR] "
                "[--program MORVANE] [--no-xfs] [--no-recovery]");
    }
    if (o.sizeMiB < 1 || o.chunkBytes < 1 || o.runs < 1) die("sizes and runs must be positive");
    if (o.runner.empty())
        o.runner =
            (fs::read_symlink("/proc/self/exe").parent_path() / "morvane_bench_run").string();
    if (o.program.empty())
        o.program = (fs::read_symlink("/proc/self/exe").parent_path() / "../app/morvane").string();
    if (o.dir.empty()) {
        const char* tmp = std::getenv("TMPDIR");
        o.dir = std::string(tmp ? tmp : "/var/tmp") + "/morvane-bench-" + std::to_string(getpid());
    }
    return o;
}

void printTableHead() {
    std::printf("| %-24s | %8s | %-19s | %8s | %8s |\n", "operation", "median s", "min - max s",
                "MiB/s", "anon MiB");
    std::printf("|%s|%s|%s|%s|%s|\n", std::string(26, '-').c_str(), std::string(10, '-').c_str(),
                std::string(21, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str());
}

// A row of printTableHead's table.
void printRow(const Series& s, double mib) {
    std::printf("| %-24s | %8.3f | %8.3f - %-8.3f | %8.0f |", s.name.c_str(), s.median(), s.min(),
                s.max(), mib / s.median());
    if (s.peakAnonKiB() > 0) {
        std::printf(" %8.1f |\n", s.peakAnonKiB() / 1024.0);
    } else {
        std::printf(" %8s |\n", "-");
    }
}

// Division and glue on a copy-on-write XFS image, where copy_file_range can
// share blocks instead of copying them.
void runXfs(const Options& o, const std::string& source) {
    if (geteuid() != 0 || std::system("command -v mkfs.xfs >/dev/null 2>&1") != 0) {
        std::printf(
            "\nXFS reflink case: not run (needs root and mkfs.xfs from Debian xfsprogs).\n");
        return;
    }
    const std::string image = o.dir + "/xfs.img", mnt = o.dir + "/xfs";
    const long imageMiB = o.sizeMiB * 3 + 1024;
    fs::create_directories(mnt);
    const std::string setup = "truncate -s " + std::to_string(imageMiB) + "M " + quote(image) +
                              " && mkfs.xfs -q -m reflink=1 " + quote(image) +
                              " && mount -o loop " + quote(image) + " " + quote(mnt);
    if (std::system(setup.c_str()) != 0) {
        std::printf(
            "\nXFS reflink case: not run (the XFS image could not be made or mounted here).\n");
        fs::remove(image);
        return;
    }
    const long chunk = std::max(4096L, o.chunkBytes / 4096 * 4096);
    const std::string src = mnt + "/source.bin", chunks = mnt + "/chunks", out = mnt + "/glued.bin";
    shell("cp --reflink=never " + quote(source) + " " + quote(src));
    fs::create_directories(chunks);
    syncAll();
    Series divide{"Morvane divide (XFS)", {}}, glue{"Morvane glue (XFS)", {}};
    Series hash{"sha256sum (XFS)", {}}, plainGlue{"glue, no .sha256 (XFS)", {}};
    for (int r = 0; r < o.runs; ++r) {
        freshDir(chunks);
        fs::remove(out);
        syncAll();
        divide.samples.push_back(
            runTimed({o.runner, "divide", src, chunks, "p", std::to_string(chunk)}));
        check(sameBytes(source, morvaneChunks(chunks, "p")), "XFS division");
        syncAll();
        glue.samples.push_back(runTimed({o.runner, "glue", chunks + "/p.hed", out}));
        check(sameBytes(source, {out}), "XFS glue");
        // Without its checksum file the glue shares the chunks' blocks
        // instead of reading them.
        fs::remove(out);
        fs::rename(chunks + "/p.sha256", mnt + "/p.sha256");
        syncAll();
        plainGlue.samples.push_back(runTimed({o.runner, "glue", chunks + "/p.hed", out}));
        check(sameBytes(source, {out}), "XFS glue without checksums");
        fs::remove(mnt + "/p.sha256");
        hash.samples.push_back(shell("sha256sum " + quote(src) + " >/dev/null"));
    }
    std::printf("\nOn a reflink XFS image, chunk size %ld bytes (a multiple of 4096):\n\n", chunk);
    printTableHead();
    printRow(divide, o.sizeMiB);
    printRow(glue, o.sizeMiB);
    printRow(plainGlue, o.sizeMiB);
    printRow(hash, o.sizeMiB);
    std::printf(
        "\n| ratio of medians (XFS)         |       |\n"
        "|--------------------------------|-------|\n");
    std::printf("| Morvane divide / sha256sum     | %5.2f |\n", divide.median() / hash.median());
    std::printf("| Morvane glue / sha256sum       | %5.2f |\n", glue.median() / hash.median());
    shell("umount " + quote(mnt));
    fs::remove(image);
}

// Recovery data: a division with one recovery chunk against the same
// division without, and against split + par2 create with one recovery
// slice per chunk (the same protection); a glue that rebuilds a lost chunk
// against par2 repair + cat + sync.
void runRecovery(const Options& o, const std::string& source) {
    if (std::system("command -v par2 >/dev/null 2>&1") != 0) {
        std::printf("\nRecovery case: not run (needs par2 from Debian par2).\n");
        return;
    }
    const std::string chunk = std::to_string(o.chunkBytes / 4 * 4);
    const std::string mDir = o.dir + "/rec-morvane", pDir = o.dir + "/rec-par2";
    const std::string mOut = o.dir + "/rec-glued.bin", cOut = o.dir + "/rec-cat.bin";
    Series plain{"divide, no recovery", {}}, divide{"divide + 1 recovery", {}};
    Series splitPar2{"split + par2 create + sync", {}};
    Series repair{"glue rebuilding chunk 2", {}}, par2Repair{"par2 repair + cat + sync", {}};
    for (int r = 0; r < o.runs; ++r) {
        freshDir(mDir);
        syncAll();
        plain.samples.push_back(runTimed({o.runner, "divide", source, mDir, "p", chunk}));
        freshDir(mDir);
        syncAll();
        divide.samples.push_back(runTimed({o.runner, "divide", source, mDir, "p", chunk, "1"}));
        // par2 itself reads the first set (it takes longer than the division).
        if (r == 0)
            check(shell("cd " + quote(mDir) + " && par2 verify -q -q p.par2").ok, "par2 verify");
        freshDir(pDir);
        syncAll();
        splitPar2.samples.push_back(
            shell("cd " + quote(pDir) + " && split -b " + chunk + " -d -a 6 " + quote(source) +
                  " x && par2 create -q -q -s" + chunk + " -c1 x.par2 x0* && sync"));
        fs::remove(mDir + "/p_2.div");
        fs::remove(mOut);
        syncAll();
        repair.samples.push_back(runTimed({o.runner, "glue", mDir + "/p.hed", mOut}));
        check(sameBytes(source, {mOut}), "glue with a rebuilt chunk");
        fs::remove(mOut);
        fs::remove(pDir + "/x000001");
        fs::remove(cOut);
        syncAll();
        par2Repair.samples.push_back(shell("cd " + quote(pDir) +
                                           " && par2 repair -q -q x.par2 && cat x0* > " +
                                           quote(cOut) + " && sync"));
        check(sameBytes(source, {cOut}), "par2 repair + cat");
        fs::remove(cOut);
    }
    std::printf("\nRecovery data, %ld MiB in chunks of %s bytes:\n\n", o.sizeMiB, chunk.c_str());
    printTableHead();
    for (const Series* s : {&plain, &divide, &splitPar2, &repair, &par2Repair})
        printRow(*s, o.sizeMiB);
    std::printf(
        "\n| ratio of medians                          |       |\n"
        "|-------------------------------------------|-------|\n");
    std::printf("| divide + 1 recovery / divide              | %5.2f |\n",
                divide.median() / plain.median());
    std::printf("| divide + 1 recovery / split + par2 create | %5.2f |\n",
                divide.median() / splitPar2.median());
    std::printf("| glue rebuilding / par2 repair + cat       | %5.2f |\n",
                repair.median() / par2Repair.median());
    fs::remove_all(mDir);
    fs::remove_all(pDir);
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = parse(argc, argv);
    if (!fs::exists(o.runner)) die("cannot find " + o.runner);
    if (!fs::exists(o.program)) die("cannot find " + o.program);
    fs::create_directories(o.dir);
    const std::string source = o.dir + "/source.bin";
    const std::string mDir = o.dir + "/morvane", sDir = o.dir + "/split";
    const std::string mOut = o.dir + "/glued.bin", cOut = o.dir + "/cat.bin",
                      pOut = o.dir + "/cp.bin";
    std::printf("Making a random file of %ld MiB in %s ...\n", o.sizeMiB, o.dir.c_str());
    makeRandomFile(source, o.sizeMiB);

    Series divide{"Morvane divide", {}}, split{"split -b + sync", {}};
    Series glue{"Morvane glue", {}}, cat{"cat + sync", {}}, cp{"cp + sync", {}};
    Series programDivide{"morvane divide", {}}, programGlue{"morvane glue", {}};
    const std::string chunk = std::to_string(o.chunkBytes);
    auto runDivide = [&] {
        freshDir(mDir);
        syncAll();
        divide.samples.push_back(runTimed({o.runner, "divide", source, mDir, "p", chunk}));
        check(sameBytes(source, morvaneChunks(mDir, "p")), "Morvane division");
    };
    // The command line, as a script runs it; quiet, as in a log.
    auto runProgramDivide = [&] {
        freshDir(mDir);
        syncAll();
        programDivide.samples.push_back(runTimed(
            {o.program, "divide", source, "--size", chunk, "--to", mDir, "--prefix", "p", "-q"}));
        check(sameBytes(source, morvaneChunks(mDir, "p")), "morvane divide");
    };
    auto runProgramGlue = [&] {
        fs::remove(mOut);
        syncAll();
        programGlue.samples.push_back(
            runTimed({o.program, "glue", mDir + "/p.hed", "--to", mOut, "-q"}));
        check(sameBytes(source, {mOut}), "morvane glue");
        fs::remove(mOut);
    };
    auto runSplit = [&] {
        freshDir(sDir);
        syncAll();
        split.samples.push_back(shell("split -b " + chunk + " -d -a 6 " + quote(source) + " " +
                                      quote(sDir + "/x") + " && sync"));
        check(sameBytes(source, sortedFiles(sDir)), "split");
    };
    auto runGlue = [&] {
        fs::remove(mOut);
        syncAll();
        glue.samples.push_back(runTimed({o.runner, "glue", mDir + "/p.hed", mOut}));
        check(sameBytes(source, {mOut}), "Morvane glue");
        fs::remove(mOut);
    };
    auto runCat = [&] {
        fs::remove(cOut);
        syncAll();
        cat.samples.push_back(shell("cat " + quote(sDir) + "/x* > " + quote(cOut) + " && sync"));
        check(sameBytes(source, {cOut}), "cat");
        fs::remove(cOut);
    };
    for (int r = 0; r < o.runs; ++r) {
        // Each tool goes first in every other round, so that neither always
        // meets the disk as the other left it; the command line and the
        // engine stand side by side, taking turns too.
        if (r % 2 == 0) {
            runProgramDivide(), runDivide(), runSplit();
            runProgramGlue(), runGlue(), runCat();
        } else {
            runSplit(), runDivide(), runProgramDivide();
            runCat(), runGlue(), runProgramGlue();
        }

        fs::remove(pOut);
        syncAll();
        cp.samples.push_back(shell("cp " + quote(source) + " " + quote(pOut) + " && sync"));
        check(sameBytes(source, {pOut}), "cp");
        fs::remove(pOut);
        std::printf("run %d of %d done\n", r + 1, o.runs);
    }

    const long chunks = (o.sizeMiB * 1048576 + o.chunkBytes - 1) / o.chunkBytes;
    std::printf("\n%ld MiB in %ld chunks of %ld bytes, %d runs each, every output checked:\n\n",
                o.sizeMiB, chunks, o.chunkBytes, o.runs);
    printTableHead();
    for (const Series* s : {&divide, &programDivide, &split, &glue, &programGlue, &cat, &cp})
        printRow(*s, o.sizeMiB);
    std::printf("\n| ratio of medians          |       |\n|---------------------------|-------|\n");
    std::printf("| Morvane divide / split    | %5.2f |\n", divide.median() / split.median());
    std::printf("| Morvane glue / cat        | %5.2f |\n", glue.median() / cat.median());
    std::printf("| Morvane divide / cp       | %5.2f |\n", divide.median() / cp.median());
    std::printf("| Morvane glue / cp         | %5.2f |\n", glue.median() / cp.median());
    std::printf("| morvane divide / split    | %5.2f |\n", programDivide.median() / split.median());
    std::printf("| morvane glue / cat        | %5.2f |\n", programGlue.median() / cat.median());
    std::printf(
        "\nProcessor time (user + system), medians: engine divide %.3f s, morvane divide %.3f s "
        "(%+.1f %%); engine glue %.3f s, morvane glue %.3f s (%+.1f %%)\n",
        divide.medianCpu(), programDivide.medianCpu(),
        100.0 * (programDivide.medianCpu() / divide.medianCpu() - 1.0), glue.medianCpu(),
        programGlue.medianCpu(), 100.0 * (programGlue.medianCpu() / glue.medianCpu() - 1.0));
    std::printf(
        "Processor time round by round (median of the rounds' ratios): morvane divide / engine "
        "%+.1f %%, morvane glue / engine %+.1f %%\n",
        100.0 * (medianCpuRatio(programDivide, divide) - 1.0),
        100.0 * (medianCpuRatio(programGlue, glue) - 1.0));
    std::printf("User / system time, medians:");
    for (const Series* s : {&divide, &programDivide, &glue, &programGlue}) {
        std::printf(" %s %.3f / %.3f s%s", s->name.c_str(), s->medianOf(&Sample::userSeconds),
                    s->medianOf(&Sample::systemSeconds), s == &programGlue ? "\n" : ";");
    }
    std::printf("\nPeak resident memory of the engine process: divide %.1f MiB, glue %.1f MiB\n",
                divide.peakRssKiB() / 1024.0, glue.peakRssKiB() / 1024.0);
    std::printf(
        "Disk pace in this run (cp + sync of %ld MiB): median %.0f MiB/s, "
        "from %.0f to %.0f MiB/s\n",
        o.sizeMiB, o.sizeMiB / cp.median(), o.sizeMiB / cp.max(), o.sizeMiB / cp.min());

    fs::remove_all(mDir);
    fs::remove_all(sDir);
    if (o.recovery) runRecovery(o, source);
    if (o.xfs) runXfs(o, source);
    fs::remove_all(o.dir);
    return 0;
}
