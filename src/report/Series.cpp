#include "Series.h"

#include <QStringList>

namespace report {

QString SeriesLabel(int index, int yearMode, int clockYear) {
    if (index < 0 || index > 5) return {};
    const QString measure = index < 3 ? QStringLiteral("U ") : QStringLiteral("DB ");
    const QString word = yearMode == 1 ? QStringLiteral("WJ") : QStringLiteral("KJ");
    const int Y = clockYear;
    switch (index % 3) {
    case 0:
        return measure + word + (index == 0 ? QStringLiteral("*") : QString()) +
               QStringLiteral(" ") + QString::number(Y);
    case 1:
        return measure + word + QStringLiteral(" ") + QString::number(Y - 1);
    default:
        return measure + word + QStringLiteral(" ") + QString::number(Y - 4) + QStringLiteral("-") +
               QString::number(Y - 2);
    }
}

QString MonthName(int index) {
    static const char* const names[] = {"Jänner",   "Februar",  "März",   "April",     "Mai",
                                        "Juni",     "Juli",     "August", "September", "Oktober",
                                        "November", "Dezember", "Jänner", "Februar"};
    if (index < 0 || index > 13) return {};
    return QString::fromUtf8(names[index]);
}

QString YearWord(int index, int yearMode, int clockYear) {
    return SeriesLabel(index, yearMode, clockYear).split(QLatin1Char(' ')).value(2);
}

} // namespace report
