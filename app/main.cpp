#include "app/window_program.h"
#include "cli/command_line.h"

// The launcher: a command runs here, with the engine and Qt Core alone; for
// anything else (the window, its help and version) the window program takes
// this process's place.
int main(int argc, char* argv[]) {
    if (morvane::isCommandLineRun(argc, argv)) return morvane::runCommandLine(argc, argv);
    return morvane::runWindowProgram(argv);
}
