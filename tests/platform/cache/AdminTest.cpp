// CSV imports, user administration and the admin tool, on both engines.

#include "support/Process.h"
#include "support/TestDatabase.h"

#include "platform/cache/server/Admin.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/Import.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Text.h"

#include <QBuffer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace cache;
using namespace cache::server;
using testsupport::TestEngine;

namespace {

ImportResult importText(Store& store, ImportKind kind, const QString& text) {
    QByteArray bytes = text.toUtf8();
    QBuffer buf(&bytes);
    buf.open(QIODevice::ReadOnly);
    return importCsv(store, kind, buf);
}

const QString kHeader = QStringLiteral(
    "datum;firma;pcnr;habtnr;abtnr;hgrp;ugrp;hkgrp;vart;hvart;styp;umsatz;kosten;skonto;nachlass\n");

class Admin : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        tdb = testsupport::makeTestDatabase(GetParam(), QStringLiteral("admin"));
        db = tdb->open();
        store = std::make_unique<Store>(*db);
    }
    void demoMasterData() {
        db->begin();
        writeDemoMasterData(*store);
        db->commit();
    }
    qint64 count(const char* table) {
        return db->scalar(QStringLiteral("SELECT COUNT(*) FROM %1").arg(QLatin1String(table))).toLongLong();
    }
    std::unique_ptr<testsupport::TestDatabase> tdb;
    std::unique_ptr<Database> db;
    std::unique_ptr<Store> store;
};

TEST_P(Admin, SalesImportSumsMatchTheFile) {
    // Rows with both decimal forms, both date forms, optional columns empty.
    struct Row {
        const char* datum;
        const char* abt;
        const char* hkgrp;
        const char* hvart;
        const char* umsatz;
        const char* kosten;
        qint64 u, k;
        int periode;
    };
    const Row rows[] = {
        {"2024-01-05", "M2", "P", "L", "100.50", "60", 10050, 6000, 12401},
        {"31.01.2024", "M2", "G", "S", "1234,56", "1000,01", 123456, 100001, 12401},
        {"2024-01-31", "M1", "P", "L", "-20", "-12.5", -2000, -1250, 12401},
        {"01.02.2024", "M2", "P", "L", "7", "3", 700, 300, 12402},
    };
    demoMasterData();
    QString csv = kHeader;
    for (const Row& r : rows)
        csv += QStringLiteral("%1;1;1;10;%2;30;3001;%3;01;%4;L;%5;%6;;\n")
                   .arg(QLatin1String(r.datum), QLatin1String(r.abt), QLatin1String(r.hkgrp),
                        QLatin1String(r.hvart), QLatin1String(r.umsatz), QLatin1String(r.kosten));
    const ImportResult res = importText(*store, ImportKind::Sales, csv);
    ASSERT_TRUE(res.ok()) << res.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(res.rows, 4);
    EXPECT_EQ(res.firstPeriod, 12401);
    EXPECT_EQ(res.lastPeriod, 12402);
    EXPECT_EQ(res.companies, QList<qint64>{1});

    auto fileSum = [&](int periode, const char* abt) {
        Sums s;
        for (const Row& r : rows)
            if (r.periode == periode && (!abt || qstrcmp(abt, r.abt) == 0)) {
                s.umsatz += r.u;
                s.kosten += r.k;
            }
        return s;
    };
    Selection m2;
    m2[2] = QStringLiteral("M2");
    EXPECT_EQ(store->rawSum(1, 12401, 12401, Selection{}).umsatz, fileSum(12401, nullptr).umsatz);
    EXPECT_EQ(store->rawSum(1, 12401, 12401, m2).kosten, fileSum(12401, "M2").kosten);
    // The import rebuilt the periods it touched.
    EXPECT_EQ(store->periodSum(1, 12401, 12401, Selection{}).umsatz,
              fileSum(12401, nullptr).umsatz);
    EXPECT_EQ(store->periodSum(1, 12401, 12401, m2).kosten, fileSum(12401, "M2").kosten);
    EXPECT_EQ(store->periodSum(1, 12402, 12402, m2).umsatz, 700);
    Selection strecke;
    strecke[6] = QStringLiteral("S");
    EXPECT_EQ(store->periodSum(1, 12401, 12402, strecke).umsatz, 123456);
}

TEST_P(Admin, BadRowsAreReportedAndNothingIsImported) {
    demoMasterData();
    const QString good = QStringLiteral("2024-01-05;1;1;10;M2;30;3001;P;01;L;L;10;5;0;0\n");
    ASSERT_TRUE(importText(*store, ImportKind::Sales, kHeader + good).ok());
    const qint64 before = count("sales_line");

    const QString csv = kHeader + good +                                        // line 2
                        QStringLiteral("2024-02-30;1;1;10;M2;30;3001;P;01;L;L;10;5;0;0\n") +  // 3 date
                        good +                                                  // 4
                        QStringLiteral("2024-01-05;1;1;10;M2;30;3001;X;01;L;L;10;5;0;0\n") +  // 5 hkgrp
                        QStringLiteral("2024-01-05;1;1;10;M2;30;3001;P;01;L;L;zehn;5;0;0\n") + // 6 money
                        QStringLiteral("2024-01-05;1;1;10;M2;30;3001;P;01;L\n") +            // 7 fields
                        QStringLiteral("2024-01-05;1;1;10;;30;3001;P;01;L;L;10;5;0;0\n") +    // 8 empty
                        QStringLiteral("2024-01-05;eins;1;10;M2;30;3001;P;01;L;L;10;5;0;0\n") + // 9 firma
                        QStringLiteral("\n") +                                  // 10 blank: skipped
                        QStringLiteral("2024-01-05;1;1;10;M2;30;3001;P;01;L;Q;10;5;0;0\n") +  // 11 styp
                        QStringLiteral("2024-01-05;1;1;10;\"M2;30;3001;P;01;L;L;10;5;0;0\n"); // 12 quote
    const ImportResult r = importText(*store, ImportKind::Sales, csv);
    ASSERT_FALSE(r.ok());
    QStringList lines;
    for (const QString& e : r.errors)
        lines << e.section(QLatin1Char(':'), 0, 0);
    EXPECT_EQ(lines, (QStringList{"Zeile 3", "Zeile 5", "Zeile 6", "Zeile 7", "Zeile 8", "Zeile 9",
                                  "Zeile 11", "Zeile 12"}));
    EXPECT_TRUE(r.errors[0].contains(QStringLiteral("Datum")));
    EXPECT_TRUE(r.errors[1].contains(QStringLiteral("hkgrp")));
    EXPECT_TRUE(r.errors[2].contains(QStringLiteral("Betrag")));
    EXPECT_EQ(r.rows, 0);
    EXPECT_EQ(count("sales_line"), before);

    // Header problems are line 1.
    const ImportResult h = importText(*store, ImportKind::Sales,
                                      QStringLiteral("datum;firma;umsatz;farbe\n2024-01-01;1;5;rot\n"));
    ASSERT_FALSE(h.ok());
    EXPECT_TRUE(h.errors.first().startsWith(QStringLiteral("Zeile 1:")));
    EXPECT_TRUE(h.errors.join(QLatin1Char(' ')).contains(QStringLiteral("farbe")));
    EXPECT_EQ(count("sales_line"), before);

    // Many bad rows: the report stops at the limit.
    QString many = kHeader;
    for (int i = 0; i < 150; ++i)
        many += QStringLiteral("x;1;1;10;M2;30;3001;P;01;L;L;10;5;0;0\n");
    const ImportResult m = importText(*store, ImportKind::Sales, many);
    EXPECT_EQ(m.errors.size(), kMaxImportErrors);
    EXPECT_TRUE(m.moreErrors);
}

TEST_P(Admin, MasterDataQuotedFieldsAndUpsert) {
    const ImportResult a = importText(
        *store, ImportKind::Abteilung,
        QStringLiteral("firma;abtnr;name;habtnr;pcnr\n1;M2;\"Heizung; Lüftung \"\"Nord\"\"\";10;1\n1;M3;Baustoffe;20;1\n"));
    ASSERT_TRUE(a.ok()) << a.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(store->departments(1).first().name, QStringLiteral("Heizung; Lüftung \"Nord\""));
    // Same key again: replaced, not doubled.
    const ImportResult b = importText(*store, ImportKind::Abteilung,
                                      QStringLiteral("firma,abtnr,name,habtnr,pcnr\n1,M2,Wärme,10,2\n"));
    ASSERT_TRUE(b.ok());
    const QList<CodeName> d = store->departments(1);
    ASSERT_EQ(d.size(), 2);
    EXPECT_EQ(d[0].name, QStringLiteral("Wärme"));
    EXPECT_EQ(store->departmentsOfProfitCentre(1, QStringLiteral("2")).size(), 1);
    // Control characters are refused.
    EXPECT_FALSE(importText(*store, ImportKind::Hauptgruppe,
                            QStringLiteral("firma;hgrp;name\n1;30;Hei\x01zung\n"))
                     .ok());
    // The same key twice in one file: refused as a whole, the old names
    // stay, and the database goes on working (found by fuzzing: SQLite's
    // constraint error used to count as a lost connection).
    const ImportResult twice = importText(
        *store, ImportKind::Abteilung,
        QStringLiteral("firma;abtnr;name;habtnr;pcnr\n1;M2;Eins;10;1\n1;M2;Zwei;10;1\n"));
    EXPECT_FALSE(twice.ok());
    EXPECT_EQ(twice.rows, 0);
    EXPECT_EQ(store->departments(1).first().name, QStringLiteral("Wärme"));
    EXPECT_EQ(count("abteilung"), 2);
    ImportKind k;
    EXPECT_TRUE(importKindFromName(QStringLiteral("Untergruppe"), &k));
    EXPECT_EQ(k, ImportKind::Untergruppe);
    EXPECT_FALSE(importKindFromName(QStringLiteral("kunden"), &k));
}

TEST_P(Admin, OptionalColumnsMayBeMissingAndFieldsEmpty) {
    // Found by fuzzing: a missing optional column or an empty field went to
    // the database as NULL, so the NOT NULL columns refused the whole file.
    const ImportResult p = importText(
        *store, ImportKind::Personal,
        QStringLiteral("firma;code;passwort;aktiv;pname;pnr;abtnr\n1;HUBER;;J;;2001;M2\n"));
    ASSERT_TRUE(p.ok()) << p.errors.join(QLatin1Char('\n')).toStdString();
    const ImportResult b =
        importText(*store, ImportKind::Personalbasis, QStringLiteral("firma,pnr,fax\n1,2001,\n"));
    ASSERT_TRUE(b.ok()) << b.errors.join(QLatin1Char('\n')).toStdString();
    const auto rec = store->persEdv(1, QStringLiteral("HUBER"));
    ASSERT_TRUE(rec.has_value());
    EXPECT_EQ(rec->value(QStringLiteral("dw")), QString());
    EXPECT_EQ(rec->value(QStringLiteral("pname")), QString());
    EXPECT_EQ(rec->value(QStringLiteral("abtnr")), QStringLiteral("M2"));
    const auto basis = store->persBasis(1, QStringLiteral("2001"));
    ASSERT_TRUE(basis.has_value());
    EXPECT_EQ(basis->value(QStringLiteral("email")), QString());
    EXPECT_EQ(count("pers_basis"), 1);
}

TEST_P(Admin, UsersAndPermissionsAsTheServerAnswersThem) {
    ASSERT_TRUE(importText(*store, ImportKind::Personalabteilung,
                           QStringLiteral("firma;abtnr;abtbez;habtnr\n1;M2;Heizung;10\n"))
                    .ok());
    NewUser u;
    u.code = QStringLiteral("huber");
    u.name = QStringLiteral("Hans Hüber");
    u.password = QStringLiteral("Geheim1");
    u.pnr = QStringLiteral("2001");
    u.abtnr = QStringLiteral("M2");
    addUser(*store, u);
    EXPECT_THROW(addUser(*store, u), CacheError);  // exists already
    NewUser bad = u;
    bad.code = QStringLiteral("NEU");
    bad.abtnr = QStringLiteral("XX");
    EXPECT_THROW(addUser(*store, bad), CacheError);
    setPermission(*store, QStringLiteral("HUBER"), 5);

    ServerFactory f;
    ASSERT_TRUE(tdb->connect(f));
    {
        auto rec = f.open(QStringLiteral("ZK.ParPersEdv"), QStringLiteral("1||HUBER"));
        EXPECT_EQ(rec->call(QStringLiteral("PasswortPruefen"), {QStringLiteral("geheim1")}),
                  QStringLiteral("0"));
        EXPECT_EQ(rec->call(QStringLiteral("PasswortPruefen"), {QStringLiteral("Geheim1")}),
                  QStringLiteral("1"));
        EXPECT_EQ(rec->property(QStringLiteral("AKTIV")), QStringLiteral("J"));
        EXPECT_EQ(rec->call(QStringLiteral("PNAMELogicalToODBC")), QStringLiteral("Hans Hüber"));
        auto basis = f.open(QStringLiteral("ZK.PersBasis"), QStringLiteral("1||2001"));
        EXPECT_EQ(basis->property(QStringLiteral("EMAIL")), QString());
        auto p = f.classHandle(QStringLiteral("UserVerwaltung.Programm"));
        EXPECT_EQ(p->call(QStringLiteral("Berechtigung"),
                          {QStringLiteral("HUBER"), QStringLiteral("Tallvero"), QStringLiteral("alles")}),
                  QStringLiteral("5"));
    }
    setPassword(*store, 1, QStringLiteral("HUBER"), QStringLiteral("neu"));
    setActive(*store, 1, QStringLiteral("HUBER"), false);
    setPermission(*store, QStringLiteral("HUBER"), 2);
    auto rec = f.open(QStringLiteral("ZK.ParPersEdv"), QStringLiteral("1||HUBER"));
    EXPECT_EQ(rec->property(QStringLiteral("AKTIV")), QStringLiteral("N"));
    // The new password; on PostgreSQL the inactive login's role cannot log in.
    EXPECT_EQ(rec->call(QStringLiteral("PasswortPruefen"), {QStringLiteral("neu")}),
              GetParam() == TestEngine::Sqlite ? QStringLiteral("1") : QStringLiteral("0"));
    EXPECT_EQ(rec->call(QStringLiteral("PasswortPruefen"), {QStringLiteral("Geheim1")}),
              QStringLiteral("0"));
    auto p = f.classHandle(QStringLiteral("UserVerwaltung.Programm"));
    EXPECT_EQ(p->call(QStringLiteral("Berechtigung"),
                      {QStringLiteral("HUBER"), QStringLiteral("Tallvero"), QStringLiteral("alles")}),
              QStringLiteral("2"));
    EXPECT_THROW(setPassword(*store, 1, QStringLiteral("NIEMAND"), QStringLiteral("x")), CacheError);
    EXPECT_THROW(setDepartment(*store, 1, QStringLiteral("HUBER"), QStringLiteral("ZZ")), CacheError);
}

INSTANTIATE_ON_BOTH_ENGINES(Admin);

struct ToolRun {
    int code;
    QString out;
    QString err;
};

ToolRun tool(const QStringList& args, const QByteArray& input = {}) {
    const testsupport::ProcessRun r =
        testsupport::runProcess(QStringLiteral(TALLVERO_DB_BIN), args, {}, input, 120000);
    return {r.code, r.outText(), r.errText()};
}

TEST(AdminTool, DemoInfoImportAndUsage) {
    QTemporaryDir dir;
    const QString db = dir.filePath(QStringLiteral("werk.sqlite"));
    const ToolRun demo = tool({"--server", db, "demo", "--lines", "2000", "--until", "2024-03"});
    ASSERT_EQ(demo.code, 0) << demo.err.toStdString();
    const ToolRun info = tool({"--server", db, "info"});
    ASSERT_EQ(info.code, 0);
    EXPECT_TRUE(info.out.contains(QStringLiteral("Verkaufszeilen gesamt: 2000"))) << info.out.toStdString();
    EXPECT_TRUE(info.out.contains(QStringLiteral("Letzte aufgebaute Periode: 12403")));
    EXPECT_FALSE(info.out.contains(QStringLiteral("demo")));  // no password in the overview

    // A second demo into a filled database is refused without --force.
    EXPECT_EQ(tool({"--server", db, "demo", "--lines", "10"}).code, 1);

    const QString csv = dir.filePath(QStringLiteral("zeilen.csv"));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(kHeader.toUtf8() + "2024-03-10;1;1;10;M2;30;3001;P;01;L;L;999.99;500;0;0\n"
                               "2024-03-11;1;1;10;M2;30;3001;P;01;L;L;1;x;0;0\n");
    f.close();
    const ToolRun bad = tool({"--server", db, "import-sales", csv});
    EXPECT_EQ(bad.code, 1);
    EXPECT_TRUE(bad.err.contains(QStringLiteral("Zeile 3"))) << bad.err.toStdString();
    EXPECT_TRUE(bad.err.contains(QStringLiteral("Nichts importiert")));

    const ToolRun pw = tool({"--server", db, "user", "password", "DEMO"}, "streng-geheim\n");
    EXPECT_EQ(pw.code, 0) << pw.err.toStdString();
    EXPECT_FALSE((pw.out + pw.err).contains(QStringLiteral("streng-geheim")));

    EXPECT_EQ(tool({"--server", db, "generate", "12403", "12401"}).code, 2);
    EXPECT_EQ(tool({"--server", db, "generate", "12401", "12403"}).code, 0);
    EXPECT_EQ(tool({"--server", db, "--frobnicate"}).code, 2);
    EXPECT_EQ(tool({"--server", db, "permission", "DEMO", "viel"}).code, 2);
    const ToolRun help = tool({"import", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.contains(QStringLiteral("personalabteilung")));
}

} // namespace
