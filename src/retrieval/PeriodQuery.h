#pragma once

// The period query: one request per month for six years up to the clock's
// month, written into PeriodValues, then a redraw. What the main window's
// lists say comes through PeriodQueryHost and is read afresh for every
// month, as the user may change a list while the months arrive.

#include "values/ValueStore.h"

#include <QString>

namespace platform {
class Clock;
class Ui;
} // namespace platform
namespace srv {
class Session;
}

namespace retrieval {

struct Selection {
    QString firma; // the company field as it stands
    // Codes (first word of each list's text), empty for no restriction.
    QString hgrp, ugrp, pc, habt, abt, pg, hvart;
    bool extended = false; // "Erweiterte Auswahl" ticked
    QString styp, vart;    // codes of the extended window
};

class PeriodQueryHost {
public:
    virtual ~PeriodQueryHost() = default;
    virtual Selection readSelection() = 0;
    virtual bool departmentChosen() const = 0;
    // After each stored month (done of total, the month's period code).
    virtual void monthFetched(int /*done*/, int /*total*/, const QString& /*period*/) {}
    virtual void redraw() = 0;
};

enum class FetchResult { Done, Refused, Failed };

struct FetchOutcome {
    FetchResult result = FetchResult::Done;
    int months = 0;       // months stored
    QString failedPeriod; // the month whose request failed
    int errorNumber = 0;
    QString error;
};

// The company field read as a number ("." as decimal point, reading stops
// at the first character that cannot belong to a number) and written back:
// "007" -> "7", "" -> "0".
QString companyNumber(const QString& field);
// A figure from the server, read the same way.
double serverNumber(const QString& text);
// (year - 1900) followed by the two-digit month: 12403 for March 2024.
QString periodCode(int year, int month);
// The nine codes joined by "`", article type `styp`, trailing separators
// dropped.
QString detailKey(const Selection& sel, const QString& styp);
// Company and the seven codes joined by "|", for the program log.
QString logParameter(const Selection& sel);

// Runs the query into `store` (cmdÜbernehmen_Click of the main window).
// A failing request ends the run: the access error report, the bracket
// closed, the months fetched so far kept and drawn.
FetchOutcome runPeriodQuery(srv::Session& session, platform::Ui& ui, platform::Clock& clock,
                            values::PeriodValueStore& store, PeriodQueryHost& host);

} // namespace retrieval
