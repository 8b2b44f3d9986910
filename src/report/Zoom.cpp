#include "Zoom.h"

namespace report {

double GetVal(const QString& s) {
    QString t = s.section(QLatin1Char('%'), 0, 0);
    t.remove(QLatin1Char(' '));
    int i = 0;
    QString num;
    if (i < t.size() && (t.at(i) == QLatin1Char('-') || t.at(i) == QLatin1Char('+')))
        num += t.at(i++);
    bool point = false;
    for (; i < t.size(); ++i) {
        const QChar c = t.at(i);
        if (c.isDigit() && c.unicode() < 128) {
            num += c;
        } else if (c == QLatin1Char('.') && !point) {
            point = true;
            num += c;
        } else {
            break;
        }
    }
    bool ok = false;
    const double v = num.toDouble(&ok);
    return ok ? v : 0.0;
}

int zoomModeOf(const QString& s) {
    const QString t = s.toLower();
    if (t.contains(QLatin1String("seitenbreite"))) return 4;
    if (t.contains(QLatin1String("ganze seite"))) return 3;
    if (t.contains(QLatin1String("zwei seiten"))) return 2;
    if (t.contains(QLatin1String("alle seiten"))) return 1;
    return 0;
}

int zoomItemOf(int mode) {
    switch (mode) {
    case 1:
        return 3;
    case 2:
        return 2;
    case 3:
        return 0;
    case 4:
        return 1;
    default:
        return -1;
    }
}

} // namespace report
