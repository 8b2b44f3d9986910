#include "Schema.h"

#include "../Factory.h"
#include "Security.h"

#include <QSqlRecord>
#include <algorithm>
#include <bit>

namespace cache::server {

namespace {
const char* const kDimColumns[kDimCount] = {"pcnr",  "habtnr", "abtnr", "hgrp", "ugrp",
                                            "hkgrp", "hvart",  "vart",  "styp"};
constexpr DimSet kOrg = DimPc | DimHabt | DimAbt;
constexpr DimSet kProd = DimHgrp | DimUgrp;
constexpr DimSet kPlainTop = DimHkgrp | DimHvart;
constexpr DimSet kWhTop = DimHkgrp | DimHvart | DimVart | DimStyp;

} // namespace

const QStringList& schemaTables() {
    static const QStringList names = [] {
        QStringList n = {QStringLiteral("server_info"),  QStringLiteral("firma"),
                         QStringLiteral("profitcenter"), QStringLiteral("hauptabteilung"),
                         QStringLiteral("abteilung"),    QStringLiteral("hauptgruppe"),
                         QStringLiteral("untergruppe"),  QStringLiteral("versandart"),
                         QStringLiteral("pers_edv"),     QStringLiteral("pers_abt"),
                         QStringLiteral("pers_basis"),   QStringLiteral("berechtigung"),
                         QStringLiteral("sales_line"),   QStringLiteral("sales_dim"),
                         QStringLiteral("import_batch")};
        for (const SumLevel& l : plainLevels())
            n << QString::fromLatin1(l.table);
        for (const SumLevel& l : warehouseLevels())
            n << QString::fromLatin1(l.table);
        return n;
    }();
    return names;
}

namespace {
const char* const kSumIndexColumns[] = {"abtnr", "hgrp", "ugrp"};

void setSchemaVersion(Database& db) {
    db.exec(QStringLiteral("DELETE FROM server_info WHERE key = ?"), {QStringLiteral("schema")});
    db.exec(QStringLiteral("INSERT INTO server_info (key, value) VALUES (?, ?)"),
            {QStringLiteral("schema"), QString::number(kSchemaVersion)});
}

// Single restrictions that are not a prefix of the key. On SQLite the full
// levels are read fast enough without them (well under a millisecond on ten
// million lines), and every index costs the rebuild dearly. PostgreSQL
// keeps them; the wide table only for the department.
void createSumIndexes(Database& db, const SumLevel& l) {
    if (db.engine() == Engine::Sqlite) return;
    const bool wide = QLatin1String(l.table) == QLatin1String("wsum_full");
    for (const char* c : kSumIndexColumns) {
        if (wide && qstrcmp(c, "abtnr") != 0) continue;
        db.execDirect(QStringLiteral("CREATE INDEX IF NOT EXISTS %1_%2 ON %1 (firma, periode, %2)")
                          .arg(QLatin1String(l.table), QLatin1String(c)));
    }
}
} // namespace

const char* dimColumn(int i) {
    return kDimColumns[i];
}

QStringList dimColumns(DimSet dims) {
    QStringList out;
    for (int i = 0; i < kDimCount; ++i)
        if (dims & (1u << i)) out << QString::fromLatin1(kDimColumns[i]);
    return out;
}

const QList<SumLevel>& plainLevels() {
    static const QList<SumLevel> l = {{"psum_top", kPlainTop},
                                      {"psum_org", kOrg | kPlainTop},
                                      {"psum_prod", kProd | kPlainTop},
                                      {"psum_full", kOrg | kProd | kPlainTop}};
    return l;
}

const QList<SumLevel>& warehouseLevels() {
    static const QList<SumLevel> l = {{"wsum_top", kWhTop},
                                      {"wsum_org", kOrg | kWhTop},
                                      {"wsum_prod", kProd | kWhTop},
                                      {"wsum_full", kOrg | kProd | kWhTop}};
    return l;
}

const SumLevel& pickLevel(const QList<SumLevel>& family, DimSet restricted) {
    for (const SumLevel& l : family)
        if ((l.dims & restricted) == restricted) return l;
    return family.last();
}

bool hasSchema(Database& db) {
    return db.handle().tables().contains(QStringLiteral("sales_line"));
}

void createSchema(Database& db) {
    // Money is kept in cents as whole numbers, so sums are exact.
    static const char* const ddl[] = {
        "CREATE TABLE IF NOT EXISTS server_info (key TEXT PRIMARY KEY, value TEXT NOT NULL)",
        "CREATE TABLE IF NOT EXISTS firma (firma BIGINT PRIMARY KEY, name TEXT NOT NULL)",
        "CREATE TABLE IF NOT EXISTS profitcenter (firma BIGINT NOT NULL, pcnr TEXT NOT NULL, "
        "name TEXT NOT NULL, PRIMARY KEY (firma, pcnr))",
        "CREATE TABLE IF NOT EXISTS hauptabteilung (firma BIGINT NOT NULL, habtnr TEXT NOT NULL, "
        "name TEXT NOT NULL, PRIMARY KEY (firma, habtnr))",
        "CREATE TABLE IF NOT EXISTS abteilung (firma BIGINT NOT NULL, abtnr TEXT NOT NULL, "
        "name TEXT NOT NULL, habtnr TEXT NOT NULL, pcnr TEXT NOT NULL, "
        "PRIMARY KEY (firma, abtnr))",
        "CREATE TABLE IF NOT EXISTS hauptgruppe (firma BIGINT NOT NULL, hgrp TEXT NOT NULL, "
        "name TEXT NOT NULL, PRIMARY KEY (firma, hgrp))",
        "CREATE TABLE IF NOT EXISTS untergruppe (firma BIGINT NOT NULL, hgrp TEXT NOT NULL, "
        "ugrp TEXT NOT NULL, name TEXT NOT NULL, PRIMARY KEY (firma, hgrp, ugrp))",
        "CREATE TABLE IF NOT EXISTS versandart (firma BIGINT NOT NULL, vart TEXT NOT NULL, "
        "name TEXT NOT NULL, hvart TEXT NOT NULL, PRIMARY KEY (firma, vart))",
        "CREATE TABLE IF NOT EXISTS pers_abt (firma BIGINT NOT NULL, abtnr TEXT NOT NULL, "
        "abtbez TEXT NOT NULL, habtnr TEXT NOT NULL, PRIMARY KEY (firma, abtnr))",
        "CREATE TABLE IF NOT EXISTS pers_basis (firma BIGINT NOT NULL, pnr TEXT NOT NULL, "
        "fax TEXT NOT NULL, email TEXT NOT NULL, PRIMARY KEY (firma, pnr))",
        "CREATE TABLE IF NOT EXISTS berechtigung (benutzer TEXT NOT NULL, programm TEXT NOT NULL, "
        "teil TEXT NOT NULL, stufe INTEGER NOT NULL, PRIMARY KEY (benutzer, programm, teil))",
        // Every distinct combination of a line's nine codes, numbered, so the
        // rebuild groups by one integer instead of nine texts.
        "CREATE TABLE IF NOT EXISTS sales_dim (dimid INTEGER PRIMARY KEY, firma BIGINT NOT NULL, "
        "pcnr TEXT NOT NULL, habtnr TEXT NOT NULL, abtnr TEXT NOT NULL, hgrp TEXT NOT NULL, "
        "ugrp TEXT NOT NULL, hkgrp TEXT NOT NULL, hvart TEXT NOT NULL, vart TEXT NOT NULL, "
        "styp TEXT NOT NULL, UNIQUE (firma, pcnr, habtnr, abtnr, hgrp, ugrp, hkgrp, hvart, vart, "
        "styp))",
        "CREATE TABLE IF NOT EXISTS sales_line (datum INTEGER NOT NULL, periode INTEGER NOT NULL, "
        "firma BIGINT NOT NULL, pcnr TEXT NOT NULL, habtnr TEXT NOT NULL, abtnr TEXT NOT NULL, "
        "hgrp TEXT NOT NULL, ugrp TEXT NOT NULL, hkgrp TEXT NOT NULL, vart TEXT NOT NULL, "
        "hvart TEXT NOT NULL, styp TEXT NOT NULL, umsatz BIGINT NOT NULL, kosten BIGINT NOT NULL, "
        "skonto BIGINT NOT NULL, nachlass BIGINT NOT NULL, dimid BIGINT NOT NULL, "
        "batch BIGINT NOT NULL DEFAULT 0)",
    };
    db.begin();
    try {
        for (const char* s : ddl)
            db.execDirect(QString::fromLatin1(s));
        // The login record: on SQLite with the password's hash, on
        // PostgreSQL without (the role keeps the password).
        db.execDirect(QStringLiteral("CREATE TABLE IF NOT EXISTS pers_edv (firma BIGINT NOT NULL, "
                                     "code TEXT NOT NULL, %1aktiv TEXT NOT NULL, pname TEXT NOT "
                                     "NULL, pnr TEXT NOT NULL, abtnr TEXT NOT NULL, dw TEXT NOT "
                                     "NULL, bergrp TEXT NOT NULL, PRIMARY KEY (firma, code))")
                          .arg(db.engine() == Engine::Sqlite ? QStringLiteral("passwort TEXT NOT "
                                                                              "NULL, ")
                                                             : QString()));
        createSalesIndex(db);
        auto sumTable = [&](const SumLevel& l, bool full) {
            const QStringList cols = dimColumns(l.dims);
            QString sql = QStringLiteral("CREATE TABLE IF NOT EXISTS %1 (firma BIGINT NOT NULL, "
                                         "periode INTEGER NOT NULL, ")
                              .arg(QLatin1String(l.table));
            for (const QString& c : cols)
                sql += c + QStringLiteral(" TEXT NOT NULL, ");
            sql += QStringLiteral("umsatz BIGINT NOT NULL, kosten BIGINT NOT NULL, skonto BIGINT "
                                  "NOT NULL, nachlass BIGINT NOT NULL, PRIMARY KEY (firma, "
                                  "periode, %1))")
                       .arg(cols.join(QStringLiteral(", ")));
            // SQLite keeps such a table in its key order: one b-tree, not two.
            if (db.engine() == Engine::Sqlite) sql += QStringLiteral(" WITHOUT ROWID");
            db.execDirect(sql);
            if (full) createSumIndexes(db, l);
        };
        for (const SumLevel& l : plainLevels())
            sumTable(l, QLatin1String(l.table).endsWith(QLatin1String("full")));
        for (const SumLevel& l : warehouseLevels())
            sumTable(l, QLatin1String(l.table).endsWith(QLatin1String("full")));
        createBatchSchema(db);
        createRebuildFunction(db);
        setSchemaVersion(db);
        if (db.engine() == Engine::Postgres) createSecurity(db);
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
}

void upgradeSchema(Database& db) {
    // On PostgreSQL only the owner brings the schema up to date; a user's
    // or the gate's session may not even read server_info.
    if (db.engine() == Engine::Postgres &&
        !db.scalar(QStringLiteral("SELECT has_table_privilege('server_info', 'UPDATE')")).toBool())
        return;
    const int version =
        db.scalar(QStringLiteral("SELECT value FROM server_info WHERE key = 'schema'")).toInt();
    if (version < kSchemaVersion) {
        // Needs the owner's rights on PostgreSQL (and CREATEROLE for the
        // login roles); later connects only read.
        db.begin();
        try {
            createBatchSchema(db);
            // The covering index of version 1 cost an import more than the
            // whole rest of writing a line; see createSalesIndex.
            db.execDirect(QStringLiteral("DROP INDEX IF EXISTS sales_line_agg"));
            createSalesIndex(db);
            createRebuildFunction(db);
            if (db.engine() == Engine::Postgres) createSecurity(db);
            setSchemaVersion(db);
            db.commit();
        } catch (...) {
            db.rollback();
            throw;
        }
    }
    if (db.engine() != Engine::Sqlite) return;
    convertPlainPasswords(db);
    // Files made before the in-memory rebuild carry indexes that only slowed it.
    for (const SumLevel& l : {plainLevels().last(), warehouseLevels().last()})
        for (const char* c : kSumIndexColumns)
            db.execDirect(QStringLiteral("DROP INDEX IF EXISTS %1_%2")
                              .arg(QLatin1String(l.table), QLatin1String(c)));
}

void createSalesIndex(Database& db) {
    // The rebuild reads a period's lines through it. Only the period: an
    // index that also held the dimension id and the sums would spare the
    // rebuild the table rows, but every imported line would pay for it
    // with a wide key inserted in random order (five times the cost).
    db.execDirect(QStringLiteral(
        "CREATE INDEX IF NOT EXISTS sales_line_period ON sales_line (firma, periode)"));
}

void dropSalesIndex(Database& db) {
    db.execDirect(QStringLiteral("DROP INDEX IF EXISTS sales_line_period"));
}

void dropSchema(Database& db) {
    db.begin();
    try {
        for (const QString& t : schemaTables())
            // The policies of one table read others (pers_edv).
            db.execDirect(QStringLiteral("DROP TABLE IF EXISTS %1%2")
                              .arg(t, db.engine() == Engine::Postgres ? QStringLiteral(" CASCADE")
                                                                      : QString()));
        if (db.engine() == Engine::Postgres) {
            db.execDirect(QStringLiteral(
                "DROP FUNCTION IF EXISTS tallvero_rebuild(BIGINT, INTEGER, INTEGER)"));
            db.execDirect(QStringLiteral("DROP AGGREGATE IF EXISTS tallvero_sum8(BIGINT)"));
            db.execDirect(QStringLiteral("DROP TABLE IF EXISTS sum_digest"));
            db.execDirect(QStringLiteral("DROP FUNCTION IF EXISTS tallvero_sums_written()"));
        }
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
}

// --- Import batches --------------------------------------------------------

void createBatchSchema(Database& db) {
    if (!db.handle().record(QStringLiteral("sales_line")).contains(QStringLiteral("batch")))
        db.execDirect(
            QStringLiteral("ALTER TABLE sales_line ADD COLUMN batch BIGINT NOT NULL DEFAULT 0"));
    // Times are local wall-clock text "YYYY-MM-DD HH:MM:SS"; removed_at is
    // empty until "batch remove" took the batch's lines out again.
    db.execDirect(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS import_batch (batch BIGINT PRIMARY KEY, file_name TEXT NOT "
        "NULL, sha256 TEXT NOT NULL, size_bytes BIGINT NOT NULL, imported_at TEXT NOT NULL, "
        "line_count BIGINT NOT NULL, companies TEXT NOT NULL, first_period INTEGER NOT NULL, "
        "last_period INTEGER NOT NULL, os_user TEXT NOT NULL, db_user TEXT NOT NULL, options "
        "TEXT NOT NULL, replaced_lines BIGINT NOT NULL, removed_at TEXT NOT NULL DEFAULT '')"));
    db.execDirect(
        QStringLiteral("CREATE INDEX IF NOT EXISTS import_batch_sha256 ON import_batch (sha256)"));
}

// --- Rebuild on PostgreSQL -------------------------------------------------

namespace {
// Per period: one scan of the period's lines, summed per dimension id
// (about a tenth of a line per group); these groups joined to their codes
// are the finest level, and each coarser level is summed from the smallest
// level already made that keeps its columns, so no step reads more than
// the groups of one period. Each level then changes only what differs:
// rows whose sums changed are updated, rows without lines deleted, new rows
// inserted. A rebuild of unchanged lines writes nothing, and every write on
// PostgreSQL goes to the WAL and to each index. A period at a time keeps
// the hash tables small (a statement over a year of periods took longer;
// over all periods its hash tables spilled to disk). All of it runs in the server, so it can be
// granted as a unit.
//
// Sums use tallvero_sum8, bigint + bigint with a bigint state: the built-in
// sum(bigint) keeps a 128-bit state allocated per group, which cost a
// quarter of the rebuild. int8pl still raises an error on overflow.
QString rebuildFunctionSql(const QString& schema) {
    QList<SumLevel> levels = plainLevels();
    levels += warehouseLevels();
    const DimSet all = (1u << kDimCount) - 1;
    QStringList parts, writes;
    QList<int> made; // indexes into levels, finest first
    auto bits = [](DimSet d) { return std::popcount(d); };
    // The finest level first, then by falling width.
    QList<int> order;
    for (int i = 0; i < levels.size(); ++i)
        order << i;
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return bits(levels[a].dims) > bits(levels[b].dims); });
    const QString sum = QStringLiteral("tallvero_sum8");
    for (int i : order) {
        const SumLevel& l = levels[i];
        const QString list = dimColumns(l.dims).join(QStringLiteral(", "));
        if (l.dims == all) {
            QStringList dcols;
            for (int d = 0; d < kDimCount; ++d)
                dcols << QStringLiteral("d.") + QString::fromLatin1(kDimColumns[d]);
            parts << QStringLiteral("    l%1 AS MATERIALIZED (SELECT %2, a.u, a.k, a.s, a.n FROM a "
                                    "JOIN sales_dim d ON d.dimid = a.dimid)")
                         .arg(i)
                         .arg(dcols.join(QStringLiteral(", ")));
        } else {
            int from = -1;
            for (int m : made)
                if ((levels[m].dims & l.dims) == l.dims &&
                    (from < 0 || bits(levels[m].dims) < bits(levels[from].dims)))
                    from = m;
            parts << QStringLiteral("    l%1 AS MATERIALIZED (SELECT %2, %3(u) AS u, %3(k) AS k, "
                                    "%3(s) AS s, %3(n) AS n FROM l%4 GROUP BY %2)")
                         .arg(i)
                         .arg(list, sum)
                         .arg(from);
        }
        made << i;
    }
    for (int i = 0; i < levels.size(); ++i) {
        const SumLevel& l = levels[i];
        const QStringList cols = dimColumns(l.dims);
        const QString list = cols.join(QStringLiteral(", "));
        QStringList same, either, key;
        for (const QString& c : cols) {
            same << QStringLiteral("t.%1 = g.%1").arg(c);
            either << QStringLiteral("COALESCE(g.%1, t.%1) AS %1").arg(c);
            key << QStringLiteral("t.%1 = x.%1").arg(c);
        }
        const QString table = QLatin1String(l.table);
        const QString period = QStringLiteral("t.firma = p_firma AND t.periode = p");
        // The level's new rows against its stored rows of the period, in
        // one join: what is left differs (usually nothing), and only that
        // is written. Every part sees the table as it was.
        writes << QStringLiteral(
                      "    x%1 AS MATERIALIZED (SELECT %2, g.u, g.k, g.s, g.n, g.u IS "
                      "NOT NULL AS fresh, t.periode IS NOT NULL AS stored FROM l%1 g "
                      "FULL JOIN (SELECT * FROM %3 t WHERE %4) t ON %5 WHERE g.u IS NULL "
                      "OR t.periode IS NULL OR (t.umsatz, t.kosten, t.skonto, "
                      "t.nachlass) IS DISTINCT FROM (g.u, g.k, g.s, g.n))")
                      .arg(i)
                      .arg(either.join(QStringLiteral(", ")), table, period,
                           same.join(QStringLiteral(" AND ")));
        writes << QStringLiteral("    u%1 AS (UPDATE %2 t SET umsatz = x.u, kosten = x.k, skonto = "
                                 "x.s, nachlass = x.n FROM x%1 x WHERE x.fresh AND x.stored AND %3 "
                                 "AND %4)")
                      .arg(i)
                      .arg(table, period, key.join(QStringLiteral(" AND ")));
        writes << QStringLiteral(
                      "    d%1 AS (DELETE FROM %2 t USING x%1 x WHERE NOT x.fresh AND %3 "
                      "AND %4)")
                      .arg(i)
                      .arg(table, period, key.join(QStringLiteral(" AND ")));
        writes << QStringLiteral("    i%1 AS (INSERT INTO %2 (firma, periode, %3, umsatz, kosten, "
                                 "skonto, nachlass) SELECT p_firma, p, %3, u, k, s, n FROM x%1 "
                                 "WHERE NOT stored ORDER BY %3)")
                      .arg(i)
                      .arg(table, list);
    }
    // JIT compilation costs more than it saves here; planning the
    // statement anew for each period took longer than running it on an
    // empty one.
    return QStringLiteral(
               "CREATE OR REPLACE FUNCTION tallvero_rebuild(p_firma BIGINT, p_von INTEGER, p_bis "
               "INTEGER) RETURNS BIGINT LANGUAGE plpgsql SECURITY DEFINER "
               "SET search_path = pg_catalog, %3, pg_temp SET jit = off "
               "SET plan_cache_mode = force_generic_plan SET work_mem = '64MB' AS $fn$\n"
               "DECLARE lines BIGINT := 0; p INTEGER := p_von; c BIGINT;\n"
               "BEGIN\n"
               "  IF NOT tallvero_may_rebuild(p_firma) THEN RAISE EXCEPTION 'Keine Berechtigung "
               "für den Aufbau der Periodensummen von Firma %', p_firma USING ERRCODE = '42501'; "
               "END IF;\n"
               // Rebuilds of one company queue instead of colliding on the
               // rows they both write (PgRebuild takes the same lock).
               "  PERFORM pg_advisory_xact_lock(%5, (p_firma & 2147483647)::integer);\n"
               "  WHILE p <= p_bis LOOP\n"
               "    WITH a AS MATERIALIZED (SELECT dimid, count(*) AS c, %4(umsatz) AS u, "
               "%4(kosten) AS k, %4(skonto) AS s, %4(nachlass) AS n FROM sales_line WHERE firma = "
               "p_firma AND periode = p GROUP BY dimid),\n"
               "%1,\n"
               "%2\n"
               "    SELECT COALESCE(sum(a.c), 0) INTO c FROM a;\n"
               "    lines := lines + c;\n"
               "    p := CASE WHEN p % 100 = 12 THEN (p / 100 + 1) * 100 + 1 ELSE p + 1 END;\n"
               "  END LOOP;\n"
               "  RETURN lines;\n"
               "END $fn$")
        .arg(parts.join(QStringLiteral(",\n")), writes.join(QStringLiteral(",\n")), schema, sum)
        .arg(kRebuildLockKey);
}
} // namespace

void createRebuildFunction(Database& db) {
    if (db.engine() != Engine::Postgres) return;
    const QString schema =
        db.scalar(QStringLiteral("SELECT quote_ident(current_schema())")).toString();
    // The owner's rebuild (PgRebuild) keeps a digest of each level of a
    // period beside its rows and skips a level whose digest is unchanged.
    // Any other write to a sum table drops the digests of the periods it
    // touched, so a digest on file always describes the rows on file.
    db.execDirect(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS sum_digest (firma BIGINT NOT NULL, periode INTEGER NOT NULL, "
        "tbl TEXT NOT NULL, nrows BIGINT NOT NULL, digest BIGINT NOT NULL, PRIMARY KEY (firma, "
        "periode, tbl))"));
    db.execDirect(QStringLiteral("ALTER TABLE sum_digest ENABLE ROW LEVEL SECURITY"));
    db.execDirect(QStringLiteral("REVOKE ALL ON sum_digest FROM PUBLIC"));
    db.execDirect(
        QStringLiteral(
            "CREATE OR REPLACE FUNCTION tallvero_sums_written() RETURNS trigger LANGUAGE plpgsql "
            "SET search_path = pg_catalog, %1, pg_temp AS $fn$\n"
            "BEGIN\n"
            "  IF TG_OP = 'TRUNCATE' THEN\n"
            "    DELETE FROM sum_digest WHERE tbl = TG_TABLE_NAME;\n"
            "  ELSE\n"
            "    DELETE FROM sum_digest d USING (SELECT DISTINCT firma, periode FROM written) w "
            "WHERE d.tbl = TG_TABLE_NAME AND d.firma = w.firma AND d.periode = w.periode;\n"
            "  END IF;\n"
            "  IF TG_OP = 'UPDATE' THEN\n"
            "    DELETE FROM sum_digest d USING (SELECT DISTINCT firma, periode FROM written_old) "
            "w WHERE d.tbl = TG_TABLE_NAME AND d.firma = w.firma AND d.periode = w.periode;\n"
            "  END IF;\n"
            "  RETURN NULL;\n"
            "END $fn$")
            .arg(schema));
    // Only its triggers call it.
    db.execDirect(QStringLiteral("REVOKE ALL ON FUNCTION tallvero_sums_written() FROM PUBLIC"));
    // A trigger with transition tables may have only one event.
    static const char* const kTriggers[][2] = {
        {"ins", "INSERT ON %1 REFERENCING NEW TABLE AS written"},
        {"upd", "UPDATE ON %1 REFERENCING OLD TABLE AS written_old NEW TABLE AS written"},
        {"del", "DELETE ON %1 REFERENCING OLD TABLE AS written"},
        {"trunc", "TRUNCATE ON %1"}};
    QList<SumLevel> levels = plainLevels();
    levels += warehouseLevels();
    for (const SumLevel& l : levels)
        for (const auto& t : kTriggers)
            db.execDirect(QStringLiteral("CREATE OR REPLACE TRIGGER tallvero_digest_%1 AFTER %2 "
                                         "FOR EACH STATEMENT EXECUTE FUNCTION "
                                         "tallvero_sums_written()")
                              .arg(QLatin1String(t[0]),
                                   QString::fromLatin1(t[1]).arg(QLatin1String(l.table))));
    db.execDirect(
        QStringLiteral("CREATE OR REPLACE AGGREGATE tallvero_sum8(BIGINT) (SFUNC = int8pl, "
                       "STYPE = BIGINT, COMBINEFUNC = int8pl, PARALLEL = SAFE)"));
    // Only the rebuild, which runs as the owner, uses it.
    db.execDirect(QStringLiteral("REVOKE ALL ON FUNCTION tallvero_sum8(BIGINT) FROM PUBLIC"));
    // Runs as the owner (users may not write the sum tables), so with a
    // fixed search path and the rights check of tallvero_may_rebuild.
    db.execDirect(rebuildFunctionSql(schema));
}

} // namespace cache::server
