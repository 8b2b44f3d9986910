// Text helpers: Piece, ConvertText, PeriodAdd, DateFromServer, LeadingNumber,
// IsNumeric and the server's text conversions.

#include "FuzzSupport.h"
#include "platform/cache/server/Text.h"
#include "server/Text.h"

#include <QStringList>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzzsupport::app();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    // First byte: the delimiter; the rest: the text.
    const QChar delim = QChar(data[0] == 0 ? 0x60 : data[0]);
    const QString t = fuzzsupport::text(data + 1, size - 1);

    // Joining every piece with the delimiter gives the text back.
    const int pieces = static_cast<int>(t.count(delim)) + 1;
    QStringList parts;
    for (int n = 1; n <= pieces; ++n) parts << srv::Piece(t, delim, n);
    FUZZ_CHECK(parts.join(delim) == t);
    FUZZ_CHECK(srv::Piece(t, delim, pieces + 1, QStringLiteral("d")) == QStringLiteral("d"));
    FUZZ_CHECK(srv::Piece(t, QString(delim), 1) == parts.first());
    (void)srv::Piece(t, delim, 0);
    (void)srv::Piece(t, delim, -5);
    (void)srv::Piece(t, QString(), 2);
    (void)srv::Piece(t, QStringLiteral("ab"), 2);

    for (const char* mode : {"U", "L", "Z", "", "UL"})
        (void)srv::ConvertText(t, QLatin1String(mode));
    (void)srv::PeriodAdd(t, QStringLiteral("1"));
    (void)srv::PeriodAdd(QStringLiteral("12403"), t);
    (void)srv::DateFromServer(t);
    (void)srv::LeadingNumber(t);
    const bool numeric = srv::IsNumeric(t);
    FUZZ_CHECK(!numeric || !t.isEmpty());

    const QString seven = cache::server::toSevenBit(t);
    (void)cache::server::fromSevenBit(seven);
    qint64 cents = 0;
    if (cache::server::textToCents(t, &cents)) {
        // Accepted amounts survive the way back to text and in again.
        qint64 again = 0;
        FUZZ_CHECK(cache::server::textToCents(cache::server::centsToText(cents), &again));
        FUZZ_CHECK(again == cents);
    }
    (void)cache::server::parsePeriod(t);
    (void)cache::server::parseCompany(t);
    return 0;
}
