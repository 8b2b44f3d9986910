// What a restricted user can see, on SQLite and PostgreSQL: through the
// main window's lists and F5, the extended selection, the details pane and
// the headless tool, the figures are those of the user's own department
// (or main department) straight from the sales lines, or the request is
// refused in German. Passwords never show: not in the program log or its
// window, Qt's log, message boxes, the tool's output and files, connection
// errors or the settings file. And libpq's TLS setting reaches the server.

#include "ReliabilityHelpers.h"
#include "main_window/FMStart.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/settings/QSettingsStore.h"
#include "server/SessionEnv.h"
#include "support/DemoSite.h"
#include "values/ValueStore.h"
#include "windows/FrmProgrammverlauf.h"
#include "windows/ProgramLog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QMutex>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeView>
#include <QTreeWidget>
#include <QUrl>
#include <gtest/gtest.h>

using platform::RecordedMessage;
using reliability::Money;
using reliability::Where;
using testsupport::TestEngine;

namespace {

QString u(const char* s) {
    return QString::fromUtf8(s);
}

const QString kSecret = u("Geheim-Xy7!q");
const QString kWrong = u("Falsch-Zq9#w"); // a wrong attempt must not show either
const QDate kToday(2024, 1, 15);          // 61 months: January 2019 up to January 2024

testsupport::DemoSite& site(TestEngine e) {
    return testsupport::demoSite(
        e, QStringLiteral("security"), 4000, [](cache::server::Database& d) {
            d.exec(QStringLiteral("INSERT INTO pers_edv (firma, code, passwort, aktiv, pname, pnr, "
                                  "abtnr, dw, bergrp) VALUES (1, 'GEHEIM', ?, 'J', 'Greta Geheim', "
                                  "'1001', 'B0', '0', 'ALLE')"),
                   {kSecret})
                .finish();
            d.exec(
                 QStringLiteral("INSERT INTO berechtigung (benutzer, programm, teil, stufe) VALUES "
                                "('GEHEIM', 'Tallvero', 'alles', 1)"))
                .finish();
        });
}

std::unique_ptr<mw::FMStart> startWindow(testenv::Env& env) {
    auto w = std::make_unique<mw::FMStart>(mw::FMStartServices{
        .ui = env.ui,
        .clock = env.clock,
        .session = env.s(),
        .screenWidth = [] { return 1152; },
        .openRebuildDialog = [](QWidget*) {},
        .showAbout = [] {},
        .showLog = [](QWidget* owner) { windows::frmProgrammverlauf::showInstance(owner); },
        .processCommandLine = [&env] { return env.commandLine; },
        .printDialog = [](QPrinter&, QWidget*) { return std::optional<int>(); },
        .saveFileName = [](const QString&, const QString&, const QString&) { return QString(); },
        .statusObserver = {},
    });
    w->resize(1100, 700);
    w->Form_Load();
    return w;
}

std::unique_ptr<testenv::Env> makeEnv(const testsupport::DemoSite& s, const QString& user,
                                      const QString& password) {
    auto env = std::make_unique<testenv::Env>(
        [] { return std::make_unique<cache::server::ServerFactory>(); },
        QDateTime(kToday, QTime(9, 0), Qt::UTC));
    env->commandLine = QStringLiteral("1 0 %1 %2 %3 %4").arg(user, password, s.server, s.port);
    return env;
}

// A whole number as a list or a CSV shows it, in whatever locale it was
// formatted: the sign and the digits.
qint64 shownNumber(const QString& text) {
    QString digits;
    for (const QChar c : text)
        if (c.isDigit() || (c == QLatin1Char('-') && digits.isEmpty())) digits += c;
    bool ok = false;
    const qint64 v = digits.toLongLong(&ok);
    EXPECT_TRUE(ok) << text.toStdString();
    return v;
}

// The German refusals of the client for a restricted user.
bool refusalText(const QString& t) {
    return t.contains(QStringLiteral("Sie Müssen eine Abteilung auswählen!")) ||
           t.contains(QStringLiteral("Sie dürfen")) ||
           t.contains(QStringLiteral("steht Ihnen nicht zur Verfügung"));
}

// --- the restricted user ------------------------------------------------------

// ABTLEITER: level 5, own department M2 in main department 10; the rules
// let M2 also choose MA and MF.
const QStringList kAllowed{QString(), u("M2"), u("MA"), u("MF")};

class Restricted : public ::testing::TestWithParam<TestEngine> {
public: // the table-driven cases reach the window through the fixture
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &site(GetParam());
        values::resetStore();
        db_ = site_->db->open();
    }
    void TearDown() override {
        window.reset();
        env.reset();
    }

    void start() {
        window.reset();
        env = makeEnv(*site_, u("ABTLEITER"), u("abt"));
        window = startWindow(*env);
        ASSERT_EQ(window->permissionLevel(), 5);
        env->ui.clearMessages();
    }
    void choose(QComboBox* list, const QString& code) {
        for (int i = 0; i < list->count(); ++i)
            if (list->itemText(i).startsWith(code + QLatin1Char(' '))) {
                window->setListIndex(list, i);
                return;
            }
        ADD_FAILURE() << "no entry " << code.toStdString();
    }
    // F5 into an empty store: whatever it holds afterwards came from this run.
    void f5() {
        values::resetStore();
        env->ui.clearMessages();
        window->mNeuZeichnen->trigger();
    }
    // Every month of the store against the sales lines of that scope.
    void expectFigures(const values::Table& P, const Where& scope, int months = 61) {
        ASSERT_TRUE(P.hasCells());
        int wrong = 0;
        for (int n = 1; n <= months; ++n) {
            const int p = reliability::periodOfSlot(2024, n);
            const Money m = reliability::salesLines(*db_, 1, p, p, scope);
            wrong += std::abs(P(n, 1).value() - m.umsatz / 100.0) > 0.005 ||
                     std::abs(P(n, 2).value() - (m.umsatz - m.kosten) / 100.0) > 0.005;
        }
        EXPECT_EQ(wrong, 0) << "months with figures of another scope";
    }
    void expectRefused() {
        EXPECT_EQ(window->lastFetch().result, retrieval::FetchResult::Refused);
        EXPECT_FALSE(values::store().PeriodValues.hasCells());
        ASSERT_FALSE(env->messages().isEmpty());
        EXPECT_TRUE(refusalText(env->messages().last().text))
            << env->messages().last().text.toStdString();
    }
    // The details list: every row a group the user may see, with its sums.
    void expectDetailRows(const Where& scope, const char* groupColumn, int minRows) {
        QTreeWidget* l = window->ctList;
        ASSERT_EQ(l->columnCount(), 3);
        EXPECT_GE(l->topLevelItemCount(), minRows);
        for (int i = 0; i < l->topLevelItemCount(); ++i) {
            const QTreeWidgetItem* item = l->topLevelItem(i);
            const QString group = item->text(0);
            if (QLatin1String(groupColumn) == QLatin1String("abtnr")) {
                EXPECT_TRUE(kAllowed.contains(group))
                    << "foreign department " << group.toStdString();
            }
            Where w = scope;
            if (!group.isEmpty()) w.append({QLatin1String(groupColumn), group});
            const Money m = reliability::salesLines(*db_, 1, 12301, 12312, w);
            EXPECT_EQ(shownNumber(item->text(1)), qint64(std::nearbyint(m.umsatz / 100.0)))
                << group.toStdString();
            EXPECT_EQ(shownNumber(item->text(2)),
                      qint64(std::nearbyint((m.umsatz - m.kosten) / 100.0)))
                << group.toStdString();
        }
    }

    testsupport::DemoSite* site_ = nullptr;
    std::unique_ptr<cache::server::Database> db_;
    std::unique_ptr<testenv::Env> env;
    std::unique_ptr<mw::FMStart> window;
};

TEST_P(Restricted, MainWindowSelectionAndF5) {
    struct Case {
        const char* name;
        std::function<void(Restricted&)> steps;
        std::optional<Where> scope; // nothing: F5 is refused
    };
    auto abt = [](const char* c) {
        return [c](Restricted& t) { t.choose(t.window->SABTNR, u(c)); };
    };
    auto habt = [](const char* c) {
        return [c](Restricted& t) { t.choose(t.window->SHABT, u(c)); };
    };
    auto both = [](std::function<void(Restricted&)> a, std::function<void(Restricted&)> b) {
        return [a, b](Restricted& t) {
            a(t);
            b(t);
        };
    };
    const Case cases[] = {
        {"own department", abt("M2"), Where{{"abtnr", "M2"}}},
        {"department of the same manager", abt("MA"), Where{{"abtnr", "MA"}}},
        {"foreign department", abt("M3"), std::nullopt},
        {"own, then a foreign department", both(abt("M2"), abt("M3")), std::nullopt},
        {"foreign main department", habt("20"), std::nullopt},
        {"own department, then a foreign main department", both(abt("M2"), habt("30")),
         std::nullopt},
        {"own main department", habt("10"), Where{{"habtnr", "10"}}},
        {"own main department, then a foreign department in it", both(habt("10"), abt("M1")),
         std::nullopt},
        {"own main department, then the own department", both(habt("10"), abt("M2")),
         Where{{"habtnr", "10"}, {"abtnr", "M2"}}},
        {"profit centre by keyboard and wheel",
         both(abt("M2"),
              [](Restricted& t) {
                  EXPECT_FALSE(t.window->SPCNR->isEnabled());
                  for (Qt::Key k : {Qt::Key_Down, Qt::Key_End, Qt::Key_PageDown})
                      QTest::keyClick(t.window->SPCNR, k);
                  EXPECT_EQ(t.window->SPCNR->currentIndex(), -1);
              }),
         Where{{"abtnr", "M2"}}},
        {"extended selection from the menu",
         both(abt("M2"),
              [](Restricted& t) {
                  EXPECT_FALSE(t.window->mAuswahl->isEnabled());
                  t.window->mAuswahl->trigger();
                  EXPECT_FALSE(t.window->mAuswahl->isChecked());
                  EXPECT_FALSE(t.window->auswahlDetailExists() &&
                               t.window->auswahlDetail()->isVisible());
              }),
         Where{{"abtnr", "M2"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start();
        c.steps(*this);
        f5();
        if (c.scope) {
            EXPECT_EQ(window->lastFetch().result, retrieval::FetchResult::Done);
            expectFigures(values::store().PeriodValues, *c.scope);
        } else {
            expectRefused();
        }
    }
}

// The extended window's own "DatenHolen (F5)", should it be open: while the
// menu entry is not ticked it fetches the plain selection, the own department.
TEST_P(Restricted, ExtendedWindowFetchesTheOwnDepartment) {
    start();
    choose(window->SABTNR, u("M2"));
    mw::FrmAuswahlDetail* x = window->auswahlDetail();
    x->SVART->setCurrentIndex(1);
    values::resetStore();
    x->OKButton->click();
    EXPECT_EQ(window->lastFetch().result, retrieval::FetchResult::Done);
    expectFigures(values::store().PeriodValues, {{"abtnr", "M2"}});
}

TEST_P(Restricted, DetailsPaneShowsOnlyAllowedDepartments) {
    struct Case {
        const char* name;
        std::function<void(Restricted&)> steps;
        std::optional<Where> scope; // nothing: refused
        const char* groupColumn;
        int minRows;
    };
    const Case cases[] = {
        {"own main department", [](Restricted& t) { t.choose(t.window->SHABT, u("10")); },
         Where{{"habtnr", "10"}}, "abtnr", 2},
        {"own main department and a department of the same manager",
         [](Restricted& t) {
             t.choose(t.window->SHABT, u("10"));
             t.choose(t.window->SABTNR, u("MA"));
         },
         Where{{"habtnr", "10"}}, "abtnr", 2},
        {"own department", [](Restricted& t) { t.choose(t.window->SABTNR, u("M2")); },
         Where{{"abtnr", "M2"}}, "hgrp", 2},
        {"foreign department", [](Restricted& t) { t.choose(t.window->SABTNR, u("M1")); },
         std::nullopt, "", 0},
        {"own main department, then a foreign department",
         [](Restricted& t) {
             t.choose(t.window->SHABT, u("10"));
             t.choose(t.window->SABTNR, u("MD"));
         },
         std::nullopt, "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        start();
        window->mDetails[0]->trigger();
        window->chkHKGRP->setChecked(false); // no split: group, revenue, margin
        window->optJahr[1]->click();         // 2023
        c.steps(*this);
        env->ui.clearMessages();
        window->cmdÜbernehmenDetails->click();
        if (c.scope) {
            EXPECT_EQ(window->lastDetails().result, retrieval::DetailOutcome::Result::Done);
            expectDetailRows(*c.scope, c.groupColumn, c.minRows);
        } else {
            EXPECT_EQ(window->lastDetails().result, retrieval::DetailOutcome::Result::Refused);
            EXPECT_EQ(window->ctList->topLevelItemCount(), 0);
            ASSERT_FALSE(env->messages().isEmpty());
            EXPECT_TRUE(refusalText(env->messages().last().text));
        }
        // "Daten holen" from the menu asks the details too: the same answer.
        const int rows = window->ctList->topLevelItemCount();
        window->mNeuZeichnen->trigger();
        EXPECT_EQ(window->ctList->topLevelItemCount(), rows);
    }
}

TEST_P(Restricted, ReportToolRefusesOrShowsTheOwnScope) {
    reliability::ToolEnv tool;
    const QStringList base{
        "--server",  site_->server, "--port", site_->port, "--user",
        "ABTLEITER", "--password",  "abt",    "--today",   kToday.toString(Qt::ISODate)};
    struct Case {
        QStringList options;
        std::optional<Where> scope; // nothing: refused
    };
    const Case cases[] = {
        {{}, std::nullopt},
        {{"--abt", "M3"}, std::nullopt},
        {{"--abt", "MD"}, std::nullopt}, // in the own main department, another manager
        {{"--abt", "m2"}, std::nullopt},
        {{"--abt", "M2'--"}, std::nullopt},
        {{"--habt", "20"}, std::nullopt},
        {{"--habt", "20", "--abt", "M2"}, std::nullopt},
        {{"--habt", "10", "--abt", "M1"}, std::nullopt},
        {{"--pc", "1"}, std::nullopt},
        {{"--abt", "M2", "--pc", "1"}, std::nullopt},
        {{"--abt", "M2", "--extended"}, std::nullopt},
        {{"--abt", "M2", "--extended", "--vart", "01"}, std::nullopt},
        {{"--abt", "M2"}, Where{{"abtnr", "M2"}}},
        {{"--abt", "MA"}, Where{{"abtnr", "MA"}}},
        {{"--habt", "10"}, Where{{"habtnr", "10"}}},
        {{"--abt", "M2", "--hg", "30"}, Where{{"abtnr", "M2"}, {"hgrp", "30"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        for (bool binary : {false, true}) {
            if (binary && c.options.size() > 2) continue; // the binary: the short cases
            const QString json = tool.nextJson();
            const QStringList args = base + c.options + QStringList{"--json", json};
            const reliability::ToolRun r =
                binary ? tool.binary(args, json, tool.environment()) : tool.inProcess(args, json);
            const QJsonObject j = QJsonDocument::fromJson(r.json).object();
            const QJsonArray pv = j.value(QStringLiteral("PeriodValues")).toArray();
            if (!c.scope) {
                EXPECT_EQ(r.code, 1) << r.err.toStdString();
                EXPECT_TRUE(refusalText(r.err)) << r.err.toStdString();
                for (const QJsonValue& row : pv)
                    EXPECT_TRUE(row.toArray().at(0).isNull() && row.toArray().at(1).isNull());
                continue;
            }
            ASSERT_EQ(r.code, 0) << r.err.toStdString();
            ASSERT_EQ(pv.size(), 72);
            values::Table P;
            P.dimension(1, 72, 1, 2);
            for (int n = 1; n <= 61; ++n) {
                P.at(n, 1) = pv[n - 1].toArray().at(0).toDouble(-1);
                P.at(n, 2) = pv[n - 1].toArray().at(1).toDouble(-1);
            }
            expectFigures(P, *c.scope);
        }
    }
}

TEST_P(Restricted, ReportToolDetailsShowOnlyAllowedDepartments) {
    reliability::ToolEnv tool;
    const QStringList base{
        "--server",  site_->server, "--port", site_->port, "--user",
        "ABTLEITER", "--password",  "abt",    "--today",   kToday.toString(Qt::ISODate),
        "--split",   "none",        "--jahr", "1"};
    struct Case {
        QStringList options;
        Where scope;
        const char* groupColumn;
    };
    const Case cases[] = {
        {{"--habt", "10"}, {{"habtnr", "10"}}, "abtnr"},
        {{"--abt", "M2"}, {{"abtnr", "M2"}}, "hgrp"},
        {{"--abt", "MA", "--hg", "30"}, {{"abtnr", "MA"}, {"hgrp", "30"}}, "ugrp"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        for (bool binary : {false, true}) {
            const QString csv = tool.path(QStringLiteral("details.csv"));
            const QStringList args = base + c.options + QStringList{"--details", csv};
            const reliability::ToolRun r =
                binary ? tool.binary(args, {}, tool.environment()) : tool.inProcess(args, {});
            ASSERT_EQ(r.code, 0) << r.err.toStdString();
            const QByteArray bytes = reliability::ToolEnv::readFile(csv);
            ASSERT_TRUE(bytes.startsWith("\xEF\xBB\xBF"));
            const QStringList lines =
                QString::fromUtf8(bytes.mid(3)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
            ASSERT_GE(lines.size(), 3);
            EXPECT_EQ(lines.first(), QStringLiteral("Grp;Umsatz;DB"));
            for (const QString& line : lines.mid(1)) {
                const QStringList f = line.split(QLatin1Char(';'));
                ASSERT_EQ(f.size(), 3);
                if (QLatin1String(c.groupColumn) == QLatin1String("abtnr")) {
                    EXPECT_TRUE(kAllowed.contains(f[0]))
                        << "foreign department " << f[0].toStdString();
                }
                Where w = c.scope;
                if (!f[0].isEmpty()) w.append({QLatin1String(c.groupColumn), f[0]});
                const Money m = reliability::salesLines(*db_, 1, 12301, 12312, w);
                EXPECT_EQ(shownNumber(f[1]), qint64(std::nearbyint(m.umsatz / 100.0)))
                    << f[0].toStdString();
                EXPECT_EQ(shownNumber(f[2]), qint64(std::nearbyint((m.umsatz - m.kosten) / 100.0)))
                    << f[0].toStdString();
            }
        }
    }
}

// --- passwords ------------------------------------------------------------------

// Everything Qt logs, our categories down to debug.
class QtLog {
public:
    QtLog() {
        const QMutexLocker lock(&mutex());
        sink() = &lines;
        previous_ = qInstallMessageHandler(&handler);
        QLoggingCategory::setFilterRules(QStringLiteral("tallvero.*.debug=true"));
    }
    ~QtLog() {
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(previous_);
        const QMutexLocker lock(&mutex());
        sink() = nullptr;
    }
    QString text() const {
        const QMutexLocker lock(&mutex());
        return lines.join(QLatin1Char('\n'));
    }
    QStringList lines;

private:
    static QMutex& mutex() {
        static QMutex m;
        return m;
    }
    static QStringList*& sink() {
        static QStringList* s = nullptr;
        return s;
    }
    static void handler(QtMsgType, const QMessageLogContext& c, const QString& m) {
        const QMutexLocker lock(&mutex());
        if (sink()) *sink() << QString::fromUtf8(c.category ? c.category : "") + u(": ") + m;
    }
    QtMessageHandler previous_ = nullptr;
};

// Neither password, nor a telling piece of it, in any encoding we write.
void expectClean(const char* where, const QByteArray& bytes) {
    for (const QString& s : {kSecret, kWrong, kSecret.mid(6), kWrong.mid(6)}) {
        EXPECT_FALSE(bytes.contains(s.toUtf8())) << where;
        const QByteArray utf16(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
        EXPECT_FALSE(bytes.contains(utf16)) << where;
        EXPECT_FALSE(bytes.contains(QUrl::toPercentEncoding(s))) << where;
    }
}
void expectClean(const char* where, const QString& text) {
    expectClean(where, text.toUtf8());
}

QString messagesText(const QList<RecordedMessage>& ms) {
    QString t;
    for (const RecordedMessage& m : ms)
        t += m.title + QLatin1Char('\n') + m.text + QLatin1Char('\n');
    return t;
}

QString programLogText() {
    QString t;
    for (const windows::LogEntry& e : windows::programLog().entries())
        t += e.programmteil + QLatin1Char(';') + e.text + QLatin1Char(';') + e.parameter + u("\n");
    return t;
}

// The rows the log window shows, read from its view.
QString logWindowText(const windows::frmProgrammverlauf& w) {
    QString t;
    const QAbstractItemModel* m = w.Verlauf()->model();
    for (int r = 0; r < m->rowCount(); ++r)
        for (int c = 0; c < m->columnCount(); ++c)
            t += m->data(m->index(r, c)).toString() + QLatin1Char('\t');
    return t;
}

// Sets an environment variable for a scope and puts the old state back.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const QByteArray& value)
        : name_(name), had_(qEnvironmentVariableIsSet(name)), old_(qgetenv(name)) {
        qputenv(name, value);
    }
    ~ScopedEnv() {
        if (had_)
            qputenv(name_, old_);
        else
            qunsetenv(name_);
    }

private:
    const char* name_;
    bool had_;
    QByteArray old_;
};

class Passwords : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &site(GetParam());
        values::resetStore();
        windows::programLog().clear();
    }
    testsupport::DemoSite* site_ = nullptr;
};

TEST_P(Passwords, LoginDialogCommandLineAndMainWindow) {
    QtLog qtLog;
    QString seen; // every message box, program log and window text of all routes

    // The login dialog's fields, with the settings in a real INI file.
    QTemporaryDir dir;
    const QString ini = dir.filePath(QStringLiteral("Cache Login.conf"));
    for (const QString& password : {kSecret, kWrong}) {
        platform::QSettingsStore settings(ini);
        settings.write(QStringLiteral("Server"), site_->server);
        settings.write(QStringLiteral("Port"), site_->port);
        settings.sync();
        platform::FakeClock clock(QDateTime(kToday, QTime(9, 0), Qt::UTC));
        platform::ScriptedUi ui(&clock);
        srv::MemoryLoginDialog login;
        srv::MemoryServerDialog server(clock);
        srv::resetRecords();
        srv::Session session(srv::SessionServices{
            ui, clock, settings, login, server,
            [] { return std::make_unique<cache::server::ServerFactory>(); }, [] {},
            [] { return QString(); }, [] { return false; }, [](const QString&) {}});
        login.script.push_back([&] {
            login.enterUser(u("geheim"));
            login.setText(srv::LoginField::BPASSWORT, password);
            login.clickAnmelden();
        });
        EXPECT_EQ(session.CacheLogin(), password == kSecret);
        session.Sichern();
        session.CacheDisconnect();
        seen += messagesText(ui.messages());
        QFile f(ini);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_TRUE(bytes.contains("Name=GEHEIM"))
            << bytes.toStdString(); // the file is the one written
        expectClean("settings file", bytes);
        srv::resetRecords();
    }

    // Command line words, right and wrong.
    for (const QString& password : {kSecret, kWrong}) {
        auto env = makeEnv(*site_, u("GEHEIM"), password);
        EXPECT_EQ(env->s().CacheLogin(), password == kSecret);
        seen += messagesText(env->messages()) + env->caption;
        expectClean("memory settings", env->settings.values.values().join(QLatin1Char('\n')));
    }

    // The desktop client started with the password on its command line:
    // start-up, F5, the log window.
    {
        auto env = makeEnv(*site_, u("GEHEIM"), kSecret);
        auto w = startWindow(*env);
        w->mNeuZeichnen->trigger();
        EXPECT_EQ(w->lastFetch().months, 61);
        w->mProgrammverlauf->trigger();
        windows::frmProgrammverlauf* log = windows::frmProgrammverlauf::existing();
        ASSERT_NE(log, nullptr);
        const QString shown = logWindowText(*log);
        EXPECT_TRUE(shown.contains(QStringLiteral("Datenabfrage Periode 12401")));
        seen += shown + programLogText() + messagesText(env->messages()) + w->windowTitle();
        windows::frmProgrammverlauf::shutdown();
        w.reset();
        auto wrong = makeEnv(*site_, u("GEHEIM"), kWrong);
        EXPECT_THROW(startWindow(*wrong), srv::ProgramEnded);
        seen += messagesText(wrong->messages());
        EXPECT_TRUE(messagesText(wrong->messages())
                        .contains(QStringLiteral("Passwort Falsch oder Benutzer nicht Aktiv.")));
    }
    EXPECT_FALSE(seen.isEmpty());
    expectClean("messages, program log, log window, captions", seen);
    expectClean("Qt log", qtLog.text());
}

TEST_P(Passwords, ReportToolOutputsAndMessages) {
    QtLog qtLog;
    reliability::ToolEnv tool;
    const QStringList login{"--server", site_->server, "--port",  site_->port,
                            "--user",   "GEHEIM",      "--today", kToday.toString(Qt::ISODate)};
    const QString csv = tool.path(QStringLiteral("werte.csv"));
    const QString details = tool.path(QStringLiteral("details.csv"));
    const QString svg = tool.path(QStringLiteral("seite.svg"));
    struct Case {
        const char* name;
        QStringList args;
        std::optional<QString> envPassword;
        int code;
        bool files = false; // --csv, --details, --svg written
    };
    const QStringList outputs{"--csv", csv, "--details", details, "--svg", svg};
    const Case cases[] = {
        {"TALLVERO_PASSWORD, every output", login + outputs, kSecret, 0, true},
        {"--password, JSON to standard output", login + QStringList{"--password", kSecret}, {}, 0},
        {"--password=", login + QStringList{u("--password=") + kSecret}, {}, 0},
        {"wrong password", login, kWrong, 1},
        {"wrong --password", login + QStringList{"--password", kWrong}, {}, 1},
        {"password as a stray word", login + QStringList{kSecret}, kSecret, 2},
        {"password with a blank",
         login + QStringList{"--password", kSecret + u(" ") + kWrong},
         {},
         2},
        {"unknown option with the password",
         login + QStringList{u("--passwort=") + kSecret},
         {},
         2},
        {"help", QStringList{"--help"}, kSecret, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (bool binary : {false, true}) {
            const bool toStdout = c.args.contains(u("--password")) && c.code == 0;
            const QString json = toStdout ? QString() : tool.nextJson();
            QStringList args = c.args;
            if (c.args != QStringList{"--help"}) args << "--json" << (toStdout ? u("-") : json);
            const reliability::ToolRun r =
                binary ? tool.binary(args, json, tool.environment(c.envPassword))
                       : tool.inProcess(args, json, c.envPassword);
            EXPECT_EQ(r.code, c.code) << r.err.toStdString();
            if (c.code == 0 && c.args != QStringList{"--help"}) {
                const QByteArray doc = toStdout ? r.out.toUtf8() : r.json;
                EXPECT_EQ(QJsonDocument::fromJson(doc)
                              .object()
                              .value(QStringLiteral("user"))
                              .toObject()
                              .value(QStringLiteral("code"))
                              .toString(),
                          u("GEHEIM"));
                expectClean("JSON", doc);
            }
            if (c.code == 1) {
                EXPECT_TRUE(r.err.contains(QStringLiteral("Passwort Falsch")));
            }
            expectClean("standard output", r.out);
            expectClean("standard error", r.err);
            expectClean("JSON file", r.json);
            if (c.files) {
                for (const QString& f : {csv, details, svg}) {
                    const QByteArray bytes = reliability::ToolEnv::readFile(f);
                    EXPECT_FALSE(bytes.isEmpty()) << f.toStdString();
                    expectClean("output file", bytes);
                }
            }
        }
    }
    expectClean("Qt log", qtLog.text());
}

INSTANTIATE_TEST_SUITE_P(Engines, Restricted,
                         ::testing::Values(TestEngine::Sqlite, TestEngine::Postgres),
                         [](const ::testing::TestParamInfo<TestEngine>& i) {
                             return testsupport::engineName(i.param);
                         });
INSTANTIATE_TEST_SUITE_P(Engines, Passwords,
                         ::testing::Values(TestEngine::Sqlite, TestEngine::Postgres),
                         [](const ::testing::TestParamInfo<TestEngine>& i) {
                             return testsupport::engineName(i.param);
                         });

// A PostgreSQL server that cannot be reached, with the database password
// in PGPASSWORD the libpq way: the errors say why, never the password.
TEST(PasswordsOnConnect, FailedConnectsDoNotShowThePassword) {
    QtLog qtLog;
    const ScopedEnv pgPassword("PGPASSWORD", kSecret.toUtf8());
    const QString refused = cache::makeConnectString(u("127.0.0.1"), u("1"));
    QString seen;

    cache::server::DatabaseTarget t;
    t.engine = cache::server::Engine::Postgres;
    t.host = u("127.0.0.1");
    t.port = 1;
    t.database = u("zorvek");
    try {
        cache::server::Database d(t);
        ADD_FAILURE() << "connected to port 1";
    } catch (const cache::CacheError& e) {
        EXPECT_EQ(e.number(), cache::err::NotConnected);
        EXPECT_TRUE(e.description().contains(QStringLiteral("nicht möglich")));
        seen += e.description() + QString::fromUtf8(e.what());
    }
    cache::server::ServerFactory f;
    EXPECT_FALSE(f.connect(refused));
    EXPECT_FALSE(f.lastConnectError().isEmpty());
    seen += f.lastConnectError();

    // The client's login: three attempts, the settings dialog, the end.
    {
        testenv::Env env([] { return std::make_unique<cache::server::ServerFactory>(); });
        env.commandLine = u("1 0 GEHEIM ") + kSecret + u(" 127.0.0.1 1");
        // What the settings dialog shows after the third attempt.
        env.server.script.push_back([&] {
            for (srv::ServerField field :
                 {srv::ServerField::BWJ, srv::ServerField::BNAMESPACE, srv::ServerField::BFIRMA,
                  srv::ServerField::BFIL, srv::ServerField::BSERVERIP, srv::ServerField::BPORT})
                seen += env.server.text(field) + QLatin1Char('\n');
            seen += env.s().factory()->lastConnectError();
            env.server.clickZurück();
        });
        EXPECT_THROW(env.s().CacheLogin(), srv::ProgramEnded);
        EXPECT_EQ(env.server.modalShows, 1);
        seen += messagesText(env.messages());
        EXPECT_TRUE(messagesText(env.messages())
                        .contains(QStringLiteral("Der Server ist nicht erreichbar!")));
    }
    // A live cluster, a database that does not exist.
    std::string why;
    if (testsupport::engineAvailable(TestEngine::Postgres, &why)) {
        const QString v = qEnvironmentVariable("TALLVERO_TEST_PG");
        t.host = v.section(QLatin1Char(':'), 0, 0);
        t.port = v.section(QLatin1Char(':'), 1).toInt();
        t.database = u("gibt_es_nicht");
        try {
            cache::server::Database d(t);
            ADD_FAILURE() << "connected to a database that does not exist";
        } catch (const cache::CacheError& e) {
            EXPECT_TRUE(e.description().contains(QStringLiteral("nicht möglich")));
            seen += e.description();
        }
    }
    EXPECT_TRUE(qtLog.text().contains(QStringLiteral("connection attempt failed")));
    seen += qtLog.text();
    expectClean("connection errors and Qt log", seen);

    // The binary, with both passwords in its environment.
    reliability::ToolEnv tool;
    QProcessEnvironment env = tool.environment(kSecret);
    env.insert(QStringLiteral("PGPASSWORD"), kSecret);
    const reliability::ToolRun r = tool.binary(
        {"--server", "127.0.0.1", "--port", "1", "--user", "GEHEIM", "--json", "-"}, {}, env);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(QStringLiteral("Der Server ist nicht erreichbar!")))
        << r.err.toStdString();
    expectClean("standard error", r.err);
    expectClean("standard output", r.out);
}

// --- TLS the libpq way --------------------------------------------------------

TEST(PostgresTls, SslModeFromTheEnvironmentReachesTheServer) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    const cache::server::DatabaseTarget t = s.db->target;
    bool serverHasTls = false;
    {
        auto d = s.db->open();
        serverHasTls = d->scalar(QStringLiteral("SELECT current_setting('ssl')")).toString() ==
                       QLatin1String("on");
    }
    {
        const ScopedEnv mode("PGSSLMODE", "disable");
        cache::server::Database d(t);
        EXPECT_EQ(d.scalar(QStringLiteral("SELECT COUNT(*) FROM sales_line")).toLongLong(), 4000);
    }
    if (serverHasTls) GTEST_SKIP() << "the test cluster runs with TLS";
    {
        const ScopedEnv mode("PGSSLMODE", "require");
        QElapsedTimer clock;
        clock.start();
        try {
            cache::server::Database d(t);
            ADD_FAILURE() << "connected without TLS although it was required";
        } catch (const cache::CacheError& e) {
            EXPECT_EQ(e.number(), cache::err::NotConnected);
            EXPECT_TRUE(e.description().startsWith(QStringLiteral("Verbindung zu PostgreSQL")))
                << e.description().toStdString();
            EXPECT_TRUE(e.description().contains(QStringLiteral("nicht möglich")));
            EXPECT_TRUE(e.description().contains(QStringLiteral("SSL"), Qt::CaseInsensitive))
                << e.description().toStdString();
        }
        EXPECT_LT(clock.elapsed(), 15000);
        // The server component: the connect fails and says why.
        cache::server::ServerFactory f;
        EXPECT_FALSE(f.connect(s.db->connectString));
        EXPECT_TRUE(f.lastConnectError().contains(QStringLiteral("nicht möglich")));
    }
    EXPECT_FALSE(qEnvironmentVariableIsSet("PGSSLMODE") &&
                 qgetenv("PGSSLMODE") == QByteArrayLiteral("require"));
    // Afterwards the old environment connects again.
    cache::server::Database again(t);
    EXPECT_TRUE(again.isOpen());
}

} // namespace
