#pragma once

// Shared by the fuzz targets: a Qt application object, an in-memory-like
// server database created once, and a hard check that aborts (so
// libFuzzer keeps the input) when an invariant does not hold.

#include "platform/cache/server/Database.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/Store.h"

#include <QCoreApplication>
#include <QString>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

#define FUZZ_CHECK(cond)                                                                          \
    do {                                                                                          \
        if (!(cond)) {                                                                            \
            std::fprintf(stderr, "invariant failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__);    \
            std::abort();                                                                         \
        }                                                                                         \
    } while (0)

namespace fuzzsupport {

inline QCoreApplication& app() {
    static int argc = 1;
    static char name[] = "fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication a(argc, argv);
    return a;
}

// Input bytes as UTF-8 text; invalid sequences become U+FFFD as anywhere
// else text enters the program.
inline QString text(const uint8_t* data, size_t size) {
    return QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// A SQLite server database with the schema in a temporary directory.
struct ServerDb {
    QTemporaryDir dir;
    std::unique_ptr<cache::server::Database> db;
    std::unique_ptr<cache::server::Store> store;
    int uses = 0;
    void open() {
        store.reset();
        db.reset();
        QFile::remove(dir.filePath(QStringLiteral("fuzz.sqlite")));
        cache::server::DatabaseTarget t;
        t.engine = cache::server::Engine::Sqlite;
        t.sqlitePath = dir.filePath(QStringLiteral("fuzz.sqlite"));
        db = std::make_unique<cache::server::Database>(t);
        cache::server::createSchema(*db);
        store = std::make_unique<cache::server::Store>(*db);
        uses = 0;
    }
    // A fresh database now and then, so it does not grow without bound.
    cache::server::Store& get() {
        if (!db || ++uses > 2000) open();
        return *store;
    }
};

// Never destroyed: at exit Qt's database registry may already be gone.
inline ServerDb& serverDb() {
    static ServerDb* s = new ServerDb;
    return *s;
}

} // namespace fuzzsupport
