// Faults against a real PostgreSQL server: backends killed from the server
// side, and a loopback proxy that refuses, stalls or resets the
// connection. Every case checks what the user sees (messages, pointer),
// what is kept, and that the next request after the fault works. Only this
// test's own database and proxy are hit, so other tests on the cluster run on.

#include "ReliabilityHelpers.h"
#include "platform/cache/server/Database.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "retrieval/FrmNeueDaten.h"
#include "retrieval/PeriodQuery.h"
#include "retrieval/RebuildProgress.h"
#include "server/SessionEnv.h"
#include "support/DemoSite.h"
#include "support/FaultProxy.h"
#include "support/Process.h"
#include "windows/ProgramLog.h"

#include <QElapsedTimer>
#include <QLineEdit>
#include <gtest/gtest.h>

using namespace testenv;
using namespace Qt::StringLiterals;
using testsupport::FaultProxy;
using testsupport::TestEngine;

namespace {

// The demo business, 2019 to March 2024.
testsupport::DemoSite& site() {
    return testsupport::demoSite(TestEngine::Postgres, QStringLiteral("faults"), 20000);
}

// Kills the client's server processes from the server side (another
// connection, as an administrator would); the number killed.
int killClientBackends() {
    return site()
        .db->open()
        ->scalar(QStringLiteral(
            "SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity WHERE datname = "
            "current_database() AND pid <> pg_backend_pid() AND backend_type = 'client backend'"))
        .toInt();
}

// The build information, then rows and sums of every period-sum table.
QStringList sumsFingerprint() {
    auto d = site().db->open();
    QStringList parts{cache::server::Store(*d).global(u"XWGDAT"_s).value_or(QString())};
    for (const char* t : {"psum_top", "psum_org", "psum_prod", "psum_full", "wsum_top", "wsum_org",
                          "wsum_prod", "wsum_full"})
        parts += reliability::rows(*d, u"SELECT count(*), sum(umsatz), sum(kosten) FROM "_s + t)[0];
    return parts;
}

using PeriodSnapshot = QList<values::Cell>;

PeriodSnapshot snapshot() {
    PeriodSnapshot out;
    const values::Table& P = values::store().PeriodValues;
    for (int n = 1; P.hasCells() && n <= 72; ++n)
        out << P(n, 1) << P(n, 2);
    return out;
}

class Faults : public ::testing::Test {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(TestEngine::Postgres);
        site(); // activates its database
        if (reference_.isEmpty()) {
            // The reference: the 61 months up to kToday, fetched on a healthy link.
            login(site().port.toInt());
            if (fetch().result == retrieval::FetchResult::Done) reference_ = snapshot();
        }
        ASSERT_FALSE(reference_.isEmpty());
        windows::programLog().clear();
    }
    void TearDown() override { env.reset(); }

    // DEMO at 09:00 of kToday on the command line, through the given port.
    void makeEnv(int port) {
        env.reset(); // before the next one: an Env resets the records when it ends
        const auto maker = [this] {
            auto f = std::make_unique<cache::server::ServerFactory>();
            f->options().generateProgress = [this](const cache::server::GenerateProgress& g) {
                if (onGenerateProgress) onGenerateProgress(g.done);
                return retrieval::reportRebuildProgress(g.done, g.total, g.period);
            };
            return std::make_unique<fakes::RecordingFactory>(std::move(f), env->fake.log);
        };
        env = reliability::clientEnv(site(), u"DEMO"_s, u"demo"_s, maker,
                                     u"127.0.0.1 %1"_s.arg(port));
    }
    void login(int port) {
        makeEnv(port);
        ASSERT_TRUE(env->s().CacheLogin());
        host.turns = {{}};
        host.turns[0].firma = u"1"_s;
        env->ui.clearMessages();
    }
    retrieval::FetchOutcome fetch() {
        values::resetStore();
        env->ui.clearMessages();
        host.redraws = 0;
        values::store().SelectionChanged = true;
        return retrieval::runPeriodQuery(env->s(), env->ui, env->clock, values::store(), host);
    }
    // A fresh store, fetched: Done, no message, the reference values.
    void expectHealthyFetch(const char* when) {
        SCOPED_TRACE(when);
        const auto o = fetch();
        EXPECT_EQ(o.result, retrieval::FetchResult::Done) << o.error.toStdString();
        EXPECT_EQ(o.months, 61);
        EXPECT_TRUE(env->messages().isEmpty());
        EXPECT_TRUE(snapshot() == reference_);
        EXPECT_FALSE(env->ui.busyCursor());
    }

    static inline PeriodSnapshot reference_;
    std::function<void(int done)> onGenerateProgress;
    reliability::PeriodHost host;
    std::unique_ptr<Env> env;
};

// No server at login: the attempts of the login run on real refused or
// unanswered connections, and the program ends.
TEST_F(Faults, NoServerAtLoginRunsTheAttemptsAndEnds) {
    const testsupport::ScopedEnv limit("TALLVERO_PG_CONNECT_TIMEOUT", "2");
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "host that never answers" : "nothing listens");
        std::optional<FaultProxy> proxy(std::in_place, site().port.toInt());
        proxy->setMode(FaultProxy::Mode::Stall); // accepts, never answers
        makeEnv(proxy->port());
        if (!silent) proxy.reset(); // its port refuses from now on
        env->server.script.push_back([&] { env->server.clickZurück(); });
        QElapsedTimer t;
        t.start();
        EXPECT_THROW(env->s().CacheLogin(), srv::ProgramEnded);
        const qint64 ms = t.elapsed();
        // Attempt, 10 s, attempt, 10 s, attempt, warning (09:00:20), dialog, one
        // more, end.
        EXPECT_EQ(env->fake.log.connectTimes, (QList<qint64>{0, 10000, 20000, 20000}));
        EXPECT_EQ(env->messages(), (QList<platform::RecordedMessage>{warningAfterThree(at(3620)),
                                                                     finalFailure(at(3620))}));
        EXPECT_EQ(env->server.modalShows, 1);
        EXPECT_EQ(env->endCalls, 1);
        // A refused connection fails at once; a silent host costs the
        // connect limit per attempt, not for ever.
        EXPECT_EQ(silent ? proxy->accepted() : 4, 4);
        EXPECT_GE(ms, silent ? 4 * 2000 - 500 : 0);
        EXPECT_LT(ms, silent ? 4 * 2000 + 6000 : 5000);
    }
}

// A fault before a fetch (after some idle time) or after some of its months:
// what the fetch returns and shows, then the next fetch once the fault is gone.
TEST_F(Faults, FetchThroughAFaultThenHealthy) {
    const testsupport::ScopedEnv limit("TALLVERO_PG_STATEMENT_TIMEOUT", "2"); // watchdog after 4 s
    // The server is told the same limit, so a slow statement on a live link
    // ends with the server's own error, before the watchdog.
    const auto told = site().db->open()->scalar(u"SELECT current_setting('statement_timeout')"_s);
    EXPECT_EQ(told.toString(), u"2s"_s);
    EXPECT_EQ(cache::server::pgTimeouts().watchdog(), 4);
    using R = retrieval::FetchResult;
    const auto kill = [](FaultProxy&) { EXPECT_EQ(killClientBackends(), 1); };
    const auto stall = [](FaultProxy& p) { p.setMode(FaultProxy::Mode::Stall); };
    const auto cut = [](FaultProxy& p) { p.cutAll(); };
    const struct {
        const char* name;
        qint64 idleMs; // before the fault, after a healthy fetch
        int atMonth;   // the fault strikes after this month, 0: before the fetch
        std::function<void(FaultProxy&)> fault;
        R result;
        const char* text; // in the one message, none when empty
        qint64 minMs, maxMs;
    } rows[] = {
        // A minute without server work closes the connection: nothing to see.
        {"link reset after the idle minute", 61000, 0, cut, R::Done, "", 0, 60000},
        // The dead link shows on the first request only, the permission check.
        {"backend killed within the idle minute", 30000, 0, kill, R::Refused, "Berechtigung", 0,
         60000},
        {"link stalled while idle", 0, 0, stall, R::Refused, "Berechtigung", 3900, 15000},
        {"backend killed mid-fetch", 0, 20, kill, R::Failed, "", 0, 60000},
        {"link stalled mid-fetch", 0, 10, stall, R::Failed, "Keine Antwort vom Server nach 4 s",
         3900, 15000},
        {"link reset mid-fetch", 0, 30, cut, R::Failed, "", 0, 10000},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        FaultProxy proxy(site().port.toInt());
        login(proxy.port());
        if (r.atMonth == 0) {
            expectHealthyFetch("before");
            env->clock.advance(r.idleMs);
            EXPECT_EQ(env->s().factory()->isConnected(), r.idleMs < 60000);
            r.fault(proxy);
        }
        host.onMonth = [&](int done) {
            if (done == r.atMonth) r.fault(proxy);
        };
        const int accepted = proxy.accepted();
        QElapsedTimer t;
        t.start();
        const auto o = fetch();
        const qint64 ms = t.elapsed();
        host.onMonth = nullptr;
        EXPECT_EQ(o.result, r.result) << o.error.toStdString();
        EXPECT_GE(ms, r.minMs);
        EXPECT_LT(ms, r.maxMs);
        EXPECT_FALSE(env->ui.busyCursor());
        // The months that came before the fault are kept and drawn, the rest
        // stay empty; one access error report tells why.
        const int kept = r.result == R::Done ? 61 : r.atMonth;
        EXPECT_EQ(o.months, kept);
        if (r.result != R::Refused) {
            const PeriodSnapshot now = snapshot();
            ASSERT_EQ(now.size(), reference_.size());
            for (int i = 0; i < now.size(); ++i)
                EXPECT_EQ(now[i], i / 2 < kept ? reference_.at(i) : values::Cell())
                    << "slot " << i / 2 + 1;
            EXPECT_EQ(host.redraws, 1);
        }
        if (r.result == R::Failed) {
            EXPECT_EQ(o.errorNumber, cache::err::NotConnected) << o.error.toStdString();
            EXPECT_EQ(o.failedPeriod, QString::number(testsupport::slotPeriod(kept + 1)));
        }
        ASSERT_EQ(env->messages().size(), r.result == R::Done ? 0 : 1);
        for (const platform::RecordedMessage& m : env->messages()) {
            EXPECT_EQ(m.title, QStringLiteral("Caché Zugriffsfehler"));
            EXPECT_TRUE(m.text.contains(QString::fromUtf8(r.text)));
            EXPECT_TRUE(m.text.contains(o.error));
        }
        // Gone again: the next F5 works, on a new connection (the one the
        // healthy row's fetch opened after the idle close).
        proxy.setMode(FaultProxy::Mode::Pass);
        expectHealthyFetch("after the fault");
        EXPECT_EQ(proxy.accepted(), accepted + 1);
    }
}

// A backend killed from the server side (as an administrator would) during
// the bulk rebuild: nothing changes; the dialog's own failure handling is
// shown with a scripted fault in the rebuild dialog tests.
TEST_F(Faults, BackendKilledDuringGenerierenKeepsTheOldSums) {
    login(site().port.toInt());
    const QStringList before = sumsFingerprint();
    retrieval::FrmNeueDaten dialog(env->s(), env->ui, env->clock);
    dialog.Form_Load();
    dialog.show();
    dialog.edtVon->setText(QStringLiteral("12301"));
    dialog.edtBis->setText(QStringLiteral("12312"));
    int killed = -1;
    onGenerateProgress = [&](int done) {
        if (done == 3) killed = killClientBackends();
    };
    dialog.OKButton_Click();
    onGenerateProgress = nullptr;
    EXPECT_EQ(killed, 1);
    EXPECT_EQ(dialog.lastOutcome(), retrieval::FrmNeueDaten::Outcome::Failed);
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_TRUE(env->messages().first().text.contains(QStringLiteral("Periode 12301 bis 12312")));
    EXPECT_EQ(sumsFingerprint(), before) << "a broken rebuild changes nothing";
    EXPECT_FALSE(env->ui.busyCursor());

    // OK once more: the rebuild runs through to the same sums (the lines did
    // not change) with new build information.
    dialog.OKButton_Click();
    EXPECT_EQ(dialog.lastOutcome(), retrieval::FrmNeueDaten::Outcome::Done);
    const QStringList after = sumsFingerprint();
    EXPECT_EQ(after.mid(1), before.mid(1));
    EXPECT_NE(after.first(), before.first());
}

} // namespace
