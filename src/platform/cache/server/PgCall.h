#pragma once

// Direct libpq calls on the server connection, for the bulk paths that
// QtSql's per-row binding would slow down (COPY, the rebuild).

#include "Database.h"

#include <libpq-fe.h>
#include <string>
#include <utility>
#include <vector>

namespace cache::server {

// The connection under a QtSql database, or null when it is not PostgreSQL.
PGconn* pgConnection(QSqlDatabase& db);
// The same for the server database; throws CacheError(Sql) when it is not
// PostgreSQL.
PGconn* pgHandle(Database& db);
// Throws the connection's last error: NotConnected when the link is gone,
// Sql otherwise.
[[noreturn]] void pgFail(PGconn* c);
void pgExec(PGconn* c, const char* sql);

// One statement's result, cleared on destruction.
class PgResult {
public:
    // Runs sql with text parameters; throws through pgFail unless it
    // returned rows or completed.
    PgResult(PGconn* c, const std::string& sql, const std::vector<std::string>& params = {});
    // Takes a result over.
    explicit PgResult(PGresult* r) : r_(r) {}
    PgResult(PgResult&& o) noexcept : r_(std::exchange(o.r_, nullptr)) {}
    ~PgResult() { PQclear(r_); }
    PgResult(const PgResult&) = delete;
    PgResult& operator=(const PgResult&) = delete;
    int rows() const { return PQntuples(r_); }
    const char* text(int row, int col) const { return PQgetvalue(r_, row, col); }
    int length(int row, int col) const { return PQgetlength(r_, row, col); }
    qint64 number(int row, int col) const;

private:
    PGresult* r_;
};

// COPY ... FROM STDIN in text format, sent in blocks.
class PgCopy {
public:
    PgCopy(PGconn* c, const std::string& sql);
    ~PgCopy();
    PgCopy(const PgCopy&) = delete;
    PgCopy& operator=(const PgCopy&) = delete;
    std::string& buffer() { return buf_; }
    // Sends the buffer once it is large enough.
    void maybeFlush() {
        if (buf_.size() >= kFlush) flush();
    }
    void finish();
    static void appendInt(std::string* out, qint64 v);
    // COPY's escapes for a text field.
    static void appendText(std::string* out, std::string_view s);

private:
    static constexpr size_t kFlush = 256 * 1024;
    void flush();
    void end(const char* error);
    PGconn* c_;
    std::string buf_;
    bool copying_ = false;
};

} // namespace cache::server
