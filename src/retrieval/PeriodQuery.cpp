#include "PeriodQuery.h"

#include "platform/clock/Clock.h"
#include "platform/ui/Ui.h"
#include "server/Session.h"
#include "windows/ProgramLog.h"

#include <QRegularExpression>
#include <QStringList>
#include <cmath>

namespace retrieval {

double serverNumber(const QString& text) {
    static const QRegularExpression number(
        QStringLiteral("\\A[ \\t]*([+-]?(?:[0-9]+\\.?[0-9]*|\\.[0-9]+)(?:[eE][+-]?[0-9]+)?)"));
    const QRegularExpressionMatch m = number.match(text);
    if (!m.hasMatch()) return 0.0;
    bool ok = false;
    const double v = m.captured(1).toDouble(&ok);
    return ok && std::isfinite(v) ? v : 0.0;
}

QString companyNumber(const QString& field) {
    return QString::number(serverNumber(field), 'g', 15);
}

QString periodCode(int year, int month) {
    return QString::number(year - 1900) + QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0'));
}

QString detailKey(const Selection& s, const QString& styp) {
    QString key =
        QStringList{s.pc, s.habt, s.abt, s.hgrp, s.ugrp, styp, s.hvart, s.vart, s.pg}.join(
            QLatin1Char('`'));
    while (key.endsWith(QLatin1Char('`')))
        key.chop(1);
    return key;
}

QString logParameter(const Selection& s) {
    return QStringList{companyNumber(s.firma), s.hgrp, s.ugrp, s.pc, s.habt, s.abt, s.pg, s.hvart}
        .join(QLatin1Char('|'));
}

namespace {

struct Sums {
    double c[5] = {0, 0, 0, 0, 0}; // columns 1..4
};

// One request: open, execute, first row (not tested), columns, close.
Sums request(srv::Session& session, const QString& cls, const QString& query,
             const QStringList& args, int columns) {
    std::unique_ptr<cache::CacheQuery> q;
    Sums s;
    try {
        q = session.factory()->query(cls, query);
        q->execute(args);
        q->next();
        for (int i = 1; i <= columns; ++i)
            s.c[i] = serverNumber(q->column(i));
    } catch (...) {
        session.CacheClose(q);
        throw;
    }
    session.CacheClose(q);
    return s;
}

} // namespace

FetchOutcome runPeriodQuery(srv::Session& session, platform::Ui& ui, platform::Clock& clock,
                            values::PeriodValueStore& store, PeriodQueryHost& host) {
    FetchOutcome out;
    // The run is one piece of work: list choices between its months do not
    // restart the idle timer or reset the pointer.
    srv::Session::Work work(session);
    store.SelectionChanged = false;

    int level = 0;
    try {
        level = session.CheckPermission();
    } catch (const cache::CacheError& e) {
        session.ShowAccessError(QStringLiteral("Überprüfung Berechtigung"), e);
        out.result = FetchResult::Refused;
        return out;
    }
    if (level == 5 && !host.departmentChosen()) {
        ui.message(QStringLiteral("Abteilungsauswahl!"),
                   QStringLiteral("Sie Müssen eine Abteilung auswählen!"), platform::MsgIcon::None,
                   platform::MsgButtons::Ok);
        out.result = FetchResult::Refused;
        return out;
    }

    store.PeriodValues.dimension(1, 72, 1, 2);
    store.MonthYearValues.dimension(1, 12, 1, 6);

    const QDate today = clock.now().date();
    const int clockYear = today.year();
    store.FetchYear = clockYear;
    const int total = 60 + today.month();
    QString period = periodCode(clockYear - 5, 1);
    try {
        // Connecting again after the idle close can fail as well.
        session.DBBegin(true);
        for (int slot = 1; slot <= 6; ++slot) {
            for (int month = 1; month <= 12; ++month) {
                // The current year up to and including the running month.
                if (slot == 6 && month > clock.now().date().month()) break;
                period = periodCode(clockYear - 6 + slot, month);
                const Selection sel = host.readSelection();
                windows::WriteLog(QStringLiteral("fmstart.cmdÜbernehmen"),
                                  QStringLiteral("Datenabfrage Periode ") + period,
                                  logParameter(sel));
                const QString firma = companyNumber(sel.firma);
                const int n = (slot - 1) * 12 + month;
                if (!sel.extended) {
                    const Sums r = request(session, QStringLiteral("ZKUmsatz.Daten"),
                                           QStringLiteral("PeriodenSumme"),
                                           {firma, period, sel.hgrp, sel.ugrp, sel.pc, sel.habt,
                                            sel.abt, sel.pg, sel.hvart},
                                           2);
                    store.PeriodValues.at(n, 1) = r.c[1];
                    store.PeriodValues.at(n, 2) = r.c[2];
                } else {
                    const QString query = store.DisplayMode == 1 ? QStringLiteral("PeriodenSkonto")
                                                                 : QStringLiteral("PeriodenSumme");
                    const QStringList types =
                        sel.styp == QLatin1String("A")
                            ? QStringList{QStringLiteral("L"), QStringLiteral("B"),
                                          QStringLiteral("W")}
                            : QStringList{sel.styp};
                    // The server splits the key at backquotes: a code holding
                    // one would shift the fields after it onto other codes.
                    for (const QString& code : {sel.pc, sel.habt, sel.abt, sel.hgrp, sel.ugrp,
                                                sel.styp, sel.hvart, sel.vart, sel.pg})
                        if (code.contains(QLatin1Char('`')))
                            throw cache::CacheError(
                                cache::err::WrongArguments,
                                QStringLiteral("Der Code „%1“ enthält das Trennzeichen „`“ und "
                                               "kann in der erweiterten Auswahl nicht abgefragt "
                                               "werden")
                                    .arg(code.left(40)));
                    double R = 0, D = 0;
                    for (const QString& t : types) {
                        const Sums r = request(session, QStringLiteral("ZKUmsatz.DatWH"), query,
                                               {firma, period, detailKey(sel, t)}, 4);
                        R += r.c[1] + r.c[2];
                        D += r.c[3] + r.c[4];
                    }
                    store.PeriodValues.at(n, 1) = R;
                    store.PeriodValues.at(n, 2) = R - D;
                }
                ++out.months;
                host.monthFetched(out.months, total, period);
            }
        }
    } catch (const cache::CacheError& e) {
        out.result = FetchResult::Failed;
        out.failedPeriod = period;
        out.errorNumber = e.number();
        out.error = e.description();
        session.DBEnd(true);
        session.ShowAccessError(QStringLiteral("Datenabfrage Periode %1 (Monat %2 von %3); die "
                                               "bisher geholten Monate werden angezeigt")
                                    .arg(period)
                                    .arg(out.months + 1)
                                    .arg(total),
                                e);
        host.redraw();
        return out;
    }
    session.DBEnd(true);
    host.redraw();
    return out;
}

} // namespace retrieval
