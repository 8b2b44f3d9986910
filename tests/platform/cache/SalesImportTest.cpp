// The import of sales lines on both engines: batches, replaced periods,
// sums that follow the lines, master-data checks, encodings, verify, a
// killed import, and the nightly job as docs/operations.md documents it.

#include "platform/cache/server/SalesImport.h"

#include "platform/cache/server/Batches.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/Schema.h"
#include "support/Process.h"
#include "support/TestDatabase.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>

using namespace cache;
using namespace cache::server;
using testsupport::TestEngine;

namespace {

const QByteArray kHeader =
    "datum;firma;pcnr;habtnr;abtnr;hgrp;ugrp;hkgrp;vart;hvart;styp;umsatz;kosten;skonto;nachlass\n";

// One line with the demo's master data; fields by name may be replaced.
QByteArray line(const char* datum, qint64 firma, qint64 cents,
                const QList<QPair<const char*, QByteArray>>& change = {}) {
    QList<QPair<const char*, QByteArray>> f = {
        {"datum", datum},
        {"firma", QByteArray::number(firma)},
        {"pcnr", "1"},
        {"habtnr", "10"},
        {"abtnr", "M2"},
        {"hgrp", "30"},
        {"ugrp", "3001"},
        {"hkgrp", "P"},
        {"vart", "01"},
        {"hvart", "L"},
        {"styp", "L"},
        {"umsatz", QByteArray::number(cents / 100) + "." +
                       QByteArray::number(cents % 100).rightJustified(2, '0')},
        {"kosten", "1"},
        {"skonto", "0"},
        {"nachlass", "0"}};
    for (const auto& [name, value] : change)
        for (auto& field : f)
            if (qstrcmp(field.first, name) == 0) field.second = value;
    QByteArrayList values;
    for (const auto& field : f)
        values << field.second;
    return values.join(';') + '\n';
}

class SalesImport : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        tdb = testsupport::makeTestDatabase(GetParam(), QStringLiteral("sales"));
        db = tdb->open();
        store = std::make_unique<Store>(*db);
        db->begin();
        writeDemoMasterData(*store);
        db->commit();
    }
    SalesImportResult run(QByteArray bytes, SalesImportOptions o = {}) {
        QBuffer buf(&bytes);
        buf.open(QIODevice::ReadOnly);
        o.fileName = QStringLiteral("verkauf.csv");
        return importSales(*store, buf, o);
    }
    qint64 revenue(qint64 firma, int period, const QString& abt = {}) {
        Selection s;
        s[2] = abt;
        return store->periodSum(firma, period, period, s).umsatz;
    }
    // Everything an import writes, as text: line, batch and dimension
    // counts, the build information and every row of every sum table.
    QString snapshot() {
        QStringList parts;
        for (const char* sql :
             {"SELECT COUNT(*), COALESCE(SUM(umsatz), 0) FROM sales_line",
              "SELECT COUNT(*) FROM import_batch", "SELECT COUNT(*) FROM sales_dim",
              "SELECT value FROM server_info WHERE key = 'XWGDAT'"})
            parts << db->scalar(QString::fromLatin1(sql)).toString();
        for (const char* t : {"psum_top", "psum_org", "psum_prod", "psum_full", "wsum_top",
                              "wsum_org", "wsum_prod", "wsum_full"})
            parts << db->scalar(
                           QStringLiteral("SELECT COUNT(*) || '/' || COALESCE(SUM(umsatz), 0) || "
                                          "'/' || COALESCE(SUM(kosten * periode), 0) FROM %1")
                               .arg(QLatin1String(t)))
                         .toString();
        return parts.join(QLatin1Char(' '));
    }
    std::unique_ptr<testsupport::TestDatabase> tdb;
    std::unique_ptr<Database> db;
    std::unique_ptr<Store> store;
};

TEST_P(SalesImport, BatchesReplacedPeriodsAndSumsFollowTheLines) {
    const QByteArray a = kHeader + line("2024-01-05", 1, 10000) + line("20.02.2024", 1, 20000) +
                         line("2024-01-31", 2, 500);
    const QByteArray b = kHeader + line("2024-02-10", 1, 700);
    enum Act { Import, Remove };
    struct Step {
        const char* what;
        Act act;
        const QByteArray* file;
        bool force, replace;
        qint64 batch;       // the new batch, or the one removed
        qint64 duplicateOf; // 0: not refused
        qint64 rev[3];      // company 1 in 12401 and 12402, company 2 in 12401
    };
    const Step steps[] = {
        {"first import", Import, &a, false, false, 1, 0, {10000, 20000, 500}},
        {"the same content again", Import, &a, false, false, 0, 1, {10000, 20000, 500}},
        {"--force", Import, &a, true, false, 2, 0, {20000, 40000, 1000}},
        {"--replace-periods", Import, &b, false, true, 3, 0, {20000, 700, 1000}},
        {"remove the forced batch", Remove, nullptr, false, false, 2, 0, {10000, 700, 500}},
        {"still refused while batch 1 is in", Import, &a, false, false, 0, 1, {10000, 700, 500}},
        {"remove batch 1", Remove, nullptr, false, false, 1, 0, {0, 700, 0}},
        {"accepted again once removed", Import, &a, false, false, 4, 0, {10000, 20700, 500}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        const QString before = snapshot();
        if (s.act == Remove) {
            removeBatch(*store, s.batch);
        } else {
            SalesImportOptions o;
            o.force = s.force;
            o.replacePeriods = s.replace;
            const SalesImportResult r = run(*s.file, o);
            ASSERT_TRUE(r.errors.isEmpty()) << r.errors.join(QLatin1Char('\n')).toStdString();
            if (s.duplicateOf) {
                ASSERT_TRUE(r.duplicate.has_value());
                EXPECT_EQ(r.duplicate->batch, s.duplicateOf);
                const QString m = duplicateMessage(QStringLiteral("neu.csv"), *r.duplicate);
                EXPECT_TRUE(m.contains(QStringLiteral("wurde bereits am")) &&
                            m.contains(QStringLiteral("als Stapel %1").arg(s.duplicateOf)))
                    << m.toStdString();
                EXPECT_EQ(snapshot(), before);
            } else {
                ASSERT_FALSE(r.duplicate.has_value());
                EXPECT_EQ(r.batch, s.batch);
                EXPECT_TRUE(r.generated);
            }
        }
        // The sums are those of the lines right after the import, with no
        // rebuild in between.
        EXPECT_EQ(revenue(1, 12401), s.rev[0]);
        EXPECT_EQ(revenue(1, 12402), s.rev[1]);
        EXPECT_EQ(revenue(2, 12401), s.rev[2]);
        EXPECT_EQ(verifySums(*db, 0, 0, std::nullopt).differences, 0);
    }
    const QList<BatchInfo> batches = listBatches(*db);
    ASSERT_EQ(batches.size(), 4);
    EXPECT_EQ(batches[2].replacedLines, 2); // batch 1's and batch 2's February lines
    EXPECT_FALSE(batches[0].removedAt.isEmpty());
    EXPECT_TRUE(batches[3].removedAt.isEmpty());
    EXPECT_EQ(batches[3].sha256, batches[0].sha256);
    EXPECT_EQ(batches[3].sha256.size(), 64);

    // verify finds what the sums no longer share with the lines: a changed
    // sum, a missing row and a row without lines, each in its table.
    db->exec(QStringLiteral("UPDATE psum_full SET umsatz = umsatz + 1 WHERE firma = 2")).finish();
    db->exec(QStringLiteral("DELETE FROM wsum_top WHERE firma = 1 AND periode = 12402")).finish();
    db->exec(QStringLiteral("INSERT INTO psum_top (firma, periode, hkgrp, hvart, umsatz, kosten, "
                            "skonto, nachlass) VALUES (1, 12312, 'P', 'L', 1, 0, 0, 0)"))
        .finish();
    const VerifyResult v = verifySums(*db, 0, 0, std::nullopt);
    QStringList found;
    for (const SumDifference& d : v.listed)
        found << QStringLiteral("%1 %2 %3 %4")
                     .arg(d.table)
                     .arg(d.firma)
                     .arg(d.periode)
                     .arg(d.stored.left(5));
    EXPECT_EQ(found, (QStringList{"psum_top 1 12312 umsat", "wsum_top 1 12402 fehlt",
                                  "psum_full 2 12401 umsat"}));
    EXPECT_EQ(verifySums(*db, 12401, 12401, 1).differences, 0);
}

TEST_P(SalesImport, MasterDataMismatchesAndABadLastLineChangeNothing) {
    struct Bad {
        QList<QPair<const char*, QByteArray>> change;
        const char* reason;
    };
    const Bad bad[] = {
        {{{"firma", "7"}}, "Firma 7 fehlt in den Stammdaten"},
        {{{"pcnr", "9"}}, "Profitcenter „9“ fehlt"},
        {{{"habtnr", "50"}}, "Hauptabteilung „50“ fehlt"},
        {{{"abtnr", "ZZ"}}, "Abteilung „ZZ“ fehlt"},
        {{{"abtnr", "M3"}}, "Abteilung „M3“ gehört laut Stammdaten zur Hauptabteilung „20“"},
        {{{"hgrp", "95"}, {"ugrp", "9501"}}, "Hauptgruppe „95“ fehlt"},
        {{{"ugrp", "3009"}}, "Untergruppe „3009“ fehlt in den Stammdaten der Hauptgruppe „30“"},
        {{{"vart", "07"}}, "Versandart „07“ fehlt"},
    };
    // Many good lines first, so that the bad ones come last and the first
    // lines were long written (through a small cache) when they are met.
    constexpr int kGood = 30000;
    QByteArray file = kHeader;
    for (int i = 0; i < kGood; ++i)
        file += line(i % 2 ? "2024-03-01" : "2024-02-01", 1, 100 + i % 7);
    for (const Bad& b : bad)
        file += line("2024-03-02", 1, 100, b.change);
    qputenv("TALLVERO_IMPORT_CACHE_KB", "64");
    const QString before = snapshot();
    const SalesImportResult refused = run(file);
    QStringList expected;
    for (int i = 0; i < int(std::size(bad)); ++i)
        expected << QStringLiteral("Zeile %1: %2")
                        .arg(kGood + 2 + i)
                        .arg(QString::fromUtf8(bad[i].reason));
    ASSERT_EQ(refused.errors.size(), expected.size())
        << refused.errors.join(QLatin1Char('\n')).toStdString();
    for (int i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(refused.errors[i].startsWith(expected[i])) << refused.errors[i].toStdString();
    EXPECT_EQ(refused.lines, 0);
    EXPECT_EQ(snapshot(), before);

    // --allow-unknown imports them all and lists them as warnings.
    SalesImportOptions o;
    o.allowUnknown = true;
    const SalesImportResult taken = run(file, o);
    qunsetenv("TALLVERO_IMPORT_CACHE_KB");
    ASSERT_TRUE(taken.ok()) << taken.errors.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(taken.lines, kGood + qint64(std::size(bad)));
    EXPECT_EQ(taken.warnings, refused.errors);
    EXPECT_EQ(revenue(7, 12403), 100);
    EXPECT_EQ(revenue(1, 12403, QStringLiteral("ZZ")), 100);
    EXPECT_EQ(verifySums(*db, 0, 0, std::nullopt).differences, 0);
}

TEST_P(SalesImport, EncodingsAreReadOrRefusedWithTheLine) {
    struct Case {
        const char* what;
        SourceEncoding encoding;
        QByteArray department; // the bytes of the file
        const char* stored;    // nullptr: refused
        const char* error;
    };
    const Case cases[] = {
        {"UTF-8", SourceEncoding::Utf8, "M\xC3\x84", "MÄ", nullptr},
        {"Windows-1252 umlaut", SourceEncoding::Windows1252, "M\xC4", "MÄ", nullptr},
        {"Windows-1252 euro", SourceEncoding::Windows1252, "M\x80", "M€", nullptr},
        {"ISO-8859-15 euro and oe", SourceEncoding::Iso885915, "M\xA4\xBD", "M€œ", nullptr},
        {"Windows-1252 read as UTF-8", SourceEncoding::Utf8, "M\xC4", nullptr,
         "Zeile 3: Ungültiges UTF-8 an Stelle 21"},
        {"byte not defined in Windows-1252", SourceEncoding::Windows1252, "M\x81", nullptr,
         "Zeile 3: Byte 0x81 an Stelle 21"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SalesImportOptions o;
        o.encoding = c.encoding;
        o.allowUnknown = true;
        // Each case its own department: a digit, then the bytes.
        const QByteArray digit = QByteArray::number(++n);
        const QByteArray file = kHeader + line("2024-05-03", 1, 100) +
                                line("2024-05-04", 1, 4200, {{"abtnr", digit + c.department}});
        const SalesImportResult r = run(file, o);
        if (!c.stored) {
            ASSERT_EQ(r.errors.size(), 1);
            EXPECT_TRUE(r.errors[0].startsWith(QString::fromUtf8(c.error)))
                << r.errors[0].toStdString();
            continue;
        }
        ASSERT_TRUE(r.ok()) << r.errors.join(QLatin1Char('\n')).toStdString();
        const QString stored = QString::fromLatin1(digit) + QString::fromUtf8(c.stored);
        Selection s;
        s[2] = stored;
        EXPECT_EQ(store->rawSum(1, 12405, 12405, s).umsatz, 4200);
        EXPECT_EQ(revenue(1, 12405, stored), 4200);
    }
}

INSTANTIATE_ON_BOTH_ENGINES(SalesImport);

// --- The admin tool as a process ---------------------------------------------

class SalesImportTool : public SalesImport {
protected:
    QStringList server() const {
        if (GetParam() == TestEngine::Sqlite)
            return {QStringLiteral("--server"), tdb->target.sqlitePath};
        return {QStringLiteral("--server"), tdb->target.host, QStringLiteral("--port"),
                QString::number(tdb->target.port)};
    }
    QProcessEnvironment env() const {
        QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
        e.insert(QStringLiteral("TALLVERO_PG_DATABASE"), tdb->target.database);
        return e;
    }
    // Waits until no other session works on the test database, so that
    // what a killed client left is gone before the next check.
    void waitForOtherSessions() {
        if (GetParam() != TestEngine::Postgres) return;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 20000 &&
               db->scalar(QStringLiteral("SELECT COUNT(*) FROM pg_stat_activity WHERE datname = "
                                         "current_database() AND pid <> pg_backend_pid()"))
                       .toLongLong() > 0)
            QThread::msleep(50);
    }
};

TEST_P(SalesImportTool, AKilledImportLeavesTheDatabaseAsBefore) {
    QTemporaryDir dir;
    QByteArray file = kHeader;
    for (int i = 0; i < 5000; ++i)
        file += line(i % 3 ? "2024-04-11" : "2024-03-30", 1 + i % 2, 1000 + i);
    const QString csv = dir.filePath(QStringLiteral("verkauf.csv"));
    QFile f(csv);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(file);
    f.close();
    ASSERT_TRUE(run(kHeader + line("2024-03-01", 1, 99)).ok());
    const QString before = snapshot();
    db.reset(); // the tool has the database to itself

    for (const char* stage : {"lines", "generate", "commit"}) {
        SCOPED_TRACE(stage);
        QProcess p;
        QProcessEnvironment e = env();
        e.insert(QStringLiteral("TALLVERO_FAULT_IMPORT_HOLD"), QLatin1String(stage));
        // A small cache, so that written pages reach the WAL before the kill.
        e.insert(QStringLiteral("TALLVERO_IMPORT_CACHE_KB"), QStringLiteral("64"));
        p.setProcessEnvironment(e);
        p.setReadChannel(QProcess::StandardError);
        p.start(QStringLiteral(TALLVERO_DB_BIN), server() << QStringLiteral("import-sales") << csv);
        ASSERT_TRUE(p.waitForStarted());
        QByteArray err;
        QElapsedTimer t;
        t.start();
        while (!err.contains("HALT") && t.elapsed() < 60000 && p.state() == QProcess::Running) {
            p.waitForReadyRead(200);
            err += p.readAllStandardError();
        }
        ASSERT_TRUE(err.contains(QByteArray("HALT ") + stage)) << err.toStdString();
        ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished(10000);
        db = tdb->open();
        waitForOtherSessions();
        EXPECT_EQ(snapshot(), before);
        if (GetParam() == TestEngine::Sqlite) {
            EXPECT_EQ(db->scalar(QStringLiteral("PRAGMA integrity_check")).toString(),
                      QStringLiteral("ok"));
        }
        db.reset();
    }
    const testsupport::ProcessRun r = testsupport::runProcess(
        QStringLiteral(TALLVERO_DB_BIN), server() << QStringLiteral("import-sales") << csv, env());
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    db = tdb->open();
    store = std::make_unique<Store>(*db);
    EXPECT_EQ(db->scalar(QStringLiteral("SELECT COUNT(*) FROM sales_line")).toLongLong(), 5001);
    EXPECT_EQ(verifySums(*db, 0, 0, std::nullopt).differences, 0);
}

// The nightly job exactly as docs/operations.md writes it (the shell block
// after the marker), run twice on a fresh database: the second run refuses
// the same export and the figures stay as the first run left them.
TEST_P(SalesImportTool, TheDocumentedNightlyJobRunTwiceGivesTheSameFigures) {
    QFile doc(QStringLiteral(TALLVERO_SOURCE_DIR "/docs/operations.md"));
    ASSERT_TRUE(doc.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(doc.readAll());
    const auto m = QRegularExpression(QStringLiteral("<!-- nightly job -->\\s*```sh\\n(.*?)```"),
                                      QRegularExpression::DotMatchesEverythingOption)
                       .match(text);
    ASSERT_TRUE(m.hasMatch()) << "no nightly job block in docs/operations.md";

    QTemporaryDir dir;
    const QString exportDir = dir.filePath(QStringLiteral("export"));
    QDir().mkpath(exportDir);
    auto write = [&](const char* name, const QByteArray& content) {
        QFile f(exportDir + QLatin1Char('/') + QLatin1String(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
    };
    // The ERP's master data and the sales lines of the last months.
    write("firma.csv", "firma;name\n1;Handel GmbH\n");
    write("profitcenter.csv", "firma;pcnr;name\n1;1;Stammhaus\n");
    write("hauptabteilung.csv", "firma;habtnr;name\n1;10;Haustechnik\n");
    write("abteilung.csv", "firma;abtnr;name;habtnr;pcnr\n1;M2;Heizung;10;1\n");
    write("hauptgruppe.csv", "firma;hgrp;name\n1;30;Heizung\n");
    write("untergruppe.csv", "firma;hgrp;ugrp;name\n1;30;3001;Kessel\n");
    write("versandart.csv", "firma;vart;name;hvart\n1;01;Abholung;L\n");
    write("verkauf.csv", kHeader + line("2024-02-03", 1, 1234) + line("2024-03-04", 1, 5678));

    // A fresh database: the tool creates the schema as the docs say.
    if (GetParam() == TestEngine::Postgres) dropSchema(*db);
    db.reset();
    if (GetParam() == TestEngine::Sqlite)
        for (const char* suffix : {"", "-wal", "-shm"})
            QFile::remove(tdb->target.sqlitePath + QLatin1String(suffix));
    const QString script = dir.filePath(QStringLiteral("nightly.sh"));
    QFile s(script);
    ASSERT_TRUE(s.open(QIODevice::WriteOnly));
    s.write(m.captured(1).toUtf8());
    s.close();
    QProcessEnvironment e = env();
    e.insert(QStringLiteral("PATH"), QFileInfo(QStringLiteral(TALLVERO_DB_BIN)).absolutePath() +
                                         QLatin1Char(':') + e.value(QStringLiteral("PATH")));
    e.insert(QStringLiteral("TALLVERO_EXPORT"), exportDir);
    e.insert(QStringLiteral("TALLVERO_SERVER"), server()[1]);
    e.insert(QStringLiteral("TALLVERO_PORT"),
             GetParam() == TestEngine::Sqlite ? QStringLiteral("5432") : server()[3]);
    QStringList figures;
    QList<int> codes;
    for (int round = 0; round < 2; ++round) {
        QProcess p;
        p.setProcessEnvironment(e);
        p.start(QStringLiteral("sh"), {script});
        ASSERT_TRUE(p.waitForFinished(120000));
        codes << p.exitCode();
        const QString err = QString::fromUtf8(p.readAllStandardError());
        if (round == 1) {
            EXPECT_TRUE(err.contains(QStringLiteral("als Stapel 1 importiert")))
                << err.toStdString();
        }
        db = tdb->open();
        store = std::make_unique<Store>(*db);
        figures << QStringLiteral("%1 %2 %3")
                       .arg(revenue(1, 12402))
                       .arg(revenue(1, 12403))
                       .arg(verifySums(*db, 0, 0, std::nullopt).differences);
        db.reset();
    }
    EXPECT_EQ(codes, (QList<int>{0, 1}));
    EXPECT_EQ(figures, (QStringList{"1234 5678 0", "1234 5678 0"}));
}

INSTANTIATE_ON_BOTH_ENGINES(SalesImportTool);

} // namespace
