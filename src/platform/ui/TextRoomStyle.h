#pragma once

// The application style with room for the marks above capitals. Common
// sans fonts (DejaVu Sans, Liberation Sans) report an ascent that, rounded
// to whole pixels, is lower than the top of Ä, Ö and Ü, and Qt sizes list
// rows, check boxes and labels to exactly that height and clips them
// there: the dots are cut off. This style adds the missing pixels above
// and below, measured from each widget's font, so every text of the
// program shows them whole.

#include <QProxyStyle>

namespace platform {

class TextRoomStyle : public QProxyStyle {
    Q_OBJECT
public:
    // Wraps the platform's default style (or `base`, which it then owns).
    explicit TextRoomStyle(QStyle* base = nullptr);

    // Pixels the tallest accented capitals (or the lowest descenders) of
    // the font reach beyond its ascent (descent); 0 when they fit.
    static int overshoot(const QFontMetrics& fm);

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override;
    int styleHint(StyleHint hint, const QStyleOption* option = nullptr,
                  const QWidget* widget = nullptr,
                  QStyleHintReturn* returnData = nullptr) const override;
    void polish(QWidget* widget) override;
    using QProxyStyle::polish;
};

} // namespace platform
