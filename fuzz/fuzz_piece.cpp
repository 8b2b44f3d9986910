// The text helpers of the client (server/Text.h) and of the server
// component (platform/cache/server/Text.h).
//
// Input: byte 0 picks how the rest becomes text (UTF-8, Latin-1, raw
// UTF-16), byte 1 the delimiter, the rest is the text. Fixed-size numbers
// for the round trips are read from the first bytes of the text part.

#include "FuzzSupport.h"
#include "platform/cache/server/Text.h"
#include "server/Text.h"

#include <QDate>
#include <QRegularExpression>

#include <cstring>

namespace {

const QString kDisplay = QStringLiteral("äöüßÄÖÜ§");
const QString kStored = QStringLiteral("{|}~[\\]õ");

bool containsAny(const QString& text, const QString& chars) {
    for (const QChar c : text)
        if (chars.contains(c)) return true;
    return false;
}

qint64 readInt64(const uint8_t* data, size_t size) {
    qint64 v = 0;
    std::memcpy(&v, data, std::min(size, sizeof v));
    return v;
}

void pieces(const QString& t, QChar delim) {
    // Joining every piece with the delimiter gives the text back.
    const int count = int(t.count(delim)) + 1;
    QStringList parts;
    for (int n = 1; n <= count; ++n)
        parts << srv::Piece(t, delim, n);
    FUZZ_CHECK(parts.join(delim) == t);
    // Against Qt's own split, and the default for an empty or missing field.
    const QStringList split = t.split(delim);
    FUZZ_CHECK(split == parts);
    const QString def = QStringLiteral("\x01vorgabe");
    for (int n = 1; n <= count; ++n)
        FUZZ_CHECK(srv::Piece(t, delim, n, def) == (parts[n - 1].isEmpty() ? def : parts[n - 1]));
    FUZZ_CHECK(srv::Piece(t, delim, count + 1, def) == def);
    FUZZ_CHECK(srv::Piece(t, delim, 0, def) == def);
    FUZZ_CHECK(srv::Piece(t, delim, -1, def) == def);
    FUZZ_CHECK(srv::Piece(t, QString(delim), 1) == parts.first());
    // A delimiter of other than one character never matches.
    const QString whole = t.isEmpty() ? def : t;
    FUZZ_CHECK(srv::Piece(t, QString(), 1, def) == whole);
    FUZZ_CHECK(srv::Piece(t, QString(delim) + delim, 1, def) == whole);
    FUZZ_CHECK(srv::Piece(t, QString(delim) + delim, 2, def) == def);
}

void sevenBit(const QString& t) {
    const QString display = srv::ConvertText(t, QStringLiteral("ZORVEK"));
    // The client's conversion and the server's are the same mapping.
    FUZZ_CHECK(display == cache::server::fromSevenBit(t));
    FUZZ_CHECK(display.size() == t.size());
    FUZZ_CHECK(srv::ConvertText(t, QStringLiteral("zorvek")) == t);
    FUZZ_CHECK(srv::ConvertText(t, QString()) == t);
    const QString stored = cache::server::toSevenBit(t);
    FUZZ_CHECK(stored.size() == t.size());
    if (!containsAny(t, kDisplay)) FUZZ_CHECK(cache::server::toSevenBit(display) == t);
    if (!containsAny(t, kStored)) FUZZ_CHECK(cache::server::fromSevenBit(stored) == t);
}

void numbers(const QString& t, const uint8_t* raw, size_t rawSize) {
    // Blanks in front never change the leading number.
    const qint64 lead = srv::LeadingNumber(t);
    FUZZ_CHECK(srv::LeadingNumber(QStringLiteral("  ") + t) == lead);
    const qint64 v = readInt64(raw, rawSize) % 100'000'000'000'000LL;
    FUZZ_CHECK(srv::LeadingNumber(QString::number(v) + QStringLiteral("x") + t) == v);
    FUZZ_CHECK(srv::IsNumeric(QString::number(v)));
    if (srv::IsNumeric(t)) {
        bool ok = false;
        t.toDouble(&ok);
        FUZZ_CHECK(ok);
    }

    (void)srv::PeriodAdd(t, QStringLiteral("1"));
    (void)srv::PeriodAdd(t, t);
    (void)srv::PeriodAdd(QStringLiteral("12403"), t);
    // Month arithmetic on a real period code with up to eleven months.
    {
        const int year = 1901 + int(quint64(v) % 999);
        const int month = 1 + int((quint64(v) >> 16) % 12);
        const int delta = int((quint64(v) >> 24) % 23) - 11;
        const int total = (year - 1900) * 12 + month - 1 + delta;
        const QString expected =
            QString::number(total / 12) + QStringLiteral("%1").arg(total % 12 + 1, 2, 10, QChar(u'0'));
        FUZZ_CHECK(srv::PeriodAdd(cache::server::periodText(year, month), QString::number(delta)) ==
                   expected);
        FUZZ_CHECK(cache::server::parsePeriod(cache::server::periodText(year, month)) ==
                   (year - 1900) * 100 + month);
    }

    // A server day number that reads as a date is written back the same.
    const QDate d = srv::DateFromServer(t);
    if (d.isValid())
        FUZZ_CHECK(srv::LeadingNumber(cache::server::serverDayNumber(d.year(), d.month(),
                                                                     d.day())) ==
                   srv::LeadingNumber(t));
    {
        const QDate day = QDate(1900, 1, 1).addDays(qint64(quint64(v) % 2'900'000));
        if (day.isValid() && day.year() <= 9999)
            FUZZ_CHECK(srv::DateFromServer(cache::server::serverDayNumber(
                           day.year(), day.month(), day.day())) == day);
    }

    // Money: accepted text has the documented form and survives the way
    // to text and back; any cent amount in range does too.
    qint64 cents = 0;
    if (cache::server::textToCents(t, &cents)) {
        static const QRegularExpression form(QStringLiteral("\\A[+-]?[0-9]*(\\.[0-9]{0,2})?\\z"));
        FUZZ_CHECK(form.match(t.trimmed()).hasMatch());
        qint64 again = 0;
        FUZZ_CHECK(cache::server::textToCents(cache::server::centsToText(cents), &again));
        FUZZ_CHECK(again == cents);
    }
    {
        const qint64 c = v % 90'000'000'000'000'000LL;
        qint64 back = 0;
        FUZZ_CHECK(cache::server::textToCents(cache::server::centsToText(c), &back) && back == c);
        (void)cache::server::centsToText(readInt64(raw, rawSize)); // the extremes included
    }

    const int p = cache::server::parsePeriod(t);
    if (p >= 0)
        FUZZ_CHECK(cache::server::periodText(1900 + p / 100, p % 100) == t);
    const qint64 firma = cache::server::parseCompany(t);
    if (firma >= 0) FUZZ_CHECK(firma == srv::LeadingNumber(t.trimmed()));
    FUZZ_CHECK(cache::server::parseCompany(QString::number(qAbs(v))) == qAbs(v));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzsupport::initApp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const char16_t kDelims[] = {u'`', u'|', u' ', 0xFF, u','};
    const QChar delim = data[1] < 200 ? QChar(kDelims[data[1] % 5]) : QChar(data[1]);
    const QString t = fuzzsupport::anyText(data[0], data + 2, size - 2);
    pieces(t, delim);
    sevenBit(t);
    numbers(t, data + 2, size - 2);
    return 0;
}
