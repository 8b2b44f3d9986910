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

struct DemoSite {
    std::unique_ptr<TestDatabase> db;
    QString server, port;
};

// Demo data up to March 2024 with `lines` sales lines; `extra` adds rows
// once, after the demo. Activates the site's database on every call. With
// an owner (PostgreSQL) the owner makes schema, demo and extras.
inline DemoSite& demoSite(TestEngine e, const QString& name, qint64 lines,
                          const std::function<void(cache::server::Database&)>& extra = {},
                          const cache::server::Login* owner = nullptr) {
    static std::map<std::pair<TestEngine, QString>, DemoSite> all;
    DemoSite& s = all[{e, name}];
    if (!s.db) {
        s.db = makeTestDatabase(e, name, owner);
        auto d = s.db->owner ? s.db->openAs(*s.db->owner) : s.db->open();
        cache::server::Store store(*d);
        cache::server::DemoOptions o;
        o.lines = lines;
        o.untilYear = 2024;
        o.untilMonth = 3;
        cache::server::generateDemo(store, o);
        if (extra) extra(*d);
        const auto target = cache::parseConnectString(s.db->connectString);
        s.server = target->server;
        s.port = target->port;
    }
    s.db->activate();
    return s;
}

} // namespace testsupport
