// Faults against a real PostgreSQL server: a cluster of this test's own,
// stopped and restarted under the client, backends killed from the server
// side, and a loopback proxy that stalls, swallows or resets the
// connection. Every case checks what the user sees (messages, pointer),
// what is kept, and that the next request after the fault works.

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

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testenv;
using testsupport::FaultProxy;
using testsupport::TestEngine;

namespace {

class Cluster {
public:
    static Cluster& get() {
        static Cluster c;
        return c;
    }
    bool up() const { return port_ > 0; }
    QString dir() const { return dir_.path() + QStringLiteral("/pg"); }
    const std::string& why() const { return why_; }
    int port() const { return port_; }
    void stop() {
        run("stop");
        running_ = false;
    }
    void restart() {
        if (!run("restart").startsWith(QString::number(port_)))
            ADD_FAILURE() << "the cluster did not start again";
        running_ = true;
    }
    // After a test that failed half-way: the next one finds a server.
    void ensureRunning() {
        if (!running_) restart();
    }
    ~Cluster() {
        if (up()) run("stop");
    }

private:
    Cluster() {
        dir_.setAutoRemove(true);
        // rwx for the owner, r-x for the others (the cluster's own user).
        QFile::setPermissions(dir_.path(), QFileDevice::Permissions(0x7055));
        const QString out = run("start").trimmed();
        port_ = out.toInt();
        if (port_ <= 0) why_ = "no PostgreSQL cluster of its own: " + out.toStdString();
    }
    QString run(const char* cmd) {
        const auto r = testsupport::runProcess(
            QStringLiteral(TALLVERO_SOURCE_DIR "/scripts/pg-test-cluster.sh"),
            {QLatin1String(cmd), dir()}, {}, {}, 120000);
        return QString::fromLocal8Bit(r.out + r.err);
    }

    QTemporaryDir dir_{QDir::tempPath() + QStringLiteral("/tallvero-fault.XXXXXX")};
    int port_ = 0;
    bool running_ = true;
    std::string why_;
};

// The demo business in the cluster, 2019 to March 2024.
testsupport::DemoSite& site() {
    return testsupport::demoSite(TestEngine::Postgres, QStringLiteral("faults"), 20000);
}

// Kills the client's server processes from the server side (another
// connection, as an administrator would).
int terminateClientBackends() {
    auto d = site().db->open();
    QSqlQuery& q =
        d->exec(QStringLiteral("SELECT count(pg_terminate_backend(pid)) FROM pg_stat_activity "
                               "WHERE datname = current_database() AND pid <> pg_backend_pid() "
                               "AND backend_type = 'client backend'"));
    const int n = q.next() ? q.value(0).toInt() : -1;
    q.finish();
    return n;
}

// Sums of every period-sum table, then the build information.
QStringList sumsFingerprint() {
    auto d = site().db->open();
    QStringList parts;
    for (const char* t : {"psum_top", "psum_org", "psum_prod", "psum_full", "wsum_top", "wsum_org",
                          "wsum_prod", "wsum_full"}) {
        QSqlQuery& q =
            d->exec(QStringLiteral("SELECT count(*) || '/' || coalesce(sum(umsatz), 0) || '/' || "
                                   "coalesce(sum(kosten), 0) FROM %1")
                        .arg(QLatin1String(t)));
        parts << (q.next() ? q.value(0).toString() : QString());
        q.finish();
    }
    return parts << cache::server::Store(*d).global(QStringLiteral("XWGDAT")).value_or(QString());
}

struct PeriodHost : retrieval::PeriodQueryHost {
    retrieval::Selection sel;
    std::function<void(int done)> onMonth;
    int redraws = 0;
    retrieval::Selection readSelection() override { return sel; }
    bool departmentChosen() const override { return true; }
    void monthFetched(int done, int, const QString&) override {
        if (onMonth) onMonth(done);
    }
    void redraw() override { ++redraws; }
};

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
    static void SetUpTestSuite() {
        Cluster& c = Cluster::get();
        if (!c.up()) return;
        qputenv("TALLVERO_TEST_PG", QByteArray("127.0.0.1:") + QByteArray::number(c.port()));
        qputenv("PGUSER", "tallvero"); // the cluster's superuser
        // Its password and certificate authority are this cluster's own.
        qputenv("PGPASSFILE", QFile::encodeName(c.dir() + QStringLiteral("/pgpass")));
        qputenv("PGSSLROOTCERT", QFile::encodeName(c.dir() + QStringLiteral("/tls/ca.crt")));
        qputenv("PGSSLMODE", "verify-full");
        site();
    }
    void SetUp() override {
        Cluster& c = Cluster::get();
        if (!c.up()) {
            if (qEnvironmentVariable("TALLVERO_REQUIRE_PG") == QLatin1String("1"))
                FAIL() << c.why();
            GTEST_SKIP() << c.why();
        }
        site().db->activate();
        if (reference_.isEmpty()) {
            // The reference: every month of the demo, fetched on a healthy link.
            login(c.port());
            if (fetch().result == retrieval::FetchResult::Done) reference_ = snapshot();
            env.reset();
        }
        ASSERT_FALSE(reference_.isEmpty());
        windows::programLog().clear();
    }
    void TearDown() override {
        env.reset();
        if (Cluster::get().up()) Cluster::get().ensureRunning();
    }

    void makeEnv(int port, srv::FactoryMaker inner) {
        env = std::make_unique<Env>(
            [this, inner] {
                return std::make_unique<fakes::RecordingFactory>(inner(), env->fake.log);
            },
            QDateTime(QDate(2024, 3, 20), QTime(9, 0), Qt::UTC));
        env->commandLine = QStringLiteral("1 0 DEMO demo 127.0.0.1 %1").arg(port);
    }
    // Logs DEMO in at 2024-03-20 09:00 through the given port.
    void login(int port) {
        makeEnv(port, [this] {
            auto f = std::make_unique<cache::server::ServerFactory>();
            f->options().generateProgress = [this](const cache::server::GenerateProgress& g) {
                if (onGenerateProgress) onGenerateProgress(g.done);
                return retrieval::reportRebuildProgress(g.done, g.total, g.period);
            };
            return f;
        });
        ASSERT_TRUE(env->s().CacheLogin());
        host.sel.firma = QStringLiteral("1");
        env->ui.clearMessages();
    }

    retrieval::FetchOutcome fetch() {
        values::store().SelectionChanged = true;
        return retrieval::runPeriodQuery(env->s(), env->ui, env->clock, values::store(), host);
    }
    // A fresh store, fetched: Done, no message, the reference values.
    void expectHealthyFetch(const char* when) {
        SCOPED_TRACE(when);
        values::resetStore();
        env->ui.clearMessages();
        const auto o = fetch();
        EXPECT_EQ(o.result, retrieval::FetchResult::Done) << o.error.toStdString();
        EXPECT_EQ(o.months, 63);
        EXPECT_TRUE(env->messages().isEmpty());
        EXPECT_TRUE(snapshot() == reference_);
        EXPECT_FALSE(env->ui.busyCursor());
    }

    static inline PeriodSnapshot reference_;
    std::function<void(int done)> onGenerateProgress;
    PeriodHost host;
    std::unique_ptr<Env> env;
};

// No server at login: the attempts of the login run on real refused or
// unanswered connections, and the program ends.
TEST_F(Faults, NoServerAtLoginRunsTheAttemptsAndEnds) {
    const testsupport::ScopedEnv limit("TALLVERO_PG_CONNECT_TIMEOUT", "2");
    for (const bool silent : {false, true}) {
        SCOPED_TRACE(silent ? "host that never answers" : "server stopped");
        std::optional<FaultProxy> proxy;
        if (silent)
            proxy.emplace(Cluster::get().port()).setMode(FaultProxy::Mode::Blackhole);
        else
            Cluster::get().stop();
        makeEnv(silent ? proxy->port() : Cluster::get().port(),
                [] { return std::make_unique<cache::server::ServerFactory>(); });
        int dialogShown = 0;
        env->server.script.push_back([&] {
            ++dialogShown;
            env->server.clickZurück();
        });
        QElapsedTimer t;
        t.start();
        EXPECT_THROW(env->s().CacheLogin(), srv::ProgramEnded);
        const qint64 ms = t.elapsed();
        if (!silent) Cluster::get().restart();
        // Attempt, 10 s, attempt, 10 s, attempt, warning (09:00:20), dialog, one
        // more, end.
        EXPECT_EQ(env->fake.log.connectTimes, (QList<qint64>{0, 10000, 20000, 20000}));
        EXPECT_EQ(env->messages(), (QList<platform::RecordedMessage>{warningAfterThree(at(3620)),
                                                                     finalFailure(at(3620))}));
        EXPECT_EQ(dialogShown, 1);
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
    {
        // The server is told the same limit, so a slow statement on a live
        // link ends with the server's own error, before the watchdog.
        auto d = site().db->open();
        EXPECT_EQ(
            d->scalar(QStringLiteral("SELECT current_setting('statement_timeout')")).toString(),
            QStringLiteral("2s"));
        EXPECT_EQ(cache::server::pgTimeouts().watchdog(), 4);
    }
    using R = retrieval::FetchResult;
    const auto restart = [](FaultProxy&) {
        Cluster::get().stop();
        Cluster::get().restart();
    };
    const auto stop = [](FaultProxy&) { Cluster::get().stop(); };
    const auto stall = [](FaultProxy& p) { p.setMode(FaultProxy::Mode::Stall); };
    const auto cut = [](FaultProxy& p) { p.cutAll(); };
    struct Row {
        const char* name;
        bool viaProxy;
        qint64 idleMs; // before the fault, after a healthy fetch
        int atMonth;   // the fault strikes after this month, 0: before the fetch
        std::function<void(FaultProxy&)> fault;
        R result;
        const char* text; // in the one message, none when empty
        qint64 minMs, maxMs;
    };
    const Row rows[] = {
        // A minute without server work closes the connection: nothing to see.
        {"restart after the idle minute", false, 61000, 0, restart, R::Done, "", 0, 60000},
        // The dead link shows on the first request only, the permission check.
        {"restart within the idle minute", false, 30000, 0, restart, R::Refused, "Berechtigung", 0,
         60000},
        {"link stalled while idle", true, 0, 0, stall, R::Refused, "Berechtigung", 3900, 15000},
        {"server stopped mid-fetch", false, 0, 20, stop, R::Failed, "", 0, 60000},
        {"link stalled mid-fetch", true, 0, 10, stall, R::Failed,
         "Keine Antwort vom Server nach 4 s", 3900, 15000},
        {"link reset mid-fetch", true, 0, 30, cut, R::Failed, "", 0, 10000},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        FaultProxy proxy(Cluster::get().port());
        login(r.viaProxy ? proxy.port() : Cluster::get().port());
        if (r.atMonth == 0) {
            expectHealthyFetch("before");
            env->clock.advance(r.idleMs);
            EXPECT_EQ(env->s().factory()->isConnected(), r.idleMs < 60000);
            r.fault(proxy);
        }
        host.onMonth = [&](int done) {
            if (done == r.atMonth) r.fault(proxy);
        };
        const int connects = env->fake.log.connectTimes.size();
        const int accepted = proxy.accepted();
        values::resetStore();
        env->ui.clearMessages();
        host.redraws = 0;
        QElapsedTimer t;
        t.start();
        const auto o = fetch();
        const qint64 ms = t.elapsed();
        host.onMonth = nullptr;
        EXPECT_EQ(o.result, r.result) << o.error.toStdString();
        EXPECT_GE(ms, r.minMs);
        EXPECT_LT(ms, r.maxMs);
        EXPECT_FALSE(env->ui.busyCursor());
        if (r.result == R::Done) {
            EXPECT_TRUE(snapshot() == reference_);
            EXPECT_TRUE(env->messages().isEmpty());
            EXPECT_EQ(env->fake.log.connectTimes.size(), connects + 1);
            continue;
        }
        // The months that came before the fault are kept and drawn, the rest
        // stay empty; one access error report tells why.
        EXPECT_EQ(o.months, r.atMonth);
        if (r.result == R::Failed) {
            EXPECT_EQ(o.errorNumber, cache::err::NotConnected) << o.error.toStdString();
            const int kept = r.atMonth;
            EXPECT_EQ(o.failedPeriod,
                      QString::number((119 + kept / 12) * 100 + kept % 12 + 1)); // 2019 onwards
            const PeriodSnapshot now = snapshot();
            for (int i = 0; i < now.size(); ++i)
                EXPECT_EQ(now[i], i / 2 < kept ? reference_.at(i) : values::Cell())
                    << "slot " << i / 2 + 1;
            EXPECT_EQ(host.redraws, 1);
        }
        ASSERT_EQ(env->messages().size(), 1);
        EXPECT_EQ(env->messages().first().title, QStringLiteral("Caché Zugriffsfehler"));
        EXPECT_TRUE(env->messages().first().text.contains(QString::fromUtf8(r.text)));
        EXPECT_TRUE(env->messages().first().text.contains(o.error));
        // Gone again: the next F5 works, on a new connection.
        proxy.setMode(FaultProxy::Mode::Pass);
        Cluster::get().ensureRunning();
        expectHealthyFetch("after the fault");
        EXPECT_EQ(proxy.accepted(), accepted + (r.viaProxy ? 1 : 0));
    }
}

TEST_F(Faults, BackendKilledDuringGenerierenKeepsTheOldSums) {
    login(Cluster::get().port());
    const QStringList before = sumsFingerprint();
    retrieval::FrmNeueDaten dialog(env->s(), env->ui, env->clock);
    dialog.Form_Load();
    dialog.show();
    dialog.edtVon->setText(QStringLiteral("12301"));
    dialog.edtBis->setText(QStringLiteral("12312"));
    int killed = -1;
    onGenerateProgress = [&](int done) {
        if (done == 3) killed = terminateClientBackends();
    };
    dialog.OKButton_Click();
    onGenerateProgress = nullptr;
    EXPECT_EQ(killed, 1);
    EXPECT_EQ(dialog.lastOutcome(), retrieval::FrmNeueDaten::Outcome::Failed);
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().first().title, QStringLiteral("Caché Zugriffsfehler"));
    EXPECT_TRUE(env->messages().first().text.contains(QStringLiteral("Periode 12301 bis 12312")));
    EXPECT_EQ(sumsFingerprint(), before) << "a broken rebuild changes nothing";
    EXPECT_FALSE(env->ui.busyCursor());
    EXPECT_TRUE(dialog.isVisible() && dialog.OKButton->isEnabled() && dialog.edtVon->isEnabled());

    // OK once more: the rebuild runs through to the same sums (the lines did
    // not change) with new build information.
    dialog.OKButton_Click();
    EXPECT_EQ(dialog.lastOutcome(), retrieval::FrmNeueDaten::Outcome::Done);
    const QStringList after = sumsFingerprint();
    EXPECT_EQ(after.mid(0, 8), before.mid(0, 8));
    EXPECT_NE(after.last(), before.last());
}

} // namespace
