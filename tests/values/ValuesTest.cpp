// Value cells and the derived tables: the worked example, the running
// month in calendar and fiscal year, empty cells against zeros.

#include "values/ValueStore.h"

#include <QStringList>
#include <gtest/gtest.h>

using namespace values;

namespace {

// A store with PeriodValues dimensioned and every cell empty.
PeriodValueStore fetched() {
    PeriodValueStore s;
    s.PeriodValues.dimension(1, 72, 1, 2);
    s.MonthYearValues.dimension(1, 12, 1, 6);
    return s;
}

void set(PeriodValueStore& s, int slot, double u, double db) {
    s.PeriodValues.at(slot, 1) = u;
    s.PeriodValues.at(slot, 2) = db;
}

// Months first..last of one column, "-" for an empty cell.
std::string col(const Table& t, int c, int first = 1, int last = 12) {
    QStringList out;
    for (int m = first; m <= last; ++m)
        out << (t(m, c).isEmpty() ? "-" : QString::number(t(m, c).value(), 'g', 12));
    return out.join(QLatin1Char(' ')).toStdString();
}

const char* const kNone = "- - - - - - - - - - - -";
const char* const kZeros = "0 0 0 0 0 0 0 0 0 0 0 0";

} // namespace

TEST(Cell, EmptyIsNotZero) {
    const Cell e, z(0.0), x(5.0);
    EXPECT_TRUE(e.isEmpty() && !z.isEmpty() && !(e == z));
    // Empty counts as 0 in arithmetic and gives a number.
    EXPECT_EQ(e + x, Cell(5.0));
    EXPECT_EQ(e + e, Cell(0.0));
    EXPECT_EQ(e / x, Cell(0.0));
    EXPECT_THROW(x / e, CellFailure);
    EXPECT_THROW(x / z, CellFailure);

    Table t;
    EXPECT_THROW(t(1, 1), CellFailure);
    t.dimension(0, 12, 1, 6);
    EXPECT_TRUE(t(0, 1).isEmpty());
    EXPECT_THROW(t(13, 1), CellFailure);
    EXPECT_THROW(t(1, 7), CellFailure);
    t.at(3, 2) = 4.0;
    t.empty();
    EXPECT_TRUE(t(3, 2).isEmpty());
}

// Previous year: January to April 100..400 / 10..40, October to December
// of the year before 40, 50, 60.
TEST(AbsolutMittel, WorkedExample) {
    PeriodValueStore s = fetched();
    for (int m = 1; m <= 4; ++m)
        set(s, 48 + m, 100.0 * m, 10.0 * m);
    for (int n = 46; n <= 48; ++n)
        set(s, n, 10.0 * (n - 42), n - 42);

    AbsolutMittel(s, 6, false);
    EXPECT_EQ(col(s.MonthYearValues, 2), "100 200 300 400 - - - - - - - -");
    EXPECT_EQ(col(s.MonthYearValues, 5), "10 20 30 40 - - - - - - - -");
    EXPECT_EQ(col(s.CumulativeValues, 2),
              "100 300 600 1000 1000 1000 1000 1000 1000 1000 1000 1000");
    EXPECT_TRUE(s.CumulativeValues(0, 2).isEmpty()); // month 0 is never written
    EXPECT_EQ(col(s.GraphValues, 2, 1, 4), "100 150 200 250");

    s.GraphMode = 1; // reaches back into October .. December
    AbsolutMittel(s, 6, false);
    EXPECT_EQ(col(s.GraphValues, 2, 1, 4), "62.5 102.5 165 250");

    // DB percent: months without revenue or margin fail and stay empty.
    s.GraphMode = 2;
    AbsolutMittel(s, 6, true);
    EXPECT_EQ(col(s.GraphValues, 5), "10 10 10 10 - - - - - - - -");
    EXPECT_EQ(col(s.GraphValues, 2), "100 200 300 400 - - - - - - - -");
}

// Every slot filled up to the fetched one (revenue = slot * 10, margin =
// slot); the clock month is running.
TEST(AbsolutMittel, RunningMonthInCalendarAndFiscalYear) {
    struct Row {
        int upTo, clock, yearMode, graphMode;
        const char* cells; // each: table (A month-year, C cumulative, G graph) and series
        const char* want;
    };
    const Row rows[] = {
        // March: the running month is left out of sums and means, shown as itself.
        {63, 3, 0, 0, "C1", "610 1230 0 0 0 0 0 0 0 0 0 0"},
        {63, 3, 0, 0, "A1", "610 620 630 - - - - - - - - -"},
        {63, 3, 0, 0, "G1", "610 615 - - - - - - - - - -"},
        {63, 3, 0, 0, "G4", "61 61.5 - - - - - - - - - -"},
        {63, 3, 0, 1, "G1", "595 605 - - - - - - - - - -"},
        {63, 3, 0, 2, "G1", "610 620 630 - - - - - - - - -"},
        // January: no current-year curve at all; the previous year is whole.
        {61, 1, 0, 0, "G1 G4", kNone},
        {61, 1, 0, 1, "G1 G4", kNone},
        {61, 1, 0, 0, "C1 C4", kZeros},
        {61, 1, 0, 0, "G2", "490 495 500 505 510 515 520 525 530 535 540 545"},
        {61, 1, 0, 1, "G2", "475 485 495 505 515 525 535 545 555 565 575 585"},
        // December: up to November.
        {72, 12, 0, 0, "G1", "610 615 620 625 630 635 640 645 650 655 660 -"},
        {72, 12, 0, 0, "C1", "610 1230 1860 2500 3150 3810 4480 5160 5850 6550 7260 0"},
        // Fiscal month 1 is March; 11 and 12 fall past the stored years, and
        // the running December is fiscal month 10.
        {72, 12, 1, 0, "A1", "630 640 650 660 670 680 690 700 710 720 - -"},
        {72, 12, 1, 0, "A4", "63 64 65 66 67 68 69 70 71 72 - -"},
        {72, 12, 1, 0, "A2", "510 520 530 540 550 560 570 580 590 600 610 620"},
        {72, 12, 1, 0, "C1", "630 1270 1920 2580 3250 3930 4620 5320 6030 0 0 0"},
        {72, 12, 1, 0, "G1", "630 635 640 645 650 655 660 665 670 - - -"},
        {72, 12, 1, 1, "G1", "615 625 635 645 655 665 675 685 695 - - -"},
        {72, 12, 1, 1, "G3", "255 265 275 285 295 305 315 325 335 345 355 365"},
        // Clock in January or February: the current fiscal year has not begun.
        {61, 1, 1, 0, "G1 A1", kNone},
        {62, 2, 1, 0, "G1 A1", kNone},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        PeriodValueStore s = fetched();
        for (int n = 1; n <= r.upTo; ++n)
            set(s, n, n * 10.0, n);
        s.YearMode = r.yearMode;
        s.GraphMode = r.graphMode;
        AbsolutMittel(s, r.clock, false);
        for (const QString& c : QString::fromLatin1(r.cells).split(QLatin1Char(' '))) {
            const Table& t = c[0] == 'A'   ? s.MonthYearValues
                             : c[0] == 'C' ? s.CumulativeValues
                                           : s.GraphValues;
            EXPECT_EQ(col(t, c[1].digitValue()), r.want) << c.toStdString();
        }
    }
}

TEST(AbsolutMittel, EmptyMonthsMeansAndNoFetch) {
    PeriodValueStore s = fetched();
    // Previous year: only January and March; the empty February counts in the divisor.
    set(s, 49, 300, 30);
    set(s, 51, 600, 60);
    AbsolutMittel(s, 6, false);
    EXPECT_EQ(col(s.GraphValues, 2, 1, 3), "300 150 300");
    EXPECT_EQ(col(s.MonthYearValues, 2, 1, 3), "300 - 600");

    // Three-year mean with one year before the data: still divided by 3;
    // all three empty gives a number 0.
    set(s, 37, 90, 9);
    set(s, 25, 60, 6);
    AbsolutMittel(s, 6, false);
    EXPECT_EQ(col(s.MonthYearValues, 3, 1, 2), "50 0");
    EXPECT_EQ(col(s.MonthYearValues, 6, 1, 2), "5 0");
    EXPECT_EQ(col(s.GraphValues, 3, 1, 2), "50 25"); // running mean of the three-year mean

    // DB percent with empty cells fails and stays empty; with figures it divides.
    s.GraphMode = 2;
    AbsolutMittel(s, 6, true);
    EXPECT_EQ(col(s.GraphValues, 5, 1, 2), "10 -");
    EXPECT_EQ(col(s.GraphValues, 6, 1, 1), "10");
    // Margin without revenue: the division fails and the amount stays.
    set(s, 50, 0, 7);
    AbsolutMittel(s, 6, true);
    EXPECT_EQ(col(s.GraphValues, 5, 2, 2), "7");

    // Before the first fetch nothing stops: the sums from PeriodValues fail,
    // the zeros set before them stand, and a running mean of nothing is 0.
    s = PeriodValueStore();
    AbsolutMittel(s, 5, true);
    EXPECT_FALSE(s.MonthYearValues.hasCells());
    ASSERT_TRUE(s.CumulativeValues.hasCells() && s.GraphValues.hasCells());
    EXPECT_EQ(col(s.CumulativeValues, 2), kZeros);
    EXPECT_EQ(col(s.CumulativeValues, 6), kZeros);
    EXPECT_EQ(col(s.GraphValues, 2, 7, 7), "0");
    s.GraphMode = 2;
    AbsolutMittel(s, 5, false);
    EXPECT_TRUE(s.GraphValues(1, 1).isEmpty());
}
