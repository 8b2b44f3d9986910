// The data rebuild dialog against the server component on SQLite and
// PostgreSQL: the build information and the proposed periods, what OK sends
// and logs, the checks of the period fields, a failing and a cancelled
// rebuild, and the progress reports. That a rebuild changes the sums, and
// atomically, is the server's rule and tested there.

#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "retrieval/FrmNeueDaten.h"
#include "retrieval/RebuildProgress.h"
#include "support/HookedObject.h"
#include "support/LoggedIn.h"
#include "windows/ProgramLog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
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

const QString kLogPart = QStringLiteral("frmNeueDaten.OKButton_Click");

// One progress report the server sent, what the dialog answered and what
// its progress bar showed at that moment.
struct Report {
    int done, total, period;
    bool goOn;
    bool barVisible;
    QString barText;
};

// What the tests observe of the server component, shared by every factory
// the session makes.
struct Probe {
    QStringList calls;                // class method calls other than Xecute: "Cls.Method(a|b|c)"
    std::function<void()> onCall;     // runs before such a call reaches the server
    std::function<QString()> barText; // the dialog's bar while a report comes in
    std::function<bool()> barVisible;
    QList<Report> reports;
    bool progressHook = true; // the factory forwards reports like the desktop client
    int faultAfter = -1;
};

class ProbeFactory : public cache::server::ServerFactory {
public:
    explicit ProbeFactory(Probe& p) : p_(p) {
        options().generateFaultAfter = p.faultAfter;
        if (p.progressHook)
            options().generateProgress = [&p](const cache::server::GenerateProgress& g) {
                const bool barVisible = p.barVisible ? p.barVisible() : false;
                const QString barText = p.barText ? p.barText() : QString();
                const bool go = retrieval::reportRebuildProgress(g.done, g.total, g.period);
                p.reports.append({g.done, g.total, g.period, go, barVisible, barText});
                return go;
            };
    }
    std::unique_ptr<cache::CacheObject> classHandle(const QString& cls) override {
        return std::make_unique<testsupport::HookedObject>(
            ServerFactory::classHandle(cls), cls,
            [&p = p_](const QString& c, const QString& method, const QStringList& args) {
                if (method.compare(QLatin1String("Xecute"), Qt::CaseInsensitive) == 0) return;
                p.calls << c + QLatin1Char('.') + method + QLatin1Char('(') +
                               args.join(QLatin1Char('|')) + QLatin1Char(')');
                if (p.onCall) p.onCall();
            });
    }

private:
    Probe& p_;
};

// The dialog's own message boxes go to the session's scripted ui; this lets
// a test look at the dialog at the moment one of them comes up.
class WatchUi : public platform::Ui {
public:
    explicit WatchUi(platform::Ui& inner) : inner_(inner) {}
    std::function<void(const QString& text)> onMessage;
    MsgAnswer message(const QString& title, const QString& text, MsgIcon icon,
                      MsgButtons buttons) override {
        if (onMessage) onMessage(text);
        return inner_.message(title, text, icon, buttons);
    }
    void setBusyCursor(bool busy) override { inner_.setBusyCursor(busy); }
    bool busyCursor() const override { return inner_.busyCursor(); }
    void processEvents() override { inner_.processEvents(); }

private:
    platform::Ui& inner_;
};

class RebuildDialog : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &testsupport::demoSite(GetParam(), QStringLiteral("rebuilddialog"), 3000);
        setXwgdat(QStringLiteral("12402`1240301"));
        windows::programLog().clear();
    }

    void setXwgdat(const QString& v) {
        auto d = site_->db->open();
        cache::server::Store(*d).setGlobal(QStringLiteral("XWGDAT"), v);
    }
    QString xwgdat() {
        auto d = site_->db->open();
        return cache::server::Store(*d).global(QStringLiteral("XWGDAT")).value_or(QString());
    }

    // Logs DEMO in with the clock at `today` 09:00 and opens the dialog.
    void open(QDate today = QDate(2024, 3, 15)) {
        dialog.reset();
        watch.reset();
        env.reset(); // its end clears the session records
        env = testsupport::loggedIn(*site_, QStringLiteral("DEMO"), QStringLiteral("demo"), today,
                                    [this] { return std::make_unique<ProbeFactory>(probe); });
        watch = std::make_unique<WatchUi>(env->ui);
        dialog = std::make_unique<FrmNeueDaten>(env->s(), *watch, env->clock);
        probe.barText = [this] { return dialog ? dialog->prgFortschritt->format() : QString(); };
        probe.barVisible = [this] { return dialog && dialog->prgFortschritt->isVisible(); };
        dialog->Form_Load();
        dialog->show();
        probe.calls.clear();
        env->ui.clearMessages();
        windows::programLog().clear();
    }
    void setRange(const char* von, const char* bis) {
        dialog->edtVon->setText(QString::fromUtf8(von));
        dialog->edtBis->setText(QString::fromUtf8(bis));
    }
    QStringList logTexts() const {
        QStringList out;
        for (const windows::LogEntry& e : windows::programLog().entries())
            out << e.text;
        return out;
    }
    // Nothing reached the server, the log or the build information.
    void expectNothingSent() {
        EXPECT_TRUE(probe.calls.isEmpty());
        EXPECT_TRUE(windows::programLog().entries().isEmpty());
        EXPECT_EQ(xwgdat(), QStringLiteral("12402`1240301"));
    }
    static QString generieren(const char* range) {
        return QStringLiteral("ZKUmsatz.Daten.Generieren(1|%1)").arg(QLatin1String(range));
    }

    testsupport::DemoSite* site_ = nullptr;
    Probe probe;
    std::unique_ptr<testenv::Env> env;
    std::unique_ptr<WatchUi> watch;
    std::unique_ptr<FrmNeueDaten> dialog;
};

// The proposal is the two months before the clock's; the label shows the
// server's last build, or only what of it can be read.
TEST_P(RebuildDialog, OpensWithProposalAndBuildInformation) {
    ASSERT_EQ(QLocale().name(), QStringLiteral("de_DE"));
    const QString built = QStringLiteral("Letzte Periode 12402 erstellt am ");
    const struct {
        QDate today;
        const char *xwgdat, *von, *bis;
        QString label;
    } rows[] = {
        {QDate(2024, 3, 15), "", "12401", "12402", "Daten"}, // the record exists, no fields
        {QDate(2024, 3, 15), "12402", "12401", "12402", built},
        {QDate(2024, 3, 15), "12402`1241301`x", "12401", "12402", built}, // month 13: no date
        {QDate(2024, 1, 20), "12402`1240301", "12311", "12312", built + "01.03.24"},
        {QDate(2024, 3, 1), "12402`1240301", "12401", "12402", built + "01.03.24"},
        {QDate(2024, 2, 29), "12402`1240301", "12312", "12401", built + "01.03.24"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.today.toString(Qt::ISODate).toStdString() + " " + r.xwgdat);
        setXwgdat(QString::fromUtf8(r.xwgdat));
        open(r.today);
        EXPECT_EQ(dialog->edtVon->text(), QLatin1String(r.von));
        EXPECT_EQ(dialog->edtBis->text(), QLatin1String(r.bis));
        EXPECT_EQ(dialog->lblDatenAnzeige->text(), r.label);
        EXPECT_TRUE(env->messages().isEmpty());
        EXPECT_TRUE(probe.calls.isEmpty()); // opening sends no rebuild
    }
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Neu aufzubauende Daten"));
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->lblVon->buddy(), dialog->edtVon);
    EXPECT_EQ(dialog->lblBis->buddy(), dialog->edtBis);
    EXPECT_FALSE(dialog->prgFortschritt->isVisible());

    setRange("12310", "12311");
    dialog->CancelButton->click();
    expectNothingSent();
    EXPECT_TRUE(env->messages().isEmpty());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
}

// Without progress reports from the server (the bar stays hidden).
TEST_P(RebuildDialog, OkRebuildsTheRangeLogsAndReports) {
    probe.progressHook = false;
    open();
    const qsizetype cursorBefore = env->ui.cursorChanges().size();
    bool busyDuringCall = false, idleTimerDuringCall = true, barSeen = true;
    probe.onCall = [&] {
        barSeen = dialog->prgFortschritt->isVisible();
        busyDuringCall = env->ui.busyCursor();
        idleTimerDuringCall = env->server.Lock().isActive();
        env->clock.advance(75'000); // the server works for 75 seconds
    };
    bool visibleAtMessage = true, busyAtMessage = true;
    watch->onMessage = [&](const QString&) {
        visibleAtMessage = dialog->isVisible();
        busyAtMessage = env->ui.busyCursor();
    };

    dialog->OKButton->click();

    EXPECT_EQ(probe.calls, QStringList{generieren("12401|12402")});
    EXPECT_TRUE(probe.reports.isEmpty());
    EXPECT_FALSE(barSeen);
    EXPECT_TRUE(busyDuringCall);
    EXPECT_FALSE(idleTimerDuringCall); // inside the bracket
    EXPECT_TRUE(env->server.Lock().isActive());
    EXPECT_EQ(env->ui.cursorChanges().mid(cursorBefore), (QList<bool>{true, false}));
    EXPECT_TRUE(xwgdat().startsWith(QStringLiteral("12402`")));

    const QList<windows::LogEntry>& log = windows::programLog().entries();
    ASSERT_EQ(log.size(), 2);
    EXPECT_EQ(log[1], (windows::LogEntry{kLogPart, QStringLiteral("Daten Holen für"),
                                         QStringLiteral("12401 12402 um 09:00:00")}));
    EXPECT_EQ(log[0], (windows::LogEntry{kLogPart, QStringLiteral("Daten Holen erledigt um"),
                                         QStringLiteral("09:01:15")}));

    ASSERT_EQ(env->messages().size(), 1);
    const platform::RecordedMessage& m = env->messages().first();
    EXPECT_EQ(m.title, QStringLiteral("Daten holen"));
    EXPECT_EQ(m.text, QStringLiteral("Daten Holen für Periode 12401 bis 12402 erledigt!"));
    EXPECT_EQ(m.icon, MsgIcon::None);
    EXPECT_EQ(m.buttons, MsgButtons::Ok);
    EXPECT_FALSE(visibleAtMessage); // hidden first, then the message
    EXPECT_FALSE(busyAtMessage);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Accepted);
    EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Done);
}

// Malformed fields and a start after the end are refused before anything
// is sent; the focus goes to the field to correct.
TEST_P(RebuildDialog, BadPeriodsAreRejectedBeforeSending) {
    open();
    const qsizetype cursorBefore = env->ui.cursorChanges().size();
    const QString hint = QStringLiteral("\nBitte geben Sie die Periode als Jahr minus 1900 und "
                                        "zweistelligen Monat ein, z. B. 12401 für Januar 2024.");
    const QString invalid = QStringLiteral("Das Feld „%1“ enthält keine gültige Periode: „%2“.");
    const struct {
        const char *von, *bis;
        bool bisWrong;
        QString text;
    } rows[] = {
        {"abc", "12402", false, invalid.arg("von Periode", "abc") + hint},
        {"", "12402", false, QStringLiteral("Das Feld „von Periode“ ist leer.") + hint},
        {"12413", "12402", false, invalid.arg("von Periode", "12413") + hint},
        {" 12401", "12402", false, invalid.arg("von Periode", " 12401") + hint},
        {"12400", "12402", false, invalid.arg("von Periode", "12400") + hint},
        {"123401", "12402", false, invalid.arg("von Periode", "123401") + hint},
        {"-1201", "12402", false, invalid.arg("von Periode", "-1201") + hint},
        {"12401", "1240a", true, invalid.arg("bis Periode", "1240a") + hint},
        {"12401", "12402 ", true, invalid.arg("bis Periode", "12402 ") + hint},
        {"12401", "1", true, invalid.arg("bis Periode", "1") + hint},
        {"12401", "١٢٤٠١", true, invalid.arg("bis Periode", "١٢٤٠١") + hint},
        {"12402", "12312", false,
         QStringLiteral("Die Periode im Feld „von Periode“ (12402) liegt nach der Periode im Feld "
                        "„bis Periode“ (12312).\nBitte geben Sie zuerst die frühere Periode ein.")},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.von + std::string(" ") + r.bis);
        env->ui.clearMessages();
        setRange(r.von, r.bis);
        dialog->OKButton->setFocus();
        dialog->OKButton->click();
        ASSERT_EQ(env->messages().size(), 1);
        EXPECT_EQ(env->messages()[0].title, QStringLiteral("Neu aufzubauende Daten"));
        EXPECT_EQ(env->messages()[0].text, r.text);
        EXPECT_EQ(env->messages()[0].icon, MsgIcon::Exclamation);
        EXPECT_EQ(dialog->focusWidget(), r.bisWrong ? dialog->edtBis : dialog->edtVon);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Rejected);
    }
    expectNothingSent();
    EXPECT_EQ(env->ui.cursorChanges().size(), cursorBefore);

    // Across the turn of the year the order is by number, not by text.
    setRange("9912", "10001");
    dialog->OKButton->click();
    EXPECT_EQ(probe.calls, QStringList{generieren("9912|10001")});
}

TEST_P(RebuildDialog, FailedRebuildKeepsTheDialogForARetry) {
    probe.faultAfter = 1; // the second period fails
    open();
    const qsizetype cursorBefore = env->ui.cursorChanges().size();

    dialog->OKButton->click();

    EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Failed);
    ASSERT_EQ(env->messages().size(), 1);
    const platform::RecordedMessage expected = testenv::accessError(
        QStringLiteral("Daten Holen für Periode 12401 bis 12402\n"
                       "Die bisherigen Periodensummen bleiben unverändert"),
        cache::err::GenerateFailed, QStringLiteral("Aufbau abgebrochen (Fehler bei Periode 12402)"),
        env->messages()[0].atMs);
    EXPECT_EQ(env->messages()[0], expected);
    EXPECT_FALSE(env->ui.busyCursor());
    EXPECT_EQ(env->ui.cursorChanges().mid(cursorBefore, 2), (QList<bool>{true, false}));
    EXPECT_TRUE(env->server.Lock().isActive()); // bracket closed
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_NE(dialog->result(), QDialog::Accepted);
    EXPECT_TRUE(dialog->OKButton->isEnabled());
    EXPECT_FALSE(dialog->edtVon->isReadOnly());
    EXPECT_EQ(logTexts(), (QStringList{QStringLiteral("Daten Holen fehlgeschlagen um"),
                                       QStringLiteral("Daten Holen für")}));
    EXPECT_EQ(windows::programLog().entries()[0].parameter, QStringLiteral("09:00:00"));
    EXPECT_EQ(xwgdat(), QStringLiteral("12402`1240301"));

    // The user tries again once the server is well.
    static_cast<cache::server::ServerFactory*>(env->s().factory())->options().generateFaultAfter =
        -1;
    env->ui.clearMessages();
    dialog->OKButton->click();
    EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Done);
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages()[0].text,
              QStringLiteral("Daten Holen für Periode 12401 bis 12402 erledigt!"));
}

TEST_P(RebuildDialog, ProgressOfEveryPeriodReachesTheDialog) {
    open();
    setRange("12310", "12402");
    EXPECT_FALSE(retrieval::hasRebuildProgressSink());
    dialog->OKButton->click();
    ASSERT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Done);

    const int periods[] = {12310, 12311, 12312, 12401, 12402};
    ASSERT_EQ(probe.reports.size(), 5);
    for (int i = 0; i < 5; ++i) {
        const Report& r = probe.reports[i];
        EXPECT_EQ(r.done, i + 1);
        EXPECT_EQ(r.total, 5);
        EXPECT_EQ(r.period, periods[i]);
        EXPECT_TRUE(r.goOn);
        // The bar shows the previous report while the next one arrives.
        EXPECT_EQ(r.barVisible, i > 0) << i;
        if (i > 0) {
            EXPECT_EQ(r.barText,
                      QStringLiteral("Periode %1 (%2 von 5)").arg(periods[i - 1]).arg(i));
        }
    }
    EXPECT_EQ(dialog->prgFortschritt->format(), QStringLiteral("Periode 12402 (5 von 5)"));
    EXPECT_EQ(dialog->prgFortschritt->value(), 5);
    EXPECT_FALSE(dialog->prgFortschritt->isVisible()); // hidden again afterwards
    EXPECT_FALSE(retrieval::hasRebuildProgressSink());
    EXPECT_GE(env->ui.processEventsCalls(), 5); // painted while it ran
}

TEST_P(RebuildDialog, CancelDuringTheRunRollsBack) {
    open();
    setRange("12310", "12402");
    // The user presses "Abbrechen" while the second period is shown.
    env->ui.onProcessEvents = [&] {
        if (dialog->rebuildRunning() && dialog->prgFortschritt->value() == 2)
            dialog->CancelButton->click();
    };
    dialog->OKButton->click();
    env->ui.onProcessEvents = {};

    EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Cancelled);
    ASSERT_EQ(probe.reports.size(), 2);
    EXPECT_TRUE(probe.reports[0].goOn);
    EXPECT_FALSE(probe.reports[1].goOn);
    EXPECT_EQ(xwgdat(), QStringLiteral("12402`1240301"));
    ASSERT_EQ(env->messages().size(), 1); // a notice, not the access error
    EXPECT_EQ(env->messages()[0].title, QStringLiteral("Daten holen"));
    EXPECT_EQ(env->messages()[0].text,
              QStringLiteral("Daten Holen für Periode 12310 bis 12402 abgebrochen!\n"
                             "Die bisherigen Periodensummen bleiben unverändert."));
    EXPECT_EQ(env->messages()[0].icon, MsgIcon::Information);
    EXPECT_EQ(logTexts(), (QStringList{QStringLiteral("Daten Holen abgebrochen um"),
                                       QStringLiteral("Daten Holen für")}));
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->prgFortschritt->isVisible());
    EXPECT_FALSE(env->ui.busyCursor());
    EXPECT_TRUE(env->server.Lock().isActive());

    // Closing the window while it runs cancels as well, and only then closes.
    probe.reports.clear();
    env->ui.onProcessEvents = [&] {
        if (dialog->rebuildRunning()) dialog->close();
    };
    dialog->OKButton->click();
    env->ui.onProcessEvents = {};
    EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Cancelled);
    EXPECT_EQ(probe.reports.size(), 1);
    EXPECT_TRUE(dialog->isVisible());
    dialog->CancelButton->click();
    EXPECT_FALSE(dialog->isVisible());
}

TEST_P(RebuildDialog, ModalRunFromTheOwner) {
    open(); // sets up the session; the modal run builds its own dialog
    dialog.reset();
    QWidget owner;
    owner.show();
    bool wasVisible = false;
    QTimer::singleShot(0, [&] {
        auto* d = owner.findChild<FrmNeueDaten*>();
        if (!d) {
            ADD_FAILURE() << "no dialog owned by the window";
            return;
        }
        wasVisible = d->isVisible();
        d->OKButton->click();
    });
    const int result = FrmNeueDaten::showModal(env->s(), env->ui, env->clock, &owner);
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(wasVisible);
    EXPECT_EQ(probe.calls, QStringList{generieren("12401|12402")});
    EXPECT_TRUE(owner.findChildren<FrmNeueDaten*>().isEmpty()); // gone after the run
}

INSTANTIATE_ON_BOTH_ENGINES(RebuildDialog);

// Without a listener every report goes on; a nested listener is removed at
// its end and the outer one restored.
TEST(RebuildProgress, ScopedListenersNest) {
    ASSERT_FALSE(retrieval::hasRebuildProgressSink());
    EXPECT_TRUE(retrieval::reportRebuildProgress(1, 3, 12401));
    QList<int> outer, inner;
    {
        retrieval::ScopedRebuildProgress a([&](int done, int, int) {
            outer << done;
            return true;
        });
        EXPECT_TRUE(retrieval::reportRebuildProgress(1, 2, 12401));
        {
            retrieval::ScopedRebuildProgress b([&](int done, int total, int) {
                inner << done;
                return done < total;
            });
            EXPECT_TRUE(retrieval::reportRebuildProgress(1, 2, 12401));
            EXPECT_FALSE(retrieval::reportRebuildProgress(2, 2, 12402));
        }
        EXPECT_TRUE(retrieval::reportRebuildProgress(2, 2, 12402));
    }
    EXPECT_EQ(outer, (QList<int>{1, 2}));
    EXPECT_EQ(inner, (QList<int>{1, 2}));
    EXPECT_FALSE(retrieval::hasRebuildProgressSink());
}

} // namespace
