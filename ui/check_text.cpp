#include "ui/check_text.h"

#include <string>
#include <vector>

namespace morvane {

std::string checkSummary(const SetCheck& check) {
    std::vector<std::string> lost;
    for (const CheckedFile& file : check.files) {
        if (file.health == FileHealth::Intact) continue;
        lost.push_back(file.name + (file.health == FileHealth::Missing ? " missing" : " damaged"));
    }
    const std::string limited =
        check.contentsChecked
            ? std::string()
            : " (no checksum file nor recovery data: presence and lengths checked only)";
    if (lost.empty()) {
        return (check.chunks == 1 ? std::string("The chunk is intact")
                                  : "All " + std::to_string(check.chunks) + " chunks intact") +
               limited;
    }
    constexpr std::size_t kNamesShown = 5;
    std::string text;
    for (std::size_t i = 0; i < lost.size() && i < kNamesShown; ++i) {
        text += (i > 0 ? ", " : "") + lost[i];
    }
    if (lost.size() > kNamesShown) {
        text += " and " + std::to_string(lost.size() - kNamesShown) + " more";
    }
    const std::string them = lost.size() == 1 ? "it" : "them";
    if (check.recoverable) return text + ": the recovery data can rebuild " + them;
    if (check.recoveryUsed) {
        return text + ": the recovery data cannot rebuild " + them + " (" + check.why + ")";
    }
    return text + ": " + check.why + limited;
}

QString checkSummaryText(const SetCheck& check) {
    return QString::fromStdString(checkSummary(check));
}

}  // namespace morvane
