#include "Rules.h"

#include <QStringList>
#include <cmath>

namespace mw {

bool departmentAllowed(const QString& own, const QString& chosen) {
    struct Rule {
        const char* owners;
        const char* allowed;
    };
    static const Rule rules[] = {
        {"B1", "B1 M7"},       {"B2", "B2"},          {"M1", "M1 MD MG MH"},
        {"M2", "M2 MA MF"},    {"M3 M6", "M3 M6 ME"}, {"M4", "M4 MC"},
        {"M5 M7", "M5 M7 MB"}, {"M8", "M8"},          {"M9", "M9"},
    };
    if (own == QLatin1String("B0"))
        return chosen.startsWith(QLatin1Char('B')) || chosen == QLatin1String("M7");
    for (const Rule& r : rules) {
        if (QString::fromLatin1(r.owners).split(QLatin1Char(' ')).contains(own))
            return QString::fromLatin1(r.allowed).split(QLatin1Char(' ')).contains(chosen);
    }
    return true;
}

namespace layout {

double scaleFactor(int screenWidthPx) {
    return double(screenWidthPx) / kReferenceScreenWidth;
}

int scaled(int twips, double factor) {
    // Whole twips, halves to the even neighbour like the original's
    // conversion to an integer property.
    return int(std::nearbyint(double(twips) * factor));
}

int splitterPosition(int windowWidthTwips, bool detailsVisible, int detailsWidthTwips) {
    return detailsVisible ? windowWidthTwips - detailsWidthTwips : windowWidthTwips;
}

int einblendenLeft(int ausblendenLeft, int ausblendenWidth, int windowWidthTwips, int detailsWidth,
                   bool panelHidden, bool detailsShown) {
    if (panelHidden && detailsShown)
        return windowWidthTwips - detailsWidth - ausblendenWidth - kEinblendenDetailsGapTwips;
    return ausblendenLeft - kEinblendenGapTwips;
}

int detailColumnWidth(int listWidthPx, int columns) {
    if (columns < 2) return 0;
    return int(std::nearbyint(double(listWidthPx - 50) / (columns - 1)));
}

} // namespace layout

} // namespace mw
