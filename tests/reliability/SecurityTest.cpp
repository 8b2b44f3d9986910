// Who reads what on a demo site made by a non-superuser owner: a restricted
// user through the window and the report tool, passwords in no output, what
// each PostgreSQL role reads with plain SQL, the admin tool, TLS verify-full
// with German reasons, and the SQLite file.

#include "platform/cache/server/Security.h"

#include "ReliabilityHelpers.h"
#include "main_window/FMStart.h"
#include "main_window/Rules.h"
#include "server/SessionEnv.h"
#include "support/DemoSite.h"
#include "support/Utf8.h"
#include "values/ValueStore.h"
#include "windows/FrmProgrammverlauf.h"
#include "windows/ProgramLog.h"

#include <QAction>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMutex>
#include <QThread>
#include <QTreeView>
#include <QUrl>
#include <gtest/gtest.h>

using platform::RecordedMessage;
using reliability::column;
using reliability::kToday;
using reliability::Money;
using reliability::rows;
using reliability::Where;
using testsupport::ScopedEnv;
using testsupport::TestEngine;

namespace {

using testsupport::u;

const QString kSecret = u("Geheim-Xy7!q");
const QString kWrong = u("Falsch-Zq9#w"); // a wrong attempt must not show either

// The site's administrator: owns the database and its tables, may create
// roles, is no superuser.
const cache::server::Login& siteOwner() {
    static const cache::server::Login owner = [] {
        const cache::server::Login l{u("tallvero_site_admin"), u("Verwalter-Kw4&m")};
        const QString v = qEnvironmentVariable("TALLVERO_TEST_PG");
        cache::server::DatabaseTarget t;
        t.engine = cache::server::Engine::Postgres;
        t.host = v.section(QLatin1Char(':'), 0, 0);
        t.port = v.section(QLatin1Char(':'), 1).toInt();
        t.database = u("zorvek");
        cache::server::Database su(t);
        su.execDirect(u("DO $$ BEGIN CREATE ROLE tallvero_site_admin LOGIN CREATEROLE; EXCEPTION "
                        "WHEN duplicate_object THEN NULL; END $$"));
        su.execDirect(u("ALTER ROLE tallvero_site_admin PASSWORD '%1'")
                          .arg(su.scramVerifier(l.user, l.password)));
        return l;
    }();
    return owner;
}

// The demo business; GEHEIM with a distinctive password; ABTLEITER works in
// company 1 only; company 3 has sales (of department M2) but no login.
testsupport::DemoSite& site(TestEngine e) {
    return testsupport::demoSite(
        e, QStringLiteral("security"), 4000,
        [](cache::server::Database& d) {
            reliability::addFullUser(d, u("GEHEIM"), kSecret, u("Greta Geheim"), u("B0"));
            d.exec(u("DELETE FROM pers_edv WHERE firma = 2 AND code = 'ABTLEITER'")).finish();
            d.exec(u("INSERT INTO firma (firma, name) VALUES (3, 'Fremd GmbH')")).finish();
            cache::server::Store st(d);
            st.appendSales({{.datum = 20240110,
                             .firma = 3,
                             .codes = {{u("1"), u("10"), u("M2"), u("30"), u("3001"), u("P"),
                                        u("L"), u("01"), u("L")}},
                             .umsatz = 12345600,
                             .kosten = 10000000}});
            st.generate(3, 12401, 12401);
        },
        e == TestEngine::Postgres ? &siteOwner() : nullptr);
}

std::unique_ptr<mw::FMStart> startWindow(testenv::Env& env) {
    auto w = std::make_unique<mw::FMStart>(mw::FMStartServices{
        .ui = env.ui,
        .clock = env.clock,
        .session = env.s(),
        .screenWidth = [] { return 1152; },
        .openRebuildDialog = [](QWidget*) {},
        .showAbout = {},
        .showLog = [](QWidget* owner) { windows::frmProgrammverlauf::showInstance(owner); },
        .processCommandLine = [&env] { return env.commandLine; },
        .printDialog = {},
        .saveFileName = {},
        .statusObserver = {},
    });
    w->resize(1100, 700);
    w->Form_Load();
    return w;
}

// A whole number as a list or a CSV shows it, in whatever locale: sign and digits.
qint64 shownNumber(const QString& text) {
    QString digits;
    for (const QChar c : text)
        if (c.isDigit() || (c == QLatin1Char('-') && digits.isEmpty())) digits += c;
    bool ok = false;
    const qint64 v = digits.toLongLong(&ok);
    EXPECT_TRUE(ok) << text.toStdString();
    return v;
}

// The German refusals of the client for a restricted user.
bool refusalText(const QString& t) {
    return t.contains(QStringLiteral("Sie Müssen eine Abteilung auswählen!")) ||
           t.contains(QStringLiteral("Sie dürfen")) ||
           t.contains(QStringLiteral("steht Ihnen nicht zur Verfügung"));
}

// Everything Qt logs while it lives, our categories down to debug.
class QtLog {
public:
    QtLog() {
        previous_ =
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext& c, const QString& m) {
                const QMutexLocker lock(&mutex_);
                lines_ << QString::fromUtf8(c.category ? c.category : "") + u(": ") + m;
            });
        QLoggingCategory::setFilterRules(QStringLiteral("tallvero.*.debug=true"));
    }
    ~QtLog() {
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(previous_);
        const QMutexLocker lock(&mutex_);
        lines_.clear();
    }
    QString text() const {
        const QMutexLocker lock(&mutex_);
        return lines_.join(QLatin1Char('\n'));
    }

private:
    static inline QMutex mutex_;
    static inline QStringList lines_;
    QtMessageHandler previous_;
};

// Neither password, nor a telling piece of it, in any encoding we write.
void expectClean(const char* where, const QByteArray& bytes) {
    for (const QString& s : {kSecret, kWrong, kSecret.mid(6), kWrong.mid(6)}) {
        const QByteArray utf16(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
        for (const QByteArray& form : {s.toUtf8(), utf16, QUrl::toPercentEncoding(s)})
            EXPECT_FALSE(bytes.contains(form)) << where;
    }
}
void expectClean(const char* where, const QString& text) {
    expectClean(where, text.toUtf8());
}

QString messagesText(const QList<RecordedMessage>& ms) {
    QString t;
    for (const RecordedMessage& m : ms)
        t += m.title + QLatin1Char('\n') + m.text + QLatin1Char('\n');
    return t;
}

class Site : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &site(GetParam());
        db_ = site_->db->open();
        values::resetStore();
        windows::programLog().clear();
    }
    // Every month against the sales lines of company 1 in the scope.
    void expectFigures(const std::function<double(int, int)>& cell, const Where& scope) {
        const QList<Money> months = reliability::companyOneMonths(*db_, scope);
        int wrong = 0;
        for (int n = 1; n <= 61; ++n)
            wrong += !reliability::shows(months[n - 1], cell(n, 1), cell(n, 2));
        EXPECT_EQ(wrong, 0) << "months with figures of another scope";
    }
    testsupport::DemoSite* site_ = nullptr;
    std::unique_ptr<cache::server::Database> db_;
};

// The report tool in-process and as a binary: a restricted user gets the own
// scope or a German refusal, the details list only allowed departments, and
// no password shows in any output, message or file.
TEST_P(Site, ReportToolScopesRefusalsAndNoPassword) {
    QtLog qtLog;
    reliability::ToolEnv tool;
    const QStringList files{tool.path(u("werte.csv")), tool.path(u("details.csv")),
                            tool.path(u("seite.svg"))};
    const QStringList abt{"--user", "ABTLEITER", "--password", "abt"};
    const QStringList geheim{"--user", "GEHEIM"}, pw{"--password", kSecret};
    const QString both = kSecret + u(" ") + kWrong;
    struct Case {
        QStringList args;
        int code;                        // 1: refused (or the message below), 2: usage
        std::optional<Where> scope = {}; // the figures, when it answers
        bool details = false;            // the details by department: allowed ones only
        std::optional<QString> envPassword = {};
        const char* says = nullptr; // in the error output; else a German refusal
    };
    const Case cases[] = {
        {abt + QStringList{"--habt", "20", "--abt", "M2"}, 1},
        {abt + QStringList{"--habt", "10", "--abt", "M1"}, 1},
        {abt + QStringList{"--abt", "M2", "--extended", "--vart", "01"}, 1},
        {abt + QStringList{"--abt", "M2"}, 0, Where{{"abtnr", "M2"}}},
        {abt + QStringList{"--habt", "10"}, 0, Where{{"habtnr", "10"}}, true},
        {abt + QStringList{"--abt", "MA", "--hg", "30"}, 0, Where{{"abtnr", "MA"}, {"hgrp", "30"}}},
        {geheim + QStringList{"--csv", files[0], "--details", files[1], "--svg", files[2]}, 0,
         Where{}, false, kSecret},
        {geheim + pw + QStringList{"--json", "-"}, 0, Where{}},
        {geheim + QStringList{u("--password=") + kSecret}, 0, Where{}},
        {geheim, 1, {}, false, kWrong, "Passwort Falsch"},
        {geheim + QStringList{"--password", kWrong}, 1, {}, false, {}, "Passwort Falsch"},
        {geheim + QStringList{kSecret}, 2, {}, false, kSecret, "--help"}, // a stray word
        {geheim + QStringList{"--password", both}, 2, {}, false, {}, "--help"},
        {geheim + QStringList{u("--passwort=") + kSecret}, 2, {}, false, {}, "--help"},
        {{"--help"}, 0, {}, false, kSecret},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        for (bool binary : {false, true}) {
            if (binary && c.args.size() > 6) continue; // the binary: the short cases
            const QString json = tool.nextJson();
            QStringList args =
                QStringList{"--server",  site_->server, "--port",
                            site_->port, "--today",     kToday.toString(Qt::ISODate)} +
                c.args;
            if (!args.contains(u("--json")) && c.code != 2) args << "--json" << json;
            if (c.details)
                args += QStringList{"--split", "none", "--jahr", "1", "--details", files[1]};
            const reliability::ToolRun r =
                binary ? tool.binary(args, json, tool.environment(c.envPassword))
                       : tool.inProcess(args, json, c.envPassword);
            EXPECT_EQ(r.code, c.code) << r.err.toStdString();
            expectClean("the tool's output and JSON", (r.out + r.err).toUtf8() + r.json);
            if (c.code != 0) {
                EXPECT_TRUE(c.says ? r.err.contains(QLatin1String(c.says)) : refusalText(r.err))
                    << r.err.toStdString();
                for (const QJsonValue& row :
                     QJsonDocument::fromJson(r.json)["PeriodValues"].toArray())
                    EXPECT_TRUE(row.toArray().at(0).isNull() && row.toArray().at(1).isNull());
                continue;
            }
            if (!c.scope) continue;
            const QJsonObject doc =
                QJsonDocument::fromJson(r.json.isEmpty() ? r.out.toUtf8() : r.json).object();
            EXPECT_EQ(doc.value(u("user")).toObject().value(u("code")).toString(), c.args.value(1));
            const QJsonArray pv = doc.value(QStringLiteral("PeriodValues")).toArray();
            ASSERT_EQ(pv.size(), 72);
            expectFigures(
                [&pv](int n, int k) { return pv[n - 1].toArray().at(k - 1).toDouble(-1); },
                *c.scope);
            for (const QString& f : c.args.contains(u("--svg")) ? files : QStringList()) {
                const QByteArray bytes = reliability::ToolEnv::readFile(f);
                EXPECT_FALSE(bytes.isEmpty()) << f.toStdString();
                expectClean("output file", bytes);
            }
            if (!c.details) continue;
            // The details of 2023 (department, revenue, margin): allowed ones, their sums.
            const QByteArray bytes = reliability::ToolEnv::readFile(files[1]);
            ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
            QStringList lines =
                QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
            ASSERT_GE(lines.size(), 3);
            EXPECT_EQ(lines.takeFirst(), QStringLiteral("Grp;Umsatz;DB"));
            for (const QString& line : lines) {
                const QStringList f = line.split(QLatin1Char(';'));
                ASSERT_EQ(f.size(), 3);
                EXPECT_TRUE((QStringList{QString(), u("M2"), u("MA"), u("MF")}).contains(f[0]))
                    << "foreign department " << line.toStdString();
                Where w = *c.scope;
                if (!f[0].isEmpty()) w.append({u("abtnr"), f[0]});
                const Money m = reliability::salesLines(*db_, 1, 12301, 12312, w);
                EXPECT_EQ(shownNumber(f[1]), qint64(std::nearbyint(m.umsatz / 100.0)))
                    << line.toStdString();
                EXPECT_EQ(shownNumber(f[2]), qint64(std::nearbyint((m.umsatz - m.kosten) / 100.0)));
            }
        }
    }
    expectClean("Qt log", qtLog.text());
}

// The window with the right password, then a wrong one: no password in
// messages, program log, log window, captions, settings or Qt log.
TEST_P(Site, NoPasswordInTheClientsMessagesAndLogs) {
    QtLog qtLog;
    auto env = reliability::clientEnv(*site_, u("GEHEIM"), kSecret);
    auto w = startWindow(*env);
    w->mNeuZeichnen->trigger();
    expectFigures([](int n, int k) { return values::store().PeriodValues(n, k).value(); }, {});
    w->mProgrammverlauf->trigger();
    windows::frmProgrammverlauf* log = windows::frmProgrammverlauf::existing();
    ASSERT_NE(log, nullptr);
    const QAbstractItemModel* m = log->Verlauf()->model();
    QString seen;
    for (int r = 0; r < m->rowCount(); ++r)
        for (int c = 0; c < m->columnCount(); ++c)
            seen += m->data(m->index(r, c)).toString() + QLatin1Char('\t');
    EXPECT_TRUE(seen.contains(QStringLiteral("Datenabfrage Periode 12401")));
    for (const windows::LogEntry& e : windows::programLog().entries())
        seen += e.programmteil + u(";") + e.text + u(";") + e.parameter + u("\n");
    seen += messagesText(env->messages()) + w->windowTitle() + env->caption +
            env->settings.values.values().join(QLatin1Char('\n'));
    windows::frmProgrammverlauf::shutdown();
    w.reset();
    auto wrong = reliability::clientEnv(*site_, u("GEHEIM"), kWrong);
    EXPECT_THROW(startWindow(*wrong), srv::ProgramEnded);
    seen += messagesText(wrong->messages()) + wrong->settings.values.values().join(u("\n"));
    EXPECT_TRUE(messagesText(wrong->messages())
                    .contains(QStringLiteral("Passwort Falsch oder Benutzer nicht Aktiv.")));
    expectClean("messages, program log, log window, captions, settings", seen);
    expectClean("Qt log", qtLog.text());
}

INSTANTIATE_ON_BOTH_ENGINES(Site);

// --- PostgreSQL: what each role reads, whatever program it connects with ----------

// A personnel role with its password, or the gate: the libpq default user.
std::unique_ptr<cache::server::Database> openAs(testsupport::DemoSite& s, const char* user,
                                                const char* password) {
    if (QLatin1String(user) != QLatin1String("tallvero_gate"))
        return s.db->openAs({QLatin1String(user), QLatin1String(password)});
    const ScopedEnv gate("PGUSER", "tallvero_gate");
    return s.db->open();
}

// Every table and view of the schema (from the catalog, so that tables added
// later count too) read with plain SQL by each role: companies and departments
// of its scope only, its own personnel records, no password or hash anywhere,
// and for each company the revenue of the departments the rules allow it
// (exactly, where the table keeps the department). The restricted user is
// moved through the department rules, which the server must keep as the
// client does.
TEST(PostgresRoles, EachRoleReadsItsOwnScopeOfEveryTableAndNoPassword) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    auto admin = s.db->open();
    const QStringList relations = column(
        *admin, u("SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace "
                  "WHERE n.nspname = current_schema() AND c.relkind IN ('r', 'v', 'm', 'p', 'f') "
                  "ORDER BY 1"));
    ASSERT_GE(relations.size(), 20);
    QMap<qint64, QMap<QString, qint64>> revenue; // company, department: from the sales lines
    for (const QStringList& r : rows(*admin, u("SELECT firma, abtnr, SUM(umsatz) FROM sales_line "
                                               "GROUP BY 1, 2")))
        revenue[r[0].toLongLong()][r[1]] = r[2].toLongLong();
    const QStringList all = revenue.value(1).keys();
    ASSERT_GE(all.size(), 15);
    const QStringList passwords{u("demo"), u("abt"), u("inaktiv"), u("gast"), kSecret};
    struct Case {
        const char* user;
        const char* password;
        QList<qint64> companies; // master data
        QList<qint64> figures;   // companies whose figures it reads
        const char* own;         // restricted: its department; nullptr: all departments
        const char* pnr;
    };
    QList<Case> cases{{"DEMO", "demo", {1, 2}, {1, 2}, nullptr, "1001"},
                      {"GAST", "gast", {1, 2}, {}, nullptr, "1004"},
                      {"tallvero_gate", "", {}, {}, nullptr, ""}}; // no table at all
    for (const char* own :
         {"M2", "B0", "B1", "B2", "M1", "M3", "M4", "M5", "M6", "M7", "M8", "M9", "MA", "42"})
        cases.append({"ABTLEITER", "abt", {1}, {1}, own, "1002"});
    struct Restore {
        cache::server::Database& d;
        ~Restore() {
            d.exec(u("UPDATE pers_edv SET abtnr = 'M2' WHERE code = 'ABTLEITER'")).finish();
        }
    } restore{*admin};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + " " + (c.own ? c.own : ""));
        // The other own departments: the sums by department are enough.
        const bool every = !c.own || QLatin1String(c.own) == QLatin1String("M2");
        QStringList allowed;
        for (const QString& d : all)
            if (c.own && mw::departmentAllowed(QLatin1String(c.own), d)) allowed << d;
        if (c.own)
            admin->exec(u("UPDATE pers_edv SET abtnr = ? WHERE code = 'ABTLEITER'"), {u(c.own)})
                .finish();
        auto as = openAs(s, c.user, c.password);
        int readable = 0, figureTables = 0;
        for (const QString& rel : every ? relations : QStringList{u("psum_full")}) {
            SCOPED_TRACE(rel.toStdString());
            QStringList cols;
            QList<QStringList> seen;
            try {
                seen = rows(*as, u("SELECT * FROM ") + rel, &cols);
            } catch (const cache::CacheError& e) {
                EXPECT_TRUE(e.description().contains(u("permission denied")))
                    << e.description().toStdString();
                continue;
            }
            ++readable;
            for (const QString& col : cols)
                EXPECT_FALSE(col.contains(u("pass")) || col.contains(u("hash")));
            const int firma = cols.indexOf(u("firma")), abt = cols.indexOf(u("abtnr")),
                      umsatz = cols.indexOf(u("umsatz"));
            QMap<qint64, qint64> sums;
            for (const QStringList& row : seen) {
                for (const QString& cell : row)
                    EXPECT_FALSE(passwords.contains(cell) || cell.startsWith(u("$argon2")) ||
                                 cell.startsWith(u("SCRAM-SHA-256$")))
                        << cell.toStdString();
                const qint64 f = row.value(firma).toLongLong();
                if (firma >= 0) {
                    EXPECT_TRUE((umsatz >= 0 ? c.figures : c.companies).contains(f)) << f;
                }
                if (umsatz >= 0) sums[f] += row[umsatz].toLongLong();
                if (umsatz >= 0 && abt >= 0 && c.own) {
                    EXPECT_TRUE(allowed.contains(row[abt])) << row[abt].toStdString();
                }
                // Personnel records: the user's own only.
                for (const char* own : {"code", "benutzer", "pnr"})
                    if (cols.contains(QLatin1String(own))) {
                        EXPECT_EQ(row[cols.indexOf(QLatin1String(own))],
                                  QLatin1String(QByteArray(own) == "pnr" ? c.pnr : c.user));
                    }
            }
            if (umsatz < 0) continue;
            ++figureTables;
            for (qint64 f : {1, 2, 3}) {
                qint64 expected = 0;
                const QMap<QString, qint64> byDepartment = revenue.value(f);
                for (auto d = byDepartment.cbegin(); d != byDepartment.cend(); ++d)
                    if (c.figures.contains(f) && (!c.own || allowed.contains(d.key())))
                        expected += d.value();
                EXPECT_LE(sums.value(f), expected) << f;
                if (abt >= 0 || !c.own) {
                    EXPECT_EQ(sums.value(f), expected) << f;
                }
            }
        }
        if (!every) continue;
        const bool gate = c.companies.isEmpty();
        EXPECT_EQ(readable, gate ? 0 : std::max(readable, 10));
        EXPECT_GE(figureTables, gate ? 0 : 9); // 8 sum tables and the sales lines
    }
}

// What the server's functions answer the gate and a restricted user.
TEST(PostgresRoles, TheGateAndARestrictedUserCallTheServersFunctions) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    auto admin = s.db->open();
    // Of every function in the schema, the gate may run these three.
    EXPECT_EQ(column(*admin, u("SELECT p.proname FROM pg_proc p JOIN pg_namespace n ON n.oid = "
                               "p.pronamespace WHERE n.nspname = current_schema() AND "
                               "has_function_privilege('tallvero_gate', p.oid, 'EXECUTE') "
                               "ORDER BY 1")),
              (QStringList{u("tallvero_build_info"), u("tallvero_fiscal_year"),
                           u("tallvero_login_exists")}));
    // The total of a main department as the client asks it: table, company, codes.
    auto sum = [](const char* table, int firma, const char* pc, const char* habt,
                  const char* vart) {
        return u("(tallvero_main_department_sum('%1', %2, 0, 99912, ARRAY['%3', '%4', '', '', "
                 "'', '', '', '', '%5']))[1]")
            .arg(QLatin1String(table))
            .arg(firma)
            .arg(QLatin1String(pc), QLatin1String(habt), QLatin1String(vart));
    };
    struct Call {
        bool gate;
        QString sql;
        std::optional<QString> answer; // nothing: refused
    };
    const Call calls[] = {
        {false, sum("psum_org", 1, "", "10", ""),
         admin->scalar(u("SELECT SUM(umsatz) FROM sales_line WHERE firma = 1 AND habtnr = '10'"))
             .toString()},
        {false, sum("psum_org", 1, "", "20", ""), u("0")},
        {false, sum("psum_org", 1, "1", "10", ""), u("0")},
        {false, sum("wsum_org", 1, "", "10", "L"), u("0")},
        {false, sum("psum_org", 2, "", "10", ""), u("0")},
        {false, sum("pers_edv", 1, "", "10", ""), std::nullopt},
        {false, u("tallvero_permission('DEMO', 'Tallvero', 'alles')"), std::nullopt},
        {false, u("tallvero_permission('ABTLEITER', 'Tallvero', 'alles')"), u("5")},
        {false, u("tallvero_admin_login('ABTLEITER', '')"), std::nullopt},
        {false, u("count(*) FROM tallvero_logins()"), std::nullopt},
        {true, u("tallvero_fiscal_year()"), u("03")},
        {true, u("tallvero_build_info()"),
         admin->scalar(u("SELECT value FROM server_info WHERE key = 'XWGDAT'")).toString()},
        {true, u("tallvero_login_exists(1, 'DEMO')"), u("true")},
        {true, u("tallvero_login_exists(2, 'ABTLEITER')"), u("false")},
        {true, u("tallvero_permission('DEMO', 'Tallvero', 'alles')"), std::nullopt},
    };
    auto boss = openAs(s, "ABTLEITER", "abt");
    auto gate = openAs(s, "tallvero_gate", "");
    for (const Call& c : calls) {
        SCOPED_TRACE(c.sql.toStdString());
        try {
            const QString v = (c.gate ? gate : boss)->scalar(u("SELECT ") + c.sql).toString();
            ASSERT_TRUE(c.answer.has_value()) << "answered " << v.toStdString();
            EXPECT_EQ(v, *c.answer);
        } catch (const cache::CacheError& e) {
            EXPECT_FALSE(c.answer.has_value()) << e.description().toStdString();
        }
    }
}

// Which roles the client's server processes run as, seen by the server (a
// closed connection's process may take a moment to go).
QStringList clientRoles(cache::server::Database& admin, const QStringList& expected) {
    QStringList out;
    for (int i = 0; i < 100 && (i == 0 || out != expected); ++i) {
        if (i) QThread::msleep(20);
        out = column(admin, u("SELECT DISTINCT usename::text FROM pg_stat_activity WHERE datname = "
                              "current_database() AND pid <> pg_backend_pid() AND usename NOT IN "
                              "('tallvero', 'tallvero_site_admin') ORDER BY 1"));
    }
    return out;
}

TEST(PostgresRoles, TheDemoLoginsThroughTheClientAndItsReconnects) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    auto admin = s.db->open();
    const ScopedEnv gateUser("PGUSER", "tallvero_gate"); // before a login: the gate
    const QStringList gate{u("tallvero_gate")};
    struct Case {
        const char* user;
        const char* password;
        std::optional<int> level; // nothing: "Passwort Falsch oder Benutzer nicht Aktiv."
    };
    const Case cases[] = {
        {"DEMO", "demo", 1},  {"DEMO", "Demo", std::nullopt},       {"ABTLEITER", "abt", 5},
        {"GAST", "gast", -1}, {"INAKTIV", "inaktiv", std::nullopt},
    };
    const QString fiscalYear = u("S P0=$P(^FA(0),\"`\",2) W P0");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + "/" + c.password);
        auto env = reliability::clientEnv(s, QLatin1String(c.user), QLatin1String(c.password));
        // The gate reads the fiscal year before anything else.
        bool failed = false;
        srv::connectionSettings().CommandLine = env->commandLine;
        env->s().LoadConnection();
        EXPECT_EQ(env->s().DBCall(fiscalYear, failed), u("03"));
        EXPECT_EQ(clientRoles(*admin, gate), gate);
        EXPECT_EQ(env->s().CacheLogin(), c.level.has_value());
        if (!c.level) {
            EXPECT_EQ(env->messages(), (QList<RecordedMessage>{
                                           testenv::wrongPassword(env->messages().value(0).atMs)}));
            EXPECT_EQ(clientRoles(*admin, gate), gate);
            env->s().CacheDisconnect();
            continue;
        }
        EXPECT_TRUE(env->messages().isEmpty());
        EXPECT_EQ(env->s().CheckPermission(), *c.level);
        const QStringList user{QLatin1String(c.user)};
        EXPECT_EQ(clientRoles(*admin, user), user);
        // A minute without server work closes the link; the next request logs
        // in as the same user again, without asking.
        env->clock.advance(61000);
        EXPECT_EQ(clientRoles(*admin, {}), QStringList());
        EXPECT_EQ(env->s().DBCall(fiscalYear, failed), u("03"));
        EXPECT_FALSE(failed);
        EXPECT_EQ(clientRoles(*admin, user), user);
        EXPECT_TRUE(srv::userContext().Passwort.isEmpty()); // kept once, by the session
        env->s().CacheDisconnect();
    }
}

TEST(PostgresRoles, TheAdminToolKeepsTheRolesInStepWithTheLogins) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u("PGUSER"), siteOwner().user);
    env.insert(u("PGPASSWORD"), siteOwner().password);
    env.insert(u("TALLVERO_PG_DATABASE"), s.db->target.database);
    auto connects = [&](const QString& password) {
        try {
            s.db->openAs({u("SPERRE"), password});
            return QString();
        } catch (const cache::CacheError& e) {
            return e.description();
        }
    };
    struct Step {
        QStringList args;
        QByteArray input;
        int code;
        const char* refusal = nullptr; // nothing: connects with the password set last only
    };
    const QByteArray secret = kSecret.toUtf8() + '\n';
    const Step steps[] = {
        {{"user", "add", "sperre", "--name", "Siegfried Sperre", "--pnr", "1009", "--abt", "M8"},
         kWrong.toUtf8() + '\n',
         0},
        {{"user", "password", "SPERRE", "--password", kSecret}, {}, 2},
        {{"user", "password", "SPERRE"}, secret, 0},
        {{"user", "deactivate", "SPERRE"}, {}, 0, "nicht aktiv"},
        {{"user", "activate", "SPERRE"}, {}, 0},
        {{"info"}, {}, 0},
    };
    QString secretNow = kWrong;
    for (const Step& st : steps) {
        SCOPED_TRACE(st.args.join(u(" ")).toStdString());
        const auto r = testsupport::runProcess(
            QStringLiteral(TALLVERO_DB_BIN),
            QStringList{u("--server"), s.server, u("--port"), s.port} + st.args, env, st.input);
        const QString out = QString::fromUtf8(r.out + r.err);
        expectClean("tallvero-db", out);
        EXPECT_EQ(r.code, st.code) << out.toStdString();
        if (st.args.contains(u("--password"))) {
            EXPECT_TRUE(out.contains(u("Prozessliste"))) << out.toStdString();
        }
        if (st.input == secret) secretNow = kSecret;
        if (st.refusal) {
            EXPECT_TRUE(connects(secretNow).contains(QLatin1String(st.refusal)))
                << connects(secretNow).toStdString();
        } else {
            EXPECT_EQ(connects(secretNow), QString());
            EXPECT_TRUE(connects(secretNow == kSecret ? kWrong : kSecret).contains(u("abgelehnt")));
        }
    }
}

// --- connecting: TLS verify-full, German reasons, no password in them --------------

// The test cluster is set up as a site is: hostssl with scram-sha-256 only,
// every client with PGSSLMODE=verify-full and the site's authority. Failing
// attempts carry the password the libpq way (PGPASSWORD) and must not show it,
// through the connection, the client's settings dialog after three attempts,
// or the report tool.
TEST(PostgresConnect, VerifyFullWithTheSitesAuthorityOthersRefusedInGerman) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    const QString dir = qEnvironmentVariable("TALLVERO_TEST_PG_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "no cluster of scripts/with-pg.sh";
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    EXPECT_EQ(qgetenv("PGSSLMODE"), QByteArray("verify-full"));
    QtLog qtLog;
    QString seen;
    struct Case {
        const char* sslmode;
        const char* rootcert; // in the cluster's folder tls
        const char* host;
        int port;                     // 0: the cluster's
        const char* database;         // nullptr: the site's
        const char* reason;           // nullptr: connects, encrypted
        const char* client = nullptr; // the client and the tool say this; else not tried
    };
    const char* const foreignCa = "nicht von der vertrauenswürdigen Zertifizierungsstelle";
    const char* const foreignHost = "gilt nicht für den Rechnernamen „localhost“";
    const Case cases[] = {
        {"verify-full", "ca.crt", "127.0.0.1", 0, nullptr, nullptr, nullptr},
        {"verify-full", "other-ca.crt", "127.0.0.1", 0, nullptr, foreignCa, foreignCa},
        {"verify-full", "ca.crt", "localhost", 0, nullptr, foreignHost, foreignHost},
        {"verify-full", "fehlt.crt", "127.0.0.1", 0, nullptr, "Datei der Zertifizierungsstelle"},
        {"disable", "ca.crt", "127.0.0.1", 0, nullptr, "nur verschlüsselte Verbindungen"},
        {"verify-full", "ca.crt", "127.0.0.1", 1, nullptr, "nicht möglich",
         "Der Server ist nicht erreichbar!"},
        {"verify-full", "ca.crt", "127.0.0.1", 0, "gibt_es_nicht", "nicht möglich"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.sslmode) + " " + c.rootcert + " " + c.host);
        const ScopedEnv mode("PGSSLMODE", c.sslmode),
            root("PGSSLROOTCERT", (dir + u("/tls/")).toUtf8() + c.rootcert);
        std::optional<ScopedEnv> password;
        if (c.reason) password.emplace("PGPASSWORD", kSecret.toUtf8());
        cache::server::DatabaseTarget t = s.db->target;
        t.host = QLatin1String(c.host);
        if (c.port) t.port = c.port;
        if (c.database) t.database = QLatin1String(c.database);
        try {
            cache::server::Database d(t);
            EXPECT_EQ(c.reason, nullptr) << "connected";
            EXPECT_TRUE(
                d.scalar(u("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()")).toBool());
        } catch (const cache::CacheError& e) {
            ASSERT_NE(c.reason, nullptr) << e.description().toStdString();
            EXPECT_EQ(e.number(), cache::err::NotConnected);
            EXPECT_TRUE(e.description().contains(QString::fromUtf8(c.reason)))
                << e.description().toStdString();
            seen += e.description() + QString::fromUtf8(e.what());
        }
        if (!c.client) continue;
        const QString port = c.port ? QString::number(c.port) : s.port;
        auto client = reliability::clientEnv(s, u("GEHEIM"), kSecret, {},
                                             QLatin1String(c.host) + u(" ") + port);
        QString shown;
        client->server.script.push_back([&] {
            for (srv::ServerField f :
                 {srv::ServerField::BWJ, srv::ServerField::BNAMESPACE, srv::ServerField::BFIRMA,
                  srv::ServerField::BFIL, srv::ServerField::BSERVERIP, srv::ServerField::BPORT})
                shown += client->server.text(f) + QLatin1Char('\n');
            shown += client->server.connectError() + client->s().factory()->lastConnectError();
            client->server.clickZurück();
        });
        EXPECT_THROW(client->s().CacheLogin(), srv::ProgramEnded);
        EXPECT_EQ(client->server.modalShows, 1);
        shown += messagesText(client->messages());
        EXPECT_TRUE(shown.contains(QString::fromUtf8(c.client))) << shown.toStdString();
        reliability::ToolEnv tool;
        QProcessEnvironment penv = tool.environment(kSecret);
        penv.insert(u("PGPASSWORD"), kSecret);
        const reliability::ToolRun r = tool.binary(
            {"--server", c.host, "--port", port, "--user", "GEHEIM", "--json", "-"}, {}, penv);
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.client))) << r.err.toStdString();
        seen += shown + r.err + r.out;
    }
    EXPECT_TRUE(qtLog.text().contains(QStringLiteral("connection attempt failed")));
    expectClean("connection errors, dialogs, the tool's output, Qt log", seen + qtLog.text());
}

// --- SQLite: the user's own file -------------------------------------------------

QByteArray fileBytes(const QString& path) {
    QByteArray all;
    for (const char* suffix : {"", "-wal"}) {
        QFile f(path + QLatin1String(suffix));
        if (f.open(QIODevice::ReadOnly)) all += f.readAll();
    }
    return all;
}

// Mode 0600 (the User flags are the owner's: the owner runs the tests).
bool ownerOnly(const QString& path) {
    using P = QFileDevice;
    return (QFile::permissions(path) & ~(P::ReadUser | P::WriteUser | P::ExeUser)) ==
           (P::ReadOwner | P::WriteOwner);
}

TEST(SqlitePasswords, HashedConvertedOnOpeningAndReadableByTheOwnerOnly) {
    testsupport::DemoSite& s = site(TestEngine::Sqlite);
    const QString path = s.db->target.sqlitePath;
    EXPECT_TRUE(ownerOnly(path));
    // An old file: plain passwords in the login records.
    const QString old = u("Alt-Klartext#5");
    {
        auto d = s.db->open();
        d->exec(u("UPDATE pers_edv SET passwort = ? WHERE firma = 1 AND code = 'GAST'"), {old})
            .finish();
        d->execDirect(u("PRAGMA wal_checkpoint(TRUNCATE)"));
    }
    EXPECT_TRUE(fileBytes(path).contains(old.toUtf8()));
    // The first opening converts it; the same logins work as before.
    for (const auto& [password, in] :
         {std::pair{old, true}, {old, true}, {u("alt-klartext#5"), false}}) {
        auto env = reliability::clientEnv(s, u("GAST"), password);
        EXPECT_EQ(env->s().CacheLogin(), in);
        env->s().CacheDisconnect();
        const QByteArray bytes = fileBytes(path);
        for (const QString& p : {old, kSecret})
            EXPECT_FALSE(bytes.contains(p.toUtf8()));
    }
    auto d = s.db->open();
    const QStringList stored = column(*d, u("SELECT passwort FROM pers_edv"));
    EXPECT_GE(stored.size(), 8);
    for (const QString& p : stored)
        EXPECT_TRUE(cache::server::isPasswordHash(p));
    // The per-user file is put back to its owner alone.
    QTemporaryDir dir;
    cache::server::DatabaseTarget t;
    t.sqlitePath = dir.filePath(u("zorvek.sqlite"));
    t.embedded = true;
    {
        QFile f(t.sqlitePath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    }
    EXPECT_FALSE(ownerOnly(t.sqlitePath));
    cache::server::Database own(t);
    EXPECT_TRUE(ownerOnly(t.sqlitePath));
}

} // namespace
