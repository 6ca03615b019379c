// Times a division and a glue driven through the real window (offscreen,
// dialogs answered by a script) against the same work done by the engine
// alone in the same process, to show what the window's run thread, status
// line and progress cost. Also measures how the window answers during its
// runs: the longest its thread went without running a 10 ms timer, the
// time from a click on Stop to "Stopping…" and to the end of a stopped
// division in each phase, the largest difference between the bar and the
// status line's percentage, the longest the progress strip went without a
// change, and the time-left estimate against the truth at 10, 50 and 90 %.
//
//   morvane_window_bench [--size-mib N] [--chunk BYTES] [--runs N] [--recovery N] [--dir DIR]
#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/file_divider.h"
#include "engine/file_glue.h"
#include "tests/ui/tick_gaps.h"
#include "ui/desktop.h"
#include "ui/frm_main.h"

namespace fs = std::filesystem;

namespace {

[[noreturn]] void die(const std::string& what) {
    std::fprintf(stderr, "window benchmark: %s\n", what.c_str());
    std::exit(1);
}

// Answers the window's file dialogs from a queue; any message box is a failure.
class AnsweringDesktop : public morvane::Desktop {
  public:
    std::deque<QString> answers;
    // The share of the run last shown on the taskbar.
    double shownFraction = 0;

    std::optional<QString> chooseFile(QWidget*, const morvane::FileDialogRequest&) override {
        if (answers.empty()) die("the window asked for a file the script did not expect");
        const QString answer = answers.front();
        answers.pop_front();
        return answer;
    }
    void showMessage(QWidget*, const QString& text, morvane::MessageIcon) override {
        die("the window showed a message: " + text.toStdString());
    }
    bool openUrl(const QUrl&) override { return false; }
    bool askYesNo(QWidget*, const QString& text) override {
        die("the window asked: " + text.toStdString());
    }
    void showRunProgress(std::optional<double> fraction) override {
        if (fraction) shownFraction = *fraction;
    }
    void notifyRunEnded(const QString&, const QString&, const QString&) override {}
    void inhibitSleep(const QString&) override {}
    void allowSleep() override {}
};

// Waits for the window's run to end, answering the window meanwhile.
void waitForRun(const morvane::frmMain& window) {
    while (window.isBusy()) QTest::qWait(1);
}

double seconds(const std::function<void()>& work) {
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The longest stall of the window's thread while `work` runs, in ms.
double longestStallMs(const std::function<void()>& work) {
    const TickGaps gaps;
    work();
    return static_cast<double>(gaps.longestMs());
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

bool sameFiles(const std::string& a, const std::string& b) {
    std::ifstream fa(a, std::ios::binary), fb(b, std::ios::binary);
    std::vector<char> x(8 << 20), y(8 << 20);
    while (fa && fb) {
        fa.read(x.data(), x.size());
        fb.read(y.data(), y.size());
        if (fa.gcount() != fb.gcount() ||
            !std::equal(x.begin(), x.begin() + fa.gcount(), y.begin()))
            return false;
    }
    return fa.eof() && fb.eof();
}

void engineDivide(const std::string& dir, int32_t chunk) {
    morvane::FileDivider divider;
    divider.setBigFileName("source.bin");
    divider.setBigFilePath(dir);
    divider.analyze();
    divider.setAvgChunkSize(chunk);
    divider.setChunkPrefix("e");
    divider.setChunkPath(dir + "/engine");
    if (!divider.divideFile()) die("engine division: " + divider.ErrorDescription());
}

void engineGlue(const std::string& dir) {
    morvane::FileGlue glue;
    glue.setHeaderFileName("e.hed");
    glue.setHeaderFilePath(dir + "/engine");
    glue.setChunkPrefix("e");
    glue.analyze();
    glue.setBigFileName("engine.bin");
    glue.setBigFilePath(dir);
    if (!glue.checkExistence() || !glue.glueFile()) die("engine glue: " + glue.ErrorDescription());
}

// Opens the divide panel on the source, sets the chunk size and the
// recovery chunks and starts a division into the "window" folder.
void startWindowDivide(morvane::frmMain& window, AnsweringDesktop& desktop, const std::string& dir,
                       int32_t chunk, int recovery) {
    desktop.answers.push_back(QString::fromStdString(dir + "/source.bin"));
    window.findChild<QAction*>("mnuDivide")->trigger();
    auto* box = window.findChild<QLineEdit*>("txtDChunk");
    box->setFocus();
    box->setText(QString::number(chunk));
    QTest::keyClick(box, Qt::Key_Return);
    window.findChild<QSpinBox*>("spnDRecovery")->setValue(recovery);
    desktop.answers.push_back(QString::fromStdString(dir + "/window/w.hed"));
    desktop.shownFraction = 0;
    window.findChild<QPushButton*>("cmdDiv")->click();
}

double msSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

// What the progress strip showed during one run, looked at every few ms.
struct StripTrace {
    // Percentage points between the bar and the status line while blocks are
    // copied or chunks rebuilt.
    double largestGap = 0;
    // The longest the strip (phase, bar, bytes, time left) stayed the same.
    double longestStillMs = 0;
    // The estimate in seconds and the truth at 10, 50 and 90 % of the run.
    double estimate[3] = {-1, -1, -1};
    double truth[3] = {-1, -1, -1};
};

StripTrace traceRun(morvane::frmMain& window, const AnsweringDesktop& desktop) {
    auto* bar = window.findChild<QProgressBar*>("prgRun");
    auto* status = window.findChild<QLabel*>("lblStatus");
    auto* phase = window.findChild<QLabel*>("lblPhase");
    auto* bytes = window.findChild<QLabel*>("lblRunBytes");
    auto* left = window.findChild<QLabel*>("lblTimeLeft");
    const auto start = std::chrono::steady_clock::now();
    StripTrace trace;
    double seenAt[3] = {-1, -1, -1};
    QString look;
    double changedAt = 0;
    while (window.isBusy()) {
        QTest::qWait(5);
        if (!window.isBusy()) break;
        const double now = msSince(start);
        const QString shown =
            phase->text() + u'|' + bar->text() + u'|' + bytes->text() + u'|' + left->text();
        if (shown != look) {
            trace.longestStillMs = std::max(trace.longestStillMs, now - changedAt);
            look = shown;
            changedAt = now;
        }
        const QString line = status->text();
        const qsizetype open = line.lastIndexOf(u'('),
                        close = line.lastIndexOf(QLatin1String("%)"));
        const bool counted = phase->text() == QLatin1String("Writing chunks") ||
                             phase->text().startsWith(QLatin1String("Rebuilding"));
        if (counted && open >= 0 && close > open) {
            const double gap = std::abs(line.mid(open + 1, close - open - 1).toDouble() -
                                        bar->text().chopped(1).toDouble());
            trace.largestGap = std::max(trace.largestGap, gap);
        }
        const double seconds = bar->property("secondsLeft").toDouble();
        for (int i = 0; i < 3; ++i) {
            if (seenAt[i] < 0 && seconds >= 0 && desktop.shownFraction >= 0.1 + 0.4 * i) {
                seenAt[i] = now;
                trace.estimate[i] = seconds;
            }
        }
    }
    const double end = msSince(start);
    for (int i = 0; i < 3; ++i)
        if (seenAt[i] >= 0) trace.truth[i] = (end - seenAt[i]) / 1000;
    return trace;
}

void startWindowGlue(morvane::frmMain& window, AnsweringDesktop& desktop, const std::string& dir) {
    desktop.answers.push_back(QString::fromStdString(dir + "/window/w.hed"));
    window.findChild<QAction*>("mnuGlue")->trigger();
    desktop.answers.push_back(QString::fromStdString(dir + "/window.bin"));
    window.findChild<QPushButton*>("cmdGlu")->click();
}

// Starts a run with `start`, clicks Stop once a phase whose name begins
// with `phase` shows, and gives the milliseconds from the click to
// "Stopping…" and to the end of the run; none when the run ended before the
// phase showed.
std::optional<std::pair<double, double>> windowStopIn(const QString& phase,
                                                      morvane::frmMain& window,
                                                      const std::function<void()>& start) {
    start();
    auto* shown = window.findChild<QLabel*>("lblPhase");
    while (window.isBusy() && !shown->text().startsWith(phase)) QTest::qWait(1);
    if (!window.isBusy()) return std::nullopt;
    const auto click = std::chrono::steady_clock::now();
    window.findChild<QPushButton*>("cmdStop")->click();
    while (shown->text() != QStringLiteral("Stopping…")) QTest::qWait(1);
    const double feedback = msSince(click);
    waitForRun(window);
    return std::make_pair(feedback, msSince(click));
}

void windowGlue(morvane::frmMain& window, AnsweringDesktop& desktop, const std::string& dir) {
    startWindowGlue(window, desktop, dir);
    waitForRun(window);
}

// Deletes the first chunk of the window's set and overwrites 4 KiB in the
// middle of the second.
void damageSet(const std::string& dir) {
    fs::remove(dir + "/window/w_1.div");
    std::fstream chunk(dir + "/window/w_2.div", std::ios::in | std::ios::out | std::ios::binary);
    chunk.seekp(static_cast<std::streamoff>(fs::file_size(dir + "/window/w_2.div") / 2));
    const std::string junk(4096, '\x5a');
    chunk.write(junk.data(), static_cast<std::streamsize>(junk.size()));
}

// Stop in each phase of a glue that rebuilds a deleted and a damaged chunk,
// then the glue traced to its end; the phases it showed go to `seen`.
void measureRebuildingGlue(morvane::frmMain& window, AnsweringDesktop& desktop,
                           const std::string& dir, const QStringList& phases,
                           std::vector<double>* feedbacks, std::vector<double>* stops,
                           StripTrace* trace, QStringList* seen) {
    for (int i = 0; i < phases.size(); ++i) {
        // A run stopped after its rebuild leaves the set mended.
        damageSet(dir);
        fs::remove(dir + "/window.bin");
        const auto times =
            windowStopIn(phases[i], window, [&] { startWindowGlue(window, desktop, dir); });
        if (!times) continue;
        feedbacks[i].push_back(times->first);
        stops[i].push_back(times->second);
    }
    damageSet(dir);
    fs::remove(dir + "/window.bin");
    startWindowGlue(window, desktop, dir);
    auto* phase = window.findChild<QLabel*>("lblPhase");
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!phase->text().isEmpty() && !seen->contains(phase->text())) *seen << phase->text();
    });
    watch.start(5);
    *trace = traceRun(window, desktop);
    if (!sameFiles(dir + "/source.bin", dir + "/window.bin")) die("rebuilding glue differs");
}

}  // namespace

int main(int argc, char* argv[]) {
    // Offscreen unless a display is named (xvfb-run with a window manager).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    long sizeMiB = 1024, chunk = 100000000;
    int runs = 5, recovery = 2;
    std::string dir = "/var/tmp/morvane-window-bench-" + std::to_string(getpid());
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i], v = argv[i + 1];
        if (a == "--size-mib")
            sizeMiB = std::stol(v);
        else if (a == "--chunk")
            chunk = std::stol(v);
        else if (a == "--runs")
            runs = std::stoi(v);
        else if (a == "--recovery")
            recovery = std::stoi(v);
        else if (a == "--dir")
            dir = v;
        else
            die("usage: morvane_window_bench [--size-mib N] [--chunk BYTES] [--runs N] "
                "[--recovery N] [--dir DIR]");
    }
    fs::create_directories(dir);
    {
        std::ofstream out(dir + "/source.bin", std::ios::binary);
        std::vector<uint32_t> block(1 << 20);
        uint32_t x = 2463534242u;
        for (long m = 0; m < sizeMiB; m += 4) {
            for (uint32_t& v : block) x ^= x << 13, x ^= x >> 17, x ^= x << 5, v = x;
            out.write(reinterpret_cast<const char*>(block.data()), block.size() * 4);
        }
    }
    fs::resize_file(dir + "/source.bin", sizeMiB << 20);

    AnsweringDesktop desktop;
    morvane::frmMain window(desktop);
    window.show();
    std::vector<double> wDiv, eDiv, wGlu, eGlu, stalls, gaps, stills;
    std::vector<double> errors[3];
    const QStringList phases = {"Writing chunks", "Writing recovery data", "Flushing to disk"};
    std::vector<double> feedbacks[3], stops[3];
    const QStringList gluePhases = {"Checking", "Rebuilding", "Gluing chunks", "Flushing to disk"};
    std::vector<double> glueFeedbacks[4], glueStops[4], glueStills, glueGaps, glueErrors[3];
    QStringList glueSeen;
    for (int r = 0; r < runs; ++r) {
        fs::remove_all(dir + "/window");
        fs::remove_all(dir + "/engine");
        fs::create_directories(dir + "/window");
        fs::create_directories(dir + "/engine");
        fs::remove(dir + "/window.bin");
        fs::remove(dir + "/engine.bin");
        // The window and the engine take turns at going first, so that
        // neither always meets the disk as the other left it.
        auto windowDivides = [&] {
            stalls.push_back(longestStallMs([&] {
                wDiv.push_back(seconds([&] {
                    startWindowDivide(window, desktop, dir, chunk, 0);
                    waitForRun(window);
                }));
            }));
        };
        auto engineDivides = [&] { eDiv.push_back(seconds([&] { engineDivide(dir, chunk); })); };
        auto windowGlues = [&] {
            stalls.push_back(longestStallMs(
                [&] { wGlu.push_back(seconds([&] { windowGlue(window, desktop, dir); })); }));
        };
        auto engineGlues = [&] { eGlu.push_back(seconds([&] { engineGlue(dir); })); };
        if (r % 2 == 0) {
            windowDivides(), engineDivides(), windowGlues(), engineGlues();
        } else {
            engineDivides(), windowDivides(), engineGlues(), windowGlues();
        }
        if (!sameFiles(dir + "/source.bin", dir + "/window.bin")) die("window glue differs");
        if (!sameFiles(dir + "/source.bin", dir + "/engine.bin")) die("engine glue differs");
        fs::remove_all(dir + "/window");
        fs::create_directories(dir + "/window");
        // With recovery data: the strip traced through the run, then Stop in each phase.
        fs::remove_all(dir + "/window");
        fs::create_directories(dir + "/window");
        startWindowDivide(window, desktop, dir, chunk, recovery);
        const StripTrace trace = traceRun(window, desktop);
        gaps.push_back(trace.largestGap);
        stills.push_back(trace.longestStillMs);
        for (int i = 0; i < 3; ++i)
            if (trace.truth[i] > 0)
                errors[i].push_back((trace.estimate[i] - trace.truth[i]) / trace.truth[i] * 100);
        for (int i = 0; i < 3; ++i) {
            fs::remove_all(dir + "/window");
            fs::create_directories(dir + "/window");
            if (const auto times = windowStopIn(phases[i], window, [&] {
                    startWindowDivide(window, desktop, dir, chunk, recovery);
                })) {
                feedbacks[i].push_back(times->first);
                stops[i].push_back(times->second);
            }
        }
        if (recovery >= 2) {
            // A set with a chunk deleted and one damaged, glued back.
            fs::remove_all(dir + "/window");
            fs::create_directories(dir + "/window");
            startWindowDivide(window, desktop, dir, chunk, recovery);
            waitForRun(window);
            StripTrace glueTrace;
            measureRebuildingGlue(window, desktop, dir, gluePhases, glueFeedbacks, glueStops,
                                  &glueTrace, &glueSeen);
            glueStills.push_back(glueTrace.longestStillMs);
            glueGaps.push_back(glueTrace.largestGap);
            for (int i = 0; i < 3; ++i)
                if (glueTrace.truth[i] > 0)
                    glueErrors[i].push_back((glueTrace.estimate[i] - glueTrace.truth[i]) /
                                            glueTrace.truth[i] * 100);
        }
        std::printf("run %d of %d done\n", r + 1, runs);
    }
    fs::remove_all(dir);
    std::printf("\n%ld MiB in chunks of %ld bytes, %d runs, outputs checked:\n\n", sizeMiB, chunk,
                runs);
    std::printf("| operation | window s (median) | engine s (median) | window / engine |\n");
    std::printf("|-----------|------------------:|------------------:|----------------:|\n");
    std::printf("| divide    | %17.3f | %17.3f | %15.2f |\n", median(wDiv), median(eDiv),
                median(wDiv) / median(eDiv));
    std::printf("| glue      | %17.3f | %17.3f | %15.2f |\n", median(wGlu), median(eGlu),
                median(wGlu) / median(eGlu));
    std::printf("\nThe window's thread during its runs (ms, median and largest):\n\n");
    std::printf("| measure                           | median | largest |\n");
    std::printf("|-----------------------------------|-------:|--------:|\n");
    std::printf("| longest stall in a divide or glue | %6.0f | %7.0f |\n", median(stalls),
                *std::max_element(stalls.begin(), stalls.end()));
    const auto row = [](const char* what, const std::vector<double>& v) {
        if (v.empty()) {
            std::printf("| %-45s |    n/a |     n/a |\n", what);
            return;
        }
        const auto [low, high] = std::minmax_element(v.begin(), v.end());
        std::printf("| %-45s | %6.1f | %7.1f |\n", what, median(v),
                    std::abs(*low) > std::abs(*high) ? *low : *high);
    };
    std::printf("\nA division with %d recovery chunks (median, and the one farthest from 0):\n\n",
                recovery);
    std::printf("| measure                                       | median | largest |\n");
    std::printf("|-----------------------------------------------|-------:|--------:|\n");
    row("bar vs status line, percentage points", gaps);
    row("longest the strip showed no change, ms", stills);
    row("time-left error at 10 %, %", errors[0]);
    row("time-left error at 50 %, %", errors[1]);
    row("time-left error at 90 %, %", errors[2]);
    for (int i = 0; i < 3; ++i) {
        const std::string name = phases[i].toStdString();
        row(("Stop to \"Stopping\u2026\" in " + name + ", ms").c_str(), feedbacks[i]);
        row(("Stop to the end in " + name + ", ms").c_str(), stops[i]);
    }
    if (recovery < 2) return 0;
    std::printf("\nA glue rebuilding a deleted and a damaged chunk (phases seen: %s):\n\n",
                qPrintable(glueSeen.join(QStringLiteral(", "))));
    std::printf("| measure                                       | median | largest |\n");
    std::printf("|-----------------------------------------------|-------:|--------:|\n");
    row("longest the strip showed no change, ms", glueStills);
    row("bar vs status line, percentage points", glueGaps);
    for (int i = 0; i < 3; ++i)
        row(("time-left error at " + std::to_string(10 + 40 * i) + " %, %").c_str(), glueErrors[i]);
    for (int i = 0; i < gluePhases.size(); ++i) {
        const std::string name = gluePhases[i].toStdString();
        row(("Stop to \"Stopping\u2026\" in " + name + ", ms").c_str(), glueFeedbacks[i]);
        row(("Stop to the end in " + name + ", ms").c_str(), glueStops[i]);
    }
    return 0;
}
