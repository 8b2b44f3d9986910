// Connection, remote-call bracket, login flow and the settings dialog, with
// a scripted fake server, a fake clock and scripted message boxes.

#include "SessionEnv.h"
#include "support/Utf8.h"

#include <gtest/gtest.h>

using namespace testenv;
using srv::LoginField;
using srv::ServerField;

namespace {

using testsupport::u;
const QString kWjLine = u("S P0=$P(^FA(0),\"`\",2) W P0");
const QString kSep = QString(QChar(0xFF));
const QString kNoResult = u("Ungültige Anfrage! Kein Ergebnis gefunden\n\n");
srv::ConnectionSettings& cs() {
    return srv::connectionSettings();
}
srv::UserContext& uc() {
    return srv::userContext();
}
QString sessionLine(const char* code) {
    return u("S FIRMA=1,FIL=0,PERSONAL=\"%1\"").arg(u(code));
}
// The next modal login: the user types these and clicks "Anmelden".
void scriptLogin(Env& env, const char* user, const char* password) {
    env.login.script.push_back([&env, user, password] {
        env.login.enterUser(u(user));
        env.login.setText(LoginField::BPASSWORT, u(password));
        env.login.clickAnmelden();
    });
}

// Attempt, 10 s, attempt, 10 s, attempt, warning, dialog, one more attempt at
// once; the next failure after the dialog ends the program. The dialog shows
// the settings that failed; fixed and saved there, they connect at once.
TEST(Connection, FailedAttemptsFollowTheTimeline) {
    enum Fault { Refused, NotConnectedAfterConnect, ConnectThrows, NoFactory, RefusedOnce, Fixed };
    const QList<qint64> all{0, 10000, 20000, 20000};
    const QList<RecordedMessage> ending{warningAfterThree(at(20)), finalFailure(at(20))};
    const struct {
        Fault fault;
        QList<qint64> attempts;
        QList<RecordedMessage> messages;
    } rows[] = {
        {Refused, all, ending},
        {NotConnectedAfterConnect, all, ending},
        {ConnectThrows, all, ending},
        {NoFactory, {}, ending},
        {RefusedOnce, {0, 10000}, {}},
        {Fixed,
         all + QList<qint64>{20000},
         {warningAfterThree(at(20)), question("Änderungen erlauben?", MsgAnswer::No, at(20)),
          question("Änderungen erlauben?", MsgAnswer::Yes, at(20)),
          question("Änderungen sichern?", MsgAnswer::Yes, at(20))}}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.fault);
        Env env;
        env.settings.values[u("Server")] = u("kaputt");
        int refusals = r.fault == RefusedOnce                   ? 1
                       : r.fault == Refused || r.fault == Fixed ? 1000
                                                                : 0;
        env.fake.accepts = [&](const QString& c) {
            return refusals-- <= 0 || c.contains(QLatin1String("gut"));
        };
        env.fake.reportsConnected = r.fault != NotConnectedAfterConnect;
        env.fake.connectThrows = r.fault == ConnectThrows;
        if (r.fault == NoFactory) env.maker = [] { return std::unique_ptr<cache::Factory>(); };
        QList<qint64> dialogShownAt;
        env.server.script.push_back([&] {
            dialogShownAt << env.clock.elapsedMs();
            EXPECT_EQ(env.server.text(ServerField::BSERVERIP), u("kaputt"));
            if (r.fault == Fixed) {
                for (MsgAnswer a : {MsgAnswer::No, MsgAnswer::Yes})
                    env.ui.queueAnswer(a); // allow; saving takes the box's first button
                env.server.clickEdit();
                EXPECT_FALSE(env.server.editUnlocked()); // put back
                env.server.clickEdit();
                EXPECT_FALSE(env.server.fieldsLocked());
                EXPECT_TRUE(env.server.type(ServerField::BSERVERIP, u("gut")));
                env.server.clickEdit();
                EXPECT_TRUE(env.s().factory()->isConnected());
            }
            env.server.clickZurück();
        });
        const bool ends = r.messages == ending;
        if (ends)
            EXPECT_THROW(env.s().CacheLogin(), srv::ProgramEnded);
        else
            env.s().ReadLoginSettings();
        EXPECT_EQ(env.fake.log.connectTimes, r.attempts);
        EXPECT_EQ(env.fake.factoriesMade, r.attempts.size()); // a new factory for every attempt
        EXPECT_EQ(env.messages(), r.messages);
        EXPECT_EQ(env.ui.unanswered(), r.fault == Fixed ? 1 : 0);
        EXPECT_EQ(dialogShownAt, r.fault == RefusedOnce ? QList<qint64>() : QList<qint64>{20000});
        EXPECT_EQ(env.endCalls, ends ? 1 : 0);
        EXPECT_FALSE(env.server.isVisible());
        EXPECT_EQ(env.login.modalShows, 0); // the first server call comes before the dialog
        EXPECT_EQ(cs().WJ, ends ? QString() : u("03"));
        const qsizetype fixed = r.fault == Fixed ? 2 : 0;
        EXPECT_EQ(env.fake.log.connectStrings,
                  QStringList(r.attempts.size() - fixed, u("cn_iptcp:kaputt[1973]:ZORVEK")) +
                      QStringList(fixed, u("cn_iptcp:gut[1973]:ZORVEK")));
        EXPECT_EQ(env.settings.values.value(u("Server")), fixed ? u("gut") : u("kaputt"));
    }
}

// Server work inside the bracket holds the idle timer; a minute after the
// last call the connection closes and the next call reconnects silently.
TEST(Connection, SixtySecondsWithoutServerWorkCloseTheConnectionAndTheNextCallReconnects) {
    Env env;
    env.s().ReadLoginSettings();
    EXPECT_EQ(env.server.Lock().interval(), 60000);
    env.s().DBBegin(true);
    EXPECT_TRUE(env.ui.busyCursor());
    env.clock.advance(120000); // long server work: the timer does not run
    EXPECT_TRUE(env.s().factory()->isConnected());
    env.s().DBEnd(true);
    EXPECT_FALSE(env.ui.busyCursor());
    env.s().DBBegin(false);
    env.s().DBEnd(false);
    EXPECT_EQ(env.ui.cursorChanges(), (QList<bool>{true, false})); // the hourglass only if asked
    // A server call at 150 s starts the minute afresh. A failing close
    // counts as closed.
    env.fake.disconnectThrows = true;
    env.clock.advance(30000);
    bool failed = false;
    env.s().DBCall(kWjLine, failed);
    env.clock.advance(59999);
    EXPECT_TRUE(env.s().factory()->isConnected());
    env.clock.advance(1);
    EXPECT_FALSE(env.s().factory()->isConnected());
    EXPECT_FALSE(env.server.Lock().isActive());
    EXPECT_EQ(env.fake.log.lines.count(u("disconnect")), 1);
    // The new connection sends the session line and ^%XTT before the call.
    env.fake.log.lines.clear();
    EXPECT_EQ(env.s().DBCall(kWjLine, failed), u("03"));
    EXPECT_FALSE(failed);
    EXPECT_EQ(env.fake.log.connectTimes, (QList<qint64>{0, 210000}));
    EXPECT_EQ(env.fake.log.xecutes(), (QStringList{sessionLine(""), u("D ^%XTT"), kWjLine}));
    EXPECT_TRUE(env.messages().isEmpty());
}

// A command line whose first word is numeric gives the credentials and needs
// no dialog; two blanks make an empty word, which takes its default. Else the
// settings store decides and the dialog asks. Expected: Firma, Filiale,
// code, password, server, port, namespace and WJ, joined by "|".
TEST(LoadConnection, CommandLineOrSettingsStore) {
    const struct {
        const char* line;
        bool used;
        const char* expected;
    } rows[] = {
        {"12 3 ABC geheim", true, "12|3|ABC|geheim|embedded|1972|ZORVEK|"},
        {"12  3 ABC", true, "12||3|ABC|embedded|1972|ZORVEK|"},
        {"12 3 ABC pw  ", true, "12|3|ABC|pw|embedded|1972|ZORVEK|"},
        {"12 3 ABC pw db.example 5000 ANDERS 04 neun zehn", true,
         "12|3|ABC|pw|db.example|5000|ANDERS|04"},
        {"7", true, "7||||embedded|1972|ZORVEK|"},
        {"", false, "1|0||geheim|embedded|1973|ZORVEK|03"},
        {" 12 3 ABC pw", false, "1|0||geheim|embedded|1973|ZORVEK|03"},
        // Odd settings reach the connection as they are.
        {"-platform offscreen", false, "1|0||geheim|10.0.0.5|abc|ANDERS|03"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.line);
        Env env;
        cs().CommandLine = u(r.line);
        if (r.line[0] == '-') {
            env.settings.values[u("Namespace")] = u("ANDERS");
            env.settings.values[u("Port")] = u("abc");
            env.settings.values[u("Server")] = u("10.0.0.5");
        }
        env.login.script.push_back([&] {
            EXPECT_EQ(env.server.text(ServerField::BWJ), u("03"));
            env.login.setText(LoginField::BPASSWORT, u("geheim"));
            env.login.clickAnmelden();
        });
        env.s().LoadConnection();
        EXPECT_EQ(env.s().credentialsFromCommandLine(), r.used);
        EXPECT_EQ(env.login.modalShows, r.used ? 0 : 1);
        const QStringList got{uc().Firma,  uc().Filiale, uc().Personalcode, uc().Passwort,
                              cs().Server, cs().Port,    cs().Namespace,    cs().WJ};
        EXPECT_EQ(got.join(QLatin1Char('|')), u(r.expected));
        // The namespace never reaches the connect string.
        EXPECT_EQ(cs().ConnectString, "cn_iptcp:" + cs().Server + "[" + cs().Port + "]:ZORVEK");
        // A command line leaves the connection lazy; "Anmelden" saved the six
        // keys from the dialogs, which show what was read, and never the password.
        EXPECT_EQ(env.fake.log.lines.isEmpty(), r.used);
        const QStringList saved{"Filiale", "Firma", "Name", "Namespace", "Port", "Server"};
        EXPECT_EQ(env.settings.values.keys(), r.used ? QStringList() : saved);
        const QStringList values{got[1], got[0], got[2], got[6], got[5], got[4]};
        EXPECT_EQ(env.settings.values.values(), r.used ? QStringList() : values);
        EXPECT_TRUE(env.messages().isEmpty());
    }
}

// A call returns exactly what the line wrote. DBCallD puts the values at
// positions 1..n of a list sized to a bound growing in steps of ten; stale
// values above n may stay; an empty answer leaves the list. A failing call
// (answer "BAD") shows one report naming the call, ends the bracket, and
// sets the flag, which no later success resets.
TEST(Remote, CallsSplitsAndFailures) {
    QStringList eleven;
    for (int i = 1; i <= 11; ++i)
        eleven << u("%1`Name %1").arg(i);
    auto j = [](const QStringList& l) { return l.join(kSep); };
    const struct {
        bool d; // DBCallD, else DBCall
        QString answer, separator;
        QStringList before;
        int n, size;
        QStringList values; // positions 1..
    } rows[] = {
        {false, u(" zwei\nZeilen "), {}, {}, 0, 0, {}},
        {false, "", {}, {}, 0, 0, {}},
        {false, "BAD", {}, {}, 0, 0, {}},
        {true, j({"a", "b", "", "c", ""}), kSep, {}, 4, 11, {"a", "b", "", "c"}},
        {true, kSep, kSep, {}, 1, 11, {""}},
        {true, "", kSep, {"x", "y"}, 0, 2, {"y"}},
        {true, j(eleven), kSep, {}, 11, 21, eleven},
        {true, j({"p", "q", "r"}), kSep, QStringList(31, "alt"), 3, 11, {"p", "q", "r", "alt"}},
        {true, "a,b", ",,", {}, 1, 11, {"a,b"}}, // only a one-character separator splits
        {true, "BAD", kSep, {"vorher"}, 0, 1, {}},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.d << " " << r.answer.toStdString());
        Env env;
        const bool bad = r.answer == QLatin1String("BAD");
        env.fake.xecute = [&](const QString&) {
            if (bad) throw cache::CacheError(9, u("<UNDEFINED> ^BAD"));
            return r.answer;
        };
        const QString line = r.d ? u("d HGRP^ZKCLSU") : u("S P0=1 W P0");
        QStringList values = r.before;
        bool failed = false;
        if (r.d)
            EXPECT_EQ(env.s().DBCallD(line, r.separator, values, failed),
                      bad ? std::nullopt : std::optional(r.n));
        else
            EXPECT_EQ(env.s().DBCall(line, failed), bad ? QString() : r.answer);
        EXPECT_EQ(values.size(), r.size);
        EXPECT_EQ(values.mid(1, r.values.size()), r.values);
        EXPECT_EQ(failed, bad);
        if (!bad) {
            EXPECT_TRUE(env.messages().isEmpty());
            EXPECT_TRUE(env.ui.cursorChanges().isEmpty());
            continue;
        }
        EXPECT_EQ(values, r.before);
        const QString call = r.d ? u("DBCallD") : u("DBCall");
        EXPECT_EQ(env.messages(), QList<RecordedMessage>{accessError(
                                      kNoResult + call + " Aufruf von ZK.Windwos Xecute " + line, 9,
                                      u("<UNDEFINED> ^BAD"), at(0))});
        // The report ends the bracket: arrow pointer, idle timer running.
        EXPECT_EQ(env.ui.cursorChanges(), QList<bool>{false});
        EXPECT_TRUE(env.server.Lock().isActive());
        env.fake.xecute = [](const QString&) { return u("gut"); };
        EXPECT_EQ(env.s().DBCall(line, failed), u("gut"));
        EXPECT_TRUE(failed);
    }
}

TEST(Remote, CacheCloseProcessesEventsAndIgnoresAFailingClose) {
    struct Failing : cache::CacheObject {
        QString property(const QString&) override { return {}; }
        QString call(const QString&, const QStringList&) override { return {}; }
        void SYS_Close() override { throw cache::CacheError(5008, u("zu")); }
    };
    Env env;
    std::unique_ptr<cache::CacheObject> o = std::make_unique<Failing>();
    EXPECT_NO_THROW(env.s().CacheClose(o));
    EXPECT_EQ(o, nullptr);
    EXPECT_EQ(env.ui.processEventsCalls(), 1);
}

TEST(Remote, CheckPermissionAsksForAllesAndTheLoggedInUser) {
    Env env;
    uc().Personalcode = u("DEMO");
    EXPECT_EQ(env.s().CheckPermission(), 1);
    env.fake.permissionAnswer = u("5");
    EXPECT_EQ(env.s().CheckPermission(u("Teil"), u("ANDERER")), 5);
    env.fake.permissionAnswer = u("-1");
    EXPECT_EQ(env.s().CheckPermission(QString(), QString()), -1);
    EXPECT_EQ(env.fake.log.lines.filter(u("Berechtigung")),
              (QStringList{"Berechtigung DEMO,Tallvero,alles", "Berechtigung ANDERER,Tallvero,Teil",
                           "Berechtigung DEMO,Tallvero,alles"}));
    // A garbage answer reaches the caller as an error, with no report.
    env.fake.permissionAnswer = u("keine Zahl");
    try {
        env.s().CheckPermission();
        ADD_FAILURE() << "no error";
    } catch (const cache::CacheError& e) {
        EXPECT_EQ(e.number(), 13);
        EXPECT_TRUE(e.description().contains(QLatin1String("keine Zahl")));
    }
    EXPECT_TRUE(env.messages().isEmpty());
}

// A pause of ten seconds is waited in full between connection attempts.
TEST(Pause, StopsWhenTheTimerPassesMidnight) {
    Env late({}, QDateTime(QDate(2024, 4, 15), QTime(23, 59, 55), Qt::UTC));
    EXPECT_EQ(late.s().Pause(1000), -86395);
    EXPECT_EQ(late.clock.elapsedMs(), 5000);
    EXPECT_EQ(late.clock.processEventsCalls(), 500); // the wait keeps the events flowing
}

// The login reads the user's records; of a name with a pipe only the
// personnel code goes to the server.
TEST(LoginFlow, TheDialogTakesTheUserInUpperCaseAndThePasswordAsTyped) {
    Env env;
    env.fake.addDemoUser(u("Demo M}ller|X"));
    scriptLogin(env, "demo", "demo");
    EXPECT_TRUE(env.s().CacheLogin());
    EXPECT_EQ(env.settings.values.value(u("Name")), u("DEMO"));
    EXPECT_EQ((QStringList{uc().Benutzer, uc().BenutzerName, uc().PersonalNr, uc().Abteilung,
                           uc().HauptAbteilung, uc().AbteilungBez, uc().EMail, uc().Fax,
                           uc().BerGrp, uc().DW}),
              (QStringList{"DEMO|Demo M}ller|X", "Demo M}ller|X", "1001", "B0", "40",
                           "Gesch{ftsleitung", "demo@example.at", "+43 1 234", "ALLE", "0"}));
    EXPECT_EQ(env.fake.log.xecutes().last(), sessionLine("DEMO"));
    EXPECT_FALSE(env.login.isVisible());
    EXPECT_TRUE(env.messages().isEmpty());
}

// Wrong password (compared exactly) or an inactive user: the message, the
// password selected, nobody logged in. A missing record: an access error
// named after the step; what was read before it is kept.
TEST(LoginFlow, RejectedLogins) {
    using Selections = QList<srv::MemoryLoginDialog::Selection>;
    const struct {
        const char *code, *password, *key, *value, *step, *missing;
        bool named;
        const char* abteilung;
    } rows[] = {
        {"DEMO", "falsch", "", "", nullptr, "", false, ""},
        {"DEMO", "DEMO", "", "", nullptr, "", false, ""},
        {"DEMO", "demo", "aktiv", "N", nullptr, "", false, ""},
        {"DEMO", "demo", "aktiv", "j", nullptr, "", false, ""},
        {"NIEMAND", "x", "", "", "Anmeldung mit nicht existierendem Personalcode", "1||NIEMAND",
         false, ""},
        {"DEMO", "demo", "abtnr", "ZZ", "Abteilungsermittlung", "1||ZZ", true, ""},
        {"DEMO", "demo", "pnr", "9999", "PersBasis Nummern", "1||9999", true, "B0"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.code << " " << r.password << " " << r.value);
        Env env;
        env.fake.addDemoUser();
        if (*r.key) env.fake.records[u("ZK.ParPersEdv 1||DEMO")][u(r.key)] = u(r.value);
        cs().CommandLine = u("1 0 %1 %2").arg(u(r.code), u(r.password));
        EXPECT_FALSE(env.s().CacheLogin());
        const RecordedMessage m = r.step
                                      ? accessError(u(r.step), cache::err::ObjectNotFound,
                                                    "Objekt nicht gefunden: " + u(r.missing), at(0))
                                      : wrongPassword(at(0));
        EXPECT_EQ(env.messages(), QList<RecordedMessage>{m});
        EXPECT_EQ(env.login.selections,
                  r.step ? Selections() : Selections({{LoginField::BPASSWORT, true}}));
        EXPECT_EQ(uc().Benutzer, r.named ? u("DEMO|Demo M}ller") : QString());
        EXPECT_EQ(uc().Abteilung, u(r.abteilung));
        EXPECT_TRUE(env.server.Lock().isActive()); // the bracket was closed
        // Giving up now ends the program without another message.
        EXPECT_THROW(env.login.clickAbbruch(), srv::ProgramEnded);
        EXPECT_EQ(env.endCalls, 1);
        EXPECT_EQ(env.messages().size(), 1);
    }
}

} // namespace
