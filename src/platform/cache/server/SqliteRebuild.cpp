#include "SqliteRebuild.h"

#include "../Factory.h"
#include "RebuildCore.h"
#include "Schema.h"

#include <QSqlDriver>
#include <algorithm>
#include <array>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace cache::server {

namespace {

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

} // namespace

sqlite3* sqliteHandle(Database& db) {
    const QVariant v = db.handle().driver()->handle();
    if (qstrcmp(v.typeName(), "sqlite3*") != 0)
        throw CacheError(err::Sql, QStringLiteral("Keine SQLite-Verbindung"));
    sqlite3* h = *static_cast<sqlite3* const*>(v.constData());
    if (!h) throw CacheError(err::NotConnected, QStringLiteral("Keine Verbindung zur Datenbank"));
    return h;
}

struct SqliteRebuild::Impl {
    sqlite3* db = nullptr;
    qint64 firma = 0;
    DimRanks ranks;
    std::vector<std::unique_ptr<Stmt>> inserts, deletes; // by allSumLevels()
    std::unique_ptr<Stmt> span, scan, range;

    void write(size_t t, int p, const std::vector<LevelRow>& rows) {
        sqlite3_stmt* h = inserts[t]->h();
        const DimSet dims = allSumLevels()[qsizetype(t)].dims;
        for (const LevelRow& r : rows) {
            int n = 1;
            sqlite3_bind_int64(h, n++, firma);
            sqlite3_bind_int(h, n++, p);
            for (int i = 0; i < kDimCount; ++i)
                if (dims & (1u << i)) {
                    const std::string& c = ranks.code(i, r.key[size_t(i)]);
                    sqlite3_bind_text(h, n++, c.data(), int(c.size()), SQLITE_STATIC);
                }
            for (int i = 0; i < 4; ++i)
                sqlite3_bind_int64(h, n++, r.s[i]);
            inserts[t]->run();
        }
    }
};

SqliteRebuild::SqliteRebuild(Database& db, qint64 firma) : d_(std::make_unique<Impl>()) {
    d_->db = sqliteHandle(db);
    d_->firma = firma;
    sqlite3* h = d_->db;

    Stmt q(h, "SELECT dimid, pcnr, habtnr, abtnr, hgrp, ugrp, hkgrp, hvart, vart, styp FROM "
              "sales_dim WHERE firma = ?");
    sqlite3_bind_int64(q.h(), 1, firma);
    int rc;
    while ((rc = sqlite3_step(q.h())) == SQLITE_ROW) {
        DimCodes c;
        for (int i = 0; i < kDimCount; ++i) {
            const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(q.h(), 1 + i));
            const int len = sqlite3_column_bytes(q.h(), 1 + i);
            c[size_t(i)].assign(t ? t : "", size_t(len));
        }
        d_->ranks.add(sqlite3_column_int64(q.h(), 0), std::move(c));
    }
    if (rc != SQLITE_DONE) fail(h, "sales_dim");
    d_->ranks.finish();

    for (const SumLevel& l : allSumLevels()) {
        const std::string t = l.table;
        const QStringList cols = dimColumns(l.dims);
        std::string sql = "INSERT INTO " + t + " (firma, periode, " +
                          cols.join(QStringLiteral(", ")).toStdString() +
                          ", umsatz, kosten, skonto, nachlass) VALUES (?, ?";
        for (int i = 0; i < cols.size() + 4; ++i)
            sql += ", ?";
        sql += ")";
        d_->inserts.push_back(std::make_unique<Stmt>(h, sql));
        d_->deletes.push_back(
            std::make_unique<Stmt>(h, "DELETE FROM " + t + " WHERE firma = ? AND periode = ?"));
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
}

SqliteRebuild::~SqliteRebuild() = default;

qint64 SqliteRebuild::period(int p) {
    Impl& d = *d_;
    for (auto& del : d.deletes) {
        sqlite3_bind_int64(del->h(), 1, d.firma);
        sqlite3_bind_int(del->h(), 2, p);
        del->run();
    }
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
        const qint64 sums[4] = {sqlite3_column_int64(s, 1), sqlite3_column_int64(s, 2),
                                sqlite3_column_int64(s, 3), sqlite3_column_int64(s, 4)};
        try {
            d.ranks.addLine(sqlite3_column_int64(s, 0), sums);
        } catch (...) {
            sqlite3_reset(s);
            throw;
        }
        ++lines;
    }
    sqlite3_reset(s);
    const std::vector<LevelRow> full = d.ranks.takePeriod();
    if (rc != SQLITE_DONE) fail(d.db, "sales_line");
    const std::vector<std::vector<LevelRow>> levels = aggregateLevels(full);
    for (size_t t = 0; t < levels.size(); ++t)
        d.write(t, p, levels[t]);
    return lines;
}

} // namespace cache::server
