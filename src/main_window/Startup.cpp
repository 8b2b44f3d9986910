#include "Startup.h"

#include "Rules.h"
#include "report/Series.h"
#include "server/Session.h"
#include "server/Text.h"

#include <QLocale>

namespace mw {

int askPermission(srv::Session& session, const QString& step, int onFailure) {
    try {
        return session.CheckPermission();
    } catch (const cache::CacheError& e) {
        session.ShowAccessError(step, e);
        return onFailure;
    }
}

Allowed allowedFor(int level) {
    const bool all = level != kRestrictedLevel;
    return {all, all, all, all};
}

StartupTexts startupTexts(const srv::UserContext& u, int clockYear) {
    StartupTexts t;
    t.title = QStringLiteral("ZORVEK Tallvero   Firma: ") + u.Firma +
              QStringLiteral("     Filiale: ") + u.Filiale + QStringLiteral("     Benutzer: ") +
              u.Benutzer;
    t.tableMeanYears = QLatin1Char(' ') + report::YearWord(2, 0, clockYear);
    t.tablePreviousYear = QLatin1Char(' ') + report::YearWord(1, 0, clockYear);
    for (int i = 0; i < 3; ++i)
        t.yearButtons[i] = report::YearWord(i, 0, clockYear);
    return t;
}

QString dataBasisQuestion(const QString& text, const QDate& today) {
    const QString built = srv::Piece(text, QChar('`'), 1);
    const QDate date = srv::DateFromServer(srv::Piece(text, QChar('`'), 2));
    if (!srv::IsNumeric(built) || !date.isValid()) return {};
    const int current = today.year() * 100 + today.month();
    const QString expected =
        srv::PeriodAdd(QString::number(current - 190000), QStringLiteral("-1"));
    if (!srv::IsNumeric(expected) || expected.toDouble() <= built.toDouble()) return {};
    return QStringLiteral("Daten für Periode:") + built + QStringLiteral(" wurden zuletzt\n") +
           QStringLiteral("am : ") + QLocale().toString(date, QLocale::ShortFormat) +
           QStringLiteral(" aufgebaut.\nWollen Sie die Daten neu aufbauen?");
}

} // namespace mw
