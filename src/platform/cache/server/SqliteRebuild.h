#pragma once

// Rebuild of one company's period sums on SQLite: one scan of a period's
// lines summed per dimension id, all eight levels aggregated in memory and
// written through the SQLite C API on the server's own connection. The
// caller holds the transaction. SQL statements for every level would read
// the lines once per level and cost QtSql's per-row overhead; this
// is several times faster on large sets.

#include "Database.h"

#include <memory>

struct sqlite3;

namespace cache::server {

// The connection's native handle, for the bulk paths that bypass QtSql;
// throws CacheError when the database is not SQLite or not open.
sqlite3* sqliteHandle(Database& db);

class SqliteRebuild {
public:
    // Reads the company's dimension ids; throws CacheError(Sql).
    SqliteRebuild(Database& db, qint64 firma);
    ~SqliteRebuild();
    SqliteRebuild(const SqliteRebuild&) = delete;
    SqliteRebuild& operator=(const SqliteRebuild&) = delete;

    // Replaces the sums of one period in all eight tables; returns the
    // number of sales lines the period holds.
    qint64 period(int periode);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace cache::server
