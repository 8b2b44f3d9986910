// The detail split query against the server component on SQLite and
// PostgreSQL: which list it groups by, the rows and their sums, the two
// splits, the period ranges, and a failing request.

#include "retrieval/DetailQuery.h"

#include "support/HookedFactory.h"
#include "support/LoggedIn.h"

#include <QLocale>
#include <gtest/gtest.h>
#include <optional>

using retrieval::GroupLevel;
using testsupport::TestEngine;

// Inputs are written with designated initializers; the other fields keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

struct Host : retrieval::DetailQueryHost {
    retrieval::DetailInputs in;
    bool chosen = true;
    QHash<int, QStringList> lists;
    QStringList columns;
    QList<QStringList> rows;
    int prepared = 0;
    retrieval::DetailInputs readInputs() override { return in; }
    bool departmentChosen() const override { return chosen; }
    QStringList groupCodes(GroupLevel l) override { return lists.value(int(l)); }
    void prepareList(const QStringList& c) override {
        ++prepared;
        columns = c;
        rows.clear();
    }
    void addRow(const QStringList& cells) override { rows << cells; }
};

class DetailQuery : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        site_ = &testsupport::demoSite(GetParam(), QStringLiteral("detailquery"), 6000);
        hook.watches = [](const QString& q) {
            return q == QLatin1String("PeriodenSummeAufteilung");
        };
        env = testsupport::loggedIn(
            *site_, QStringLiteral("DEMO"), QStringLiteral("demo"), QDate(2024, 4, 15),
            [this] { return std::make_unique<testsupport::HookedFactory>(hook); });
        host.in.sel.firma = QStringLiteral("1");
        host.in.clockYear = 2024;
        host.in.splitMask = 1;
        // The main window's lists, by level: main department 10, main group 20.
        const char* lists[] = {"pcnr FROM profitcenter WHERE", "habtnr FROM hauptabteilung WHERE",
                               "abtnr FROM abteilung WHERE habtnr = '10' AND",
                               "hgrp FROM hauptgruppe WHERE",
                               "ugrp FROM untergruppe WHERE hgrp = '20' AND"};
        auto d = site_->db->open();
        for (int l = 0; l < 5; ++l) {
            QSqlQuery& q = d->exec(
                QStringLiteral("SELECT %1 firma = 1 ORDER BY 1").arg(QLatin1String(lists[l])));
            host.lists[l] << QString();
            while (q.next())
                host.lists[l] << q.value(0).toString();
            q.finish();
        }
    }
    retrieval::DetailOutcome run() { return retrieval::runDetailQuery(env->s(), env->ui, host); }
    // Revenue and margin in euros over a range, from the raw sales lines.
    std::pair<qint64, qint64> raw(const retrieval::PeriodRange& r, cache::server::Selection s,
                                  int divisor) {
        auto d = site_->db->open();
        cache::server::Store st(*d);
        const auto sums = st.rawSum(1, r.start.toInt(), r.end.toInt(), s);
        return {retrieval::roundedShare(sums.umsatz / 100.0, divisor),
                retrieval::roundedShare((sums.umsatz - sums.kosten) / 100.0, divisor)};
    }
    static qint64 number(const QString& t) { return QLocale().toLongLong(t); }

    testsupport::DemoSite* site_ = nullptr;
    testsupport::QueryHook hook;
    int& budget = hook.budget;
    Host host;
    std::unique_ptr<testenv::Env> env;
};

// The list below the deepest chosen level gives the groups; with nothing
// chosen a question picks profit centres (Yes) or main departments (No).
// The total row comes first, and every row equals the raw lines of its
// group in the current year.
TEST_P(DetailQuery, GroupsByTheListBelowTheSelection) {
    const struct {
        const char *habt, *abt, *hgrp, *ugrp;
        std::optional<platform::MsgAnswer> answer; // none: not asked
        GroupLevel level;
    } rows[] = {
        {"", "", "", "", platform::MsgAnswer::No, GroupLevel::Habt},
        {"", "", "", "", platform::MsgAnswer::Yes, GroupLevel::Pc},
        {"10", "", "", "", std::nullopt, GroupLevel::Abt},
        {"", "M2", "", "", std::nullopt, GroupLevel::Hgrp},
        {"", "", "20", "", std::nullopt, GroupLevel::Ugrp},
        {"", "", "20", "2004", std::nullopt, GroupLevel::None},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(int(r.level));
        env->ui.clearMessages();
        if (r.answer) env->ui.queueAnswer(*r.answer);
        cache::server::Selection s;
        host.in.sel.habt = s[1] = QLatin1String(r.habt);
        host.in.sel.abt = s[2] = QLatin1String(r.abt);
        host.in.sel.hgrp = s[3] = QLatin1String(r.hgrp);
        host.in.sel.ugrp = s[4] = QLatin1String(r.ugrp);
        const auto o = run();
        EXPECT_EQ(o.level, r.level);
        ASSERT_EQ(env->messages().size(), r.answer ? 1 : 0);
        if (r.answer) {
            EXPECT_EQ(env->messages().first().title,
                      QStringLiteral("Aufteilung nach Profitcenter oder Hauptabteilung"));
            EXPECT_EQ(env->messages().first().text,
                      QStringLiteral("Wollen Sie nach Profitcenter aufteilen? (JA)\nOder wollen "
                                     "Sie nach Hauptabteilungen aufteilen? (NEIN)"));
        }
        EXPECT_EQ(host.columns, (QStringList{"Grp", "Umsatz", "DB"}));
        ASSERT_FALSE(host.rows.isEmpty());
        EXPECT_EQ(host.rows.first().value(0), QString());
        const QStringList groups = host.lists.value(int(r.level));
        if (r.level == GroupLevel::None) {
            EXPECT_EQ(host.rows.size(), 1);
        } else {
            EXPECT_EQ(o.requests, groups.size());
            EXPECT_GE(host.rows.size(), 3); // the total and at least two groups
        }
        if (r.level == GroupLevel::Pc) {
            EXPECT_EQ(host.rows.size(), 4); // total and the three profit centres
        }
        qint64 sum = 0;
        for (const QStringList& row : host.rows) {
            if (r.level != GroupLevel::None) {
                EXPECT_TRUE(groups.contains(row[0])) << row[0].toStdString();
                s[int(r.level)] = row[0];
            }
            const auto [u, m] = raw(o.range, s, 1);
            EXPECT_EQ(number(row[1]), u) << row[0].toStdString();
            EXPECT_EQ(number(row[2]), m) << row[0].toStdString();
            sum += row[0].isEmpty() ? 0 : number(row[1]);
        }
        if (host.rows.size() > 1) {
            EXPECT_NEAR(double(sum), double(number(host.rows.first()[1])), host.rows.size());
        }
        EXPECT_FALSE(env->ui.busyCursor());
    }
}

TEST_P(DetailQuery, SplitsAndTheirRows) {
    host.in.sel.habt = QStringLiteral("10");
    for (int mask : {2, 3, 8, 9}) {
        host.in.splitMask = mask;
        const auto o = run();
        const bool pg = mask < 8;
        const QString a = pg ? QStringLiteral("P") : QStringLiteral("L");
        const QString b = pg ? QStringLiteral("G") : QStringLiteral("S");
        EXPECT_EQ(host.columns,
                  (QStringList{QStringLiteral("Grp"), a + QStringLiteral(" Umsatz"),
                               a + QStringLiteral(" DB"), b + QStringLiteral(" Umsatz"),
                               b + QStringLiteral(" DB")}));
        EXPECT_EQ(o.requests, 2 * host.lists[int(GroupLevel::Abt)].size());
        for (const QStringList& row : host.rows) {
            ASSERT_EQ(row.size(), 5);
            EXPECT_TRUE(number(row[1]) != 0 || number(row[3]) != 0);
            cache::server::Selection s;
            s[1] = QStringLiteral("10");
            s[2] = row[0];
            s[pg ? 5 : 6] = a;
            EXPECT_EQ(number(row[1]), raw(o.range, s, 1).first)
                << mask << " " << row[0].toStdString();
            s[pg ? 5 : 6] = b;
            EXPECT_EQ(number(row[3]), raw(o.range, s, 1).first)
                << mask << " " << row[0].toStdString();
            EXPECT_EQ(number(row[4]), raw(o.range, s, 1).second);
        }
    }
    // Mask 0: the list is left as it was.
    host.in.splitMask = 0;
    const int prepared = host.prepared;
    const auto rows = host.rows;
    EXPECT_EQ(run().result, retrieval::DetailOutcome::Result::Nothing);
    EXPECT_EQ(host.prepared, prepared);
    EXPECT_EQ(host.rows, rows);
}

TEST_P(DetailQuery, ThreeYearMeanAndMonthValues) {
    host.in.sel.hgrp = QStringLiteral("30");
    host.in.yearChoice = 2;
    auto o = run();
    EXPECT_EQ(o.range.start, QStringLiteral("12001"));
    EXPECT_EQ(o.range.end, QStringLiteral("12212"));
    EXPECT_EQ(o.range.divisor, 3);
    ASSERT_FALSE(host.rows.isEmpty());
    cache::server::Selection s;
    s[3] = QStringLiteral("30");
    EXPECT_EQ(number(host.rows.first()[1]), raw(o.range, s, 3).first);

    host.in.yearChoice = 1;
    host.in.periodKind = 1;
    host.in.month = 7;
    o = run();
    EXPECT_EQ(o.range.start, QStringLiteral("12307"));
    EXPECT_EQ(o.range.end, QStringLiteral("12307"));
    EXPECT_EQ(number(host.rows.first()[1]), raw(o.range, s, 1).first);
}

TEST_P(DetailQuery, RestrictedUserNeedsADepartment) {
    env.reset(); // its end clears the session records
    env = testsupport::loggedIn(
        *site_, QStringLiteral("ABTLEITER"), QStringLiteral("abt"), QDate(2024, 4, 15),
        [this] { return std::make_unique<testsupport::HookedFactory>(hook); });
    host.chosen = false;
    EXPECT_EQ(run().result, retrieval::DetailOutcome::Result::Refused);
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().first().title, QStringLiteral("Abteilungsauswahl!"));
    EXPECT_EQ(env->messages().first().text, QStringLiteral("Sie Müssen eine Abteilung auswählen!"));
    EXPECT_EQ(host.prepared, 0);
    EXPECT_FALSE(env->ui.busyCursor());
}

// A request that fails after three: the rows so far stay, the report
// names the error, the pointer is back.
TEST_P(DetailQuery, FailureKeepsTheRowsSoFar) {
    host.in.sel.abt = QStringLiteral("M2");
    budget = 3;
    const auto o = run();
    EXPECT_EQ(o.result, retrieval::DetailOutcome::Result::Failed);
    EXPECT_EQ(o.requests, 3);
    EXPECT_LE(host.rows.size(), 3);
    EXPECT_FALSE(host.rows.isEmpty());
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().last().title, QStringLiteral("Caché Zugriffsfehler"));
    EXPECT_TRUE(env->messages().last().text.contains(QStringLiteral("Datenbank weg")));
    EXPECT_FALSE(env->ui.busyCursor());
}

TEST(DetailRange, YearsAndMonths) {
    const struct {
        int choice, yearMode, kind, month;
        const char* want;
    } rows[] = {
        {0, 0, 0, 1, "12401-12412/1"}, {1, 0, 0, 1, "12301-12312/1"},
        {2, 0, 0, 1, "12001-12212/3"}, {0, 1, 0, 1, "12403-12502/1"},
        {1, 1, 0, 1, "12303-12402/1"}, {2, 1, 0, 1, "12003-12302/3"}, // three fiscal years
        {1, 0, 1, 7, "12307-12307/1"}, {0, 1, 1, 12, "12412-12412/1"},
    };
    for (const auto& r : rows) {
        const retrieval::DetailInputs in{.yearChoice = r.choice,
                                         .periodKind = r.kind,
                                         .month = r.month,
                                         .yearMode = r.yearMode,
                                         .clockYear = 2024};
        const auto got = retrieval::detailRange(in);
        EXPECT_EQ(QStringLiteral("%1-%2/%3").arg(got.start, got.end).arg(got.divisor),
                  QLatin1String(r.want));
    }
    EXPECT_EQ(retrieval::roundedShare(2.5, 1), 2); // halves to even
    EXPECT_EQ(retrieval::roundedShare(3.5, 1), 4);
    EXPECT_EQ(retrieval::roundedShare(7.5, 3), 2);
    EXPECT_EQ(retrieval::splitLetters(0), QStringLiteral("-"));
    EXPECT_EQ(retrieval::splitLetters(1), QString());
    EXPECT_EQ(retrieval::splitLetters(3), QStringLiteral("PG"));
    EXPECT_EQ(retrieval::splitLetters(9), QStringLiteral("LS"));
}

INSTANTIATE_ON_BOTH_ENGINES(DetailQuery);

} // namespace
