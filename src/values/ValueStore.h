#pragma once

// The one period value store of the process: the fetched monthly figures,
// the three tables derived from them, and the view flags that the menus
// set. Plain data, touched only from the user-interface thread; every part
// of the program reads and writes it directly.

#include <QList>
#include <stdexcept>

namespace values {

// A failed step of the value computation: reading a table without cells,
// an index outside it, a division by zero. The computation skips the step.
struct CellFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Empty (a month without data) or a number. In arithmetic empty counts as
// 0 and the result is a number; copying keeps empty.
class Cell {
public:
    Cell() = default;
    Cell(double v) : empty_(false), v_(v) {} // NOLINT: numbers become cells freely
    bool isEmpty() const { return empty_; }
    double value() const { return empty_ ? 0.0 : v_; }
    bool operator==(const Cell& o) const { return empty_ == o.empty_ && (empty_ || v_ == o.v_); }

    friend Cell operator+(const Cell& a, const Cell& b) { return Cell(a.value() + b.value()); }
    friend Cell operator-(const Cell& a, const Cell& b) { return Cell(a.value() - b.value()); }
    friend Cell operator*(const Cell& a, const Cell& b) { return Cell(a.value() * b.value()); }
    // Division by zero (or by an empty cell) fails.
    friend Cell operator/(const Cell& a, const Cell& b) {
        if (b.value() == 0.0) throw CellFailure("Division durch Null");
        return Cell(a.value() / b.value());
    }

private:
    bool empty_ = true;
    double v_ = 0.0;
};

// A table with fixed index ranges, or no cells at all before it is first
// dimensioned. Reading or writing outside the ranges fails.
class Table {
public:
    bool hasCells() const { return rows_ > 0; }
    int firstRow() const { return row0_; }
    int lastRow() const { return row0_ + rows_ - 1; }
    int firstColumn() const { return col0_; }
    int lastColumn() const { return col0_ + cols_ - 1; }

    // Gives the table the ranges and empties every cell.
    void dimension(int firstRow, int lastRow, int firstColumn, int lastColumn);
    // Every cell empty; the ranges stay.
    void empty();
    void clear() { *this = Table{}; }

    const Cell& at(int row, int column) const;
    Cell& at(int row, int column);
    Cell operator()(int row, int column) const { return at(row, column); }

private:
    qsizetype index(int row, int column) const;
    int row0_ = 0, rows_ = 0, col0_ = 0, cols_ = 0;
    QList<Cell> cells_;
};

struct PeriodValueStore {
    // Period slot 1..72 x measure 1..2.
    Table PeriodValues;
    // Month 1..12 x series 1..6.
    Table MonthYearValues;
    // Month 0..12 x series 1..6.
    Table CumulativeValues;
    // Month 1..12 x series 1..6.
    Table GraphValues;

    // 0 yearly mean, 1 last quarter, 2 absolute (ticked entry of the graph menu).
    int GraphMode = 0;
    // 0 cumulative, 1 absolute, 2 % of the three-year mean, 3 % of the
    // previous year, 4 graph values.
    int TableMode = 2;
    // 0 calendar year, 1 fiscal year (March to February).
    int YearMode = 0;
    // 0 revenue and margin, 1 cash discount and rebate.
    int DisplayMode = 0;
    // A selection list changed since the last fetch.
    bool SelectionChanged = false;
    // Calendar year of the clock at the last fetch (year slot 6); 0 before.
    int FetchYear = 0;
};

PeriodValueStore& store();

// Back to the start values (tests, and a new main window).
void resetStore();

// Period value read as the computation reads it: slots past 72 (the
// fiscal year's last two months of the current year) are empty.
Cell P(const PeriodValueStore& s, int slot, int measure);

// Derives MonthYearValues, CumulativeValues and GraphValues from
// PeriodValues for the running month `clockMonth` (1..12). A step that
// fails is skipped; nothing is reported.
void AbsolutMittel(PeriodValueStore& s, int clockMonth, bool dbPercent);

} // namespace values
