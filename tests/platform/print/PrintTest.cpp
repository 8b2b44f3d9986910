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

constexpr quint32 Red = 255, Blue = 0xFF0000; // COLORREF is 0x00BBGGRR

const auto isRed = [](QRgb c) { return qRed(c) > 200 && qGreen(c) < 80 && qBlue(c) < 80; };
const auto isBlue = [](QRgb c) { return qBlue(c) > 200 && qRed(c) < 80 && qGreen(c) < 80; };
const auto isWhite = [](QRgb c) { return qRed(c) > 245 && qGreen(c) > 245 && qBlue(c) > 245; };
const auto hasInk = [](QRgb c) { return qGray(c) < 200; }; // thin lines come out grey

// Pixel rectangle of a twips rectangle at dpi.
QRect pixels(const QRectF& twips, int dpi) {
    const double f = dpi / TwipsPerInch;
    return QRectF(twips.topLeft() * f, twips.size() * f).toAlignedRect();
}

// The bounding box (pixels) of everything not white in the area (the image
// when empty).
QRect inkBox(const QImage& image, QRect area = {}) {
    area = area.isNull() ? image.rect() : area.intersected(image.rect());
    QRect box;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (!isWhite(image.pixel(x, y))) box |= QRect(x, y, 1, 1);
    return box;
}

QByteArray readAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int pdfPageCount(const QByteArray& pdf) {
    static const QRegularExpression page(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"));
    return static_cast<int>(QString::fromLatin1(pdf).count(page));
}

// Each operation keeps the settings of its moment; the JSON form carries
// each kind's coordinates (a rectangle its corners and a normalised box)
// and reads back as the same page.
TEST(RecordingSurface, OperationsKeepTheirSettingsAndTheJsonFormReadsBack) {
    RecordingSurface s;
    s.setTextAlignment(AlignCenter);
    s.setPenWidth(1);
    s.setTextColour(Red);
    s.DrawTextInBox(QStringLiteral("Jänner"), 2850, 855, 12939, 300, false, true);
    s.setPenColor(Blue);
    s.setPenStyle(PenDot);
    s.setPenWidth(28.5);
    s.DrawLine(100, 200, 300, 400);
    s.setBrushStyle(BrushSolid);
    s.setBrushColor(0x00123456);
    s.DrawRectangle(5000, 4000, 1000, 3000);
    s.setTextRotation(900);
    s.setFontPoints(16);
    s.setPenWidth(-3); // the thinnest line, not an error
    s.DrawCircle(500, 600, 57);
    const QJsonArray expected = QJsonDocument::fromJson(QStringLiteral(R"([
 {"kind":"text", "font":{"face":"Arial","points":10}, "textColour":"#FF0000", "align":7,
  "rotation":0, "pen":{"colour":"#000000","style":0,"width":1},
  "brush":{"colour":"#000000","style":1}, "h":300, "shaded":true, "text":"Jänner", "w":12939,
  "wrap":false, "x":2850, "y":855},
 {"kind":"line", "font":{"face":"Arial","points":10}, "textColour":"#FF0000", "align":7,
  "rotation":0, "pen":{"colour":"#0000FF","style":2,"width":28.5},
  "brush":{"colour":"#000000","style":1}, "x1":100, "x2":300, "y1":200, "y2":400},
 {"kind":"rect", "font":{"face":"Arial","points":10}, "textColour":"#FF0000", "align":7,
  "rotation":0, "pen":{"colour":"#0000FF","style":2,"width":28.5},
  "brush":{"colour":"#563412","style":0}, "h":1000, "w":4000, "x":1000, "x1":5000, "x2":1000,
  "y":3000, "y1":4000, "y2":3000},
 {"kind":"circle", "font":{"face":"Arial","points":16}, "textColour":"#FF0000", "align":7,
  "rotation":900, "pen":{"colour":"#0000FF","style":2,"width":0},
  "brush":{"colour":"#563412","style":0}, "r":57, "x":500, "y":600}])")
                                                            .toUtf8())
                                    .array();
    const QJsonArray json = toJson(s.displayList());
    EXPECT_EQ(json, expected) << QJsonDocument(json).toJson(QJsonDocument::Compact).data();
    QString error;
    EXPECT_EQ(fromJson(json, &error), s.displayList());
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    EXPECT_EQ(std::tuple(s.fontFace(), s.fontPoints(), s.textRotation(), s.state().penWidth),
              std::tuple(QStringLiteral("Arial"), 16.0, 900, 0.0));

    // An unknown kind is skipped and reported; a colour that is no RGB name is black.
    QJsonObject line = json[1].toObject();
    line[QStringLiteral("textColour")] = QStringLiteral("rot");
    const DisplayList list = fromJson(QJsonArray{QJsonObject{{"kind", "spline"}}, line}, &error);
    ASSERT_EQ(list.size(), 1u);
    EXPECT_EQ(list[0].state.textColour, 0u);
    EXPECT_EQ(list[0].state.penColour, Blue);
    EXPECT_TRUE(error.contains(QStringLiteral("spline")));
}

// Arial is drawn and measured with a metric-compatible family (10 pt = 200
// twips per em); sizes grow linearly with the points and agree with
// Liberation Sans measured on a 1440-dpi device (pixels there are twips).
TEST(Measuring, TextSizeFollowsPointsLinesAndTheMetricFont) {
    const QStringList compatible{QStringLiteral("Arial"), QStringLiteral("Liberation Sans")};
    const QFont font = pageFont(QStringLiteral("Arial"), 10);
    EXPECT_TRUE(compatible.contains(QFontInfo(font).family()));
    EXPECT_EQ(std::pair(font.pixelSize(), pageFont("Arial", 16).pixelSize()), std::pair(200, 320));
    // An unknown face is passed on to Qt's own fallback.
    EXPECT_EQ(resolveFontFamily(QStringLiteral("Keine Schrift")), QStringLiteral("Keine Schrift"));

    RecordingSurface s;
    const QString text = QStringLiteral("Deckungsbeitrag in % von Umsatz");
    const double w10 = s.TextWidth(text), h10 = s.TextHeight(text);
    // An empty text has no width but is one line high, so its frame has a
    // height; two lines are higher than one.
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
    for (double points : {10.0, 16.0, 20.0}) {
        SCOPED_TRACE(points);
        s.setFontPoints(points);
        EXPECT_NEAR(s.TextWidth(text) / w10, points / 10, 0.01 * points / 10);
        EXPECT_NEAR(s.TextHeight(text) / h10, points / 10, 0.05);
        if (!liberation) continue;
        QFont ref(QStringLiteral("Liberation Sans"));
        ref.setPointSizeF(points);
        const QFontMetricsF m(ref, &device);
        EXPECT_NEAR(s.TextWidth(text), m.horizontalAdvance(text), 0.03 * s.TextWidth(text));
        EXPECT_NEAR(s.TextHeight(text), m.height(), 0.03 * m.height());
    }
}

// One page with every kind of operation at 144 dpi (a tenth of a pixel per
// twip): where the ink lands and in which colour.
TEST(Rendering, EveryKindInItsPlaceAndColour) {
    RecordingSurface s;
    s.setPenColor(Red);
    s.setPenWidth(57);
    s.DrawLine(1440, 1440, 7200, 1440);
    s.setPenColor(0);
    s.setPenWidth(1);
    s.setBrushStyle(BrushSolid);
    s.setBrushColor(Red);
    s.DrawRectangle(2000, 3500, 1000, 2500);
    s.setBrushStyle(BrushHollow);
    s.DrawCircle(4000, 3000, 570);
    s.setBrushStyle(BrushSolid);
    s.setBrushColor(Blue);
    s.DrawCircle(6000, 3000, 570);
    // Text boxes: framed, not shaded; shaded without a frame; neither (no
    // ink at all); shaded with a hollow brush.
    const QRectF box(1000, 6000, 2880, 1440);
    for (const auto& [x, pen, brush, shaded] : {std::tuple{1000, PenSolid, BrushSolid, false},
                                                {5000, PenNone, BrushSolid, true},
                                                {9000, PenNone, BrushSolid, false},
                                                {13000, PenSolid, BrushHollow, true}}) {
        s.setPenStyle(pen);
        s.setBrushStyle(brush);
        s.DrawTextInBox(QString(), x, box.y(), box.width(), box.height(), false, shaded);
    }
    s.setPenStyle(PenNone);
    s.DrawLine(9000, 6000, 12000, 7000);
    s.setPenStyle(PenDot);
    s.setPenWidth(0);
    s.DrawLine(1000, 9000, 10000, 9000);

    const int dpi = 144;
    const QImage image = renderImage(s.displayList(), dpi);
    const struct {
        double x, y;
        bool (*is)(QRgb);
        const char* what;
    } probes[] = {
        {4000, 1440, isRed, "the 1 mm line"},          {4000, 1800, isWhite, "beside it"},
        {8000, 1440, isWhite, "after its end"},        {1500, 3000, isRed, "solid rectangle"},
        {4000, 3000, isWhite, "hollow circle"},        {6000, 3000, isBlue, "solid circle"},
        {2440, 6720, isWhite, "framed, not shaded"},   {6440, 6720, isBlue, "shaded"},
        {14440, 6720, isWhite, "shaded, hollow brush"}};
    for (const auto& p : probes)
        EXPECT_TRUE(p.is(image.pixel(pixels(QRectF(p.x, p.y, 0, 0), dpi).topLeft()))) << p.what;
    EXPECT_TRUE(hasInk(image.pixel(457, 300)) || hasInk(image.pixel(456, 300))); // the rim
    // The frame runs along the box's edges; the box without pen and shade and
    // the line without pen leave no ink.
    const QRect frame = inkBox(image, pixels(box.adjusted(-500, -500, 500, 500), dpi));
    const QRect want = pixels(box, dpi);
    EXPECT_TRUE(want.adjusted(-1, -1, 1, 1).contains(frame) &&
                frame.adjusted(-1, -1, 1, 1).contains(want));
    EXPECT_TRUE(inkBox(image, pixels(box.adjusted(7500, -500, 8500, 500), dpi)).isNull());
    // Along the dotted line both ink and paper alternate.
    int inked = 0;
    for (int x = 100; x < 1000; ++x)
        inked += hasInk(image.pixel(x, 900)) || hasInk(image.pixel(x, 899));
    EXPECT_GT(inked, 130);
    EXPECT_LT(inked, 770);
}

// Where a text lands: in its measured box, at the edge or the centre its
// alignment names, whole in a box far too small, upwards when turned.
TEST(Rendering, TextLandsInItsBox) {
    const int dpi = 100;
    const double f = dpi / TwipsPerInch;
    RecordingSurface s;
    s.setPenStyle(PenNone);
    auto ink = [&](const QString& text, const QRectF& box, int align, int rotation = 0) {
        s.BeginDocument();
        s.setTextAlignment(align);
        s.setTextRotation(rotation);
        s.DrawTextInBox(text, box.x(), box.y(), box.width(), box.height(), false, false);
        return inkBox(renderImage(s.displayList(), dpi));
    };
    const QString footer = QStringLiteral("Gedruckt durch: Tallvero");
    const QRectF measured(2000, 3000, s.TextWidth(footer), s.TextHeight(footer));
    const QRect m = ink(footer, measured, AlignLeft), want = pixels(measured, dpi);
    EXPECT_TRUE(want.adjusted(-2, -2, 2, 2).contains(m)) << m.x() << "," << m.y();
    // And the text fills it: the font is the one that was measured.
    EXPECT_GT(m.width(), 0.9 * want.width());
    EXPECT_GT(m.height(), 0.5 * want.height());

    const QString pct = QStringLiteral("100%");
    const QRect centre = ink(pct, {4000, 4000, 4000, 300}, AlignCenter);
    EXPECT_NEAR(centre.center().x(), 6000 * f, 3);
    EXPECT_NEAR(ink(pct, {4000, 4000, 4000, 300}, AlignLeft).left(), 4000 * f, 3);
    EXPECT_NEAR(ink(pct, {4000, 4000, 4000, 300}, AlignRight).right(), 8000 * f, 3);
    const QRect tight = ink(pct, {4000, 4000, 20, 300}, AlignCenter);
    EXPECT_NEAR(tight.width(), centre.width(), 2);
    EXPECT_NEAR(tight.center().x(), 4010 * f, 3);

    // Turned: inside the box that runs 7410 twips up from y, centred along it.
    const QString axis = QStringLiteral("Absolut Monatilcher Wert in €");
    const double h = s.TextHeight(axis);
    const QRect up = ink(axis, {798, 8892, 7410, h}, AlignCenter, 900);
    EXPECT_GT(up.height(), 5 * up.width());
    EXPECT_TRUE(pixels(QRectF(798, 8892 - 7410, h, 7410), dpi).adjusted(-1, -1, 1, 1).contains(up));
    EXPECT_NEAR(up.center().y(), (8892 - 7410 / 2) * f, 3);
    EXPECT_NEAR(up.height(), s.TextWidth(axis) * f, 4);
}

DisplayList samplePage() {
    RecordingSurface s;
    s.setFontPoints(16);
    s.setPenWidth(1);
    s.DrawTextInBox(QStringLiteral("Tallvero"), 2850, 855, 12939, 400, false, false);
    s.setPenWidth(57);
    s.DrawLine(2850, 5000, 15789, 3000);
    return s.displayList();
}

// A4 landscape, 16838 × 11906 twips, 297 × 210 mm, in every file.
TEST(Export, FilesHoldOneA4LandscapePageOrGiveAGermanError) {
    QTemporaryDir dir;
    QString error;
    const QString pdf = dir.filePath("s.pdf"), svg = dir.filePath("s.svg"),
                  png = dir.filePath("s.png");
    ASSERT_TRUE(writePdf(samplePage(), pdf, &error)) << error.toStdString();
    ASSERT_TRUE(writeSvg(samplePage(), svg, &error)) << error.toStdString();
    ASSERT_TRUE(writePng(samplePage(), png, 50, &error)) << error.toStdString();
    EXPECT_EQ(pdfPageCount(readAll(pdf)), 1);
    EXPECT_EQ(QImage(png).size(), QSize(585, 413));
    // The surface's page is the one the exports draw: at 1440 dpi a pixel is a twip.
    EXPECT_EQ(QSizeF(RecordingSurface::pageWidth(), RecordingSurface::pageHeight()),
              QSizeF(pageSizeAt(1440)));
    // The frame pen of one twip is below a screen pixel: the thinnest line
    // at any zoom, not a hairline that vanishes.
    for (const char* part : {"<svg", "Tallvero", "viewBox=\"0 0 16838 11906\"", "width=\"297.0",
                             "height=\"210.0", "non-scaling-stroke"})
        EXPECT_TRUE(readAll(svg).contains(part)) << part;

    const QString bad = QStringLiteral("/nonexistent-dir/x/seite");
    QString errors[4];
    const bool written[] = {writePng(samplePage(), bad + ".png", 50, &errors[0]),
                            writePdf(samplePage(), bad + ".pdf", &errors[1]),
                            writeSvg(samplePage(), bad + ".svg", &errors[2]),
                            writePng(samplePage(), "x.png", 0, &errors[3])};
    const char* says[] = {"Die Datei „/nonexistent-dir/x/seite.png“ kann nicht geschrieben werden.",
                          "seite.pdf“", "seite.svg“", "Ungültige Auflösung 0 dpi."};
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(written[i]) << says[i];
        EXPECT_TRUE(errors[i].contains(QString::fromUtf8(says[i]))) << errors[i].toStdString();
    }
}

// The preview prints its shown page; whatever a dialog left in the printer,
// the job is one copy of one A4 landscape page.
TEST(Export, PrintingMakesOneLandscapePageWhateverTheDialogLeft) {
    PreviewWidget w;
    w.surface().DrawLine(0, 0, 1000, 1000);
    w.surface().EndDocument();
    QTemporaryDir dir;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFileName(dir.filePath(QStringLiteral("seite.pdf")));
    printer.setPageOrientation(QPageLayout::Portrait);
    printer.setCopyCount(3);
    w.printDocument(printer);
    EXPECT_EQ(std::tuple(printer.pageLayout().orientation(), printer.pageLayout().pageSize().id(),
                         printer.fullPage(), printer.copyCount()),
              std::tuple(QPageLayout::Landscape, QPageSize::A4, true, 1));
    EXPECT_EQ(pdfPageCount(readAll(printer.outputFileName())), 1);
}

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

// Set by the program (Set, Mode): no notification. By the user (Ctrl+wheel,
// Ctrl with + or -): one step and one notification per step. The redraw
// entry only asks for a redraw.
TEST(Preview, ZoomByTheProgramAndByTheUserAndTheRedrawEntry) {
    PreviewWidget w;
    w.resize(800, 600);
    QSignalSpy spy(&w, &PreviewWidget::zoomChanged);
    QSignalSpy redraws(&w, &PreviewWidget::redrawRequested);
    EXPECT_EQ(w.zoomMode(), ZoomWholePage);
    const double fit = w.zoom(); // the whole page
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier, none = Qt::NoModifier;
    enum Input { Set, Mode, Wheel, Key };
    const struct {
        Input input;
        int value;
        Qt::KeyboardModifiers mods;
        double zoom;
        int mode, notified;
    } steps[] = {
        {Mode, ZoomAllPages, none, fit, ZoomAllPages, 0}, // one page: like the whole page
        {Mode, ZoomTwoPages, none, fit, ZoomTwoPages, 0},
        {Mode, ZoomPercent, none, fit, ZoomPercent, 0}, // freezes the fitted percentage
        {Set, 5000, none, 1000, 0, 0},                  // clamped
        {Set, -20, none, 1000, 0, 0},                   // ignored
        {Mode, 7, none, 1000, 0, 0},                    // ignored
        {Set, 100, none, 100, 0, 0},
        {Wheel, 120, ctrl, 125, 0, 1},
        {Wheel, -120, ctrl, 100, 0, 2},
        {Wheel, -120, ctrl, 75, 0, 3},
        {Wheel, 60, ctrl, 75, 0, 3}, // half notches add up
        {Wheel, 60, ctrl, 100, 0, 4},
        {Set, 1000, none, 1000, 0, 4},
        {Wheel, 120, ctrl, 1000, 0, 4}, // at the limit: nothing
        {Set, 150, none, 150, 0, 4},
        {Key, Qt::Key_Plus, ctrl, 200, 0, 5},
        {Key, Qt::Key_Minus, ctrl, 150, 0, 6},
        {Key, Qt::Key_Minus, ctrl, 125, 0, 7},
        {Key, Qt::Key_Plus, none, 125, 0, 7}, // without Ctrl no zoom key
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(testing::Message() << s.input << " " << s.value << " to " << s.zoom);
        if (s.input == Set) w.setZoom(s.value);
        if (s.input == Mode) w.setZoomMode(s.value);
        if (s.input == Wheel) wheel(w, s.value, s.mods);
        if (s.input == Key) QTest::keyClick(&w, Qt::Key(s.value), s.mods);
        EXPECT_DOUBLE_EQ(w.zoom(), s.zoom);
        EXPECT_EQ(std::pair(w.zoomMode(), int(spy.count())), std::pair(s.mode, s.notified));
    }
    // From a fitted zoom the wheel goes to the next step and leaves the fit.
    w.setZoomMode(ZoomWholePage);
    wheel(w, 120, ctrl);
    EXPECT_EQ(std::pair(w.zoomMode(), int(spy.count())), std::pair(int(ZoomPercent), 8));
    EXPECT_GT(w.zoom(), fit);

    EXPECT_EQ(redraws.count(), 0);
    ASSERT_NE(w.redrawAction(), nullptr);
    EXPECT_EQ(w.redrawAction()->text(), QStringLiteral("Seite neu zeichnen"));
    EXPECT_TRUE(w.actions().contains(w.redrawAction()));
    w.redrawAction()->trigger();
    w.requestRedraw();
    EXPECT_EQ(std::pair(redraws.count(), spy.count()), std::pair(qsizetype(2), qsizetype(8)));
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
    EXPECT_GT(w.zoom(), narrow * 1.4);
    EXPECT_EQ(spy.count(), 1);
    // The page fills the width without a horizontal scroll bar.
    EXPECT_EQ(w.horizontalScrollBar()->maximum(), 0);
    EXPECT_GT(w.pageRect().width(), 0.9 * w.viewport()->width());
    // Whole page: limited by the height here.
    w.setZoomMode(ZoomWholePage);
    settle();
    EXPECT_LE(w.pageRect().height(), w.viewport()->height());
    EXPECT_EQ(w.verticalScrollBar()->maximum(), 0);

    // A fixed percentage does not follow the size; a wheel without Ctrl
    // scrolls and leaves the zoom alone.
    w.setZoom(200);
    w.resize(700, 500);
    settle();
    ASSERT_GT(w.verticalScrollBar()->maximum(), 0);
    const QRectF top = w.pageRect();
    wheel(w, -120, Qt::NoModifier);
    settle();
    EXPECT_DOUBLE_EQ(w.zoom(), 200);
    EXPECT_EQ(spy.count(), 1);
    EXPECT_GT(w.verticalScrollBar()->value(), 0);
    EXPECT_LT(w.pageRect().top(), top.top());
}

// The end of a document tells every listener (and a Refresh of a finished
// page tells them again); the preview shows the page then. A new document
// clears the page but keeps the settings, and the preview keeps the old page
// on screen until the new one is finished.
TEST_F(ShownPreview, ShowsThePageWhenTheDocumentEnds) {
    RecordingSurface& s = w.surface();
    std::vector<std::size_t> finishedWith; // the page size at each notification
    const int handle = s.onFinished([&] { finishedWith.push_back(s.displayList().size()); });
    s.setBrushStyle(BrushSolid);
    s.setBrushColor(Red);
    s.DrawRectangle(0, 0, PageWidthTwips, PageHeightTwips);
    s.DrawLine(0, 10, 10, 0);
    const QPoint middle = w.pageRect().center().toPoint();
    auto shown = [&] {
        settle();
        return w.viewport()->grab().toImage().pixel(middle);
    };
    s.Refresh(); // an unfinished page is not shown
    EXPECT_FALSE(s.finished());
    EXPECT_TRUE(w.shownPage().empty());
    EXPECT_TRUE(isWhite(shown()));
    s.EndDocument();
    EXPECT_TRUE(s.finished());
    EXPECT_TRUE(isRed(shown()));
    s.Refresh();
    // The desk around the page is grey.
    const QRgb desk = w.viewport()->grab().toImage().pixel(2, 2);
    EXPECT_EQ(qRed(desk), qGreen(desk));
    EXPECT_LT(qRed(desk), 200);
    EXPECT_GT(qRed(desk), 60);

    s.setPenColor(Blue);
    s.BeginDocument();
    EXPECT_FALSE(s.finished());
    s.DrawCircle(1, 2, 3);
    ASSERT_EQ(w.shownPage().size(), 2u);
    EXPECT_EQ(w.shownPage()[0].kind, OpKind::Rect);
    s.EndDocument();
    EXPECT_EQ(finishedWith, (std::vector<std::size_t>{2, 2, 1}));
    EXPECT_EQ(s.displayList()[0].state.penColour, Blue);
    s.removeFinishedCallback(handle);
    s.EndDocument();
    EXPECT_EQ(std::pair(finishedWith.size(), s.documentCount()), std::pair(std::size_t(3), 3));
}

} // namespace
