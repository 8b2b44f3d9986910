// The headless report tool: its options, the login and permission
// refusals, and the tables it writes, checked against the raw sales lines
// and against the value computation run here; in-process and through the
// binary.

#include "ReportTool.h"

#include "platform/cache/server/ServerFactory.h"
#include "support/DemoSite.h"
#include "values/ValueStore.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <vector>

using testsupport::TestEngine;

namespace {

const QString kDay = QStringLiteral("2024-01-15");

testsupport::DemoSite& site(TestEngine e) {
    return testsupport::demoSite(e, QStringLiteral("report"),
                                 e == TestEngine::Sqlite ? 20000 : 6000);
}

struct Outcome {
    int code = -1;
    QString out, err;
    QJsonObject json; // empty when no file was written
    bool wroteJson = false;
};

QJsonObject readJson(const QByteArray& bytes) {
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(bytes, &e);
    EXPECT_EQ(e.error, QJsonParseError::NoError) << e.errorString().toStdString();
    return d.object();
}

// What an in-process run gets besides its arguments.
struct Extra {
    std::optional<QString> envPassword;
    platform::SettingsStore* settings = nullptr;
    srv::FactoryMaker maker;
    bool addJson = true; // append "--json FILE" unless the arguments name an output
};

class ReportEnv {
public:
    ReportEnv() {
        EXPECT_TRUE(dir_.isValid());
        // Never the embedded database of whoever runs the tests: a run that
        // reaches the login without a server option finds no file.
        noSettings_.values.insert(QStringLiteral("Server"), path(QStringLiteral("keine.sqlite")));
    }
    QString path(const QString& name) const { return dir_.filePath(name); }

    Outcome inProcess(QStringList args, Extra extra = {}) {
        const QString file = path(QStringLiteral("run%1.json").arg(++runs_));
        if (extra.addJson && !args.contains(QStringLiteral("--json")))
            args << QStringLiteral("--json") << file;
        QString out, err;
        QTextStream o(&out), e(&err);
        reporttool::ReportContext ctx{extra.settings ? *extra.settings : noSettings_,
                                      o,
                                      e,
                                      extra.envPassword,
                                      std::move(extra.maker),
                                      {}};
        Outcome r;
        r.code = reporttool::run(args, ctx);
        o.flush();
        e.flush();
        r.out = out;
        r.err = err;
        collect(r, file);
        return r;
    }

    // The binary, with its own empty home, so the settings and the embedded
    // database of whoever runs the tests stay out of it.
    Outcome binary(QStringList args, const std::optional<QString>& envPassword = {}) {
        const QString file = path(QStringLiteral("run%1.json").arg(++runs_));
        if (!args.contains(QStringLiteral("--json"))) args << QStringLiteral("--json") << file;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), path(QStringLiteral("home")));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("home/config")));
        env.insert(QStringLiteral("XDG_DATA_HOME"), path(QStringLiteral("home/data")));
        env.remove(QStringLiteral("TALLVERO_PASSWORD"));
        if (envPassword) env.insert(QStringLiteral("TALLVERO_PASSWORD"), *envPassword);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TALLVERO_REPORT_BIN), args);
        Outcome r;
        if (!p.waitForFinished(60000)) {
            ADD_FAILURE() << "tallvero-report did not finish";
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        collect(r, file);
        return r;
    }

private:
    void collect(Outcome& r, const QString& file) {
        QFile f(file);
        if (f.open(QIODevice::ReadOnly)) {
            r.wroteJson = true;
            r.json = readJson(f.readAll());
        }
    }
    QTemporaryDir dir_;
    platform::MemorySettingsStore noSettings_;
    int runs_ = 0;
};

QStringList loginArgs(TestEngine e, const QString& user, const QString& password) {
    const testsupport::DemoSite& s = site(e);
    return {QStringLiteral("--server"), s.server, QStringLiteral("--port"),     s.port,
            QStringLiteral("--user"),   user,     QStringLiteral("--password"), password};
}

QStringList demoArgs(TestEngine e = TestEngine::Sqlite) {
    return loginArgs(e, QStringLiteral("DEMO"), QStringLiteral("demo")) +
           QStringList{QStringLiteral("--today"), kDay};
}

// Period code of slot 1..72 for a clock in `year`.
int periodOfSlot(int year, int slot) {
    return (year - 6 + (slot - 1) / 12 + 1 - 1900) * 100 + (slot - 1) % 12 + 1;
}

const char* const kTables[] = {"PeriodValues", "MonthYearValues", "CumulativeValues",
                               "GraphValues"};

// A table of the JSON as rows of optional numbers.
std::vector<std::vector<std::optional<double>>> rows(const QJsonObject& j, const char* table) {
    std::vector<std::vector<std::optional<double>>> out;
    for (const QJsonValue& row : j.value(QLatin1String(table)).toArray()) {
        std::vector<std::optional<double>> r;
        for (const QJsonValue& c : row.toArray()) {
            EXPECT_TRUE(c.isNull() || c.isDouble()) << table;
            r.push_back(c.isNull() ? std::nullopt : std::optional<double>(c.toDouble()));
        }
        out.push_back(r);
    }
    return out;
}

cache::server::Sums rawMonth(TestEngine e, int period, const cache::server::Selection& sel) {
    auto db = site(e).db->open();
    cache::server::Store store(*db);
    return store.rawSum(1, period, period, sel);
}

// Every fetched slot of `j` against the sales lines of that month.
void expectSalesLines(TestEngine e, const QJsonObject& j, const cache::server::Selection& sel,
                      int fetched) {
    const auto pv = rows(j, "PeriodValues");
    ASSERT_EQ(pv.size(), 72u);
    auto db = site(e).db->open();
    cache::server::Store store(*db);
    bool someFigure = false;
    for (int slot = 1; slot <= 72; ++slot) {
        const auto& r = pv[size_t(slot - 1)];
        ASSERT_EQ(r.size(), 2u);
        if (slot > fetched) {
            EXPECT_FALSE(r[0] || r[1]) << "slot " << slot << " after the clock month";
            continue;
        }
        const int period = periodOfSlot(2024, slot);
        const cache::server::Sums s = store.rawSum(1, period, period, sel);
        ASSERT_TRUE(r[0] && r[1]) << "slot " << slot;
        EXPECT_DOUBLE_EQ(*r[0], double(s.umsatz) / 100) << "Umsatz " << period;
        EXPECT_DOUBLE_EQ(*r[1], double(s.umsatz - s.kosten) / 100) << "DB " << period;
        someFigure = someFigure || s.umsatz != 0;
    }
    EXPECT_TRUE(someFigure) << "the selection matches no sales line at all";
}

QString tableText(const QJsonObject& j, const char* table) {
    return QString::fromUtf8(
        QJsonDocument(j.value(QLatin1String(table)).toArray()).toJson(QJsonDocument::Compact));
}

// --- options -----------------------------------------------------------------

TEST(ReportOptions, GoodOptionsAndTheirDefaults) {
    platform::MemorySettingsStore empty;
    const QStringList base{QStringLiteral("--user"),     QStringLiteral("demo"),
                           QStringLiteral("--password"), QStringLiteral("x"),
                           QStringLiteral("--json"),     QStringLiteral("-")};
    using K = reporttool::ParseResult::Kind;

    auto r = reporttool::parseArguments(base, empty, std::nullopt);
    ASSERT_EQ(r.kind, K::Run) << r.error.toStdString();
    EXPECT_EQ(r.options.server, QStringLiteral("embedded"));
    EXPECT_EQ(r.options.port, QStringLiteral("1972"));
    EXPECT_EQ(r.options.firma, QStringLiteral("1"));
    EXPECT_EQ(r.options.filiale, QStringLiteral("0"));
    EXPECT_EQ(r.options.user, QStringLiteral("DEMO")); // as the login dialog types it
    EXPECT_EQ(r.options.json, QStringLiteral("-"));
    EXPECT_EQ(r.options.graphMode, 0);
    EXPECT_EQ(r.options.tableMode, 2);
    EXPECT_EQ(r.options.yearMode, 0);
    EXPECT_FALSE(r.options.extended);
    EXPECT_FALSE(r.options.today.isValid());

    // Settings fill what the options leave open; options win.
    platform::MemorySettingsStore st;
    st.values = {{"Server", "db.example"},
                 {"Port", "5433"},
                 {"Firma", "2"},
                 {"Filiale", "3"},
                 {"Name", "abtleiter"}};
    r = reporttool::parseArguments({"--password", "x", "--json", "-"}, st, std::nullopt);
    ASSERT_EQ(r.kind, K::Run) << r.error.toStdString();
    EXPECT_EQ(r.options.server, QStringLiteral("db.example"));
    EXPECT_EQ(r.options.port, QStringLiteral("5433"));
    EXPECT_EQ(r.options.firma, QStringLiteral("2"));
    EXPECT_EQ(r.options.filiale, QStringLiteral("3"));
    EXPECT_EQ(r.options.user, QStringLiteral("ABTLEITER"));
    r = reporttool::parseArguments({"--password", "x", "--json", "-", "--server", "other", "--port",
                                    "1", "--firma", "7", "--filiale", "0", "--user", "demo"},
                                   st, std::nullopt);
    ASSERT_EQ(r.kind, K::Run) << r.error.toStdString();
    EXPECT_EQ(r.options.server, QStringLiteral("other"));
    EXPECT_EQ(r.options.port, QStringLiteral("1"));
    EXPECT_EQ(r.options.firma, QStringLiteral("7"));
    EXPECT_EQ(r.options.user, QStringLiteral("DEMO"));

    // The password: the option before the environment.
    r = reporttool::parseArguments({"--user", "demo", "--json", "-"}, empty, QStringLiteral("env"));
    EXPECT_EQ(r.options.password, QStringLiteral("env"));
    r = reporttool::parseArguments(base, empty, QStringLiteral("env"));
    EXPECT_EQ(r.options.password, QStringLiteral("x"));

    // Selection, view, the --name=value form and case-insensitive values.
    r = reporttool::parseArguments(base + QStringList{"--habt",
                                                      "10",
                                                      "--abt=M2",
                                                      "--hg",
                                                      "30",
                                                      "--ug",
                                                      "3001",
                                                      "--pc",
                                                      "1",
                                                      "--hkg",
                                                      "p",
                                                      "--hvart",
                                                      "S",
                                                      "--graph",
                                                      "absolut",
                                                      "--table=Vorjahr",
                                                      "--year",
                                                      "wj",
                                                      "--db-percent",
                                                      "--today",
                                                      "2024-01-15"},
                                   empty, std::nullopt);
    ASSERT_EQ(r.kind, K::Run) << r.error.toStdString();
    EXPECT_EQ(r.options.habt, QStringLiteral("10"));
    EXPECT_EQ(r.options.abt, QStringLiteral("M2"));
    EXPECT_EQ(r.options.hg, QStringLiteral("30"));
    EXPECT_EQ(r.options.ug, QStringLiteral("3001"));
    EXPECT_EQ(r.options.pc, QStringLiteral("1"));
    EXPECT_EQ(r.options.hkg, QStringLiteral("P"));
    EXPECT_EQ(r.options.hvart, QStringLiteral("S"));
    EXPECT_EQ(r.options.graphMode, 2);
    EXPECT_EQ(r.options.tableMode, 3);
    EXPECT_EQ(r.options.yearMode, 1);
    EXPECT_TRUE(r.options.dbPercent);
    EXPECT_EQ(r.options.today, QDate(2024, 1, 15));

    r = reporttool::parseArguments(
        base + QStringList{"--extended", "--styp", "w", "--vart", "01", "--skonto"}, empty,
        std::nullopt);
    ASSERT_EQ(r.kind, K::Run) << r.error.toStdString();
    EXPECT_TRUE(r.options.extended);
    EXPECT_EQ(r.options.styp, QStringLiteral("W"));
    EXPECT_EQ(r.options.vart, QStringLiteral("01"));
    EXPECT_TRUE(r.options.skonto);
    r = reporttool::parseArguments(base + QStringList{"--extended"}, empty, std::nullopt);
    EXPECT_EQ(r.options.styp, QStringLiteral("A"));

    // The options as the JSON records them: all of them, not the password.
    const QJsonObject j = reporttool::optionsJson(r.options);
    EXPECT_FALSE(j.contains(QStringLiteral("password")));
    EXPECT_EQ(j.value(QStringLiteral("styp")).toString(), QStringLiteral("A"));
    EXPECT_EQ(j.value(QStringLiteral("table")).toString(), QStringLiteral("mittel"));
    EXPECT_EQ(j.value(QStringLiteral("graph")).toString(), QStringLiteral("jahresmittel"));
    EXPECT_TRUE(j.value(QStringLiteral("today")).isNull());
}

TEST(ReportOptions, HelpAndBadOptions) {
    ReportEnv env;
    Outcome help = env.inProcess({QStringLiteral("--help")});
    EXPECT_EQ(help.code, reporttool::kExitOk);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Aufruf: tallvero-report")));
    for (const char* option :
         {"--json", "--habt", "--extended", "--styp", "--today", "--year", "TALLVERO_PASSWORD"})
        EXPECT_TRUE(help.out.contains(QLatin1String(option))) << option;
    EXPECT_FALSE(help.wroteJson);

    const QString secret = QStringLiteral("Geh31m-xq");
    const QStringList login{QStringLiteral("--user"), QStringLiteral("DEMO"),
                            QStringLiteral("--password"), secret};
    const QStringList withJson = login + QStringList{QStringLiteral("--json"), env.path("x.json")};
    struct Bad {
        QStringList args;
        const char* named; // what the message must name
    };
    const Bad bad[] = {
        {withJson + QStringList{"--farbe", "rot"}, "--farbe"},
        {withJson + QStringList{"--graph"}, "--graph"},
        {withJson + QStringList{"--habt", "--abt", "M2"}, "--habt"},
        {login + QStringList{"--json"}, "--json"},
        {login, "--json"},
        {withJson + QStringList{"--graph", "kreis"}, "--graph"},
        {withJson + QStringList{"--table", "summe"}, "--table"},
        {withJson + QStringList{"--year", "gj"}, "--year"},
        {withJson + QStringList{"--hkg", "X"}, "--hkg"},
        {withJson + QStringList{"--hvart", "Q"}, "--hvart"},
        {withJson + QStringList{"--extended", "--styp", "Z"}, "--styp"},
        {withJson + QStringList{"--styp", "L"}, "--styp"},
        {withJson + QStringList{"--vart", "01"}, "--vart"},
        {withJson + QStringList{"--skonto"}, "--skonto"},
        {withJson + QStringList{"--extended=ja"}, "--extended"},
        {withJson + QStringList{"--today", "2024-02-30"}, "--today"},
        {withJson + QStringList{"--today", "15.01.2024"}, "--today"},
        {withJson + QStringList{"--today", "gestern"}, "--today"},
        {withJson + QStringList{"--port", "abc"}, "--port"},
        {withJson + QStringList{"--port", "70000"}, "--port"},
        {withJson + QStringList{"--firma", "eins"}, "--firma"},
        {withJson + QStringList{"--server", "zwei worte"}, "--server"},
        {withJson + QStringList{"--abt", "M2`x"}, "--abt"},
        {QStringList{"--password", secret, "--json", "-"}, "--user"},
        {QStringList{"--user", "DEMO", "--json", "-"}, "--password"},
        {withJson + QStringList{secret}, "Stelle 7"},
    };
    for (const Bad& b : bad) {
        const std::string what = b.args.join(QLatin1Char(' ')).toStdString();
        Extra raw;
        raw.addJson = false;
        const Outcome r = env.inProcess(b.args, raw);
        EXPECT_EQ(r.code, reporttool::kExitUsage) << what;
        EXPECT_TRUE(r.err.contains(QLatin1String(b.named))) << what << "\n" << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("--help"))) << what;
        EXPECT_FALSE(r.err.contains(secret)) << what;
        EXPECT_TRUE(r.out.isEmpty()) << what;
        EXPECT_FALSE(r.wroteJson) << what;
    }

    // The binary keeps to the same codes.
    const Outcome h = env.binary({QStringLiteral("--help")});
    EXPECT_EQ(h.code, 0);
    EXPECT_EQ(h.out, help.out);
    const Outcome u =
        env.binary(login + QStringList{QStringLiteral("--graph"), QStringLiteral("kreis"),
                                       QStringLiteral("--json"), QStringLiteral("-")});
    EXPECT_EQ(u.code, 2);
    EXPECT_TRUE(u.err.contains(QStringLiteral("--graph")));
    EXPECT_FALSE(u.err.contains(secret));
}

// --- runs against the demo business --------------------------------------------

TEST(ReportRun, PeriodValuesAreTheSalesLinesOfEachMonth) {
    ReportEnv env;
    const Outcome r = env.inProcess(demoArgs() + QStringList{"--habt", "10", "--hkg", "P"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    ASSERT_TRUE(r.wroteJson);
    const QJsonObject fetch = r.json.value(QStringLiteral("fetch")).toObject();
    EXPECT_EQ(fetch.value(QStringLiteral("months")).toInt(), 61); // January: 5 years + 1 month
    EXPECT_EQ(fetch.value(QStringLiteral("result")).toString(), QStringLiteral("done"));
    EXPECT_EQ(r.json.value(QStringLiteral("today")).toString(), kDay);
    const QJsonObject user = r.json.value(QStringLiteral("user")).toObject();
    EXPECT_EQ(user.value(QStringLiteral("code")).toString(), QStringLiteral("DEMO"));
    EXPECT_FALSE(user.value(QStringLiteral("name")).toString().isEmpty());
    const QJsonObject opts = r.json.value(QStringLiteral("options")).toObject();
    EXPECT_EQ(opts.value(QStringLiteral("habt")).toString(), QStringLiteral("10"));
    EXPECT_EQ(opts.value(QStringLiteral("hkg")).toString(), QStringLiteral("P"));
    EXPECT_FALSE(opts.contains(QStringLiteral("password")));

    cache::server::Selection sel;
    sel[1] = QStringLiteral("10");
    sel[5] = QStringLiteral("P");
    expectSalesLines(TestEngine::Sqlite, r.json, sel, 61);

    // The derived tables are the value computation of these PeriodValues
    // for the clock month, in their full index ranges.
    values::PeriodValueStore s;
    s.PeriodValues.dimension(1, 72, 1, 2);
    s.MonthYearValues.dimension(1, 12, 1, 6);
    const auto pv = rows(r.json, "PeriodValues");
    for (int slot = 1; slot <= 72; ++slot)
        for (int m = 1; m <= 2; ++m)
            if (pv[size_t(slot - 1)][size_t(m - 1)])
                s.PeriodValues.at(slot, m) = *pv[size_t(slot - 1)][size_t(m - 1)];
    values::AbsolutMittel(s, 1, false);
    struct Derived {
        const char* name;
        const values::Table& t;
        int first, last;
    };
    for (const Derived& d : {Derived{"MonthYearValues", s.MonthYearValues, 1, 12},
                             Derived{"CumulativeValues", s.CumulativeValues, 0, 12},
                             Derived{"GraphValues", s.GraphValues, 1, 12}}) {
        const auto got = rows(r.json, d.name);
        ASSERT_EQ(got.size(), size_t(d.last - d.first + 1)) << d.name;
        for (int row = d.first; row <= d.last; ++row) {
            ASSERT_EQ(got[size_t(row - d.first)].size(), 6u) << d.name;
            for (int c = 1; c <= 6; ++c) {
                const std::optional<double> cell = got[size_t(row - d.first)][size_t(c - 1)];
                const bool has = d.t.hasCells() && row >= d.t.firstRow() && row <= d.t.lastRow() &&
                                 !d.t.at(row, c).isEmpty();
                ASSERT_EQ(cell.has_value(), has) << d.name << "[" << row << "," << c << "]";
                if (has) {
                    EXPECT_DOUBLE_EQ(*cell, d.t.at(row, c).value()) << d.name;
                }
            }
        }
    }
}

TEST(ReportRun, TheBinaryWritesTheSameTablesAsTheInProcessRun) {
    ReportEnv env;
    const QStringList args = demoArgs() + QStringList{"--abt",   "M2",      "--hvart", "L",
                                                      "--graph", "absolut", "--year",  "wj"};
    const Outcome in = env.inProcess(args);
    // The binary writes to stdout, with the password from the environment.
    QStringList viaEnv = args;
    viaEnv.removeAt(viaEnv.indexOf(QStringLiteral("--password")) + 1);
    viaEnv.removeOne(QStringLiteral("--password"));
    const Outcome bin = env.binary(viaEnv + QStringList{"--json", "-"}, QStringLiteral("demo"));
    ASSERT_EQ(in.code, 0) << in.err.toStdString();
    ASSERT_EQ(bin.code, 0) << bin.err.toStdString();
    const QJsonObject out = readJson(bin.out.toUtf8());
    for (const char* t : kTables)
        EXPECT_EQ(tableText(out, t), tableText(in.json, t)) << t;
    EXPECT_EQ(out.value(QStringLiteral("fetch")), in.json.value(QStringLiteral("fetch")));
    EXPECT_EQ(out.value(QStringLiteral("user")), in.json.value(QStringLiteral("user")));
    EXPECT_EQ(out.value(QStringLiteral("today")).toString(), kDay);
    QJsonObject a = out.value(QStringLiteral("options")).toObject();
    QJsonObject b = in.json.value(QStringLiteral("options")).toObject();
    EXPECT_EQ(a.value(QStringLiteral("json")).toString(), QStringLiteral("-"));
    a.remove(QStringLiteral("json"));
    b.remove(QStringLiteral("json"));
    EXPECT_EQ(a, b);
    EXPECT_EQ(a.value(QStringLiteral("year")).toString(), QStringLiteral("wj"));

    cache::server::Selection sel;
    sel[2] = QStringLiteral("M2");
    sel[6] = QStringLiteral("L");
    expectSalesLines(TestEngine::Sqlite, out, sel, 61);
}

TEST(ReportRun, SettingsGiveTheConnectionWhenNoOptionDoes) {
    ReportEnv env;
    platform::MemorySettingsStore st;
    st.values = {{"Server", site(TestEngine::Sqlite).server}, {"Name", "DEMO"}, {"Firma", "1"}};
    Extra extra;
    extra.envPassword = QStringLiteral("demo");
    extra.settings = &st;
    const Outcome r = env.inProcess({"--today", kDay}, extra);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    const QJsonObject opts = r.json.value(QStringLiteral("options")).toObject();
    EXPECT_EQ(opts.value(QStringLiteral("server")).toString(), site(TestEngine::Sqlite).server);
    EXPECT_EQ(opts.value(QStringLiteral("user")).toString(), QStringLiteral("DEMO"));
    expectSalesLines(TestEngine::Sqlite, r.json, cache::server::Selection{}, 61);
    // The run reads the settings, it never writes them.
    EXPECT_EQ(st.values.size(), 3);
}

TEST(ReportRun, ExtendedAllArticleTypesIsTheSumOfTheSingleTypes) {
    ReportEnv env;
    const QStringList args = demoArgs() + QStringList{"--habt", "10", "--extended"};
    std::map<QString, std::vector<std::vector<std::optional<double>>>> pv;
    for (const char* t : {"A", "L", "B", "W"}) {
        const Outcome r = env.inProcess(args + QStringList{"--styp", t});
        ASSERT_EQ(r.code, 0) << t << r.err.toStdString();
        EXPECT_EQ(r.json.value(QStringLiteral("fetch"))
                      .toObject()
                      .value(QStringLiteral("months"))
                      .toInt(),
                  61);
        pv[QLatin1String(t)] = rows(r.json, "PeriodValues");
    }
    bool someFigure = false;
    for (size_t slot = 0; slot < 72; ++slot)
        for (size_t m = 0; m < 2; ++m) {
            const auto& a = pv["A"][slot][m];
            ASSERT_EQ(a.has_value(), slot < 61) << slot;
            if (!a) continue;
            EXPECT_NEAR(*a, *pv["L"][slot][m] + *pv["B"][slot][m] + *pv["W"][slot][m], 1e-6)
                << "slot " << slot + 1 << " measure " << m + 1;
            someFigure = someFigure || *pv["L"][slot][m] != 0;
        }
    EXPECT_TRUE(someFigure);

    // One type alone is that type's sales lines.
    cache::server::Selection sel;
    sel[1] = QStringLiteral("10");
    sel[8] = QStringLiteral("L");
    // Lager and Strecke arrive as two columns and are added here, so the
    // comparison allows for the rounding of that sum.
    for (size_t slot : {0u, 30u, 60u}) {
        const cache::server::Sums s =
            rawMonth(TestEngine::Sqlite, periodOfSlot(2024, int(slot) + 1), sel);
        EXPECT_NEAR(*pv["L"][slot][0], double(s.umsatz) / 100, 1e-6);
        EXPECT_NEAR(*pv["L"][slot][1], double(s.umsatz - s.kosten) / 100, 1e-6);
    }

    // Skonto/Nachlass asks the other query: other figures, recorded in the options.
    const Outcome sk = env.inProcess(args + QStringList{"--styp", "L", "--skonto"});
    ASSERT_EQ(sk.code, 0) << sk.err.toStdString();
    EXPECT_TRUE(sk.json.value(QStringLiteral("options"))
                    .toObject()
                    .value(QStringLiteral("skonto"))
                    .toBool());
    const auto skv = rows(sk.json, "PeriodValues");
    const cache::server::Sums s = rawMonth(TestEngine::Sqlite, periodOfSlot(2024, 61), sel);
    ASSERT_NE(s.skonto, s.umsatz);
    EXPECT_NEAR(*skv[60][0], double(s.skonto) / 100, 1e-6);
    EXPECT_NEAR(*skv[60][1], double(s.nachlass) / 100, 1e-6);
}

// Passes everything to the server component, but the period request number
// `failAt` (from 1) fails as a lost connection would.
class FailingFactory : public cache::Factory {
public:
    FailingFactory(int& requests, int failAt) : requests_(requests), failAt_(failAt) {}
    bool connect(const QString& c) override { return inner_.connect(c); }
    bool isConnected() const override { return inner_.isConnected(); }
    void disconnect() override { inner_.disconnect(); }
    QString lastConnectError() const override { return inner_.lastConnectError(); }
    std::unique_ptr<cache::CacheObject> classHandle(const QString& c) override {
        return inner_.classHandle(c);
    }
    std::unique_ptr<cache::CacheObject> open(const QString& c, const QString& id) override {
        return inner_.open(c, id);
    }
    std::unique_ptr<cache::CacheQuery> query(const QString& c, const QString& q) override {
        if (q == QLatin1String("PeriodenSumme") && ++requests_ == failAt_)
            throw cache::CacheError(cache::err::NotConnected,
                                    QStringLiteral("Verbindung verloren"));
        return inner_.query(c, q);
    }

private:
    cache::server::ServerFactory inner_;
    int& requests_;
    int failAt_;
};

TEST(ReportRun, AFailedFetchWritesTheMonthsFetchedSoFar) {
    ReportEnv env;
    int requests = 0;
    Extra failing;
    failing.maker = [&] { return std::make_unique<FailingFactory>(requests, 11); };
    const Outcome r = env.inProcess(demoArgs(), failing);
    EXPECT_EQ(r.code, 1);
    ASSERT_TRUE(r.wroteJson) << r.err.toStdString();
    const QJsonObject fetch = r.json.value(QStringLiteral("fetch")).toObject();
    EXPECT_EQ(fetch.value(QStringLiteral("result")).toString(), QStringLiteral("failed"));
    EXPECT_EQ(fetch.value(QStringLiteral("months")).toInt(), 10);
    EXPECT_EQ(fetch.value(QStringLiteral("failedPeriod")).toString(), QStringLiteral("11911"));
    EXPECT_EQ(fetch.value(QStringLiteral("error")).toString(),
              QStringLiteral("Verbindung verloren"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("Caché Zugriffsfehler")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("11911")));
    expectSalesLines(TestEngine::Sqlite, r.json, cache::server::Selection{}, 10);
}

// --- login and permissions ---------------------------------------------------

TEST(ReportLogin, AWrongPasswordFailsAndIsNeverShown) {
    ReportEnv env;
    const QString wrong = QStringLiteral("falsch-7Qz");
    const QStringList args = loginArgs(TestEngine::Sqlite, QStringLiteral("DEMO"), wrong);
    for (const Outcome& r :
         {env.inProcess(args), env.binary(args),
          env.binary(loginArgs(TestEngine::Sqlite, QStringLiteral("DEMO"), QString()).mid(0, 6) +
                         QStringList{"--json", "-"},
                     wrong)}) {
        EXPECT_EQ(r.code, 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("Passwort Falsch oder Benutzer nicht Aktiv.")))
            << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(wrong));
        EXPECT_FALSE(r.out.contains(wrong));
        EXPECT_FALSE(r.wroteJson);
        EXPECT_TRUE(r.out.isEmpty());
    }
    // An inactive login and a user without rights fail as well.
    const Outcome inactive = env.inProcess(loginArgs(TestEngine::Sqlite, "INAKTIV", "inaktiv"));
    EXPECT_EQ(inactive.code, 1);
    const Outcome guest = env.inProcess(loginArgs(TestEngine::Sqlite, "GAST", "gast"));
    EXPECT_EQ(guest.code, 1);
    EXPECT_TRUE(
        guest.err.contains(QStringLiteral("Sie haben keine Berchtigung für dieses Programm.")));
    EXPECT_FALSE(guest.wroteJson);
}

TEST(ReportLogin, AnUnreachableServerEndsAfterTheRetries) {
    ReportEnv env;
    // A PostgreSQL host on a port where nothing listens; the fake clock lets
    // the ten-second pauses between the attempts pass at once.
    const Outcome r = env.inProcess(
        {"--server", "127.0.0.1", "--port", "1", "--user", "DEMO", "--password", "demo"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Server nach 3 Versuchen nicht erreichbar!")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("Der Server ist nicht erreichbar!")));
    EXPECT_FALSE(r.wroteJson);
}

TEST(ReportLogin, ARestrictedUserKeepsToTheOwnDepartment) {
    ReportEnv env;
    const QStringList abt =
        loginArgs(TestEngine::Sqlite, QStringLiteral("ABTLEITER"), QStringLiteral("abt")) +
        QStringList{QStringLiteral("--today"), kDay};

    // Without a department the query refuses: nothing fetched.
    const Outcome none = env.inProcess(abt);
    EXPECT_EQ(none.code, 1);
    EXPECT_TRUE(none.err.contains(QStringLiteral("Sie Müssen eine Abteilung auswählen!")));
    ASSERT_TRUE(none.wroteJson);
    EXPECT_EQ(none.json.value(QStringLiteral("fetch"))
                  .toObject()
                  .value(QStringLiteral("result"))
                  .toString(),
              QStringLiteral("refused"));
    EXPECT_EQ(
        none.json.value(QStringLiteral("fetch")).toObject().value(QStringLiteral("months")).toInt(),
        0);
    for (const auto& row : rows(none.json, "PeriodValues"))
        EXPECT_FALSE(row[0] || row[1]);

    // What the desktop client does not let this user choose.
    struct Refused {
        QStringList extra;
        const char* named;
    };
    for (const Refused& c : {Refused{{"--habt", "20"}, "--habt"}, Refused{{"--abt", "M1"}, "--abt"},
                             Refused{{"--abt", "MA", "--pc", "1"}, "--pc"},
                             Refused{{"--abt", "MA", "--extended"}, "--extended"},
                             Refused{{"--abt", "MA", "--table", "vorjahr"}, "--table"}}) {
        const Outcome r = env.inProcess(abt + c.extra);
        EXPECT_EQ(r.code, 1) << c.named;
        EXPECT_TRUE(r.err.contains(QLatin1String(c.named))) << r.err.toStdString();
        EXPECT_FALSE(r.wroteJson) << c.named;
    }

    // The own main department, and a department that shares the manager.
    const Outcome habt = env.inProcess(abt + QStringList{"--habt", "10"});
    EXPECT_EQ(habt.code, 0) << habt.err.toStdString();
    const Outcome ma = env.inProcess(abt + QStringList{"--abt", "MA"});
    ASSERT_EQ(ma.code, 0) << ma.err.toStdString();
    EXPECT_EQ(ma.json.value(QStringLiteral("user"))
                  .toObject()
                  .value(QStringLiteral("permission"))
                  .toInt(),
              5);
    cache::server::Selection sel;
    sel[2] = QStringLiteral("MA");
    expectSalesLines(TestEngine::Sqlite, ma.json, sel, 61);

    // The binary refuses in the same way.
    const Outcome bin = env.binary(abt + QStringList{"--habt", "20"});
    EXPECT_EQ(bin.code, 1);
    EXPECT_TRUE(bin.err.contains(QStringLiteral("--habt")));
}

// --- PostgreSQL ----------------------------------------------------------------

TEST(ReportPostgres, TheTablesAreTheSalesLinesInProcessAndThroughTheBinary) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    ReportEnv env;
    const QStringList args = demoArgs(TestEngine::Postgres) + QStringList{"--habt", "10"};
    const Outcome in = env.inProcess(args);
    ASSERT_EQ(in.code, 0) << in.err.toStdString();
    const Outcome bin = env.binary(args);
    ASSERT_EQ(bin.code, 0) << bin.err.toStdString();
    for (const char* t : kTables)
        EXPECT_EQ(tableText(bin.json, t), tableText(in.json, t)) << t;
    cache::server::Selection sel;
    sel[1] = QStringLiteral("10");
    expectSalesLines(TestEngine::Postgres, in.json, sel, 61);
}

} // namespace
