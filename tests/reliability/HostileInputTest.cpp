// Hostile selection codes and free text through every path that takes them
// to the server, on SQLite and PostgreSQL: the period query (plain and
// extended), the detail split query, the main window's lists and extended
// selection, the rebuild, the login and the session line, and the headless
// tool. Nothing crashes or throws, the answer is a clear German error or
// zero, the database is unchanged, and a hostile code never matches the
// rows of another code.

#include "ReliabilityHelpers.h"
#include "main_window/FMStart.h"
#include "main_window/Rules.h"
#include "platform/cache/server/ServerFactory.h"
#include "retrieval/DetailQuery.h"
#include "retrieval/FrmNeueDaten.h"
#include "retrieval/PeriodQuery.h"
#include "server/SessionEnv.h"
#include "support/DemoSite.h"
#include "values/ValueStore.h"
#include "windows/ProgramLog.h"

#include <QComboBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLocale>
#include <QPrinter>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <tuple>

using platform::RecordedMessage;
using reliability::Money;
using testsupport::TestEngine;

namespace {

struct Hostile {
    const char* name;
    QString text;
    // The company field reads a leading number: these texts read as 1.
    bool readsAsCompanyOne = false;
};

QString u(const char* s) {
    return QString::fromUtf8(s);
}

const QList<Hostile>& hostileTexts() {
    static const QList<Hostile> all = {
        {"single quote", u("'")},
        {"double quote", u("\"")},
        {"quoted existing code", u("\"20\"")},
        {"backquote", u("`")},
        {"code, backquote, code", u("20`2001")},
        {"row separator", QString(QChar(0xFF))},
        {"or true", u("1' OR '1'='1"), true},
        {"drop table", u("1; DROP TABLE sales_line; --"), true},
        {"percent", u("%")},
        {"underscore", u("_")},
        {"star", u("*")},
        {"100000 characters", QString(100000, QLatin1Char('x'))},
        {"nul", QString(QChar(0))},
        {"code and nul", u("20") + QChar(0)},
        {"carriage return", u("\r")},
        {"line feed", u("\n")},
        {"tab", u("\t")},
        {"escape", u("\x1b[2J")},
        {"control characters around a code", u("\t20\r\n")},
        {"invalid utf-8", QString::fromUtf8(QByteArray("\xC3\x28\xA0\xA1\xFF\xFE\xED\xA0\x80", 9))},
        {"umlauts", u("ÄÖÜäöüß§")},
        {"blanks around a code", u(" 20 ")},
        {"leading blank", u(" M2")},
        {"trailing blank", u("M2 ")},
        {"lower case code", u("m2")},
        {"negative", u("-1")},
        {"huge", u("99999999999999999999")},
        {"leading zero", u("020")},
        {"decimal", u("20.0")},
        {"signed", u("+20")},
    };
    return all;
}

// The columns of the sales lines, by the field of retrieval::Selection.
struct Field {
    const char* name;
    QString retrieval::Selection::*member;
    const char* column;
};
const Field kPlainFields[] = {
    {"hgrp", &retrieval::Selection::hgrp, "hgrp"},
    {"ugrp", &retrieval::Selection::ugrp, "ugrp"},
    {"pc", &retrieval::Selection::pc, "pcnr"},
    {"habt", &retrieval::Selection::habt, "habtnr"},
    {"abt", &retrieval::Selection::abt, "abtnr"},
    {"pg", &retrieval::Selection::pg, "hkgrp"},
    {"hvart", &retrieval::Selection::hvart, "hvart"},
};
const Field kExtendedOnly[] = {
    {"vart", &retrieval::Selection::vart, "vart"},
    {"styp", &retrieval::Selection::styp, "styp"},
};

std::string show(const QString& s, int length = 40) {
    QString t = s.left(length);
    for (QChar& c : t)
        if (c.unicode() < 32 && c != QLatin1Char('\n')) c = QLatin1Char('?');
    return t.toStdString() + (s.size() > length ? "..." : "");
}

// The access error report, or another German message box of the client.
bool germanError(const RecordedMessage& m) {
    return (m.title == QStringLiteral("Caché Zugriffsfehler") &&
            m.text.startsWith(QStringLiteral("Vorgang: ")) &&
            m.text.contains(QStringLiteral("Fehler: "))) ||
           m.title == QStringLiteral("Neu aufzubauende Daten") ||
           m.title == QStringLiteral("Anmeldung an Caché.");
}

// The period query reads the selection afresh for every month; this host
// hands out its selections in turn, so one run tries each of them in
// several months.
struct Host : retrieval::PeriodQueryHost {
    QList<retrieval::Selection> turns;
    QStringList names;        // what each turn tries
    QList<bool> wholeCompany; // the turn reads as company 1 without restriction
    int reads = 0;
    retrieval::Selection readSelection() override { return turns.at(reads++ % turns.size()); }
    bool departmentChosen() const override { return true; }
    void redraw() override {}
    // The turn of month n (1-based).
    std::string nameOfMonth(int n) const {
        return names.value((n - 1) % names.size()).toStdString();
    }
    bool wholeCompanyInMonth(int n) const { return wholeCompany.value((n - 1) % turns.size()); }
};

struct DetailHost : retrieval::DetailQueryHost {
    retrieval::DetailInputs in;
    QStringList list; // every grouping list
    QList<QStringList> rows;
    retrieval::DetailInputs readInputs() override { return in; }
    bool departmentChosen() const override { return true; }
    QStringList groupCodes(retrieval::GroupLevel) override { return list; }
    void prepareList(const QStringList&) override { rows.clear(); }
    void addRow(const QStringList& cells) override { rows << cells; }
};

// A login whose code and password hold both kinds of quote.
const QString kQuoteUser = u("O\"NEIL'S");
const QString kQuotePassword = u("x\"y'z");

testsupport::DemoSite& site(TestEngine e) {
    return testsupport::demoSite(
        e, QStringLiteral("hostile"), 3000, [](cache::server::Database& d) {
            testsupport::addLogin(d, 1, kQuoteUser, kQuotePassword, QStringLiteral("J"),
                                  QStringLiteral("Quentin Quote"), QStringLiteral("1001"),
                                  QStringLiteral("M2"));
            d.exec(
                 QStringLiteral("INSERT INTO berechtigung (benutzer, programm, teil, stufe) VALUES "
                                "(?, 'Tallvero', 'alles', 1)"),
                 {kQuoteUser})
                .finish();
        });
}

const QDate kToday(2024, 1, 15); // 61 months: January 2019 up to January 2024

class HostileInput : public ::testing::TestWithParam<TestEngine> {
protected:
    void SetUp() override {
        REQUIRE_ENGINE(GetParam());
        site_ = &site(GetParam());
        values::resetStore();
        windows::programLog().clear();
        auto d = site_->db->open();
        before_ = reliability::fingerprint(*d);
        for (const Field& f : kPlainFields)
            stored_[f.column] = reliability::storedCodes(*d, QLatin1String(f.column));
        for (const Field& f : kExtendedOnly)
            stored_[f.column] = reliability::storedCodes(*d, QLatin1String(f.column));
        for (int n = 1; n <= 61; ++n) {
            const int p = reliability::periodOfSlot(2024, n);
            companyOne_.append(reliability::salesLines(*d, 1, p, p));
        }
    }
    void TearDown() override {
        window.reset();
        env.reset();
        if (!site_) return;
        site_->db->activate();
        auto d = site_->db->open();
        EXPECT_EQ(reliability::fingerprint(*d), before_) << "the database was changed";
    }

    void login(const QString& user = u("DEMO"), const QString& password = u("demo")) {
        window.reset();
        env = std::make_unique<testenv::Env>(
            [this] {
                return std::make_unique<fakes::RecordingFactory>(
                    std::make_unique<cache::server::ServerFactory>(), log);
            },
            QDateTime(kToday, QTime(9, 0), Qt::UTC));
        env->commandLine =
            QStringLiteral("1 0 %1 %2 %3 %4").arg(user, password, site_->server, site_->port);
        ASSERT_TRUE(env->s().CacheLogin());
        env->ui.clearMessages();
    }

    // Every stored month is zero, or the run failed with the access error
    // report and stored zeros only; `companyOne` expects the whole company.
    void expectPeriods(const retrieval::FetchOutcome& o, bool companyOne, const std::string& what,
                       const Host* host = nullptr) {
        SCOPED_TRACE(what);
        const values::Table& P = values::store().PeriodValues;
        if (o.result == retrieval::FetchResult::Done) {
            EXPECT_EQ(o.months, 61);
        } else {
            EXPECT_EQ(o.result, retrieval::FetchResult::Failed);
            ASSERT_FALSE(env->messages().isEmpty());
            EXPECT_TRUE(germanError(env->messages().last())) << show(env->messages().last().text);
        }
        QStringList wrong; // months whose figures are not the expected ones
        for (int n = 1; P.hasCells() && n <= 61; ++n) {
            if (P(n, 1).isEmpty()) continue;
            const bool whole = host ? host->wholeCompanyInMonth(n) : companyOne;
            const Money m = whole ? companyOne_[n - 1] : Money{};
            if (std::abs(P(n, 1).value() - m.umsatz / 100.0) > 0.005 ||
                std::abs(P(n, 2).value() - (m.umsatz - m.kosten) / 100.0) > 0.005)
                wrong << QStringLiteral("%1 (%2): %3")
                             .arg(n)
                             .arg(host ? QString::fromStdString(host->nameOfMonth(n)) : QString())
                             .arg(P(n, 1).value());
        }
        EXPECT_TRUE(wrong.isEmpty())
            << wrong.size() << " months, e.g. " << show(wrong.join(' '), 80);
        for (const RecordedMessage& m : env->messages())
            EXPECT_TRUE(germanError(m)) << show(m.title) << ": " << show(m.text);
    }
    // Exit 2 names the option, exit 1 says in German why, exit 0 holds zeros
    // (or the whole company's figures) for all 61 months.
    void checkToolRun(const reliability::ToolRun& r, const QStringList& options,
                      bool companyTotals = false) {
        SCOPED_TRACE(options.join(QLatin1Char(' ')).toStdString());
        switch (r.code) {
        case 2:
            EXPECT_TRUE(std::any_of(options.begin(), options.end(), [&](const QString& o) {
                return r.err.contains(o);
            })) << show(r.err, 300);
            EXPECT_TRUE(r.json.isEmpty());
            break;
        case 1:
            EXPECT_TRUE(r.err.contains(QStringLiteral("Anmeldung")) ||
                        r.err.contains(QStringLiteral("Zugriffsfehler")) ||
                        r.err.contains(QStringLiteral("Abbruch")))
                << show(r.err, 300);
            break;
        case 0: {
            const QJsonObject j = QJsonDocument::fromJson(r.json).object();
            EXPECT_EQ(
                j.value(QStringLiteral("fetch")).toObject().value(QStringLiteral("months")).toInt(),
                61);
            const QJsonArray pv = j.value(QStringLiteral("PeriodValues")).toArray();
            ASSERT_EQ(pv.size(), 72);
            int wrong = 0;
            for (int n = 1; n <= 61; ++n) {
                const Money m = companyTotals ? companyOne_[n - 1] : Money{};
                const QJsonArray row = pv[n - 1].toArray();
                wrong += std::abs(row[0].toDouble(-1) - m.umsatz / 100.0) > 0.005 ||
                         std::abs(row[1].toDouble(-1) - (m.umsatz - m.kosten) / 100.0) > 0.005;
            }
            EXPECT_EQ(wrong, 0) << "months with other figures";
            break;
        }
        default:
            ADD_FAILURE() << "exit code " << r.code << ": " << show(r.err, 300);
        }
    }
    // The hostile text is no code of that column, so zero is the right answer.
    void expectNotStored(const char* column, const QString& code) {
        EXPECT_FALSE(stored_[column].contains(code)) << column << " " << show(code);
    }

    testsupport::DemoSite* site_ = nullptr;
    fakes::CallLog log;
    std::unique_ptr<testenv::Env> env;
    std::unique_ptr<mw::FMStart> window;
    QByteArray before_;
    std::map<std::string, QSet<QString>> stored_;
    QList<Money> companyOne_;
};

TEST_P(HostileInput, PeriodQueryPlainAndExtendedFindsNothing) {
    login();
    Host host;
    auto run = [&] {
        env->ui.clearMessages();
        host.reads = 0;
        retrieval::FetchOutcome o;
        EXPECT_NO_THROW(
            o = retrieval::runPeriodQuery(env->s(), env->ui, env->clock, values::store(), host));
        return o;
    };
    for (const Hostile& h : hostileTexts()) {
        SCOPED_TRACE(h.name);
        // The plain form, then the extended one: the hostile text in one
        // field at a time, field after field month by month; the plain form
        // tries the company field too.
        for (bool extended : {false, true}) {
            host.turns.clear();
            host.names.clear();
            host.wholeCompany.clear();
            if (!extended) {
                retrieval::Selection firma;
                firma.firma = h.text;
                host.turns << firma;
                host.names << QStringLiteral("firma");
                host.wholeCompany << h.readsAsCompanyOne;
            }
            QList<Field> fields(std::begin(kPlainFields), std::end(kPlainFields));
            if (extended) fields << kExtendedOnly[0] << kExtendedOnly[1];
            for (const Field& f : fields) {
                expectNotStored(f.column, h.text);
                retrieval::Selection sel;
                sel.firma = QStringLiteral("1");
                sel.extended = extended;
                sel.styp = QStringLiteral("L");
                sel.*f.member = h.text;
                host.turns << sel;
                host.names << QLatin1String(f.name);
                host.wholeCompany << false;
            }
            expectPeriods(run(), false, extended ? "extended" : "plain", &host);
        }
    }
}

TEST_P(HostileInput, DetailQuerySkipsHostileCodesAndGroups) {
    login();
    auto d = site_->db->open();
    DetailHost host;
    host.in.clockYear = 2024;
    host.in.yearChoice = 1; // 2023: every real code below has sales
    host.in.splitMask = 1;
    auto run = [&] {
        env->ui.clearMessages();
        retrieval::DetailOutcome o;
        EXPECT_NO_THROW(o = retrieval::runDetailQuery(env->s(), env->ui, host));
        EXPECT_EQ(o.result, retrieval::DetailOutcome::Result::Done);
        return o;
    };
    // The shown revenue and margin of a selection over 2023, from the lines.
    auto row = [&](const QString& group, const reliability::Where& where) {
        const Money m = reliability::salesLines(*d, 1, 12301, 12312, where);
        EXPECT_NE(m.umsatz, 0) << show(group);
        return QStringList{
            group, QLocale().toString(qlonglong(std::nearbyint(m.umsatz / 100.0))),
            QLocale().toString(qlonglong(std::nearbyint((m.umsatz - m.kosten) / 100.0)))};
    };
    for (const Hostile& h : hostileTexts()) {
        SCOPED_TRACE(h.name);
        // A hostile selection code: no row at all, whatever the grouping.
        host.list = {QString(), h.text};
        for (const Field& f : kPlainFields) {
            host.in.sel = {};
            host.in.sel.firma = QStringLiteral("1");
            host.in.sel.*f.member = h.text;
            run();
            EXPECT_TRUE(host.rows.isEmpty()) << f.name;
        }
        // A hostile company field: the total of what its leading number reads as.
        host.in.sel = {};
        host.in.sel.firma = h.text;
        host.in.sel.habt = QStringLiteral("10");
        run();
        if (h.readsAsCompanyOne) {
            EXPECT_EQ(host.rows, (QList<QStringList>{row({}, {{"habtnr", "10"}})}));
        } else {
            EXPECT_TRUE(host.rows.isEmpty());
        }

        // A hostile group code between real ones gives no row; its
        // neighbours are right.
        struct Level {
            const char* name;
            const char* column;
            QString realCode;
            reliability::Where selection;
            std::optional<platform::MsgAnswer> answer;
        };
        const Level levels[] = {
            {"pc", "pcnr", u("1"), {}, platform::MsgAnswer::Yes},
            {"habt", "habtnr", u("10"), {}, platform::MsgAnswer::No},
            {"abt", "abtnr", u("M2"), {{"habtnr", "10"}}, {}},
            {"hgrp", "hgrp", u("30"), {{"abtnr", "M2"}}, {}},
            {"ugrp", "ugrp", u("2001"), {{"hgrp", "20"}}, {}},
        };
        for (const Level& l : levels) {
            host.in.sel = {};
            host.in.sel.firma = QStringLiteral("1");
            for (const auto& [column, value] : l.selection) {
                if (column == QLatin1String("habtnr")) host.in.sel.habt = value;
                if (column == QLatin1String("abtnr")) host.in.sel.abt = value;
                if (column == QLatin1String("hgrp")) host.in.sel.hgrp = value;
            }
            host.list = {QString(), h.text, l.realCode};
            if (l.answer) env->ui.queueAnswer(*l.answer);
            const retrieval::DetailOutcome o = run();
            EXPECT_EQ(o.requests, 3) << l.name;
            reliability::Where real = l.selection;
            real.append({QLatin1String(l.column), l.realCode});
            EXPECT_EQ(host.rows, (QList<QStringList>{row({}, l.selection), row(l.realCode, real)}))
                << l.name;
        }
    }
}

// The main window: hostile entries in every list run the list handlers
// (their cascades ask the server with the code) and F5; the extended
// selection window asks for the shipping types of a hostile main shipping
// type and fetches with hostile article and shipping types.
TEST_P(HostileInput, MainWindowListsAndExtendedSelection) {
    login();
    env->commandLine = QStringLiteral("1 0 DEMO demo %1 %2").arg(site_->server, site_->port);
    window = std::make_unique<mw::FMStart>(mw::FMStartServices{
        .ui = env->ui,
        .clock = env->clock,
        .session = env->s(),
        .screenWidth = [] { return 1152; },
        .openRebuildDialog = [](QWidget*) {},
        .showAbout = [] {},
        .showLog = [](QWidget*) {},
        .processCommandLine = [this] { return env->commandLine; },
        .printDialog = [](QPrinter&, QWidget*) { return std::optional<int>(); },
        .saveFileName = [](const QString&, const QString&, const QString&) { return QString(); },
        .statusObserver = {},
    });
    mw::FMStart* w = window.get();
    EXPECT_NO_THROW(w->Form_Load());
    auto items = [](const QComboBox* c) {
        QStringList out;
        for (int i = 0; i < c->count(); ++i)
            out << c->itemText(i);
        return out;
    };
    // What the window sends for an entry: its first blank-delimited word.
    auto codeOf = [](const QString& h) { return h.section(QLatin1Char(' '), 0, 0); };
    auto pick = [&](QComboBox* list, const QString& text) {
        list->addItem(text);
        EXPECT_NO_THROW(w->setListIndex(list, list->count() - 1));
    };
    auto f5 = [&](const std::string& what) {
        EXPECT_NO_THROW(w->cmdÜbernehmen_Click());
        expectPeriods(w->lastFetch(), false, what);
    };
    for (const Hostile& h : hostileTexts()) {
        SCOPED_TRACE(h.name);
        env->ui.clearMessages();
        const QString entry = h.text + QStringLiteral(" Feindlich");
        const QString code = codeOf(entry);
        // A list sends the first word of its entry: "M2 " is the entry of M2,
        // " 20" no code at all. Those texts never reach the server from here.
        if (code != h.text) continue;
        for (const char* column : {"pcnr", "habtnr", "abtnr", "hgrp", "ugrp", "hvart"})
            expectNotStored(column, code);

        // The cascades: nothing from the server belongs to a hostile code.
        pick(w->SPCNR, entry);
        EXPECT_EQ(items(w->SHABT), QStringList{QString()});
        EXPECT_EQ(items(w->SABTNR), QStringList{QString()});
        pick(w->SHABT, entry);
        EXPECT_EQ(items(w->SABTNR), QStringList{QString()});
        pick(w->SABTNR, entry);
        pick(w->SHGRP, entry);
        EXPECT_TRUE(items(w->SUGRP) == QStringList{QString()} || w->SUGRP->count() == 0)
            << show(items(w->SUGRP).join(QLatin1Char('|')));
        pick(w->SUGRP, entry);
        pick(w->SPG, entry);
        pick(w->SHVArt, entry);
        f5("all lists");

        // The extended window lists the shipping types of the hostile main
        // shipping type: none.
        EXPECT_NO_THROW(w->mAuswahl->trigger());
        ASSERT_TRUE(w->auswahlDetailExists());
        mw::FrmAuswahlDetail* x = w->auswahlDetail();
        EXPECT_EQ(items(x->SVART), QStringList{QString()});
        for (QComboBox* c : {w->SPCNR, w->SHABT, w->SABTNR, w->SHGRP, w->SUGRP, w->SPG, w->SHVArt})
            c->setCurrentIndex(-1);
        pick(x->SVART, entry);
        pick(x->SSTyp, entry);
        f5("extended, shipping and article type");
        x->SVART->setCurrentIndex(-1);
        x->SSTyp->removeItem(x->SSTyp->count() - 1);
        x->SSTyp->setCurrentIndex(0);
        EXPECT_NO_THROW(x->CancelButton_Click());
        EXPECT_FALSE(w->mAuswahl->isChecked());

        // Back to the lists of the start-up.
        for (QComboBox* c : {w->SPCNR, w->SHGRP, w->SPG, w->SHVArt}) {
            const int i = c->findText(entry);
            if (i >= 0) c->removeItem(i);
        }
        w->setListIndex(w->SPCNR, 0);
        w->setListIndex(w->SHABT, 0);
        w->setListIndex(w->SHGRP, 0);
        w->SPG->setCurrentIndex(-1);
        w->SHVArt->setCurrentIndex(-1);
        for (const RecordedMessage& m : env->messages())
            EXPECT_TRUE(germanError(m)) << show(m.title) << ": " << show(m.text);
    }
}

TEST_P(HostileInput, RebuildDialogAndGenerierenRefuse) {
    login();
    auto generieren = [&](const QString& firma, const QString& von, const QString& bis) {
        std::optional<cache::CacheError> error;
        auto call = [&] {
            env->s().DBBegin(false);
            auto h = env->s().factory()->classHandle(QStringLiteral("ZKUmsatz.Daten"));
            try {
                h->call(QStringLiteral("Generieren"), {firma, von, bis});
            } catch (const cache::CacheError& e) {
                error = e;
            }
            env->s().CacheClose(h);
            env->s().DBEnd(false);
        };
        EXPECT_NO_THROW(call());
        return error;
    };
    static const QRegularExpression wholeNumber(QStringLiteral("\\A[0-9]+\\z"));
    for (const Hostile& h : hostileTexts()) {
        SCOPED_TRACE(h.name);
        // The dialog checks its two fields before anything reaches the server.
        for (int field = 0; field < 2; ++field) {
            env->ui.clearMessages();
            log.lines.clear();
            retrieval::FrmNeueDaten dialog(env->s(), env->ui, env->clock);
            dialog.Form_Load();
            (field == 0 ? dialog.edtVon : dialog.edtBis)->setText(h.text);
            EXPECT_NO_THROW(dialog.OKButton_Click());
            EXPECT_EQ(dialog.lastOutcome(), retrieval::FrmNeueDaten::Outcome::Rejected);
            ASSERT_EQ(env->messages().size(), 1);
            EXPECT_EQ(env->messages().first().title, QStringLiteral("Neu aufzubauende Daten"));
            EXPECT_TRUE(env->messages().first().text.contains(QStringLiteral("Periode")));
            EXPECT_FALSE(log.lines.join(QLatin1Char('\n')).contains(QStringLiteral("Generieren")));
        }
        // The server method itself: a hostile period is refused; a hostile
        // company is refused unless it is a whole number, and then the
        // reversed range is.
        for (const auto& [von, bis] :
             {std::pair{h.text, u("12401")}, std::pair{u("12401"), h.text}}) {
            const auto e = generieren(u("1"), von, bis);
            ASSERT_TRUE(e.has_value());
            EXPECT_EQ(e->number(), cache::err::GenerateFailed);
            EXPECT_TRUE(e->description().startsWith(QStringLiteral("Ungültige Periode")))
                << show(e->description());
        }
        const auto e = generieren(h.text, u("12402"), u("12401"));
        ASSERT_TRUE(e.has_value());
        EXPECT_EQ(e->number(), cache::err::GenerateFailed);
        if (wholeNumber.match(h.text.trimmed()).hasMatch())
            EXPECT_TRUE(e->description().startsWith(QStringLiteral("Ungültige Firma")) ||
                        e->description().startsWith(QStringLiteral("Startperiode")))
                << show(e->description());
        else
            EXPECT_TRUE(e->description().startsWith(QStringLiteral("Ungültige Firma")))
                << show(e->description());
    }
}

TEST_P(HostileInput, LoginFieldsSessionLineAndPermission) {
    auto d = site_->db->open();
    QStringList groups;
    {
        QSqlQuery& q =
            d->exec(QStringLiteral("SELECT hgrp FROM hauptgruppe WHERE firma = 1 ORDER BY hgrp"));
        while (q.next())
            groups << q.value(0).toString();
        q.finish();
    }
    // Through the login dialog's fields, with the settings of this site.
    auto dialogLogin = [&](const QString& firma, const QString& code, const QString& password) {
        window.reset();
        env = std::make_unique<testenv::Env>(
            [this] {
                return std::make_unique<fakes::RecordingFactory>(
                    std::make_unique<cache::server::ServerFactory>(), log);
            },
            QDateTime(kToday, QTime(9, 0), Qt::UTC));
        env->settings.values = {{QStringLiteral("Server"), site_->server},
                                {QStringLiteral("Port"), site_->port},
                                {QStringLiteral("Firma"), firma},
                                {QStringLiteral("Filiale"), firma == u("1") ? u("0") : firma}};
        env->login.script.push_back([this, code, password] {
            env->login.setText(srv::LoginField::BUSER, code);
            env->login.setText(srv::LoginField::BPASSWORT, password);
            env->login.clickAnmelden();
        });
        log.lines.clear();
        bool ok = true;
        EXPECT_NO_THROW(ok = env->s().CacheLogin());
        return ok;
    };
    auto expectRefused = [&](bool ok, const char* what) {
        EXPECT_FALSE(ok) << what;
        EXPECT_TRUE(srv::userContext().Benutzer.isEmpty()) << what;
        ASSERT_FALSE(env->messages().isEmpty()) << what;
        for (const RecordedMessage& m : env->messages())
            EXPECT_TRUE(germanError(m)) << what << ": " << show(m.text);
    };
    // The quotes of the code travel doubled, and the server reads them back:
    // the login with both kinds of quote works, in the dialog and on the
    // command line.
    ASSERT_TRUE(dialogLogin(u("1"), kQuoteUser, kQuotePassword));
    EXPECT_EQ(log.xecutes().last(), u("S FIRMA=1,FIL=0,PERSONAL=\"O\"\"NEIL'S\""));
    EXPECT_EQ(srv::userContext().BenutzerName, u("Quentin Quote"));

    // Near misses of the real code, besides the hostile texts; these are
    // tried as personnel codes only ("demo" is the right password).
    QList<Hostile> texts = hostileTexts();
    const qsizetype hostileCount = texts.size();
    for (const char* v : {"DEMO ", " DEMO", "demo", "DEMO'--", "DEMO\" OR \"1\"=\"1",
                          "X\",FIRMA=99,PERSONAL=\"DEMO"})
        texts.append({v, u(v)});
    texts.append({"demo code and nul", u("DEMO") + QChar(0)});
    for (qsizetype i = 0; i < texts.size(); ++i) {
        const Hostile& h = texts[i];
        SCOPED_TRACE(h.name);
        expectRefused(dialogLogin(u("1"), h.text, u("demo")), "code");
        // A new connection tells the server the hostile code, doubled quotes
        // and all; the session keeps company 1.
        env->s().CacheDisconnect();
        env->ui.clearMessages();
        log.lines.clear();
        bool failed = false;
        EXPECT_NO_THROW(env->s().DBCall(QStringLiteral("S P0=^XWGDAT W P0"), failed));
        QString doubled = h.text;
        doubled.replace(QLatin1Char('"'), QStringLiteral("\"\""));
        EXPECT_TRUE(log.xecutes().contains(u("S FIRMA=1,FIL=0,PERSONAL=\"") + doubled + u("\"")));
        // The same line through DBCall.
        failed = false;
        EXPECT_NO_THROW(env->s().DBCall(srv::Session::sessionLine(u("1"), u("0"), h.text), failed));
        if (!failed) {
            QStringList values;
            const std::optional<int> n = env->s().DBCallD(QStringLiteral("d HGRP^ZKCLSU"),
                                                          QString(QChar(0xFF)), values, failed);
            ASSERT_TRUE(n.has_value());
            QStringList codes;
            for (int i = 1; i <= *n; ++i)
                codes << values.value(i).section(QLatin1Char('`'), 0, 0);
            EXPECT_EQ(codes, groups);
        } else {
            ASSERT_FALSE(env->messages().isEmpty());
            EXPECT_TRUE(germanError(env->messages().last()));
        }
        // A hostile user has no right; a hostile program part falls back to
        // the user's "alles". While the failed code stays in the session a
        // line the server cannot read makes every new connection fail, with
        // its syntax error.
        for (const auto& [part, user, level] :
             {std::tuple{QString(), h.text, -1}, std::tuple{h.text, u("DEMO"), 1}}) {
            try {
                EXPECT_EQ(env->s().CheckPermission(part, user), level);
            } catch (const cache::CacheError& e) {
                EXPECT_TRUE(failed);
                EXPECT_EQ(e.number(), cache::err::Syntax) << show(e.description());
            }
        }
        if (i >= hostileCount) continue;

        expectRefused(dialogLogin(u("1"), u("DEMO"), h.text), "password");
        expectRefused(dialogLogin(h.text, u("DEMO"), u("demo")), "company and branch");
        if (!h.text.contains(QLatin1Char(' ')) && !h.text.contains(QLatin1Char('\n'))) {
            // The command line: words at single blanks.
            window.reset();
            env = std::make_unique<testenv::Env>(
                [] { return std::make_unique<cache::server::ServerFactory>(); },
                QDateTime(kToday, QTime(9, 0), Qt::UTC));
            env->commandLine =
                QStringLiteral("1 0 %1 demo %2 %3").arg(h.text, site_->server, site_->port);
            bool ok = true;
            EXPECT_NO_THROW(ok = env->s().CacheLogin());
            expectRefused(ok, "command line");
        }
    }
}

// The tool's options: a usage error naming the option, a refused login,
// or zeros.
TEST_P(HostileInput, ReportToolOptionsInProcess) {
    reliability::ToolEnv tool;
    const QStringList base{
        "--server", site_->server, "--port", site_->port, "--user",
        "DEMO",     "--password",  "demo",   "--today",   kToday.toString(Qt::ISODate)};
    // Each run: the options that carry the hostile text, the ones that go
    // with them. The period query has tried every field on its own above;
    // here the parsing, the names of the page and the login see it.
    struct Run {
        QStringList hostile;
        QStringList with;
        bool companyTotals = false; // no selection: a run shows the whole company
    };
    const Run runs[] = {
        {{"--pc", "--habt", "--abt", "--ug"}, {"--hg", "20"}},
        {{"--hg"}, {"--ug", "2001"}},
        {{"--vart"}, {"--extended"}},
        {{"--hkg"}, {}},
        {{"--hvart"}, {}},
        {{"--firma"}, {}},
        {{"--filiale"}, {}, true},
        {{"--user"}, {}},
        {{"--password"}, {}},
    };
    for (const Hostile& h : hostileTexts()) {
        SCOPED_TRACE(h.name);
        for (const Run& run : runs) {
            QStringList args = base + run.with;
            for (const QString& o : run.hostile)
                args << o << h.text;
            const QString json = tool.nextJson();
            checkToolRun(tool.inProcess(args + QStringList{"--json", json}, json), run.hostile,
                         run.companyTotals);
        }
    }
}

// Through the binary: raw bytes that are no UTF-8 on the command line, and
// the worst of the texts (a NUL cannot travel in an argument).
TEST_P(HostileInput, ReportToolBinaryWithRawBytes) {
    reliability::ToolEnv tool;
    const QStringList base{"--server", site_->server, "--port",  site_->port,
                           "--user",   "DEMO",        "--today", kToday.toString(Qt::ISODate)};
    const QProcessEnvironment env = tool.environment(u("demo"));
    for (const char* bytes :
         {"\\377\\376", "M2\\377", "\\300\\257", "\\355\\240\\200", "\\303", "20\\033[2J"}) {
        for (const char* option : {"--hg", "--abt", "--user"}) {
            SCOPED_TRACE(std::string(option) + " " + bytes);
            const QString json = tool.nextJson();
            const QString script =
                QStringLiteral("exec \"$0\" \"$@\" %1 \"$(printf '%2')\" --json '%3'")
                    .arg(QLatin1String(option), QLatin1String(bytes), json);
            checkToolRun(tool.binary(base, json, env, script), {QLatin1String(option)});
        }
    }
    for (const QString& text : {u("1' OR '1'='1"), u("1; DROP TABLE sales_line; --"), u("'"),
                                u("\""), u("%"), QString(100000, QLatin1Char('x'))}) {
        SCOPED_TRACE(show(text));
        for (const char* option : {"--hg", "--abt"}) {
            const QString json = tool.nextJson();
            checkToolRun(
                tool.binary(base + QStringList{QLatin1String(option), text, "--json", json}, json,
                            env),
                {QLatin1String(option)});
        }
    }
}

TEST(HostileRules, NoHostileDepartmentIsAllowed) {
    for (const Hostile& h : hostileTexts()) {
        for (const char* own : {"M2", "B0", "M5", "B1"})
            EXPECT_FALSE(mw::departmentAllowed(QLatin1String(own), h.text)) << own << " " << h.name;
    }
}

std::string engineParamName(const ::testing::TestParamInfo<TestEngine>& i) {
    return testsupport::engineName(i.param);
}

INSTANTIATE_TEST_SUITE_P(Engines, HostileInput,
                         ::testing::Values(TestEngine::Sqlite, TestEngine::Postgres),
                         engineParamName);

} // namespace
