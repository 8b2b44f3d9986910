// The main window against the embedded server (and PostgreSQL): start-up,
// lists and their cascades, the permission rules, the details options, the
// extended selection window, the data basis question, layout and menus.

#include "main_window/FMStart.h"
#include "main_window/ProportionalPanel.h"
#include "main_window/Rules.h"
#include "main_window/Selection.h"
#include "main_window/Splash.h"
#include "platform/cache/server/Database.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "platform/print/PreviewWidget.h"
#include "platform/ui/TextRoomStyle.h"
#include "report/Page.h"
#include "server/SessionEnv.h"
#include "support/DemoSite.h"
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
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSpinBox>
#include <QSplitter>
#include <QSqlQuery>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTreeView>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <map>
#include <optional>

using platform::MsgAnswer;
using platform::MsgButtons;
using platform::MsgIcon;
using testsupport::TestEngine;

namespace {

using Site = testsupport::DemoSite;

QStringList items(const QComboBox* c) {
    QStringList out;
    for (int i = 0; i < c->count(); ++i)
        out << c->itemText(i);
    return out;
}

// Code + " " + name rows of a master-data query, with the empty first entry.
QStringList expected(Site& s, const QString& sql, const QVariantList& binds = {}) {
    auto d = s.db->open();
    QStringList out{QString()};
    QSqlQuery& q = d->exec(sql, binds);
    while (q.next())
        out << q.value(0).toString() + QLatin1Char(' ') + q.value(1).toString();
    q.finish();
    return out;
}

class MainWindow : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &testsupport::demoSite(GetParam(), QStringLiteral("mainwindow"), 3000);
        values::resetStore();
        setXwgdat(QStringLiteral("12403`1240401"));
    }
    void TearDown() override {
        window.reset();
        env.reset();
    }

    void setXwgdat(const QString& v) {
        auto d = site_->db->open();
        cache::server::Store(*d).setGlobal(QStringLiteral("XWGDAT"), v);
    }

    // Starts the window as `user` with the clock at `today`.
    void start(const char* user, const char* password, QDate today = QDate(2024, 4, 15),
               int screen = 1152, std::optional<MsgAnswer> answer = {}) {
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
            .showAbout = [this] { ++aboutShown; },
            .showLog = [this](QWidget*) { ++logShown; },
            .processCommandLine = [this] { return env->commandLine; },
            .printDialog = [this](QPrinter& p, QWidget*) { return printDialog(p); },
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
    }
    void choose(QComboBox* list, const QString& startsWith) {
        for (int i = 0; i < list->count(); ++i)
            if (startsWith.isEmpty()
                    ? list->itemText(i).isEmpty()
                    : list->itemText(i).startsWith(startsWith + QLatin1Char(' '))) {
                window->setListIndex(list, i);
                return;
            }
        ADD_FAILURE() << "no item " << startsWith.toStdString();
    }

    Site* site_ = nullptr;
    std::unique_ptr<testenv::Env> env;
    std::unique_ptr<mw::FMStart> window;
    QStringList statuses;
    int rebuildOpened = 0, aboutShown = 0, logShown = 0;
    // The printer dialog: answers `copies` (nothing = cancelled) and prints
    // to the printer `printerName`, or to a PDF without one.
    std::optional<int> printDialog(QPrinter& p) {
        ++printDialogs;
        fetchesBeforeDialog = window->lastFetch().months;
        if (!printerName.isEmpty()) {
            p.setPrinterName(printerName);
        } else {
            p.setOutputFormat(QPrinter::PdfFormat);
            p.setOutputFileName(printFile);
        }
        return copies;
    }
    std::optional<int> copies = 1;
    int dpi = 96; // of the screen the window starts on
    int printDialogs = 0, fetchesBeforeDialog = -1;
    QString printFile, printerName, saveAs;
    QStringList bookLists; // what the book offered
    QString bookList;      // the one to answer

    // What a drill-down changes and "Zurück" or a refusal must leave as it was.
    struct Screen {
        mw::SelectionState selection;
        QStringList values; // PeriodValues, "-" for an empty cell
        print::DisplayList page;
        QList<QStringList> rows;
        retrieval::GroupLevel level;
        bool operator==(const Screen&) const = default;
    };
    Screen screen() const {
        Screen s{window->selection().state(),
                 {},
                 window->VSPrinter1->shownPage(),
                 {},
                 window->detailsLevel()};
        const values::Table& P = values::store().PeriodValues;
        for (int n = 1; P.hasCells() && n <= 72; ++n)
            for (int m = 1; m <= 2; ++m)
                s.values << (P(n, m).isEmpty() ? QStringLiteral("-")
                                               : QString::number(P(n, m).value()));
        for (int i = 0; i < window->ctList->topLevelItemCount(); ++i) {
            QStringList r;
            for (int c = 0; c < window->ctList->columnCount(); ++c)
                r << window->ctList->topLevelItem(i)->text(c);
            s.rows << r;
        }
        return s;
    }
    // Double-clicks the details row of group `code` ("" the total row,
    // "*" the first group row).
    void doubleClick(const QString& code) {
        QTreeWidget* l = window->ctList;
        for (int i = 0; i < l->topLevelItemCount(); ++i) {
            const QString g = l->topLevelItem(i)->text(0);
            if (code == QLatin1String("*") ? !g.isEmpty() : g == code) {
                emit l->itemDoubleClicked(l->topLevelItem(i), 0);
                return;
            }
        }
        ADD_FAILURE() << "no details row " << code.toStdString();
    }
    // The selection line on the page in the preview.
    QString pageLine() const {
        const QString want = report::SelectionLine(window->pageInputs());
        for (const print::Op& op : window->VSPrinter1->shownPage())
            if (op.text == want) return want;
        return QStringLiteral("(not on the page) ") + want;
    }
};

TEST_P(MainWindow, StartUpRunsInOrderAndFillsTheLists) {
    start("DEMO", "demo");
    EXPECT_EQ(
        statuses,
        (QStringList{
            QStringLiteral("Überprüfung Berechtigung"), QStringLiteral("Firma Setzten"),
            QStringLiteral("Hauptgruppen lesen .."), QStringLiteral("Abteilung lesen .."),
            QStringLiteral("Profitcenter lesen .."), QStringLiteral("Hauptabteilung lesen .."),
            QStringLiteral("Hauptkundengruppe lesen .."),
            QStringLiteral("Hauptversandart lesen .."), QStringLiteral("Defaultparameter .."),
            QStringLiteral("Überprüfung Datenbasis"), QStringLiteral("Fertig!")}));
    EXPECT_TRUE(env->messages().isEmpty()); // data built for March, clock in April
    EXPECT_EQ(
        window->windowTitle(),
        QStringLiteral("ZORVEK Tallvero   Firma: 1     Filiale: 0     Benutzer: DEMO|Demo Müller"));
    EXPECT_EQ(window->SFirma->text(), QStringLiteral("1"));

    Site& s = *site_;
    EXPECT_EQ(items(window->SHGRP),
              expected(s, QStringLiteral(
                              "SELECT hgrp, name FROM hauptgruppe WHERE firma = 1 ORDER BY hgrp")));
    EXPECT_EQ(items(window->SABTNR),
              expected(s, QStringLiteral(
                              "SELECT abtnr, name FROM abteilung WHERE firma = 1 ORDER BY abtnr")));
    EXPECT_EQ(
        items(window->SHABT),
        expected(s,
                 QStringLiteral(
                     "SELECT habtnr, name FROM hauptabteilung WHERE firma = 1 ORDER BY habtnr")));
    // Names of a class query come 7-bit and are converted back.
    EXPECT_EQ(items(window->SPCNR), (QStringList{QString(), QStringLiteral("1 Stammhaus"),
                                                 QStringLiteral("2 Filiale Süd"),
                                                 QStringLiteral("3 Großkunden & Objekte")}));
    EXPECT_TRUE(items(window->SHGRP).contains(QStringLiteral("10 Sanitärkeramik")));
    EXPECT_EQ(items(window->SPG),
              (QStringList{QString(), QStringLiteral("P Privat"), QStringLiteral("G Gewerbe")}));
    EXPECT_EQ(items(window->SHVArt),
              (QStringList{QString(), QStringLiteral("L Lager"), QStringLiteral("S Strecke")}));
    EXPECT_EQ(window->SUGRP->count(), 0);
    for (QComboBox* c : {window->SHGRP, window->SABTNR, window->SPCNR, window->SHABT, window->SPG,
                         window->SHVArt}) {
        EXPECT_EQ(c->currentIndex(), -1) << c->objectName().toStdString();
        EXPECT_EQ(c->itemText(0), QString());
    }

    // Captions from the year labels of the clock year.
    EXPECT_EQ(window->mTabelle[2]->text(), QStringLiteral("% Bezogen auf 2020-2022"));
    EXPECT_EQ(window->mTabelle[3]->text(), QStringLiteral("% Bezogen auf 2023"));
    EXPECT_EQ(window->optJahr[1]->text(), QStringLiteral("2023"));
    EXPECT_EQ(window->optJahr[2]->text(), QStringLiteral("2020-2022"));

    // View defaults and the ticks that match them.
    EXPECT_EQ(values::store().TableMode, 2);
    EXPECT_EQ(values::store().GraphMode, 0);
    EXPECT_EQ(window->selection().SplitMask, 3);
    EXPECT_EQ(window->selection().YearChoice, 0);
    EXPECT_EQ(window->selection().PeriodKind, 0);
    EXPECT_TRUE(window->mTabelle[2]->isChecked());
    EXPECT_TRUE(window->mGraph[0]->isChecked());
    EXPECT_TRUE(window->mJahr[0]->isChecked());
    EXPECT_TRUE(window->mDaten[0]->isChecked());
    EXPECT_TRUE(window->mDetails[1]->isChecked());
    EXPECT_TRUE(window->SPCNR->isEnabled());
    EXPECT_TRUE(window->mAuswahl->isEnabled());
    // Setting the company field was a change: the first print fetches.
    EXPECT_TRUE(values::store().SelectionChanged);
}

TEST_P(MainWindow, AUserWithoutRightsEndsTheProgram) {
    EXPECT_THROW(start("GAST", "gast"), srv::ProgramEnded);
    ASSERT_FALSE(env->messages().isEmpty());
    const platform::RecordedMessage& m = env->messages().last();
    EXPECT_EQ(m.title, QStringLiteral("Abbruch!"));
    EXPECT_EQ(m.text, QStringLiteral("Sie haben keine Berchtigung für dieses Programm."));
    EXPECT_EQ(m.icon, MsgIcon::Stop);
    EXPECT_EQ(statuses,
              (QStringList{QStringLiteral("Überprüfung Berechtigung"), QStringLiteral("Beenden")}));
    EXPECT_EQ(env->endCalls, 1);
}

TEST_P(MainWindow, RestrictedUserRules) {
    start("ABTLEITER", "abt");
    EXPECT_EQ(window->permissionLevel(), 5);
    EXPECT_FALSE(window->SPCNR->isEnabled());
    EXPECT_FALSE(window->mGraph[1]->isEnabled());
    EXPECT_FALSE(window->mTabelle[3]->isEnabled());
    EXPECT_FALSE(window->mAuswahl->isEnabled());
    EXPECT_TRUE(window->mGraph[0]->isEnabled());
    EXPECT_TRUE(window->mTabelle[2]->isEnabled());
    const int allDepartments = window->SABTNR->count();

    // Own department M2: MA is allowed, M3 is not.
    choose(window->SABTNR, QStringLiteral("MA"));
    EXPECT_TRUE(values::store().SelectionChanged);
    EXPECT_TRUE(window->selection().DepartmentChosen);
    EXPECT_TRUE(env->messages().isEmpty());
    values::store().SelectionChanged = false;
    choose(window->SABTNR, QStringLiteral("M3"));
    EXPECT_FALSE(values::store().SelectionChanged);
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().last().title, QStringLiteral("Fehlermeldung"));
    EXPECT_EQ(env->messages().last().text,
              QStringLiteral("Sie dürfen nur Ihre eigene Abteilung selektieren."));

    // A foreign main department is undone at once: all departments again.
    choose(window->SHABT, QStringLiteral("20"));
    ASSERT_EQ(env->messages().size(), 2);
    EXPECT_EQ(env->messages().last().text,
              QStringLiteral("Sie dürfen nur Ihre eigene Hauptabteilung selektieren."));
    EXPECT_EQ(window->SHABT->currentIndex(), 0);
    EXPECT_EQ(window->SABTNR->count(), allDepartments);
    EXPECT_FALSE(window->selection().DepartmentChosen);
    EXPECT_FALSE(values::store().SelectionChanged);
    // The own main department is accepted.
    choose(window->SHABT, QStringLiteral("10"));
    EXPECT_EQ(env->messages().size(), 2);
    EXPECT_TRUE(window->selection().DepartmentChosen);
    EXPECT_TRUE(values::store().SelectionChanged);
}

TEST_P(MainWindow, ListsCascade) {
    start("DEMO", "demo");
    Site& s = *site_;
    auto* w = window.get();

    choose(w->SPCNR, QStringLiteral("2"));
    EXPECT_EQ(items(w->SHABT),
              expected(s, QStringLiteral(
                              "SELECT h.habtnr, h.name FROM hauptabteilung h WHERE h.firma = 1 AND "
                              "EXISTS (SELECT 1 FROM abteilung a WHERE a.firma = 1 AND a.habtnr = "
                              "h.habtnr AND a.pcnr = '2') ORDER BY h.habtnr")));
    const QStringList pcDepartments = expected(
        s, QStringLiteral(
               "SELECT abtnr, name FROM abteilung WHERE firma = 1 AND pcnr = '2' ORDER BY abtnr"));
    EXPECT_EQ(items(w->SABTNR), pcDepartments);
    EXPECT_TRUE(items(w->SABTNR).contains(QStringLiteral("ME Fliesen Filiale Süd")));
    EXPECT_TRUE(values::store().SelectionChanged);

    // The empty profit centre brings all main departments back; the
    // departments stay as they were.
    choose(w->SPCNR, QString());
    EXPECT_EQ(
        items(w->SHABT),
        expected(s,
                 QStringLiteral(
                     "SELECT habtnr, name FROM hauptabteilung WHERE firma = 1 ORDER BY habtnr")));
    EXPECT_EQ(items(w->SABTNR), pcDepartments);

    values::store().SelectionChanged = false;
    choose(w->SHABT, QStringLiteral("10"));
    EXPECT_EQ(items(w->SABTNR),
              expected(s, QStringLiteral(
                              "SELECT abtnr, name FROM abteilung WHERE firma = 1 AND habtnr = '10' "
                              "ORDER BY abtnr")));
    EXPECT_TRUE(w->selection().DepartmentChosen);
    EXPECT_TRUE(values::store().SelectionChanged);
    values::store().SelectionChanged = false;
    choose(w->SHABT, QString());
    EXPECT_EQ(items(w->SABTNR),
              expected(s, QStringLiteral(
                              "SELECT abtnr, name FROM abteilung WHERE firma = 1 ORDER BY abtnr")));
    EXPECT_FALSE(w->selection().DepartmentChosen);
    EXPECT_FALSE(values::store().SelectionChanged);

    choose(w->SHGRP, QStringLiteral("20"));
    const QStringList subs = expected(
        s, QStringLiteral(
               "SELECT ugrp, name FROM untergruppe WHERE firma = 1 AND hgrp = '20' ORDER BY ugrp"));
    EXPECT_EQ(items(w->SUGRP), subs);
    EXPECT_GT(subs.size(), 2);
    EXPECT_TRUE(std::any_of(subs.begin(), subs.end(), [](const QString& t) {
        return t.endsWith(QStringLiteral(" Zubehör"));
    }));
    EXPECT_TRUE(values::store().SelectionChanged);
    values::store().SelectionChanged = false;
    choose(w->SHGRP, QString());
    EXPECT_EQ(w->SUGRP->count(), 0); // not even the empty entry
    EXPECT_FALSE(values::store().SelectionChanged);

    for (QComboBox* c : {w->SPG, w->SHVArt}) {
        values::store().SelectionChanged = false;
        window->setListIndex(c, 1);
        EXPECT_TRUE(values::store().SelectionChanged) << c->objectName().toStdString();
    }
    values::store().SelectionChanged = false;
    w->SFirma->setText(QStringLiteral("2"));
    EXPECT_TRUE(values::store().SelectionChanged);
    EXPECT_EQ(w->companyNumber(), QStringLiteral("2"));
    w->SFirma->setText(QStringLiteral("01"));
    EXPECT_EQ(w->companyNumber(), QStringLiteral("1"));
}

TEST_P(MainWindow, DetailsOptions) {
    start("DEMO", "demo");
    auto* w = window.get();
    ASSERT_EQ(w->selection().SplitMask, 3);
    // The two split boxes exclude each other; the mask follows every tick.
    w->chkHVArt->setChecked(true);
    EXPECT_EQ(w->selection().SplitMask, 9);
    EXPECT_FALSE(w->chkHKGRP->isChecked());
    w->chkHKGRP->setChecked(true);
    EXPECT_EQ(w->selection().SplitMask, 3);
    EXPECT_FALSE(w->chkHVArt->isChecked());
    w->chkUGRP->setChecked(false);
    EXPECT_EQ(w->selection().SplitMask, 2);
    w->chkHKGRP->setChecked(false);
    EXPECT_EQ(w->selection().SplitMask, 0);
    w->chkHVArt->setChecked(true);
    EXPECT_EQ(w->selection().SplitMask, 8);
    w->chkUGRP->setChecked(true);
    EXPECT_EQ(w->selection().SplitMask, 9);
    w->chkHVArt->setChecked(false);
    EXPECT_EQ(w->selection().SplitMask, 1);

    // "Monatswerte" takes the third year button away.
    w->optJahr[2]->click();
    EXPECT_EQ(w->selection().YearChoice, 2);
    w->optJahrMonat[1]->click();
    EXPECT_EQ(w->selection().PeriodKind, 1);
    EXPECT_EQ(w->selection().YearChoice, 0);
    EXPECT_FALSE(w->optJahr[2]->isEnabled());
    EXPECT_TRUE(w->txtMonat->isEnabled());
    w->optJahr[1]->click();
    EXPECT_EQ(w->selection().YearChoice, 1);
    w->optJahrMonat[0]->click();
    EXPECT_EQ(w->selection().PeriodKind, 0);
    EXPECT_EQ(w->selection().YearChoice, 1);
    EXPECT_TRUE(w->optJahr[2]->isEnabled());
    EXPECT_FALSE(w->txtMonat->isEnabled());
}

TEST_P(MainWindow, ExtendedSelectionWindowAndItsTick) {
    start("DEMO", "demo");
    auto* w = window.get();
    choose(w->SHVArt, QStringLiteral("S"));
    w->mAuswahl->trigger();
    ASSERT_TRUE(w->auswahlDetailExists());
    mw::FrmAuswahlDetail* x = w->auswahlDetail();
    EXPECT_TRUE(w->mAuswahl->isChecked());
    EXPECT_TRUE(x->isVisible());
    EXPECT_EQ(x->windowTitle(), QStringLiteral("Zusätzliche Auswahlparameter"));
    EXPECT_EQ(items(x->SSTyp),
              (QStringList{QStringLiteral("A Alle"), QStringLiteral("L Lager Artikel"),
                           QStringLiteral("B Bestell Artikel"), QStringLiteral("W Wert Artikel")}));
    EXPECT_EQ(x->SSTyp->currentText(), QStringLiteral("A Alle"));
    // Only the shipping types of the chosen main shipping type, names converted.
    EXPECT_EQ(items(x->SVART), (QStringList{QString(), QStringLiteral("11 Strecke direkt ab Werk"),
                                            QStringLiteral("12 Strecke über Spedition")}));
    EXPECT_EQ(x->SVART->currentText(), QString());

    x->oDarstellung[1]->click();
    EXPECT_EQ(values::store().DisplayMode, 1);
    EXPECT_FALSE(x->oDarstellung[0]->isChecked());
    const int before = w->redraws();
    x->OKButton->click();
    EXPECT_EQ(w->redraws(), before + 1); // the period query ends with a redraw

    // Closing unticks the menu entry; the display choice stays until the next opening.
    x->CancelButton->click();
    EXPECT_FALSE(x->isVisible());
    EXPECT_FALSE(w->mAuswahl->isChecked());
    EXPECT_EQ(values::store().DisplayMode, 1);

    choose(w->SHVArt, QString());
    w->mAuswahl->trigger();
    EXPECT_TRUE(w->mAuswahl->isChecked());
    EXPECT_EQ(values::store().DisplayMode, 0);
    EXPECT_TRUE(x->oDarstellung[0]->isChecked());
    EXPECT_EQ(x->SVART->count(), 6); // every shipping type for an empty code
    // The tick closes the window again.
    w->mAuswahl->trigger();
    EXPECT_FALSE(w->mAuswahl->isChecked());
    EXPECT_FALSE(x->isVisible());
}

TEST_P(MainWindow, DataBasisQuestion) {
    // Built for November 2007 on 5 December 2007; any day of January 2008
    // expects December.
    setXwgdat(QStringLiteral("10711`1071205"));
    for (MsgAnswer a : {MsgAnswer::Yes, MsgAnswer::No}) {
        rebuildOpened = 0;
        statuses.clear();
        start("DEMO", "demo", QDate(2008, 1, a == MsgAnswer::Yes ? 1 : 31), 1152, a);
        ASSERT_EQ(env->messages().size(), 1);
        const platform::RecordedMessage& m = env->messages().first();
        EXPECT_EQ(m.title, QStringLiteral("Tallvero"));
        EXPECT_EQ(m.text, QStringLiteral("Daten für Periode:10711 wurden zuletzt\nam : ") +
                              QLocale().toString(QDate(2007, 12, 5), QLocale::ShortFormat) +
                              QStringLiteral(" aufgebaut.\nWollen Sie die Daten neu aufbauen?"));
        EXPECT_EQ(m.icon, MsgIcon::None);
        EXPECT_EQ(m.buttons, MsgButtons::YesNo);
        EXPECT_EQ(env->ui.pendingAnswers(), 0);
        EXPECT_EQ(rebuildOpened, a == MsgAnswer::Yes ? 1 : 0);
        // The start-up goes on after the dialog.
        EXPECT_EQ(statuses.last(), QStringLiteral("Fertig!"));
    }
}

TEST_P(MainWindow, NoQuestionWhenCurrentOrUnreadable) {
    // Built for December 2007: current on 15 January 2008 (the year
    // changes inside the previous-month arithmetic).
    for (const char* v : {"10712`1080105", "10801`1080115", "`", "abc`1071205", "10711`99"}) {
        setXwgdat(QString::fromUtf8(v));
        start("DEMO", "demo", QDate(2008, 1, 15));
        EXPECT_TRUE(env->messages().isEmpty()) << v;
        EXPECT_EQ(statuses.last(), QStringLiteral("Fertig!")) << v;
        statuses.clear();
    }
}

TEST_P(MainWindow, LayoutFollowsScreenAndPanels) {
    start("DEMO", "demo", QDate(2024, 4, 15), 1152);
    const QRect base = window->ctSize3->registeredTwips(window->SPCNR);
    const QRect baseLabel = window->ctSize3->registeredTwips(window->lblHabt);
    statuses.clear();
    start("DEMO", "demo", QDate(2024, 4, 15), 1536);
    const QRect wide = window->ctSize3->registeredTwips(window->SPCNR);
    EXPECT_EQ(wide.x(), base.x() * 4 / 3);
    EXPECT_EQ(wide.width(), base.width() * 4 / 3);
    EXPECT_EQ(wide.y(), base.y());
    EXPECT_EQ(wide.height(), base.height());
    const QRect wideLabel = window->ctSize3->registeredTwips(window->lblHabt);
    EXPECT_EQ(wideLabel.x(), baseLabel.x() * 4 / 3);
    EXPECT_EQ(wideLabel.width(), baseLabel.width() * 4 / 3);

    auto* w = window.get();
    const double tpp = w->twipsPerPixel();
    w->resize(1000, 700);
    w->show();
    QApplication::processEvents();
    // The panel keeps its children in proportion at any width.
    const int panelW = w->ctSize3->width();
    EXPECT_NEAR(w->SHABT->x(),
                w->ctSize3->registeredTwips(w->SHABT).x() * panelW /
                    double(w->ctSize3->referenceWidth()) / tpp,
                1.5);
    EXPECT_NEAR(w->lblHabt->x(),
                w->ctSize3->registeredTwips(w->lblHabt).x() * panelW /
                    double(w->ctSize3->referenceWidth()) / tpp,
                1.5);

    const int top = w->ctSplit->y();
    EXPECT_EQ(top, w->ctSize3->height());
    EXPECT_FALSE(w->ctSize2->isVisible());
    const int ausX = w->cmdAusblenden->x();
    w->cmdAusblenden->click();
    EXPECT_TRUE(w->mDaten[1]->isChecked());
    EXPECT_FALSE(w->mDaten[0]->isChecked());
    EXPECT_FALSE(w->ctSize3->isVisible());
    EXPECT_EQ(w->ctSplit->y(), 0);
    EXPECT_TRUE(w->cmdEinblenden->isVisible());
    EXPECT_EQ(w->cmdEinblenden->x() * tpp, ausX * tpp - 150);

    // Details shown: the splitter stands 3735 twips left of the right edge
    // on any screen; the panel button stays left of the pane as the splitter
    // left it.
    const struct {
        int screen, dpi;
    } screens[] = {{1152, 96}, {1536, 96}, {1920, 96}, {1920, 144}, {1366, 110}};
    for (const auto& sc : screens) {
        dpi = sc.dpi;
        start("DEMO", "demo", QDate(2024, 4, 15), sc.screen);
        w = window.get();
        const double t = w->twipsPerPixel();
        EXPECT_DOUBLE_EQ(t, 1440.0 / sc.dpi);
        w->show();
        w->resize(int(std::lround(10000 / t)) + w->width() - w->centralWidget()->width(), 700);
        w->mDetails[0]->trigger();
        w->mDaten[1]->trigger();
        QApplication::processEvents();
        const double W = w->centralWidget()->width() * t;
        ASSERT_NEAR(W, 10000, t);
        EXPECT_TRUE(w->mDetails[0]->isChecked() && !w->mDetails[1]->isChecked());
        EXPECT_TRUE(w->frDetails->isVisible());
        EXPECT_NEAR(w->ctSplit->sizes().at(0) * t, 6265, t) << sc.screen << " " << sc.dpi;
        EXPECT_NEAR(w->cmdEinblenden->x() * t,
                    W - (w->frDetails->width() + w->cmdEinblenden->width()) * t - 250, t)
            << sc.screen << " " << sc.dpi;
    }
    dpi = 96;
    w->cmdEinblenden->click();
    EXPECT_TRUE(w->ctSize3->isVisible());
    EXPECT_EQ(w->ctSplit->y(), top);
    w->cmdAusbeldenDetails->click();
    EXPECT_FALSE(w->frDetails->isVisible());
    EXPECT_TRUE(w->mDetails[1]->isChecked());
    QApplication::processEvents();
    EXPECT_EQ(w->ctSplit->sizes().value(1), 0);
    w->hide();
}

TEST_P(MainWindow, MenusTickAndRedraw) {
    start("DEMO", "demo");
    auto* w = window.get();
    values::PeriodValueStore& st = values::store();
    int redraws = w->redraws();
    w->mGraph[2]->trigger();
    EXPECT_EQ(st.GraphMode, 2);
    EXPECT_TRUE(w->mGraph[2]->isChecked());
    EXPECT_FALSE(w->mGraph[0]->isChecked());
    // The DB-percent tick combines with any view.
    w->mGraph[3]->trigger();
    EXPECT_TRUE(w->mGraph[3]->isChecked());
    EXPECT_TRUE(w->mGraph[2]->isChecked());
    EXPECT_EQ(st.GraphMode, 2);
    w->mGraph[3]->trigger();
    EXPECT_FALSE(w->mGraph[3]->isChecked());
    // The ticked entry clicked again stays ticked and still redraws.
    w->mGraph[2]->trigger();
    EXPECT_TRUE(w->mGraph[2]->isChecked());
    EXPECT_EQ(w->redraws(), redraws + 4);

    w->mTabelle[4]->trigger();
    EXPECT_EQ(st.TableMode, 4);
    EXPECT_FALSE(w->mTabelle[2]->isChecked());
    w->mJahr[1]->trigger();
    EXPECT_EQ(st.YearMode, 1);
    EXPECT_TRUE(w->mJahr[1]->isChecked());
    EXPECT_FALSE(w->mJahr[0]->isChecked());
    EXPECT_EQ(w->redraws(), redraws + 6);

    EXPECT_EQ(w->mGraph[0]->shortcut(), QKeySequence(Qt::Key_F6));
    EXPECT_EQ(w->mGraph[3]->shortcut(), QKeySequence(Qt::Key_F9));
    EXPECT_EQ(w->mTabelle[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F6));
    EXPECT_TRUE(w->mTabelle[3]->shortcut().isEmpty());
    EXPECT_EQ(w->mTabelle[4]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F9));
    EXPECT_EQ(w->mJahr[1]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_W));
    EXPECT_EQ(w->mNeuZeichnen->shortcut(), QKeySequence(Qt::Key_F5));
    EXPECT_EQ(w->mDetails[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_D));
    EXPECT_EQ(w->mProgrammverlauf->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F1));
    EXPECT_EQ(w->HilfeUeber->text(), QStringLiteral("Hilfe &über ..."));

    w->HilfeUeber->trigger();
    w->mProgrammverlauf->trigger();
    w->mGenerieren->trigger();
    EXPECT_EQ(aboutShown, 1);
    EXPECT_EQ(logShown, 1);
    EXPECT_EQ(rebuildOpened, 1);
}

TEST_P(MainWindow, F5FetchesIntoTheStore) {
    start("DEMO", "demo");
    choose(window->SHGRP, QStringLiteral("20"));
    ASSERT_TRUE(values::store().SelectionChanged);
    const int before = window->redraws();
    window->mNeuZeichnen->trigger();
    const values::Table& P = values::store().PeriodValues;
    ASSERT_TRUE(P.hasCells());
    for (int n = 1; n <= 72; ++n)
        EXPECT_EQ(P(n, 1).isEmpty(), n > 64) << n; // up to April 2024
    EXPECT_FALSE(values::store().SelectionChanged);
    EXPECT_EQ(window->lastFetch().months, 64);
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("fetchStatus"))->text(),
              QStringLiteral("64 Monate geholt"));
    EXPECT_EQ(window->redraws(), before + 1);
    // The redraw derived the tables from what came.
    EXPECT_TRUE(values::store().MonthYearValues.hasCells());
    EXPECT_EQ(values::store().MonthYearValues(3, 1), P(63, 1));
    EXPECT_TRUE(window->cmdÜbernehmen->isEnabled());

    // A changed main group is read for the next run.
    const double hg20 = P(50, 1).value();
    choose(window->SHGRP, QString());
    window->cmdÜbernehmen->click();
    EXPECT_GT(P(50, 1).value(), hg20);
}

TEST_P(MainWindow, RestrictedUserMustChooseADepartmentBeforeF5) {
    start("ABTLEITER", "abt");
    window->mNeuZeichnen->trigger();
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages().first().text, QStringLiteral("Sie Müssen eine Abteilung auswählen!"));
    EXPECT_FALSE(values::store().PeriodValues.hasCells());
    choose(window->SABTNR, QStringLiteral("M2"));
    window->mNeuZeichnen->trigger();
    EXPECT_EQ(window->lastFetch().months, 64);
}

// The reconnect after the idle close fails (the server refuses the session
// line) inside every handler that asks the server: each ends in the access
// error report with the arrow and the idle timer back, and the window
// fetches again once the server answers.
TEST_P(MainWindow, AFailedReconnectInAHandlerEndsInTheErrorReport) {
    start("DEMO", "demo");
    auto* w = window.get();
    auto pick = [this](QComboBox* list, const char* code) {
        return [this, list, code] { choose(list, QString::fromLatin1(code)); };
    };
    const struct {
        const char* name;
        std::function<void()> run;
    } rows[] = {
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
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        env->clock.advance(60000); // the idle close
        env->maker = [this] { return std::make_unique<fakes::FakeFactory>(env->fake); };
        env->ui.clearMessages();
        EXPECT_NO_THROW(r.run());
        ASSERT_FALSE(env->messages().isEmpty());
        for (const platform::RecordedMessage& m : env->messages())
            EXPECT_EQ(m.title, QStringLiteral("Caché Zugriffsfehler")) << m.text.toStdString();
        EXPECT_FALSE(env->ui.busyCursor());
        EXPECT_TRUE(env->server.Lock().isActive());
    }
    env->maker = [] { return std::make_unique<cache::server::ServerFactory>(); };
    w->cmdÜbernehmen->click();
    EXPECT_EQ(w->lastFetch().months, 64);
}

// Between the months of F5 the user chooses a main group (which asks the
// server) and asks for the details: the list's bracket neither starts the
// idle timer nor shows the arrow, the details do not run inside the fetch,
// and only the end of the fetch shows the arrow and starts the timer.
TEST_P(MainWindow, OneServerWorkAtATime) {
    start("DEMO", "demo");
    auto* w = window.get();
    int calls = 0;
    bool timerDuring = false, arrowDuring = false;
    env->ui.onProcessEvents = [&] {
        if (++calls != 5) return;
        choose(w->SHGRP, QStringLiteral("20"));
        w->cmdÜbernehmenDetails_Click();
        timerDuring = env->server.Lock().isActive();
        arrowDuring = !env->ui.busyCursor();
    };
    w->cmdÜbernehmen->click();
    env->ui.onProcessEvents = {};
    EXPECT_GT(calls, 5);
    EXPECT_FALSE(timerDuring);
    EXPECT_FALSE(arrowDuring);
    EXPECT_EQ(w->lastDetails().requests, 0);
    EXPECT_EQ(w->lastFetch().months, 64);
    EXPECT_FALSE(env->ui.busyCursor());
    EXPECT_TRUE(env->server.Lock().isActive());
}

// A re-login over the main window asks the rights of the new user and
// applies them as the start-up does, with fresh lists: ABTLEITER after DEMO
// finds the profit centres and three menu entries disabled and nothing of
// DEMO's choice left; DEMO after him finds them enabled again.
TEST_P(MainWindow, ReLoginAppliesTheNewUsersRights) {
    start("DEMO", "demo");
    auto* w = window.get();
    env->mainVisible = true;
    env->onCaption = [w](const QString& c) { w->loggedInAgain(c); };
    choose(w->SABTNR, QStringLiteral("M3"));
    w->mGraph[1]->trigger();
    w->mAuswahl->trigger();
    // The credentials now come from the dialog, not the command line.
    srv::connectionSettings().CommandLine.clear();
    env->commandLine.clear();
    const struct {
        const char *user, *password;
        int level;
    } rows[] = {{"ABTLEITER", "abt", 5}, {"DEMO", "demo", 1}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.user);
        w->mLogin->trigger();
        env->login.enterUser(QString::fromLatin1(r.user));
        env->login.setText(srv::LoginField::BPASSWORT, QString::fromLatin1(r.password));
        env->login.clickAnmelden();
        EXPECT_TRUE(w->windowTitle().endsWith(srv::userContext().BenutzerName));
        EXPECT_EQ(w->permissionLevel(), r.level);
        const bool all = r.level != 5;
        for (QAction* a : {w->mGraph[1], w->mTabelle[3], w->mAuswahl})
            EXPECT_EQ(a->isEnabled(), all) << a->objectName().toStdString();
        EXPECT_EQ(w->SPCNR->isEnabled(), all);
        EXPECT_FALSE(w->mGraph[1]->isChecked());
        EXPECT_FALSE(w->mAuswahl->isChecked());
        EXPECT_EQ(w->SABTNR->currentIndex(), -1);
        EXPECT_FALSE(w->selection().departmentChosen());
    }
}

TEST_P(MainWindow, ZoomBoxAndPreviewStayInStep) {
    start("DEMO", "demo");
    auto* w = window.get();
    EXPECT_EQ(w->VSPrinter1->zoomMode(), print::ZoomWholePage);
    auto type = [&](const QString& text) {
        w->cmbZoom->setEditText(text);
        w->cmbZoom_Click();
    };
    int runs = w->zoomHandlerRuns();
    type(QStringLiteral("125"));
    EXPECT_DOUBLE_EQ(w->VSPrinter1->zoom(), 125);
    EXPECT_EQ(w->cmbZoom->currentText(), QStringLiteral("125%"));
    EXPECT_EQ(w->zoomHandlerRuns(), runs + 1);
    type(QStringLiteral("150%"));
    EXPECT_DOUBLE_EQ(w->VSPrinter1->zoom(), 150);
    // A mode by name, in any case: the box shows its item, one round only.
    runs = w->zoomHandlerRuns();
    type(QStringLiteral("seitenBREITE"));
    EXPECT_EQ(w->VSPrinter1->zoomMode(), print::ZoomPageWidth);
    EXPECT_EQ(w->cmbZoom->currentText(), QStringLiteral("Seitenbreite"));
    EXPECT_EQ(w->zoomHandlerRuns(), runs + 2);
    type(QStringLiteral("Alle Seiten"));
    EXPECT_EQ(w->VSPrinter1->zoomMode(), print::ZoomAllPages);
    EXPECT_EQ(w->cmbZoom->currentIndex(), 3);
    // Text without a number or a mode changes nothing.
    type(QStringLiteral("irgendwas"));
    EXPECT_EQ(w->VSPrinter1->zoomMode(), print::ZoomAllPages);
    // Every item of the box: the preview takes it, the box shows it again.
    const struct {
        int mode;
        double zoom;
    } items[] = {{print::ZoomWholePage, 0}, {print::ZoomPageWidth, 0}, {print::ZoomTwoPages, 0},
                 {print::ZoomAllPages, 0},  {print::ZoomPercent, 100}, {print::ZoomPercent, 150},
                 {print::ZoomPercent, 200}, {print::ZoomPercent, 400}};
    for (int i = 0; i < 8; ++i) {
        w->cmbZoom->setCurrentIndex(i);
        w->cmbZoom_Click();
        EXPECT_EQ(w->VSPrinter1->zoomMode(), items[i].mode) << i;
        if (items[i].zoom > 0) {
            EXPECT_DOUBLE_EQ(w->VSPrinter1->zoom(), items[i].zoom) << i;
        }
        EXPECT_EQ(w->cmbZoom->currentText(), w->cmbZoom->itemText(i)) << i;
    }
    // A zoom the preview chose itself: the box shows it with the system's
    // decimal separator and no grouping; confirming the text reads it back.
    const struct {
        double zoom;
        QLocale locale;
        const char* text;
        double back;
    } zooms[] = {{10, QLocale(QLocale::German), "10%", 10},
                 {75, QLocale(QLocale::German), "75%", 75},
                 {87.5, QLocale(QLocale::German), "87,5%", 87},
                 {87.5, QLocale(QLocale::English, QLocale::UnitedStates), "87.5%", 87.5},
                 {125, QLocale(QLocale::German), "125%", 125},
                 {1000, QLocale(QLocale::German), "1000%", 1000},
                 {1000, QLocale(QLocale::English, QLocale::UnitedStates), "1000%", 1000}};
    for (const auto& z : zooms) {
        QLocale::setDefault(z.locale);
        w->VSPrinter1->setZoom(z.zoom);
        emit w->VSPrinter1->zoomChanged();
        EXPECT_EQ(w->cmbZoom->currentText().toStdString(), z.text);
        w->cmbZoom_Click();
        EXPECT_DOUBLE_EQ(w->VSPrinter1->zoom(), z.back) << z.text;
    }
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    // Its redraw notification draws the page anew.
    const int redraws = w->redraws();
    emit w->VSPrinter1->redrawRequested();
    EXPECT_EQ(w->redraws(), redraws + 1);
}

TEST_P(MainWindow, PrintingCopiesAndFetchingFirst) {
    QTemporaryDir dir;
    printFile = dir.filePath(QStringLiteral("druck.pdf"));
    start("DEMO", "demo");
    auto* w = window.get();
    // Before the first F5 the selection counts as changed (the company
    // field was set): it is fetched before the dialog opens.
    copies = 3;
    w->mDrucken->trigger();
    EXPECT_EQ(printDialogs, 1);
    EXPECT_EQ(fetchesBeforeDialog, 64);
    EXPECT_FALSE(values::store().SelectionChanged);
    // Each copy is a document of its own: the file holds the last one.
    QFile f(printFile);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QString pdf = QString::fromLatin1(f.readAll());
    EXPECT_EQ(pdf.count(QRegularExpression(QStringLiteral("/Type\\s*/Page(?![a-zA-Z])"))), 1);
    f.close();
    QFile::remove(printFile);

    // Cancelled: nothing is drawn or printed, and nothing fetched again.
    copies.reset();
    const int redraws = w->redraws();
    const int months = w->lastFetch().months;
    w->mDrucken->trigger();
    EXPECT_EQ(printDialogs, 2);
    EXPECT_EQ(w->redraws(), redraws);
    EXPECT_EQ(w->lastFetch().months, months);
    EXPECT_FALSE(QFile::exists(printFile));
}

// Three copies through a real spooler: three jobs, each one A4 landscape
// page with the page's texts, each printed as one page.
TEST_P(MainWindow, EachCopyIsAPrintJobOfItsOwn) {
    if (GetParam() != TestEngine::Sqlite) GTEST_SKIP() << "printing does not depend on the engine";
    testsupport::PrintSpooler spooler;
    if (!spooler.problem().isEmpty()) {
        if (qEnvironmentVariable("TALLVERO_REQUIRE_CUPS") == QLatin1String("1"))
            FAIL() << "no CUPS scheduler: " << spooler.problem().toStdString();
        GTEST_SKIP() << "no CUPS scheduler: " << spooler.problem().toStdString();
    }
    start("DEMO", "demo");
    choose(window->SHGRP, QStringLiteral("20"));
    printerName = spooler.queue();
    copies = 3;
    window->mDrucken->trigger();
    const auto jobs = spooler.jobs(120000);
    ASSERT_EQ(jobs.size(), 3) << spooler.logs().toStdString();
    for (const auto& job : jobs) {
        ASSERT_TRUE(job.completed && !job.pdf.isEmpty()) << spooler.logs().toStdString();
        const auto sent = testsupport::PrintSpooler::pdfPages(job.document);
        ASSERT_EQ(sent.size(), 1) << job.id;
        EXPECT_TRUE(sent[0].a4 && sent[0].landscape) << job.id;
        const auto printed = testsupport::PrintSpooler::pdfPages(job.pdf);
        ASSERT_EQ(printed.size(), 1) << job.id;
        EXPECT_TRUE(printed[0].a4) << job.id;
        const QString text = testsupport::PrintSpooler::pdfText(job.document);
        for (const char* t : {"Tallvero", "HG:20 ", "Jänner", "Dezember",
                              "Gedruckt durch: ", "Kalenderjahr", "Umsatz", "Deckungsbeitrag"})
            EXPECT_TRUE(text.contains(QString::fromUtf8(t))) << job.id << " " << t;
    }
}

TEST_P(MainWindow, ExportsPageAndTable) {
    QTemporaryDir dir;
    start("DEMO", "demo");
    auto* w = window.get();
    w->cmdÜbernehmen->click();
    saveAs = dir.filePath(QStringLiteral("seite.pdf"));
    w->mExportPdf->trigger();
    EXPECT_GT(QFileInfo(saveAs).size(), 1000);
    saveAs = dir.filePath(QStringLiteral("werte.csv"));
    w->mExportCsv->trigger();
    QFile f(saveAs);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
    const QStringList lines =
        QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 7);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("in % v. 2020-2022;Jänner;Februar")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("U KJ* 2024;")));
    EXPECT_EQ(lines[3].count(QStringLiteral("100%")), 12);
    // A file that cannot be written is reported.
    saveAs = dir.filePath(QStringLiteral("fehlt/werte.csv"));
    w->mExportCsv->trigger();
    ASSERT_FALSE(env->messages().isEmpty());
    EXPECT_TRUE(
        env->messages().last().text.contains(QStringLiteral("konnte nicht geschrieben werden")));
}

TEST_P(MainWindow, DetailsPaneFillsItsList) {
    start("DEMO", "demo");
    auto* w = window.get();
    choose(w->SHABT, QStringLiteral("10"));
    w->cmdÜbernehmenDetails->click();
    ASSERT_EQ(w->ctList->columnCount(), 5); // mask 3: customer groups
    EXPECT_EQ(w->ctList->headerItem()->text(1), QStringLiteral("P Umsatz"));
    EXPECT_EQ(w->ctList->headerItem()->text(4), QStringLiteral("G DB"));
    ASSERT_GT(w->ctList->topLevelItemCount(), 1);
    EXPECT_EQ(w->ctList->topLevelItem(0)->text(0), QString()); // total first
    EXPECT_EQ(w->ctList->columnWidth(0), 25);
    // Every department row belongs to main department 10.
    for (int i = 1; i < w->ctList->topLevelItemCount(); ++i) {
        const QString abt = w->ctList->topLevelItem(i)->text(0);
        EXPECT_GE(w->SABTNR->findText(abt + QLatin1Char(' '), Qt::MatchStartsWith), 1)
            << abt.toStdString();
    }

    // "Daten holen" from the menu: the details only while the pane is shown.
    const int before = w->lastDetails().requests;
    w->chkHKGRP->setChecked(false); // mask 1: no split
    w->mNeuZeichnen->trigger();
    EXPECT_EQ(w->lastDetails().requests, before);
    w->mDetails[0]->trigger();
    w->mNeuZeichnen->trigger();
    EXPECT_EQ(w->ctList->columnCount(), 3);
    EXPECT_EQ(w->lastDetails().requests, w->SABTNR->count());
}

TEST_P(MainWindow, DetailsListSortsByWholeNumbers) {
    start("DEMO", "demo");
    auto* l = window->ctList;
    const QStringList rows[] = {
        {QString(), QStringLiteral("12.345"), QStringLiteral("-7")},
        {QStringLiteral("10"), QStringLiteral("987"), QStringLiteral("1.000")},
        {QStringLiteral("20"), QStringLiteral("-1.200"), QStringLiteral("5")},
        {QStringLiteral("30"), QStringLiteral("4.560"), QStringLiteral("80")}};
    for (const QStringList& r : rows)
        l->addTopLevelItem(new QTreeWidgetItem(r));
    auto column = [&](int c) {
        QStringList out;
        for (int i = 0; i < l->topLevelItemCount(); ++i)
            out << l->topLevelItem(i)->text(c);
        return out;
    };
    window->ctList_HeaderClick(2); // "Umsatz": largest first (not text order)
    EXPECT_EQ(column(1), (QStringList{QStringLiteral("12.345"), QStringLiteral("4.560"),
                                      QStringLiteral("987"), QStringLiteral("-1.200")}));
    window->ctList_HeaderClick(2);
    EXPECT_EQ(column(1), (QStringList{QStringLiteral("-1.200"), QStringLiteral("987"),
                                      QStringLiteral("4.560"), QStringLiteral("12.345")}));
    window->ctList_HeaderClick(3);
    EXPECT_EQ(column(2), (QStringList{QStringLiteral("1.000"), QStringLiteral("80"),
                                      QStringLiteral("5"), QStringLiteral("-7")}));
    const QStringList before = column(0);
    window->ctList_HeaderClick(1); // the group column does not sort
    EXPECT_EQ(column(0), before);
}

TEST_P(MainWindow, DrillDownThroughEveryLevelAndBack) {
    using retrieval::GroupLevel;
    struct Step {
        GroupLevel rows;   // what the details list is grouped by
        const char* code;  // the row double-clicked ("*": the first group)
        const char* label; // what the page then names
        GroupLevel next;   // the details one level further down
    };
    struct Chain {
        MsgAnswer grouping; // the question: profit centres (Yes) or main departments
        std::vector<Step> steps;
    };
    const Chain chains[] = {
        {MsgAnswer::Yes,
         {{GroupLevel::Pc, "2", "PC:", GroupLevel::Abt},
          // The department's main groups, not the profit centre's departments again.
          {GroupLevel::Abt, "*", "ABT:", GroupLevel::Hgrp},
          {GroupLevel::Hgrp, "*", "HG:", GroupLevel::Ugrp},
          {GroupLevel::Ugrp, "*", "UG:", GroupLevel::None}}},
        {MsgAnswer::No,
         {{GroupLevel::Habt, "10", "HABT:", GroupLevel::Abt},
          {GroupLevel::Abt, "M2", "ABT:", GroupLevel::Hgrp}}},
    };
    for (const Chain& chain : chains) {
        start("DEMO", "demo");
        auto* w = window.get();
        w->mDetails[0]->trigger();
        env->ui.queueAnswer(chain.grouping);
        w->mNeuZeichnen->trigger();
        EXPECT_EQ(w->drillSteps(), 0);
        EXPECT_FALSE(w->mZurück->isEnabled());
        // The total row chooses nothing.
        const Screen first = screen();
        doubleClick(QString());
        EXPECT_EQ(screen(), first);
        EXPECT_EQ(w->drillSteps(), 0);

        std::vector<Screen> before;
        for (const Step& st : chain.steps) {
            const std::string what = st.label;
            ASSERT_EQ(w->detailsLevel(), st.rows) << what;
            before.push_back(screen());
            QString code = QString::fromLatin1(st.code);
            if (code == QLatin1String("*")) code = before.back().rows.value(1).value(0);
            doubleClick(code);
            // Chosen in its list, fetched and drawn, the details one level down.
            mw::SelectionList* list = w->selection().listOf(st.rows);
            EXPECT_EQ(mw::codeOf(list->currentText()), code) << what;
            EXPECT_FALSE(values::store().SelectionChanged) << what;
            EXPECT_EQ(w->lastFetch().months, 64) << what;
            EXPECT_TRUE(pageLine().contains(QLatin1String(st.label) + code + QLatin1Char(' ')))
                << what << " " << pageLine().toStdString();
            EXPECT_EQ(w->detailsLevel(), st.next) << what;
            const QStringList groups = w->selection().groupCodes(st.next);
            for (const QStringList& r : screen().rows)
                EXPECT_TRUE(st.next == GroupLevel::None ? r.value(0).isEmpty()
                                                        : groups.contains(r.value(0)))
                    << what << " row " << r.value(0).toStdString();
            EXPECT_EQ(w->drillSteps(), int(before.size()));
        }
        // The single row of a chosen sub group has no group either.
        if (w->detailsLevel() == GroupLevel::None) {
            const Screen last = screen();
            doubleClick(QString());
            EXPECT_EQ(screen(), last);
        }
        // Back, step by step, by the menu (Alt+Left) and by the button.
        EXPECT_EQ(w->mZurück->shortcut(), QKeySequence(Qt::ALT | Qt::Key_Left));
        for (size_t i = before.size(); i-- > 0;) {
            ASSERT_TRUE(w->cmdZurück->isEnabled());
            if (i % 2)
                w->mZurück->trigger();
            else
                w->cmdZurück->click();
            EXPECT_EQ(screen(), before[i]) << "back to step " << i;
        }
        EXPECT_FALSE(w->mZurück->isEnabled());
        EXPECT_FALSE(w->cmdZurück->isEnabled());
    }
}

// A choice the lists refuse changes nothing: the handler's message, and the
// lists, flags, figures and page as before. The details never list a
// department a restricted user may not choose (M1 of their own main
// department 10), so the row is added here as
// a details run would add it; the drill-down first sets the main department
// back to its empty entry, which must be undone as well.
TEST_P(MainWindow, ARefusedDrillDownChangesNothing) {
    start("ABTLEITER", "abt");
    auto* w = window.get();
    choose(w->SHABT, QStringLiteral("10"));
    w->mDetails[0]->trigger();
    w->mNeuZeichnen->trigger();
    ASSERT_EQ(w->detailsLevel(), retrieval::GroupLevel::Abt);
    w->addRow({QStringLiteral("M1"), QStringLiteral("1"), QStringLiteral("1"), QStringLiteral("1"),
               QStringLiteral("1")});

    const Screen before = screen();
    const qsizetype messages = env->messages().size();
    doubleClick(QStringLiteral("M1"));
    ASSERT_EQ(env->messages().size(), messages + 1);
    EXPECT_EQ(env->messages().last().text,
              QStringLiteral("Sie dürfen nur Ihre eigene Abteilung selektieren."));
    EXPECT_EQ(screen(), before);
    EXPECT_EQ(w->drillSteps(), 0);
    EXPECT_FALSE(w->cmdZurück->isEnabled());
    // A department of the own one is chosen, and its main groups follow.
    doubleClick(QStringLiteral("MA"));
    EXPECT_EQ(w->drillSteps(), 1);
    EXPECT_TRUE(w->SABTNR->currentText().startsWith(QStringLiteral("MA ")));
    EXPECT_EQ(w->detailsLevel(), retrieval::GroupLevel::Hgrp);

    // Another user at the window cannot go back to what this one saw.
    env->mainVisible = true;
    env->onCaption = [w](const QString& c) { w->loggedInAgain(c); };
    srv::connectionSettings().CommandLine.clear();
    env->commandLine.clear();
    w->mLogin->trigger();
    env->login.enterUser(QStringLiteral("DEMO"));
    env->login.setText(srv::LoginField::BPASSWORT, QStringLiteral("demo"));
    env->login.clickAnmelden();
    ASSERT_EQ(w->permissionLevel(), 1);
    EXPECT_EQ(w->drillSteps(), 0);
    EXPECT_FALSE(w->mZurück->isEnabled());
    EXPECT_EQ(w->detailsLevel(), retrieval::GroupLevel::None);
}

TEST_P(MainWindow, TheReportBookLeavesTheScreenAsItWas) {
    QTemporaryDir dir;
    start("DEMO", "demo");
    auto* w = window.get();
    choose(w->SHABT, QStringLiteral("10"));
    w->mDetails[0]->trigger();
    w->mNeuZeichnen->trigger();
    // Changed since the fetch: the book shows it, the screen keeps it to fetch.
    choose(w->SPG, QStringLiteral("P"));
    ASSERT_TRUE(values::store().SelectionChanged);
    const Screen before = screen();
    const int redraws = w->redraws();

    bookList = QStringLiteral("Abteilungen (%1 Einträge)").arg(w->SABTNR->count() - 1);
    saveAs = dir.filePath(QStringLiteral("mappe.pdf"));
    w->mBerichtsmappe->trigger();
    // No sub groups without a main group.
    EXPECT_EQ(
        bookLists,
        (QStringList{QStringLiteral("Profitcenter (3 Einträge)"),
                     QStringLiteral("Hauptabteilungen (%1 Einträge)").arg(w->SHABT->count() - 1),
                     bookList,
                     QStringLiteral("Hauptgruppen (%1 Einträge)").arg(w->SHGRP->count() - 1)}));
    EXPECT_EQ(screen(), before);
    EXPECT_TRUE(values::store().SelectionChanged);
    EXPECT_EQ(w->redraws(), redraws);

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
        p.setPen(Qt::black);
        p.drawText(20, 60, text);
        return page;
    };
    mw::Splash splash;
    auto* status = splash.findChild<QLabel*>(QStringLiteral("Panel1"));
    windows::frmProgrammverlauf* log = windows::frmProgrammverlauf::instance();
    auto* rows = log->findChild<QTreeView*>(QStringLiteral("Verlauf"));
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("Tallvero"), QString(),
                    QMessageBox::Yes | QMessageBox::No);
    auto* question = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    const struct {
        const char* where;
        QWidget* shown;
        QWidget* grabbed;
        std::function<void(const QString&)> show;
    } cases[] = {
        {"start-up status line", &splash, status, [&](const QString& t) { splash.setStatus(t); }},
        {"program log", log, rows->viewport(),
         [&](const QString& t) {
             windows::programLog().clear();
             windows::WriteLog(t, QStringLiteral("Datenabfrage"), QString());
             rows->setCurrentIndex({});
         }},
        {"message box", &box, question, [&](const QString& t) { box.setText(t); }},
    };
    for (const auto& c : cases) {
        c.shown->show();
        auto render = [&](const char* text) {
            c.show(QString::fromUtf8(text));
            c.shown->adjustSize();
            for (int i = 0; i < 3; ++i)
                QApplication::processEvents();
            return c.grabbed->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };
        const int drawn = dots(free(c.grabbed->font(), QStringLiteral("Überprüfung")),
                               free(c.grabbed->font(), QStringLiteral("Uberprüfung")));
        ASSERT_GT(drawn, 0) << c.where;
        const QImage with = render("Überprüfung"), without = render("Uberprüfung");
        EXPECT_GE(dots(with, without), drawn) << c.where;
        c.shown->hide();
    }
    windows::programLog().clear();
    QApplication::setStyle(before);
}

INSTANTIATE_ON_BOTH_ENGINES(MainWindow);

} // namespace
