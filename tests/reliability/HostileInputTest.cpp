// Hostile selection codes and free text through every path that takes them to
// the server, on both engines: nothing throws, the answer is a German error or
// zero, the database is unchanged, and a hostile code never matches another's rows.

#include "ReliabilityHelpers.h"
#include "main_window/Rules.h"
#include "platform/cache/server/ServerFactory.h"
#include "retrieval/PeriodQuery.h"
#include "support/LoggedIn.h"
#include "support/Utf8.h"
#include "values/ValueStore.h"
#include "windows/ProgramLog.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <tuple>

using platform::RecordedMessage;
using reliability::kToday;
using reliability::Money;
using testsupport::TestEngine;

namespace {

using testsupport::u;

// Quotes and separators of SQL and of the server's lines, wildcards, control
// characters, broken UTF-8, and near misses of real codes.
// clang-format off
const char* const kTexts[] = {
    "'", "\"", "\"20\"", "`", "20`2001", "1' OR '1'='1", "1; DROP TABLE sales_line; --", "%", "_",
    "*", "\r", "\t", "\x1b[2J", "\xC3\x28\xA0\xA1\xFF\xFE\xED\xA0\x80", "ÄÖÜäöüß§", " 20 ", " M2",
    "M2 ", "m2", "-1", "99999999999999999999", "020", "20.0", "+20", "\n", "\t20\r\n"};
// clang-format on
const QStringList& hostileTexts() {
    static const QStringList all = [] {
        QStringList t{QString(QChar(0xFF)), QString(QChar(0)), u("20") + QChar(0),
                      QString(100000, QLatin1Char('x'))};
        for (const char* s : kTexts)
            t << QString::fromUtf8(s);
        return t;
    }();
    return all;
}

// The company field reads a leading number: these read as company 1.
bool readsAsCompanyOne(const QString& text) {
    static const QRegularExpression one(u("\\A1[^0-9]"));
    return one.match(text).hasMatch();
}

// The code fields of a selection; the last two are read by the extended
// selection only.
using retrieval::Selection;
QString Selection::*const kFields[] = {&Selection::hgrp,  &Selection::ugrp, &Selection::pc,
                                       &Selection::habt,  &Selection::abt,  &Selection::pg,
                                       &Selection::hvart, &Selection::vart, &Selection::styp};
constexpr int kPlainFields = 7;

std::string show(const QString& s, int length = 40) {
    QString t = s.left(length);
    for (QChar& c : t)
        if (c.unicode() < 32 && c != QLatin1Char('\n')) c = QLatin1Char('?');
    return t.toStdString() + (s.size() > length ? "..." : "");
}

// The access error report, or another German message box of the client.
bool germanError(const RecordedMessage& m) {
    return (m.title == QStringLiteral("Caché Zugriffsfehler") &&
            m.text.startsWith(QStringLiteral("Vorgang: ")) &&
            m.text.contains(QStringLiteral("Fehler: "))) ||
           m.title == QStringLiteral("Neu aufzubauende Daten") ||
           m.title == QStringLiteral("Anmeldung an Caché.");
}

// The queries that take codes, with arguments that find something; each of
// the first `codes` arguments in turn is replaced by the hostile text. (The
// DatWH queries' last argument is a key the server splits at backquotes; the
// extended period query shows the client never sends a hostile one.)
struct Query {
    const char* cls;
    const char* name;
    QStringList args;
    int codes;
    int columns = 2;
};
const Query kQueries[] = {
    {"ZKUmsatz.Daten", "AbtInHAbt", {"1", "10"}, 2},
    {"ZKUmsatz.Daten", "HAbtInPC", {"1", "1"}, 2},
    {"ZKUmsatz.Daten", "AbtInPC", {"1", "1"}, 2},
    {"ZKUmsatz.Daten", "Versandarten", {"1", "L"}, 2},
    {"ZKUmsatz.Daten", "PeriodenSumme", {"1", "12301", "20", "", "", "", "", "", ""}, 9},
    {"ZKUmsatz.Daten", "PeriodenSkonto", {"1", "12301", "", "", "1", "", "", "", ""}, 9},
    {"ZKUmsatz.Daten",
     "PeriodenSummeAufteilung",
     {"1", "12301", "12312", "", "", "", "10", "M2", "", ""},
     10},
    {"ZKUmsatz.DatWH", "PeriodenSumme", {"1", "12301", "1"}, 2, 4},
    {"ZKUmsatz.DatWH", "PeriodenSkonto", {"1", "12301", ""}, 2, 4},
};
// What a query answers when nothing matches: no rows, or one row of zeros.
QList<QStringList> zeros(const Query& q) {
    if (q.columns == 2 && !QByteArray(q.name).startsWith("Perioden")) return {};
    return {QStringList(q.columns, u("0"))};
}

// A login whose code and password hold both kinds of quote.
const QString kQuoteUser = u("O\"NEIL'S");
const QString kQuotePassword = u("x\"y'z");

testsupport::DemoSite& site(TestEngine e) {
    return testsupport::demoSite(e, u("hostile"), 3000, [](cache::server::Database& d) {
        reliability::addFullUser(d, kQuoteUser, kQuotePassword, u("Quentin Quote"), u("M2"));
    });
}

class HostileInput : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &site(GetParam());
        values::resetStore();
        windows::programLog().clear();
        auto d = site_->db->open();
        before_ = reliability::fingerprint(*d);
        companyOne_ = reliability::companyOneMonths(*d);
    }
    void TearDown() override {
        env.reset();
        if (!site_) return;
        site_->db->activate();
        auto d = site_->db->open();
        EXPECT_EQ(reliability::fingerprint(*d), before_) << "the database was changed";
    }

    srv::FactoryMaker recording() {
        return [this] {
            return std::make_unique<fakes::RecordingFactory>(
                std::make_unique<cache::server::ServerFactory>(), log);
        };
    }
    // Month n's revenue and margin are zero, or company 1's when `whole`.
    bool right(int n, double umsatz, double marge, bool whole) const {
        return reliability::shows(whole ? companyOne_[n - 1] : Money{}, umsatz, marge);
    }
    void expectGermanMessages() {
        for (const RecordedMessage& m : env->messages())
            EXPECT_TRUE(germanError(m)) << show(m.title) << ": " << show(m.text);
    }

    testsupport::DemoSite* site_ = nullptr;
    fakes::CallLog log;
    std::unique_ptr<testenv::Env> env;
    QByteArray before_;
    QList<Money> companyOne_;
};

// Each hostile text in each argument of every query the client sends codes
// in, in the sub-group routine, the rebuild method, and each selection field
// through the period query (plain and extended, whose key the server splits at
// backquotes): no rows and no figures but zeros, or company 1's where the
// company field reads as 1.
TEST_P(HostileInput, SelectionCodesFindNothing) {
    env = testsupport::loggedIn(*site_, u("DEMO"), u("demo"), kToday, recording());
    // Every row of a query's answer, or its error.
    const auto ask = [&](const Query& q, const QStringList& args) {
        QList<QStringList> rows;
        std::unique_ptr<cache::CacheQuery> r = env->s().factory()->query(u(q.cls), u(q.name));
        try {
            r->execute(args);
            while (r->next()) {
                rows.append(QStringList{});
                for (int c = 1; c <= q.columns; ++c)
                    rows.last() << r->column(c);
            }
        } catch (const cache::CacheError& e) {
            rows = {{u("Fehler"), e.description()}};
        }
        r->SYS_Close();
        return rows;
    };
    // The rebuild's error number, or 0.
    const auto generieren = [&](const QString& firma, const QString& von, const QString& bis) {
        try {
            env->s()
                .factory()
                ->classHandle(u("ZKUmsatz.Daten"))
                ->call(u("Generieren"), {firma, von, bis});
        } catch (const cache::CacheError& e) {
            return e.number();
        }
        return 0;
    };
    for (const Query& q : kQueries) {
        const QList<QStringList> found = ask(q, q.args);
        EXPECT_TRUE(!found.isEmpty() && found != zeros(q)) << q.cls << " " << q.name;
    }
    for (const QString& h : hostileTexts()) {
        SCOPED_TRACE(show(h));
        for (const char* own : {"M2", "B0", "M5", "B1"})
            EXPECT_FALSE(mw::departmentAllowed(QLatin1String(own), h)) << own;
        for (const Query& q : kQueries) {
            for (int at = 0; at < q.codes; ++at) {
                QStringList args = q.args;
                args[at] = h;
                EXPECT_EQ(ask(q, args), zeros(q)) << q.cls << " " << q.name << " argument " << at;
            }
        }
        QStringList values;
        bool failed = false;
        env->ui.clearMessages();
        const auto groups =
            env->s().DBCallD(srv::Session::subGroupLine(h), QString(QChar(0xFF)), values, failed);
        EXPECT_TRUE(failed ? !env->messages().isEmpty() && germanError(env->messages().last())
                           : groups == 0)
            << "sub groups";
        // The rebuild refuses a hostile period or company (reversed: a whole number).
        for (const auto& [firma, von, bis] : {std::tuple{u("1"), h, u("12401")},
                                              {u("1"), u("12401"), h},
                                              {h, u("12402"), u("12401")}})
            EXPECT_EQ(generieren(firma, von, bis), cache::err::GenerateFailed) << show(von);

        // The period query, plain then extended: the text in one field at a
        // time, field after field month by month; the plain form tries the
        // company field too. Each stored month is right, or the run failed
        // with the access error report.
        for (const bool extended : {false, true}) {
            SCOPED_TRACE(extended ? "extended" : "plain");
            reliability::PeriodHost host; // one run tries each turn in several months
            QList<bool> whole;            // the turn reads as company 1 without restriction
            if (!extended) {
                host.turns << retrieval::Selection{};
                host.turns.last().firma = h;
                whole << readsAsCompanyOne(h);
            }
            for (int i = 0; i < (extended ? 9 : kPlainFields); ++i) {
                retrieval::Selection sel;
                sel.firma = u("1");
                sel.extended = extended;
                sel.styp = u("L");
                sel.*kFields[i] = h;
                host.turns << sel;
                whole << false;
            }
            env->ui.clearMessages();
            retrieval::FetchOutcome o;
            EXPECT_NO_THROW(o = retrieval::runPeriodQuery(env->s(), env->ui, env->clock,
                                                          values::store(), host));
            EXPECT_TRUE(o.result == retrieval::FetchResult::Done
                            ? o.months == 61
                            : o.result == retrieval::FetchResult::Failed &&
                                  !env->messages().isEmpty());
            const values::Table& P = values::store().PeriodValues;
            int wrong = 0;
            for (int n = 1; P.hasCells() && n <= 61; ++n)
                wrong += !P(n, 1).isEmpty() && !right(n, P(n, 1).value(), P(n, 2).value(),
                                                      whole[(n - 1) % host.turns.size()]);
            EXPECT_EQ(wrong, 0) << "months with other figures";
            expectGermanMessages();
        }
    }
}

// The login dialog's fields, the session line and the permission check.
TEST_P(HostileInput, LoginRefuses) {
    const QStringList groups = reliability::column( // company 1's main groups
        *site_->db->open(), u("SELECT hgrp FROM hauptgruppe WHERE firma = 1 ORDER BY hgrp"));
    // Through the login dialog's fields, with the settings of this site.
    const auto dialogLogin = [&](const QString& firma, const QString& code, const QString& pw) {
        env = reliability::clientEnv(*site_, {}, {}, recording());
        env->settings.values = {{u("Server"), site_->server},
                                {u("Port"), site_->port},
                                {u("Firma"), firma},
                                {u("Filiale"), firma == u("1") ? u("0") : firma}};
        env->login.script.push_back([this, code, pw] {
            env->login.setText(srv::LoginField::BUSER, code);
            env->login.setText(srv::LoginField::BPASSWORT, pw);
            env->login.clickAnmelden();
        });
        log.lines.clear();
        bool ok = true;
        EXPECT_NO_THROW(ok = env->s().CacheLogin());
        return ok;
    };
    const auto expectRefused = [&](bool ok, const char* what) {
        EXPECT_FALSE(ok) << what;
        EXPECT_TRUE(srv::userContext().Benutzer.isEmpty()) << what;
        EXPECT_FALSE(env->messages().isEmpty()) << what;
        expectGermanMessages();
    };
    // The quotes of the code travel doubled, and the server reads them back.
    ASSERT_TRUE(dialogLogin(u("1"), kQuoteUser, kQuotePassword));
    ASSERT_FALSE(log.xecutes().isEmpty());
    EXPECT_EQ(log.xecutes().last(), u("S FIRMA=1,FIL=0,PERSONAL=\"O\"\"NEIL'S\""));
    EXPECT_EQ(srv::userContext().BenutzerName, u("Quentin Quote"));

    // Near misses of the real code are tried as personnel codes only ("demo"
    // is the right password).
    QStringList texts = hostileTexts();
    const qsizetype hostileCount = texts.size();
    for (const char* v : {"DEMO ", " DEMO", "demo", "DEMO'--", "DEMO\" OR \"1\"=\"1",
                          "X\",FIRMA=99,PERSONAL=\"DEMO"})
        texts.append(u(v));
    texts.append(u("DEMO") + QChar(0));
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const QString& h = texts[i];
        SCOPED_TRACE(show(h));
        expectRefused(dialogLogin(u("1"), h, u("demo")), "code");
        // The hostile code in the session line keeps the session at company
        // 1: its main groups.
        env->ui.clearMessages();
        bool failed = false;
        EXPECT_NO_THROW(env->s().DBCall(srv::Session::sessionLine(u("1"), u("0"), h), failed));
        if (!failed) {
            QStringList values, codes;
            const std::optional<int> n =
                env->s().DBCallD(u("d HGRP^ZKCLSU"), QString(QChar(0xFF)), values, failed);
            ASSERT_TRUE(n.has_value());
            for (int k = 1; k <= *n; ++k)
                codes << values.value(k).section(QLatin1Char('`'), 0, 0);
            EXPECT_EQ(codes, groups);
        } else {
            ASSERT_FALSE(env->messages().isEmpty());
            EXPECT_TRUE(germanError(env->messages().last()));
        }
        // A hostile user has no right; a hostile program part falls back to
        // the user's "alles". While the failed code stays in the session, a
        // line the server cannot read fails every new connection with its
        // syntax error.
        for (const auto& [part, user, level] :
             {std::tuple{QString(), h, -1}, std::tuple{h, u("DEMO"), 1}}) {
            try {
                EXPECT_EQ(env->s().CheckPermission(part, user), level);
            } catch (const cache::CacheError& e) {
                EXPECT_TRUE(failed);
                EXPECT_EQ(e.number(), cache::err::Syntax) << show(e.description());
            }
        }
        if (i >= hostileCount) continue;
        expectRefused(dialogLogin(u("1"), u("DEMO"), h), "password");
        expectRefused(dialogLogin(h, u("DEMO"), u("demo")), "company and branch");
    }
}

// The headless tool: a usage error naming the option (exit 2), a refusal in
// German (1), or zeros, the whole company's figures for a branch (0). The
// selection codes reach the same period query as above; here the parsing,
// the choice from the lists, the login and raw bytes that are no UTF-8 on
// the binary's command line see the text.
TEST_P(HostileInput, ReportToolRefusesOrFindsNothing) {
    reliability::ToolEnv tool;
    const QStringList base{"--server", site_->server, "--port",  site_->port,
                           "--user",   "DEMO",        "--today", kToday.toString(Qt::ISODate)};
    const auto check = [&](const reliability::ToolRun& r, const QString& option, bool whole) {
        const QJsonObject j = QJsonDocument::fromJson(r.json).object();
        const QJsonArray pv = j.value(u("PeriodValues")).toArray();
        if (r.code == 2) {
            EXPECT_TRUE(r.err.contains(option) && r.json.isEmpty()) << show(r.err, 300);
        } else if (r.code == 1) {
            EXPECT_TRUE(r.err.contains(u("Anmeldung")) || r.err.contains(u("Zugriffsfehler")) ||
                        r.err.contains(u("Abbruch")))
                << show(r.err, 300);
        } else {
            ASSERT_EQ(r.code, 0) << show(r.err, 300);
            EXPECT_EQ(j.value(u("fetch")).toObject().value(u("months")).toInt(), 61);
            ASSERT_EQ(pv.size(), 72);
            for (int n = 1; n <= 61; ++n)
                EXPECT_TRUE(right(n, pv[n - 1][0].toDouble(-1), pv[n - 1][1].toDouble(-1), whole))
                    << n;
        }
    };
    const std::tuple<const char*, QStringList, bool> runs[] = {
        {"--hg", {"--ug", "2001"}, false},
        {"--vart", {"--extended"}, false},
        {"--hkg", {}, false},
        {"--hvart", {}, false},
        {"--firma", {}, false},
        {"--filiale", {}, true},
        {"--user", {}, false},
        {"--password", {}, false},
    };
    for (const QString& h : hostileTexts()) {
        for (const auto& [option, with, whole] : runs) {
            SCOPED_TRACE(std::string(option) + " " + show(h));
            const QString json = tool.nextJson();
            const QStringList args = base + QStringList{"--password", "demo"} + with +
                                     QStringList{option, h, "--json", json};
            check(tool.inProcess(args, json), QLatin1String(option), whole);
        }
    }
    const QProcessEnvironment env = tool.environment(u("demo"));
    for (const char* bytes :
         {"\\377\\376", "M2\\377", "\\300\\257", "\\355\\240\\200", "\\303", "20\\033[2J"}) {
        for (const char* option : {"--hg", "--abt", "--user"}) {
            SCOPED_TRACE(std::string(option) + " " + bytes);
            const QString json = tool.nextJson();
            const QString script = u("exec \"$0\" \"$@\" %1 \"$(printf '%2')\" --json '%3'")
                                       .arg(QLatin1String(option), QLatin1String(bytes), json);
            check(tool.binary(base, json, env, script), QLatin1String(option), false);
        }
    }
}

INSTANTIATE_ON_BOTH_ENGINES(HostileInput);

} // namespace
