// Value cells and the derived tables: the worked example, the running
// month in calendar and fiscal year, empty cells against zeros.

#include "values/ValueStore.h"

#include <cmath>
#include <gtest/gtest.h>
#include <random>

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

// Every month of the six years filled: revenue = slot * 10, margin = slot.
PeriodValueStore complete(int upToSlot = 72) {
    PeriodValueStore s = fetched();
    for (int n = 1; n <= upToSlot; ++n)
        set(s, n, n * 10.0, n);
    return s;
}

double v(const Table& t, int r, int c) {
    EXPECT_FALSE(t(r, c).isEmpty()) << "cell " << r << "," << c;
    return t(r, c).value();
}

} // namespace

TEST(Cell, EmptyIsNotZero) {
    const Cell e, z(0.0), x(5.0);
    EXPECT_TRUE(e.isEmpty());
    EXPECT_FALSE(z.isEmpty());
    EXPECT_FALSE(e == z);
    // Empty counts as 0 in arithmetic and gives a number.
    EXPECT_EQ(e + x, Cell(5.0));
    EXPECT_EQ(e + e, Cell(0.0));
    EXPECT_FALSE((e + e).isEmpty());
    EXPECT_EQ(e / x, Cell(0.0));
    EXPECT_THROW(x / e, CellFailure);
    EXPECT_THROW(x / z, CellFailure);
    EXPECT_THROW(z / z, CellFailure);

    Table t;
    EXPECT_FALSE(t.hasCells());
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
    const double u[] = {100, 200, 300, 400}, db[] = {10, 20, 30, 40};
    for (int m = 1; m <= 4; ++m)
        set(s, 48 + m, u[m - 1], db[m - 1]);
    set(s, 46, 40, 4);
    set(s, 47, 50, 5);
    set(s, 48, 60, 6);

    AbsolutMittel(s, 6, false);
    for (int m = 1; m <= 4; ++m) {
        EXPECT_EQ(v(s.MonthYearValues, m, 2), u[m - 1]);
        EXPECT_EQ(v(s.MonthYearValues, m, 5), db[m - 1]);
    }
    const double cum[] = {100, 300, 600, 1000};
    for (int m = 1; m <= 4; ++m)
        EXPECT_EQ(v(s.CumulativeValues, m, 2), cum[m - 1]);
    EXPECT_EQ(v(s.CumulativeValues, 12, 2), 1000);
    EXPECT_TRUE(s.CumulativeValues(0, 2).isEmpty()); // month 0 is never written
    const double mean[] = {100, 150, 200, 250};
    for (int m = 1; m <= 4; ++m)
        EXPECT_EQ(v(s.GraphValues, m, 2), mean[m - 1]);

    s.GraphMode = 1;
    AbsolutMittel(s, 6, false);
    EXPECT_EQ(v(s.GraphValues, 1, 2), (100 + 60 + 50 + 40) / 4.0);
    EXPECT_EQ(v(s.GraphValues, 4, 2), 250);

    s.GraphMode = 2;
    AbsolutMittel(s, 6, true);
    for (int m = 1; m <= 4; ++m)
        EXPECT_DOUBLE_EQ(v(s.GraphValues, m, 5), 10);
    EXPECT_EQ(v(s.GraphValues, 2, 2), 200); // revenue itself is untouched
    // Months without revenue or margin: the division fails, the cell stays empty.
    EXPECT_TRUE(s.GraphValues(6, 5).isEmpty());
}

TEST(AbsolutMittel, ClockInMarchCalendarYear) {
    PeriodValueStore s = complete(63); // fetched up to March of year slot 6
    AbsolutMittel(s, 3, false);
    EXPECT_EQ(v(s.CumulativeValues, 1, 1), 610);
    EXPECT_EQ(v(s.CumulativeValues, 2, 1), 610 + 620);
    EXPECT_EQ(v(s.CumulativeValues, 3, 1), 0); // the running month is left out
    for (int m = 4; m <= 12; ++m)
        EXPECT_EQ(v(s.CumulativeValues, m, 1), 0) << m;
    EXPECT_EQ(v(s.MonthYearValues, 3, 1), 630); // the incomplete month itself
    EXPECT_TRUE(s.MonthYearValues(4, 1).isEmpty());
    // Yearly mean: January and February only.
    EXPECT_EQ(v(s.GraphValues, 1, 1), 610);
    EXPECT_EQ(v(s.GraphValues, 2, 1), 615);
    EXPECT_EQ(v(s.GraphValues, 2, 4), 61.5);
    for (int m = 3; m <= 12; ++m) {
        EXPECT_TRUE(s.GraphValues(m, 1).isEmpty()) << m;
        EXPECT_TRUE(s.GraphValues(m, 4).isEmpty()) << m;
    }
    s.GraphMode = 1;
    AbsolutMittel(s, 3, false);
    EXPECT_EQ(v(s.GraphValues, 2, 1), (620 + 610 + 600 + 590) / 4.0);
    EXPECT_TRUE(s.GraphValues(3, 1).isEmpty());
    s.GraphMode = 2;
    AbsolutMittel(s, 3, false);
    EXPECT_EQ(v(s.GraphValues, 3, 1), 630);
    EXPECT_TRUE(s.GraphValues(4, 1).isEmpty());
}

TEST(AbsolutMittel, ClockInJanuaryAndDecember) {
    PeriodValueStore s = complete(61);
    for (int mode = 0; mode <= 1; ++mode) {
        s.GraphMode = mode;
        AbsolutMittel(s, 1, false);
        for (int m = 1; m <= 12; ++m) {
            EXPECT_TRUE(s.GraphValues(m, 1).isEmpty()) << mode << " " << m;
            EXPECT_TRUE(s.GraphValues(m, 4).isEmpty()) << mode << " " << m;
            EXPECT_EQ(v(s.CumulativeValues, m, 1), 0);
            EXPECT_EQ(v(s.CumulativeValues, m, 4), 0);
            EXPECT_FALSE(s.GraphValues(m, 2).isEmpty()); // the previous year is whole
        }
    }
    PeriodValueStore d = complete(72);
    AbsolutMittel(d, 12, false);
    EXPECT_EQ(v(d.GraphValues, 11, 1), (610.0 + 710.0) / 2); // mean of slots 61..71
    EXPECT_TRUE(d.GraphValues(12, 1).isEmpty());
    EXPECT_EQ(v(d.CumulativeValues, 11, 1), (610.0 + 710.0) * 11 / 2);
    EXPECT_EQ(v(d.CumulativeValues, 12, 1), 0);
}

TEST(AbsolutMittel, FiscalYearStartsInMarch) {
    PeriodValueStore s = complete(72);
    s.YearMode = 1;
    AbsolutMittel(s, 12, false);
    // Fiscal month 1 is March; 11 and 12 fall past the stored years.
    EXPECT_EQ(v(s.MonthYearValues, 1, 1), 630);
    EXPECT_EQ(v(s.MonthYearValues, 10, 1), 720);
    EXPECT_TRUE(s.MonthYearValues(11, 1).isEmpty());
    EXPECT_TRUE(s.MonthYearValues(12, 4).isEmpty());
    EXPECT_EQ(v(s.MonthYearValues, 11, 2), 610); // previous fiscal year's January
    // The running month December is fiscal month 10: left out of the sums.
    EXPECT_EQ(v(s.CumulativeValues, 9, 1), (630.0 + 710.0) * 9 / 2);
    EXPECT_EQ(v(s.CumulativeValues, 10, 1), 0);
    EXPECT_EQ(v(s.GraphValues, 9, 1), (630.0 + 710.0) / 2);
    EXPECT_TRUE(s.GraphValues(10, 1).isEmpty());

    // Clock in January or February: the current fiscal year has not begun.
    for (int c : {1, 2}) {
        PeriodValueStore j = complete(60 + c);
        j.YearMode = 1;
        AbsolutMittel(j, c, false);
        for (int m = 1; m <= 12; ++m) {
            EXPECT_TRUE(j.GraphValues(m, 1).isEmpty()) << c << " " << m;
            EXPECT_TRUE(j.MonthYearValues(m, 1).isEmpty()) << c << " " << m;
        }
    }
}

TEST(AbsolutMittel, EmptyMonthsAndMeans) {
    PeriodValueStore s = fetched();
    // Previous year: only January and March have figures.
    set(s, 49, 300, 30);
    set(s, 51, 600, 60);
    AbsolutMittel(s, 6, false);
    EXPECT_EQ(v(s.GraphValues, 2, 2), 150); // the empty February counts in the divisor
    EXPECT_EQ(v(s.GraphValues, 3, 2), 300);
    EXPECT_TRUE(s.MonthYearValues(2, 2).isEmpty());

    // Three-year mean with one year before the data: still divided by 3.
    set(s, 37, 90, 9);
    set(s, 25, 60, 6);
    AbsolutMittel(s, 6, false);
    EXPECT_EQ(v(s.MonthYearValues, 1, 3), 50);
    EXPECT_EQ(v(s.MonthYearValues, 1, 6), 5);
    EXPECT_EQ(v(s.MonthYearValues, 2, 3), 0); // all three empty: a number 0
    EXPECT_EQ(v(s.GraphValues, 1, 3), 50);    // running mean of the three-year mean
    EXPECT_EQ(v(s.GraphValues, 2, 3), 25);

    // DB percent with empty cells: fails, stays empty; with figures it divides.
    s.GraphMode = 2;
    AbsolutMittel(s, 6, true);
    EXPECT_DOUBLE_EQ(v(s.GraphValues, 1, 5), 10);
    EXPECT_TRUE(s.GraphValues(2, 5).isEmpty());
    EXPECT_DOUBLE_EQ(v(s.GraphValues, 1, 6), 10);
    // Margin without revenue: the division fails and the amount stays.
    set(s, 50, 0, 7);
    AbsolutMittel(s, 6, true);
    EXPECT_EQ(v(s.GraphValues, 2, 5), 7);
}

TEST(AbsolutMittel, BeforeTheFirstFetchNothingStops) {
    PeriodValueStore s;
    AbsolutMittel(s, 5, true);
    EXPECT_FALSE(s.MonthYearValues.hasCells());
    ASSERT_TRUE(s.CumulativeValues.hasCells());
    ASSERT_TRUE(s.GraphValues.hasCells());
    // The sums from PeriodValues failed; the zeros set before them stand,
    // and a running mean of nothing is 0.
    EXPECT_EQ(v(s.CumulativeValues, 1, 2), 0);
    EXPECT_EQ(v(s.CumulativeValues, 12, 6), 0);
    EXPECT_EQ(v(s.GraphValues, 7, 2), 0);
    s.GraphMode = 2;
    AbsolutMittel(s, 5, false);
    EXPECT_TRUE(s.GraphValues(1, 1).isEmpty());
}

// The last-quarter view against a direct computation on random figures.
TEST(AbsolutMittel, LastQuarterAgainstDirectSums) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> d(-500, 5000);
    for (int round = 0; round < 20; ++round) {
        PeriodValueStore s = fetched();
        for (int n = 1; n <= 72; ++n)
            if (d(rng) % 7 != 0) set(s, n, d(rng), d(rng));
        const int c = 1 + round % 12;
        s.GraphMode = 1;
        s.YearMode = round % 2;
        const int h = s.YearMode ? 2 : 0;
        AbsolutMittel(s, c, false);
        for (int m = 1; m <= 12; ++m) {
            double sum = 0, mean3 = 0;
            for (int q = 0; q <= 3; ++q) {
                sum += s.PeriodValues(48 + m - q + h, 1).value();
                const int t = m - q + h;
                mean3 += (s.PeriodValues(36 + t, 1).value() + s.PeriodValues(24 + t, 1).value() +
                          s.PeriodValues(12 + t, 1).value()) /
                         3;
            }
            EXPECT_NEAR(v(s.GraphValues, m, 2), sum / 4, 1e-9);
            EXPECT_NEAR(v(s.GraphValues, m, 3), mean3 / 4, 1e-9);
            EXPECT_EQ(s.GraphValues(m, 1).isEmpty(), c - 1 < m + h) << c << " " << m;
        }
    }
}
