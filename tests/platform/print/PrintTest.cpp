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
#include <QJsonDocument>
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

const auto isRed = [](QRgb c) { return qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80; };
const auto isBlue = [](QRgb c) { return qBlue(c) > 200 && qRed(c) < 80 && qGreen(c) < 80; };
const auto isWhite = [](QRgb c) { return qRed(c) > 245 && qGreen(c) > 245 && qBlue(c) > 245; };
const auto hasInk = [](QRgb c) { return qGray(c) < 200; }; // thin lines come out grey
const auto isDark = [](QRgb c) { return qRed(c) < 110 && qGreen(c) < 110 && qBlue(c) < 110; };

// Pixel rectangle of a twips rectangle at dpi.
QRect pixels(const QRectF& twips, int dpi) {
    const double f = dpi / TwipsPerInch;
    return QRectF(twips.x() * f, twips.y() * f, twips.width() * f, twips.height() * f)
        .toAlignedRect();
}

// The pixel at a page position in twips, in an image rendered at dpi.
QRgb pixelAt(const QImage& image, double xTwips, double yTwips, int dpi) {
    return image.pixel(pixels(QRectF(xTwips, yTwips, 0, 0), dpi).topLeft());
}

int countPixels(const QImage& image, const QRect& area, bool (*pred)(QRgb)) {
    int n = 0;
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += pred(image.pixel(x, y));
    return n;
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
                bottom = y;
            }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

QByteArray readAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int pdfPageCount(const QByteArray& pdf) {
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
    return static_cast<int>(QString::fromLatin1(pdf).count(page));
}

// --- recording ----------------------------------------------------------

// Each operation keeps the settings of its moment; the JSON form carries
// each kind's coordinates (a rectangle its corners and a normalised box)
// and reads back as the same page.
TEST(RecordingSurface, OperationsKeepTheirSettingsAndTheJsonFormReadsBack) {
    RecordingSurface s;
    s.BeginDocument();
    s.setFontFace(QStringLiteral("Arial"));
    s.setFontPoints(10);
    s.setTextAlignment(AlignCenter);
    s.setPenWidth(1);
    s.setTextColour(Red);
    s.DrawTextInBox(QStringLiteral("Jänner"), 2850, 855, 12939, 300, false, true);
    s.setPenColor(Blue);
    s.setPenStyle(PenDot);
    s.setPenWidth(28.5);
    s.DrawLine(100, 200, 300, 400);
    s.setBrushStyle(BrushSolid);
    s.setBrushColor(Red);
    s.DrawRectangle(5000, 4000, 1000, 3000);
    s.setTextRotation(900);
    s.setFontPoints(16);
    s.setTextAlignment(AlignRight);
    s.DrawCircle(500, 600, 57);
    s.DrawTextInBox(QStringLiteral("Umsatz"), 1140, 5130, 3705, 260, true, false);

    const QJsonArray expected = QJsonDocument::fromJson(R"([
 {"align":7, "font":{"face":"Arial","points":10}, "kind":"text", "rotation":0,
  "pen":{"colour":"#000000","style":0,"width":1}, "brush":{"colour":"#000000","style":1},
  "h":300, "shaded":true, "text":"Jänner", "textColour":"#FF0000", "w":12939,
  "wrap":false, "x":2850, "y":855},
 {"align":7, "font":{"face":"Arial","points":10}, "kind":"line", "rotation":0,
  "pen":{"colour":"#0000FF","style":2,"width":28.5}, "brush":{"colour":"#000000","style":1},
  "textColour":"#FF0000", "x1":100, "x2":300, "y1":200, "y2":400},
 {"align":7, "font":{"face":"Arial","points":10}, "kind":"rect", "rotation":0,
  "pen":{"colour":"#0000FF","style":2,"width":28.5}, "brush":{"colour":"#FF0000","style":0},
  "h":1000, "textColour":"#FF0000", "w":4000, "x":1000, "x1":5000, "x2":1000, "y":3000,
  "y1":4000, "y2":3000},
 {"align":8, "font":{"face":"Arial","points":16}, "kind":"circle", "rotation":900,
  "pen":{"colour":"#0000FF","style":2,"width":28.5}, "brush":{"colour":"#FF0000","style":0},
  "r":57, "textColour":"#FF0000", "x":500, "y":600},
 {"align":8, "font":{"face":"Arial","points":16}, "kind":"text", "rotation":900,
  "pen":{"colour":"#0000FF","style":2,"width":28.5}, "brush":{"colour":"#FF0000","style":0},
  "h":260, "shaded":false, "text":"Umsatz", "textColour":"#FF0000", "w":3705, "wrap":true,
  "x":1140, "y":5130}])")
                                    .array();
    ASSERT_EQ(expected.size(), 5);
    const QJsonArray json = toJson(s.displayList());
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_EQ(json[i], expected[i])
            << i << " " << QJsonDocument(json[i].toObject()).toJson(QJsonDocument::Compact).data();
    QString error;
    EXPECT_EQ(fromJson(json, &error), s.displayList());
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();

    // An unknown kind is skipped and reported.
    const DisplayList list = fromJson(QJsonArray{QJsonObject{{"kind", "spline"}}, json[1]}, &error);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0], s.displayList()[1]);
    EXPECT_TRUE(error.contains(QStringLiteral("spline")));

    // The getters read the current settings; a negative pen width is the
    // thinnest line, not an error.
    EXPECT_EQ(std::tuple(s.fontFace(), s.fontPoints(), s.textRotation()),
              std::tuple(QStringLiteral("Arial"), 16.0, 900));
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

TEST(DisplayListJson, ColoursAreRgbNamesOfTheColorref) {
    const struct {
        quint32 ref;
        const char* name;
        QColor colour;
    } rows[] = {{0, "#000000", Qt::black},
                {Red, "#FF0000", Qt::red},
                {Blue, "#0000FF", Qt::blue},
                {0x00123456, "#563412", QColor(0x56, 0x34, 0x12)},
                {0x00FFFFFF, "#FFFFFF", Qt::white}};
    for (const auto& r : rows) {
        EXPECT_EQ(colourName(r.ref), QString::fromLatin1(r.name));
        EXPECT_EQ(colourFromName(colourName(r.ref)), r.ref) << r.name;
        EXPECT_EQ(colourFromRef(r.ref), r.colour) << r.name;
    }
    EXPECT_EQ(colourFromName(QStringLiteral("rot")), 0u);
}

// --- measuring ----------------------------------------------------------

TEST(Measuring, ArialIsDrawnWithAMetricCompatibleFamily) {
    const QStringList compatible{QStringLiteral("Arial"), QStringLiteral("Liberation Sans")};
    EXPECT_TRUE(compatible.contains(resolveFontFamily(QStringLiteral("Arial"))));
    const QFont font = pageFont(QStringLiteral("Arial"), 10);
    EXPECT_TRUE(compatible.contains(QFontInfo(font).family()))
        << QFontInfo(font).family().toStdString();
    // 10 pt = 200 twips per em.
    EXPECT_EQ(font.pixelSize(), 200);
    EXPECT_EQ(pageFont(QStringLiteral("Arial"), 16).pixelSize(), 320);
    // An unknown face is passed on to Qt's own fallback.
    EXPECT_EQ(resolveFontFamily(QStringLiteral("Keine Schrift")), QStringLiteral("Keine Schrift"));
}

// Sizes grow linearly with the points and agree with Liberation Sans
// measured on a 1440-dpi device (pixels there are twips).
TEST(Measuring, TextSizeFollowsPointsLinesAndTheMetricFont) {
    RecordingSurface s;
    s.setFontFace(QStringLiteral("Arial"));
    const QString text = QStringLiteral("Deckungsbeitrag in % von Umsatz");
    s.setFontPoints(10);
    const double w10 = s.TextWidth(text), h10 = s.TextHeight(text);
    // Plausible for 10-point Arial: about 0.45 em per character, one line a
    // little more than an em.
    EXPECT_GT(w10, 0.35 * 200 * text.size());
    EXPECT_LT(w10, 0.6 * 200 * text.size());
    EXPECT_GT(h10, 200);
    EXPECT_LT(h10, 260);
    // Longer text, wider box; an empty text has no width but is one line
    // high, so its frame has a height; two lines are higher than one.
    EXPECT_GT(s.TextWidth(QStringLiteral("Tallvero Tallvero")), 2 * s.TextWidth("Tallvero"));
    EXPECT_DOUBLE_EQ(s.TextWidth(QString()), 0);
    EXPECT_DOUBLE_EQ(s.TextHeight(QString()), h10);
    EXPECT_GT(s.TextHeight(QStringLiteral("a\nb")), 1.8 * h10);
    // Without a font engine the estimate is of the right order.
    const QSizeF guess = estimateTextSize(text, 10);
    EXPECT_NEAR(guess.width(), w10, 0.3 * w10);
    EXPECT_NEAR(guess.height(), h10, 0.2 * h10);

    QImage device(1, 1, QImage::Format_RGB32);
    device.setDotsPerMeterX(qRound(1440 / 0.0254));
    device.setDotsPerMeterY(qRound(1440 / 0.0254));
    const bool liberation = QFontDatabase::hasFamily(QStringLiteral("Liberation Sans"));
    for (double points : {16.0, 20.0}) {
        SCOPED_TRACE(points);
        s.setFontPoints(points);
        EXPECT_NEAR(s.TextWidth(text) / w10, points / 10, 0.01 * points / 10);
        EXPECT_NEAR(s.TextHeight(text) / h10, points / 10, 0.05);
        if (!liberation) continue;
        QFont font(QStringLiteral("Liberation Sans"));
        font.setPointSizeF(points);
        const QFontMetricsF ref(font, &device);
        EXPECT_NEAR(s.TextWidth(text), ref.horizontalAdvance(text), 0.03 * s.TextWidth(text));
        EXPECT_NEAR(s.TextHeight(text), ref.height(), 0.03 * ref.height());
    }
}

// --- rendering ----------------------------------------------------------

TEST(Rendering, PenBrushAndAlignmentFollowTheSurfaceNumbering) {
    const double at50dpi = 50.0 / TwipsPerInch;
    // 57 twips are two pixels at 50 dpi: a real width. 10 twips are a third
    // of a pixel: the thinnest line instead of a faint one.
    const struct {
        int style;
        double width, scale;
        Qt::PenStyle qtStyle;
        bool cosmetic;
    } pens[] = {{PenDot, 0, at50dpi, Qt::DotLine, true},
                {PenSolid, 57, at50dpi, Qt::SolidLine, false},
                {PenSolid, 10, at50dpi, Qt::SolidLine, true},
                {PenSolid, 10, 1200 / TwipsPerInch, Qt::SolidLine, false},
                {PenNone, 57, at50dpi, Qt::NoPen, false}};
    DrawState st;
    st.penColour = Red;
    for (const auto& p : pens) {
        SCOPED_TRACE(p.width);
        st.penStyle = p.style;
        st.penWidth = p.width;
        const QPen pen = PainterRenderer::penFor(st, p.scale);
        EXPECT_EQ(pen.style(), p.qtStyle);
        if (p.qtStyle == Qt::NoPen) continue;
        EXPECT_EQ(pen.isCosmetic(), p.cosmetic);
        EXPECT_EQ(pen.color(), QColor(Qt::red));
        if (!p.cosmetic) {
            EXPECT_DOUBLE_EQ(pen.widthF(), p.width);
        }
    }
    st.brushStyle = BrushSolid;
    st.brushColour = Blue;
    EXPECT_EQ(PainterRenderer::brushFor(st), QBrush(Qt::blue, Qt::SolidPattern));
    st.brushStyle = BrushHollow;
    EXPECT_EQ(PainterRenderer::brushFor(st).style(), Qt::NoBrush);

    const std::pair<int, Qt::Alignment> aligns[] = {
        {AlignLeft, Qt::AlignLeft}, {AlignCenter, Qt::AlignHCenter}, {AlignRight, Qt::AlignRight}};
    for (const auto& [align, qt] : aligns)
        EXPECT_EQ(PainterRenderer::alignmentFlags(align), int(qt | Qt::AlignVCenter)) << align;
}

TEST(Rendering, PngAt50DpiIsA4LandscapeAndShowsLineAndTextInPlace) {
    RecordingSurface s;
    s.BeginDocument();
    s.setPenColor(Red);
    s.setPenWidth(57);
    s.DrawLine(1440, 1440, 7200, 1440);
    s.setPenStyle(PenNone);
    s.setFontPoints(16);
    s.setTextAlignment(AlignLeft);
    const QRectF textBox(1440, 2880, 2880, 600);
    s.DrawTextInBox(QStringLiteral("TTTT"), textBox.x(), textBox.y(), textBox.width(),
                    textBox.height(), false, false);
    s.EndDocument();

    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("seite.png"));
    QString error;
    ASSERT_TRUE(writePng(s.displayList(), file, 50, &error)) << error.toStdString();
    QImage png(file);
    EXPECT_EQ(png.size(), QSize(585, 413));
    EXPECT_EQ(pageSizeAt(50), png.size());
    // The surface's page is the one the exports draw: at 1440 dpi a pixel is a twip.
    EXPECT_EQ(QSizeF(RecordingSurface::pageWidth(), RecordingSurface::pageHeight()),
              QSizeF(pageSizeAt(1440)));

    // The line is two pixels wide around y = 50 px, from x = 50 to 250.
    EXPECT_TRUE(isRed(pixelAt(png, 4000, 1420, 50)) || isRed(pixelAt(png, 4000, 1450, 50)));
    EXPECT_TRUE(isWhite(pixelAt(png, 4000, 1800, 50)));
    EXPECT_TRUE(isWhite(pixelAt(png, 8000, 1440, 50)));
    EXPECT_GT(countPixels(png, pixels(QRectF(1500, 1300, 5600, 280), 50), isRed), 150);

    // Black text inside its box, nothing dark around it; white background.
    const int inBox = countPixels(png, pixels(textBox, 50), isDark);
    EXPECT_GT(inBox, 10);
    EXPECT_EQ(countPixels(png, pixels(textBox.adjusted(-1440, -1440, 1440, 1440), 50), isDark),
              inBox);
    EXPECT_TRUE(isWhite(png.pixel(580, 400)));
}

TEST(Rendering, MeasuredBoxHoldsTheRenderedText) {
    RecordingSurface s;
    s.setFontFace(QStringLiteral("Arial"));
    s.setTextAlignment(AlignLeft);
    s.setPenStyle(PenNone);
    const QString text = QStringLiteral("Gedruckt durch: Tallvero");
    const QRectF box(2000, 3000, s.TextWidth(text), s.TextHeight(text));
    s.DrawTextInBox(text, box.x(), box.y(), box.width(), box.height(), false, false);

    const QRect ink = inkBox(renderImage(s.displayList(), 300));
    const QRect expected = pixels(box, 300);
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
        s.setPenStyle(PenNone);
        s.setTextAlignment(align);
        s.DrawTextInBox(QStringLiteral("100%"), 4000, 4000, boxWidth, 300, false, false);
        return inkBox(renderImage(s.displayList(), dpi));
    };
    const double f = dpi / TwipsPerInch;
    const QRect centre = inkFor(AlignCenter, 4000);
    EXPECT_NEAR(inkFor(AlignLeft, 4000).left(), 4000 * f, 3);
    EXPECT_NEAR(inkFor(AlignRight, 4000).right(), 8000 * f, 3);
    EXPECT_NEAR(centre.center().x(), 6000 * f, 3);
    // A box far too small still shows the whole text, centred on the box.
    const QRect tight = inkFor(AlignCenter, 20);
    EXPECT_NEAR(tight.width(), centre.width(), 2);
    EXPECT_NEAR(tight.center().x(), 4010 * f, 3);
}

TEST(Rendering, RotatedTextRunsUpwardsFromTheBoxY) {
    RecordingSurface s;
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
    EXPECT_GT(ink.height(), 5 * ink.width());
    // Inside the turned box: x from 798 to 798 + h, y from 8892 − w to 8892,
    // and centred along its length.
    EXPECT_TRUE(pixels(QRectF(798, 8892 - w, h, w), dpi).adjusted(-1, -1, 1, 1).contains(ink));
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
    const QPoint centre = pixels(box, dpi).center();
    const QImage framed = render(PenSolid, false, BrushSolid);
    const QRect ink = inkBox(framed), want = pixels(box, dpi);
    for (const auto& [got, expected] : {std::pair{ink.left(), want.left()},
                                        {ink.right(), want.right()},
                                        {ink.top(), want.top()},
                                        {ink.bottom(), want.bottom()}})
        EXPECT_NEAR(got, expected, 1.5);
    // Not shaded: the solid brush does not fill the box.
    EXPECT_TRUE(isWhite(framed.pixel(centre)));
    EXPECT_TRUE(inkBox(render(PenNone, false, BrushSolid)).isNull());
    EXPECT_TRUE(isBlue(render(PenNone, true, BrushSolid).pixel(centre)));
    EXPECT_TRUE(isWhite(render(PenSolid, true, BrushHollow).pixel(centre)));
}

TEST(Rendering, RectanglesAndCirclesUseTheBrushAndDottedLinesHaveGaps) {
    RecordingSurface s;
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
    int inked = 0;
    for (int x = 200; x < 900; ++x)
        inked += hasInk(image.pixel(x, 600)) || hasInk(image.pixel(x, 599));
    EXPECT_GT(inked, 100);
    EXPECT_LT(inked, 600);
}

// --- files and printer --------------------------------------------------

DisplayList samplePage() {
    RecordingSurface s;
    s.BeginDocument();
    s.setFontPoints(16);
    s.setPenWidth(1);
    s.DrawTextInBox(QStringLiteral("Tallvero"), 2850, 855, 12939, 400, false, false);
    s.setPenColor(Red);
    s.setPenWidth(57);
    s.DrawLine(2850, 5000, 15789, 3000);
    s.EndDocument();
    return s.displayList();
}

TEST(Export, PdfAndSvgAreWrittenAndSvgHoldsTheText) {
    QTemporaryDir dir;
    QString error;
    const QString pdf = dir.filePath(QStringLiteral("seite.pdf"));
    ASSERT_TRUE(writePdf(samplePage(), pdf, &error)) << error.toStdString();
    EXPECT_TRUE(readAll(pdf).startsWith("%PDF"));
    EXPECT_EQ(pdfPageCount(readAll(pdf)), 1);

    const QString svg = dir.filePath(QStringLiteral("seite.svg"));
    ASSERT_TRUE(writeSvg(samplePage(), svg, &error)) << error.toStdString();
    const QByteArray svgData = readAll(svg);
    // A4 landscape: 16838 × 11906 twips, 297 × 210 mm. The frame pen of one
    // twip is below a screen pixel: the thinnest line at any zoom, not a
    // hairline that vanishes.
    for (const char* part : {"<svg", "Tallvero", "viewBox=\"0 0 16838 11906\"", "width=\"297.0",
                             "height=\"210.0", "non-scaling-stroke"})
        EXPECT_TRUE(svgData.contains(part)) << part;
}

TEST(Export, UnwritableFileGivesAGermanError) {
    const QString bad = QStringLiteral("/nonexistent-dir/x/seite");
    const struct {
        std::function<bool(QString*)> write;
        const char* says;
    } rows[] = {{[&](QString* e) { return writePng(samplePage(), bad + ".png", 50, e); },
                 "kann nicht geschrieben werden"},
                {[&](QString* e) { return writePdf(samplePage(), bad + ".pdf", e); }, ""},
                {[&](QString* e) { return writeSvg(samplePage(), bad + ".svg", e); }, ""},
                {[&](QString* e) { return writePng(samplePage(), "x.png", 0, e); }, "dpi"}};
    for (const auto& r : rows) {
        QString error;
        EXPECT_FALSE(r.write(&error)) << r.says;
        EXPECT_FALSE(error.isEmpty()) << r.says;
        EXPECT_TRUE(error.contains(QString::fromUtf8(r.says))) << error.toStdString();
    }
}

// The preview prints its shown page; whatever a dialog left in the printer,
// the job is one copy of one A4 landscape page.
TEST(Export, PrintingMakesOneLandscapePageWhateverTheDialogLeft) {
    PreviewWidget w;
    w.surface().BeginDocument();
    w.surface().DrawLine(0, 0, 1000, 1000);
    w.surface().EndDocument();
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("seite.pdf"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(file);
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setCopyCount(3);
    w.printDocument(printer);
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

void wheel(PreviewWidget& w, int delta, Qt::KeyboardModifiers mods) {
    const QPointF pos(50, 50);
    QWheelEvent event(pos, w.viewport()->mapToGlobal(pos), QPoint(), QPoint(0, delta), Qt::NoButton,
                      mods, Qt::NoScrollPhase, false);
    QApplication::sendEvent(w.viewport(), &event);
}

// Set by the program: no notification, no redraw request; the redraw entry
// only asks for a redraw.
TEST(Preview, ZoomPercentAndModesRoundTripAndRedrawEntry) {
    PreviewWidget w;
    QSignalSpy zoomSpy(&w, &PreviewWidget::zoomChanged);
    QSignalSpy redrawSpy(&w, &PreviewWidget::redrawRequested);
    EXPECT_EQ(w.zoomMode(), ZoomWholePage);
    w.setZoom(87.5);
    EXPECT_EQ(w.zoomMode(), ZoomPercent);
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
    EXPECT_EQ(redrawSpy.count(), 0);

    ASSERT_NE(w.redrawAction(), nullptr);
    EXPECT_EQ(w.redrawAction()->text(), QStringLiteral("Seite neu zeichnen"));
    EXPECT_TRUE(w.actions().contains(w.redrawAction()));
    w.redrawAction()->trigger();
    EXPECT_EQ(redrawSpy.count(), 1);
    w.requestRedraw();
    EXPECT_EQ(redrawSpy.count(), 2);
    EXPECT_EQ(zoomSpy.count(), 0);
}

// Ctrl+wheel and Ctrl with + or - step the zoom and notify once per step.
TEST(Preview, UserZoomStepsAndNotifiesOncePerStep) {
    PreviewWidget w;
    w.resize(800, 600);
    QSignalSpy spy(&w, &PreviewWidget::zoomChanged);
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, none = Qt::NoModifier;
    enum Input { Set, Wheel, Key };
    const struct {
        Input input;
        int value;
        Qt::KeyboardModifiers mods;
        double zoom;
        int notified;
    } steps[] = {
        {Set, 100, none, 100, 0},           {Wheel, 120, ctrl, 125, 1},
        {Wheel, -120, ctrl, 100, 2},        {Wheel, -120, ctrl, 75, 3},
        {Wheel, 60, ctrl, 75, 3},           {Wheel, 60, ctrl, 100, 4},   // half notches add up
        {Set, 1000, none, 1000, 4},         {Wheel, 120, ctrl, 1000, 4}, // at the limit: nothing
        {Set, 150, none, 150, 4},           {Key, Qt::Key_Plus, ctrl, 200, 5},
        {Key, Qt::Key_Minus, ctrl, 150, 6}, {Key, Qt::Key_Minus, ctrl, 125, 7},
        {Key, Qt::Key_Plus, none, 125, 7}, // without Ctrl no zoom key
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << s.input << " " << s.value << " at " << s.zoom);
        if (s.input == Set) w.setZoom(s.value);
        if (s.input == Wheel) wheel(w, s.value, s.mods);
        if (s.input == Key) QTest::keyClick(&w, Qt::Key(s.value), s.mods);
        EXPECT_DOUBLE_EQ(w.zoom(), s.zoom);
        EXPECT_EQ(spy.count(), s.notified);
    }
    // From a fitted zoom the wheel goes to the next step and leaves the fit.
    w.setZoomMode(ZoomWholePage);
    const double fitted = w.zoom();
    wheel(w, 120, ctrl);
    EXPECT_EQ(spy.count(), 8);
    EXPECT_EQ(w.zoomMode(), ZoomPercent);
    EXPECT_GT(w.zoom(), fitted);
}

class ShownPreview : public ::testing::Test {
protected:
    void SetUp() override {
        w.resize(700, 500);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        settle();
    }
    PreviewWidget w;
};

TEST_F(ShownPreview, FittedModesFollowTheSizeAndAPlainWheelScrolls) {
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

    // A fixed percentage does not follow the size; a wheel without Ctrl
    // scrolls and leaves the zoom alone.
    w.setZoom(200);
    const int fixedCount = static_cast<int>(spy.count());
    w.resize(700, 500);
    settle();
    ASSERT_GT(w.verticalScrollBar()->maximum(), 0);
    const QRectF top = w.pageRect();
    wheel(w, -120, Qt::NoModifier);
    settle();
    EXPECT_DOUBLE_EQ(w.zoom(), 200);
    EXPECT_EQ(spy.count(), fixedCount);
    EXPECT_GT(w.verticalScrollBar()->value(), 0);
    EXPECT_LT(w.pageRect().top(), top.top());
}

TEST_F(ShownPreview, ShowsThePageWhenTheDocumentEnds) {
    RecordingSurface& s = w.surface();
    s.BeginDocument();
    s.setBrushStyle(BrushSolid);
    s.setBrushColor(Red);
    s.DrawRectangle(0, 0, PageWidthTwips, PageHeightTwips);
    // Not finished: the preview still shows the empty page.
    EXPECT_TRUE(w.shownPage().empty());
    const QPoint middle = w.pageRect().center().toPoint();
    EXPECT_TRUE(isWhite(w.viewport()->grab().toImage().pixel(middle)));

    s.EndDocument();
    EXPECT_EQ(w.shownPage().size(), 1u);
    settle();
    const QImage shot = w.viewport()->grab().toImage();
    EXPECT_TRUE(isRed(shot.pixel(middle)));
    // The desk around the page is grey.
    const QRgb desk = shot.pixel(2, 2);
    EXPECT_EQ(qRed(desk), qGreen(desk));
    EXPECT_LT(qRed(desk), 200);
    EXPECT_GT(qRed(desk), 60);

    // A new document keeps the old page on screen until it is finished.
    s.BeginDocument();
    s.DrawLine(0, 0, 1, 1);
    ASSERT_EQ(w.shownPage().size(), 1u);
    EXPECT_EQ(w.shownPage()[0].kind, OpKind::Rect);
}

} // namespace
