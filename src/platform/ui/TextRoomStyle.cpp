#include "TextRoomStyle.h"

#include <QFontMetrics>
#include <QLabel>
#include <QStyleOption>
#include <algorithm>

namespace platform {

TextRoomStyle::TextRoomStyle(QStyle* base) : QProxyStyle(base) {}

int TextRoomStyle::overshoot(const QFontMetrics& fm) {
    // The glyphs' real extent after hinting, not the font's declared one.
    const QRect up = fm.tightBoundingRect(QStringLiteral("ÄÖÜÅÉÂ"));
    const QRect down = fm.tightBoundingRect(QStringLiteral("gjpqyÇ"));
    return std::max({0, -up.top() - fm.ascent(), down.bottom() + 1 - fm.descent()});
}

QSize TextRoomStyle::sizeFromContents(ContentsType type, const QStyleOption* option,
                                      const QSize& size, const QWidget* widget) const {
    QSize s = QProxyStyle::sizeFromContents(type, option, size, widget);
    switch (type) {
    case CT_ItemViewItem:
    case CT_CheckBox:
    case CT_RadioButton:
        // The text is centred vertically: room on both sides.
        if (option) s.rheight() += 2 * overshoot(option->fontMetrics);
        break;
    default:
        break;
    }
    return s;
}

int TextRoomStyle::styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                             QStyleHintReturn* returnData) const {
    // A selectable label draws its text as a document clipped at the first
    // line's ascent, where no margin helps; message boxes show plain text
    // instead (Ctrl+C still copies it).
    if (hint == SH_MessageBox_TextInteractionFlags) return Qt::NoTextInteraction;
    return QProxyStyle::styleHint(hint, option, widget, returnData);
}

void TextRoomStyle::polish(QWidget* widget) {
    QProxyStyle::polish(widget);
    // Labels do not ask the style for their size; a margin does the same.
    auto* label = qobject_cast<QLabel*>(widget);
    if (!label || !label->pixmap().isNull()) return;
    const int room = overshoot(label->fontMetrics());
    QMargins m = label->contentsMargins();
    m.setTop(std::max(m.top(), room));
    m.setBottom(std::max(m.bottom(), room));
    label->setContentsMargins(m);
}

} // namespace platform
