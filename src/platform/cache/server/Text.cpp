#include "Text.h"

namespace cache::server {

namespace {
struct Pair {
    char16_t stored;
    char16_t display;
};
constexpr Pair kMap[] = {{u'{', u'ä'}, {u'|', u'ö'}, {u'}', u'ü'}, {u'~', u'ß'},
                         {u'[', u'Ä'}, {u'\\', u'Ö'}, {u']', u'Ü'}, {u'õ', u'§'}};
} // namespace

QString toSevenBit(const QString& display) {
    QString out = display;
    for (QChar& c : out)
        for (const Pair& p : kMap)
            if (c.unicode() == p.display) {
                c = QChar(p.stored);
                break;
            }
    return out;
}

QString fromSevenBit(const QString& stored) {
    QString out = stored;
    for (QChar& c : out)
        for (const Pair& p : kMap)
            if (c.unicode() == p.stored) {
                c = QChar(p.display);
                break;
            }
    return out;
}

QString centsToText(qint64 cents) {
    const bool neg = cents < 0;
    const quint64 a = neg ? quint64(-(cents + 1)) + 1 : quint64(cents);
    QString s = QString::number(a / 100);
    const int frac = int(a % 100);
    if (frac != 0)
        s += QLatin1Char('.') + QStringLiteral("%1").arg(frac, 2, 10, QLatin1Char('0'));
    return neg ? QLatin1Char('-') + s : s;
}

bool textToCents(const QString& text, qint64* cents) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 20)
        return false;
    int i = 0;
    bool neg = false;
    if (t[0] == QLatin1Char('-') || t[0] == QLatin1Char('+')) {
        neg = t[0] == QLatin1Char('-');
        i = 1;
    }
    qint64 whole = 0;
    int digits = 0;
    for (; i < t.size() && t[i].isDigit() && t[i].unicode() < 128; ++i, ++digits) {
        whole = whole * 10 + (t[i].unicode() - '0');
        if (whole > 90'000'000'000'000'000LL / 100)
            return false;
    }
    qint64 frac = 0;
    int fracDigits = 0;
    if (i < t.size() && t[i] == QLatin1Char('.')) {
        ++i;
        for (; i < t.size() && t[i].isDigit() && t[i].unicode() < 128; ++i, ++fracDigits) {
            if (fracDigits >= 2)
                return false;
            frac = frac * 10 + (t[i].unicode() - '0');
        }
        if (fracDigits == 1)
            frac *= 10;
    }
    if (i != t.size() || (digits == 0 && fracDigits == 0))
        return false;
    const qint64 v = whole * 100 + frac;
    *cents = neg ? -v : v;
    return true;
}

int parsePeriod(const QString& text) {
    if (text.size() < 3 || text.size() > 5)
        return -1;
    for (QChar c : text)
        if (c.unicode() < '0' || c.unicode() > '9')
            return -1;
    const int v = text.toInt();
    const int month = v % 100;
    if (month < 1 || month > 12)
        return -1;
    // Written without leading zeros, as the client forms it.
    if (QString::number(v) != text)
        return -1;
    return v;
}

QString periodText(int year, int month) {
    return QString::number(year - 1900) + QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0'));
}

QString serverDayNumber(int year, int month, int day) {
    return QString::number(year - 1900) + QStringLiteral("%1%2")
                                              .arg(month, 2, 10, QLatin1Char('0'))
                                              .arg(day, 2, 10, QLatin1Char('0'));
}

qint64 parseCompany(const QString& text) {
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 15)
        return -1;
    for (QChar c : t)
        if (c.unicode() < '0' || c.unicode() > '9')
            return -1;
    return t.toLongLong();
}

} // namespace cache::server
