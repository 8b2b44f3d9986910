// Axis range, step rule, number formats and the header's selection line.

#include "report/Page.h"

#include <QLocale>
#include <gtest/gtest.h>

using namespace report;

namespace {

// ComputeAxisRange over panel 1 of a store whose series 1..3 hold `low`
// in every month and `high` in May of series 3 (nothing when both are 0).
std::pair<qint32, qint32> rangeOf(double low, double high) {
    values::PeriodValueStore s;
    s.GraphValues.dimension(1, 12, 1, 6);
    for (int m = 1; m <= 12; ++m)
        for (int sr = 1; sr <= 3 && (low != 0 || high != 0); ++sr)
            s.GraphValues.at(m, sr) = m == 5 && sr == 3 ? high : low;
    qint32 max = 0, min = 0;
    ComputeAxisRange(s, 1, 3, 12, max, min);
    return {max, min};
}

} // namespace

// One row per branch of the rounding: the maximum's first two digits plus
// one, the minimum's rounded down to a 5 or a 0, and reduced to one digit
// when the maximum is longer.
TEST(AxisRange, RoundsBothEnds) {
    const struct {
        double low, high;
        qint32 max, min;
    } rows[] = {
        {0, 0, 1, 0},                   // nothing fetched
        {45678, 123456, 130000, 40000}, // 45000, then one digit
        {45678, 120000, 130000, 40000}, // 120000 rounds up as well
        {-2345, 250000, 260000, -3000}, // a negative minimum rounds away from zero
        {47000, 90000, 91000, 45000},
        {43000, 99500, 100000, 40000},
        {40000, 90000, 91000, 40000},
        {7, 9, 10, 5},
        {3, 9, 10, 3},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(rangeOf(r.low, r.high), std::pair(r.max, r.min)) << r.low << " " << r.high;
    }
    // The current year (series 1) counts only its completed months: May of
    // series 3 still counts, series 1 in January .. completed does.
    values::PeriodValueStore s;
    s.GraphValues.dimension(1, 12, 1, 6);
    s.GraphValues.at(1, 1) = 500;
    s.GraphValues.at(2, 1) = 900000;
    s.GraphValues.at(1, 2) = 400;
    for (const auto& [completed, max] : {std::pair{1, 510}, {2, 910000}, {0, 410}}) {
        qint32 got = 0, min = 1;
        ComputeAxisRange(s, 1, 3, completed, got, min);
        EXPECT_EQ(std::pair(got, min), std::pair(max, 0)) << completed; // empty cells count as 0
    }
}

// The step count must not depend on the locale: V is measured as written
// with the decimal separator only, never with a thousands separator.
TEST(StepRule, ExamplesInEveryLocale) {
    const struct {
        qint32 max, min;
        int N;
        double V;
    } rows[] = {
        {1, 0, 11, 1.0 / 11},      // nothing fetched: 10, 12 after step 5, 11
        {90000, 0, 9, 10000},      //
        {89000, 0, 4, 22250},      // 5, 6, then 4: V = 14833.33 has decimals
        {130000, 40000, 9, 10000}, // values 45678 .. 123456
        {260000, -3000, 8, 32875}, // -2345 with a six-digit maximum
        {11000, 0, 5, 2200},
        {44000, 0, 5, 8800},
        {9600, 0, 6, 1600},
        {20100, 0, 3, 6700},                              // 2, 3 (10050 mod 1000), 6700 mod 100 = 0
        {2100000000, -2100000000, 11, 4200000000.0 / 11}, // V * 10 beyond 32 bits
    };
    for (const QLocale& l : {QLocale(QLocale::German, QLocale::Germany),
                             QLocale(QLocale::English, QLocale::UnitedStates), QLocale::c()}) {
        QLocale::setDefault(l);
        for (const auto& r : rows) {
            int N = 0;
            double V = 0;
            StepRule(r.max, r.min, N, V);
            // V is the same quotient as the row's, so it compares exactly.
            EXPECT_EQ(std::pair(N, V), std::pair(r.N, r.V))
                << l.name().toStdString() << " " << r.max << " " << r.min;
        }
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
}

// "#,##0", "0%" and "#0.00%" in the locale's own separators.
TEST(Formats, AmountsGroupPercentagesDoNot) {
    const QLocale de(QLocale::German, QLocale::Germany),
        us(QLocale::English, QLocale::UnitedStates);
    const struct {
        QLocale locale;
        double v;
        const char* want; // amount, percent, percent with two decimals
    } rows[] = {
        {de, 0, "0 0% 0,00%"},
        {de, -1234.5, "-1.235 -123450% -123450,00%"},
        {de, -0.2345, "0 -23% -23,45%"},
        {de, 12.3456, "12 1235% 1234,56%"},
        {de, 1234567.8, "1.234.568 123456780% 123456780,00%"},
        {us, 1234.5, "1,235 123450% 123450.00%"},
        {QLocale::c(), 1234567.8, "1234568 123456780% 123456780.00%"},
    };
    for (const auto& r : rows) {
        QLocale::setDefault(r.locale);
        const QStringList got{formatAmount(r.v), formatPercent(r.v), formatPercent2(r.v)};
        EXPECT_EQ(got.join(QLatin1Char(' ')).toStdString(), r.want)
            << r.locale.name().toStdString();
    }
    QLocale::setDefault(de);
    // Completed months by year mode and clock month; fiscal January is month 10.
    const int completed[][3] = {{0, 1, 0},  {0, 7, 6}, {1, 1, 10},
                                {1, 2, 11}, {1, 3, 0}, {1, 12, 9}};
    for (const auto& [mode, month, want] : completed)
        EXPECT_EQ(CompletedMonths(mode, month), want) << mode << " " << month;
}

// Each step adds to the inputs of the step before.
TEST(SelectionLine, Rules) {
    PageInputs in;
    in.Firma = in.SFirma = "1";
    EXPECT_EQ(SelectionLine(in), QString()); // the user's own company and no filter
    in.SFirma = "2", in.SPG = "P Privat", in.SPCNR = "1 Stammhaus", in.SHABT = "10 Haustechnik";
    EXPECT_EQ(SelectionLine(in), "Firma: 2 HKG:P Privat HABT:10 Haustechnik ");
    // A department suppresses main department and profit centre.
    in.SABTNR = "M2 Heizung", in.SHGRP = "30 Heizung", in.SUGRP = "3001 Kessel", in.SHVArt = "L";
    EXPECT_EQ(SelectionLine(in),
              "Firma: 2 HKG:P Privat ABT:M2 Heizung HG:30 Heizung UG:3001 Kessel "
              "HVArt:L ");
    // A shipping type replaces HVArt, but shows only with the extended
    // selection ticked.
    in.SFirma = in.Firma, in.SPG.clear(), in.SVART = "01 Abholung Lager", in.SSTyp = "A";
    EXPECT_EQ(SelectionLine(in), "ABT:M2 Heizung HG:30 Heizung UG:3001 Kessel ");
    in.auswahlChecked = true;
    EXPECT_EQ(SelectionLine(in), "ABT:M2 Heizung HG:30 Heizung UG:3001 Kessel SVArt:01 Abholung "
                                 "Lager STyp:A ");
}
