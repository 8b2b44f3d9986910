// The server's line interpreter: any line either runs or fails with a
// CacheError; nothing else escapes, and a line never changes the tables.

#include "FuzzSupport.h"
#include "platform/cache/Factory.h"
#include "platform/cache/server/Xecute.h"

#include <QSqlQuery>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::app();
    return 0;
}

static qint64 rowCount(cache::server::Database& db) {
    return db.scalar(QStringLiteral("SELECT (SELECT count(*) FROM sales_line) + "
                                    "(SELECT count(*) FROM pers_edv) + "
                                    "(SELECT count(*) FROM berechtigung)"))
        .toLongLong();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    cache::server::Store& store = fuzzsupport::serverDb().get();
    cache::server::Database& db = *fuzzsupport::serverDb().db;
    const qint64 before = rowCount(db);
    cache::server::Session session;
    // Several lines per input, as a session sends them one after another.
    const QStringList lines = fuzzsupport::text(data, size).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        try {
            (void)cache::server::xecute(line, session, store);
        } catch (const cache::CacheError& e) {
            FUZZ_CHECK(!e.description().isEmpty());
        }
    }
    FUZZ_CHECK(rowCount(db) == before);
    return 0;
}
