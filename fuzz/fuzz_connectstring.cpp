// The connect string (parse and make) and the database a connect target
// selects (targetFor).
//
// Input: UTF-8 text, parsed as a whole; split at its first two NUL bytes it
// also gives server, port and namespace for the way from parts to string.

#include "FuzzSupport.h"
#include "platform/cache/ConnectString.h"

namespace {

const QString kPrefix = QStringLiteral("cn_iptcp:");

void checkTarget(const cache::ConnectTarget& t) {
    const cache::server::DatabaseTarget d = cache::server::targetFor(t);
    FUZZ_CHECK(!cache::server::describe(d).isEmpty());
    if (t.server.compare(QLatin1String("embedded"), Qt::CaseInsensitive) == 0) {
        FUZZ_CHECK(d.engine == cache::server::Engine::Sqlite && d.embedded);
        FUZZ_CHECK(d.sqlitePath == cache::server::embeddedDatabasePath());
    } else if (t.server.endsWith(QLatin1String(".sqlite"), Qt::CaseInsensitive)) {
        FUZZ_CHECK(d.engine == cache::server::Engine::Sqlite && !d.embedded);
        FUZZ_CHECK(d.sqlitePath == t.server);
    } else {
        FUZZ_CHECK(d.engine == cache::server::Engine::Postgres && !d.embedded);
        FUZZ_CHECK(d.host == t.server && !d.database.isEmpty());
        // A port that is not a number from 1 to 65535 is marked unusable.
        bool ok = false;
        const int p = t.port.trimmed().toInt(&ok);
        FUZZ_CHECK(d.port == (ok && p >= 1 && p <= 65535 ? p : -1));
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzsupport::initApp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = fuzzsupport::utf8(data, size);

    // String -> parts -> string: an accepted string comes back exactly,
    // the prefix in its canonical spelling.
    const std::optional<cache::ConnectTarget> parsed = cache::parseConnectString(text);
    if (parsed) {
        FUZZ_CHECK(text.startsWith(kPrefix, Qt::CaseInsensitive));
        FUZZ_CHECK(!parsed->server.isEmpty() && !parsed->nameSpace.isEmpty());
        const QString again =
            cache::makeConnectString(parsed->server, parsed->port, parsed->nameSpace);
        FUZZ_CHECK(again == kPrefix + text.mid(kPrefix.size()));
        const auto round = cache::parseConnectString(again);
        FUZZ_CHECK(round && round->server == parsed->server && round->port == parsed->port &&
                   round->nameSpace == parsed->nameSpace);
        checkTarget(*parsed);
    } else {
        // Whatever a changed prefix spelling does, rejection does not depend on it.
        FUZZ_CHECK(!cache::parseConnectString(text.toLower().startsWith(kPrefix)
                                                  ? kPrefix + text.mid(kPrefix.size())
                                                  : text));
    }

    // Parts -> string -> parts: exact whenever the parts cannot be mistaken
    // for the separators (no "[" in the port, no "]:" in the namespace).
    const QStringList parts = text.split(QChar(0));
    const QString server = parts.value(0);
    const QString port = parts.value(1);
    const QString ns = parts.size() > 2 ? parts.mid(2).join(QChar(0)) : QStringLiteral("ZORVEK");
    const QString made = cache::makeConnectString(server, port, ns);
    FUZZ_CHECK(made.startsWith(kPrefix));
    const auto back = cache::parseConnectString(made);
    const bool unambiguous = !server.isEmpty() && !ns.isEmpty() &&
                             !port.contains(QLatin1Char('[')) && !ns.contains(QLatin1String("]:"));
    if (unambiguous) {
        FUZZ_CHECK(back && back->server == server && back->port == port && back->nameSpace == ns);
        checkTarget(*back);
    }
    if (back) FUZZ_CHECK(cache::makeConnectString(back->server, back->port, back->nameSpace) == made);
    cache::ConnectTarget direct{server, port, ns};
    checkTarget(direct);
    return 0;
}
