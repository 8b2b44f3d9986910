// The settings store over real (and damaged) INI files. The fake clock and
// the scripted message boxes are checked by every session test.

#include "platform/settings/QSettingsStore.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;

namespace {

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
