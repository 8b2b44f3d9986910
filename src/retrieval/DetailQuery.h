#pragma once

// The detail split query: revenue and margin of one year, a three-year
// span or one month for each group one level below the current selection,
// optionally split into private and trade customers or into stock and drop
// shipment. It fills the details list and leaves the value store alone.

#include "PeriodQuery.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace retrieval {

// The grouping lists as the main window holds them: each list's codes in
// its order, the empty "all" entry first where the list has one.
enum class GroupLevel { Pc, Habt, Abt, Hgrp, Ugrp, None };

struct DetailInputs {
    Selection sel;      // codes of the main window's lists and company field
    int splitMask = 3;  // 1 sub groups, 2 customer groups, 8 shipping types
    int yearChoice = 0; // 0 current, 1 previous year, 2 the three years before
    int periodKind = 0; // 0 year values, 1 one month
    int month = 1;      // the month field, for month values
    int yearMode = 0;   // 0 calendar, 1 fiscal year
    int clockYear = 0;
};

class DetailQueryHost {
public:
    virtual ~DetailQueryHost() = default;
    virtual DetailInputs readInputs() = 0;
    virtual bool departmentChosen() const = 0;
    // The codes of the list of that level, in its order.
    virtual QStringList groupCodes(GroupLevel level) = 0;
    // A new result: titles of the columns (replaces rows and columns).
    virtual void prepareList(const QStringList& columns) = 0;
    // One row: group code and the formatted values.
    virtual void addRow(const QStringList& cells) = 0;
    // After the last row: the value columns get their widths again.
    virtual void finishList() {}
};

struct PeriodRange {
    QString start, end;
    int divisor = 1;
};

// Split letters for a mask: "" (none), "PG" or "LS"; nullopt-like "-" for
// a mask that does nothing (0).
QString splitLetters(int splitMask);
// The columns for a split ("Grp", then the value titles).
QStringList detailColumns(const QString& letters);
// The period range of the inputs (year label word of the choice).
PeriodRange detailRange(const DetailInputs& in);
// Whole number of a value divided by the divisor, halves to even.
qint64 roundedShare(double value, int divisor);

struct DetailOutcome {
    enum class Result { Done, Refused, Nothing, Failed } result = Result::Done;
    GroupLevel level = GroupLevel::None;
    PeriodRange range;
    int requests = 0;
    int rows = 0;
    QString error;
};

// cmdÜbernehmenDetails_Click of the main window. A failing request ends
// the run with the access error report; the rows so far stay.
DetailOutcome runDetailQuery(srv::Session& session, platform::Ui& ui, DetailQueryHost& host);

} // namespace retrieval
