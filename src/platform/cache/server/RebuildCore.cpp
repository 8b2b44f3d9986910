#include "RebuildCore.h"

#include "../Factory.h"

#include <algorithm>
#include <bit>
#include <map>

namespace cache::server {

const QList<SumLevel>& allSumLevels() {
    static const QList<SumLevel> all = [] {
        QList<SumLevel> out;
        for (const QList<SumLevel>* fam : {&warehouseLevels(), &plainLevels()})
            for (auto it = fam->rbegin(); it != fam->rend(); ++it)
                out << *it;
        return out;
    }();
    return all;
}

void DimRanks::add(qint64 id, DimCodes codes) {
    raw_.emplace_back(id, std::move(codes));
}

void DimRanks::finish() {
    std::array<std::map<std::string, uint32_t>, kDimCount> seen;
    for (const auto& [id, c] : raw_)
        for (int i = 0; i < kDimCount; ++i)
            seen[size_t(i)].emplace(c[size_t(i)], 0);
    for (int i = 0; i < kDimCount; ++i) {
        uint32_t r = 1;
        codes_[size_t(i)].emplace_back();
        for (auto& [code, rank] : seen[size_t(i)]) {
            rank = r++;
            codes_[size_t(i)].push_back(code);
        }
    }
    for (const auto& [id, c] : raw_) {
        if (id < 0) continue;
        RankKey k{};
        for (int i = 0; i < kDimCount; ++i)
            k[size_t(i)] = seen[size_t(i)][c[size_t(i)]];
        if (size_t(id) >= byDim_.size()) {
            byDim_.resize(size_t(id) + 1);
            known_.resize(size_t(id) + 1);
        }
        byDim_[size_t(id)] = k;
        known_[size_t(id)] = true;
    }
    raw_.clear();
    slot_.assign(byDim_.size(), -1);
}

void DimRanks::addLine(qint64 id, const qint64 sums[4]) {
    if (id < 0 || size_t(id) >= byDim_.size() || !known_[size_t(id)]) {
        takePeriod();
        throw CacheError(err::GenerateFailed,
                         QStringLiteral("Verkaufszeile mit unbekannter Dimension %1").arg(id));
    }
    int& slot = slot_[size_t(id)];
    if (slot < 0) {
        slot = int(period_.size());
        period_.push_back({byDim_[size_t(id)], id, {0, 0, 0, 0}});
    }
    LevelRow& r = period_[size_t(slot)];
    for (int i = 0; i < 4; ++i)
        r.s[i] += sums[i];
}

std::vector<LevelRow> DimRanks::takePeriod() {
    for (const LevelRow& r : period_)
        slot_[size_t(r.id)] = -1;
    std::vector<LevelRow> out;
    out.swap(period_);
    return out;
}

std::vector<LevelRow> aggregateLevel(const std::vector<LevelRow>& src, DimSet keep) {
    // Grouped through a hash table first, so that only the groups are
    // sorted, not the rows.
    std::vector<LevelRow> out;
    out.reserve(src.size());
    const size_t cap = std::bit_ceil(src.size() * 2 + 16);
    std::vector<int> table(cap, -1);
    for (const LevelRow& r : src) {
        RankKey k = r.key;
        uint64_t h = 0;
        for (int i = 0; i < kDimCount; ++i) {
            if (!(keep & (1u << i))) k[size_t(i)] = 0;
            h = (h ^ k[size_t(i)]) * 0x9e3779b97f4a7c15ULL;
        }
        size_t at = size_t(h >> 20) & (cap - 1);
        while (table[at] >= 0 && out[size_t(table[at])].key != k)
            at = (at + 1) & (cap - 1);
        if (table[at] < 0) {
            table[at] = int(out.size());
            out.push_back({k, r.id, {r.s[0], r.s[1], r.s[2], r.s[3]}});
        } else {
            LevelRow& o = out[size_t(table[at])];
            for (int i = 0; i < 4; ++i)
                o.s[i] += r.s[i];
        }
    }
    std::sort(out.begin(), out.end(),
              [](const LevelRow& a, const LevelRow& b) { return a.key < b.key; });
    return out;
}

std::vector<std::vector<LevelRow>> aggregateLevels(const std::vector<LevelRow>& finest) {
    // Each level from the smallest level already made that keeps all its
    // dimensions (allSumLevels() lists the finest first).
    const QList<SumLevel>& tables = allSumLevels();
    std::vector<std::vector<LevelRow>> out(size_t(tables.size()));
    for (qsizetype t = 0; t < tables.size(); ++t) {
        const std::vector<LevelRow>* from = &finest;
        for (qsizetype m = 0; m < t; ++m)
            if ((tables[m].dims & tables[t].dims) == tables[t].dims &&
                out[size_t(m)].size() < from->size())
                from = &out[size_t(m)];
        out[size_t(t)] = aggregateLevel(*from, tables[t].dims);
    }
    return out;
}

} // namespace cache::server
