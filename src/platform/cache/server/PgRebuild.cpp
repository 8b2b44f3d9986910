#include "PgRebuild.h"

#include "PgCall.h"
#include "RebuildCore.h"
#include "Schema.h"
#include "Store.h"

#include <QHash>
#include <QStringList>
#include <map>

namespace cache::server {

namespace {
// splitmix64's finaliser: every input bit reaches every output bit.
uint64_t mix(uint64_t x) {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

uint64_t hashCode(const std::string& s) {
    uint64_t h = 0xcbf29ce484222325ULL; // FNV-1a
    for (unsigned char ch : s)
        h = (h ^ ch) * 0x100000001b3ULL;
    return mix(h ^ s.size());
}
} // namespace

bool PgRebuild::usable(Database& db) {
    // to_regclass: a database not yet brought to the schema with the
    // digests (no owner has connected since the update) has no sum_digest.
    QStringList tables = {QStringLiteral("sales_line"), QStringLiteral("sales_dim"),
                          QStringLiteral("sum_digest")};
    for (const SumLevel& l : allSumLevels())
        tables << QString::fromLatin1(l.table);
    QString list;
    for (const QString& t : tables)
        list += QStringLiteral("%1to_regclass('%2')").arg(list.isEmpty() ? "" : ", ", t);
    return db
        .scalar(QStringLiteral("SELECT count(*) = %1 AND bool_and(pg_has_role(relowner, 'USAGE') "
                               "AND NOT relforcerowsecurity) FROM pg_class WHERE oid IN (%2)")
                    .arg(tables.size())
                    .arg(list))
        .toBool();
}

struct PgRebuild::Impl {
    PGconn* c = nullptr;
    std::string firma;
    DimRanks ranks;
    std::array<std::vector<uint64_t>, kDimCount> codeHash; // by rank
    // Stored digests by period and table: rows, digest.
    QHash<int, std::map<std::string, std::pair<qint64, qint64>>> digests;
    int pending = -1;          // the period whose lines query is on its way
    PGresult* ready = nullptr; // its result, once the connection was needed
    int readyPeriod = -1;

    void sendLines(int periode) {
        const std::string f = firma, p = std::to_string(periode);
        const char* values[] = {f.c_str(), p.c_str()};
        if (!PQsendQueryParams(c,
                               "SELECT dimid, count(*), tallvero_sum8(umsatz), "
                               "tallvero_sum8(kosten), tallvero_sum8(skonto), "
                               "tallvero_sum8(nachlass) FROM sales_line WHERE firma = $1 AND "
                               "periode = $2 GROUP BY dimid",
                               2, nullptr, values, nullptr, nullptr, 0))
            pgFail(c);
        pending = periode;
    }
    // Frees the connection: a query still on its way is waited for and
    // its result kept.
    void settle() {
        if (pending < 0) return;
        PGresult* r = PQgetResult(c);
        while (PGresult* more = PQgetResult(c))
            PQclear(more);
        PQclear(ready);
        ready = r;
        readyPeriod = pending;
        pending = -1;
    }
    // The period's lines summed per dimension id.
    PgResult lines(int periode) {
        settle();
        if (readyPeriod != periode) {
            sendLines(periode);
            settle();
        }
        PGresult* r = ready;
        ready = nullptr;
        readyPeriod = -1;
        if (PQresultStatus(r) != PGRES_TUPLES_OK) {
            PQclear(r);
            pgFail(c);
        }
        return PgResult(r);
    }

    // Order-free: the sum of the rows' hashes, each over the kept codes
    // and the four sums.
    qint64 digestOf(const std::vector<LevelRow>& rows, DimSet dims) const {
        uint64_t sum = 0;
        for (const LevelRow& r : rows) {
            uint64_t h = 0x9e3779b97f4a7c15ULL;
            for (int i = 0; i < kDimCount; ++i)
                if (dims & (1u << i)) h = mix(h ^ codeHash[size_t(i)][r.key[size_t(i)]]);
            for (qint64 s : r.s)
                h = mix(h + uint64_t(s));
            sum += h;
        }
        return qint64(sum);
    }

    // Replaces the level's rows of the period and stores their digest.
    void write(const SumLevel& l, const std::vector<LevelRow>& rows, qint64 digest,
               const std::string& period) {
        const std::string table = l.table;
        PgResult(c, "DELETE FROM " + table + " WHERE firma = $1 AND periode = $2", {firma, period});
        if (!rows.empty()) {
            PgCopy copy(c, "COPY " + table + " (firma, periode, " +
                               dimColumns(l.dims).join(QStringLiteral(", ")).toStdString() +
                               ", umsatz, kosten, skonto, nachlass) FROM STDIN");
            std::string& buf = copy.buffer();
            for (const LevelRow& r : rows) {
                buf += firma;
                buf.push_back('\t');
                buf += period;
                for (int i = 0; i < kDimCount; ++i)
                    if (l.dims & (1u << i)) {
                        buf.push_back('\t');
                        PgCopy::appendText(&buf, ranks.code(i, r.key[size_t(i)]));
                    }
                for (qint64 s : r.s) {
                    buf.push_back('\t');
                    PgCopy::appendInt(&buf, s);
                }
                buf.push_back('\n');
                copy.maybeFlush();
            }
            copy.finish();
        }
        // After the writes: their trigger has just dropped the old digest.
        PgResult(c,
                 "INSERT INTO sum_digest (firma, periode, tbl, nrows, digest) VALUES ($1, $2, $3, "
                 "$4, $5) ON CONFLICT (firma, periode, tbl) DO UPDATE SET nrows = "
                 "excluded.nrows, digest = excluded.digest",
                 {firma, period, table, std::to_string(rows.size()), std::to_string(digest)});
    }
};

PgRebuild::PgRebuild(Database& db, qint64 firma) : d_(std::make_unique<Impl>()) {
    d_->c = pgHandle(db);
    d_->firma = std::to_string(firma);
    // Planned per period, its plans are too small for JIT to pay.
    pgExec(d_->c, "SET LOCAL jit = off");
    PgResult(d_->c, "SELECT pg_advisory_xact_lock($1, ($2::bigint & 2147483647)::integer)",
             {std::to_string(kRebuildLockKey), d_->firma});
    PgResult q(d_->c,
               "SELECT dimid, pcnr, habtnr, abtnr, hgrp, ugrp, hkgrp, hvart, vart, styp FROM "
               "sales_dim WHERE firma = $1",
               {d_->firma});
    for (int row = 0; row < q.rows(); ++row) {
        DimCodes codes;
        for (int i = 0; i < kDimCount; ++i)
            codes[size_t(i)].assign(q.text(row, 1 + i), size_t(q.length(row, 1 + i)));
        d_->ranks.add(q.number(row, 0), std::move(codes));
    }
    d_->ranks.finish();
    for (int i = 0; i < kDimCount; ++i)
        for (uint32_t r = 0; r < d_->ranks.rankCount(i); ++r)
            d_->codeHash[size_t(i)].push_back(hashCode(d_->ranks.code(i, r)));
}

PgRebuild::~PgRebuild() {
    d_->settle();
    PQclear(d_->ready);
}

qint64 PgRebuild::period(int periode, int following) {
    Impl& d = *d_;
    const std::string period = std::to_string(periode);
    qint64 lines = 0;
    {
        const PgResult q = d.lines(periode);
        // The server sums the next period while this one is made here.
        if (following >= 0) d.sendLines(following);
        for (int row = 0; row < q.rows(); ++row) {
            const qint64 sums[4] = {q.number(row, 2), q.number(row, 3), q.number(row, 4),
                                    q.number(row, 5)};
            d.ranks.addLine(q.number(row, 0), sums);
            lines += q.number(row, 1);
        }
    }
    const std::vector<LevelRow> full = d.ranks.takePeriod();
    if (!d.digests.contains(periode)) {
        // A year of digests at a time.
        d.settle();
        const int last = periode + 100;
        PgResult q(d.c,
                   "SELECT periode, tbl, nrows, digest FROM sum_digest WHERE firma = $1 AND "
                   "periode BETWEEN $2 AND $3",
                   {d.firma, period, std::to_string(last)});
        for (int p : periodsBetween(periode, last))
            d.digests[p];
        for (int row = 0; row < q.rows(); ++row)
            d.digests[int(q.number(row, 0))][q.text(row, 1)] = {q.number(row, 2), q.number(row, 3)};
    }
    const auto stored = d.digests.take(periode);
    const std::vector<std::vector<LevelRow>> levels = aggregateLevels(full);
    for (qsizetype i = 0; i < allSumLevels().size(); ++i) {
        const SumLevel& l = allSumLevels()[i];
        const std::vector<LevelRow>& rows = levels[size_t(i)];
        const qint64 digest = d.digestOf(rows, l.dims);
        const auto it = stored.find(l.table);
        if (it != stored.end() && it->second == std::pair(qint64(rows.size()), digest)) continue;
        d.settle();
        d.write(l, rows, digest, period);
    }
    return lines;
}

} // namespace cache::server
