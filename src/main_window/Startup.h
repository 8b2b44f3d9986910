#pragma once

// What the start-up of the main window decides, free of windows: the
// rights of the user, what a restricted user may not use, the captions
// from the clock year, and whether to offer the rebuild of old data. The
// main window applies them at start-up and after a re-login; the report
// tool refuses what a window would not offer.

#include <QDate>
#include <QString>

namespace srv {
class Session;
struct UserContext;
} // namespace srv

namespace mw {

// The permission level of the logged-in user. A question that fails is
// reported under `step` and answers `onFailure`.
int askPermission(srv::Session& session, const QString& step, int onFailure);

// What a permission level may use besides its departments.
struct Allowed {
    bool profitCentres = true;     // the list SPCNR
    bool quarterGraph = true;      // mGraph(1)
    bool previousYearTable = true; // mTabelle(3)
    bool extendedSelection = true; // mAuswahl
};
Allowed allowedFor(int level);

struct StartupTexts {
    QString title;
    // Added to the captions of mTabelle(2) and mTabelle(3).
    QString tableMeanYears, tablePreviousYear;
    QString yearButtons[3]; // optJahr(0..2)
};
StartupTexts startupTexts(const srv::UserContext& user, int clockYear);

// The question that offers to rebuild the period data, from the answer of
// "S P0=^XWGDAT W P0" (period`day); empty when the data are current or the
// answer cannot be read.
QString dataBasisQuestion(const QString& built, const QDate& today);

} // namespace mw
