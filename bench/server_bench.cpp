// Benchmarks of the server component: period sums through the factory, the
// same sums from the raw sales lines, the rebuild (Generieren) and the demo
// generator. One run measures one database and writes its figures as JSON;
// --report turns the JSON files of several runs into one Markdown report.
//
//   server_bench --db FILE.sqlite|HOST|pg-env [--port P] [--lines N]
//                [--calls N] [--naive-calls N] [--seed S] [--reuse]
//                [--skip-demo] --json OUT.json
//   server_bench --report [--command TEXT] RUN.json...
//
// "pg-env" takes host and port from TALLVERO_TEST_PG (scripts/with-pg.sh).
// Progress goes to stderr.

#include "platform/cache/ConnectString.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/Schema.h"
#include "FetchBench.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "platform/cache/server/Text.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTextStream>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <random>
#include <vector>

#include <unistd.h>

using namespace cache;
using namespace cache::server;

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

void progress(const QString& text) {
    const QString line = QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss ")) + text;
    std::fprintf(stderr, "%s\n", qPrintable(line));
    std::fflush(stderr);
}

struct Stats {
    int n = 0;
    double p50 = 0, p99 = 0, mean = 0, min = 0, max = 0;
};

// Nearest-rank percentiles.
Stats statsOf(std::vector<double> ms) {
    Stats s;
    if (ms.empty())
        return s;
    std::sort(ms.begin(), ms.end());
    auto rank = [&](double q) {
        const size_t r = size_t(std::ceil(q * double(ms.size())));
        return ms[std::clamp<size_t>(r, 1, ms.size()) - 1];
    };
    s.n = int(ms.size());
    s.p50 = rank(0.50);
    s.p99 = rank(0.99);
    s.min = ms.front();
    s.max = ms.back();
    double sum = 0;
    for (double v : ms)
        sum += v;
    s.mean = sum / double(ms.size());
    return s;
}

// Times f(i) for i = 0..calls-1 after warm-up calls that are not counted
// (they fill the prepared-statement cache and the page caches).
Stats timeCalls(int warmup, int calls, const std::function<void(int)>& f) {
    for (int i = 0; i < warmup; ++i)
        f(i % std::max(1, calls));
    std::vector<double> ms;
    ms.reserve(size_t(calls));
    for (int i = 0; i < calls; ++i) {
        const auto t0 = Clock::now();
        f(i);
        ms.push_back(msSince(t0));
    }
    return statsOf(std::move(ms));
}

QJsonObject toJson(const Stats& s) {
    return {{QStringLiteral("n"), s.n},       {QStringLiteral("p50"), s.p50},
            {QStringLiteral("p99"), s.p99},   {QStringLiteral("mean"), s.mean},
            {QStringLiteral("min"), s.min},   {QStringLiteral("max"), s.max}};
}

QString arg(const QStringList& a, const char* name, const QString& def = {}) {
    const int i = int(a.indexOf(QLatin1String(name)));
    return i >= 0 && i + 1 < a.size() ? a[i + 1] : def;
}

QStringList codesOf(const QList<CodeName>& list) {
    QStringList out;
    for (const CodeName& c : list)
        out << c.code;
    return out;
}

QStringList column0(Database& db, const QString& sql, const QVariantList& binds) {
    QSqlQuery& q = db.exec(sql, binds);
    QStringList out;
    while (q.next())
        out << q.value(0).toString();
    q.finish();
    return out;
}

qint64 fileSizeWithWal(const QString& path) {
    qint64 n = 0;
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        n += QFileInfo(path + suffix).size();
    return n;
}

void removeSqlite(const QString& path) {
    for (const QString& suffix : {QString(), QStringLiteral("-wal"), QStringLiteral("-shm")})
        QFile::remove(path + suffix);
}

// Plain query arguments: firma, period, hgrp, ugrp, pc, habt, abt, hkgrp, hvart.
enum PlainArg { AFirma, APeriod, AHgrp, AUgrp, APc, AHabt, AAbt, AHkgrp, AHvart };

Selection selectionOf(const QStringList& a) {
    Selection s;
    s[0] = a[APc];
    s[1] = a[AHabt];
    s[2] = a[AAbt];
    s[3] = a[AHgrp];
    s[4] = a[AUgrp];
    s[5] = a[AHkgrp];
    s[6] = a[AHvart];
    return s;
}

// Detail key fields: pc`habt`abt`hgrp`ugrp`styp`hvart`vart`hkgrp, trailing
// empty fields dropped.
QString detailKey(QStringList f) {
    while (!f.isEmpty() && f.last().isEmpty())
        f.removeLast();
    return f.join(QLatin1Char('`'));
}

struct RunOptions {
    QString server, port;
    qint64 lines = 10'000'000;
    int calls = 2000;
    int naiveCalls = 100;
    int warmup = 50;
    quint64 seed = 20241;
    int untilYear = 2026, untilMonth = 11;
    bool reuse = false, skipDemo = false;
    int fetchRounds = 20;
    QString json;
};

// Demo generation with the time of each stage, taken from its progress texts.
QJsonObject runDemo(Store& store, const RunOptions& o) {
    DemoOptions d;
    d.seed = o.seed;
    d.lines = o.lines;
    d.untilYear = o.untilYear;
    d.untilMonth = o.untilMonth;
    const auto t0 = Clock::now();
    double tIndex = -1, tRebuild = -1, tRebuildEnd = -1, tAnalyze = -1;
    qint64 lastShown = -1;
    QString lastStage;
    generateDemo(store, d, [&](const DemoProgress& p) {
        const double t = msSince(t0);
        if (tIndex < 0 && p.stage.startsWith(QStringLiteral("Index")))
            tIndex = t;
        if (p.stage.startsWith(QStringLiteral("Periodensummen"))) {
            if (tRebuild < 0)
                tRebuild = t;
            tRebuildEnd = t;
        }
        // ANALYZE runs between the last rebuild report and "Fertig".
        if (tAnalyze < 0 && p.stage == QStringLiteral("Fertig"))
            tAnalyze = tRebuildEnd >= 0 ? tRebuildEnd : t;
        const qint64 tenth = p.total > 0 ? p.done * 10 / p.total : 0;
        if (p.stage != lastStage || (p.stage.startsWith(QStringLiteral("Verkaufszeilen")) &&
                                     tenth != lastShown)) {
            lastStage = p.stage;
            lastShown = tenth;
            progress(QStringLiteral("  demo: %1 %2/%3").arg(p.stage).arg(p.done).arg(p.total));
        }
    });
    const double total = msSince(t0);
    // Older generators may not report every stage; fall back to the total.
    if (tIndex < 0)
        tIndex = tRebuild >= 0 ? tRebuild : total;
    if (tRebuild < 0)
        tRebuild = tIndex;
    if (tAnalyze < 0)
        tAnalyze = total;
    return {{QStringLiteral("lines"), double(o.lines)},
            {QStringLiteral("write_s"), tIndex / 1000},
            {QStringLiteral("index_s"), (tRebuild - tIndex) / 1000},
            {QStringLiteral("rebuild_s"), (tAnalyze - tRebuild) / 1000},
            {QStringLiteral("analyze_s"), (total - tAnalyze) / 1000},
            {QStringLiteral("total_s"), total / 1000},
            {QStringLiteral("generated_at"), QDateTime::currentDateTime().toString(Qt::ISODate)},
            {QStringLiteral("reused"), false}};
}

int runBench(const RunOptions& o) {
    QString server = o.server, port = o.port;
    if (server == QLatin1String("pg-env")) {
        const QString env = qEnvironmentVariable("TALLVERO_TEST_PG");
        const int colon = int(env.lastIndexOf(QLatin1Char(':')));
        if (colon < 0) {
            std::fprintf(stderr, "TALLVERO_TEST_PG is not set (run under scripts/with-pg.sh)\n");
            return 2;
        }
        server = env.left(colon);
        port = env.mid(colon + 1);
    }
    const DatabaseTarget target = targetFor({server, port, QStringLiteral("ZORVEK")});
    const bool pg = target.engine == Engine::Postgres;
    QJsonObject result;
    result[QStringLiteral("engine")] = pg ? QStringLiteral("PostgreSQL") : QStringLiteral("SQLite");
    result[QStringLiteral("target")] = describe(target);
    result[QStringLiteral("lines_requested")] = double(o.lines);
    result[QStringLiteral("calls")] = o.calls;
    result[QStringLiteral("naive_calls")] = o.naiveCalls;
    result[QStringLiteral("warmup")] = o.warmup;
    result[QStringLiteral("seed")] = QString::number(o.seed);
    result[QStringLiteral("until")] =
        QStringLiteral("%1-%2").arg(o.untilYear).arg(o.untilMonth, 2, 10, QLatin1Char('0'));
    progress(QStringLiteral("%1: %2").arg(result[QStringLiteral("engine")].toString(),
                                          describe(target)));

    // A SQLite file is reused when a sidecar says it holds the same demo.
    const QString metaPath = target.sqlitePath + QStringLiteral(".bench.json");
    const QJsonObject wanted{{QStringLiteral("lines"), double(o.lines)},
                             {QStringLiteral("seed"), QString::number(o.seed)},
                             {QStringLiteral("until"), result[QStringLiteral("until")]}};
    QJsonObject demo;
    bool reused = false;
    if (!pg && o.reuse && QFileInfo::exists(target.sqlitePath)) {
        QFile f(metaPath);
        if (f.open(QIODevice::ReadOnly)) {
            const QJsonObject meta = QJsonDocument::fromJson(f.readAll()).object();
            if (meta[QStringLiteral("demo_of")].toObject() == wanted) {
                Database db(target);
                if (hasSchema(db) &&
                    db.scalar(QStringLiteral("SELECT COUNT(*) FROM sales_line")).toLongLong() ==
                        o.lines) {
                    reused = true;
                    upgradeSchema(db);
                    demo = meta[QStringLiteral("demo")].toObject();
                    demo[QStringLiteral("reused")] = true;
                    progress(QStringLiteral("reusing %1 (%2 lines)")
                                 .arg(target.sqlitePath)
                                 .arg(o.lines));
                }
            }
        }
    }
    if (!reused && !o.skipDemo) {
        if (!pg)
            removeSqlite(target.sqlitePath);
        QFile::remove(metaPath);
        Database db(target);
        if (pg && hasSchema(db))
            dropSchema(db);
        createSchema(db);
        Store store(db);
        progress(QStringLiteral("generating %1 demo lines").arg(o.lines));
        demo = runDemo(store, o);
        progress(QStringLiteral("demo done in %1 s").arg(demo[QStringLiteral("total_s")].toDouble(), 0, 'f', 1));
        if (!pg) {
            QFile f(metaPath);
            if (f.open(QIODevice::WriteOnly))
                f.write(QJsonDocument(QJsonObject{{QStringLiteral("demo_of"), wanted},
                                                  {QStringLiteral("demo"), demo}})
                            .toJson());
        }
    }
    if (!demo.isEmpty())
        result[QStringLiteral("demo")] = demo;

    {
        Database db(target);
        Store store(db);
        QJsonObject info;
        if (pg) {
            // SHOW cannot be prepared; current_setting() can.
            for (const char* s : {"server_version", "shared_buffers", "work_mem", "fsync",
                                  "synchronous_commit", "jit", "max_parallel_workers_per_gather",
                                  "autovacuum"})
                info[QLatin1String(s)] =
                    db.scalar(QStringLiteral("SELECT current_setting(?)"), {QLatin1String(s)})
                        .toString();
            info[QStringLiteral("version")] = info[QStringLiteral("server_version")];
        } else {
            info[QStringLiteral("version")] =
                db.scalar(QStringLiteral("SELECT sqlite_version()")).toString();
            info[QStringLiteral("journal_mode")] =
                db.scalar(QStringLiteral("PRAGMA journal_mode")).toString();
            info[QStringLiteral("page_size")] =
                db.scalar(QStringLiteral("PRAGMA page_size")).toString();
        }
        result[QStringLiteral("info")] = info;

        // Generieren: every period of both companies, then the last month
        // alone (what a monthly close rebuilds).
        const int first = db.scalar(QStringLiteral("SELECT MIN(periode) FROM sales_line")).toInt();
        const int last = db.scalar(QStringLiteral("SELECT MAX(periode) FROM sales_line")).toInt();
        const qint64 total = db.scalar(QStringLiteral("SELECT COUNT(*) FROM sales_line")).toLongLong();
        result[QStringLiteral("lines")] = double(total);
        result[QStringLiteral("first_period")] = first;
        result[QStringLiteral("last_period")] = last;
        QJsonArray gens;
        double genLines = 0, genMs = 0;
        for (qint64 firma : {1, 2}) {
            const qint64 n = db.scalar(QStringLiteral("SELECT COUNT(*) FROM sales_line WHERE firma "
                                                      "= ? AND periode BETWEEN ? AND ?"),
                                       {firma, first, last})
                                 .toLongLong();
            progress(QStringLiteral("Generieren firma %1, %2..%3 (%4 lines)")
                         .arg(firma)
                         .arg(first)
                         .arg(last)
                         .arg(n));
            const auto t0 = Clock::now();
            store.generate(firma, first, last);
            const double ms = msSince(t0);
            genLines += double(n);
            genMs += ms;
            gens.append(QJsonObject{{QStringLiteral("firma"), double(firma)},
                                    {QStringLiteral("lines"), double(n)},
                                    {QStringLiteral("s"), ms / 1000},
                                    {QStringLiteral("lines_per_s"), double(n) / (ms / 1000)}});
        }
        const qint64 monthLines =
            db.scalar(QStringLiteral("SELECT COUNT(*) FROM sales_line WHERE firma = 1 AND periode = ?"),
                      {last})
                .toLongLong();
        std::vector<double> monthMs;
        for (int r = 0; r < 7; ++r) {
            const auto t0 = Clock::now();
            store.generate(1, last, last);
            monthMs.push_back(msSince(t0));
        }
        const Stats month = statsOf(monthMs);
        result[QStringLiteral("generate")] = QJsonObject{
            {QStringLiteral("companies"), gens},
            {QStringLiteral("lines"), genLines},
            {QStringLiteral("s"), genMs / 1000},
            {QStringLiteral("lines_per_s"), genLines / (genMs / 1000)},
            {QStringLiteral("month_lines"), double(monthLines)},
            {QStringLiteral("month"), toJson(month)},
            {QStringLiteral("month_lines_per_s"), double(monthLines) / (month.p50 / 1000)}};
        progress(QStringLiteral("Generieren: %1 lines/s")
                     .arg(qint64(genLines / (genMs / 1000))));
        // Steady state for the reads: fresh statistics, and on PostgreSQL a
        // vacuum so that autovacuum does not start in the middle of them.
        const auto t0 = Clock::now();
        db.execDirect(pg ? QStringLiteral("VACUUM ANALYZE") : QStringLiteral("ANALYZE"));
        result[QStringLiteral("analyze_s")] = msSince(t0) / 1000;
        if (pg)
            result[QStringLiteral("db_bytes")] = double(
                db.scalar(QStringLiteral("SELECT pg_database_size(current_database())")).toLongLong());
        else
            result[QStringLiteral("db_bytes")] = double(fileSizeWithWal(target.sqlitePath));
    }

    ServerFactory factory;
    if (!factory.connect(makeConnectString(pg ? server : target.sqlitePath, port))) {
        std::fprintf(stderr, "connect: %s\n", qPrintable(factory.lastConnectError()));
        return 1;
    }
    Database raw(target);
    Store rawStore(raw);

    // The report's 72 months, ending with the last demo month.
    QStringList periods;
    for (int k = 71; k >= 0; --k) {
        const int idx = o.untilYear * 12 + (o.untilMonth - 1) - k;
        periods << periodText(idx / 12, idx % 12 + 1);
    }
    const qint64 firma = 1;
    const QString F = QString::number(firma);
    const QStringList pcs = codesOf(rawStore.profitCentres(firma));
    const QStringList habts = codesOf(rawStore.mainDepartments(firma));
    const QStringList depts = codesOf(rawStore.departments(firma));
    const QStringList hgrps = codesOf(rawStore.mainGroups(firma));
    QStringList ugrps;
    for (const QString& h : hgrps)
        ugrps << codesOf(rawStore.subGroups(firma, h));
    const QStringList varts = codesOf(rawStore.shippingTypes(firma, QString()));
    const QStringList hvarts = column0(
        raw, QStringLiteral("SELECT DISTINCT hvart FROM versandart WHERE firma = ? ORDER BY hvart"),
        {firma});
    // Customer groups and article types have no master table; take the ones
    // the sales lines use.
    const QStringList hkgrps = column0(
        raw, QStringLiteral("SELECT DISTINCT hkgrp FROM sales_dim WHERE firma = ? ORDER BY hkgrp"),
        {firma});
    const QStringList styps = column0(
        raw, QStringLiteral("SELECT DISTINCT styp FROM sales_dim WHERE firma = ? ORDER BY styp"),
        {firma});
    // Profit centre and main department as they occur together.
    QList<QPair<QString, QString>> pcHabt;
    {
        QSqlQuery& q = raw.exec(QStringLiteral("SELECT DISTINCT pcnr, habtnr FROM abteilung WHERE "
                                               "firma = ? ORDER BY pcnr, habtnr"),
                                {firma});
        while (q.next())
            pcHabt.append({q.value(0).toString(), q.value(1).toString()});
        q.finish();
    }
    // Real full combinations for the nine-field detail key.
    QList<QStringList> combos;
    {
        QSqlQuery& q = raw.exec(QStringLiteral("SELECT pcnr, habtnr, abtnr, hgrp, ugrp, styp, "
                                               "hvart, vart, hkgrp FROM sales_dim WHERE firma = ? "
                                               "ORDER BY dimid"),
                                {firma});
        while (q.next()) {
            QStringList f;
            for (int i = 0; i < 9; ++i)
                f << q.value(i).toString();
            combos << f;
        }
        q.finish();
    }
    if (pcs.isEmpty() || depts.isEmpty() || hgrps.isEmpty() || ugrps.isEmpty() || hkgrps.isEmpty() ||
        hvarts.isEmpty() || styps.isEmpty() || pcHabt.isEmpty() || combos.isEmpty()) {
        std::fprintf(stderr, "the database has no master data or sales lines\n");
        return 1;
    }
    result[QStringLiteral("codes")] = QJsonObject{
        {QStringLiteral("pc"), int(pcs.size())},         {QStringLiteral("habt"), int(habts.size())},
        {QStringLiteral("abt"), int(depts.size())},      {QStringLiteral("hgrp"), int(hgrps.size())},
        {QStringLiteral("ugrp"), int(ugrps.size())},     {QStringLiteral("hkgrp"), int(hkgrps.size())},
        {QStringLiteral("hvart"), int(hvarts.size())},   {QStringLiteral("vart"), int(varts.size())},
        {QStringLiteral("styp"), int(styps.size())},     {QStringLiteral("dims"), int(combos.size())}};

    // Periods cycle over the 72 months; codes are drawn from the lists with
    // a fixed seed, so every run asks the same questions in the same order.
    const int n = std::max(o.calls, o.naiveCalls);
    auto pick = [](std::mt19937_64& r, const auto& list) {
        return list[qsizetype(r() % quint64(list.size()))];
    };
    struct SumCase {
        QString name;
        std::vector<QStringList> args;
    };
    std::vector<SumCase> sumCases;
    auto addSum = [&](const QString& name, const std::function<void(QStringList&, std::mt19937_64&)>& set) {
        std::mt19937_64 r(std::hash<std::string>{}(name.toStdString()) ^ o.seed);
        SumCase c{name, {}};
        for (int i = 0; i < n; ++i) {
            QStringList a(9);
            a[AFirma] = F;
            a[APeriod] = periods[i % periods.size()];
            set(a, r);
            c.args.push_back(a);
        }
        sumCases.push_back(std::move(c));
    };
    addSum(QStringLiteral("none"), [](QStringList&, std::mt19937_64&) {});
    addSum(QStringLiteral("profit centre"), [&](QStringList& a, auto& r) { a[APc] = pick(r, pcs); });
    addSum(QStringLiteral("main department"), [&](QStringList& a, auto& r) { a[AHabt] = pick(r, habts); });
    addSum(QStringLiteral("department"), [&](QStringList& a, auto& r) { a[AAbt] = pick(r, depts); });
    addSum(QStringLiteral("main group"), [&](QStringList& a, auto& r) { a[AHgrp] = pick(r, hgrps); });
    addSum(QStringLiteral("sub group"), [&](QStringList& a, auto& r) { a[AUgrp] = pick(r, ugrps); });
    addSum(QStringLiteral("customer group"), [&](QStringList& a, auto& r) { a[AHkgrp] = pick(r, hkgrps); });
    addSum(QStringLiteral("main shipping type"), [&](QStringList& a, auto& r) { a[AHvart] = pick(r, hvarts); });
    addSum(QStringLiteral("pc+habt+hgrp+hkgrp"), [&](QStringList& a, auto& r) {
        const auto& ph = pick(r, pcHabt);
        a[APc] = ph.first;
        a[AHabt] = ph.second;
        a[AHgrp] = pick(r, hgrps);
        a[AHkgrp] = pick(r, hkgrps);
    });
    addSum(QStringLiteral("abt+ugrp+hkgrp+hvart"), [&](QStringList& a, auto& r) {
        a[AAbt] = pick(r, depts);
        a[AUgrp] = pick(r, ugrps);
        a[AHkgrp] = pick(r, hkgrps);
        a[AHvart] = pick(r, hvarts);
    });

    auto plainCall = [&](const QStringList& a, QString* umsatz = nullptr, QString* marge = nullptr) {
        auto q = factory.query(QStringLiteral("ZKUmsatz.Daten"), QStringLiteral("PeriodenSumme"));
        q->execute(a);
        q->next();
        const QString u = q->column(1);
        const QString m = q->column(2);
        q->SYS_Close();
        if (umsatz)
            *umsatz = u;
        if (marge)
            *marge = m;
    };

    QJsonArray sums;
    for (const SumCase& c : sumCases) {
        progress(QStringLiteral("PeriodenSumme, %1").arg(c.name));
        const Selection probe = selectionOf(c.args[0]);
        const Stats st = timeCalls(o.warmup, o.calls, [&](int i) { plainCall(c.args[size_t(i)]); });
        std::vector<Sums> rawSums(size_t(o.naiveCalls));
        const Stats nv = timeCalls(std::min(3, o.naiveCalls), o.naiveCalls, [&](int i) {
            const QStringList& a = c.args[size_t(i)];
            const int p = parsePeriod(a[APeriod]);
            rawSums[size_t(i)] = rawStore.rawSum(firma, p, p, selectionOf(a));
        });
        // The pre-aggregated answer must equal the naive one.
        int mismatches = 0, nonZero = 0;
        for (int i = 0; i < o.naiveCalls; ++i) {
            QString u, m;
            plainCall(c.args[size_t(i)], &u, &m);
            const Sums& s = rawSums[size_t(i)];
            if (u != centsToText(s.umsatz) || m != centsToText(s.umsatz - s.kosten))
                ++mismatches;
        }
        for (int i = 0; i < o.calls; ++i) {
            QString u;
            plainCall(c.args[size_t(i)], &u);
            if (u != QLatin1String("0"))
                ++nonZero;
        }
        sums.append(QJsonObject{
            {QStringLiteral("name"), c.name},
            {QStringLiteral("restricted"), probe.restricted() ? int(dimColumns(probe.restricted()).size()) : 0},
            {QStringLiteral("table"),
             QLatin1String(pickLevel(plainLevels(), probe.restricted()).table)},
            {QStringLiteral("query"), toJson(st)},
            {QStringLiteral("naive"), toJson(nv)},
            {QStringLiteral("ratio_p50"), nv.p50 / st.p50},
            {QStringLiteral("non_zero"), double(nonZero) / double(o.calls)},
            {QStringLiteral("mismatches"), mismatches}});
        if (mismatches)
            progress(QStringLiteral("  %1 of %2 answers differ from the sales lines")
                         .arg(mismatches)
                         .arg(o.naiveCalls));
    }
    result[QStringLiteral("sums")] = sums;

    // ZKUmsatz.DatWH PeriodenSumme with detail keys.
    struct KeyCase {
        QString name;
        std::vector<QStringList> args;
    };
    std::vector<KeyCase> keyCases;
    auto addKey = [&](const QString& name, const std::function<QStringList(std::mt19937_64&)>& fields) {
        std::mt19937_64 r(std::hash<std::string>{}(name.toStdString()) ^ o.seed);
        KeyCase c{name, {}};
        for (int i = 0; i < o.calls; ++i)
            c.args.push_back({F, periods[i % periods.size()], detailKey(fields(r))});
        keyCases.push_back(std::move(c));
    };
    const QString e;
    // pc`habt`abt`hgrp`ugrp`styp`hvart`vart`hkgrp
    addKey(QStringLiteral("empty key"), [&](auto&) { return QStringList{}; });
    addKey(QStringLiteral("abt"), [&](auto& r) { return QStringList{e, e, pick(r, depts)}; });
    addKey(QStringLiteral("abt+hvart (``M2````L)"), [&](auto& r) {
        return QStringList{e, e, pick(r, depts), e, e, e, pick(r, hvarts)};
    });
    addKey(QStringLiteral("styp"), [&](auto& r) { return QStringList{e, e, e, e, e, pick(r, styps)}; });
    addKey(QStringLiteral("hgrp+ugrp+styp+vart"), [&](auto& r) {
        const QString u = pick(r, ugrps);
        return QStringList{e, e, e, u.left(2), u, pick(r, styps), e, pick(r, varts)};
    });
    addKey(QStringLiteral("all nine fields"), [&](auto& r) { return pick(r, combos); });
    QJsonArray wh;
    for (const KeyCase& c : keyCases) {
        progress(QStringLiteral("DatWH PeriodenSumme, %1").arg(c.name));
        int nonZero = 0;
        const Stats st = timeCalls(o.warmup, o.calls, [&](int i) {
            auto q = factory.query(QStringLiteral("ZKUmsatz.DatWH"), QStringLiteral("PeriodenSumme"));
            q->execute(c.args[size_t(i)]);
            q->next();
            QString v[4];
            for (int k = 0; k < 4; ++k)
                v[k] = q->column(k + 1);
            q->SYS_Close();
            if (v[0] != QLatin1String("0") || v[1] != QLatin1String("0"))
                ++nonZero;
        });
        wh.append(QJsonObject{{QStringLiteral("name"), c.name},
                              {QStringLiteral("example"), c.args[1][2]},
                              {QStringLiteral("query"), toJson(st)},
                              {QStringLiteral("non_zero"),
                               double(nonZero) / double(o.calls + o.warmup)}});
    }
    result[QStringLiteral("wh")] = wh;

    progress(QStringLiteral("whole fetches (period query + derived tables)"));
    result[QStringLiteral("fetch")] =
        fetchBench(pg ? server : target.sqlitePath, port, rawStore, o.fetchRounds, 2);

    QFile f(o.json);
    if (!f.open(QIODevice::WriteOnly)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(o.json));
        return 1;
    }
    f.write(QJsonDocument(result).toJson());
    progress(QStringLiteral("wrote %1").arg(o.json));
    return 0;
}

// --- the report ---------------------------------------------------------------

QString ms(double v) {
    if (v >= 100)
        return QString::number(v, 'f', 0);
    if (v >= 10)
        return QString::number(v, 'f', 1);
    if (v >= 1)
        return QString::number(v, 'f', 2);
    return QString::number(v, 'f', 3);
}

QString grouped(double v) {
    QString s = QString::number(qint64(std::llround(v)));
    for (int i = int(s.size()) - 3; i > (s.startsWith(QLatin1Char('-')) ? 1 : 0); i -= 3)
        s.insert(i, QLatin1Char(','));
    return s;
}

// Period code 12611 -> "2026-11".
QString monthOf(int period) {
    return QStringLiteral("%1-%2").arg(1900 + period / 100).arg(period % 100, 2, 10, QLatin1Char('0'));
}

// Markdown code span around text that itself holds runs of backticks.
QString codeSpan(const QString& text) {
    int longest = 0, run = 0;
    for (QChar c : text) {
        run = c == QLatin1Char('`') ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    const QString fence(longest + 1, QLatin1Char('`'));
    return fence + QLatin1Char(' ') + text + QLatin1Char(' ') + fence;
}

QString cpuModel() {
    QFile f(QStringLiteral("/proc/cpuinfo"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& l : f.readAll().split('\n'))
            if (l.startsWith("model name"))
                return QString::fromUtf8(l.mid(l.indexOf(':') + 1)).trimmed();
    return QStringLiteral("unknown");
}

QString memTotal() {
    QFile f(QStringLiteral("/proc/meminfo"));
    if (f.open(QIODevice::ReadOnly))
        for (const QByteArray& l : f.readAll().split('\n'))
            if (l.startsWith("MemTotal:"))
                return QString::number(l.mid(9).trimmed().split(' ').first().toDouble() / 1048576.0,
                                       'f', 1) +
                       QStringLiteral(" GiB");
    return QStringLiteral("unknown");
}

int report(const QStringList& files, const QString& command) {
    QList<QJsonObject> runs;
    for (const QString& path : files) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly)) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(path));
            return 1;
        }
        runs << QJsonDocument::fromJson(f.readAll()).object();
    }
    if (runs.isEmpty())
        return 2;
    QTextStream out(stdout);
    const QJsonObject& r0 = runs.first();
    auto eng = [](const QJsonObject& r) { return r[QStringLiteral("engine")].toString(); };
    auto num = [](const QJsonValue& v) { return v.toDouble(); };
    auto stat = [](const QJsonObject& o, const char* k) {
        return o[QLatin1String(k)].toDouble();
    };
    auto target = [&](const QJsonObject& r) {
        return eng(r) == QLatin1String("SQLite") ? 0.3 : 1.5;
    };

    out << "# Server benchmarks, " << QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))
        << "\n\n";
    if (!command.isEmpty())
        out << "Command: `" << command << "`\n\n";
    out << "## Machine and setup\n\n";
    out << "- CPU: " << cpuModel() << ", nproc " << sysconf(_SC_NPROCESSORS_ONLN) << ", RAM "
        << memTotal() << "\n";
    out << "- OS: " << QSysInfo::prettyProductName() << ", kernel " << QSysInfo::kernelVersion()
        << "; Qt " << qVersion() << "; compiler " << __VERSION__ << ", " << TALLVERO_BENCH_BUILD_TYPE
        << " build\n";
    for (const QJsonObject& r : runs) {
        const QJsonObject i = r[QStringLiteral("info")].toObject();
        out << "- " << eng(r) << " " << i[QStringLiteral("version")].toString() << ": "
            << r[QStringLiteral("target")].toString();
        if (eng(r) == QLatin1String("SQLite"))
            out << " (journal " << i[QStringLiteral("journal_mode")].toString() << ", page size "
                << i[QStringLiteral("page_size")].toString() << ")";
        else
            out << ", throwaway cluster on loopback (fsync " << i[QStringLiteral("fsync")].toString()
                << ", shared_buffers " << i[QStringLiteral("shared_buffers")].toString()
                << ", work_mem " << i[QStringLiteral("work_mem")].toString() << ", jit "
                << i[QStringLiteral("jit")].toString() << ", parallel workers per gather "
                << i[QStringLiteral("max_parallel_workers_per_gather")].toString() << ")";
        out << "; database size " << QString::number(num(r[QStringLiteral("db_bytes")]) / 1048576.0, 'f', 0)
            << " MiB\n";
    }
    out << "- Data: demo generator, seed " << r0[QStringLiteral("seed")].toString() << ", "
        << grouped(num(r0[QStringLiteral("lines")])) << " sales lines in two companies, periods "
        << r0[QStringLiteral("first_period")].toInt() << "–" << r0[QStringLiteral("last_period")].toInt()
        << " (" << monthOf(r0[QStringLiteral("first_period")].toInt()) << " to "
        << monthOf(r0[QStringLiteral("last_period")].toInt()) << ")\n";
    const QJsonObject codes = r0[QStringLiteral("codes")].toObject();
    out << "- Queries: company 1, periods cycling over the 72 months up to the last one; codes drawn "
           "with a fixed seed from the master data ("
        << codes[QStringLiteral("pc")].toInt() << " profit centres, " << codes[QStringLiteral("habt")].toInt()
        << " main departments, " << codes[QStringLiteral("abt")].toInt() << " departments, "
        << codes[QStringLiteral("hgrp")].toInt() << " main groups, " << codes[QStringLiteral("ugrp")].toInt()
        << " sub groups, " << codes[QStringLiteral("hkgrp")].toInt() << " customer groups, "
        << codes[QStringLiteral("hvart")].toInt() << " main shipping types; the nine-field keys from "
        << codes[QStringLiteral("dims")].toInt() << " real code combinations)\n";
    out << "- Each query kind: " << r0[QStringLiteral("calls")].toInt() << " timed calls after "
        << r0[QStringLiteral("warmup")].toInt()
        << " warm-up calls; every call goes through `ServerFactory` as the client makes it "
           "(query, execute, next, column, SYS_Close). The naive sums: "
        << r0[QStringLiteral("naive_calls")].toInt()
        << " calls of `Store::rawSum` over the same arguments, on a second connection. "
           "Percentiles are nearest-rank.\n\n";

    // Summary.
    out << "## Summary\n\n| measurement |";
    for (const QJsonObject& r : runs)
        out << " " << eng(r) << " |";
    out << " target |\n|---|";
    for (int i = 0; i < runs.size(); ++i)
        out << "---|";
    out << "---|\n";
    auto sumRow = [&](const QString& label, const std::function<bool(const QJsonObject&)>& which) {
        out << "| " << label << ", p50 / p99 ms |";
        QStringList verdict;
        for (const QJsonObject& r : runs) {
            double p50 = 0, p99 = 0;
            for (const QJsonValue& v : r[QStringLiteral("sums")].toArray()) {
                const QJsonObject s = v.toObject();
                if (!which(s))
                    continue;
                const QJsonObject q = s[QStringLiteral("query")].toObject();
                p50 = std::max(p50, stat(q, "p50"));
                p99 = std::max(p99, stat(q, "p99"));
            }
            out << " " << ms(p50) << " / " << ms(p99) << " |";
            verdict << QStringLiteral("%1 ≤ %2 %3")
                           .arg(eng(r))
                           .arg(target(r))
                           .arg(p50 <= target(r) ? QStringLiteral("met") : QStringLiteral("**not met**"));
        }
        out << " p50 " << verdict.join(QStringLiteral(", ")) << " |\n";
    };
    auto named = [](const char* n) {
        return [n](const QJsonObject& s) { return s[QStringLiteral("name")].toString() == QLatin1String(n); };
    };
    sumRow(QStringLiteral("`PeriodenSumme`, no restriction"), named("none"));
    sumRow(QStringLiteral("one restriction (worst of 7 kinds)"),
           [](const QJsonObject& s) { return s[QStringLiteral("restricted")].toInt() == 1; });
    sumRow(QStringLiteral("four restrictions, pc+habt+hgrp+hkgrp"), named("pc+habt+hgrp+hkgrp"));
    sumRow(QStringLiteral("four restrictions, abt+ugrp+hkgrp+hvart"), named("abt+ugrp+hkgrp+hvart"));
    out << "| naive sum from the sales lines, p50 ms (naive / pre-aggregated) |";
    for (const QJsonObject& r : runs) {
        double lo = 1e300, hi = 0, rlo = 1e300, rhi = 0;
        for (const QJsonValue& v : r[QStringLiteral("sums")].toArray()) {
            const QJsonObject s = v.toObject();
            const double p = stat(s[QStringLiteral("naive")].toObject(), "p50");
            lo = std::min(lo, p);
            hi = std::max(hi, p);
            rlo = std::min(rlo, num(s[QStringLiteral("ratio_p50")]));
            rhi = std::max(rhi, num(s[QStringLiteral("ratio_p50")]));
        }
        out << " " << ms(lo) << "–" << ms(hi) << " (" << grouped(rlo) << "–" << grouped(rhi) << "×) |";
    }
    out << " – |\n";
    out << "| `DatWH` `PeriodenSumme` with a detail key, p50 / p99 ms (worst kind) |";
    for (const QJsonObject& r : runs) {
        double p50 = 0, p99 = 0;
        for (const QJsonValue& v : r[QStringLiteral("wh")].toArray()) {
            const QJsonObject q = v.toObject()[QStringLiteral("query")].toObject();
            p50 = std::max(p50, stat(q, "p50"));
            p99 = std::max(p99, stat(q, "p99"));
        }
        out << " " << ms(p50) << " / " << ms(p99) << " |";
    }
    out << " – |\n";
    out << "| `Generieren`, all periods of companies 1 and 2 |";
    QString genVerdict = QStringLiteral("–");
    for (const QJsonObject& r : runs) {
        const QJsonObject g = r[QStringLiteral("generate")].toObject();
        const double lps = num(g[QStringLiteral("lines_per_s")]);
        out << " " << QString::number(num(g[QStringLiteral("s")]), 'f', 1) << " s = **" << grouped(lps)
            << " lines/s** |";
        if (eng(r) == QLatin1String("SQLite"))
            genVerdict = QStringLiteral("≥ 1,000,000 lines/s on SQLite: %1")
                             .arg(lps >= 1e6 ? QStringLiteral("met") : QStringLiteral("**not met**"));
    }
    out << " " << genVerdict << " |\n";
    out << "| `Generieren`, last month of company 1 only (p50 of 7) |";
    for (const QJsonObject& r : runs) {
        const QJsonObject g = r[QStringLiteral("generate")].toObject();
        out << " " << ms(stat(g[QStringLiteral("month")].toObject(), "p50")) << " ms = "
            << grouped(num(g[QStringLiteral("month_lines_per_s")])) << " lines/s |";
    }
    out << " – |\n";
    out << "| demo generation, lines/s (whole run incl. index, rebuild, ANALYZE) |";
    for (const QJsonObject& r : runs) {
        const QJsonObject d = r[QStringLiteral("demo")].toObject();
        if (d.isEmpty()) {
            out << " not run |";
            continue;
        }
        const double lines = num(d[QStringLiteral("lines")]);
        out << " " << grouped(lines / num(d[QStringLiteral("total_s")])) << " (writing the lines: "
            << grouped(lines / num(d[QStringLiteral("write_s")])) << ")"
            << (d[QStringLiteral("reused")].toBool() ? QStringLiteral("¹") : QString()) << " |";
    }
    out << " – |\n\n";
    for (const QJsonObject& r : runs)
        if (r[QStringLiteral("demo")].toObject()[QStringLiteral("reused")].toBool())
            out << "¹ " << eng(r) << ": the database file was reused; the demo figures are those of the run "
                << "that generated it (" << r[QStringLiteral("demo")].toObject()[QStringLiteral("generated_at")].toString()
                << ").\n\n";

    // Whole fetches.
    bool anyFetch = false;
    for (const QJsonObject& r : runs)
        anyFetch = anyFetch || r.contains(QStringLiteral("fetch"));
    if (anyFetch) {
        out << "## A whole fetch (F5): period query and derived tables\n\n"
               "`retrieval::runPeriodQuery` through a logged-in session and `ServerFactory`, clock at "
               "15 December 2026 (72 months, 2021-01 to 2026-12), then `AbsolutMittel`; "
               "naive: one sum over the raw sales lines per month (`Store::rawSum`), 72 per fetch.\n\n"
               "| fetch |";
        for (const QJsonObject& r : runs)
            out << " " << eng(r) << " p50 / p99 ms | naive p50 ms (ratio) |";
        out << " target |\n|---|";
        for (qsizetype i = 0; i < runs.size(); ++i)
            out << "---|---|";
        out << "---|\n";
        const QJsonArray first = runs.first()[QStringLiteral("fetch")].toObject()[QStringLiteral("cases")].toArray();
        for (qsizetype c = 0; c < first.size(); ++c) {
            const QString name = first[c].toObject()[QStringLiteral("name")].toString();
            out << "| " << name << " |";
            for (const QJsonObject& r : runs) {
                const QJsonObject row =
                    r[QStringLiteral("fetch")].toObject()[QStringLiteral("cases")].toArray().at(c).toObject();
                const QJsonObject f = row[QStringLiteral("fetch")].toObject();
                const QJsonObject n = row[QStringLiteral("naive")].toObject();
                out << " " << ms(num(f[QStringLiteral("p50")])) << " / " << ms(num(f[QStringLiteral("p99")]))
                    << " | " << ms(num(n[QStringLiteral("p50")])) << " ("
                    << grouped(num(n[QStringLiteral("p50")]) / num(f[QStringLiteral("p50")])) << "×"
                    << (row[QStringLiteral("naive_equal")].toBool() ? QString() : QStringLiteral(", SUMS DIFFER"))
                    << ") |";
            }
            out << (name.startsWith(QLatin1String("plain")) ? " ≤ 50 ms SQLite, ≤ 150 ms PostgreSQL |" : " – |")
                << "\n";
        }
        out << "\n`AbsolutMittel` alone (µs per call, 20,000 calls on the last fetch's figures):";
        for (const QJsonObject& r : runs) {
            double worst = 0;
            for (const QJsonValue v : r[QStringLiteral("fetch")].toObject()[QStringLiteral("absolut_mittel")].toArray())
                worst = std::max(worst, num(v.toObject()[QStringLiteral("us_per_call")]));
            out << " " << eng(r) << " run: worst of the three views with and without DB percent "
                << QString::number(worst, 'f', 2) << " µs;";
        }
        out << " target ≤ 20 µs.\n\n";
    }

    // Details per engine.
    for (const QJsonObject& r : runs) {
        out << "## " << eng(r) << "\n\n";
        out << "### `ZKUmsatz.Daten` `PeriodenSumme`, one month\n\n";
        out << "| restriction | table read | p50 ms | p99 ms | mean ms | max ms | answers ≠ 0 | naive p50 ms | "
               "naive p99 ms | naive / pre-aggregated (p50) | equal to naive |\n";
        out << "|---|---|---|---|---|---|---|---|---|---|---|\n";
        for (const QJsonValue& v : r[QStringLiteral("sums")].toArray()) {
            const QJsonObject s = v.toObject();
            const QJsonObject q = s[QStringLiteral("query")].toObject();
            const QJsonObject nv = s[QStringLiteral("naive")].toObject();
            const int mism = s[QStringLiteral("mismatches")].toInt();
            out << "| " << s[QStringLiteral("name")].toString() << " | " << s[QStringLiteral("table")].toString()
                << " | " << ms(stat(q, "p50")) << " | " << ms(stat(q, "p99")) << " | " << ms(stat(q, "mean"))
                << " | " << ms(stat(q, "max")) << " | "
                << QString::number(100 * num(s[QStringLiteral("non_zero")]), 'f', 0) << " % | "
                << ms(stat(nv, "p50")) << " | " << ms(stat(nv, "p99")) << " | "
                << grouped(num(s[QStringLiteral("ratio_p50")])) << "× | "
                << (mism ? QStringLiteral("**%1 differ**").arg(mism)
                         : QStringLiteral("%1 of %1").arg(nv[QStringLiteral("n")].toInt()))
                << " |\n";
        }
        out << "\n### `ZKUmsatz.DatWH` `PeriodenSumme`, one month\n\n";
        out << "| detail key | example | p50 ms | p99 ms | mean ms | max ms | answers ≠ 0 |\n|---|---|---|---|---|---|---|\n";
        for (const QJsonValue& v : r[QStringLiteral("wh")].toArray()) {
            const QJsonObject s = v.toObject();
            const QJsonObject q = s[QStringLiteral("query")].toObject();
            const QString ex = s[QStringLiteral("example")].toString();
            out << "| " << QString(s[QStringLiteral("name")].toString()).replace(QLatin1Char('`'), QStringLiteral("\\`"))
                << " | " << (ex.isEmpty() ? QStringLiteral("(empty)") : codeSpan(ex)) << " | " << ms(stat(q, "p50"))
                << " | " << ms(stat(q, "p99")) << " | " << ms(stat(q, "mean")) << " | " << ms(stat(q, "max"))
                << " | " << QString::number(100 * num(s[QStringLiteral("non_zero")]), 'f', 0) << " % |\n";
        }
        const QJsonObject g = r[QStringLiteral("generate")].toObject();
        out << "\n### `Generieren` (Store::generate)\n\n| run | lines covered | seconds | lines/s |\n|---|---|---|---|\n";
        for (const QJsonValue& v : g[QStringLiteral("companies")].toArray()) {
            const QJsonObject c = v.toObject();
            out << "| company " << c[QStringLiteral("firma")].toInt() << ", periods "
                << r[QStringLiteral("first_period")].toInt() << "–" << r[QStringLiteral("last_period")].toInt()
                << " | " << grouped(num(c[QStringLiteral("lines")])) << " | "
                << QString::number(num(c[QStringLiteral("s")]), 'f', 2) << " | "
                << grouped(num(c[QStringLiteral("lines_per_s")])) << " |\n";
        }
        out << "| both companies | " << grouped(num(g[QStringLiteral("lines")])) << " | "
            << QString::number(num(g[QStringLiteral("s")]), 'f', 2) << " | **"
            << grouped(num(g[QStringLiteral("lines_per_s")])) << "** |\n";
        const QJsonObject m = g[QStringLiteral("month")].toObject();
        out << "| company 1, period " << r[QStringLiteral("last_period")].toInt() << " alone (p50 of "
            << m[QStringLiteral("n")].toInt() << ", min " << ms(stat(m, "min")) << " ms, max " << ms(stat(m, "max"))
            << " ms) | " << grouped(num(g[QStringLiteral("month_lines")])) << " | "
            << QString::number(stat(m, "p50") / 1000, 'f', 3) << " | "
            << grouped(num(g[QStringLiteral("month_lines_per_s")])) << " |\n";
        out << "\nAfterwards `" << (eng(r) == QLatin1String("SQLite") ? "ANALYZE" : "VACUUM ANALYZE")
            << "` took " << QString::number(num(r[QStringLiteral("analyze_s")]), 'f', 1)
            << " s (run before the queries so that the planner has statistics"
            << (eng(r) == QLatin1String("SQLite") ? QString() : QStringLiteral(" and autovacuum does not start during them"))
            << ").\n";
        const QJsonObject d = r[QStringLiteral("demo")].toObject();
        if (!d.isEmpty()) {
            const double lines = num(d[QStringLiteral("lines")]);
            out << "\n### Demo generation (generateDemo)"
                << (d[QStringLiteral("reused")].toBool()
                        ? QStringLiteral(", from the run that created the file (%1)")
                              .arg(d[QStringLiteral("generated_at")].toString())
                        : QString())
                << "\n\n| stage | seconds | lines/s |\n|---|---|---|\n";
            out << "| master data and writing the sales lines | " << QString::number(num(d[QStringLiteral("write_s")]), 'f', 1)
                << " | " << grouped(lines / num(d[QStringLiteral("write_s")])) << " |\n";
            out << "| building the sales index | " << QString::number(num(d[QStringLiteral("index_s")]), 'f', 1) << " | |\n";
            out << "| rebuilding the period sums | " << QString::number(num(d[QStringLiteral("rebuild_s")]), 'f', 1) << " | |\n";
            out << "| ANALYZE | " << QString::number(num(d[QStringLiteral("analyze_s")]), 'f', 1) << " | |\n";
            out << "| **total** | " << QString::number(num(d[QStringLiteral("total_s")]), 'f', 1) << " | **"
                << grouped(lines / num(d[QStringLiteral("total_s")])) << "** |\n";
        }
        out << "\n";
    }
    out.flush();
    return 0;
}

// Only the whole fetches, on a database filled some other way (bench/import.sh):
// no naive sums, which take minutes on a hundred million lines.
int runFetchOnly(const QString& db, const QString& port, int rounds, const QString& json) {
    QString server = db, p = port;
    if (server == QLatin1String("pg-env")) {
        const QString env = qEnvironmentVariable("TALLVERO_TEST_PG");
        const int colon = int(env.lastIndexOf(QLatin1Char(':')));
        server = env.left(colon);
        p = env.mid(colon + 1);
    }
    const DatabaseTarget target = targetFor({server, p, QStringLiteral("ZORVEK")});
    Database d(target);
    Store store(d);
    progress(QStringLiteral("whole fetches on %1").arg(describe(target)));
    const QJsonObject r = fetchBench(
        target.engine == Engine::Postgres ? server : target.sqlitePath, p, store, rounds, 0);
    QFile f(json);
    if (!f.open(QIODevice::WriteOnly))
        return 1;
    f.write(QJsonDocument(r).toJson());
    return r.contains(QStringLiteral("error")) ? 1 : 0;
}

void usage() {
    std::fprintf(stderr,
                 "usage: server_bench --db FILE.sqlite|HOST|pg-env [--port P] [--lines N] [--calls N]\n"
                 "                    [--naive-calls N] [--seed S] [--reuse] [--skip-demo]\n"
                 "                    [--fetch-rounds N] --json OUT\n"
                 "       server_bench --report [--command TEXT] RUN.json...\n"
                 "       server_bench --fetch-only --db FILE.sqlite|HOST|pg-env [--port P]\n"
                 "                    [--fetch-rounds N] --json OUT\n");
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    try {
        if (a.contains(QStringLiteral("--report"))) {
            QStringList files;
            for (int i = 1; i < a.size(); ++i) {
                if (a[i] == QLatin1String("--report"))
                    continue;
                if (a[i] == QLatin1String("--command")) {
                    ++i;
                    continue;
                }
                files << a[i];
            }
            return report(files, arg(a, "--command"));
        }
        if (a.contains(QStringLiteral("--fetch-only")))
            return runFetchOnly(arg(a, "--db"), arg(a, "--port", QStringLiteral("5432")),
                                arg(a, "--fetch-rounds", QStringLiteral("20")).toInt(),
                                arg(a, "--json"));
        RunOptions o;
        o.server = arg(a, "--db");
        o.port = arg(a, "--port", QStringLiteral("5432"));
        o.lines = arg(a, "--lines", QStringLiteral("10000000")).toLongLong();
        o.calls = arg(a, "--calls", QStringLiteral("2000")).toInt();
        o.naiveCalls = arg(a, "--naive-calls", QStringLiteral("100")).toInt();
        o.seed = arg(a, "--seed", QStringLiteral("20241")).toULongLong();
        o.reuse = a.contains(QStringLiteral("--reuse"));
        o.skipDemo = a.contains(QStringLiteral("--skip-demo"));
        o.fetchRounds = arg(a, "--fetch-rounds", QStringLiteral("20")).toInt();
        o.json = arg(a, "--json");
        if (o.server.isEmpty() || o.json.isEmpty() || o.lines <= 0 || o.calls <= 0 || o.naiveCalls <= 0) {
            usage();
            return 2;
        }
        return runBench(o);
    } catch (const CacheError& e) {
        std::fprintf(stderr, "error %d: %s\n", e.number(), qPrintable(e.description()));
        return 1;
    }
}
