// The CSV imports: any file either imports or is refused with German row
// errors; a refused file leaves the tables as they were.

#include "FuzzSupport.h"
#include "platform/cache/Factory.h"
#include "platform/cache/server/Import.h"

#include <QBuffer>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::app();
    return 0;
}

static qint64 rowCount(cache::server::Database& db) {
    qint64 n = 0;
    for (const char* t : {"sales_line", "firma", "profitcenter", "hauptabteilung", "abteilung",
                          "hauptgruppe", "untergruppe", "versandart"})
        n += db.scalar(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(t)))
                 .toLongLong();
    return n;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const QStringList kinds = cache::server::importKindNames();
    cache::server::ImportKind kind{};
    FUZZ_CHECK(cache::server::importKindFromName(kinds.at(data[0] % kinds.size()), &kind));
    cache::server::Store& store = fuzzsupport::serverDb().get();
    cache::server::Database& db = *fuzzsupport::serverDb().db;
    const qint64 before = rowCount(db);

    QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    QBuffer in(&bytes);
    in.open(QIODevice::ReadOnly);
    try {
        const cache::server::ImportResult r = cache::server::importCsv(store, kind, in);
        if (!r.ok()) {
            FUZZ_CHECK(r.rows == 0);
            FUZZ_CHECK(rowCount(db) == before);
            for (const QString& e : r.errors) FUZZ_CHECK(!e.isEmpty());
        }
    } catch (const cache::CacheError& e) {
        FUZZ_CHECK(!e.description().isEmpty());
    }

    // The line splitter on its own: never more fields than separators + 1.
    const QString line = fuzzsupport::text(data + 1, size - 1).section(QLatin1Char('\n'), 0, 0);
    QStringList fields;
    if (cache::server::splitCsvLine(line, QLatin1Char(';'), &fields))
        FUZZ_CHECK(fields.size() <= line.count(QLatin1Char(';')) + 1);
    return 0;
}
