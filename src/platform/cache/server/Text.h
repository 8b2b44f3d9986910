#pragma once

#include <QString>

namespace cache::server {

// The server keeps German special characters in a 7-bit form:
// ä={ ö=| ü=} ß=~ Ä=[ Ö=\ Ü=] §=õ
QString toSevenBit(const QString& display);
QString fromSevenBit(const QString& stored);

// Money: whole cents <-> server number text with "." as decimal point.
QString centsToText(qint64 cents);
// Accepts "-12", "12.5", "1234.56", "1,5" is rejected; nullopt when not a
// number with at most two decimals.
bool textToCents(const QString& text, qint64* cents);

// Period code (year - 1900, two-digit month) <-> number; -1 when invalid.
int parsePeriod(const QString& text);
QString periodText(int year, int month);
// Server day number (year - 1900, month, day), e.g. 1240301.
QString serverDayNumber(int year, int month, int day);

// Company number as the client sends it; -1 when not a whole number.
qint64 parseCompany(const QString& text);

} // namespace cache::server
