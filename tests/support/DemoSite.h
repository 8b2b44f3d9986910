#pragma once

// A demo business on one engine, built once per test binary and reused by
// its tests: the connect target's server and port for a command-line login.

#include "TestDatabase.h"
#include "platform/cache/ConnectString.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/Store.h"

#include <functional>
#include <map>

namespace testsupport {

// Demo data up to March 2024 with `lines` sales lines, written by the
// database's owner when it has one (PostgreSQL); returns that connection.
inline std::unique_ptr<cache::server::Database>
fillDemo(const TestDatabase& db, qint64 lines, quint64 seed = cache::server::DemoOptions{}.seed) {
    auto d = db.owner ? db.openAs(*db.owner) : db.open();
    cache::server::Store store(*d);
    cache::server::generateDemo(store,
                                {.seed = seed, .lines = lines, .untilYear = 2024, .untilMonth = 3});
    return d;
}

// The period code of slot 1..72 of a client whose clock stands in 2024:
// slot 1 is January 2019.
inline int slotPeriod(int slot) {
    return (119 + (slot - 1) / 12) * 100 + (slot - 1) % 12 + 1;
}

struct DemoSite {
    std::unique_ptr<TestDatabase> db;
    QString server, port;
};

// fillDemo's data, once per engine and name; `extra` adds rows once, after
// the demo. Activates the site's database on every call.
inline DemoSite& demoSite(TestEngine e, const QString& name, qint64 lines,
                          const std::function<void(cache::server::Database&)>& extra = {},
                          const cache::server::Login* owner = nullptr) {
    static std::map<std::pair<TestEngine, QString>, DemoSite> all;
    DemoSite& s = all[{e, name}];
    if (!s.db) {
        s.db = makeTestDatabase(e, name, owner);
        auto d = fillDemo(*s.db, lines);
        if (extra) extra(*d);
        const auto target = cache::parseConnectString(s.db->connectString);
        s.server = target->server;
        s.port = target->port;
    }
    s.db->activate();
    return s;
}

} // namespace testsupport
