#include "engine/status.h"

#include <cstring>

namespace morvane {

Status Status::SysError(int number) {
    char buffer[256];
    // GNU strerror_r may return a static string instead of filling `buffer`.
    const char* text = strerror_r(number, buffer, sizeof buffer);
    return Status(number, text);
}

Status Status::SysError(int number, std::string text) {
    return Status(number, std::move(text));
}

}  // namespace morvane
