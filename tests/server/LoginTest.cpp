// Login and session set-up against the real server component, on SQLite and
// PostgreSQL, and a real unreachable PostgreSQL server.

#include "SessionEnv.h"
#include "platform/cache/ConnectString.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "support/DemoSite.h"

#include <gtest/gtest.h>
#include <map>

using namespace testenv;
using platform::RecordedMessage;
using testsupport::TestEngine;

namespace {

srv::UserContext& uc() {
    return srv::userContext();
}

// One database per engine: the demo business plus a few odd personnel rows.
testsupport::DemoSite& site(TestEngine e) {
    return testsupport::demoSite(e, QStringLiteral("login"), 200, [](cache::server::Database& d) {
        auto user = [&](const char* code, const char* pw, const char* aktiv, const QString& name,
                        const char* pnr, const char* abt) {
            testsupport::addLogin(d, 1, QString::fromUtf8(code), QString::fromUtf8(pw),
                                  QString::fromUtf8(aktiv), name, QString::fromUtf8(pnr),
                                  QString::fromUtf8(abt), QStringLiteral("7"));
        };
        user("KLEINJ", "klein", "j", QStringLiteral("Karl Klein"), "1001", "B0");
        user("PIPE", "pipe", "J", QStringLiteral("Anna|Berta"), "1001", "B0");
        user("NOABT", "x", "J", QStringLiteral("Otto Ohne"), "1001", "ZZ");
        user("NOBASIS", "x", "J", QStringLiteral("Bruno Basislos"), "9999", "B0");
    });
}

class Login : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        testsupport::DemoSite& s = site(GetParam());
        server = s.server;
        port = s.port;
        env = std::make_unique<Env>([this] {
            return std::make_unique<fakes::RecordingFactory>(
                std::make_unique<cache::server::ServerFactory>(), env->fake.log);
        });
    }
    // Logs in through the command line: no dialog, the server of this site.
    bool login(const QString& code, const QString& password) {
        srv::connectionSettings().CommandLine =
            QStringLiteral("1 0 %1 %2 %3 %4").arg(code, password, server, port);
        return env->s().CacheLogin();
    }
    const QStringList& log() const { return env->fake.log.lines; }

    QString server, port;
    std::unique_ptr<Env> env;
};

TEST_P(Login, TheRightPasswordFillsTheUserContextAndTellsTheServer) {
    ASSERT_TRUE(login(QStringLiteral("DEMO"), QStringLiteral("demo")));
    EXPECT_TRUE(env->messages().isEmpty());
    EXPECT_EQ(uc().Benutzer, QStringLiteral("DEMO|Demo Müller"));
    EXPECT_EQ(uc().BenutzerName, QStringLiteral("Demo Müller"));
    EXPECT_EQ(uc().PersonalNr, QStringLiteral("1001"));
    EXPECT_EQ(uc().Abteilung, QStringLiteral("B0"));
    EXPECT_EQ(uc().HauptAbteilung, QStringLiteral("40"));
    EXPECT_FALSE(uc().AbteilungBez.isEmpty());
    EXPECT_EQ(uc().EMail, QStringLiteral("demo@demo-handel.example"));
    EXPECT_EQ(uc().Fax, QStringLiteral("+43 1 234 56-1001"));
    EXPECT_EQ(uc().BerGrp, QStringLiteral("ALLE"));
    EXPECT_EQ(uc().DW, QStringLiteral("0"));

    // Once with the new connection, once after the verified login.
    const QString line = QStringLiteral("Xecute S FIRMA=1,FIL=0,PERSONAL=\"DEMO\"");
    int connect = -1;
    for (int i = 0; i < log().size() && connect < 0; ++i)
        if (log().at(i).startsWith(QLatin1String("connect "))) connect = i;
    ASSERT_GE(connect, 0);
    EXPECT_EQ(log().mid(connect + 1, 2), (QStringList{line, QStringLiteral("Xecute D ^%XTT")}));
    EXPECT_EQ(log().count(line), 2);
    EXPECT_EQ(log().last(), line);

    // The server session knows the company now: its routines answer.
    QStringList values;
    bool failed = false;
    const std::optional<int> n =
        env->s().DBCallD(QStringLiteral("d HGRP^ZKCLSU"), QString(QChar(0xFF)), values, failed);
    ASSERT_TRUE(n.has_value());
    EXPECT_GT(*n, 0);
    EXPECT_FALSE(failed);
    EXPECT_EQ(env->s().CheckPermission(), 1);
}

TEST_P(Login, AWrongPasswordOrAnInactiveUserGetsTheMessage) {
    struct Case {
        const char* code;
        const char* password;
    } cases[] = {{"DEMO", "falsch"}, {"DEMO", "DEMO"}, {"INAKTIV", "inaktiv"}, {"KLEINJ", "klein"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.code);
        env->ui.clearMessages();
        env->login.selections.clear();
        EXPECT_FALSE(login(QString::fromUtf8(c.code), QString::fromUtf8(c.password)));
        EXPECT_EQ(env->messages(), QList<RecordedMessage>{wrongPassword(at(0))});
        EXPECT_EQ(env->login.selections,
                  (QList<srv::MemoryLoginDialog::Selection>{{srv::LoginField::BPASSWORT, true}}));
        EXPECT_TRUE(uc().Benutzer.isEmpty());
        EXPECT_TRUE(env->server.Lock().isActive()); // the bracket was closed
    }
}

TEST_P(Login, AnUnknownPersonnelCodeIsAnAccessError) {
    EXPECT_FALSE(login(QStringLiteral("NIEMAND"), QStringLiteral("x")));
    ASSERT_EQ(env->messages().size(), 1);
    const RecordedMessage& m = env->messages().first();
    EXPECT_EQ(m.title, QStringLiteral("Caché Zugriffsfehler"));
    EXPECT_TRUE(m.text.startsWith(QStringLiteral(
        "Vorgang: Anmeldung mit nicht existierendem Personalcode.\n\nFehler: 5809\n")))
        << m.text.toStdString();
    EXPECT_TRUE(m.text.endsWith(QStringLiteral("\n\n")));
    EXPECT_EQ(m.icon, platform::MsgIcon::Exclamation);
    EXPECT_TRUE(uc().Benutzer.isEmpty());
}

TEST_P(Login, AMissingDepartmentOrBaseRecordNamesItsStep) {
    EXPECT_FALSE(login(QStringLiteral("NOABT"), QStringLiteral("x")));
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_TRUE(env->messages().at(0).text.startsWith(
        QStringLiteral("Vorgang: Abteilungsermittlung.\n\nFehler: 5809\n")));
    // Filled before the failure, and kept.
    EXPECT_EQ(uc().BenutzerName, QStringLiteral("Otto Ohne"));
    EXPECT_EQ(uc().Benutzer, QStringLiteral("NOABT|Otto Ohne"));
    EXPECT_EQ(uc().DW, QStringLiteral("7"));

    env->ui.clearMessages();
    EXPECT_FALSE(login(QStringLiteral("NOBASIS"), QStringLiteral("x")));
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_TRUE(env->messages().at(0).text.startsWith(
        QStringLiteral("Vorgang: PersBasis Nummern.\n\nFehler: 5809\n")));
    EXPECT_EQ(uc().Abteilung, QStringLiteral("B0"));
    EXPECT_EQ(uc().PersonalNr, QStringLiteral("9999"));
}

TEST_P(Login, ANameWithAPipeStillSendsThePersonnelCodeOnly) {
    ASSERT_TRUE(login(QStringLiteral("PIPE"), QStringLiteral("pipe")));
    EXPECT_TRUE(uc().Benutzer.startsWith(QLatin1String("PIPE|")));
    EXPECT_EQ(log().last(), QStringLiteral("Xecute S FIRMA=1,FIL=0,PERSONAL=\"PIPE\""));
}

TEST_P(Login, EveryNewConnectionSetsTheSessionBeforeAnyLogin) {
    env->settings.values[QStringLiteral("Server")] = server;
    env->settings.values[QStringLiteral("Port")] = port;
    env->s().ReadLoginSettings();
    EXPECT_TRUE(env->messages().isEmpty());
    EXPECT_EQ(srv::connectionSettings().WJ, QStringLiteral("03"));
    QStringList values;
    bool failed = false;
    EXPECT_GT(env->s()
                  .DBCallD(QStringLiteral("d ABTNR^ZKCLSU"), QString(QChar(0xFF)), values, failed)
                  .value_or(-1),
              0);
    // The idle close drops the server session; the reconnect sets it again.
    env->clock.advance(60000);
    EXPECT_FALSE(env->s().factory()->isConnected());
    EXPECT_GT(env->s()
                  .DBCallD(QStringLiteral("d HABT^ZKCLSU"), QString(QChar(0xFF)), values, failed)
                  .value_or(-1),
              0);
    EXPECT_FALSE(failed);
    EXPECT_EQ(log().count(QStringLiteral("Xecute S FIRMA=1,FIL=0,PERSONAL=\"\"")), 2);
    EXPECT_EQ(env->fake.log.connectTimes, (QList<qint64>{0, 60000}));
    EXPECT_TRUE(env->messages().isEmpty());
}

TEST_P(Login, PermissionLevelsOfTheDemoUsers) {
    ASSERT_TRUE(login(QStringLiteral("DEMO"), QStringLiteral("demo")));
    EXPECT_EQ(env->s().CheckPermission(), 1);
    EXPECT_EQ(env->s().CheckPermission(QStringLiteral("Sonstiges")), 1);
    // Other users' rights: the own file of SQLite tells; a PostgreSQL
    // user learns only their own.
    const struct {
        const char* part;
        const char* user;
        int level;
    } others[] = {{"", "ABTLEITER", 5}, {"", "GAST", -1}, {"Sonstiges", "ABTLEITER", 5}};
    for (const auto& o : others) {
        if (GetParam() == TestEngine::Sqlite) {
            EXPECT_EQ(env->s().CheckPermission(QLatin1String(o.part), QLatin1String(o.user)),
                      o.level);
            continue;
        }
        try {
            env->s().CheckPermission(QLatin1String(o.part), QLatin1String(o.user));
            ADD_FAILURE() << "told the rights of " << o.user;
        } catch (const cache::CacheError& e) {
            EXPECT_TRUE(e.description().contains(QStringLiteral("eigene Berechtigung")));
        }
        env->s().DBEnd(false);
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, Login,
                         ::testing::Values(TestEngine::Sqlite, TestEngine::Postgres),
                         [](const auto& info) { return testsupport::engineName(info.param); });

// Nothing listens on port 1 of the loopback: every attempt is refused.
TEST(UnreachableServer, ARefusedPostgresConnectionRunsTheAttemptsAndEndsTheProgram) {
    std::unique_ptr<Env> env;
    QStringList errors;
    env = std::make_unique<Env>([&] {
        return std::make_unique<fakes::RecordingFactory>(
            std::make_unique<cache::server::ServerFactory>(), env->fake.log);
    });
    env->settings.values[QStringLiteral("Server")] = QStringLiteral("127.0.0.1");
    env->settings.values[QStringLiteral("Port")] = QStringLiteral("1");
    env->server.script.push_back([&] {
        errors << env->s().factory()->lastConnectError();
        env->server.clickZurück();
    });
    EXPECT_THROW(env->s().CacheLogin(), srv::ProgramEnded);
    EXPECT_EQ(env->fake.log.connectTimes, (QList<qint64>{0, 10000, 20000, 20000}));
    EXPECT_EQ(env->messages(),
              (QList<RecordedMessage>{warningAfterThree(at(20)), finalFailure(at(20))}));
    EXPECT_EQ(env->fake.log.connectStrings.value(0),
              QStringLiteral("cn_iptcp:127.0.0.1[1]:ZORVEK"));
    ASSERT_EQ(errors.size(), 1);
    EXPECT_FALSE(errors.first().isEmpty());
    EXPECT_EQ(env->endCalls, 1);
}

} // namespace
