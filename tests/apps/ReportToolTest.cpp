// The headless report tool: its options as tables over the parser, and a few
// runs, in-process and through the binary, that show the login, the query,
// the page, the files and the report book fit together.

#include "ReportTool.h"

#include "platform/cache/server/ServerFactory.h"
#include "report/Page.h"
#include "report/Series.h"
#include "retrieval/DetailQuery.h"
#include "support/DemoSite.h"
#include "support/HookedFactory.h"
#include "support/PdfText.h"
#include "support/Process.h"
#include "values/ValueStore.h"

#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <optional>

using testsupport::TestEngine;

namespace {

// Two completed months of the current year (the demo data end in March
// 2024), so the current-year curve has a segment.
const QString kMarchDay = QStringLiteral("2024-03-20");

testsupport::DemoSite& site() {
    return testsupport::demoSite(TestEngine::Sqlite, QStringLiteral("report"), 20000);
}

// Its sales lines and lists, to work out what a run must show.
cache::server::Store& demo() {
    static const auto db = site().db->open();
    static cache::server::Store store(*db);
    return store;
}

QJsonObject readJson(const QByteArray& bytes) {
    QJsonParseError e{};
    const QJsonDocument d = QJsonDocument::fromJson(bytes, &e);
    EXPECT_EQ(e.error, QJsonParseError::NoError) << e.errorString().toStdString();
    return d.object();
}

struct Outcome {
    int code = -1;
    QString out, err;
    QJsonObject json; // of the --json file
    bool wroteJson = false;
};

// Runs get "--json FILE" added unless their arguments name an output.
class ReportEnv {
public:
    // Never the embedded database of whoever runs the tests.
    ReportEnv() { noSettings_.values.insert("Server", path(QStringLiteral("keine.sqlite"))); }
    QString path(const QString& name) const { return dir_.filePath(name); }

    Outcome inProcess(QStringList args, const std::optional<QString>& envPassword = {},
                      platform::SettingsStore* settings = nullptr, srv::FactoryMaker maker = {}) {
        Outcome r;
        QTextStream o(&r.out), e(&r.err);
        reporttool::ReportContext ctx{
            settings ? *settings : noSettings_, o, e, envPassword, std::move(maker), {}};
        r.code = reporttool::run(withOutput(args), ctx);
        QFile f(args.value(args.indexOf(QStringLiteral("--json")) + 1));
        r.wroteJson = args.contains(QStringLiteral("--json")) && f.open(QIODevice::ReadOnly);
        if (r.wroteJson) r.json = readJson(f.readAll());
        return r;
    }

private:
    const QStringList& withOutput(QStringList& args) {
        for (const char* o : {"--json", "--pdf", "--png", "--svg", "--csv", "--details", "--book"})
            if (args.contains(QLatin1String(o))) return args;
        return args << "--json" << path(QStringLiteral("run%1.json").arg(++runs_));
    }
    QTemporaryDir dir_;
    platform::MemorySettingsStore noSettings_;
    int runs_ = 0;
};

QStringList loginArgs(const QString& user, const QString& password,
                      const testsupport::DemoSite& s = site()) {
    return {QStringLiteral("--server"), s.server, QStringLiteral("--port"),     s.port,
            QStringLiteral("--user"),   user,     QStringLiteral("--password"), password};
}

QStringList demoArgs() {
    return loginArgs("DEMO", "demo") + QStringList{"--today", kMarchDay};
}

cache::server::Selection selection(std::initializer_list<std::pair<int, const char*>> codes) {
    cache::server::Selection s;
    for (const auto& [dim, code] : codes)
        s[dim] = QLatin1String(code);
    return s;
}

// The JSON's PeriodValues in a store; null cells stay empty.
values::PeriodValueStore storeOf(const QJsonObject& j) {
    values::PeriodValueStore s;
    s.MonthYearValues.dimension(1, 12, 1, 6);
    const QJsonArray rows = j["PeriodValues"].toArray();
    s.PeriodValues.dimension(1, int(rows.size()), 1, 2);
    for (int r = 0; r < rows.size(); ++r)
        for (int c = 0; c < 2; ++c)
            if (rows[r][c].isDouble()) s.PeriodValues.at(r + 1, c + 1) = rows[r][c].toDouble();
    return s;
}

// A table as the JSON holds it: every row of its range, null for no value.
QJsonArray asJson(const values::Table& t, int first, int last, int columns) {
    QJsonArray rows;
    for (int r = first; r <= last; ++r) {
        QJsonArray row;
        for (int c = 1; c <= columns; ++c)
            row.append(t.hasCells() && r >= t.firstRow() && r <= t.lastRow() && !t(r, c).isEmpty()
                           ? QJsonValue(t(r, c).value())
                           : QJsonValue());
        rows.append(row);
    }
    return rows;
}

// Every slot of `j` against the sales lines of its month for a clock in
// 2024; the slots after the `fetched` ones are empty.
void expectSalesLines(const QJsonObject& j, const cache::server::Selection& sel, int fetched) {
    const QJsonArray pv = j["PeriodValues"].toArray();
    ASSERT_EQ(pv.size(), 72);
    bool someFigure = false;
    for (int slot = 1; slot <= 72; ++slot) {
        const QJsonValue u = pv[slot - 1][0], m = pv[slot - 1][1];
        if (slot > fetched) {
            EXPECT_TRUE(u.isNull() && m.isNull()) << "slot " << slot << " after the clock month";
            continue;
        }
        const int period = testsupport::slotPeriod(slot);
        const cache::server::Sums s = demo().rawSum(1, period, period, sel);
        ASSERT_TRUE(u.isDouble() && m.isDouble()) << "slot " << slot;
        EXPECT_DOUBLE_EQ(u.toDouble(), double(s.umsatz) / 100) << "Umsatz " << period;
        EXPECT_DOUBLE_EQ(m.toDouble(), double(s.umsatz - s.kosten) / 100) << "DB " << period;
        someFigure = someFigure || s.umsatz != 0;
    }
    EXPECT_TRUE(someFigure) << "the selection matches no sales line at all";
}

// The texts on the page, in drawing order.
QStringList pageTexts(const QJsonObject& j) {
    QStringList out;
    for (const QJsonValue& v : j["page"].toArray())
        if (v["kind"].toString() == QLatin1String("text")) out << v["text"].toString();
    return out;
}

// The header's selection line: the text box drawn right after the title.
QString selectionLineOf(const QJsonObject& j) {
    const QStringList t = pageTexts(j);
    EXPECT_TRUE(t.contains(QStringLiteral("Tallvero")));
    return t.value(t.indexOf(QStringLiteral("Tallvero")) + 1);
}

QString nameIn(const QList<cache::server::CodeName>& list, const QString& code) {
    for (const cache::server::CodeName& c : list)
        if (c.code == code) return c.name;
    ADD_FAILURE() << "no entry " << code.toStdString();
    return {};
}

// The lines of a CSV the tool wrote: byte order mark, CRLF after each line.
QStringList csvLines(const QString& file) {
    QFile f(file);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly)) << file.toStdString();
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    QStringList lines = QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"));
    EXPECT_TRUE(lines.last().isEmpty());
    lines.removeLast();
    return lines;
}

using Kind = reporttool::ParseResult::Kind;

// Arguments written as one line; "~" is a blank inside a value.
QStringList words(const char* line) {
    return QString::fromUtf8(line).split(' ', Qt::SkipEmptyParts).replaceInStrings("~", " ");
}

// One row per rule: the arguments, after "--user demo --password SECRET"
// unless they start with "!", and the fields of optionsJson() they give or
// the words of the usage error.
TEST(ReportOptions, Rules) {
    platform::MemorySettingsStore none, st, blank;
    st.values = {{"Server", "db.example"},
                 {"Port", "5433"},
                 {"Firma", "2"},
                 {"Filiale", "3"},
                 {"Name", "abtleiter"}};
    blank.values = {{"Name", "zwei worte"}};
    const platform::SettingsStore* stores[] = {&none, &st, &blank};
    const QString secret = QStringLiteral("Geh31m-xq");
    struct Row {
        const char* args;
        const char* want;
        int store = 0;             // the settings: none, some, a user name with a blank
        const char* env = nullptr; // TALLVERO_PASSWORD
        const char* password = "Geh31m-xq";
    };
    // clang-format off
    const Row rows[] = {
        {"--json -", R"({"server":"embedded","port":"1972","firma":"1","filiale":"0","user":"DEMO","json":"-","graph":"jahresmittel","table":"mittel","year":"kj","extended":false,"styp":null,"skonto":false,"today":null,"png":null,"dpi":null,"details":null})"},
        {"!--password x --json -", R"({"server":"db.example","port":"5433","firma":"2","filiale":"3","user":"ABTLEITER"})", 1, nullptr, "x"},
        {"--json - --server other --port 1 --firma 7 --filiale 0", R"({"server":"other","port":"1","firma":"7","filiale":"0","user":"DEMO"})", 1},
        {"!--user demo --json -", R"({"user":"DEMO"})", 0, "env", "env"},
        {"--json -", R"({"user":"DEMO"})", 0, "env"},
        {"--json - --habt 10 --abt=M2 --hg 30 --ug 3001 --pc 1 --hkg p --hvart S --graph absolut --table=Vorjahr --year wj --db-percent --today 2024-01-15", R"({"habt":"10","abt":"M2","hg":"30","ug":"3001","pc":"1","hkg":"P","hvart":"S","graph":"absolut","table":"vorjahr","year":"wj","db-percent":true,"today":"2024-01-15"})"},
        {"--json - --graph quartal --table kumuliert --hkg= --today 1906-01-01", R"({"graph":"quartal","table":"kumuliert","hkg":null,"today":"1906-01-01"})"},
        {"--json - --extended --styp w --vart 01 --skonto", R"({"extended":true,"styp":"W","vart":"01","skonto":true})"},
        {"--json - --extended", R"({"extended":true,"styp":"A","vart":null,"skonto":false})"},
        {"--png s.png", R"({"json":null,"png":"s.png","dpi":150})"},
        {"--pdf s.pdf --svg=s.svg --csv s.csv --png s.png --dpi 30", R"({"pdf":"s.pdf","svg":"s.svg","csv":"s.csv","dpi":30})"},
        {"--png s.png --dpi 1200", R"({"dpi":1200})"},
        {"--details d.csv", R"({"details":"d.csv","split":"hkg","jahr":0,"monat":null,"gruppierung":"habt"})"},
        {"--details d.csv --split none --jahr 1 --monat 12 --gruppierung PC", R"({"split":"none","jahr":1,"monat":12,"gruppierung":"pc"})"},
        {"--book m.pdf --each ABT", R"({"book":"m.pdf","each":"abt","json":null})"},
        {"--json x.json --farbe rot", "Unbekannte Option --farbe"},
        {"--json x.json --habt --abt M2", "--habt braucht einen Wert"},
        {"--json", "--json braucht einen Wert"},
        {"", "Keine Ausgabe angegeben"},
        {"--json x.json --graph kreis", "Ungültiger Wert „kreis“ für --graph"},
        {"--json x.json --hkg X", "--hkg (erlaubt: P, G)"},
        {"--json x.json --styp L", "--styp gilt nur zusammen mit --extended"},
        {"--json x.json --extended=ja", "--extended erwartet keinen Wert"},
        {"--json x.json --today 2024-02-30", "Ungültiges Datum „2024-02-30“"},
        {"--json x.json --today 1905-12-31", "liegt vor 1906"},
        {"--json x.json --port abc", "--port: eine ganze Zahl erwartet"},
        {"--json x.json --port 70000", "Ungültiger Port „70000“"},
        {"--json x.json --server=", "--server braucht einen Wert"},
        {"--json x.json --server zwei~worte", "Leerzeichen sind nicht erlaubt"},
        {"--json x.json --ug 30~01", "Ungültiger Code „30 01“ für --ug"},
        {"--json x.json --abt M2`x", "Ungültiger Code „M2`x“ für --abt"},
        {"--json x.json --password a\tb", "keine Leerzeichen"},
        {"--json x.json Geh31m-xq", "Stelle 7"},
        {"--json x.json --png a.png --dpi 29", "Ungültige Auflösung „29“"},
        {"--json x.json --dpi 100", "--dpi gilt nur zusammen mit --png"},
        {"--json x.json --each abt", "--each gilt nur zusammen mit --book"},
        {"--book m.pdf", "--book braucht --each pc|habt|abt|hg|ug"},
        {"--json x.json --book m.pdf --each abt", "nicht zusammen mit --json"},
        {"--pdf -", "--pdf braucht einen Dateinamen"},
        {"--csv=", "--csv braucht einen Wert"},
        {"--png a.png --svg ./a.png", "--png und --svg"},
        {"--details d.csv --monat 13", "Ungültiger Monat „13“"},
        {"--details d.csv --jahr 2 --monat 4", "nur für --jahr 0 oder 1"},
        {"--json x.json --monat 4", "--monat gilt nur zusammen mit --details"},
        {"!--password x --json -", "Kein Benutzer angegeben"},
        {"!--user DEMO --json -", "Kein Passwort angegeben"},
        {"!--password x --json -", "--user (aus den Einstellungen)", 2},
    };
    // clang-format on
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args);
        const std::optional<QString> env =
            row.env ? std::optional<QString>(QLatin1String(row.env)) : std::nullopt;
        const QStringList args =
            row.args[0] == '!'
                ? words(row.args + 1)
                : QStringList{"--user", "demo", "--password", secret} + words(row.args);
        const auto r = reporttool::parseArguments(args, *stores[row.store], env);
        if (row.want[0] != '{') {
            EXPECT_EQ(r.kind, Kind::Usage);
            EXPECT_TRUE(r.error.contains(QString::fromUtf8(row.want))) << r.error.toStdString();
            EXPECT_FALSE(r.error.contains(secret));
            continue;
        }
        ASSERT_EQ(r.kind, Kind::Run) << r.error.toStdString();
        EXPECT_EQ(r.options.password, QLatin1String(row.password));
        const QJsonObject j = reporttool::optionsJson(r.options);
        EXPECT_FALSE(j.contains(QStringLiteral("password")));
        const QJsonObject want = readJson(row.want);
        for (auto it = want.begin(); it != want.end(); ++it)
            EXPECT_EQ(j.value(it.key()), it.value()) << it.key().toStdString();
    }
    // Help and version come before any check of the rest.
    for (const auto& [args, kind] :
         {std::pair{"--farbe --help", Kind::Help}, std::pair{"-h", Kind::Help},
          std::pair{"--version x", Kind::Version}})
        EXPECT_EQ(reporttool::parseArguments(words(args), none, std::nullopt).kind, kind);
}

TEST(ReportRun, AFailedFetchWritesTheMonthsFetchedSoFar) {
    ReportEnv env;
    testsupport::QueryHook hook;
    hook.watches = [](const QString& q) { return q == QLatin1String("PeriodenSumme"); };
    hook.budget = 10;
    hook.failure = cache::CacheError(cache::err::NotConnected, "Verbindung verloren");
    const Outcome r = env.inProcess(demoArgs(), {}, nullptr, [&] {
        return std::make_unique<testsupport::HookedFactory>(hook);
    });
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.json["fetch"].toObject(),
              readJson(R"({"months":10,"result":"failed","failedPeriod":"11911","errorNumber":)" +
                       QByteArray::number(cache::err::NotConnected) +
                       R"(,"error":"Verbindung verloren"})"));
    EXPECT_TRUE(r.err.contains(QStringLiteral("Caché Zugriffsfehler")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("Abbruch bei Periode 11911 nach 10 Monaten")));
    expectSalesLines(r.json, {}, 10);
}

// A code the list lacks stays bare, and without a main group there is no
// sub group list either. With the connection and the user from the settings:
// the extended selection's texts, its Skonto/Nachlass figures, and the graph
// values of "DB in % von Umsatz".
TEST(ReportRun, TheSelectionLineAndTheExtendedSelection) {
    ReportEnv env;
    // A file that cannot be written fails the run; the others are written.
    const QString png = env.path("gut.png"), pdf = env.path("fehlt/seite.pdf");
    Outcome r = env.inProcess(demoArgs() + words("--hg 99 --ug 3002 --dpi 30 --json") +
                              QStringList{env.path("x.json"), "--pdf", pdf, "--png", png});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains("Die Datei „" + pdf + "“ kann nicht geschrieben werden"))
        << r.err.toStdString();
    EXPECT_FALSE(QFile::exists(pdf));
    EXPECT_EQ(QImage(png).width(), int(std::lround(297 / 25.4 * 30)));
    EXPECT_EQ(selectionLineOf(r.json), QStringLiteral("HG:99 UG:3002 "));
    // The connection and the user from the settings, which stay unchanged.
    platform::MemorySettingsStore st;
    st.values = {{"Server", site().server}, {"Name", "DEMO"}, {"Firma", "1"}};
    r = env.inProcess(
        words("--hvart L --extended --vart 01 --styp L --skonto --db-percent --today 2024-03-20"),
        QStringLiteral("demo"), &st);
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(st.values.size(), 3);
    values::PeriodValueStore s = storeOf(r.json), amounts = s;
    values::AbsolutMittel(s, 3, true); // "DB in % von Umsatz"
    values::AbsolutMittel(amounts, 3, false);
    EXPECT_EQ(r.json["GraphValues"].toArray(), asJson(s.GraphValues, 1, 12, 6));
    EXPECT_NE(asJson(s.GraphValues, 1, 12, 6), asJson(amounts.GraphValues, 1, 12, 6));
    EXPECT_EQ(selectionLineOf(r.json),
              "SVArt:01 " + nameIn(demo().shippingTypes(1, "L"), "01") + " STyp:L Lager Artikel ");
    const auto sums = demo().rawSum(1, 12403, 12403, selection({{6, "L"}, {7, "01"}, {8, "L"}}));
    ASSERT_NE(sums.skonto, sums.umsatz);
    EXPECT_NEAR(r.json["PeriodValues"][62][0].toDouble(), double(sums.skonto) / 100, 1e-6);
    EXPECT_NEAR(r.json["PeriodValues"][62][1].toDouble(), double(sums.nachlass) / 100, 1e-6);
}

// The binary, without a display or a Qt platform set, with the password
// from the environment: the period values are the sales lines, the other tables and the axes those
// of the one redraw after the fetch; the JSON on stdout, the page and its value table in the files.
TEST(ReportFiles, TheBinaryWritesTheTablesThePageAndTheCsv) {
    ReportEnv env;
    const QString png = env.path("seite.png"), pdf = env.path("seite.pdf"),
                  svg = env.path("seite.svg"), csv = env.path("tabelle.csv");
    QStringList args = demoArgs();
    args.remove(args.indexOf(QStringLiteral("--password")), 2);
    const testsupport::ProcessRun r = testsupport::runProcess(
        QStringLiteral(TALLVERO_REPORT_BIN),
        args + QStringList{"--hg", "20", "--png", png, "--dpi", "50", "--pdf", pdf, "--svg", svg,
                           "--csv", csv, "--json", "-"},
        testsupport::ownHomeEnvironment(env.path({}), QStringLiteral("demo")));
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(r.errText().contains("63 Monate geholt, geschrieben: „" + csv + "“, „" + pdf +
                                     "“, „" + png + "“, „" + svg + "“."))
        << r.err.toStdString();
    const QJsonObject j = readJson(r.out);
    // March: five years and three months.
    EXPECT_EQ(j["fetch"].toObject(), readJson(R"({"months":63,"result":"done",
        "failedPeriod":null,"errorNumber":null,"error":null})"));
    expectSalesLines(j, selection({{3, "20"}}), 63);

    // The derived tables in their full index ranges, computed here.
    values::PeriodValueStore s = storeOf(j);
    values::AbsolutMittel(s, 3, false);
    EXPECT_EQ(j["MonthYearValues"].toArray(), asJson(s.MonthYearValues, 1, 12, 6));
    EXPECT_EQ(j["CumulativeValues"].toArray(), asJson(s.CumulativeValues, 0, 12, 6));
    EXPECT_EQ(j["GraphValues"].toArray(), asJson(s.GraphValues, 1, 12, 6));
    const QString footer = "Gedruckt durch: " + j["user"]["name"].toString() + " am 20.03.2024";
    EXPECT_FALSE(pageTexts(j).filter(footer).isEmpty()) << footer.toStdString();
    // The axes are those of the GraphValues, two months completed.
    QJsonArray axes;
    for (int panel = 1; panel <= 2; ++panel) {
        qint32 max = 0, min = 0;
        report::ComputeAxisRange(s, panel * 3 - 2, panel * 3, 2, max, min);
        int n = 0;
        double v = 0;
        report::StepRule(max, min, n, v);
        axes.append(
            QJsonObject{{"panel", panel}, {"AxisMin", min}, {"AxisMax", max}, {"N", n}, {"V", v}});
    }
    EXPECT_EQ(j["axes"].toArray(), axes);

    EXPECT_EQ(QImage(png).size(), QSize(585, 413));
    EXPECT_EQ(testsupport::pdfSelectionLines(pdf),
              QStringList{"HG:20 " + nameIn(demo().mainGroups(1), "20")});
    QFile svgFile(svg);
    EXPECT_TRUE(svgFile.open(QIODevice::ReadOnly) && svgFile.readAll().contains("<svg"));
    // The CSV: the title of the default table mode and the month names, then
    // each series' label and its cells as the page shows them.
    const QStringList lines = csvLines(csv);
    ASSERT_EQ(lines.size(), 7);
    EXPECT_TRUE(
        lines[0].startsWith("in % v. " + report::YearWord(2, 0, 2024) + ";Jänner;Februar;"));
    s.TableMode = 2;
    for (int series = 1; series <= 6; ++series) {
        QStringList want{report::SeriesLabel(series - 1, 0, 2024)};
        for (int m = 1; m <= 12; ++m)
            want << report::ValueCellText(s, {}, m, series);
        EXPECT_EQ(lines[series], want.join(';'));
    }
}

// The details list: the total, then a row per department of main
// department 10, each the raw lines of the previous year; with nothing
// chosen, "--gruppierung pc" answers the grouping question with Yes.
TEST(ReportFiles, TheDetailsCsvHoldsTheGroupsBelowTheSelection) {
    ReportEnv env;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const QString csv = env.path(QStringLiteral("details.csv"));
    Outcome r = env.inProcess(demoArgs() + QStringList{"--habt", "10", "--details", csv, "--split",
                                                       "hvart", "--jahr", "1"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    QStringList l = csvLines(csv);
    ASSERT_GE(l.size(), 3);
    EXPECT_TRUE(r.err.contains(QStringLiteral("%1 Zeilen Details.").arg(l.size() - 1)));
    EXPECT_EQ(l[0], QStringLiteral("Grp;L Umsatz;L DB;S Umsatz;S DB"));
    for (int i = 1; i < l.size(); ++i) {
        const QStringList f = l[i].split(QLatin1Char(';'));
        auto sel = selection({{1, "10"}, {6, "L"}});
        sel[2] = f[0]; // empty in the total row
        EXPECT_EQ(QLocale().toLongLong(f.value(1)),
                  retrieval::roundedShare(demo().rawSum(1, 12301, 12312, sel).umsatz / 100.0, 1))
            << l[i].toStdString();
    }
    r = env.inProcess(demoArgs() + QStringList{"--details", csv, "--split", "none", "--gruppierung",
                                               "pc", "--monat", "2"});
    ASSERT_EQ(r.code, 0) << r.err.toStdString();
    l = csvLines(csv);
    ASSERT_EQ(l.size(), 5); // header, total, three profit centres
    EXPECT_EQ(l[0], QStringLiteral("Grp;Umsatz;DB"));
    EXPECT_TRUE(l[2].startsWith(QStringLiteral("1;")));
}

// Every way a run ends before the query: code 1, the reason, no file, and
// never the password.
TEST(ReportLogin, RefusalsBeforeTheQuery) {
    ReportEnv env;
    // User and password, the further options, the message.
    const char* const cases[][3] = {
        {"DEMO falsch-7Qz", "", "Passwort Falsch oder Benutzer nicht Aktiv."},
        {"GAST gast", "", "Sie haben keine Berchtigung für dieses Programm."},
        // What the desktop client does not let a restricted user choose.
        {"ABTLEITER abt", "--habt 20", "--habt 20: "},
        {"ABTLEITER abt", "--abt MA --table vorjahr", "--table vorjahr: Diese Darstellung"},
        {"ABTLEITER abt", "--abt M2 --each pc --book pc.pdf", "--each pc: Sie dürfen kein"},
        // A PostgreSQL host where nothing listens: the reason after the retries.
        {"DEMO x", "--server 127.0.0.1 --port 1", "Server.\nVerbindung zu PostgreSQL 127.0.0.1:1/"},
    };
    for (const auto& [user, options, message] : cases) {
        SCOPED_TRACE(std::string(user) + " " + options);
        const QStringList login = words(user);
        QStringList args = words(options);
        args.replaceInStrings(QStringLiteral("pc.pdf"), env.path(QStringLiteral("pc.pdf")));
        const Outcome r = env.inProcess(loginArgs(login[0], login[1]) + args);
        EXPECT_EQ(r.code, 1);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(message))) << r.err.toStdString();
        EXPECT_FALSE(r.err.contains(QStringLiteral("falsch-7Qz")));
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_FALSE(r.wroteJson);
    }
    EXPECT_FALSE(QFile::exists(env.path(QStringLiteral("pc.pdf"))));
}

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

// A page for the selection, then one per entry of the list the user may
// choose whose sales lines hold a figure in the six years, in list order.
TEST(ReportBook, APagePerEntryWithFiguresInTheListsOrder) {
    testsupport::DemoSite& s = bookSite();
    auto db = s.db->open();
    cache::server::Store store(*db);
    const QStringList labels{"PC:", "HABT:", "ABT:", "HG:", "UG:"};
    const auto line = [&](int dim, const QList<cache::server::CodeName>& list, const char* code) {
        return labels[dim] + code + ' ' + nameIn(list, code);
    };
    const QString M2 = line(2, store.departments(1), "M2"),
                  HG20 = line(3, store.mainGroups(1), "20"),
                  HABT10 = line(1, store.mainDepartments(1), "10");
    const auto abt10 = store.departmentsOfMainDepartment(1, "10");
    const auto ug20 = store.subGroups(1, "20");
    const QString UG2002 = HG20 + ' ' + line(4, ug20, "2002");
    const struct {
        const char* user; // and the password
        const char* args; // the selection and --each
        QList<cache::server::CodeName> list;
        QString first, prefix; // page 1's line, what the entry pages show before the entry
        QStringList only;      // a restricted user's choosable codes
    } cases[] = {
        {"DEMO demo", "--each pc", store.profitCentres(1), {}, {}, {}},
        {"DEMO demo", "--each habt", store.mainDepartments(1), {}, {}, {}},
        {"DEMO demo", "--habt 10 --each abt", abt10, HABT10, {}, {}},
        {"DEMO demo", "--abt M2 --each hg", store.mainGroups(1), M2, M2 + ' ', {}},
        {"DEMO demo", "--hg 20 --ug 2002 --each ug", ug20, UG2002, HG20 + ' ', {}},
        // Only the departments the own one may see, only the own main department.
        {"ABTLEITER abt", "--habt 10 --each abt", abt10, HABT10, {}, {"M2", "MA", "MF"}},
        {"ABTLEITER abt", "--abt M2 --each habt", store.mainDepartments(1), M2, {}, {"10"}},
    };
    ReportEnv env;
    for (const auto& c : cases) {
        const QStringList args = words(c.args), login = words(c.user);
        SCOPED_TRACE(std::string(c.user) + " " + c.args);
        const int dim = int(labels.indexOf(args.last().toUpper() + ':')); // of --each
        cache::server::Selection base;
        for (qsizetype i = 0; i + 3 < args.size(); i += 2)
            base[int(labels.indexOf(args[i].mid(2).toUpper() + ':'))] = args[i + 1];
        QStringList want{c.first}, withoutFigures;
        for (const cache::server::CodeName& e : c.list) {
            if (!c.only.isEmpty() && !c.only.contains(e.code)) continue;
            cache::server::Selection sel = base;
            sel[dim] = e.code;
            if (dim <= 1) sel[2].clear(); // a new main department refills the departments
            const cache::server::Sums sum = store.rawSum(1, 11901, 12403, sel);
            if (sum.umsatz == 0 && sum.kosten == 0)
                withoutFigures << e.code + ' ' + e.name;
            else
                want << c.prefix + labels[dim] + e.code + ' ' + e.name;
        }
        const QString pdf = env.path(QStringLiteral("mappe-%1.pdf").arg(login[0] + args.join('_')));
        const Outcome r = env.inProcess(loginArgs(login[0], login[1], s) +
                                        QStringList{"--today", kMarchDay, "--book", pdf} + args);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_EQ(testsupport::pdfSelectionLines(pdf), want);
        EXPECT_FALSE(withoutFigures.isEmpty() && c.only.isEmpty()) << "nothing left out";
        for (const QString& entry : withoutFigures)
            EXPECT_TRUE(r.err.contains(' ' + entry + ": keine Werte")) << entry.toStdString();
        // Progress names the page and the most pages still possible; the
        // lists never refuse an entry they offered.
        const qsizetype offered = want.size() + withoutFigures.size();
        EXPECT_TRUE(r.err.contains(QStringLiteral("Seite 1 von %1: die Auswahl").arg(offered)))
            << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("Berichtsmappe mit %1 Seiten").arg(want.size())));
        EXPECT_FALSE(r.err.contains(QStringLiteral("Sie dürfen nur")));
    }
}

} // namespace
