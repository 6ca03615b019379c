#include "ui/elided_label.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace morvane {

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, textRect().width());
}

bool ElidedLabel::fits(const QString& text) const {
    return fontMetrics().elidedText(text, Qt::ElideMiddle, textRect().width()) == text;
}

QRect ElidedLabel::textRect() const {
    const int m = margin();
    QRect rect = contentsRect().adjusted(m, m, -m, -m);
    const int indentation =
        indent() >= 0 ? indent()
                      : (frameWidth() > 0 ? fontMetrics().horizontalAdvance(u'x') / 2 : 0);
    const Qt::Alignment align = QStyle::visualAlignment(layoutDirection(), alignment());
    if (align & Qt::AlignLeft) rect.setLeft(rect.left() + indentation);
    if (align & Qt::AlignRight) rect.setRight(rect.right() - indentation);
    return rect;
}

bool ElidedLabel::event(QEvent* event) {
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        const QString shown = shownText();
        if (shown != text())
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

void ElidedLabel::paintEvent(QPaintEvent* event) {
    const QString shown = shownText();
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QFrame::paintEvent(event);
    QPainter painter(this);
    style()->drawItemText(&painter, textRect(),
                          QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), shown, foregroundRole());
}

}  // namespace morvane
