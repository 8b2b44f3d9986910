// The CSV imports (importCsv, importSales, splitCsvLine) into an empty
// database created once: a file imports whole or not at all; a refused
// file leaves every table as it was and the database usable; an accepted
// one holds exactly its rows, and accepted sales lines are in the sums at
// once. After each input the imported rows are deleted again, so the
// database does not grow.
//
// Input: byte 0 picks the kind of file (sales, firma, ...) and, for sales
// lines, the encoding; the rest is the file.

#include "FuzzSupport.h"
#include "platform/cache/Factory.h"
#include "platform/cache/server/Import.h"
#include "platform/cache/server/SalesImport.h"

#include <QBuffer>

namespace {

using cache::server::ImportKind;

const char* const kTables[] = {"sales_line",  "sales_dim",    "firma",       "profitcenter",
                               "hauptabteilung", "abteilung", "hauptgruppe", "untergruppe",
                               "versandart",  "pers_edv",     "pers_abt",    "pers_basis"};

const char* tableOf(ImportKind k) {
    switch (k) {
    case ImportKind::Sales: return "sales_line";
    case ImportKind::Firma: return "firma";
    case ImportKind::Profitcenter: return "profitcenter";
    case ImportKind::Hauptabteilung: return "hauptabteilung";
    case ImportKind::Abteilung: return "abteilung";
    case ImportKind::Hauptgruppe: return "hauptgruppe";
    case ImportKind::Untergruppe: return "untergruppe";
    case ImportKind::Versandart: return "versandart";
    case ImportKind::Personal: return "pers_edv";
    case ImportKind::Personalabteilung: return "pers_abt";
    case ImportKind::Personalbasis: return "pers_basis";
    }
    return "sales_line";
}

qint64 allRows(cache::server::Database& db) {
    qint64 n = 0;
    for (const char* t : kTables)
        n += fuzzsupport::countRows(db, t);
    return n;
}

void emptyTables(cache::server::Database& db, cache::server::Store& store) {
    for (const char* t : kTables)
        db.execDirect(QStringLiteral("DELETE FROM %1").arg(QLatin1String(t)));
    for (const char* t : {"import_batch", "psum_top", "psum_org", "psum_prod", "psum_full",
                          "wsum_top", "wsum_org", "wsum_prod", "wsum_full"})
        db.execDirect(QStringLiteral("DELETE FROM %1").arg(QLatin1String(t)));
    store.resetCaches();
}

// Quoting every field (quotes doubled) and splitting again gives the
// fields back.
void splitRoundTrip(const QString& line, QChar sep) {
    QStringList fields;
    if (!cache::server::splitCsvLine(line, sep, &fields)) {
        FUZZ_CHECK(line.contains(QLatin1Char('"')));
        return;
    }
    FUZZ_CHECK(!fields.isEmpty() && fields.size() <= line.count(sep) + 1);
    if (!line.contains(QLatin1Char('"'))) {
        QStringList plain = line.split(sep);
        for (QString& f : plain)
            f = f.trimmed();
        FUZZ_CHECK(fields == plain);
    }
    QStringList quoted;
    for (QString f : fields)
        quoted << QLatin1Char('"') + f.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                      QLatin1Char('"');
    QStringList again;
    FUZZ_CHECK(cache::server::splitCsvLine(quoted.join(sep), sep, &again));
    FUZZ_CHECK(again == fields);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzsupport::initApp(argc, argv);
    fuzzsupport::openServerDb();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    fuzzsupport::ServerDb& s = fuzzsupport::openServerDb();
    cache::server::Database& db = *s.db;
    cache::server::Store& store = *s.store;

    const QStringList names = cache::server::importKindNames();
    ImportKind kind{};
    FUZZ_CHECK(cache::server::importKindFromName(names.at(data[0] % names.size()), &kind));
    QByteArray file = fuzzsupport::bytes(data + 1, size - 1);
    // Every login's password costs an Argon2id hash (tens of milliseconds
    // by design): a few rows are enough to fuzz them.
    if (kind == ImportKind::Personal) {
        qsizetype at = -1;
        for (int line = 0; line < 9 && (at = file.indexOf('\n', at + 1)) >= 0;)
            ++line;
        if (at >= 0) file.truncate(at + 1);
    }
    QBuffer in(&file);
    in.open(QIODevice::ReadOnly);

    cache::server::ImportResult r;
    try {
        if (kind == ImportKind::Sales) {
            // The empty database has no master data: every code is unknown.
            cache::server::SalesImportOptions o;
            o.allowUnknown = true;
            o.force = true;
            o.encoding = cache::server::SourceEncoding(data[0] / names.size() % 3);
            const cache::server::SalesImportResult s = cache::server::importSales(store, in, o);
            FUZZ_CHECK(!s.duplicate);
            r.errors = s.errors;
            r.moreErrors = s.moreErrors;
            r.rows = s.lines;
            r.companies = s.companies;
            r.firstPeriod = s.firstPeriod;
            r.lastPeriod = s.lastPeriod;
        } else {
            r = cache::server::importCsv(store, kind, in);
        }
    } catch (const std::exception& e) {
        // Every problem of a file is a row error, never an exception.
        std::fprintf(stderr, "import threw: %s\n", e.what());
        std::abort();
    }
    FUZZ_CHECK(r.errors.size() <= cache::server::kMaxImportErrors);
    if (r.moreErrors) FUZZ_CHECK(r.errors.size() >= cache::server::kMaxImportErrors);
    for (const QString& e : r.errors)
        FUZZ_CHECK(e.startsWith(QLatin1String("Zeile ")) ||
                   e.startsWith(QLatin1String("Datenbankfehler, nichts importiert")));
    // The database stays usable whatever the file did, and on an empty
    // database the only error a file that passed the row checks can meet
    // is a key given twice (master data; sales lines have no such key).
    FUZZ_CHECK(!db.connectionLost());
    for (const QString& e : r.errors)
        if (e.startsWith(QLatin1String("Datenbankfehler")))
            FUZZ_CHECK(kind != ImportKind::Sales && e.contains(QLatin1String("UNIQUE")));
    if (!r.ok()) {
        FUZZ_CHECK(r.rows == 0);
        FUZZ_CHECK(allRows(db) == 0);
    } else {
        const qint64 stored = fuzzsupport::countRows(db, tableOf(kind));
        FUZZ_CHECK(allRows(db) == stored + fuzzsupport::countRows(db, "sales_dim"));
        if (kind == ImportKind::Sales) {
            FUZZ_CHECK(stored == r.rows);
            FUZZ_CHECK((r.rows == 0) == r.companies.isEmpty());
            for (int i = 1; i < r.companies.size(); ++i)
                FUZZ_CHECK(r.companies[i - 1] < r.companies[i]);
            if (r.rows > 0) {
                FUZZ_CHECK(r.firstPeriod >= 101 && r.firstPeriod <= r.lastPeriod);
                const qint64 outside = db.scalar(QStringLiteral("SELECT count(*) FROM sales_line "
                                                                "WHERE periode < ? OR periode > ?"),
                                                 {r.firstPeriod, r.lastPeriod})
                                           .toLongLong();
                FUZZ_CHECK(outside == 0);
                const QString total = QStringLiteral("SELECT COALESCE(SUM(umsatz), 0) FROM %1");
                FUZZ_CHECK(db.scalar(total.arg(QLatin1String("sales_line"))).toLongLong() ==
                           db.scalar(total.arg(QLatin1String("psum_top"))).toLongLong());
            }
        } else {
            // The tables start empty, so every accepted row is there once.
            FUZZ_CHECK(stored == r.rows);
        }
        emptyTables(db, store);
    }

    // The record splitter on the lines of the file, with both separators.
    const QStringList lines = fuzzsupport::utf8(data + 1, size - 1).split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size() && i < 8; ++i) {
        splitRoundTrip(lines[i], QLatin1Char(';'));
        splitRoundTrip(lines[i], QLatin1Char(','));
    }
    return 0;
}
