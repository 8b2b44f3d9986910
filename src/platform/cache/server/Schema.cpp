#include "Schema.h"

#include "../Factory.h"
#include "Security.h"

namespace cache::server {

namespace {
const char* const kDimColumns[kDimCount] = {"pcnr", "habtnr", "abtnr", "hgrp", "ugrp",
                                            "hkgrp", "hvart", "vart", "styp"};
constexpr DimSet kOrg = DimPc | DimHabt | DimAbt;
constexpr DimSet kProd = DimHgrp | DimUgrp;
constexpr DimSet kPlainTop = DimHkgrp | DimHvart;
constexpr DimSet kWhTop = DimHkgrp | DimHvart | DimVart | DimStyp;

} // namespace

const QStringList& schemaTables() {
    static const QStringList names = [] {
        QStringList n = {QStringLiteral("server_info"),    QStringLiteral("firma"),
                         QStringLiteral("profitcenter"),   QStringLiteral("hauptabteilung"),
                         QStringLiteral("abteilung"),      QStringLiteral("hauptgruppe"),
                         QStringLiteral("untergruppe"),    QStringLiteral("versandart"),
                         QStringLiteral("pers_edv"),       QStringLiteral("pers_abt"),
                         QStringLiteral("pers_basis"),     QStringLiteral("berechtigung"),
                         QStringLiteral("sales_line"),    QStringLiteral("sales_dim")};
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

// Single restrictions that are not a prefix of the key. On SQLite the full
// levels are read fast enough without them (well under a millisecond on ten
// million lines), and every index costs the rebuild dearly. PostgreSQL
// keeps them; the wide table only for the department.
void createSumIndexes(Database& db, const SumLevel& l) {
    if (db.engine() == Engine::Sqlite)
        return;
    const bool wide = QLatin1String(l.table) == QLatin1String("wsum_full");
    for (const char* c : kSumIndexColumns) {
        if (wide && qstrcmp(c, "abtnr") != 0)
            continue;
        db.execDirect(QStringLiteral("CREATE INDEX IF NOT EXISTS %1_%2 ON %1 (firma, periode, %2)")
                          .arg(QLatin1String(l.table), QLatin1String(c)));
    }
}
} // namespace

const char* dimColumn(int i) { return kDimColumns[i]; }

QStringList dimColumns(DimSet dims) {
    QStringList out;
    for (int i = 0; i < kDimCount; ++i)
        if (dims & (1u << i))
            out << QString::fromLatin1(kDimColumns[i]);
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
        if ((l.dims & restricted) == restricted)
            return l;
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
        "skonto BIGINT NOT NULL, nachlass BIGINT NOT NULL, dimid BIGINT NOT NULL)",
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
            if (db.engine() == Engine::Sqlite)
                sql += QStringLiteral(" WITHOUT ROWID");
            db.execDirect(sql);
            if (full)
                createSumIndexes(db, l);
        };
        for (const SumLevel& l : plainLevels())
            sumTable(l, QLatin1String(l.table).endsWith(QLatin1String("full")));
        for (const SumLevel& l : warehouseLevels())
            sumTable(l, QLatin1String(l.table).endsWith(QLatin1String("full")));
        db.exec(QStringLiteral("DELETE FROM server_info WHERE key = ?"), {QStringLiteral("schema")});
        db.exec(QStringLiteral("INSERT INTO server_info (key, value) VALUES (?, ?)"),
                {QStringLiteral("schema"), QString::number(kSchemaVersion)});
        if (db.engine() == Engine::Postgres) createSecurity(db);
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
}

void upgradeSchema(Database& db) {
    if (db.engine() != Engine::Sqlite)
        return;
    convertPlainPasswords(db);
    // Files made before the in-memory rebuild carry indexes that only slowed it.
    for (const SumLevel& l : {plainLevels().last(), warehouseLevels().last()})
        for (const char* c : kSumIndexColumns)
            db.execDirect(QStringLiteral("DROP INDEX IF EXISTS %1_%2")
                              .arg(QLatin1String(l.table), QLatin1String(c)));
}

void createSalesIndex(Database& db) {
    // Covers the rebuild: it reads nothing but this index.
    db.execDirect(QStringLiteral("CREATE INDEX IF NOT EXISTS sales_line_agg ON sales_line (firma, "
                                 "periode, dimid, umsatz, kosten, skonto, nachlass)"));
}

void dropSalesIndex(Database& db) {
    db.execDirect(QStringLiteral("DROP INDEX IF EXISTS sales_line_agg"));
}

void dropSchema(Database& db) {
    db.begin();
    try {
        for (const QString& t : schemaTables())
            db.execDirect(QStringLiteral("DROP TABLE IF EXISTS %1").arg(t));
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
}

} // namespace cache::server
