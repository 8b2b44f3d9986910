#include "Text.h"

#include <cmath>

namespace srv {

QString Piece(const QString& text, const QString& delimiter, int n, const QString& def) {
    QString result;
    int k = 1;
    for (const QChar c : text) {
        if (delimiter.size() == 1 && c == delimiter.at(0)) {
            if (k == n) break;
            ++k;
        } else if (k == n) {
            result += c;
        }
    }
    return result.isEmpty() ? def : result;
}

QString Piece(const QString& text, QChar delimiter, int n, const QString& def) {
    return Piece(text, QString(delimiter), n, def);
}

QString ConvertText(const QString& text, const QString& mode) {
    if (mode != QLatin1String("ZORVEK")) return text;
    static const struct {
        char16_t from, to;
    } kTable[] = {
        {u'{', u'ä'}, {u'|', u'ö'},  {u'}', u'ü'}, {u'~', u'ß'},
        {u'[', u'Ä'}, {u'\\', u'Ö'}, {u']', u'Ü'}, {u'õ', u'§'},
    };
    QString out = text;
    for (const auto& r : kTable)
        out.replace(QChar(r.from), QChar(r.to));
    return out;
}

qint64 LeadingNumber(const QString& text) {
    int i = 0;
    while (i < text.size() && text.at(i) == QLatin1Char(' '))
        ++i;
    bool negative = false;
    if (i < text.size() && (text.at(i) == QLatin1Char('-') || text.at(i) == QLatin1Char('+'))) {
        negative = text.at(i) == QLatin1Char('-');
        ++i;
    }
    qint64 v = 0;
    for (; i < text.size() && text.at(i).isDigit() && text.at(i).unicode() < 128; ++i) {
        if (v > 100'000'000'000'000LL) break; // far outside any period or day number
        v = v * 10 + (text.at(i).unicode() - '0');
    }
    return negative ? -v : v;
}

bool IsNumeric(const QString& text) {
    bool hasDigit = false;
    for (const QChar c : text)
        if (c.isDigit()) hasDigit = true;
    if (!hasDigit) return false;
    bool ok = false;
    const double v = text.toDouble(&ok);
    return ok && std::isfinite(v);
}

QString PeriodAdd(const QString& period, const QString& months) {
    qint64 month = LeadingNumber(period.right(2)) + LeadingNumber(months);
    QString year = period.left(std::max<qsizetype>(period.size() - 2, 0));
    if (month > 12) {
        month -= 12;
        year = QString::number(LeadingNumber(year) + 1);
    } else if (month < 1) {
        month += 12;
        year = QString::number(LeadingNumber(year) - 1);
    }
    return year + QStringLiteral("%1").arg(month, 2, 10, QLatin1Char('0'));
}

QDate DateFromServer(const QString& number) {
    const qint64 n = LeadingNumber(number);
    const qint64 day = n % 100;
    const qint64 month = (n / 100) % 100;
    const qint64 year = n / 10000 + 1900;
    if (year < 1 || year > 9999) return {};
    return QDate(int(year), int(month), int(day));
}

} // namespace srv
