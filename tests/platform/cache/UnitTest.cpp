// Pure helpers of the server component and the connect string.

#include "platform/cache/ConnectString.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Text.h"

#include <QDate>
#include <QStandardPaths>
#include <QFile>

#include <gtest/gtest.h>

using namespace cache;
using namespace cache::server;

TEST(ConnectString, RoundTripAndMalformed) {
    const QString s = makeConnectString(QStringLiteral("db.example"), QStringLiteral("1972"));
    EXPECT_EQ(s, QStringLiteral("cn_iptcp:db.example[1972]:ZORVEK"));
    const auto t = parseConnectString(s);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->server, QStringLiteral("db.example"));
    EXPECT_EQ(t->port, QStringLiteral("1972"));
    EXPECT_EQ(t->nameSpace, QStringLiteral("ZORVEK"));
    // A path with brackets: the port is the last bracket pair.
    const auto p = parseConnectString(QStringLiteral("cn_iptcp:/data/a[1]/b.sqlite[1973]:ZORVEK"));
    ASSERT_TRUE(p);
    EXPECT_EQ(p->server, QStringLiteral("/data/a[1]/b.sqlite"));
    EXPECT_EQ(p->port, QStringLiteral("1973"));
    // An empty port is kept empty (the server part decides).
    EXPECT_EQ(parseConnectString(QStringLiteral("cn_iptcp:h[]:ZORVEK"))->port, QString());
    for (const char* bad : {"", "cn_iptcp:", "cn_iptcp:h:ZORVEK", "cn_iptcp:[1]:ZORVEK",
                            "cn_iptcp:h[1]:", "tcp:h[1]:ZORVEK", "cn_iptcp:h]1[:ZORVEK"})
        EXPECT_FALSE(parseConnectString(QLatin1String(bad))) << bad;
}

TEST(ConnectString, SelectsEngine) {
    auto target = [](const char* server, const char* port) {
        return targetFor({QLatin1String(server), QLatin1String(port), QStringLiteral("ZORVEK")});
    };
    EXPECT_TRUE(target("embedded", "1973").embedded);
    EXPECT_TRUE(target("EMBEDDED", "").embedded);
    EXPECT_EQ(target("embedded", "").sqlitePath, embeddedDatabasePath());
    const DatabaseTarget f = target("/tmp/firma.SQLITE", "1");
    EXPECT_EQ(f.engine, Engine::Sqlite);
    EXPECT_FALSE(f.embedded);
    EXPECT_EQ(f.sqlitePath, QStringLiteral("/tmp/firma.SQLITE"));
    const DatabaseTarget pg = target("10.0.0.5", "5433");
    EXPECT_EQ(pg.engine, Engine::Postgres);
    EXPECT_EQ(pg.host, QStringLiteral("10.0.0.5"));
    EXPECT_EQ(pg.port, 5433);
    EXPECT_EQ(target("db", "x").port, -1);
    EXPECT_EQ(target("db", "70000").port, -1);
}

TEST(Text, SevenBitBothWays) {
    EXPECT_EQ(fromSevenBit(QStringLiteral("M}ller [rger Stra~e \\l |l {rger ]bel õ5")),
              QStringLiteral("Müller Ärger Straße Öl öl ärger Übel §5"));
    EXPECT_EQ(toSevenBit(QStringLiteral("Müller Ärger Straße Öl öl ärger Übel §5")),
              QStringLiteral("M}ller [rger Stra~e \\l |l {rger ]bel õ5"));
    EXPECT_EQ(fromSevenBit(QStringLiteral("plain 123")), QStringLiteral("plain 123"));
}

TEST(Text, MoneyText) {
    EXPECT_EQ(centsToText(0), QStringLiteral("0"));
    EXPECT_EQ(centsToText(123456), QStringLiteral("1234.56"));
    EXPECT_EQ(centsToText(100), QStringLiteral("1"));
    EXPECT_EQ(centsToText(5), QStringLiteral("0.05"));
    EXPECT_EQ(centsToText(-250), QStringLiteral("-2.50"));
    EXPECT_EQ(centsToText(std::numeric_limits<qint64>::min()), QStringLiteral("-92233720368547758.08"));
    qint64 c = 0;
    for (auto [text, value] : {std::pair{"1234.56", 123456LL}, std::pair{"-2.5", -250LL},
                               std::pair{"7", 700LL}, std::pair{" 0.05 ", 5LL}, std::pair{".5", 50LL}}) {
        ASSERT_TRUE(textToCents(QLatin1String(text), &c)) << text;
        EXPECT_EQ(c, value) << text;
    }
    for (const char* bad : {"", "-", "1,5", "1.234", "1e3", "abc", "1.2.3", "99999999999999999999"})
        EXPECT_FALSE(textToCents(QLatin1String(bad), &c)) << bad;
    // Every value survives the trip through the text form.
    for (qint64 v : {1LL, -1LL, 99LL, -101LL, 1234567890123LL})
        ASSERT_TRUE(textToCents(centsToText(v), &c) && c == v) << v;
}

TEST(Text, PeriodsAndDayNumbers) {
    EXPECT_EQ(parsePeriod(QStringLiteral("12403")), 12403);
    EXPECT_EQ(parsePeriod(QStringLiteral("9912")), 9912);
    EXPECT_EQ(parsePeriod(QStringLiteral("10001")), 10001);
    for (const char* bad : {"", "12400", "12413", "012403", "12a03", "-12403", "1240301", "1 403"})
        EXPECT_EQ(parsePeriod(QLatin1String(bad)), -1) << bad;
    EXPECT_EQ(periodText(2024, 3), QStringLiteral("12403"));
    EXPECT_EQ(periodText(1999, 12), QStringLiteral("9912"));
    EXPECT_EQ(serverDayNumber(2024, 3, 1), QStringLiteral("1240301"));
    EXPECT_EQ(serverDayNumber(2000, 1, 1), QStringLiteral("1000101"));
    EXPECT_EQ(parseCompany(QStringLiteral("007")), 7);
    EXPECT_EQ(parseCompany(QStringLiteral("1.0")), -1);
    EXPECT_EQ(parseCompany(QString()), -1);
}

TEST(Schema, QueriesReadTheCoarsestSufficientLevel) {
    EXPECT_STREQ(pickLevel(plainLevels(), 0).table, "psum_top");
    EXPECT_STREQ(pickLevel(plainLevels(), DimHkgrp | DimHvart).table, "psum_top");
    EXPECT_STREQ(pickLevel(plainLevels(), DimAbt | DimHkgrp).table, "psum_org");
    EXPECT_STREQ(pickLevel(plainLevels(), DimUgrp).table, "psum_prod");
    EXPECT_STREQ(pickLevel(plainLevels(), DimPc | DimHgrp).table, "psum_full");
    EXPECT_STREQ(pickLevel(warehouseLevels(), DimStyp).table, "wsum_top");
    EXPECT_STREQ(pickLevel(warehouseLevels(), DimStyp | DimAbt | DimUgrp).table, "wsum_full");
}

TEST(DemoRandom, Reproducible) {
    DemoRandom a(42), b(42), c(43);
    bool differs = false;
    for (int i = 0; i < 1000; ++i) {
        const quint64 x = a.next();
        EXPECT_EQ(x, b.next());
        differs |= x != c.next();
        const double u = a.uniform();
        b.uniform();
        c.uniform();
        EXPECT_GE(u, 0.0);
        EXPECT_LT(u, 1.0);
    }
    EXPECT_TRUE(differs);
}

// The embedded server creates its per-user file with the demo business on
// first connect, and reports progress while doing so.
TEST(Embedded, FirstConnectCreatesDemoDatabase) {
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(embeddedDatabasePath());
    QFile::remove(embeddedDatabasePath() + QStringLiteral("-wal"));
    QFile::remove(embeddedDatabasePath() + QStringLiteral("-shm"));
    qint64 last = -1;
    int reports = 0;
    bool sawFinish = false;
    ServerOptions o;
    o.demoProgress = [&](const DemoProgress& p) {
        ++reports;
        if (p.stage == QStringLiteral("Verkaufszeilen erzeugen")) {
            EXPECT_GT(p.done, last);
            last = p.done;
            EXPECT_EQ(p.total, 200000);
        }
        sawFinish |= p.stage == QStringLiteral("Fertig");
    };
    {
        ServerFactory f(o);
        ASSERT_TRUE(f.connect(QStringLiteral("cn_iptcp:embedded[1973]:ZORVEK")))
            << f.lastConnectError().toStdString();
        EXPECT_GT(reports, 50);
        EXPECT_TRUE(sawFinish);
        EXPECT_EQ(last, 200000);
        auto h = f.classHandle(QStringLiteral("ZK.Windows"));
        const QDate prev = QDate::currentDate().addMonths(-1);
        EXPECT_TRUE(h->call(QStringLiteral("Xecute"), {QStringLiteral("S P0=^XWGDAT W P0")})
                        .startsWith(periodText(prev.year(), prev.month()) + QLatin1Char('`')));
    }
    // The second start finds the file and does not fill it again.
    reports = 0;
    ServerFactory again(o);
    ASSERT_TRUE(again.connect(QStringLiteral("cn_iptcp:embedded[1973]:ZORVEK")));
    EXPECT_EQ(reports, 0);
    again.disconnect();
    QFile::remove(embeddedDatabasePath());
}
