#include "PgCall.h"

#include "../Factory.h"

#include <QSqlDriver>
#include <charconv>
#include <cstdlib>

namespace cache::server {

PGconn* pgConnection(QSqlDatabase& db) {
    if (!db.isValid() || !db.driver()) return nullptr;
    const QVariant h = db.driver()->handle();
    // The driver registers the handle under the struct's own name.
    if (!h.isValid() ||
        (qstrcmp(h.typeName(), "pg_conn*") != 0 && qstrcmp(h.typeName(), "PGconn*") != 0))
        return nullptr;
    return *static_cast<PGconn* const*>(h.constData());
}

PGconn* pgHandle(Database& db) {
    PGconn* c = pgConnection(db.handle());
    if (!c) throw CacheError(err::Sql, QStringLiteral("Keine PostgreSQL-Verbindung"));
    return c;
}

void pgFail(PGconn* c) {
    const QString why = QString::fromUtf8(PQerrorMessage(c)).trimmed();
    if (PQstatus(c) == CONNECTION_BAD)
        throw CacheError(err::NotConnected,
                         QStringLiteral("Verbindung zum Server verloren: %1").arg(why));
    throw CacheError(err::Sql, QStringLiteral("SQL-Fehler: %1").arg(why));
}

void pgExec(PGconn* c, const char* sql) {
    PgResult r(c, sql);
}

PgResult::PgResult(PGconn* c, const std::string& sql, const std::vector<std::string>& params) {
    std::vector<const char*> values;
    for (const std::string& p : params)
        values.push_back(p.c_str());
    r_ = PQexecParams(c, sql.c_str(), int(values.size()), nullptr, values.data(), nullptr, nullptr,
                      0);
    const ExecStatusType s = PQresultStatus(r_);
    if (s != PGRES_COMMAND_OK && s != PGRES_TUPLES_OK) {
        PQclear(r_);
        pgFail(c);
    }
}

qint64 PgResult::number(int row, int col) const {
    const char* t = PQgetvalue(r_, row, col);
    qint64 v = 0;
    std::from_chars(t, t + PQgetlength(r_, row, col), v);
    return v;
}

PgCopy::PgCopy(PGconn* c, const std::string& sql) : c_(c) {
    PGresult* r = PQexec(c_, sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COPY_IN;
    PQclear(r);
    if (!ok) pgFail(c_);
    copying_ = true;
    buf_.reserve(kFlush + 4096);
}

PgCopy::~PgCopy() {
    if (!copying_) return;
    try {
        end("abgebrochen");
    } catch (const CacheError&) {
        // The transaction is rolled back in any case.
    }
}

void PgCopy::finish() {
    flush();
    end(nullptr);
}

void PgCopy::flush() {
    if (!copying_ || buf_.empty()) return;
    if (PQputCopyData(c_, buf_.data(), int(buf_.size())) != 1) pgFail(c_);
    buf_.clear();
}

void PgCopy::end(const char* error) {
    copying_ = false;
    if (PQputCopyEnd(c_, error) != 1) pgFail(c_);
    bool ok = true;
    while (PGresult* r = PQgetResult(c_)) {
        ok = ok && PQresultStatus(r) == PGRES_COMMAND_OK;
        PQclear(r);
    }
    if (!ok && !error) pgFail(c_);
}

void PgCopy::appendInt(std::string* out, qint64 v) {
    char b[24];
    const auto r = std::to_chars(b, b + sizeof b, v);
    out->append(b, r.ptr);
}

void PgCopy::appendText(std::string* out, std::string_view s) {
    for (char ch : s) {
        switch (ch) {
        case '\\':
            out->append("\\\\");
            break;
        case '\t':
            out->append("\\t");
            break;
        case '\n':
            out->append("\\n");
            break;
        case '\r':
            out->append("\\r");
            break;
        default:
            out->push_back(ch);
        }
    }
}

} // namespace cache::server
