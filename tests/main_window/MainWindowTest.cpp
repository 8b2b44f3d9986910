// The main window against the embedded server (and PostgreSQL): that its
// parts fit. The rules of the selection and the start-up are tested on
// lists in memory (main_rules_test).

#include "main_window/FMStart.h"
#include "main_window/ProportionalPanel.h"
#include "main_window/Splash.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "platform/print/PreviewWidget.h"
#include "platform/ui/TextRoomStyle.h"
#include "report/Page.h"
#include "server/SessionEnv.h"
#include "support/DemoSite.h"
#include "support/HookedFactory.h"
#include "support/PdfText.h"
#include "support/PrintSpooler.h"
#include "values/ValueStore.h"
#include "windows/FrmProgrammverlauf.h"
#include "windows/ProgramLog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTreeView>
#include <QTreeWidget>
#include <gtest/gtest.h>

using platform::MsgAnswer;
using retrieval::GroupLevel;
using testsupport::TestEngine;

namespace {

class MainWindow : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &testsupport::demoSite(GetParam(), QStringLiteral("mainwindow"), 3000);
        values::resetStore();
        setXwgdat(QStringLiteral("12403`1240401"));
    }
    void setXwgdat(const QString& v) {
        auto d = site_->db->open();
        cache::server::Store(*d).setGlobal(QStringLiteral("XWGDAT"), v);
    }

    // Starts the window as `user` with the clock at `today`.
    mw::FMStart* start(const char* user = "DEMO", const char* password = "demo",
                       QDate today = QDate(2024, 4, 15), int screen = 1152,
                       std::optional<MsgAnswer> answer = {}) {
        window.reset();
        env.reset();
        env = std::make_unique<testenv::Env>(
            [] { return std::make_unique<cache::server::ServerFactory>(); },
            QDateTime(today, QTime(8, 0), Qt::UTC));
        if (answer) env->ui.queueAnswer(*answer);
        env->commandLine =
            QStringLiteral("1 0 %1 %2 %3 %4")
                .arg(QLatin1String(user), QLatin1String(password), site_->server, site_->port);
        window = std::make_unique<mw::FMStart>(mw::FMStartServices{
            .ui = env->ui,
            .clock = env->clock,
            .session = env->s(),
            .screenWidth = [screen] { return screen; },
            .logicalDpi = [this] { return dpi; },
            .openRebuildDialog = [this](QWidget*) { ++rebuildOpened; },
            .showAbout = [this] { ++opened; },
            .showLog = [this](QWidget*) { ++opened; },
            .processCommandLine = [this] { return env->commandLine; },
            .printDialog =
                [this](QPrinter& p, QWidget*) {
                    ++printDialogs;
                    changedAtDialog = values::store().SelectionChanged;
                    p.setPrinterName(printerName);
                    return copies;
                },
            .saveFileName = [this](const QString&, const QString&,
                                   const QString&) { return saveAs; },
            .statusObserver = [this](const QString& t) { statuses << t; },
            .chooseBookList =
                [this](QWidget*, const QStringList& names) {
                    bookLists = names;
                    return int(names.indexOf(bookList));
                },
        });
        window->resize(1100, 700);
        window->Form_Load();
        return window.get();
    }
    // Chooses the item of `list` whose code is `code` ("" the empty entry).
    void choose(QComboBox* list, const QString& code) {
        const int i = code.isEmpty() ? list->findText(QString())
                                     : list->findText(code + ' ',
                                                      Qt::MatchStartsWith | Qt::MatchCaseSensitive);
        ASSERT_GE(i, 0) << "no item " << code.toStdString();
        window->setListIndex(list, i);
    }

    testsupport::DemoSite* site_ = nullptr;
    std::unique_ptr<testenv::Env> env;
    std::unique_ptr<mw::FMStart> window; // declared after env: goes first
    QStringList statuses;
    int rebuildOpened = 0, opened = 0;
    std::optional<int> copies; // the printer dialog's answer (nothing = cancelled)
    int dpi = 96;              // of the screen the window starts on
    int printDialogs = 0;
    bool changedAtDialog = true;
    QString printerName, saveAs;
    QStringList bookLists; // what the book offered
    QString bookList;      // the one to answer

    // What a drill-down changes and "Zurück" or a refusal must leave as it was.
    struct Screen {
        mw::SelectionState selection;
        print::DisplayList page;
        GroupLevel level;
        QList<values::Cell> values{}; // PeriodValues
        QList<QStringList> rows{};
        bool operator==(const Screen&) const = default;
    };
    Screen screen() const {
        Screen s{window->selection().state(), window->VSPrinter1->shownPage(),
                 window->detailsLevel()};
        const values::Table& P = values::store().PeriodValues;
        for (int n = 1; P.hasCells() && n <= 72; ++n)
            for (int m = 1; m <= 2; ++m)
                s.values << P(n, m);
        for (int i = 0; i < window->ctList->topLevelItemCount(); ++i) {
            QStringList r;
            for (int c = 0; c < window->ctList->columnCount(); ++c)
                r << window->ctList->topLevelItem(i)->text(c);
            s.rows << r;
        }
        return s;
    }
    // Double-clicks the details row of group `code` ("" the total row).
    void doubleClick(const QString& code) {
        QTreeWidget* l = window->ctList;
        for (int i = 0; i < l->topLevelItemCount(); ++i)
            if (l->topLevelItem(i)->text(0) == code) {
                emit l->itemDoubleClicked(l->topLevelItem(i), 0);
                return;
            }
        ADD_FAILURE() << "no details row " << code.toStdString();
    }
};

// A user without rights ends the program; data not built for the previous
// month asks to rebuild (the text: main_rules_test), and either answer goes
// on to the first page.
TEST_P(MainWindow, StartUpToTheFirstPage) {
    const QStringList all =
        QStringLiteral("Überprüfung Berechtigung|Firma Setzten|Hauptgruppen lesen ..|"
                       "Abteilung lesen ..|Profitcenter lesen ..|Hauptabteilung lesen ..|"
                       "Hauptkundengruppe lesen ..|Hauptversandart lesen ..|"
                       "Defaultparameter ..|Überprüfung Datenbasis|Fertig!")
            .split('|');
    // The user, the clock, the data built, the answer to the question, rebuilds opened.
    const std::tuple<const char*, QDate, const char*, std::optional<MsgAnswer>, int> rows[] = {
        {"GAST", {2024, 4, 15}, "12403`1240401", {}, 0},
        {"DEMO", {2008, 1, 15}, "10711`1071205", MsgAnswer::Yes, 1},
        {"DEMO", {2008, 1, 15}, "10711`1071205", MsgAnswer::No, 0},
        {"DEMO", {2024, 4, 15}, "12403`1240401", {}, 0}, // built for March, the clock in April
    };
    for (const auto& [user, today, built, answer, rebuilds] : rows) {
        SCOPED_TRACE(testing::Message() << user << " " << built << " " << rebuilds);
        setXwgdat(QString::fromLatin1(built));
        statuses.clear();
        rebuildOpened = 0;
        const bool ends = QLatin1String(user) == QLatin1String("GAST");
        if (ends)
            EXPECT_THROW(start(user, "gast", today), srv::ProgramEnded);
        else
            start(user, "demo", today, 1152, answer);
        EXPECT_EQ(statuses, ends ? (QStringList{all[0], "Beenden"}) : all);
        EXPECT_EQ(env->endCalls, ends ? 1 : 0);
        ASSERT_EQ(env->messages().size(), ends || answer ? 1 : 0);
        if (ends || answer) {
            const platform::RecordedMessage& m = env->messages().first();
            EXPECT_EQ(m.title, ends ? "Abbruch!" : "Tallvero");
            EXPECT_TRUE(m.text.startsWith(ends ? "Sie haben keine Berchtigung für dieses Programm."
                                               : "Daten für Periode:10711"));
            EXPECT_EQ(m.icon, ends ? platform::MsgIcon::Stop : platform::MsgIcon::None);
            EXPECT_EQ(m.buttons, ends ? platform::MsgButtons::Ok : platform::MsgButtons::YesNo);
        }
        EXPECT_EQ(env->ui.pendingAnswers(), 0); // the answer was taken
        EXPECT_EQ(rebuildOpened, rebuilds);
    }
    auto* w = window.get();
    EXPECT_EQ(w->windowTitle(), QStringLiteral("ZORVEK Tallvero   Firma: 1     Filiale: 0     "
                                               "Benutzer: DEMO|Demo Müller"));
    EXPECT_EQ(w->SABTNR->count(), w->selection().lists().SABTNR.items().size());
    // View defaults and the ticks that match them.
    EXPECT_EQ(values::store().TableMode, 2);
    EXPECT_EQ(values::store().GraphMode, 0);
    for (QAction* a : {w->mTabelle[2], w->mGraph[0], w->mJahr[0], w->mDaten[0], w->mDetails[1]})
        EXPECT_TRUE(a->isChecked()) << a->objectName().toStdString();
    EXPECT_TRUE(values::store().SelectionChanged); // the company field was set
}

// Which months come and from which selection: the period query's tests. Here
// the store, the redraw and the status line of a fetch and of one that breaks off.
TEST_P(MainWindow, F5FetchesIntoTheStore) {
    start();
    const int before = window->redraws();
    window->mNeuZeichnen->trigger();
    const values::Table& P = values::store().PeriodValues;
    ASSERT_TRUE(P.hasCells());
    EXPECT_FALSE(values::store().SelectionChanged);
    auto* status = window->findChild<QLabel*>(QStringLiteral("fetchStatus"));
    EXPECT_EQ(status->text(), QStringLiteral("64 Monate geholt"));
    EXPECT_EQ(window->redraws(), before + 1);
    EXPECT_EQ(values::store().MonthYearValues(3, 1), P(63, 1)); // the redraw derived the tables
    // A fetch that breaks off says where, and keeps the months it got.
    testsupport::QueryHook hook;
    hook.budget = 20;
    env->clock.advance(60000); // the idle close: the next request reconnects through the hook
    env->maker = [&hook] { return std::make_unique<testsupport::HookedFactory>(hook); };
    window->cmdÜbernehmen->click();
    const retrieval::FetchOutcome& f = window->lastFetch();
    EXPECT_EQ(f.result, retrieval::FetchResult::Failed);
    EXPECT_GT(f.months, 0);
    EXPECT_LT(f.months, 64);
    EXPECT_FALSE(f.failedPeriod.isEmpty());
    EXPECT_EQ(status->text(), QStringLiteral("Abbruch bei Periode %1: %2 Monate geholt")
                                  .arg(f.failedPeriod)
                                  .arg(f.months));
}

// A choice the lists refuse changes nothing: the handler's message, and the
// lists, flags, figures and page as before. The details never list a
// department a restricted user may not choose (M1 of his own main department
// 10), so the row is added as a details run would add it; the drill-down first
// sets the main department back to its empty entry, which must be undone.
TEST_P(MainWindow, ARefusedDrillDownChangesNothing) {
    auto* w = start("ABTLEITER", "abt");
    choose(w->SHABT, QStringLiteral("10"));
    w->mDetails[0]->trigger();
    w->mNeuZeichnen->trigger();
    EXPECT_EQ(w->lastFetch().months, 64); // a main department is enough
    ASSERT_EQ(w->detailsLevel(), GroupLevel::Abt);
    w->addRow(QStringLiteral("M1|1|1|1|1").split('|'));
    const Screen before = screen();
    doubleClick(QStringLiteral("M1"));
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().last().text,
              QStringLiteral("Sie dürfen nur Ihre eigene Abteilung selektieren."));
    EXPECT_EQ(screen(), before);
    EXPECT_EQ(w->drillSteps(), 0);
    EXPECT_FALSE(w->cmdZurück->isEnabled());
    doubleClick(QStringLiteral("MA")); // one of his own: chosen, its main groups follow
    EXPECT_EQ(w->drillSteps(), 1);
    EXPECT_TRUE(w->SABTNR->currentText().startsWith(QStringLiteral("MA ")));
    EXPECT_EQ(w->detailsLevel(), GroupLevel::Hgrp);
}

TEST_P(MainWindow, MenusOptionBoxesAndTheExtendedSelectionWindow) {
    auto* w = start();
    // The split boxes exclude each other; "Monatswerte" takes the third year away.
    w->chkHVArt->setChecked(true);
    EXPECT_FALSE(w->chkHKGRP->isChecked());
    EXPECT_EQ(w->selection().SplitMask, 9);
    w->chkUGRP->setChecked(false);
    EXPECT_EQ(w->selection().SplitMask, 8);
    w->optJahr[2]->click();
    w->optJahrMonat[1]->click();
    EXPECT_FALSE(w->optJahr[2]->isEnabled());
    EXPECT_TRUE(w->txtMonat->isEnabled());

    choose(w->SHVArt, QStringLiteral("S"));
    w->mAuswahl->trigger();
    ASSERT_TRUE(w->auswahlDetailExists());
    mw::FrmAuswahlDetail* x = w->auswahlDetail();
    EXPECT_TRUE(w->mAuswahl->isChecked() && x->isVisible());
    EXPECT_EQ(x->SSTyp->currentText(), QStringLiteral("A Alle"));
    EXPECT_EQ(x->SVART->count(), 3); // the shipping types of the main shipping type
    x->oDarstellung[1]->click();
    EXPECT_EQ(values::store().DisplayMode, 1);
    const int before = w->redraws();
    x->OKButton->click();
    EXPECT_EQ(w->redraws(), before + 1); // the period query ends with a redraw
    // Closing unticks the menu entry; the display choice stays until the next opening.
    x->CancelButton->click();
    EXPECT_FALSE(x->isVisible() || w->mAuswahl->isChecked());
    EXPECT_EQ(values::store().DisplayMode, 1);
    choose(w->SHVArt, QString());
    w->mAuswahl->trigger();
    EXPECT_EQ(values::store().DisplayMode, 0);
    EXPECT_EQ(x->SVART->count(), 6);
    w->mAuswahl->trigger(); // the tick closes the window again
    EXPECT_FALSE(x->isVisible() || w->mAuswahl->isChecked());
    // The view menus tick their entry and redraw; the others open their window.
    values::PeriodValueStore& st = values::store();
    const int redraws = w->redraws();
    w->mGraph[2]->trigger();
    EXPECT_EQ(st.GraphMode, 2);
    EXPECT_FALSE(w->mGraph[0]->isChecked());
    // The DB-percent tick combines with any view.
    w->mGraph[3]->trigger();
    EXPECT_TRUE(w->mGraph[3]->isChecked() && w->mGraph[2]->isChecked());
    EXPECT_EQ(st.GraphMode, 2);
    w->mGraph[3]->trigger();
    EXPECT_FALSE(w->mGraph[3]->isChecked());
    // The ticked entry clicked again stays ticked and still redraws.
    w->mGraph[2]->trigger();
    EXPECT_TRUE(w->mGraph[2]->isChecked());
    w->mTabelle[4]->trigger();
    EXPECT_EQ(st.TableMode, 4);
    EXPECT_FALSE(w->mTabelle[2]->isChecked());
    w->mJahr[1]->trigger();
    EXPECT_EQ(st.YearMode, 1);
    EXPECT_FALSE(w->mJahr[0]->isChecked());
    EXPECT_EQ(w->redraws(), redraws + 6);
    w->HilfeUeber->trigger();
    w->mProgrammverlauf->trigger();
    w->mGenerieren->trigger();
    EXPECT_EQ(opened + rebuildOpened, 3);
}

// The arithmetic: main_rules_test. Here that the window applies it on any
// screen and resolution: details shown, the splitter stands 3735 twips left
// of the right edge.
TEST_P(MainWindow, LayoutFollowsScreenAndPanels) {
    start();
    const QRect base = window->ctSize3->registeredTwips(window->SPCNR);
    const struct { int screen, dpi; } screens[] = {{1920, 144}, {1366, 110}, {1536, 96}};
    for (const auto& sc : screens) {
        SCOPED_TRACE(testing::Message() << sc.screen << " " << sc.dpi);
        dpi = sc.dpi;
        auto* w = start("DEMO", "demo", QDate(2024, 4, 15), sc.screen);
        const double t = w->twipsPerPixel();
        EXPECT_DOUBLE_EQ(t, 1440.0 / sc.dpi);
        w->show();
        w->resize(int(std::lround(10000 / t)) + w->width() - w->centralWidget()->width(), 700);
        w->mDetails[0]->trigger();
        w->mDaten[1]->trigger();
        QApplication::processEvents();
        const double W = w->centralWidget()->width() * t;
        ASSERT_NEAR(W, 10000, t);
        EXPECT_TRUE(w->frDetails->isVisible());
        EXPECT_NEAR(w->ctSplit->sizes().at(0) * t, 6265, t);
        EXPECT_NEAR(w->cmdEinblenden->x() * t,
                    W - (w->frDetails->width() + w->cmdEinblenden->width()) * t - 250, t);
    }
    auto* w = window.get(); // 1536 pixels: every scaled edge grows by a third
    EXPECT_EQ(w->ctSize3->registeredTwips(w->SPCNR),
              QRect(base.x() * 4 / 3, base.y(), base.width() * 4 / 3, base.height()));
    w->cmdEinblenden->click();
    EXPECT_TRUE(w->ctSize3->isVisible());
    w->cmdAusbeldenDetails->click();
    EXPECT_FALSE(w->frDetails->isVisible());
    EXPECT_TRUE(w->mDetails[1]->isChecked());
    w->resize(1000, 700);
    QApplication::processEvents();
    EXPECT_EQ(w->ctSplit->sizes().value(1), 0);
    // The panel keeps its children in proportion at any width.
    const double tpp = w->twipsPerPixel();
    EXPECT_NEAR(w->SHABT->x(),
                w->ctSize3->registeredTwips(w->SHABT).x() * w->ctSize3->width() /
                    double(w->ctSize3->referenceWidth()) / tpp,
                1.5);
    EXPECT_EQ(w->ctSplit->y(), w->ctSize3->height());
    const int ausX = w->cmdAusblenden->x();
    w->cmdAusblenden->click();
    EXPECT_TRUE(w->mDaten[1]->isChecked() && !w->mDaten[0]->isChecked());
    EXPECT_FALSE(w->ctSize3->isVisible());
    EXPECT_EQ(w->ctSplit->y(), 0);
    EXPECT_EQ(w->cmdEinblenden->x() * tpp, ausX * tpp - 150);
    w->hide();
}

// The reconnect after the idle close fails inside every handler that asks the
// server: each ends in the access error report with the arrow and the idle
// timer back, and the window fetches again once the server answers.
// Between the months of that fetch the user chooses a main group and asks for
// the details: neither the list's bracket nor the details run inside the
// fetch; only its end shows the arrow and starts the idle timer.
TEST_P(MainWindow, AFailedReconnectEndsInTheErrorReportAndOneServerWorkRunsAtATime) {
    auto* w = start();
    auto pick = [this](QComboBox* list, const char* code) {
        return [this, list, code] { choose(list, QString::fromLatin1(code)); };
    };
    const std::pair<const char*, std::function<void()>> rows[] = {
        {"SHABT 10", pick(w->SHABT, "10")},
        {"SPCNR 2", pick(w->SPCNR, "2")},
        {"SHGRP 20", pick(w->SHGRP, "20")},
        {"SHABT empty", pick(w->SHABT, "")},
        {"SPCNR empty", pick(w->SPCNR, "")},
        {"extended selection", [w] { w->mAuswahl->trigger(); }},
        {"F5", [w] { w->cmdÜbernehmen->click(); }},
        {"details", [w] { w->cmdÜbernehmenDetails->click(); }},
    };
    env->fake.xecute = [](const QString&) -> QString {
        throw cache::CacheError(cache::err::NotConnected, QStringLiteral("Sitzung abgelehnt"));
    };
    for (const auto& [name, run] : rows) {
        SCOPED_TRACE(name);
        env->clock.advance(60000); // the idle close
        env->maker = [this] { return std::make_unique<fakes::FakeFactory>(env->fake); };
        env->ui.clearMessages();
        EXPECT_NO_THROW(run());
        ASSERT_FALSE(env->messages().isEmpty());
        for (const platform::RecordedMessage& m : env->messages())
            EXPECT_EQ(m.title, QStringLiteral("Caché Zugriffsfehler")) << m.text.toStdString();
        EXPECT_FALSE(env->ui.busyCursor());
        EXPECT_TRUE(env->server.Lock().isActive());
    }
    env->maker = [] { return std::make_unique<cache::server::ServerFactory>(); };
    int calls = 0;
    bool timerDuring = false, arrowDuring = false;
    env->ui.onProcessEvents = [&] {
        if (++calls != 5) return;
        choose(w->SHGRP, QStringLiteral("30")); // 20 was chosen above
        w->cmdÜbernehmenDetails_Click();
        timerDuring = env->server.Lock().isActive();
        arrowDuring = !env->ui.busyCursor();
    };
    w->cmdÜbernehmen->click();
    env->ui.onProcessEvents = {};
    EXPECT_GT(calls, 5);
    EXPECT_FALSE(timerDuring || arrowDuring);
    EXPECT_EQ(w->lastDetails().requests, 0);
    EXPECT_EQ(w->lastFetch().months, 64);
    EXPECT_FALSE(env->ui.busyCursor());
    EXPECT_TRUE(env->server.Lock().isActive());
}

// A re-login applies the new user's rights as the start-up does, with fresh
// lists: nothing of the last user's choice, view or drill-down is left.
TEST_P(MainWindow, ReLoginAppliesTheNewUsersRights) {
    auto* w = start();
    env->mainVisible = true;
    env->onCaption = [w](const QString& c) { w->loggedInAgain(c); };
    choose(w->SABTNR, QStringLiteral("M3"));
    w->mGraph[1]->trigger();
    w->mAuswahl->trigger();
    w->mDetails[0]->trigger();
    w->mNeuZeichnen->trigger();
    doubleClick(w->ctList->topLevelItem(1)->text(0));
    ASSERT_EQ(w->drillSteps(), 1);
    // The credentials now come from the dialog, not the command line.
    srv::connectionSettings().CommandLine.clear();
    env->commandLine.clear();
    for (const auto& [user, password, level] :
         {std::tuple{"ABTLEITER", "abt", 5}, std::tuple{"DEMO", "demo", 1}}) {
        SCOPED_TRACE(user);
        w->mLogin->trigger();
        env->login.enterUser(QString::fromLatin1(user));
        env->login.setText(srv::LoginField::BPASSWORT, QString::fromLatin1(password));
        env->login.clickAnmelden();
        EXPECT_TRUE(w->windowTitle().endsWith(srv::userContext().BenutzerName));
        EXPECT_EQ(w->permissionLevel(), level);
        EXPECT_EQ(w->SPCNR->isEnabled(), level != 5);
        for (QAction* a : {w->mGraph[1], w->mTabelle[3], w->mAuswahl})
            EXPECT_EQ(a->isEnabled(), level != 5) << a->objectName().toStdString();
        EXPECT_FALSE(w->mGraph[1]->isChecked() || w->mAuswahl->isChecked());
        EXPECT_EQ(w->SABTNR->currentIndex(), -1);
        EXPECT_FALSE(w->selection().departmentChosen());
        EXPECT_EQ(w->drillSteps(), 0);
        EXPECT_FALSE(w->mZurück->isEnabled());
        EXPECT_EQ(w->detailsLevel(), GroupLevel::None);
    }
}

TEST_P(MainWindow, ZoomBoxAndPreviewStayInStep) {
    auto* w = start();
    EXPECT_EQ(w->VSPrinter1->zoomMode(), print::ZoomWholePage);
    // Typed text: a percentage, a mode by name in any case (the box then
    // shows its item, one round only), or nothing it knows.
    const std::tuple<const char*, int, double, const char*, int> typed[] = {
        {"125", print::ZoomPercent, 125, "125%", 1},
        {"150%", print::ZoomPercent, 150, "150%", 1},
        {"seitenBREITE", print::ZoomPageWidth, 0, "Seitenbreite", 2},
        {"zwei seiten", print::ZoomTwoPages, 0, "Zwei Seiten", 2},
        {"Ganze Seite", print::ZoomWholePage, 0, "Ganze Seite", 2},
        {"Alle Seiten", print::ZoomAllPages, 0, "Alle Seiten", 2},
        {"irgendwas", print::ZoomAllPages, 0, "Alle Seiten", 2}};
    for (const auto& [text, mode, zoom, shown, runs] : typed) {
        SCOPED_TRACE(text);
        const int before = w->zoomHandlerRuns();
        w->cmbZoom->setEditText(QString::fromUtf8(text));
        w->cmbZoom_Click();
        EXPECT_EQ(w->VSPrinter1->zoomMode(), mode);
        if (zoom > 0) {
            EXPECT_DOUBLE_EQ(w->VSPrinter1->zoom(), zoom);
        }
        EXPECT_EQ(w->cmbZoom->currentText(), QString::fromUtf8(shown));
        EXPECT_EQ(w->zoomHandlerRuns(), before + runs);
    }
    // A zoom the preview chose itself: the system's decimal separator and no
    // grouping; confirming the text reads it back.
    const QLocale de(QLocale::German), us(QLocale::English, QLocale::UnitedStates);
    const std::tuple<double, QLocale, const char*, double> zooms[] = {{10, de, "10%", 10},
                                                                      {87.5, de, "87,5%", 87},
                                                                      {87.5, us, "87.5%", 87.5},
                                                                      {1000, de, "1000%", 1000},
                                                                      {1000, us, "1000%", 1000}};
    for (const auto& [zoom, locale, text, back] : zooms) {
        QLocale::setDefault(locale);
        w->VSPrinter1->setZoom(zoom);
        emit w->VSPrinter1->zoomChanged();
        EXPECT_EQ(w->cmbZoom->currentText().toStdString(), text);
        w->cmbZoom_Click();
        EXPECT_DOUBLE_EQ(w->VSPrinter1->zoom(), back) << text;
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const int redraws = w->redraws();
    emit w->VSPrinter1->redrawRequested();
    EXPECT_EQ(w->redraws(), redraws + 1);
}

// Through a real spooler: printing right after a change fetches before the
// dialog; three copies are three jobs, each one A4 landscape page with the
// page's texts; a cancelled dialog neither redraws nor prints.
TEST_P(MainWindow, PrintingFetchesFirstAndEachCopyIsAJob) {
    if (GetParam() != TestEngine::Sqlite) GTEST_SKIP() << "printing does not depend on the engine";
    testsupport::PrintSpooler spooler;
    if (!spooler.problem().isEmpty()) {
        if (qEnvironmentVariable("TALLVERO_REQUIRE_CUPS") == QLatin1String("1"))
            FAIL() << "no CUPS scheduler: " << spooler.problem().toStdString();
        GTEST_SKIP() << "no CUPS scheduler: " << spooler.problem().toStdString();
    }
    start();
    window->mNeuZeichnen->trigger();
    choose(window->SHGRP, QStringLiteral("20"));
    printerName = spooler.queue();
    copies = 3;
    window->mDrucken->trigger();
    EXPECT_FALSE(changedAtDialog);
    copies.reset();
    const int redraws = window->redraws();
    window->mDrucken->trigger();
    EXPECT_EQ(printDialogs, 2);
    EXPECT_EQ(window->redraws(), redraws);
    const auto jobs = spooler.jobs(120000);
    ASSERT_EQ(jobs.size(), 3) << spooler.logs().toStdString();
    for (const auto& job : jobs) {
        SCOPED_TRACE(job.id);
        ASSERT_FALSE(job.pdf.isEmpty()) << spooler.logs().toStdString();
        const auto sent = testsupport::PrintSpooler::pdfPages(job.document);
        ASSERT_EQ(sent.size(), 1);
        EXPECT_TRUE(sent[0].a4 && sent[0].landscape);
        const auto printed = testsupport::PrintSpooler::pdfPages(job.pdf);
        ASSERT_EQ(printed.size(), 1);
        EXPECT_TRUE(printed[0].a4);
        const QString text = testsupport::PrintSpooler::pdfText(job.document);
        for (const char* t : {"Tallvero", "HG:20 ", "Jänner", "Dezember",
                              "Gedruckt durch: ", "Kalenderjahr", "Umsatz", "Deckungsbeitrag"})
            EXPECT_TRUE(text.contains(QString::fromUtf8(t))) << t;
    }
}

// The contents are the report tool's (its tests check them); here the menu
// entries, the byte order mark and a file that cannot be written.
TEST_P(MainWindow, ExportsPageAndTable) {
    QTemporaryDir dir;
    start();
    window->cmdÜbernehmen->click();
    saveAs = dir.filePath(QStringLiteral("seite.pdf"));
    window->mExportPdf->trigger();
    EXPECT_GT(QFileInfo(saveAs).size(), 1000);
    saveAs = dir.filePath(QStringLiteral("werte.csv"));
    window->mExportCsv->trigger();
    QFile f(saveAs);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().startsWith("\xEF\xBB\xBFin % v. 2020-2022;J\xC3\xA4nner;"));
    for (QAction* a : {window->mExportCsv, window->mExportPdf}) {
        SCOPED_TRACE(a->objectName().toStdString());
        saveAs = dir.filePath(QStringLiteral("fehlt/datei"));
        env->ui.clearMessages();
        a->trigger();
        ASSERT_EQ(env->messages().size(), 1);
        EXPECT_TRUE(env->messages().last().text.contains(
            QStringLiteral("konnte nicht geschrieben werden")));
    }
}

// Which rows and columns: the detail query's tests. Here the list they fill.
TEST_P(MainWindow, DetailsPaneFillsAndSortsItsList) {
    auto* w = start();
    auto* l = w->ctList;
    choose(w->SHABT, QStringLiteral("10"));
    w->cmdÜbernehmenDetails->click();
    ASSERT_EQ(l->columnCount(), 5); // mask 3: customer groups
    EXPECT_EQ(l->headerItem()->text(4), QStringLiteral("G DB"));
    EXPECT_EQ(l->topLevelItemCount(), w->SABTNR->count()); // the total and each department
    // "Daten holen" from the menu: the details only while the pane is shown.
    const int before = w->lastDetails().requests;
    w->chkHKGRP->setChecked(false); // mask 1: no split
    w->mNeuZeichnen->trigger();
    EXPECT_EQ(w->lastDetails().requests, before);
    w->mDetails[0]->trigger();
    w->mNeuZeichnen->trigger();
    EXPECT_EQ(l->columnCount(), 3);
    EXPECT_EQ(w->lastDetails().requests, w->SABTNR->count());

    // Sorting by whole numbers, largest first, the same column again turns it.
    l->clear();
    for (const char* r : {"|12.345|-7", "10|987|1.000", "20|-1.200|5", "30|4.560|80"})
        l->addTopLevelItem(new QTreeWidgetItem(QString::fromLatin1(r).split('|')));
    // The header clicked, the order of the group column afterwards.
    const std::pair<int, const char*> clicks[] = {
        {2, "|30|10|20"}, {2, "20|10|30|"}, {3, "10|30|20|"}, {1, "10|30|20|"}};
    for (const auto& [header, order] : clicks) {
        w->ctList_HeaderClick(header);
        QStringList groups;
        for (int i = 0; i < l->topLevelItemCount(); ++i)
            groups << l->topLevelItem(i)->text(0);
        EXPECT_EQ(groups.join('|'), QLatin1String(order)) << header;
    }
}

// Down a chain of levels by double-clicks and back step by step: each step
// chooses the row's code in its list, fetches, names it on the page and lists
// the groups one level down; the total row (and the single row of a chosen
// sub group) chooses nothing; "Zurück" restores each screen exactly.
TEST_P(MainWindow, DrillDownThroughEveryLevelAndBack) {
    struct Step {
        GroupLevel rows;   // what the details list is grouped by
        const char* code;  // the row double-clicked ("": the first group)
        const char* label; // what the page then names
        GroupLevel next;   // the details one level further down
    };
    // The grouping question: profit centres (Yes) or main departments.
    const std::pair<MsgAnswer, std::vector<Step>> chains[] = {
        {MsgAnswer::Yes,
         {{GroupLevel::Pc, "2", "PC:", GroupLevel::Abt},
          // The department's main groups, not the profit centre's departments again.
          {GroupLevel::Abt, "", "ABT:", GroupLevel::Hgrp},
          {GroupLevel::Hgrp, "", "HG:", GroupLevel::Ugrp},
          {GroupLevel::Ugrp, "", "UG:", GroupLevel::None}}},
        {MsgAnswer::No,
         {{GroupLevel::Habt, "10", "HABT:", GroupLevel::Abt},
          {GroupLevel::Abt, "M2", "ABT:", GroupLevel::Hgrp}}},
    };
    for (const auto& [grouping, steps] : chains) {
        auto* w = start();
        w->mDetails[0]->trigger();
        env->ui.queueAnswer(grouping);
        w->mNeuZeichnen->trigger();
        std::vector<Screen> before{screen()};
        for (const Step& st : steps) {
            SCOPED_TRACE(st.label);
            ASSERT_EQ(w->detailsLevel(), st.rows);
            const QString code =
                *st.code ? QString::fromLatin1(st.code) : before.back().rows.value(1).value(0);
            doubleClick(code);
            EXPECT_EQ(mw::codeOf(w->selection().listOf(st.rows)->currentText()), code);
            EXPECT_FALSE(values::store().SelectionChanged);
            EXPECT_EQ(w->lastFetch().months, 64);
            const QString line = report::SelectionLine(w->pageInputs());
            EXPECT_TRUE(line.contains(QLatin1String(st.label) + code + ' ')) << line.toStdString();
            EXPECT_TRUE(std::ranges::any_of(w->VSPrinter1->shownPage(),
                                            [&](const print::Op& op) { return op.text == line; }));
            EXPECT_EQ(w->detailsLevel(), st.next);
            const QStringList groups = w->selection().groupCodes(st.next);
            for (const QStringList& r : screen().rows)
                EXPECT_TRUE(st.next == GroupLevel::None ? r.value(0).isEmpty()
                                                        : groups.contains(r.value(0)))
                    << r.value(0).toStdString();
            EXPECT_EQ(w->drillSteps(), int(before.size()));
            before.push_back(screen());
            doubleClick(QString());
            EXPECT_EQ(screen(), before.back());
        }
        // Back, step by step, by the menu and by the button.
        for (size_t i = before.size() - 1; i-- > 0;) {
            ASSERT_TRUE(w->cmdZurück->isEnabled());
            i % 2 ? w->mZurück->trigger() : w->cmdZurück->click();
            EXPECT_EQ(screen(), before[i]) << "back to step " << i;
        }
        EXPECT_FALSE(w->mZurück->isEnabled() || w->cmdZurück->isEnabled());
    }
}

TEST_P(MainWindow, TheReportBookLeavesTheScreenAsItWas) {
    QTemporaryDir dir;
    auto* w = start();
    choose(w->SHABT, QStringLiteral("10"));
    w->mDetails[0]->trigger();
    w->mNeuZeichnen->trigger();
    // Changed since the fetch: the book shows it, the screen keeps it to fetch.
    choose(w->SPG, QStringLiteral("P"));
    ASSERT_TRUE(values::store().SelectionChanged);
    const Screen before = screen();
    const int redraws = w->redraws();
    const auto offered = [](const char* list, QComboBox* c) {
        return QStringLiteral("%1 (%2 Einträge)").arg(QLatin1String(list)).arg(c->count() - 1);
    };
    bookList = offered("Abteilungen", w->SABTNR);
    saveAs = dir.filePath(QStringLiteral("mappe.pdf"));
    w->mBerichtsmappe->trigger();
    // No sub groups without a main group.
    EXPECT_EQ(bookLists,
              (QStringList{offered("Profitcenter", w->SPCNR), offered("Hauptabteilungen", w->SHABT),
                           bookList, offered("Hauptgruppen", w->SHGRP)}));
    EXPECT_EQ(screen(), before);
    EXPECT_TRUE(values::store().SelectionChanged);
    EXPECT_EQ(w->redraws(), redraws);
    // The main department's page, then one for each department with sales.
    auto d = site_->db->open();
    cache::server::Store store(*d);
    QStringList want{QStringLiteral("HKG:P Privat HABT:") + w->SHABT->currentText()};
    for (int i = 1; i < w->SABTNR->count(); ++i) {
        cache::server::Selection sel;
        sel[2] = mw::codeOf(w->SABTNR->itemText(i));
        sel[5] = QStringLiteral("P");
        const cache::server::Sums sum = store.rawSum(1, 11901, 12404, sel);
        if (sum.umsatz != 0 || sum.kosten != 0)
            want << QStringLiteral("HKG:P Privat ABT:") + w->SABTNR->itemText(i);
    }
    EXPECT_EQ(testsupport::pdfSelectionLines(saveAs), want);
}

// The dots of a capital umlaut: the pixels where a text with Ü and the same
// text with U differ, in a widget and drawn freely on a large page.
TEST(CapitalUmlauts, KeepTheirDotsInListsStatusLinesAndLabels) {
    const QString before = QApplication::style()->name();
    QApplication::setStyle(new platform::TextRoomStyle);
    auto dots = [](const QImage& a, const QImage& b) {
        int n = 0;
        for (int y = 0; y < std::min(a.height(), b.height()); ++y)
            for (int x = 0; x < std::min(a.width(), b.width()); ++x) {
                const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                n += std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                               std::abs(qBlue(p) - qBlue(q))}) > 60;
            }
        return n;
    };
    auto free = [](const QFont& f, const QString& text) {
        QImage page(600, 100, QImage::Format_RGB32);
        page.fill(Qt::white);
        QPainter p(&page);
        p.setFont(f);
        p.drawText(20, 60, text);
        return page;
    };
    mw::Splash splash;
    windows::frmProgrammverlauf* log = windows::frmProgrammverlauf::instance();
    auto* rows = log->findChild<QTreeView*>(QStringLiteral("Verlauf"));
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tallvero"), QString(),
                    QMessageBox::Yes | QMessageBox::No);
    const struct {
        const char* where;
        QWidget *shown, *grabbed;
        std::function<void(const QString&)> show;
    } cases[] = {
        {"start-up status line", &splash, splash.findChild<QLabel*>(QStringLiteral("Panel1")),
         [&](const QString& t) { splash.setStatus(t); }},
        {"program log", log, rows->viewport(),
         [&](const QString& t) {
             windows::programLog().clear();
             windows::WriteLog(t, QStringLiteral("Datenabfrage"), QString());
             rows->setCurrentIndex({});
         }},
        {"message box", &box, box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label")),
         [&](const QString& t) { box.setText(t); }},
    };
    const QString with = QStringLiteral("Überprüfung"), without = QStringLiteral("Uberprüfung");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.where);
        c.shown->show();
        auto render = [&](const QString& text) {
            c.show(text);
            c.shown->adjustSize();
            for (int i = 0; i < 3; ++i)
                QApplication::processEvents();
            return c.grabbed->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };
        const int drawn = dots(free(c.grabbed->font(), with), free(c.grabbed->font(), without));
        ASSERT_GT(drawn, 0);
        EXPECT_GE(dots(render(with), render(without)), drawn);
        c.shown->hide();
    }
    windows::programLog().clear();
    QApplication::setStyle(before);
}

INSTANTIATE_ON_BOTH_ENGINES(MainWindow);

} // namespace
