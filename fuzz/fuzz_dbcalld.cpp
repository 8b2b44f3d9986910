// Session::DBCallD splitting a many-valued answer of the scripted fake server.
// Input: byte 0 picks the separator (mostly the row separator 0xFF) and the
// size of the caller's list; the rest, one byte per character, is the answer.

#include "FuzzSupport.h"
#include "server/SessionEnv.h"

void fuzzOne(const QByteArray& input) {
    if (input.isEmpty()) return;
    const uint8_t mode = input[0];
    const QString answer = QString::fromLatin1(input.mid(1));
    const QString row = QChar(srv::Session::kRowSeparator);
    const QString sep = mode < 160   ? row
                        : mode < 176 ? QStringLiteral("`")
                        : mode < 184 ? QString()
                        : mode < 192 ? row + QChar(u'`')
                                     : QString(QChar(mode));
    // The caller's list before: nothing, or stale values.
    const QStringList stale(mode % 7 * 6, QStringLiteral("alt"));

    testenv::Env env;
    env.fake.xecute = [&answer](const QString&) { return answer; };
    QStringList values = stale;
    bool failed = false;
    const std::optional<int> n = fuzzsupport::noEscape(
        [&] { return env.s().DBCallD(QStringLiteral("d HGRP^ZKCLSU"), sep, values, failed); });

    FUZZ_CHECK(n.has_value() && !failed && env.messages().isEmpty());
    FUZZ_CHECK(env.fake.log.xecutes().endsWith(QStringLiteral("d HGRP^ZKCLSU")));
    if (sep.size() != 1) {
        // No one-character separator: the whole answer is one value.
        FUZZ_CHECK(*n == (answer.isEmpty() ? 0 : 1));
        if (*n == 1) FUZZ_CHECK(values.value(1) == answer);
    } else {
        const int separators = int(answer.count(sep));
        FUZZ_CHECK(*n == separators + (answer.isEmpty() || answer.endsWith(sep) ? 0 : 1));
    }
    if (*n == 0) {
        FUZZ_CHECK(values == stale);
        return;
    }
    // Positions 1..n hold the values, position 0 is unused; the list's
    // upper bound grows in steps of ten.
    FUZZ_CHECK(values.size() == (*n + 9) / 10 * 10 + 1 && values.at(0) == stale.value(0));
    // Re-joined, the values give the answer (a trailing separator closes
    // the last value without opening another).
    const bool closed = sep.size() == 1 && answer.endsWith(sep);
    FUZZ_CHECK(values.mid(1, *n).join(sep) + (closed ? sep : QString()) == answer);
    // Above n only the caller's old values or empty room remain.
    for (int i = *n + 1; i < values.size(); ++i)
        FUZZ_CHECK(values.at(i).isEmpty() || values.at(i) == stale.value(i));
}
