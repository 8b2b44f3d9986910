// The selection controller on lists in memory, against the embedded demo
// server: how the lists fill and refill each other, the department rules of
// a restricted user, the split boxes and the period options, as tables.

#include "main_window/Selection.h"

#include "platform/cache/server/ServerFactory.h"
#include "support/LoggedIn.h"
#include "values/ValueStore.h"

#include <gtest/gtest.h>

namespace {

using List = mw::MemoryList mw::MemorySelection::*;

class Selection : public ::testing::Test {
protected:
    // Logged in as `user`, the lists filled as the start-up fills them.
    void start(const QString& user = "ABTLEITER", const QString& password = "abt") {
        lists.reset();
        env.reset();
        site = &testsupport::demoSite(testsupport::TestEngine::Sqlite, QStringLiteral("selection"),
                                      2000);
        env = testsupport::loggedIn(*site, user, password);
        lists = std::make_unique<mw::MemorySelection>(env->s(), env->ui, store);
        ASSERT_TRUE(lists->controller.fillLists([](const QString&) {}));
    }
    // "code name" rows of a master-data query after the empty entry; "-" no entries at all.
    QStringList expected(const char* sql) {
        if (QLatin1String(sql) == QLatin1String("-")) return {};
        auto d = site->db->open();
        QStringList out{QString()};
        for (const QStringList& r : testsupport::rows(*d, QString::fromLatin1(sql)))
            out << r.join(QLatin1Char(' '));
        return out;
    }

    const testsupport::DemoSite* site = nullptr;
    values::PeriodValueStore store;
    std::unique_ptr<testenv::Env> env;
    std::unique_ptr<mw::MemorySelection> lists;
};

const char* kAllHabt = "SELECT habtnr, name FROM hauptabteilung WHERE firma = 1 ORDER BY habtnr";
const char* kAllAbt = "SELECT abtnr, name FROM abteilung WHERE firma = 1 ORDER BY abtnr";

// The lists as the start-up fills them (its status texts: main_window_test).
TEST_F(Selection, FillListsReadsTheMasterLists) {
    start("DEMO", "demo");
    mw::MemorySelection& l = *lists;
    EXPECT_EQ(l.SHGRP.items(),
              expected("SELECT hgrp, name FROM hauptgruppe WHERE firma = 1 ORDER BY hgrp"));
    EXPECT_TRUE(l.SHGRP.items().contains(QStringLiteral("10 Sanitärkeramik")));
    EXPECT_EQ(l.SABTNR.items(), expected(kAllAbt));
    EXPECT_EQ(l.SHABT.items(), expected(kAllHabt));
    // Names of a class query come 7-bit and are converted back.
    EXPECT_EQ(l.SPCNR.items(),
              (QStringList{"", "1 Stammhaus", "2 Filiale Süd", "3 Großkunden & Objekte"}));
    EXPECT_EQ(l.SPG.items(), (QStringList{"", "P Privat", "G Gewerbe"}));
    EXPECT_EQ(l.SHVArt.items(), (QStringList{"", "L Lager", "S Strecke"}));
    EXPECT_TRUE(l.SUGRP.items().isEmpty());
    for (const mw::MemoryList* m : {&l.SPCNR, &l.SHABT, &l.SABTNR, &l.SHGRP, &l.SPG, &l.SHVArt})
        EXPECT_EQ(m->currentIndex(), -1);

    // The extended selection's lists (its preselection, an empty code: main_window_test).
    mw::MemoryList typ, vart;
    mw::fillArticleTypes(typ);
    EXPECT_EQ(typ.items(),
              (QStringList{"A Alle", "L Lager Artikel", "B Bestell Artikel", "W Wert Artikel"}));
    ASSERT_TRUE(mw::fillShippingTypes(env->s(), vart, QStringLiteral("1"), QStringLiteral("S")));
    EXPECT_EQ(vart.items(),
              (QStringList{"", "11 Strecke direkt ab Werk", "12 Strecke über Spedition"}));
}

// One choice after the other; every list the row does not name stays as it was.
TEST_F(Selection, ListsRefillEachOther) {
    // The list chosen in, the code, SelectionChanged, departmentChosen, and
    // each list refilled with its query.
    using Row =
        std::tuple<List, const char*, bool, bool, std::vector<std::pair<List, const char*>>>;
    using M = mw::MemorySelection;
    // clang-format off
    const Row rows[] = {
        {&M::SPCNR, "3", true, false,
         {{&M::SHABT, "SELECT h.habtnr, h.name FROM hauptabteilung h WHERE h.firma = 1 AND EXISTS "
                      "(SELECT 1 FROM abteilung a WHERE a.firma = 1 AND a.habtnr = h.habtnr AND "
                      "a.pcnr = '3') ORDER BY h.habtnr"},
          {&M::SABTNR,
           "SELECT abtnr, name FROM abteilung WHERE firma = 1 AND pcnr = '3' ORDER BY abtnr"}}},
        // All main departments come back; the departments stay.
        {&M::SPCNR, "", true, false, {{&M::SHABT, kAllHabt}}},
        {&M::SHABT, "10", true, true,
         {{&M::SABTNR,
           "SELECT abtnr, name FROM abteilung WHERE firma = 1 AND habtnr = '10' ORDER BY abtnr"}}},
        {&M::SHABT, "", false, false, {{&M::SABTNR, kAllAbt}}},
        {&M::SHGRP, "20", true, false,
         {{&M::SUGRP,
           "SELECT ugrp, name FROM untergruppe WHERE firma = 1 AND hgrp = '20' ORDER BY ugrp"}}},
        {&M::SHGRP, "", false, false, {{&M::SUGRP, "-"}}}, // not even the empty entry
        {&M::SPG, "P", true, false, {}},
        {&M::SHVArt, "S", true, false, {}},
    };
    // clang-format on
    start("DEMO", "demo");
    mw::MemorySelection& l = *lists;
    const List all[] = {&M::SPCNR, &M::SHABT, &M::SABTNR, &M::SHGRP,
                        &M::SUGRP, &M::SPG,   &M::SHVArt};
    for (const auto& [chosen, code, changed, departmentChosen, refilled] : rows) {
        SCOPED_TRACE(testing::Message()
                     << (l.*chosen).items().value(1).toStdString() << " " << code);
        QStringList want[7];
        for (int i = 0; i < 7; ++i) {
            want[i] = (l.*all[i]).items();
            for (const auto& [m, sql] : refilled)
                if (m == all[i]) want[i] = expected(sql);
        }
        store.SelectionChanged = false;
        ASSERT_TRUE(mw::chooseCode(l.*chosen, QString::fromLatin1(code)));
        for (int i = 0; i < 7; ++i)
            EXPECT_EQ((l.*all[i]).items(), want[i]) << "list " << i;
        EXPECT_EQ(store.SelectionChanged, changed);
        EXPECT_EQ(l.controller.departmentChosen(), departmentChosen);
    }
    store.SelectionChanged = false;
    l.controller.SFirma_Change(QStringLiteral("2"));
    EXPECT_TRUE(store.SelectionChanged);
    EXPECT_EQ(l.controller.selection().firma, QStringLiteral("2"));
}

TEST_F(Selection, ARefusedDepartmentGoesBackToTheEmptyEntry) {
    struct Row {
        int level;
        const char* before; // main department chosen first
        bool inHabt;        // the choice under test: main department or department
        const char *code, *refused, *shownHabt, *shownAbt; // refused: the message, or nullptr
        bool chosen;
    };
    const char* kAbt = "Sie dürfen nur Ihre eigene Abteilung selektieren.";
    const char* kHabt = "Sie dürfen nur Ihre eigene Hauptabteilung selektieren.";
    const Row rows[] = {
        {5, "", false, "MA", nullptr, "", "MA", true},
        {5, "", false, "M3", kAbt, "", "", false},
        {5, "10", false, "M1", kAbt, "10", "", false},
        {5, "", true, "20", kHabt, "", "", false},
        {5, "10", false, "M2", nullptr, "10", "M2", true},
        {1, "", false, "M3", nullptr, "", "M3", true},
    };
    for (const auto& [level, before, inHabt, code, refused, shownHabt, shownAbt, chosen] : rows) {
        SCOPED_TRACE(testing::Message() << level << " " << before << " " << code);
        start();
        mw::SelectionController& c = lists->controller;
        c.setPermission(level);
        if (*before) mw::chooseCode(lists->SHABT, QString::fromLatin1(before));
        env->ui.clearMessages();
        store.SelectionChanged = false;
        mw::chooseCode(inHabt ? lists->SHABT : lists->SABTNR, QString::fromLatin1(code));
        ASSERT_EQ(env->messages().size(), refused ? 1 : 0);
        if (refused) {
            EXPECT_EQ(env->messages().first().title, QStringLiteral("Fehlermeldung"));
            EXPECT_EQ(env->messages().first().text, QString::fromUtf8(refused));
        }
        // A refused main department brings all departments back.
        if (refused && inHabt) {
            EXPECT_EQ(lists->SABTNR.items(), expected(kAllAbt));
        }
        // A refusal leaves the flag as it was.
        EXPECT_EQ(store.SelectionChanged, !refused);
        // What the lists show is what the queries read.
        EXPECT_EQ(c.selection().habt, QLatin1String(shownHabt));
        EXPECT_EQ(c.selection().abt, QLatin1String(shownAbt));
        EXPECT_EQ(c.departmentChosen(), chosen);
        // His main department lists foreign departments too; its details show only his own.
        if (*before) {
            EXPECT_EQ(c.groupCodes(retrieval::GroupLevel::Abt),
                      (QStringList{"", "M2", "MA", "MF"}));
        }
    }
}

// The split boxes, one click after the other from the start (UGRP + HKGRP):
// HKGRP and HVArt exclude each other, and the box to untick takes its value off.
TEST_F(Selection, SplitBoxesAndPeriodOptions) {
    start("DEMO", "demo");
    mw::SelectionController& c = lists->controller;
    ASSERT_EQ(c.SplitMask, 3);
    // The box's value and tick; the box to untick then, and the mask after.
    const std::tuple<int, bool, int, int> clicks[] = {
        {8, true, 2, 9}, {2, true, 8, 3}, {1, false, 0, 2}, {2, false, 0, 0},
        {8, true, 0, 8}, {1, true, 0, 9}, {8, false, 0, 1}};
    for (const auto& [value, ticked, untick, mask] : clicks) {
        SCOPED_TRACE(testing::Message() << value << " " << ticked);
        const int other = c.splitClicked(value, ticked);
        EXPECT_EQ(other, untick);
        if (other) {
            EXPECT_EQ(c.splitClicked(other, false), 0);
        }
        EXPECT_EQ(c.SplitMask, mask);
    }
    // Month values take the third year button away (and its choice with it).
    // optJahrMonat (else optJahr) and its index; YearChoice and PeriodKind after.
    const std::tuple<bool, int, int, int> periods[] = {{false, 2, 2, 0}, {true, 1, 0, 1},
                                                       {false, 1, 1, 1}, {true, 0, 1, 0},
                                                       {false, 2, 2, 0}, {true, 0, 2, 0}};
    for (const auto& [monthButton, index, year, kind] : periods) {
        SCOPED_TRACE(testing::Message() << monthButton << " " << index);
        monthButton ? c.optJahrMonat_Click(index) : c.optJahr_Click(index);
        EXPECT_EQ(c.YearChoice, year);
        EXPECT_EQ(c.PeriodKind, kind);
        EXPECT_EQ(c.monthFieldEnabled(), kind == 1);
        EXPECT_EQ(c.thirdYearEnabled(), kind == 0);
    }
}

} // namespace
