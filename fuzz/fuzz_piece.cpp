// The text helpers of the client (server/Text.h) and of the server component
// (platform/cache/server/Text.h). Input: byte 0 picks how the rest becomes
// text, byte 1 the delimiter, the rest is the text; the numbers of the round
// trips come from the first bytes of the text part.

#include "FuzzSupport.h"
#include "platform/cache/server/Text.h"
#include "server/Text.h"

#include <QDate>
#include <QRegularExpression>
#include <cstring>

namespace {

namespace cs = cache::server;

void pieces(const QString& t, QChar delim) {
    // Joining the pieces gives the text back; they are Qt's split, and the
    // default stands for an empty or missing field.
    const int count = int(t.count(delim)) + 1;
    const QString def = QStringLiteral("\x01vorgabe");
    QStringList parts;
    for (int n = 1; n <= count; ++n) {
        parts << srv::Piece(t, delim, n);
        FUZZ_CHECK(srv::Piece(t, delim, n, def) == (parts.last().isEmpty() ? def : parts.last()));
    }
    FUZZ_CHECK(parts.join(delim) == t && t.split(delim) == parts);
    for (int n : {count + 1, 0, -1})
        FUZZ_CHECK(srv::Piece(t, delim, n, def) == def);
    FUZZ_CHECK(srv::Piece(t, QString(delim), 1) == parts.first());
    // A delimiter of other than one character never matches.
    const QString whole = t.isEmpty() ? def : t, twice = QString(delim) + delim;
    FUZZ_EQUAL({srv::Piece(t, QString(), 1, def), whole}, {srv::Piece(t, twice, 1, def), whole},
               {srv::Piece(t, twice, 2, def), def});
}

void sevenBit(const QString& t) {
    const auto containsAny = [&t](const QString& chars) {
        return fuzzsupport::anyChar(t, [&chars](QChar c) { return chars.contains(c); });
    };
    // The client's conversion and the server's are the same mapping.
    const QString display = srv::ConvertText(t, QStringLiteral("ZORVEK"));
    FUZZ_CHECK(display == cs::fromSevenBit(t) && display.size() == t.size());
    FUZZ_CHECK(srv::ConvertText(t, QStringLiteral("zorvek")) == t && srv::ConvertText(t, {}) == t);
    const QString stored = cs::toSevenBit(t);
    FUZZ_CHECK(stored.size() == t.size());
    if (!containsAny(QStringLiteral("äöüßÄÖÜ§"))) FUZZ_CHECK(cs::toSevenBit(display) == t);
    if (!containsAny(QStringLiteral("{|}~[\\]õ"))) FUZZ_CHECK(cs::fromSevenBit(stored) == t);
}

// raw: the first eight bytes of the text part.
void numbers(const QString& t, qint64 raw) {
    const qint64 v = raw % 100'000'000'000'000LL;
    // Blanks in front never change the leading number.
    FUZZ_CHECK(srv::LeadingNumber(QStringLiteral("  ") + t) == srv::LeadingNumber(t));
    FUZZ_CHECK(srv::LeadingNumber(QString::number(v) + QStringLiteral("x") + t) == v);
    FUZZ_CHECK(srv::IsNumeric(QString::number(v)));
    bool ok = false;
    t.toDouble(&ok);
    if (srv::IsNumeric(t)) FUZZ_CHECK(ok);

    (void)srv::PeriodAdd(t, QStringLiteral("1"));
    (void)srv::PeriodAdd(t, t);
    (void)srv::PeriodAdd(QStringLiteral("12403"), t);
    // Month arithmetic on a real period code, up to eleven months away.
    const int year = 1901 + int(quint64(v) % 999);
    const int month = 1 + int((quint64(v) >> 16) % 12);
    const int delta = int((quint64(v) >> 24) % 23) - 11;
    const int total = (year - 1900) * 12 + month - 1 + delta;
    FUZZ_CHECK(srv::PeriodAdd(cs::periodText(year, month), QString::number(delta)) ==
               QString::number(total / 12) +
                   QStringLiteral("%1").arg(total % 12 + 1, 2, 10, QChar(u'0')));
    FUZZ_CHECK(cs::parsePeriod(cs::periodText(year, month)) == (year - 1900) * 100 + month);
    const int p = cs::parsePeriod(t);
    if (p >= 0) FUZZ_CHECK(cs::periodText(1900 + p / 100, p % 100) == t);

    // A server day number that reads as a date is written back the same.
    const QDate d = srv::DateFromServer(t);
    if (d.isValid())
        FUZZ_CHECK(srv::LeadingNumber(cs::serverDayNumber(d.year(), d.month(), d.day())) ==
                   srv::LeadingNumber(t));
    const QDate day = QDate(1900, 1, 1).addDays(qint64(quint64(v) % 2'900'000));
    if (day.isValid() && day.year() <= 9999)
        FUZZ_CHECK(srv::DateFromServer(cs::serverDayNumber(day.year(), day.month(), day.day())) ==
                   day);

    // Money: accepted text has the documented form and survives the way to
    // text and back; any cent amount in range does too, the extremes print.
    qint64 cents = 0, again = 0;
    if (cs::textToCents(t, &cents)) {
        static const QRegularExpression form(QStringLiteral("\\A[+-]?[0-9]*(\\.[0-9]{0,2})?\\z"));
        FUZZ_CHECK(form.match(t.trimmed()).hasMatch());
        FUZZ_CHECK(cs::textToCents(cs::centsToText(cents), &again) && again == cents);
    }
    const qint64 c = v % 90'000'000'000'000'000LL;
    FUZZ_CHECK(cs::textToCents(cs::centsToText(c), &again) && again == c);
    (void)cs::centsToText(raw);

    const qint64 firma = cs::parseCompany(t);
    if (firma >= 0) FUZZ_CHECK(firma == srv::LeadingNumber(t.trimmed()));
    FUZZ_CHECK(cs::parseCompany(QString::number(qAbs(v))) == qAbs(v));
}

} // namespace

void fuzzOne(const QByteArray& input) {
    if (input.size() < 2) return;
    static const char16_t kDelims[] = {u'`', u'|', u' ', 0xFF, u','};
    const uint8_t d = input[1];
    const QChar delim = d < 200 ? QChar(kDelims[d % 5]) : QChar(d);
    const QString t = fuzzsupport::anyText(input[0], input.mid(2));
    pieces(t, delim);
    sevenBit(t);
    qint64 raw = 0;
    std::memcpy(&raw, input.constData() + 2, std::min(size_t(input.size() - 2), sizeof raw));
    numbers(t, raw);
}
