#include "ReportTool.h"

#include "main_window/ReportBook.h"
#include "main_window/Selection.h"
#include "main_window/Startup.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/clock/FakeClock.h"
#include "platform/print/DisplayList.h"
#include "platform/print/Export.h"
#include "platform/print/RecordingSurface.h"
#include "platform/ui/Ui.h"
#include "report/Page.h"
#include "retrieval/DetailQuery.h"
#include "retrieval/PeriodQuery.h"
#include "server/MemoryDialogs.h"
#include "server/Records.h"
#include "server/Text.h"
#include "values/ValueStore.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <cmath>

namespace reporttool {

namespace {

const QString kTool = QStringLiteral("tallvero-report");

// Message boxes become lines on stderr; a question is answered "No", so a
// headless run never starts anything the user did not ask for.
class HeadlessUi : public platform::Ui {
public:
    explicit HeadlessUi(QTextStream& err) : err_(err) {}

    platform::MsgAnswer message(const QString& title, const QString& text, platform::MsgIcon,
                                platform::MsgButtons buttons) override {
        QString body = text.trimmed();
        body.replace(QStringLiteral("\n\n"), QStringLiteral("\n"));
        body.replace(QLatin1Char('\n'), QStringLiteral("\n    "));
        err_ << title << ": " << body << "\n" << Qt::flush;
        last = text;
        switch (buttons) {
        case platform::MsgButtons::Ok:
        case platform::MsgButtons::OkCancel:
            return platform::MsgAnswer::Ok;
        case platform::MsgButtons::YesNo:
        case platform::MsgButtons::YesNoCancel:
            return yes ? platform::MsgAnswer::Yes : platform::MsgAnswer::No;
        }
        return platform::MsgAnswer::Ok;
    }
    void setBusyCursor(bool busy) override { busy_ = busy; }
    bool busyCursor() const override { return busy_; }
    // The answer to a Yes/No question (the details' grouping question).
    bool yes = false;
    QString last; // the text of the last message

    void processEvents() override {
        if (QCoreApplication::instance()) QCoreApplication::processEvents();
    }

private:
    QTextStream& err_;
    bool busy_ = false;
};

// The tool reads the user's settings but never changes them.
class ReadOnlySettings : public platform::SettingsStore {
public:
    explicit ReadOnlySettings(const platform::SettingsStore& inner) : inner_(inner) {}
    QString read(const QString& key, const QString& def) const override {
        return inner_.read(key, def);
    }
    void write(const QString&, const QString&) override {}

private:
    const platform::SettingsStore& inner_;
};

// The selection of a run: the main window's lists in memory, chosen as a
// user would choose them, and the two lists of the extended selection.
class ReportHost : public retrieval::PeriodQueryHost {
public:
    ReportHost(const Options& o, srv::Session& s, platform::Ui& ui, values::PeriodValueStore& store)
        : lists(s, ui, store), o_(o) {}

    retrieval::Selection readSelection() override {
        retrieval::Selection s = lists.controller.selection();
        s.extended = o_.extended;
        if (o_.extended) {
            s.styp = mw::codeOf(styp.currentText());
            s.vart = mw::codeOf(vart.currentText());
        }
        return s;
    }
    bool departmentChosen() const override { return lists.controller.departmentChosen(); }
    // The one redraw (with the value computation) runs after the query,
    // onto the surface that the outputs are written from.
    void redraw() override { pageDue_ = true; }
    bool pageDue() const { return pageDue_; }

    // The selection controls' texts as the client shows them.
    report::PageInputs pageInputs() const {
        report::PageInputs in;
        in.SFirma = o_.firma;
        mw::setListTexts(in, lists.controller.lists());
        if (o_.extended) {
            in.SSTyp = styp.currentText();
            in.SVART = vart.currentText();
        }
        in.auswahlChecked = o_.extended;
        in.dbPercent = o_.dbPercent;
        const srv::UserContext& u = srv::userContext();
        in.Firma = u.Firma;
        in.BenutzerName = u.BenutzerName;
        return in;
    }

    mw::MemorySelection lists;
    mw::MemoryList styp, vart;

private:
    const Options& o_;
    bool pageDue_ = false;
};

// The details query of the client over the same lists.
class DetailsHost : public retrieval::DetailQueryHost {
public:
    DetailsHost(const Options& o, const mw::SelectionController& sel, int clockYear, int yearMode)
        : o_(o), sel_(sel), clockYear_(clockYear), yearMode_(yearMode) {}
    retrieval::DetailInputs readInputs() override {
        retrieval::DetailInputs in;
        in.sel = sel_.selection();
        in.splitMask = o_.splitMask;
        in.yearChoice = o_.yearChoice;
        in.periodKind = o_.month > 0 ? 1 : 0;
        in.month = std::max(1, o_.month);
        in.yearMode = yearMode_;
        in.clockYear = clockYear_;
        return in;
    }
    bool departmentChosen() const override { return sel_.departmentChosen(); }
    QStringList groupCodes(retrieval::GroupLevel level) override { return sel_.groupCodes(level); }
    void prepareList(const QStringList& columns) override {
        columns_ = columns;
        rows_.clear();
    }
    void addRow(const QStringList& cells) override { rows_ << cells; }

    QByteArray csv() const {
        QString out = columns_.join(QLatin1Char(';')) + QStringLiteral("\r\n");
        for (const QStringList& r : rows_)
            out += r.join(QLatin1Char(';')) + QStringLiteral("\r\n");
        return QByteArrayLiteral("\xEF\xBB\xBF") + out.toUtf8();
    }
    int rows() const { return int(rows_.size()); }

private:
    const Options& o_;
    const mw::SelectionController& sel_;
    int clockYear_, yearMode_;
    QStringList columns_;
    QList<QStringList> rows_;
};

QJsonValue finiteJson(double v) {
    return std::isfinite(v) ? QJsonValue(v) : QJsonValue();
}

QJsonArray axesJson(const report::PageAxes& axes) {
    QJsonArray out;
    for (int i = 0; i < 2; ++i) {
        const report::PanelAxis& a = axes.panel[i];
        QJsonObject p;
        p.insert(QStringLiteral("panel"), i + 1);
        p.insert(QStringLiteral("AxisMin"), qint64(a.AxisMin));
        p.insert(QStringLiteral("AxisMax"), qint64(a.AxisMax));
        p.insert(QStringLiteral("N"), a.N);
        p.insert(QStringLiteral("V"), finiteJson(a.V));
        out.append(p);
    }
    return out;
}

QJsonValue cellJson(const values::Table& t, int row, int column) {
    if (!t.hasCells() || row < t.firstRow() || row > t.lastRow() || column < t.firstColumn() ||
        column > t.lastColumn())
        return QJsonValue::Null;
    const values::Cell& c = t.at(row, column);
    if (c.isEmpty() || !std::isfinite(c.value())) return QJsonValue::Null;
    return c.value();
}

// Always the table's full size, so a reader can index rows without looking
// at what was fetched: a table that has no cells yet is all null.
QJsonArray tableJson(const values::Table& t, int firstRow, int lastRow, int columns) {
    QJsonArray rows;
    for (int r = firstRow; r <= lastRow; ++r) {
        QJsonArray row;
        for (int c = 1; c <= columns; ++c)
            row.append(cellJson(t, r, c));
        rows.append(row);
    }
    return rows;
}

QString fetchResultName(retrieval::FetchResult r) {
    switch (r) {
    case retrieval::FetchResult::Done:
        return QStringLiteral("done");
    case retrieval::FetchResult::Failed:
        return QStringLiteral("failed");
    case retrieval::FetchResult::Refused:
        return QStringLiteral("refused");
    }
    return {};
}

// The factory of the server component; the embedded server's first start
// fills a demo database, which takes a few seconds worth a word on stderr.
srv::FactoryMaker serverComponent(QTextStream& err) {
    return [&err] {
        cache::server::ServerOptions options;
        options.demoProgress = [&err,
                                stage = QString()](const cache::server::DemoProgress& p) mutable {
            if (p.stage == stage) return;
            stage = p.stage;
            err << "Demodaten: " << p.stage << " ..\n" << Qt::flush;
        };
        return std::make_unique<cache::server::ServerFactory>(std::move(options));
    };
}

// Process-wide login records hold the password; they must not outlive a run.
struct RecordsGuard {
    RecordsGuard() { srv::resetRecords(); }
    ~RecordsGuard() { srv::resetRecords(); }
    RecordsGuard(const RecordsGuard&) = delete;
    RecordsGuard& operator=(const RecordsGuard&) = delete;
};

// What the desktop client does not offer at this permission level: the
// list and the menu entries it disables.
QString refusedOption(const Options& o, int level) {
    const mw::Allowed a = mw::allowedFor(level);
    if (!o.pc.isEmpty() && !a.profitCentres)
        return QStringLiteral("--pc %1: Sie dürfen kein Profitcenter auswählen.").arg(o.pc);
    if (o.each == QLatin1String("pc") && !a.profitCentres)
        return QStringLiteral("--each pc: Sie dürfen kein Profitcenter auswählen.");
    if (o.extended && !a.extendedSelection)
        return QStringLiteral(
            "--extended: Die erweiterte Auswahl steht Ihnen nicht zur Verfügung.");
    if (o.graphMode == 1 && !a.quarterGraph)
        return QStringLiteral(
            "--graph quartal: Diese Darstellung steht Ihnen nicht zur Verfügung.");
    if (o.tableMode == 3 && !a.previousYearTable)
        return QStringLiteral(
            "--table vorjahr: Diese Darstellung steht Ihnen nicht zur Verfügung.");
    return {};
}

// Chooses the codes of the options in the lists, in the order of the
// cascade, as a user would; the first code a list refuses is named. Fills
// the extended selection's lists for --extended. `complete` turns false
// when a list could not be read.
QString chooseOptions(const Options& o, ReportHost& h, srv::Session& session, const HeadlessUi& ui,
                      bool& complete) {
    mw::MemorySelection& l = h.lists;
    const struct {
        const char* option;
        mw::SelectionList& list;
        const QString& code;
    } picks[] = {{"--pc", l.SPCNR, o.pc},       {"--habt", l.SHABT, o.habt},
                 {"--abt", l.SABTNR, o.abt},    {"--hg", l.SHGRP, o.hg},
                 {"--ug", l.SUGRP, o.ug},       {"--hkg", l.SPG, o.hkg},
                 {"--hvart", l.SHVArt, o.hvart}};
    for (const auto& p : picks)
        if (!p.code.isEmpty() && !mw::chooseCode(p.list, p.code))
            return QStringLiteral("%1 %2: %3").arg(QLatin1String(p.option), p.code, ui.last);
    if (o.extended) {
        mw::fillArticleTypes(h.styp);
        mw::chooseCode(h.styp, o.styp);
        complete =
            mw::fillShippingTypes(session, h.vart, retrieval::companyNumber(o.firma), o.hvart) &&
            complete;
        if (!o.vart.isEmpty()) mw::chooseCode(h.vart, o.vart);
    }
    complete = complete && l.controller.failedFills() == 0;
    return {};
}

retrieval::GroupLevel levelOf(const QString& each) {
    using retrieval::GroupLevel;
    return each == QLatin1String("pc")     ? GroupLevel::Pc
           : each == QLatin1String("habt") ? GroupLevel::Habt
           : each == QLatin1String("abt")  ? GroupLevel::Abt
           : each == QLatin1String("hg")   ? GroupLevel::Hgrp
                                           : GroupLevel::Ugrp;
}

// The book's pages go into the PDF as they come; progress on stderr.
class BookFile : public mw::BookSink {
public:
    BookFile(const QString& file, retrieval::GroupLevel level, QTextStream& err)
        : pdf(file), level_(mw::levelName(level)), err_(err) {}
    bool progress(int n, int total, const QString& entry) override {
        // Page numbers as in the file: left-out entries take none.
        err_ << kTool << ": Seite " << pdf.pages() + 1 << " von " << pdf.pages() + total - n + 1
             << ": "
             << (entry.isEmpty() ? QStringLiteral("die Auswahl")
                                 : level_ + QLatin1Char(' ') + entry)
             << "\n"
             << Qt::flush;
        return true;
    }
    bool page(const print::DisplayList& page) override { return pdf.addPage(page); }
    void leftOut(const QString& entry, bool refused) override {
        err_ << kTool << ":   " << level_ << ' ' << entry
             << (refused ? QStringLiteral(": abgelehnt, keine Seite")
                         : QStringLiteral(": keine Werte in den sechs Jahren, keine Seite"))
             << "\n"
             << Qt::flush;
    }
    print::PdfBook pdf;

private:
    QString level_;
    QTextStream& err_;
};

// The report book of --book: the selection's page, then a page for each
// entry of the list --each, in one PDF.
int writeBook(const Options& o, ReportHost& host, srv::Session& session, platform::Ui& ui,
              platform::Clock& clock, values::PeriodValueStore& store, bool namesRead,
              QTextStream& err) {
    auto fail = [&](const QString& text) {
        err << kTool << ": " << text << "\n" << Qt::flush;
        return kExitFailed;
    };
    mw::BookSettings settings;
    settings.each = levelOf(o.each);
    settings.extended = o.extended;
    const retrieval::Selection extended = host.readSelection();
    settings.styp = extended.styp;
    settings.vart = extended.vart;
    settings.page = host.pageInputs();
    BookFile file(o.book, settings.each, err);
    const mw::BookOutcome b =
        mw::runBook(session, ui, clock, host.lists.controller, store, settings, file);
    switch (b.result) {
    case mw::BookOutcome::Result::Refused:
        return fail(QStringLiteral("Die Datenabfrage wurde abgelehnt; keine Mappe geschrieben."));
    case mw::BookOutcome::Result::Failed:
        return fail(QStringLiteral("Abbruch bei %1, Periode %2 (Fehler %3: %4); keine Mappe "
                                   "geschrieben.")
                        .arg(b.entry.isEmpty()
                                 ? QStringLiteral("der Auswahl")
                                 : mw::levelName(settings.each) + QLatin1Char(' ') + b.entry,
                             b.fetch.failedPeriod)
                        .arg(b.fetch.errorNumber)
                        .arg(b.fetch.error));
    case mw::BookOutcome::Result::NotKept:
    case mw::BookOutcome::Result::Cancelled:
        break;
    case mw::BookOutcome::Result::Done: {
        QString why;
        if (!file.pdf.commit(&why)) return fail(why);
        QString note;
        if (b.entries == 0)
            note = QStringLiteral(" (die Liste %1 hat keine Einträge)")
                       .arg(mw::levelName(settings.each));
        else if (!b.withoutFigures.isEmpty() || !b.refused.isEmpty())
            note = QStringLiteral(" (ohne Seite: %1 ohne Werte, %2 abgelehnt)")
                       .arg(b.withoutFigures.size())
                       .arg(b.refused.size());
        err << kTool << ": Berichtsmappe mit " << b.pages
            << " Seiten geschrieben: " << quoted(o.book) << note << ".\n"
            << Qt::flush;
        if (!namesRead)
            return fail(QStringLiteral("Die Namen der Auswahl konnten nicht gelesen werden; die "
                                       "Seiten zeigen nur die Codes."));
        return kExitOk;
    }
    }
    QString why;
    file.pdf.commit(&why);
    return fail(why);
}

bool writeBytes(const QString& target, const QByteArray& bytes, QTextStream& out, QString* why) {
    if (target == QLatin1String("-")) {
        out << QString::fromUtf8(bytes) << Qt::flush;
        return true;
    }
    QSaveFile f(target);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit()) {
        *why = f.errorString();
        return false;
    }
    return true;
}

} // namespace

int run(const QStringList& args, ReportContext& context) {
    QTextStream& err = context.err;
    const ParseResult parsed = parseArguments(args, context.settings, context.environmentPassword);
    if (parsed.kind == ParseResult::Kind::Help) {
        context.out << usageText() << Qt::flush;
        return kExitOk;
    }
    if (parsed.kind == ParseResult::Kind::Version) {
        context.out << kTool << " " << QCoreApplication::applicationVersion() << "\n" << Qt::flush;
        return kExitOk;
    }
    if (parsed.kind == ParseResult::Kind::Usage) {
        err << kTool << ": " << parsed.error << "\n„" << kTool << " --help“ zeigt alle Optionen.\n"
            << Qt::flush;
        return kExitUsage;
    }
    const Options& o = parsed.options;
    auto fail = [&](const QString& text) {
        err << kTool << ": " << text << "\n" << Qt::flush;
        return kExitFailed;
    };
    // The page's boxes are measured with the fonts the exports draw with;
    // without a QGuiApplication there are no fonts.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return fail(QStringLiteral("Für die Seite wird eine QGuiApplication gebraucht (die "
                                   "Plattform „offscreen“ genügt)."));

    RecordsGuard records;
    const QDateTime wall = context.now.isValid() ? context.now : QDateTime::currentDateTime();
    // A fake clock: the connection retries pass without real waits, and
    // --today moves the whole run to that day.
    platform::FakeClock clock(o.today.isValid() ? QDateTime(o.today, wall.time()) : wall);
    HeadlessUi ui(err);
    ReadOnlySettings settings(context.settings);
    srv::MemoryLoginDialog login;
    srv::MemoryServerDialog serverDialog(clock);
    // Where the user would look at the connection settings and go back.
    for (int i = 0; i < 8; ++i)
        serverDialog.script.push_back([&serverDialog] { serverDialog.clickZurück(); });

    const QString commandLine =
        QStringList{o.firma, o.filiale, o.user, o.password, o.server, o.port}.join(
            QLatin1Char(' '));
    srv::Session session(srv::SessionServices{
        ui,
        clock,
        settings,
        login,
        serverDialog,
        context.makeFactory ? context.makeFactory : serverComponent(err),
        [] {}, // Session::EndProgram throws ProgramEnded after this
        [commandLine] { return commandLine; },
        [] { return false; },
        [](const QString&) {},
    });
    struct Disconnect {
        srv::Session& s;
        ~Disconnect() { s.CacheDisconnect(); }
    } disconnect{session};

    values::PeriodValueStore store;
    store.GraphMode = o.graphMode;
    store.TableMode = o.tableMode;
    store.YearMode = o.yearMode;
    store.DisplayMode = o.extended && o.skonto ? 1 : 0;
    ReportHost host(o, session, ui, store);

    int level = -1;
    QDate today;
    retrieval::FetchOutcome outcome;
    report::PageInputs inputs;
    bool namesRead = true;
    print::RecordingSurface surface;
    report::PageAxes axes;
    bool drawn = false;
    retrieval::DetailOutcome details;
    details.result = retrieval::DetailOutcome::Result::Refused;
    QByteArray detailsCsv;
    int detailRows = 0;
    try {
        srv::connectionSettings().CommandLine = commandLine;
        if (!session.CacheLogin())
            return fail(QStringLiteral("Anmeldung von %1 fehlgeschlagen.").arg(o.user));

        // Rights that cannot be read are no rights, as in the client.
        level = mw::askPermission(session, QStringLiteral("Überprüfung Berechtigung"), -1);
        if (level == -1) {
            ui.message(QStringLiteral("Abbruch!"),
                       QStringLiteral("Sie haben keine Berchtigung für dieses Programm."),
                       platform::MsgIcon::Stop, platform::MsgButtons::Ok);
            return kExitFailed;
        }
        QString refusal = refusedOption(o, level);
        if (!refusal.isEmpty()) return fail(refusal);
        mw::SelectionController& selection = host.lists.controller;
        selection.setPermission(level);
        selection.SFirma_Change(srv::userContext().Firma);
        selection.fillLists();
        refusal = chooseOptions(o, host, session, ui, namesRead);
        if (!refusal.isEmpty()) return fail(refusal);
        if (!o.book.isEmpty()) return writeBook(o, host, session, ui, clock, store, namesRead, err);

        today = clock.now().date();
        outcome = retrieval::runPeriodQuery(session, ui, clock, store, host);
        if (host.pageDue()) {
            inputs = host.pageInputs();
            inputs.now = clock.now();
            report::Zeichnen(surface, store, inputs, &axes);
            drawn = true;
        }
        if (!o.details.isEmpty() && outcome.result != retrieval::FetchResult::Refused) {
            ui.yes = o.groupByPc;
            DetailsHost dh(o, selection, clock.now().date().year(), o.yearMode);
            details = retrieval::runDetailQuery(session, ui, dh);
            detailsCsv = dh.csv();
            detailRows = dh.rows();
        }
    } catch (const srv::ProgramEnded&) {
        // The reason the settings dialog would show (a certificate, a login).
        const QString why = serverDialog.connectError();
        return fail(QStringLiteral("Abbruch: keine Verbindung zum Server.") +
                    (why.isEmpty() ? QString() : QStringLiteral("\n") + why));
    } catch (const cache::CacheError& e) {
        return fail(QStringLiteral("Fehler %1: %2").arg(e.number()).arg(e.description()));
    } catch (const std::exception& e) {
        return fail(QStringLiteral("Fehler: %1").arg(QString::fromUtf8(e.what())));
    }

    const srv::UserContext& u = srv::userContext();
    QJsonObject user;
    user.insert(QStringLiteral("code"), u.Personalcode);
    user.insert(QStringLiteral("name"), u.BenutzerName);
    user.insert(QStringLiteral("permission"), level);

    QJsonObject fetch;
    fetch.insert(QStringLiteral("months"), outcome.months);
    fetch.insert(QStringLiteral("result"), fetchResultName(outcome.result));
    const bool failed = outcome.result == retrieval::FetchResult::Failed;
    fetch.insert(QStringLiteral("failedPeriod"),
                 failed ? QJsonValue(outcome.failedPeriod) : QJsonValue());
    fetch.insert(QStringLiteral("errorNumber"),
                 failed ? QJsonValue(outcome.errorNumber) : QJsonValue());
    fetch.insert(QStringLiteral("error"), failed ? QJsonValue(outcome.error) : QJsonValue());

    // Every output below shows the store as the one redraw left it.
    QStringList written;
    bool writeFailed = false;
    auto cannotWrite = [&](const QString& text) {
        err << kTool << ": " << text << "\n" << Qt::flush;
        writeFailed = true;
    };
    auto wroteTo = [&](const QString& file) {
        if (file != QLatin1String("-")) written << quoted(file);
    };

    if (!o.json.isEmpty()) {
        QJsonObject doc;
        doc.insert(QStringLiteral("PeriodValues"), tableJson(store.PeriodValues, 1, 72, 2));
        doc.insert(QStringLiteral("MonthYearValues"), tableJson(store.MonthYearValues, 1, 12, 6));
        doc.insert(QStringLiteral("CumulativeValues"), tableJson(store.CumulativeValues, 0, 12, 6));
        doc.insert(QStringLiteral("GraphValues"), tableJson(store.GraphValues, 1, 12, 6));
        doc.insert(QStringLiteral("options"), optionsJson(o));
        doc.insert(QStringLiteral("user"), user);
        doc.insert(QStringLiteral("fetch"), fetch);
        doc.insert(QStringLiteral("today"), today.toString(Qt::ISODate));
        doc.insert(QStringLiteral("page"),
                   drawn ? QJsonValue(print::toJson(surface.displayList())) : QJsonValue());
        doc.insert(QStringLiteral("axes"), drawn ? QJsonValue(axesJson(axes)) : QJsonValue());
        QString why;
        if (writeBytes(o.json, QJsonDocument(doc).toJson(QJsonDocument::Indented), context.out,
                       &why))
            wroteTo(o.json);
        else
            cannotWrite(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                            .arg(quoted(o.json), why));
    }

    if (!o.details.isEmpty()) {
        if (details.result == retrieval::DetailOutcome::Result::Done) {
            QString why;
            if (writeBytes(o.details, detailsCsv, context.out, &why)) {
                wroteTo(o.details);
                err << kTool << ": " << detailRows << " Zeilen Details.\n" << Qt::flush;
            } else
                cannotWrite(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                                .arg(quoted(o.details), why));
        } else if (outcome.result == retrieval::FetchResult::Done) {
            cannotWrite(details.result == retrieval::DetailOutcome::Result::Failed
                            ? QStringLiteral("Die Details konnten nicht geholt werden: %1")
                                  .arg(details.error)
                            : QStringLiteral("Die Details wurden nicht geholt."));
        }
    }

    const bool pageAsked =
        !o.pdf.isEmpty() || !o.png.isEmpty() || !o.svg.isEmpty() || !o.csv.isEmpty();
    if (drawn) {
        if (!o.csv.isEmpty()) {
            // The byte order mark lets spreadsheet programs read the umlauts.
            const QByteArray bytes =
                QByteArrayLiteral("\xEF\xBB\xBF") + report::ValueTableCsv(store, inputs).toUtf8();
            QString why;
            if (writeBytes(o.csv, bytes, context.out, &why))
                wroteTo(o.csv);
            else
                cannotWrite(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2")
                                .arg(quoted(o.csv), why));
        }
        const print::DisplayList& page = surface.displayList();
        QString error;
        if (!o.pdf.isEmpty()) {
            if (print::writePdf(page, o.pdf, &error))
                wroteTo(o.pdf);
            else
                cannotWrite(error);
        }
        if (!o.png.isEmpty()) {
            if (print::writePng(page, o.png, o.dpi, &error))
                wroteTo(o.png);
            else
                cannotWrite(error);
        }
        if (!o.svg.isEmpty()) {
            if (print::writeSvg(page, o.svg, &error))
                wroteTo(o.svg);
            else
                cannotWrite(error);
        }
    }

    switch (outcome.result) {
    case retrieval::FetchResult::Done:
        if (!written.isEmpty())
            err << kTool << ": " << outcome.months
                << " Monate geholt, geschrieben: " << written.join(QStringLiteral(", ")) << ".\n"
                << Qt::flush;
        if (!namesRead)
            return fail(QStringLiteral("Die Namen der Auswahl konnten nicht gelesen werden; die "
                                       "Seite zeigt nur die Codes."));
        return writeFailed ? kExitFailed : kExitOk;
    case retrieval::FetchResult::Failed:
        return fail(QStringLiteral("Abbruch bei Periode %1 nach %2 Monaten (Fehler %3: %4); die "
                                   "bisher geholten Monate sind geschrieben.")
                        .arg(outcome.failedPeriod)
                        .arg(outcome.months)
                        .arg(outcome.errorNumber)
                        .arg(outcome.error));
    case retrieval::FetchResult::Refused:
        return fail(pageAsked ? QStringLiteral("Die Datenabfrage wurde abgelehnt; keine Werte "
                                               "geholt, keine Seite geschrieben.")
                              : QStringLiteral("Die Datenabfrage wurde abgelehnt; keine Werte "
                                               "geholt."));
    }
    return kExitFailed;
}

} // namespace reporttool
