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
using namespace Qt::StringLiterals;
using testsupport::TestEngine;

namespace {

ImportResult importText(Store& store, ImportKind kind, const QString& text) {
    QByteArray bytes = text.toUtf8();
    QBuffer buf(&bytes);
    buf.open(QIODevice::ReadOnly);
    return importCsv(store, kind, buf);
}

const QString kHeader = u"datum;firma;pcnr;habtnr;abtnr;hgrp;ugrp;hkgrp;vart;hvart;styp;umsatz;"
                        "kosten;skonto;nachlass\n"_s;

class Admin : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        tdb = testsupport::makeTestDatabase(GetParam(), u"admin"_s);
        db = tdb->open();
        store = std::make_unique<Store>(*db);
    }
    void demoMasterData() {
        db->begin();
        writeDemoMasterData(*store);
        db->commit();
    }
    qint64 count(const char* table) {
        return db->scalar(u"SELECT COUNT(*) FROM %1"_s.arg(QLatin1String(table))).toLongLong();
    }
    std::unique_ptr<testsupport::TestDatabase> tdb;
    std::unique_ptr<Database> db;
    std::unique_ptr<Store> store;
};

// The sales import through the generic import: what it reports of the file.
TEST_P(Admin, SalesFileThroughTheGenericImport) {
    demoMasterData();
    const ImportResult r =
        importText(*store, ImportKind::Sales,
                   kHeader + u"2024-01-05;1;1;10;M2;30;3001;P;01;L;L;10;5;0;0\n"
                             "01.02.2024;1;1;10;M2;30;3001;P;01;L;L;7;3;0;0\n"_s);
    ASSERT_TRUE(r.ok()) << r.errors.join(u'\n').toStdString();
    EXPECT_EQ(r.rows, 2);
    EXPECT_EQ(QList<int>({r.firstPeriod, r.lastPeriod}), QList<int>({12401, 12402}));
    EXPECT_EQ(r.companies, QList<qint64>{1});
}

TEST_P(Admin, MasterDataQuotedFieldsAndUpsert) {
    const ImportResult a = importText(
        *store, ImportKind::Abteilung,
        u"firma;abtnr;name;habtnr;pcnr\n1;M2;\"Heizung; Lüftung \"\"Nord\"\"\";10;1\n"
        "1;M3;Baustoffe;20;1\n"_s);
    ASSERT_TRUE(a.ok()) << a.errors.join(u'\n').toStdString();
    EXPECT_EQ(store->departments(1).first().name, u"Heizung; Lüftung \"Nord\""_s);
    // Same key again: replaced, not doubled.
    const ImportResult b = importText(*store, ImportKind::Abteilung,
                                      u"firma,abtnr,name,habtnr,pcnr\n1,M2,Wärme,10,2\n"_s);
    ASSERT_TRUE(b.ok());
    const QList<CodeName> d = store->departments(1);
    ASSERT_EQ(d.size(), 2);
    EXPECT_EQ(d[0].name, u"Wärme"_s);
    EXPECT_EQ(store->departmentsOfProfitCentre(1, u"2"_s).size(), 1);
    // Control characters are refused.
    EXPECT_FALSE(
        importText(*store, ImportKind::Hauptgruppe, u"firma;hgrp;name\n1;30;Hei\x01zung\n"_s).ok());
    // The same key twice in one file: refused as a whole, the old names
    // stay, and the database goes on working (found by fuzzing: SQLite's
    // constraint error used to count as a lost connection).
    const ImportResult twice =
        importText(*store, ImportKind::Abteilung,
                   u"firma;abtnr;name;habtnr;pcnr\n1;M2;Eins;10;1\n1;M2;Zwei;10;1\n"_s);
    EXPECT_FALSE(twice.ok());
    EXPECT_EQ(twice.rows, 0);
    EXPECT_EQ(store->departments(1).first().name, u"Wärme"_s);
    EXPECT_EQ(count("abteilung"), 2);
    ImportKind k;
    EXPECT_TRUE(importKindFromName(u"Untergruppe"_s, &k));
    EXPECT_EQ(k, ImportKind::Untergruppe);
    EXPECT_FALSE(importKindFromName(u"kunden"_s, &k));
}

TEST_P(Admin, OptionalColumnsMayBeMissingAndFieldsEmpty) {
    // Found by fuzzing: a missing optional column or an empty field went to
    // the database as NULL, so the NOT NULL columns refused the whole file.
    const ImportResult p =
        importText(*store, ImportKind::Personal,
                   u"firma;code;passwort;aktiv;pname;pnr;abtnr\n1;HUBER;;J;;2001;M2\n"_s);
    ASSERT_TRUE(p.ok()) << p.errors.join(u'\n').toStdString();
    const ImportResult b =
        importText(*store, ImportKind::Personalbasis, u"firma,pnr,fax\n1,2001,\n"_s);
    ASSERT_TRUE(b.ok()) << b.errors.join(u'\n').toStdString();
    const auto rec = store->persEdv(1, u"HUBER"_s);
    ASSERT_TRUE(rec.has_value());
    EXPECT_EQ(rec->value(u"dw"_s), QString());
    EXPECT_EQ(rec->value(u"pname"_s), QString());
    EXPECT_EQ(rec->value(u"abtnr"_s), u"M2"_s);
    const auto basis = store->persBasis(1, u"2001"_s);
    ASSERT_TRUE(basis.has_value());
    EXPECT_EQ(basis->value(u"email"_s), QString());
    EXPECT_EQ(count("pers_basis"), 1);
}

TEST_P(Admin, UsersAndPermissionsAsTheServerAnswersThem) {
    ASSERT_TRUE(importText(*store, ImportKind::Personalabteilung,
                           u"firma;abtnr;abtbez;habtnr\n1;M2;Heizung;10\n"_s)
                    .ok());
    NewUser u{1, u"huber"_s, u"Hans Hüber"_s, u"Geheim1"_s, u"2001"_s, u"M2"_s};
    addUser(*store, u);
    EXPECT_THROW(addUser(*store, u), CacheError); // exists already
    u.code = u"NEU"_s;
    u.abtnr = u"XX"_s;
    EXPECT_THROW(addUser(*store, u), CacheError); // no such department
    setPermission(*store, u"HUBER"_s, 5);

    ServerFactory f;
    ASSERT_TRUE(tdb->connect(f));
    // The password checks, then active, name, e-mail and level.
    auto answers = [&](const QStringList& passwords) {
        auto rec = f.open(u"ZK.ParPersEdv"_s, u"1||HUBER"_s);
        QStringList out;
        for (const QString& pw : passwords)
            out << rec->call(u"PasswortPruefen"_s, {pw});
        out << rec->property(u"AKTIV"_s) << rec->call(u"PNAMELogicalToODBC"_s)
            << f.open(u"ZK.PersBasis"_s, u"1||2001"_s)->property(u"EMAIL"_s)
            << f.classHandle(u"UserVerwaltung.Programm"_s)
                   ->call(u"Berechtigung"_s, {u"HUBER"_s, u"Tallvero"_s, u"alles"_s});
        return out.join(u'|');
    };
    EXPECT_EQ(answers({u"geheim1"_s, u"Geheim1"_s}), u"0|1|J|Hans Hüber||5"_s);
    setPassword(*store, 1, u"HUBER"_s, u"neu"_s);
    setActive(*store, 1, u"HUBER"_s, false);
    setPermission(*store, u"HUBER"_s, 2);
    // The new password; on PostgreSQL the inactive login's role cannot log in.
    EXPECT_EQ(answers({u"neu"_s, u"Geheim1"_s}),
              (GetParam() == TestEngine::Sqlite ? u"1"_s : u"0"_s) + u"|0|N|Hans Hüber||2"_s);
    EXPECT_THROW(setPassword(*store, 1, u"NIEMAND"_s, u"x"_s), CacheError);
    EXPECT_THROW(setDepartment(*store, 1, u"HUBER"_s, u"ZZ"_s), CacheError);
}

INSTANTIATE_ON_BOTH_ENGINES(Admin);

// The admin tool on one SQLite file, command after command: exit code,
// a text its output contains ("!" first: does not contain), stdin.
TEST(AdminTool, DemoInfoImportAndUsage) {
    QTemporaryDir dir;
    const QString db = dir.filePath(u"werk.sqlite"_s);
    const QString csv = dir.filePath(u"zeilen.csv"_s);
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(kHeader.toUtf8() + "2024-03-10;1;1;10;M2;30;3001;P;01;L;L;999.99;500;0;0\n"
                               "2024-03-11;1;1;10;M2;30;3001;P;01;L;L;1;x;0;0\n");
    f.close();
    struct Step {
        QStringList args;
        int code;
        const char* output;
        QByteArray input = {};
    };
    const Step steps[] = {
        {{"demo", "--lines", "2000", "--until", "2024-03"}, 0, ""},
        {{"info"}, 0, "Verkaufszeilen gesamt: 2000"},
        {{"info"}, 0, "Letzte aufgebaute Periode: 12403"},
        {{"info"}, 0, "!demo"}, // no password in the overview
        {{"demo", "--lines", "10"}, 1, ""}, // a filled database needs --force
        {{"import-sales", csv}, 1, "Zeile 3"},
        {{"import-sales", csv}, 1, "Nichts importiert"},
        {{"user", "password", "DEMO"}, 0, "!streng-geheim", "streng-geheim\n"},
        {{"generate", "12403", "12401"}, 2, ""},
        {{"generate", "12401", "12403"}, 0, ""},
        {{"--frobnicate"}, 2, ""},
        {{"permission", "DEMO", "viel"}, 2, ""},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.args.join(u' ').toStdString());
        const testsupport::ProcessRun r = testsupport::runProcess(
            QStringLiteral(TALLVERO_DB_BIN), QStringList{u"--server"_s, db} + s.args, {}, s.input,
            120000);
        EXPECT_EQ(r.code, s.code) << r.err.toStdString();
        const QString out = r.outText() + r.errText(), want = QString::fromUtf8(s.output);
        if (want.startsWith(u'!'))
            EXPECT_FALSE(out.contains(want.mid(1))) << out.toStdString();
        else
            EXPECT_TRUE(out.contains(want)) << out.toStdString();
    }
    const testsupport::ProcessRun help =
        testsupport::runProcess(QStringLiteral(TALLVERO_DB_BIN), {u"import"_s, u"--help"_s});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.outText().contains(u"personalabteilung"_s));
}

} // namespace
