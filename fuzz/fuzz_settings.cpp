// The settings file: the input as "Cache Login.conf" (INI, group Login), read
// through QSettingsStore and Session::ReadLoginSettings on the scripted fake
// server. Reading never crashes or hangs; a missing key reads as its default;
// the session takes exactly what the store reads; a value written to a
// readable file reads back unchanged.

#include "FuzzSupport.h"
#include "platform/cache/ConnectString.h"
#include "platform/settings/QSettingsStore.h"
#include "server/SessionEnv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>

// A stored "@Variant(...)" list carries its element count, and Qt 6.4 reserves
// that many elements before reading them: a few bytes ask for gigabytes. The
// program never touches them, and when malloc refuses the value is simply
// unreadable; ASan would write their shadow. So allocations above 1 GiB fail
// here as malloc may (in the seed replay under ctest too).
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

namespace {

QTemporaryDir* g_dir = nullptr;
quint64 g_count = 0;
const QString kUnset = QStringLiteral("\x01vorgabe");

// The keys the program reads.
const QStringList kKeys = {"Firma", "Filiale", "Server", "Port", "Namespace", "Name"};

void readLoginSettings(platform::QSettingsStore& store) {
    platform::FakeClock clock;
    platform::ScriptedUi ui{&clock};
    srv::MemoryLoginDialog login;
    srv::MemoryServerDialog server{clock};
    fakes::FakeServer fake;
    srv::resetRecords();
    srv::Session session(srv::SessionServices{
        ui, clock, store, login, server,
        [&fake] { return std::make_unique<fakes::FakeFactory>(fake); }, [] {},
        [] { return QString(); }, [] { return false; }, [](const QString&) {}});
    fuzzsupport::noEscape([&session] { session.ReadLoginSettings(); });
    const srv::UserContext& u = srv::userContext();
    const srv::ConnectionSettings& c = srv::connectionSettings();
    // The fake server accepts any connect string and answers the WJ line.
    FUZZ_EQUAL(
        {u.Firma, store.read("Firma", "1")}, {u.Filiale, store.read("Filiale", "0")},
        {c.Server, store.read("Server", srv::kDefaultServer)}, {c.Port, store.read("Port", "1973")},
        {c.Namespace, store.read("Namespace", "ZORVEK")}, {u.Personalcode, store.read("Name", {})},
        {c.ConnectString, cache::makeConnectString(c.Server, c.Port)}, {c.WJ, fake.wj},
        {server.text(srv::ServerField::BSERVERIP), c.Server},
        {login.text(srv::LoginField::BUSER), u.Personalcode});
    FUZZ_CHECK(ui.messages().isEmpty());
    session.CacheDisconnect();
    srv::resetRecords();
}

// Qt caches parsed settings files and reads one again only when its size or
// time stamp changed. Every input gets the same path (new paths would grow
// that cache, each growth costing a leak scan) and a time stamp of its own.
void writeFile(const QString& path, const QByteArray& content) {
    // Flushed first: a write after setting the time would set it to now.
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly) && f.write(content) == content.size() && f.flush());
    FUZZ_CHECK(f.setFileTime(QDateTime::fromSecsSinceEpoch(1'000'000'000 + qint64(++g_count)),
                             QFileDevice::FileModificationTime));
}

} // namespace

// Writing settings syncs the file: cheap on tmpfs, a few dozen runs a second
// on a disk. scripts/fuzz.sh points TMPDIR at a tmpfs directory of its own.
extern "C" void fuzzSetUp() {
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    g_dir = qEnvironmentVariableIsEmpty("TMPDIR") && shm.isDir() && shm.isWritable()
                ? new QTemporaryDir(QStringLiteral("/dev/shm/tallvero-fuzz-settings-XXXXXX"))
                : new QTemporaryDir;
    FUZZ_CHECK(g_dir->isValid() && QDir(g_dir->path()).mkdir(QStringLiteral("wieder")));
    // libFuzzer ends with exit(); a crash leaves the directory for the post-mortem.
    std::atexit([] { g_dir->remove(); });
}

void fuzzOne(const QByteArray& input) {
    const QString path = g_dir->filePath(QStringLiteral("Cache Login.conf"));
    const QString copy = g_dir->filePath(QStringLiteral("wieder/Cache Login.conf"));
    writeFile(path, input);
    QString written; // the value written below, when the file could be read
    {
        platform::QSettingsStore store(path);
        FUZZ_CHECK(store.problem().isEmpty() || store.problem().contains(path));
        QSettings raw(path, QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("Login"));
        const QStringList present = raw.childKeys();
        for (const QString& k : present + kKeys) {
            const QString v = store.read(k, kUnset);
            FUZZ_CHECK(v == store.read(k, kUnset) && (present.contains(k) || v == kUnset));
        }
        readLoginSettings(store);

        if (store.problem().isEmpty()) {
            written = QString::fromUtf8(input.left(120));
            store.write(QStringLiteral("Name"), written);
            store.sync();
            // Qt parses the other groups only when it writes: a broken one
            // shows up here, and then nothing is written.
            if (!store.problem().isEmpty()) written = QString();
        }
    }
    // What the program writes into a file it could read comes back from the
    // file, read from a copy (Qt's cache of the original cannot answer).
    if (!written.isNull()) {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::ReadOnly));
        writeFile(copy, f.readAll());
        platform::QSettingsStore reread(copy);
        FUZZ_CHECK(reread.problem().isEmpty() &&
                   reread.read(QStringLiteral("Name"), kUnset) == written);
    }
}
