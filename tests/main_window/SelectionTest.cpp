// The selection controller on lists in memory, against the embedded demo
// server: the department rules of a restricted user as a table.

#include "main_window/Selection.h"

#include "platform/cache/server/ServerFactory.h"
#include "support/LoggedIn.h"
#include "values/ValueStore.h"

#include <gtest/gtest.h>

namespace {

// Logged in as ABTLEITER (own department M2 in main department 10), the
// lists filled as the start-up fills them.
class Selection : public ::testing::Test {
protected:
    void start() {
        lists.reset();
        env.reset();
        const testsupport::DemoSite& site = testsupport::demoSite(
            testsupport::TestEngine::Sqlite, QStringLiteral("selection"), 2000);
        env = testsupport::loggedIn(site, QStringLiteral("ABTLEITER"), QStringLiteral("abt"));
        lists = std::make_unique<mw::MemorySelection>(env->s(), env->ui, store);
        lists->controller.fillLists();
    }

    values::PeriodValueStore store;
    std::unique_ptr<testenv::Env> env;
    std::unique_ptr<mw::MemorySelection> lists;
};

TEST_F(Selection, ARefusedDepartmentGoesBackToTheEmptyEntry) {
    struct Row {
        int level;
        const char* before; // main department chosen first
        bool inHabt;        // the choice under test: main department or department
        const char* code;
        const char* refused; // the message, or nullptr
        const char *shownHabt, *shownAbt;
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
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.level << " " << r.before << " " << r.code);
        start();
        mw::SelectionController& c = lists->controller;
        c.setPermission(r.level);
        if (*r.before) mw::chooseCode(lists->SHABT, QString::fromLatin1(r.before));
        env->ui.clearMessages();
        store.SelectionChanged = false;
        mw::chooseCode(r.inHabt ? lists->SHABT : lists->SABTNR, QString::fromLatin1(r.code));
        ASSERT_EQ(env->messages().size(), r.refused ? 1 : 0);
        if (r.refused) {
            EXPECT_EQ(env->messages().first().text, QString::fromUtf8(r.refused));
        }
        // A refusal leaves the flag as it was.
        EXPECT_EQ(store.SelectionChanged, !r.refused);
        // What the lists show is what the queries read.
        EXPECT_EQ(c.selection().habt, QLatin1String(r.shownHabt));
        EXPECT_EQ(c.selection().abt, QLatin1String(r.shownAbt));
        EXPECT_EQ(c.departmentChosen(), r.chosen);
    }
}

} // namespace
