// The fake clock and its timers, and the settings store over real (and
// damaged) INI files.

#include "platform/clock/FakeClock.h"
#include "platform/settings/QSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

namespace {

// The session's idle timer and pauses rest on these rules.
TEST(FakeClock, TimersFireWhenDueRestartFromNowAndStopThemselves) {
    FakeClock clock(QDateTime(QDate(2024, 4, 15), QTime(23, 59, 0), Qt::UTC), 10);
    auto t = clock.createTimer();
    auto once = clock.createTimer();
    QList<qint64> fired;
    t->setCallback([&] { fired << clock.elapsedMs(); });
    t->setInterval(60000);
    t->start();
    once->setInterval(1000);
    once->setCallback([&] {
        fired << -1;
        once->stop(); // a callback may stop its own timer
    });
    once->start();
    clock.advance(30000);
    t->start(); // a restart counts from now: due at 90000
    clock.advance(59999);
    EXPECT_EQ(fired, QList<qint64>{-1});
    clock.advance(120001);
    EXPECT_EQ(fired, (QList<qint64>{-1, 90000, 150000, 210000}));
    t->stop();
    clock.advance(600000);
    EXPECT_EQ(fired.size(), 4);
    EXPECT_FALSE(t->isActive() || once->isActive());
    // Seconds wrap at midnight; processEvents steps the time.
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 750.0);
    clock.processEvents();
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 750.01);
    EXPECT_EQ(clock.now().date(), QDate(2024, 4, 16));
    EXPECT_EQ(clock.processEventsCalls(), 1);
}

// Values written come back; damaged files keep what is readable and default
// the rest; a path that cannot be read is reported in German.
TEST(SettingsFile, ReadsWhatIsReadableAndDefaultsTheRest) {
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(char((i * 7919) % 256));
    const QByteArray halfWritten = "[Login]\nFirma=12\nFiliale=3\nServ";
    const QByteArray typed =
        "[Login]\nServer=a, b\nPort=@Variant(\\0\\0\\0\\x7f)\nName=@Rect(1 2 3 4)\n";
    const QByteArray dir = "a directory";
    const struct {
        QByteArray content; // empty: written by the store itself
        const char *key, *def, *expected;
    } rows[] = {{{}, "Server", "d", "db,1 \"x\""},
                {{}, "Port", "1973", "1973"},
                {halfWritten, "Firma", "1", "12"},
                {halfWritten, "Filiale", "0", "3"},
                {halfWritten, "Server", "embedded", "embedded"},
                {junk, "Port", "1973", "1973"},
                {typed, "Server", "d", "a,b"}, // a comma makes a list: joined again
                {typed, "Port", "1973", "1973"},
                {typed, "Name", "", ""}, // not text: the default
                {dir, "Firma", "1", "1"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.key);
        QTemporaryDir tmp;
        const QString path = tmp.filePath(QStringLiteral("login.ini"));
        QFile f(path);
        if (r.content.isEmpty()) {
            QSettingsStore store(path);
            store.write(QStringLiteral("Server"), QStringLiteral("db,1 \"x\""));
            store.sync();
        } else if (r.content == dir) {
            ASSERT_TRUE(QDir().mkpath(path));
        } else {
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(r.content);
            f.close();
        }
        QSettingsStore store(path);
        EXPECT_EQ(store.read(QString::fromLatin1(r.key), QString::fromLatin1(r.def)),
                  QString::fromUtf8(r.expected));
        if (r.content == dir) {
            store.write(QStringLiteral("Firma"), QStringLiteral("5"));
            store.sync();
            EXPECT_TRUE(store.problem().contains(QLatin1String("Einstellungsdatei")));
        } else if (r.content.isEmpty()) {
            EXPECT_TRUE(store.problem().isEmpty());
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_TRUE(f.readAll().startsWith("[Login]"));
        }
    }
}

} // namespace
