#pragma once

// Deterministic demo business: master data, personnel, permissions and
// sales lines with seasonality, growth and noise. The same seed, size and
// last month always give the same database.

#include "Store.h"

#include <QString>

#include <functional>

namespace cache::server {

struct DemoOptions {
    quint64 seed = 20241;
    qint64 lines = 200'000;
    // Last month with sales; 0 = the month before the clock's month.
    int untilYear = 0;
    int untilMonth = 0;
    // Calendar years of history before the last month's year.
    int yearsBack = 6;
};

struct DemoProgress {
    QString stage;  // German status text
    qint64 done = 0;
    qint64 total = 0;
};

struct DemoSummary {
    qint64 lines = 0;
    int firstPeriod = 0;
    int lastPeriod = 0;
};

// Fills an empty schema (master data are replaced, sales lines appended
// only into an empty table). Throws CacheError.
DemoSummary generateDemo(Store& store, const DemoOptions& options,
                         const std::function<void(const DemoProgress&)>& progress = {});

// The demo's sales lines one by one, without a database (the same lines
// generateDemo writes), e.g. to write an import file of any size.
DemoSummary generateDemoLines(const DemoOptions& options,
                              const std::function<void(const SalesLine&)>& sink);
// Replaces the master data, personnel and permissions by the demo's.
void writeDemoMasterData(Store& store);

// Small, fast, reproducible random numbers (splitmix64).
class DemoRandom {
public:
    explicit DemoRandom(quint64 seed) : state_(seed) {}
    quint64 next() {
        quint64 z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1).
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    int below(int n) { return int(uniform() * n); }

private:
    quint64 state_;
};

} // namespace cache::server
