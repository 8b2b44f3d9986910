#include "DetailQuery.h"

#include "platform/ui/Ui.h"
#include "server/Session.h"
#include "server/Text.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace retrieval {

namespace {

// Third word of the year label of a choice: "2024" or "2020-2022".
QString yearWord(int choice, int clockYear) {
    switch (choice) {
    case 1:
        return QString::number(clockYear - 1);
    case 2:
        return QString::number(clockYear - 4) + QLatin1Char('-') + QString::number(clockYear - 2);
    default:
        return QString::number(clockYear);
    }
}

QString period(int year, int month) {
    return periodCode(year, month);
}

class RestoreCursor {
public:
    explicit RestoreCursor(platform::Ui& ui) : ui_(ui) { ui_.setBusyCursor(true); }
    ~RestoreCursor() { ui_.setBusyCursor(false); }

private:
    platform::Ui& ui_;
};

QString fmt(qint64 v) {
    return QLocale().toString(qlonglong(v));
}

} // namespace

QString splitLetters(int splitMask) {
    switch (splitMask) {
    case 1:
        return QString();
    case 2:
    case 3:
        return QStringLiteral("PG");
    case 8:
    case 9:
        return QStringLiteral("LS");
    default:
        return QStringLiteral("-");
    }
}

QStringList detailColumns(const QString& letters) {
    if (letters.isEmpty())
        return {QStringLiteral("Grp"), QStringLiteral("Umsatz"), QStringLiteral("DB")};
    const QString a = letters.left(1), b = letters.mid(1, 1);
    return {QStringLiteral("Grp"), a + QStringLiteral(" Umsatz"), a + QStringLiteral(" DB"),
            b + QStringLiteral(" Umsatz"), b + QStringLiteral(" DB")};
}

PeriodRange detailRange(const DetailInputs& in) {
    PeriodRange r;
    const QString Y = yearWord(in.yearChoice, in.clockYear);
    if (in.periodKind == 1) {
        const int y = Y.section(QLatin1Char('-'), 0, 0).toInt();
        r.start = r.end = period(y, std::clamp(in.month, 1, 12));
        return r;
    }
    if (in.yearChoice == 2) {
        const int a = Y.section(QLatin1Char('-'), 0, 0).toInt();
        const int b = Y.section(QLatin1Char('-'), 1, 1).toInt();
        r.divisor = 3;
        if (in.yearMode == 1) {
            // Three whole fiscal years, March of A to February after B, so
            // that the divisor 3 gives the mean of one fiscal year.
            r.start = period(a, 3);
            r.end = period(b + 1, 2);
        } else {
            r.start = period(a, 1);
            r.end = period(b, 12);
        }
        return r;
    }
    const int y = Y.toInt();
    if (in.yearMode == 1) {
        r.start = period(y, 3);
        r.end = period(y + 1, 2);
    } else {
        r.start = period(y, 1);
        r.end = period(y, 12);
    }
    return r;
}

qint64 roundedShare(double value, int divisor) {
    return qint64(std::nearbyint(value / divisor));
}

DetailOutcome runDetailQuery(srv::Session& session, platform::Ui& ui, DetailQueryHost& host) {
    DetailOutcome out;
    srv::Session::Work work(session);
    RestoreCursor cursor(ui); // the hourglass until the end, in every case

    int level = 0;
    try {
        level = session.CheckPermission();
    } catch (const cache::CacheError& e) {
        session.ShowAccessError(QStringLiteral("Überprüfung Berechtigung"), e);
        out.result = DetailOutcome::Result::Refused;
        return out;
    }
    if (level == 5 && !host.departmentChosen()) {
        ui.setBusyCursor(false);
        ui.message(QStringLiteral("Abteilungsauswahl!"),
                   QStringLiteral("Sie Müssen eine Abteilung auswählen!"), platform::MsgIcon::None,
                   platform::MsgButtons::Ok);
        out.result = DetailOutcome::Result::Refused;
        return out;
    }

    const DetailInputs in = host.readInputs();
    out.range = detailRange(in);
    const QString letters = splitLetters(in.splitMask);
    if (letters == QLatin1String("-")) {
        out.result = DetailOutcome::Result::Nothing;
        return out;
    }
    const QStringList columns = detailColumns(letters);
    host.prepareList(columns);

    const Selection& s = in.sel;
    GroupLevel g;
    if (s.pc.isEmpty() && s.habt.isEmpty() && s.abt.isEmpty() && s.hgrp.isEmpty()) {
        ui.setBusyCursor(false);
        const platform::MsgAnswer a = ui.message(
            QStringLiteral("Aufteilung nach Profitcenter oder Hauptabteilung"),
            QStringLiteral("Wollen Sie nach Profitcenter aufteilen? (JA)\nOder wollen Sie nach "
                           "Hauptabteilungen aufteilen? (NEIN)"),
            platform::MsgIcon::None, platform::MsgButtons::YesNo);
        ui.setBusyCursor(true);
        g = a == platform::MsgAnswer::Yes ? GroupLevel::Pc : GroupLevel::Habt;
    } else if (!s.pc.isEmpty() || (!s.habt.isEmpty() && s.hgrp.isEmpty())) {
        g = GroupLevel::Abt;
    } else if (!s.abt.isEmpty() && s.hgrp.isEmpty()) {
        g = GroupLevel::Hgrp;
    } else if (s.ugrp.isEmpty()) {
        g = GroupLevel::Ugrp;
    } else {
        g = GroupLevel::None;
    }
    out.level = g;
    const QStringList groups = g == GroupLevel::None ? QStringList{QString()} : host.groupCodes(g);
    const QString firma = companyNumber(s.firma);

    QString current;
    try {
        for (const QString& group : groups) {
            current = group;
            Selection a = s;
            switch (g) {
            case GroupLevel::Pc:
                a.pc = group;
                break;
            case GroupLevel::Habt:
                a.habt = group;
                break;
            case GroupLevel::Abt:
                a.abt = group;
                break;
            case GroupLevel::Hgrp:
                a.hgrp = group;
                break;
            case GroupLevel::Ugrp:
                a.ugrp = group;
                break;
            case GroupLevel::None:
                break;
            }
            auto request = [&](const Selection& r) {
                std::unique_ptr<cache::CacheQuery> q;
                double u = 0, m = 0;
                session.DBBegin(false);
                try {
                    q = session.factory()->query(QStringLiteral("ZKUmsatz.Daten"),
                                                 QStringLiteral("PeriodenSummeAufteilung"));
                    q->execute({firma, out.range.start, out.range.end, r.hgrp, r.ugrp, r.pc, r.habt,
                                r.abt, r.pg, r.hvart});
                    q->next();
                    u = serverNumber(q->column(1));
                    m = serverNumber(q->column(2));
                } catch (...) {
                    session.CacheClose(q);
                    session.DBEnd(false);
                    throw;
                }
                session.CacheClose(q);
                session.DBEnd(false);
                ++out.requests;
                return std::pair{roundedShare(u, out.range.divisor),
                                 roundedShare(m, out.range.divisor)};
            };
            if (letters.isEmpty()) {
                const auto [R, M] = request(a);
                if (R != 0) {
                    host.addRow({group, fmt(R), fmt(M)});
                    ++out.rows;
                }
            } else {
                qint64 v[4];
                for (int k = 0; k < 2; ++k) {
                    Selection r = a;
                    (letters == QLatin1String("PG") ? r.pg : r.hvart) = letters.mid(k, 1);
                    const auto [R, M] = request(r);
                    v[2 * k] = R;
                    v[2 * k + 1] = M;
                }
                if (v[0] != 0 || v[2] != 0) {
                    host.addRow({group, fmt(v[0]), fmt(v[1]), fmt(v[2]), fmt(v[3])});
                    ++out.rows;
                }
            }
        }
    } catch (const cache::CacheError& e) {
        out.result = DetailOutcome::Result::Failed;
        out.error = e.description();
        host.finishList();
        ui.setBusyCursor(false);
        session.ShowAccessError(
            QStringLiteral("Details für Gruppe \"%1\" (%2 bis %3); die bisherigen Zeilen bleiben")
                .arg(current, out.range.start, out.range.end),
            e);
        return out;
    }
    host.finishList();
    return out;
}

} // namespace retrieval
