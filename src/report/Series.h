#pragma once

// Labels of the six series and the month names, shared by the page, the
// menus and the details panel.

#include <QString>

namespace report {

// Label of series index 0..5 (series 1..6) for the clock year and the year
// mode (0 calendar, 1 fiscal): "U KJ* 2024", "U KJ 2023", "U KJ 2020-2022",
// "DB KJ 2024", ... An index outside 0..5 gives "".
QString SeriesLabel(int index, int yearMode, int clockYear);

// Month name for index 0..13 ("Jänner" .. "Dezember", then "Jänner",
// "Februar" again for the fiscal year's last two months); "" outside.
QString MonthName(int index);

// The third blank-separated word of a series label: the year or the range
// of years ("2024", "2020-2022").
QString YearWord(int index, int yearMode, int clockYear);

} // namespace report
