// Probe of a faster rebuild of the period sums on SQLite, kept in bench/ as
// evidence for a proposed change to Store::generate. It reads the sums per
// dimension id once per period, aggregates all eight levels in C++ and
// writes them with the SQLite C API on the server's own connection.
// Then it runs Store::generate on the same periods and checks that both
// leave identical tables.
//
//   rebuild_probe --db FILE.sqlite [--firma F]... [--from P --to P] [--rounds N]

#include "platform/cache/server/Database.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/Store.h"

#include <QCoreApplication>
#include <QSqlDriver>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace cache::server;

namespace {

using Clock = std::chrono::steady_clock;
using Key = std::array<uint16_t, kDimCount>;  // code ranks by dimension bit

struct Row {
    Key key;
    qint64 s[4];
};

struct Stmt {
    sqlite3_stmt* h = nullptr;
    Stmt(sqlite3* db, const std::string& sql) {
        if (sqlite3_prepare_v2(db, sql.c_str(), int(sql.size()), &h, nullptr) != SQLITE_OK)
            throw std::runtime_error(sqlite3_errmsg(db) + (": " + sql));
    }
    ~Stmt() { sqlite3_finalize(h); }
    Stmt(const Stmt&) = delete;
    Stmt& operator=(const Stmt&) = delete;
};

void check(sqlite3* db, int rc) {
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW)
        throw std::runtime_error(sqlite3_errmsg(db));
}

std::vector<int> periodsBetween(int from, int to) {
    std::vector<int> out;
    int y = from / 100, m = from % 100;
    for (int p = from; p <= to; p = y * 100 + m) {
        out.push_back(p);
        if (++m > 12) {
            m = 1;
            ++y;
        }
    }
    return out;
}

const SumLevel& levelNamed(const char* name) {
    for (const QList<SumLevel>* fam : {&warehouseLevels(), &plainLevels()})
        for (const SumLevel& l : *fam)
            if (qstrcmp(l.table, name) == 0)
                return l;
    throw std::runtime_error(name);
}

class Rebuild {
public:
    Rebuild(sqlite3* db, qint64 firma) : db_(db), firma_(firma) {
        // Ranks in byte order of the UTF-8 codes, which is SQLite's BINARY
        // order, so sorting by rank is sorting by primary key.
        Stmt q(db, "SELECT dimid, pcnr, habtnr, abtnr, hgrp, ugrp, hkgrp, hvart, vart, styp FROM "
                   "sales_dim WHERE firma = ?");
        sqlite3_bind_int64(q.h, 1, firma);
        std::vector<std::pair<qint64, std::array<std::string, kDimCount>>> raw;
        std::array<std::map<std::string, uint16_t>, kDimCount> seen;
        while (sqlite3_step(q.h) == SQLITE_ROW) {
            std::array<std::string, kDimCount> c;
            for (int i = 0; i < kDimCount; ++i) {
                c[size_t(i)] = reinterpret_cast<const char*>(sqlite3_column_text(q.h, 1 + i));
                seen[size_t(i)].emplace(c[size_t(i)], 0);
            }
            raw.emplace_back(sqlite3_column_int64(q.h, 0), std::move(c));
        }
        for (int i = 0; i < kDimCount; ++i) {
            uint16_t r = 1;  // 0 = dimension not kept
            codes_[size_t(i)].push_back({});
            for (auto& [code, rank] : seen[size_t(i)]) {
                rank = r++;
                codes_[size_t(i)].push_back(code);
            }
        }
        for (const auto& [id, c] : raw) {
            Key k{};
            for (int i = 0; i < kDimCount; ++i)
                k[size_t(i)] = seen[size_t(i)][c[size_t(i)]];
            if (size_t(id) >= byDim_.size())
                byDim_.resize(size_t(id) + 1);
            byDim_[size_t(id)] = k;
        }
        for (const char* t : kTables) {
            const SumLevel& l = levelNamed(t);
            const QStringList cols = dimColumns(l.dims);
            std::string sql = "INSERT INTO " + std::string(t) + " (firma, periode, " +
                              cols.join(QStringLiteral(", ")).toStdString() +
                              ", umsatz, kosten, skonto, nachlass) VALUES (?, ?";
            for (int i = 0; i < cols.size() + 4; ++i)
                sql += ", ?";
            sql += ")";
            inserts_.push_back(std::make_unique<Stmt>(db, sql));
            deletes_.push_back(std::make_unique<Stmt>(
                db, "DELETE FROM " + std::string(t) + " WHERE firma = ? AND periode = ?"));
            dims_.push_back(l.dims);
        }
        scan_ = std::make_unique<Stmt>(
            db, "SELECT dimid, SUM(umsatz), SUM(kosten), SUM(skonto), SUM(nachlass) FROM "
                "sales_line WHERE firma = ? AND periode = ? GROUP BY dimid");
    }

    void period(int p) {
        for (auto& d : deletes_) {
            sqlite3_bind_int64(d->h, 1, firma_);
            sqlite3_bind_int(d->h, 2, p);
            check(db_, sqlite3_step(d->h));
            sqlite3_reset(d->h);
        }
        // The finest level is one row per dimension id.
        std::vector<Row> full;
        sqlite3_bind_int64(scan_->h, 1, firma_);
        sqlite3_bind_int(scan_->h, 2, p);
        while (sqlite3_step(scan_->h) == SQLITE_ROW) {
            Row r;
            r.key = byDim_.at(size_t(sqlite3_column_int64(scan_->h, 0)));
            for (int i = 0; i < 4; ++i)
                r.s[i] = sqlite3_column_int64(scan_->h, 1 + i);
            full.push_back(r);
        }
        sqlite3_reset(scan_->h);
        for (size_t t = 0; t < dims_.size(); ++t)
            write(t, p, aggregate(full, dims_[t]));
    }

private:
    static std::vector<Row> aggregate(const std::vector<Row>& src, DimSet keep) {
        std::vector<Row> rows = src;
        for (Row& r : rows)
            for (int i = 0; i < kDimCount; ++i)
                if (!(keep & (1u << i)))
                    r.key[size_t(i)] = 0;
        std::sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.key < b.key; });
        std::vector<Row> out;
        for (const Row& r : rows) {
            if (!out.empty() && out.back().key == r.key) {
                for (int i = 0; i < 4; ++i)
                    out.back().s[i] += r.s[i];
            } else {
                out.push_back(r);
            }
        }
        return out;
    }

    void write(size_t t, int p, const std::vector<Row>& rows) {
        sqlite3_stmt* h = inserts_[t]->h;
        for (const Row& r : rows) {
            int n = 1;
            sqlite3_bind_int64(h, n++, firma_);
            sqlite3_bind_int(h, n++, p);
            for (int i = 0; i < kDimCount; ++i)
                if (dims_[t] & (1u << i)) {
                    const std::string& c = codes_[size_t(i)][r.key[size_t(i)]];
                    sqlite3_bind_text(h, n++, c.data(), int(c.size()), SQLITE_STATIC);
                }
            for (int i = 0; i < 4; ++i)
                sqlite3_bind_int64(h, n++, r.s[i]);
            check(db_, sqlite3_step(h));
            sqlite3_reset(h);
        }
    }

    static constexpr const char* kTables[] = {"wsum_full", "wsum_org",  "wsum_prod", "wsum_top",
                                              "psum_full", "psum_org",  "psum_prod", "psum_top"};
    sqlite3* db_;
    qint64 firma_;
    std::array<std::vector<std::string>, kDimCount> codes_;
    std::vector<Key> byDim_;
    std::vector<std::unique_ptr<Stmt>> inserts_, deletes_;
    std::vector<DimSet> dims_;
    std::unique_ptr<Stmt> scan_;
};

// Order-sensitive hash of every row of the eight tables for one company.
quint64 fingerprint(sqlite3* db, qint64 firma) {
    quint64 h = 1469598103934665603ULL;
    for (const QList<SumLevel>* fam : {&warehouseLevels(), &plainLevels()})
        for (const SumLevel& l : *fam) {
            const std::string cols = dimColumns(l.dims).join(QStringLiteral(", ")).toStdString();
            Stmt q(db, "SELECT periode, " + cols + ", umsatz, kosten, skonto, nachlass FROM " +
                           l.table + " WHERE firma = ? ORDER BY periode, " + cols);
            sqlite3_bind_int64(q.h, 1, firma);
            while (sqlite3_step(q.h) == SQLITE_ROW)
                for (int i = 0; i < sqlite3_column_count(q.h); ++i) {
                    const unsigned char* t = sqlite3_column_text(q.h, i);
                    for (; t && *t; ++t)
                        h = (h ^ *t) * 1099511628211ULL;
                    h = (h ^ 0x1F) * 1099511628211ULL;
                }
        }
    return h;
}

double seconds(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    QString path;
    std::vector<qint64> firmas;
    int from = -1, to = -1, rounds = 2;
    for (int i = 1; i + 1 < a.size(); ++i) {
        if (a[i] == QLatin1String("--db"))
            path = a[++i];
        else if (a[i] == QLatin1String("--firma"))
            firmas.push_back(a[++i].toLongLong());
        else if (a[i] == QLatin1String("--from"))
            from = a[++i].toInt();
        else if (a[i] == QLatin1String("--to"))
            to = a[++i].toInt();
        else if (a[i] == QLatin1String("--rounds"))
            rounds = a[++i].toInt();
    }
    if (path.isEmpty()) {
        std::fprintf(stderr, "usage: rebuild_probe --db FILE.sqlite [--firma F]... [--from P --to P] "
                             "[--rounds N]\n");
        return 2;
    }
    if (firmas.empty())
        firmas = {1, 2};
    try {
        DatabaseTarget t;
        t.engine = Engine::Sqlite;
        t.sqlitePath = path;
        Database db(t);
        Store store(db);
        const QVariant hv = db.handle().driver()->handle();
        if (qstrcmp(hv.typeName(), "sqlite3*") != 0)
            throw std::runtime_error("not a SQLite connection");
        sqlite3* h = *static_cast<sqlite3* const*>(hv.constData());
        if (from < 0)
            from = db.scalar(QStringLiteral("SELECT MIN(periode) FROM sales_line")).toInt();
        if (to < 0)
            to = db.scalar(QStringLiteral("SELECT MAX(periode) FROM sales_line")).toInt();
        const std::vector<int> periods = periodsBetween(from, to);
        std::printf("periods %d..%d, SQLite %s\n", from, to, sqlite3_libversion());
        for (int round = 0; round < rounds; ++round) {
            double probeS = 0, storeS = 0;
            qint64 lines = 0;
            for (qint64 f : firmas) {
                const qint64 n = db.scalar(QStringLiteral("SELECT COUNT(*) FROM sales_line WHERE firma "
                                                          "= ? AND periode BETWEEN ? AND ?"),
                                           {f, from, to})
                                     .toLongLong();
                lines += n;
                auto t0 = Clock::now();
                db.begin();
                {
                    Rebuild r(h, f);
                    for (int p : periods)
                        r.period(p);
                }
                db.commit();
                const double ps = seconds(t0);
                const quint64 fpProbe = fingerprint(h, f);
                t0 = Clock::now();
                store.generate(f, from, to);
                const double ss = seconds(t0);
                const quint64 fpStore = fingerprint(h, f);
                probeS += ps;
                storeS += ss;
                std::printf("round %d firma %lld: %lld lines; probe %.2f s = %.0f lines/s; "
                            "Store::generate %.2f s = %.0f lines/s; tables %s\n",
                            round + 1, static_cast<long long>(f), static_cast<long long>(n), ps,
                            double(n) / ps, ss, double(n) / ss,
                            fpProbe == fpStore ? "identical" : "DIFFER");
            }
            std::printf("round %d all: probe %.0f lines/s, Store::generate %.0f lines/s\n", round + 1,
                        double(lines) / probeS, double(lines) / storeS);
            std::fflush(stdout);
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
    return 0;
}
