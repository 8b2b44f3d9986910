#include "ServerFactory.h"

#include "../ConnectString.h"
#include "DemoData.h"
#include "Schema.h"
#include "Security.h"
#include "Text.h"
#include "Xecute.h"

#include <QFileInfo>

namespace cache::server {

struct ServerFactory::Connection {
    std::unique_ptr<Database> db;
    std::unique_ptr<Store> store;
    Session session;
    ServerOptions* options = nullptr;
};

namespace {

using ConnPtr = std::shared_ptr<ServerFactory::Connection>;
using WeakConn = std::weak_ptr<ServerFactory::Connection>;

bool same(const QString& a, const char* b) {
    return a.compare(QLatin1String(b), Qt::CaseInsensitive) == 0;
}

ConnPtr lock(const WeakConn& w, bool closed) {
    if (closed)
        throw CacheError(err::ObjectClosed, QStringLiteral("Objekt ist bereits geschlossen"));
    ConnPtr c = w.lock();
    if (!c || !c->db || !c->db->isOpen())
        throw CacheError(err::NotConnected, QStringLiteral("Keine Verbindung zum Server"));
    return c;
}

void requireArgs(const QString& what, const QStringList& args, int n) {
    if (args.size() != n)
        throw CacheError(err::WrongArguments, QStringLiteral("%1 erwartet %2 Argumente, erhalten %3")
                                                  .arg(what)
                                                  .arg(n)
                                                  .arg(args.size()));
}

// --- class handles ---------------------------------------------------------

class ClassHandle : public CacheObject {
public:
    ClassHandle(QString name, WeakConn c) : name_(std::move(name)), conn_(std::move(c)) {}

    QString property(const QString& name) override {
        lock(conn_, closed_);
        throw CacheError(err::PropertyDoesNotExist,
                         QStringLiteral("Eigenschaft %1 der Klasse %2 existiert nicht")
                             .arg(name.left(80), name_));
    }

    QString call(const QString& method, const QStringList& args) override {
        ConnPtr c = lock(conn_, closed_);
        Store& store = *c->store;
        if (same(name_, "ZK.Windows") && same(method, "Xecute")) {
            requireArgs(QStringLiteral("Xecute"), args, 1);
            return xecute(args.at(0), c->session, store);
        }
        if (same(name_, "UserVerwaltung.Programm") && same(method, "Berechtigung")) {
            requireArgs(QStringLiteral("Berechtigung"), args, 3);
            return QString::number(store.permission(args.at(0), args.at(1), args.at(2)));
        }
        if (same(name_, "ZKUmsatz.Daten") && same(method, "Generieren")) {
            requireArgs(QStringLiteral("Generieren"), args, 3);
            const qint64 firma = parseCompany(args.at(0));
            const int from = parsePeriod(args.at(1).trimmed());
            const int to = parsePeriod(args.at(2).trimmed());
            if (firma < 0)
                throw CacheError(err::GenerateFailed,
                                 QStringLiteral("Ungültige Firma: %1").arg(args.at(0).left(40)));
            if (from < 0 || to < 0)
                throw CacheError(err::GenerateFailed,
                                 QStringLiteral("Ungültige Periode: %1 bis %2")
                                     .arg(args.at(1).left(40), args.at(2).left(40)));
            if (from > to)
                throw CacheError(err::GenerateFailed,
                                 QStringLiteral("Startperiode %1 liegt nach Endperiode %2")
                                     .arg(from)
                                     .arg(to));
            int fault = c->options->generateFaultAfter;
            if (fault < 0) {
                bool ok = false;
                const int env = qEnvironmentVariableIntValue("TALLVERO_FAULT_GENERATE_AFTER", &ok);
                if (ok)
                    fault = env;
            }
            store.generate(firma, from, to, c->options->generateProgress, fault);
            return QStringLiteral("1");
        }
        throw CacheError(err::MethodDoesNotExist,
                         QStringLiteral("Methode %1 der Klasse %2 existiert nicht")
                             .arg(method.left(80), name_));
    }

    void SYS_Close() override { closed_ = true; }

private:
    QString name_;
    WeakConn conn_;
    bool closed_ = false;
};

// --- stored objects ---------------------------------------------------------

class StoredObject : public CacheObject {
public:
    StoredObject(QString cls, QHash<QString, QString> values, QString odbcMethod,
                 QString odbcProperty, WeakConn c, QSet<QString> sevenBit)
        : cls_(std::move(cls)), values_(std::move(values)), odbcMethod_(std::move(odbcMethod)),
          odbcProperty_(std::move(odbcProperty)), conn_(std::move(c)),
          sevenBit_(std::move(sevenBit)) {}

    QString property(const QString& name) override {
        if (closed_)
            throw CacheError(err::ObjectClosed, QStringLiteral("Objekt ist bereits geschlossen"));
        const QString key = name.toLower();
        const auto it = values_.constFind(key);
        if (it == values_.constEnd())
            throw CacheError(err::PropertyDoesNotExist,
                             QStringLiteral("Eigenschaft %1 der Klasse %2 existiert nicht")
                                 .arg(name.left(80), cls_));
        return sevenBit_.contains(key) ? toSevenBit(*it) : *it;
    }

    QString call(const QString& method, const QStringList& args) override {
        if (closed_)
            throw CacheError(err::ObjectClosed, QStringLiteral("Objekt ist bereits geschlossen"));
        if (method.compare(odbcMethod_, Qt::CaseInsensitive) == 0) {
            if (args.size() > 1)
                requireArgs(method, args, 1);
            // Like the server's LogicalToODBC: converts the value passed, or
            // the object's own value when none is passed.
            const QString logical = args.isEmpty() ? property(odbcProperty_) : args.at(0);
            return fromSevenBit(logical).trimmed();
        }
        throw CacheError(err::MethodDoesNotExist,
                         QStringLiteral("Methode %1 der Klasse %2 existiert nicht")
                             .arg(method.left(80), cls_));
    }

    void SYS_Close() override { closed_ = true; }

private:
    QString cls_;
    QHash<QString, QString> values_;
    QString odbcMethod_;
    QString odbcProperty_;
    WeakConn conn_;
    QSet<QString> sevenBit_;
    bool closed_ = false;
};

// The login record ZK.ParPersEdv. Its password is checked by the server
// (PasswortPruefen) and never handed out: SQLite verifies the record's
// Argon2id hash; PostgreSQL logs in as the code's own role, and on success
// the connection goes on as that role. The other properties are read when
// first asked for, on PostgreSQL by then as the user who logged in.
class LoginRecord : public CacheObject {
public:
    LoginRecord(qint64 firma, QString code, WeakConn c)
        : firma_(firma), code_(std::move(code)), conn_(std::move(c)) {}

    QString property(const QString& name) override {
        if (closed_)
            throw CacheError(err::ObjectClosed, QStringLiteral("Objekt ist bereits geschlossen"));
        const QString key = name.toLower();
        const QHash<QString, QString>& v = values();
        const auto it = v.constFind(key);
        if (it == v.constEnd())
            throw CacheError(err::PropertyDoesNotExist,
                             QStringLiteral("Eigenschaft %1 der Klasse ZK.ParPersEdv existiert "
                                            "nicht")
                                 .arg(name.left(80)));
        return key == QLatin1String("pname") ? toSevenBit(*it) : *it;
    }

    QString call(const QString& method, const QStringList& args) override {
        if (closed_)
            throw CacheError(err::ObjectClosed, QStringLiteral("Objekt ist bereits geschlossen"));
        if (same(method, "PasswortPruefen")) {
            requireArgs(method, args, 1);
            return check(args.at(0)) ? QStringLiteral("1") : QStringLiteral("0");
        }
        if (same(method, "PNAMELogicalToODBC")) {
            if (args.size() > 1) requireArgs(method, args, 1);
            const QString logical = args.isEmpty() ? property(QStringLiteral("PNAME")) : args.at(0);
            return fromSevenBit(logical).trimmed();
        }
        throw CacheError(err::MethodDoesNotExist,
                         QStringLiteral("Methode %1 der Klasse ZK.ParPersEdv existiert nicht")
                             .arg(method.left(80)));
    }

    void SYS_Close() override { closed_ = true; }

private:
    const QHash<QString, QString>& values() {
        if (!values_) {
            ConnPtr c = lock(conn_, false);
            values_ = c->store->persEdv(firma_, code_);
            if (!values_)
                throw CacheError(err::ObjectNotFound,
                                 QStringLiteral("Objekt ZK.ParPersEdv mit ID %1||%2 nicht gefunden")
                                     .arg(firma_)
                                     .arg(code_.left(80)));
        }
        return *values_;
    }

    bool check(const QString& password) {
        ConnPtr c = lock(conn_, false);
        if (c->db->engine() == Engine::Sqlite)
            return verifyPassword(c->store->loginPasswordHash(firma_, code_), password);
        // Without a password libpq would look for one in its own files.
        if (password.isEmpty()) return false;
        std::unique_ptr<Database> db;
        try {
            const Login login{code_, password};
            db = std::make_unique<Database>(c->db->target(), &login);
        } catch (const CacheError& e) {
            const QString why = e.description();
            if (why.contains(QLatin1String("authentication failed")) ||
                why.contains(QLatin1String("not permitted to log in")) ||
                why.contains(QLatin1String("pg_hba.conf")))
                return false;
            // In another language of the server: a refusal too, as long as
            // the server still answers the connection we have.
            try {
                c->db->scalar(QStringLiteral("SELECT 1"));
            } catch (const CacheError&) {
                throw e;
            }
            return false;
        }
        c->store = std::make_unique<Store>(*db);
        c->db = std::move(db);
        values_.reset();
        return true;
    }

    qint64 firma_;
    QString code_;
    WeakConn conn_;
    std::optional<QHash<QString, QString>> values_;
    bool closed_ = false;
};

// --- class queries ------------------------------------------------------------

enum class QueryKind {
    Profitcenter,
    AbtInHAbt,
    HAbtInPC,
    AbtInPC,
    Versandarten,
    PeriodenSumme,
    PeriodenSkonto,
    PeriodenSummeAufteilung,
    WhPeriodenSumme,
    WhPeriodenSkonto,
};

class ResultSet : public CacheQuery {
public:
    ResultSet(QueryKind k, QString name, WeakConn c)
        : kind_(k), name_(std::move(name)), conn_(std::move(c)) {}

    void execute(const QStringList& args) override {
        ConnPtr c = lock(conn_, closed_);
        rows_.clear();
        row_ = -1;
        executed_ = false;
        Store& s = *c->store;
        auto names = [&](const QList<CodeName>& list) {
            for (const CodeName& r : list)
                rows_.append({r.code, toSevenBit(r.name)});
        };
        auto company = [&](const QString& t) {
            const qint64 f = parseCompany(t);
            return f < 0 ? qint64(-1) : f;  // -1 matches no company
        };
        switch (kind_) {
        case QueryKind::Profitcenter: {
            requireArgs(name_, args, 0);
            // Like the routines, the list belongs to the session's company.
            const auto it = c->session.vars.constFind(QStringLiteral("FIRMA"));
            if (it == c->session.vars.constEnd())
                throw CacheError(err::Undefined, QStringLiteral("<UNDEFINED> FIRMA"));
            names(s.profitCentres(company(*it)));
            break;
        }
        case QueryKind::AbtInHAbt:
            requireArgs(name_, args, 2);
            names(s.departmentsOfMainDepartment(company(args[0]), args[1]));
            break;
        case QueryKind::HAbtInPC:
            requireArgs(name_, args, 2);
            names(s.mainDepartmentsOfProfitCentre(company(args[0]), args[1]));
            break;
        case QueryKind::AbtInPC:
            requireArgs(name_, args, 2);
            names(s.departmentsOfProfitCentre(company(args[0]), args[1]));
            break;
        case QueryKind::Versandarten:
            requireArgs(name_, args, 2);
            names(s.shippingTypes(company(args[0]), args[1]));
            break;
        case QueryKind::PeriodenSumme:
        case QueryKind::PeriodenSkonto: {
            // company, period, hgrp, ugrp, pc, habt, abt, hkgrp, hvart
            requireArgs(name_, args, 9);
            Selection sel;
            sel[3] = args[2];
            sel[4] = args[3];
            sel[0] = args[4];
            sel[1] = args[5];
            sel[2] = args[6];
            sel[5] = args[7];
            sel[6] = args[8];
            const int p = parsePeriod(args[1]);
            const Sums sum = s.periodSum(company(args[0]), p, p, sel);
            if (kind_ == QueryKind::PeriodenSumme)
                rows_.append({centsToText(sum.umsatz), centsToText(sum.umsatz - sum.kosten)});
            else
                rows_.append({centsToText(sum.skonto), centsToText(sum.nachlass)});
            break;
        }
        case QueryKind::PeriodenSummeAufteilung: {
            // company, from, to, hgrp, ugrp, pc, habt, abt, hkgrp, hvart
            requireArgs(name_, args, 10);
            Selection sel;
            sel[3] = args[3];
            sel[4] = args[4];
            sel[0] = args[5];
            sel[1] = args[6];
            sel[2] = args[7];
            sel[5] = args[8];
            sel[6] = args[9];
            const int from = parsePeriod(args[1]);
            const int to = parsePeriod(args[2]);
            Sums sum;
            if (from >= 0 && to >= 0)
                sum = s.periodSum(company(args[0]), from, to, sel);
            rows_.append({centsToText(sum.umsatz), centsToText(sum.umsatz - sum.kosten)});
            break;
        }
        case QueryKind::WhPeriodenSumme:
        case QueryKind::WhPeriodenSkonto: {
            requireArgs(name_, args, 3);
            const Selection sel = detailKey(args[2]);
            const SplitSums t = s.periodSumByShipping(company(args[0]), parsePeriod(args[1]), sel);
            if (kind_ == QueryKind::WhPeriodenSumme)
                rows_.append({centsToText(t.lager.umsatz), centsToText(t.strecke.umsatz),
                              centsToText(t.lager.kosten), centsToText(t.strecke.kosten)});
            else
                rows_.append({centsToText(t.lager.skonto), centsToText(t.strecke.skonto),
                              centsToText(t.lager.skonto - t.lager.nachlass),
                              centsToText(t.strecke.skonto - t.strecke.nachlass)});
            break;
        }
        }
        executed_ = true;
    }

    bool next() override {
        if (closed_)
            throw CacheError(err::ObjectClosed, QStringLiteral("Objekt ist bereits geschlossen"));
        if (!executed_)
            throw CacheError(err::NotExecuted,
                             QStringLiteral("Abfrage %1 wurde nicht ausgeführt").arg(name_));
        if (row_ < rows_.size())
            ++row_;
        return row_ < rows_.size();
    }

    QString column(int n) override {
        if (closed_)
            throw CacheError(err::ObjectClosed, QStringLiteral("Objekt ist bereits geschlossen"));
        if (row_ < 0 || row_ >= rows_.size() || n < 1 || n > rows_[row_].size())
            return {};
        return rows_[row_][n - 1];
    }

    int columnCount() const override {
        switch (kind_) {
        case QueryKind::WhPeriodenSumme:
        case QueryKind::WhPeriodenSkonto:
            return 4;
        default:
            return 2;
        }
    }

    void SYS_Close() override {
        closed_ = true;
        rows_.clear();
    }

    // pc`habt`abt`hgrp`ugrp`styp`hvart`vart`hkgrp, trailing fields dropped.
    static Selection detailKey(const QString& key) {
        Selection sel;
        if (key.isEmpty())
            return sel;
        const QStringList f = key.split(QLatin1Char('`'));
        if (f.size() > 9)
            throw CacheError(err::WrongArguments,
                             QStringLiteral("Schlüssel mit %1 Feldern, höchstens 9 erlaubt")
                                 .arg(f.size()));
        static const int dimOfField[9] = {0, 1, 2, 3, 4, 8, 6, 7, 5};
        for (int i = 0; i < f.size(); ++i)
            sel[dimOfField[i]] = f[i];
        return sel;
    }

private:
    QueryKind kind_;
    QString name_;
    WeakConn conn_;
    QList<QStringList> rows_;
    int row_ = -1;
    bool executed_ = false;
    bool closed_ = false;
};

} // namespace

ServerFactory::ServerFactory(ServerOptions options) : options_(std::move(options)) {}

ServerFactory::~ServerFactory() { disconnect(); }

void ServerFactory::setLogin(const QString& personalcode, const QString& password) {
    if (personalcode.isEmpty())
        login_.reset();
    else
        login_ = Login{personalcode, password};
}

bool ServerFactory::connect(const QString& connectString) {
    disconnect();
    lastError_.clear();
    const std::optional<Login> login = std::exchange(login_, std::nullopt);
    const auto target = parseConnectString(connectString);
    if (!target) {
        lastError_ = QStringLiteral("Ungültige Verbindungszeichenfolge");
        return false;
    }
    if (target->nameSpace.compare(QStringLiteral("ZORVEK"), Qt::CaseInsensitive) != 0) {
        lastError_ = QStringLiteral("Namespace %1 existiert nicht").arg(target->nameSpace);
        return false;
    }
    const DatabaseTarget dt = targetFor(*target);
    try {
        const bool fresh = dt.engine == Engine::Sqlite && !QFileInfo::exists(dt.sqlitePath);
        if (fresh && !dt.embedded) {
            lastError_ = QStringLiteral("Datenbankdatei %1 existiert nicht").arg(dt.sqlitePath);
            return false;
        }
        auto c = std::make_shared<Connection>();
        c->db = std::make_unique<Database>(dt, login && dt.engine == Engine::Postgres ? &*login
                                                                                      : nullptr);
        c->store = std::make_unique<Store>(*c->db);
        c->options = &options_;
        if (!hasSchema(*c->db)) {
            if (!dt.embedded) {
                lastError_ = QStringLiteral("Datenbank %1 hat kein Schema (tallvero-db init)")
                                 .arg(describe(dt));
                return false;
            }
            // First start of the embedded server: a ready demo business.
            createSchema(*c->db);
            DemoOptions demo;
            generateDemo(*c->store, demo, options_.demoProgress);
        } else {
            upgradeSchema(*c->db);
        }
        conn_ = std::move(c);
        return true;
    } catch (const CacheError& e) {
        lastError_ = e.description();
        return false;
    }
}

bool ServerFactory::isConnected() const { return conn_ && conn_->db && conn_->db->isOpen(); }

void ServerFactory::disconnect() { conn_.reset(); }

std::shared_ptr<ServerFactory::Connection> ServerFactory::require() const {
    if (!isConnected())
        throw CacheError(err::NotConnected, QStringLiteral("Keine Verbindung zum Server"));
    return conn_;
}

std::unique_ptr<CacheObject> ServerFactory::classHandle(const QString& className) {
    ConnPtr c = require();
    for (const char* known : {"ZK.Windows", "UserVerwaltung.Programm", "ZKUmsatz.Daten",
                              "ZKUmsatz.DatWH", "ZK.ParPersEdv", "ZK.ParPersAbt", "ZK.PersBasis"})
        if (same(className, known))
            return std::make_unique<ClassHandle>(QString::fromLatin1(known), c);
    throw CacheError(err::ClassDoesNotExist,
                     QStringLiteral("Klasse %1 existiert nicht").arg(className.left(80)));
}

std::unique_ptr<CacheObject> ServerFactory::open(const QString& className, const QString& id) {
    ConnPtr c = require();
    const int sep = id.indexOf(QStringLiteral("||"));
    const qint64 firma = sep < 0 ? -1 : parseCompany(id.left(sep));
    const QString key = sep < 0 ? QString() : id.mid(sep + 2);
    auto notFound = [&]() -> CacheError {
        return CacheError(err::ObjectNotFound, QStringLiteral("Objekt %1 mit ID %2 nicht gefunden")
                                                   .arg(className.left(80), id.left(80)));
    };
    if (same(className, "ZK.ParPersEdv")) {
        if (firma < 0 || !c->store->loginExists(firma, key)) throw notFound();
        return std::make_unique<LoginRecord>(firma, key, c);
    }
    if (same(className, "ZK.ParPersAbt")) {
        const auto r = firma < 0 ? std::nullopt : c->store->persAbt(firma, key);
        if (!r)
            throw notFound();
        return std::make_unique<StoredObject>(QStringLiteral("ZK.ParPersAbt"), *r,
                                              QStringLiteral("ABTBEZLogicalToODBC"),
                                              QStringLiteral("abtbez"), c,
                                              QSet<QString>{QStringLiteral("abtbez")});
    }
    if (same(className, "ZK.PersBasis")) {
        const auto r = firma < 0 ? std::nullopt : c->store->persBasis(firma, key);
        if (!r)
            throw notFound();
        return std::make_unique<StoredObject>(QStringLiteral("ZK.PersBasis"), *r,
                                              QStringLiteral("EMailLogicalToODBC"),
                                              QStringLiteral("EMAIL"), c, QSet<QString>{});
    }
    throw CacheError(err::ClassDoesNotExist,
                     QStringLiteral("Klasse %1 hat keine gespeicherten Objekte").arg(className.left(80)));
}

std::unique_ptr<CacheQuery> ServerFactory::query(const QString& className, const QString& queryName) {
    ConnPtr c = require();
    struct Entry {
        const char* cls;
        const char* name;
        QueryKind kind;
    };
    static const Entry entries[] = {
        {"ZKUmsatz.Daten", "Profitcenter", QueryKind::Profitcenter},
        {"ZKUmsatz.Daten", "AbtInHAbt", QueryKind::AbtInHAbt},
        {"ZKUmsatz.Daten", "HAbtInPC", QueryKind::HAbtInPC},
        {"ZKUmsatz.Daten", "AbtInPC", QueryKind::AbtInPC},
        {"ZKUmsatz.Daten", "Versandarten", QueryKind::Versandarten},
        {"ZKUmsatz.Daten", "PeriodenSumme", QueryKind::PeriodenSumme},
        {"ZKUmsatz.Daten", "PeriodenSkonto", QueryKind::PeriodenSkonto},
        {"ZKUmsatz.Daten", "PeriodenSummeAufteilung", QueryKind::PeriodenSummeAufteilung},
        {"ZKUmsatz.DatWH", "PeriodenSumme", QueryKind::WhPeriodenSumme},
        {"ZKUmsatz.DatWH", "PeriodenSkonto", QueryKind::WhPeriodenSkonto},
    };
    bool classKnown = false;
    for (const Entry& e : entries) {
        if (!same(className, e.cls))
            continue;
        classKnown = true;
        if (same(queryName, e.name))
            return std::make_unique<ResultSet>(e.kind, QString::fromLatin1(e.name), c);
    }
    if (!classKnown)
        throw CacheError(err::ClassDoesNotExist,
                         QStringLiteral("Klasse %1 existiert nicht").arg(className.left(80)));
    throw CacheError(err::QueryDoesNotExist, QStringLiteral("Abfrage %1 der Klasse %2 existiert nicht")
                                                 .arg(queryName.left(80), className.left(80)));
}

} // namespace cache::server
