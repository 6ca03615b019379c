#include "ui/desktop.h"

namespace morvane {

FileFilter filterFromText(const QString& text) {
    FileFilter filter;
    const qsizetype bar = text.indexOf(u'|');
    filter.description = (bar < 0 ? text : text.left(bar)).trimmed();
    const QString patterns = bar < 0 ? QString() : text.mid(bar + 1);
    for (const QString& part : patterns.split(u';', Qt::SkipEmptyParts)) {
        const QString pattern = part.trimmed();
        if (pattern.isEmpty()) continue;
        filter.patterns << (pattern == QLatin1String("*.*") ? QStringLiteral("*") : pattern);
    }
    if (filter.patterns.isEmpty()) filter.patterns << QStringLiteral("*");
    return filter;
}

}  // namespace morvane
