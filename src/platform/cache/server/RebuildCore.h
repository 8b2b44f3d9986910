#pragma once

// What the in-memory rebuilds of SQLite and PostgreSQL share: the codes of
// a company's dimension ids as ranks, one period's lines summed per id, and
// every level summed from those groups.

#include "Schema.h"

#include <QtGlobal>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace cache::server {

// Code ranks by dimension bit; rank 0 means the level does not keep it.
using RankKey = std::array<uint32_t, kDimCount>;
using DimCodes = std::array<std::string, kDimCount>;

struct LevelRow {
    RankKey key;
    qint64 id;
    qint64 s[4];
};

// The eight sum tables, finest first.
const QList<SumLevel>& allSumLevels();

class DimRanks {
public:
    // Every dimension id of the company with its codes, then finish().
    void add(qint64 id, DimCodes codes);
    // Ranks follow the byte order of the codes, so sorted keys come in
    // the tables' key order under a byte-wise collation.
    void finish();
    const std::string& code(int dim, uint32_t rank) const { return codes_[size_t(dim)][rank]; }
    uint32_t rankCount(int dim) const { return uint32_t(codes_[size_t(dim)].size()); }

    // Sums one line into the period's group of its dimension id; throws
    // CacheError(GenerateFailed) for an id the company does not have.
    void addLine(qint64 id, const qint64 sums[4]);
    // The period's groups (the finest level); resets for the next period.
    std::vector<LevelRow> takePeriod();

private:
    std::array<std::vector<std::string>, kDimCount> codes_; // by rank
    std::vector<std::pair<qint64, DimCodes>> raw_;
    std::vector<RankKey> byDim_;
    std::vector<bool> known_;
    std::vector<int> slot_; // row of a dimension id in the period being built
    std::vector<LevelRow> period_;
};

// Sums rows that agree on the kept dimensions, sorted by key.
std::vector<LevelRow> aggregateLevel(const std::vector<LevelRow>& src, DimSet keep);
// The rows of every sum table (in the order of allSumLevels()) from a
// period's groups by dimension id.
std::vector<std::vector<LevelRow>> aggregateLevels(const std::vector<LevelRow>& finest);

} // namespace cache::server
