#include "ui/check_text.h"

#include <QStringList>

namespace morvane {

QString checkSummaryText(const SetCheck& check) {
    QStringList lost;
    for (const CheckedFile& file : check.files) {
        if (file.health == FileHealth::Intact) continue;
        lost << QString::fromStdString(file.name) +
                    (file.health == FileHealth::Missing ? " missing" : " damaged");
    }
    const QString limited =
        check.contentsChecked
            ? QString()
            : " (no checksum file nor recovery data: presence and lengths checked only)";
    if (lost.isEmpty()) {
        return (check.chunks == 1 ? QString("The chunk is intact")
                                  : QString("All %1 chunks intact").arg(check.chunks)) +
               limited;
    }
    constexpr int kNamesShown = 5;
    QString text = lost.mid(0, kNamesShown).join(", ");
    if (lost.size() > kNamesShown) text += QString(" and %1 more").arg(lost.size() - kNamesShown);
    const QString them = lost.size() == 1 ? QString("it") : QString("them");
    if (check.recoverable) return text + ": the recovery data can rebuild " + them;
    const QString why = QString::fromStdString(check.why);
    if (check.recoveryUsed) {
        return text + ": the recovery data cannot rebuild " + them + " (" + why + ")";
    }
    return text + ": " + why + limited;
}

}  // namespace morvane
