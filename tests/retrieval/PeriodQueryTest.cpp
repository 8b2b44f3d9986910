// The period query against the server component on SQLite and PostgreSQL:
// which months it asks for, what it sends, what it stores, the extended
// form, the restricted user and a server failure in the middle of a run.

#include "retrieval/PeriodQuery.h"

#include "platform/cache/server/Text.h"
#include "support/HookedFactory.h"
#include "support/LoggedIn.h"
#include "windows/ProgramLog.h"

#include <gtest/gtest.h>

using testsupport::TestEngine;

namespace {

struct Host : retrieval::PeriodQueryHost {
    retrieval::Selection sel;
    bool chosen = false;
    int redraws = 0;
    QList<int> progress;
    retrieval::Selection readSelection() override { return sel; }
    bool departmentChosen() const override { return chosen; }
    void monthFetched(int done, int, const QString&) override { progress << done; }
    void redraw() override { ++redraws; }
};

class PeriodQuery : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &testsupport::demoSite(GetParam(), QStringLiteral("periodquery"), 4000);
        values::resetStore();
        windows::programLog().clear();
        host.sel.firma = QStringLiteral("1");
    }
    void login(const char* user, const char* pw, QDate today) {
        hook.watches = [](const QString& q) { return q.startsWith(QLatin1String("Perioden")); };
        env.reset(); // its end clears the session records
        hook.failure =
            cache::CacheError(cache::err::NotConnected, QStringLiteral("Verbindung verloren"));
        env = testsupport::loggedIn(*site_, QLatin1String(user), QLatin1String(pw), today, [this] {
            return std::make_unique<testsupport::HookedFactory>(hook);
        });
        sent.clear();
    }
    retrieval::FetchOutcome run() {
        return retrieval::runPeriodQuery(env->s(), env->ui, env->clock, values::store(), host);
    }
    // Revenue and margin in euros of one month, straight from the sales lines.
    std::pair<double, double> raw(int period, cache::server::Selection s = {}) {
        auto d = site_->db->open();
        cache::server::Store st(*d);
        const cache::server::Sums r = st.rawSum(1, period, period, s);
        return {r.umsatz / 100.0, (r.umsatz - r.kosten) / 100.0};
    }

    testsupport::DemoSite* site_ = nullptr;
    testsupport::QueryHook hook;
    QList<testsupport::SentQuery>& sent = hook.sent;
    int& budget = hook.budget;
    Host host;
    std::unique_ptr<testenv::Env> env;
};

TEST_P(PeriodQuery, MonthsUpToTheClock) {
    login("DEMO", "demo", QDate(2024, 1, 15));
    values::store().SelectionChanged = true;
    const retrieval::FetchOutcome o = run();
    EXPECT_EQ(o.result, retrieval::FetchResult::Done);
    EXPECT_EQ(o.months, 61);
    ASSERT_EQ(sent.size(), 61);
    EXPECT_EQ(sent.first().args.value(1), QStringLiteral("11901"));
    EXPECT_EQ(sent.at(12).args.value(1), QStringLiteral("12001"));
    EXPECT_EQ(sent.last().args.value(1), QStringLiteral("12401"));
    const values::Table& P = values::store().PeriodValues;
    for (int n = 1; n <= 72; ++n)
        EXPECT_EQ(P(n, 1).isEmpty(), n > 61) << n;
    EXPECT_FALSE(values::store().SelectionChanged);
    EXPECT_EQ(host.redraws, 1);
    EXPECT_EQ(host.progress.size(), 61);
    EXPECT_EQ(host.progress.last(), 61);
    // The hourglass while it ran, the arrow afterwards.
    EXPECT_FALSE(env->ui.busyCursor());
    EXPECT_TRUE(env->ui.cursorChanges().contains(true));

    // One log entry per month, newest first.
    const auto& log = windows::programLog().entries();
    ASSERT_EQ(log.size(), 61);
    EXPECT_EQ(log.first().programmteil, QStringLiteral("fmstart.cmdÜbernehmen"));
    EXPECT_EQ(log.first().text, QStringLiteral("Datenabfrage Periode 12401"));
    EXPECT_EQ(log.last().text, QStringLiteral("Datenabfrage Periode 11901"));
    EXPECT_EQ(log.first().parameter, QStringLiteral("1|||||||"));

    login("DEMO", "demo", QDate(2024, 12, 31));
    EXPECT_EQ(run().months, 72);
    EXPECT_EQ(sent.last().args.value(1), QStringLiteral("12412"));
    EXPECT_FALSE(P(72, 1).isEmpty());
    EXPECT_EQ(P(72, 1).value(), 0); // no sales after March 2024: zeros, not empty
}

TEST_P(PeriodQuery, PlainRequestArgumentsAndSums) {
    login("DEMO", "demo", QDate(2024, 3, 20));
    host.sel.firma = QStringLiteral("007");
    host.sel.hgrp = QStringLiteral("20");
    host.sel.pg = QStringLiteral("P");
    host.sel.hvart = QStringLiteral("L");
    run();
    ASSERT_FALSE(sent.isEmpty());
    EXPECT_EQ(sent.first().cls, QStringLiteral("ZKUmsatz.Daten"));
    EXPECT_EQ(sent.first().query, QStringLiteral("PeriodenSumme"));
    EXPECT_EQ(sent.first().args, (QStringList{"7", "11901", "20", "", "", "", "", "P", "L"}));
    EXPECT_EQ(windows::programLog().entries().first().parameter, QStringLiteral("7|20|||||P|L"));
    host.sel.firma = QString();
    run();
    EXPECT_EQ(sent.last().args.value(0), QStringLiteral("0"));

    // Company 1 and two restrictions: every month equals the raw lines.
    host.sel = {};
    host.sel.firma = QStringLiteral("1");
    host.sel.habt = QStringLiteral("10");
    host.sel.hgrp = QStringLiteral("30");
    run();
    cache::server::Selection s;
    s[1] = QStringLiteral("10");
    s[3] = QStringLiteral("30");
    const values::Table& P = values::store().PeriodValues;
    int nonZero = 0;
    for (int n = 1; n <= 63; ++n) {
        const int period = 119 * 100 + (n - 1) / 12 * 100 + (n - 1) % 12 + 1;
        const auto [u, db] = raw(period, s);
        EXPECT_NEAR(P(n, 1).value(), u, 0.005) << period;
        EXPECT_NEAR(P(n, 2).value(), db, 0.005) << period;
        nonZero += u != 0;
    }
    EXPECT_GT(nonZero, 20);
}

TEST_P(PeriodQuery, ExtendedFormAndArticleTypes) {
    login("DEMO", "demo", QDate(2024, 3, 20));
    host.sel.extended = true;
    host.sel.abt = QStringLiteral("M2");
    host.sel.hvart = QStringLiteral("L");
    host.sel.styp = QStringLiteral("A");
    run();
    ASSERT_EQ(sent.size(), 63 * 3);
    EXPECT_EQ(sent.at(0).cls, QStringLiteral("ZKUmsatz.DatWH"));
    EXPECT_EQ(sent.at(0).query, QStringLiteral("PeriodenSumme"));
    EXPECT_EQ(sent.at(0).args, (QStringList{"1", "11901", "``M2```L`L"}));
    EXPECT_EQ(sent.at(1).args.value(2), QStringLiteral("``M2```B`L"));
    EXPECT_EQ(sent.at(2).args.value(2), QStringLiteral("``M2```W`L"));
    // Revenue and margin, summed over the three types.
    const values::Table& P = values::store().PeriodValues;
    cache::server::Selection s;
    s[2] = QStringLiteral("M2");
    s[6] = QStringLiteral("L");
    for (int n : {49, 50, 51, 62, 63}) {
        const int period = 11900 + (n - 1) / 12 * 100 + (n - 1) % 12 + 1;
        const auto [u, net] = raw(period, s);
        EXPECT_NEAR(P(n, 1).value(), u, 0.005) << period;
        EXPECT_NEAR(P(n, 2).value(), net, 0.005) << period;
    }
    const double all = P(62, 1).value();
    EXPECT_GT(all, 0);

    // One article type: one request per month, its sums only.
    double parts = 0;
    for (const char* t : {"L", "B", "W"}) {
        host.sel.styp = QLatin1String(t);
        sent.clear();
        run();
        EXPECT_EQ(sent.size(), 63);
        parts += P(62, 1).value();
    }
    EXPECT_NEAR(parts, all, 0.005);

    // Display mode 1 asks PeriodenSkonto; without the extended form it does not.
    values::store().DisplayMode = 1;
    sent.clear();
    run();
    EXPECT_EQ(sent.first().query, QStringLiteral("PeriodenSkonto"));
    host.sel.extended = false;
    sent.clear();
    run();
    EXPECT_EQ(sent.first().cls, QStringLiteral("ZKUmsatz.Daten"));
    EXPECT_EQ(sent.first().query, QStringLiteral("PeriodenSumme"));
}

TEST_P(PeriodQuery, RestrictedUserNeedsADepartment) {
    login("ABTLEITER", "abt", QDate(2024, 3, 20));
    values::store().SelectionChanged = true;
    const retrieval::FetchOutcome o = run();
    EXPECT_EQ(o.result, retrieval::FetchResult::Refused);
    EXPECT_TRUE(sent.isEmpty());
    EXPECT_EQ(host.redraws, 0);
    EXPECT_FALSE(values::store().PeriodValues.hasCells());
    EXPECT_FALSE(values::store().SelectionChanged);
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().first().title, QStringLiteral("Abteilungsauswahl!"));
    EXPECT_EQ(env->messages().first().text, QStringLiteral("Sie Müssen eine Abteilung auswählen!"));
    host.chosen = true;
    host.sel.habt = QStringLiteral("10");
    EXPECT_EQ(run().months, 63);
}

TEST_P(PeriodQuery, FailureAfterMonthThirtyKeepsWhatCame) {
    login("DEMO", "demo", QDate(2024, 3, 20));
    budget = 30;
    hook.closes = 0;
    const retrieval::FetchOutcome o = run();
    EXPECT_EQ(o.result, retrieval::FetchResult::Failed);
    EXPECT_EQ(o.months, 30);
    EXPECT_EQ(o.failedPeriod, QStringLiteral("12107"));
    const values::Table& P = values::store().PeriodValues;
    for (int n = 1; n <= 72; ++n)
        EXPECT_EQ(P(n, 1).isEmpty(), n > 30) << n;
    // The report names the month; the bracket is closed, the page drawn.
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().first().title, QStringLiteral("Caché Zugriffsfehler"));
    EXPECT_TRUE(env->messages().first().text.contains(QStringLiteral("12107")));
    EXPECT_TRUE(env->messages().first().text.contains(QStringLiteral("Verbindung verloren")));
    EXPECT_FALSE(env->ui.busyCursor());
    EXPECT_EQ(host.redraws, 1);
    EXPECT_EQ(hook.closes, 31); // the failed request's result set too

    // The next run works again.
    budget = -1;
    EXPECT_EQ(run().result, retrieval::FetchResult::Done);
    EXPECT_FALSE(P(63, 1).isEmpty());
}

TEST(PeriodQueryText, KeysNumbersAndCodes) {
    retrieval::Selection s;
    EXPECT_EQ(retrieval::detailKey(s, QString()), QString());
    EXPECT_EQ(retrieval::detailKey(s, QStringLiteral("L")), QStringLiteral("`````L"));
    s.pc = QStringLiteral("10");
    s.habt = QStringLiteral("5");
    EXPECT_EQ(retrieval::detailKey(s, QStringLiteral("L")), QStringLiteral("10`5````L"));
    s.pg = QStringLiteral("P");
    EXPECT_EQ(retrieval::detailKey(s, QString()), QStringLiteral("10`5```````P"));
    EXPECT_EQ(retrieval::periodCode(2024, 3), QStringLiteral("12403"));
    EXPECT_EQ(retrieval::periodCode(1999, 12), QStringLiteral("9912"));
    EXPECT_EQ(retrieval::periodCode(2000, 1), QStringLiteral("10001"));
    EXPECT_EQ(retrieval::companyNumber(QStringLiteral("007")), QStringLiteral("7"));
    EXPECT_EQ(retrieval::companyNumber(QString()), QStringLiteral("0"));
    EXPECT_EQ(retrieval::companyNumber(QStringLiteral("x1")), QStringLiteral("0"));
    EXPECT_EQ(retrieval::companyNumber(QStringLiteral(" 12ab")), QStringLiteral("12"));
    EXPECT_EQ(retrieval::serverNumber(QStringLiteral("1234.56")), 1234.56);
    EXPECT_EQ(retrieval::serverNumber(QStringLiteral("-0.5")), -0.5);
    EXPECT_EQ(retrieval::serverNumber(QStringLiteral("")), 0);
    EXPECT_EQ(retrieval::serverNumber(QStringLiteral("1,5")), 1);
}

INSTANTIATE_ON_BOTH_ENGINES(PeriodQuery);

} // namespace
