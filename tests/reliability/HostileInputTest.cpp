// Hostile selection codes and free text through every path that takes them
// to the server, on SQLite and PostgreSQL: the server's queries and the
// period query, the rebuild, the login and the session line, and the
// headless tool. Nothing throws, the answer is a clear German error or
// zero, the database is unchanged, and a hostile code never matches the
// rows of another code.

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
using reliability::Money;
using testsupport::TestEngine;

namespace {

using testsupport::u;

struct Hostile {
    const char* name;
    QString text;
    bool readsAsCompanyOne = false; // the company field reads a leading number
};

const QList<Hostile>& hostileTexts() {
    static const QList<Hostile> all = {
        {"single quote", u("'")},
        {"double quote", u("\"")},
        {"quoted existing code", u("\"20\"")},
        {"backquote", u("`")},
        {"code, backquote, code", u("20`2001")},
        {"row separator", QString(QChar(0xFF))},
        {"or true", u("1' OR '1'='1"), true},
        {"drop table", u("1; DROP TABLE sales_line; --"), true},
        {"percent", u("%")},
        {"underscore", u("_")},
        {"star", u("*")},
        {"100000 characters", QString(100000, QLatin1Char('x'))},
        {"nul", QString(QChar(0))},
        {"code and nul", u("20") + QChar(0)},
        {"carriage return", u("\r")},
        {"line feed", u("\n")},
        {"tab", u("\t")},
        {"escape", u("\x1b[2J")},
        {"control characters around a code", u("\t20\r\n")},
        {"invalid utf-8", QString::fromUtf8(QByteArray("\xC3\x28\xA0\xA1\xFF\xFE\xED\xA0\x80", 9))},
        {"umlauts", u("ÄÖÜäöüß§")},
        {"blanks around a code", u(" 20 ")},
        {"leading blank", u(" M2")},
        {"trailing blank", u("M2 ")},
        {"lower case code", u("m2")},
        {"negative", u("-1")},
        {"huge", u("99999999999999999999")},
        {"leading zero", u("020")},
        {"decimal", u("20.0")},
        {"signed", u("+20")},
    };
    return all;
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

// The period query reads the selection afresh for every month; this host
// hands out its selections in turn, so one run tries each in several months.
struct Host : retrieval::PeriodQueryHost {
    QList<retrieval::Selection> turns;
    QList<bool> wholeCompany; // the turn reads as company 1 without restriction
    int reads = 0;
    retrieval::Selection readSelection() override { return turns.at(reads++ % turns.size()); }
    bool departmentChosen() const override { return true; }
    void redraw() override {}
};

// The queries that take codes, with arguments that find something; each of
// the first `codes` arguments in turn is replaced by the hostile text. (The
// last argument of the DatWH queries is a key the server splits at
// backquotes; the period query below shows the client never sends a
// hostile one.)
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
        testsupport::addLogin(d, 1, kQuoteUser, kQuotePassword, u("J"), u("Quentin Quote"),
                              u("1001"), u("M2"));
        d.exec(u("INSERT INTO berechtigung (benutzer, programm, teil, stufe) VALUES "
                 "(?, 'Tallvero', 'alles', 1)"),
               {kQuoteUser})
            .finish();
    });
}

const QDate kToday(2024, 1, 15); // 61 months: January 2019 up to January 2024

class HostileInput : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &site(GetParam());
        values::resetStore();
        windows::programLog().clear();
        auto d = site_->db->open();
        before_ = reliability::fingerprint(*d);
        for (int n = 1; n <= 61; ++n) {
            const int p = reliability::periodOfSlot(2024, n);
            companyOne_.append(reliability::salesLines(*d, 1, p, p));
        }
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
    void login() {
        env.reset(); // its end clears the session records
        env = testsupport::loggedIn(*site_, u("DEMO"), u("demo"), kToday, recording());
    }
    // Month n's revenue and margin are zero, or company 1's when `whole`.
    bool right(int n, double umsatz, double marge, bool whole) const {
        const Money m = whole ? companyOne_[n - 1] : Money{};
        return std::abs(umsatz - m.umsatz / 100.0) < 0.005 &&
               std::abs(marge - (m.umsatz - m.kosten) / 100.0) < 0.005;
    }
    // Every stored month is right, or the run failed with the access error
    // report; every message is a German one.
    void expectPeriods(const retrieval::FetchOutcome& o, const std::function<bool(int)>& whole) {
        const values::Table& P = values::store().PeriodValues;
        if (o.result == retrieval::FetchResult::Done) {
            EXPECT_EQ(o.months, 61);
        } else {
            EXPECT_EQ(o.result, retrieval::FetchResult::Failed);
            ASSERT_FALSE(env->messages().isEmpty());
        }
        int wrong = 0;
        for (int n = 1; P.hasCells() && n <= 61; ++n)
            wrong += !P(n, 1).isEmpty() && !right(n, P(n, 1).value(), P(n, 2).value(), whole(n));
        EXPECT_EQ(wrong, 0) << "months with other figures";
        expectGermanMessages();
    }
    void expectGermanMessages() {
        for (const RecordedMessage& m : env->messages())
            EXPECT_TRUE(germanError(m)) << show(m.title) << ": " << show(m.text);
    }
    // Exit 2 names the option, exit 1 says in German why, exit 0 holds zeros
    // (or the whole company's figures) for all 61 months.
    void checkToolRun(const reliability::ToolRun& r, const QStringList& options,
                      bool companyTotals = false) {
        SCOPED_TRACE(options.join(QLatin1Char(' ')).toStdString());
        const QJsonObject j = QJsonDocument::fromJson(r.json).object();
        const QJsonArray pv = j.value(u("PeriodValues")).toArray();
        switch (r.code) {
        case 2:
            EXPECT_TRUE(std::any_of(options.begin(), options.end(), [&](const QString& o) {
                return r.err.contains(o);
            })) << show(r.err, 300);
            EXPECT_TRUE(r.json.isEmpty());
            break;
        case 1:
            EXPECT_TRUE(r.err.contains(u("Anmeldung")) || r.err.contains(u("Zugriffsfehler")) ||
                        r.err.contains(u("Abbruch")))
                << show(r.err, 300);
            break;
        case 0:
            EXPECT_EQ(j.value(u("fetch")).toObject().value(u("months")).toInt(), 61);
            ASSERT_EQ(pv.size(), 72);
            for (int n = 1; n <= 61; ++n) {
                const QJsonArray row = pv[n - 1].toArray();
                EXPECT_TRUE(right(n, row[0].toDouble(-1), row[1].toDouble(-1), companyTotals)) << n;
            }
            break;
        default:
            ADD_FAILURE() << "exit code " << r.code << ": " << show(r.err, 300);
        }
    }

    testsupport::DemoSite* site_ = nullptr;
    fakes::CallLog log;
    std::unique_ptr<testenv::Env> env;
    QByteArray before_;
    QList<Money> companyOne_;
};

// Each hostile text in each argument of every query the client sends codes
// in, in the sub-group routine and the rebuild method, and in each selection field through the
// period query (plain and extended, whose key the server splits at
// backquotes): no rows and no figures but zeros, or company 1's where the
// company field reads as 1.
TEST_P(HostileInput, SelectionCodesFindNothing) {
    login();
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
    const auto generieren = [&](const QString& firma, const QString& von, const QString& bis) {
        std::optional<cache::CacheError> error;
        env->s().DBBegin(false);
        auto handle = env->s().factory()->classHandle(u("ZKUmsatz.Daten"));
        try {
            handle->call(u("Generieren"), {firma, von, bis});
        } catch (const cache::CacheError& e) {
            error = e;
        }
        env->s().CacheClose(handle);
        env->s().DBEnd(false);
        return error ? QString::number(error->number()) + u(" ") + error->description() : QString();
    };
    static const QRegularExpression wholeNumber(u("\\A[0-9]+\\z"));
    const QString refused = QString::number(cache::err::GenerateFailed) + u(" ");
    for (const Query& q : kQueries) {
        const QList<QStringList> found = ask(q, q.args);
        EXPECT_TRUE(!found.isEmpty() && found != zeros(q)) << q.cls << " " << q.name;
    }
    for (const Hostile& h : hostileTexts()) {
        SCOPED_TRACE(h.name);
        for (const char* own : {"M2", "B0", "M5", "B1"})
            EXPECT_FALSE(mw::departmentAllowed(QLatin1String(own), h.text)) << own;

        for (const Query& q : kQueries) {
            for (int at = 0; at < q.codes; ++at) {
                QStringList args = q.args;
                args[at] = h.text;
                EXPECT_EQ(ask(q, args), zeros(q)) << q.cls << " " << q.name << " argument " << at;
            }
        }
        QStringList values;
        bool failed = false;
        env->ui.clearMessages();
        const auto groups = env->s().DBCallD(srv::Session::subGroupLine(h.text),
                                             QString(QChar(0xFF)), values, failed);
        EXPECT_TRUE(failed ? !env->messages().isEmpty() && germanError(env->messages().last())
                           : groups == 0)
            << "sub groups";
        // The rebuild refuses a hostile period, and a hostile company unless it
        // is a whole number (then the reversed range).
        for (const auto& [von, bis] : {std::pair{h.text, u("12401")}, {u("12401"), h.text}})
            EXPECT_TRUE(
                generieren(u("1"), von, bis).startsWith(refused + u("Ungültige Periode: ")));
        const QString e = generieren(h.text, u("12402"), u("12401"));
        EXPECT_TRUE(e.startsWith(refused + u("Ungültige Firma: ")) ||
                    (wholeNumber.match(h.text.trimmed()).hasMatch() &&
                     e.startsWith(refused + u("Startperiode"))))
            << show(e);

        // The period query, plain then extended: the text in one field at a
        // time, field after field month by month; the plain form tries the
        // company field too.
        for (const bool extended : {false, true}) {
            SCOPED_TRACE(extended ? "extended" : "plain");
            Host host;
            if (!extended) {
                host.turns << retrieval::Selection{};
                host.turns.last().firma = h.text;
                host.wholeCompany << h.readsAsCompanyOne;
            }
            for (int i = 0; i < (extended ? 9 : kPlainFields); ++i) {
                retrieval::Selection sel;
                sel.firma = u("1");
                sel.extended = extended;
                sel.styp = u("L");
                sel.*kFields[i] = h.text;
                host.turns << sel;
                host.wholeCompany << false;
            }
            env->ui.clearMessages();
            retrieval::FetchOutcome o;
            EXPECT_NO_THROW(o = retrieval::runPeriodQuery(env->s(), env->ui, env->clock,
                                                          values::store(), host));
            expectPeriods(o, [&](int n) { return host.wholeCompany[(n - 1) % host.turns.size()]; });
        }
    }
}

// The login dialog's fields, the session line and the permission check.
TEST_P(HostileInput, LoginRefuses) {
    QStringList groups; // company 1's main groups
    {
        auto d = site_->db->open();
        QSqlQuery& q = d->exec(u("SELECT hgrp FROM hauptgruppe WHERE firma = 1 ORDER BY hgrp"));
        while (q.next())
            groups << q.value(0).toString();
        q.finish();
    }
    // Through the login dialog's fields, with the settings of this site.
    const auto dialogLogin = [&](const QString& firma, const QString& code, const QString& pw) {
        env = std::make_unique<testenv::Env>(recording(), QDateTime(kToday, QTime(9, 0), Qt::UTC));
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
    QList<Hostile> texts = hostileTexts();
    const qsizetype hostileCount = texts.size();
    for (const char* v : {"DEMO ", " DEMO", "demo", "DEMO'--", "DEMO\" OR \"1\"=\"1",
                          "X\",FIRMA=99,PERSONAL=\"DEMO"})
        texts.append({v, u(v)});
    texts.append({"demo code and nul", u("DEMO") + QChar(0)});
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const Hostile& h = texts[i];
        SCOPED_TRACE(h.name);
        expectRefused(dialogLogin(u("1"), h.text, u("demo")), "code");
        // The hostile code in the session line keeps the session at company
        // 1: its main groups.
        env->ui.clearMessages();
        bool failed = false;
        EXPECT_NO_THROW(env->s().DBCall(srv::Session::sessionLine(u("1"), u("0"), h.text), failed));
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
             {std::tuple{QString(), h.text, -1}, std::tuple{h.text, u("DEMO"), 1}}) {
            try {
                EXPECT_EQ(env->s().CheckPermission(part, user), level);
            } catch (const cache::CacheError& e) {
                EXPECT_TRUE(failed);
                EXPECT_EQ(e.number(), cache::err::Syntax) << show(e.description());
            }
        }
        if (i >= hostileCount) continue;

        expectRefused(dialogLogin(u("1"), u("DEMO"), h.text), "password");
        expectRefused(dialogLogin(h.text, u("DEMO"), u("demo")), "company and branch");
    }
}

// The headless tool, in-process: a usage error naming the option, a refused
// login, or zeros. The period query has tried every field on its own above;
// here the parsing, the names of the page and the login see the text.
TEST_P(HostileInput, ReportToolRefusesOrFindsNothing) {
    reliability::ToolEnv tool;
    const QStringList base{"--server", site_->server, "--port",  site_->port,
                           "--user",   "DEMO",        "--today", kToday.toString(Qt::ISODate)};
    struct Run {
        QStringList hostile; // the options that carry the text
        QStringList with;
        bool companyTotals = false; // no selection: a run shows the whole company
    };
    const Run runs[] = {
        {{"--pc", "--habt", "--abt", "--ug"}, {"--hg", "20"}},
        {{"--hg"}, {"--ug", "2001"}},
        {{"--vart"}, {"--extended"}},
        {{"--hkg"}, {}},
        {{"--hvart"}, {}},
        {{"--firma"}, {}},
        {{"--filiale"}, {}, true},
        {{"--user"}, {}},
        {{"--password"}, {}},
    };
    for (const Hostile& h : hostileTexts()) {
        SCOPED_TRACE(h.name);
        for (const Run& run : runs) {
            QStringList args = base + QStringList{"--password", "demo"} + run.with;
            for (const QString& o : run.hostile)
                args << o << h.text;
            const QString json = tool.nextJson();
            checkToolRun(tool.inProcess(args + QStringList{"--json", json}, json), run.hostile,
                         run.companyTotals);
        }
    }
    // The binary, with raw bytes that are no UTF-8 on the command line.
    const QProcessEnvironment env = tool.environment(u("demo"));
    for (const char* bytes :
         {"\\377\\376", "M2\\377", "\\300\\257", "\\355\\240\\200", "\\303", "20\\033[2J"}) {
        for (const char* option : {"--hg", "--abt", "--user"}) {
            SCOPED_TRACE(std::string(option) + " " + bytes);
            const QString json = tool.nextJson();
            const QString script = u("exec \"$0\" \"$@\" %1 \"$(printf '%2')\" --json '%3'")
                                       .arg(QLatin1String(option), QLatin1String(bytes), json);
            checkToolRun(tool.binary(base, json, env, script), {QLatin1String(option)});
        }
    }
}

INSTANTIATE_ON_BOTH_ENGINES(HostileInput);

} // namespace
