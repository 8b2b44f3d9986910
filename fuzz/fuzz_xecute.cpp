// The server's line interpreter (Xecute) on a small demo database: any line
// answers or fails with a CacheError of the interpreter; a failing line
// changes no session variable, no line writes to the database, and the same
// line in the same state answers the same. Input: UTF-8 text, its lines run
// in order in one fresh server session (as a client session sends them).

#include "FuzzSupport.h"
#include "platform/cache/Factory.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/Xecute.h"

namespace {

qint64 g_rows = 0;

qint64 rowsEverywhere() {
    // One statement, so the check stays cheap next to the lines themselves.
    QString sql = QStringLiteral("SELECT 0");
    for (const char* t : {"server_info", "hauptgruppe", "untergruppe", "abteilung",
                          "hauptabteilung", "sales_line", "psum_top"})
        sql += QStringLiteral(" + (SELECT count(*) FROM %1)").arg(QLatin1String(t));
    return fuzzsupport::serverStore().db().scalar(sql).toLongLong();
}

// The answer, or nothing for an error of the interpreter.
std::optional<QString> run(const QString& line, cache::server::Session& session) {
    try {
        return cache::server::xecute(line, session, fuzzsupport::serverStore());
    } catch (const cache::CacheError& e) {
        FUZZ_CHECK(e.number() == cache::err::Syntax || e.number() == cache::err::Undefined);
        // The line is echoed, but never with control characters.
        FUZZ_CHECK(!e.description().isEmpty() &&
                   !fuzzsupport::anyChar(e.description(), [](QChar c) { return c < u' '; }));
    } catch (const std::exception& e) {
        fuzzsupport::fail("not a CacheError: ", QString::fromLocal8Bit(e.what()));
    }
    return std::nullopt;
}

bool startsWithSet(const QString& line) {
    const QString t = line.trimmed();
    return t.startsWith(QLatin1String("S "), Qt::CaseInsensitive) ||
           t.startsWith(QLatin1String("SET "), Qt::CaseInsensitive);
}

} // namespace

// Master data and a few sales lines, so the routines answer rows.
extern "C" void fuzzSetUp() {
    cache::server::Store& store = fuzzsupport::serverStore();
    cache::server::generateDemo(store,
                                {.lines = 500, .untilYear = 2024, .untilMonth = 3, .yearsBack = 1});
    store.generate(1, 12301, 12403);
    g_rows = rowsEverywhere();
}

void fuzzOne(const QByteArray& input) {
    cache::server::Session session;
    for (const QString& line : QString::fromUtf8(input).split(QLatin1Char('\n'))) {
        const QHash<QString, QString> before = session.vars;
        const std::optional<QString> answer = run(line, session);
        if (!answer) {
            FUZZ_CHECK(session.vars == before);
            continue;
        }
        if (session.vars != before) FUZZ_CHECK(startsWithSet(line));
        if (startsWithSet(line) && answer->isEmpty()) {
            // Setting is idempotent: the same line again changes nothing more.
            const QHash<QString, QString> after = session.vars;
            FUZZ_CHECK(run(line, session) == QString() && session.vars == after);
        } else {
            // Reading lines answer the same twice and leave the variables.
            cache::server::Session copy = session;
            FUZZ_CHECK(run(line, copy) == answer && copy.vars == session.vars);
        }
        // Routine answers are rows "code`name" joined by the row separator.
        if (answer->contains(QChar(cache::server::kRowSeparator)))
            for (const QString& row : answer->split(QChar(cache::server::kRowSeparator)))
                FUZZ_CHECK(row.contains(QLatin1Char('`')));
    }
    FUZZ_CHECK(rowsEverywhere() == g_rows);
}
