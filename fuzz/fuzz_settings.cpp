// The settings file: any bytes as "Cache Login.conf"; reading never
// crashes or hangs, every key reads the same twice, and a connection read
// from it gives a well-formed connect string.

#include "FuzzSupport.h"
#include "platform/cache/ConnectString.h"
#include "platform/settings/QSettingsStore.h"

#include <QFile>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::app();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Cache Login.conf"));
    {
        QFile f(path);
        FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }
    platform::QSettingsStore store(path);
    for (const char* key : {"Firma", "Filiale", "Server", "Port", "Namespace", "Name"}) {
        const QString k = QLatin1String(key);
        const QString a = store.read(k, QStringLiteral("default"));
        FUZZ_CHECK(a == store.read(k, QStringLiteral("default")));
    }
    const QString server = store.read(QStringLiteral("Server"), QStringLiteral("embedded"));
    const QString port = store.read(QStringLiteral("Port"), QStringLiteral("1973"));
    const QString cs = cache::makeConnectString(server, port);
    FUZZ_CHECK(cs.startsWith(QLatin1String("cn_iptcp:")) && cs.endsWith(QLatin1String("]:ZORVEK")));
    (void)store.problem();
    return 0;
}
