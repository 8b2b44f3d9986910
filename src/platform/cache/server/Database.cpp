#include "Database.h"

#include "../Factory.h"
#include "PgCall.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QStandardPaths>

#include <libpq-fe.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <libpq-fe.h>
#include <mutex>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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

PgTimeouts pgTimeouts() {
    PgTimeouts t;
    bool ok = false;
    const int s = qEnvironmentVariableIntValue("TALLVERO_PG_STATEMENT_TIMEOUT", &ok);
    if (ok && s > 0)
        t.statement = s;
    const int c = qEnvironmentVariableIntValue("TALLVERO_PG_CONNECT_TIMEOUT", &ok);
    if (ok && c > 0)
        t.connect = c;
    return t;
}

// Cuts the socket of a statement that has had no answer for too long. A
// blocking libpq call waits for ever on a link that is alive at the TCP
// level but carries nothing (a stalled router or proxy); shutting the
// socket down from a second thread makes that call return with an error.
class StatementWatchdog {
public:
    explicit StatementWatchdog(int seconds) : limit_(seconds) {}
    ~StatementWatchdog() {
        {
            std::lock_guard lock(m_);
            stop_ = true;
        }
        cv_.notify_all();
        if (thread_.joinable())
            thread_.join();
    }
    void arm(int fd) {
        std::lock_guard lock(m_);
        if (!thread_.joinable())
            thread_ = std::thread([this] { run(); });
        fd_ = fd;
        fired_ = false;
        deadline_ = std::chrono::steady_clock::now() + std::chrono::seconds(limit_);
        armed_ = true;
        cv_.notify_all();
    }
    // True when the watchdog cut the connection during the armed call.
    bool disarm() {
        std::lock_guard lock(m_);
        armed_ = false;
        return fired_;
    }
    int limit() const { return limit_; }

private:
    void run() {
        std::unique_lock lock(m_);
        while (!stop_) {
            if (!armed_) {
                cv_.wait(lock);
                continue;
            }
            if (cv_.wait_until(lock, deadline_) == std::cv_status::timeout && armed_ &&
                std::chrono::steady_clock::now() >= deadline_) {
                if (fd_ >= 0)
                    ::shutdown(fd_, SHUT_RDWR);
                fired_ = true;
                armed_ = false;
            }
        }
    }

    const int limit_;
    std::mutex m_;
    std::condition_variable cv_;
    std::thread thread_;
    std::chrono::steady_clock::time_point deadline_;
    int fd_ = -1;
    bool armed_ = false, fired_ = false, stop_ = false;
};

// Arms the watchdog for the length of one call to the server.
class WatchedCall {
public:
    explicit WatchedCall(Database& d) : d_(d) {
        if (!d_.watchdog_)
            return;
        if (PGconn* c = pgConnection(d_.db_))
            d_.watchdog_->arm(PQsocket(c));
    }
    ~WatchedCall() {
        if (d_.watchdog_)
            d_.watchdog_->disarm();
    }
    WatchedCall(const WatchedCall&) = delete;
    WatchedCall& operator=(const WatchedCall&) = delete;

private:
    Database& d_;
};

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

namespace {
// The login records of a SQLite file are the user's own business: a new
// file is created readable by its owner only (SQLite gives its journal
// files the same mode), and the per-user file is put back to that.
void keepPrivate(const DatabaseTarget& t) {
    if (t.sqlitePath.isEmpty() || t.sqlitePath == QLatin1String(":memory:"))
        return; // no file
    const QByteArray path = QFile::encodeName(t.sqlitePath);
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    if (t.embedded)
        for (const char* suffix : {"", "-wal", "-shm"})
            ::chmod((path + suffix).constData(), 0600);
}

// libpq's reason for a failed connect in words the user can act on; empty
// when there is nothing to add to libpq's own text.
QString connectReason(const QString& why, const DatabaseTarget& t) {
    auto has = [&](const char* s) { return why.contains(QLatin1String(s), Qt::CaseInsensitive); };
    if (has("does not match host name"))
        return QStringLiteral("Das Zertifikat des Servers gilt nicht für den Rechnernamen „%1“")
            .arg(t.host);
    if (has("certificate verify failed"))
        return QStringLiteral("Das Zertifikat des Servers ist nicht von der vertrauenswürdigen "
                              "Zertifizierungsstelle (PGSSLROOTCERT) unterschrieben");
    if (has("root certificate file"))
        return QStringLiteral("Die Datei der Zertifizierungsstelle (PGSSLROOTCERT) fehlt; ohne "
                              "sie kann der Server nicht geprüft werden");
    if (has("server does not support SSL"))
        return QStringLiteral("Der Server bietet keine verschlüsselte Verbindung (TLS) an");
    if (has("no encryption"))
        return QStringLiteral("Der Server nimmt nur verschlüsselte Verbindungen an (PGSSLMODE)");
    if (has("password authentication failed") || has("not permitted to log in"))
        return QStringLiteral("Anmeldung abgelehnt: Passwort falsch oder Benutzer nicht aktiv");
    if (has("no password supplied"))
        return QStringLiteral("Der Server verlangt ein Passwort (~/.pgpass, PGPASSFILE)");
    if (has("Connection refused"))
        return QStringLiteral("Der Server nimmt keine Verbindungen an (Rechner und Port prüfen)");
    if (has("timeout expired")) return QStringLiteral("Keine Antwort vom Server");
    return {};
}
} // namespace

Database::Database(const DatabaseTarget& target, const Login* login) : target_(target) {
    connectionName_ = QStringLiteral("zorvek-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    if (target.engine == Engine::Sqlite) {
        QFileInfo fi(target.sqlitePath);
        if (!fi.absoluteDir().exists()) {
            if (!QDir().mkpath(fi.absolutePath()))
                throw CacheError(err::NotConnected,
                                 QStringLiteral("Verzeichnis %1 kann nicht angelegt werden")
                                     .arg(fi.absolutePath()));
            ::chmod(QFile::encodeName(fi.absolutePath()).constData(), 0700);
        }
        keepPrivate(target);
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
        if (login) {
            db_.setUserName(login->user);
            db_.setPassword(login->password);
        }
        // A dead host must not hang the client for minutes: a bounded
        // connect, TCP keepalives for a peer that vanished while idle, a
        // bound on unacknowledged data, and a statement limit on the server.
        const PgTimeouts to = pgTimeouts();
        QString opts = QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=30;"
                                      "keepalives_interval=10;keepalives_count=3;"
                                      "tcp_user_timeout=60000;"
                                      "options='-c statement_timeout=%2s -c client_min_messages=warning'")
                           .arg(to.connect)
                           .arg(to.statement);
        const QByteArray app = qgetenv("PGAPPNAME");
        if (app.isEmpty())
            opts += QStringLiteral(";application_name=tallvero");
        db_.setConnectOptions(opts);
    }
    const bool opened = db_.open();
    // Qt keeps what it was given; the connection no longer needs it.
    db_.setPassword(QString());
    if (!opened) {
        const QString why = db_.lastError().text().trimmed();
        db_ = QSqlDatabase();
        QSqlDatabase::removeDatabase(connectionName_);
        const QString reason = connectReason(why, target);
        throw CacheError(err::NotConnected,
                         QStringLiteral("Verbindung zu %1 nicht möglich: %2")
                             .arg(describe(target),
                                  reason.isEmpty()
                                      ? why
                                      : reason + QStringLiteral(" (") + why + QLatin1Char(')')));
    }
    if (target.engine == Engine::Sqlite) {
        execDirect(QStringLiteral("PRAGMA journal_mode=WAL"));
        execDirect(QStringLiteral("PRAGMA synchronous=NORMAL"));
        execDirect(QStringLiteral("PRAGMA foreign_keys=ON"));
        execDirect(QStringLiteral("PRAGMA cache_size=-65536"));
        execDirect(QStringLiteral("PRAGMA temp_store=MEMORY"));
        execDirect(QStringLiteral("PRAGMA mmap_size=1073741824"));
    } else {
        watchdog_ = std::make_unique<StatementWatchdog>(pgTimeouts().watchdog());
    }
}

Database::~Database() {
    watchdog_.reset();
    statements_.clear();
    if (db_.isValid())
        db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connectionName_);
}

bool Database::isOpen() const { return db_.isValid() && db_.isOpen() && !lost_; }

bool Database::checkLink() {
    if (!watchdog_)
        return lost_;
    if (watchdog_->disarm())
        cutByWatchdog_ = lost_ = true;
    PGconn* c = pgConnection(db_);
    if (c && PQstatus(c) == CONNECTION_BAD)
        lost_ = true;
    return lost_;
}

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
    checkLink();
    // Only a server link can be lost. Qt's SQLite driver files every failed
    // step, a broken constraint too, as a connection error.
    if (target_.engine == Engine::Postgres && (looksLikeLostConnection(e) || !db_.isOpen()))
        lost_ = true;
    if (lost_ && cutByWatchdog_)
        throw CacheError(err::NotConnected,
                         QStringLiteral("Keine Antwort vom Server nach %1 s; die Verbindung "
                                        "wurde getrennt")
                             .arg(watchdog_->limit()));
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
    const WatchedCall call(*this);
    QSqlQuery& q = prepared(sql);
    q.finish();
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, safeBind(binds.at(i), target_.engine));
    if (!q.exec()) {
        if (checkLink())
            fail(q, sql); // no second try on a dead link
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
    if (lost_)
        throw CacheError(err::NotConnected, QStringLiteral("Verbindung zum Server verloren"));
    const WatchedCall call(*this);
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
    if (lost_)
        throw CacheError(err::NotConnected, QStringLiteral("Verbindung zum Server verloren"));
    const WatchedCall call(*this);
    if (!db_.transaction()) {
        if (checkLink())
            throw CacheError(err::NotConnected, QStringLiteral("Verbindung zum Server verloren"));
        throw CacheError(err::Sql, QStringLiteral("Transaktion kann nicht begonnen werden: %1")
                                       .arg(db_.lastError().text()));
    }
}

void Database::beginWrite() {
    if (target_.engine == Engine::Postgres) {
        begin();
        return;
    }
    execDirect(QStringLiteral("BEGIN IMMEDIATE"));
}

void Database::commit() {
    const WatchedCall call(*this);
    if (!db_.commit()) {
        if (checkLink())
            throw CacheError(err::NotConnected,
                             QStringLiteral("Verbindung zum Server verloren; die Transaktion "
                                            "wurde nicht abgeschlossen"));
        throw CacheError(err::Sql, QStringLiteral("Transaktion kann nicht abgeschlossen werden: %1")
                                       .arg(db_.lastError().text()));
    }
}

void Database::rollback() {
    if (lost_)
        return; // the server rolled back when the link went
    const WatchedCall call(*this);
    db_.rollback();
}

QString Database::scramVerifier(const QString& role, const QString& password) {
    PGconn* c = pgConnection(db_);
    if (!c) throw CacheError(err::Sql, QStringLiteral("Keine PostgreSQL-Verbindung"));
    char* v = PQencryptPasswordConn(c, password.toUtf8().constData(), role.toUtf8().constData(),
                                    "scram-sha-256");
    if (!v)
        throw CacheError(err::Sql, QStringLiteral("Passwort kann nicht verschlüsselt werden: %1")
                                       .arg(QString::fromUtf8(PQerrorMessage(c)).trimmed()));
    const QString out = QString::fromLatin1(v);
    PQfreemem(v);
    return out;
}

} // namespace cache::server
