// tallvero-db: administration of the server database (schema, demo data,
// CSV imports, users, permissions, rebuild of the period sums, overview).

#include "platform/cache/ConnectString.h"
#include "platform/cache/Factory.h"
#include "platform/cache/server/Admin.h"
#include "platform/cache/server/Batches.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/Import.h"
#include "platform/cache/server/SalesImport.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/Text.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QTextStream>
#include <csignal>
#include <cstdio>
#include <pwd.h>
#include <termios.h>
#include <unistd.h>

using namespace cache;
using namespace cache::server;

namespace {

QTextStream out(stdout);
QTextStream cerr(stderr);

constexpr int kOk = 0, kFailed = 1, kUsage = 2;

const char* const kGeneralHelp =
    "Aufruf: tallvero-db [--server S] [--port P] BEFEHL [OPTIONEN]\n"
    "\n"
    "Verwaltet die Datenbank des Tallvero-Servers.\n"
    "  --server S   embedded (Standard: die Datei des Benutzers), eine Datei *.sqlite\n"
    "               oder ein PostgreSQL-Rechner (Datenbank zorvek; Benutzer und Passwort\n"
    "               über PGUSER, ~/.pgpass; ein Benutzer mit CREATEROLE, dem die Tabellen\n"
    "               gehören)\n"
    "  --port P     Port des PostgreSQL-Servers (Standard 5432)\n"
    "  --version    Version anzeigen\n"
    "\n"
    "Befehle:\n"
    "  init            Schema anlegen\n"
    "  demo            Demodaten erzeugen\n"
    "  import-sales    Verkaufszeilen aus CSV importieren\n"
    "  batches         Importierte Stapel anzeigen\n"
    "  batch remove    Die Zeilen eines Stapels entfernen\n"
    "  import          Stammdaten aus CSV importieren\n"
    "  user            Benutzer anlegen und ändern\n"
    "  permission      Berechtigungsstufe setzen\n"
    "  generate        Periodensummen neu aufbauen\n"
    "  verify          Periodensummen mit den Verkaufszeilen vergleichen\n"
    "  info            Inhalt der Datenbank anzeigen\n"
    "\n"
    "„tallvero-db BEFEHL --help“ zeigt die Optionen eines Befehls.\n"
    "Rückgabewerte: 0 erfolgreich, 1 Fehler bei der Ausführung, 2 falscher Aufruf.\n";

QHash<QString, const char*> commandHelp() {
    return {
        {QStringLiteral("init"), "Aufruf: tallvero-db [--server S] init [--force]\n"
                                 "Legt das Schema an (fehlende Tabellen). --force löscht vorher alle Tabellen.\n"},
        {QStringLiteral("demo"),
         "Aufruf: tallvero-db [--server S] demo [--seed N] [--lines N] [--until JJJJ-MM] [--force]\n"
         "Erzeugt das Demounternehmen: Stammdaten, Benutzer, Verkaufszeilen bis zum Monat\n"
         "--until (Standard: Vormonat) und die Periodensummen. Standard: 200000 Zeilen.\n"
         "--force löscht eine vorhandene Datenbank vorher.\n"},
        {QStringLiteral("import-sales"),
         "Aufruf: tallvero-db [--server S] import-sales DATEI.csv [--replace-periods] [--force]\n"
         "        [--no-generate] [--allow-unknown] [--encoding utf-8|windows-1252|iso-8859-15]\n"
         "Importiert Verkaufszeilen (Spalten siehe „man tallvero-db“) als einen Stapel, ganz "
         "oder\n"
         "gar nicht: eine fehlerhafte Zeile wird mit Zeilennummer gemeldet, dann bleibt die "
         "Datenbank,\n"
         "wie sie war. Die Periodensummen der betroffenen Perioden werden im selben Lauf neu\n"
         "aufgebaut.\n"
         "  --replace-periods  ersetzt alle vorhandenen Zeilen jeder (Firma, Periode) der Datei\n"
         "  --force            importiert auch einen schon importierten Inhalt\n"
         "  --no-generate      baut die Periodensummen nicht auf (danach „generate“)\n"
         "  --allow-unknown    importiert Zeilen mit Codes, die in den Stammdaten fehlen "
         "(Warnung)\n"
         "  --encoding E       Zeichensatz der Datei, Standard utf-8\n"},
        {QStringLiteral("batches"), "Aufruf: tallvero-db [--server S] batches\n"
                                    "Zeigt die importierten Stapel.\n"},
        {QStringLiteral("batch"),
         "Aufruf: tallvero-db [--server S] batch remove N [--no-generate]\n"
         "Entfernt die Zeilen des Stapels N und baut deren Perioden neu auf.\n"},
        {QStringLiteral("verify"),
         "Aufruf: tallvero-db [--server S] verify [VON BIS] [--firma F]\n"
         "Vergleicht jede Periodensummentabelle mit den Verkaufszeilen und meldet jede Abweichung\n"
         "(Rückgabewert 1, wenn es eine gibt). Ohne Perioden: alle.\n"},
        {QStringLiteral("import"),
         "Aufruf: tallvero-db [--server S] import ART DATEI.csv\n"
         "Importiert Stammdaten; vorhandene Sätze mit gleichem Schlüssel werden ersetzt.\n"
         "ART: firma, profitcenter, hauptabteilung, abteilung, hauptgruppe, untergruppe,\n"
         "     versandart, personal, personalabteilung, personalbasis\n"},
        {QStringLiteral("user"),
         "Aufruf: tallvero-db [--server S] user add CODE --name N --pnr N --abt A [--firma F]\n"
         "        tallvero-db [--server S] user password CODE [--firma F]\n"
         "        tallvero-db [--server S] user activate|deactivate CODE [--firma F]\n"
         "        tallvero-db [--server S] user department CODE --abt A [--firma F]\n"
         "Das Passwort wird von der Eingabe gelesen (am Terminal ohne Anzeige), nie von der\n"
         "Befehlszeile. Auf PostgreSQL ist jeder Personalcode eine Rolle gleichen Namens, deren\n"
         "Passwort PostgreSQL verwahrt. Firma: Standard 1.\n"},
        {QStringLiteral("permission"),
         "Aufruf: tallvero-db [--server S] permission BENUTZER STUFE [--part TEIL]\n"
         "Setzt die Berechtigungsstufe für Tallvero (-1 keine, 5 nur eigene Abteilung,\n"
         "sonst voll). TEIL: Standard „alles“.\n"},
        {QStringLiteral("generate"),
         "Aufruf: tallvero-db [--server S] generate VON BIS [--firma F]\n"
         "Baut die Periodensummen der Perioden VON bis BIS (Form 12401 = Jänner 2024) neu auf,\n"
         "für eine Firma oder alle.\n"},
        {QStringLiteral("info"), "Aufruf: tallvero-db [--server S] info\nZeigt, was die Datenbank enthält.\n"},
    };
}

struct Args {
    QStringList positional;
    QHash<QString, QString> options;  // name -> value ("" for flags)
    bool help = false;
    bool version = false;
};

// Options with a value; everything else starting with -- is a flag.
const QStringList kValueOptions = {"--server", "--port", "--seed", "--lines", "--until",  "--firma",
                                   "--name",   "--pnr",  "--abt",  "--part",  "--encoding"};
// --generate is what import-sales does anyway; older scripts still pass it.
const QStringList kFlags = {"--force",           "--generate",    "--help",
                            "--replace-periods", "--no-generate", "--allow-unknown"};

bool parse(const QStringList& argv, Args* a, QString* why) {
    for (int i = 0; i < argv.size(); ++i) {
        const QString& w = argv[i];
        // Anything on the command line shows in the process list.
        if (w.startsWith(QLatin1String("--password"))) {
            *why = QStringLiteral("Passwörter werden nicht auf der Befehlszeile angenommen (dort "
                                  "stünden sie in der Prozessliste); tallvero-db liest das "
                                  "Passwort von der Eingabe");
            return false;
        }
        if (w == QLatin1String("-h") || w == QLatin1String("--help")) {
            a->help = true;
        } else if (w == QLatin1String("--version")) {
            a->version = true;
        } else if (kValueOptions.contains(w)) {
            if (i + 1 >= argv.size()) {
                *why = QStringLiteral("Option %1 braucht einen Wert").arg(w);
                return false;
            }
            a->options.insert(w, argv[++i]);
        } else if (kFlags.contains(w)) {
            a->options.insert(w, QString());
        } else if (w.startsWith(QLatin1String("--"))) {
            *why = QStringLiteral("Unbekannte Option %1").arg(w.section(QLatin1Char('='), 0, 0));
            return false;
        } else {
            a->positional << w;
        }
    }
    return true;
}

struct UsageError {
    QString text;
};

qint64 firmaOption(const Args& a) {
    const QString v = a.options.value(QStringLiteral("--firma"), QStringLiteral("1"));
    const qint64 f = parseCompany(v);
    if (f < 0)
        throw UsageError{QStringLiteral("Ungültige Firma „%1“").arg(v)};
    return f;
}

qint64 numberOption(const Args& a, const char* name, qint64 def) {
    const QString key = QLatin1String(name);
    if (!a.options.contains(key))
        return def;
    bool ok = false;
    const qint64 v = a.options.value(key).toLongLong(&ok);
    if (!ok || v < 0)
        throw UsageError{QStringLiteral("Ungültiger Wert für %1: „%2“").arg(key, a.options.value(key))};
    return v;
}

QString readPassword() {
    cerr << "Passwort: " << Qt::flush;
    termios old{};
    const bool tty = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &old) == 0;
    if (tty) {
        termios quiet = old;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    QTextStream in(stdin);
    const QString p = in.readLine();
    if (tty) {
        tcsetattr(STDIN_FILENO, TCSANOW, &old);
        cerr << "\n";
    }
    return p;
}

// One line per stage and ten per cent; redrawn in place on a terminal.
void progressLine(const DemoProgress& p) {
    static QString stage;
    static int shown = -1;
    static const bool tty = isatty(STDERR_FILENO);
    const int pct = p.total > 0 ? int(p.done * 100 / p.total) : 0;
    const int step = tty ? pct : pct / 10 * 10;
    if (p.stage == stage && step == shown)
        return;
    if (tty && p.stage != stage && !stage.isEmpty())
        cerr << "\n";
    stage = p.stage;
    shown = step;
    cerr << (tty ? "\r" : "") << p.stage << " .. " << step << " %" << (tty ? "   " : "\n") << Qt::flush;
    if (tty && p.stage == QLatin1String("Fertig"))
        cerr << "\n";
}

void requireCount(const Args& a, int n, const QString& cmd) {
    if (a.positional.size() != n)
        throw UsageError{QStringLiteral("Falsche Anzahl Argumente für %1").arg(cmd)};
}

QString osUser() {
    if (const passwd* pw = getpwuid(geteuid())) return QString::fromLocal8Bit(pw->pw_name);
    return qEnvironmentVariable("USER");
}

// Tests stop the process at a stage of the import and kill it there:
// TALLVERO_FAULT_IMPORT_HOLD=lines|generate|commit.
void holdAt(const char* stage) {
    static const QByteArray hold = qgetenv("TALLVERO_FAULT_IMPORT_HOLD");
    if (hold.isEmpty() || hold != stage) return;
    std::fprintf(stderr, "HALT %s\n", stage);
    std::fflush(stderr);
    for (;;)
        pause();
}

int importSalesCommand(Store& store, const QString& file, SalesImportOptions o,
                       const QElapsedTimer& t) {
    o.fileName = QFileInfo(file).fileName();
    o.osUser = osUser();
    o.progress = [](qint64 read, qint64 total, qint64) {
        progressLine({QStringLiteral("Verkaufszeilen lesen"), read, total > 0 ? total : read});
    };
    o.rebuildProgress = [](int done, int total) {
        progressLine({QStringLiteral("Periodensummen aufbauen"), done, total});
    };
    o.stage = holdAt;
    const SalesImportResult r = importSalesFile(store, file, o);
    const double s = double(t.nsecsElapsed()) / 1e9;
    for (const QString& w : r.warnings)
        cerr << "Warnung: " << w << "\n";
    if (r.warningLines > r.warnings.size()) cerr << "… weitere Warnungen nicht angezeigt\n";
    if (r.duplicate) {
        cerr << duplicateMessage(o.fileName, *r.duplicate) << "\n";
        return kFailed;
    }
    if (!r.ok()) {
        for (const QString& e : r.errors)
            cerr << e << "\n";
        if (r.moreErrors) cerr << "… weitere Fehler nicht angezeigt\n";
        cerr << "Nichts importiert.\n";
        return kFailed;
    }
    if (r.lines == 0) {
        out << "Die Datei enthält keine Verkaufszeilen; nichts geändert.\n";
        return kOk;
    }
    progressLine({QStringLiteral("Fertig"), 1, 1});
    out << r.lines << " Zeilen importiert als Stapel " << r.batch << ", Perioden " << r.firstPeriod
        << " bis " << r.lastPeriod << " ("
        << QStringLiteral("%1 s, %2 Zeilen/s")
               .arg(s, 0, 'f', 2)
               .arg(s > 0 ? qint64(double(r.lines) / s) : 0)
        << ")\n";
    if (r.warningLines > 0)
        out << r.warningLines
            << " Zeilen mit Codes, die in den Stammdaten fehlen (--allow-unknown)\n";
    if (o.replacePeriods)
        out << r.replacedLines << " ältere Zeilen in " << r.periods.size() << " Perioden ersetzt\n";
    if (r.generated)
        out << "Periodensummen von " << r.periods.size() << " Perioden neu aufgebaut\n";
    else
        out << "Hinweis: Periodensummen mit „tallvero-db generate " << r.firstPeriod << " "
            << r.lastPeriod << "“ neu aufbauen.\n";
    return kOk;
}

int run(const QString& cmd, const Args& a) {
    const QString server = a.options.value(QStringLiteral("--server"), QStringLiteral("embedded"));
    const QString port = a.options.value(QStringLiteral("--port"), QStringLiteral("5432"));
    const DatabaseTarget target = targetFor({server, port, QStringLiteral("ZORVEK")});
    if (target.engine == Engine::Postgres && target.port < 0)
        throw UsageError{QStringLiteral("Ungültiger Port „%1“").arg(port)};

    // Validate the arguments before touching the database.
    const QStringList& p = a.positional;
    if (cmd == QLatin1String("init") || cmd == QLatin1String("demo") || cmd == QLatin1String("info"))
        requireCount(a, 0, cmd);
    DemoOptions demo;
    if (cmd == QLatin1String("demo")) {
        demo.seed = quint64(numberOption(a, "--seed", qint64(demo.seed)));
        demo.lines = numberOption(a, "--lines", demo.lines);
        if (a.options.contains(QStringLiteral("--until"))) {
            static const QRegularExpression ym(QStringLiteral("\\A(\\d{4})-(\\d{2})\\z"));
            const auto m = ym.match(a.options.value(QStringLiteral("--until")));
            if (!m.hasMatch() || m.captured(2).toInt() < 1 || m.captured(2).toInt() > 12)
                throw UsageError{QStringLiteral("--until erwartet JJJJ-MM, z. B. 2024-03")};
            demo.untilYear = m.captured(1).toInt();
            demo.untilMonth = m.captured(2).toInt();
        }
    }
    int from = -1, to = -1;
    if (cmd == QLatin1String("verify")) {
        if (p.size() != 0 && p.size() != 2)
            throw UsageError{QStringLiteral("verify erwartet keine oder zwei Perioden")};
    }
    if (cmd == QLatin1String("generate") || (cmd == QLatin1String("verify") && p.size() == 2)) {
        requireCount(a, 2, cmd);
        from = parsePeriod(p[0]);
        to = parsePeriod(p[1]);
        if (from < 0 || to < 0)
            throw UsageError{QStringLiteral("Perioden in der Form 12401 (Jahr − 1900, Monat) angeben")};
        if (from > to)
            throw UsageError{QStringLiteral("Die Startperiode liegt nach der Endperiode")};
    }
    ImportKind kind = ImportKind::Sales;
    QString file;
    SalesImportOptions sales;
    if (cmd == QLatin1String("import-sales")) {
        requireCount(a, 1, cmd);
        file = p[0];
        if (a.options.contains(QStringLiteral("--encoding")) &&
            !encodingFromName(a.options.value(QStringLiteral("--encoding")), &sales.encoding))
            throw UsageError{QStringLiteral("Unbekannter Zeichensatz „%1“ (utf-8, windows-1252, "
                                            "iso-8859-15)")
                                 .arg(a.options.value(QStringLiteral("--encoding")))};
        sales.force = a.options.contains(QStringLiteral("--force"));
        sales.replacePeriods = a.options.contains(QStringLiteral("--replace-periods"));
        sales.generate = !a.options.contains(QStringLiteral("--no-generate"));
        sales.allowUnknown = a.options.contains(QStringLiteral("--allow-unknown"));
        if (a.options.contains(QStringLiteral("--generate")) && !sales.generate)
            throw UsageError{QStringLiteral("--generate und --no-generate schließen sich aus")};
    }
    qint64 batchNumber = 0;
    if (cmd == QLatin1String("batches")) requireCount(a, 0, cmd);
    if (cmd == QLatin1String("batch")) {
        if (p.size() != 2 || p[0] != QLatin1String("remove"))
            throw UsageError{QStringLiteral("batch erwartet „remove N“")};
        bool ok = false;
        batchNumber = p[1].toLongLong(&ok);
        if (!ok || batchNumber <= 0)
            throw UsageError{QStringLiteral("Ungültige Stapelnummer „%1“").arg(p[1])};
    } else if (cmd == QLatin1String("import")) {
        requireCount(a, 2, cmd);
        if (!importKindFromName(p[0], &kind) || kind == ImportKind::Sales)
            throw UsageError{QStringLiteral("Unbekannte Stammdatenart „%1“").arg(p[0])};
        file = p[1];
    }
    int level = 0;
    if (cmd == QLatin1String("permission")) {
        requireCount(a, 2, cmd);
        bool ok = false;
        level = p[1].toInt(&ok);
        if (!ok)
            throw UsageError{QStringLiteral("Die Stufe muss eine ganze Zahl sein")};
    }
    if (cmd == QLatin1String("user") && p.size() != 2)
        throw UsageError{QStringLiteral("user erwartet eine Aktion und einen Personalcode")};

    Database db(target);
    Store store(db);
    QElapsedTimer t;
    t.start();
    auto rate = [&](qint64 lines) {
        const double s = double(t.nsecsElapsed()) / 1e9;
        return QStringLiteral("%1 s, %2 Zeilen/s")
            .arg(s, 0, 'f', 2)
            .arg(s > 0 ? qint64(double(lines) / s) : 0);
    };

    if (cmd == QLatin1String("init")) {
        if (a.options.contains(QStringLiteral("--force")))
            dropSchema(db);
        createSchema(db);
        upgradeSchema(db);
        out << "Schema bereit: " << describe(target) << "\n";
        return kOk;
    }
    if (cmd == QLatin1String("demo")) {
        if (a.options.contains(QStringLiteral("--force")))
            dropSchema(db);
        createSchema(db);
        const DemoSummary s = generateDemo(store, demo, progressLine);
        out << "Demodaten erzeugt: " << s.lines << " Verkaufszeilen, Perioden " << s.firstPeriod
            << " bis " << s.lastPeriod << " (" << rate(s.lines) << ")\n";
        return kOk;
    }
    if (cmd == QLatin1String("info")) {
        if (!hasSchema(db)) {
            cerr << "Die Datenbank hat noch kein Schema (tallvero-db init)\n";
            return kFailed;
        }
        upgradeSchema(db);
        for (const QString& line : databaseInfo(store))
            out << line << "\n";
        return kOk;
    }
    if (!hasSchema(db)) {
        cerr << "Die Datenbank hat noch kein Schema (tallvero-db init)\n";
        return kFailed;
    }
    upgradeSchema(db);
    if (cmd == QLatin1String("import-sales")) return importSalesCommand(store, file, sales, t);
    if (cmd == QLatin1String("batches")) {
        const QList<BatchInfo> all = listBatches(db);
        if (all.isEmpty()) {
            out << "Noch keine Stapel importiert.\n";
            return kOk;
        }
        for (const BatchInfo& b : all) {
            out << "Stapel " << b.batch << ": " << b.importedAt << ", „" << b.fileName << "“, "
                << b.lineCount << " Zeilen, Firma " << b.companies << ", Perioden " << b.firstPeriod
                << " bis " << b.lastPeriod << ", SHA-256 " << b.sha256.left(16) << "…, von "
                << b.osUser
                << (b.dbUser.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(b.dbUser));
            if (b.replacedLines > 0) out << ", " << b.replacedLines << " ältere Zeilen ersetzt";
            if (!b.options.isEmpty()) out << ", " << b.options;
            if (!b.removedAt.isEmpty()) out << ", entfernt am " << b.removedAt;
            out << "\n";
        }
        return kOk;
    }
    if (cmd == QLatin1String("batch")) {
        const RemovedBatch r =
            removeBatch(store, batchNumber, !a.options.contains(QStringLiteral("--no-generate")),
                        [](int done, int total) {
                            progressLine({QStringLiteral("Periodensummen aufbauen"), done, total});
                        });
        out << "Stapel " << batchNumber << " entfernt: " << r.lines << " Zeilen";
        if (a.options.contains(QStringLiteral("--no-generate")))
            out << "; Periodensummen nicht neu aufgebaut (generate)\n";
        else
            out << ", Periodensummen von " << r.periods.size() << " Perioden neu aufgebaut\n";
        return kOk;
    }
    if (cmd == QLatin1String("verify")) {
        std::optional<qint64> firma;
        if (a.options.contains(QStringLiteral("--firma"))) firma = firmaOption(a);
        const VerifyResult v =
            verifySums(db, std::max(from, 0), std::max(to, 0), firma, 100, [](int done, int total) {
                progressLine({QStringLiteral("Perioden prüfen"), done, total});
            });
        for (const SumDifference& d : v.listed)
            out << d.table << " Firma " << d.firma << " Periode " << d.periode << " [" << d.key
                << "]: gespeichert " << d.stored << "; aus den Verkaufszeilen " << d.computed
                << "\n";
        if (v.differences > v.listed.size())
            out << "… " << (v.differences - v.listed.size()) << " weitere Abweichungen\n";
        if (v.differences > 0) {
            out << v.differences << " Abweichungen in " << v.periods
                << " geprüften Perioden; „tallvero-db generate“ baut die Summen neu auf.\n";
            return kFailed;
        }
        out << "Keine Abweichung: " << v.rows << " Summenzeilen in " << v.periods
            << " Perioden mit " << v.lines << " Verkaufszeilen geprüft (" << rate(v.lines) << ")\n";
        return kOk;
    }
    if (cmd == QLatin1String("generate")) {
        QList<qint64> firms;
        if (a.options.contains(QStringLiteral("--firma"))) {
            firms << firmaOption(a);
        } else {
            QSqlQuery& q = db.exec(QStringLiteral("SELECT firma FROM firma ORDER BY firma"));
            while (q.next())
                firms << q.value(0).toLongLong();
            q.finish();
        }
        qint64 lines = 0;
        for (qint64 f : firms)
            lines += store.generate(f, from, to, [&](const GenerateProgress& g) {
                progressLine({QStringLiteral("Periodensummen aufbauen (Firma %1)").arg(f), g.done, g.total});
                return true;
            });
        progressLine({QStringLiteral("Fertig"), 1, 1});
        out << "Periodensummen " << from << " bis " << to << " aufgebaut (" << rate(lines) << ")\n";
        return kOk;
    }
    if (cmd == QLatin1String("import")) {
        const ImportResult r = importCsvFile(store, kind, file);
        if (!r.ok()) {
            for (const QString& e : r.errors)
                cerr << e << "\n";
            if (r.moreErrors)
                cerr << "… weitere Fehler nicht angezeigt\n";
            cerr << "Nichts importiert.\n";
            return kFailed;
        }
        out << r.rows << " Zeilen importiert (" << rate(r.rows) << ")\n";
        return kOk;
    }
    if (cmd == QLatin1String("permission")) {
        setPermission(store, p[0], level, a.options.value(QStringLiteral("--part"), QStringLiteral("alles")));
        out << "Berechtigung von " << p[0] << " auf " << level << " gesetzt\n";
        return kOk;
    }
    if (cmd == QLatin1String("user")) {
        const QString action = p[0];
        const QString code = p[1].toUpper();
        const qint64 firma = firmaOption(a);
        if (action == QLatin1String("add")) {
            NewUser u;
            u.firma = firma;
            u.code = code;
            u.name = a.options.value(QStringLiteral("--name"));
            u.pnr = a.options.value(QStringLiteral("--pnr"));
            u.abtnr = a.options.value(QStringLiteral("--abt"));
            u.password = readPassword();
            addUser(store, u);
            out << "Benutzer " << code << " in Firma " << firma << " angelegt\n";
        } else if (action == QLatin1String("password")) {
            setPassword(store, firma, code, readPassword());
            out << "Passwort von " << code << " geändert\n";
        } else if (action == QLatin1String("activate") || action == QLatin1String("deactivate")) {
            setActive(store, firma, code, action == QLatin1String("activate"));
            out << "Benutzer " << code << (action == QLatin1String("activate") ? " aktiviert\n" : " deaktiviert\n");
        } else if (action == QLatin1String("department")) {
            setDepartment(store, firma, code, a.options.value(QStringLiteral("--abt")));
            out << "Abteilung von " << code << " geändert\n";
        } else {
            throw UsageError{QStringLiteral("Unbekannte Aktion „%1“ für user").arg(action)};
        }
        return kOk;
    }
    throw UsageError{QStringLiteral("Unbekannter Befehl „%1“").arg(cmd)};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Tallvero"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tallvero"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLVERO_VERSION));
    QStringList words = QCoreApplication::arguments().mid(1);
    Args args;
    QString why;
    if (!parse(words, &args, &why)) {
        cerr << why << "\n\n" << kGeneralHelp;
        return kUsage;
    }
    if (args.version) {
        out << "tallvero-db " << QCoreApplication::applicationVersion() << "\n";
        return kOk;
    }
    if (args.positional.isEmpty()) {
        if (args.help) {
            out << kGeneralHelp;
            return kOk;
        }
        cerr << "Kein Befehl angegeben.\n\n" << kGeneralHelp;
        return kUsage;
    }
    const QString cmd = args.positional.takeFirst();
    const auto help = commandHelp();
    if (!help.contains(cmd)) {
        cerr << "Unbekannter Befehl „" << cmd << "“\n\n" << kGeneralHelp;
        return kUsage;
    }
    if (args.help) {
        out << help.value(cmd);
        return kOk;
    }
    try {
        return run(cmd, args);
    } catch (const UsageError& e) {
        cerr << e.text << "\n\n" << help.value(cmd);
        return kUsage;
    } catch (const CacheError& e) {
        cerr << "\nFehler " << e.number() << ": " << e.description() << "\n";
        return kFailed;
    }
}
