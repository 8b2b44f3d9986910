#include "platform/print/PainterRenderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <mutex>

namespace print {

namespace {

bool haveGuiApp() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}

// Debian keeps the metric-compatible fonts here; fontconfig normally knows
// them, but a minimal installation may lack the configuration.
void registerLiberationFonts() {
    if (QFontDatabase::hasFamily(QStringLiteral("Liberation Sans"))) return;
    const QStringList dirs{QStringLiteral("/usr/share/fonts/truetype/liberation"),
                           QStringLiteral("/usr/share/fonts/truetype/liberation2")};
    for (const QString& dir : dirs) {
        const QDir d(dir);
        const QStringList files =
            d.entryList({QStringLiteral("Liberation*.ttf")}, QDir::Files, QDir::Name);
        for (const QString& f : files)
            QFontDatabase::addApplicationFont(d.filePath(f));
    }
}

QString substituteFor(const QString& face) {
    const QString f = face.trimmed().toLower();
    if (f == QLatin1String("arial") || f == QLatin1String("helvetica"))
        return QStringLiteral("Liberation Sans");
    if (f == QLatin1String("times new roman") || f == QLatin1String("times"))
        return QStringLiteral("Liberation Serif");
    if (f == QLatin1String("courier new") || f == QLatin1String("courier"))
        return QStringLiteral("Liberation Mono");
    return {};
}

int twipPixelSize(double points) {
    return std::max(1, static_cast<int>(std::lround(points * 20.0)));
}

double devicePixelsPerTwip(const QPainter& painter) {
    const QTransform t = painter.deviceTransform();
    return std::sqrt(std::abs(t.m11() * t.m22() - t.m12() * t.m21()));
}

} // namespace

QString resolveFontFamily(const QString& face) {
    if (!haveGuiApp()) return face;
    static std::once_flag once;
    std::call_once(once, registerLiberationFonts);
    if (!face.isEmpty() && QFontDatabase::hasFamily(face)) return face;
    const QString sub = substituteFor(face);
    if (!sub.isEmpty() && QFontDatabase::hasFamily(sub)) return sub;
    // Leave the choice to Qt's own fallback rather than fail.
    return face;
}

QFont pageFont(const QString& face, double points) {
    QFont font(resolveFontFamily(face));
    font.setPixelSize(twipPixelSize(points));
    // Unhinted outlines scale linearly, so widths in twips do not depend
    // on the device the page ends up on.
    font.setHintingPreference(QFont::PreferNoHinting);
    font.setStyleStrategy(QFont::PreferOutline);
    return font;
}

QSizeF estimateTextSize(const QString& text, double points) {
    const double em = twipPixelSize(points);
    const QStringList lines = text.split(QLatin1Char('\n'));
    qsizetype longest = 0;
    for (const QString& l : lines)
        longest = std::max(longest, l.size());
    const double lineHeight = em * 1.15;
    return {0.5 * em * static_cast<double>(longest),
            lineHeight * static_cast<double>(lines.size())};
}

QSizeF measureText(const QString& text, const QString& face, double points) {
    if (!haveGuiApp()) return estimateTextSize(text, points);
    const QFontMetricsF fm(pageFont(face, points));
    QString clean = text;
    clean.remove(QLatin1Char('\r'));
    const QStringList lines = clean.split(QLatin1Char('\n'));
    double width = 0.0;
    for (const QString& l : lines)
        width = std::max(width, fm.horizontalAdvance(l));
    const double height = fm.height() + fm.lineSpacing() * static_cast<double>(lines.size() - 1);
    return {width, height};
}

QColor colourFromRef(quint32 colorref) {
    return QColor(static_cast<int>(colorref & 0xFFu), static_cast<int>((colorref >> 8) & 0xFFu),
                  static_cast<int>((colorref >> 16) & 0xFFu));
}

QPen PainterRenderer::penFor(const DrawState& state, double devicePixelsPerTwip,
                             double thinLineTwips) {
    Qt::PenStyle style = Qt::SolidLine;
    switch (state.penStyle) {
    case PenNone:
        return QPen(Qt::NoPen);
    case 1:
        style = Qt::DashLine;
        break;
    case PenDot:
        style = Qt::DotLine;
        break;
    case 3:
        style = Qt::DashDotLine;
        break;
    case 4:
        style = Qt::DashDotDotLine;
        break;
    default:
        break;
    }
    QPen pen(colourFromRef(state.penColour));
    pen.setStyle(style);
    const double width = std::max(0.0, state.penWidth);
    if (width * devicePixelsPerTwip < 1.0 || width < thinLineTwips) {
        pen.setWidthF(0.0);
        pen.setCosmetic(true);
    } else {
        pen.setWidthF(width);
    }
    // Round ends join the separate segments of a curve smoothly; dots and
    // dashes need flat ends to stay apart.
    pen.setCapStyle(style == Qt::SolidLine ? Qt::RoundCap : Qt::FlatCap);
    pen.setJoinStyle(Qt::MiterJoin);
    return pen;
}

QBrush PainterRenderer::brushFor(const DrawState& state) {
    if (state.brushStyle == BrushSolid) return QBrush(colourFromRef(state.brushColour));
    return QBrush(Qt::NoBrush);
}

int PainterRenderer::alignmentFlags(int align) {
    int h = Qt::AlignLeft;
    if (align == AlignCenter)
        h = Qt::AlignHCenter;
    else if (align == AlignRight)
        h = Qt::AlignRight;
    return h | Qt::AlignVCenter;
}

void PainterRenderer::drawOp(const Op& op, QPainter& painter, double thinLineTwips) {
    const DrawState& s = op.state;
    auto pen = [&] { return penFor(s, devicePixelsPerTwip(painter), thinLineTwips); };
    switch (op.kind) {
    case OpKind::Text: {
        painter.save();
        painter.translate(op.x, op.y);
        if (s.rotation != 0) painter.rotate(-s.rotation / 10.0);
        const QRectF box = QRectF(0, 0, op.w, op.h).normalized();
        if (op.shaded && s.brushStyle == BrushSolid)
            painter.fillRect(box, colourFromRef(s.brushColour));
        painter.setFont(pageFont(s.fontFace, s.fontPoints));
        painter.setPen(colourFromRef(s.textColour));
        int flags = alignmentFlags(s.align) | Qt::TextDontClip;
        if (op.wrap) flags |= Qt::TextWordWrap;
        painter.drawText(box, flags, op.text);
        if (s.penStyle != PenNone) {
            painter.setPen(pen());
            painter.setBrush(Qt::NoBrush);
            painter.drawRect(box);
        }
        painter.restore();
        break;
    }
    case OpKind::Line:
        painter.setPen(pen());
        painter.drawLine(QPointF(op.x1, op.y1), QPointF(op.x2, op.y2));
        break;
    case OpKind::Rect:
        painter.setPen(pen());
        painter.setBrush(brushFor(s));
        painter.drawRect(QRectF(QPointF(op.x1, op.y1), QPointF(op.x2, op.y2)).normalized());
        break;
    case OpKind::Circle:
        painter.setPen(pen());
        painter.setBrush(brushFor(s));
        painter.drawEllipse(QPointF(op.x, op.y), op.r, op.r);
        break;
    }
}

void PainterRenderer::render(const DisplayList& list, QPainter& painter, const QRectF& targetRect,
                             double thinLineTwips) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.translate(targetRect.topLeft());
    painter.scale(targetRect.width() / PageWidthTwips, targetRect.height() / PageHeightTwips);
    for (const Op& op : list)
        drawOp(op, painter, thinLineTwips);
    painter.restore();
}

} // namespace print
