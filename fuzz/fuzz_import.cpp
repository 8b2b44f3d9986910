// The CSV imports (importCsv, importSales, splitCsvLine) into an empty
// database: a file imports whole or not at all; a refused file leaves every
// table as it was and the database usable; an accepted one holds exactly its
// rows, accepted sales lines are in the sums at once. Input: byte 0 picks the
// kind of file and, for sales lines, the encoding; the rest is the file.

#include "FuzzSupport.h"
#include "platform/cache/Factory.h"
#include "platform/cache/server/Import.h"
#include "platform/cache/server/SalesImport.h"

#include <QBuffer>
#include <numeric>

namespace {

namespace cs = cache::server;

// The table of each ImportKind in its order and sales_dim (what an import
// adds rows to), then the tables emptied after an input besides.
const char* const kTables[] = {
    "sales_line",   "firma",      "profitcenter", "hauptabteilung", "abteilung",  "hauptgruppe",
    "untergruppe",  "versandart", "pers_edv",     "pers_abt",       "pers_basis", "sales_dim",
    "import_batch", "psum_top",   "psum_org",     "psum_prod",      "psum_full",  "wsum_top",
    "wsum_org",     "wsum_prod",  "wsum_full"};
constexpr int kImportTables = 12;

qint64 rows(const char* table) {
    const QString sql = QStringLiteral("SELECT count(*) FROM ") + QLatin1String(table);
    return fuzzsupport::serverStore().db().scalar(sql).toLongLong();
}

qint64 allRows() {
    return std::accumulate(kTables, kTables + kImportTables, qint64(0),
                           [](qint64 n, const char* t) { return n + rows(t); });
}

// Quoting every field (quotes doubled) and splitting again gives it back.
void splitRoundTrip(const QString& line, QChar sep) {
    QStringList fields, again, quoted;
    if (!cs::splitCsvLine(line, sep, &fields)) {
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
    for (QString f : fields)
        quoted << QLatin1Char('"') + f.replace(QLatin1Char('"'), QStringLiteral("\"\"")) +
                      QLatin1Char('"');
    FUZZ_CHECK(cs::splitCsvLine(quoted.join(sep), sep, &again) && again == fields);
}

} // namespace

extern "C" void fuzzSetUp() {
    fuzzsupport::serverStore();
}

void fuzzOne(const QByteArray& input) {
    if (input.isEmpty()) return;
    const uint8_t mode = input[0];
    cs::Store& store = fuzzsupport::serverStore();
    cs::Database& db = store.db();
    const QStringList names = cs::importKindNames();
    cs::ImportKind kind{};
    FUZZ_CHECK(cs::importKindFromName(names.at(mode % names.size()), &kind));
    QByteArray file = input.mid(1);
    // Every login's password costs an Argon2id hash (tens of milliseconds by
    // design): a few rows are enough to fuzz them.
    const QList<QByteArray> lines = file.split('\n');
    if (kind == cs::ImportKind::Personal && lines.size() > 9)
        file = lines.mid(0, 9).join('\n') + '\n';
    QBuffer in(&file);
    in.open(QIODevice::ReadOnly);

    cs::ImportResult r; // every problem of a file is a row error, never an exception
    if (kind == cs::ImportKind::Sales) {
        // The empty database has no master data: every code is unknown.
        const cs::SalesImportOptions o{.encoding = cs::SourceEncoding(mode / names.size() % 3),
                                       .force = true,
                                       .allowUnknown = true};
        const auto s = fuzzsupport::noEscape([&] { return cs::importSales(store, in, o); });
        FUZZ_CHECK(!s.duplicate);
        r = {s.lines, s.errors, s.moreErrors, s.companies, s.firstPeriod, s.lastPeriod};
    } else {
        r = fuzzsupport::noEscape([&] { return cs::importCsv(store, kind, in); });
    }
    FUZZ_CHECK(r.errors.size() <= cs::kMaxImportErrors);
    if (r.moreErrors) FUZZ_CHECK(r.errors.size() >= cs::kMaxImportErrors);
    // The database stays usable whatever the file did, and on an empty
    // database the only error a file that passed the row checks can meet is
    // a key given twice (master data; sales lines have no such key).
    FUZZ_CHECK(!db.connectionLost());
    for (const QString& e : r.errors) {
        FUZZ_CHECK(e.startsWith(QLatin1String("Zeile ")) ||
                   e.startsWith(QLatin1String("Datenbankfehler, nichts importiert")));
        if (e.startsWith(QLatin1String("Datenbankfehler")))
            FUZZ_CHECK(kind != cs::ImportKind::Sales && e.contains(QLatin1String("UNIQUE")));
    }
    if (!r.ok()) {
        FUZZ_CHECK(r.rows == 0 && allRows() == 0);
    } else {
        // The tables start empty, so every accepted row is there once.
        const qint64 stored = rows(kTables[int(kind)]);
        FUZZ_CHECK(stored == r.rows);
        FUZZ_CHECK(allRows() == stored + rows("sales_dim"));
        if (kind == cs::ImportKind::Sales) {
            FUZZ_CHECK((r.rows == 0) == r.companies.isEmpty());
            for (int i = 1; i < r.companies.size(); ++i)
                FUZZ_CHECK(r.companies[i - 1] < r.companies[i]);
        }
        if (kind == cs::ImportKind::Sales && r.rows > 0) {
            FUZZ_CHECK(r.firstPeriod >= 101 && r.firstPeriod <= r.lastPeriod);
            const QString outside = QStringLiteral("SELECT count(*) FROM sales_line "
                                                   "WHERE periode < ? OR periode > ?");
            FUZZ_CHECK(db.scalar(outside, {r.firstPeriod, r.lastPeriod}).toLongLong() == 0);
            const QString total = QStringLiteral("SELECT COALESCE(SUM(umsatz), 0) FROM %1");
            FUZZ_CHECK(db.scalar(total.arg(QLatin1String("sales_line"))).toLongLong() ==
                       db.scalar(total.arg(QLatin1String("psum_top"))).toLongLong());
        }
        for (const char* t : kTables)
            db.execDirect(QStringLiteral("DELETE FROM %1").arg(QLatin1String(t)));
        store.resetCaches();
    }

    for (const QByteArray& line : lines.mid(0, 8))
        for (const char sep : {';', ','})
            splitRoundTrip(QString::fromUtf8(line), QLatin1Char(sep));
}
