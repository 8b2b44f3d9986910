#pragma once

// Business reads and writes of the server component over the schema. The
// class queries, routines and class methods of the factory are thin layers
// over this.

#include "Database.h"
#include "Schema.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QString>

#include <array>
#include <functional>
#include <optional>

namespace cache::server {

// Selection codes by dimension (index = bit position of Dim); empty = all.
struct Selection {
    std::array<QString, kDimCount> code;
    QString& operator[](int i) { return code[size_t(i)]; }
    const QString& operator[](int i) const { return code[size_t(i)]; }
    DimSet restricted() const;
};

struct Sums {
    qint64 umsatz = 0;
    qint64 kosten = 0;
    qint64 skonto = 0;
    qint64 nachlass = 0;
};

// Per main shipping type L and S, as the warehouse queries answer.
struct SplitSums {
    Sums lager;
    Sums strecke;
};

struct CodeName {
    QString code;
    QString name;  // display form, with real umlauts
};

// One raw sales line; money in cents, datum as YYYYMMDD.
struct SalesLine {
    int datum = 0;
    qint64 firma = 0;
    Selection codes;  // every dimension set
    qint64 umsatz = 0;
    qint64 kosten = 0;
    qint64 skonto = 0;
    qint64 nachlass = 0;
};

struct GenerateProgress {
    int done = 0;
    int total = 0;
    int period = 0;
};
// The period codes from..to, month by month.
QList<int> periodsBetween(int from, int to);

// Return false to cancel (the rebuild is then rolled back).
using GenerateCallback = std::function<bool(const GenerateProgress&)>;

class Store {
public:
    explicit Store(Database& db) : db_(db) {}

    Database& db() { return db_; }

    // Master data, ordered by code.
    QList<CodeName> mainGroups(qint64 firma);
    QList<CodeName> subGroups(qint64 firma, const QString& hgrp);
    QList<CodeName> departments(qint64 firma);
    QList<CodeName> mainDepartments(qint64 firma);
    QList<CodeName> profitCentres(qint64 firma);
    QList<CodeName> departmentsOfMainDepartment(qint64 firma, const QString& habt);
    QList<CodeName> mainDepartmentsOfProfitCentre(qint64 firma, const QString& pc);
    QList<CodeName> departmentsOfProfitCentre(qint64 firma, const QString& pc);
    // Empty main shipping type: all shipping types.
    QList<CodeName> shippingTypes(qint64 firma, const QString& hvart);

    // Period sums from the pre-aggregated tables.
    Sums periodSum(qint64 firma, int fromPeriod, int toPeriod, const Selection& sel);
    SplitSums periodSumByShipping(qint64 firma, int period, const Selection& sel);
    // The same figure straight from the sales lines (for checks and benchmarks).
    Sums rawSum(qint64 firma, int fromPeriod, int toPeriod, const Selection& sel);

    // Rebuilds every period-sum table for the periods from..to of a company,
    // in one transaction. faultAfterPeriods >= 0 makes the rebuild fail after
    // that many periods (tests of the rollback).
    // Returns the number of sales lines the periods hold.
    qint64 generate(qint64 firma, int fromPeriod, int toPeriod, const GenerateCallback& progress = {},
                  int faultAfterPeriods = -1);
    // The same inside the caller's transaction, for any list of periods;
    // returns the number of sales lines the periods hold.
    qint64 rebuildPeriods(qint64 firma, const QList<int>& periods,
                          const GenerateCallback& progress = {}, int faultAfterPeriods = -1);
    // ^XWGDAT: the last built period and today's day number.
    void setBuildInfo(int lastPeriod);

    // Appends sales lines (inside the caller's transaction, if any). The
    // period sums change only with the next generate().
    void appendSales(const QList<SalesLine>& lines);
    // Forgets cached dimension ids; call after rolling back a transaction
    // that appended sales lines.
    void resetCaches() {
        dims_.clear();
        dimsLoaded_ = false;
        nextDim_ = 0;
    }

    int permission(const QString& user, const QString& program, const QString& part);

    // Server globals (^FA(0), ^XWGDAT); nullopt when not set. Read by the
    // administrator; a user's session reads only the two below.
    std::optional<QString> global(const QString& key);
    void setGlobal(const QString& key, const QString& value);
    // Field 2 of ^FA(0), and ^XWGDAT: what every session may read.
    std::optional<QString> fiscalYearText();
    std::optional<QString> buildInfo();

    // Whether the login record firma||code exists (all the gate may know).
    bool loginExists(qint64 firma, const QString& code);
    // The password hash of a login record (SQLite); "" when there is none.
    QString loginPasswordHash(qint64 firma, const QString& code);

    // One record as column -> value; nullopt when the id does not exist.
    // The login record comes without its password hash.
    std::optional<QHash<QString, QString>> persEdv(qint64 firma, const QString& code);
    std::optional<QHash<QString, QString>> persAbt(qint64 firma, const QString& abtnr);
    std::optional<QHash<QString, QString>> persBasis(qint64 firma, const QString& pnr);

private:
    QList<CodeName> codeNames(const QString& sql, const QVariantList& binds);
    Sums levelSum(const SumLevel& level, qint64 firma, int fromPeriod, int toPeriod,
                  const Selection& sel);
    std::optional<QHash<QString, QString>> record(const QString& sql, const QVariantList& binds);
    QString whereFor(const Selection& sel, QVariantList* binds) const;

    qint64 dimId(qint64 firma, const Selection& codes);

    Database& db_;
    QHash<QString, qint64> dims_;
    qint64 nextDim_ = 0;
    bool dimsLoaded_ = false;
};

} // namespace cache::server
