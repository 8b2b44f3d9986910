// The connect string and the database it selects.

#include "FuzzSupport.h"
#include "platform/cache/ConnectString.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::app();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString t = fuzzsupport::text(data, size);
    const auto parsed = cache::parseConnectString(t);
    if (parsed) {
        FUZZ_CHECK(!parsed->server.isEmpty());
        FUZZ_CHECK(!parsed->nameSpace.isEmpty());
        // An accepted string is rebuilt exactly from its parts (the prefix
        // in its canonical spelling).
        const QString again =
            cache::makeConnectString(parsed->server, parsed->port, parsed->nameSpace);
        FUZZ_CHECK(again.mid(9) == t.mid(9));
        const auto round = cache::parseConnectString(again);
        FUZZ_CHECK(round && round->server == parsed->server && round->port == parsed->port &&
                   round->nameSpace == parsed->nameSpace);
        const auto target = cache::server::targetFor(*parsed);
        if (target.engine == cache::server::Engine::Postgres)
            FUZZ_CHECK(target.port == -1 || (target.port > 0 && target.port < 65536));
        (void)cache::server::describe(target);
    }
    return 0;
}
