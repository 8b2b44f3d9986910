// The connect string (parse and make) and the database a connect target
// selects (targetFor). Input: UTF-8 text, parsed whole; split at its first
// two NUL bytes it also gives server, port and namespace to make a string of.

#include "FuzzSupport.h"
#include "platform/cache/ConnectString.h"

namespace {

namespace cs = cache::server;
const QString kPrefix = QStringLiteral("cn_iptcp:");

QStringList parts(const cache::ConnectTarget& t) {
    return {t.server, t.port, t.nameSpace};
}

void checkTarget(const cache::ConnectTarget& t) {
    const cs::DatabaseTarget d = cs::targetFor(t);
    FUZZ_CHECK(!cs::describe(d).isEmpty());
    if (t.server.compare(QLatin1String("embedded"), Qt::CaseInsensitive) == 0) {
        FUZZ_CHECK(d.engine == cs::Engine::Sqlite && d.embedded &&
                   d.sqlitePath == cs::embeddedDatabasePath());
    } else if (t.server.endsWith(QLatin1String(".sqlite"), Qt::CaseInsensitive)) {
        FUZZ_CHECK(d.engine == cs::Engine::Sqlite && !d.embedded && d.sqlitePath == t.server);
    } else {
        // A port that is not a number from 1 to 65535 is marked unusable.
        bool ok = false;
        const int p = t.port.trimmed().toInt(&ok);
        FUZZ_CHECK(d.engine == cs::Engine::Postgres && !d.embedded && d.host == t.server &&
                   !d.database.isEmpty() && d.port == (ok && p >= 1 && p <= 65535 ? p : -1));
    }
}

} // namespace

void fuzzOne(const QByteArray& input) {
    const QString text = QString::fromUtf8(input);
    // String -> parts -> string: an accepted string comes back exactly, the
    // prefix in its canonical spelling; rejection does not depend on that
    // spelling.
    const std::optional<cache::ConnectTarget> parsed = cache::parseConnectString(text);
    if (parsed) {
        FUZZ_CHECK(text.startsWith(kPrefix, Qt::CaseInsensitive));
        FUZZ_CHECK(!parsed->server.isEmpty() && !parsed->nameSpace.isEmpty());
        const QString again =
            cache::makeConnectString(parsed->server, parsed->port, parsed->nameSpace);
        FUZZ_CHECK(again == kPrefix + text.mid(kPrefix.size()));
        const auto round = cache::parseConnectString(again);
        FUZZ_CHECK(round && parts(*round) == parts(*parsed));
        checkTarget(*parsed);
    } else {
        FUZZ_CHECK(!cache::parseConnectString(
            text.toLower().startsWith(kPrefix) ? kPrefix + text.mid(kPrefix.size()) : text));
    }

    // Parts -> string -> parts: exact whenever the parts cannot be mistaken
    // for the separators (no "[" in the port, no "]:" in the namespace).
    const QStringList split = text.split(QChar(0));
    const cache::ConnectTarget given{split.value(0), split.value(1),
                                     split.size() > 2 ? split.mid(2).join(QChar(0)) : "ZORVEK"};
    const QString made = cache::makeConnectString(given.server, given.port, given.nameSpace);
    FUZZ_CHECK(made.startsWith(kPrefix));
    const auto back = cache::parseConnectString(made);
    if (!given.server.isEmpty() && !given.nameSpace.isEmpty() && !given.port.contains(u'[') &&
        !given.nameSpace.contains(QLatin1String("]:"))) {
        FUZZ_CHECK(back && parts(*back) == parts(given));
        checkTarget(*back);
    }
    if (back)
        FUZZ_CHECK(cache::makeConnectString(back->server, back->port, back->nameSpace) == made);
    checkTarget(given);
}
