#pragma once

// Shared by the fuzz targets: the Qt application object, input bytes as
// text, a server database created once per process, and a check that
// aborts (so libFuzzer keeps the input as a crash file) when an invariant
// does not hold.

#include "platform/cache/server/Database.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/Store.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>

#define FUZZ_CHECK(cond)                                                                          \
    do {                                                                                          \
        if (!(cond)) {                                                                            \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);    \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

// An exception that leaves the code under test is a finding, with its text.
#define FUZZ_NO_ESCAPE(body)                                                                      \
    do {                                                                                          \
        try {                                                                                     \
            body;                                                                                 \
        } catch (const std::exception& e_) {                                                      \
            std::fprintf(stderr, "exception escaped (%s:%d): %s\n", __FILE__, __LINE__,           \
                         e_.what());                                                              \
            std::abort();                                                                         \
        } catch (...) {                                                                           \
            std::fprintf(stderr, "unknown exception escaped (%s:%d)\n", __FILE__, __LINE__);      \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

namespace fuzzsupport {

// QtSql loads its drivers as plugins, which needs the application object;
// libFuzzer's argv lives for the whole process, a copy of argc must too.
inline void initApp(int* argc, char*** argv) {
    static int count = *argc;
    static QCoreApplication* app = new QCoreApplication(count, *argv);
    (void)app;
}

inline QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// UTF-8 as text reaches the program from files and command lines: invalid
// sequences become U+FFFD.
inline QString utf8(const uint8_t* data, size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// One byte per character: every code 0..255 stays reachable, the server's
// row separator 0xFF among them.
inline QString latin1(const uint8_t* data, size_t size) {
    return QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// Raw UTF-16 code units, lone surrogates included.
inline QString utf16(const uint8_t* data, size_t size) {
    QString s;
    s.reserve(static_cast<qsizetype>(size / 2));
    for (size_t i = 0; i + 1 < size; i += 2)
        s += QChar(char16_t(data[i] | (data[i + 1] << 8)));
    return s;
}

// Text in one of the three forms, chosen by a selector byte.
inline QString anyText(uint8_t mode, const uint8_t* data, size_t size) {
    switch (mode % 3) {
    case 0:
        return utf8(data, size);
    case 1:
        return latin1(data, size);
    default:
        return utf16(data, size);
    }
}

// An in-memory SQLite server database with the schema, opened once per
// process (from LLVMFuzzerInitialize). Never destroyed: at exit Qt's
// database registry may already be gone.
struct ServerDb {
    std::unique_ptr<cache::server::Database> db;
    std::unique_ptr<cache::server::Store> store;
};

inline ServerDb& openServerDb() {
    static ServerDb* s = [] {
        auto* d = new ServerDb;
        cache::server::DatabaseTarget t;
        t.engine = cache::server::Engine::Sqlite;
        t.sqlitePath = QStringLiteral(":memory:");
        d->db = std::make_unique<cache::server::Database>(t);
        cache::server::createSchema(*d->db);
        d->store = std::make_unique<cache::server::Store>(*d->db);
        return d;
    }();
    return *s;
}

inline qint64 countRows(cache::server::Database& db, const char* table) {
    return db.scalar(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table)))
        .toLongLong();
}

} // namespace fuzzsupport
