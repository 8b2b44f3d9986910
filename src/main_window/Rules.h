#pragma once

// The selection rules and layout arithmetic of the main window, free of
// widgets so that they can be tested as tables.

#include <QString>

namespace mw {

// Permission level of a user who may only look at their own department.
constexpr int kRestrictedLevel = 5;

// May a restricted user whose own department is `own` choose department
// `chosen`? Departments that share a manager see each other; B0 sees every
// B department and M7; a department not in the rules sees everything.
bool departmentAllowed(const QString& own, const QString& chosen);

// Values of the split check boxes, summed into SplitMask.
constexpr int kSplitUGRP = 1;
constexpr int kSplitHKGRP = 2;
constexpr int kSplitHVArt = 8;

namespace layout {

constexpr int kReferenceScreenWidth = 1152; // pixels the panel was designed for
constexpr int kDetailsWidthTwips = 3735;
constexpr int kEinblendenGapTwips = 150;
constexpr int kEinblendenDetailsGapTwips = 250;

// Screen width against the reference width.
double scaleFactor(int screenWidthPx);
// A left edge or width in twips times the factor, as whole twips.
int scaled(int twips, double factor);
// Splitter position in twips: the whole width while the details pane is
// hidden, the width less the details pane while it is shown.
int splitterPosition(int windowWidthTwips, bool detailsVisible,
                     int detailsWidthTwips = kDetailsWidthTwips);
// Left edge of the "show panel" button in twips.
int einblendenLeft(int ausblendenLeft, int ausblendenWidth, int windowWidthTwips, int detailsWidth,
                   bool panelHidden, bool detailsShown);
// Width in pixels of each value column (2..c) of the details list.
int detailColumnWidth(int listWidthPx, int columns);

} // namespace layout

} // namespace mw
