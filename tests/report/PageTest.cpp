// The report page on the recording surface: where the table's boxes land,
// the cell texts of every table mode, titles and footer, the header, the
// value-axis grid, the cut of the current-year curves, and one full page
// against a reference image.

#include "report/Page.h"

#include "platform/print/Export.h"
#include "platform/print/RecordingSurface.h"

#include <QImage>
#include <QLocale>
#include <cmath>
#include <gtest/gtest.h>

using namespace report;

namespace {

constexpr double c = kWidth / 12, T = kTop + kHeight; // column width, table top

values::PeriodValueStore tables() {
    values::PeriodValueStore s;
    s.MonthYearValues.dimension(1, 12, 1, 6);
    s.CumulativeValues.dimension(0, 12, 1, 6);
    s.GraphValues.dimension(1, 12, 1, 6);
    return s;
}

PageInputs inputs(QDate day = QDate(2024, 4, 15)) {
    PageInputs in;
    in.Firma = in.SFirma = QStringLiteral("1");
    in.BenutzerName = QStringLiteral("Demo Müller");
    in.now = QDateTime(day, QTime(14, 7));
    return in;
}

class Page : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void table(const values::PeriodValueStore& st, const PageInputs& in = inputs()) {
        surface.BeginDocument();
        DrawValueTable(kLeft, kTop, kWidth, kHeight, surface, st, in, &axes);
    }
    // The text box at (x, y) mm.
    const print::Op* at(double xMm, double yMm) const {
        for (const print::Op& op : surface.displayList())
            if (op.kind == print::OpKind::Text && std::abs(op.x - xMm * 57) < 0.1 &&
                std::abs(op.y - yMm * 57) < 0.1)
                return &op;
        return nullptr;
    }
    QString textAt(double xMm, double yMm) const {
        const print::Op* op = at(xMm, yMm);
        return op ? op->text : QStringLiteral("<none>");
    }
    std::vector<print::Op> texts() const {
        std::vector<print::Op> out;
        for (const print::Op& op : surface.displayList())
            if (op.kind == print::OpKind::Text) out.push_back(op);
        return out;
    }
    print::RecordingSurface surface;
    PageAxes axes;
};

} // namespace

TEST_F(Page, TableBoxesLandWhereThePageHasThem) {
    table(tables());
    const struct {
        double x, y, columns; // mm on the page; width in columns
        const char* text;
        int align;
        quint32 colour;
        bool shaded;
    } rows[] = {
        {50, 156, 1, "Jänner", print::AlignCenter, 0, false},
        {258.0833, 156, 1, "Dezember", print::AlignCenter, 0, false},
        {87.8333, 162, 1, "0", print::AlignCenter, 255, true},      // series 1 red
        {87.8333, 168, 1, "0", print::AlignCenter, 0xFF0000, true}, // series 2 blue
        {12.1667, 156, 2, " in % v. 2020-2022", print::AlignLeft, 0, false},
        {7.4375, 162, 2.25, " U KJ* 2024", print::AlignLeft, 0, true},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        const print::Op* op = at(r.x, r.y);
        ASSERT_NE(op, nullptr);
        EXPECT_EQ(op->text, QString::fromUtf8(r.text));
        EXPECT_NEAR(op->w, r.columns * c * 57, 1e-9);
        EXPECT_NEAR(op->h, 6 * 57, 1e-9);
        EXPECT_EQ(std::tuple(op->state.align, op->state.textColour, op->shaded),
                  std::tuple(r.align, r.colour, r.shaded));
        EXPECT_EQ(std::pair(op->state.fontFace, op->state.fontPoints),
                  std::pair(QStringLiteral("Arial"), 10.0));
    }
    // Two heavy frames, 0.5 mm, unfilled, around the two groups of rows.
    int frames = 0;
    for (const print::Op& op : surface.displayList())
        frames += op.kind == print::OpKind::Rect && op.state.penWidth == 28.5 &&
                  op.state.brushStyle == print::BrushHollow &&
                  std::abs(op.x1 - 7.4375 * 57) < 0.1 && op.x2 == 277 * 57;
    EXPECT_EQ(frames, 2);
    // The first thing drawn is panel 1's base line, 0.5 mm.
    const print::Op& first = surface.displayList().front();
    EXPECT_EQ(std::tuple(first.kind, first.y1, first.state.penWidth),
              std::tuple(print::OpKind::Line, 88.5 * 57, 28.5));
}

// Amounts grouped, percentages not; against the three-year mean (2) or the
// previous year (3) a zero or empty divisor shows 0; DB percent shows series
// 4..6 with two decimals.
TEST_F(Page, CellTextsOfEveryMode) {
    values::PeriodValueStore st = tables();
    const double march[] = {120, 110, 100, 30, 20, 0}; // series 6: a three-year mean of 0
    for (int sr = 1; sr <= 6; ++sr) {
        st.CumulativeValues.at(3, sr) = 1234567.8 * sr;
        st.MonthYearValues.at(3, sr) = 1000.4 * sr;
        st.GraphValues.at(3, sr) = march[sr - 1];
    }
    st.GraphValues.at(4, 2) = 50;    // series 1 empty in April
    st.GraphValues.at(5, 1) = 94544; // a department that grew from almost nothing
    st.GraphValues.at(5, 3) = 100;
    const struct {
        int mode;
        bool db;
        int month, series;
        const char* want;
    } rows[] = {
        {0, false, 3, 1, "1.234.568"}, {0, false, 3, 6, "7.407.407"},
        {0, false, 5, 1, "0"}, // empty shows 0
        {1, false, 3, 2, "2.001"},     {4, false, 3, 1, "120"},
        {2, false, 3, 1, "120%"},      {2, false, 3, 2, "110%"},
        {2, false, 3, 3, "100%"},      {2, false, 3, 4, "0"}, // divisor 0
        {2, false, 3, 5, "0"},         {2, false, 3, 6, "100%"},
        {2, false, 5, 1, "94544%"},                           // no thousands separator
        {2, false, 4, 1, "0"},         {2, false, 4, 2, "0"}, // empty divisor
        {3, false, 3, 1, "109%"},      {3, false, 3, 2, "100%"},
        {3, false, 3, 3, "91%"},       {3, false, 3, 4, "150%"},
        {3, false, 4, 1, "0"},         {0, true, 3, 1, "1.234.568"},
        {0, true, 3, 4, "23,46%"},     {0, true, 3, 5, "1234,56%"},
        {0, true, 3, 6, "0,00%"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << r.mode << (r.db ? " db%" : "") << " month "
                                        << r.month << " series " << r.series);
        st.TableMode = r.mode;
        st.GraphValues.at(3, 4) = r.db ? 23.456 : 30;
        st.GraphValues.at(3, 5) = r.db ? 1234.56 : 20;
        PageInputs in = inputs();
        in.dbPercent = r.db;
        EXPECT_EQ(ValueCellText(st, in, r.month, r.series), QLatin1String(r.want));
    }
    // Nothing fetched: 0 everywhere, the reference rows 100%.
    values::PeriodValueStore none;
    for (int mode : {0, 1, 4, 2})
        for (int sr : {1, 3, 5}) {
            none.TableMode = mode;
            EXPECT_EQ(ValueCellText(none, inputs(), 7, sr).toStdString(),
                      mode == 2 && sr == 3 ? "100%" : "0")
                << mode << " " << sr;
        }
}

TEST_F(Page, TitlesAndFooterInBothYearModes) {
    values::PeriodValueStore st = tables();
    const char* titles[] = {"Werte Kumuliert", "Werte Absolut", " in % v. 2020-2022",
                            " in % v. 2023", "Werte Graph"};
    for (int mode = 0; mode <= 4; ++mode) {
        st.TableMode = mode;
        table(st);
        EXPECT_EQ(textAt(kLeft - 2 * c, T), QString::fromUtf8(titles[mode]));
    }
    const print::Op* footer = at(kLeft - 2 * c, T + 42);
    ASSERT_NE(footer, nullptr);
    EXPECT_EQ(footer->text,
              QStringLiteral("Gedruckt durch: Demo Müller am 15.04.2024 um 14:07 Uhr.  "
                             "*.) KJ .. Kalenderjahr"));
    // Its box is as wide as the text, measured on the surface.
    surface.setFontFace(QStringLiteral("Arial"));
    surface.setFontPoints(10);
    EXPECT_NEAR(footer->w, surface.TextWidth(footer->text), 0.5);
    const double shortWidth = footer->w;

    st.YearMode = 1;
    PageInputs in = inputs();
    in.BenutzerName =
        QStringLiteral("Maximiliane Mustermann-Oberhuber von und zu Niederösterreich");
    table(st, in);
    EXPECT_EQ(textAt(kLeft, T), QStringLiteral("März"));
    EXPECT_EQ(textAt(kLeft + 10 * c, T), QStringLiteral("Jänner"));
    EXPECT_EQ(textAt(kLeft + 11 * c, T), QStringLiteral("Februar"));
    EXPECT_EQ(textAt(kLeft - 2.25 * c, T + 6 * 5), QStringLiteral(" DB WJ 2023"));
    const print::Op* long_ = at(kLeft - 2 * c, T + 42);
    ASSERT_NE(long_, nullptr);
    EXPECT_TRUE(long_->text.endsWith(QStringLiteral(" *.) WJ .. Wirtschaftsjahr")));
    EXPECT_GT(long_->w, shortWidth + 2000); // grows with the name, never clipped
}

TEST_F(Page, CurrentYearCurvesStopAtTheCompletedMonth) {
    values::PeriodValueStore st = tables();
    for (int m = 1; m <= 12; ++m)
        for (int sr = 1; sr <= 6; ++sr)
            st.GraphValues.at(m, sr) = 1000 * sr + 10 * m;
    // Lines of the panel-1 curves and markers drawn with a series pen.
    auto draw = [&](QDate day, quint32 colour, double width) {
        surface.BeginDocument();
        DrawGraph(kLeft, kTop, kWidth, kHeight, surface, st, inputs(day));
        int lines = 0, markers = 0;
        for (const print::Op& op : surface.displayList()) {
            if (op.state.penColour != colour || op.state.penWidth != width) continue;
            lines += op.kind == print::OpKind::Line && op.y1 < 156 * 57;
            markers += op.kind == print::OpKind::Circle;
        }
        return std::pair{lines, markers};
    };
    // January, calendar year: one marker at January, a segment of no length.
    EXPECT_EQ(draw(QDate(2024, 1, 10), 255, 57), std::pair(1, 1));
    const print::Op& only = surface.displayList().front();
    EXPECT_EQ(std::pair(only.x1, only.y1), std::pair(only.x2, only.y2));
    for (const print::Op& op : surface.displayList())
        if (op.kind == print::OpKind::Circle && op.state.penWidth == 57) {
            EXPECT_EQ(std::pair(op.x, op.r), std::pair((kLeft + c / 2) * 57, 57.0));
        }
    // The previous year keeps all twelve months.
    EXPECT_EQ(draw(QDate(2024, 1, 10), 0xFF0000, 43).first, 12);
    // June, calendar year: five completed months; series 4 in panel 2 too.
    EXPECT_EQ(draw(QDate(2024, 6, 3), 255, 57).second, 5);
    EXPECT_EQ(draw(QDate(2024, 6, 3), 255, 28).second, 5);
    // January, fiscal year: March .. December, ten months.
    st.YearMode = 1;
    EXPECT_EQ(draw(QDate(2024, 1, 10), 255, 57).second, 10);
}

TEST_F(Page, HeaderTexts) {
    values::PeriodValueStore st = tables();
    PageInputs in = inputs();
    auto header = [&] {
        surface.BeginDocument();
        DrawPageHeader(kLeft, kTop, kWidth, kHeight, surface, st, in);
        QStringList out;
        for (const print::Op& op : texts())
            out << op.text;
        return out.join(QLatin1Char('|')).toStdString();
    };
    // No filter: the selection line is empty, its frame is still drawn.
    ASSERT_EQ(header(), "Tallvero||Jahresmittelwerte Monatilcher Wert in €|Umsatz|Deckungsbeitrag");
    const auto t = texts();
    EXPECT_EQ(std::tuple(t[0].state.fontPoints, t[0].y, t[1].state.penStyle, t[1].y),
              std::tuple(16.0, 15 * 57.0, int(print::PenSolid), 21.5 * 57));
    EXPECT_EQ(std::tuple(t[2].state.rotation, t[2].x, t[2].w),
              std::tuple(900, (kLeft - 36) * 57, kHeight * 57));
    EXPECT_EQ(surface.textRotation(), 0);

    // Cash discount and rebate, DB percent, absolute view.
    in.SHGRP = QStringLiteral("20 Armaturen");
    in.auswahlChecked = in.dbPercent = true;
    st.DisplayMode = 1;
    st.GraphMode = 2;
    EXPECT_EQ(header(), "Tallvero|HG:20 Armaturen |Absolut Monatilcher Wert in €|Skonto|"
                        "Nachlass in % von Umsatz");
}

TEST_F(Page, AxisLabelsAndGrid) {
    auto labels = [&] {
        QStringList out;
        for (const print::Op& op : texts())
            if (op.state.align == print::AlignRight) out << op.text;
        return out;
    };
    table(tables()); // nothing fetched: 0 .. 1 in eleven steps
    EXPECT_EQ(std::tuple(axes.panel[0].AxisMax, axes.panel[0].AxisMin, axes.panel[0].N),
              std::tuple(1, 0, 11));
    const QStringList empty = labels(); // twelve lines per panel
    EXPECT_EQ(std::tuple(empty.size(), empty.count(QStringLiteral("0 €")),
                         empty.count(QStringLiteral("1 €"))),
              std::tuple(24, 12, 12));
    int dotted = 0; // one minor line in each of the eleven intervals
    for (const print::Op& op : surface.displayList())
        dotted += op.kind == print::OpKind::Line && op.state.penStyle == print::PenDot;
    EXPECT_EQ(dotted, 22);

    // Percent labels in panel 2 with the DB-percent tick.
    values::PeriodValueStore pct = tables();
    for (int m = 1; m <= 12; ++m) {
        pct.GraphValues.at(m, 5) = 25;
        pct.GraphValues.at(m, 6) = 1500;
        pct.GraphValues.at(m, 2) = 80000;
    }
    PageInputs in = inputs();
    in.dbPercent = true;
    table(pct, in);
    EXPECT_TRUE(labels().contains(QStringLiteral("81.000 €"))); // panel 1 keeps euros
    EXPECT_TRUE(labels().contains(QStringLiteral("1600%")));    // panel 2's top, not grouped
}

// A whole page at 40 dpi against the reference image: catches gross
// rendering faults (a missing panel, a shifted table, black fills), not
// single pixels.
TEST_F(Page, FullPageLooksLikeTheReference) {
    values::PeriodValueStore st;
    st.PeriodValues.dimension(1, 72, 1, 2);
    st.MonthYearValues.dimension(1, 12, 1, 6);
    for (int n = 1; n <= 64; ++n) {
        const double season = 1 + 0.3 * std::sin((n % 12) / 12.0 * 6.283);
        st.PeriodValues.at(n, 1) = (800000 + 6000 * n) * season;
        st.PeriodValues.at(n, 2) = (200000 + 1500 * n) * season;
    }
    PageInputs in = inputs();
    in.SHGRP = QStringLiteral("20 Armaturen");
    Zeichnen(surface, st, in);
    const QImage got =
        print::renderImage(surface.displayList(), 40).convertToFormat(QImage::Format_RGB32);
    const QString path = QStringLiteral(TALLVERO_TEST_DATA "/page-40dpi.png");
    if (qEnvironmentVariable("TALLVERO_UPDATE_GOLDEN") == QLatin1String("1")) got.save(path);
    const QImage want = QImage(path).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(got.size(), want.size()) << path.toStdString();
    double diff = 0, far = 0;
    for (int y = 0; y < got.height(); ++y)
        for (int x = 0; x < got.width(); ++x) {
            const QRgb a = got.pixel(x, y), b = want.pixel(x, y);
            const int d = std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                          std::abs(qBlue(a) - qBlue(b));
            diff += d;
            far += d > 300;
        }
    const double pixels = double(got.width()) * got.height();
    EXPECT_LT(diff / pixels, 6.0); // mean difference per pixel, of 765
    EXPECT_LT(far / pixels, 0.02); // at most 2 % of the pixels really differ
}
