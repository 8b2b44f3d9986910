// What a restricted user can see, on SQLite and PostgreSQL: through the
// main window's lists and F5, the extended selection, the details pane and
// the headless tool, the figures are those of the user's own department
// (or main department) straight from the sales lines, or the request is
// refused in German. Passwords never show: not in the program log or its
// window, Qt's log, message boxes, the tool's output and files, connection
// errors or the settings file. And libpq's TLS setting reaches the server.

#include "platform/cache/server/Security.h"

#include "ReliabilityHelpers.h"
#include "main_window/FMStart.h"
#include "main_window/Rules.h"
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
#include <QSqlRecord>
#include <QTest>
#include <QThread>
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

// The address of the test cluster, and a connection to its maintenance
// database as the superuser.
cache::server::DatabaseTarget clusterTarget() {
    const QString v = qEnvironmentVariable("TALLVERO_TEST_PG");
    cache::server::DatabaseTarget t;
    t.engine = cache::server::Engine::Postgres;
    t.host = v.section(QLatin1Char(':'), 0, 0);
    t.port = v.section(QLatin1Char(':'), 1).toInt();
    t.database = u("zorvek");
    return t;
}

// The site's administrator on PostgreSQL, as docs/security.md asks for:
// owns the database and its tables, may create roles, is no superuser.
const cache::server::Login& siteOwner() {
    static const cache::server::Login owner = [] {
        const cache::server::Login l{u("tallvero_site_admin"), u("Verwalter-Kw4&m")};
        cache::server::Database su(clusterTarget());
        su.execDirect(u("DO $$ BEGIN CREATE ROLE tallvero_site_admin LOGIN CREATEROLE; EXCEPTION "
                        "WHEN duplicate_object THEN NULL; END $$"));
        su.execDirect(u("ALTER ROLE tallvero_site_admin PASSWORD '%1'")
                          .arg(su.scramVerifier(l.user, l.password)));
        return l;
    }();
    return owner;
}

// The demo business, made by the site's administrator; GEHEIM with a
// distinctive password; ABTLEITER works in company 1 only; company 3 has
// sales (of department M2) but no login of anyone.
testsupport::DemoSite& site(TestEngine e) {
    return testsupport::demoSite(
        e, QStringLiteral("security"), 4000,
        [](cache::server::Database& d) {
            testsupport::addLogin(d, 1, u("GEHEIM"), kSecret, u("J"), u("Greta Geheim"), u("1001"),
                                  u("B0"));
            d.exec(
                 QStringLiteral("INSERT INTO berechtigung (benutzer, programm, teil, stufe) VALUES "
                                "('GEHEIM', 'Tallvero', 'alles', 1)"))
                .finish();
            d.exec(u("DELETE FROM pers_edv WHERE firma = 2 AND code = 'ABTLEITER'")).finish();
            d.exec(u("INSERT INTO firma (firma, name) VALUES (3, 'Fremd GmbH')")).finish();
            cache::server::Store st(d);
            cache::server::SalesLine l;
            l.datum = 20240110;
            l.firma = 3;
            const char* codes[] = {"1", "10", "M2", "30", "3001", "P", "L", "01", "L"};
            for (int i = 0; i < 9; ++i)
                l.codes[i] = u(codes[i]);
            l.umsatz = 12345600;
            l.kosten = 10000000;
            st.appendSales({l});
            st.generate(3, 12401, 12401);
        },
        e == TestEngine::Postgres ? &siteOwner() : nullptr);
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

// --- PostgreSQL: what each role reads, whatever program it connects with ----

// Every table and view of the schema, from the catalog, so that tables
// added later are covered too.
QStringList schemaRelations(cache::server::Database& admin) {
    QStringList out;
    QSqlQuery& q = admin.exec(
        u("SELECT c.relname FROM pg_class c JOIN pg_namespace n ON n.oid = c.relnamespace WHERE "
          "n.nspname = current_schema() AND c.relkind IN ('r', 'v', 'm', 'p', 'f') ORDER BY 1"));
    while (q.next())
        out << q.value(0).toString();
    q.finish();
    return out;
}

struct Seen {
    bool denied = false;
    QStringList columns;
    QList<QStringList> rows;
    int column(const char* name) const { return int(columns.indexOf(QLatin1String(name))); }
};

// Everything a connection reads of a relation with plain SQL.
Seen readAll(cache::server::Database& as, const QString& relation) {
    Seen s;
    try {
        QSqlQuery& q = as.exec(u("SELECT * FROM ") + relation);
        const QSqlRecord rec = q.record();
        for (int i = 0; i < rec.count(); ++i)
            s.columns << rec.fieldName(i);
        while (q.next()) {
            QStringList row;
            for (int i = 0; i < rec.count(); ++i)
                row << q.value(i).toString();
            s.rows << row;
        }
        q.finish();
    } catch (const cache::CacheError& e) {
        s.denied = e.description().contains(u("permission denied"));
        EXPECT_TRUE(s.denied) << relation.toStdString() << ": " << e.description().toStdString();
    }
    return s;
}

qint64 revenue(cache::server::Database& admin, qint64 firma, const QStringList& departments) {
    QString sql = u("SELECT COALESCE(SUM(umsatz), 0) FROM sales_line WHERE firma = ?");
    QVariantList binds{firma};
    if (!departments.isEmpty()) {
        sql += u(" AND abtnr IN (%1)").arg(QStringList(departments.size(), u("?")).join(u(",")));
        for (const QString& d : departments)
            binds << d;
    }
    return admin.scalar(sql, binds).toLongLong();
}

const QStringList kPasswords{u("demo"), u("abt"), u("inaktiv"), u("gast"), kSecret};

TEST(PostgresRoles, EachRoleReadsItsOwnScopeOfEveryTableAndNoPassword) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    auto admin = s.db->open();
    const QStringList relations = schemaRelations(*admin);
    ASSERT_GE(relations.size(), 20);
    struct Case {
        const char* user;
        const char* password;
        QList<qint64> companies; // master data
        QList<qint64> figures;   // companies whose figures it reads
        QStringList departments; // empty: all of them
        const char* pnr;
    };
    const Case cases[] = {
        {"ABTLEITER", "abt", {1}, {1}, {u("M2"), u("MA"), u("MF")}, "1002"},
        {"DEMO", "demo", {1, 2}, {1, 2}, {}, "1001"},
        {"GAST", "gast", {1, 2}, {}, {}, "1004"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.user);
        auto as = s.db->openAs({QLatin1String(c.user), QLatin1String(c.password)});
        int readable = 0, figureTables = 0;
        for (const QString& rel : relations) {
            SCOPED_TRACE(rel.toStdString());
            const Seen seen = readAll(*as, rel);
            if (seen.denied) continue;
            ++readable;
            for (const QString& col : seen.columns)
                EXPECT_FALSE(col.contains(u("pass")) || col.contains(u("hash")));
            const int firma = seen.column("firma"), abt = seen.column("abtnr");
            const bool figures = seen.column("umsatz") >= 0;
            QMap<qint64, qint64> sums;
            for (const QStringList& row : seen.rows) {
                for (const QString& cell : row)
                    EXPECT_FALSE(kPasswords.contains(cell) || cell.startsWith(u("$argon2")) ||
                                 cell.startsWith(u("SCRAM-SHA-256$")))
                        << cell.toStdString();
                const qint64 f = firma >= 0 ? row[firma].toLongLong() : 0;
                if (firma >= 0) {
                    EXPECT_TRUE((figures ? c.figures : c.companies).contains(f)) << f;
                }
                if (figures) sums[f] += row[seen.column("umsatz")].toLongLong();
                if (figures && abt >= 0 && !c.departments.isEmpty()) {
                    EXPECT_TRUE(c.departments.contains(row[abt])) << row[abt].toStdString();
                }
                // Personnel records: the user's own only.
                for (const char* own : {"code", "benutzer"})
                    if (seen.column(own) >= 0) {
                        EXPECT_EQ(row[seen.column(own)], QLatin1String(c.user));
                    }
                if (seen.column("pnr") >= 0) {
                    EXPECT_EQ(row[seen.column("pnr")], QLatin1String(c.pnr));
                }
            }
            if (!figures) continue;
            ++figureTables;
            // No table that holds revenue sums to more than the user's
            // departments; a table that keeps the department, or a full
            // user, shows exactly that.
            for (qint64 f : {1, 2, 3}) {
                const qint64 allowed =
                    c.figures.contains(f) ? revenue(*admin, f, c.departments) : 0;
                EXPECT_LE(sums.value(f), allowed) << f;
                if (abt >= 0 || c.departments.isEmpty()) {
                    EXPECT_EQ(sums.value(f), allowed) << f;
                }
            }
        }
        EXPECT_GE(readable, 10);
        EXPECT_GE(figureTables, 9); // 8 sum tables and the sales lines
    }
}

TEST(PostgresRoles, TheServersAnswersAndTheRulesOfARestrictedUser) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    auto admin = s.db->open();
    auto boss = s.db->openAs({u("ABTLEITER"), u("abt")});
    // The total of the own main department (the client shows it) and
    // nothing the client would refuse.
    const qint64 main10 =
        admin->scalar(u("SELECT SUM(umsatz) FROM sales_line WHERE firma = 1 AND habtnr = '10'"))
            .toLongLong();
    struct Call {
        const char* sql;
        std::optional<qint64> revenue; // nothing: refused
    };
    const Call calls[] = {
        {"(tallvero_main_department_sum('psum_org', 1, 0, 99912, ARRAY['', '10', '', '', '', '', "
         "'', '', '']))[1]",
         main10},
        {"(tallvero_main_department_sum('psum_org', 1, 0, 99912, ARRAY['', '20', '', '', '', '', "
         "'', '', '']))[1]",
         0},
        {"(tallvero_main_department_sum('psum_org', 1, 0, 99912, ARRAY['1', '10', '', '', '', '', "
         "'', '', '']))[1]",
         0},
        {"(tallvero_main_department_sum('wsum_org', 1, 0, 99912, ARRAY['', '10', '', '', '', '', "
         "'', '', 'L']))[1]",
         0},
        {"(tallvero_main_department_sum('psum_org', 2, 0, 99912, ARRAY['', '10', '', '', '', '', "
         "'', '', '']))[1]",
         0},
        {"(tallvero_main_department_sum('pers_edv', 1, 0, 99912, ARRAY['', '10', '', '', '', '', "
         "'', '', '']))[1]",
         std::nullopt},
        {"tallvero_permission('DEMO', 'Tallvero', 'alles')", std::nullopt},
        {"tallvero_permission('ABTLEITER', 'Tallvero', 'alles')", 5},
        {"tallvero_admin_login('ABTLEITER', '')", std::nullopt},
        {"count(*) FROM tallvero_logins()", std::nullopt},
    };
    for (const Call& c : calls) {
        SCOPED_TRACE(c.sql);
        try {
            const qint64 v = boss->scalar(u("SELECT ") + QLatin1String(c.sql)).toLongLong();
            ASSERT_TRUE(c.revenue.has_value()) << "answered " << v;
            EXPECT_EQ(v, *c.revenue);
        } catch (const cache::CacheError& e) {
            EXPECT_FALSE(c.revenue.has_value()) << e.description().toStdString();
        }
    }

    // The department rules, kept by the server as the client keeps them:
    // the departments whose figures the own department reads.
    QStringList all;
    QSqlQuery& q =
        admin->exec(u("SELECT DISTINCT abtnr FROM psum_full WHERE firma = 1 ORDER BY 1"));
    while (q.next())
        all << q.value(0).toString();
    q.finish();
    ASSERT_GE(all.size(), 15);
    struct Restore {
        cache::server::Database& d;
        ~Restore() {
            d.exec(u("UPDATE pers_edv SET abtnr = 'M2' WHERE firma = 1 AND code = 'ABTLEITER'"))
                .finish();
        }
    } restore{*admin};
    for (const char* own :
         {"B0", "B1", "B2", "M1", "M2", "M3", "M4", "M5", "M6", "M7", "M8", "M9", "MA", "42"}) {
        SCOPED_TRACE(own);
        admin
            ->exec(u("UPDATE pers_edv SET abtnr = ? WHERE firma = 1 AND code = 'ABTLEITER'"),
                   {QLatin1String(own)})
            .finish();
        QStringList expected, seen;
        for (const QString& d : all)
            if (mw::departmentAllowed(QLatin1String(own), d)) expected << d;
        QSqlQuery& r =
            boss->exec(u("SELECT DISTINCT abtnr FROM psum_full WHERE firma = 1 ORDER BY 1"));
        while (r.next())
            seen << r.value(0).toString();
        r.finish();
        EXPECT_EQ(seen, expected);
    }
}

// Scoped environment of libpq for one connection or login.
struct PgEnv {
    std::vector<std::unique_ptr<ScopedEnv>> vars;
    PgEnv& set(const char* name, const QByteArray& value) {
        vars.push_back(std::make_unique<ScopedEnv>(name, value));
        return *this;
    }
};

TEST(PostgresRoles, TheGateReadsItsThreeThingsAndNothingElse) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    auto admin = s.db->open();
    std::unique_ptr<cache::server::Database> gate;
    {
        PgEnv env;
        env.set("PGUSER", "tallvero_gate");
        gate = s.db->open();
    }
    for (const QString& rel : schemaRelations(*admin)) {
        SCOPED_TRACE(rel.toStdString());
        EXPECT_TRUE(readAll(*gate, rel).denied);
    }
    // Of every function in the schema, the gate may run these three.
    QStringList callable;
    QSqlQuery& q = admin->exec(
        u("SELECT p.proname FROM pg_proc p JOIN pg_namespace n ON n.oid = p.pronamespace WHERE "
          "n.nspname = current_schema() AND has_function_privilege('tallvero_gate', p.oid, "
          "'EXECUTE') ORDER BY 1"));
    while (q.next())
        callable << q.value(0).toString();
    q.finish();
    EXPECT_EQ(callable, (QStringList{u("tallvero_build_info"), u("tallvero_fiscal_year"),
                                     u("tallvero_login_exists")}));
    EXPECT_EQ(gate->scalar(u("SELECT tallvero_fiscal_year()")).toString(), u("03"));
    EXPECT_EQ(gate->scalar(u("SELECT tallvero_build_info()")).toString(),
              admin->scalar(u("SELECT value FROM server_info WHERE key = 'XWGDAT'")).toString());
    EXPECT_TRUE(gate->scalar(u("SELECT tallvero_login_exists(1, 'DEMO')")).toBool());
    EXPECT_FALSE(gate->scalar(u("SELECT tallvero_login_exists(2, 'ABTLEITER')")).toBool());
}

// Which roles the client's server processes run as, seen by the server
// (a closed connection's process may take a moment to go).
QStringList clientRoles(cache::server::Database& admin, const QStringList& expected) {
    QStringList out;
    for (int i = 0; i < 100; ++i) {
        out.clear();
        QSqlQuery& q =
            admin.exec(u("SELECT DISTINCT usename::text FROM pg_stat_activity WHERE "
                         "datname = current_database() AND pid <> pg_backend_pid() AND "
                         "usename NOT IN ('tallvero', 'tallvero_site_admin') ORDER BY 1"));
        while (q.next())
            out << q.value(0).toString();
        q.finish();
        if (out == expected) break;
        QThread::msleep(20);
    }
    return out;
}

TEST(PostgresRoles, TheDemoLoginsThroughTheClientAndItsReconnects) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    auto admin = s.db->open();
    PgEnv gateEnv;
    gateEnv.set("PGUSER", "tallvero_gate"); // before a login: the gate
    struct Case {
        const char* user;
        const char* password;
        std::optional<int> level; // nothing: "Passwort Falsch oder Benutzer nicht Aktiv."
    };
    const Case cases[] = {
        {"DEMO", "demo", 1},
        {"DEMO", "Demo", std::nullopt},
        {"DEMO", "", std::nullopt},
        {"ABTLEITER", "abt", 5},
        {"GAST", "gast", -1},
        {"INAKTIV", "inaktiv", std::nullopt},
        {"INAKTIV", "x", std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.user) + "/" + c.password);
        auto env = makeEnv(s, QLatin1String(c.user), QLatin1String(c.password));
        // The gate reads the fiscal year before anything else.
        bool failed = false;
        srv::connectionSettings().CommandLine = env->commandLine;
        env->s().LoadConnection();
        EXPECT_EQ(env->s().DBCall(u("S P0=$P(^FA(0),\"`\",2) W P0"), failed), u("03"));
        EXPECT_EQ(clientRoles(*admin, {u("tallvero_gate")}), QStringList{u("tallvero_gate")});
        const bool in = env->s().CacheLogin();
        EXPECT_EQ(in, c.level.has_value());
        if (!c.level) {
            EXPECT_EQ(env->messages(), (QList<RecordedMessage>{
                                           testenv::wrongPassword(env->messages().value(0).atMs)}));
            EXPECT_EQ(clientRoles(*admin, {u("tallvero_gate")}), QStringList{u("tallvero_gate")});
            env->s().CacheDisconnect();
            continue;
        }
        EXPECT_TRUE(env->messages().isEmpty());
        EXPECT_EQ(env->s().CheckPermission(), *c.level);
        const QStringList user{QLatin1String(c.user)};
        EXPECT_EQ(clientRoles(*admin, user), user);
        // A minute without server work closes the link; the next request
        // logs in as the same user again, without asking.
        env->clock.advance(61000);
        EXPECT_EQ(clientRoles(*admin, {}), QStringList());
        EXPECT_EQ(env->s().DBCall(u("S P0=$P(^FA(0),\"`\",2) W P0"), failed), u("03"));
        EXPECT_FALSE(failed);
        EXPECT_EQ(clientRoles(*admin, user), user);
        EXPECT_TRUE(srv::userContext().Passwort.isEmpty()); // kept once, by the session
        env->s().CacheDisconnect();
    }
}

TEST(PostgresRoles, TheAdminToolKeepsTheRolesInStepWithTheLogins) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u("PGUSER"), siteOwner().user);
    env.insert(u("PGPASSWORD"), siteOwner().password);
    env.insert(u("TALLVERO_PG_DATABASE"), s.db->target.database);
    auto tool = [&](const QStringList& args, const QByteArray& input = {}) {
        QProcess p;
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(TALLVERO_DB_BIN),
                QStringList{u("--server"), s.server, u("--port"), s.port} + args);
        p.write(input);
        p.closeWriteChannel();
        p.waitForFinished(60000);
        const QString out = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        expectClean("tallvero-db", out);
        return std::make_pair(p.exitCode(), out);
    };
    auto connects = [&](const QString& password) {
        try {
            s.db->openAs({u("SPERRE"), password});
            return QString();
        } catch (const cache::CacheError& e) {
            return e.description();
        }
    };
    struct Step {
        QStringList args;
        QByteArray input;
        int code;
        const char* password; // then: connects with it, and not with kWrong
        const char* refusal;  // or: refused with this German reason
    };
    const QByteArray secret = kSecret.toUtf8() + '\n';
    const Step steps[] = {
        {{u("user"), u("add"), u("sperre"), u("--name"), u("Siegfried Sperre"), u("--pnr"),
          u("1009"), u("--abt"), u("M8")},
         kWrong.toUtf8() + '\n',
         0,
         "",
         nullptr},
        {{u("user"), u("password"), u("SPERRE"), u("--password"), kSecret}, {}, 2, "", nullptr},
        {{u("user"), u("password"), u("SPERRE")}, secret, 0, "", nullptr},
        {{u("user"), u("deactivate"), u("SPERRE")}, {}, 0, nullptr, "nicht aktiv"},
        {{u("user"), u("activate"), u("SPERRE")}, {}, 0, "", nullptr},
        {{u("info")}, {}, 0, "", nullptr},
    };
    QString secretNow = kWrong;
    for (const Step& st : steps) {
        SCOPED_TRACE(st.args.join(u(" ")).toStdString());
        const auto [code, out] = tool(st.args, st.input);
        EXPECT_EQ(code, st.code) << out.toStdString();
        if (st.args.contains(u("--password"))) {
            EXPECT_TRUE(out.contains(u("Prozessliste"))) << out.toStdString();
        }
        if (st.input == secret) secretNow = kSecret;
        if (st.refusal) {
            EXPECT_TRUE(connects(secretNow).contains(QLatin1String(st.refusal)))
                << connects(secretNow).toStdString();
        } else {
            EXPECT_EQ(connects(secretNow), QString());
            EXPECT_TRUE(connects(secretNow == kSecret ? kWrong : kSecret).contains(u("abgelehnt")));
        }
    }
}

// --- TLS --------------------------------------------------------------------

// The test cluster is set up as docs/security.md tells a site: hostssl
// with scram-sha-256 only, and every client with PGSSLMODE=verify-full and
// the site's authority in PGSSLROOTCERT (scripts/with-pg.sh).
TEST(PostgresTls, VerifyFullWorksWithTheSitesAuthorityAndRefusesOthersInGerman) {
    REQUIRE_ENGINE(TestEngine::Postgres);
    const QString dir = qEnvironmentVariable("TALLVERO_TEST_PG_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "no cluster of scripts/with-pg.sh";
    testsupport::DemoSite& s = site(TestEngine::Postgres);
    EXPECT_EQ(qgetenv("PGSSLMODE"), QByteArray("verify-full"));
    struct Case {
        const char* name;
        const char* sslmode;
        QString rootcert;
        const char* host;
        const char* reason; // nullptr: connects, encrypted
    };
    const Case cases[] = {
        {"the site's authority", "verify-full", dir + u("/tls/ca.crt"), "127.0.0.1", nullptr},
        {"another authority", "verify-full", dir + u("/tls/other-ca.crt"), "127.0.0.1",
         "nicht von der vertrauenswürdigen Zertifizierungsstelle"},
        {"a host name the certificate is not for", "verify-full", dir + u("/tls/ca.crt"),
         "localhost", "gilt nicht für den Rechnernamen „localhost“"},
        {"no authority file", "verify-full", dir + u("/tls/fehlt.crt"), "127.0.0.1",
         "Datei der Zertifizierungsstelle"},
        {"without TLS", "disable", dir + u("/tls/ca.crt"), "127.0.0.1",
         "nur verschlüsselte Verbindungen"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        PgEnv env;
        env.set("PGSSLMODE", c.sslmode).set("PGSSLROOTCERT", c.rootcert.toUtf8());
        cache::server::DatabaseTarget t = s.db->target;
        t.host = QLatin1String(c.host);
        try {
            cache::server::Database d(t);
            EXPECT_EQ(c.reason, nullptr) << "connected";
            EXPECT_TRUE(
                d.scalar(u("SELECT ssl FROM pg_stat_ssl WHERE pid = pg_backend_pid()")).toBool());
        } catch (const cache::CacheError& e) {
            ASSERT_NE(c.reason, nullptr) << e.description().toStdString();
            EXPECT_TRUE(e.description().contains(QString::fromUtf8(c.reason)))
                << e.description().toStdString();
        }
    }
    // What the user reads: the client's settings dialog after three
    // attempts, and the report tool's message.
    {
        PgEnv other;
        other.set("PGSSLROOTCERT", (dir + u("/tls/other-ca.crt")).toUtf8());
        auto env = makeEnv(s, u("DEMO"), u("demo"));
        QString shown;
        env->server.script.push_back([&] {
            shown = env->server.connectError();
            env->server.clickZurück();
        });
        EXPECT_THROW(env->s().CacheLogin(), srv::ProgramEnded);
        EXPECT_TRUE(shown.contains(u("nicht von der vertrauenswürdigen Zertifizierungsstelle")))
            << shown.toStdString();
    }
    reliability::ToolEnv tool;
    const reliability::ToolRun r =
        tool.binary({"--server", "localhost", "--port", s.port, "--user", "DEMO", "--json", "-"},
                    {}, tool.environment(u("demo")));
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.contains(u("gilt nicht für den Rechnernamen „localhost“")))
        << r.err.toStdString();
}

// --- SQLite: the user's own file ---------------------------------------------

QByteArray fileBytes(const QString& path) {
    QByteArray all;
    for (const char* suffix : {"", "-wal"}) {
        QFile f(path + QLatin1String(suffix));
        if (f.open(QIODevice::ReadOnly)) all += f.readAll();
    }
    return all;
}

bool ownerOnly(const QString& path) {
    const QFileDevice::Permissions p = QFile::permissions(path);
    return (p & (QFileDevice::ReadOwner | QFileDevice::WriteOwner)) ==
               (QFileDevice::ReadOwner | QFileDevice::WriteOwner) &&
           !(p & (QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ReadOther |
                  QFileDevice::WriteOther | QFileDevice::ExeOwner));
}

TEST(SqlitePasswords, HashedConvertedOnOpeningAndReadableByTheOwnerOnly) {
    testsupport::DemoSite& s = site(TestEngine::Sqlite);
    const QString path = s.db->target.sqlitePath;
    EXPECT_TRUE(ownerOnly(path));
    // An old file: plain passwords in the login records.
    const QString old = u("Alt-Klartext#5");
    {
        auto d = s.db->open();
        d->exec(u("UPDATE pers_edv SET passwort = ? WHERE firma = 1 AND code = 'GAST'"), {old})
            .finish();
        d->execDirect(u("PRAGMA wal_checkpoint(TRUNCATE)"));
    }
    EXPECT_TRUE(fileBytes(path).contains(old.toUtf8()));
    // The first opening converts it; the login goes on as before.
    {
        auto env = makeEnv(s, u("GAST"), old);
        EXPECT_TRUE(env->s().CacheLogin());
        env->s().CacheDisconnect();
    }
    const QByteArray bytes = fileBytes(path);
    for (const QString& p : {old, kSecret})
        EXPECT_FALSE(bytes.contains(p.toUtf8()));
    {
        auto d = s.db->open();
        QSqlQuery& q = d->exec(u("SELECT passwort FROM pers_edv"));
        int rows = 0;
        while (q.next()) {
            ++rows;
            EXPECT_TRUE(cache::server::isPasswordHash(q.value(0).toString()));
        }
        q.finish();
        EXPECT_GE(rows, 8);
    }
    for (const auto& [password, in] : {std::pair{old, true}, {u("alt-klartext#5"), false}}) {
        auto env = makeEnv(s, u("GAST"), password);
        EXPECT_EQ(env->s().CacheLogin(), in);
    }
    // The per-user file is put back to its owner alone.
    QTemporaryDir dir;
    cache::server::DatabaseTarget t;
    t.sqlitePath = dir.filePath(u("zorvek.sqlite"));
    t.embedded = true;
    {
        QFile f(t.sqlitePath);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    }
    EXPECT_FALSE(ownerOnly(t.sqlitePath));
    cache::server::Database d(t);
    EXPECT_TRUE(ownerOnly(t.sqlitePath));
}

} // namespace
