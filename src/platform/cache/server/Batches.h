#pragma once

// Import batches after the fact: listing, removing one batch's lines, and
// checking the period sums against the sales lines.

#include "Store.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace cache::server {

struct BatchInfo {
    qint64 batch = 0;
    QString fileName;
    QString sha256;
    qint64 sizeBytes = 0;
    QString importedAt;
    qint64 lineCount = 0;
    QString companies; // "1,2"
    int firstPeriod = 0;
    int lastPeriod = 0;
    QString osUser;
    QString dbUser;
    QString options;
    qint64 replacedLines = 0;
    QString removedAt; // empty while the batch's lines are in
};

QList<BatchInfo> listBatches(Database& db);

struct RemovedBatch {
    qint64 lines = 0;
    QList<QPair<qint64, int>> periods; // (company, period) rebuilt
};

// Deletes the batch's lines, marks the batch removed and rebuilds the
// periods its lines were in, in one transaction (generate = false skips
// the rebuild). Throws CacheError with a German description.
RemovedBatch removeBatch(Store& store, qint64 batch, bool generate = true,
                         const std::function<void(int done, int total)>& progress = {});

struct SumDifference {
    QString table;
    qint64 firma = 0;
    int periode = 0;
    QString key;      // "abtnr=M2 hgrp=30 ..."
    QString stored;   // "umsatz 12.50, kosten 3, ..." or "fehlt"
    QString computed; // the same from the sales lines
};

struct VerifyResult {
    qint64 periods = 0; // (company, period) pairs compared
    qint64 rows = 0;    // sum rows compared
    qint64 lines = 0;   // sales lines read
    qint64 differences = 0;
    QList<SumDifference> listed; // the first maxListed
};

// Compares every period-sum table with a grouping of the sales lines by
// their own codes, for the periods from..to (0, 0: every period that has
// lines or sums) of one company or all.
VerifyResult verifySums(Database& db, int fromPeriod, int toPeriod, std::optional<qint64> firma,
                        int maxListed = 100,
                        const std::function<void(int done, int total)>& progress = {});

} // namespace cache::server
