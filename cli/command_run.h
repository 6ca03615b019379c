#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "cli/json_object.h"
#include "engine/run_phase.h"

namespace morvane {

struct CommandContext;

// The engine run of one command, from the moment it may begin to its
// result: refuses to begin when a JSON result asked for could not be
// written, runs the engine on a thread of its own with the progress line
// and the stop signals, times it, and writes the result. The result's JSON
// object begins with "command"; the command adds its own fields.
class CommandRun {
  public:
    // `command`: the command's name, as its messages and result give it.
    CommandRun(const char* command, CommandContext& context);

    // kExitDone when the run may begin: no JSON result is asked for, or it
    // can be written. Otherwise says why and returns kExitFailed.
    int resultWritable() const;

    // Runs `job`, which runs `engine` (a FileDivider or a FileGlue), until
    // it ends: on a terminal the progress line follows the engine's phase,
    // and the first stop signal asks the engine to stop. Returns what `job`
    // returned.
    template <class Engine>
    bool run(Engine& engine, const std::function<bool()>& job) {
        return runJob(
            job, [&engine] { return engine.Phase(); }, [&engine] { engine.requestStop(); });
    }

    // The run was stopped: says "`what` stopped." and records the result
    // and the signal. Returns the exit status for that signal.
    int stopped(const std::string& what);
    // The run failed: "morvane: COMMAND failed: `why`" on standard error,
    // and the result.
    void failed(const std::string& why);
    // As failed(why), adding the engine's error, told as `why`, to the
    // result.
    template <class Engine>
    void failed(const Engine& engine, const std::string& why) {
        failed(why);
        addError(engine.ErrorCode(), engine.IsSysErr(), why);
    }

    JsonObject& json() { return m_json; }
    // Adds the seconds the run took and writes the result when one is
    // asked for. Returns `status`, or kExitFailed when a run that succeeded
    // could not write its result.
    int finish(int status);

  private:
    bool runJob(const std::function<bool()>& job, const std::function<RunPhaseSnapshot()>& phase,
                const std::function<void()>& stop);
    void addError(int code, bool system, const std::string& text);

    std::string m_command;
    CommandContext& m_context;
    JsonObject m_json;
    int m_signal = 0;
    std::chrono::steady_clock::duration m_took{};
};

}  // namespace morvane
