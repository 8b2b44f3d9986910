#include "TestDatabase.h"

#include "platform/cache/ConnectString.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/Security.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

namespace testsupport {

using namespace cache::server;

std::string engineName(TestEngine e) { return e == TestEngine::Sqlite ? "SQLite" : "PostgreSQL"; }

namespace {
bool pgHostPort(QString* host, int* port) {
    const QString v = qEnvironmentVariable("TALLVERO_TEST_PG");
    const int colon = v.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    *host = v.left(colon);
    *port = v.mid(colon + 1).toInt();
    return *port > 0;
}

// Database names are per test binary, so binaries can run in parallel.
QString pgDatabaseName(const QString& name) {
    QString exe = QCoreApplication::applicationName();
    if (exe.isEmpty())
        exe = QStringLiteral("test");
    QString n = QStringLiteral("t_%1_%2").arg(exe, name).toLower();
    for (QChar& c : n)
        if (!c.isLetterOrNumber())
            c = QLatin1Char('_');
    return n.left(60);
}

void recreatePgDatabase(const QString& host, int port, const QString& db, const QString& owner) {
    const QString conn = QStringLiteral("admin-%1").arg(db);
    {
        QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), conn);
        admin.setHostName(host);
        admin.setPort(port);
        admin.setDatabaseName(QStringLiteral("zorvek"));
        if (!admin.open())
            qFatal("cannot reach test cluster: %s", qPrintable(admin.lastError().text()));
        QSqlQuery q(admin);
        q.exec(QStringLiteral("DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)").arg(db));
        if (!q.exec(QStringLiteral("CREATE DATABASE \"%1\"%2")
                        .arg(db, owner.isEmpty() ? QString()
                                                 : QStringLiteral(" OWNER \"%1\"").arg(owner))))
            qFatal("cannot create %s: %s", qPrintable(db), qPrintable(q.lastError().text()));
        admin.close();
    }
    QSqlDatabase::removeDatabase(conn);
}
} // namespace

bool engineAvailable(TestEngine e, std::string* why) {
    if (e == TestEngine::Sqlite)
        return true;
    QString host;
    int port = 0;
    if (!pgHostPort(&host, &port)) {
        *why = "no PostgreSQL test cluster (run the tests through scripts/with-pg.sh)";
        return false;
    }
    return true;
}

void TestDatabase::activate() const {
    if (engine == TestEngine::Postgres)
        qputenv("TALLVERO_PG_DATABASE", target.database.toUtf8());
}

bool TestDatabase::connect(cache::Factory& f) const {
    activate();
    return f.connect(connectString);
}

std::unique_ptr<Database> TestDatabase::open() const { return std::make_unique<Database>(target); }

std::unique_ptr<Database> TestDatabase::openAs(const Login& login) const {
    return std::make_unique<Database>(target, &login);
}

std::unique_ptr<TestDatabase> makeTestDatabase(TestEngine e, const QString& name,
                                               const Login* owner) {
    auto t = std::make_unique<TestDatabase>();
    t->engine = e;
    if (owner && e == TestEngine::Postgres) t->owner = *owner;
    if (e == TestEngine::Sqlite) {
        t->dir = std::make_unique<QTemporaryDir>();
        const QString path = t->dir->filePath(name + QStringLiteral(".sqlite"));
        t->target.engine = Engine::Sqlite;
        t->target.sqlitePath = path;
        t->connectString = cache::makeConnectString(path, QStringLiteral("1972"));
    } else {
        QString host;
        int port = 0;
        pgHostPort(&host, &port);
        const QString db = pgDatabaseName(name);
        recreatePgDatabase(host, port, db, t->owner ? t->owner->user : QString());
        qputenv("TALLVERO_PG_DATABASE", db.toUtf8());
        t->target.engine = Engine::Postgres;
        t->target.host = host;
        t->target.port = port;
        t->target.database = db;
        t->connectString = cache::makeConnectString(host, QString::number(port));
    }
    auto db = t->owner ? t->openAs(*t->owner) : t->open();
    createSchema(*db);
    return t;
}

void addLogin(Database& d, qint64 firma, const QString& code, const QString& password,
              const QString& aktiv, const QString& pname, const QString& pnr, const QString& abtnr,
              const QString& dw, const QString& bergrp) {
    const bool sqlite = d.engine() == Engine::Sqlite;
    d.exec(QStringLiteral("INSERT INTO pers_edv (firma, code, aktiv, pname, pnr, abtnr, dw, "
                          "bergrp%1) VALUES (?, ?, ?, ?, ?, ?, ?, ?%2)")
               .arg(sqlite ? QStringLiteral(", passwort") : QString(),
                    sqlite ? QStringLiteral(", ''") : QString()),
           {firma, code, aktiv, pname, pnr, abtnr, dw, bergrp})
        .finish();
    storeLoginPassword(d, firma, code, password);
}

} // namespace testsupport
