#pragma once

// The zoom box beside the preview: reading what the user typed or chose.

#include <QString>

namespace report {

// The leading decimal number of the text before its first "%" ("." as
// decimal point, blanks ignored); 0 when there is none. "150%" -> 150,
// "Ganze Seite" -> 0.
double GetVal(const QString& s);

// Zoom mode named in the text, searched in lower case in the order page
// width (4), whole page (3), two pages (2), all pages (1); 0 for none.
int zoomModeOf(const QString& s);

// Item of the zoom box that shows a zoom mode (1 -> 3, 2 -> 2, 3 -> 0,
// 4 -> 1), or -1 for a zoom percentage.
int zoomItemOf(int mode);

} // namespace report
