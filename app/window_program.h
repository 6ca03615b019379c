#pragma once

#include <string>
#include <vector>

namespace morvane {

// Where the window program may be, in the order to try: in its private
// folder as installed, found from the launcher's own path `launcher` (as
// /proc/self/exe gives it), then beside the launcher, as in the build tree,
// then in the private folder of the prefix the program was built for. An
// empty `launcher` leaves only the last.
std::vector<std::string> windowProgramPlaces(const std::string& launcher);

// Replaces this process with the window program, with the same arguments
// (argv[0] included, so that the window keeps the launcher's name) and the
// same environment. Returns only when no place held a program that could be
// started: says why on standard error and returns the status to exit with.
int runWindowProgram(char* argv[]);

}  // namespace morvane
