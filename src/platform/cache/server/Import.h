#pragma once

// CSV imports of sales lines and master data. A file is imported whole or
// not at all: every bad row is reported with its line number and reason.

#include "Store.h"

#include <QIODevice>
#include <QString>
#include <QStringList>

namespace cache::server {

enum class ImportKind {
    Sales,
    Firma,
    Profitcenter,
    Hauptabteilung,
    Abteilung,
    Hauptgruppe,
    Untergruppe,
    Versandart,
    Personal,
    Personalabteilung,
    Personalbasis,
};

// "sales", "firma", "profitcenter", ... ; false for an unknown name.
bool importKindFromName(const QString& name, ImportKind* kind);
QStringList importKindNames();
// The columns a file of that kind must (required) and may carry.
QStringList importColumns(ImportKind kind, bool requiredOnly);

struct ImportResult {
    qint64 rows = 0;          // rows imported (0 when errors is not empty)
    QStringList errors;       // "Zeile N: reason", at most kMaxErrors
    bool moreErrors = false;  // there were more than kMaxErrors
    // Sales only: companies and period range the file touched.
    QList<qint64> companies;
    int firstPeriod = 0;
    int lastPeriod = 0;
    bool ok() const { return errors.isEmpty(); }
};

constexpr int kMaxImportErrors = 100;

ImportResult importCsv(Store& store, ImportKind kind, QIODevice& in);
ImportResult importCsvFile(Store& store, ImportKind kind, const QString& path);

// Splits one CSV record; fields may be quoted with "" inside. Returns false
// for an unterminated quote.
bool splitCsvLine(const QString& line, QChar sep, QStringList* fields);

} // namespace cache::server
