#include "ui/recovery_text.h"

#include <QStringList>

#include "engine/division_header.h"
#include "ui/engine_text.h"
#include "ui/number_format.h"

namespace morvane {

namespace {

constexpr std::size_t kNamedChunks = 3;

}  // namespace

QString recoveryChunksText(int32_t count, const QLocale& locale) {
    if (count <= 0) return QStringLiteral("none");
    return formatGrouped(count, locale) +
           (count == 1 ? QStringLiteral(" recovery chunk") : QStringLiteral(" recovery chunks"));
}

QString recoveryPlanText(int32_t count, int64_t bytes, int32_t most, const QLocale& locale) {
    if (most <= 0) return QStringLiteral("none (too many chunks for recovery data)");
    if (count <= 0) return recoveryChunksText(0, locale);
    return recoveryChunksText(count, locale) + QStringLiteral(", ") + bytesText(bytes, locale);
}

QString foreignRecoveryText() {
    return QStringLiteral("(recovery data from another division: not used)");
}

QString chunkCensusText(const QString& prefix, const ChunkCensus& census, int32_t count,
                        const QLocale& locale) {
    const bool whole = census.lookedUp >= count;
    const QString lookedUp = formatGrouped(census.lookedUp, locale);
    if (census.missing == 0) {
        return whole ? QStringLiteral("all present")
                     : QStringLiteral("the first %1 present, the rest not looked up").arg(lookedUp);
    }
    QStringList names;
    for (int32_t k : census.firstMissing)
        names << fromEngineText(chunkFileName(toEngineText(prefix), k));
    QString text = names.join(QStringLiteral(", "));
    const int64_t more = census.missing - static_cast<int64_t>(census.firstMissing.size());
    if (more > 0)
        text += QStringLiteral(" and ") + formatGrouped(more, locale) + QStringLiteral(" more");
    text += QStringLiteral(" missing");
    if (!whole) text += QStringLiteral(" among the first ") + lookedUp;
    return text;
}

QString rebuiltChunksText(const QString& prefix, const std::vector<int32_t>& rebuilt, bool inPlace,
                          const QLocale& locale) {
    if (rebuilt.empty()) return QString();
    QStringList names;
    for (std::size_t i = 0; i < rebuilt.size() && i < kNamedChunks; ++i)
        names << fromEngineText(chunkFileName(toEngineText(prefix), rebuilt[i]));
    QString text =
        QStringLiteral("Rebuilt from recovery data: ") + names.join(QStringLiteral(", "));
    if (rebuilt.size() > kNamedChunks)
        text += QStringLiteral(" and ") +
                formatGrouped(static_cast<int64_t>(rebuilt.size() - kNamedChunks), locale) +
                QStringLiteral(" more");
    if (!inPlace) text += QStringLiteral(" (not written back: the chunk folder cannot be written)");
    return text;
}

}  // namespace morvane
