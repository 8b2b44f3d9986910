// The fake clock and its timers, the scripted message boxes, and the
// settings store over real (and damaged) INI files.

#include "platform/clock/FakeClock.h"
#include "platform/settings/QSettingsStore.h"
#include "platform/ui/ScriptedUi.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

namespace {

TEST(FakeClock, TimersFireWhenDueRestartFromNowAndStop) {
    FakeClock clock;
    auto t = clock.createTimer();
    QList<qint64> fired;
    t->setCallback([&] { fired << clock.elapsedMs(); });
    t->setInterval(60000);
    t->start();
    clock.advance(30000);
    t->start(); // a restart counts from now: due at 90000
    clock.advance(59999);
    EXPECT_TRUE(fired.isEmpty());
    clock.advance(120001);
    EXPECT_EQ(fired, (QList<qint64>{90000, 150000, 210000}));
    t->stop();
    clock.advance(600000);
    EXPECT_EQ(fired.size(), 3);
    EXPECT_FALSE(t->isActive());

    // A callback may stop its own timer.
    auto once = clock.createTimer();
    once->setInterval(1000);
    once->setCallback([&] {
        fired << -1;
        once->stop();
    });
    once->start();
    clock.advance(5000);
    EXPECT_EQ(fired.count(-1), 1);
}

TEST(FakeClock, ProcessEventsStepsTimeAndSecondsWrapAtMidnight) {
    FakeClock clock(QDateTime(QDate(2024, 4, 15), QTime(23, 59, 59, 990), Qt::UTC), 10);
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 86399.99);
    clock.processEvents();
    EXPECT_DOUBLE_EQ(clock.secondsSinceMidnight(), 0.0);
    EXPECT_EQ(clock.now().date(), QDate(2024, 4, 16));
    EXPECT_EQ(clock.processEventsCalls(), 1);
}

TEST(ScriptedUi, RecordsEveryMessageAndAnswersFromTheQueue) {
    FakeClock clock;
    ScriptedUi ui(&clock);
    ui.queueAnswer(MsgAnswer::No);
    EXPECT_EQ(ui.message("T", "Frage?", MsgIcon::None, MsgButtons::YesNo), MsgAnswer::No);
    clock.advance(1500);
    EXPECT_EQ(ui.message("T", "Hinweis", MsgIcon::Information, MsgButtons::Ok), MsgAnswer::Ok);
    EXPECT_EQ(ui.message("T", "Noch eine?", MsgIcon::Question, MsgButtons::YesNo), MsgAnswer::Yes);
    EXPECT_EQ(ui.unanswered(), 1); // only the question without an answer
    ASSERT_EQ(ui.messages().size(), 3);
    EXPECT_EQ(ui.messages().at(1).atMs, 8 * 3600 * 1000 + 1500);
    EXPECT_EQ(ui.messages().at(0).answer, MsgAnswer::No);
}

// --- settings store -------------------------------------------------------------

TEST(SettingsFile, WrittenValuesComeBackInTheLoginGroup) {
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("login.ini"));
    {
        QSettingsStore store(path);
        store.write(QStringLiteral("Server"), QStringLiteral("db,1 \"x\""));
        store.write(QStringLiteral("Firma"), QStringLiteral("12"));
        store.sync();
    }
    QSettingsStore store(path);
    EXPECT_EQ(store.read(QStringLiteral("Server"), "d"), QStringLiteral("db,1 \"x\""));
    EXPECT_EQ(store.read(QStringLiteral("Firma"), "d"), QStringLiteral("12"));
    EXPECT_EQ(store.read(QStringLiteral("Port"), "1973"), QStringLiteral("1973"));
    EXPECT_TRUE(store.problem().isEmpty());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().startsWith("[Login]"));
}

// Damaged files keep what is readable and default the rest, never crash.
TEST(SettingsFile, DamagedFilesKeepWhatIsReadable) {
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(char((i * 7919) % 256));
    const QByteArray halfWritten = "[Login]\nFirma=12\nFiliale=3\nServ";
    const QByteArray typed =
        "[Login]\nServer=a, b\nPort=@Variant(\\0\\0\\0\\x7f)\nName=@Rect(1 2 3 4)\n";
    const struct {
        QByteArray content;
        const char *key, *def, *expected;
    } rows[] = {{halfWritten, "Firma", "1", "12"},
                {halfWritten, "Filiale", "0", "3"},
                {halfWritten, "Server", "embedded", "embedded"},
                {junk, "Port", "1973", "1973"},
                {typed, "Server", "d", "a,b"}, // a comma makes a list: joined again
                {typed, "Port", "1973", "1973"},
                {typed, "Name", "", ""}}; // not text: the default
    for (const auto& r : rows) {
        SCOPED_TRACE(r.key);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("login.ini"));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(r.content);
        f.close();
        EXPECT_EQ(QSettingsStore(path).read(QString::fromLatin1(r.key), QString::fromLatin1(r.def)),
                  QString::fromLatin1(r.expected));
    }
}

TEST(SettingsFile, AnUnreadablePathIsReportedInGermanAndUsesTheDefaults) {
    // A directory where the file should be cannot be read as settings.
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("login.ini"));
    ASSERT_TRUE(QDir().mkpath(path));
    QSettingsStore store(path);
    EXPECT_EQ(store.read(QStringLiteral("Firma"), "1"), QStringLiteral("1"));
    store.write(QStringLiteral("Firma"), QStringLiteral("5"));
    store.sync();
    EXPECT_TRUE(store.problem().contains(QLatin1String("Einstellungsdatei")))
        << store.problem().toStdString();
}

} // namespace
