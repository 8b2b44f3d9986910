// Command lines: the headless tool's options (words split at NUL bytes)
// and the desktop client's login words.

#include "FuzzSupport.h"
#include "ReportTool.h"
#include "platform/settings/SettingsStore.h"
#include "server/Text.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::app();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QStringList args;
    for (const QByteArray& w :
         QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size)).split('\0'))
        args << QString::fromUtf8(w);
    platform::MemorySettingsStore settings;
    const auto r = reporttool::parseArguments(args, settings, std::nullopt);
    using K = reporttool::ParseResult::Kind;
    if (r.kind == K::Usage) FUZZ_CHECK(!r.error.isEmpty());
    if (r.kind == K::Run) FUZZ_CHECK(r.error.isEmpty());
    // Parsing is a pure function of its input.
    FUZZ_CHECK(reporttool::parseArguments(args, settings, std::nullopt).kind == r.kind);

    // The client's command line: nine words at single blanks; the first
    // decides whether the words are used at all.
    const QString line = args.join(QLatin1Char(' '));
    for (int n = 1; n <= 9; ++n) (void)srv::Piece(line, QLatin1Char(' '), n);
    (void)srv::IsNumeric(srv::Piece(line, QLatin1Char(' '), 1));
    return 0;
}
