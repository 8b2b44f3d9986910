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
#include <optional>
#include <string>

namespace testsupport {

enum class TestEngine { Sqlite, Postgres };

std::string engineName(TestEngine e);

struct TestDatabase {
    TestEngine engine;
    QString connectString; // for ServerFactory::connect
    cache::server::DatabaseTarget target;
    std::unique_ptr<QTemporaryDir> dir;

    // Points the server component at this database (PostgreSQL: the
    // database name travels in TALLVERO_PG_DATABASE) and connects.
    bool connect(cache::Factory& f) const;
    void activate() const;

    // A direct connection for setting up data or checking results (the
    // cluster's superuser on PostgreSQL).
    std::unique_ptr<cache::server::Database> open() const;
    // A connection as another role, or as the owner the database was made
    // for (PostgreSQL).
    std::unique_ptr<cache::server::Database> openAs(const cache::server::Login& login) const;
    std::optional<cache::server::Login> owner;
};

// True when the engine can be used; otherwise *why says why.
bool engineAvailable(TestEngine e, std::string* why);

// An empty database with the schema. name tells databases of one test
// binary apart on PostgreSQL. With an owner (PostgreSQL), the database is
// that role's and the schema is made by it, as a site's administrator would.
std::unique_ptr<TestDatabase> makeTestDatabase(TestEngine e, const QString& name,
                                               const cache::server::Login* owner = nullptr);

// A login record as the server keeps it: on SQLite with the password's
// hash, on PostgreSQL with a role of that name and password (roles are the
// whole cluster's: a code that a test changes belongs to that test alone).
void addLogin(cache::server::Database& d, qint64 firma, const QString& code,
              const QString& password, const QString& aktiv, const QString& pname,
              const QString& pnr, const QString& abtnr, const QString& dw = QStringLiteral("0"),
              const QString& bergrp = QStringLiteral("ALLE"));

// Every row of a query as text (and the column names when asked); the first
// column of every row.
QList<QStringList> rows(cache::server::Database& d, const QString& sql,
                        QStringList* columns = nullptr);
QStringList column(cache::server::Database& d, const QString& sql);

} // namespace testsupport

// Skips (or, with TALLVERO_REQUIRE_PG=1, fails) when the engine is missing.
#define REQUIRE_ENGINE(e)                                                                          \
    do {                                                                                           \
        std::string why_;                                                                          \
        if (!testsupport::engineAvailable((e), &why_)) {                                           \
            if (qEnvironmentVariable("TALLVERO_REQUIRE_PG") == QLatin1String("1")) FAIL() << why_; \
            GTEST_SKIP() << why_;                                                                  \
        }                                                                                          \
    } while (0)

// A parameterised suite on both engines, its cases named after the engine.
#define INSTANTIATE_ON_BOTH_ENGINES(suite)                                                         \
    INSTANTIATE_TEST_SUITE_P(                                                                      \
        Engines, suite,                                                                            \
        ::testing::Values(testsupport::TestEngine::Sqlite, testsupport::TestEngine::Postgres),     \
        [](const ::testing::TestParamInfo<testsupport::TestEngine>& i) {                           \
            return testsupport::engineName(i.param);                                               \
        })
