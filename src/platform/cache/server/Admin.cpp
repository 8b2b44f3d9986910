#include "Admin.h"

#include "../Factory.h"
#include "Schema.h"
#include "Security.h"

#include <QDate>

namespace cache::server {

namespace {
[[noreturn]] void fail(const QString& why) { throw CacheError(err::WrongArguments, why); }

void requireUser(Store& store, qint64 firma, const QString& code) {
    if (!store.persEdv(firma, code))
        fail(QStringLiteral("Benutzer %1 gibt es in Firma %2 nicht").arg(code).arg(firma));
}

void requireDepartment(Store& store, qint64 firma, const QString& abtnr) {
    if (!store.persAbt(firma, abtnr))
        fail(QStringLiteral("Abteilung %1 gibt es in Firma %2 nicht").arg(abtnr).arg(firma));
}
} // namespace

void addUser(Store& store, const NewUser& u) {
    const QString code = u.code.trimmed().toUpper();
    if (code.isEmpty() || code.contains(QLatin1Char('|')) || code.contains(QLatin1Char('"')) ||
        code.size() > 30)
        fail(QStringLiteral("Ungültiger Personalcode „%1“").arg(u.code.left(40)));
    if (u.pnr.trimmed().isEmpty())
        fail(QStringLiteral("Personalnummer fehlt"));
    if (store.persEdv(u.firma, code))
        fail(QStringLiteral("Benutzer %1 gibt es in Firma %2 schon").arg(code).arg(u.firma));
    requireDepartment(store, u.firma, u.abtnr);
    Database& db = store.db();
    db.begin();
    try {
        // The password goes in only in the engine's own form.
        const bool sqlite = db.engine() == Engine::Sqlite;
        db.exec(QStringLiteral("INSERT INTO pers_edv (firma, code, %1aktiv, pname, pnr, abtnr, dw, "
                               "bergrp) VALUES (?, ?, %2'J', ?, ?, ?, '0', '')")
                    .arg(sqlite ? QStringLiteral("passwort, ") : QString(),
                         sqlite ? QStringLiteral("'', ") : QString()),
                {u.firma, code, u.name, u.pnr.trimmed(), u.abtnr})
            .finish();
        storeLoginPassword(db, u.firma, code, u.password);
        if (!store.persBasis(u.firma, u.pnr.trimmed()))
            db.exec(QStringLiteral("INSERT INTO pers_basis (firma, pnr, fax, email) VALUES (?, ?, '', '')"),
                    {u.firma, u.pnr.trimmed()})
                .finish();
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
}

void setPassword(Store& store, qint64 firma, const QString& code, const QString& password) {
    requireUser(store, firma, code);
    storeLoginPassword(store.db(), firma, code, password);
}

void setActive(Store& store, qint64 firma, const QString& code, bool active) {
    requireUser(store, firma, code);
    Database& db = store.db();
    db.begin();
    try {
        db.exec(QStringLiteral("UPDATE pers_edv SET aktiv = ? WHERE firma = ? AND code = ?"),
                {active ? QStringLiteral("J") : QStringLiteral("N"), firma, code})
            .finish();
        // An inactive login is a role that cannot log in.
        syncLoginRole(db, code);
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
}

void setDepartment(Store& store, qint64 firma, const QString& code, const QString& abtnr) {
    requireUser(store, firma, code);
    requireDepartment(store, firma, abtnr);
    store.db()
        .exec(QStringLiteral("UPDATE pers_edv SET abtnr = ? WHERE firma = ? AND code = ?"),
              {abtnr, firma, code})
        .finish();
}

void setPermission(Store& store, const QString& user, int level, const QString& part,
                   const QString& program) {
    if (user.trimmed().isEmpty())
        fail(QStringLiteral("Benutzer fehlt"));
    Database& db = store.db();
    db.begin();
    try {
        db.exec(QStringLiteral("DELETE FROM berechtigung WHERE benutzer = ? AND programm = ? AND teil = ?"),
                {user, program, part})
            .finish();
        db.exec(QStringLiteral("INSERT INTO berechtigung (benutzer, programm, teil, stufe) VALUES (?, ?, ?, ?)"),
                {user, program, part, level})
            .finish();
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
}

QStringList databaseInfo(Store& store) {
    Database& db = store.db();
    QStringList out;
    out << QStringLiteral("Datenbank: %1").arg(describe(db.target()));
    out << QStringLiteral("Schema-Version: %1").arg(store.global(QStringLiteral("schema")).value_or(QStringLiteral("?")));
    const QString fa0 = store.global(QStringLiteral("FA0")).value_or(QString());
    out << QStringLiteral("^FA(0): %1").arg(fa0.isEmpty() ? QStringLiteral("(nicht gesetzt)") : fa0);
    const QString built = store.global(QStringLiteral("XWGDAT")).value_or(QString());
    if (built.isEmpty()) {
        out << QStringLiteral("Periodensummen: noch nie aufgebaut");
    } else {
        const QString day = built.section(QLatin1Char('`'), 1, 1);
        const int n = day.toInt();
        const QDate d(n / 10000 + 1900, (n / 100) % 100, n % 100);
        out << QStringLiteral("Letzte aufgebaute Periode: %1, erstellt am %2")
                   .arg(built.section(QLatin1Char('`'), 0, 0),
                        d.isValid() ? d.toString(QStringLiteral("dd.MM.yyyy")) : day);
    }
    QSqlQuery& f = db.exec(QStringLiteral("SELECT firma, name FROM firma ORDER BY firma"));
    QList<QPair<qint64, QString>> firms;
    while (f.next())
        firms.append({f.value(0).toLongLong(), f.value(1).toString()});
    f.finish();
    for (const auto& [firma, name] : firms) {
        QSqlQuery& s = db.exec(QStringLiteral("SELECT COUNT(*), MIN(periode), MAX(periode) FROM "
                                              "sales_line WHERE firma = ?"),
                               {firma});
        qint64 count = 0;
        QString first, last;
        if (s.next()) {
            count = s.value(0).toLongLong();
            first = s.value(1).toString();
            last = s.value(2).toString();
        }
        s.finish();
        const qint64 sums = db.scalar(QStringLiteral("SELECT COUNT(*) FROM psum_full WHERE firma = ?"),
                                      {firma})
                                .toLongLong();
        out << QStringLiteral("Firma %1 %2: %3 Verkaufszeilen, Perioden %4 bis %5, %6 Summenzeilen")
                   .arg(firma)
                   .arg(name)
                   .arg(count)
                   .arg(first.isEmpty() ? QStringLiteral("-") : first,
                        last.isEmpty() ? QStringLiteral("-") : last)
                   .arg(sums);
    }
    const qint64 total = db.scalar(QStringLiteral("SELECT COUNT(*) FROM sales_line")).toLongLong();
    out << QStringLiteral("Verkaufszeilen gesamt: %1").arg(total);
    QSqlQuery& u = db.exec(QStringLiteral(
        "SELECT e.firma, e.code, e.aktiv, e.abtnr, COALESCE(b.stufe, -1) FROM pers_edv e LEFT JOIN "
        "berechtigung b ON b.benutzer = e.code AND b.programm = 'Tallvero' AND b.teil = 'alles' "
        "ORDER BY e.firma, e.code"));
    while (u.next())
        out << QStringLiteral("Benutzer %1 (Firma %2): Abteilung %3, %4, Stufe %5")
                   .arg(u.value(1).toString(), u.value(0).toString(), u.value(3).toString(),
                        u.value(2).toString() == QLatin1String("J") ? QStringLiteral("aktiv")
                                                                    : QStringLiteral("nicht aktiv"),
                        u.value(4).toString());
    u.finish();
    return out;
}

} // namespace cache::server
