#pragma once

#include <QLabel>

namespace morvane {

// A label that keeps its whole text (what text() returns and a screen
// reader reads) but, when the text is wider than the label, draws it cut in
// the middle with "…" so that both ends stay visible, and shows the whole
// text as its tooltip.
class ElidedLabel : public QLabel {
    Q_OBJECT

  public:
    using QLabel::QLabel;

    // The text as drawn: the whole text when it fits.
    QString shownText() const;
    // True when the label, as wide as it is now, would draw `text` whole.
    bool fits(const QString& text) const;

  protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    // Where QLabel places its text: inside the frame, the margin and the
    // indent.
    QRect textRect() const;
};

}  // namespace morvane
