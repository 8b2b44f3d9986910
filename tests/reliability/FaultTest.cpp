// Faults against a real PostgreSQL server: a cluster of this test's own,
// stopped and restarted under the client, backends killed from the server
// side, and a loopback proxy that delays, stalls, swallows or resets the
// connection. Every case checks what the user sees (messages, pointer),
// what is kept, and that the next request after the fault works.

#include "platform/cache/server/Database.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "retrieval/DetailQuery.h"
#include "retrieval/FrmNeueDaten.h"
#include "retrieval/PeriodQuery.h"
#include "retrieval/RebuildProgress.h"
#include "server/SessionEnv.h"
#include "support/DemoSite.h"
#include "support/FaultProxy.h"
#include "windows/ProgramLog.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace testenv;
using testsupport::FaultProxy;
using testsupport::TestEngine;

namespace {

// ---------------------------------------------------------------- cluster

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
        QFile::setPermissions(dir_.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                               QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                               QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                               QFileDevice::ExeGroup);
        const QString out = run("start").trimmed();
        port_ = out.toInt();
        if (port_ <= 0) why_ = "no PostgreSQL cluster of its own: " + out.toStdString();
    }
    QString run(const char* cmd) {
        QProcess p;
        p.start(QStringLiteral(TALLVERO_SOURCE_DIR "/scripts/pg-test-cluster.sh"),
                {QLatin1String(cmd), dir_.path() + QStringLiteral("/pg")});
        p.waitForFinished(120000);
        return QString::fromLocal8Bit(p.readAllStandardOutput() + p.readAllStandardError());
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

// Sums of every period-sum table and the build information: what a failed
// rebuild must leave as it was.
QString sumsFingerprint() {
    auto d = site().db->open();
    QStringList parts;
    for (const char* t : {"psum_top", "psum_org", "psum_prod", "psum_full", "wsum_top", "wsum_org",
                          "wsum_prod", "wsum_full"}) {
        QSqlQuery& q = d->exec(QStringLiteral("SELECT count(*), coalesce(sum(umsatz), 0), "
                                              "coalesce(sum(kosten), 0) FROM %1")
                                   .arg(QLatin1String(t)));
        q.next();
        parts << QStringLiteral("%1:%2/%3/%4")
                     .arg(QLatin1String(t), q.value(0).toString(), q.value(1).toString(),
                          q.value(2).toString());
        q.finish();
    }
    parts << cache::server::Store(*d).global(QStringLiteral("XWGDAT")).value_or(QString());
    return parts.join(QLatin1Char(' '));
}

// ------------------------------------------------------------- factories

// The real server component; calls a hook before the n-th execute of a
// class query (counting from 1), and forwards rebuild progress.
struct Hooks {
    std::function<void(int n)> beforeExecute;
    int executes = 0;
    std::function<void(int done)> onGenerateProgress;
};

class HookedQuery : public cache::CacheQuery {
public:
    HookedQuery(std::unique_ptr<cache::CacheQuery> inner, Hooks& h) : inner_(std::move(inner)), h_(h) {}
    void execute(const QStringList& args) override {
        ++h_.executes;
        if (h_.beforeExecute) h_.beforeExecute(h_.executes);
        inner_->execute(args);
    }
    bool next() override { return inner_->next(); }
    QString column(int n) override { return inner_->column(n); }
    int columnCount() const override { return inner_->columnCount(); }
    void SYS_Close() override { inner_->SYS_Close(); }

private:
    std::unique_ptr<cache::CacheQuery> inner_;
    Hooks& h_;
};

class HookedFactory : public cache::server::ServerFactory {
public:
    explicit HookedFactory(Hooks& h) : h_(h) {
        options().generateProgress = [&h](const cache::server::GenerateProgress& g) {
            if (h.onGenerateProgress) h.onGenerateProgress(g.done);
            return retrieval::reportRebuildProgress(g.done, g.total, g.period);
        };
    }
    std::unique_ptr<cache::CacheQuery> query(const QString& c, const QString& q) override {
        return std::make_unique<HookedQuery>(ServerFactory::query(c, q), h_);
    }

private:
    Hooks& h_;
};

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

struct DetailHost : retrieval::DetailQueryHost {
    retrieval::DetailInputs in;
    QStringList habts;
    QList<QStringList> rows;
    retrieval::DetailInputs readInputs() override { return in; }
    bool departmentChosen() const override { return true; }
    QStringList groupCodes(retrieval::GroupLevel l) override {
        return l == retrieval::GroupLevel::Habt ? habts : QStringList{};
    }
    void prepareList(const QStringList&) override { rows.clear(); }
    void addRow(const QStringList& cells) override { rows << cells; }
};

// A scoped environment variable.
struct EnvVar {
    EnvVar(const char* name, const QByteArray& value) : name_(name) {
        had_ = qEnvironmentVariableIsSet(name);
        old_ = qgetenv(name);
        qputenv(name, value);
    }
    ~EnvVar() {
        if (had_) qputenv(name_, old_);
        else qunsetenv(name_);
    }
    const char* name_;
    bool had_;
    QByteArray old_;
};

using PeriodSnapshot = QList<values::Cell>;

PeriodSnapshot snapshot() {
    PeriodSnapshot out;
    const values::Table& P = values::store().PeriodValues;
    if (!P.hasCells()) return out;
    for (int n = 1; n <= 72; ++n)
        for (int c = 1; c <= 2; ++c) out << P(n, c);
    return out;
}

// --------------------------------------------------------------- fixture

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
        // The reference: every month of the demo, fetched on a healthy link.
        struct Probe : Faults {
            void TestBody() override {}
        } probe;
        probe.login(QString::number(c.port()));
        values::resetStore();
        values::store().SelectionChanged = true;
        QElapsedTimer t;
        t.start();
        const auto o = probe.fetch();
        ASSERT_EQ(o.result, retrieval::FetchResult::Done);
        std::printf("[ figures ] reference fetch of 63 months, direct: %lld ms\n",
                    static_cast<long long>(t.elapsed()));
        reference_ = new PeriodSnapshot(snapshot());
    }
    static void TearDownTestSuite() {
        delete reference_;
        reference_ = nullptr;
    }
    void SetUp() override {
        Cluster& c = Cluster::get();
        if (!c.up()) {
            if (qEnvironmentVariable("TALLVERO_REQUIRE_PG") == QLatin1String("1")) FAIL() << c.why();
            GTEST_SKIP() << c.why();
        }
        ASSERT_NE(reference_, nullptr);
        site().db->activate();
        windows::programLog().clear();
    }
    void TearDown() override {
        env.reset();
        if (Cluster::get().up()) Cluster::get().ensureRunning();
    }

    // Logs DEMO in at 2024-03-20 09:00 through the given port.
    void login(const QString& port) {
        env = std::make_unique<Env>(
            [this] {
                return std::make_unique<fakes::RecordingFactory>(
                    std::make_unique<HookedFactory>(hooks), env->fake.log);
            },
            QDateTime(QDate(2024, 3, 20), QTime(9, 0), Qt::UTC));
        env->commandLine = QStringLiteral("1 0 DEMO demo 127.0.0.1 %1").arg(port);
        ASSERT_TRUE(env->s().CacheLogin());
        host.sel.firma = QStringLiteral("1");
        env->ui.clearMessages();
    }
    void loginDirect() { login(QString::number(Cluster::get().port())); }

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
        EXPECT_TRUE(snapshot() == *reference_);
        EXPECT_FALSE(env->ui.busyCursor());
    }
    // After a failed run: months 1..kept hold the reference, the rest empty,
    // one access error report, the arrow pointer.
    void expectFailedAfter(const retrieval::FetchOutcome& o, int kept) {
        EXPECT_EQ(o.result, retrieval::FetchResult::Failed);
        EXPECT_EQ(o.months, kept);
        EXPECT_EQ(o.errorNumber, cache::err::NotConnected) << o.error.toStdString();
        const PeriodSnapshot now = snapshot();
        for (int i = 0; i < now.size(); ++i) {
            const int slot = i / 2 + 1;
            if (slot <= kept) EXPECT_EQ(now[i], reference_->at(i)) << "slot " << slot;
            else EXPECT_TRUE(now[i].isEmpty()) << "slot " << slot;
        }
        ASSERT_EQ(env->messages().size(), 1);
        EXPECT_EQ(env->messages().first().title, QStringLiteral("Caché Zugriffsfehler"));
        EXPECT_TRUE(env->messages().first().text.contains(o.error));
        EXPECT_FALSE(env->ui.busyCursor());
        EXPECT_EQ(host.redraws, 1); // the months that came are drawn
    }

    static inline PeriodSnapshot* reference_ = nullptr;
    Hooks hooks;
    PeriodHost host;
    std::unique_ptr<Env> env;
};

// ------------------------------------------------------------------ tests

TEST_F(Faults, ServerStoppedBeforeLoginRunsTheAttemptsAndEnds) {
    Cluster::get().stop();
    env = std::make_unique<Env>([this] {
        return std::make_unique<fakes::RecordingFactory>(
            std::make_unique<cache::server::ServerFactory>(), env->fake.log);
    });
    env->commandLine =
        QStringLiteral("1 0 DEMO demo 127.0.0.1 %1").arg(Cluster::get().port());
    int dialogShown = 0;
    env->server.script.push_back([&] {
        ++dialogShown;
        env->server.clickZurück();
    });
    QElapsedTimer t;
    t.start();
    EXPECT_THROW(env->s().CacheLogin(), srv::ProgramEnded);
    const qint64 realMs = t.elapsed();
    Cluster::get().restart();
    // Attempt, 10 s, attempt, 10 s, attempt, warning, dialog, one more, end.
    EXPECT_EQ(env->fake.log.connectTimes, (QList<qint64>{0, 10000, 20000, 20000}));
    EXPECT_EQ(env->messages(),
              (QList<platform::RecordedMessage>{warningAfterThree(at(20)), finalFailure(at(20))}));
    EXPECT_EQ(dialogShown, 1);
    EXPECT_EQ(env->endCalls, 1);
    EXPECT_LT(realMs, 5000) << "a refused connection fails at once";
    std::printf("[ figures ] stopped server: 4 refused attempts in %lld ms of real time\n",
                static_cast<long long>(realMs));
}

TEST_F(Faults, ServerStoppedInTheMiddleOfAFetch) {
    loginDirect();
    host.onMonth = [](int done) {
        if (done == 20) Cluster::get().stop();
    };
    values::resetStore();
    const auto o = fetch();
    host.onMonth = nullptr;
    expectFailedAfter(o, 20);
    EXPECT_EQ(o.failedPeriod, QStringLiteral("12009")); // month 21: September 2020

    // (An F5 while it is still down runs the connection attempts of the
    // login; ServerStoppedBeforeLogin covers that timeline.)
    Cluster::get().restart();
    expectHealthyFetch("after the restart");
}

TEST_F(Faults, RestartWhileIdleReconnectsSilently) {
    loginDirect();
    expectHealthyFetch("before");
    const int connects = env->fake.log.connectTimes.size();
    // A minute without server work closes the connection.
    env->clock.advance(61000);
    EXPECT_FALSE(env->s().factory()->isConnected());
    Cluster::get().stop();
    Cluster::get().restart();
    expectHealthyFetch("after the restart");
    EXPECT_EQ(env->fake.log.connectTimes.size(), connects + 1);
}

TEST_F(Faults, RestartWithinTheIdleMinuteCostsOneReport) {
    loginDirect();
    expectHealthyFetch("before");
    env->clock.advance(30000); // the connection is still open
    EXPECT_TRUE(env->s().factory()->isConnected());
    Cluster::get().stop();
    Cluster::get().restart();
    // The dead link shows on the first request only, the permission check:
    // one report, no months, the arrow pointer.
    values::resetStore();
    const auto o = fetch();
    EXPECT_EQ(o.result, retrieval::FetchResult::Refused);
    EXPECT_EQ(o.months, 0);
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().first().title, QStringLiteral("Caché Zugriffsfehler"));
    EXPECT_TRUE(env->messages().first().text.contains(QStringLiteral("Berechtigung")));
    EXPECT_FALSE(env->ui.busyCursor());
    expectHealthyFetch("the next F5");
}

TEST_F(Faults, BackendKilledDuringTheDetailsQuery) {
    loginDirect();
    DetailHost dh;
    dh.in.sel.firma = QStringLiteral("1");
    dh.in.clockYear = 2024;
    dh.in.splitMask = 1; // by sub group
    {
        auto d = site().db->open();
        QSqlQuery& q = d->exec(
            QStringLiteral("SELECT habtnr FROM hauptabteilung WHERE firma = 1 ORDER BY habtnr"));
        dh.habts << QString();
        while (q.next()) dh.habts << q.value(0).toString();
        q.finish();
    }
    ASSERT_GE(dh.habts.size(), 3);
    env->ui.queueAnswer(platform::MsgAnswer::No); // by main department
    const auto good = retrieval::runDetailQuery(env->s(), env->ui, dh);
    ASSERT_EQ(good.result, retrieval::DetailOutcome::Result::Done);
    const QList<QStringList> reference = dh.rows;
    ASSERT_FALSE(reference.isEmpty());

    const int before = hooks.executes;
    int killed = -1;
    hooks.beforeExecute = [&](int n) {
        if (n == before + 2) killed = terminateClientBackends();
    };
    env->ui.clearMessages();
    env->ui.queueAnswer(platform::MsgAnswer::No);
    const auto bad = retrieval::runDetailQuery(env->s(), env->ui, dh);
    hooks.beforeExecute = nullptr;
    EXPECT_EQ(killed, 1);
    EXPECT_EQ(bad.result, retrieval::DetailOutcome::Result::Failed);
    EXPECT_FALSE(env->ui.busyCursor());
    bool reported = false;
    for (const auto& m : env->messages())
        reported = reported || m.title == QStringLiteral("Caché Zugriffsfehler");
    EXPECT_TRUE(reported);

    env->ui.clearMessages();
    env->ui.queueAnswer(platform::MsgAnswer::No);
    const auto again = retrieval::runDetailQuery(env->s(), env->ui, dh);
    EXPECT_EQ(again.result, retrieval::DetailOutcome::Result::Done);
    EXPECT_EQ(dh.rows, reference);
}

TEST_F(Faults, BackendKilledDuringGenerierenKeepsTheOldSums) {
    loginDirect();
    const QString before = sumsFingerprint();
    retrieval::FrmNeueDaten dialog(env->s(), env->ui, env->clock);
    dialog.Form_Load();
    dialog.show();
    dialog.edtVon->setText(QStringLiteral("12301"));
    dialog.edtBis->setText(QStringLiteral("12312"));
    int killed = -1;
    hooks.onGenerateProgress = [&](int done) {
        if (done == 3) killed = terminateClientBackends();
    };
    env->ui.clearMessages();
    dialog.OKButton_Click();
    hooks.onGenerateProgress = nullptr;
    EXPECT_EQ(killed, 1);
    EXPECT_EQ(dialog.lastOutcome(), retrieval::FrmNeueDaten::Outcome::Failed);
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().first().title, QStringLiteral("Caché Zugriffsfehler"));
    EXPECT_TRUE(env->messages().first().text.contains(QStringLiteral("Periode 12301 bis 12312")));
    EXPECT_EQ(sumsFingerprint(), before) << "a broken rebuild changes nothing";
    EXPECT_FALSE(env->ui.busyCursor());
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_TRUE(dialog.OKButton->isEnabled());
    EXPECT_TRUE(dialog.edtVon->isEnabled());

    // The same dialog, OK once more: the rebuild runs through.
    env->ui.clearMessages();
    dialog.OKButton_Click();
    EXPECT_EQ(dialog.lastOutcome(), retrieval::FrmNeueDaten::Outcome::Done);
    const QString after = sumsFingerprint();
    // The sums are the same figures (the lines did not change); only the
    // build information is new.
    EXPECT_EQ(after.section(QLatin1Char(' '), 0, 7), before.section(QLatin1Char(' '), 0, 7));
    EXPECT_NE(after.section(QLatin1Char(' '), 8), before.section(QLatin1Char(' '), 8));
}

TEST_F(Faults, SlowLinkStillGivesTheSameFigures) {
    FaultProxy proxy(Cluster::get().port());
    proxy.setDelayMs(5);
    login(QString::number(proxy.port()));
    QElapsedTimer t;
    t.start();
    expectHealthyFetch("5 ms per packet");
    const qint64 ms = t.elapsed();
    EXPECT_GT(proxy.bytesForwarded(), 0);
    std::printf("[ figures ] fetch of 63 months with 5 ms per packet: %lld ms\n",
                static_cast<long long>(ms));
}

TEST_F(Faults, StalledLinkIsCutAfterTheStatementLimit) {
    const EnvVar limit("TALLVERO_PG_STATEMENT_TIMEOUT", "2"); // watchdog after 4 s
    {
        // The server is told the same limit, so a slow statement on a live
        // link ends with the server's own error, before the watchdog.
        auto d = site().db->open();
        EXPECT_EQ(d->scalar(QStringLiteral("SELECT current_setting('statement_timeout')")).toString(),
                  QStringLiteral("2s"));
        EXPECT_EQ(cache::server::pgTimeouts().watchdog(), 4);
    }
    FaultProxy proxy(Cluster::get().port());
    login(QString::number(proxy.port()));
    host.onMonth = [&](int done) {
        if (done == 10) proxy.setMode(FaultProxy::Mode::Stall);
    };
    values::resetStore();
    QElapsedTimer t;
    t.start();
    const auto o = fetch();
    const qint64 ms = t.elapsed();
    host.onMonth = nullptr;
    expectFailedAfter(o, 10);
    EXPECT_TRUE(o.error.contains(QStringLiteral("Keine Antwort vom Server nach 4 s")))
        << o.error.toStdString();
    EXPECT_GE(ms, 3900);
    EXPECT_LT(ms, 15000);
    std::printf("[ figures ] stalled link: the fetch gave up after %lld ms\n",
                static_cast<long long>(ms));

    proxy.setMode(FaultProxy::Mode::Pass);
    expectHealthyFetch("the link passes again");

    // A link that dies while the client is idle (no reset, nothing comes
    // back) is found by the first request after it.
    proxy.setMode(FaultProxy::Mode::Stall);
    env->ui.clearMessages();
    values::resetStore();
    t.restart();
    const auto idle = fetch();
    EXPECT_NE(idle.result, retrieval::FetchResult::Done);
    EXPECT_EQ(env->messages().size(), 1u);
    EXPECT_GE(t.elapsed(), 3900);
    EXPECT_LT(t.elapsed(), 15000);
    proxy.setMode(FaultProxy::Mode::Pass);
    expectHealthyFetch("after the idle stall");
}

TEST_F(Faults, ResetLinkFailsAtOnceAndTheNextFetchWorks) {
    FaultProxy proxy(Cluster::get().port());
    login(QString::number(proxy.port()));
    host.onMonth = [&](int done) {
        if (done == 30) proxy.cutAll();
    };
    values::resetStore();
    QElapsedTimer t;
    t.start();
    const auto o = fetch();
    host.onMonth = nullptr;
    expectFailedAfter(o, 30);
    EXPECT_LT(t.elapsed(), 10000);
    const int accepted = proxy.accepted();
    expectHealthyFetch("after the reset");
    EXPECT_EQ(proxy.accepted(), accepted + 1); // one new connection
}

TEST_F(Faults, HostThatNeverAnswersTimesOutEveryAttempt) {
    const EnvVar limit("TALLVERO_PG_CONNECT_TIMEOUT", "2");
    FaultProxy proxy(Cluster::get().port());
    proxy.setMode(FaultProxy::Mode::Blackhole);
    env = std::make_unique<Env>([this] {
        return std::make_unique<fakes::RecordingFactory>(
            std::make_unique<cache::server::ServerFactory>(), env->fake.log);
    });
    env->commandLine = QStringLiteral("1 0 DEMO demo 127.0.0.1 %1").arg(proxy.port());
    env->server.script.push_back([&] { env->server.clickZurück(); });
    QElapsedTimer t;
    t.start();
    EXPECT_THROW(env->s().CacheLogin(), srv::ProgramEnded);
    const qint64 ms = t.elapsed();
    EXPECT_EQ(proxy.accepted(), 4);
    EXPECT_EQ(env->messages(),
              (QList<platform::RecordedMessage>{warningAfterThree(at(20)), finalFailure(at(20))}));
    // Four attempts of at most the connect limit each, not for ever.
    EXPECT_GE(ms, 4 * 2000 - 500);
    EXPECT_LT(ms, 4 * 2000 + 6000);
    std::printf("[ figures ] silent host: 4 attempts of 2 s took %lld ms\n",
                static_cast<long long>(ms));
}

} // namespace
