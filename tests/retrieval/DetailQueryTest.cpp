// The detail split query against the server component on SQLite and
// PostgreSQL: which list it groups by, the rows and their sums, the two
// splits, the period ranges, and a failing request.

#include "retrieval/DetailQuery.h"

#include "support/HookedFactory.h"
#include "support/LoggedIn.h"

#include <QLocale>
#include <gtest/gtest.h>

using retrieval::GroupLevel;
using testsupport::TestEngine;

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
        env = login("DEMO", "demo");
        host.in.sel.firma = QStringLiteral("1");
        host.in.clockYear = 2024;
        host.in.splitMask = 1;
        auto codes = [&](const QString& sql) {
            QStringList out{QString()};
            auto d = site_->db->open();
            QSqlQuery& q = d->exec(sql);
            while (q.next())
                out << q.value(0).toString();
            q.finish();
            return out;
        };
        host.lists[int(GroupLevel::Pc)] =
            codes(QStringLiteral("SELECT pcnr FROM profitcenter WHERE firma = 1 ORDER BY pcnr"));
        host.lists[int(GroupLevel::Habt)] = codes(
            QStringLiteral("SELECT habtnr FROM hauptabteilung WHERE firma = 1 ORDER BY habtnr"));
        host.lists[int(GroupLevel::Abt)] = codes(QStringLiteral(
            "SELECT abtnr FROM abteilung WHERE firma = 1 AND habtnr = '10' ORDER BY abtnr"));
        host.lists[int(GroupLevel::Hgrp)] =
            codes(QStringLiteral("SELECT hgrp FROM hauptgruppe WHERE firma = 1 ORDER BY hgrp"));
        host.lists[int(GroupLevel::Ugrp)] = codes(QStringLiteral(
            "SELECT ugrp FROM untergruppe WHERE firma = 1 AND hgrp = '20' ORDER BY ugrp"));
    }
    std::unique_ptr<testenv::Env> login(const char* user, const char* pw) {
        env.reset(); // its end clears the session records
        return testsupport::loggedIn(
            *site_, QLatin1String(user), QLatin1String(pw), QDate(2024, 4, 15),
            [this] { return std::make_unique<testsupport::HookedFactory>(hook); });
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

TEST_P(DetailQuery, GroupsByTheListBelowTheSelection) {
    // Nothing chosen: the question; No groups by main department.
    env->ui.queueAnswer(platform::MsgAnswer::No);
    auto o = run();
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().first().title,
              QStringLiteral("Aufteilung nach Profitcenter oder Hauptabteilung"));
    EXPECT_EQ(env->messages().first().text,
              QStringLiteral("Wollen Sie nach Profitcenter aufteilen? (JA)\nOder wollen Sie nach "
                             "Hauptabteilungen aufteilen? (NEIN)"));
    EXPECT_EQ(o.level, GroupLevel::Habt);
    EXPECT_EQ(host.columns, (QStringList{"Grp", "Umsatz", "DB"}));
    ASSERT_FALSE(host.rows.isEmpty());
    EXPECT_EQ(host.rows.first().value(0), QString()); // the total row first
    EXPECT_EQ(o.requests, host.lists[int(GroupLevel::Habt)].size());
    qint64 sum = 0;
    for (int i = 1; i < host.rows.size(); ++i)
        sum += number(host.rows[i][1]);
    EXPECT_NEAR(double(sum), double(number(host.rows.first()[1])), double(host.rows.size()));
    // Every row equals the raw lines of its group in the current year.
    for (const QStringList& row : host.rows) {
        cache::server::Selection s;
        s[1] = row[0];
        const auto [u, m] = raw(o.range, s, 1);
        EXPECT_EQ(number(row[1]), u) << row[0].toStdString();
        EXPECT_EQ(number(row[2]), m) << row[0].toStdString();
    }

    env->ui.queueAnswer(platform::MsgAnswer::Yes);
    EXPECT_EQ(run().level, GroupLevel::Pc);
    EXPECT_EQ(host.rows.size(), 4); // total and the three profit centres

    host.in.sel.habt = QStringLiteral("10");
    o = run();
    EXPECT_EQ(o.level, GroupLevel::Abt);
    EXPECT_EQ(host.rows.first().value(0), QString());
    for (int i = 1; i < host.rows.size(); ++i)
        EXPECT_TRUE(host.lists[int(GroupLevel::Abt)].contains(host.rows[i][0]));
    host.in.sel.habt.clear();
    host.in.sel.abt = QStringLiteral("M2");
    EXPECT_EQ(run().level, GroupLevel::Hgrp);
    host.in.sel.abt.clear();
    host.in.sel.hgrp = QStringLiteral("20");
    o = run();
    EXPECT_EQ(o.level, GroupLevel::Ugrp);
    EXPECT_GE(host.rows.size(), 3);
    host.in.sel.ugrp = QStringLiteral("2004");
    o = run();
    EXPECT_EQ(o.level, GroupLevel::None);
    ASSERT_EQ(host.rows.size(), 1);
    EXPECT_EQ(host.rows.first().value(0), QString());
    cache::server::Selection s;
    s[3] = QStringLiteral("20");
    s[4] = QStringLiteral("2004");
    EXPECT_EQ(number(host.rows.first()[1]), raw(o.range, s, 1).first);
    EXPECT_EQ(env->messages().size(), 2); // asked only when nothing was chosen
    EXPECT_FALSE(env->ui.busyCursor());
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

TEST_P(DetailQuery, RestrictedUserAndFailures) {
    env = login("ABTLEITER", "abt");
    host.chosen = false;
    EXPECT_EQ(run().result, retrieval::DetailOutcome::Result::Refused);
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().first().text, QStringLiteral("Sie Müssen eine Abteilung auswählen!"));
    EXPECT_EQ(host.prepared, 0);
    EXPECT_FALSE(env->ui.busyCursor());

    // A request that fails after three: the rows so far stay, the report
    // names the group, the pointer is back.
    host.chosen = true;
    host.in.sel.abt = QStringLiteral("M2");
    budget = 3;
    const auto o = run();
    EXPECT_EQ(o.result, retrieval::DetailOutcome::Result::Failed);
    EXPECT_EQ(o.requests, 3);
    EXPECT_LE(host.rows.size(), 3);
    EXPECT_FALSE(host.rows.isEmpty());
    ASSERT_EQ(env->messages().size(), 2);
    EXPECT_EQ(env->messages().last().title, QStringLiteral("Caché Zugriffsfehler"));
    EXPECT_TRUE(env->messages().last().text.contains(QStringLiteral("Datenbank weg")));
    EXPECT_FALSE(env->ui.busyCursor());
}

TEST(DetailRange, YearsAndMonths) {
    retrieval::DetailInputs in;
    in.clockYear = 2024;
    auto range = [&](int choice, int mode, int kind = 0, int month = 1) {
        in.yearChoice = choice;
        in.yearMode = mode;
        in.periodKind = kind;
        in.month = month;
        const auto r = retrieval::detailRange(in);
        return (r.start + QLatin1Char('-') + r.end + QLatin1Char('/') + QString::number(r.divisor))
            .toStdString();
    };
    EXPECT_EQ(range(0, 0), "12401-12412/1");
    EXPECT_EQ(range(1, 0), "12301-12312/1");
    EXPECT_EQ(range(2, 0), "12001-12212/3");
    EXPECT_EQ(range(0, 1), "12403-12502/1");
    EXPECT_EQ(range(1, 1), "12303-12402/1");
    EXPECT_EQ(range(2, 1), "12003-12302/3"); // three whole fiscal years
    EXPECT_EQ(range(1, 0, 1, 7), "12307-12307/1");
    EXPECT_EQ(range(0, 1, 1, 12), "12412-12412/1");
    EXPECT_EQ(retrieval::roundedShare(2.5, 1), 2);
    EXPECT_EQ(retrieval::roundedShare(3.5, 1), 4);
    EXPECT_EQ(retrieval::roundedShare(7.5, 3), 2);
    EXPECT_EQ(retrieval::splitLetters(0), QStringLiteral("-"));
    EXPECT_EQ(retrieval::splitLetters(1), QString());
    EXPECT_EQ(retrieval::splitLetters(3), QStringLiteral("PG"));
    EXPECT_EQ(retrieval::splitLetters(9), QStringLiteral("LS"));
}

INSTANTIATE_ON_BOTH_ENGINES(DetailQuery);

} // namespace
