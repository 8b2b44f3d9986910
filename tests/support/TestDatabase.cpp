#include "TestDatabase.h"

#include "platform/cache/ConnectString.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/Security.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QSqlRecord>

namespace testsupport {

using namespace cache::server;

std::string engineName(TestEngine e) {
    return e == TestEngine::Sqlite ? "SQLite" : "PostgreSQL";
}

namespace {
// The cluster of TALLVERO_TEST_PG=host:port, if there is one.
bool pgCluster(DatabaseTarget* t) {
    const QString v = qEnvironmentVariable("TALLVERO_TEST_PG");
    const int colon = v.lastIndexOf(QLatin1Char(':'));
    t->engine = Engine::Postgres;
    t->host = v.left(colon);
    t->port = v.mid(colon + 1).toInt();
    return colon > 0 && t->port > 0;
}

// Database names are per test binary, so binaries can run in parallel.
QString pgDatabaseName(const QString& name) {
    QString exe = QCoreApplication::applicationName();
    if (exe.isEmpty()) exe = QStringLiteral("test");
    QString n = QStringLiteral("t_%1_%2").arg(exe, name).toLower();
    for (QChar& c : n)
        if (!c.isLetterOrNumber()) c = QLatin1Char('_');
    return n.left(60);
}

// Through the cluster's own database: a database cannot drop itself.
void recreatePgDatabase(DatabaseTarget t, const QString& owner) {
    const QString db = t.database;
    t.database = QStringLiteral("zorvek");
    Database admin(t);
    admin.execDirect(QStringLiteral("DROP DATABASE IF EXISTS \"%1\" WITH (FORCE)").arg(db));
    admin.execDirect(
        QStringLiteral("CREATE DATABASE \"%1\"%2")
            .arg(db, owner.isEmpty() ? QString() : QStringLiteral(" OWNER \"%1\"").arg(owner)));
}
} // namespace

bool engineAvailable(TestEngine e, std::string* why) {
    DatabaseTarget t;
    if (e == TestEngine::Sqlite || pgCluster(&t)) return true;
    *why = "no PostgreSQL test cluster (run the tests through scripts/with-pg.sh)";
    return false;
}

void TestDatabase::activate() const {
    if (engine == TestEngine::Postgres) qputenv("TALLVERO_PG_DATABASE", target.database.toUtf8());
}

bool TestDatabase::connect(cache::Factory& f) const {
    activate();
    return f.connect(connectString);
}

std::unique_ptr<Database> TestDatabase::open() const {
    return std::make_unique<Database>(target);
}

std::unique_ptr<Database> TestDatabase::openAs(const Login& login) const {
    return std::make_unique<Database>(target, &login);
}

std::unique_ptr<TestDatabase> makeTestDatabase(TestEngine e, const QString& name,
                                               const Login* owner) {
    auto t = std::make_unique<TestDatabase>();
    t->engine = e;
    if (e == TestEngine::Sqlite) {
        t->dir = std::make_unique<QTemporaryDir>();
        t->target.sqlitePath = t->dir->filePath(name + QStringLiteral(".sqlite"));
        t->connectString = cache::makeConnectString(t->target.sqlitePath, QStringLiteral("1972"));
    } else {
        if (owner) t->owner = *owner;
        pgCluster(&t->target);
        t->target.database = pgDatabaseName(name);
        recreatePgDatabase(t->target, owner ? owner->user : QString());
        t->activate();
        t->connectString =
            cache::makeConnectString(t->target.host, QString::number(t->target.port));
    }
    createSchema(*(t->owner ? t->openAs(*t->owner) : t->open()));
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

QList<QStringList> rows(Database& d, const QString& sql, QStringList* columns) {
    QList<QStringList> out;
    QSqlQuery& q = d.exec(sql);
    const QSqlRecord rec = q.record();
    for (int i = 0; columns && i < rec.count(); ++i)
        *columns << rec.fieldName(i);
    while (q.next()) {
        out << QStringList();
        for (int i = 0; i < rec.count(); ++i)
            out.last() << q.value(i).toString();
    }
    q.finish();
    return out;
}

QStringList column(Database& d, const QString& sql) {
    QStringList out;
    for (const QStringList& r : rows(d, sql))
        out << r.value(0);
    return out;
}

} // namespace testsupport
