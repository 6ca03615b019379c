#pragma once

namespace morvane {

// The exit statuses of the commands, which scripts branch on.
enum ExitCode : int {
    kExitDone = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    // The set is damaged and its recovery data can rebuild what is damaged.
    kExitRepairable = 3,
    // The set is damaged and what is damaged cannot be rebuilt.
    kExitDamaged = 4,
};

// A run stopped by the signal `signo` exits with 128 + signo: 129 for
// SIGHUP, 130 for SIGINT, 143 for SIGTERM.
constexpr int exitForSignal(int signo) {
    return 128 + signo;
}

}  // namespace morvane
