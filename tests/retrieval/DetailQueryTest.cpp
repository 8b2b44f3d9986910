// The detail split query against the server component on SQLite and
// PostgreSQL: which list it groups by, the rows and their sums, the two
// splits, the period ranges, and a failing request.

#include "retrieval/DetailQuery.h"

#include "support/HookedFactory.h"
#include "support/LoggedIn.h"

#include <QLocale>
#include <gtest/gtest.h>
#include <optional>

using platform::MsgAnswer;
using platform::MsgButtons;
using platform::MsgIcon;
using Message = platform::RecordedMessage;
using L = retrieval::GroupLevel;
using testsupport::TestEngine;

// Inputs are written with designated initializers; the other fields keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

struct Host : retrieval::DetailQueryHost {
    retrieval::DetailInputs in;
    QHash<int, QStringList> lists;
    QStringList columns;
    QList<QStringList> rows;
    int prepared = 0;
    retrieval::DetailInputs readInputs() override { return in; }
    bool departmentChosen() const override { return false; }
    QStringList groupCodes(L l) override { return lists.value(int(l)); }
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
        login("DEMO", "demo");
        host.in.sel.firma = QStringLiteral("1");
        host.in.clockYear = 2024;
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
    void login(const char* user, const char* pw) {
        env.reset(); // its end clears the session records
        env = testsupport::loggedIn(
            *site_, QLatin1String(user), QLatin1String(pw), QDate(2024, 4, 15),
            [this] { return std::make_unique<testsupport::HookedFactory>(hook); });
    }
    retrieval::DetailOutcome run() { return retrieval::runDetailQuery(env->s(), env->ui, host); }
    // Revenue and margin in euros over a range, from the raw sales lines.
    std::pair<qint64, qint64> raw(const retrieval::PeriodRange& r, cache::server::Selection s) {
        auto d = site_->db->open();
        const auto sums =
            cache::server::Store(*d).rawSum(1, r.start.toInt(), r.end.toInt(), std::move(s));
        return {retrieval::roundedShare(sums.umsatz / 100.0, r.divisor),
                retrieval::roundedShare((sums.umsatz - sums.kosten) / 100.0, r.divisor)};
    }
    static qint64 number(const QString& t) { return QLocale().toLongLong(t); }
    static Message question(MsgAnswer a) {
        return testenv::msg("Aufteilung nach Profitcenter oder Hauptabteilung",
                            "Wollen Sie nach Profitcenter aufteilen? (JA)\nOder wollen Sie nach "
                            "Hauptabteilungen aufteilen? (NEIN)",
                            MsgIcon::None, MsgButtons::YesNo, a, 32'400'000);
    }

    testsupport::DemoSite* site_ = nullptr;
    testsupport::QueryHook hook;
    Host host;
    std::unique_ptr<testenv::Env> env;
};

// The list below the deepest chosen level gives the groups; with nothing
// chosen a question picks profit centres (Yes) or main departments (No).
// The total row comes first; every value equals the raw lines of its group
// (and split letter) over the range, the three-year span as the mean of one.
TEST_P(DetailQuery, GroupsAndSplitsEqualTheRawLines) {
    const struct {
        const char *habt, *abt, *hgrp, *ugrp;
        int splitMask, yearChoice;
        std::optional<MsgAnswer> answer; // none: not asked
        L level;
        int rowCount; // 0: the total and at least two groups
        const char* columns;
    } rows[] = {
        {"", "", "", "", 1, 0, MsgAnswer::No, L::Habt, 0, "Umsatz|DB"},
        {"", "", "", "", 1, 0, MsgAnswer::Yes, L::Pc, 4, "Umsatz|DB"}, // the three centres
        {"10", "", "", "", 1, 0, {}, L::Abt, 0, "Umsatz|DB"},
        {"", "M2", "", "", 1, 0, {}, L::Hgrp, 0, "Umsatz|DB"},
        {"", "", "20", "", 1, 2, {}, L::Ugrp, 0, "Umsatz|DB"},
        {"", "", "20", "2004", 1, 0, {}, L::None, 1, "Umsatz|DB"},
        {"10", "", "", "", 2, 0, {}, L::Abt, 0, "P Umsatz|P DB|G Umsatz|G DB"},
        {"10", "", "", "", 9, 1, {}, L::Abt, 0, "L Umsatz|L DB|S Umsatz|S DB"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << int(r.level) << " mask " << r.splitMask);
        env->ui.clearMessages();
        if (r.answer) env->ui.queueAnswer(*r.answer);
        cache::server::Selection s;
        host.in.sel.habt = s[1] = QLatin1String(r.habt);
        host.in.sel.abt = s[2] = QLatin1String(r.abt);
        host.in.sel.hgrp = s[3] = QLatin1String(r.hgrp);
        host.in.sel.ugrp = s[4] = QLatin1String(r.ugrp);
        host.in.splitMask = r.splitMask;
        host.in.yearChoice = r.yearChoice;
        const auto o = run();
        EXPECT_EQ(o.level, r.level);
        EXPECT_EQ(env->messages(), r.answer ? QList{question(*r.answer)} : QList<Message>{});
        EXPECT_EQ(host.columns.join(u'|'), QStringLiteral("Grp|") + QLatin1String(r.columns));
        const int pairs = (host.columns.size() - 1) / 2;
        const int splitField = host.columns.value(1).startsWith(u'P') ? 5 : 6;
        const QStringList groups =
            r.level == L::None ? QStringList{QString()} : host.lists.value(int(r.level));
        EXPECT_EQ(o.requests, groups.size() * pairs);
        EXPECT_TRUE(r.rowCount ? host.rows.size() == r.rowCount : host.rows.size() >= 3);
        ASSERT_FALSE(host.rows.isEmpty());
        EXPECT_EQ(host.rows.first().value(0), QString());
        qint64 sum = 0;
        for (const QStringList& row : host.rows) {
            SCOPED_TRACE(row.join(u';').toStdString());
            ASSERT_EQ(row.size(), 1 + 2 * pairs);
            EXPECT_TRUE(groups.contains(row[0]));
            if (r.level != L::None) s[int(r.level)] = row[0];
            for (int k = 0; k < pairs; ++k) {
                if (pairs == 2) s[splitField] = host.columns[1 + 2 * k].left(1);
                const auto [u, m] = raw(o.range, s);
                EXPECT_EQ(number(row[1 + 2 * k]), u);
                EXPECT_EQ(number(row[2 + 2 * k]), m);
            }
            EXPECT_TRUE(number(row[1]) != 0 || number(row[2 * pairs - 1]) != 0); // no empty row
            sum += row[0].isEmpty() ? 0 : number(row[1]);
        }
        if (host.rows.size() > 1) {
            EXPECT_NEAR(double(sum), double(number(host.rows.first()[1])), host.rows.size());
        }
        EXPECT_FALSE(env->ui.busyCursor());
    }

    // Mask 0: the list is left as it was.
    host.in.splitMask = 0;
    const int prepared = host.prepared;
    const auto before = host.rows;
    EXPECT_EQ(run().result, retrieval::DetailOutcome::Result::Nothing);
    EXPECT_EQ(host.prepared, prepared);
    EXPECT_EQ(host.rows, before);
}

// A restricted user without a department is refused; a request that fails
// after three keeps the rows so far and names the error. The pointer is
// back either way.
TEST_P(DetailQuery, RestrictedUserAndFailures) {
    login("ABTLEITER", "abt");
    EXPECT_EQ(run().result, retrieval::DetailOutcome::Result::Refused);
    EXPECT_EQ(env->messages(),
              QList{testenv::msg("Abteilungsauswahl!", "Sie Müssen eine Abteilung auswählen!",
                                 MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok, 32'400'000)});
    EXPECT_EQ(host.prepared, 0);
    EXPECT_FALSE(env->ui.busyCursor());

    login("DEMO", "demo");
    host.in.sel.abt = QStringLiteral("M2");
    hook.budget = 3;
    const auto o = run();
    EXPECT_EQ(o.result, retrieval::DetailOutcome::Result::Failed);
    EXPECT_EQ(o.requests, 3);
    EXPECT_TRUE(!host.rows.isEmpty() && host.rows.size() <= 3);
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
    const std::pair<int, const char*> letters[] = {{0, "-"},  {1, ""},   {2, "PG"}, {3, "PG"},
                                                   {8, "LS"}, {9, "LS"}, {4, "-"}};
    for (const auto& [mask, want] : letters)
        EXPECT_EQ(retrieval::splitLetters(mask), QLatin1String(want)) << mask;
}

INSTANTIATE_ON_BOTH_ENGINES(DetailQuery);

} // namespace
