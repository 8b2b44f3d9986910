// Axis range, step rule, number formats and the header's selection line.

#include "report/Page.h"

#include <QLocale>
#include <gtest/gtest.h>
#include <random>

using namespace report;

namespace {

values::PeriodValueStore withGraph(std::initializer_list<std::tuple<int, int, double>> cells) {
    values::PeriodValueStore s;
    s.GraphValues.dimension(1, 12, 1, 6);
    for (const auto& [m, sr, v] : cells)
        s.GraphValues.at(m, sr) = v;
    return s;
}

struct Range {
    qint32 max, min;
};

Range range(const values::PeriodValueStore& s, int first, int completed = 12) {
    Range r{0, 0};
    ComputeAxisRange(s, first, first + 2, completed, r.max, r.min);
    return r;
}

qint64 p10(int n) {
    qint64 p = 1;
    while (n-- > 0)
        p *= 10;
    return p;
}

int digits(qint64 v) {
    return int(QString::number(v).size());
}

// The rounding done with integers, for positive values.
Range independent(qint64 max, qint64 min) {
    Range r{};
    const int nMax = digits(max) - 2;
    r.max = qint32(nMax >= 0 ? (max / p10(nMax) + 1) * p10(nMax) : max + 1);
    const int n = digits(min) - 2;
    qint64 lo;
    if (n < 0) {
        lo = min >= 5 ? 5 : min;
    } else {
        const qint64 two = min / p10(n);
        lo = (two % 10 >= 5 ? two / 10 * 10 + 5 : two / 10 * 10) * p10(n);
    }
    if (digits(max) > digits(lo)) {
        const int m = digits(lo) - 1;
        lo = lo / p10(m) * p10(m);
    }
    r.min = qint32(lo);
    return r;
}

} // namespace

TEST(AxisRange, Examples) {
    // No data at all: 0 .. 1.
    values::PeriodValueStore zero = withGraph({});
    EXPECT_EQ(range(zero, 1).max, 1);
    EXPECT_EQ(range(zero, 1).min, 0);

    values::PeriodValueStore s = withGraph({{1, 2, 45678}, {5, 3, 123456}, {7, 2, 80000}});
    for (int m = 1; m <= 12; ++m) {
        if (s.GraphValues(m, 2).isEmpty()) s.GraphValues.at(m, 2) = 50000;
        if (s.GraphValues(m, 3).isEmpty()) s.GraphValues.at(m, 3) = 60000;
    }
    for (int m = 1; m <= 12; ++m)
        s.GraphValues.at(m, 1) = 70000;
    EXPECT_EQ(range(s, 1).max, 130000);
    EXPECT_EQ(range(s, 1).min, 40000);
    // 120000 also rounds up to 130000.
    s.GraphValues.at(5, 3) = 120000;
    EXPECT_EQ(range(s, 1).max, 130000);

    // A negative minimum rounds away from zero: -2345 with a six-digit maximum.
    values::PeriodValueStore neg = withGraph({{2, 5, -2345}, {3, 6, 250000}});
    EXPECT_EQ(range(neg, 4).min, -3000);
    EXPECT_EQ(range(neg, 4).max, 260000);

    // The current year counts only its completed months.
    values::PeriodValueStore cur =
        withGraph({{1, 1, 500}, {2, 1, 900000}, {1, 2, 400}, {1, 3, 600}});
    EXPECT_EQ(range(cur, 1, 1).max, 610);
    EXPECT_EQ(range(cur, 1, 2).max, 910000);
    EXPECT_EQ(range(cur, 1, 0).min, 0); // empty cells count as 0
}

TEST(AxisRange, RandomAgainstIntegerRounding) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> exp(0, 7);
    for (int i = 0; i < 500; ++i) {
        values::PeriodValueStore s = withGraph({});
        qint64 lo = LLONG_MAX, hi = 0;
        const qint64 scale = p10(exp(rng));
        std::uniform_int_distribution<qint64> d(1, 9 * scale + scale - 1);
        for (int m = 1; m <= 12; ++m)
            for (int sr = 1; sr <= 3; ++sr) {
                const qint64 v = d(rng);
                s.GraphValues.at(m, sr) = double(v);
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        const Range got = range(s, 1);
        const Range want = independent(hi, lo);
        EXPECT_EQ(got.max, want.max) << hi << " " << lo;
        EXPECT_EQ(got.min, want.min) << hi << " " << lo;
        EXPECT_GT(got.max, hi);
        EXPECT_LE(got.min, lo);
    }
}

TEST(StepRule, ExamplesAndInvariants) {
    // The step count must not depend on the locale: V is measured as written
    // with the decimal separator only, never with a thousands separator.
    struct Row {
        qint32 max, min;
        int N;
        double V;
    };
    const Row rows[] = {
        {1, 0, 11, 1.0 / 11},      // nothing fetched: 10, 12 after step 5, 11
        {90000, 0, 9, 10000},      //
        {89000, 0, 4, 22250},      // 5, 6, then 4: V = 14833.33 has decimals
        {130000, 40000, 9, 10000}, // values 45678 .. 123456
        {260000, -3000, 8, 32875}, // -2345 with a six-digit maximum
        {11000, 0, 5, 2200},       //
        {44000, 0, 5, 8800},       //
        {9600, 0, 6, 1600},        //
        {20100, 0, 3, 6700},       // 2, 3 (10050 mod 1000), 6700 mod 100 = 0
        {2100000000, -2100000000, 11, 4200000000.0 / 11}, // V * 10 beyond 32 bits
    };
    int N = 0;
    double V = 0;
    for (const QLocale& l : {QLocale(QLocale::German, QLocale::Germany),
                             QLocale(QLocale::English, QLocale::UnitedStates), QLocale::c()}) {
        QLocale::setDefault(l);
        for (const Row& r : rows) {
            StepRule(r.max, r.min, N, V);
            EXPECT_EQ(N, r.N) << l.name().toStdString() << " " << r.max << " " << r.min;
            EXPECT_DOUBLE_EQ(V, r.V) << l.name().toStdString() << " " << r.max << " " << r.min;
        }
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));

    // On the ranges the page really produces: N intervals of V cover it.
    std::mt19937 rng(5);
    std::uniform_int_distribution<int> exp(1, 7);
    for (int i = 0; i < 300; ++i) {
        const qint64 scale = p10(exp(rng));
        std::uniform_int_distribution<qint64> d(-scale / 4, scale);
        values::PeriodValueStore st = withGraph({});
        for (int m = 1; m <= 12; ++m)
            for (int sr = 1; sr <= 3; ++sr)
                st.GraphValues.at(m, sr) = double(d(rng));
        const Range r = range(st, 1);
        StepRule(r.max, r.min, N, V);
        EXPECT_GE(N, 1) << r.max << " " << r.min;
        EXPECT_LE(N, 13) << r.max << " " << r.min;
        EXPECT_NEAR(N * V, double(r.max) - r.min, 1e-6 * (double(r.max) - r.min))
            << r.max << " " << r.min;
    }
}

TEST(Formats, AmountsGroupPercentagesDoNot) {
    struct Row {
        double v;
        const char *amount, *percent, *percent2;
    };
    // "#,##0", "0%" and "#0.00%" with German settings.
    const Row rows[] = {
        {0, "0", "0%", "0,00%"},
        {-1234.5, "-1.235", "-123450%", "-123450,00%"},
        {-0.2345, "0", "-23%", "-23,45%"},
        {1234.5, "1.235", "123450%", "123450,00%"},
        {123.456, "123", "12346%", "12345,60%"},
        {12.3456, "12", "1235%", "1234,56%"},
        {1234567.8, "1.234.568", "123456780%", "123456780,00%"},
    };
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    for (const Row& r : rows) {
        EXPECT_EQ(formatAmount(r.v).toStdString(), r.amount) << r.v;
        EXPECT_EQ(formatPercent(r.v).toStdString(), r.percent) << r.v;
        EXPECT_EQ(formatPercent2(r.v).toStdString(), r.percent2) << r.v;
    }
    // Other locales: their own separators, the same rule.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(formatAmount(1234.5).toStdString(), "1,235");
    EXPECT_EQ(formatPercent2(12.3456).toStdString(), "1234.56%");
    QLocale::setDefault(QLocale::c());
    EXPECT_EQ(formatAmount(1234567.8).toStdString(), "1234568");
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    for (const auto& [series, width] : {std::pair{0, 57}, {1, 43}, {3, 28}, {5, 0}}) // 28.5 to even
        EXPECT_EQ(SeriesPenWidth(series), width) << series;
    EXPECT_EQ(SeriesColour(0), 255u);
    EXPECT_EQ(SeriesColour(4), 0xFF0000u);
    // Completed months by year mode and clock month; fiscal January is month 10.
    const int completed[][3] = {{0, 1, 0},  {0, 7, 6}, {1, 1, 10},
                                {1, 2, 11}, {1, 3, 0}, {1, 12, 9}};
    for (const auto& [mode, month, want] : completed)
        EXPECT_EQ(CompletedMonths(mode, month), want) << mode << " " << month;
}

TEST(SelectionLine, Rules) {
    PageInputs in;
    in.Firma = in.SFirma = QStringLiteral("1");
    EXPECT_EQ(SelectionLine(in), QString());
    in.SFirma = QStringLiteral("2");
    in.SPG = QStringLiteral("P Privat");
    in.SPCNR = QStringLiteral("1 Stammhaus");
    in.SHABT = QStringLiteral("10 Haustechnik");
    EXPECT_EQ(SelectionLine(in), QStringLiteral("Firma: 2 HKG:P Privat HABT:10 Haustechnik "));
    // A department suppresses main department and profit centre.
    in.SABTNR = QStringLiteral("M2 Heizung");
    in.SHGRP = QStringLiteral("30 Heizung");
    in.SUGRP = QStringLiteral("3001 Kessel");
    in.SHVArt = QStringLiteral("L Lager");
    EXPECT_EQ(SelectionLine(in),
              QStringLiteral("Firma: 2 HKG:P Privat ABT:M2 Heizung HG:30 Heizung UG:3001 Kessel "
                             "HVArt:L Lager "));
    // A shipping type replaces HVArt, but shows only while the extended
    // selection is ticked.
    in.SFirma = in.Firma;
    in.SPG.clear();
    in.SVART = QStringLiteral("01 Abholung Lager");
    in.SSTyp = QStringLiteral("A Alle");
    EXPECT_EQ(SelectionLine(in), QStringLiteral("ABT:M2 Heizung HG:30 Heizung UG:3001 Kessel "));
    in.auswahlChecked = true;
    EXPECT_EQ(SelectionLine(in), QStringLiteral("ABT:M2 Heizung HG:30 Heizung UG:3001 Kessel "
                                                "SVArt:01 Abholung Lager STyp:A Alle "));
}
