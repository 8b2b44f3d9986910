#pragma once

// The page as the report drew it: one entry per drawing operation, in
// drawing order, with the settings that were current at that moment. All
// positions are twips on the A4 landscape page, colours COLORREF values.

#include <QJsonArray>
#include <QRectF>
#include <QString>
#include <vector>

namespace print {

// A4 landscape, 297 × 210 mm.
inline constexpr double PageWidthTwips = 16838.0;
inline constexpr double PageHeightTwips = 11906.0;
inline constexpr double TwipsPerInch = 1440.0;

enum class OpKind { Text, Line, Rect, Circle };

// The surface settings an operation was drawn with.
struct DrawState {
    QString fontFace = QStringLiteral("Arial");
    double fontPoints = 10.0;
    quint32 textColour = 0;
    int align = 6;
    int rotation = 0;
    quint32 penColour = 0;
    int penStyle = 0;
    double penWidth = 0.0;
    quint32 brushColour = 0;
    int brushStyle = 1;

    bool operator==(const DrawState&) const = default;
};

struct Op {
    OpKind kind = OpKind::Text;
    // Text: the box as passed (left, top, width, height). Rectangle: the
    // normalised box of its two corners. Circle: x, y is the centre.
    double x = 0, y = 0, w = 0, h = 0;
    // Line and rectangle: the end points as passed.
    double x1 = 0, y1 = 0, x2 = 0, y2 = 0;
    double r = 0;
    QString text;
    bool wrap = false;
    bool shaded = false;
    DrawState state;

    bool operator==(const Op&) const = default;
};

using DisplayList = std::vector<Op>;

// "#RRGGBB" of a COLORREF (0x00BBGGRR) and back; an unreadable text gives 0.
QString colourName(quint32 colorref);
quint32 colourFromName(const QString& name);

const char* kindName(OpKind kind);

// One object per operation; only the keys that matter for its kind.
QJsonArray toJson(const DisplayList& list);
// Reads what toJson wrote; unknown kinds are skipped and reported.
DisplayList fromJson(const QJsonArray& array, QString* error = nullptr);

} // namespace print
