#pragma once

#include "Database.h"

#include <QString>
#include <QStringList>

namespace cache::server {

// 2: import batches (import_batch, sales_line.batch) and, on PostgreSQL,
// the rebuild as a server function.
// 3: login passwords only as Argon2id hashes (SQLite) or role passwords
// (PostgreSQL, with roles, grants and row-level security).
constexpr int kSchemaVersion = 5;

// Dimensions of a sales line, in the order of the detail key where they
// occur there. Bits of a DimSet.
enum Dim : unsigned {
    DimPc = 1u << 0,
    DimHabt = 1u << 1,
    DimAbt = 1u << 2,
    DimHgrp = 1u << 3,
    DimUgrp = 1u << 4,
    DimHkgrp = 1u << 5,
    DimHvart = 1u << 6,
    DimVart = 1u << 7,
    DimStyp = 1u << 8,
};
using DimSet = unsigned;
constexpr int kDimCount = 9;
// Column name of dimension bit i.
const char* dimColumn(int i);
QStringList dimColumns(DimSet dims);

// One table of period sums, aggregated over all dimensions it does not keep.
struct SumLevel {
    const char* table;
    DimSet dims;
};

// Plain family (read by ZKUmsatz.Daten) and the family with article and
// shipping type (read by ZKUmsatz.DatWH), each from coarse to fine. A query
// reads the first level of its family that keeps every dimension it
// restricts.
const QList<SumLevel>& plainLevels();
const QList<SumLevel>& warehouseLevels();
const SumLevel& pickLevel(const QList<SumLevel>& family, DimSet restricted);

// Every table of the schema.
const QStringList& schemaTables();

// Creates all tables and indexes if missing, and on PostgreSQL the roles,
// grants and policies (Security.h). Idempotent.
void createSchema(Database& db);
// Brings an existing database up to the current layout (SQLite: plain
// passwords become hashes). Idempotent, cheap.
void upgradeSchema(Database& db);
// True when the schema tables exist.
bool hasSchema(Database& db);
// The rebuild's index on the sales lines; a bulk load into an empty table
// is faster without it and builds it afterwards.
void createSalesIndex(Database& db);
void dropSalesIndex(Database& db);
// Drops every table of the schema (tests and "init --force").
void dropSchema(Database& db);

// --- Import batches --------------------------------------------------------
// Every run of import-sales is one row of import_batch; its lines carry the
// batch number in sales_line.batch (0: lines from before batches, the demo
// generator or Store::appendSales). Created by createSchema, added to older
// databases by upgradeSchema.
void createBatchSchema(Database& db);

// --- Rebuild on PostgreSQL -------------------------------------------------
// tallvero_rebuild(firma, von, bis) makes the rows of the eight sum tables
// for the periods von..bis equal to the sales lines, entirely inside the
// server (one scan of the lines, all levels from it, only changed rows
// written). Created by createSchema and upgradeSchema; Store::generate and
// the import call it.
void createRebuildFunction(Database& db);
// First key of the transaction-level advisory lock that a rebuild of one
// company holds (the second is the company), on PostgreSQL.
constexpr int kRebuildLockKey = 1952671094;

} // namespace cache::server
