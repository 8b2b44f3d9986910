// The server contract, run against SQLite and PostgreSQL alike: every call
// the client makes, answered from a real database filled with demo data.

#include "platform/cache/ConnectString.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "platform/cache/server/Text.h"
#include "support/DemoSite.h"

#include <QDate>
#include <QElapsedTimer>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <map>
#include <random>

using namespace cache;
using namespace cache::server;
using namespace Qt::StringLiterals;
using testsupport::TestEngine;

namespace {

struct Line {
    int periode;
    qint64 firma;
    std::array<QString, kDimCount> dim;
    std::array<qint64, 4> money; // umsatz, kosten, skonto, nachlass
};

// One demo database per engine, shared by the read-only tests, with its raw
// lines to check sums computed away from SQL.
struct Shared {
    std::unique_ptr<testsupport::TestDatabase> db;
    std::vector<Line> lines;
};

Shared& shared(TestEngine e) {
    static std::map<TestEngine, Shared> all;
    Shared& s = all[e];
    if (!s.db) {
        s.db = testsupport::makeTestDatabase(e, u"contract"_s);
        auto d = testsupport::fillDemo(*s.db, 30000, 7);
        QSqlQuery q(d->handle());
        q.setForwardOnly(true);
        q.exec(u"SELECT periode, firma, pcnr, habtnr, abtnr, hgrp, ugrp, hkgrp, hvart, vart, styp, "
               "umsatz, kosten, skonto, nachlass FROM sales_line"_s);
        while (q.next()) {
            Line l{q.value(0).toInt(), q.value(1).toLongLong(), {}, {}};
            for (int i = 0; i < kDimCount; ++i)
                l.dim[size_t(i)] = q.value(2 + i).toString();
            for (int i = 0; i < 4; ++i)
                l.money[size_t(i)] = q.value(11 + i).toLongLong();
            s.lines.push_back(l);
        }
    }
    s.db->activate();
    return s;
}

Sums expected(const std::vector<Line>& lines, qint64 firma, int period, const Selection& sel) {
    Sums s;
    for (const Line& l : lines) {
        bool ok = l.firma == firma && l.periode == period;
        for (int i = 0; i < kDimCount && ok; ++i)
            ok = sel[i].isEmpty() || sel[i] == l.dim[size_t(i)];
        if (!ok) continue;
        s.umsatz += l.money[0];
        s.kosten += l.money[1];
        s.skonto += l.money[2];
        s.nachlass += l.money[3];
    }
    return s;
}

// Two figures in the money text form, as a row of a period sum.
QString money(qint64 a, qint64 b) {
    return centsToText(a) + u'|' + centsToText(b);
}

qint64 cents(const QString& text) {
    qint64 c = 0;
    EXPECT_TRUE(textToCents(text, &c)) << text.toStdString();
    return c;
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

// An answer checked against a table row: with count < 0 it must equal want;
// otherwise it has count rows and contains want.
void expectAnswer(const QString& answer, QChar separator, int count, const char* want) {
    if (count < 0) {
        EXPECT_EQ(answer, QString::fromUtf8(want));
        return;
    }
    EXPECT_EQ(answer.isEmpty() ? 0 : answer.count(separator) + 1, count) << answer.toStdString();
    EXPECT_TRUE(answer.contains(QString::fromUtf8(want))) << answer.toStdString();
}

// The arguments of PeriodenSumme and PeriodenSkonto for a selection.
QStringList periodArgs(qint64 firma, const QString& period, const Selection& s) {
    // hgrp ugrp pc habt abt hkgrp hvart
    return {QString::number(firma), period, s[3], s[4], s[0], s[1], s[2], s[5], s[6]};
}

// A client of the server component, with short forms of its calls.
class Client : public ::testing::TestWithParam<TestEngine> {
protected:
    QString xecute(const QString& line) {
        auto h = factory.classHandle(u"ZK.Windows"_s);
        const QString r = h->call(u"Xecute"_s, {line});
        h->SYS_Close();
        return r;
    }
    // The build information: the last period built, the day of the build.
    QString built() { return xecute(u"S P0=^XWGDAT W P0"_s); }
    // A property ("PNR") or a method call ("Pruefen(a,b)") of a stored object
    // (id) or class handle (no id); a failure as "#<error number>".
    QString ask(const char* cls, const char* id, const QString& member) {
        try {
            auto o = id ? factory.open(QLatin1String(cls), QString::fromUtf8(id))
                        : factory.classHandle(QLatin1String(cls));
            const qsizetype paren = member.indexOf(u'(');
            if (paren < 0) return o->property(member);
            const QString inner = member.mid(paren + 1, member.size() - paren - 2);
            return o->call(member.left(paren), inner.isEmpty() ? QStringList() : inner.split(u','));
        } catch (const CacheError& e) {
            return u'#' + QString::number(e.number());
        }
    }
    std::unique_ptr<CacheQuery> run(const char* cls, const char* name, const QStringList& args) {
        auto q = factory.query(QLatin1String(cls), QLatin1String(name));
        q->execute(args);
        return q;
    }
    // The rows of a class query of ZKUmsatz.Daten, columns joined by '|', rows by ';'.
    QString rows(const char* name, const QStringList& args) {
        auto q = run("ZKUmsatz.Daten", name, args);
        QStringList out;
        while (q->next())
            out << q->column(1) + u'|' + q->column(2);
        return out.join(u';');
    }
    // The four columns of a warehouse query, as cents.
    std::array<qint64, 4> warehouse(int firma, int period, const char* name, QString key) {
        auto q =
            run("ZKUmsatz.DatWH", name, {QString::number(firma), QString::number(period), key});
        EXPECT_TRUE(q->next());
        std::array<qint64, 4> c{};
        for (int i = 0; i < 4; ++i)
            c[size_t(i)] = cents(q->column(i + 1));
        return c;
    }
    ServerFactory factory;
};

class Contract : public Client {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        data = &shared(GetParam());
        ASSERT_TRUE(data->db->connect(factory)) << factory.lastConnectError().toStdString();
        ASSERT_TRUE(factory.isConnected());
    }
    Shared* data = nullptr;
};

TEST_P(Contract, XecuteSessionsRoutinesAndRejectedLines) {
    // Master data routines need the session's company.
    EXPECT_EQ(errorNumber([&] { xecute(u"d HGRP^ZKCLSU"_s); }), err::Undefined);
    // Each line with its answer after the one before: -1 the whole answer,
    // else the count of rows (separated by ÿ, 255) and a part of it.
    const std::tuple<const char*, int, const char*> steps[] = {
        {"S FIRMA=1,FIL=0,PERSONAL=\"DEMO\"", -1, ""},
        {"d ^%XTT", -1, ""},
        {"S P0=$P(^FA(0),\"`\",2) W P0", -1, "03"},
        {"d HGRP^ZKCLSU", 9, "10`Sanitärkeramikÿ"}, // names as they are
        {"d ABTNR^ZKCLSU", 20, "M2`Heizung"},
        {"d HABT^ZKCLSU", -1,
         "10`Haustechnikÿ20`Bauen & Wohnenÿ30`Werkstatt & Gartenÿ40`Verwaltung"},
        {"d UGRP^ZKCLSU(30)", -1,
         "3001`Kesselÿ3002`Wärmepumpenÿ3003`Heizkörperÿ3004`Fußbodenheizung"},
        {"d UGRP^ZKCLSU(\"30\")", -1,
         "3001`Kesselÿ3002`Wärmepumpenÿ3003`Heizkörperÿ3004`Fußbodenheizung"},
    };
    for (const auto& [line, count, want] : steps)
        expectAnswer(xecute(QString::fromUtf8(line)), QChar(0xFF), count, want);
    // Each company's session with the count of its main groups: the second
    // company has its own, unknown ones have none, numbers beyond any
    // whole-number type stay as written (under the sanitizer build this also
    // catches the conversion), and 001 is company 1.
    for (const auto& [firma, groups] :
         {std::pair{"2", 9}, {"77", 0}, {"99999999999999999999", 0}, {"001", 9}}) {
        EXPECT_EQ(xecute(u"S FIRMA=%1,FIL=0,PERSONAL=\"DEMO\""_s.arg(QLatin1String(firma))),
                  QString());
        expectAnswer(xecute(u"d HGRP^ZKCLSU"_s), QChar(0xFF), groups, "");
    }
    for (const QString& bad :
         {u"K ^FA"_s, u"d HGRP^ZKCLSU(1)"_s, u"d UGRP^ZKCLSU"_s, u"d UGRP^ZKCLSU(1' OR '1'='1)"_s,
          u"S FIRMA=2,FIL="_s, u"S FIRMA=1'; DROP TABLE sales_line; --"_s,
          u"S PERSONAL=\"unterminated"_s, QString(5000, u'S'), u"S FIRMA=\x01"_s})
        EXPECT_EQ(errorNumber([&] { xecute(bad); }), err::Syntax) << bad.left(60).toStdString();
    // A rejected line changes nothing: the session still belongs to company 1.
    expectAnswer(xecute(u"d HGRP^ZKCLSU"_s), QChar(0xFF), 9, "");
    EXPECT_EQ(ask("ZK.Windows", nullptr, u"Xecute()"_s), u"#5006"_s); // WrongArguments
    EXPECT_EQ(ask("ZK.Windows", nullptr, u"Run(x)"_s), u"#5003"_s);   // MethodDoesNotExist

    const QStringList info = built().split(u'`');
    ASSERT_EQ(info.size(), 2);
    EXPECT_EQ(info[0], u"12403"_s); // demo sales end in March 2024
    // The day number of the build: digits of year - 1900, month, day.
    const int n = info[1].toInt();
    const QDate d(n / 10000 + 1900, (n / 100) % 100, n % 100);
    EXPECT_TRUE(d.isValid());
    EXPECT_LE(qAbs(d.daysTo(QDate::currentDate())), 1);
}

// Login records, their master data and permission levels: each object's
// members with their answers ("#n" is error n), in this order.
TEST_P(Contract, LoginRecordsAndPermissionLevels) {
    auto edv = factory.open(u"ZK.ParPersEdv"_s, u"1||DEMO"_s);
    edv->SYS_Close();
    EXPECT_EQ(errorNumber([&] { edv->property(u"PNR"_s); }), err::ObjectClosed);
    for (const char* id : {"1||NIEMAND", "DEMO", "||", "1||DEMO' OR '1'='1", "x||DEMO"})
        EXPECT_EQ(ask("ZK.ParPersEdv", id, u"PNR"_s), u"#5809"_s) << id;
    // DEMO's own row for a part, taken out again at the end (the database is shared).
    data->db->open()->exec(u"INSERT INTO berechtigung (benutzer, programm, teil, stufe) VALUES "
                           "('DEMO', 'Tallvero', 'Details', 3)"_s);
    const std::tuple<const char*, const char*, const char*> table[] = {
        // The server checks a password; it hands none out. PNAME is 7-bit.
        {"ZK.ParPersEdv", "1||DEMO",
         "Passwort=#5004; PasswortPruefen(Demo)=0; AKTIV=J; PNR=1001; "
         "PNAME=Demo M}ller; PNAMELogicalToODBC()=Demo Müller"},
        {"ZK.ParPersEdv", "1||DEMO",
         "PNAMELogicalToODBC(K|hler ~)=Köhler ß; abtnr=B0; DW=0; "
         "BERGRP=ALLE; Gehalt=#5004"},
        {"ZK.ParPersEdv", "1||ABTLEITER", "ABTNR=M2"},
        {"ZK.ParPersEdv", "1||INAKTIV", "AKTIV=N"},
        {"ZK.ParPersAbt", "1||M2", "ABTNR=M2; HAbtNr=10"},
        {"ZK.ParPersAbt", "1||M1", "abtbez=Sanit{r; ABTBEZlogicaltoodbc()=Sanitär"},
        {"ZK.PersBasis", "1||1002",
         "EMAIL=abtleiter@demo-handel.example; fax=+43 1 234 56-1002; "
         "EMailLogicalToODBC()=abtleiter@demo-handel.example"},
        {"ZK.ParPersAbt", "1||XX", "ABTNR=#5809"},
        {"ZK.PersBasis", "1||0", "EMAIL=#5809"},
        {"ZK.Gibtsnicht", "1||1", "X=#5002"},
        {"UserVerwaltung.Programm", nullptr,
         "Berechtigung(DEMO,Tallvero,alles)=1; Berechtigung(ABTLEITER,Tallvero,alles)=5; "
         "Berechtigung(GAST,Tallvero,alles)=-1; Berechtigung(NIEMAND,Tallvero,alles)=-1; "
         "Berechtigung(demo,Tallvero,alles)=-1; Berechtigung(DEMO,Anderes,alles)=-1; "
         "Berechtigung(DEMO)=#5006"}, // codes are exact
        // A part's own row wins over "alles"; without one it falls back to it.
        {"UserVerwaltung.Programm", nullptr,
         "Berechtigung(DEMO,Tallvero,Details)=3; Berechtigung(ABTLEITER,Tallvero,Details)=5"},
        // Last, as on PostgreSQL the connection goes on as DEMO after it.
        {"ZK.ParPersEdv", "1||DEMO", "PasswortPruefen(demo)=1; PNR=1001"},
    };
    for (const auto& [cls, id, pairs] : table)
        for (const QString& pair : QString::fromUtf8(pairs).split(u"; "_s))
            EXPECT_EQ(ask(cls, id, pair.section(u'=', 0, 0)), pair.section(u'=', 1))
                << cls << " " << (id ? id : "") << " " << pair.toStdString();
    data->db->open()->exec(u"DELETE FROM berechtigung WHERE teil = 'Details'"_s);
}

TEST_P(Contract, MasterDataQueries) {
    xecute(u"S FIRMA=1,FIL=0,PERSONAL=\"DEMO\""_s);
    // Query, arguments, then as for expectAnswer.
    const std::tuple<const char*, const char*, int, const char*> table[] = {
        {"Profitcenter", nullptr, -1, "1|Stammhaus;2|Filiale S}d;3|Gro~kunden & Objekte"},
        {"AbtInHAbt", "1,10", -1,
         "M1|Sanit{r;M2|Heizung;MA|Heizung Kundendienst;MD|Sanit{r Objektgesch{ft;"
         "MF|Heizung Filiale S}d;MG|Badausstellung;MH|Sanit{r Filiale S}d"},
        {"HAbtInPC", "1,3", -1, "10|Haustechnik;20|Bauen & Wohnen;30|Werkstatt & Garten"},
        {"AbtInPC", "1,2", 6, "B2|Einkauf & Werksverkauf"},
        {"Versandarten", "1,S", -1, "11|Strecke direkt ab Werk;12|Strecke }ber Spedition"},
        {"Versandarten", "1,", 5, ""},
        {"Versandarten", "1,L", 3, ""},
    };
    for (const auto& [query, args, count, want] : table) {
        SCOPED_TRACE(std::string(query) + " " + (args ? args : ""));
        expectAnswer(rows(query, args ? QString::fromUtf8(args).split(u',') : QStringList()), u';',
                     count, want);
    }
    auto pc = run("ZKUmsatz.Daten", "Profitcenter", {});
    while (pc->next()) {
    }
    EXPECT_FALSE(pc->next()); // stays at the end
    EXPECT_EQ(pc->column(1), QString());
    pc->SYS_Close();

    EXPECT_EQ(errorNumber([&] { run("ZKUmsatz.Daten", "AbtInHAbt", {u"1"_s}); }),
              err::WrongArguments);
    EXPECT_EQ(errorNumber([&] { factory.query(u"ZKUmsatz.Daten"_s, u"Alles"_s); }),
              err::QueryDoesNotExist);
    EXPECT_EQ(errorNumber([&] { factory.query(u"ZKUmsatz.Nix"_s, u"Profitcenter"_s); }),
              err::ClassDoesNotExist);
    auto unexecuted = factory.query(u"ZKUmsatz.Daten"_s, u"Profitcenter"_s);
    EXPECT_EQ(errorNumber([&] { unexecuted->next(); }), err::NotExecuted);
}

// Random selections of real codes: the pre-aggregated answers equal the sums
// of the raw lines, through the plain query (seven codes) and the warehouse
// key (all nine; fields pc habt abt hgrp ugrp styp hvart vart hkgrp), whose
// columns are revenue of hvart L and S, then costs of L and S.
TEST_P(Contract, PeriodSumsEqualRawLines) {
    std::mt19937 rng(4711);
    std::array<QStringList, kDimCount> codes; // real codes per dimension
    for (const Line& l : data->lines)
        for (int i = 0; i < kDimCount; ++i)
            if (!codes[size_t(i)].contains(l.dim[size_t(i)])) codes[size_t(i)] << l.dim[size_t(i)];
    int nonZero = 0, warehouseNonZero = 0;
    for (int round = 0; round < 80; ++round) {
        SCOPED_TRACE(round);
        Selection sel;
        for (int k = 0; k < round % 5; ++k) {
            const int d = int(rng() % kDimCount);
            sel[d] = codes[size_t(d)][int(rng() % codes[size_t(d)].size())];
        }
        const int period = (118 + int(rng() % 7)) * 100 + 1 + int(rng() % 12);
        const qint64 firma = round % 7 == 0 ? 2 : 1;
        Selection plain = sel;
        plain[7] = plain[8] = QString();
        const QStringList args = periodArgs(firma, QString::number(period), plain);
        const Sums p = expected(data->lines, firma, period, plain);
        EXPECT_EQ(rows("PeriodenSumme", args), money(p.umsatz, p.umsatz - p.kosten));
        EXPECT_EQ(rows("PeriodenSkonto", args), money(p.skonto, p.nachlass));
        nonZero += p.umsatz != 0;

        const QString key =
            QStringList({sel[0], sel[1], sel[2], sel[3], sel[4], sel[8], sel[6], sel[7], sel[5]})
                .join(u'`');
        const auto wh = warehouse(firma, period, "PeriodenSumme", key);
        for (const char* hvart : {"L", "S"}) {
            Selection s = sel;
            const bool wanted = s[6].isEmpty() || s[6] == QLatin1String(hvart);
            s[6] = QLatin1String(hvart);
            const Sums e = wanted ? expected(data->lines, firma, period, s) : Sums{};
            const size_t col = *hvart == 'L' ? 0 : 1;
            EXPECT_EQ(wh[col], e.umsatz) << hvart;
            EXPECT_EQ(wh[col + 2], e.kosten) << hvart;
        }
        const Sums e = expected(data->lines, firma, period, sel);
        const auto sk = warehouse(firma, period, "PeriodenSkonto", key);
        EXPECT_EQ(sk[0] + sk[1], e.skonto);
        EXPECT_EQ(sk[0] + sk[1] - (sk[2] + sk[3]), e.nachlass);
        warehouseNonZero += e.umsatz != 0;
    }
    EXPECT_GT(nonZero, 25); // the selections really hit data
    EXPECT_GT(warehouseNonZero, 20);
}

// No data: a row of zeros. The figures come in the money text form.
TEST_P(Contract, PeriodSumEdgeCases) {
    for (const auto& [firma, period] :
         {std::pair{"1", "12412"}, {"abc", "12401"}, {"1", "2024-01"}}) {
        QStringList args = periodArgs(1, QLatin1String(period), {});
        args[0] = QLatin1String(firma);
        EXPECT_EQ(rows("PeriodenSumme", args), u"0|0"_s) << firma << " " << period;
    }
    const Sums all = expected(data->lines, 1, 12401, Selection{});
    EXPECT_NE(all.umsatz, 0);
    EXPECT_EQ(rows("PeriodenSumme", periodArgs(1, u"12401"_s, {})),
              money(all.umsatz, all.umsatz - all.kosten));
    EXPECT_EQ(errorNumber([&] { run("ZKUmsatz.Daten", "PeriodenSumme", {u"1"_s}); }),
              err::WrongArguments);
    // Warehouse keys: trailing separators are the same as dropped, ten
    // fields are too many.
    const std::array<qint64, 4> zeros{};
    const auto m2 = warehouse(1, 12311, "PeriodenSumme", u"``M2```B"_s);
    EXPECT_NE(m2, zeros);
    EXPECT_EQ(warehouse(1, 12311, "PeriodenSumme", u"``M2```B```"_s), m2);
    EXPECT_EQ(warehouse(1, 12311, "PeriodenSumme", u"``'; DROP TABLE wsum_full; --"_s), zeros);
    EXPECT_EQ(warehouse(1, 12412, "PeriodenSumme", {}), zeros);
    EXPECT_EQ(errorNumber([&] { warehouse(1, 12311, "PeriodenSumme", u"`````````"_s); }),
              err::WrongArguments);
}

TEST_P(Contract, ClosedAndDisconnected) {
    auto h = factory.classHandle(u"ZK.Windows"_s);
    auto q = factory.query(u"ZKUmsatz.Daten"_s, u"Versandarten"_s);
    factory.disconnect();
    EXPECT_FALSE(factory.isConnected());
    EXPECT_EQ(errorNumber([&] { h->call(u"Xecute"_s, {u"D ^%XTT"_s}); }), err::NotConnected);
    EXPECT_EQ(errorNumber([&] { q->execute({u"1"_s, QString()}); }), err::NotConnected);
    EXPECT_EQ(errorNumber([&] { factory.classHandle(u"ZK.Windows"_s); }), err::NotConnected);
    h->SYS_Close(); // harmless on a dead handle
    ASSERT_TRUE(data->db->connect(factory));
    // A new connection is a new session: the company must be set again.
    EXPECT_EQ(errorNumber([&] { xecute(u"d HABT^ZKCLSU"_s); }), err::Undefined);
}

// Rebuilds get their own database: they change it.
class Rebuild : public Client {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        db = testsupport::makeTestDatabase(GetParam(), u"rebuild"_s);
        testsupport::fillDemo(*db, 4000, 3);
        ASSERT_TRUE(db->connect(factory));
    }
    // Company 1's revenue in November and December 2023 and January 2024.
    std::vector<qint64> revenue() {
        std::vector<qint64> r;
        for (const char* period : {"12311", "12312", "12401"})
            r.push_back(cents(rows("PeriodenSumme", periodArgs(1, QLatin1String(period), {}))
                                  .section(u'|', 0, 0)));
        return r;
    }
    void addLines(int period, qint64 umsatz, const char* abt = "M2", int copies = 1) {
        SalesLine l;
        l.datum = (period / 100 + 1900) * 10000 + (period % 100) * 100 + 15;
        l.firma = 1;
        l.codes.code = {u"1"_s, u"10"_s, {}, u"30"_s, u"3001"_s, u"P"_s, u"L"_s, u"01"_s, u"L"_s};
        l.codes[2] = QString::fromUtf8(abt);
        l.umsatz = umsatz;
        l.kosten = umsatz / 2;
        Store(*db->open()).appendSales(QList<SalesLine>(copies, l));
    }
    QString generate(const QString& from, const QString& to) {
        return factory.classHandle(u"ZKUmsatz.Daten"_s)->call(u"Generieren"_s, {u"1"_s, from, to});
    }
    std::unique_ptr<testsupport::TestDatabase> db;
};

TEST_P(Rebuild, GenerateRebuildsAndIsAtomic) {
    std::vector<qint64> sums = revenue();
    addLines(12312, 123456);
    EXPECT_EQ(revenue(), sums); // the sums are what the last rebuild made
    EXPECT_EQ(generate(u"12312"_s, u"12312"_s), u"1"_s);
    sums[1] += 123456;
    EXPECT_EQ(revenue(), sums);
    const QString info = built();
    EXPECT_TRUE(info.startsWith(u"12312`"_s));

    // A failure in the middle, a cancel from the progress callback or bad
    // arguments leave every previous sum and the build info.
    addLines(12311, 1000);
    addLines(12312, 2000);
    addLines(12401, 4000);
    // Arguments, one call per row: the first fails after two periods, the
    // second is cancelled, the others are refused before any work.
    const char* refused[] = {"1,12311,12401", "1,12311,12401", "1,abc,12401",
                             "1,12402,12401", "x,12401,12401", "1"};
    auto h = factory.classHandle(u"ZKUmsatz.Daten"_s);
    for (int i = 0; i < int(std::size(refused)); ++i) {
        SCOPED_TRACE(refused[i]);
        factory.options().generateFaultAfter = i == 0 ? 2 : -1;
        factory.options().generateProgress = [&](const GenerateProgress&) { return i != 1; };
        const QStringList args = QString::fromLatin1(refused[i]).split(u',');
        EXPECT_EQ(errorNumber([&] { h->call(u"Generieren"_s, args); }),
                  args.size() == 3 ? err::GenerateFailed : err::WrongArguments);
        EXPECT_EQ(revenue(), sums);
        EXPECT_EQ(built(), info);
    }
    int calls = 0;
    factory.options().generateProgress = [&](const GenerateProgress& p) {
        EXPECT_EQ(p.total, 3);
        EXPECT_EQ(p.done, ++calls);
        return true;
    };
    generate(u"12311"_s, u"12401"_s);
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(revenue(), (std::vector<qint64>{sums[0] + 1000, sums[1] + 2000, sums[2] + 4000}));
    EXPECT_TRUE(built().startsWith(u"12401`"_s));
}

// Every row of every sum table, against a grouping of the raw lines. Codes
// outside ASCII and a code that exists only in one period catch a rebuild
// that maps dimension codes wrongly.
TEST_P(Rebuild, EveryLevelEqualsTheRawLines) {
    addLines(12402, 777, "MÄ2", 2);
    generate(u"12311"_s, u"12403"_s);
    auto d = db->open();
    auto rows = [&](const QString& sql) { return testsupport::rows(*d, sql); };
    auto expectLevels = [&](const char* after) {
        int checked = 0;
        for (const QList<SumLevel>* fam : {&plainLevels(), &warehouseLevels()})
            for (const SumLevel& l : *fam) {
                const QString cols = dimColumns(l.dims).join(u", "_s);
                const QString where = u" WHERE firma = 1 AND periode BETWEEN 12311 AND 12403 "_s;
                const QString order = u" ORDER BY firma, periode, "_s + cols;
                const QList<QStringList> sums = rows(
                    u"SELECT firma, periode, %1, umsatz, kosten, skonto, nachlass FROM %2"_s.arg(
                        cols, QLatin1String(l.table)) +
                    where + order);
                EXPECT_FALSE(sums.isEmpty()) << l.table;
                EXPECT_EQ(sums, rows(u"SELECT firma, periode, %1, SUM(umsatz), SUM(kosten), "
                                     "SUM(skonto), SUM(nachlass) FROM sales_line"_s.arg(cols) +
                                     where + u"GROUP BY firma, periode, "_s + cols + order))
                    << l.table << " after " << after;
                checked += int(sums.size());
            }
        EXPECT_GT(checked, 100);
    };
    expectLevels("generate");
    // The new code reached the department levels as it was written.
    EXPECT_EQ(d->scalar(u"SELECT umsatz FROM psum_org WHERE periode = 12402 AND abtnr = ? AND "
                        "hkgrp = 'P'"_s,
                        {u"MÄ2"_s})
                  .toLongLong(),
              1554);
    if (GetParam() != TestEngine::Postgres) return;
    // A user's rebuild runs the server function: its rows equal the lines
    // too, and its writes drop the owner's digests of those periods, so
    // the owner's next rebuild mends them once the lines are back as they
    // were when the digests were made.
    addLines(12402, 987654, "MÄ2");
    d->exec(u"SELECT tallvero_rebuild(1, 12311, 12403)"_s).finish();
    expectLevels("the server function");
    d->exec(u"DELETE FROM sales_line WHERE umsatz = 987654"_s).finish();
    generate(u"12311"_s, u"12403"_s);
    expectLevels("the lines went back");
}

INSTANTIATE_ON_BOTH_ENGINES(Contract);
INSTANTIATE_ON_BOTH_ENGINES(Rebuild);

// Bad targets, an unreachable PostgreSQL (a loopback port where nothing
// listens: refused at once) and a SQLite file without the schema.
TEST(Connect, RejectsBadTargets) {
    QTemporaryDir dir;
    const QString empty = dir.filePath(u"leer.sqlite"_s);
    { Database d({Engine::Sqlite, empty, {}, 0, {}, false}); }
    const std::pair<QString, const char*> rows[] = {
        {u""_s, ""},
        {u"cn_iptcp:/nonexistent/dir/none.sqlite[1972]:ZORVEK"_s, ""},
        {u"cn_iptcp:/tmp/x.sqlite[1972]:ANDERER"_s, ""},
        {makeConnectString(u"127.0.0.1"_s, u"1"_s), "PostgreSQL"},
        {makeConnectString(empty, u"1972"_s), "init"}};
    for (const auto& [target, why] : rows) {
        SCOPED_TRACE(target.toStdString());
        ServerFactory f;
        QElapsedTimer t;
        t.start();
        EXPECT_FALSE(f.connect(target));
        EXPECT_LT(t.elapsed(), 10000);
        EXPECT_FALSE(f.isConnected());
        EXPECT_FALSE(f.lastConnectError().isEmpty());
        EXPECT_TRUE(f.lastConnectError().contains(QLatin1String(why)))
            << f.lastConnectError().toStdString();
    }
}

} // namespace
