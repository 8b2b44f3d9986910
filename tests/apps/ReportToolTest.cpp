// The headless report tool: its options, the login and permission
// refusals, the tables it writes, checked against the raw sales lines and
// against the value computation run here, and the page it draws (display
// list, axes, PNG, PDF, SVG, CSV); in-process and through the binary.

#include "ReportTool.h"

#include "platform/cache/server/ServerFactory.h"
#include "report/Page.h"
#include "report/Series.h"
#include "retrieval/DetailQuery.h"
#include "support/DemoSite.h"
#include "support/Process.h"
#include "support/PdfText.h"
#include "values/ValueStore.h"

#include <QColor>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cmath>
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

bool namesOutput(const QStringList& args) {
    for (const char* o : {"--json", "--pdf", "--png", "--svg", "--csv", "--details", "--book"})
        if (args.contains(QLatin1String(o))) return true;
    return false;
}

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
        if (extra.addJson && !namesOutput(args)) args << QStringLiteral("--json") << file;
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

    // The binary, with a home of its own (support/Process.h).
    Outcome binary(QStringList args, const std::optional<QString>& envPassword = {}) {
        const QString file = path(QStringLiteral("run%1.json").arg(++runs_));
        if (!namesOutput(args)) args << QStringLiteral("--json") << file;
        const auto p =
            testsupport::runProcess(QStringLiteral(TALLVERO_REPORT_BIN), args,
                                    testsupport::ownHomeEnvironment(dir_.path(), envPassword));
        Outcome r;
        r.code = p.code;
        r.out = p.outText();
        r.err = p.errText();
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

// A store as the fetch of the JSON left it, before any redraw.
values::PeriodValueStore fetchedStoreOf(const QJsonObject& j) {
    values::PeriodValueStore s;
    s.PeriodValues.dimension(1, 72, 1, 2);
    s.MonthYearValues.dimension(1, 12, 1, 6);
    const auto pv = rows(j, "PeriodValues");
    for (int slot = 1; slot <= 72; ++slot)
        for (int m = 1; m <= 2; ++m)
            if (pv[size_t(slot - 1)][size_t(m - 1)])
                s.PeriodValues.at(slot, m) = *pv[size_t(slot - 1)][size_t(m - 1)];
    return s;
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
    EXPECT_EQ(j.value(QStringLiteral("json")).toString(), QStringLiteral("-"));
    EXPECT_TRUE(j.value(QStringLiteral("png")).isNull());
    EXPECT_TRUE(j.value(QStringLiteral("dpi")).isNull());

    // Any one output is enough; --dpi belongs to --png and defaults to 150.
    const QStringList noOutput{QStringLiteral("--user"), QStringLiteral("demo"),
                               QStringLiteral("--password"), QStringLiteral("x")};
    r = reporttool::parseArguments(noOutput + QStringList{"--png", "s.png"}, empty, std::nullopt);
    ASSERT_EQ(r.kind, K::Run) << r.error.toStdString();
    EXPECT_TRUE(r.options.json.isEmpty());
    EXPECT_EQ(r.options.png, QStringLiteral("s.png"));
    EXPECT_EQ(r.options.dpi, 150);
    for (const char* dpi : {"30", "1200"}) {
        r = reporttool::parseArguments(noOutput + QStringList{"--pdf", "s.pdf", "--svg=s.svg",
                                                              "--csv", "s.csv", "--png", "s.png",
                                                              "--dpi", dpi},
                                       empty, std::nullopt);
        ASSERT_EQ(r.kind, K::Run) << r.error.toStdString();
        EXPECT_EQ(r.options.dpi, QString::fromLatin1(dpi).toInt());
    }
    EXPECT_EQ(r.options.pdf, QStringLiteral("s.pdf"));
    EXPECT_EQ(r.options.svg, QStringLiteral("s.svg"));
    EXPECT_EQ(r.options.csv, QStringLiteral("s.csv"));
    const QJsonObject out = reporttool::optionsJson(r.options);
    EXPECT_TRUE(out.value(QStringLiteral("json")).isNull());
    EXPECT_EQ(out.value(QStringLiteral("pdf")).toString(), QStringLiteral("s.pdf"));
    EXPECT_EQ(out.value(QStringLiteral("svg")).toString(), QStringLiteral("s.svg"));
    EXPECT_EQ(out.value(QStringLiteral("csv")).toString(), QStringLiteral("s.csv"));
    EXPECT_EQ(out.value(QStringLiteral("png")).toString(), QStringLiteral("s.png"));
    EXPECT_EQ(out.value(QStringLiteral("dpi")).toInt(), 1200);
}

TEST(ReportOptions, HelpAndBadOptions) {
    ReportEnv env;
    Outcome help = env.inProcess({QStringLiteral("--help")});
    EXPECT_EQ(help.code, reporttool::kExitOk);
    EXPECT_TRUE(help.out.startsWith(QStringLiteral("Aufruf: tallvero-report")));
    for (const char* option : {"--json", "--pdf", "--png", "--dpi", "--svg", "--csv", "--habt",
                               "--extended", "--styp", "--today", "--year", "TALLVERO_PASSWORD"})
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
        {withJson + QStringList{"--png", env.path("a.png"), "--dpi", "29"}, "--dpi"},
        {withJson + QStringList{"--png", env.path("a.png"), "--dpi", "1201"}, "--dpi"},
        {withJson + QStringList{"--png", env.path("a.png"), "--dpi", "hoch"}, "--dpi"},
        {withJson + QStringList{"--png", env.path("a.png"), "--dpi", "-150"}, "--dpi"},
        {withJson + QStringList{"--dpi", "100"}, "--dpi"},
        {withJson + QStringList{"--each", "abt"}, "--each"},
        {login + QStringList{"--book", env.path("m.pdf")}, "--each"},
        {login + QStringList{"--book", env.path("m.pdf"), "--each", "filiale"}, "--each"},
        {withJson + QStringList{"--book", env.path("m.pdf"), "--each", "abt"}, "--json"},
        {login + QStringList{"--pdf", "-"}, "--pdf"},
        {login + QStringList{"--svg"}, "--svg"},
        {login + QStringList{"--csv="}, "--csv"},
        {withJson + QStringList{"--csv", env.path("x.json")}, "--csv"},
        {login + QStringList{"--png", env.path("a.png"), "--svg", env.path("a.png")}, "--svg"},
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
    const Outcome dpi =
        env.binary(login + QStringList{QStringLiteral("--png"), env.path(QStringLiteral("b.png")),
                                       QStringLiteral("--dpi"), QStringLiteral("2000")});
    EXPECT_EQ(dpi.code, 2);
    EXPECT_TRUE(dpi.err.contains(QStringLiteral("--dpi")));
    EXPECT_FALSE(QFile::exists(env.path(QStringLiteral("b.png"))));
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
    values::PeriodValueStore s = fetchedStoreOf(r.json);
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

// --- the page -------------------------------------------------------------------

// A day with two completed months of the current year (the demo data end
// in March 2024), so the current-year curve has a segment.
const QString kMarchDay = QStringLiteral("2024-03-20");

QStringList marchArgs() {
    return loginArgs(TestEngine::Sqlite, QStringLiteral("DEMO"), QStringLiteral("demo")) +
           QStringList{QStringLiteral("--today"), kMarchDay};
}

QJsonArray pageOf(const QJsonObject& j) {
    EXPECT_TRUE(j.value(QStringLiteral("page")).isArray());
    return j.value(QStringLiteral("page")).toArray();
}

QList<QJsonObject> textOps(const QJsonObject& j) {
    QList<QJsonObject> out;
    for (const QJsonValue& v : pageOf(j))
        if (v.toObject().value(QStringLiteral("kind")).toString() == QLatin1String("text"))
            out << v.toObject();
    return out;
}

// The header's selection line: the text box drawn right after the title.
QString selectionLineOf(const QJsonObject& j) {
    const QList<QJsonObject> texts = textOps(j);
    for (qsizetype i = 0; i + 1 < texts.size(); ++i)
        if (texts[i].value(QStringLiteral("text")).toString() == QLatin1String("Tallvero"))
            return texts[i + 1].value(QStringLiteral("text")).toString();
    ADD_FAILURE() << "no title on the page";
    return {};
}

std::optional<QString> nameIn(const QList<cache::server::CodeName>& list, const QString& code) {
    for (const cache::server::CodeName& c : list)
        if (c.code == code) return c.name;
    return std::nullopt;
}

// A value store holding the JSON's GraphValues (empty cells stay empty)
// and view flags.
values::PeriodValueStore graphStoreOf(const QJsonObject& j) {
    values::PeriodValueStore s;
    s.GraphValues.dimension(1, 12, 1, 6);
    const auto g = rows(j, "GraphValues");
    for (int m = 1; m <= 12; ++m)
        for (int c = 1; c <= 6; ++c)
            if (g[size_t(m - 1)][size_t(c - 1)])
                s.GraphValues.at(m, c) = *g[size_t(m - 1)][size_t(c - 1)];
    const QJsonObject o = j.value(QStringLiteral("options")).toObject();
    s.YearMode = o.value(QStringLiteral("year")).toString() == QLatin1String("wj") ? 1 : 0;
    const QStringList tables{"kumuliert", "absolut", "mittel", "vorjahr", "graph"};
    s.TableMode = int(tables.indexOf(o.value(QStringLiteral("table")).toString()));
    return s;
}

bool reddish(QRgb p) {
    return qRed(p) >= 180 && qGreen(p) <= 90 && qBlue(p) <= 90;
}

// Pixels of the PNG: how many are not white, and how many red ones lie in
// the graph panels (the report area above the value table).
struct PngLook {
    QSize size;
    int inked = 0;
    int redInGraph = 0;
};

PngLook lookAt(const QString& file, int dpi) {
    PngLook l;
    const QImage image(file);
    if (image.isNull()) return l;
    l.size = image.size();
    const double px = dpi / 25.4;
    const QRect graph(int(report::kLeft * px), int(report::kTop * px), int(report::kWidth * px),
                      int(report::kHeight * px));
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) < 250 || qGreen(p) < 250 || qBlue(p) < 250) ++l.inked;
            if (graph.contains(x, y) && reddish(p)) ++l.redInGraph;
        }
    return l;
}

TEST(ReportPage, ThePngShowsTheCurrentYearCurveInTheGraphArea) {
    ReportEnv env;
    const QString png = env.path(QStringLiteral("seite.png"));
    const Outcome r =
        env.inProcess(marchArgs() + QStringList{"--hg", "20", "--png", png, "--dpi", "50"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_FALSE(r.wroteJson); // the PNG alone was asked for
    EXPECT_TRUE(r.err.contains(QStringLiteral("seite.png"))) << r.err.toStdString();
    const PngLook in = lookAt(png, 50);
    EXPECT_NEAR(in.size.width(), 585, 1);
    EXPECT_NEAR(in.size.height(), 413, 1);
    EXPECT_GT(in.inked, 5000) << "the page is (nearly) white";
    EXPECT_GT(in.redInGraph, 10) << "no current-year curve in the graph panels";

    // The binary, without a display or a Qt platform set, draws the same page.
    const QString binPng = env.path(QStringLiteral("seite-bin.png"));
    const Outcome bin =
        env.binary(marchArgs() + QStringList{"--hg", "20", "--png", binPng, "--dpi", "50"});
    ASSERT_EQ(bin.code, 0) << bin.err.toStdString();
    const PngLook b = lookAt(binPng, 50);
    EXPECT_EQ(b.size, in.size);
    EXPECT_GT(b.inked, 5000);
    EXPECT_GT(b.redInGraph, 10);

    // The resolution scales the image.
    const QString fine = env.path(QStringLiteral("fein.png"));
    ASSERT_EQ(env.inProcess(marchArgs() + QStringList{"--png", fine, "--dpi", "100"}).code, 0);
    const QImage f(fine);
    EXPECT_NEAR(f.width(), 1169, 1);
    EXPECT_NEAR(f.height(), 827, 1);
}

TEST(ReportPage, PdfAndSvgAreWritten) {
    ReportEnv env;
    const QString pdf = env.path(QStringLiteral("seite.pdf"));
    const QString svg = env.path(QStringLiteral("seite.svg"));
    const Outcome r = env.inProcess(marchArgs() + QStringList{"--pdf", pdf, "--svg", svg});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("seite.pdf")) &&
                r.err.contains(QStringLiteral("seite.svg")))
        << r.err.toStdString();

    QFile p(pdf);
    ASSERT_TRUE(p.open(QIODevice::ReadOnly));
    const QByteArray pdfBytes = p.readAll();
    EXPECT_TRUE(pdfBytes.startsWith("%PDF-"));
    EXPECT_TRUE(pdfBytes.trimmed().endsWith("%%EOF"));
    EXPECT_GT(pdfBytes.size(), 2000);

    QFile s(svg);
    ASSERT_TRUE(s.open(QIODevice::ReadOnly));
    const QString svgText = QString::fromUtf8(s.readAll());
    EXPECT_TRUE(svgText.contains(QStringLiteral("<svg")));
    EXPECT_TRUE(svgText.contains(QStringLiteral("Tallvero")));
    EXPECT_TRUE(svgText.contains(QStringLiteral("Jänner")));
}

TEST(ReportPage, TheJsonHoldsThePageItsAxesAndTheSelection) {
    ReportEnv env;
    const Outcome r = env.inProcess(marchArgs() + QStringList{"--hg", "20", "--hkg", "P"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    ASSERT_TRUE(r.wroteJson);

    const QJsonArray page = pageOf(r.json);
    ASSERT_FALSE(page.isEmpty());
    // The page starts with the heavy base line of the upper panel's value axis.
    const QJsonObject first = page.first().toObject();
    EXPECT_EQ(first.value(QStringLiteral("kind")).toString(), QStringLiteral("line"));
    EXPECT_DOUBLE_EQ(
        first.value(QStringLiteral("pen")).toObject().value(QStringLiteral("width")).toDouble(),
        28.5);
    const double base = (report::kTop + (report::kHeight - 5) / 2) * report::kTwipsPerMm;
    EXPECT_DOUBLE_EQ(first.value(QStringLiteral("y1")).toDouble(), base);
    EXPECT_DOUBLE_EQ(first.value(QStringLiteral("y2")).toDouble(), base);

    const QString userName =
        r.json.value(QStringLiteral("user")).toObject().value(QStringLiteral("name")).toString();
    ASSERT_FALSE(userName.isEmpty());
    bool title = false, footer = false;
    for (const QJsonObject& t : textOps(r.json)) {
        const QString text = t.value(QStringLiteral("text")).toString();
        if (text == QLatin1String("Tallvero")) {
            title = true;
            EXPECT_EQ(t.value(QStringLiteral("font"))
                          .toObject()
                          .value(QStringLiteral("points"))
                          .toDouble(),
                      16);
        }
        if (text.startsWith(QStringLiteral("Gedruckt durch: ") + userName)) {
            footer = true;
            // The tool's clock: the given day.
            EXPECT_TRUE(text.contains(QStringLiteral(" am 20.03.2024 um "))) << text.toStdString();
        }
    }
    EXPECT_TRUE(title);
    EXPECT_TRUE(footer);

    // The selection as the client's lists show it, the name from the server.
    auto db = site(TestEngine::Sqlite).db->open();
    cache::server::Store store(*db);
    const std::optional<QString> group = nameIn(store.mainGroups(1), QStringLiteral("20"));
    ASSERT_TRUE(group);
    EXPECT_EQ(selectionLineOf(r.json),
              QStringLiteral("HKG:P Privat HG:20 ") + *group + QLatin1Char(' '));

    // The axes are those of the JSON's GraphValues, and hold every value
    // the panel considers.
    const values::PeriodValueStore g = graphStoreOf(r.json);
    const int completed = report::CompletedMonths(g.YearMode, 3);
    ASSERT_EQ(completed, 2);
    const QJsonArray axes = r.json.value(QStringLiteral("axes")).toArray();
    ASSERT_EQ(axes.size(), 2);
    for (int panel = 1; panel <= 2; ++panel) {
        const QJsonObject a = axes[panel - 1].toObject();
        EXPECT_EQ(a.value(QStringLiteral("panel")).toInt(), panel);
        const int firstSeries = panel == 1 ? 1 : 4;
        qint32 max = 0, min = 0;
        report::ComputeAxisRange(g, firstSeries, firstSeries + 2, completed, max, min);
        int n = 0;
        double v = 0;
        report::StepRule(max, min, n, v);
        EXPECT_EQ(a.value(QStringLiteral("AxisMin")).toInteger(), min) << panel;
        EXPECT_EQ(a.value(QStringLiteral("AxisMax")).toInteger(), max) << panel;
        EXPECT_EQ(a.value(QStringLiteral("N")).toInt(), n) << panel;
        EXPECT_DOUBLE_EQ(a.value(QStringLiteral("V")).toDouble(), v) << panel;
        EXPECT_GT(n, 0);
        EXPECT_LT(min, max);
        for (int s = firstSeries; s <= firstSeries + 2; ++s)
            for (int m = 1; m <= (s == firstSeries ? completed : 12); ++m) {
                const double x = g.GraphValues(m, s).value();
                EXPECT_LE(x, max) << "series " << s << " month " << m;
                EXPECT_GE(x, min) << "series " << s << " month " << m;
            }
    }
}

TEST(ReportPage, TheSelectionLineNamesEveryListLikeTheClient) {
    ReportEnv env;
    auto db = site(TestEngine::Sqlite).db->open();
    cache::server::Store store(*db);
    auto name = [](const std::optional<QString>& n) {
        EXPECT_TRUE(n);
        return n.value_or(QString());
    };
    // A profit centre whose name has an umlaut: it travels in the server's
    // 7-bit form and is converted back.
    const QString pc = name(nameIn(store.profitCentres(1), QStringLiteral("2")));
    ASSERT_TRUE(pc.contains(QChar(0xFC))) << pc.toStdString();
    Outcome r = env.inProcess(marchArgs() + QStringList{"--pc", "2", "--hvart", "S"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(selectionLineOf(r.json),
              QStringLiteral("PC:2 ") + pc + QStringLiteral(" HVArt:S Strecke "));

    // Department, main group and sub group; the department hides the main department.
    r = env.inProcess(marchArgs() +
                      QStringList{"--habt", "10", "--abt", "M2", "--hg", "30", "--ug", "3002"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(selectionLineOf(r.json),
              QStringLiteral("ABT:M2 ") + name(nameIn(store.departments(1), "M2")) +
                  QStringLiteral(" HG:30 ") + name(nameIn(store.mainGroups(1), "30")) +
                  QStringLiteral(" UG:3002 ") + name(nameIn(store.subGroups(1, "30"), "3002")) +
                  QLatin1Char(' '));
    r = env.inProcess(marchArgs() + QStringList{"--habt", "20"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(selectionLineOf(r.json), QStringLiteral("HABT:20 ") +
                                           name(nameIn(store.mainDepartments(1), "20")) +
                                           QLatin1Char(' '));

    // A code the list lacks stays bare; without a main group the client
    // has no sub group list either.
    r = env.inProcess(marchArgs() + QStringList{"--hg", "99", "--ug", "3002"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(selectionLineOf(r.json), QStringLiteral("HG:99 UG:3002 "));

    // The extended selection: shipping type and article type, which
    // replace the main shipping type.
    r = env.inProcess(marchArgs() +
                      QStringList{"--hvart", "L", "--extended", "--vart", "01", "--styp", "L"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(selectionLineOf(r.json), QStringLiteral("SVArt:01 ") +
                                           name(nameIn(store.shippingTypes(1, "L"), "01")) +
                                           QStringLiteral(" STyp:L Lager Artikel "));

    // No filter: an empty line, still drawn.
    r = env.inProcess(marchArgs());
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(selectionLineOf(r.json), QString());
}

TEST(ReportPage, TheTablesAreThoseOfTheRedraw) {
    // With "DB in % von Umsatz" the redraw computes other margin series;
    // the JSON shows the store as that redraw left it.
    ReportEnv env;
    const Outcome r = env.inProcess(marchArgs() + QStringList{"--habt", "10", "--db-percent"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.json.value(QStringLiteral("options"))
                    .toObject()
                    .value(QStringLiteral("db-percent"))
                    .toBool());
    auto computed = [&](bool dbPercent) {
        values::PeriodValueStore s = fetchedStoreOf(r.json);
        values::AbsolutMittel(s, 3, dbPercent);
        return s;
    };
    const values::PeriodValueStore percent = computed(true);
    const values::PeriodValueStore amounts = computed(false);
    const auto got = rows(r.json, "GraphValues");
    bool differs = false;
    for (int m = 1; m <= 12; ++m)
        for (int c = 1; c <= 6; ++c) {
            const values::Cell want = percent.GraphValues(m, c);
            const std::optional<double> cell = got[size_t(m - 1)][size_t(c - 1)];
            ASSERT_EQ(cell.has_value(), !want.isEmpty()) << m << "," << c;
            if (cell) {
                EXPECT_DOUBLE_EQ(*cell, want.value()) << m << "," << c;
            }
            differs = differs || !(want == amounts.GraphValues(m, c));
        }
    EXPECT_TRUE(differs) << "the percentage changes nothing";

    // The margin panel's axis is labelled in percent.
    bool percentLabel = false;
    for (const QJsonObject& t : textOps(r.json))
        percentLabel =
            percentLabel || (t.value(QStringLiteral("align")).toInt() == 8 &&
                             t.value(QStringLiteral("text")).toString().endsWith(QLatin1Char('%')));
    EXPECT_TRUE(percentLabel);
}

TEST(ReportPage, TheCsvIsTheValueTableOfThePage) {
    ReportEnv env;
    const QString csv = env.path(QStringLiteral("tabelle.csv"));
    const QString json = env.path(QStringLiteral("tabelle.json"));
    const Outcome r =
        env.inProcess(marchArgs() + QStringList{"--hg", "20", "--csv", csv, "--json", json});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF")); // the byte order mark
    const QString text = QString::fromUtf8(bytes.mid(3));
    QStringList lines = text.split(QStringLiteral("\r\n"));
    ASSERT_TRUE(lines.last().isEmpty()); // every line ends with CRLF
    lines.removeLast();
    ASSERT_EQ(lines.size(), 7);

    // The title of the default table mode (fields are written trimmed),
    // then the month names.
    QFile jf(json);
    ASSERT_TRUE(jf.open(QIODevice::ReadOnly));
    const QJsonObject j = readJson(jf.readAll());
    const QStringList head = lines[0].split(QLatin1Char(';'));
    ASSERT_EQ(head.size(), 13);
    EXPECT_TRUE(head[0].startsWith(QStringLiteral("in % v. "))) << head[0].toStdString();
    EXPECT_EQ(head[0], QStringLiteral("in % v. ") + report::YearWord(2, 0, 2024));
    EXPECT_EQ(head[1], QStringLiteral("Jänner"));
    EXPECT_EQ(head[3], QStringLiteral("März"));

    // Each series row: its label and the cells as the page shows them.
    const values::PeriodValueStore g = graphStoreOf(j);
    report::PageInputs in;
    bool somePercent = false;
    for (int s = 1; s <= 6; ++s) {
        const QStringList row = lines[s].split(QLatin1Char(';'));
        ASSERT_EQ(row.size(), 13) << s;
        EXPECT_EQ(row[0], report::SeriesLabel(s - 1, 0, 2024));
        for (int m = 1; m <= 12; ++m) {
            EXPECT_EQ(row[m], report::ValueCellText(g, in, m, s)) << s << "," << m;
            somePercent = somePercent ||
                          (row[m].endsWith(QLatin1Char('%')) && row[m] != QLatin1String("100%"));
        }
    }
    EXPECT_TRUE(somePercent);
}

// The details list of a selection: one row per department of main
// department 10 (and the total first), each equal to the raw lines.
TEST(ReportDetails, TheDetailsCsvHoldsTheGroupsBelowTheSelection) {
    ReportEnv env;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    auto lines = [&](const QString& file) {
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
        QStringList l = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"));
        l.removeAll(QString());
        return l;
    };
    const QString csv = env.path(QStringLiteral("details.csv"));
    Outcome r = env.inProcess(marchArgs() + QStringList{"--habt", "10", "--details", csv, "--split",
                                                        "hvart", "--jahr", "1"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList l = lines(csv);
    ASSERT_GE(l.size(), 3);
    EXPECT_EQ(l[0], QStringLiteral("Grp;L Umsatz;L DB;S Umsatz;S DB"));
    EXPECT_TRUE(l[1].startsWith(QLatin1Char(';'))); // the total row
    auto d = site(TestEngine::Sqlite).db->open();
    cache::server::Store st(*d);
    for (int i = 1; i < l.size(); ++i) {
        const QStringList f = l[i].split(QLatin1Char(';'));
        ASSERT_EQ(f.size(), 5);
        cache::server::Selection sel;
        sel[1] = QStringLiteral("10");
        sel[2] = f[0];
        sel[6] = QStringLiteral("L");
        const auto sums = st.rawSum(1, 12301, 12312, sel); // the previous year of 2024
        EXPECT_EQ(QLocale().toLongLong(f[1]), retrieval::roundedShare(sums.umsatz / 100.0, 1))
            << f[0].toStdString();
    }

    // Nothing chosen: "pc" answers the question with Yes.
    r = env.inProcess(marchArgs() + QStringList{"--details", csv, "--split", "none",
                                                "--gruppierung", "pc", "--monat", "2"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    l = lines(csv);
    ASSERT_EQ(l.size(), 5); // header, total, three profit centres
    EXPECT_EQ(l[0], QStringLiteral("Grp;Umsatz;DB"));
    EXPECT_TRUE(l[2].startsWith(QStringLiteral("1;")));

    // Bad combinations are usage errors.
    for (const QStringList& bad : {QStringList{"--details", csv, "--monat", "13"},
                                   QStringList{"--details", csv, "--jahr", "3"},
                                   QStringList{"--details", csv, "--jahr", "2", "--monat", "4"},
                                   QStringList{"--details", csv, "--split", "pg"},
                                   QStringList{"--monat", "4", "--json", csv},
                                   QStringList{"--details", csv, "--gruppierung", "abt"}})
        EXPECT_EQ(env.inProcess(marchArgs() + bad).code, 2) << bad.join(' ').toStdString();
}

TEST(ReportPage, AFileThatCannotBeWrittenFailsAndTheOthersAreWritten) {
    ReportEnv env;
    const QString png = env.path(QStringLiteral("gut.png"));
    const QString pdf = env.path(QStringLiteral("fehlt/seite.pdf"));
    const Outcome r =
        env.inProcess(marchArgs() + QStringList{"--pdf", pdf, "--png", png, "--dpi", "30"});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("kann nicht geschrieben werden")))
        << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("seite.pdf")));
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(QImage(png).width(), int(std::lround(297 / 25.4 * 30)));
}

TEST(ReportPage, ARefusedQueryDrawsNoPage) {
    ReportEnv env;
    const QString png = env.path(QStringLiteral("abgelehnt.png"));
    const QString json = env.path(QStringLiteral("abgelehnt.json"));
    const Outcome r = env.inProcess(
        loginArgs(TestEngine::Sqlite, QStringLiteral("ABTLEITER"), QStringLiteral("abt")) +
        QStringList{"--today", kDay, "--png", png, "--json", json});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("keine Seite geschrieben"))) << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(png));
    QFile f(json);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QJsonObject j = readJson(f.readAll());
    EXPECT_TRUE(j.value(QStringLiteral("page")).isNull());
    EXPECT_TRUE(j.value(QStringLiteral("axes")).isNull());
    EXPECT_EQ(
        j.value(QStringLiteral("fetch")).toObject().value(QStringLiteral("result")).toString(),
        QStringLiteral("refused"));
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

// --- the report book -------------------------------------------------------------

// The demo business with one entry in every list that never sold anything.
testsupport::DemoSite& bookSite() {
    return testsupport::demoSite(
        TestEngine::Sqlite, QStringLiteral("book"), 6000, [](cache::server::Database& d) {
            for (const char* sql :
                 {"INSERT INTO profitcenter (firma, pcnr, name) VALUES (1, '9', 'Ohne')",
                  "INSERT INTO hauptabteilung (firma, habtnr, name) VALUES (1, '90', 'Ohne')",
                  "INSERT INTO abteilung (firma, abtnr, name, habtnr, pcnr) "
                  "VALUES (1, 'MZ', 'Ohne', '10', '1')",
                  "INSERT INTO hauptgruppe (firma, hgrp, name) VALUES (1, '95', 'Ohne')",
                  "INSERT INTO untergruppe (firma, hgrp, ugrp, name) VALUES (1, '20', '2099', "
                  "'Ohne')"})
                d.exec(QString::fromUtf8(sql)).finish();
        });
}

TEST(ReportBook, APagePerEntryWithFiguresInTheListsOrder) {
    testsupport::DemoSite& s = bookSite();
    auto db = s.db->open();
    cache::server::Store store(*db);
    auto line = [](const char* label, const QList<cache::server::CodeName>& list,
                   const QString& code) {
        const std::optional<QString> name = nameIn(list, code);
        EXPECT_TRUE(name) << code.toStdString();
        return QLatin1String(label) + code + QLatin1Char(' ') + name.value_or(QString());
    };
    const QString M2 = line("ABT:", store.departments(1), QStringLiteral("M2"));
    const QString HG20 = line("HG:", store.mainGroups(1), QStringLiteral("20"));
    const auto departments10 = store.departmentsOfMainDepartment(1, QStringLiteral("10"));
    struct Case {
        const char* user;
        QStringList args;
        const char* each;
        int dim; // the entry's dimension in the raw sums
        QList<cache::server::CodeName> list;
        QString first, prefix; // page 1's line, what the entry pages show before the entry
        QStringList only;      // a restricted user's choosable codes
        const char* label;
    };
    const Case cases[] = {
        {"DEMO", {}, "pc", 0, store.profitCentres(1), {}, {}, {}, "PC:"},
        {"DEMO", {}, "habt", 1, store.mainDepartments(1), {}, {}, {}, "HABT:"},
        {"DEMO",
         {"--habt", "10"},
         "abt",
         2,
         departments10,
         line("HABT:", store.mainDepartments(1), QStringLiteral("10")),
         {},
         {},
         "ABT:"},
        {"DEMO", {"--abt", "M2"}, "hg", 3, store.mainGroups(1), M2, M2 + ' ', {}, "HG:"},
        {"DEMO",
         {"--hg", "20", "--ug", "2002"},
         "ug",
         4,
         store.subGroups(1, QStringLiteral("20")),
         HG20 + ' ' + line("UG:", store.subGroups(1, QStringLiteral("20")), "2002"),
         HG20 + ' ',
         {},
         "UG:"},
        // A restricted user: only the departments the own one may see, only
        // the own main department.
        {"ABTLEITER",
         {"--habt", "10"},
         "abt",
         2,
         departments10,
         line("HABT:", store.mainDepartments(1), QStringLiteral("10")),
         {},
         {"M2", "MA", "MF"},
         "ABT:"},
        {"ABTLEITER",
         {"--abt", "M2"},
         "habt",
         1,
         store.mainDepartments(1),
         M2,
         {},
         {"10"},
         "HABT:"},
    };
    ReportEnv env;
    for (const Case& c : cases) {
        const std::string what =
            QStringLiteral("%1 %2 --each %3")
                .arg(QLatin1String(c.user), c.args.join(' '), QLatin1String(c.each))
                .toStdString();
        // The pages to expect: every entry of the list the user may choose
        // whose sales lines hold a figure in the six years, in list order.
        cache::server::Selection base;
        for (qsizetype i = 0; i + 1 < c.args.size(); i += 2)
            base[int(QStringList{"--pc", "--habt", "--abt", "--hg", "--ug"}.indexOf(c.args[i]))] =
                c.args[i + 1];
        QStringList want{c.first}, withoutFigures;
        int choosable = 0;
        for (const cache::server::CodeName& e : c.list) {
            if (!c.only.isEmpty() && !c.only.contains(e.code)) continue;
            ++choosable;
            cache::server::Selection sel = base;
            sel[c.dim] = e.code;
            if (c.dim <= 1)
                sel[2].clear(); // a new main department or profit centre refills the departments
            const cache::server::Sums sum = store.rawSum(1, 11901, 12403, sel);
            if (sum.umsatz == 0 && sum.kosten == 0)
                withoutFigures << e.code + QLatin1Char(' ') + e.name;
            else
                want << c.prefix + QLatin1String(c.label) + e.code + QLatin1Char(' ') + e.name;
        }
        const QString pdf = env.path(QStringLiteral("mappe-%1-%2.pdf").arg(c.user, c.each));
        const QString user = QLatin1String(c.user);
        const QStringList login{"--server",   s.server,
                                "--user",     user,
                                "--password", user == QLatin1String("DEMO") ? "demo" : "abt"};
        const Outcome r = env.inProcess(
            login + c.args + QStringList{"--today", kMarchDay, "--each", c.each, "--book", pdf});
        ASSERT_EQ(r.code, 0) << what << "\n" << r.err.toStdString();
        EXPECT_FALSE(r.wroteJson) << what;
        EXPECT_EQ(testsupport::pdfSelectionLines(pdf), want) << what;
        EXPECT_FALSE(withoutFigures.isEmpty() && c.only.isEmpty()) << what << ": nothing left out";
        for (const QString& entry : withoutFigures)
            EXPECT_TRUE(r.err.contains(QLatin1Char(' ') + entry + QStringLiteral(": keine Werte")))
                << what << " " << entry.toStdString() << "\n"
                << r.err.toStdString();
        // Progress names the page and the most pages still possible; the
        // lists never refuse an entry they offered.
        EXPECT_TRUE(
            r.err.contains(QStringLiteral("Seite 1 von %1: die Auswahl").arg(1 + choosable)))
            << what << "\n"
            << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("Berichtsmappe mit %1 Seiten").arg(want.size())))
            << what;
        EXPECT_FALSE(r.err.contains(QStringLiteral("Sie dürfen nur"))) << what;
    }

    // A restricted user gets no book of profit centres, as no profit centre.
    const Outcome pc = env.inProcess(QStringList{"--server", s.server, "--user", "ABTLEITER",
                                                 "--password", "abt", "--abt", "M2", "--each", "pc",
                                                 "--book", env.path(QStringLiteral("pc.pdf"))});
    EXPECT_EQ(pc.code, 1);
    EXPECT_TRUE(pc.err.contains(QStringLiteral("--each pc"))) << pc.err.toStdString();
    EXPECT_FALSE(QFile::exists(env.path(QStringLiteral("pc.pdf"))));
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

    // The page names the selection from this server's lists.
    const QString png = env.path(QStringLiteral("pg.png"));
    const QString json = env.path(QStringLiteral("pg.json"));
    const Outcome page = env.inProcess(demoArgs(TestEngine::Postgres) +
                                       QStringList{"--hg", "20", "--png", png, "--json", json});
    ASSERT_EQ(page.code, 0) << page.err.toStdString();
    QFile f(json);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    auto db = site(TestEngine::Postgres).db->open();
    cache::server::Store store(*db);
    const std::optional<QString> group = nameIn(store.mainGroups(1), QStringLiteral("20"));
    ASSERT_TRUE(group);
    EXPECT_EQ(selectionLineOf(readJson(f.readAll())),
              QStringLiteral("HG:20 ") + *group + QLatin1Char(' '));
    EXPECT_GT(lookAt(png, 150).redInGraph, 10);
}

} // namespace
