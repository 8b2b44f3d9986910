// Splitting of a many-valued server answer (DBCallD) through a session on
// the scripted fake server, which answers with the fuzz input.

#include "FuzzSupport.h"
#include "server/SessionEnv.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::app();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static testenv::Env env;
    static QString answer;
    static bool ready = false;
    if (!ready) {
        auto standard = env.fake.xecute;
        env.fake.xecute = [standard](const QString& code) {
            if (code == QLatin1String("ANSWER")) return answer;
            return standard(code);
        };
        ready = true;
    }
    // First byte picks the separator; 0xFF is the server's row separator.
    const QString sep = data[0] < 16 ? QString(QChar(0xFF))
                        : data[0] < 24 ? QString()
                        : data[0] < 32 ? QStringLiteral("ab")
                                       : QString(QChar(data[0]));
    answer = fuzzsupport::text(data + 1, size - 1);
    QStringList values{QStringLiteral("alt")};
    bool failed = false;
    const std::optional<int> n = env.s().DBCallD(QStringLiteral("ANSWER"), sep, values, failed);
    FUZZ_CHECK(n.has_value() && !failed);
    if (sep.size() != 1) {
        // No usable separator: the whole answer is one value (or none).
        FUZZ_CHECK(*n == (answer.isEmpty() ? 0 : 1));
        return 0;
    }
    if (*n == 0) {
        FUZZ_CHECK(answer.isEmpty());
        FUZZ_CHECK(values == QStringList{QStringLiteral("alt")}); // left as it was
        return 0;
    }
    // Room in steps of ten, positions 1..n hold the values, and the values
    // joined by the separator give the answer back.
    FUZZ_CHECK((values.size() - 1) % 10 == 0 && values.size() - 1 >= *n);
    QStringList got = values.mid(1, *n);
    QString joined = got.join(sep);
    if (answer.endsWith(sep)) joined += sep;
    FUZZ_CHECK(joined == answer);
    return 0;
}
