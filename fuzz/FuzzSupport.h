#pragma once

// Shared by the fuzz targets (one source file each, with its fuzzOne):
// checks that abort (so libFuzzer keeps the input as a crash file), the
// libFuzzer entry points, input bytes as text, a server database per process.

#include "platform/cache/server/Database.h"
#include "platform/cache/server/Schema.h"
#include "platform/cache/server/Store.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <utility>

#define FUZZ_CHECK(cond)                                                                           \
    ((cond) ? void()                                                                               \
            : fuzzsupport::fail("invariant failed: ", QStringLiteral(#cond), __FILE__, __LINE__))
#define FUZZ_EQUAL(...) fuzzsupport::equal({__VA_ARGS__}, __FILE__, __LINE__)

namespace fuzzsupport {

// Without a place, the stack trace that libFuzzer prints shows it.
[[noreturn]] inline void fail(const char* what, const QString& detail, const char* file = nullptr,
                              int line = 0) {
    std::fprintf(stderr, "%s%s", what, qPrintable(detail));
    if (file) std::fprintf(stderr, " (%s:%d)", file, line);
    std::fputc('\n', stderr);
    std::abort();
}

// Pairs of texts that must be equal; a failure names the row and both texts.
inline void equal(std::initializer_list<std::pair<QString, QString>> rows, const char* file,
                  int line) {
    for (size_t i = 0; i < rows.size(); ++i) {
        const auto& [got, want] = rows.begin()[i];
        if (got != want)
            fail("invariant failed: ",
                 QStringLiteral("row %1: \"%2\" != \"%3\"").arg(i).arg(got, want), file, line);
    }
}

// An exception that leaves the code under test is a finding, with its text.
template <class F> auto noEscape(F f) {
    try {
        return f();
    } catch (const std::exception& e) {
        fail("exception escaped: ", QString::fromLocal8Bit(e.what()));
    } catch (...) {
        fail("exception escaped", {});
    }
}

template <class Pred> bool anyChar(const QString& s, Pred pred) {
    return std::any_of(s.begin(), s.end(), pred);
}

// Text in one of three forms, chosen by a selector byte: UTF-8 as files and
// command lines bring it (invalid sequences become U+FFFD); one byte per
// character, so every code 0..255 stays reachable, the server's row
// separator 0xFF among them; raw UTF-16 code units, lone surrogates too.
inline QString anyText(uint8_t mode, const QByteArray& b) {
    if (mode % 3 == 0) return QString::fromUtf8(b);
    if (mode % 3 == 1) return QString::fromLatin1(b);
    QString s;
    for (qsizetype i = 0; i + 1 < b.size(); i += 2)
        s += QChar(char16_t(uint8_t(b[i]) | (uint8_t(b[i + 1]) << 8)));
    return s;
}

// An in-memory SQLite server database with the schema, made on first use.
// Never destroyed: at exit Qt's database registry may already be gone.
inline cache::server::Store& serverStore() {
    static cache::server::Store* store = [] {
        auto* db = new cache::server::Database(
            {.engine = cache::server::Engine::Sqlite, .sqlitePath = QStringLiteral(":memory:")});
        cache::server::createSchema(*db);
        return new cache::server::Store(*db);
    }();
    return *store;
}

} // namespace fuzzsupport

// The target's checks of one input.
void fuzzOne(const QByteArray& input);
// A target's own set-up, run once after the application object exists.
extern "C" void fuzzSetUp() __attribute__((weak));

// QtSql loads its drivers as plugins, which needs the application object;
// libFuzzer's argv lives for the whole process, a copy of argc must too.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static int count = *argc;
    new QCoreApplication(count, *argv);
    if (fuzzSetUp) fuzzSetUp();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzOne(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    return 0;
}
