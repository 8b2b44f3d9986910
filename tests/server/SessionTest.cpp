// Connection, remote-call bracket, login flow and the settings dialog, with
// a scripted fake server, a fake clock and scripted message boxes.

#include "SessionEnv.h"

#include <gtest/gtest.h>

using namespace testenv;
using platform::MsgAnswer;
using platform::RecordedMessage;
using srv::LoginField;
using srv::ServerField;

namespace {

const QString kWjLine = QStringLiteral("S P0=$P(^FA(0),\"`\",2) W P0");
const QString kSep = QString(QChar(0xFF));

srv::ConnectionSettings& cs() {
    return srv::connectionSettings();
}
srv::UserContext& uc() {
    return srv::userContext();
}

QString sessionLine(const char* code) {
    return QStringLiteral("S FIRMA=1,FIL=0,PERSONAL=\"%1\"").arg(QString::fromUtf8(code));
}

// --- connection attempts ------------------------------------------------------

TEST(Connection, ThreeFailuresWarningDialogAndFinalFailureFollowTheTimeline) {
    Env env;
    env.fake.accepts = [](const QString&) { return false; };
    QList<qint64> dialogShownAt;
    env.server.script.push_back([&] {
        dialogShownAt << env.clock.elapsedMs();
        env.server.clickZurück();
    });

    EXPECT_THROW(env.s().CacheLogin(), srv::ProgramEnded);

    // attempt, 10 s, attempt, 10 s, attempt, warning, dialog, attempt at once,
    // final failure: the next failure after the dialog ends the program.
    EXPECT_EQ(env.fake.log.connectTimes, (QList<qint64>{0, 10000, 20000, 20000}));
    EXPECT_EQ(env.messages(),
              (QList<RecordedMessage>{warningAfterThree(at(20)), finalFailure(at(20))}));
    EXPECT_EQ(dialogShownAt, QList<qint64>{20000});
    EXPECT_EQ(env.fake.factoriesMade, 4); // a new factory for every attempt
    EXPECT_EQ(env.endCalls, 1);
    EXPECT_FALSE(env.server.isVisible());
    EXPECT_EQ(env.login.modalShows, 0); // the first server call came before the dialog
    EXPECT_TRUE(uc().Benutzer.isEmpty());
    for (const QString& c : env.fake.log.connectStrings)
        EXPECT_EQ(c, QStringLiteral("cn_iptcp:embedded[1973]:ZORVEK"));
}

TEST(Connection, AFactoryThatIsNotConnectedAfterConnectCountsAsUnreachable) {
    for (int variant = 0; variant < 3; ++variant) {
        SCOPED_TRACE(variant);
        Env env;
        if (variant == 0) {
            env.fake.reportsConnected = false; // connect answers true
        } else if (variant == 1) {
            env.fake.connectThrows = true;
        } else {
            env.maker = [] { return std::unique_ptr<cache::Factory>(); }; // no factory at all
        }
        env.server.script.push_back([&] { env.server.clickZurück(); });
        bool failed = false;
        EXPECT_THROW(env.s().DBCall(QStringLiteral("S P0=^XWGDAT W P0"), failed),
                     srv::ProgramEnded);
        if (variant < 2) {
            EXPECT_EQ(env.fake.log.connectTimes, (QList<qint64>{0, 10000, 20000, 20000}));
        }
        EXPECT_EQ(env.messages(),
                  (QList<RecordedMessage>{warningAfterThree(at(20)), finalFailure(at(20))}));
        EXPECT_EQ(env.endCalls, 1);
    }
}

TEST(Connection, ASecondAttemptThatSucceedsReportsNothing) {
    Env env;
    int calls = 0;
    env.fake.accepts = [&](const QString&) { return ++calls > 1; };
    env.s().ReadLoginSettings();
    EXPECT_EQ(env.fake.log.connectTimes, (QList<qint64>{0, 10000}));
    EXPECT_TRUE(env.messages().isEmpty());
    EXPECT_EQ(cs().WJ, QStringLiteral("03"));
    // Session line, ^%XTT, then the WJ read, on the one connection.
    EXPECT_EQ(env.fake.log.xecutes(),
              (QStringList{sessionLine(""), QStringLiteral("D ^%XTT"), kWjLine}));
}

TEST(Connection, SettingsSavedInTheDialogAfterThreeFailuresConnect) {
    Env env;
    env.settings.values[QStringLiteral("Server")] = QStringLiteral("kaputt");
    env.fake.accepts = [](const QString& c) { return c.contains(QLatin1String("gut")); };
    env.ui.queueAnswer(MsgAnswer::Yes); // Änderungen erlauben?
    env.ui.queueAnswer(MsgAnswer::Yes); // Änderungen sichern?
    env.server.script.push_back([&] {
        // The dialog shows the settings that failed, not its initial texts.
        EXPECT_EQ(env.server.text(ServerField::BSERVERIP), QStringLiteral("kaputt"));
        env.server.clickEdit();
        EXPECT_TRUE(env.server.type(ServerField::BSERVERIP, QStringLiteral("gut")));
        env.server.clickEdit();
        EXPECT_TRUE(env.s().factory()->isConnected()); // saving connected at once
        env.server.clickZurück();
    });

    env.s().ReadLoginSettings();

    EXPECT_EQ(env.messages(), (QList<RecordedMessage>{
                                  warningAfterThree(at(20)),
                                  question("Änderungen erlauben?", MsgAnswer::Yes, at(20)),
                                  question("Änderungen sichern?", MsgAnswer::Yes, at(20)),
                              }));
    EXPECT_EQ(env.fake.log.connectStrings,
              (QStringList{QStringLiteral("cn_iptcp:kaputt[1973]:ZORVEK"),
                           QStringLiteral("cn_iptcp:kaputt[1973]:ZORVEK"),
                           QStringLiteral("cn_iptcp:kaputt[1973]:ZORVEK"),
                           QStringLiteral("cn_iptcp:gut[1973]:ZORVEK"),
                           QStringLiteral("cn_iptcp:gut[1973]:ZORVEK")}));
    EXPECT_EQ(env.settings.values.value(QStringLiteral("Server")), QStringLiteral("gut"));
    EXPECT_EQ(cs().WJ, QStringLiteral("03"));
    EXPECT_EQ(env.endCalls, 0);
}

TEST(Connection, SixtySecondsWithoutServerWorkCloseTheConnectionAndTheNextCallReconnects) {
    Env env;
    env.s().ReadLoginSettings();
    ASSERT_TRUE(env.s().factory()->isConnected());
    EXPECT_TRUE(env.server.Lock().isActive());
    EXPECT_EQ(env.server.Lock().interval(), 60000);

    // A server call at 30 s starts the minute afresh.
    env.clock.advance(30000);
    bool failed = false;
    env.s().DBCall(kWjLine, failed);
    env.clock.advance(59999);
    EXPECT_TRUE(env.s().factory()->isConnected());
    env.clock.advance(1);
    EXPECT_FALSE(env.s().factory()->isConnected());
    EXPECT_FALSE(env.server.Lock().isActive());
    EXPECT_EQ(env.fake.log.lines.count(QStringLiteral("disconnect")), 1);

    env.fake.log.lines.clear();
    EXPECT_EQ(env.s().DBCall(kWjLine, failed), QStringLiteral("03"));
    EXPECT_FALSE(failed);
    EXPECT_EQ(env.fake.log.connectTimes, (QList<qint64>{0, 90000}));
    EXPECT_EQ(env.fake.log.xecutes(),
              (QStringList{sessionLine(""), QStringLiteral("D ^%XTT"), kWjLine}));
    EXPECT_TRUE(env.messages().isEmpty());
}

TEST(Connection, AServerThatRejectsTheSessionLineIsReportedAndDropped) {
    Env env;
    env.fake.xecute = [](const QString& line) -> QString {
        if (line.startsWith(QLatin1String("S FIRMA=")))
            throw cache::CacheError(8, QStringLiteral("<SYNTAX> Müll"));
        return QStringLiteral("\x01\x02garbage");
    };
    bool failed = false;
    EXPECT_EQ(env.s().DBCall(kWjLine, failed), QString());
    EXPECT_TRUE(failed);
    EXPECT_EQ(env.messages(),
              QList<RecordedMessage>{accessError(
                  QStringLiteral("Ungültige Anfrage! Kein Ergebnis gefunden\n\nDBCall Aufruf von "
                                 "ZK.Windwos Xecute ") +
                      kWjLine,
                  8, QStringLiteral("<SYNTAX> Müll"), at(0))});
    EXPECT_FALSE(env.s().factory()->isConnected());
    // The next call tries the whole connection again.
    env.fake.xecute = [](const QString&) { return QStringLiteral("\x01\x02garbage"); };
    EXPECT_EQ(env.s().DBCall(kWjLine, failed), QStringLiteral("\x01\x02garbage"));
    EXPECT_EQ(env.fake.log.connectTimes.size(), 2);
}

// --- where the settings come from -------------------------------------------

TEST(LoadConnection, AnEmptyStoreGivesTheDefaultsAndTheDialogIsShown) {
    Env env;
    env.login.script.push_back([&] {
        EXPECT_EQ(env.server.text(ServerField::BFIRMA), QStringLiteral("1"));
        EXPECT_EQ(env.server.text(ServerField::BWJ), QStringLiteral("03"));
        env.login.setText(LoginField::BPASSWORT, QStringLiteral("geheim"));
        env.login.clickAnmelden();
    });
    env.s().LoadConnection();
    EXPECT_EQ(env.login.modalShows, 1);
    EXPECT_EQ(uc().Firma, QStringLiteral("1"));
    EXPECT_EQ(uc().Filiale, QStringLiteral("0"));
    EXPECT_EQ(uc().Passwort, QStringLiteral("geheim"));
    EXPECT_EQ(cs().Server, QStringLiteral("embedded"));
    EXPECT_EQ(cs().Port, QStringLiteral("1973"));
    EXPECT_EQ(cs().Namespace, QStringLiteral("ZORVEK"));
    EXPECT_EQ(cs().ConnectString, QStringLiteral("cn_iptcp:embedded[1973]:ZORVEK"));
    EXPECT_FALSE(env.s().credentialsFromCommandLine());
    // "Anmelden" saved the six keys, and never the password.
    EXPECT_EQ(env.settings.values.keys(),
              (QStringList{QStringLiteral("Filiale"), QStringLiteral("Firma"),
                           QStringLiteral("Name"), QStringLiteral("Namespace"),
                           QStringLiteral("Port"), QStringLiteral("Server")}));
    for (const QString& v : env.settings.values)
        EXPECT_NE(v, QStringLiteral("geheim"));
    EXPECT_TRUE(env.messages().isEmpty());
}

TEST(LoadConnection, ACommandLineOfFourWordsNeedsNoDialog) {
    Env env;
    cs().CommandLine = QStringLiteral("12 3 ABC geheim");
    env.s().LoadConnection();
    EXPECT_TRUE(env.s().credentialsFromCommandLine());
    EXPECT_EQ(uc().Firma, QStringLiteral("12"));
    EXPECT_EQ(uc().Filiale, QStringLiteral("3"));
    EXPECT_EQ(uc().Personalcode, QStringLiteral("ABC"));
    EXPECT_EQ(uc().Passwort, QStringLiteral("geheim"));
    EXPECT_EQ(cs().ConnectString, QStringLiteral("cn_iptcp:embedded[1972]:ZORVEK"));
    EXPECT_EQ(cs().WJ, QString());
    EXPECT_EQ(env.server.text(ServerField::BFIRMA), QStringLiteral("12"));
    EXPECT_EQ(env.server.text(ServerField::BFIL), QStringLiteral("3"));
    EXPECT_EQ(env.server.text(ServerField::BSERVERIP), QStringLiteral("embedded"));
    EXPECT_EQ(env.server.text(ServerField::BPORT), QStringLiteral("1972"));
    EXPECT_EQ(env.server.text(ServerField::BNAMESPACE), QStringLiteral("ZORVEK"));
    EXPECT_EQ(env.server.text(ServerField::BWJ), QString());
    EXPECT_EQ(env.login.text(LoginField::BUSER), QStringLiteral("ABC"));
    EXPECT_EQ(env.login.modalShows, 0);
    EXPECT_TRUE(env.fake.log.lines.isEmpty()); // the connection stays lazy
}

TEST(LoadConnection, BlanksAndWordsOfTheCommandLine) {
    struct Case {
        const char* line;
        bool used;
        const char* firma;
        const char* filiale;
        const char* code;
        const char* password;
        const char* connect;
    } cases[] = {
        // Two blanks make an empty word, which takes its default.
        {"12  3 ABC", true, "12", "", "3", "ABC", "cn_iptcp:embedded[1972]:ZORVEK"},
        {"12 3 ABC pw  ", true, "12", "3", "ABC", "pw", "cn_iptcp:embedded[1972]:ZORVEK"},
        {"12 3 ABC pw db.example 5000 ANDERS 04 neun zehn", true, "12", "3", "ABC", "pw",
         "cn_iptcp:db.example[5000]:ZORVEK"},
        {"7", true, "7", "", "", "", "cn_iptcp:embedded[1972]:ZORVEK"},
        // Not numeric in word 1: the settings store decides.
        {" 12 3 ABC pw", false, "1", "0", "", "", "cn_iptcp:embedded[1973]:ZORVEK"},
        {"abc 3 ABC pw", false, "1", "0", "", "", "cn_iptcp:embedded[1973]:ZORVEK"},
        {"12x 3 ABC pw", false, "1", "0", "", "", "cn_iptcp:embedded[1973]:ZORVEK"},
        {"-platform offscreen", false, "1", "0", "", "", "cn_iptcp:embedded[1973]:ZORVEK"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        Env env;
        cs().CommandLine = QString::fromUtf8(c.line);
        if (!c.used) env.login.script.push_back([&] { env.login.hide(); });
        env.s().LoadConnection();
        EXPECT_EQ(env.s().credentialsFromCommandLine(), c.used);
        EXPECT_EQ(env.login.modalShows, c.used ? 0 : 1);
        EXPECT_EQ(uc().Firma, QString::fromUtf8(c.firma));
        EXPECT_EQ(uc().Filiale, QString::fromUtf8(c.filiale));
        EXPECT_EQ(uc().Personalcode, QString::fromUtf8(c.code));
        EXPECT_EQ(uc().Passwort, QString::fromUtf8(c.password));
        EXPECT_EQ(cs().ConnectString, QString::fromUtf8(c.connect));
        EXPECT_TRUE(env.messages().isEmpty());
    }
}

TEST(LoadConnection, NamespaceAndOddPortsReachTheConnectStringAsTheyAre) {
    Env env;
    env.settings.values[QStringLiteral("Namespace")] = QStringLiteral("ANDERS");
    env.settings.values[QStringLiteral("Port")] = QStringLiteral("abc");
    env.settings.values[QStringLiteral("Server")] = QStringLiteral("10.0.0.5");
    env.s().ReadLoginSettings();
    EXPECT_EQ(cs().Namespace, QStringLiteral("ANDERS"));
    EXPECT_EQ(cs().ConnectString, QStringLiteral("cn_iptcp:10.0.0.5[abc]:ZORVEK"));
    EXPECT_EQ(env.fake.log.connectStrings, QStringList{cs().ConnectString});
    EXPECT_EQ(env.server.text(ServerField::BNAMESPACE), QStringLiteral("ANDERS"));
    EXPECT_EQ(env.server.text(ServerField::BPORT), QStringLiteral("abc"));

    cs().CommandLine = QStringLiteral("1 0 X y srv 1 ANDERS");
    env.s().LoadConnection();
    EXPECT_EQ(cs().ConnectString, QStringLiteral("cn_iptcp:srv[1]:ZORVEK"));
}

// --- remote execution ---------------------------------------------------------

TEST(Remote, DBCallReturnsExactlyWhatTheLineWrote) {
    Env env;
    env.fake.xecute = [](const QString& line) -> QString {
        if (line == QLatin1String("S P0=^XWGDAT W P0")) return QStringLiteral("12403`1240415");
        if (line == QLatin1String("S P0=1 W P0")) return QStringLiteral(" zwei\nZeilen ");
        return {};
    };
    bool failed = false;
    EXPECT_EQ(env.s().DBCall(QStringLiteral("S P0=^XWGDAT W P0"), failed),
              QStringLiteral("12403`1240415"));
    EXPECT_EQ(env.s().DBCall(QStringLiteral("S P0=1 W P0"), failed),
              QStringLiteral(" zwei\nZeilen "));
    EXPECT_EQ(env.s().DBCall(QStringLiteral("D ^%XTT"), failed), QString());
    EXPECT_FALSE(failed);
    EXPECT_TRUE(env.server.Lock().isActive());
    EXPECT_TRUE(env.ui.cursorChanges().isEmpty());
    EXPECT_TRUE(env.messages().isEmpty());
}

TEST(Remote, AFailingXecuteShowsOneReportAndSetsTheFlagForGood) {
    Env env;
    env.fake.xecute = [](const QString& line) -> QString {
        if (line == QLatin1String("S P0=^BAD W P0"))
            throw cache::CacheError(9, QStringLiteral("<UNDEFINED> ^BAD"));
        return QStringLiteral("ok");
    };
    bool failed = false;
    EXPECT_EQ(env.s().DBCall(QStringLiteral("S P0=^BAD W P0"), failed), QString());
    EXPECT_TRUE(failed);
    ASSERT_EQ(env.messages().size(), 1);
    const RecordedMessage& m = env.messages().first();
    EXPECT_EQ(m.title, QStringLiteral("Caché Zugriffsfehler"));
    EXPECT_EQ(m.icon, platform::MsgIcon::Exclamation);
    EXPECT_EQ(m.buttons, platform::MsgButtons::Ok);
    EXPECT_EQ(m.text, QStringLiteral("Vorgang: Ungültige Anfrage! Kein Ergebnis gefunden\n"
                                     "\n"
                                     "DBCall Aufruf von ZK.Windwos Xecute S P0=^BAD W P0.\n"
                                     "\n"
                                     "Fehler: 9\n"
                                     "<UNDEFINED> ^BAD\n"
                                     "\n"));
    // The report ends the bracket: arrow pointer, idle timer running.
    EXPECT_EQ(env.ui.cursorChanges(), QList<bool>{false});
    EXPECT_TRUE(env.server.Lock().isActive());
    // Never reset by a later success.
    EXPECT_EQ(env.s().DBCall(QStringLiteral("S P0=1 W P0"), failed), QStringLiteral("ok"));
    EXPECT_TRUE(failed);
}

TEST(Remote, DBCallDSplitsAtTheSeparatorIntoPositionsOneToN) {
    Env env;
    QString written;
    env.fake.xecute = [&](const QString&) { return written; };
    auto run = [&](const QString& text, QStringList& values) {
        written = text;
        bool failed = false;
        const std::optional<int> n =
            env.s().DBCallD(QStringLiteral("d HGRP^ZKCLSU"), kSep, values, failed);
        EXPECT_FALSE(failed);
        return n;
    };
    QStringList v;
    EXPECT_EQ(run(QStringLiteral("a") + kSep + "b" + kSep + kSep + "c" + kSep, v), 4);
    EXPECT_EQ(v.size(), 11); // upper bound 10
    EXPECT_EQ(v.mid(1, 4), (QStringList{"a", "b", "", "c"}));

    QStringList one;
    EXPECT_EQ(run(kSep, one), 1);
    EXPECT_EQ(one.size(), 11);
    EXPECT_EQ(one.at(1), QString());

    QStringList kept{QStringLiteral("x"), QStringLiteral("y")};
    EXPECT_EQ(run(QString(), kept), 0);
    EXPECT_EQ(kept, (QStringList{"x", "y"}));

    QStringList eleven;
    QStringList parts;
    for (int i = 1; i <= 11; ++i)
        parts << QStringLiteral("%1`Name %1").arg(i);
    EXPECT_EQ(run(parts.join(kSep), eleven), 11);
    EXPECT_EQ(eleven.size(), 21); // upper bound 20
    EXPECT_EQ(eleven.at(11), QStringLiteral("11`Name 11"));
    EXPECT_EQ(eleven.at(1), QStringLiteral("1`Name 1"));

    // A larger list shrinks to the new bound; stale values above n may stay.
    QStringList stale(31, QStringLiteral("alt"));
    EXPECT_EQ(run(QStringLiteral("p") + kSep + "q" + kSep + "r", stale), 3);
    EXPECT_EQ(stale.size(), 11);
    EXPECT_EQ(stale.mid(1, 3), (QStringList{"p", "q", "r"}));
    EXPECT_EQ(stale.at(4), QStringLiteral("alt"));

    // A separator other than one character never splits.
    QStringList whole;
    EXPECT_EQ(run(QStringLiteral("a,b"), whole), 1);
    EXPECT_EQ(whole.at(1), QStringLiteral("a,b"));
    EXPECT_TRUE(env.messages().isEmpty());
}

TEST(Remote, AFailedDBCallDGivesNoNumberAndLeavesTheList) {
    Env env;
    env.fake.xecute = [](const QString& line) -> QString {
        if (line.startsWith(QLatin1String("d ")))
            throw cache::CacheError(9, QStringLiteral("<UNDEFINED> FIRMA"));
        return {};
    };
    QStringList values{QStringLiteral("vorher")};
    bool failed = false;
    EXPECT_EQ(env.s().DBCallD(QStringLiteral("d ABTNR^ZKCLSU"), kSep, values, failed),
              std::nullopt);
    EXPECT_TRUE(failed);
    EXPECT_EQ(values, QStringList{QStringLiteral("vorher")});
    EXPECT_EQ(env.messages(),
              QList<RecordedMessage>{accessError(
                  QStringLiteral("Ungültige Anfrage! Kein Ergebnis gefunden\n\nDBCallD Aufruf von "
                                 "ZK.Windwos Xecute d ABTNR^ZKCLSU"),
                  9, QStringLiteral("<UNDEFINED> FIRMA"), at(0))});
}

TEST(Remote, TheBracketShowsTheHourglassOnlyWhenAskedAndHoldsTheIdleTimer) {
    Env env;
    env.s().DBBegin(true);
    EXPECT_TRUE(env.ui.busyCursor());
    EXPECT_FALSE(env.server.Lock().isActive());
    env.clock.advance(120000); // long server work: the timer does not run
    EXPECT_TRUE(env.s().factory()->isConnected());
    env.s().DBEnd(true);
    EXPECT_FALSE(env.ui.busyCursor());
    EXPECT_TRUE(env.server.Lock().isActive());
    env.s().DBBegin(false);
    env.s().DBEnd(false);
    EXPECT_EQ(env.ui.cursorChanges(), (QList<bool>{true, false}));
}

TEST(Remote, CacheCloseProcessesEventsAndIgnoresAFailingClose) {
    struct Failing : cache::CacheObject {
        QString property(const QString&) override { return {}; }
        QString call(const QString&, const QStringList&) override { return {}; }
        void SYS_Close() override { throw cache::CacheError(5008, QStringLiteral("zu")); }
    };
    Env env;
    std::unique_ptr<cache::CacheObject> o = std::make_unique<Failing>();
    const int before = env.ui.processEventsCalls();
    EXPECT_NO_THROW(env.s().CacheClose(o));
    EXPECT_EQ(o, nullptr);
    EXPECT_EQ(env.ui.processEventsCalls(), before + 1);
}

TEST(Remote, CheckPermissionAsksForAllesAndTheLoggedInUser) {
    Env env;
    uc().Personalcode = QStringLiteral("DEMO");
    EXPECT_EQ(env.s().CheckPermission(), 1);
    env.fake.permissionAnswer = QStringLiteral("5");
    EXPECT_EQ(env.s().CheckPermission(QStringLiteral("Teil"), QStringLiteral("ANDERER")), 5);
    env.fake.permissionAnswer = QStringLiteral("-1");
    EXPECT_EQ(env.s().CheckPermission(QString(), QString()), -1);
    const QStringList asked = env.fake.log.lines.filter(QStringLiteral("Berechtigung"));
    EXPECT_EQ(asked, (QStringList{QStringLiteral("Berechtigung DEMO,Tallvero,alles"),
                                  QStringLiteral("Berechtigung ANDERER,Tallvero,Teil"),
                                  QStringLiteral("Berechtigung DEMO,Tallvero,alles")}));
    // A garbage answer reaches the caller as an error, with no report.
    env.fake.permissionAnswer = QStringLiteral("keine Zahl");
    try {
        env.s().CheckPermission();
        ADD_FAILURE() << "no error";
    } catch (const cache::CacheError& e) {
        EXPECT_EQ(e.number(), 13);
        EXPECT_TRUE(e.description().contains(QLatin1String("keine Zahl")));
    }
    EXPECT_TRUE(env.messages().isEmpty());
}

TEST(Pause, WaitsTheHundredthsAndStopsWhenTheTimerPassesMidnight) {
    Env env;
    EXPECT_EQ(env.s().Pause(1000), 10);
    EXPECT_EQ(env.clock.elapsedMs(), 10000);
    EXPECT_EQ(env.s().Pause(0), 0);
    EXPECT_EQ(env.clock.elapsedMs(), 10000);

    Env late({}, QDateTime(QDate(2024, 4, 15), QTime(23, 59, 55), Qt::UTC));
    EXPECT_EQ(late.s().Pause(1000), -86395);
    EXPECT_EQ(late.clock.elapsedMs(), 5000);
}

// --- login flow with the fake server --------------------------------------------

TEST(LoginFlow, TheDialogTakesTheUserInUpperCaseAndThePasswordAsTyped) {
    Env env;
    env.fake.addDemoUser();
    env.login.script.push_back([&] {
        env.login.enterUser(QStringLiteral("demo"));
        env.login.setText(LoginField::BPASSWORT, QStringLiteral("demo"));
        env.login.clickAnmelden();
    });
    EXPECT_TRUE(env.s().CacheLogin());
    EXPECT_EQ(env.settings.values.value(QStringLiteral("Name")), QStringLiteral("DEMO"));
    EXPECT_EQ(uc().Benutzer, QStringLiteral("DEMO|Demo M}ller"));
    EXPECT_EQ(uc().AbteilungBez, QStringLiteral("Gesch{ftsleitung"));
    EXPECT_EQ(uc().HauptAbteilung, QStringLiteral("40"));
    EXPECT_EQ(uc().EMail, QStringLiteral("demo@example.at"));
    EXPECT_FALSE(env.login.isVisible());
    EXPECT_TRUE(env.messages().isEmpty());

    // Password compared exactly: upper case is wrong.
    env.login.script.push_back([&] {
        env.login.setText(LoginField::BPASSWORT, QStringLiteral("DEMO"));
        env.login.clickAnmelden();
    });
    EXPECT_FALSE(env.s().CacheLogin());
    EXPECT_EQ(env.messages(), QList<RecordedMessage>{wrongPassword(at(0))});
    EXPECT_EQ(env.login.selections,
              (QList<srv::MemoryLoginDialog::Selection>{{LoginField::BPASSWORT, true}}));
    EXPECT_TRUE(uc().Benutzer.isEmpty());
    EXPECT_EQ(uc().BenutzerName, QStringLiteral("Demo M}ller")); // kept from the last login
}

TEST(LoginFlow, ANameWithAPipeSendsOnlyThePersonnelCode) {
    Env env;
    env.fake.addDemoUser(QStringLiteral("M}ller|Meier"));
    cs().CommandLine = QStringLiteral("1 0 DEMO demo");
    ASSERT_TRUE(env.s().CacheLogin());
    EXPECT_EQ(uc().Benutzer, QStringLiteral("DEMO|M}ller|Meier"));
    EXPECT_EQ(env.fake.log.xecutes().last(), sessionLine("DEMO"));
}

TEST(LoginFlow, CancellingEndsTheProgramWithoutAMessage) {
    Env env;
    env.login.script.push_back([&] { env.login.clickAbbruch(); });
    EXPECT_THROW(env.s().CacheLogin(), srv::ProgramEnded);
    EXPECT_EQ(env.endCalls, 1);
    EXPECT_TRUE(env.messages().isEmpty());
    EXPECT_TRUE(uc().Benutzer.isEmpty());
}

TEST(LoginFlow, ReLoginFromTheMainWindowReconnectsAndRebuildsTheCaption) {
    Env env;
    env.fake.addDemoUser();
    env.login.script.push_back([&] {
        env.login.enterUser(QStringLiteral("DEMO"));
        env.login.setText(LoginField::BPASSWORT, QStringLiteral("demo"));
        env.login.clickAnmelden();
    });
    ASSERT_TRUE(env.s().CacheLogin());
    env.mainVisible = true;
    env.fake.log.lines.clear();

    env.s().mLogin_Click();
    EXPECT_TRUE(env.login.isVisible()); // without blocking
    env.login.clickAnmelden();
    EXPECT_EQ(env.login.modalShows, 1); // no second modal showing
    EXPECT_FALSE(env.login.isVisible());
    EXPECT_EQ(env.caption,
              QStringLiteral("ZORVEK     Firma: 1     Filiale: 0     Benutzer: Demo M}ller"));
    // Disconnected first, then the new connection and the login both tell
    // the server who works.
    ASSERT_FALSE(env.fake.log.lines.isEmpty());
    EXPECT_EQ(env.fake.log.lines.first(), QStringLiteral("disconnect"));
    EXPECT_EQ(env.fake.log.xecutes(), (QStringList{sessionLine("DEMO"), QStringLiteral("D ^%XTT"),
                                                   kWjLine, kWjLine, sessionLine("DEMO")}));

    // A failed re-login rebuilds the caption too and leaves nobody logged in.
    env.s().mLogin_Click();
    env.login.setText(LoginField::BPASSWORT, QStringLiteral("falsch"));
    env.caption.clear();
    env.login.clickAnmelden();
    EXPECT_EQ(env.messages(), QList<RecordedMessage>{wrongPassword(at(0))});
    EXPECT_EQ(env.caption,
              QStringLiteral("ZORVEK     Firma: 1     Filiale: 0     Benutzer: Demo M}ller"));
    EXPECT_TRUE(uc().Benutzer.isEmpty());
}

// --- the server settings dialog ---------------------------------------------------

TEST(ServerDialog, NoToAllowingKeepsTheFieldsLockedAndAsksAgain) {
    Env env;
    env.ui.queueAnswer(MsgAnswer::No);
    env.ui.queueAnswer(MsgAnswer::No);
    env.server.clickEdit();
    EXPECT_FALSE(env.server.editUnlocked());
    EXPECT_TRUE(env.server.fieldsLocked());
    EXPECT_FALSE(env.server.type(ServerField::BPORT, QStringLiteral("1")));
    env.server.clickEdit();
    EXPECT_EQ(env.messages(), (QList<RecordedMessage>{
                                  question("Änderungen erlauben?", MsgAnswer::No, at(0)),
                                  question("Änderungen erlauben?", MsgAnswer::No, at(0)),
                              }));
    EXPECT_EQ(env.ui.unanswered(), 0);
}

TEST(ServerDialog, NoToSavingLocksButKeepsTheTextsForTheNextLogin) {
    Env env;
    env.ui.queueAnswer(MsgAnswer::Yes);
    env.ui.queueAnswer(MsgAnswer::No);
    env.server.clickEdit();
    EXPECT_FALSE(env.server.fieldsLocked());
    EXPECT_TRUE(env.server.type(ServerField::BPORT, QStringLiteral("5000")));
    EXPECT_FALSE(env.server.type(ServerField::BWJ, QStringLiteral("99"))); // display only
    env.server.clickEdit();
    EXPECT_TRUE(env.server.fieldsLocked());
    EXPECT_EQ(env.server.text(ServerField::BPORT), QStringLiteral("5000"));
    EXPECT_TRUE(env.settings.values.isEmpty());
    EXPECT_TRUE(env.fake.log.lines.isEmpty()); // nothing closed, nothing connected
    // "Zurück" saves nothing either; "Anmelden" does.
    env.server.script.push_back([&] { env.server.clickZurück(); });
    env.s().BUServer_Click();
    EXPECT_EQ(env.server.modalShows, 1);
    EXPECT_FALSE(env.server.isVisible());
    EXPECT_TRUE(env.settings.values.isEmpty());
    env.login.clickAnmelden();
    EXPECT_EQ(env.settings.values.value(QStringLiteral("Port")), QStringLiteral("5000"));
    EXPECT_EQ(env.messages(), (QList<RecordedMessage>{
                                  question("Änderungen erlauben?", MsgAnswer::Yes, at(0)),
                                  question("Änderungen sichern?", MsgAnswer::No, at(0)),
                              }));
}

TEST(ServerDialog, SavingAChangedPortClosesTheConnectionAndConnectsToTheNewPort) {
    Env env;
    env.s().ReadLoginSettings();
    env.fake.log.lines.clear();
    env.ui.queueAnswer(MsgAnswer::Yes);
    env.ui.queueAnswer(MsgAnswer::Yes);
    env.server.clickEdit();
    env.server.type(ServerField::BPORT, QStringLiteral("2000"));
    env.server.clickEdit();
    EXPECT_EQ(env.fake.log.lines.mid(0, 2),
              (QStringList{QStringLiteral("disconnect"),
                           QStringLiteral("connect cn_iptcp:embedded[2000]:ZORVEK")}));
    EXPECT_EQ(cs().Port, QStringLiteral("2000"));
    EXPECT_EQ(env.settings.values.value(QStringLiteral("Port")), QStringLiteral("2000"));
    EXPECT_TRUE(env.s().factory()->isConnected());
    EXPECT_TRUE(env.server.Lock().isActive());
}

} // namespace
