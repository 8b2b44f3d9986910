// Pure helpers of the server component and the connect string.

#include "platform/cache/ConnectString.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Text.h"

#include <QDate>
#include <QFile>
#include <QStandardPaths>

#include <gtest/gtest.h>

using namespace cache;
using namespace cache::server;
using namespace Qt::StringLiterals;

// A parsed connect string as "server|port|namespace"; a malformed one as "".
TEST(ConnectString, ParseAndEngine) {
    EXPECT_EQ(makeConnectString(u"db.example"_s, u"1972"_s), u"cn_iptcp:db.example[1972]:ZORVEK"_s);
    // A path with brackets: the port is the last pair; an empty port is the
    // server part's to decide.
    const std::pair<const char*, const char*> parsed[] = {
        {"cn_iptcp:db.example[1972]:ZORVEK", "db.example|1972|ZORVEK"},
        {"cn_iptcp:/data/a[1]/b.sqlite[1973]:ZORVEK", "/data/a[1]/b.sqlite|1973|ZORVEK"},
        {"cn_iptcp:h[]:ZORVEK", "h||ZORVEK"}, {"", ""}, {"cn_iptcp:", ""},
        {"cn_iptcp:h:ZORVEK", ""}, {"cn_iptcp:[1]:ZORVEK", ""}, {"cn_iptcp:h[1]:", ""},
        {"tcp:h[1]:ZORVEK", ""}, {"cn_iptcp:h]1[:ZORVEK", ""}};
    for (const auto& [text, want] : parsed) {
        const auto t = parseConnectString(QLatin1String(text));
        EXPECT_EQ(t ? QStringList({t->server, t->port, t->nameSpace}).join(u'|') : QString(),
                  QLatin1String(want))
            << text;
    }
    // Server and port -> the engine's target.
    const std::tuple<const char*, const char*, const char*> targets[] = {
        {"embedded", "1973", "embedded"}, {"EMBEDDED", "", "embedded"},
        {"/tmp/firma.SQLITE", "1", "sqlite /tmp/firma.SQLITE"},
        {"10.0.0.5", "5433", "pg 10.0.0.5:5433"}, {"db", "x", "pg db:-1"},
        {"db", "70000", "pg db:-1"}};
    for (const auto& [server, port, want] : targets) {
        const DatabaseTarget t = targetFor({QLatin1String(server), QLatin1String(port), {}});
        const QString got = t.embedded ? (t.sqlitePath == embeddedDatabasePath() ? u"embedded"_s
                                                                                 : t.sqlitePath)
                            : t.engine == Engine::Sqlite ? u"sqlite "_s + t.sqlitePath
                                                         : u"pg %1:%2"_s.arg(t.host).arg(t.port);
        EXPECT_EQ(got, QLatin1String(want)) << server << " " << port;
    }
}

TEST(Text, SevenBitBothWays) {
    const QString seven = u"M}ller [rger Stra~e \\l |l {rger ]bel õ5"_s;
    const QString full = u"Müller Ärger Straße Öl öl ärger Übel §5"_s;
    EXPECT_EQ(fromSevenBit(seven), full);
    EXPECT_EQ(toSevenBit(full), seven);
    EXPECT_EQ(fromSevenBit(u"plain 123"_s), u"plain 123"_s);
}

TEST(Text, MoneyText) {
    const std::pair<qint64, const char*> texts[] = {
        {0, "0"}, {123456, "1234.56"}, {100, "1"}, {5, "0.05"}, {-250, "-2.50"},
        {std::numeric_limits<qint64>::min(), "-92233720368547758.08"}};
    for (const auto& [cents, text] : texts)
        EXPECT_EQ(centsToText(cents), QLatin1String(text)) << text;
    const std::pair<const char*, qint64> parsed[] = {
        {"1234.56", 123456}, {"-2.5", -250}, {"7", 700}, {" 0.05 ", 5}, {".5", 50}};
    qint64 c = 0;
    for (const auto& [text, value] : parsed)
        EXPECT_TRUE(textToCents(QLatin1String(text), &c) && c == value) << text;
    for (const char* bad : {"", "-", "1,5", "1.234", "1e3", "abc", "1.2.3", "99999999999999999999"})
        EXPECT_FALSE(textToCents(QLatin1String(bad), &c)) << bad;
    // Every value survives the trip through the text form.
    for (qint64 v : {1LL, -1LL, 99LL, -101LL, 1234567890123LL})
        EXPECT_TRUE(textToCents(centsToText(v), &c) && c == v) << v;
}

TEST(Text, PeriodsAndDayNumbers) {
    for (int p : {12403, 9912, 10001})
        EXPECT_EQ(parsePeriod(QString::number(p)), p);
    for (const char* bad : {"", "12400", "12413", "012403", "12a03", "-12403", "1240301", "1 403"})
        EXPECT_EQ(parsePeriod(QLatin1String(bad)), -1) << bad;
    EXPECT_EQ(periodText(2024, 3) + periodText(1999, 12), u"124039912"_s);
    EXPECT_EQ(serverDayNumber(2024, 3, 1) + serverDayNumber(2000, 1, 1), u"12403011000101"_s);
    EXPECT_EQ(parseCompany(u"007"_s), 7);
    EXPECT_EQ(parseCompany(u"1.0"_s), -1);
    EXPECT_EQ(parseCompany(QString()), -1);
}

TEST(Schema, QueriesReadTheCoarsestSufficientLevel) {
    const std::pair<int, const char*> plain[] = {{0, "psum_top"}, {DimHkgrp | DimHvart, "psum_top"},
        {DimAbt | DimHkgrp, "psum_org"}, {DimUgrp, "psum_prod"}, {DimPc | DimHgrp, "psum_full"}};
    for (const auto& [dims, table] : plain)
        EXPECT_STREQ(pickLevel(plainLevels(), dims).table, table) << dims;
    EXPECT_STREQ(pickLevel(warehouseLevels(), DimStyp).table, "wsum_top");
    EXPECT_STREQ(pickLevel(warehouseLevels(), DimStyp | DimAbt | DimUgrp).table, "wsum_full");
}

// The embedded server creates its per-user file with the demo business on
// first connect, and reports progress while doing so.
TEST(Embedded, FirstConnectCreatesDemoDatabase) {
    QStandardPaths::setTestModeEnabled(true);
    for (const char* suffix : {"", "-wal", "-shm"})
        QFile::remove(embeddedDatabasePath() + QLatin1String(suffix));
    qint64 last = -1;
    int reports = 0;
    bool sawFinish = false;
    ServerOptions o;
    o.demoProgress = [&](const DemoProgress& p) {
        ++reports;
        sawFinish |= p.stage == u"Fertig"_s;
        if (p.stage != u"Verkaufszeilen erzeugen"_s) return;
        EXPECT_TRUE(p.done > last && p.total == 200000) << p.done << " of " << p.total;
        last = p.done;
    };
    {
        ServerFactory f(o);
        ASSERT_TRUE(f.connect(u"cn_iptcp:embedded[1973]:ZORVEK"_s))
            << f.lastConnectError().toStdString();
        EXPECT_GT(reports, 50);
        EXPECT_TRUE(sawFinish);
        EXPECT_EQ(last, 200000);
        auto h = f.classHandle(u"ZK.Windows"_s);
        const QDate prev = QDate::currentDate().addMonths(-1);
        EXPECT_TRUE(h->call(u"Xecute"_s, {u"S P0=^XWGDAT W P0"_s})
                        .startsWith(periodText(prev.year(), prev.month()) + QLatin1Char('`')));
    }
    // The second start finds the file and does not fill it again.
    reports = 0;
    ServerFactory again(o);
    ASSERT_TRUE(again.connect(u"cn_iptcp:embedded[1973]:ZORVEK"_s));
    EXPECT_EQ(reports, 0);
    again.disconnect();
    QFile::remove(embeddedDatabasePath());
}
