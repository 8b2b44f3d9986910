#pragma once

// Draws a display list with QPainter. The painter is set up so that one
// unit is one twip; fonts are sized in pixels of that system (1 pt = 20
// twips), so text has the same width on screen, PNG, PDF and printer, and
// the measured sizes of RecordingSurface fit what is drawn here.
//
// Placement of rotated text: the box is laid out unrotated with its
// top-left corner at (x, y) and then turned counter-clockwise about that
// corner. For 900 the text runs upwards, (x, y) is the lower left corner,
// the box reaches from y up to y − width and from x right to x + height.

#include "platform/print/DisplayList.h"
#include "platform/print/PrintSurface.h"

#include <QColor>
#include <QFont>
#include <QPen>
#include <QSizeF>

class QPainter;

namespace print {

// The installed family that stands in for a face: "Arial" (and Helvetica)
// become Liberation Sans when Arial itself is not installed, "Times New
// Roman" Liberation Serif, "Courier New" Liberation Mono. Registers the
// Liberation files with Qt if the font configuration does not know them.
// Needs a QGuiApplication.
QString resolveFontFamily(const QString& face);

// The font the page is drawn and measured with, sized in twips.
QFont pageFont(const QString& face, double points);

// Width and height in twips of a text (lines separated by '\n'); an empty
// text is one line high. Without a QGuiApplication (Core-only callers)
// falls back to estimateTextSize.
QSizeF measureText(const QString& text, const QString& face, double points);

// A rough size from the character count, for when no font engine exists.
QSizeF estimateTextSize(const QString& text, double points);

QColor colourFromRef(quint32 colorref);

class PainterRenderer {
public:
    // Maps the page (PageWidthTwips × PageHeightTwips) onto targetRect in
    // the painter's current coordinates and draws every operation in order.
    // The painter's state is restored afterwards. Pens thinner than one
    // device pixel, or than thinLineTwips, are drawn as the device's
    // thinnest line (a cosmetic pen); vector files whose "pixel" is a twip
    // pass a screen pixel here.
    static void render(const DisplayList& list, QPainter& painter, const QRectF& targetRect,
                       double thinLineTwips = 0.0);

    // One operation, with the painter already in twips.
    static void drawOp(const Op& op, QPainter& painter, double thinLineTwips = 0.0);

    // The pen of a state. Widths that would come out thinner than one
    // device pixel or than thinLineTwips (0 among them) become a cosmetic
    // one-pixel pen.
    static QPen penFor(const DrawState& state, double devicePixelsPerTwip,
                       double thinLineTwips = 0.0);
    static QBrush brushFor(const DrawState& state);
    // Qt alignment flags for the surface alignment codes (6, 7, 8; any
    // other code is treated as 6), vertically centred.
    static int alignmentFlags(int align);
};

} // namespace print
