// The splitting of a many-valued server answer by Session::DBCallD, driven
// through a session on the scripted fake server, which answers the routine
// line with the fuzz input.
//
// Input: byte 0 picks the separator (mostly the server's row separator
// 0xFF) and the size of the list the caller passes in; the rest, one byte
// per character, is the answer.

#include "FuzzSupport.h"
#include "server/SessionEnv.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzsupport::initApp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const uint8_t mode = data[0];
    const QString answer = fuzzsupport::latin1(data + 1, size - 1);
    const QString sep = mode < 160  ? QString(QChar(srv::Session::kRowSeparator))
                        : mode < 176 ? QStringLiteral("`")
                        : mode < 184 ? QString()
                        : mode < 192 ? QString(QChar(srv::Session::kRowSeparator)) + QChar(u'`')
                                     : QString(QChar(mode));
    // What the caller had in the list before: nothing, or stale values.
    const int staleSize = mode % 7 == 0 ? 0 : (mode % 7) * 6;
    const QStringList stale(staleSize, QStringLiteral("alt"));

    testenv::Env env;
    env.fake.xecute = [&answer](const QString&) { return answer; };
    QStringList values = stale;
    bool failed = false;
    std::optional<int> n;
    FUZZ_NO_ESCAPE(n = env.s().DBCallD(QStringLiteral("d HGRP^ZKCLSU"), sep, values, failed));

    FUZZ_CHECK(n.has_value() && !failed);
    FUZZ_CHECK(env.messages().isEmpty());
    FUZZ_CHECK(env.fake.log.xecutes().endsWith(QStringLiteral("d HGRP^ZKCLSU")));
    if (sep.size() != 1) {
        // No one-character separator: the whole answer is one value.
        FUZZ_CHECK(*n == (answer.isEmpty() ? 0 : 1));
        if (*n == 1) FUZZ_CHECK(values.value(1) == answer);
    } else {
        const QChar s = sep.at(0);
        const int separators = int(answer.count(s));
        FUZZ_CHECK(*n == separators + (answer.isEmpty() || answer.endsWith(s) ? 0 : 1));
    }
    if (*n == 0) {
        // Nothing to store: the caller's list is left as it was.
        FUZZ_CHECK(values == stale);
        return 0;
    }
    // Positions 1..n hold the values; the list has room for an upper bound
    // that grows in steps of ten, plus the unused position 0.
    const int bound = (*n + 9) / 10 * 10;
    FUZZ_CHECK(values.size() == bound + 1);
    FUZZ_CHECK(values.at(0) == stale.value(0));
    // Re-joined, the values give the answer back (a trailing separator
    // closes the last value without opening another).
    QString joined = values.mid(1, *n).join(sep);
    if (sep.size() == 1 && answer.endsWith(sep)) joined += sep;
    FUZZ_CHECK(joined == answer);
    // Above n only the caller's old values or empty room remain.
    for (int i = *n + 1; i < values.size(); ++i)
        FUZZ_CHECK(values.at(i).isEmpty() || values.at(i) == stale.value(i));
    return 0;
}
