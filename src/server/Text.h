#pragma once

// Small pure helpers for the texts the server exchanges with the client.

#include <QDate>
#include <QString>

namespace srv {

// Field n (from 1) of text at a one-character delimiter; def when that
// field is empty or missing. A delimiter of more than one character never
// matches, so the whole text is field 1.
QString Piece(const QString& text, const QString& delimiter, int n, const QString& def = {});
QString Piece(const QString& text, QChar delimiter, int n, const QString& def = {});

// Server 7-bit characters to display characters. Mode "ZORVEK" is the only
// one the program knows; any other mode returns the text unchanged.
QString ConvertText(const QString& text, const QString& mode);

// Month arithmetic on a period code (year digits + two-digit month), with at
// most one year carry.
QString PeriodAdd(const QString& period, const QString& months);

// Server day number (year - 1900, month, day) to a date; an invalid QDate
// when the digits do not form a calendar date.
QDate DateFromServer(const QString& number);

// The leading whole number of a text (sign and digits after optional
// blanks), 0 when there is none, like the original's number reading.
qint64 LeadingNumber(const QString& text);

// True when the whole text reads as a number (e.g. "12", "-3", "1.5").
bool IsNumeric(const QString& text);

} // namespace srv
