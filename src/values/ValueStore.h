#pragma once

// The one period value store of the process: the view flags that the menus
// set and the drawing reads. Plain data, touched only from the user-interface
// thread; every part of the program reads and writes it directly.

namespace values {

struct PeriodValueStore {
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
};

PeriodValueStore& store();

// Back to the start values (tests, and a new main window).
void resetStore();

} // namespace values
