// The server contract, run against SQLite and PostgreSQL alike: every call
// the client makes, answered from a real database filled with demo data.

#include "support/TestDatabase.h"

#include "platform/cache/ConnectString.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "platform/cache/server/Text.h"

#include <QDate>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QSqlQuery>
#include <QSqlRecord>

#include <gtest/gtest.h>

#include <map>
#include <random>

using namespace cache;
using namespace cache::server;
using testsupport::TestEngine;

namespace {

constexpr int kUntil = 12403;  // demo sales end in March 2024

struct Line {
    int periode;
    qint64 firma;
    std::array<QString, kDimCount> dim;
    qint64 umsatz, kosten, skonto, nachlass;
};

// One demo database per engine, shared by the read-only tests.
struct Shared {
    std::unique_ptr<testsupport::TestDatabase> db;
    std::vector<Line> lines;
};

Shared& shared(TestEngine e) {
    static std::map<TestEngine, Shared> all;
    Shared& s = all[e];
    if (!s.db) {
        s.db = testsupport::makeTestDatabase(e, QStringLiteral("contract"));
        auto d = s.db->open();
        Store store(*d);
        DemoOptions o;
        o.seed = 7;
        o.lines = 30000;
        o.untilYear = 2024;
        o.untilMonth = 3;
        generateDemo(store, o);
        // The raw lines, to check sums computed away from SQL.
        QSqlQuery q(d->handle());
        q.setForwardOnly(true);
        q.exec(QStringLiteral("SELECT periode, firma, pcnr, habtnr, abtnr, hgrp, ugrp, hkgrp, "
                              "hvart, vart, styp, umsatz, kosten, skonto, nachlass FROM sales_line"));
        while (q.next()) {
            Line l;
            l.periode = q.value(0).toInt();
            l.firma = q.value(1).toLongLong();
            for (int i = 0; i < kDimCount; ++i)
                l.dim[size_t(i)] = q.value(2 + i).toString();
            l.umsatz = q.value(11).toLongLong();
            l.kosten = q.value(12).toLongLong();
            l.skonto = q.value(13).toLongLong();
            l.nachlass = q.value(14).toLongLong();
            s.lines.push_back(l);
        }
    }
    s.db->activate();
    return s;
}

Sums expected(const std::vector<Line>& lines, qint64 firma, int from, int to, const Selection& sel) {
    Sums s;
    for (const Line& l : lines) {
        if (l.firma != firma || l.periode < from || l.periode > to)
            continue;
        bool ok = true;
        for (int i = 0; i < kDimCount && ok; ++i)
            ok = sel[i].isEmpty() || sel[i] == l.dim[size_t(i)];
        if (!ok)
            continue;
        s.umsatz += l.umsatz;
        s.kosten += l.kosten;
        s.skonto += l.skonto;
        s.nachlass += l.nachlass;
    }
    return s;
}

qint64 cents(const QString& text) {
    qint64 c = 0;
    EXPECT_TRUE(textToCents(text, &c)) << text.toStdString();
    return c;
}

QStringList rowsOf(CacheQuery& q, int columns = 2) {
    QStringList out;
    while (q.next()) {
        QStringList r;
        for (int i = 1; i <= columns; ++i)
            r << q.column(i);
        out << r.join(QLatin1Char('|'));
    }
    return out;
}

int errorNumber(const std::function<void()>& f) {
    try {
        f();
    } catch (const CacheError& e) {
        EXPECT_FALSE(e.description().isEmpty());
        return e.number();
    }
    return 0;
}

class Contract : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        data = &shared(GetParam());
        ASSERT_TRUE(data->db->connect(factory)) << factory.lastConnectError().toStdString();
        ASSERT_TRUE(factory.isConnected());
    }

    QString xecute(const QString& line) {
        auto h = factory.classHandle(QStringLiteral("ZK.Windows"));
        const QString r = h->call(QStringLiteral("Xecute"), {line});
        h->SYS_Close();
        return r;
    }
    void login() { xecute(QStringLiteral("S FIRMA=1,FIL=0,PERSONAL=\"DEMO\"")); }

    std::unique_ptr<CacheQuery> run(const char* cls, const char* name, const QStringList& args) {
        auto q = factory.query(QLatin1String(cls), QLatin1String(name));
        q->execute(args);
        return q;
    }

    Shared* data = nullptr;
    ServerFactory factory;
};

TEST_P(Contract, XecuteSessionVariablesAndGlobals) {
    // Master data routines need the session's company.
    EXPECT_EQ(errorNumber([&] { xecute(QStringLiteral("d HGRP^ZKCLSU")); }), err::Undefined);
    EXPECT_EQ(xecute(QStringLiteral("S FIRMA=1,FIL=0,PERSONAL=\"DEMO\"")), QString());
    EXPECT_EQ(xecute(QStringLiteral("D ^%XTT")), QString());
    EXPECT_EQ(xecute(QStringLiteral("d ^%XTT")), QString());
    EXPECT_EQ(xecute(QStringLiteral("S P0=$P(^FA(0),\"`\",2) W P0")), QStringLiteral("03"));

    const QString built = xecute(QStringLiteral("S P0=^XWGDAT W P0"));
    const QStringList f = built.split(QLatin1Char('`'));
    ASSERT_EQ(f.size(), 2) << built.toStdString();
    EXPECT_EQ(f[0], QString::number(kUntil));
    // The day number of the build: digits of year - 1900, month, day.
    const int n = f[1].toInt();
    const QDate d(n / 10000 + 1900, (n / 100) % 100, n % 100);
    EXPECT_TRUE(d.isValid());
    EXPECT_LE(qAbs(d.daysTo(QDate::currentDate())), 1);
}

TEST_P(Contract, XecuteRoutinesAnswerRowsSplitByCharacter255) {
    login();
    auto split = [](const QString& s) { return s.split(QChar(0xFF)); };
    const QStringList hg = split(xecute(QStringLiteral("d HGRP^ZKCLSU")));
    ASSERT_EQ(hg.size(), 9);
    EXPECT_EQ(hg.first(), QStringLiteral("10`Sanitärkeramik"));  // names as they are
    for (const QString& r : hg)
        EXPECT_EQ(r.count(QLatin1Char('`')), 1) << r.toStdString();

    const QStringList abt = split(xecute(QStringLiteral("d ABTNR^ZKCLSU")));
    EXPECT_EQ(abt.size(), 20);
    EXPECT_TRUE(abt.contains(QStringLiteral("M2`Heizung")));
    EXPECT_TRUE(abt.contains(QStringLiteral("M1`Sanitär")));

    const QStringList habt = split(xecute(QStringLiteral("d HABT^ZKCLSU")));
    EXPECT_EQ(habt, (QStringList{QStringLiteral("10`Haustechnik"), QStringLiteral("20`Bauen & Wohnen"),
                                 QStringLiteral("30`Werkstatt & Garten"), QStringLiteral("40`Verwaltung")}));

    const QStringList ug = split(xecute(QStringLiteral("d UGRP^ZKCLSU(30)")));
    EXPECT_EQ(ug, (QStringList{QStringLiteral("3001`Kessel"), QStringLiteral("3002`Wärmepumpen"),
                               QStringLiteral("3003`Heizkörper"), QStringLiteral("3004`Fußbodenheizung")}));
    EXPECT_EQ(xecute(QStringLiteral("d UGRP^ZKCLSU(\"30\")")), ug.join(QChar(0xFF)));
    EXPECT_EQ(xecute(QStringLiteral("d UGRP^ZKCLSU(99)")), QString());

    // The second company has its own session.
    xecute(QStringLiteral("S FIRMA=2,FIL=0,PERSONAL=\"DEMO\""));
    EXPECT_EQ(split(xecute(QStringLiteral("d HGRP^ZKCLSU"))).size(), 9);
    xecute(QStringLiteral("S FIRMA=77,FIL=0,PERSONAL=\"DEMO\""));
    EXPECT_EQ(xecute(QStringLiteral("d HGRP^ZKCLSU")), QString());
    // Numbers beyond any whole-number type stay as written: no company.
    // (Under the sanitizer build this also catches the conversion.)
    EXPECT_EQ(xecute(QStringLiteral("S FIRMA=99999999999999999999,FIL=0,PERSONAL=\"DEMO\"")),
              QString());
    EXPECT_EQ(xecute(QStringLiteral("d HGRP^ZKCLSU")), QString());
    xecute(QStringLiteral("S FIRMA=007,FIL=0,PERSONAL=\"DEMO\""));
    EXPECT_EQ(xecute(QStringLiteral("d HGRP^ZKCLSU")), QString());  // company 7 has no groups
    xecute(QStringLiteral("S FIRMA=001,FIL=0,PERSONAL=\"DEMO\""));
    EXPECT_EQ(split(xecute(QStringLiteral("d HGRP^ZKCLSU"))).size(), 9);  // 001 is company 1
}

TEST_P(Contract, XecuteRejectsEveryOtherLine) {
    login();
    const QStringList bad = {
        QString(),
        QStringLiteral("K ^FA"),
        QStringLiteral("S P0=$P(^FA(0),\"`\",3) W P0"),
        QStringLiteral("d HGRP^ZKCLSU(1)"),
        QStringLiteral("d UGRP^ZKCLSU"),
        QStringLiteral("d UGRP^ZKCLSU(1' OR '1'='1)"),
        QStringLiteral("d UGRP^ZKCLSU(\"30\") W 1"),
        QStringLiteral("d FOO^ZKCLSU"),
        QStringLiteral("S FIRMA=2,FIL="),
        QStringLiteral("S FIRMA=1'; DROP TABLE sales_line; --"),
        QStringLiteral("S PERSONAL=\"unterminated"),
        QStringLiteral("W $ZV"),
        QString(5000, QLatin1Char('S')),
        QStringLiteral("S FIRMA=\x01"),
    };
    for (const QString& line : bad)
        EXPECT_EQ(errorNumber([&] { xecute(line); }), err::Syntax) << line.left(60).toStdString();
    // A rejected line changes nothing: the session still belongs to company 1.
    EXPECT_EQ(xecute(QStringLiteral("d HGRP^ZKCLSU")).split(QChar(0xFF)).size(), 9);
    auto h = factory.classHandle(QStringLiteral("ZK.Windows"));
    EXPECT_EQ(errorNumber([&] { h->call(QStringLiteral("Xecute"), {}); }), err::WrongArguments);
    EXPECT_EQ(errorNumber([&] { h->call(QStringLiteral("Run"), {QStringLiteral("x")}); }),
              err::MethodDoesNotExist);
}

TEST_P(Contract, PermissionLevels) {
    auto h = factory.classHandle(QStringLiteral("UserVerwaltung.Programm"));
    auto level = [&](const char* user, const char* part) {
        return h->call(QStringLiteral("Berechtigung"),
                       {QLatin1String(user), QStringLiteral("Tallvero"), QLatin1String(part)});
    };
    EXPECT_EQ(level("DEMO", "alles"), QStringLiteral("1"));
    EXPECT_EQ(level("ABTLEITER", "alles"), QStringLiteral("5"));
    EXPECT_EQ(level("GAST", "alles"), QStringLiteral("-1"));
    EXPECT_EQ(level("NIEMAND", "alles"), QStringLiteral("-1"));
    EXPECT_EQ(level("demo", "alles"), QStringLiteral("-1"));  // codes are exact
    // A part without its own row falls back to "alles".
    EXPECT_EQ(level("ABTLEITER", "Details"), QStringLiteral("5"));
    {
        auto d = data->db->open();
        d->exec(QStringLiteral("INSERT INTO berechtigung (benutzer, programm, teil, stufe) VALUES "
                               "('DEMO', 'Tallvero', 'Details', 3)"));
    }
    EXPECT_EQ(level("DEMO", "Details"), QStringLiteral("3"));
    EXPECT_EQ(level("DEMO", "alles"), QStringLiteral("1"));
    {
        auto d = data->db->open();
        d->exec(QStringLiteral("DELETE FROM berechtigung WHERE teil = 'Details'"));
    }
    EXPECT_EQ(h->call(QStringLiteral("Berechtigung"),
                      {QStringLiteral("DEMO"), QStringLiteral("Anderes"), QStringLiteral("alles")}),
              QStringLiteral("-1"));
    EXPECT_EQ(errorNumber([&] { h->call(QStringLiteral("Berechtigung"), {QStringLiteral("DEMO")}); }),
              err::WrongArguments);
}

TEST_P(Contract, LoginRecords) {
    auto edv = factory.open(QStringLiteral("ZK.ParPersEdv"), QStringLiteral("1||DEMO"));
    // The server checks a password; it hands none out.
    EXPECT_EQ(errorNumber([&] { edv->property(QStringLiteral("Passwort")); }),
              err::PropertyDoesNotExist);
    EXPECT_EQ(edv->call(QStringLiteral("PasswortPruefen"), {QStringLiteral("Demo")}),
              QStringLiteral("0"));
    EXPECT_EQ(edv->property(QStringLiteral("AKTIV")), QStringLiteral("J"));
    EXPECT_EQ(edv->property(QStringLiteral("PNAME")), QStringLiteral("Demo M}ller"));  // 7-bit
    EXPECT_EQ(edv->call(QStringLiteral("PNAMELogicalToODBC")), QStringLiteral("Demo Müller"));
    EXPECT_EQ(edv->call(QStringLiteral("PNAMELogicalToODBC"), {QStringLiteral("K|hler ~")}),
              QStringLiteral("Köhler ß"));
    EXPECT_EQ(edv->property(QStringLiteral("PNR")), QStringLiteral("1001"));
    EXPECT_EQ(edv->property(QStringLiteral("abtnr")), QStringLiteral("B0"));  // any case
    EXPECT_FALSE(edv->property(QStringLiteral("DW")).isNull());
    EXPECT_FALSE(edv->property(QStringLiteral("BERGRP")).isEmpty());
    EXPECT_EQ(errorNumber([&] { edv->property(QStringLiteral("Gehalt")); }), err::PropertyDoesNotExist);
    edv->SYS_Close();
    EXPECT_EQ(errorNumber([&] { edv->property(QStringLiteral("PNR")); }), err::ObjectClosed);

    auto boss = factory.open(QStringLiteral("ZK.ParPersEdv"), QStringLiteral("1||ABTLEITER"));
    EXPECT_EQ(boss->property(QStringLiteral("ABTNR")), QStringLiteral("M2"));
    auto abt = factory.open(QStringLiteral("ZK.ParPersAbt"), QStringLiteral("1||M2"));
    EXPECT_EQ(abt->property(QStringLiteral("ABTNR")), QStringLiteral("M2"));
    EXPECT_EQ(abt->property(QStringLiteral("HAbtNr")), QStringLiteral("10"));
    auto abt1 = factory.open(QStringLiteral("ZK.ParPersAbt"), QStringLiteral("1||M1"));
    EXPECT_EQ(abt1->property(QStringLiteral("abtbez")), QStringLiteral("Sanit{r"));
    EXPECT_EQ(abt1->call(QStringLiteral("ABTBEZlogicaltoodbc")), QStringLiteral("Sanitär"));
    auto basis = factory.open(QStringLiteral("ZK.PersBasis"), QStringLiteral("1||1002"));
    EXPECT_EQ(basis->property(QStringLiteral("EMAIL")), QStringLiteral("abtleiter@demo-handel.example"));
    EXPECT_EQ(basis->call(QStringLiteral("EMailLogicalToODBC")),
              QStringLiteral("abtleiter@demo-handel.example"));
    EXPECT_FALSE(basis->property(QStringLiteral("fax")).isEmpty());

    auto inactive = factory.open(QStringLiteral("ZK.ParPersEdv"), QStringLiteral("1||INAKTIV"));
    EXPECT_EQ(inactive->property(QStringLiteral("AKTIV")), QStringLiteral("N"));

    for (const char* id : {"1||NIEMAND", "2||NIEMAND", "9||DEMO", "DEMO", "||", "1||DEMO' OR '1'='1",
                           "x||DEMO"})
        EXPECT_EQ(errorNumber([&] { factory.open(QStringLiteral("ZK.ParPersEdv"), QLatin1String(id)); }),
                  err::ObjectNotFound)
            << id;
    EXPECT_EQ(errorNumber([&] { factory.open(QStringLiteral("ZK.ParPersAbt"), QStringLiteral("1||XX")); }),
              err::ObjectNotFound);
    EXPECT_EQ(errorNumber([&] { factory.open(QStringLiteral("ZK.PersBasis"), QStringLiteral("1||0")); }),
              err::ObjectNotFound);
    EXPECT_EQ(
        errorNumber([&] { factory.open(QStringLiteral("ZK.PersBasis"), QStringLiteral("1||0")); }),
        err::ObjectNotFound);
    EXPECT_EQ(
        errorNumber([&] { factory.open(QStringLiteral("ZK.Gibtsnicht"), QStringLiteral("1||1")); }),
        err::ClassDoesNotExist);

    // Last, as on PostgreSQL the connection goes on as DEMO after it.
    auto demo = factory.open(QStringLiteral("ZK.ParPersEdv"), QStringLiteral("1||DEMO"));
    EXPECT_EQ(demo->call(QStringLiteral("PasswortPruefen"), {QStringLiteral("demo")}),
              QStringLiteral("1"));
    EXPECT_EQ(demo->property(QStringLiteral("PNR")), QStringLiteral("1001"));
}

TEST_P(Contract, MasterDataQueries) {
    login();
    auto pc = run("ZKUmsatz.Daten", "Profitcenter", {});
    EXPECT_EQ(rowsOf(*pc), (QStringList{QStringLiteral("1|Stammhaus"), QStringLiteral("2|Filiale S}d"),
                                        QStringLiteral("3|Gro~kunden & Objekte")}));
    EXPECT_FALSE(pc->next());  // stays at the end
    EXPECT_EQ(pc->column(1), QString());
    pc->SYS_Close();

    EXPECT_EQ(rowsOf(*run("ZKUmsatz.Daten", "AbtInHAbt", {QStringLiteral("1"), QStringLiteral("10")})),
              (QStringList{QStringLiteral("M1|Sanit{r"), QStringLiteral("M2|Heizung"),
                           QStringLiteral("MA|Heizung Kundendienst"), QStringLiteral("MD|Sanit{r Objektgesch{ft"),
                           QStringLiteral("MF|Heizung Filiale S}d"), QStringLiteral("MG|Badausstellung"),
                           QStringLiteral("MH|Sanit{r Filiale S}d")}));
    EXPECT_EQ(rowsOf(*run("ZKUmsatz.Daten", "HAbtInPC", {QStringLiteral("1"), QStringLiteral("3")})),
              (QStringList{QStringLiteral("10|Haustechnik"), QStringLiteral("20|Bauen & Wohnen"),
                           QStringLiteral("30|Werkstatt & Garten")}));
    const QStringList inPc2 =
        rowsOf(*run("ZKUmsatz.Daten", "AbtInPC", {QStringLiteral("1"), QStringLiteral("2")}));
    EXPECT_EQ(inPc2.size(), 6);
    EXPECT_TRUE(inPc2.contains(QStringLiteral("B2|Einkauf & Werksverkauf")));
    EXPECT_EQ(rowsOf(*run("ZKUmsatz.Daten", "Versandarten", {QStringLiteral("1"), QStringLiteral("S")})),
              (QStringList{QStringLiteral("11|Strecke direkt ab Werk"),
                           QStringLiteral("12|Strecke }ber Spedition")}));
    EXPECT_EQ(rowsOf(*run("ZKUmsatz.Daten", "Versandarten", {QStringLiteral("1"), QString()})).size(), 5);
    EXPECT_EQ(rowsOf(*run("ZKUmsatz.Daten", "Versandarten", {QStringLiteral("1"), QStringLiteral("L")})).size(), 3);

    // Hostile codes match nothing and break nothing.
    for (const QString& code : {QStringLiteral("10' OR '1'='1"), QStringLiteral("'; DROP TABLE abteilung; --"),
                                QStringLiteral("\"10\""), QString(10000, QLatin1Char('x')),
                                QString(QChar(0)) + QStringLiteral("10"), QString(QChar(0xD800))}) {
        EXPECT_TRUE(rowsOf(*run("ZKUmsatz.Daten", "AbtInHAbt", {QStringLiteral("1"), code})).isEmpty());
        EXPECT_TRUE(rowsOf(*run("ZKUmsatz.Daten", "HAbtInPC", {code, QStringLiteral("1")})).isEmpty());
    }
    EXPECT_EQ(xecute(QStringLiteral("d ABTNR^ZKCLSU")).split(QChar(0xFF)).size(), 20);

    EXPECT_EQ(errorNumber([&] { run("ZKUmsatz.Daten", "AbtInHAbt", {QStringLiteral("1")}); }),
              err::WrongArguments);
    EXPECT_EQ(errorNumber([&] { factory.query(QStringLiteral("ZKUmsatz.Daten"), QStringLiteral("Alles")); }),
              err::QueryDoesNotExist);
    EXPECT_EQ(errorNumber([&] { factory.query(QStringLiteral("ZKUmsatz.Nix"), QStringLiteral("Profitcenter")); }),
              err::ClassDoesNotExist);
    auto unexecuted = factory.query(QStringLiteral("ZKUmsatz.Daten"), QStringLiteral("Profitcenter"));
    EXPECT_EQ(errorNumber([&] { unexecuted->next(); }), err::NotExecuted);
}

// Random selections of real codes: the pre-aggregated answer equals the sum
// of the raw lines.
TEST_P(Contract, PeriodSumsEqualRawLines) {
    std::mt19937 rng(4711);
    // Real codes per dimension, from the lines themselves.
    std::array<QStringList, kDimCount> codes;
    for (const Line& l : data->lines)
        for (int i = 0; i < kDimCount; ++i)
            if (!codes[size_t(i)].contains(l.dim[size_t(i)]))
                codes[size_t(i)] << l.dim[size_t(i)];
    const int plainDims[] = {0, 1, 2, 3, 4, 5, 6};
    int nonZero = 0;
    for (int round = 0; round < 60; ++round) {
        Selection sel;
        const int restrictions = round % 5;  // 0..4
        for (int k = 0; k < restrictions; ++k) {
            const int d = plainDims[rng() % 7];
            sel[d] = codes[size_t(d)][int(rng() % codes[size_t(d)].size())];
        }
        const int year = 118 + int(rng() % 7);
        const int period = year * 100 + 1 + int(rng() % 12);
        const qint64 firma = round % 7 == 0 ? 2 : 1;
        auto q = run("ZKUmsatz.Daten", "PeriodenSumme",
                     {QString::number(firma), QString::number(period), sel[3], sel[4], sel[0], sel[1],
                      sel[2], sel[5], sel[6]});
        ASSERT_TRUE(q->next());
        const Sums e = expected(data->lines, firma, period, period, sel);
        EXPECT_EQ(cents(q->column(1)), e.umsatz) << "round " << round;
        EXPECT_EQ(cents(q->column(2)), e.umsatz - e.kosten) << "round " << round;
        EXPECT_FALSE(q->next());
        nonZero += e.umsatz != 0;
        // The same request for cash discount and rebate.
        auto k = run("ZKUmsatz.Daten", "PeriodenSkonto",
                     {QString::number(firma), QString::number(period), sel[3], sel[4], sel[0], sel[1],
                      sel[2], sel[5], sel[6]});
        ASSERT_TRUE(k->next());
        EXPECT_EQ(cents(k->column(1)), e.skonto) << "round " << round;
        EXPECT_EQ(cents(k->column(2)), e.nachlass) << "round " << round;
        EXPECT_FALSE(k->next());
    }
    EXPECT_GT(nonZero, 20);  // the selections really hit data
}

TEST_P(Contract, PeriodSumEdgeCases) {
    auto sum = [&](const QStringList& args) {
        auto q = run("ZKUmsatz.Daten", "PeriodenSumme", args);
        q->next();
        return q->column(1) + QLatin1Char('|') + q->column(2);
    };
    const QString empty7[] = {QString(), QString(), QString(), QString(), QString(), QString(), QString()};
    auto args = [&](const QString& firma, const QString& period, int dim = -1, const QString& code = {}) {
        QStringList a{firma, period};
        for (const QString& e : empty7)
            a << e;
        // positions in the argument list: hgrp ugrp pc habt abt hkgrp hvart
        static const int pos[kDimCount] = {4, 5, 6, 2, 3, 7, 8, -1, -1};
        if (dim >= 0)
            a[pos[dim]] = code;
        return a;
    };
    // Months without data answer zeros.
    EXPECT_EQ(sum(args(QStringLiteral("1"), QStringLiteral("12412"))), QStringLiteral("0|0"));
    EXPECT_EQ(sum(args(QStringLiteral("1"), QStringLiteral("11001"))), QStringLiteral("0|0"));
    EXPECT_EQ(sum(args(QStringLiteral("3"), QStringLiteral("12401"))), QStringLiteral("0|0"));
    EXPECT_EQ(sum(args(QStringLiteral("abc"), QStringLiteral("12401"))), QStringLiteral("0|0"));
    EXPECT_EQ(sum(args(QStringLiteral("1"), QStringLiteral("2024-01"))), QStringLiteral("0|0"));
    EXPECT_NE(sum(args(QStringLiteral("1"), QStringLiteral("12401"))), QStringLiteral("0|0"));
    for (const QString& code : {QStringLiteral("M2' OR '1'='1"), QStringLiteral("'); DELETE FROM psum_top; --"),
                                QString(100000, QLatin1Char('M')), QStringLiteral("M\t2\n")}) {
        for (int dim = 0; dim < 7; ++dim)
            EXPECT_EQ(sum(args(QStringLiteral("1"), QStringLiteral("12401"), dim, code)),
                      QStringLiteral("0|0"));
    }
    // Nothing was broken on the way.
    const Sums all = expected(data->lines, 1, 12401, 12401, Selection{});
    EXPECT_EQ(sum(args(QStringLiteral("1"), QStringLiteral("12401"))),
              centsToText(all.umsatz) + QLatin1Char('|') + centsToText(all.umsatz - all.kosten));
    EXPECT_EQ(errorNumber([&] { run("ZKUmsatz.Daten", "PeriodenSumme", {QStringLiteral("1")}); }),
              err::WrongArguments);
}

TEST_P(Contract, WarehouseKeyColumnsAndTrailingFields) {
    auto cols = [&](const char* query, const QString& key, int period = 12311) {
        auto q = run("ZKUmsatz.DatWH", query, {QStringLiteral("1"), QString::number(period), key});
        EXPECT_TRUE(q->next());
        std::array<qint64, 4> c{};
        for (int i = 0; i < 4; ++i)
            c[size_t(i)] = cents(q->column(i + 1));
        return c;
    };
    auto sel = [](std::initializer_list<std::pair<int, const char*>> v) {
        Selection s;
        for (auto& [d, c] : v)
            s[d] = QLatin1String(c);
        return s;
    };
    // Key fields: pc habt abt hgrp ugrp styp hvart vart hkgrp.
    struct Case {
        QString key;
        Selection s;
    };
    const Case cases[] = {
        {QString(), Selection{}},
        {QStringLiteral("`````L"), sel({{8, "L"}})},
        {QStringLiteral("``M2```B"), sel({{2, "M2"}, {8, "B"}})},
        {QStringLiteral("1`````W``01"), sel({{0, "1"}, {8, "W"}, {7, "01"}})},
        {QStringLiteral("``````S``G"), sel({{6, "S"}, {5, "G"}})},
        {QStringLiteral("`10``30`3002`L"), sel({{1, "10"}, {3, "30"}, {4, "3002"}, {8, "L"}})},
        // Trailing separators are allowed as well: the same as dropped.
        {QStringLiteral("``M2```B```"), sel({{2, "M2"}, {8, "B"}})},
    };
    for (const Case& c : cases) {
        const auto sum = cols("PeriodenSumme", c.key);
        Selection l = c.s, s = c.s;
        if (l[6].isEmpty() || l[6] == QLatin1String("L"))
            l[6] = QStringLiteral("L");
        if (s[6].isEmpty() || s[6] == QLatin1String("S"))
            s[6] = QStringLiteral("S");
        const bool wantL = c.s[6].isEmpty() || c.s[6] == QLatin1String("L");
        const bool wantS = c.s[6].isEmpty() || c.s[6] == QLatin1String("S");
        const Sums el = wantL ? expected(data->lines, 1, 12311, 12311, l) : Sums{};
        const Sums es = wantS ? expected(data->lines, 1, 12311, 12311, s) : Sums{};
        EXPECT_EQ(sum[0], el.umsatz) << c.key.toStdString();
        EXPECT_EQ(sum[1], es.umsatz) << c.key.toStdString();
        EXPECT_EQ(sum[2], el.kosten) << c.key.toStdString();
        EXPECT_EQ(sum[3], es.kosten) << c.key.toStdString();
        // With the client's arithmetic: revenue and margin.
        const Sums e = expected(data->lines, 1, 12311, 12311, c.s);
        EXPECT_EQ(sum[0] + sum[1], e.umsatz);
        EXPECT_EQ(sum[0] + sum[1] - (sum[2] + sum[3]), e.umsatz - e.kosten);

        const auto sk = cols("PeriodenSkonto", c.key);
        EXPECT_EQ(sk[0] + sk[1], e.skonto) << c.key.toStdString();
        EXPECT_EQ(sk[0] + sk[1] - (sk[2] + sk[3]), e.nachlass) << c.key.toStdString();
    }
    // Article types L, B and W together make up the whole.
    const auto all = cols("PeriodenSumme", QString());
    qint64 parts = 0;
    for (const char* t : {"`````L", "`````B", "`````W"}) {
        const auto c = cols("PeriodenSumme", QLatin1String(t));
        parts += c[0] + c[1];
    }
    EXPECT_EQ(parts, all[0] + all[1]);
    EXPECT_NE(parts, 0);
    // And the plain query agrees with the warehouse one.
    auto plain = run("ZKUmsatz.Daten", "PeriodenSumme",
                     {QStringLiteral("1"), QStringLiteral("12311"), QString(), QString(), QString(),
                      QString(), QString(), QString(), QString()});
    plain->next();
    EXPECT_EQ(cents(plain->column(1)), all[0] + all[1]);

    EXPECT_EQ(cols("PeriodenSumme", QStringLiteral("``'; DROP TABLE wsum_full; --")),
              (std::array<qint64, 4>{0, 0, 0, 0}));
    EXPECT_EQ(errorNumber([&] { cols("PeriodenSumme", QStringLiteral("`````````")); }),
              err::WrongArguments);
    EXPECT_EQ(cols("PeriodenSumme", QString(), 12412), (std::array<qint64, 4>{0, 0, 0, 0}));
}

TEST_P(Contract, SplitQuerySumsOverPeriodRange) {
    const QStringList codes[] = {{QString(), QStringLiteral("M2"), QString()},
                                 {QStringLiteral("30"), QString(), QStringLiteral("G")}};
    for (const QStringList& c : codes) {
        // hgrp ugrp pc habt abt hkgrp hvart
        Selection s;
        s[3] = c[0];
        s[2] = c[1];
        s[5] = c[2];
        auto q = run("ZKUmsatz.Daten", "PeriodenSummeAufteilung",
                     {QStringLiteral("1"), QStringLiteral("12201"), QStringLiteral("12312"), s[3], s[4],
                      s[0], s[1], s[2], s[5], s[6]});
        ASSERT_TRUE(q->next());
        const Sums e = expected(data->lines, 1, 12201, 12312, s);
        EXPECT_GT(e.umsatz, 0);
        EXPECT_EQ(cents(q->column(1)), e.umsatz);
        EXPECT_EQ(cents(q->column(2)), e.umsatz - e.kosten);
    }
    auto bad = run("ZKUmsatz.Daten", "PeriodenSummeAufteilung",
                   {QStringLiteral("1"), QStringLiteral("x"), QStringLiteral("12312"), QString(), QString(),
                    QString(), QString(), QString(), QString(), QString()});
    bad->next();
    EXPECT_EQ(bad->column(1), QStringLiteral("0"));
}

TEST_P(Contract, ClosedAndDisconnected) {
    auto h = factory.classHandle(QStringLiteral("ZK.Windows"));
    auto q = factory.query(QStringLiteral("ZKUmsatz.Daten"), QStringLiteral("Versandarten"));
    factory.disconnect();
    EXPECT_FALSE(factory.isConnected());
    EXPECT_EQ(errorNumber([&] { h->call(QStringLiteral("Xecute"), {QStringLiteral("D ^%XTT")}); }),
              err::NotConnected);
    EXPECT_EQ(errorNumber([&] { q->execute({QStringLiteral("1"), QString()}); }), err::NotConnected);
    EXPECT_EQ(errorNumber([&] { factory.classHandle(QStringLiteral("ZK.Windows")); }), err::NotConnected);
    // SYS_Close on a dead handle is harmless.
    h->SYS_Close();
    ASSERT_TRUE(data->db->connect(factory));
    // A new connection is a new session: the company must be set again.
    EXPECT_EQ(errorNumber([&] { xecute(QStringLiteral("d HABT^ZKCLSU")); }), err::Undefined);
}

// Rebuilds get their own database: they change it.
class Rebuild : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        db = testsupport::makeTestDatabase(GetParam(), QStringLiteral("rebuild"));
        auto d = db->open();
        Store store(*d);
        DemoOptions o;
        o.seed = 3;
        o.lines = 4000;
        o.untilYear = 2024;
        o.untilMonth = 3;
        generateDemo(store, o);
        ASSERT_TRUE(db->connect(factory));
    }
    qint64 revenue(int period) {
        auto q = factory.query(QStringLiteral("ZKUmsatz.Daten"), QStringLiteral("PeriodenSumme"));
        q->execute({QStringLiteral("1"), QString::number(period), QString(), QString(), QString(),
                    QString(), QString(), QString(), QString()});
        q->next();
        return cents(q->column(1));
    }
    void addLine(int period, qint64 umsatz) {
        auto d = db->open();
        Store store(*d);
        SalesLine l;
        l.datum = (period / 100 + 1900) * 10000 + (period % 100) * 100 + 15;
        l.firma = 1;
        const char* codes[kDimCount] = {"1", "10", "M2", "30", "3001", "P", "L", "01", "L"};
        for (int i = 0; i < kDimCount; ++i)
            l.codes[i] = QLatin1String(codes[i]);
        l.umsatz = umsatz;
        store.appendSales({l});
    }
    QString generate(const QString& from, const QString& to) {
        auto h = factory.classHandle(QStringLiteral("ZKUmsatz.Daten"));
        return h->call(QStringLiteral("Generieren"), {QStringLiteral("1"), from, to});
    }
    std::unique_ptr<testsupport::TestDatabase> db;
    ServerFactory factory;
};

TEST_P(Rebuild, GenerateRebuildsAndIsAtomic) {
    const qint64 before = revenue(12312);
    addLine(12312, 123456);
    EXPECT_EQ(revenue(12312), before);  // the sums are what the last rebuild made
    EXPECT_EQ(generate(QStringLiteral("12312"), QStringLiteral("12312")), QStringLiteral("1"));
    EXPECT_EQ(revenue(12312), before + 123456);

    auto handle = factory.classHandle(QStringLiteral("ZK.Windows"));
    const QString built = handle->call(QStringLiteral("Xecute"), {QStringLiteral("S P0=^XWGDAT W P0")});
    EXPECT_TRUE(built.startsWith(QStringLiteral("12312`")));

    // A failure in the middle leaves every previous sum and the build info.
    const qint64 nov = revenue(12311), jan = revenue(12401);
    addLine(12311, 1000);
    addLine(12312, 2000);
    addLine(12401, 4000);
    factory.options().generateFaultAfter = 2;
    EXPECT_EQ(errorNumber([&] { generate(QStringLiteral("12311"), QStringLiteral("12401")); }),
              err::GenerateFailed);
    EXPECT_EQ(revenue(12311), nov);
    EXPECT_EQ(revenue(12312), before + 123456);
    EXPECT_EQ(revenue(12401), jan);
    EXPECT_EQ(handle->call(QStringLiteral("Xecute"), {QStringLiteral("S P0=^XWGDAT W P0")}), built);

    factory.options().generateFaultAfter = -1;
    int calls = 0;
    factory.options().generateProgress = [&](const GenerateProgress& p) {
        EXPECT_EQ(p.total, 3);
        EXPECT_EQ(p.done, ++calls);
        return true;
    };
    generate(QStringLiteral("12311"), QStringLiteral("12401"));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(revenue(12311), nov + 1000);
    EXPECT_EQ(revenue(12312), before + 123456 + 2000);
    EXPECT_EQ(revenue(12401), jan + 4000);
    EXPECT_TRUE(handle->call(QStringLiteral("Xecute"), {QStringLiteral("S P0=^XWGDAT W P0")})
                    .startsWith(QStringLiteral("12401`")));
    // Cancelling from the progress callback rolls back, too.
    addLine(12401, 8000);
    factory.options().generateProgress = [](const GenerateProgress&) { return false; };
    EXPECT_EQ(errorNumber([&] { generate(QStringLiteral("12401"), QStringLiteral("12401")); }),
              err::GenerateFailed);
    EXPECT_EQ(revenue(12401), jan + 4000);
}

// Every row of every sum table, against a grouping of the raw lines. Codes
// outside ASCII and a code that exists only in one period catch a rebuild
// that maps dimension codes wrongly.
TEST_P(Rebuild, EveryLevelEqualsTheRawLines) {
    {
        auto d = db->open();
        Store store(*d);
        SalesLine l;
        l.datum = 20240210;
        l.firma = 1;
        const char* codes[kDimCount] = {"1", "10", "MÄ2", "30", "3001", "G", "S", "09", "W"};
        for (int i = 0; i < kDimCount; ++i)
            l.codes[i] = QString::fromUtf8(codes[i]);
        l.umsatz = 777;
        l.kosten = 500;
        l.skonto = 3;
        l.nachlass = 4;
        store.appendSales({l, l});
    }
    generate(QStringLiteral("12311"), QStringLiteral("12403"));
    auto d = db->open();
    auto rows = [&](const QString& sql) {
        std::vector<std::string> out;
        QSqlQuery& q = d->exec(sql);
        while (q.next()) {
            QStringList r;
            for (int i = 0; i < q.record().count(); ++i)
                r << q.value(i).toString();
            out.push_back(r.join(QLatin1Char('|')).toStdString());
        }
        q.finish();
        return out;
    };
    int checked = 0;
    for (const QList<SumLevel>* fam : {&plainLevels(), &warehouseLevels()})
        for (const SumLevel& l : *fam) {
            const QString cols = dimColumns(l.dims).join(QStringLiteral(", "));
            const QString order = QStringLiteral(" ORDER BY firma, periode, ") + cols;
            const auto sums =
                rows(QStringLiteral("SELECT firma, periode, %1, umsatz, kosten, skonto, nachlass "
                                    "FROM %2 WHERE firma = 1 AND periode BETWEEN 12311 AND 12403")
                         .arg(cols, QLatin1String(l.table)) + order);
            const auto raw = rows(
                QStringLiteral("SELECT firma, periode, %1, SUM(umsatz), SUM(kosten), SUM(skonto), "
                               "SUM(nachlass) FROM sales_line WHERE firma = 1 AND periode BETWEEN "
                               "12311 AND 12403 GROUP BY firma, periode, %1")
                    .arg(cols) + order);
            EXPECT_FALSE(sums.empty()) << l.table;
            EXPECT_EQ(sums.size(), raw.size()) << l.table;
            const auto diff = std::mismatch(sums.begin(), sums.end(), raw.begin(), raw.end());
            if (diff.first != sums.end() || diff.second != raw.end())
                ADD_FAILURE() << l.table << ": "
                              << (diff.first != sums.end() ? *diff.first : "(end)") << " vs "
                              << (diff.second != raw.end() ? *diff.second : "(end)");
            checked += int(sums.size());
        }
    EXPECT_GT(checked, 100);
    // The new code reached the department levels as it was written.
    EXPECT_EQ(d->scalar(QStringLiteral("SELECT umsatz FROM psum_org WHERE periode = 12402 AND "
                                       "abtnr = ? AND hkgrp = 'G'"),
                        {QString::fromUtf8("MÄ2")})
                  .toLongLong(),
              1554);
}

TEST_P(Rebuild, GenerateRejectsBadArguments) {
    for (const auto& range : {std::pair{"abc", "12401"}, std::pair{"12401", "12313"},
                              std::pair{"12402", "12401"}, std::pair{"", ""},
                              std::pair{"012401", "12401"}}) {
        // Named copies: lambdas cannot capture structured bindings in clang 14.
        const char* from = range.first;
        const char* to = range.second;
        EXPECT_EQ(errorNumber([&] { generate(QLatin1String(from), QLatin1String(to)); }), err::GenerateFailed)
            << from << " " << to;
    }
    auto h = factory.classHandle(QStringLiteral("ZKUmsatz.Daten"));
    EXPECT_EQ(errorNumber([&] {
                  h->call(QStringLiteral("Generieren"), {QStringLiteral("x"), QStringLiteral("12401"),
                                                         QStringLiteral("12401")});
              }),
              err::GenerateFailed);
    EXPECT_EQ(errorNumber([&] { h->call(QStringLiteral("Generieren"), {QStringLiteral("1")}); }),
              err::WrongArguments);
}

std::string engineParamName(const ::testing::TestParamInfo<TestEngine>& i) {
    return testsupport::engineName(i.param);
}

INSTANTIATE_TEST_SUITE_P(Engines, Contract,
                         ::testing::Values(TestEngine::Sqlite, TestEngine::Postgres), engineParamName);
INSTANTIATE_TEST_SUITE_P(Engines, Rebuild,
                         ::testing::Values(TestEngine::Sqlite, TestEngine::Postgres), engineParamName);

TEST(Connect, RejectsBadTargets) {
    ServerFactory f;
    for (const char* s : {"", "embedded", "cn_iptcp:[1972]:ZORVEK", "http://x[1]:ZORVEK",
                          "cn_iptcp:/nonexistent/dir/none.sqlite[1972]:ZORVEK",
                          "cn_iptcp:/tmp/x.sqlite[1972]:ANDERER"}) {
        EXPECT_FALSE(f.connect(QLatin1String(s))) << s;
        EXPECT_FALSE(f.isConnected());
        EXPECT_FALSE(f.lastConnectError().isEmpty()) << s;
    }
}

TEST(Connect, UnreachablePostgresFailsQuickly) {
    // A loopback port where nothing listens: refused at once.
    ServerFactory f;
    QElapsedTimer t;
    t.start();
    EXPECT_FALSE(f.connect(makeConnectString(QStringLiteral("127.0.0.1"), QStringLiteral("1"))));
    EXPECT_LT(t.elapsed(), 10000);
    EXPECT_TRUE(f.lastConnectError().contains(QStringLiteral("PostgreSQL")))
        << f.lastConnectError().toStdString();
}

TEST(Connect, SqliteFileWithoutSchemaIsRefused) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("leer.sqlite"));
    { Database d({Engine::Sqlite, path, {}, 0, {}, false}); }
    ServerFactory f;
    EXPECT_FALSE(f.connect(makeConnectString(path, QStringLiteral("1972"))));
    EXPECT_TRUE(f.lastConnectError().contains(QStringLiteral("init")));
}

} // namespace
