#include "Security.h"

#include "../Factory.h"
#include "Schema.h"
#include "Store.h"

#include <QPair>
#include <QSqlQuery>
#include <cstring>
#include <sodium.h>

namespace cache::server {

// --- SQLite: Argon2id -------------------------------------------------------

namespace {

// OWASP's smallest recommended Argon2id cost (19 MiB, two passes): about
// 80 ms a guess on a busy two-core machine, and a login waits for one.
constexpr unsigned long long kOpsLimit = 2;
constexpr size_t kMemLimit = 19u * 1024 * 1024;

void sodium() {
    static const bool ok = sodium_init() >= 0;
    if (!ok) throw CacheError(err::Sql, QStringLiteral("libsodium kann nicht gestartet werden"));
}

// libsodium reads a hash as a buffer of crypto_pwhash_STRBYTES.
bool toHashBuffer(const QString& value, char (&buf)[crypto_pwhash_STRBYTES]) {
    std::memset(buf, 0, sizeof buf);
    const QByteArray b = value.toLatin1();
    if (!value.startsWith(QLatin1String("$argon2id$")) || b.size() >= qsizetype(sizeof buf))
        return false;
    std::memcpy(buf, b.constData(), size_t(b.size()));
    return true;
}

} // namespace

QString hashPassword(const QString& password) {
    sodium();
    QByteArray p = password.toUtf8();
    char out[crypto_pwhash_STRBYTES];
    const int rc = crypto_pwhash_str_alg(out, p.constData(), size_t(p.size()), kOpsLimit, kMemLimit,
                                         crypto_pwhash_ALG_ARGON2ID13);
    sodium_memzero(p.data(), size_t(p.size()));
    if (rc != 0)
        throw CacheError(err::Sql, QStringLiteral("Zu wenig Speicher für den Passwort-Hash"));
    return QString::fromLatin1(out);
}

bool verifyPassword(const QString& hash, const QString& password) {
    sodium();
    char buf[crypto_pwhash_STRBYTES];
    if (!toHashBuffer(hash, buf)) return false;
    QByteArray p = password.toUtf8();
    const bool ok = crypto_pwhash_str_verify(buf, p.constData(), size_t(p.size())) == 0;
    sodium_memzero(p.data(), size_t(p.size()));
    return ok;
}

bool isPasswordHash(const QString& value) {
    sodium();
    char buf[crypto_pwhash_STRBYTES];
    return toHashBuffer(value, buf) &&
           crypto_pwhash_str_needs_rehash(buf, kOpsLimit, kMemLimit) != -1;
}

int convertPlainPasswords(Database& db) {
    if (db.engine() != Engine::Sqlite) return 0;
    struct Row {
        QVariant firma;
        QString code, password;
    };
    QList<Row> plain;
    QSqlQuery& q = db.exec(QStringLiteral("SELECT firma, code, passwort FROM pers_edv"));
    while (q.next())
        if (!isPasswordHash(q.value(2).toString()))
            plain.append({q.value(0), q.value(1).toString(), q.value(2).toString()});
    q.finish();
    if (plain.isEmpty()) return 0;
    // Overwritten text is zeroed in the pages, and the write-ahead log that
    // still holds the old pages is emptied afterwards.
    db.execDirect(QStringLiteral("PRAGMA secure_delete = ON"));
    db.begin();
    try {
        for (const Row& r : plain)
            db.exec(QStringLiteral("UPDATE pers_edv SET passwort = ? WHERE firma = ? AND code = ?"),
                    {hashPassword(r.password), r.firma, r.code})
                .finish();
        db.commit();
    } catch (...) {
        db.rollback();
        db.execDirect(QStringLiteral("PRAGMA secure_delete = OFF"));
        throw;
    }
    db.execDirect(QStringLiteral("PRAGMA secure_delete = OFF"));
    db.execDirect(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    return int(plain.size());
}

// --- PostgreSQL: roles, functions, grants, policies -------------------------

namespace {

// The department rules of restricted users, as the client applies them to
// its lists: own department -> the departments whose figures it may see.
// B0 sees every department beginning with B (written "B*": prefixes are
// one letter) and M7; a department not listed sees all ("").
struct Rule {
    const char* owners;
    const char* allowed;
};
const Rule kRules[] = {
    {"B1", "B1 M7"},       {"B2", "B2"},          {"M1", "M1 MD MG MH"},
    {"M2", "M2 MA MF"},    {"M3 M6", "M3 M6 ME"}, {"M4", "M4 MC"},
    {"M5 M7", "M5 M7 MB"}, {"M8", "M8"},          {"M9", "M9"},
};

QString literal(const QString& s) {
    QString q = s;
    q.replace(QLatin1Char('\''), QStringLiteral("''"));
    return QLatin1Char('\'') + q + QLatin1Char('\'');
}

QString ruleValues(QStringList* owners) {
    QStringList rows;
    for (const Rule& r : kRules)
        for (const QString& own : QString::fromLatin1(r.owners).split(QLatin1Char(' '))) {
            *owners << literal(own);
            for (const QString& a : QString::fromLatin1(r.allowed).split(QLatin1Char(' ')))
                rows << QStringLiteral("(%1, %2)").arg(literal(own), literal(a));
        }
    *owners << literal(QStringLiteral("B0"));
    rows << QStringLiteral("('B0', 'B*')") << QStringLiteral("('B0', 'M7')");
    return rows.join(QStringLiteral(", "));
}

bool hasAbtnr(const QString& table) {
    if (table == QLatin1String("sales_line")) return true;
    for (const QList<SumLevel>* fam : {&plainLevels(), &warehouseLevels()})
        for (const SumLevel& l : *fam)
            if (table == QLatin1String(l.table)) return (l.dims & DimAbt) != 0;
    return false;
}

bool isFigureTable(const QString& table) {
    if (table == QLatin1String("sales_line")) return true;
    for (const QList<SumLevel>* fam : {&plainLevels(), &warehouseLevels()})
        for (const SumLevel& l : *fam)
            if (table == QLatin1String(l.table)) return true;
    return false;
}

// What a personnel role may read of a table, as a policy expression. Each
// subquery is uncorrelated, so the server evaluates the scope once per
// statement and matches rows against a hash of it.
QString readPolicy(const QString& table) {
    if (table == QLatin1String("pers_edv")) return QStringLiteral("code = session_user::text");
    if (table == QLatin1String("pers_abt") || table == QLatin1String("pers_basis"))
        return QStringLiteral("(firma, %1) IN (SELECT e.firma, e.%1 FROM pers_edv e WHERE e.code "
                              "= session_user::text)")
            .arg(table == QLatin1String("pers_abt") ? QStringLiteral("abtnr")
                                                    : QStringLiteral("pnr"));
    if (!isFigureTable(table))
        return QStringLiteral("firma IN (SELECT c FROM tallvero_companies() c)");
    const QString whole =
        QStringLiteral("(firma, '') IN (SELECT s.sc_firma, s.sc_abtnr FROM tallvero_scope() s)");
    if (!hasAbtnr(table))
        return whole; // sums over all departments: whole companies only
    return whole + QStringLiteral(" OR (firma, abtnr) IN (SELECT s.sc_firma, s.sc_abtnr FROM "
                                  "tallvero_scope() s) OR (firma, left(abtnr, 1) || '*') IN "
                                  "(SELECT s.sc_firma, s.sc_abtnr FROM tallvero_scope() s)");
}

// The functions; %SP is the fixed search path of those that run as the
// owner, %SCHEMA the schema of the tables.
QStringList functionDefinitions(Database& db) {
    QStringList owners;
    const QString rules = ruleValues(&owners);
    QStringList sumTables;
    for (const QList<SumLevel>* fam : {&plainLevels(), &warehouseLevels()})
        for (const SumLevel& l : *fam)
            if (l.dims & DimHabt) sumTables << literal(QLatin1String(l.table));
    const QString schema =
        db.scalar(QStringLiteral("SELECT quote_ident(current_schema())")).toString();
    const QString sp = QStringLiteral("SET search_path = pg_catalog, %1, pg_temp").arg(schema);

    QStringList f = {
        // The session user's active login records with their level (plan
        // kept by the session: it runs for every statement of a user).
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_logins() RETURNS TABLE (firma bigint, abtnr "
            "text, habtnr text, stufe integer) LANGUAGE plpgsql STABLE %SP AS $f$ BEGIN "
            "RETURN QUERY SELECT e.firma, e.abtnr, a.habtnr, COALESCE(b.stufe, -1) FROM "
            "pers_edv e LEFT JOIN pers_abt a ON a.firma = e.firma AND a.abtnr = e.abtnr "
            "LEFT JOIN berechtigung b ON b.benutzer = e.code AND b.programm = 'Tallvero' AND "
            "b.teil = 'alles' WHERE e.code = session_user::text AND e.aktiv = 'J'; END $f$"),
        // Companies and departments whose figures the session may read: a
        // department, a one-letter prefix ("B*") or "" for the whole
        // company. Level -1 reads none.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_scope() RETURNS TABLE (sc_firma bigint, "
            "sc_abtnr text) LANGUAGE plpgsql STABLE SECURITY DEFINER %SP ROWS 8 AS $f$ BEGIN "
            "RETURN QUERY WITH l AS (SELECT * FROM tallvero_logins()), r(o, a) AS (VALUES %1) "
            "SELECT l.firma, r.a FROM l JOIN r ON r.o = l.abtnr WHERE l.stufe = 5 "
            "UNION ALL SELECT l.firma, ''::text FROM l WHERE l.stufe = 5 AND l.abtnr NOT IN (%2) "
            "UNION ALL SELECT l.firma, ''::text FROM l WHERE l.stufe NOT IN (5, -1); END $f$")
            .arg(rules, owners.join(QStringLiteral(", "))),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_companies() RETURNS SETOF bigint LANGUAGE "
            "plpgsql STABLE SECURITY DEFINER %SP ROWS 4 AS $f$ BEGIN RETURN QUERY SELECT l.firma "
            "FROM tallvero_logins() l; END $f$"),
        // What the gate may read.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_fiscal_year() RETURNS text LANGUAGE sql STABLE "
            "SECURITY DEFINER %SP AS $f$ SELECT split_part(value, '`', 2) FROM server_info "
            "WHERE key = 'FA0' $f$"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_build_info() RETURNS text LANGUAGE sql STABLE "
            "SECURITY DEFINER %SP AS $f$ SELECT value FROM server_info WHERE key = 'XWGDAT' $f$"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_login_exists(p_firma bigint, p_code text) "
            "RETURNS boolean LANGUAGE sql STABLE SECURITY DEFINER %SP AS $f$ SELECT EXISTS "
            "(SELECT 1 FROM pers_edv WHERE firma = $1 AND code = $2) $f$"),
        // A user asks about themselves; the owner about anyone.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_permission(p_user text, p_program text, p_part "
            "text) RETURNS integer LANGUAGE plpgsql STABLE SECURITY DEFINER %SP AS $f$ "
            "DECLARE v integer; BEGIN "
            "IF p_user IS DISTINCT FROM session_user::text AND NOT pg_has_role(session_user, "
            "current_user, 'MEMBER') THEN RAISE EXCEPTION 'Auskunft nur über die eigene "
            "Berechtigung' USING ERRCODE = '42501'; END IF; "
            "SELECT stufe INTO v FROM berechtigung WHERE benutzer = p_user AND programm = "
            "p_program AND teil = p_part; "
            "IF NOT FOUND AND p_part <> 'alles' THEN SELECT stufe INTO v FROM berechtigung WHERE "
            "benutzer = p_user AND programm = p_program AND teil = 'alles'; END IF; "
            "RETURN COALESCE(v, -1); END $f$"),
        // The total of one main department (no department chosen). A
        // restricted user gets it for their own main department without
        // profit centre, shipping or article type, as the client offers it;
        // anyone else sees zeros, like a table they may not read.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_main_department_sum(tbl text, p_firma bigint, "
            "von integer, bis integer, codes text[]) RETURNS bigint[] LANGUAGE plpgsql STABLE "
            "SECURITY DEFINER %SP AS $f$ "
            "DECLARE dims constant text[] := ARRAY['pcnr', 'habtnr', 'abtnr', 'hgrp', 'ugrp', "
            "'hkgrp', 'hvart', 'vart', 'styp']; w text := ''; r bigint[]; me record; BEGIN "
            "IF tbl IS NULL OR tbl NOT IN (%1) THEN RAISE EXCEPTION 'Unbekannte Summentabelle %' "
            ", tbl USING ERRCODE = '22023'; END IF; "
            "IF COALESCE(array_length(codes, 1), 0) <> 9 OR COALESCE(codes[2], '') = '' OR "
            "COALESCE(codes[3], '') <> '' THEN RAISE EXCEPTION 'Nur die Summe einer ganzen "
            "Hauptabteilung' USING ERRCODE = '22023'; END IF; "
            "IF NOT pg_has_role(session_user, current_user, 'MEMBER') THEN "
            "SELECT * INTO me FROM tallvero_logins() l WHERE l.firma = p_firma; "
            "IF NOT FOUND OR me.stufe = -1 OR (me.stufe = 5 AND (me.habtnr IS DISTINCT FROM "
            "codes[2] OR COALESCE(codes[1], '') <> '' OR COALESCE(codes[8], '') <> '' OR "
            "COALESCE(codes[9], '') <> '')) THEN RETURN ARRAY[0, 0, 0, 0]::bigint[]; END IF; "
            "END IF; "
            "FOR i IN 1..9 LOOP IF COALESCE(codes[i], '') <> '' THEN w := w || format(' AND %I = "
            "$4[%s]', dims[i], i); END IF; END LOOP; "
            "EXECUTE format('SELECT ARRAY[COALESCE(SUM(umsatz), 0), COALESCE(SUM(kosten), 0), "
            "COALESCE(SUM(skonto), 0), COALESCE(SUM(nachlass), 0)]::bigint[] FROM %I WHERE firma "
            "= $1 AND periode BETWEEN $2 AND $3', tbl) || w INTO r USING p_firma, von, bis, "
            "codes; RETURN r; END $f$")
            .arg(sumTables.join(QStringLiteral(", "))),
        // Who may rebuild: the owner, or a login of the company with rights.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_may_rebuild(p_firma bigint) RETURNS boolean "
            "LANGUAGE sql STABLE %SP AS $f$ SELECT pg_has_role(session_user, current_user, "
            "'MEMBER') OR EXISTS (SELECT 1 FROM tallvero_logins() l WHERE l.firma = $1 AND "
            "l.stufe <> -1) $f$"),
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_rebuild_done(p_firma bigint, p_bis integer) "
            "RETURNS text LANGUAGE plpgsql SECURITY DEFINER %SP AS $f$ DECLARE v text; BEGIN "
            "IF NOT tallvero_may_rebuild(p_firma) THEN RAISE EXCEPTION 'Keine Berechtigung für "
            "den Aufbau der Periodensummen von Firma %', p_firma USING ERRCODE = '42501'; END IF; "
            "IF p_bis IS NULL OR p_bis < 1 OR p_bis % 100 NOT BETWEEN 1 AND 12 THEN RAISE "
            "EXCEPTION 'Ungültige Periode %', p_bis USING ERRCODE = '22023'; END IF; "
            "v := p_bis::text || '`' || ((extract(year FROM current_date)::integer - 1900) * "
            "10000 + extract(month FROM current_date)::integer * 100 + extract(day FROM "
            "current_date)::integer)::text; "
            "DELETE FROM server_info WHERE key = 'XWGDAT'; "
            "INSERT INTO server_info (key, value) VALUES ('XWGDAT', v); RETURN v; END $f$"),
        // The administrator's hand on the login roles: creates the role of
        // a code, refuses a role that is not one of ours, lets it log in
        // only while a record of it is active, and sets its password (a
        // SCRAM verifier; '' = none, NULL = unchanged). Another session
        // changing the same role makes PostgreSQL fail the statement:
        // it is tried again.
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_admin_login(p_code text, p_verifier text) "
            "RETURNS void LANGUAGE plpgsql %SP AS $f$ "
            "DECLARE can_login boolean; r record; BEGIN "
            "IF p_code IS NULL OR p_code = '' OR octet_length(p_code) > 63 THEN RAISE EXCEPTION "
            "'Der Personalcode „%“ taugt nicht als PostgreSQL-Rolle (1 bis 63 Bytes)', p_code "
            "USING ERRCODE = '22023'; END IF; "
            "can_login := EXISTS (SELECT 1 FROM pers_edv WHERE code = p_code AND aktiv = 'J'); "
            "FOR attempt IN 1..40 LOOP BEGIN "
            "SELECT a.rolsuper, EXISTS (SELECT 1 FROM pg_auth_members m JOIN pg_roles g ON g.oid "
            "= m.roleid WHERE g.rolname = 'tallvero_user' AND m.member = a.oid) AS ours INTO r "
            "FROM pg_roles a WHERE a.rolname = p_code; "
            "IF NOT FOUND THEN EXECUTE format('CREATE ROLE %I NOLOGIN IN ROLE tallvero_user', "
            "p_code); "
            "ELSIF r.rolsuper OR NOT r.ours THEN RAISE EXCEPTION 'Die Rolle „%“ gibt es schon; "
            "sie gehört nicht zu Tallvero', p_code USING ERRCODE = '42501'; END IF; "
            "EXECUTE format('ALTER ROLE %I %s', p_code, CASE WHEN can_login THEN 'LOGIN' ELSE "
            "'NOLOGIN' END); "
            "IF p_verifier = '' THEN EXECUTE format('ALTER ROLE %I PASSWORD NULL', p_code); "
            "ELSIF p_verifier IS NOT NULL THEN EXECUTE format('ALTER ROLE %I PASSWORD %L', "
            "p_code, p_verifier); END IF; "
            "RETURN; "
            "EXCEPTION WHEN unique_violation OR duplicate_object OR internal_error THEN "
            "IF attempt = 40 THEN RAISE; END IF; PERFORM pg_sleep(0.05); END; END LOOP; END $f$"),
    };
    for (QString& d : f)
        d.replace(QLatin1String("%SP"), sp);
    return f;
}

struct Grant {
    const char* function;
    const char* to; // "u" users, "g" gate and users, "" owner only
};
const Grant kFunctions[] = {
    {"tallvero_logins()", ""},
    {"tallvero_scope()", "u"},
    {"tallvero_companies()", "u"},
    {"tallvero_fiscal_year()", "g"},
    {"tallvero_build_info()", "g"},
    {"tallvero_login_exists(bigint, text)", "g"},
    {"tallvero_permission(text, text, text)", "u"},
    {"tallvero_main_department_sum(text, bigint, integer, integer, text[])", "u"},
    {"tallvero_may_rebuild(bigint)", ""},
    {"tallvero_rebuild(bigint, integer, integer)", "u"},
    {"tallvero_rebuild_done(bigint, integer)", "u"},
    {"tallvero_admin_login(text, text)", ""},
};

} // namespace

const QStringList& readableTables() {
    static const QStringList t = [] {
        QStringList n = {QStringLiteral("firma"),          QStringLiteral("profitcenter"),
                         QStringLiteral("hauptabteilung"), QStringLiteral("abteilung"),
                         QStringLiteral("hauptgruppe"),    QStringLiteral("untergruppe"),
                         QStringLiteral("versandart"),     QStringLiteral("pers_edv"),
                         QStringLiteral("pers_abt"),       QStringLiteral("pers_basis"),
                         QStringLiteral("sales_line")};
        for (const QList<SumLevel>* fam : {&plainLevels(), &warehouseLevels()})
            for (const SumLevel& l : *fam)
                n << QString::fromLatin1(l.table);
        return n;
    }();
    return t;
}

void createSecurity(Database& db) {
    if (db.engine() != Engine::Postgres) return;
    // Inside the schema's transaction: no notices about the policies that
    // are dropped before they are made anew.
    db.execDirect(QStringLiteral("SET LOCAL client_min_messages = warning"));
    // The two cluster-wide roles; a second database on the same cluster
    // (or a parallel run) may be creating them at the same moment.
    for (const QString& role : {kUserRole, kGateRole})
        db.execDirect(QStringLiteral("DO $$ BEGIN IF NOT EXISTS (SELECT 1 FROM pg_roles WHERE "
                                     "rolname = '%1') THEN CREATE ROLE %1 %2; END IF; EXCEPTION "
                                     "WHEN unique_violation OR duplicate_object THEN NULL; END $$")
                          .arg(role, role == kGateRole ? QStringLiteral("LOGIN")
                                                       : QStringLiteral("NOLOGIN")));
    for (const QString& f : functionDefinitions(db))
        db.execDirect(f);
    // Functions are everyone's to call unless revoked; ours are not.
    db.execDirect(
        QStringLiteral("ALTER DEFAULT PRIVILEGES REVOKE EXECUTE ON FUNCTIONS FROM PUBLIC"));
    for (const Grant& g : kFunctions) {
        const QString fn = QLatin1String(g.function);
        db.execDirect(QStringLiteral("REVOKE ALL ON FUNCTION %1 FROM PUBLIC, %2, %3")
                          .arg(fn, kUserRole, kGateRole));
        if (qstrcmp(g.to, "") != 0)
            db.execDirect(
                QStringLiteral("GRANT EXECUTE ON FUNCTION %1 TO %2%3")
                    .arg(fn, kUserRole,
                         qstrcmp(g.to, "g") == 0 ? QStringLiteral(", ") + kGateRole : QString()));
    }
    // Every table: no rights but the listed ones, and row-level security,
    // so that a table without a policy shows a role nothing even if it
    // were granted by mistake.
    for (const QString& t : schemaTables()) {
        db.execDirect(
            QStringLiteral("REVOKE ALL ON %1 FROM PUBLIC, %2, %3").arg(t, kUserRole, kGateRole));
        db.execDirect(QStringLiteral("ALTER TABLE %1 ENABLE ROW LEVEL SECURITY").arg(t));
        db.execDirect(QStringLiteral("DROP POLICY IF EXISTS tallvero_read ON %1").arg(t));
    }
    for (const QString& t : readableTables()) {
        db.execDirect(QStringLiteral("GRANT SELECT ON %1 TO %2").arg(t, kUserRole));
        db.execDirect(
            QStringLiteral("CREATE POLICY tallvero_read ON %1 FOR SELECT TO %2 USING (%3)")
                .arg(t, kUserRole, readPolicy(t)));
    }
    // Only our roles connect to the database (when the owner runs this).
    db.execDirect(QStringLiteral(
        "DO $$ BEGIN IF pg_has_role(current_user, (SELECT datdba FROM pg_database WHERE datname = "
        "current_database()), 'MEMBER') THEN EXECUTE format('REVOKE CONNECT, TEMPORARY ON "
        "DATABASE %I FROM PUBLIC', current_database()); EXECUTE format('GRANT CONNECT ON "
        "DATABASE %I TO tallvero_user, tallvero_gate', current_database()); END IF; END $$"));

    // An older database kept the passwords in plain text: they become the
    // passwords of the roles, and the column goes.
    const bool plain =
        db.scalar(QStringLiteral("SELECT 1 FROM information_schema.columns WHERE table_schema = "
                                 "current_schema() AND table_name = 'pers_edv' AND column_name = "
                                 "'passwort'"))
            .isValid();
    if (plain) {
        QList<QPair<QString, QString>> logins;
        QSqlQuery& q =
            db.exec(QStringLiteral("SELECT code, passwort FROM pers_edv ORDER BY firma, code"));
        while (q.next())
            logins.append({q.value(0).toString(), q.value(1).toString()});
        q.finish();
        for (const auto& [code, password] : logins)
            storeLoginPassword(db, 0, code, password);
        db.execDirect(QStringLiteral("ALTER TABLE pers_edv DROP COLUMN passwort"));
    }
    QStringList codes;
    QSqlQuery& q = db.exec(QStringLiteral("SELECT DISTINCT code FROM pers_edv"));
    while (q.next())
        codes << q.value(0).toString();
    q.finish();
    for (const QString& c : codes)
        syncLoginRole(db, c);
}

void storeLoginPassword(Database& db, qint64 firma, const QString& code, const QString& password) {
    if (db.engine() == Engine::Sqlite) {
        db.exec(QStringLiteral("UPDATE pers_edv SET passwort = ? WHERE firma = ? AND code = ?"),
                {hashPassword(password), firma, code})
            .finish();
        return;
    }
    const QString verifier = password.isEmpty() ? QString(QLatin1String("")) // no password
                                                : db.scramVerifier(code, password);
    db.exec(QStringLiteral("SELECT tallvero_admin_login(?, ?)"), {code, verifier}).finish();
}

void syncLoginRole(Database& db, const QString& code) {
    if (db.engine() != Engine::Postgres) return;
    db.exec(QStringLiteral("SELECT tallvero_admin_login(?, NULL)"), {code}).finish();
}

} // namespace cache::server
