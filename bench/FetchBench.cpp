#include "FetchBench.h"

#include "platform/cache/server/ServerFactory.h"
#include "platform/clock/FakeClock.h"
#include "platform/settings/SettingsStore.h"
#include "platform/ui/ScriptedUi.h"
#include "retrieval/PeriodQuery.h"
#include "server/MemoryDialogs.h"
#include "server/Records.h"
#include "server/Session.h"
#include "values/ValueStore.h"
#include "windows/ProgramLog.h"

#include <QJsonArray>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace {

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

QJsonObject stats(std::vector<double> ms) {
    if (ms.empty())
        return {{QStringLiteral("n"), 0}};
    std::sort(ms.begin(), ms.end());
    auto rank = [&](double q) {
        const size_t r = size_t(std::ceil(q * double(ms.size())));
        return ms[std::clamp<size_t>(r, 1, ms.size()) - 1];
    };
    double sum = 0;
    for (double v : ms)
        sum += v;
    return {
        {QStringLiteral("n"), int(ms.size())}, {QStringLiteral("p50"), rank(0.5)},
        {QStringLiteral("p99"), rank(0.99)},   {QStringLiteral("min"), ms.front()},
        {QStringLiteral("max"), ms.back()},    {QStringLiteral("mean"), sum / double(ms.size())}};
}

struct Host : retrieval::PeriodQueryHost {
    retrieval::Selection sel;
    int clockMonth = 12;
    retrieval::Selection readSelection() override { return sel; }
    bool departmentChosen() const override { return true; }
    void redraw() override { values::AbsolutMittel(values::store(), clockMonth, false); }
};

struct Case {
    const char* name;
    retrieval::Selection sel;
    cache::server::Selection raw;
};

} // namespace

QJsonObject fetchBench(const QString& server, const QString& port, cache::server::Store& rawStore,
                       int rounds, int naiveRounds) {
    // The clock in December of the year after the demo's first five years:
    // all 72 months are asked for.
    platform::FakeClock clock(QDateTime(QDate(2026, 12, 15), QTime(9, 0), Qt::UTC));
    platform::ScriptedUi ui(&clock);
    platform::MemorySettingsStore settings;
    srv::MemoryLoginDialog login;
    srv::MemoryServerDialog serverDialog(clock);
    srv::resetRecords();
    srv::Session session(
        srv::SessionServices{ui, clock, settings, login, serverDialog,
                             [] { return std::make_unique<cache::server::ServerFactory>(); }, [] {},
                             [] { return QString(); }, [] { return true; }, [](const QString&) {}});
    srv::connectionSettings().CommandLine = QStringLiteral("1 0 DEMO demo %1 %2").arg(server, port);
    QJsonObject out;
    if (!session.CacheLogin()) {
        out[QStringLiteral("error")] = QStringLiteral("login failed");
        return out;
    }

    auto sel = [](std::initializer_list<std::pair<const char*, const char*>> f,
                  bool extended = false) {
        retrieval::Selection s;
        s.firma = QStringLiteral("1");
        s.extended = extended;
        s.styp = QStringLiteral("A");
        for (const auto& [k, v] : f) {
            const QString val = QString::fromUtf8(v);
            const QByteArray key(k);
            if (key == "abt")
                s.abt = val;
            else if (key == "hgrp")
                s.hgrp = val;
            else if (key == "pg")
                s.pg = val;
            else if (key == "hvart")
                s.hvart = val;
        }
        return s;
    };
    cache::server::Selection narrowRaw;
    narrowRaw[2] = QStringLiteral("M2");
    narrowRaw[3] = QStringLiteral("30");
    narrowRaw[5] = QStringLiteral("G");
    cache::server::Selection narrowWhRaw;
    narrowWhRaw[2] = QStringLiteral("M2");
    narrowWhRaw[6] = QStringLiteral("L");
    const Case cases[] = {
        {"plain, no restriction", sel({}), {}},
        {"plain, abt M2 + hgrp 30 + hkgrp G", sel({{"abt", "M2"}, {"hgrp", "30"}, {"pg", "G"}}),
         narrowRaw},
        {"extended, styp A (216 requests), no restriction", sel({}, true), {}},
        {"extended, styp A, abt M2 + hvart L", sel({{"abt", "M2"}, {"hvart", "L"}}, true),
         narrowWhRaw},
    };

    QJsonArray list;
    Host host;
    for (const Case& c : cases) {
        host.sel = c.sel;
        std::vector<double> ms;
        int months = 0;
        for (int r = -2; r < rounds; ++r) { // two warm-up rounds
            windows::programLog().clear();
            const auto t0 = Clock::now();
            const retrieval::FetchOutcome o =
                retrieval::runPeriodQuery(session, ui, clock, values::store(), host);
            const double t = msSince(t0);
            months = o.months;
            if (r >= 0) ms.push_back(t);
        }
        // The same months summed from the raw lines, one GROUP BY per month.
        std::vector<double> naive;
        bool equal = true;
        for (int r = 0; r < naiveRounds; ++r) {
            const auto t0 = Clock::now();
            for (int n = 1; n <= 72; ++n) {
                const int period = 12100 + (n - 1) / 12 * 100 + (n - 1) % 12 + 1;
                const cache::server::Sums s = rawStore.rawSum(1, period, period, c.raw);
                if (std::abs(values::store().PeriodValues(n, 1).value() - s.umsatz / 100.0) > 0.005)
                    equal = false;
            }
            naive.push_back(msSince(t0));
        }
        QJsonObject row{{QStringLiteral("name"), QString::fromUtf8(c.name)},
                        {QStringLiteral("months"), months},
                        {QStringLiteral("fetch"), stats(ms)},
                        {QStringLiteral("naive"), stats(naive)},
                        {QStringLiteral("naive_equal"), equal}};
        list.append(row);
    }
    out[QStringLiteral("cases")] = list;

    // The derived tables alone, on the figures of the last fetch.
    QJsonArray derive;
    for (int mode = 0; mode <= 2; ++mode) {
        for (bool pct : {false, true}) {
            values::store().GraphMode = mode;
            const int calls = 20000;
            const auto t0 = Clock::now();
            for (int i = 0; i < calls; ++i)
                values::AbsolutMittel(values::store(), 12, pct);
            const double us = msSince(t0) * 1000.0 / calls;
            derive.append(QJsonObject{{QStringLiteral("graph_mode"), mode},
                                      {QStringLiteral("db_percent"), pct},
                                      {QStringLiteral("us_per_call"), us}});
        }
    }
    values::store().GraphMode = 0;
    out[QStringLiteral("absolut_mittel")] = derive;
    session.CacheDisconnect();
    return out;
}
