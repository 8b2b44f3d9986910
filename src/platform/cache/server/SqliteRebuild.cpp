#include "SqliteRebuild.h"

#include "../Factory.h"
#include "Schema.h"

#include <QSqlDriver>
#include <algorithm>
#include <array>
#include <map>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace cache::server {

namespace {

// Code ranks by dimension bit; rank 0 means the level does not keep it.
using Key = std::array<uint32_t, kDimCount>;

struct Row {
    Key key;
    qint64 id;
    qint64 s[4];
};

[[noreturn]] void fail(sqlite3* db, const char* what) {
    throw CacheError(err::Sql, QStringLiteral("%1: %2").arg(QLatin1String(what),
                                                            QString::fromUtf8(sqlite3_errmsg(db))));
}

class Stmt {
public:
    Stmt(sqlite3* db, const std::string& sql) : db_(db) {
        if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &h_, nullptr) != SQLITE_OK)
            fail(db, "prepare");
    }
    ~Stmt() { sqlite3_finalize(h_); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
    sqlite3_stmt* h() const { return h_; }
    // Steps to completion of a statement without rows.
    void run() {
        const int rc = sqlite3_step(h_);
        sqlite3_reset(h_);
        if (rc != SQLITE_DONE) fail(db_, "step");
    }

private:
    sqlite3* db_;
    sqlite3_stmt* h_ = nullptr;
};

sqlite3* nativeHandle(Database& db) {
    const QVariant v = db.handle().driver()->handle();
    if (qstrcmp(v.typeName(), "sqlite3*") != 0)
        throw CacheError(err::Sql, QStringLiteral("Keine SQLite-Verbindung"));
    sqlite3* h = *static_cast<sqlite3* const*>(v.constData());
    if (!h) throw CacheError(err::NotConnected, QStringLiteral("Keine Verbindung zur Datenbank"));
    return h;
}

const char* const kTables[] = {"wsum_full", "wsum_org", "wsum_prod", "wsum_top",
                               "psum_full", "psum_org", "psum_prod", "psum_top"};

DimSet dimsOf(const char* table) {
    for (const QList<SumLevel>* fam : {&warehouseLevels(), &plainLevels()})
        for (const SumLevel& l : *fam)
            if (qstrcmp(l.table, table) == 0) return l.dims;
    Q_UNREACHABLE();
}

} // namespace

struct SqliteRebuild::Impl {
    sqlite3* db = nullptr;
    qint64 firma = 0;
    std::array<std::vector<std::string>, kDimCount> codes; // by rank
    std::vector<Key> byDim;                                // by dimension id
    std::vector<bool> known;
    std::vector<int> slot; // row of a dimension id in the period being built
    std::vector<std::unique_ptr<Stmt>> inserts, deletes;
    std::vector<DimSet> dims;
    std::unique_ptr<Stmt> span, scan, range;

    // Sums rows that agree on the kept dimensions. Ranks follow the byte
    // order of the codes (SQLite's BINARY collation), so the result comes
    // in primary-key order and the inserts stay local in the b-tree.
    static std::vector<Row> aggregate(const std::vector<Row>& src, DimSet keep) {
        std::vector<Row> rows = src;
        for (Row& r : rows)
            for (int i = 0; i < kDimCount; ++i)
                if (!(keep & (1u << i))) r.key[size_t(i)] = 0;
        std::sort(rows.begin(), rows.end(),
                  [](const Row& a, const Row& b) { return a.key < b.key; });
        std::vector<Row> out;
        out.reserve(rows.size());
        for (const Row& r : rows) {
            if (!out.empty() && out.back().key == r.key) {
                for (int i = 0; i < 4; ++i)
                    out.back().s[i] += r.s[i];
            } else {
                out.push_back(r);
            }
        }
        return out;
    }

    void write(size_t t, int p, const std::vector<Row>& rows) {
        sqlite3_stmt* h = inserts[t]->h();
        for (const Row& r : rows) {
            int n = 1;
            sqlite3_bind_int64(h, n++, firma);
            sqlite3_bind_int(h, n++, p);
            for (int i = 0; i < kDimCount; ++i)
                if (dims[t] & (1u << i)) {
                    const std::string& c = codes[size_t(i)][r.key[size_t(i)]];
                    sqlite3_bind_text(h, n++, c.data(), int(c.size()), SQLITE_STATIC);
                }
            for (int i = 0; i < 4; ++i)
                sqlite3_bind_int64(h, n++, r.s[i]);
            inserts[t]->run();
        }
    }
};

SqliteRebuild::SqliteRebuild(Database& db, qint64 firma) : d_(std::make_unique<Impl>()) {
    d_->db = nativeHandle(db);
    d_->firma = firma;
    sqlite3* h = d_->db;

    Stmt q(h, "SELECT dimid, pcnr, habtnr, abtnr, hgrp, ugrp, hkgrp, hvart, vart, styp FROM "
              "sales_dim WHERE firma = ?");
    sqlite3_bind_int64(q.h(), 1, firma);
    std::vector<std::pair<qint64, std::array<std::string, kDimCount>>> raw;
    std::array<std::map<std::string, uint32_t>, kDimCount> seen;
    int rc;
    while ((rc = sqlite3_step(q.h())) == SQLITE_ROW) {
        std::array<std::string, kDimCount> c;
        for (int i = 0; i < kDimCount; ++i) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(q.h(), 1 + i));
            const int len = sqlite3_column_bytes(q.h(), 1 + i);
            c[size_t(i)].assign(t ? t : "", size_t(len));
            seen[size_t(i)].emplace(c[size_t(i)], 0);
        }
        raw.emplace_back(sqlite3_column_int64(q.h(), 0), std::move(c));
    }
    if (rc != SQLITE_DONE) fail(h, "sales_dim");
    for (int i = 0; i < kDimCount; ++i) {
        uint32_t r = 1;
        d_->codes[size_t(i)].emplace_back();
        for (auto& [code, rank] : seen[size_t(i)]) {
            rank = r++;
            d_->codes[size_t(i)].push_back(code);
        }
    }
    for (const auto& [id, c] : raw) {
        if (id < 0) continue;
        Key k{};
        for (int i = 0; i < kDimCount; ++i)
            k[size_t(i)] = seen[size_t(i)][c[size_t(i)]];
        if (size_t(id) >= d_->byDim.size()) {
            d_->byDim.resize(size_t(id) + 1);
            d_->known.resize(size_t(id) + 1);
        }
        d_->byDim[size_t(id)] = k;
        d_->known[size_t(id)] = true;
    }

    for (const char* t : kTables) {
        const DimSet dims = dimsOf(t);
        const QStringList cols = dimColumns(dims);
        std::string sql = "INSERT INTO " + std::string(t) + " (firma, periode, " +
                          cols.join(QStringLiteral(", ")).toStdString() +
                          ", umsatz, kosten, skonto, nachlass) VALUES (?, ?";
        for (int i = 0; i < cols.size() + 4; ++i)
            sql += ", ?";
        sql += ")";
        d_->inserts.push_back(std::make_unique<Stmt>(h, sql));
        d_->deletes.push_back(std::make_unique<Stmt>(h, "DELETE FROM " + std::string(t) +
                                                            " WHERE firma = ? AND periode = ?"));
        d_->dims.push_back(dims);
    }
    // The period's lines, summed per dimension id here, which is cheaper
    // than a GROUP BY that would need the id in the index. Lines come in
    // imports, so a period's lines mostly lie together in the table: then
    // one pass over that stretch of rows beats looking each row up from
    // the index (a b-tree descent per row). Lines scattered by later
    // imports into old periods are looked up through the index.
    d_->span = std::make_unique<Stmt>(h, "SELECT COUNT(*), MIN(rowid), MAX(rowid) FROM "
                                         "sales_line WHERE firma = ? AND periode = ?");
    d_->scan = std::make_unique<Stmt>(h, "SELECT dimid, umsatz, kosten, skonto, nachlass FROM "
                                         "sales_line WHERE firma = ? AND periode = ?");
    d_->range = std::make_unique<Stmt>(
        h, "SELECT dimid, umsatz, kosten, skonto, nachlass FROM sales_line NOT INDEXED WHERE "
           "rowid BETWEEN ? AND ? AND firma = ? AND periode = ?");
    d_->slot.assign(d_->byDim.size(), -1);
}

SqliteRebuild::~SqliteRebuild() = default;

qint64 SqliteRebuild::period(int p) {
    Impl& d = *d_;
    for (auto& del : d.deletes) {
        sqlite3_bind_int64(del->h(), 1, d.firma);
        sqlite3_bind_int(del->h(), 2, p);
        del->run();
    }
    std::vector<Row> full;
    qint64 lines = 0;
    sqlite3_stmt* span = d.span->h();
    sqlite3_bind_int64(span, 1, d.firma);
    sqlite3_bind_int(span, 2, p);
    if (sqlite3_step(span) != SQLITE_ROW) {
        sqlite3_reset(span);
        fail(d.db, "sales_line");
    }
    const qint64 count = sqlite3_column_int64(span, 0);
    const qint64 first = sqlite3_column_int64(span, 1), last = sqlite3_column_int64(span, 2);
    sqlite3_reset(span);
    sqlite3_stmt* s = d.scan->h();
    int at = 1;
    if (count > 0 && count * 4 >= last - first + 1) {
        s = d.range->h();
        sqlite3_bind_int64(s, at++, first);
        sqlite3_bind_int64(s, at++, last);
    }
    sqlite3_bind_int64(s, at++, d.firma);
    sqlite3_bind_int(s, at, p);
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        const qint64 id = sqlite3_column_int64(s, 0);
        if (id < 0 || size_t(id) >= d.byDim.size() || !d.known[size_t(id)]) {
            sqlite3_reset(s);
            for (const Row& r : full)
                d.slot[size_t(r.id)] = -1;
            throw CacheError(err::GenerateFailed,
                             QStringLiteral("Verkaufszeile mit unbekannter Dimension %1").arg(id));
        }
        int& slot = d.slot[size_t(id)];
        if (slot < 0) {
            slot = int(full.size());
            Row r;
            r.key = d.byDim[size_t(id)];
            r.id = id;
            for (int i = 0; i < 4; ++i)
                r.s[i] = 0;
            full.push_back(r);
        }
        Row& r = full[size_t(slot)];
        for (int i = 0; i < 4; ++i)
            r.s[i] += sqlite3_column_int64(s, 1 + i);
        ++lines;
    }
    sqlite3_reset(s);
    for (const Row& r : full)
        d.slot[size_t(r.id)] = -1;
    if (rc != SQLITE_DONE) fail(d.db, "sales_line");
    for (size_t t = 0; t < d.dims.size(); ++t)
        d.write(t, p, Impl::aggregate(full, d.dims[t]));
    return lines;
}

} // namespace cache::server
