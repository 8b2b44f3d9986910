#pragma once

// Fresh server databases for tests, on SQLite (a temporary file) and on the
// throwaway PostgreSQL cluster that scripts/with-pg.sh starts
// (TALLVERO_TEST_PG=host:port). Without a cluster the PostgreSQL tests are
// skipped, unless TALLVERO_REQUIRE_PG=1 makes that a failure (CI).

#include "platform/cache/Factory.h"
#include "platform/cache/server/Database.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>
#include <string>

namespace testsupport {

enum class TestEngine { Sqlite, Postgres };

std::string engineName(TestEngine e);

struct TestDatabase {
    TestEngine engine;
    QString connectString;  // for ServerFactory::connect
    cache::server::DatabaseTarget target;
    std::unique_ptr<QTemporaryDir> dir;

    // Points the server component at this database (PostgreSQL: the
    // database name travels in TALLVERO_PG_DATABASE) and connects.
    bool connect(cache::Factory& f) const;
    void activate() const;

    // A direct connection for setting up data or checking results.
    std::unique_ptr<cache::server::Database> open() const;
};

// True when the engine can be used; otherwise *why says why.
bool engineAvailable(TestEngine e, std::string* why);

// An empty database with the schema. name tells databases of one test
// binary apart on PostgreSQL.
std::unique_ptr<TestDatabase> makeTestDatabase(TestEngine e, const QString& name);

} // namespace testsupport

// Skips (or, with TALLVERO_REQUIRE_PG=1, fails) when the engine is missing.
#define REQUIRE_ENGINE(e)                                                                         \
    do {                                                                                          \
        std::string why_;                                                                         \
        if (!testsupport::engineAvailable((e), &why_)) {                                          \
            if (qEnvironmentVariable("TALLVERO_REQUIRE_PG") == QLatin1String("1"))                \
                FAIL() << why_;                                                                   \
            GTEST_SKIP() << why_;                                                                 \
        }                                                                                         \
    } while (0)
