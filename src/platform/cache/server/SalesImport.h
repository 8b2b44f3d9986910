#pragma once

// The import of sales lines: one streaming pass over the file in bounded
// memory, all or nothing in one transaction (lines, batch record, replaced
// periods, rebuilt sums and build information together), recorded as a
// batch so that the same content is not imported twice.

#include "Store.h"

#include <QIODevice>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace cache::server {

enum class SourceEncoding { Utf8, Windows1252, Iso885915 };
// "utf-8", "windows-1252" (also "cp1252"), "iso-8859-15" (also "latin-9"),
// any case; false for anything else.
bool encodingFromName(const QString& name, SourceEncoding* encoding);

struct SalesImportOptions {
    SourceEncoding encoding = SourceEncoding::Utf8;
    bool force = false;          // import content that was imported before
    bool replacePeriods = false; // the file replaces each (company, period) it holds
    bool generate = true;        // rebuild the touched periods in the same transaction
    bool allowUnknown = false;   // codes the master data lack: imported, listed as warnings
    QString fileName;            // recorded in the batch
    QString osUser;              // recorded in the batch
    // Reading progress, every 65,536 lines and at the end.
    std::function<void(qint64 bytesRead, qint64 bytesTotal, qint64 lines)> progress;
    // Rebuild progress: done and total periods.
    std::function<void(int done, int total)> rebuildProgress;
    // Reached stages: "lines" (every 65,536 lines written), "generate" (before
    // the rebuild), "commit" (before the commit). Tests stop a process there.
    std::function<void(const char* stage)> stage;
};

struct EarlierBatch {
    qint64 batch = 0;
    QString importedAt; // "YYYY-MM-DD HH:MM:SS"
    QString fileName;
};

struct SalesImportResult {
    qint64 lines = 0;                      // lines imported (0 when not ok)
    QStringList errors;                    // "Zeile N: reason" or a reason for the whole file
    bool moreErrors = false;               // more bad lines than listed
    QStringList warnings;                  // --allow-unknown: "Zeile N: reason"
    qint64 warningLines = 0;               // all lines with a warning
    std::optional<EarlierBatch> duplicate; // refused: the same content was imported
    qint64 batch = 0;
    QString sha256;
    QList<qint64> companies;
    int firstPeriod = 0;
    int lastPeriod = 0;
    QList<QPair<qint64, int>> periods; // (company, period) the file holds
    qint64 replacedLines = 0;
    bool generated = false;
    bool ok() const { return errors.isEmpty() && !duplicate; }
};

SalesImportResult importSales(Store& store, QIODevice& in, const SalesImportOptions& options);
SalesImportResult importSalesFile(Store& store, const QString& path,
                                  const SalesImportOptions& options);

// "Die Datei … wurde bereits am … als Stapel N importiert …"
QString duplicateMessage(const QString& fileName, const EarlierBatch& earlier);

} // namespace cache::server
