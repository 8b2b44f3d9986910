// Benchmarks of the server component: period sums through the factory,
// the same sums from the raw lines, the rebuild and the demo generator.
//
//   server_bench --db TARGET [--port P] [--lines N] [--calls N] [--skip-demo]
//
// TARGET is a .sqlite file or a PostgreSQL host (database from
// TALLVERO_PG_DATABASE, default zorvek). Without --skip-demo the database is
// emptied and filled with N demo lines first. Prints a Markdown report.

#include "platform/cache/ConnectString.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace cache;
using namespace cache::server;

namespace {

QTextStream out(stdout);

struct Stats {
    double p50 = 0, p99 = 0, mean = 0;
};

Stats measure(int calls, const std::function<void(int)>& f) {
    std::vector<double> ms;
    ms.reserve(size_t(calls));
    for (int i = 0; i < 20; ++i)  // warm caches and prepared statements
        f(i);
    for (int i = 0; i < calls; ++i) {
        QElapsedTimer t;
        t.start();
        f(i);
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    Stats s;
    s.p50 = ms[ms.size() / 2];
    s.p99 = ms[std::min(ms.size() - 1, size_t(double(ms.size()) * 0.99))];
    double sum = 0;
    for (double v : ms)
        sum += v;
    s.mean = sum / double(ms.size());
    return s;
}

QString arg(const QStringList& a, const char* name, const QString& def = {}) {
    const int i = int(a.indexOf(QLatin1String(name)));
    return i >= 0 && i + 1 < a.size() ? a[i + 1] : def;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    const QString server = arg(a, "--db");
    if (server.isEmpty()) {
        std::fprintf(stderr, "usage: server_bench --db FILE.sqlite|HOST [--port P] [--lines N] "
                             "[--calls N] [--skip-demo]\n");
        return 2;
    }
    const QString port = arg(a, "--port", QStringLiteral("5432"));
    const qint64 lines = arg(a, "--lines", QStringLiteral("10000000")).toLongLong();
    const int calls = arg(a, "--calls", QStringLiteral("2000")).toInt();
    const DatabaseTarget target = targetFor({server, port, QStringLiteral("ZORVEK")});
    const bool pg = target.engine == Engine::Postgres;

    out << "## " << (pg ? "PostgreSQL" : "SQLite") << " — " << describe(target) << "\n\n";
    {
        Database db(target);
        Store store(db);
        if (!a.contains(QStringLiteral("--skip-demo"))) {
            dropSchema(db);
            createSchema(db);
            DemoOptions o;
            o.seed = 20241;
            o.lines = lines;
            o.untilYear = 2026;
            o.untilMonth = 11;
            QElapsedTimer t;
            t.start();
            qint64 rebuildStart = 0;
            generateDemo(store, o, [&](const DemoProgress& p) {
                if (rebuildStart == 0 && p.stage.startsWith(QStringLiteral("Periodensummen")))
                    rebuildStart = t.nsecsElapsed();
            });
            const double insertS = double(rebuildStart) / 1e9;
            out << "| demo generation (lines written, without rebuild) | " << lines << " lines | "
                << QString::number(insertS, 'f', 1) << " s | "
                << qint64(double(lines) / insertS) << " lines/s |\n";
            out << "|---|---|---|---|\n\n";
        }
        // The rebuild of every period of both companies.
        const QVariant first = db.scalar(QStringLiteral("SELECT MIN(periode) FROM sales_line"));
        const QVariant last = db.scalar(QStringLiteral("SELECT MAX(periode) FROM sales_line"));
        const qint64 n = db.scalar(QStringLiteral("SELECT COUNT(*) FROM sales_line")).toLongLong();
        QElapsedTimer t;
        t.start();
        for (qint64 firma : {1, 2})
            store.generate(firma, first.toInt(), last.toInt());
        const double s = double(t.nsecsElapsed()) / 1e9;
        out << "| Generieren, all periods " << first.toInt() << "–" << last.toInt() << " | " << n
            << " lines | " << QString::number(s, 'f', 1) << " s | " << qint64(double(n) / s)
            << " lines/s |\n|---|---|---|---|\n\n";
        db.execDirect(QStringLiteral("ANALYZE"));
    }

    ServerFactory factory;
    if (!factory.connect(makeConnectString(server, port))) {
        std::fprintf(stderr, "connect: %s\n", qPrintable(factory.lastConnectError()));
        return 1;
    }
    // Periods cycle over the 72 months of the report, codes over real ones.
    QStringList periods;
    for (int y = 2021; y <= 2026; ++y)
        for (int m = 1; m <= 12; ++m)
            if (y < 2026 || m <= 11)
                periods << QString::number((y - 1900) * 100 + m);
    const QStringList depts = {"M1", "M2", "M3", "M4", "M5", "M6", "M8", "MA", "MD", "B2"};
    const QStringList groups = {"10", "20", "30", "40", "50", "60", "70", "80", "90"};
    const QStringList pcs = {"1", "2", "3"};
    const QStringList habts = {"10", "20", "30"};

    // Plain query arguments: firma, period, hgrp, ugrp, pc, habt, abt, hkgrp, hvart.
    struct Case {
        const char* name;
        std::function<QStringList(int)> args;
        Selection (*sel)(const QStringList&);
    };
    auto selOf = [](const QStringList& x) {
        Selection s;
        s[3] = x[2];
        s[4] = x[3];
        s[0] = x[4];
        s[1] = x[5];
        s[2] = x[6];
        s[5] = x[7];
        s[6] = x[8];
        return s;
    };
    const QString e;
    const std::vector<std::pair<const char*, std::function<QStringList(int)>>> cases = {
        {"no restriction", [&](int i) { return QStringList{"1", periods[i % periods.size()], e, e, e, e, e, e, e}; }},
        {"1 restriction: department", [&](int i) { return QStringList{"1", periods[i % periods.size()], e, e, e, e, depts[i % 10], e, e}; }},
        {"1 restriction: main group", [&](int i) { return QStringList{"1", periods[i % periods.size()], groups[i % 9], e, e, e, e, e, e}; }},
        {"1 restriction: customer group", [&](int i) { return QStringList{"1", periods[i % periods.size()], e, e, e, e, e, i % 2 ? "P" : "G", e}; }},
        {"4 restrictions: pc+habt+hgrp+hkgrp", [&](int i) { return QStringList{"1", periods[i % periods.size()], groups[i % 9], e, pcs[i % 3], habts[i % 3], e, i % 2 ? "P" : "G", e}; }},
        {"4 restrictions: abt+ugrp+hkgrp+hvart", [&](int i) { return QStringList{"1", periods[i % periods.size()], groups[i % 9], groups[i % 9] + "0" + QString::number(1 + i % 4), e, e, depts[i % 10], i % 2 ? "P" : "G", i % 3 ? "L" : "S"}; }},
    };

    Database raw(target);
    Store rawStore(raw);
    out << "| PeriodenSumme, one month | p50 ms | p99 ms | naive from sales lines p50 ms | ratio naive/p50 |\n";
    out << "|---|---|---|---|---|\n";
    for (const auto& [name, args] : cases) {
        const Stats st = measure(calls, [&](int i) {
            auto q = factory.query(QStringLiteral("ZKUmsatz.Daten"), QStringLiteral("PeriodenSumme"));
            q->execute(args(i));
            q->next();
            (void)q->column(1);
            (void)q->column(2);
            q->SYS_Close();
        });
        const Stats naive = measure(std::max(20, calls / 20), [&](int i) {
            const QStringList x = args(i);
            rawStore.rawSum(1, x[1].toInt(), x[1].toInt(), selOf(x));
        });
        out << "| " << name << " | " << QString::number(st.p50, 'f', 3) << " | "
            << QString::number(st.p99, 'f', 3) << " | " << QString::number(naive.p50, 'f', 2) << " | "
            << QString::number(naive.p50 / st.p50, 'f', 0) << "× |\n";
    }
    out << "\n";

    // Extended form: detail key pc`habt`abt`hgrp`ugrp`styp`hvart`vart`hkgrp.
    const std::vector<std::pair<const char*, std::function<QString(int)>>> keys = {
        {"article type only", [&](int i) { return QStringLiteral("`````") + QString("LBW"[i % 3]); }},
        {"department + article type", [&](int i) { return QStringLiteral("``") + depts[i % 10] + QStringLiteral("```") + QString("LBW"[i % 3]); }},
        {"department + sub group + article type + shipping type", [&](int i) { return QStringLiteral("``") + depts[i % 10] + QStringLiteral("`") + groups[i % 9] + QStringLiteral("`") + groups[i % 9] + QStringLiteral("01`") + QString("LBW"[i % 3]) + QStringLiteral("``01"); }},
    };
    out << "| DatWH PeriodenSumme, one month | p50 ms | p99 ms |\n|---|---|---|\n";
    for (const auto& [name, key] : keys) {
        const Stats st = measure(calls, [&](int i) {
            auto q = factory.query(QStringLiteral("ZKUmsatz.DatWH"), QStringLiteral("PeriodenSumme"));
            q->execute({QStringLiteral("1"), periods[i % periods.size()], key(i)});
            q->next();
            (void)q->column(4);
            q->SYS_Close();
        });
        out << "| " << name << " | " << QString::number(st.p50, 'f', 3) << " | "
            << QString::number(st.p99, 'f', 3) << " |\n";
    }
    out << "\n";
    out.flush();
    return 0;
}
