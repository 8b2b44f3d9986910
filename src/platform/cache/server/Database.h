#pragma once

// The server's database: one SQLite file or one PostgreSQL database, reached
// through QtSql. All SQL of the server component goes through this class so
// that prepared statements are reused and every value is a bound parameter.

#include "../ConnectString.h"

#include <QHash>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <memory>

namespace cache::server {

class StatementWatchdog;

// Time-outs of a PostgreSQL connection, in seconds: connecting
// (TALLVERO_PG_CONNECT_TIMEOUT, default 10) and one statement
// (TALLVERO_PG_STATEMENT_TIMEOUT, default 300): the server cancels
// a statement after that long, and when the server does not answer at all
// (a stalled link) the client cuts the connection a little later.
struct PgTimeouts {
    int connect = 10;
    int statement = 300;
    int watchdog() const { return statement + (statement < 15 ? statement : 15); }
};
PgTimeouts pgTimeouts();

enum class Engine { Sqlite, Postgres };

struct DatabaseTarget {
    Engine engine = Engine::Sqlite;
    QString sqlitePath;  // Sqlite
    QString host;        // Postgres
    int port = 5432;     // Postgres
    QString database;    // Postgres
    bool embedded = false;  // the per-user default file
};

// Where the embedded server keeps its file.
QString embeddedDatabasePath();

// Server "embedded" -> the per-user file; a path ending in ".sqlite" -> that
// file; anything else -> PostgreSQL host at the port, database "zorvek".
// User and password of PostgreSQL come from libpq's environment and files.
DatabaseTarget targetFor(const ConnectTarget& t);

// Describes the target for messages, never with a password.
QString describe(const DatabaseTarget& t);

// A PostgreSQL login given by the program instead of libpq's defaults:
// the personnel code's own role and the password the user typed.
struct Login {
    QString user;
    QString password;
};

class Database {
public:
    // Opens the database; throws CacheError(NotConnected) on failure. A
    // login (PostgreSQL only) replaces libpq's user and password; neither
    // is kept by this object.
    explicit Database(const DatabaseTarget& target, const Login* login = nullptr);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    Engine engine() const { return target_.engine; }
    const DatabaseTarget& target() const { return target_; }
    bool isOpen() const;
    QSqlDatabase& handle() { return db_; }

    // Runs a statement with positional bound values; throws CacheError(Sql).
    // The returned query stays valid until the same SQL text runs again.
    QSqlQuery& exec(const QString& sql, const QVariantList& binds = {});
    // Runs SQL text without parameters (DDL); throws CacheError(Sql).
    void execDirect(const QString& sql);
    // First column of the first row, or an invalid QVariant.
    QVariant scalar(const QString& sql, const QVariantList& binds = {});

    void begin();
    // A transaction that will write: on SQLite it takes the write lock at
    // once (BEGIN IMMEDIATE), so two writers queue instead of failing on
    // an outdated read snapshot.
    void beginWrite();
    void commit();
    void rollback();

    // True if the error of a failed statement means the link is gone.
    bool connectionLost() const { return lost_; }

    // A salted SCRAM-SHA-256 verifier of a password, computed here, so
    // that the password itself never travels to the server (PostgreSQL).
    QString scramVerifier(const QString& role, const QString& password);

private:
    QSqlQuery& prepared(const QString& sql);
    // After a failed call: true (and marked lost) when the link is gone.
    bool checkLink();
    [[noreturn]] void fail(const QSqlQuery& q, const QString& what);

    DatabaseTarget target_;
    QString connectionName_;
    QSqlDatabase db_;
    QHash<QString, std::shared_ptr<QSqlQuery>> statements_;
    bool lost_ = false;
    bool cutByWatchdog_ = false;
    std::unique_ptr<StatementWatchdog> watchdog_; // PostgreSQL only
    friend class WatchedCall;
};

} // namespace cache::server
