#include "Batches.h"

#include "../Factory.h"
#include "Schema.h"
#include "Text.h"

#include <QDateTime>
#include <QHash>
#include <QMap>
#include <QSet>

namespace cache::server {

QList<BatchInfo> listBatches(Database& db) {
    QSqlQuery& q = db.exec(QStringLiteral(
        "SELECT batch, file_name, sha256, size_bytes, imported_at, line_count, companies, "
        "first_period, last_period, os_user, db_user, options, replaced_lines, removed_at FROM "
        "import_batch ORDER BY batch"));
    QList<BatchInfo> out;
    while (q.next()) {
        BatchInfo b;
        b.batch = q.value(0).toLongLong();
        b.fileName = q.value(1).toString();
        b.sha256 = q.value(2).toString();
        b.sizeBytes = q.value(3).toLongLong();
        b.importedAt = q.value(4).toString();
        b.lineCount = q.value(5).toLongLong();
        b.companies = q.value(6).toString();
        b.firstPeriod = q.value(7).toInt();
        b.lastPeriod = q.value(8).toInt();
        b.osUser = q.value(9).toString();
        b.dbUser = q.value(10).toString();
        b.options = q.value(11).toString();
        b.replacedLines = q.value(12).toLongLong();
        b.removedAt = q.value(13).toString();
        out << b;
    }
    q.finish();
    return out;
}

RemovedBatch removeBatch(Store& store, qint64 batch, bool generate,
                         const std::function<void(int, int)>& progress) {
    Database& db = store.db();
    RemovedBatch out;
    db.beginWrite();
    try {
        if (db.engine() == Engine::Postgres) {
            db.execDirect(QStringLiteral("SET LOCAL statement_timeout = 0"));
            db.execDirect(QStringLiteral("LOCK TABLE import_batch IN SHARE ROW EXCLUSIVE MODE"));
        }
        QSqlQuery& q = db.exec(QStringLiteral("SELECT companies, first_period, last_period, "
                                              "removed_at FROM import_batch WHERE batch = ?"),
                               {batch});
        if (!q.next()) {
            q.finish();
            throw CacheError(err::WrongArguments,
                             QStringLiteral("Stapel %1 gibt es nicht").arg(batch));
        }
        const QStringList companies =
            q.value(0).toString().split(QLatin1Char(','), Qt::SkipEmptyParts);
        const int first = q.value(1).toInt(), last = q.value(2).toInt();
        const QString removed = q.value(3).toString();
        q.finish();
        if (!removed.isEmpty())
            throw CacheError(
                err::WrongArguments,
                QStringLiteral("Stapel %1 wurde bereits am %2 entfernt").arg(batch).arg(removed));
        // The batch's company and period range narrow the search to the
        // rebuild index's range; the batch number picks the lines there.
        QMap<qint64, QList<int>> byFirm;
        for (const QString& c : companies) {
            const qint64 firma = c.toLongLong();
            QSqlQuery& p =
                db.exec(QStringLiteral("SELECT DISTINCT periode FROM sales_line WHERE "
                                       "firma = ? AND periode BETWEEN ? AND ? AND batch = ? "
                                       "ORDER BY periode"),
                        {firma, first, last, batch});
            while (p.next())
                byFirm[firma] << p.value(0).toInt();
            p.finish();
            QSqlQuery& d =
                db.exec(QStringLiteral("DELETE FROM sales_line WHERE firma = ? AND periode "
                                       "BETWEEN ? AND ? AND batch = ?"),
                        {firma, first, last, batch});
            out.lines += d.numRowsAffected();
            d.finish();
        }
        db.exec(
              QStringLiteral("UPDATE import_batch SET removed_at = ? WHERE batch = ?"),
              {QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), batch})
            .finish();
        int total = 0, done = 0, lastPeriod = 0;
        for (auto it = byFirm.cbegin(); it != byFirm.cend(); ++it) {
            total += int(it.value().size());
            for (int p : it.value()) {
                out.periods << qMakePair(it.key(), p);
                lastPeriod = std::max(lastPeriod, p);
            }
        }
        if (generate && total > 0) {
            for (auto it = byFirm.cbegin(); it != byFirm.cend(); ++it) {
                const int before = done;
                store.rebuildPeriods(it.key(), it.value(), [&](const GenerateProgress& g) {
                    done = before + g.done;
                    if (progress) progress(done, total);
                    return true;
                });
            }
            store.setBuildInfo(lastPeriod);
        }
        db.commit();
    } catch (...) {
        db.rollback();
        throw;
    }
    return out;
}

namespace {

QString sumsText(const Sums& s) {
    return QStringLiteral("umsatz %1, kosten %2, skonto %3, nachlass %4")
        .arg(centsToText(s.umsatz), centsToText(s.kosten), centsToText(s.skonto),
             centsToText(s.nachlass));
}

bool operator!=(const Sums& a, const Sums& b) {
    return a.umsatz != b.umsatz || a.kosten != b.kosten || a.skonto != b.skonto ||
           a.nachlass != b.nachlass;
}

QList<qint64> companiesToCheck(Database& db, std::optional<qint64> firma) {
    if (firma) return {*firma};
    // Lines of companies missing from the master data count too.
    QSet<qint64> all;
    for (const char* sql : {"SELECT DISTINCT firma FROM sales_dim",
                            "SELECT DISTINCT firma FROM psum_top", "SELECT firma FROM firma"}) {
        QSqlQuery& q = db.exec(QString::fromLatin1(sql));
        while (q.next())
            all.insert(q.value(0).toLongLong());
        q.finish();
    }
    QList<qint64> out(all.begin(), all.end());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

VerifyResult verifySums(Database& db, int fromPeriod, int toPeriod, std::optional<qint64> firma,
                        int maxListed, const std::function<void(int, int)>& progress) {
    VerifyResult r;
    const QList<qint64> firms = companiesToCheck(db, firma);
    if (fromPeriod == 0 && toPeriod == 0) {
        // Every period that holds lines or sums.
        for (const char* sql : {"SELECT MIN(periode), MAX(periode) FROM sales_line",
                                "SELECT MIN(periode), MAX(periode) FROM psum_top"}) {
            QSqlQuery& q = db.exec(QString::fromLatin1(sql));
            if (q.next() && !q.value(0).isNull()) {
                const int lo = q.value(0).toInt(), hi = q.value(1).toInt();
                fromPeriod = fromPeriod == 0 ? lo : std::min(fromPeriod, lo);
                toPeriod = std::max(toPeriod, hi);
            }
            q.finish();
        }
        if (fromPeriod == 0) return r;
    }
    const QList<int> periods = periodsBetween(fromPeriod, toPeriod);
    QList<SumLevel> levels = plainLevels();
    levels += warehouseLevels();
    const QString all = dimColumns((1u << kDimCount) - 1).join(QStringLiteral(", "));
    const QString linesSql =
        QStringLiteral("SELECT %1, COUNT(*), SUM(umsatz), SUM(kosten), SUM(skonto), SUM(nachlass) "
                       "FROM sales_line WHERE firma = ? AND periode = ? GROUP BY %1")
            .arg(all);

    auto differ = [&](const SumLevel& l, qint64 f, int p, const QString& key, const QString& stored,
                      const QString& computed) {
        ++r.differences;
        if (r.listed.size() < maxListed)
            r.listed << SumDifference{QString::fromLatin1(l.table), f, p, key, stored, computed};
    };
    const int total = int(firms.size() * periods.size());
    int done = 0;
    for (qint64 f : firms) {
        for (int p : periods) {
            // The finest grouping of the lines by their own codes ...
            QList<QPair<QStringList, Sums>> finest;
            QSqlQuery& q = db.exec(linesSql, {f, p});
            while (q.next()) {
                QStringList codes;
                for (int i = 0; i < kDimCount; ++i)
                    codes << q.value(i).toString();
                r.lines += q.value(kDimCount).toLongLong();
                Sums s;
                s.umsatz = q.value(kDimCount + 1).toLongLong();
                s.kosten = q.value(kDimCount + 2).toLongLong();
                s.skonto = q.value(kDimCount + 3).toLongLong();
                s.nachlass = q.value(kDimCount + 4).toLongLong();
                finest << qMakePair(codes, s);
            }
            q.finish();
            // ... summed up to each level and compared with its rows.
            for (const SumLevel& l : levels) {
                QList<int> kept;
                for (int i = 0; i < kDimCount; ++i)
                    if (l.dims & (1u << i)) kept << i;
                const QStringList cols = dimColumns(l.dims);
                auto keyText = [&](const QStringList& values) {
                    QStringList parts;
                    for (int i = 0; i < cols.size(); ++i)
                        parts << cols[i] + QLatin1Char('=') + values[i];
                    return parts.join(QLatin1Char(' '));
                };
                QHash<QStringList, Sums> expected;
                for (const auto& [codes, s] : finest) {
                    QStringList k;
                    for (int i : kept)
                        k << codes[i];
                    Sums& e = expected[k];
                    e.umsatz += s.umsatz;
                    e.kosten += s.kosten;
                    e.skonto += s.skonto;
                    e.nachlass += s.nachlass;
                }
                QSqlQuery& t =
                    db.exec(QStringLiteral("SELECT %1, umsatz, kosten, skonto, nachlass "
                                           "FROM %2 WHERE firma = ? AND periode = ?")
                                .arg(cols.join(QStringLiteral(", ")), QLatin1String(l.table)),
                            {f, p});
                const int n = int(cols.size());
                while (t.next()) {
                    ++r.rows;
                    QStringList k;
                    for (int i = 0; i < n; ++i)
                        k << t.value(i).toString();
                    Sums s;
                    s.umsatz = t.value(n).toLongLong();
                    s.kosten = t.value(n + 1).toLongLong();
                    s.skonto = t.value(n + 2).toLongLong();
                    s.nachlass = t.value(n + 3).toLongLong();
                    const auto it = expected.find(k);
                    if (it == expected.end()) {
                        differ(l, f, p, keyText(k), sumsText(s), QStringLiteral("keine Zeilen"));
                        continue;
                    }
                    if (*it != s) differ(l, f, p, keyText(k), sumsText(s), sumsText(*it));
                    expected.erase(it);
                }
                t.finish();
                for (auto it = expected.cbegin(); it != expected.cend(); ++it)
                    differ(l, f, p, keyText(it.key()), QStringLiteral("fehlt"),
                           sumsText(it.value()));
            }
            ++r.periods;
            if (progress) progress(++done, total);
        }
    }
    return r;
}

} // namespace cache::server
