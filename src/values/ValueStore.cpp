#include "ValueStore.h"

namespace values {

void Table::dimension(int firstRow, int lastRow, int firstColumn, int lastColumn) {
    row0_ = firstRow;
    rows_ = lastRow - firstRow + 1;
    col0_ = firstColumn;
    cols_ = lastColumn - firstColumn + 1;
    cells_.fill(Cell(), qsizetype(rows_) * cols_);
}

void Table::empty() {
    cells_.fill(Cell());
}

qsizetype Table::index(int row, int column) const {
    if (rows_ <= 0) throw CellFailure("Tabelle ohne Zellen");
    if (row < row0_ || row >= row0_ + rows_ || column < col0_ || column >= col0_ + cols_)
        throw CellFailure("Index außerhalb der Tabelle");
    return qsizetype(row - row0_) * cols_ + (column - col0_);
}

const Cell& Table::at(int row, int column) const {
    return cells_.at(index(row, column));
}

Cell& Table::at(int row, int column) {
    return cells_[index(row, column)];
}

PeriodValueStore& store() {
    static PeriodValueStore s;
    return s;
}

void resetStore() {
    store() = PeriodValueStore{};
}

Cell P(const PeriodValueStore& s, int slot, int measure) {
    // The fiscal year's January and February of the current year lie
    // past the six stored years; they read as months without data.
    if (s.PeriodValues.hasCells() && slot > s.PeriodValues.lastRow() && slot <= 74) return Cell();
    return s.PeriodValues(slot, measure);
}

namespace {

// One assignment under the failure rule: if it fails, it does not happen.
template <class F> void step(F&& f) {
    try {
        f();
    } catch (const CellFailure&) {
    }
}

} // namespace

void AbsolutMittel(PeriodValueStore& s, int c, bool dbPercent) {
    Table& A = s.MonthYearValues;
    Table& C = s.CumulativeValues;
    Table& G = s.GraphValues;
    const int h = s.YearMode == 1 ? 2 : 0;
    auto M = [&](int t, int k) {
        return (P(s, 36 + t, k) + P(s, 24 + t, k) + P(s, 12 + t, k)) / 3.0;
    };
    auto b = [](int y) { return (6 - y) * 12; };

    C.dimension(0, 12, 1, 6);
    for (int m = 1; m <= 12; ++m) {
        step([&] { A.at(m, 1) = P(s, 60 + m + h, 1); });
        step([&] { A.at(m, 4) = P(s, 60 + m + h, 2); });
        step([&] { C.at(m, 1) = 0.0; });
        step([&] { C.at(m, 4) = 0.0; });
        // The running month is left out of the current year's sums.
        if (c != m + h) {
            step([&] { C.at(m, 1) = C(m - 1, 1) + P(s, 60 + m + h, 1); });
            step([&] { C.at(m, 4) = C(m - 1, 4) + P(s, 60 + m + h, 2); });
        }
        step([&] { A.at(m, 2) = P(s, 48 + m + h, 1); });
        step([&] { A.at(m, 5) = P(s, 48 + m + h, 2); });
        step([&] { C.at(m, 2) = 0.0; });
        step([&] { C.at(m, 5) = 0.0; });
        step([&] { C.at(m, 2) = C(m - 1, 2) + P(s, 48 + m + h, 1); });
        step([&] { C.at(m, 5) = C(m - 1, 5) + P(s, 48 + m + h, 2); });
        step([&] { A.at(m, 3) = M(m + h, 1); });
        step([&] { A.at(m, 6) = M(m + h, 2); });
        step([&] { C.at(m, 3) = 0.0; });
        step([&] { C.at(m, 6) = 0.0; });
        step([&] { C.at(m, 3) = C(m - 1, 3) + M(m + h, 1); });
        step([&] { C.at(m, 6) = C(m - 1, 6) + M(m + h, 2); });
    }

    G.dimension(1, 12, 1, 6);
    switch (s.GraphMode) {
    case 0: {
        Table S;
        // Series 1/4 and 2/5: running means of the current and the previous
        // year; the current year stops before the running month.
        for (int y = 1; y <= 2; ++y) {
            S.dimension(0, 12, 1, 2);
            for (int m = 1; m <= 12; ++m) {
                if (y == 1 && c - 1 < m + h) break;
                step([&] { S.at(m, 1) = S(m - 1, 1) + P(s, b(y) + m + h, 1); });
                step([&] { G.at(m, y) = S(m, 1) / double(m); });
                step([&] { S.at(m, 2) = S(m - 1, 2) + P(s, b(y) + m + h, 2); });
                step([&] { G.at(m, y + 3) = S(m, 2) / double(m); });
            }
        }
        // Series 3/6: the running mean of the three-year mean, the same
        // figures the table and the labels use for these series.
        S.dimension(0, 12, 1, 2);
        for (int m = 1; m <= 12; ++m) {
            step([&] { S.at(m, 1) = S(m - 1, 1) + M(m + h, 1); });
            step([&] { G.at(m, 3) = S(m, 1) / double(m); });
            step([&] { S.at(m, 2) = S(m - 1, 2) + M(m + h, 2); });
            step([&] { G.at(m, 6) = S(m, 2) / double(m); });
        }
        break;
    }
    case 1:
        // Mean of the month and the three before it, across year ends.
        for (int y = 1; y <= 2; ++y) {
            for (int m = 1; m <= 12; ++m) {
                if (y == 1 && c - 1 < m + h) break;
                for (int q = 0; q <= 3; ++q) {
                    step([&] { G.at(m, y) = G(m, y) + P(s, b(y) + m - q + h, 1); });
                    step([&] { G.at(m, y + 3) = G(m, y + 3) + P(s, b(y) + m - q + h, 2); });
                }
                step([&] { G.at(m, y) = G(m, y) / 4.0; });
                step([&] { G.at(m, y + 3) = G(m, y + 3) / 4.0; });
            }
        }
        for (int m = 1; m <= 12; ++m) {
            for (int q = 0; q <= 3; ++q) {
                step([&] { G.at(m, 3) = G(m, 3) + M(m - q + h, 1); });
                step([&] { G.at(m, 6) = G(m, 6) + M(m - q + h, 2); });
            }
            step([&] { G.at(m, 3) = G(m, 3) / 4.0; });
            step([&] { G.at(m, 6) = G(m, 6) / 4.0; });
        }
        break;
    case 2:
        for (int sr = 1; sr <= 6; ++sr)
            for (int m = 1; m <= 12; ++m)
                step([&] { G.at(m, sr) = A(m, sr); });
        break;
    default:
        break;
    }

    if (dbPercent) {
        for (int m = 1; m <= 12; ++m)
            for (int sr = 4; sr <= 6; ++sr)
                step([&] { G.at(m, sr) = G(m, sr) / G(m, sr - 3) * 100.0; });
    }
}

} // namespace values
