// Department rules, layout arithmetic, series labels and the decisions of
// the start-up, as tables.

#include "main_window/Rules.h"

#include "main_window/Startup.h"
#include "report/Series.h"
#include "server/Records.h"

#include <QLocale>
#include <QStringList>
#include <gtest/gtest.h>

using namespace mw;

// Every own department against every code: exactly the allowed ones pass.
TEST(DepartmentRules, WholeTable) {
    const QStringList codes =
        QStringLiteral("B0 B1 B2 B9 M1 M2 M3 M4 M5 M6 M7 M8 M9 MA MB MC MD ME MF MG MH 42 ")
            .split(' ');
    // The own department and the codes it may choose ("": every code).
    const std::pair<const char*, const char*> table[] = {
        {"B1", "B1 M7"},    {"B2", "B2"},       {"M1", "M1 MD MG MH"},
        {"M2", "M2 MA MF"}, {"M3", "M3 M6 ME"}, {"M6", "M3 M6 ME"},
        {"M4", "M4 MC"},    {"M5", "M5 M7 MB"}, {"M7", "M5 M7 MB"},
        {"M8", "M8"},       {"M9", "M9"},       {"B0", "B0 B1 B2 B9 M7"},
        {"42", ""},         {"MA", ""},         {"", ""}};
    for (const auto& [own, allowed] : table)
        for (const QString& c : codes)
            EXPECT_EQ(departmentAllowed(QString::fromLatin1(own), c),
                      !*allowed || QString::fromLatin1(allowed).split(' ').contains(c))
                << "own " << own << " chosen " << c.toStdString();
    // B0 sees every code beginning with B, also ones not in the demo; codes
    // are compared exactly.
    EXPECT_TRUE(departmentAllowed(QStringLiteral("B0"), QStringLiteral("BX7")));
    EXPECT_FALSE(departmentAllowed(QStringLiteral("M2"), QStringLiteral("m2")));
    EXPECT_FALSE(departmentAllowed(QStringLiteral("M2"), QStringLiteral("M2 ")));
}

TEST(Layout, Numbers) {
    using namespace layout;
    // At the reference width nothing changes; 1536 pixels grow by a third.
    for (int t : {0, 90, 750, 3000, 14970}) {
        EXPECT_EQ(scaled(t, scaleFactor(1152)), t);
        EXPECT_EQ(scaled(t, scaleFactor(1536)), t * 4 / 3) << t;
    }
    EXPECT_EQ(scaled(5, 0.5), 2); // 2.5: halves to even
    EXPECT_EQ(scaled(7, 0.5), 4); // 3.5
    EXPECT_EQ(splitterPosition(10000, true), 6265);
    EXPECT_EQ(splitterPosition(10000, false), 10000);
    EXPECT_EQ(detailColumnWidth(650, 7), 100);
    EXPECT_EQ(detailColumnWidth(249, 3), 100); // 199 / 2 = 99.5 -> even
    EXPECT_EQ(detailColumnWidth(250, 5), 50);
    EXPECT_EQ(detailColumnWidth(300, 1), 0);
    // The show button: 150 twips left of the hide button, or left of the
    // details pane while the panel is hidden and the details are shown.
    EXPECT_EQ(einblendenLeft(14970, 2190, 20000, 3735, true, false), 14820);
    EXPECT_EQ(einblendenLeft(14970, 2190, 20000, 3735, false, true), 14820);
    EXPECT_EQ(einblendenLeft(14970, 2190, 20000, 3735, true, true), 20000 - 3735 - 2190 - 250);
}

TEST(SeriesLabels, YearsAndModes) {
    using namespace report;
    const QStringList kj = {
        "U KJ* 2004",      "U KJ 2003", "U KJ 2000-2002", "DB KJ 2004", "DB KJ 2003",
        "DB KJ 2000-2002", ""};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(SeriesLabel(i, 0, 2004), kj[i]);
    EXPECT_EQ(SeriesLabel(0, 1, 2024), QStringLiteral("U WJ* 2024"));
    EXPECT_EQ(SeriesLabel(5, 1, 2024), QStringLiteral("DB WJ 2020-2022"));
    EXPECT_EQ(YearWord(1, 1, 2024), QStringLiteral("2023"));
    // Past December into the next year, then nothing.
    const std::pair<int, const char*> months[] = {
        {0, "Jänner"}, {2, "März"}, {12, "Jänner"}, {13, "Februar"}, {14, ""}};
    for (const auto& [i, name] : months)
        EXPECT_EQ(MonthName(i), QString::fromUtf8(name)) << i;
}

TEST(Startup, RightsTitleAndCaptions) {
    for (int level : {0, 1, 4, 5, 6}) {
        const Allowed a = allowedFor(level);
        EXPECT_EQ(std::vector(
                      {a.profitCentres, a.quarterGraph, a.previousYearTable, a.extendedSelection}),
                  std::vector(4, level != 5))
            << level;
    }
    srv::UserContext u;
    u.Firma = QStringLiteral("1");
    u.Filiale = QStringLiteral("0");
    u.Benutzer = QStringLiteral("DEMO|Demo Müller");
    const StartupTexts t = startupTexts(u, 2024);
    EXPECT_EQ(
        t.title,
        QStringLiteral("ZORVEK Tallvero   Firma: 1     Filiale: 0     Benutzer: DEMO|Demo Müller"));
    EXPECT_EQ(QStringList({t.tableMeanYears, t.tablePreviousYear, t.yearButtons[0],
                           t.yearButtons[1], t.yearButtons[2]}),
              QStringList({" 2020-2022", " 2023", "2024", "2023", "2020-2022"}));
}

// The answer of the server (period`day built) against the clock: a question
// only when the previous month has not been built yet.
TEST(Startup, DataBasisQuestion) {
    const std::tuple<const char*, QDate, bool> rows[] = {
        {"10711`1071205", QDate(2008, 1, 1), true},
        {"10711`1071205", QDate(2008, 1, 31), true},
        // December is current in January: the year changes inside the arithmetic.
        {"10712`1080105", QDate(2008, 1, 15), false},
        {"10801`1080115", QDate(2008, 1, 15), false},
        {"12403`1240401", QDate(2024, 4, 15), false},
        {"`", QDate(2008, 1, 15), false},
        {"abc`1071205", QDate(2008, 1, 15), false},
        {"10711`99", QDate(2008, 1, 15), false},
    };
    for (const auto& [built, today, asks] : rows) {
        EXPECT_EQ(dataBasisQuestion(QString::fromLatin1(built), today),
                  !asks ? QString()
                        : QStringLiteral("Daten für Periode:10711 wurden zuletzt\nam : ") +
                              QLocale().toString(QDate(2007, 12, 5), QLocale::ShortFormat) +
                              QStringLiteral(" aufgebaut.\nWollen Sie die Daten neu aufbauen?"))
            << built << " " << today.toString().toStdString();
    }
}
