#include "ReportOptions.h"

#include "server/Records.h"

#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

namespace reporttool {

QString quoted(const QString& s) {
    return QStringLiteral("„") + s + QStringLiteral("“");
}

namespace {

const QStringList kGraphNames = {QStringLiteral("jahresmittel"), QStringLiteral("quartal"),
                                 QStringLiteral("absolut")};
const QStringList kTableNames = {QStringLiteral("kumuliert"), QStringLiteral("absolut"),
                                 QStringLiteral("mittel"), QStringLiteral("vorjahr"),
                                 QStringLiteral("graph")};
const QStringList kYearNames = {QStringLiteral("kj"), QStringLiteral("wj")};
const QStringList kEachNames = {QStringLiteral("pc"), QStringLiteral("habt"), QStringLiteral("abt"),
                                QStringLiteral("hg"), QStringLiteral("ug")};

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
    QStringLiteral("--jahr"),    QStringLiteral("--monat"),   QStringLiteral("--gruppierung"),
    QStringLiteral("--book"),    QStringLiteral("--each")};
const QStringList kFlagOptions = {QStringLiteral("--extended"), QStringLiteral("--skonto"),
                                  QStringLiteral("--db-percent")};

// Earliest clock year whose oldest year slot still has a period code.
constexpr int kFirstYear = 1906;

struct UsageError {
    QString text;
};

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
                              {"--png", &o.png},         {"--svg", &o.svg},   {"--csv", &o.csv},
                              {"--book", &o.book}};
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
    if (v.contains(QStringLiteral("--each"))) {
        if (o.book.isEmpty())
            throw UsageError{QStringLiteral("Die Option --each gilt nur zusammen mit --book")};
        o.each = kEachNames.value(
            oneOfNames(QStringLiteral("--each"), v.value(QStringLiteral("--each")), kEachNames));
    }
    if (!o.book.isEmpty()) {
        if (o.each.isEmpty())
            throw UsageError{QStringLiteral("Die Option --book braucht --each %1")
                                 .arg(kEachNames.join(QLatin1Char('|')))};
        // The book is a file of its own; the outputs of one page would
        // show only its first page.
        for (const Output& out : outputs)
            if (out.file != &o.book && !out.file->isEmpty())
                throw UsageError{
                    QStringLiteral("Die Option --book geht nicht zusammen mit %1: die Mappe ist "
                                   "eine Ausgabe für sich")
                        .arg(QLatin1String(out.option))};
    }
    if (o.json.isEmpty() && o.pdf.isEmpty() && o.png.isEmpty() && o.svg.isEmpty() &&
        o.csv.isEmpty() && o.details.isEmpty() && o.book.isEmpty())
        throw UsageError{QStringLiteral("Keine Ausgabe angegeben: --json DATEI (oder --json - für "
                                        "die Standardausgabe), --pdf, --png, --svg, --csv oder "
                                        "--book DATEI")};
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
        "  --book DATEI      die Berichtsmappe als ein PDF (allein, ohne andere Ausgaben):\n"
        "                    erst die Seite der Auswahl, dann eine Seite je Eintrag der Liste\n"
        "    --each pc|habt|abt|hg|ug   Profitcenter, Hauptabteilungen, Abteilungen,\n"
        "                               Hauptgruppen oder Untergruppen, wie das Hauptfenster\n"
        "                               sie zur Auswahl listet; Einträge ohne Werte fehlen\n"
        "  --help            diese Hilfe\n"
        "  --version         Version anzeigen\n"
        "\n"
        "Meldungen des Programms erscheinen auf der Standardfehlerausgabe.\n"
        "Rückgabewerte: 0 erfolgreich, 1 Anmeldung, Berechtigung oder Datenabfrage\n"
        "fehlgeschlagen, 2 falscher Aufruf.\n"
        "\n"
        "Beispiel:\n"
        "  read -rs TALLVERO_PASSWORD; export TALLVERO_PASSWORD\n"
        "  tallvero-report --user DEMO --habt 10 --hkg P --today 2024-01-15 --pdf bericht.pdf\n"
        "  tallvero-report --user DEMO --habt 10 --each abt --book mappe.pdf\n"
        "\n"
        "Beschreibung: „man tallvero-report“ (im Quellbaum docs/tallvero-report.md)\n");
}

ParseResult parseArguments(const QStringList& args, const platform::SettingsStore& settings,
                           const std::optional<QString>& environmentPassword) {
    ParseResult r;
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        r.kind = ParseResult::Kind::Help;
        return r;
    }
    if (args.contains(QStringLiteral("--version"))) {
        r.kind = ParseResult::Kind::Version;
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
    j.insert(QStringLiteral("book"), text(o.book));
    j.insert(QStringLiteral("each"), text(o.each));
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

} // namespace reporttool
