#include "cli/command_run.h"

#include "cli/command.h"
#include "cli/console.h"
#include "cli/exit_codes.h"
#include "cli/progress_line.h"
#include "cli/run_monitor.h"

namespace morvane {

CommandRun::CommandRun(const char* command, CommandContext& context)
    : m_command(command), m_context(context) {
    m_json.addString("command", m_command);
}

int CommandRun::resultWritable() const {
    const Console& console = m_context.console;
    if (!console.json()) return kExitDone;
    const std::string blocked = console.resultBlocked();
    if (blocked.empty()) return kExitDone;
    console.error(m_command + ": --json: " + blocked);
    return kExitFailed;
}

bool CommandRun::runJob(const std::function<bool()>& job,
                        const std::function<RunPhaseSnapshot()>& phase,
                        const std::function<void()>& stop) {
    ProgressLine progress(phase);
    RunMonitor monitor(m_context.stopSignals,
                       m_context.console.showsProgress() ? &progress : nullptr);
    bool done = false;
    const auto started = std::chrono::steady_clock::now();
    monitor.run([&] { done = job(); }, stop);
    m_took = std::chrono::steady_clock::now() - started;
    m_signal = monitor.signal();
    return done;
}

int CommandRun::stopped(const std::string& what) {
    m_json.addString("result", "stopped");
    m_json.addString("signal", signalName(m_signal));
    m_context.console.note(what + " stopped.");
    return exitForSignal(m_signal);
}

void CommandRun::failed(const std::string& why) {
    m_json.addString("result", "failed");
    m_context.console.error(m_command + " failed: " + why);
}

void CommandRun::addError(int code, bool system, const std::string& text) {
    JsonObject error;
    error.addNumber("code", code);
    error.addBool("system", system);
    error.addString("text", text);
    m_json.addObject("error", error);
}

int CommandRun::finish(int status) {
    m_json.addSeconds("seconds", std::chrono::duration<double>(m_took).count());
    const Console& console = m_context.console;
    if (console.json() && !console.result(m_json.text()) && status == kExitDone) return kExitFailed;
    return status;
}

}  // namespace morvane
