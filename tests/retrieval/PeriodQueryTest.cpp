// The period and detail split queries against the server component on SQLite
// and PostgreSQL: the months or groups asked for, what is sent, stored or
// listed against the raw sales lines, the restricted user, a failing request.

#include "retrieval/DetailQuery.h"
#include "support/HookedFactory.h"
#include "support/LoggedIn.h"
#include "windows/ProgramLog.h"

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

// The host of both queries; the period query reads the selection of the detail inputs.
struct Host : retrieval::PeriodQueryHost, retrieval::DetailQueryHost {
    retrieval::DetailInputs in;
    int redraws = 0, prepared = 0;
    QList<int> progress;
    QHash<int, QStringList> lists;
    QStringList columns;
    QList<QStringList> rows;
    retrieval::Selection readSelection() override { return in.sel; }
    retrieval::DetailInputs readInputs() override { return in; }
    bool departmentChosen() const override { return false; }
    void monthFetched(int done, int, const QString&) override { progress << done; }
    void redraw() override { ++redraws; }
    QStringList groupCodes(L l) override { return lists.value(int(l)); }
    void prepareList(const QStringList& c) override {
        ++prepared;
        columns = c;
        rows.clear();
    }
    void addRow(const QStringList& cells) override { rows << cells; }
};

class PeriodQuery : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &testsupport::demoSite(GetParam(), QStringLiteral("retrieval"), 6000);
        values::resetStore();
        hook.watches = [](const QString& q) { return q.startsWith(QLatin1String("Perioden")); };
        host.in.sel.firma = QStringLiteral("1");
        host.in.clockYear = 2024;
        // The main window's lists, by level: main department 10, main group 20.
        const char* lists[] = {"pcnr FROM profitcenter WHERE", "habtnr FROM hauptabteilung WHERE",
                               "abtnr FROM abteilung WHERE habtnr = '10' AND",
                               "hgrp FROM hauptgruppe WHERE",
                               "ugrp FROM untergruppe WHERE hgrp = '20' AND"};
        auto d = site_->db->open();
        for (int l = 0; l < 5; ++l) {
            host.lists[l] << QString()
                          << testsupport::column(*d,
                                                 QStringLiteral("SELECT %1 firma = 1 ORDER BY 1")
                                                     .arg(QLatin1String(lists[l])));
        }
        login("DEMO", "demo");
    }
    void login(const char* user, const char* pw, QDate today = QDate(2024, 3, 20)) {
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
    retrieval::DetailOutcome details() {
        return retrieval::runDetailQuery(env->s(), env->ui, host);
    }
    // Slots 1..72: which hold a number.
    static QString filled() {
        QString out;
        for (int n = 1; n <= 72; ++n)
            out += values::store().PeriodValues(n, 1).isEmpty() ? u'-' : u'x';
        return out;
    }
    // Revenue and costs in cents over a range of periods, from the raw sales lines.
    cache::server::Sums raw(int start, int end, cache::server::Selection s) {
        auto d = site_->db->open();
        return cache::server::Store(*d).rawSum(1, start, end, std::move(s));
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
    QList<testsupport::SentQuery>& sent = hook.sent;
    Host host;
    std::unique_ptr<testenv::Env> env;
};
using DetailQuery = PeriodQuery;

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
    for (const auto& r : rows) {
        SCOPED_TRACE(r.args.join(QLatin1Char('|')).toStdString());
        host.in.sel = r.sel;
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
    cache::server::Selection s;
    s[2] = QStringLiteral("M2");
    s[6] = QStringLiteral("L");
    int nonZero = 0;
    for (int n = 1; n <= 63; ++n) {
        const int period = testsupport::slotPeriod(n);
        SCOPED_TRACE(period);
        const cache::server::Sums r = raw(period, period, s);
        EXPECT_NEAR(values::store().PeriodValues(n, 1).value(), r.umsatz / 100.0, 0.005);
        EXPECT_NEAR(values::store().PeriodValues(n, 2).value(), (r.umsatz - r.kosten) / 100.0,
                    0.005);
        nonZero += r.umsatz != 0;
    }
    EXPECT_GT(nonZero, 20);
}

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
        const auto o = details();
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
                const auto t = raw(o.range.start.toInt(), o.range.end.toInt(), s);
                const int d = o.range.divisor;
                EXPECT_EQ(number(row[1 + 2 * k]), retrieval::roundedShare(t.umsatz / 100.0, d));
                EXPECT_EQ(number(row[2 + 2 * k]),
                          retrieval::roundedShare((t.umsatz - t.kosten) / 100.0, d));
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
    EXPECT_EQ(details().result, retrieval::DetailOutcome::Result::Nothing);
    EXPECT_EQ(host.prepared, prepared);
    EXPECT_EQ(host.rows, before);
}

// A restricted user without a department is refused by both queries:
// nothing sent, stored or listed, the pointer back.
TEST_P(PeriodQuery, RestrictedUserNeedsADepartment) {
    login("ABTLEITER", "abt");
    const QList refused{testenv::msg("Abteilungsauswahl!", "Sie Müssen eine Abteilung auswählen!",
                                     MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok, 32'400'000)};
    values::store().SelectionChanged = true;
    EXPECT_EQ(run().result, retrieval::FetchResult::Refused);
    EXPECT_EQ(host.redraws, 0);
    EXPECT_FALSE(values::store().PeriodValues.hasCells());
    EXPECT_FALSE(values::store().SelectionChanged);
    EXPECT_EQ(env->messages(), refused);
    env->ui.clearMessages();
    EXPECT_EQ(details().result, retrieval::DetailOutcome::Result::Refused);
    EXPECT_EQ(env->messages(), refused);
    EXPECT_EQ(host.prepared, 0);
    EXPECT_TRUE(sent.isEmpty());
    EXPECT_FALSE(env->ui.busyCursor());
}

// A request that fails keeps what came before it. The period query's
// report names the month; the months before stay, the bracket is closed,
// the page drawn. The split query's names the group; the rows before stay.
TEST_P(PeriodQuery, AFailedRequestKeepsWhatCame) {
    hook.budget = 30;
    const retrieval::FetchOutcome o = run();
    EXPECT_EQ(o.result, retrieval::FetchResult::Failed);
    EXPECT_EQ(o.months, 30);
    EXPECT_EQ(o.failedPeriod, QStringLiteral("12107"));
    EXPECT_EQ(filled(), QString(30, u'x') + QString(42, u'-'));
    EXPECT_EQ(env->messages(),
              QList{testenv::accessError("Datenabfrage Periode 12107 (Monat 31 von 63); die bisher "
                                         "geholten Monate werden angezeigt",
                                         cache::err::Sql, "Datenbank weg", 32'400'000)});
    EXPECT_FALSE(env->ui.busyCursor());
    EXPECT_EQ(host.redraws, 1);
    EXPECT_EQ(hook.closes, 31); // the failed request's result set too

    env->ui.clearMessages();
    host.in.sel.abt = QStringLiteral("M2");
    hook.budget = 3; // two requests a group: the total, then group 10's second fails
    const auto d = details();
    EXPECT_EQ(d.result, retrieval::DetailOutcome::Result::Failed);
    EXPECT_EQ(d.requests, 3);
    EXPECT_EQ(host.rows.size(), 1);
    EXPECT_EQ(env->messages(),
              QList{testenv::accessError("Details für Gruppe \"10\" (12401 bis 12412); die "
                                         "bisherigen Zeilen bleiben",
                                         cache::err::Sql, "Datenbank weg", 32'400'000)});
    EXPECT_FALSE(env->ui.busyCursor());
}

TEST(PeriodQueryText, KeysCodesNumbersAndRanges) {
    EXPECT_EQ(retrieval::detailKey({}, ""), "");
    EXPECT_EQ(retrieval::detailKey({}, "L"), "`````L");
    EXPECT_EQ(retrieval::detailKey({.pc = "10", .habt = "5"}, "L"), "10`5````L");
    EXPECT_EQ(retrieval::detailKey({.pc = "10", .habt = "5", .pg = "P"}, ""), "10`5```````P");
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

    // The detail ranges: year choice, calendar or fiscal year, one month.
    const struct {
        int choice, yearMode, kind, month;
        const char* want;
    } ranges[] = {
        {0, 0, 0, 1, "12401-12412/1"}, {1, 0, 0, 1, "12301-12312/1"},
        {2, 0, 0, 1, "12001-12212/3"}, {0, 1, 0, 1, "12403-12502/1"},
        {1, 1, 0, 1, "12303-12402/1"}, {2, 1, 0, 1, "12003-12302/3"}, // three fiscal years
        {1, 0, 1, 7, "12307-12307/1"}, {0, 1, 1, 12, "12412-12412/1"},
    };
    for (const auto& r : ranges) {
        const auto got = retrieval::detailRange({.yearChoice = r.choice,
                                                 .periodKind = r.kind,
                                                 .month = r.month,
                                                 .yearMode = r.yearMode,
                                                 .clockYear = 2024});
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

INSTANTIATE_ON_BOTH_ENGINES(PeriodQuery);
INSTANTIATE_ON_BOTH_ENGINES(DetailQuery);

} // namespace
