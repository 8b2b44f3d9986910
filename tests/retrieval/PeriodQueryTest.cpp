// The period query against the server component on SQLite and PostgreSQL:
// which months it asks for, what it sends, what it stores, the extended
// form, the restricted user and a server failure in the middle of a run.

#include "retrieval/PeriodQuery.h"

#include "support/HookedFactory.h"
#include "support/LoggedIn.h"
#include "windows/ProgramLog.h"

#include <gtest/gtest.h>

using testsupport::TestEngine;

// Selections are written with designated initializers; the other fields stay empty.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

struct Host : retrieval::PeriodQueryHost {
    retrieval::Selection sel;
    int redraws = 0;
    QList<int> progress;
    retrieval::Selection readSelection() override { return sel; }
    bool departmentChosen() const override { return false; }
    void monthFetched(int done, int, const QString&) override { progress << done; }
    void redraw() override { ++redraws; }
};

class PeriodQuery : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &testsupport::demoSite(GetParam(), QStringLiteral("periodquery"), 4000);
        values::resetStore();
        host.sel.firma = QStringLiteral("1");
    }
    void login(const char* user, const char* pw, QDate today = QDate(2024, 3, 20)) {
        hook.watches = [](const QString& q) { return q.startsWith(QLatin1String("Perioden")); };
        hook.failure =
            cache::CacheError(cache::err::NotConnected, QStringLiteral("Verbindung verloren"));
        env.reset(); // its end clears the session records
        env = testsupport::loggedIn(*site_, QLatin1String(user), QLatin1String(pw), today, [this] {
            return std::make_unique<testsupport::HookedFactory>(hook);
        });
        hook.sent.clear();
        windows::programLog().clear();
    }
    retrieval::FetchOutcome run() {
        return retrieval::runPeriodQuery(env->s(), env->ui, env->clock, values::store(), host);
    }
    // Slots 1..72: which hold a number.
    static QString filled() {
        QString out;
        for (int n = 1; n <= 72; ++n)
            out += values::store().PeriodValues(n, 1).isEmpty() ? u'-' : u'x';
        return out;
    }

    testsupport::DemoSite* site_ = nullptr;
    testsupport::QueryHook hook;
    QList<testsupport::SentQuery>& sent = hook.sent;
    Host host;
    std::unique_ptr<testenv::Env> env;
};

// The months from January five years back up to the clock's, each sent,
// logged (newest first) and stored; later slots stay empty.
TEST_P(PeriodQuery, MonthsUpToTheClock) {
    const struct {
        QDate today;
        int months;
        QString last;
    } rows[] = {{QDate(2024, 1, 15), 61, "12401"}, {QDate(2024, 12, 31), 72, "12412"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.months);
        login("DEMO", "demo", r.today);
        host.progress.clear();
        values::store().SelectionChanged = true;
        const retrieval::FetchOutcome o = run();
        EXPECT_EQ(o.result, retrieval::FetchResult::Done);
        EXPECT_EQ(o.months, r.months);
        ASSERT_EQ(sent.size(), r.months);
        EXPECT_EQ(
            (QStringList{sent[0].args.value(1), sent[12].args.value(1), sent.last().args.value(1)}),
            (QStringList{"11901", "12001", r.last}));
        EXPECT_EQ(filled(), QString(r.months, u'x') + QString(72 - r.months, u'-'));
        EXPECT_FALSE(values::store().SelectionChanged);
        EXPECT_EQ(host.progress.size(), r.months);
        EXPECT_EQ(host.progress.last(), r.months);
        EXPECT_FALSE(env->ui.busyCursor()); // the hourglass while it ran, the arrow after
        EXPECT_TRUE(env->ui.cursorChanges().contains(true));
        const auto& log = windows::programLog().entries();
        ASSERT_EQ(log.size(), r.months);
        EXPECT_EQ(log.first(), (windows::LogEntry{"fmstart.cmdÜbernehmen",
                                                  "Datenabfrage Periode " + r.last, "1|||||||"}));
        EXPECT_EQ(log.last().text, QStringLiteral("Datenabfrage Periode 11901"));
    }
    EXPECT_EQ(host.redraws, 2);
    EXPECT_EQ(values::store().PeriodValues(72, 1).value(), 0); // no sales after March 2024
}

// What each selection sends: class, query, arguments of the first month,
// requests per month. The extended form sends one key, once per article
// type unless one is chosen; display mode 1 asks the cash discounts there.
// With all article types it stores the sums of the three (the plain form's
// figures are checked by the report tool).
TEST_P(PeriodQuery, RequestsOfEachSelection) {
    using S = retrieval::Selection;
    const S ext{.firma = "1", .abt = "M2", .hvart = "L", .extended = true, .styp = "A"};
    const S co{.firma = "007", .hgrp = "20", .pg = "P", .hvart = "L"};
    S one = ext, plain = ext;
    one.styp = "B";
    plain.extended = false;
    const struct {
        S sel;
        int displayMode;
        const char *cls, *query;
        int perMonth;
        QStringList args;
    } rows[] = {
        {{.firma = ""}, 0, "Daten", "PeriodenSumme", 1, {"0", "11901", "", "", "", "", "", "", ""}},
        {co, 0, "Daten", "PeriodenSumme", 1, {"7", "11901", "20", "", "", "", "", "P", "L"}},
        {one, 0, "DatWH", "PeriodenSumme", 1, {"1", "11901", "``M2```B`L"}},
        {ext, 1, "DatWH", "PeriodenSkonto", 3, {"1", "11901", "``M2```L`L"}},
        {plain, 1, "Daten", "PeriodenSumme", 1, {"1", "11901", "", "", "", "", "M2", "", "L"}},
        {ext, 0, "DatWH", "PeriodenSumme", 3, {"1", "11901", "``M2```L`L"}},
    };
    login("DEMO", "demo");
    for (const auto& r : rows) {
        SCOPED_TRACE(r.args.join(QLatin1Char('|')).toStdString());
        host.sel = r.sel;
        values::store().DisplayMode = r.displayMode;
        sent.clear();
        windows::programLog().clear();
        run();
        ASSERT_EQ(sent.size(), 63 * r.perMonth);
        EXPECT_EQ(sent.first().cls, QStringLiteral("ZKUmsatz.") + QLatin1String(r.cls));
        EXPECT_EQ(sent.first().query, QLatin1String(r.query));
        EXPECT_EQ(sent.first().args, r.args);
        if (r.perMonth == 3) {
            EXPECT_EQ(sent.at(1).args.value(2), QStringLiteral("``M2```B`L"));
            EXPECT_EQ(sent.at(2).args.value(2), QStringLiteral("``M2```W`L"));
        }
        if (r.args[0] == "7") { // the log names the company as sent
            EXPECT_EQ(windows::programLog().entries().last().parameter, "7|20|||||P|L");
        }
    }
    // The last row, all article types: each month the sums of the three.
    auto d = site_->db->open();
    cache::server::Store st(*d);
    cache::server::Selection s;
    s[2] = QStringLiteral("M2");
    s[6] = QStringLiteral("L");
    int nonZero = 0;
    for (int n = 1; n <= 63; ++n) {
        const int period = 11900 + (n - 1) / 12 * 100 + (n - 1) % 12 + 1;
        const cache::server::Sums r = st.rawSum(1, period, period, s);
        EXPECT_NEAR(values::store().PeriodValues(n, 1).value(), r.umsatz / 100.0, 0.005) << period;
        EXPECT_NEAR(values::store().PeriodValues(n, 2).value(), (r.umsatz - r.kosten) / 100.0,
                    0.005)
            << period;
        nonZero += r.umsatz != 0;
    }
    EXPECT_GT(nonZero, 20);
}

TEST_P(PeriodQuery, RestrictedUserNeedsADepartment) {
    login("ABTLEITER", "abt");
    values::store().SelectionChanged = true;
    EXPECT_EQ(run().result, retrieval::FetchResult::Refused);
    EXPECT_TRUE(sent.isEmpty());
    EXPECT_EQ(host.redraws, 0);
    EXPECT_FALSE(values::store().PeriodValues.hasCells());
    EXPECT_FALSE(values::store().SelectionChanged);
    EXPECT_EQ(env->messages(),
              QList{testenv::msg("Abteilungsauswahl!", "Sie Müssen eine Abteilung auswählen!",
                                 platform::MsgIcon::None, platform::MsgButtons::Ok,
                                 platform::MsgAnswer::Ok, 32'400'000)});
}

// The report names the month; the months before stay, the bracket is
// closed, the page drawn.
TEST_P(PeriodQuery, FailureAfterMonthThirtyKeepsWhatCame) {
    login("DEMO", "demo");
    hook.budget = 30;
    hook.closes = 0;
    const retrieval::FetchOutcome o = run();
    EXPECT_EQ(o.result, retrieval::FetchResult::Failed);
    EXPECT_EQ(o.months, 30);
    EXPECT_EQ(o.failedPeriod, QStringLiteral("12107"));
    EXPECT_EQ(filled(), QString(30, u'x') + QString(42, u'-'));
    EXPECT_EQ(env->messages(), QList{testenv::accessError(
                                   "Datenabfrage Periode 12107 (Monat 31 von 63); die bisher "
                                   "geholten Monate werden angezeigt",
                                   cache::err::NotConnected, "Verbindung verloren", 32'400'000)});
    EXPECT_FALSE(env->ui.busyCursor());
    EXPECT_EQ(host.redraws, 1);
    EXPECT_EQ(hook.closes, 31); // the failed request's result set too
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
    const std::pair<std::pair<int, int>, const char*> codes[] = {
        {{2024, 3}, "12403"}, {{1999, 12}, "9912"}, {{2000, 1}, "10001"}};
    for (const auto& [ym, want] : codes)
        EXPECT_EQ(retrieval::periodCode(ym.first, ym.second), QLatin1String(want));
    const std::pair<const char*, const char*> companies[] = {
        {"007", "7"}, {"", "0"}, {"x1", "0"}, {" 12ab", "12"}};
    for (const auto& [in, want] : companies)
        EXPECT_EQ(retrieval::companyNumber(QLatin1String(in)), QLatin1String(want)) << in;
    const std::pair<const char*, double> numbers[] = {
        {"1234.56", 1234.56}, {"-0.5", -0.5}, {"", 0}, {"1,5", 1}};
    for (const auto& [in, want] : numbers)
        EXPECT_EQ(retrieval::serverNumber(QLatin1String(in)), want) << in;
}

INSTANTIATE_ON_BOTH_ENGINES(PeriodQuery);

} // namespace
