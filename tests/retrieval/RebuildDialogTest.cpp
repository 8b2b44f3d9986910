// The data rebuild dialog against the server component on SQLite and
// PostgreSQL: the build information and the proposed periods, what OK sends
// and logs, the period sums a rebuild really changes, the checks of the
// period fields, a failing and a cancelled rebuild, and the progress reports.

#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "retrieval/FrmNeueDaten.h"
#include "retrieval/RebuildProgress.h"
#include "support/LoggedIn.h"
#include "windows/ProgramLog.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <cmath>
#include <gtest/gtest.h>
#include <stdexcept>

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

class ProbeObject : public cache::CacheObject {
public:
    ProbeObject(std::unique_ptr<cache::CacheObject> inner, QString cls, Probe& p)
        : inner_(std::move(inner)), cls_(std::move(cls)), p_(p) {}
    QString property(const QString& name) override { return inner_->property(name); }
    QString call(const QString& method, const QStringList& args) override {
        if (method.compare(QLatin1String("Xecute"), Qt::CaseInsensitive) != 0) {
            p_.calls << cls_ + QLatin1Char('.') + method + QLatin1Char('(') +
                            args.join(QLatin1Char('|')) + QLatin1Char(')');
            if (p_.onCall) p_.onCall();
        }
        return inner_->call(method, args);
    }
    void SYS_Close() override { inner_->SYS_Close(); }

private:
    std::unique_ptr<cache::CacheObject> inner_;
    QString cls_;
    Probe& p_;
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
        return std::make_unique<ProbeObject>(ServerFactory::classHandle(cls), cls, p_);
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

qint64 cents(const QString& text) {
    return std::llround(text.toDouble() * 100);
}

class RebuildDialog : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &testsupport::demoSite(GetParam(), QStringLiteral("rebuilddialog"), 3000);
        setXwgdat(QStringLiteral("12402`1240301"));
        windows::programLog().clear();
    }
    void TearDown() override {
        dialog.reset();
        watch.reset();
        env.reset();
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
        dialog->edtVon->setText(QLatin1String(von));
        dialog->edtBis->setText(QLatin1String(bis));
    }

    // Revenue of one month of company 1 in cents, as the period query reads it.
    qint64 revenue(int period) {
        std::unique_ptr<cache::CacheQuery> q = env->s().factory()->query(
            QStringLiteral("ZKUmsatz.Daten"), QStringLiteral("PeriodenSumme"));
        q->execute({QStringLiteral("1"), QString::number(period), QString(), QString(), QString(),
                    QString(), QString(), QString(), QString()});
        EXPECT_TRUE(q->next());
        const qint64 c = cents(q->column(1));
        q->SYS_Close();
        return c;
    }
    // Adds one sales line of company 1 in that month; the sums follow only
    // with the next rebuild.
    void addSale(int period, qint64 umsatzCents) {
        auto d = site_->db->open();
        cache::server::Store store(*d);
        cache::server::SalesLine l;
        l.datum = (period / 100 + 1900) * 10000 + (period % 100) * 100 + 14;
        l.firma = 1;
        const char* codes[cache::server::kDimCount] = {"1", "10", "M2", "30", "3001",
                                                       "P", "L",  "01", "L"};
        for (int i = 0; i < cache::server::kDimCount; ++i)
            l.codes[i] = QLatin1String(codes[i]);
        l.umsatz = umsatzCents;
        l.kosten = umsatzCents / 2;
        store.appendSales({l});
    }
    QStringList logTexts() const {
        QStringList out;
        for (const windows::LogEntry& e : windows::programLog().entries())
            out << e.text;
        return out;
    }

    testsupport::DemoSite* site_ = nullptr;
    Probe probe;
    std::unique_ptr<testenv::Env> env;
    std::unique_ptr<WatchUi> watch;
    std::unique_ptr<FrmNeueDaten> dialog;
};

TEST_P(RebuildDialog, ControlsAndCaptions) {
    open();
    EXPECT_EQ(dialog->objectName(), QStringLiteral("frmNeueDaten"));
    EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Neu aufzubauende Daten"));
    EXPECT_TRUE(dialog->isModal());
    EXPECT_EQ(dialog->lblVon->text(), QStringLiteral("von Periode"));
    EXPECT_EQ(dialog->lblVon->buddy(), dialog->edtVon);
    EXPECT_EQ(dialog->lblBis->text(), QStringLiteral("bis Periode"));
    EXPECT_EQ(dialog->lblBis->buddy(), dialog->edtBis);
    EXPECT_EQ(dialog->OKButton->text(), QStringLiteral("OK"));
    EXPECT_EQ(dialog->CancelButton->text(), QStringLiteral("Abbrechen"));
    EXPECT_FALSE(dialog->prgFortschritt->isVisible());
    EXPECT_TRUE(probe.calls.isEmpty()); // opening sends no rebuild
}

TEST_P(RebuildDialog, ProposesTheLastTwoCompleteMonths) {
    open(QDate(2024, 1, 20));
    EXPECT_EQ(dialog->edtVon->text(), QStringLiteral("12311"));
    EXPECT_EQ(dialog->edtBis->text(), QStringLiteral("12312"));
    open(QDate(2024, 3, 1));
    EXPECT_EQ(dialog->edtVon->text(), QStringLiteral("12401"));
    EXPECT_EQ(dialog->edtBis->text(), QStringLiteral("12402"));
    open(QDate(2024, 2, 29));
    EXPECT_EQ(dialog->edtVon->text(), QStringLiteral("12312"));
    EXPECT_EQ(dialog->edtBis->text(), QStringLiteral("12401"));
}

TEST_P(RebuildDialog, LabelShowsTheServersBuildInformation) {
    ASSERT_EQ(QLocale().name(), QStringLiteral("de_DE"));
    open();
    const QString march1 = QLocale().toString(QDate(2024, 3, 1), QLocale::ShortFormat);
    EXPECT_EQ(march1, QStringLiteral("01.03.24"));
    EXPECT_EQ(dialog->lblDatenAnzeige->text(),
              QStringLiteral("Letzte Periode 12402 erstellt am ") + march1);

    setXwgdat(QStringLiteral("")); // empty, not NULL: the record exists with no fields
    open();
    EXPECT_EQ(dialog->lblDatenAnzeige->text(), QStringLiteral("Daten"));
    EXPECT_EQ(dialog->edtVon->text(), QStringLiteral("12401")); // filled all the same
    EXPECT_EQ(dialog->edtBis->text(), QStringLiteral("12402"));

    setXwgdat(QStringLiteral("12402"));
    open();
    EXPECT_EQ(dialog->lblDatenAnzeige->text(), QStringLiteral("Letzte Periode 12402 erstellt am "));

    // Month 13 is no date: only the date part stays empty.
    setXwgdat(QStringLiteral("12402`1241301`x"));
    open();
    EXPECT_EQ(dialog->lblDatenAnzeige->text(), QStringLiteral("Letzte Periode 12402 erstellt am "));
    EXPECT_TRUE(env->messages().isEmpty());
}

TEST_P(RebuildDialog, CancelAfterEditingSendsNothing) {
    open();
    setRange("12310", "12311");
    dialog->CancelButton->click();
    EXPECT_TRUE(probe.calls.isEmpty());
    EXPECT_TRUE(windows::programLog().entries().isEmpty());
    EXPECT_TRUE(env->messages().isEmpty());
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(dialog->result(), QDialog::Rejected);
    EXPECT_EQ(xwgdat(), QStringLiteral("12402`1240301"));
}

TEST_P(RebuildDialog, OkRebuildsTheRangeLogsAndReports) {
    open();
    const qsizetype cursorBefore = env->ui.cursorChanges().size();
    bool busyDuringCall = false, idleTimerDuringCall = true;
    probe.onCall = [&] {
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

    EXPECT_EQ(probe.calls, QStringList{QStringLiteral("ZKUmsatz.Daten.Generieren(1|12401|12402)")});
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

TEST_P(RebuildDialog, RebuildBringsNewSalesIntoThePeriodSums) {
    open();
    const qint64 before = revenue(12402);
    const qint64 neighbour = revenue(12401);
    addSale(12402, 123'456);
    EXPECT_EQ(revenue(12402), before); // not yet rebuilt

    setRange("12402", "12402");
    dialog->OKButton->click();
    ASSERT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Done);
    EXPECT_EQ(revenue(12402), before + 123'456);
    EXPECT_EQ(revenue(12401), neighbour);
    EXPECT_EQ(probe.calls, QStringList{QStringLiteral("ZKUmsatz.Daten.Generieren(1|12402|12402)")});
}

TEST_P(RebuildDialog, MalformedPeriodsAreRejectedBeforeSending) {
    open();
    const qsizetype cursorBefore = env->ui.cursorChanges().size();
    dialog->edtVon->setText(QStringLiteral("abc"));
    dialog->OKButton->click();
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages()[0].title, QStringLiteral("Neu aufzubauende Daten"));
    EXPECT_EQ(env->messages()[0].text,
              QStringLiteral("Das Feld „von Periode“ enthält keine gültige Periode: „abc“.\n"
                             "Bitte geben Sie die Periode als Jahr minus 1900 und zweistelligen "
                             "Monat ein, z. B. 12401 für Januar 2024."));
    EXPECT_EQ(env->messages()[0].icon, MsgIcon::Exclamation);

    const struct {
        QLineEdit* field;
        const char* name;
        const char* text;
    } bad[] = {
        {dialog->edtVon, "von Periode", "12413"},  {dialog->edtVon, "von Periode", ""},
        {dialog->edtVon, "von Periode", " 12401"}, {dialog->edtVon, "von Periode", "12400"},
        {dialog->edtVon, "von Periode", "123401"}, {dialog->edtVon, "von Periode", "-1201"},
        {dialog->edtBis, "bis Periode", "1240a"},  {dialog->edtBis, "bis Periode", "12402 "},
        {dialog->edtBis, "bis Periode", "1"},      {dialog->edtBis, "bis Periode", "١٢٤٠١"},
    };
    for (const auto& b : bad) {
        SCOPED_TRACE(b.text);
        env->ui.clearMessages();
        setRange("12401", "12402");
        b.field->setText(QString::fromUtf8(b.text));
        dialog->edtVon->clearFocus();
        dialog->OKButton->setFocus();
        dialog->OKButton->click();
        ASSERT_EQ(env->messages().size(), 1);
        const QString text = env->messages()[0].text;
        EXPECT_TRUE(text.contains(QStringLiteral("„%1“").arg(QString::fromUtf8(b.name))))
            << text.toStdString();
        if (*b.text) {
            EXPECT_TRUE(text.contains(QStringLiteral("„%1“").arg(QString::fromUtf8(b.text))));
        } else {
            EXPECT_TRUE(text.startsWith(QStringLiteral("Das Feld „von Periode“ ist leer.")));
        }
        EXPECT_EQ(dialog->focusWidget(), b.field);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Rejected);
    }
    EXPECT_TRUE(probe.calls.isEmpty());
    EXPECT_TRUE(windows::programLog().entries().isEmpty());
    EXPECT_EQ(env->ui.cursorChanges().size(), cursorBefore);
    EXPECT_EQ(xwgdat(), QStringLiteral("12402`1240301"));
}

TEST_P(RebuildDialog, StartAfterEndIsRejected) {
    open();
    setRange("12402", "12312");
    dialog->OKButton->setFocus();
    dialog->OKButton->click();
    ASSERT_EQ(env->messages().size(), 1);
    EXPECT_EQ(env->messages()[0].text,
              QStringLiteral("Die Periode im Feld „von Periode“ (12402) liegt nach der Periode im "
                             "Feld „bis Periode“ (12312).\nBitte geben Sie zuerst die frühere "
                             "Periode ein."));
    EXPECT_EQ(env->messages()[0].icon, MsgIcon::Exclamation);
    EXPECT_EQ(dialog->focusWidget(), dialog->edtVon);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_TRUE(probe.calls.isEmpty());
    EXPECT_TRUE(windows::programLog().entries().isEmpty());

    // Across the turn of the year the order is by number, not by text.
    env->ui.clearMessages();
    setRange("9912", "10001");
    EXPECT_TRUE(retrieval::isPeriodCode(dialog->edtVon->text()));
    dialog->OKButton->click();
    EXPECT_EQ(probe.calls, QStringList{QStringLiteral("ZKUmsatz.Daten.Generieren(1|9912|10001)")});
}

TEST_P(RebuildDialog, FailedRebuildKeepsTheOldSumsAndTheDialog) {
    probe.faultAfter = 1; // the second period fails
    open();
    const qint64 jan = revenue(12401), feb = revenue(12402);
    addSale(12401, 5'000);
    addSale(12402, 7'000);
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
    EXPECT_EQ(revenue(12401), jan); // the first period was rolled back too
    EXPECT_EQ(revenue(12402), feb);
    EXPECT_EQ(xwgdat(), QStringLiteral("12402`1240301"));

    // The user tries again once the server is well.
    static_cast<cache::server::ServerFactory*>(env->s().factory())->options().generateFaultAfter =
        -1;
    env->ui.clearMessages();
    dialog->OKButton->click();
    EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Done);
    EXPECT_EQ(revenue(12401), jan + 5'000);
    EXPECT_EQ(revenue(12402), feb + 7'000);
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
    const qint64 nov = revenue(12311);
    addSale(12311, 9'900);
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
    EXPECT_EQ(revenue(12311), nov);
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
    env->ui.clearMessages();
    env->ui.onProcessEvents = [&] {
        if (dialog->rebuildRunning()) dialog->close();
    };
    dialog->OKButton->click();
    env->ui.onProcessEvents = {};
    EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Cancelled);
    EXPECT_EQ(probe.reports.size(), 1);
    EXPECT_EQ(revenue(12311), nov);
    EXPECT_TRUE(dialog->isVisible());
    dialog->CancelButton->click();
    EXPECT_FALSE(dialog->isVisible());
}

TEST_P(RebuildDialog, WorksWithoutProgressReports) {
    probe.progressHook = false;
    open();
    const qint64 dec = revenue(12312);
    addSale(12312, 4'200);
    setRange("12311", "12312");
    bool barSeen = false;
    probe.onCall = [&] { barSeen = dialog->prgFortschritt->isVisible(); };
    dialog->OKButton->click();
    EXPECT_EQ(dialog->lastOutcome(), FrmNeueDaten::Outcome::Done);
    EXPECT_TRUE(probe.reports.isEmpty());
    EXPECT_FALSE(barSeen);
    EXPECT_EQ(revenue(12312), dec + 4'200);
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
    EXPECT_EQ(probe.calls, QStringList{QStringLiteral("ZKUmsatz.Daten.Generieren(1|12401|12402)")});
    EXPECT_TRUE(owner.findChildren<FrmNeueDaten*>().isEmpty()); // gone after the run
}

INSTANTIATE_ON_BOTH_ENGINES(RebuildDialog);

// --- the progress slot on its own ---------------------------------------------------

TEST(RebuildProgress, WithoutListenerEveryReportGoesOn) {
    ASSERT_FALSE(retrieval::hasRebuildProgressSink());
    EXPECT_TRUE(retrieval::reportRebuildProgress(1, 3, 12401));
}

TEST(RebuildProgress, ScopedListenerIsRemovedAndTheOuterOneRestored) {
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
