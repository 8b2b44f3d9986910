#pragma once

// Rebuild of one company's period sums on PostgreSQL by the tables' owner
// (the admin tool, the nightly import): the server sums a period's lines
// per dimension id, all eight levels are made here, and a level is
// written only when its digest differs from the one stored with it in
// sum_digest. Every other write to a sum table drops the digests of the
// periods it touched (a trigger), so an equal digest means equal rows.
// Users without the owner's rights rebuild through tallvero_rebuild().

#include "Database.h"

#include <memory>

namespace cache::server {

class PgRebuild {
public:
    // True when the session owns the lines, the dimensions, the digests and
    // every sum table (so it may write them, and row security does not
    // narrow what it reads).
    static bool usable(Database& db);

    // Reads the company's dimension ids; throws CacheError.
    PgRebuild(Database& db, qint64 firma);
    ~PgRebuild();
    PgRebuild(const PgRebuild&) = delete;
    PgRebuild& operator=(const PgRebuild&) = delete;

    // Makes the period's rows of all eight tables equal to its lines;
    // returns the number of lines. The caller holds the transaction.
    // following (if any) is the period asked for next: the server sums its
    // lines while this one is finished here.
    qint64 period(int periode, int following = -1);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};

} // namespace cache::server
