// The data rebuild dialog against the server component on SQLite and
// PostgreSQL: what it proposes and sends, the checks of its fields, a failing
// and a cancelled rebuild, the progress. The sums themselves are the server's.

#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "retrieval/FrmNeueDaten.h"
#include "retrieval/RebuildProgress.h"
#include "support/LoggedIn.h"
#include "windows/ProgramLog.h"

#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

using platform::MsgAnswer;
using platform::MsgButtons;
using platform::MsgIcon;
using retrieval::FrmNeueDaten;
using testsupport::TestEngine;

namespace {

windows::LogEntry logged(const char* text, const char* parameter) {
    return {QStringLiteral("frmNeueDaten.OKButton_Click"), QString::fromUtf8(text),
            QString::fromUtf8(parameter)};
}

class RebuildDialog : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &testsupport::demoSite(GetParam(), QStringLiteral("rebuilddialog"), 3000);
        setXwgdat(QStringLiteral("12402`1240301"));
    }

    void setXwgdat(const QString& v) {
        auto d = site_->db->open();
        cache::server::Store(*d).setGlobal(QStringLiteral("XWGDAT"), v);
    }
    QString xwgdat() {
        auto d = site_->db->open();
        return cache::server::Store(*d).global(QStringLiteral("XWGDAT")).value_or(QString());
    }

    // Logs DEMO in with the clock at `today` 09:00 and opens the dialog. What
    // the server's rebuild reports goes to `reports`: "period done/total",
    // whether the dialog lets it go on, and its bar then ("-" while hidden).
    void open(QDate today = QDate(2024, 3, 15)) {
        dialog.reset();
        env.reset(); // its end clears the session records
        env = testsupport::loggedIn(*site_, "DEMO", "demo", today, [this] {
            auto f = std::make_unique<cache::server::ServerFactory>();
            f->options().generateFaultAfter = faultAfter;
            f->options().generateProgress = [this](const cache::server::GenerateProgress& g) {
                if (onReport) onReport();
                const QProgressBar* bar = dialog ? dialog->prgFortschritt : nullptr;
                const QString shown = bar && bar->isVisible() ? bar->format() : "-";
                const bool go = retrieval::reportRebuildProgress(g.done, g.total, g.period);
                reports << QString::asprintf("%d %d/%d %s [%s]", g.period, g.done, g.total,
                                             go ? "weiter" : "halt", qUtf8Printable(shown));
                return go;
            };
            return f;
        });
        dialog = std::make_unique<FrmNeueDaten>(env->s(), env->ui, env->clock);
        dialog->Form_Load();
        dialog->show();
        env->ui.clearMessages();
        windows::programLog().clear();
    }
    void setRange(const char* von, const char* bis) {
        dialog->edtVon->setText(QString::fromUtf8(von));
        dialog->edtBis->setText(QString::fromUtf8(bis));
    }

    testsupport::DemoSite* site_ = nullptr;
    QStringList reports;
    std::function<void()> onReport; // inside the server call, before the dialog hears of it
    int faultAfter = -1;
    std::unique_ptr<testenv::Env> env;
    std::unique_ptr<FrmNeueDaten> dialog;
};

// The proposal is the two months before the clock's; the label shows the
// server's last build, or only what of it can be read.
TEST_P(RebuildDialog, OpensWithProposalAndBuildInformation) {
    const QString built = QStringLiteral("Letzte Periode 12402 erstellt am ");
    const struct {
        QDate today;
        const char *xwgdat, *proposal;
        QString label;
    } rows[] = {
        {QDate(2024, 3, 15), "", "12401 12402", "Daten"}, // the record exists, no fields
        {QDate(2024, 3, 15), "12402", "12401 12402", built},
        {QDate(2024, 3, 15), "12402`1241301`x", "12401 12402", built}, // month 13: no date
        {QDate(2024, 1, 20), "12402`1240301", "12311 12312", built + "01.03.24"},
        {QDate(2024, 3, 1), "12402`1240301", "12401 12402", built + "01.03.24"},
        {QDate(2024, 2, 29), "12402`1240301", "12312 12401", built + "01.03.24"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.today.toString(Qt::ISODate).toStdString() + " " + r.xwgdat);
        setXwgdat(QString::fromUtf8(r.xwgdat));
        open(r.today);
        EXPECT_EQ(dialog->edtVon->text() + u' ' + dialog->edtBis->text(), r.proposal);
        EXPECT_EQ(dialog->lblDatenAnzeige->text(), r.label);
        EXPECT_TRUE(env->messages().isEmpty());
    }
    // Cancelling after an edit sends nothing and logs nothing.
    setRange("12310", "12311");
    dialog->CancelButton->click();
    EXPECT_TRUE(reports.isEmpty() && windows::programLog().entries().isEmpty());
    EXPECT_TRUE(env->messages().isEmpty() && !dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

// OK sends the range; the bar shows each report until the next one arrives.
TEST_P(RebuildDialog, OkRebuildsTheRangeLogsAndReports) {
    open();
    setRange("12310", "12402");
    const qsizetype cursorBefore = env->ui.cursorChanges().size();
    bool busy = true, idleTimer = false;
    onReport = [&] {
        busy = busy && env->ui.busyCursor();
        idleTimer = idleTimer || env->server.Lock().isActive(); // stopped inside the bracket
        env->clock.advance(15'000);                             // the server works for 75 seconds
    };

    dialog->OKButton->click();

    EXPECT_EQ(reports,
              (QStringList{"12310 1/5 weiter [-]", "12311 2/5 weiter [Periode 12310 (1 von 5)]",
                           "12312 3/5 weiter [Periode 12311 (2 von 5)]",
                           "12401 4/5 weiter [Periode 12312 (3 von 5)]",
                           "12402 5/5 weiter [Periode 12401 (4 von 5)]"}));
    EXPECT_EQ(dialog->prgFortschritt->format(), QStringLiteral("Periode 12402 (5 von 5)"));
    EXPECT_EQ(dialog->prgFortschritt->value(), 5);
    EXPECT_GE(env->ui.processEventsCalls(), 5); // painted while it ran
    EXPECT_TRUE(busy && !idleTimer);
    EXPECT_TRUE(env->server.Lock().isActive());
    EXPECT_EQ(env->ui.cursorChanges().mid(cursorBefore), (QList<bool>{true, false}));
    EXPECT_TRUE(xwgdat().startsWith(QStringLiteral("12402`")));
    EXPECT_EQ(windows::programLog().entries(),
              (QList{logged("Daten Holen erledigt um", "09:01:15"),
                     logged("Daten Holen für", "12310 12402 um 09:00:00")}));
    EXPECT_EQ(env->messages(),
              QList{testenv::msg("Daten holen", "Daten Holen für Periode 12310 bis 12402 erledigt!",
                                 MsgIcon::None, MsgButtons::Ok, MsgAnswer::Ok, 32'475'000)});
    EXPECT_FALSE(dialog->isVisible() || dialog->prgFortschritt->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Done);
    EXPECT_FALSE(retrieval::hasRebuildProgressSink());
    EXPECT_TRUE(retrieval::reportRebuildProgress(1, 2, 12401)); // nobody listens: go on
}

// Malformed fields and a start after the end are refused before anything
// is sent; the focus goes to the first wrong field.
TEST_P(RebuildDialog, BadPeriodsAreRejectedBeforeSending) {
    open();
    const qsizetype cursorBefore = env->ui.cursorChanges().size();
    const QString hint = QStringLiteral("\nBitte geben Sie die Periode als Jahr minus 1900 und "
                                        "zweistelligen Monat ein, z. B. 12401 für Januar 2024.");
    const QString order = QStringLiteral(
        "Die Periode im Feld „von Periode“ (12402) liegt nach der Periode im Feld „bis Periode“ "
        "(12312).\nBitte geben Sie zuerst die frühere Periode ein.");
    const struct {
        const char *von, *bis;
        bool bisWrong;
    } rows[] = {{"", "12402", false},      {"12413", "12402", false},  {" 12401", "12402", false},
                {"12400", "12402", false}, {"123401", "12402", false}, {"-1201", "12402", false},
                {"12401", "1240a", true},  {"12401", "12402 ", true},  {"12401", "1", true},
                {"12401", "١٢٤٠١", true},  {"12402", "12312", false}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.von + std::string(" ") + r.bis);
        const QString field = r.bisWrong ? QStringLiteral("bis Periode") : "von Periode";
        const QString text = QString::fromUtf8(r.bisWrong ? r.bis : r.von);
        const QString want =
            r.von == std::string("12402") ? order
            : text.isEmpty()
                ? "Das Feld „" + field + "“ ist leer." + hint
                : "Das Feld „" + field + "“ enthält keine gültige Periode: „" + text + "“." + hint;
        env->ui.clearMessages();
        setRange(r.von, r.bis);
        dialog->OKButton->setFocus();
        dialog->OKButton->click();
        EXPECT_EQ(env->messages(), (QList<platform::RecordedMessage>{
                                       {"Neu aufzubauende Daten", want, MsgIcon::Exclamation,
                                        MsgButtons::Ok, MsgAnswer::Ok, 32'400'000}}));
        EXPECT_EQ(dialog->focusWidget(), r.bisWrong ? dialog->edtBis : dialog->edtVon);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Rejected);
    }
    EXPECT_TRUE(reports.isEmpty() && windows::programLog().entries().isEmpty());
    EXPECT_EQ(env->ui.cursorChanges().size(), cursorBefore);

    // Across the turn of the year the order is by number, not by text.
    setRange("9912", "10001");
    dialog->OKButton->click();
    EXPECT_EQ(reports.value(1), QStringLiteral("10001 2/2 weiter [Periode 9912 (1 von 2)]"));
}

// The server fails at the second period (its report), or "Abbrechen" is
// clicked while the second period is shown (a notice, not the access
// error): the server rolls back, the pointer and the idle timer are back,
// the dialog stays open and usable for a retry.
TEST_P(RebuildDialog, FailedOrCancelledRunKeepsTheDialog) {
    const struct {
        int faultAfter;
        FrmNeueDaten::Outcome outcome;
        const char *reports, *logged;
        platform::RecordedMessage message;
    } rows[] = {
        {1, FrmNeueDaten::Outcome::Failed, "12401 1/2 weiter [-]", "Daten Holen fehlgeschlagen um",
         testenv::accessError("Daten Holen für Periode 12401 bis 12402\nDie bisherigen "
                              "Periodensummen bleiben unverändert",
                              cache::err::GenerateFailed,
                              "Aufbau abgebrochen (Fehler bei Periode 12402)", 32'400'000)},
        {-1, FrmNeueDaten::Outcome::Cancelled,
         "12401 1/2 weiter [-]|12402 2/2 halt [Periode 12401 (1 von 2)]",
         "Daten Holen abgebrochen um",
         testenv::msg("Daten holen",
                      "Daten Holen für Periode 12401 bis 12402 abgebrochen!\n"
                      "Die bisherigen Periodensummen bleiben unverändert.",
                      MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok, 32'400'000)},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.logged);
        faultAfter = r.faultAfter;
        reports.clear();
        open();
        const qsizetype cursorBefore = env->ui.cursorChanges().size();
        env->ui.onProcessEvents = [&] {
            if (dialog->rebuildRunning() && dialog->prgFortschritt->value() == 2)
                dialog->CancelButton->click();
        };
        dialog->OKButton->click();
        EXPECT_EQ(dialog->lastOutcome(), r.outcome);
        EXPECT_EQ(reports.join(u'|'), r.reports);
        EXPECT_EQ(env->messages(), QList{r.message});
        EXPECT_EQ(windows::programLog().entries(),
                  (QList{logged(r.logged, "09:00:00"),
                         logged("Daten Holen für", "12401 12402 um 09:00:00")}));
        EXPECT_EQ(env->ui.cursorChanges().mid(cursorBefore, 2), (QList<bool>{true, false}));
        EXPECT_FALSE(env->ui.busyCursor());
        EXPECT_TRUE(env->server.Lock().isActive());
        EXPECT_TRUE(dialog->isVisible() && dialog->OKButton->isEnabled());
        EXPECT_FALSE(dialog->edtVon->isReadOnly() || dialog->prgFortschritt->isVisible());
        EXPECT_EQ(xwgdat(), QStringLiteral("12402`1240301"));
    }

    // Closing the window while it runs cancels as well, and only then closes.
    env->ui.onProcessEvents = [&] {
        if (dialog->rebuildRunning()) dialog->close();
    };
    dialog->OKButton->click();
    env->ui.onProcessEvents = {};
    EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Cancelled);
    EXPECT_EQ(reports.size(), 3);
    EXPECT_TRUE(dialog->isVisible());
    dialog->CancelButton->click();
    EXPECT_FALSE(dialog->isVisible());
}

TEST_P(RebuildDialog, ModalRunFromTheOwner) {
    open(); // sets up the session; the modal run builds its own dialog
    QWidget owner;
    owner.show();
    QTimer::singleShot(0, [&] {
        auto* d = owner.findChild<FrmNeueDaten*>();
        ASSERT_TRUE(d) << "no dialog owned by the window";
        EXPECT_TRUE(d->isVisible());
        d->OKButton->click();
    });
    EXPECT_EQ(FrmNeueDaten::showModal(env->s(), env->ui, env->clock, &owner), QDialog::Accepted);
    EXPECT_EQ(reports.size(), 2);
    EXPECT_TRUE(owner.findChildren<FrmNeueDaten*>().isEmpty()); // gone after the run
}

INSTANTIATE_ON_BOTH_ENGINES(RebuildDialog);

} // namespace
