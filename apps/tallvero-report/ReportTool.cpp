#include "ReportTool.h"

#include "main_window/Rules.h"
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

const QStringList kGraphNames = {QStringLiteral("jahresmittel"), QStringLiteral("quartal"),
                                 QStringLiteral("absolut")};
const QStringList kTableNames = {QStringLiteral("kumuliert"), QStringLiteral("absolut"),
                                 QStringLiteral("mittel"), QStringLiteral("vorjahr"),
                                 QStringLiteral("graph")};
const QStringList kYearNames = {QStringLiteral("kj"), QStringLiteral("wj")};

const QStringList kValueOptions = {
    QStringLiteral("--server"),  QStringLiteral("--port"),    QStringLiteral("--firma"),
    QStringLiteral("--filiale"), QStringLiteral("--user"),    QStringLiteral("--password"),
    QStringLiteral("--pc"),      QStringLiteral("--habt"),    QStringLiteral("--abt"),
    QStringLiteral("--hg"),      QStringLiteral("--ug"),      QStringLiteral("--hkg"),
    QStringLiteral("--hvart"),   QStringLiteral("--styp"),    QStringLiteral("--vart"),
    QStringLiteral("--graph"),   QStringLiteral("--table"),   QStringLiteral("--year"),
    QStringLiteral("--today"),   QStringLiteral("--json"),    QStringLiteral("--pdf"),
    QStringLiteral("--png"),     QStringLiteral("--svg"),     QStringLiteral("--csv"),
    QStringLiteral("--dpi"),     QStringLiteral("--details"), QStringLiteral("--split"),
    QStringLiteral("--jahr"),    QStringLiteral("--monat"),   QStringLiteral("--gruppierung")};
const QStringList kFlagOptions = {QStringLiteral("--extended"), QStringLiteral("--skonto"),
                                  QStringLiteral("--db-percent")};

// Earliest clock year whose oldest year slot still has a period code.
constexpr int kFirstYear = 1906;

struct UsageError {
    QString text;
};

QString quoted(const QString& s) {
    return QStringLiteral("„") + s + QStringLiteral("“");
}

bool hasBlank(const QString& s) {
    for (const QChar c : s)
        if (c.isSpace()) return true;
    return false;
}

// The login travels as one blank-separated command line, so a blank inside
// a value would shift every later word.
QString loginWord(const QString& option, const QString& value, bool fromSettings) {
    if (hasBlank(value))
        throw UsageError{
            QStringLiteral("Ungültiger Wert %1 für %2%3: Leerzeichen sind nicht erlaubt")
                .arg(quoted(value), option,
                     fromSettings ? QStringLiteral(" (aus den Einstellungen)") : QString())};
    return value;
}

QString wholeNumber(const QString& option, const QString& value, bool fromSettings) {
    static const QRegularExpression digits(QStringLiteral("\\A[0-9]{1,9}\\z"));
    if (!digits.match(value).hasMatch())
        throw UsageError{
            QStringLiteral("Ungültiger Wert %1 für %2%3: eine ganze Zahl erwartet")
                .arg(quoted(value), option,
                     fromSettings ? QStringLiteral(" (aus den Einstellungen)") : QString())};
    return value;
}

// A selection code as the lists hold it: the first blank-delimited word,
// and no separator of the detail key.
QString selectionCode(const QString& option, const QString& value) {
    if (hasBlank(value) || value.contains(QLatin1Char('`')) || value.contains(QChar(0xFF)))
        throw UsageError{QStringLiteral("Ungültiger Code %1 für %2").arg(quoted(value), option)};
    return value;
}

QString oneOfCodes(const QString& option, const QString& value, const QStringList& allowed) {
    const QString v = value.toUpper();
    if (!allowed.contains(v))
        throw UsageError{QStringLiteral("Ungültiger Wert %1 für %2 (erlaubt: %3)")
                             .arg(quoted(value), option, allowed.join(QStringLiteral(", ")))};
    return v;
}

int oneOfNames(const QString& option, const QString& value, const QStringList& names) {
    const int i = int(names.indexOf(value.toLower()));
    if (i < 0)
        throw UsageError{QStringLiteral("Ungültiger Wert %1 für %2 (erlaubt: %3)")
                             .arg(quoted(value), option, names.join(QStringLiteral(", ")))};
    return i;
}

QDate parseDay(const QString& option, const QString& value) {
    static const QRegularExpression form(QStringLiteral("\\A[0-9]{4}-[0-9]{2}-[0-9]{2}\\z"));
    const QDate d = form.match(value).hasMatch() ? QDate::fromString(value, Qt::ISODate) : QDate();
    if (!d.isValid())
        throw UsageError{QStringLiteral("Ungültiges Datum %1 für %2 (erwartet JJJJ-MM-TT, z. B. "
                                        "2024-01-15)")
                             .arg(quoted(value), option)};
    if (d.year() < kFirstYear)
        throw UsageError{QStringLiteral("Das Datum %1 für %2 liegt vor %3")
                             .arg(quoted(value), option)
                             .arg(kFirstYear)};
    return d;
}

Options buildOptions(const QHash<QString, QString>& v, const QSet<QString>& flags,
                     const platform::SettingsStore& settings,
                     const std::optional<QString>& environmentPassword) {
    Options o;
    // An option wins over the settings store, the store over the default.
    auto login = [&](const char* option, const char* key, const QString& def, QString* out) {
        const QString name = QLatin1String(option);
        if (v.contains(name)) {
            *out = v.value(name);
            return false;
        }
        *out = settings.read(QLatin1String(key), def);
        return true;
    };
    bool fromSettings = login("--server", "Server", srv::kDefaultServer, &o.server);
    if (o.server.isEmpty())
        throw UsageError{QStringLiteral("Die Option --server braucht einen Wert")};
    loginWord(QStringLiteral("--server"), o.server, fromSettings);

    fromSettings = login("--port", "Port", QStringLiteral("1972"), &o.port);
    wholeNumber(QStringLiteral("--port"), o.port, fromSettings);
    if (o.port.toInt() < 1 || o.port.toInt() > 65535)
        throw UsageError{
            QStringLiteral("Ungültiger Port %1 für --port (1 bis 65535)").arg(quoted(o.port))};

    fromSettings = login("--firma", "Firma", QStringLiteral("1"), &o.firma);
    wholeNumber(QStringLiteral("--firma"), o.firma, fromSettings);
    fromSettings = login("--filiale", "Filiale", QStringLiteral("0"), &o.filiale);
    wholeNumber(QStringLiteral("--filiale"), o.filiale, fromSettings);

    fromSettings = login("--user", "Name", QString(), &o.user);
    if (o.user.isEmpty())
        throw UsageError{QStringLiteral("Kein Benutzer angegeben: --user CODE (oder „Name“ in den "
                                        "Einstellungen)")};
    // The login dialog upper-cases the personnel code as it is typed.
    o.user = loginWord(QStringLiteral("--user"), o.user, fromSettings).toUpper();

    if (v.contains(QStringLiteral("--password")))
        o.password = v.value(QStringLiteral("--password"));
    else if (environmentPassword)
        o.password = *environmentPassword;
    else
        throw UsageError{QStringLiteral("Kein Passwort angegeben: --password oder die "
                                        "Umgebungsvariable TALLVERO_PASSWORD")};
    if (hasBlank(o.password))
        throw UsageError{QStringLiteral("Das Passwort (--password oder TALLVERO_PASSWORD) darf "
                                        "keine Leerzeichen enthalten")};

    auto code = [&](const char* option, QString* out) {
        const QString name = QLatin1String(option);
        if (v.contains(name)) *out = selectionCode(name, v.value(name));
    };
    code("--pc", &o.pc);
    code("--habt", &o.habt);
    code("--abt", &o.abt);
    code("--hg", &o.hg);
    code("--ug", &o.ug);
    if (v.contains(QStringLiteral("--hkg")) && !v.value(QStringLiteral("--hkg")).isEmpty())
        o.hkg = oneOfCodes(QStringLiteral("--hkg"), v.value(QStringLiteral("--hkg")),
                           {QStringLiteral("P"), QStringLiteral("G")});
    if (v.contains(QStringLiteral("--hvart")) && !v.value(QStringLiteral("--hvart")).isEmpty())
        o.hvart = oneOfCodes(QStringLiteral("--hvart"), v.value(QStringLiteral("--hvart")),
                             {QStringLiteral("L"), QStringLiteral("S")});

    o.extended = flags.contains(QStringLiteral("--extended"));
    for (const QString& only :
         {QStringLiteral("--styp"), QStringLiteral("--vart"), QStringLiteral("--skonto")})
        if (!o.extended && (v.contains(only) || flags.contains(only)))
            throw UsageError{
                QStringLiteral("Die Option %1 gilt nur zusammen mit --extended").arg(only)};
    if (v.contains(QStringLiteral("--styp")))
        o.styp = oneOfCodes(
            QStringLiteral("--styp"), v.value(QStringLiteral("--styp")),
            {QStringLiteral("A"), QStringLiteral("L"), QStringLiteral("B"), QStringLiteral("W")});
    code("--vart", &o.vart);
    o.skonto = flags.contains(QStringLiteral("--skonto"));

    if (v.contains(QStringLiteral("--graph")))
        o.graphMode =
            oneOfNames(QStringLiteral("--graph"), v.value(QStringLiteral("--graph")), kGraphNames);
    o.dbPercent = flags.contains(QStringLiteral("--db-percent"));
    if (v.contains(QStringLiteral("--table")))
        o.tableMode =
            oneOfNames(QStringLiteral("--table"), v.value(QStringLiteral("--table")), kTableNames);
    if (v.contains(QStringLiteral("--year")))
        o.yearMode =
            oneOfNames(QStringLiteral("--year"), v.value(QStringLiteral("--year")), kYearNames);
    if (v.contains(QStringLiteral("--today")))
        o.today = parseDay(QStringLiteral("--today"), v.value(QStringLiteral("--today")));

    if (v.contains(QStringLiteral("--split"))) {
        const int i =
            oneOfNames(QStringLiteral("--split"), v.value(QStringLiteral("--split")),
                       {QStringLiteral("none"), QStringLiteral("hkg"), QStringLiteral("hvart")});
        o.splitMask = i == 0 ? 1 : i == 1 ? 2 : 8;
    }
    if (v.contains(QStringLiteral("--jahr")))
        o.yearChoice = oneOfNames(QStringLiteral("--jahr"), v.value(QStringLiteral("--jahr")),
                                  {QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2")});
    if (v.contains(QStringLiteral("--monat"))) {
        const QString m = v.value(QStringLiteral("--monat"));
        static const QRegularExpression month(QStringLiteral("\\A(?:[1-9]|1[0-2])\\z"));
        if (!month.match(m).hasMatch())
            throw UsageError{
                QStringLiteral("Ungültiger Monat %1 für --monat (1 bis 12)").arg(quoted(m))};
        o.month = m.toInt();
        if (o.yearChoice == 2)
            throw UsageError{
                QStringLiteral("Monatswerte (--monat) gibt es nur für --jahr 0 oder 1")};
    }
    if (v.contains(QStringLiteral("--gruppierung")))
        o.groupByPc =
            oneOfNames(QStringLiteral("--gruppierung"), v.value(QStringLiteral("--gruppierung")),
                       {QStringLiteral("habt"), QStringLiteral("pc")}) == 1;
    for (const QString& only : {QStringLiteral("--split"), QStringLiteral("--jahr"),
                                QStringLiteral("--monat"), QStringLiteral("--gruppierung")})
        if (v.contains(only) && !v.contains(QStringLiteral("--details")))
            throw UsageError{
                QStringLiteral("Die Option %1 gilt nur zusammen mit --details").arg(only)};

    struct Output {
        const char* option;
        QString* file;
    };
    const Output outputs[] = {{"--details", &o.details}, {"--json", &o.json}, {"--pdf", &o.pdf},
                              {"--png", &o.png},         {"--svg", &o.svg},   {"--csv", &o.csv}};
    QHash<QString, QString> byFile; // absolute path -> option
    for (const Output& out : outputs) {
        const QString name = QLatin1String(out.option);
        if (!v.contains(name)) continue;
        *out.file = v.value(name);
        if (out.file->isEmpty())
            throw UsageError{QStringLiteral("Die Option %1 braucht einen Wert").arg(name)};
        if (*out.file == QLatin1String("-")) {
            // Standard output carries the JSON; two documents there would mix.
            if (name == QLatin1String("--json")) continue;
            throw UsageError{QStringLiteral("Die Option %1 braucht einen Dateinamen („-“ für die "
                                            "Standardausgabe gibt es nur bei --json)")
                                 .arg(name)};
        }
        const QString path = QFileInfo(*out.file).absoluteFilePath();
        if (byFile.contains(path))
            throw UsageError{QStringLiteral("Die Optionen %1 und %2 nennen dieselbe Datei %3")
                                 .arg(byFile.value(path), name, quoted(*out.file))};
        byFile.insert(path, name);
    }
    if (o.json.isEmpty() && o.pdf.isEmpty() && o.png.isEmpty() && o.svg.isEmpty() &&
        o.csv.isEmpty() && o.details.isEmpty())
        throw UsageError{QStringLiteral("Keine Ausgabe angegeben: --json DATEI (oder --json - für "
                                        "die Standardausgabe), --pdf, --png, --svg oder --csv "
                                        "DATEI")};
    if (v.contains(QStringLiteral("--dpi"))) {
        if (o.png.isEmpty())
            throw UsageError{QStringLiteral("Die Option --dpi gilt nur zusammen mit --png")};
        const QString dpi = v.value(QStringLiteral("--dpi"));
        static const QRegularExpression digits(QStringLiteral("\\A[0-9]{1,5}\\z"));
        o.dpi = digits.match(dpi).hasMatch() ? dpi.toInt() : -1;
        if (o.dpi < kMinDpi || o.dpi > kMaxDpi)
            throw UsageError{QStringLiteral("Ungültige Auflösung %1 für --dpi (%2 bis %3)")
                                 .arg(quoted(dpi))
                                 .arg(kMinDpi)
                                 .arg(kMaxDpi)};
    }
    return o;
}

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

class ReportHost : public retrieval::PeriodQueryHost {
public:
    explicit ReportHost(const Options& o) : o_(o) {}

    retrieval::Selection readSelection() override {
        retrieval::Selection s;
        s.firma = srv::userContext().Firma;
        s.hgrp = o_.hg;
        s.ugrp = o_.ug;
        s.pc = o_.pc;
        s.habt = o_.habt;
        s.abt = o_.abt;
        s.pg = o_.hkg;
        s.hvart = o_.hvart;
        s.extended = o_.extended;
        if (o_.extended) {
            s.styp = o_.styp;
            s.vart = o_.vart;
        }
        return s;
    }
    bool departmentChosen() const override { return !o_.habt.isEmpty() || !o_.abt.isEmpty(); }
    // The page needs the names of the selection, which are read from the
    // server after the query; the one redraw (with the value computation)
    // runs then.
    void redraw() override { pageDue_ = true; }
    bool pageDue() const { return pageDue_; }

private:
    const Options& o_;
    bool pageDue_ = false;
};

// A list as the client shows it: one "code name" text per entry.
using ListTexts = QStringList;

ListTexts routineList(srv::Session& s, const QString& routine);
ListTexts queryList(srv::Session& s, const QString& query, const QStringList& args);

// The details query of the client, with the grouping lists as the main
// window would hold them for this selection.
class DetailsHost : public retrieval::DetailQueryHost {
public:
    DetailsHost(const Options& o, srv::Session& s, int clockYear, int yearMode, bool restricted)
        : o_(o), s_(s), clockYear_(clockYear), yearMode_(yearMode), restricted_(restricted) {}
    retrieval::DetailInputs readInputs() override {
        retrieval::DetailInputs in;
        in.sel.firma = srv::userContext().Firma;
        in.sel.hgrp = o_.hg;
        in.sel.ugrp = o_.ug;
        in.sel.pc = o_.pc;
        in.sel.habt = o_.habt;
        in.sel.abt = o_.abt;
        in.sel.pg = o_.hkg;
        in.sel.hvart = o_.hvart;
        in.splitMask = o_.splitMask;
        in.yearChoice = o_.yearChoice;
        in.periodKind = o_.month > 0 ? 1 : 0;
        in.month = std::max(1, o_.month);
        in.yearMode = yearMode_;
        in.clockYear = clockYear_;
        return in;
    }
    bool departmentChosen() const override { return !o_.habt.isEmpty() || !o_.abt.isEmpty(); }
    QStringList groupCodes(retrieval::GroupLevel level) override {
        const QString firma = srv::userContext().Firma;
        ListTexts list;
        s_.DBBegin(false);
        switch (level) {
        case retrieval::GroupLevel::Pc:
            list = queryList(s_, QStringLiteral("Profitcenter"), {});
            break;
        case retrieval::GroupLevel::Habt:
            list = o_.pc.isEmpty() ? routineList(s_, QStringLiteral("d HABT^ZKCLSU"))
                                   : queryList(s_, QStringLiteral("HAbtInPC"), {firma, o_.pc});
            break;
        case retrieval::GroupLevel::Abt:
            list = !o_.habt.isEmpty() ? queryList(s_, QStringLiteral("AbtInHAbt"), {firma, o_.habt})
                   : !o_.pc.isEmpty() ? queryList(s_, QStringLiteral("AbtInPC"), {firma, o_.pc})
                                      : routineList(s_, QStringLiteral("d ABTNR^ZKCLSU"));
            break;
        case retrieval::GroupLevel::Hgrp:
            list = routineList(s_, QStringLiteral("d HGRP^ZKCLSU"));
            break;
        case retrieval::GroupLevel::Ugrp:
            if (!o_.hg.isEmpty()) list = routineList(s_, srv::Session::subGroupLine(o_.hg));
            break;
        case retrieval::GroupLevel::None:
            break;
        }
        s_.DBEnd(false);
        QStringList codes{QString()};
        for (const QString& e : list) {
            const QString c = srv::Piece(e, QChar(' '), 1);
            // As in the client: no rows of departments a restricted user may
            // not choose.
            if (level == retrieval::GroupLevel::Abt && restricted_ &&
                !mw::departmentAllowed(srv::userContext().Abteilung, c))
                continue;
            codes << c;
        }
        return codes;
    }
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
    srv::Session& s_;
    int clockYear_, yearMode_;
    bool restricted_;
    QStringList columns_;
    QList<QStringList> rows_;
};

ListTexts routineList(srv::Session& s, const QString& routine) {
    QStringList values;
    bool failed = false;
    const std::optional<int> n =
        s.DBCallD(routine, QString(QChar(srv::Session::kRowSeparator)), values, failed);
    ListTexts out;
    for (int i = 1; n && i <= *n; ++i) {
        const QString& v = values.value(i);
        out << srv::Piece(v, QChar('`'), 1) + QLatin1Char(' ') + srv::Piece(v, QChar('`'), 2);
    }
    return out;
}

ListTexts queryList(srv::Session& s, const QString& query, const QStringList& args) {
    ListTexts out;
    std::unique_ptr<cache::CacheQuery> q;
    try {
        q = s.factory()->query(QStringLiteral("ZKUmsatz.Daten"), query);
        q->execute(args);
        while (q->next())
            out << q->column(1) + QLatin1Char(' ') +
                       srv::ConvertText(q->column(2), QStringLiteral("ZORVEK"));
    } catch (const cache::CacheError& e) {
        // The list keeps what arrived; the user sees why a name is missing.
        s.ShowAccessError(QStringLiteral("Abfrage ") + query, e);
    }
    s.CacheClose(q);
    return out;
}

// The entry whose code (first word) is `code`; a code the list lacks is
// shown bare.
QString entryFor(const ListTexts& list, const QString& code) {
    if (code.isEmpty()) return {};
    for (const QString& e : list)
        if (srv::Piece(e, QChar(' '), 1) == code) return e;
    return code;
}

// The page inputs without names: every code bare, the fixed lists named.
report::PageInputs bareInputs(const Options& o) {
    report::PageInputs in;
    in.SFirma = o.firma;
    in.SPG = entryFor({QStringLiteral("P Privat"), QStringLiteral("G Gewerbe")}, o.hkg);
    in.SPCNR = o.pc;
    in.SHABT = o.habt;
    in.SABTNR = o.abt;
    in.SHGRP = o.hg;
    in.SUGRP = o.ug;
    in.SHVArt = entryFor({QStringLiteral("L Lager"), QStringLiteral("S Strecke")}, o.hvart);
    if (o.extended) {
        in.SSTyp = entryFor({QStringLiteral("A Alle"), QStringLiteral("L Lager Artikel"),
                             QStringLiteral("B Bestell Artikel"), QStringLiteral("W Wert Artikel")},
                            o.styp);
        in.SVART = o.vart;
    }
    in.auswahlChecked = o.extended;
    in.dbPercent = o.dbPercent;
    const srv::UserContext& u = srv::userContext();
    in.Firma = u.Firma;
    in.BenutzerName = u.BenutzerName;
    return in;
}

// The selection controls' texts as the client would show them, the names
// read from the same server lists (only those of the codes given). False
// when the server could not be reached: the codes then stay bare.
bool readNames(srv::Session& s, const Options& o, report::PageInputs& in) {
    if (o.pc.isEmpty() && o.habt.isEmpty() && o.abt.isEmpty() && o.hg.isEmpty() && o.ug.isEmpty() &&
        !(o.extended && !o.vart.isEmpty()))
        return true;
    report::PageInputs named = in;
    try {
        s.DBBegin(false);
        if (!o.hg.isEmpty())
            named.SHGRP = entryFor(routineList(s, QStringLiteral("d HGRP^ZKCLSU")), o.hg);
        // The client fills the sub groups only for a chosen main group.
        if (!o.ug.isEmpty() && !o.hg.isEmpty())
            named.SUGRP = entryFor(routineList(s, srv::Session::subGroupLine(o.hg)), o.ug);
        if (!o.abt.isEmpty())
            named.SABTNR = entryFor(routineList(s, QStringLiteral("d ABTNR^ZKCLSU")), o.abt);
        if (!o.habt.isEmpty())
            named.SHABT = entryFor(routineList(s, QStringLiteral("d HABT^ZKCLSU")), o.habt);
        if (!o.pc.isEmpty())
            named.SPCNR = entryFor(queryList(s, QStringLiteral("Profitcenter"), {}), o.pc);
        if (o.extended && !o.vart.isEmpty())
            named.SVART = entryFor(queryList(s, QStringLiteral("Versandarten"),
                                             {retrieval::companyNumber(o.firma), o.hvart}),
                                   o.vart);
        s.DBEnd(false);
    } catch (const srv::ProgramEnded&) {
        return false;
    } catch (const cache::CacheError&) {
        return false;
    }
    in = named;
    return true;
}

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

// The refusals of the desktop client for a restricted user: the lists and
// menu entries it disables, and the departments it does not let them pick.
QString restrictedRefusal(const Options& o) {
    const srv::UserContext& u = srv::userContext();
    if (!o.pc.isEmpty())
        return QStringLiteral("--pc %1: Sie dürfen kein Profitcenter auswählen.").arg(o.pc);
    if (!o.habt.isEmpty() && o.habt != u.HauptAbteilung)
        return QStringLiteral("--habt %1: Sie dürfen nur Ihre eigene Hauptabteilung selektieren.")
            .arg(o.habt);
    if (!o.abt.isEmpty() && !mw::departmentAllowed(u.Abteilung, o.abt))
        return QStringLiteral("--abt %1: Sie dürfen nur Ihre eigene Abteilung selektieren.")
            .arg(o.abt);
    if (o.extended)
        return QStringLiteral(
            "--extended: Die erweiterte Auswahl steht Ihnen nicht zur Verfügung.");
    if (o.graphMode == 1)
        return QStringLiteral(
            "--graph quartal: Diese Darstellung steht Ihnen nicht zur Verfügung.");
    if (o.tableMode == 3)
        return QStringLiteral(
            "--table vorjahr: Diese Darstellung steht Ihnen nicht zur Verfügung.");
    return {};
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

QString usageText() {
    return QStringLiteral(
        "Aufruf: tallvero-report AUSGABE... [OPTIONEN]\n"
        "\n"
        "Meldet sich wie Tallvero am Server an, holt die Monatswerte der letzten sechs Jahre\n"
        "für eine Auswahl, zeichnet die Berichtsseite und schreibt sie als PDF, PNG oder SVG,\n"
        "die Wertetabelle als CSV und die Tabellen mit der Seite als JSON.\n"
        "\n"
        "Verbindung und Anmeldung (Standard: die Einstellungen von Tallvero):\n"
        "  --server S        Server: embedded, eine Datei *.sqlite oder ein PostgreSQL-Rechner\n"
        "                    (Einstellung „Server“, sonst embedded)\n"
        "  --port P          Port (Einstellung „Port“, sonst 1972)\n"
        "  --firma F         Firma (Einstellung „Firma“, sonst 1)\n"
        "  --filiale F       Filiale (Einstellung „Filiale“, sonst 0)\n"
        "  --user CODE       Personalcode (Einstellung „Name“)\n"
        "  --password PW     Passwort; besser die Umgebungsvariable TALLVERO_PASSWORD, denn\n"
        "                    Optionen sind für andere Benutzer in der Prozessliste sichtbar\n"
        "\n"
        "Auswahl (Codes wie in den Listen des Hauptfensters; ohne Angabe: alle):\n"
        "  --pc CODE         Profitcenter\n"
        "  --habt CODE       Hauptabteilung\n"
        "  --abt CODE        Abteilung\n"
        "  --hg CODE         Hauptgruppe\n"
        "  --ug CODE         Untergruppe\n"
        "  --hkg P|G         Hauptkundengruppe (Privat, Gewerbe)\n"
        "  --hvart L|S       Hauptversandart (Lager, Strecke)\n"
        "  --extended        Erweiterte Auswahl, mit:\n"
        "    --styp A|L|B|W  Artikeltyp (Alle, Lager, Bestell, Wert; Standard A)\n"
        "    --vart CODE     Versandart\n"
        "    --skonto        Skonto/Nachlass statt Umsatz/DB\n"
        "\n"
        "Darstellung:\n"
        "  --graph jahresmittel|quartal|absolut          Graph (Standard jahresmittel)\n"
        "  --db-percent                                  DB in % von Umsatz\n"
        "  --table kumuliert|absolut|mittel|vorjahr|graph  Tabelle (Standard mittel)\n"
        "  --year kj|wj                                  Kalender- oder Wirtschaftsjahr (Standard "
        "kj)\n"
        "  --today JJJJ-MM-TT                            so rechnen, als wäre heute dieser Tag\n"
        "\n"
        "Ausgabe (mindestens eine):\n"
        "  --json DATEI      Wertetabellen, Achsen und Seite als JSON; „-“ schreibt auf die\n"
        "                    Standardausgabe\n"
        "  --pdf DATEI       die Seite als PDF (A4 quer)\n"
        "  --png DATEI       die Seite als PNG, mit:\n"
        "    --dpi N         Auflösung, 30 bis 1200 (Standard 150)\n"
        "  --svg DATEI       die Seite als SVG\n"
        "  --csv DATEI       die Wertetabelle der Seite als CSV (UTF-8, „;“ zwischen Feldern)\n"
        "  --details DATEI   die Details (eine Zeile je Gruppe unter der Auswahl) als CSV, mit:\n"
        "    --split none|hkg|hvart     Aufteilung: keine, Hauptkundengruppen (Standard),\n"
        "                               Hauptversandart\n"
        "    --jahr 0|1|2               laufendes Jahr (Standard), Vorjahr, Mittel der drei\n"
        "                               Jahre davor\n"
        "    --monat N                  Monatswerte des Monats N (1 bis 12) statt Jahreswerte\n"
        "    --gruppierung pc|habt      ohne Auswahl: nach Profitcenter oder nach\n"
        "                               Hauptabteilungen (Standard) aufteilen\n"
        "  --help            diese Hilfe\n"
        "\n"
        "Meldungen des Programms erscheinen auf der Standardfehlerausgabe.\n"
        "Rückgabewerte: 0 erfolgreich, 1 Anmeldung, Berechtigung oder Datenabfrage\n"
        "fehlgeschlagen, 2 falscher Aufruf.\n"
        "\n"
        "Beispiel:\n"
        "  read -rs TALLVERO_PASSWORD; export TALLVERO_PASSWORD\n"
        "  tallvero-report --user DEMO --habt 10 --hkg P --today 2024-01-15 --pdf bericht.pdf\n"
        "\n"
        "Beschreibung: docs/tallvero-report.md\n");
}

ParseResult parseArguments(const QStringList& args, const platform::SettingsStore& settings,
                           const std::optional<QString>& environmentPassword) {
    ParseResult r;
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        r.kind = ParseResult::Kind::Help;
        return r;
    }
    QHash<QString, QString> values;
    QSet<QString> flags;
    try {
        for (int i = 0; i < args.size(); ++i) {
            const QString& word = args[i];
            // Not echoed: a stray word is often a password typed without --password.
            if (!word.startsWith(QLatin1String("--")))
                throw UsageError{QStringLiteral("Unerwartetes Argument an Stelle %1: Optionen "
                                                "beginnen mit --")
                                     .arg(i + 1)};
            const qsizetype eq = word.indexOf(QLatin1Char('='));
            const QString name = eq < 0 ? word : word.left(eq);
            if (kFlagOptions.contains(name)) {
                if (eq >= 0)
                    throw UsageError{
                        QStringLiteral("Die Option %1 erwartet keinen Wert").arg(name)};
                flags.insert(name);
            } else if (kValueOptions.contains(name)) {
                QString value;
                if (eq >= 0) {
                    value = word.mid(eq + 1);
                } else {
                    // "-" alone is a value (stdout); another option is not.
                    if (i + 1 >= args.size() || args[i + 1].startsWith(QLatin1String("--")))
                        throw UsageError{
                            QStringLiteral("Die Option %1 braucht einen Wert").arg(name)};
                    value = args[++i];
                }
                values.insert(name, value);
            } else {
                throw UsageError{QStringLiteral("Unbekannte Option %1").arg(name)};
            }
        }
        r.options = buildOptions(values, flags, settings, environmentPassword);
        r.kind = ParseResult::Kind::Run;
    } catch (const UsageError& e) {
        r.kind = ParseResult::Kind::Usage;
        r.error = e.text;
    }
    return r;
}

QJsonObject optionsJson(const Options& o) {
    auto text = [](const QString& s) { return s.isEmpty() ? QJsonValue() : QJsonValue(s); };
    QJsonObject j;
    j.insert(QStringLiteral("server"), o.server);
    j.insert(QStringLiteral("port"), o.port);
    j.insert(QStringLiteral("firma"), o.firma);
    j.insert(QStringLiteral("filiale"), o.filiale);
    j.insert(QStringLiteral("user"), o.user);
    j.insert(QStringLiteral("pc"), text(o.pc));
    j.insert(QStringLiteral("habt"), text(o.habt));
    j.insert(QStringLiteral("abt"), text(o.abt));
    j.insert(QStringLiteral("hg"), text(o.hg));
    j.insert(QStringLiteral("ug"), text(o.ug));
    j.insert(QStringLiteral("hkg"), text(o.hkg));
    j.insert(QStringLiteral("hvart"), text(o.hvart));
    j.insert(QStringLiteral("extended"), o.extended);
    j.insert(QStringLiteral("styp"), o.extended ? QJsonValue(o.styp) : QJsonValue());
    j.insert(QStringLiteral("vart"), o.extended ? text(o.vart) : QJsonValue());
    j.insert(QStringLiteral("skonto"), o.extended && o.skonto);
    j.insert(QStringLiteral("graph"), kGraphNames.value(o.graphMode));
    j.insert(QStringLiteral("db-percent"), o.dbPercent);
    j.insert(QStringLiteral("table"), kTableNames.value(o.tableMode));
    j.insert(QStringLiteral("year"), kYearNames.value(o.yearMode));
    j.insert(QStringLiteral("today"),
             o.today.isValid() ? QJsonValue(o.today.toString(Qt::ISODate)) : QJsonValue());
    j.insert(QStringLiteral("json"), text(o.json));
    j.insert(QStringLiteral("pdf"), text(o.pdf));
    j.insert(QStringLiteral("png"), text(o.png));
    j.insert(QStringLiteral("dpi"), o.png.isEmpty() ? QJsonValue() : QJsonValue(o.dpi));
    j.insert(QStringLiteral("svg"), text(o.svg));
    j.insert(QStringLiteral("csv"), text(o.csv));
    j.insert(QStringLiteral("details"), text(o.details));
    if (!o.details.isEmpty()) {
        j.insert(QStringLiteral("split"), o.splitMask == 1   ? QStringLiteral("none")
                                          : o.splitMask == 2 ? QStringLiteral("hkg")
                                                             : QStringLiteral("hvart"));
        j.insert(QStringLiteral("jahr"), o.yearChoice);
        j.insert(QStringLiteral("monat"), o.month > 0 ? QJsonValue(o.month) : QJsonValue());
        j.insert(QStringLiteral("gruppierung"),
                 o.groupByPc ? QStringLiteral("pc") : QStringLiteral("habt"));
    }
    return j;
}

int run(const QStringList& args, ReportContext& context) {
    QTextStream& err = context.err;
    const ParseResult parsed = parseArguments(args, context.settings, context.environmentPassword);
    if (parsed.kind == ParseResult::Kind::Help) {
        context.out << usageText() << Qt::flush;
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
    ReportHost host(o);

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

        try {
            level = session.CheckPermission();
        } catch (const cache::CacheError& e) {
            // Rights that cannot be read are no rights, as in the client.
            session.ShowAccessError(QStringLiteral("Überprüfung Berechtigung"), e);
            level = -1;
        }
        if (level == -1) {
            ui.message(QStringLiteral("Abbruch!"),
                       QStringLiteral("Sie haben keine Berchtigung für dieses Programm."),
                       platform::MsgIcon::Stop, platform::MsgButtons::Ok);
            return kExitFailed;
        }
        if (level == mw::kRestrictedLevel) {
            const QString refusal = restrictedRefusal(o);
            if (!refusal.isEmpty()) return fail(refusal);
        }

        today = clock.now().date();
        outcome = retrieval::runPeriodQuery(session, ui, clock, store, host);
        if (host.pageDue()) {
            inputs = bareInputs(o);
            namesRead = readNames(session, o, inputs);
            inputs.now = clock.now();
            report::Zeichnen(surface, store, inputs, &axes);
            drawn = true;
        }
        if (!o.details.isEmpty() && outcome.result != retrieval::FetchResult::Refused) {
            ui.yes = o.groupByPc;
            DetailsHost dh(o, session, clock.now().date().year(), o.yearMode,
                           level == mw::kRestrictedLevel);
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
