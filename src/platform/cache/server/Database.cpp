#include "Database.h"

#include "../Factory.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>
#include <QStandardPaths>

namespace cache::server {

QString embeddedDatabasePath() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (dir.isEmpty())
        dir = QDir::homePath() + QStringLiteral("/.local/share/Tallvero");
    return dir + QStringLiteral("/zorvek.sqlite");
}

DatabaseTarget targetFor(const ConnectTarget& t) {
    DatabaseTarget d;
    if (t.server.compare(QStringLiteral("embedded"), Qt::CaseInsensitive) == 0) {
        d.engine = Engine::Sqlite;
        d.sqlitePath = embeddedDatabasePath();
        d.embedded = true;
    } else if (t.server.endsWith(QStringLiteral(".sqlite"), Qt::CaseInsensitive)) {
        d.engine = Engine::Sqlite;
        d.sqlitePath = t.server;
    } else {
        d.engine = Engine::Postgres;
        d.host = t.server;
        bool ok = false;
        const int p = t.port.trimmed().toInt(&ok);
        d.port = ok && p > 0 && p < 65536 ? p : -1;
        // One site may host several databases (and tests run side by side).
        const QString db = qEnvironmentVariable("TALLVERO_PG_DATABASE");
        d.database = db.isEmpty() ? QStringLiteral("zorvek") : db;
    }
    return d;
}

QString describe(const DatabaseTarget& t) {
    if (t.engine == Engine::Sqlite)
        return QStringLiteral("SQLite %1").arg(t.sqlitePath);
    return QStringLiteral("PostgreSQL %1:%2/%3").arg(t.host).arg(t.port).arg(t.database);
}

namespace {
QAtomicInt connectionCounter;

bool looksLikeLostConnection(const QSqlError& e) {
    if (e.type() == QSqlError::ConnectionError)
        return true;
    const QString t = e.databaseText();
    return t.contains(QStringLiteral("server closed the connection"), Qt::CaseInsensitive) ||
           t.contains(QStringLiteral("terminating connection"), Qt::CaseInsensitive) ||
           t.contains(QStringLiteral("no connection to the server"), Qt::CaseInsensitive) ||
           (t.contains(QStringLiteral("connection"), Qt::CaseInsensitive) &&
            t.contains(QStringLiteral("lost"), Qt::CaseInsensitive));
}
} // namespace

Database::Database(const DatabaseTarget& target) : target_(target) {
    connectionName_ = QStringLiteral("zorvek-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    if (target.engine == Engine::Sqlite) {
        QFileInfo fi(target.sqlitePath);
        if (!fi.absoluteDir().exists() && !QDir().mkpath(fi.absolutePath()))
            throw CacheError(err::NotConnected,
                             QStringLiteral("Verzeichnis %1 kann nicht angelegt werden")
                                 .arg(fi.absolutePath()));
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName_);
        db_.setDatabaseName(target.sqlitePath);
        db_.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000"));
    } else {
        if (target.port < 0)
            throw CacheError(err::NotConnected, QStringLiteral("Ungültiger Port"));
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connectionName_);
        db_.setHostName(target.host);
        db_.setPort(target.port);
        db_.setDatabaseName(target.database);
        // A dead host must not hang the client for minutes.
        QString opts = QStringLiteral("connect_timeout=10");
        const QByteArray app = qgetenv("PGAPPNAME");
        if (app.isEmpty())
            opts += QStringLiteral(";application_name=tallvero");
        db_.setConnectOptions(opts);
    }
    if (!db_.open()) {
        const QString why = db_.lastError().text();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName_);
        throw CacheError(err::NotConnected,
                         QStringLiteral("Verbindung zu %1 nicht möglich: %2")
                             .arg(describe(target), why.trimmed()));
    }
    if (target.engine == Engine::Sqlite) {
        execDirect(QStringLiteral("PRAGMA journal_mode=WAL"));
        execDirect(QStringLiteral("PRAGMA synchronous=NORMAL"));
        execDirect(QStringLiteral("PRAGMA foreign_keys=ON"));
        execDirect(QStringLiteral("PRAGMA cache_size=-65536"));
        execDirect(QStringLiteral("PRAGMA temp_store=MEMORY"));
        execDirect(QStringLiteral("PRAGMA mmap_size=1073741824"));
    }
}

Database::~Database() {
    statements_.clear();
    if (db_.isValid())
        db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

bool Database::isOpen() const { return db_.isValid() && db_.isOpen() && !lost_; }

QSqlQuery& Database::prepared(const QString& sql) {
    auto it = statements_.find(sql);
    if (it != statements_.end())
        return **it;
    auto q = std::make_shared<QSqlQuery>(db_);
    q->setForwardOnly(true);
    if (!q->prepare(sql))
        fail(*q, sql);
    statements_.insert(sql, q);
    return *q;
}

void Database::fail(const QSqlQuery& q, const QString& what) {
    const QSqlError e = q.lastError();
    if (looksLikeLostConnection(e) || (target_.engine == Engine::Postgres && !db_.isOpen()))
        lost_ = true;
    if (lost_)
        throw CacheError(err::NotConnected,
                         QStringLiteral("Verbindung zum Server verloren: %1").arg(e.text().trimmed()));
    Q_UNUSED(what);
    throw CacheError(err::Sql, QStringLiteral("SQL-Fehler: %1").arg(e.text().trimmed()));
}

namespace {
// PostgreSQL text cannot hold NUL, and the driver hands values over as C
// strings; such a value can match no stored code, so it is made harmless.
QVariant safeBind(const QVariant& v, Engine engine) {
    if (engine != Engine::Postgres || v.typeId() != QMetaType::QString)
        return v;
    QString s = v.toString();
    if (!s.contains(QChar(0)))
        return v;
    s.replace(QChar(0), QChar(0xFFFD));
    return s;
}
} // namespace

QSqlQuery& Database::exec(const QString& sql, const QVariantList& binds) {
    if (lost_)
        throw CacheError(err::NotConnected, QStringLiteral("Verbindung zum Server verloren"));
    QSqlQuery& q = prepared(sql);
    q.finish();
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, safeBind(binds.at(i), target_.engine));
    if (!q.exec()) {
        // A prepared statement on PostgreSQL can go stale after the schema
        // changed; prepare once more before giving up.
        statements_.remove(sql);
        QSqlQuery& again = prepared(sql);
        for (int i = 0; i < binds.size(); ++i)
            again.bindValue(i, safeBind(binds.at(i), target_.engine));
        if (!again.exec())
            fail(again, sql);
        return again;
    }
    return q;
}

void Database::execDirect(const QString& sql) {
    QSqlQuery q(db_);
    if (!q.exec(sql))
        fail(q, sql);
}

QVariant Database::scalar(const QString& sql, const QVariantList& binds) {
    QSqlQuery& q = exec(sql, binds);
    QVariant v;
    if (q.next())
        v = q.value(0);
    q.finish();
    return v;
}

void Database::begin() {
    if (!db_.transaction())
        throw CacheError(err::Sql, QStringLiteral("Transaktion kann nicht begonnen werden: %1")
                                       .arg(db_.lastError().text()));
}

void Database::commit() {
    if (!db_.commit())
        throw CacheError(err::Sql, QStringLiteral("Transaktion kann nicht abgeschlossen werden: %1")
                                       .arg(db_.lastError().text()));
}

void Database::rollback() { db_.rollback(); }

} // namespace cache::server
