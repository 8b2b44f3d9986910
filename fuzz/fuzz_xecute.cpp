// The server's line interpreter (Xecute) on a small demo database created
// once: any line either answers or fails with a CacheError of the
// interpreter; a failing line changes no session variable, no line writes
// to the database, and the same line in the same state answers the same.
//
// Input: UTF-8 text, one line per text line, run in order in one fresh
// server session (as a client session sends them).

#include "FuzzSupport.h"
#include "platform/cache/Factory.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/Xecute.h"

namespace {

cache::server::Store* g_store = nullptr;
cache::server::Database* g_db = nullptr;

qint64 rowsEverywhere() {
    // One statement, so the check stays cheap next to the lines themselves.
    return g_db
        ->scalar(QStringLiteral(
            "SELECT (SELECT count(*) FROM server_info) + (SELECT count(*) FROM hauptgruppe) + "
            "(SELECT count(*) FROM untergruppe) + (SELECT count(*) FROM abteilung) + "
            "(SELECT count(*) FROM hauptabteilung) + (SELECT count(*) FROM sales_line) + "
            "(SELECT count(*) FROM psum_top)"))
        .toLongLong();
}

qint64 g_rows = 0;

struct Outcome {
    bool ok = false;
    QString answer;
    int number = 0;
    QString description;
};

Outcome run(const QString& line, cache::server::Session& session) {
    Outcome o;
    try {
        o.answer = cache::server::xecute(line, session, *g_store);
        o.ok = true;
    } catch (const cache::CacheError& e) {
        o.number = e.number();
        o.description = e.description();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "not a CacheError: %s\n", e.what());
        std::abort();
    }
    return o;
}

bool startsWithSet(const QString& line) {
    const QString t = line.trimmed();
    return t.startsWith(QLatin1String("S "), Qt::CaseInsensitive) ||
           t.startsWith(QLatin1String("SET "), Qt::CaseInsensitive);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzsupport::initApp(argc, argv);
    fuzzsupport::ServerDb& s = fuzzsupport::openServerDb();
    g_store = s.store.get();
    g_db = s.db.get();
    // Master data and a few sales lines, so the routines answer rows.
    cache::server::DemoOptions demo;
    demo.lines = 500;
    demo.untilYear = 2024;
    demo.untilMonth = 3;
    demo.yearsBack = 1;
    cache::server::generateDemo(*g_store, demo);
    g_store->generate(1, 12301, 12403);
    g_rows = rowsEverywhere();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QStringList lines = fuzzsupport::utf8(data, size).split(QLatin1Char('\n'));
    cache::server::Session session;
    for (const QString& line : lines) {
        const QHash<QString, QString> before = session.vars;
        const Outcome o = run(line, session);
        if (!o.ok) {
            FUZZ_CHECK(o.number == cache::err::Syntax || o.number == cache::err::Undefined);
            FUZZ_CHECK(!o.description.isEmpty());
            // The line is echoed, but never with control characters.
            for (const QChar c : o.description)
                FUZZ_CHECK(c.unicode() >= 32);
            FUZZ_CHECK(session.vars == before);
            continue;
        }
        if (session.vars != before) FUZZ_CHECK(startsWithSet(line));
        if (startsWithSet(line) && o.answer.isEmpty()) {
            // Setting is idempotent: the same line again changes nothing more.
            const QHash<QString, QString> after = session.vars;
            const Outcome again = run(line, session);
            FUZZ_CHECK(again.ok && again.answer.isEmpty() && session.vars == after);
        } else {
            // Reading lines answer the same twice and leave the variables.
            cache::server::Session copy = session;
            const Outcome again = run(line, copy);
            FUZZ_CHECK(again.ok && again.answer == o.answer && copy.vars == session.vars);
        }
        // Routine answers are rows "code`name" joined by the row separator.
        if (o.answer.contains(QChar(cache::server::kRowSeparator)))
            for (const QString& row : o.answer.split(QChar(cache::server::kRowSeparator)))
                FUZZ_CHECK(row.contains(QLatin1Char('`')));
    }
    // No line writes to the database.
    FUZZ_CHECK(rowsEverywhere() == g_rows);
    return 0;
}
