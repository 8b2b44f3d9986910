// The print surface: what the recording keeps and its JSON form, text
// measuring, what the renderer and the exports make of a display list, and
// the preview's zoom and notifications.

#include "platform/print/DisplayList.h"
#include "platform/print/Export.h"
#include "platform/print/PainterRenderer.h"
#include "platform/print/PreviewWidget.h"
#include "platform/print/RecordingSurface.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QJsonObject>
#include <QPrinter>
#include <QRegularExpression>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

using namespace print;

namespace {

constexpr quint32 Red = 255;       // COLORREF 0x0000FF
constexpr quint32 Blue = 0xFF0000; // COLORREF 0xFF0000

// The pixel at a page position in twips, in an image rendered at dpi.
QRgb pixelAt(const QImage& image, double xTwips, double yTwips, int dpi) {
    const double f = dpi / TwipsPerInch;
    return image.pixel(static_cast<int>(xTwips * f), static_cast<int>(yTwips * f));
}

bool isRed(QRgb c) {
    return qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80;
}
bool isBlue(QRgb c) {
    return qBlue(c) > 200 && qRed(c) < 80 && qGreen(c) < 80;
}
bool isWhite(QRgb c) {
    return qRed(c) > 245 && qGreen(c) > 245 && qBlue(c) > 245;
}
// Thin antialiased lines come out grey rather than black.
bool hasInk(QRgb c) {
    return qGray(c) < 200;
}
bool isDark(QRgb c) {
    return qRed(c) < 110 && qGreen(c) < 110 && qBlue(c) < 110;
}

// The bounding box (pixels) of everything that is not white.
QRect inkBox(const QImage& image) {
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (!isWhite(image.pixel(x, y))) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

int countPixels(const QImage& image, const QRect& area, bool (*pred)(QRgb)) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (pred(image.pixel(x, y))) ++n;
    return n;
}

// Pixel rectangle of a twips rectangle at dpi.
QRect pixels(const QRectF& twips, int dpi) {
    const double f = dpi / TwipsPerInch;
    return QRectF(twips.x() * f, twips.y() * f, twips.width() * f, twips.height() * f)
        .toAlignedRect();
}

QByteArray readAll(const QString& file) {
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

int pdfPageCount(const QByteArray& pdf) {
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
    return static_cast<int>(QString::fromLatin1(pdf).count(page));
}

// A surface with the settings the report uses for a framed Arial 10 box.
void reportTextSettings(RecordingSurface& s) {
    s.setFontFace(QStringLiteral("Arial"));
    s.setFontPoints(10);
    s.setTextColour(0);
    s.setTextAlignment(AlignCenter);
    s.setPenStyle(PenSolid);
    s.setPenColor(0);
    s.setPenWidth(1);
    s.setBrushColor(0);
    s.setBrushStyle(BrushHollow);
}

// --- recording ----------------------------------------------------------

TEST(RecordingSurface, KeepsTheSettingsOfEachOperationInDrawingOrder) {
    RecordingSurface s;
    s.BeginDocument();
    reportTextSettings(s);
    s.DrawTextInBox(QStringLiteral("Tallvero"), 2850, 855, 12939, 300, false, true);

    s.setPenColor(Red);
    s.setPenStyle(PenDot);
    s.setPenWidth(57);
    s.DrawLine(100, 200, 300, 400);

    s.setTextRotation(900);
    s.setFontPoints(16);
    s.setTextColour(Blue);
    s.setTextAlignment(AlignRight);
    s.setBrushStyle(BrushSolid);
    s.setBrushColor(Red);
    s.DrawCircle(500, 600, 57);
    s.DrawTextInBox(QStringLiteral("Umsatz"), 1140, 5130, 3705, 260, true, false);

    const DisplayList& ops = s.displayList();
    ASSERT_EQ(ops.size(), 4u);
    EXPECT_EQ(ops[0].kind, OpKind::Text);
    EXPECT_EQ(ops[1].kind, OpKind::Line);
    EXPECT_EQ(ops[2].kind, OpKind::Circle);
    EXPECT_EQ(ops[3].kind, OpKind::Text);

    // The first box still has the settings from before the later changes.
    EXPECT_EQ(ops[0].text, QStringLiteral("Tallvero"));
    EXPECT_DOUBLE_EQ(ops[0].x, 2850);
    EXPECT_DOUBLE_EQ(ops[0].y, 855);
    EXPECT_DOUBLE_EQ(ops[0].w, 12939);
    EXPECT_DOUBLE_EQ(ops[0].h, 300);
    EXPECT_FALSE(ops[0].wrap);
    EXPECT_TRUE(ops[0].shaded);
    EXPECT_EQ(ops[0].state.fontFace, QStringLiteral("Arial"));
    EXPECT_DOUBLE_EQ(ops[0].state.fontPoints, 10);
    EXPECT_EQ(ops[0].state.align, AlignCenter);
    EXPECT_EQ(ops[0].state.rotation, 0);
    EXPECT_EQ(ops[0].state.penStyle, PenSolid);
    EXPECT_DOUBLE_EQ(ops[0].state.penWidth, 1);
    EXPECT_EQ(ops[0].state.brushStyle, BrushHollow);

    EXPECT_DOUBLE_EQ(ops[1].x1, 100);
    EXPECT_DOUBLE_EQ(ops[1].y1, 200);
    EXPECT_DOUBLE_EQ(ops[1].x2, 300);
    EXPECT_DOUBLE_EQ(ops[1].y2, 400);
    EXPECT_EQ(ops[1].state.penColour, Red);
    EXPECT_EQ(ops[1].state.penStyle, PenDot);
    EXPECT_DOUBLE_EQ(ops[1].state.penWidth, 57);
    EXPECT_EQ(ops[1].state.rotation, 0);

    EXPECT_DOUBLE_EQ(ops[2].x, 500);
    EXPECT_DOUBLE_EQ(ops[2].y, 600);
    EXPECT_DOUBLE_EQ(ops[2].r, 57);
    EXPECT_EQ(ops[2].state.brushStyle, BrushSolid);
    EXPECT_EQ(ops[2].state.brushColour, Red);

    EXPECT_EQ(ops[3].state.rotation, 900);
    EXPECT_DOUBLE_EQ(ops[3].state.fontPoints, 16);
    EXPECT_EQ(ops[3].state.textColour, Blue);
    EXPECT_EQ(ops[3].state.align, AlignRight);
    EXPECT_TRUE(ops[3].wrap);
    EXPECT_FALSE(ops[3].shaded);

    // The getters of the interface read the current settings.
    EXPECT_EQ(s.fontFace(), QStringLiteral("Arial"));
    EXPECT_DOUBLE_EQ(s.fontPoints(), 16);
    EXPECT_EQ(s.textRotation(), 900);
}

TEST(RecordingSurface, RectangleKeepsItsCornersAndANormalisedBox) {
    RecordingSurface s;
    s.DrawRectangle(5000, 4000, 1000, 3000);
    ASSERT_EQ(s.displayList().size(), 1u);
    const Op& r = s.displayList().front();
    EXPECT_EQ(r.kind, OpKind::Rect);
    EXPECT_DOUBLE_EQ(r.x1, 5000);
    EXPECT_DOUBLE_EQ(r.y2, 3000);
    EXPECT_DOUBLE_EQ(r.x, 1000);
    EXPECT_DOUBLE_EQ(r.y, 3000);
    EXPECT_DOUBLE_EQ(r.w, 4000);
    EXPECT_DOUBLE_EQ(r.h, 1000);
    // A negative pen width is the thinnest line, not an error.
    s.setPenWidth(-3);
    EXPECT_DOUBLE_EQ(s.state().penWidth, 0);
}

TEST(RecordingSurface, BeginDocumentClearsAndEndDocumentNotifies) {
    RecordingSurface s;
    int finished = 0;
    std::size_t opsAtFinish = 0;
    const int handle = s.onFinished([&] {
        ++finished;
        opsAtFinish = s.displayList().size();
    });

    s.BeginDocument();
    s.DrawLine(0, 0, 10, 10);
    s.DrawLine(0, 10, 10, 0);
    EXPECT_FALSE(s.finished());
    s.Refresh(); // an unfinished page is not shown
    EXPECT_EQ(finished, 0);
    s.EndDocument();
    EXPECT_TRUE(s.finished());
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(opsAtFinish, 2u);
    EXPECT_EQ(s.documentCount(), 1);
    s.Refresh();
    EXPECT_EQ(finished, 2);

    // Settings survive a new document, the page does not.
    s.setPenColor(Blue);
    s.BeginDocument();
    EXPECT_TRUE(s.displayList().empty());
    EXPECT_FALSE(s.finished());
    s.DrawCircle(1, 2, 3);
    s.EndDocument();
    EXPECT_EQ(finished, 3);
    ASSERT_EQ(s.displayList().size(), 1u);
    EXPECT_EQ(s.displayList()[0].state.penColour, Blue);

    s.removeFinishedCallback(handle);
    s.EndDocument();
    EXPECT_EQ(finished, 3);
    EXPECT_EQ(s.documentCount(), 3);
}

TEST(RecordingSurface, PageIsA4LandscapeInTwips) {
    // 297 × 210 mm at 1440 twips per 25.4 mm.
    EXPECT_NEAR(RecordingSurface::pageWidth(), 297.0 / 25.4 * 1440.0, 1.0);
    EXPECT_NEAR(RecordingSurface::pageHeight(), 210.0 / 25.4 * 1440.0, 1.0);
}

// --- JSON ---------------------------------------------------------------

TEST(DisplayListJson, ColoursAreRgbNamesOfTheColorref) {
    EXPECT_EQ(colourName(0), QStringLiteral("#000000"));
    EXPECT_EQ(colourName(Red), QStringLiteral("#FF0000"));
    EXPECT_EQ(colourName(Blue), QStringLiteral("#0000FF"));
    EXPECT_EQ(colourName(0x00123456), QStringLiteral("#563412"));
    for (quint32 c : {0u, Red, Blue, 0x00123456u, 0x00FFFFFFu})
        EXPECT_EQ(colourFromName(colourName(c)), c);
    EXPECT_EQ(colourFromName(QStringLiteral("rot")), 0u);
    EXPECT_EQ(colourFromRef(Red), QColor(255, 0, 0));
    EXPECT_EQ(colourFromRef(Blue), QColor(0, 0, 255));
}

TEST(DisplayListJson, EachKindCarriesItsCoordinatesAndTheSettings) {
    RecordingSurface s;
    reportTextSettings(s);
    s.setTextColour(Red);
    s.setTextRotation(900);
    s.DrawTextInBox(QStringLiteral("Jänner"), 10, 20, 30, 40, false, true);
    s.setTextRotation(0);
    s.setPenColor(Blue);
    s.setPenStyle(PenDot);
    s.setPenWidth(28.5);
    s.DrawLine(1, 2, 3, 4);
    s.setBrushStyle(BrushSolid);
    s.DrawRectangle(300, 400, 100, 200);
    s.DrawCircle(7, 8, 57);

    const QJsonArray json = toJson(s.displayList());
    ASSERT_EQ(json.size(), 4);

    const QJsonObject text = json[0].toObject();
    EXPECT_EQ(text["kind"].toString(), QStringLiteral("text"));
    EXPECT_EQ(text["x"].toDouble(), 10);
    EXPECT_EQ(text["y"].toDouble(), 20);
    EXPECT_EQ(text["w"].toDouble(), 30);
    EXPECT_EQ(text["h"].toDouble(), 40);
    EXPECT_EQ(text["text"].toString(), QStringLiteral("Jänner"));
    EXPECT_EQ(text["font"].toObject()["face"].toString(), QStringLiteral("Arial"));
    EXPECT_EQ(text["font"].toObject()["points"].toDouble(), 10);
    EXPECT_EQ(text["textColour"].toString(), QStringLiteral("#FF0000"));
    EXPECT_EQ(text["align"].toInt(), 7);
    EXPECT_EQ(text["rotation"].toInt(), 900);
    EXPECT_EQ(text["pen"].toObject()["colour"].toString(), QStringLiteral("#000000"));
    EXPECT_EQ(text["pen"].toObject()["style"].toInt(), 0);
    EXPECT_EQ(text["pen"].toObject()["width"].toDouble(), 1);
    EXPECT_EQ(text["brush"].toObject()["colour"].toString(), QStringLiteral("#000000"));
    EXPECT_EQ(text["brush"].toObject()["style"].toInt(), 1);
    EXPECT_FALSE(text["wrap"].toBool(true));
    EXPECT_TRUE(text["shaded"].toBool());

    const QJsonObject line = json[1].toObject();
    EXPECT_EQ(line["kind"].toString(), QStringLiteral("line"));
    EXPECT_EQ(line["x1"].toDouble(), 1);
    EXPECT_EQ(line["y1"].toDouble(), 2);
    EXPECT_EQ(line["x2"].toDouble(), 3);
    EXPECT_EQ(line["y2"].toDouble(), 4);
    EXPECT_EQ(line["pen"].toObject()["colour"].toString(), QStringLiteral("#0000FF"));
    EXPECT_EQ(line["pen"].toObject()["style"].toInt(), 2);
    EXPECT_EQ(line["pen"].toObject()["width"].toDouble(), 28.5);
    EXPECT_FALSE(line.contains("text"));

    const QJsonObject rect = json[2].toObject();
    EXPECT_EQ(rect["kind"].toString(), QStringLiteral("rect"));
    EXPECT_EQ(rect["x1"].toDouble(), 300);
    EXPECT_EQ(rect["y1"].toDouble(), 400);
    EXPECT_EQ(rect["x2"].toDouble(), 100);
    EXPECT_EQ(rect["y2"].toDouble(), 200);
    EXPECT_EQ(rect["x"].toDouble(), 100);
    EXPECT_EQ(rect["y"].toDouble(), 200);
    EXPECT_EQ(rect["w"].toDouble(), 200);
    EXPECT_EQ(rect["h"].toDouble(), 200);
    EXPECT_EQ(rect["brush"].toObject()["style"].toInt(), 0);

    const QJsonObject circle = json[3].toObject();
    EXPECT_EQ(circle["kind"].toString(), QStringLiteral("circle"));
    EXPECT_EQ(circle["x"].toDouble(), 7);
    EXPECT_EQ(circle["y"].toDouble(), 8);
    EXPECT_EQ(circle["r"].toDouble(), 57);
    EXPECT_FALSE(circle.contains("x1"));
    EXPECT_FALSE(circle.contains("w"));

    // What was written reads back as the same page.
    QString error;
    const DisplayList back = fromJson(json, &error);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(back, s.displayList());
}

TEST(DisplayListJson, UnknownKindIsSkippedAndReported) {
    QJsonArray json{QJsonObject{{"kind", "spline"}},
                    QJsonObject{{"kind", "line"}, {"x1", 1}, {"y1", 2}, {"x2", 3}, {"y2", 4}}};
    QString error;
    const DisplayList list = fromJson(json, &error);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].kind, OpKind::Line);
    EXPECT_DOUBLE_EQ(list[0].y2, 4);
    EXPECT_TRUE(error.contains(QStringLiteral("spline")));
}

// --- measuring ----------------------------------------------------------

// Liberation Sans at a point size, measured on a 1440-dpi device: pixels
// there are twips.
QFontMetricsF liberationAt1440(double points) {
    static QImage device = [] {
        QImage img(1, 1, QImage::Format_RGB32);
        const int dpm = qRound(1440 / 0.0254);
        img.setDotsPerMeterX(dpm);
        img.setDotsPerMeterY(dpm);
        return img;
    }();
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPointSizeF(points);
    return QFontMetricsF(font, &device);
}

TEST(Measuring, ArialIsDrawnWithAMetricCompatibleFamily) {
    const QString family = resolveFontFamily(QStringLiteral("Arial"));
    EXPECT_TRUE(family == QStringLiteral("Arial") || family == QStringLiteral("Liberation Sans"))
        << family.toStdString();
    const QFontInfo info(pageFont(QStringLiteral("Arial"), 10));
    EXPECT_TRUE(info.family() == QStringLiteral("Arial") ||
                info.family() == QStringLiteral("Liberation Sans"))
        << info.family().toStdString();
    // 10 pt = 200 twips per em.
    EXPECT_EQ(pageFont(QStringLiteral("Arial"), 10).pixelSize(), 200);
    EXPECT_EQ(pageFont(QStringLiteral("Arial"), 16).pixelSize(), 320);
    // An unknown face is passed on to Qt's own fallback.
    EXPECT_EQ(resolveFontFamily(QStringLiteral("Keine Schrift")), QStringLiteral("Keine Schrift"));
}

TEST(Measuring, TextWidthAgreesWithLiberationSansMetrics) {
    if (!QFontDatabase::hasFamily(QStringLiteral("Liberation Sans")))
        GTEST_SKIP() << "Liberation Sans not installed";
    RecordingSurface s;
    s.setFontFace(QStringLiteral("Arial"));
    const QString text = QStringLiteral("Tallvero");
    for (double points : {10.0, 16.0}) {
        s.setFontPoints(points);
        const QFontMetricsF ref = liberationAt1440(points);
        const double expectedW = ref.horizontalAdvance(text);
        const double expectedH = ref.height();
        EXPECT_NEAR(s.TextWidth(text), expectedW, expectedW * 0.03) << points;
        EXPECT_NEAR(s.TextHeight(text), expectedH, expectedH * 0.03) << points;
    }
}

TEST(Measuring, SizeGrowsLinearlyWithPointsAndLines) {
    RecordingSurface s;
    s.setFontFace(QStringLiteral("Arial"));
    const QString text = QStringLiteral("Deckungsbeitrag in % von Umsatz");
    s.setFontPoints(10);
    const double w10 = s.TextWidth(text);
    const double h10 = s.TextHeight(text);
    s.setFontPoints(16);
    const double w16 = s.TextWidth(text);
    const double h16 = s.TextHeight(text);
    s.setFontPoints(20);
    const double w20 = s.TextWidth(text);
    ASSERT_GT(w10, 0);
    EXPECT_NEAR(w16 / w10, 1.6, 0.016);
    EXPECT_NEAR(w20 / w10, 2.0, 0.02);
    EXPECT_NEAR(h16 / h10, 1.6, 0.05);
    // Plausible for 10-point Arial: about 0.45 em per character, one line
    // a little more than an em.
    EXPECT_GT(w10, 0.35 * 200 * text.size());
    EXPECT_LT(w10, 0.6 * 200 * text.size());
    EXPECT_GT(h10, 200);
    EXPECT_LT(h10, 260);

    // Width does not depend on anything but the text: longer text, wider box.
    s.setFontPoints(10);
    EXPECT_GT(s.TextWidth(QStringLiteral("Tallvero Tallvero")), 2 * s.TextWidth("Tallvero"));
    // An empty text has no width but is one line high, so its frame has a
    // height; two lines are higher than one.
    EXPECT_DOUBLE_EQ(s.TextWidth(QString()), 0);
    EXPECT_DOUBLE_EQ(s.TextHeight(QString()), h10);
    EXPECT_GT(s.TextHeight(QStringLiteral("a\nb")), 1.8 * h10);
}

TEST(Measuring, EstimateWithoutFontEngineIsOfTheRightOrder) {
    RecordingSurface s;
    s.setFontPoints(10);
    const QString text = QStringLiteral("Gedruckt durch: Mustermann");
    const QSizeF guess = estimateTextSize(text, 10);
    EXPECT_NEAR(guess.width(), s.TextWidth(text), 0.3 * s.TextWidth(text));
    EXPECT_NEAR(guess.height(), s.TextHeight(text), 0.2 * s.TextHeight(text));
}

// --- rendering ----------------------------------------------------------

TEST(Rendering, PenAndBrushFollowTheSurfaceNumbering) {
    DrawState st;
    st.penColour = Red;
    st.penStyle = PenDot;
    st.penWidth = 0;
    const double at50dpi = 50.0 / TwipsPerInch;
    QPen pen = PainterRenderer::penFor(st, at50dpi);
    EXPECT_EQ(pen.style(), Qt::DotLine);
    EXPECT_TRUE(pen.isCosmetic());
    EXPECT_EQ(pen.color(), QColor(255, 0, 0));

    // 57 twips are two pixels at 50 dpi: a real width. 10 twips are a third
    // of a pixel: the thinnest line instead of a faint one.
    st.penStyle = PenSolid;
    st.penWidth = 57;
    pen = PainterRenderer::penFor(st, at50dpi);
    EXPECT_EQ(pen.style(), Qt::SolidLine);
    EXPECT_FALSE(pen.isCosmetic());
    EXPECT_DOUBLE_EQ(pen.widthF(), 57);
    st.penWidth = 10;
    EXPECT_TRUE(PainterRenderer::penFor(st, at50dpi).isCosmetic());
    EXPECT_FALSE(PainterRenderer::penFor(st, 1200 / TwipsPerInch).isCosmetic());

    st.penStyle = PenNone;
    EXPECT_EQ(PainterRenderer::penFor(st, at50dpi).style(), Qt::NoPen);

    st.brushStyle = BrushSolid;
    st.brushColour = Blue;
    EXPECT_EQ(PainterRenderer::brushFor(st).style(), Qt::SolidPattern);
    EXPECT_EQ(PainterRenderer::brushFor(st).color(), QColor(0, 0, 255));
    st.brushStyle = BrushHollow;
    EXPECT_EQ(PainterRenderer::brushFor(st).style(), Qt::NoBrush);

    EXPECT_EQ(PainterRenderer::alignmentFlags(AlignLeft), int(Qt::AlignLeft | Qt::AlignVCenter));
    EXPECT_EQ(PainterRenderer::alignmentFlags(AlignCenter),
              int(Qt::AlignHCenter | Qt::AlignVCenter));
    EXPECT_EQ(PainterRenderer::alignmentFlags(AlignRight), int(Qt::AlignRight | Qt::AlignVCenter));
}

TEST(Rendering, PngAt50DpiIsA4LandscapeAndShowsLineAndTextInPlace) {
    RecordingSurface s;
    s.BeginDocument();
    s.setPenColor(Red);
    s.setPenWidth(57);
    s.DrawLine(1440, 1440, 7200, 1440);
    s.setPenStyle(PenNone);
    s.setFontFace(QStringLiteral("Arial"));
    s.setFontPoints(16);
    s.setTextColour(0);
    s.setTextAlignment(AlignLeft);
    const QRectF textBox(1440, 2880, 2880, 600);
    s.DrawTextInBox(QStringLiteral("TTTT"), textBox.x(), textBox.y(), textBox.width(),
                    textBox.height(), false, false);
    s.EndDocument();

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("seite.png"));
    QString error;
    ASSERT_TRUE(writePng(s.displayList(), file, 50, &error)) << error.toStdString();
    QImage png(file);
    ASSERT_FALSE(png.isNull());
    EXPECT_NEAR(png.width(), 585, 1);
    EXPECT_NEAR(png.height(), 413, 1);
    EXPECT_EQ(pageSizeAt(50), png.size());

    // The line is two pixels wide around y = 50 px, from x = 50 to 250.
    EXPECT_TRUE(isRed(pixelAt(png, 4000, 1420, 50)) || isRed(pixelAt(png, 4000, 1450, 50)));
    EXPECT_TRUE(isWhite(pixelAt(png, 4000, 1800, 50)));
    EXPECT_TRUE(isWhite(pixelAt(png, 8000, 1440, 50)));
    EXPECT_GT(countPixels(png, pixels(QRectF(1500, 1300, 5600, 280), 50), isRed), 150);

    // Black text inside its box, nothing dark around it.
    EXPECT_GT(countPixels(png, pixels(textBox, 50), isDark), 10);
    const QRect around = pixels(textBox.adjusted(-1440, -1440, 1440, 1440), 50);
    EXPECT_EQ(countPixels(png, around, isDark), countPixels(png, pixels(textBox, 50), isDark));
    // The background is white.
    EXPECT_TRUE(isWhite(png.pixel(580, 400)));
}

TEST(Rendering, MeasuredBoxHoldsTheRenderedText) {
    RecordingSurface s;
    s.setFontFace(QStringLiteral("Arial"));
    s.setFontPoints(10);
    s.setTextAlignment(AlignLeft);
    s.setPenStyle(PenNone);
    const QString text = QStringLiteral("Gedruckt durch: Tallvero");
    const QRectF box(2000, 3000, s.TextWidth(text), s.TextHeight(text));
    s.DrawTextInBox(text, box.x(), box.y(), box.width(), box.height(), false, false);

    const int dpi = 300;
    const QImage image = renderImage(s.displayList(), dpi);
    const QRect ink = inkBox(image);
    const QRect expected = pixels(box, dpi);
    ASSERT_FALSE(ink.isNull());
    EXPECT_TRUE(expected.adjusted(-2, -2, 2, 2).contains(ink))
        << ink.x() << "," << ink.y() << " " << ink.width() << "x" << ink.height();
    // And the text fills it: the font is the one that was measured.
    EXPECT_GT(ink.width(), 0.9 * expected.width());
    EXPECT_GT(ink.height(), 0.5 * expected.height());
}

TEST(Rendering, AlignmentPlacesTextLeftCentreOrRightAndOverflowIsNotClipped) {
    const int dpi = 200;
    auto inkFor = [&](int align, double boxWidth) {
        RecordingSurface s;
        s.setFontPoints(10);
        s.setPenStyle(PenNone);
        s.setTextAlignment(align);
        s.DrawTextInBox(QStringLiteral("100%"), 4000, 4000, boxWidth, 300, false, false);
        return inkBox(renderImage(s.displayList(), dpi));
    };
    const double f = dpi / TwipsPerInch;
    const QRect left = inkFor(AlignLeft, 4000);
    const QRect centre = inkFor(AlignCenter, 4000);
    const QRect right = inkFor(AlignRight, 4000);
    EXPECT_NEAR(left.left(), 4000 * f, 3);
    EXPECT_NEAR(right.right(), 8000 * f, 3);
    EXPECT_NEAR(centre.center().x(), 6000 * f, 3);
    // A box far too small still shows the whole text, centred on the box.
    const QRect tight = inkFor(AlignCenter, 20);
    EXPECT_NEAR(tight.width(), centre.width(), 2);
    EXPECT_NEAR(tight.center().x(), 4010 * f, 3);
}

TEST(Rendering, RotatedTextRunsUpwardsFromTheBoxY) {
    RecordingSurface s;
    s.setFontPoints(10);
    s.setTextAlignment(AlignCenter);
    s.setPenStyle(PenNone);
    s.setTextRotation(900);
    const QString text = QStringLiteral("Absolut Monatilcher Wert in €");
    const double w = 7410; // the box runs this far up from y
    const double h = s.TextHeight(text);
    s.DrawTextInBox(text, 798, 8892, w, h, false, false);

    const int dpi = 100;
    const double f = dpi / TwipsPerInch;
    const QRect ink = inkBox(renderImage(s.displayList(), dpi));
    ASSERT_FALSE(ink.isNull());
    EXPECT_GT(ink.height(), 5 * ink.width());
    // Inside the turned box: x from 798 to 798 + h, y from 8892 − w to 8892.
    const QRect box = QRectF(798 * f, (8892 - w) * f, h * f, w * f).toAlignedRect();
    EXPECT_TRUE(box.adjusted(-1, -1, 1, 1).contains(ink));
    // Centred along its length.
    EXPECT_NEAR(ink.center().y(), (8892 - w / 2) * f, 3);
    EXPECT_NEAR(ink.height(), s.TextWidth(text) * f, 4);
}

TEST(Rendering, FrameFollowsPenStyleAndFillFollowsShadedAndBrush) {
    const int dpi = 100;
    const QRectF box(2000, 2000, 2880, 1440);
    auto render = [&](int penStyle, bool shaded, int brushStyle) {
        RecordingSurface s;
        s.setPenStyle(penStyle);
        s.setPenWidth(1);
        s.setBrushColor(Blue);
        s.setBrushStyle(brushStyle);
        s.DrawTextInBox(QString(), box.x(), box.y(), box.width(), box.height(), false, shaded);
        return renderImage(s.displayList(), dpi);
    };
    const double f = dpi / TwipsPerInch;
    const QPoint centre = QPointF(box.center().x() * f, box.center().y() * f).toPoint();

    const QImage framed = render(PenSolid, false, BrushSolid);
    const QRect ink = inkBox(framed);
    EXPECT_NEAR(ink.left(), box.left() * f, 1.5);
    EXPECT_NEAR(ink.right(), box.right() * f, 1.5);
    EXPECT_NEAR(ink.top(), box.top() * f, 1.5);
    EXPECT_NEAR(ink.bottom(), box.bottom() * f, 1.5);
    // Not shaded: the solid brush does not fill the box.
    EXPECT_TRUE(isWhite(framed.pixel(centre)));

    EXPECT_TRUE(inkBox(render(PenNone, false, BrushSolid)).isNull());
    EXPECT_TRUE(isBlue(render(PenNone, true, BrushSolid).pixel(centre)));
    EXPECT_TRUE(isWhite(render(PenSolid, true, BrushHollow).pixel(centre)));
}

TEST(Rendering, RectanglesAndCirclesUseTheBrushAndDottedLinesHaveGaps) {
    RecordingSurface s;
    s.setPenColor(0);
    s.setBrushColor(Red);
    s.setBrushStyle(BrushSolid);
    s.DrawRectangle(3000, 3000, 1000, 1000);
    s.setBrushStyle(BrushHollow);
    s.DrawCircle(6000, 2000, 570);
    s.setBrushStyle(BrushSolid);
    s.setBrushColor(Blue);
    s.DrawCircle(9000, 2000, 570);
    s.setPenStyle(PenDot);
    s.setPenWidth(0);
    s.DrawLine(1000, 6000, 10000, 6000);

    const int dpi = 144; // 0.1 pixel per twip
    const QImage image = renderImage(s.displayList(), dpi);
    EXPECT_TRUE(isRed(pixelAt(image, 2000, 2000, dpi)));
    EXPECT_TRUE(isWhite(pixelAt(image, 6000, 2000, dpi)));
    EXPECT_TRUE(hasInk(pixelAt(image, 6570, 2000, dpi)) || hasInk(pixelAt(image, 6560, 2000, dpi)));
    EXPECT_TRUE(isBlue(pixelAt(image, 9000, 2000, dpi)));

    // Along the dotted line both ink and paper alternate.
    const int y = static_cast<int>(6000 * dpi / TwipsPerInch);
    int inked = 0, blank = 0;
    for (int x = 200; x < 900; ++x) {
        const bool ink = hasInk(image.pixel(x, y)) || hasInk(image.pixel(x, y - 1));
        ink ? ++inked : ++blank;
    }
    EXPECT_GT(inked, 100);
    EXPECT_GT(blank, 100);
}

// --- files and printer --------------------------------------------------

DisplayList samplePage() {
    RecordingSurface s;
    s.BeginDocument();
    reportTextSettings(s);
    s.setFontPoints(16);
    s.DrawTextInBox(QStringLiteral("Tallvero"), 2850, 855, 12939, s.TextHeight("Tallvero"), false,
                    false);
    s.setPenColor(Red);
    s.setPenWidth(57);
    s.DrawLine(2850, 5000, 15789, 3000);
    s.DrawCircle(2850, 5000, 57);
    s.EndDocument();
    return s.displayList();
}

TEST(Export, PdfAndSvgAreWrittenAndSvgHoldsTheText) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const DisplayList page = samplePage();
    QString error;

    const QString pdf = dir.filePath(QStringLiteral("seite.pdf"));
    ASSERT_TRUE(writePdf(page, pdf, &error)) << error.toStdString();
    const QByteArray pdfData = readAll(pdf);
    EXPECT_TRUE(pdfData.startsWith("%PDF"));
    EXPECT_EQ(pdfPageCount(pdfData), 1);

    const QString svg = dir.filePath(QStringLiteral("seite.svg"));
    ASSERT_TRUE(writeSvg(page, svg, &error)) << error.toStdString();
    const QByteArray svgData = readAll(svg);
    EXPECT_TRUE(svgData.contains("<svg"));
    EXPECT_TRUE(svgData.contains("Tallvero"));
    EXPECT_TRUE(svgData.contains("viewBox=\"0 0 16838 11906\""));
    EXPECT_TRUE(svgData.contains("width=\"297.0"));
    EXPECT_TRUE(svgData.contains("height=\"210.0"));
    // The frame pen of one twip is below a screen pixel: the thinnest line
    // at any zoom, not a hairline that vanishes.
    EXPECT_TRUE(svgData.contains("non-scaling-stroke"));
}

TEST(Export, UnwritableFileGivesAGermanError) {
    const DisplayList page = samplePage();
    const QString bad = QStringLiteral("/nonexistent-dir/x/seite");
    QString error;
    EXPECT_FALSE(writePng(page, bad + ".png", 50, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("kann nicht geschrieben werden")))
        << error.toStdString();
    error.clear();
    EXPECT_FALSE(writePdf(page, bad + ".pdf", &error));
    EXPECT_FALSE(error.isEmpty());
    error.clear();
    EXPECT_FALSE(writeSvg(page, bad + ".svg", &error));
    EXPECT_FALSE(error.isEmpty());
    error.clear();
    EXPECT_FALSE(writePng(page, QStringLiteral("x.png"), 0, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("dpi")));
}

TEST(Export, PrintingMakesOneLandscapePageWhateverTheDialogLeft) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("seite.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setCopyCount(3); // what a dialog may leave behind
    printDocument(samplePage(), printer);
    EXPECT_EQ(printer.pageLayout().orientation(), QPageLayout::Landscape);
    EXPECT_EQ(printer.pageLayout().pageSize().id(), QPageSize::A4);
    EXPECT_TRUE(printer.fullPage());
    EXPECT_EQ(printer.copyCount(), 1);
    const QByteArray pdf = readAll(file);
    EXPECT_EQ(pdfPageCount(pdf), 1);
    // Landscape: the media box is wider than high.
    static const QRegularExpression media(
        QStringLiteral("/MediaBox\\s*\\[\\s*0\\s+0\\s+([0-9.]+)\\s+([0-9.]+)"));
    const auto m = media.match(QString::fromLatin1(pdf));
    ASSERT_TRUE(m.hasMatch());
    EXPECT_NEAR(m.captured(1).toDouble(), 842, 1);
    EXPECT_NEAR(m.captured(2).toDouble(), 595, 1);
}

// --- preview ------------------------------------------------------------

void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

void ctrlWheel(PreviewWidget& w, int delta, Qt::KeyboardModifiers mods = Qt::ControlModifier) {
    const QPointF pos(50, 50);
    QWheelEvent event(pos, w.viewport()->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                      mods, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.viewport(), &event);
}

TEST(Preview, ZoomPercentAndModesRoundTrip) {
    PreviewWidget w;
    EXPECT_EQ(w.zoomMode(), ZoomWholePage);
    w.setZoom(150);
    EXPECT_EQ(w.zoomMode(), ZoomPercent);
    EXPECT_DOUBLE_EQ(w.zoom(), 150);
    w.setZoom(87.5);
    EXPECT_DOUBLE_EQ(w.zoom(), 87.5);
    for (int mode : {ZoomAllPages, ZoomTwoPages, ZoomWholePage, ZoomPageWidth}) {
        w.setZoomMode(mode);
        EXPECT_EQ(w.zoomMode(), mode);
        EXPECT_GE(w.zoom(), PreviewWidget::MinZoom);
    }
    // One page: all pages and two pages show it like the whole page.
    w.setZoomMode(ZoomAllPages);
    const double all = w.zoom();
    w.setZoomMode(ZoomWholePage);
    EXPECT_DOUBLE_EQ(w.zoom(), all);
    // Mode 0 freezes the percentage the fit had.
    w.setZoomMode(ZoomPercent);
    EXPECT_EQ(w.zoomMode(), ZoomPercent);
    EXPECT_DOUBLE_EQ(w.zoom(), all);
    // Out of range values are clamped or ignored.
    w.setZoom(5000);
    EXPECT_DOUBLE_EQ(w.zoom(), PreviewWidget::MaxZoom);
    w.setZoom(-20);
    EXPECT_DOUBLE_EQ(w.zoom(), PreviewWidget::MaxZoom);
    w.setZoomMode(7);
    EXPECT_EQ(w.zoomMode(), ZoomPercent);
}

TEST(Preview, ProgrammaticZoomDoesNotNotify) {
    PreviewWidget w;
    QSignalSpy zoomSpy(&w, &PreviewWidget::zoomChanged);
    QSignalSpy redrawSpy(&w, &PreviewWidget::redrawRequested);
    w.setZoom(200);
    w.setZoomMode(ZoomPageWidth);
    w.setZoomMode(ZoomPercent);
    EXPECT_EQ(zoomSpy.count(), 0);
    EXPECT_EQ(redrawSpy.count(), 0);
}

TEST(Preview, CtrlWheelStepsTheZoomAndNotifiesOncePerStep) {
    PreviewWidget w;
    w.resize(800, 600);
    w.setZoom(100);
    QSignalSpy spy(&w, &PreviewWidget::zoomChanged);

    ctrlWheel(w, 120);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_DOUBLE_EQ(w.zoom(), 125);
    ctrlWheel(w, -120);
    ctrlWheel(w, -120);
    EXPECT_EQ(spy.count(), 3);
    EXPECT_DOUBLE_EQ(w.zoom(), 75);

    // Half notches add up to one step.
    ctrlWheel(w, 60);
    EXPECT_EQ(spy.count(), 3);
    ctrlWheel(w, 60);
    EXPECT_EQ(spy.count(), 4);
    EXPECT_DOUBLE_EQ(w.zoom(), 100);

    // From a fitted zoom the wheel goes to the next step and leaves the fit.
    w.setZoomMode(ZoomWholePage);
    const double fitted = w.zoom();
    ctrlWheel(w, 120);
    EXPECT_EQ(spy.count(), 5);
    EXPECT_EQ(w.zoomMode(), ZoomPercent);
    EXPECT_GT(w.zoom(), fitted);

    // At the limit nothing changes and nothing is reported.
    w.setZoom(PreviewWidget::MaxZoom);
    ctrlWheel(w, 120);
    EXPECT_EQ(spy.count(), 5);
}

TEST(Preview, PlainWheelScrollsWithoutTouchingTheZoom) {
    PreviewWidget w;
    w.resize(600, 400);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.setZoom(200);
    settle();
    QSignalSpy spy(&w, &PreviewWidget::zoomChanged);
    ASSERT_GT(w.verticalScrollBar()->maximum(), 0);
    const QRectF before = w.pageRect();
    ctrlWheel(w, -120, Qt::NoModifier);
    settle();
    EXPECT_EQ(spy.count(), 0);
    EXPECT_DOUBLE_EQ(w.zoom(), 200);
    EXPECT_GT(w.verticalScrollBar()->value(), 0);
    EXPECT_LT(w.pageRect().top(), before.top());
}

TEST(Preview, CtrlPlusAndMinusStepTheZoom) {
    PreviewWidget w;
    w.setZoom(150);
    QSignalSpy spy(&w, &PreviewWidget::zoomChanged);
    QTest::keyClick(&w, Qt::Key_Plus, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(w.zoom(), 200);
    QTest::keyClick(&w, Qt::Key_Minus, Qt::ControlModifier);
    QTest::keyClick(&w, Qt::Key_Minus, Qt::ControlModifier);
    EXPECT_DOUBLE_EQ(w.zoom(), 125);
    EXPECT_EQ(spy.count(), 3);
    // Without Ctrl the keys are not zoom keys.
    QTest::keyClick(&w, Qt::Key_Plus);
    EXPECT_DOUBLE_EQ(w.zoom(), 125);
    EXPECT_EQ(spy.count(), 3);
}

TEST(Preview, FittedModesFollowTheWidgetSize) {
    PreviewWidget w;
    w.resize(700, 500);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.setZoomMode(ZoomPageWidth);
    settle();
    QSignalSpy spy(&w, &PreviewWidget::zoomChanged);
    const double narrow = w.zoom();

    w.resize(1100, 500);
    settle();
    const double wide = w.zoom();
    EXPECT_GT(wide, narrow * 1.4);
    EXPECT_GE(spy.count(), 1);
    // The page fills the width without a horizontal scroll bar.
    EXPECT_EQ(w.horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(w.pageRect().width(), 0.9 * w.viewport()->width());

    // Whole page: limited by the height here.
    w.setZoomMode(ZoomWholePage);
    settle();
    EXPECT_LT(w.zoom(), wide);
    EXPECT_LE(w.pageRect().height(), w.viewport()->height());
    EXPECT_EQ(w.verticalScrollBar()->maximum(), 0);
    const int before = static_cast<int>(spy.count());
    w.resize(1100, 800);
    settle();
    EXPECT_GT(spy.count(), before);

    // A fixed percentage does not follow the size.
    w.setZoom(100);
    const int fixedCount = static_cast<int>(spy.count());
    w.resize(900, 700);
    settle();
    EXPECT_DOUBLE_EQ(w.zoom(), 100);
    EXPECT_EQ(spy.count(), fixedCount);
}

TEST(Preview, ShowsThePageWhenTheDocumentEnds) {
    PreviewWidget w;
    w.resize(700, 500);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    settle();

    RecordingSurface& s = w.surface();
    s.BeginDocument();
    s.setBrushStyle(BrushSolid);
    s.setBrushColor(Red);
    s.DrawRectangle(0, 0, PageWidthTwips, PageHeightTwips);
    // Not finished: the preview still shows the empty page.
    EXPECT_TRUE(w.shownPage().empty());
    QImage shot = w.viewport()->grab().toImage();
    const QPoint middle = w.pageRect().center().toPoint();
    EXPECT_TRUE(isWhite(shot.pixel(middle)));

    s.EndDocument();
    EXPECT_EQ(w.shownPage().size(), 1u);
    settle();
    shot = w.viewport()->grab().toImage();
    EXPECT_TRUE(isRed(shot.pixel(middle)));
    // The desk around the page is grey.
    const QRgb desk = shot.pixel(2, 2);
    EXPECT_EQ(qRed(desk), qGreen(desk));
    EXPECT_LT(qRed(desk), 200);
    EXPECT_GT(qRed(desk), 60);

    // A new document keeps the old page on screen until it is finished.
    s.BeginDocument();
    s.DrawLine(0, 0, 1, 1);
    EXPECT_EQ(w.shownPage().size(), 1u);
    EXPECT_EQ(w.shownPage()[0].kind, OpKind::Rect);
}

TEST(Preview, RedrawEntryRequestsARedraw) {
    PreviewWidget w;
    QSignalSpy redraw(&w, &PreviewWidget::redrawRequested);
    QSignalSpy zoom(&w, &PreviewWidget::zoomChanged);
    ASSERT_NE(w.redrawAction(), nullptr);
    EXPECT_EQ(w.redrawAction()->text(), QStringLiteral("Seite neu zeichnen"));
    EXPECT_TRUE(w.actions().contains(w.redrawAction()));
    w.redrawAction()->trigger();
    EXPECT_EQ(redraw.count(), 1);
    w.requestRedraw();
    EXPECT_EQ(redraw.count(), 2);
    EXPECT_EQ(zoom.count(), 0);
}

TEST(Preview, PrintsTheShownPage) {
    PreviewWidget w;
    w.surface().BeginDocument();
    w.surface().DrawLine(0, 0, 1000, 1000);
    w.surface().EndDocument();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("vorschau.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    w.printDocument(printer);
    EXPECT_EQ(pdfPageCount(readAll(file)), 1);
}

} // namespace
