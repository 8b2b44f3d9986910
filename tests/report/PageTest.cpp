// The report page on the recording surface: geometry, cell texts of every
// table mode, titles and footer, the cut of the current-year curves, the
// header, and one full page against a reference image.

#include "report/Page.h"

#include "platform/print/Export.h"
#include "platform/print/RecordingSurface.h"

#include <QFile>
#include <QImage>
#include <QLocale>
#include <cmath>
#include <gtest/gtest.h>

using namespace report;

namespace {

constexpr double c = kWidth / 12;

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

// Text ops in drawing order.
std::vector<print::Op> texts(const print::RecordingSurface& s) {
    std::vector<print::Op> out;
    for (const print::Op& op : s.displayList())
        if (op.kind == print::OpKind::Text) out.push_back(op);
    return out;
}

const print::Op* textAt(const print::RecordingSurface& s, double xMm, double yMm) {
    for (const print::Op& op : s.displayList())
        if (op.kind == print::OpKind::Text && std::abs(op.x - xMm * 57) < 0.01 &&
            std::abs(op.y - yMm * 57) < 0.01)
            return &op;
    return nullptr;
}

// The value cell of month j and series s.
QString cell(const print::RecordingSurface& s, int j, int sr) {
    const print::Op* op = textAt(s, kLeft + (j - 1) * c, kTop + kHeight + 6 * sr);
    return op ? op->text : QStringLiteral("<none>");
}

class Page : public ::testing::Test {
protected:
    void SetUp() override { QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany)); }
    void table(const values::PeriodValueStore& st, const PageInputs& in = inputs()) {
        surface.BeginDocument();
        DrawValueTable(kLeft, kTop, kWidth, kHeight, surface, st, in);
        surface.EndDocument();
    }
    print::RecordingSurface surface;
};

} // namespace

TEST_F(Page, TableGeometry) {
    table(tables());
    // Month header: column k at left + k c, 6 mm high, times 57.
    const print::Op* jan = textAt(surface, kLeft, kTop + kHeight);
    ASSERT_NE(jan, nullptr);
    EXPECT_EQ(jan->text, QStringLiteral("Jänner"));
    EXPECT_NEAR(jan->w, c * 57, 1e-9);
    EXPECT_NEAR(jan->h, 6 * 57, 1e-9);
    EXPECT_EQ(jan->state.align, print::AlignCenter);
    EXPECT_EQ(jan->state.fontFace, QStringLiteral("Arial"));
    EXPECT_EQ(jan->state.fontPoints, 10);
    const print::Op* dec = textAt(surface, kLeft + 11 * c, kTop + kHeight);
    ASSERT_NE(dec, nullptr);
    EXPECT_EQ(dec->text, QStringLiteral("Dezember"));
    // Value rows 162 .. 192, in the series colours.
    const print::Op* v = textAt(surface, kLeft + 2 * c, 168); // series 2: blue
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->state.textColour, 0xFF0000u);
    EXPECT_TRUE(v->shaded);
    EXPECT_EQ(textAt(surface, kLeft + 2 * c, 162)->state.textColour, 255u);
    // Title cell and row labels left of the table.
    const print::Op* title = textAt(surface, kLeft - 2 * c, kTop + kHeight);
    ASSERT_NE(title, nullptr);
    EXPECT_NEAR(title->x, 12.1667 * 57, 0.1);
    EXPECT_EQ(title->state.align, print::AlignLeft);
    const print::Op* label = textAt(surface, kLeft - 2.25 * c, 162);
    ASSERT_NE(label, nullptr);
    EXPECT_NEAR(label->x, 7.4375 * 57, 0.01);
    EXPECT_NEAR(label->w, 2.25 * c * 57, 1e-9);
    EXPECT_EQ(label->text, QStringLiteral(" U KJ* 2024"));
    // Two heavy frames, 0.5 mm, around the two groups of rows.
    int frames = 0;
    for (const print::Op& op : surface.displayList())
        if (op.kind == print::OpKind::Rect && op.state.penWidth == 28.5) {
            EXPECT_NEAR(op.x1, (kLeft - 2.25 * c) * 57, 1e-6);
            EXPECT_NEAR(op.x2, (kLeft + kWidth) * 57, 1e-6);
            EXPECT_EQ(op.state.brushStyle, print::BrushHollow);
            ++frames;
        }
    EXPECT_EQ(frames, 2);
    // The first thing drawn is panel 1's base line, 0.5 mm.
    const print::Op& first = surface.displayList().front();
    EXPECT_EQ(first.kind, print::OpKind::Line);
    EXPECT_NEAR(first.y1, 88.5 * 57, 1e-6);
    EXPECT_EQ(first.state.penWidth, 28.5);
}

// The cell texts of every table mode: amounts grouped, percentages not;
// against the three-year mean (2) or the previous year (3) a zero or empty
// divisor shows 0; DB percent shows series 4..6 with two decimals.
TEST_F(Page, CellTextsOfEveryMode) {
    values::PeriodValueStore st = tables();
    for (int sr = 1; sr <= 6; ++sr) {
        st.CumulativeValues.at(3, sr) = 1234567.8 * sr;
        st.MonthYearValues.at(3, sr) = 1000.4 * sr;
    }
    const double march[] = {120, 110, 100, 30, 20, 0}; // series 6: a three-year mean of 0
    for (int sr = 1; sr <= 6; ++sr)
        st.GraphValues.at(3, sr) = march[sr - 1];
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
        table(st, in);
        EXPECT_EQ(cell(surface, r.month, r.series), QLatin1String(r.want));
    }
    // Nothing fetched: 0 everywhere, the reference rows 100%.
    for (int mode : {0, 1, 4, 2}) {
        values::PeriodValueStore empty;
        empty.TableMode = mode;
        table(empty);
        EXPECT_EQ(cell(surface, 7, 1), QStringLiteral("0")) << mode;
        EXPECT_EQ(cell(surface, 7, 5), QStringLiteral("0")) << mode;
        EXPECT_EQ(cell(surface, 7, 3), mode == 2 ? QStringLiteral("100%") : QStringLiteral("0"));
    }
}

TEST_F(Page, TitlesAndFooterInBothYearModes) {
    values::PeriodValueStore st = tables();
    const char* titles[] = {"Werte Kumuliert", "Werte Absolut", " in % v. 2020-2022",
                            " in % v. 2023", "Werte Graph"};
    for (int mode = 0; mode <= 4; ++mode) {
        st.TableMode = mode;
        table(st);
        EXPECT_EQ(textAt(surface, kLeft - 2 * c, kTop + kHeight)->text,
                  QString::fromUtf8(titles[mode]));
    }
    const print::Op* footer = textAt(surface, kLeft - 2 * c, kTop + kHeight + 42);
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
    EXPECT_EQ(textAt(surface, kLeft, kTop + kHeight)->text, QStringLiteral("März"));
    EXPECT_EQ(textAt(surface, kLeft + 10 * c, kTop + kHeight)->text, QStringLiteral("Jänner"));
    EXPECT_EQ(textAt(surface, kLeft + 11 * c, kTop + kHeight)->text, QStringLiteral("Februar"));
    EXPECT_EQ(textAt(surface, kLeft - 2.25 * c, 162 + 6 * 4)->text, QStringLiteral(" DB WJ 2023"));
    const print::Op* long_ = textAt(surface, kLeft - 2 * c, kTop + kHeight + 42);
    ASSERT_NE(long_, nullptr);
    EXPECT_TRUE(long_->text.endsWith(QStringLiteral(" *.) WJ .. Wirtschaftsjahr")));
    EXPECT_GT(long_->w, shortWidth + 2000); // grows with the name, never clipped
}

TEST_F(Page, CurrentYearCurvesStopAtTheCompletedMonth) {
    values::PeriodValueStore st = tables();
    for (int m = 1; m <= 12; ++m)
        for (int sr = 1; sr <= 6; ++sr)
            st.GraphValues.at(m, sr) = 1000 * sr + 10 * m;
    auto seriesOps = [&](quint32 colour, double width) {
        int lines = 0, markers = 0;
        for (const print::Op& op : surface.displayList()) {
            if (op.state.penColour != colour || op.state.penWidth != width) continue;
            if (op.kind == print::OpKind::Line && op.y1 < 156 * 57) ++lines;
            if (op.kind == print::OpKind::Circle) ++markers;
        }
        return std::pair{lines, markers};
    };
    auto draw = [&](QDate day) {
        surface.BeginDocument();
        DrawGraph(kLeft, kTop, kWidth, kHeight, surface, st, inputs(day));
        surface.EndDocument();
    };
    // January, calendar year: one marker at January, a segment of no length.
    draw(QDate(2024, 1, 10));
    auto [lines, markers] = seriesOps(255, 57);
    EXPECT_EQ(markers, 1);
    EXPECT_EQ(lines, 1);
    const print::Op* only = nullptr;
    for (const print::Op& op : surface.displayList())
        if (op.kind == print::OpKind::Circle && op.state.penWidth == 57) only = &op;
    ASSERT_NE(only, nullptr);
    EXPECT_NEAR(only->x, (kLeft + c / 2) * 57, 1e-6);
    EXPECT_EQ(only->r, 57);
    // The previous year keeps all twelve months.
    EXPECT_EQ(seriesOps(0xFF0000, 43).first, 12);

    // January, fiscal year: March .. December, ten months.
    st.YearMode = 1;
    draw(QDate(2024, 1, 10));
    EXPECT_EQ(seriesOps(255, 57).second, 10);
    // June, calendar year: five completed months.
    st.YearMode = 0;
    draw(QDate(2024, 6, 3));
    EXPECT_EQ(seriesOps(255, 57).second, 5);
    EXPECT_EQ(seriesOps(255, 28).second, 5); // series 4 in panel 2
}

TEST_F(Page, HeaderTexts) {
    values::PeriodValueStore st = tables();
    PageInputs in = inputs();
    in.SHGRP = QStringLiteral("20 Armaturen");
    in.SPG = QStringLiteral("P Privat");
    surface.BeginDocument();
    DrawPageHeader(kLeft, kTop, kWidth, kHeight, surface, st, in);
    surface.EndDocument();
    const auto t = texts(surface);
    ASSERT_EQ(t.size(), 5u);
    EXPECT_EQ(t[0].text, QStringLiteral("Tallvero"));
    EXPECT_EQ(t[0].state.fontPoints, 16);
    EXPECT_NEAR(t[0].y, 15 * 57, 1e-9);
    EXPECT_EQ(t[1].text, QStringLiteral("HKG:P Privat HG:20 Armaturen "));
    EXPECT_NEAR(t[1].y, 21.5 * 57, 1e-9);
    EXPECT_EQ(t[2].text, QStringLiteral("Jahresmittelwerte Monatilcher Wert in €"));
    EXPECT_EQ(t[2].state.rotation, 900);
    EXPECT_NEAR(t[2].x, (kLeft - 36) * 57, 1e-9);
    EXPECT_NEAR(t[2].w, kHeight * 57, 1e-9);
    EXPECT_EQ(t[3].text, QStringLiteral("Umsatz"));
    EXPECT_EQ(t[4].text, QStringLiteral("Deckungsbeitrag"));
    EXPECT_EQ(surface.textRotation(), 0);

    // Cash discount and rebate, DB percent, absolute view.
    in.auswahlChecked = true;
    in.dbPercent = true;
    st.DisplayMode = 1;
    st.GraphMode = 2;
    surface.BeginDocument();
    DrawPageHeader(kLeft, kTop, kWidth, kHeight, surface, st, in);
    const auto u = texts(surface);
    EXPECT_EQ(u[2].text, QStringLiteral("Absolut Monatilcher Wert in €"));
    EXPECT_EQ(u[3].text, QStringLiteral("Skonto"));
    EXPECT_EQ(u[4].text, QStringLiteral("Nachlass in % von Umsatz"));
}

TEST_F(Page, AxisLabelsAndGrid) {
    values::PeriodValueStore st = tables(); // nothing fetched: 0 .. 1 in eleven steps
    surface.BeginDocument();
    PageAxes axes;
    DrawValueTable(kLeft, kTop, kWidth, kHeight, surface, st, inputs(), &axes);
    EXPECT_EQ(axes.panel[0].AxisMax, 1);
    EXPECT_EQ(axes.panel[0].AxisMin, 0);
    EXPECT_EQ(axes.panel[0].N, 11);
    int labels = 0, zero = 0, one = 0, dotted = 0;
    for (const print::Op& op : surface.displayList()) {
        if (op.kind == print::OpKind::Text && op.state.align == print::AlignRight) {
            ++labels;
            zero += op.text == QStringLiteral("0 €");
            one += op.text == QStringLiteral("1 €");
        }
        if (op.kind == print::OpKind::Line && op.state.penStyle == print::PenDot) ++dotted;
    }
    EXPECT_EQ(labels, 24); // twelve lines per panel
    EXPECT_EQ(zero, 12);
    EXPECT_EQ(one, 12);
    EXPECT_EQ(dotted, 22); // one minor line in each of the eleven intervals

    // Percent labels in panel 2 with the DB-percent tick.
    values::PeriodValueStore pct = tables();
    for (int m = 1; m <= 12; ++m) {
        pct.GraphValues.at(m, 5) = 25;
        pct.GraphValues.at(m, 6) = 1500;
        pct.GraphValues.at(m, 2) = 80000;
    }
    PageInputs in = inputs();
    in.dbPercent = true;
    surface.BeginDocument();
    DrawValueTable(kLeft, kTop, kWidth, kHeight, surface, pct, in, &axes);
    bool euro = false, percent = false;
    for (const print::Op& op : surface.displayList())
        if (op.kind == print::OpKind::Text && op.state.align == print::AlignRight) {
            euro = euro || op.text.endsWith(QStringLiteral(" €"));
            percent = percent || op.text == QStringLiteral("1600%");
        }
    EXPECT_TRUE(euro);
    EXPECT_TRUE(percent); // the panel's top line, AxisMax 1600, not grouped
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
    ASSERT_FALSE(want.isNull()) << path.toStdString();
    ASSERT_EQ(got.size(), want.size());
    double diff = 0;
    int far = 0;
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
