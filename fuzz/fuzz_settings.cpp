// The settings file: any bytes as "Cache Login.conf" (INI, group Login),
// read through QSettingsStore and through Session::ReadLoginSettings on
// the scripted fake server. Reading never crashes or hangs; a key that is
// missing reads as its default; the session takes exactly what the store
// reads; a value written to a readable file reads back unchanged.
//
// Input: the file.

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

// A stored "@Variant(...)" list carries its element count, and Qt 6.4
// reserves that many elements before reading them: a few bytes in the file
// ask for gigabytes. In the program that costs nothing (the memory is never
// touched, and when malloc refuses, Qt reads on and the value is simply
// unreadable); under ASan the shadow of such a block is written, an eighth
// of its size. So allocations above 1 GiB fail here, as malloc may, and the
// fuzzer judges what the program does with that; this holds for the seed
// replay under ctest too.
extern "C" const char* __asan_default_options() {
    return "allocator_may_return_null=1:max_allocation_size_mb=1024";
}

namespace {

QTemporaryDir* g_dir = nullptr;
quint64 g_count = 0;

// The keys the program reads.
const char* const kKeys[] = {"Firma", "Filiale", "Server", "Port", "Namespace", "Name"};

void readLoginSettings(platform::QSettingsStore& store) {
    platform::FakeClock clock;
    platform::ScriptedUi ui{&clock};
    srv::MemoryLoginDialog login;
    srv::MemoryServerDialog server{clock};
    fakes::FakeServer fake;
    srv::resetRecords();
    srv::Session session(srv::SessionServices{
        ui,
        clock,
        store,
        login,
        server,
        [&fake] { return std::make_unique<fakes::FakeFactory>(fake); },
        [] {},
        [] { return QString(); },
        [] { return false; },
        [](const QString&) {},
    });
    FUZZ_NO_ESCAPE(session.ReadLoginSettings());
    const srv::UserContext& u = srv::userContext();
    const srv::ConnectionSettings& c = srv::connectionSettings();
    FUZZ_CHECK(u.Firma == store.read(QStringLiteral("Firma"), QStringLiteral("1")));
    FUZZ_CHECK(u.Filiale == store.read(QStringLiteral("Filiale"), QStringLiteral("0")));
    FUZZ_CHECK(c.Server == store.read(QStringLiteral("Server"), srv::kDefaultServer));
    FUZZ_CHECK(c.Port == store.read(QStringLiteral("Port"), QStringLiteral("1973")));
    FUZZ_CHECK(c.Namespace == store.read(QStringLiteral("Namespace"), QStringLiteral("ZORVEK")));
    FUZZ_CHECK(u.Personalcode == store.read(QStringLiteral("Name"), QString()));
    FUZZ_CHECK(c.ConnectString == cache::makeConnectString(c.Server, c.Port));
    // The fake server accepts any connect string and answers the WJ line.
    FUZZ_CHECK(c.WJ == fake.wj && ui.messages().isEmpty());
    FUZZ_CHECK(server.text(srv::ServerField::BSERVERIP) == c.Server);
    FUZZ_CHECK(login.text(srv::LoginField::BUSER) == u.Personalcode);
    session.CacheDisconnect();
    srv::resetRecords();
}

// Qt keeps parsed settings files in a cache and reads a file again only
// when its size or time stamp changed. Every input gets the same path (a new
// path per input would grow that cache, and each growth costs a leak scan)
// and a time stamp of its own, so the file is always read afresh.
void writeFile(const QString& path, const QByteArray& content) {
    FUZZ_CHECK(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(f.write(content) == content.size());
    // Flushed first: a write after setting the time would set it to now.
    FUZZ_CHECK(f.flush());
    FUZZ_CHECK(f.setFileTime(QDateTime::fromSecsSinceEpoch(1'000'000'000 + qint64(++g_count)),
                             QFileDevice::FileModificationTime));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzsupport::initApp(argc, argv);
    // Writing settings syncs the file to disk; on tmpfs that costs next to
    // nothing, on a disk it would bound the target to a few dozen runs a
    // second. scripts/fuzz.sh points TMPDIR at a tmpfs directory it removes.
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    g_dir = qEnvironmentVariableIsEmpty("TMPDIR") && shm.isDir() && shm.isWritable()
                ? new QTemporaryDir(QStringLiteral("/dev/shm/tallvero-fuzz-settings-XXXXXX"))
                : new QTemporaryDir;
    FUZZ_CHECK(g_dir->isValid());
    // libFuzzer ends with exit(); a crash leaves the directory for the post-mortem.
    std::atexit([] { g_dir->remove(); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString path = g_dir->filePath(QStringLiteral("Cache Login.conf"));
    const QString copy = g_dir->filePath(QStringLiteral("wieder/Cache Login.conf"));
    writeFile(path, fuzzsupport::bytes(data, size));
    QString written; // the value written below, when the file could be read
    {
        platform::QSettingsStore store(path);
        FUZZ_CHECK(store.problem().isEmpty() || store.problem().contains(path));
        // The keys the file holds in the group, as Qt sees them.
        QSettings raw(path, QSettings::IniFormat);
        raw.beginGroup(QStringLiteral("Login"));
        const QStringList present = raw.childKeys();
        raw.endGroup();

        const QString sentinel = QStringLiteral("\x01vorgabe");
        QStringList keys = present;
        for (const char* k : kKeys)
            keys << QLatin1String(k);
        for (const QString& k : keys) {
            const QString v = store.read(k, sentinel);
            FUZZ_CHECK(v == store.read(k, sentinel));
            if (!present.contains(k)) FUZZ_CHECK(v == sentinel);
        }
        readLoginSettings(store);

        if (store.problem().isEmpty()) {
            written = fuzzsupport::utf8(data, std::min<size_t>(size, 120));
            store.write(QStringLiteral("Name"), written);
            store.sync();
            // Qt parses the other groups only when it writes: a broken one
            // shows up here, and then nothing is written.
            if (!store.problem().isEmpty()) written = QString();
        }
    }
    // What the program writes into a file it could read comes back from
    // the file: read from a copy, Qt's cache of the original cannot answer.
    if (!written.isNull()) {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::ReadOnly));
        writeFile(copy, f.readAll());
        platform::QSettingsStore reread(copy);
        FUZZ_CHECK(reread.problem().isEmpty());
        FUZZ_CHECK(reread.read(QStringLiteral("Name"), QStringLiteral("\x01vorgabe")) == written);
    }
    return 0;
}
