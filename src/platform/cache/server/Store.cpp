#include "Store.h"

#include "../Factory.h"
#include "PgRebuild.h"
#include "SqliteRebuild.h"
#include "Text.h"

#include <QDate>
#include <QSqlRecord>

namespace cache::server {

DimSet Selection::restricted() const {
    DimSet d = 0;
    for (int i = 0; i < kDimCount; ++i)
        if (!code[size_t(i)].isEmpty())
            d |= 1u << i;
    return d;
}

QList<CodeName> Store::codeNames(const QString& sql, const QVariantList& binds) {
    QSqlQuery& q = db_.exec(sql, binds);
    QList<CodeName> out;
    while (q.next())
        out.append({q.value(0).toString(), q.value(1).toString()});
    q.finish();
    return out;
}

QList<CodeName> Store::mainGroups(qint64 firma) {
    return codeNames(
        QStringLiteral("SELECT hgrp, name FROM hauptgruppe WHERE firma = ? ORDER BY hgrp"), {firma});
}

QList<CodeName> Store::subGroups(qint64 firma, const QString& hgrp) {
    return codeNames(QStringLiteral("SELECT ugrp, name FROM untergruppe WHERE firma = ? AND hgrp "
                                    "= ? ORDER BY ugrp"),
                     {firma, hgrp});
}

QList<CodeName> Store::departments(qint64 firma) {
    return codeNames(
        QStringLiteral("SELECT abtnr, name FROM abteilung WHERE firma = ? ORDER BY abtnr"), {firma});
}

QList<CodeName> Store::mainDepartments(qint64 firma) {
    return codeNames(
        QStringLiteral("SELECT habtnr, name FROM hauptabteilung WHERE firma = ? ORDER BY habtnr"),
        {firma});
}

QList<CodeName> Store::profitCentres(qint64 firma) {
    return codeNames(
        QStringLiteral("SELECT pcnr, name FROM profitcenter WHERE firma = ? ORDER BY pcnr"), {firma});
}

QList<CodeName> Store::departmentsOfMainDepartment(qint64 firma, const QString& habt) {
    return codeNames(QStringLiteral("SELECT abtnr, name FROM abteilung WHERE firma = ? AND habtnr "
                                    "= ? ORDER BY abtnr"),
                     {firma, habt});
}

QList<CodeName> Store::mainDepartmentsOfProfitCentre(qint64 firma, const QString& pc) {
    return codeNames(QStringLiteral("SELECT h.habtnr, h.name FROM hauptabteilung h WHERE h.firma "
                                    "= ? AND EXISTS (SELECT 1 FROM abteilung a WHERE a.firma = "
                                    "h.firma AND a.habtnr = h.habtnr AND a.pcnr = ?) ORDER BY "
                                    "h.habtnr"),
                     {firma, pc});
}

QList<CodeName> Store::departmentsOfProfitCentre(qint64 firma, const QString& pc) {
    return codeNames(QStringLiteral("SELECT abtnr, name FROM abteilung WHERE firma = ? AND pcnr = "
                                    "? ORDER BY abtnr"),
                     {firma, pc});
}

QList<CodeName> Store::shippingTypes(qint64 firma, const QString& hvart) {
    if (hvart.isEmpty())
        return codeNames(
            QStringLiteral("SELECT vart, name FROM versandart WHERE firma = ? ORDER BY vart"),
            {firma});
    return codeNames(QStringLiteral("SELECT vart, name FROM versandart WHERE firma = ? AND hvart "
                                    "= ? ORDER BY vart"),
                     {firma, hvart});
}

QString Store::whereFor(const Selection& sel, QVariantList* binds) const {
    QString w;
    for (int i = 0; i < kDimCount; ++i) {
        if (sel[i].isEmpty())
            continue;
        w += QStringLiteral(" AND ") + QLatin1String(dimColumn(i)) + QStringLiteral(" = ?");
        binds->append(sel[i]);
    }
    return w;
}

namespace {
const QString kSumColumns = QStringLiteral("SELECT COALESCE(SUM(umsatz), 0), COALESCE(SUM(kosten), "
                                           "0), COALESCE(SUM(skonto), 0), COALESCE(SUM(nachlass), "
                                           "0) FROM ");

Sums readSums(QSqlQuery& q) {
    Sums s;
    if (q.next()) {
        s.umsatz = q.value(0).toLongLong();
        s.kosten = q.value(1).toLongLong();
        s.skonto = q.value(2).toLongLong();
        s.nachlass = q.value(3).toLongLong();
    }
    q.finish();
    return s;
}
} // namespace

Sums Store::levelSum(const SumLevel& level, qint64 firma, int fromPeriod, int toPeriod,
                     const Selection& sel) {
    const DimSet r = sel.restricted();
    // A whole main department is more than the departments a restricted
    // user may see one by one: the server hands out its total itself.
    if (db_.engine() == Engine::Postgres && (r & DimHabt) && !(r & DimAbt)) {
        QVariantList binds{QLatin1String(level.table), firma, fromPeriod, toPeriod};
        for (int i = 0; i < kDimCount; ++i)
            binds << sel[i];
        QSqlQuery& q = db_.exec(QStringLiteral("SELECT s[1], s[2], s[3], s[4] FROM (SELECT "
                                               "tallvero_main_department_sum(?, ?, ?, ?, "
                                               "ARRAY[?, ?, ?, ?, ?, ?, ?, ?, ?]::text[]) AS s) x"),
                                binds);
        return readSums(q);
    }
    QVariantList binds{firma};
    QString sql = kSumColumns +
                  QLatin1String(level.table) + QStringLiteral(" WHERE firma = ?");
    if (fromPeriod == toPeriod) {
        sql += QStringLiteral(" AND periode = ?");
        binds << fromPeriod;
    } else {
        sql += QStringLiteral(" AND periode BETWEEN ? AND ?");
        binds << fromPeriod << toPeriod;
    }
    sql += whereFor(sel, &binds);
    QSqlQuery& q = db_.exec(sql, binds);
    return readSums(q);
}

Sums Store::periodSum(qint64 firma, int fromPeriod, int toPeriod, const Selection& sel) {
    const DimSet r = sel.restricted();
    const bool wh = (r & (DimVart | DimStyp)) != 0;
    return levelSum(pickLevel(wh ? warehouseLevels() : plainLevels(), r), firma, fromPeriod,
                    toPeriod, sel);
}

SplitSums Store::periodSumByShipping(qint64 firma, int period, const Selection& sel) {
    SplitSums out;
    const QString given = sel[6];
    for (const char* hv : {"L", "S"}) {
        const QString h = QLatin1String(hv);
        if (!given.isEmpty() && given != h)
            continue;
        Selection s = sel;
        s[6] = h;
        (h == QLatin1String("L") ? out.lager : out.strecke) =
            levelSum(pickLevel(warehouseLevels(), s.restricted()), firma, period, period, s);
    }
    return out;
}

Sums Store::rawSum(qint64 firma, int fromPeriod, int toPeriod, const Selection& sel) {
    QVariantList binds{firma, fromPeriod, toPeriod};
    const QString sql = kSumColumns +
                        QStringLiteral("sales_line WHERE firma = ? AND periode BETWEEN ? AND ?") +
                        whereFor(sel, &binds);
    QSqlQuery& q = db_.exec(sql, binds);
    return readSums(q);
}

QList<int> periodsBetween(int from, int to) {
    QList<int> out;
    int y = from / 100, m = from % 100;
    for (int p = from; p <= to; p = y * 100 + m) {
        out << p;
        if (++m > 12) {
            m = 1;
            ++y;
        }
    }
    return out;
}

qint64 Store::generate(qint64 firma, int fromPeriod, int toPeriod, const GenerateCallback& progress,
                     int faultAfterPeriods) {
    if (fromPeriod < 0 || toPeriod < 0 || fromPeriod > toPeriod)
        throw CacheError(err::GenerateFailed, QStringLiteral("Ungültiger Periodenbereich"));
    const QList<int> periods = periodsBetween(fromPeriod, toPeriod);
    if (periods.size() > 1200)
        throw CacheError(err::GenerateFailed, QStringLiteral("Periodenbereich zu groß"));
    db_.begin();
    try {
        const qint64 lines = rebuildPeriods(firma, periods, progress, faultAfterPeriods);
        if (db_.engine() == Engine::Postgres)
            // A user may not write server_info; the server checks the rights.
            db_.exec(QStringLiteral("SELECT tallvero_rebuild_done(?, ?)"), {firma, toPeriod})
                .finish();
        else
            setBuildInfo(toPeriod);
        db_.commit();
        return lines;
    } catch (...) {
        db_.rollback();
        throw;
    }
}

qint64 Store::rebuildPeriods(qint64 firma, const QList<int>& periods,
                             const GenerateCallback& progress, int faultAfterPeriods) {
    qint64 lines = 0;
    int done = 0;
    auto fault = [&](int p) {
        if (faultAfterPeriods >= 0 && done >= faultAfterPeriods)
            throw CacheError(err::GenerateFailed,
                             QStringLiteral("Aufbau abgebrochen (Fehler bei Periode %1)").arg(p));
    };
    auto report = [&](int p) {
        ++done;
        if (progress && !progress({done, int(periods.size()), p}))
            throw CacheError(err::GenerateFailed, QStringLiteral("Aufbau abgebrochen"));
    };
    // Per period in this process; `period(p, next)` may start on the next.
    auto each = [&](auto&& period) {
        for (qsizetype i = 0; i < periods.size(); ++i) {
            fault(periods[i]);
            lines += period(periods[i], i + 1 < periods.size() ? periods[i + 1] : -1);
            report(periods[i]);
        }
        return lines;
    };
    if (db_.engine() == Engine::Sqlite) {
        SqliteRebuild fast(db_, firma);
        return each([&](int p, int) { return fast.period(p); });
    }
    if (PgRebuild::usable(db_)) {
        PgRebuild fast(db_, firma);
        return each([&](int p, int next) { return fast.period(p, next); });
    }
    // The server function takes a range of consecutive periods in one
    // statement; a year at a time keeps the progress moving.
    constexpr int kChunk = 12;
    for (qsizetype i = 0; i < periods.size();) {
        fault(periods[i]);
        int limit = kChunk;
        if (faultAfterPeriods >= 0)
            limit = std::min(limit, faultAfterPeriods - done);
        qsizetype j = i + 1;
        auto next = [](int p) { return p % 100 == 12 ? (p / 100 + 1) * 100 + 1 : p + 1; };
        while (j < periods.size() && j - i < limit && periods[j] == next(periods[j - 1]))
            ++j;
        lines += db_.scalar(QStringLiteral("SELECT tallvero_rebuild(?, ?, ?)"),
                            {firma, periods[i], periods[j - 1]})
                     .toLongLong();
        for (; i < j; ++i)
            report(periods[i]);
    }
    return lines;
}

void Store::setBuildInfo(int lastPeriod) {
    const QDate today = QDate::currentDate();
    setGlobal(QStringLiteral("XWGDAT"),
              QString::number(lastPeriod) + QLatin1Char('`') +
                  serverDayNumber(today.year(), today.month(), today.day()));
}

qint64 Store::dimId(qint64 firma, const Selection& codes) {
    if (!dimsLoaded_) {
        QSqlQuery& q = db_.exec(QStringLiteral("SELECT dimid, firma, pcnr, habtnr, abtnr, hgrp, "
                                               "ugrp, hkgrp, hvart, vart, styp FROM sales_dim"));
        while (q.next()) {
            QString key = q.value(1).toString();
            for (int i = 0; i < kDimCount; ++i)
                key += QChar(0x1F) + q.value(2 + i).toString();
            const qint64 id = q.value(0).toLongLong();
            dims_.insert(key, id);
            nextDim_ = std::max(nextDim_, id + 1);
        }
        q.finish();
        dimsLoaded_ = true;
    }
    QString key = QString::number(firma);
    for (int i = 0; i < kDimCount; ++i)
        key += QChar(0x1F) + codes[i];
    const auto it = dims_.constFind(key);
    if (it != dims_.constEnd())
        return *it;
    const qint64 id = nextDim_++;
    QVariantList v{id, firma};
    for (int i = 0; i < kDimCount; ++i)
        v << codes[i];
    db_.exec(QStringLiteral("INSERT INTO sales_dim (dimid, firma, pcnr, habtnr, abtnr, hgrp, ugrp, "
                            "hkgrp, hvart, vart, styp) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"),
             v)
        .finish();
    dims_.insert(key, id);
    return id;
}

void Store::appendSales(const QList<SalesLine>& lines) {
    constexpr int kCols = 17;
    constexpr int kBatch = 256;
    static const QString one = QStringLiteral("(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    auto sqlFor = [](int rows) {
        QString sql = QStringLiteral("INSERT INTO sales_line (datum, periode, firma, pcnr, habtnr, "
                                     "abtnr, hgrp, ugrp, hkgrp, hvart, vart, styp, umsatz, kosten, "
                                     "skonto, nachlass, dimid) VALUES ");
        for (int i = 0; i < rows; ++i)
            sql += (i ? QStringLiteral(",") : QString()) + one;
        return sql;
    };
    static const QString full = sqlFor(kBatch);
    QVariantList binds;
    binds.reserve(kBatch * kCols);
    // Dimension ids are rolled back with the caller's transaction, so the
    // cache must not outlive a failure.
    try {
        for (const SalesLine& l : lines) {
            const int year = l.datum / 10000, month = (l.datum / 100) % 100;
            binds << l.datum << (year - 1900) * 100 + month << l.firma;
            for (int i = 0; i < kDimCount; ++i)
                binds << l.codes[i];
            binds << l.umsatz << l.kosten << l.skonto << l.nachlass << dimId(l.firma, l.codes);
            if (binds.size() == kBatch * kCols) {
                db_.exec(full, binds).finish();
                binds.clear();
            }
        }
        if (!binds.isEmpty())
            db_.exec(sqlFor(int(binds.size() / kCols)), binds).finish();
    } catch (...) {
        resetCaches();
        throw;
    }
}

int Store::permission(const QString& user, const QString& program, const QString& part) {
    if (db_.engine() == Engine::Postgres) {
        // Only the server reads the permission table; it answers a user
        // about themselves.
        const QVariant v = db_.scalar(QStringLiteral("SELECT tallvero_permission(?, ?, ?)"),
                                      {user, program, part});
        return v.isValid() ? v.toInt() : -1;
    }
    const QString sql = QStringLiteral(
        "SELECT stufe FROM berechtigung WHERE benutzer = ? AND programm = ? AND teil = ?");
    QVariant v = db_.scalar(sql, {user, program, part});
    if (!v.isValid() && part != QLatin1String("alles"))
        v = db_.scalar(sql, {user, program, QStringLiteral("alles")});
    return v.isValid() ? v.toInt() : -1;
}

std::optional<QString> Store::global(const QString& key) {
    const QVariant v = db_.scalar(QStringLiteral("SELECT value FROM server_info WHERE key = ?"), {key});
    if (!v.isValid())
        return std::nullopt;
    return v.toString();
}

void Store::setGlobal(const QString& key, const QString& value) {
    db_.exec(QStringLiteral("DELETE FROM server_info WHERE key = ?"), {key}).finish();
    db_.exec(QStringLiteral("INSERT INTO server_info (key, value) VALUES (?, ?)"), {key, value})
        .finish();
}

namespace {
std::optional<QString> nonNull(const QVariant& v) {
    if (!v.isValid() || v.isNull()) return std::nullopt;
    return v.toString();
}
} // namespace

std::optional<QString> Store::fiscalYearText() {
    if (db_.engine() == Engine::Postgres)
        return nonNull(db_.scalar(QStringLiteral("SELECT tallvero_fiscal_year()")));
    const auto fa0 = global(QStringLiteral("FA0"));
    if (!fa0) return std::nullopt;
    return fa0->section(QLatin1Char('`'), 1, 1);
}

std::optional<QString> Store::buildInfo() {
    if (db_.engine() == Engine::Postgres)
        return nonNull(db_.scalar(QStringLiteral("SELECT tallvero_build_info()")));
    return global(QStringLiteral("XWGDAT"));
}

bool Store::loginExists(qint64 firma, const QString& code) {
    if (db_.engine() == Engine::Postgres)
        return db_.scalar(QStringLiteral("SELECT tallvero_login_exists(?, ?)"), {firma, code})
            .toBool();
    return db_
        .scalar(QStringLiteral("SELECT 1 FROM pers_edv WHERE firma = ? AND code = ?"),
                {firma, code})
        .isValid();
}

QString Store::loginPasswordHash(qint64 firma, const QString& code) {
    if (db_.engine() != Engine::Sqlite) return {};
    return db_
        .scalar(QStringLiteral("SELECT passwort FROM pers_edv WHERE firma = ? AND code = ?"),
                {firma, code})
        .toString();
}

std::optional<QHash<QString, QString>> Store::record(const QString& sql, const QVariantList& binds) {
    QSqlQuery& q = db_.exec(sql, binds);
    if (!q.next()) {
        q.finish();
        return std::nullopt;
    }
    QHash<QString, QString> r;
    const QSqlRecord rec = q.record();
    for (int i = 0; i < rec.count(); ++i)
        r.insert(rec.fieldName(i).toLower(), q.value(i).toString());
    q.finish();
    return r;
}

std::optional<QHash<QString, QString>> Store::persEdv(qint64 firma, const QString& code) {
    return record(QStringLiteral("SELECT aktiv, pname, pnr, abtnr, dw, bergrp FROM pers_edv WHERE "
                                 "firma = ? AND code = ?"),
                  {firma, code});
}

std::optional<QHash<QString, QString>> Store::persAbt(qint64 firma, const QString& abtnr) {
    return record(QStringLiteral("SELECT abtbez, abtnr, habtnr FROM pers_abt WHERE firma = ? AND "
                                 "abtnr = ?"),
                  {firma, abtnr});
}

std::optional<QHash<QString, QString>> Store::persBasis(qint64 firma, const QString& pnr) {
    return record(
        QStringLiteral("SELECT fax, email FROM pers_basis WHERE firma = ? AND pnr = ?"),
        {firma, pnr});
}

} // namespace cache::server
