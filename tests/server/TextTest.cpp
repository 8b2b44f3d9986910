// Field extraction, 7-bit conversion, period arithmetic and day numbers.

#include "server/Text.h"

#include <gtest/gtest.h>

using namespace srv;

namespace {

std::string s(const QString& q) {
    return q.toStdString();
}

TEST(Piece, FieldsAtAOneCharacterDelimiter) {
    EXPECT_EQ(s(Piece("A|B", "|", 1, "d")), "A");
    EXPECT_EQ(s(Piece("A|B", "|", 2, "d")), "B");
    EXPECT_EQ(s(Piece("A|B", "|", 3, "d")), "d");
    EXPECT_EQ(s(Piece(QStringLiteral("01 Zubehör Innen"), " ", 3)), "Innen");
    EXPECT_EQ(s(Piece(QStringLiteral("01 Zubehör Innen"), " ", 2)), "Zubehör");
    EXPECT_EQ(s(Piece("a||b", "|", 2, "leer")), "leer");
    EXPECT_EQ(s(Piece("a||b", "|", 3)), "b");
    EXPECT_EQ(s(Piece("12`Name", QChar(u'`'), 1)), "12");
    EXPECT_EQ(s(Piece("12`Name", QChar(u'`'), 2)), "Name");
}

TEST(Piece, EdgesGiveTheDefault) {
    EXPECT_EQ(s(Piece("", " ", 1, "x")), "x");
    EXPECT_EQ(s(Piece("abc", " ", 0, "x")), "x");
    EXPECT_EQ(s(Piece("abc", " ", -1, "x")), "x");
    EXPECT_EQ(s(Piece("abc|", "|", 2, "x")), "x");
    EXPECT_EQ(s(Piece("|abc", "|", 1)), ""); // missing default counts as ""
    EXPECT_EQ(s(Piece("|abc", "|", 2)), "abc");
    // Only one-character delimiters ever match.
    EXPECT_EQ(s(Piece("a||b", "||", 1)), "a||b");
    EXPECT_EQ(s(Piece("a||b", "||", 2, "x")), "x");
    EXPECT_EQ(s(Piece("a b", "", 1)), "a b");
}

TEST(ConvertText, SevenBitCharactersBecomeUmlauts) {
    EXPECT_EQ(ConvertText("M}ller [rger", "ZORVEK"), QStringLiteral("Müller Ärger"));
    EXPECT_EQ(ConvertText("Stra~e", "ZORVEK"), QStringLiteral("Straße"));
    EXPECT_EQ(ConvertText(QStringLiteral("{|}~[\\]õ"), "ZORVEK"), QStringLiteral("äöüßÄÖÜ§"));
    EXPECT_EQ(ConvertText("Haustechnik 10", "ZORVEK"), QStringLiteral("Haustechnik 10"));
    EXPECT_EQ(ConvertText("", "ZORVEK"), QString());
    EXPECT_EQ(ConvertText("M}ller", "ANDERS"), QStringLiteral("M}ller"));
    // Already converted text stays as it is.
    EXPECT_EQ(ConvertText(QStringLiteral("Müller"), "ZORVEK"), QStringLiteral("Müller"));
}

TEST(PeriodAdd, MonthArithmeticWithOneCarry) {
    EXPECT_EQ(s(PeriodAdd("12612", "-1")), "12611");
    EXPECT_EQ(s(PeriodAdd("12701", "-1")), "12612");
    EXPECT_EQ(s(PeriodAdd("12702", "-2")), "12612");
    EXPECT_EQ(s(PeriodAdd("12612", "1")), "12701");
    EXPECT_EQ(s(PeriodAdd("12612", "+1")), "12701");
    EXPECT_EQ(s(PeriodAdd("12606", "0")), "12606");
    EXPECT_EQ(s(PeriodAdd("12401", "11")), "12412");
    // Any number of year digits; an untouched year keeps its text.
    EXPECT_EQ(s(PeriodAdd("9912", "1")), "10001");
    EXPECT_EQ(s(PeriodAdd("09905", "1")), "09906");
    EXPECT_EQ(s(PeriodAdd("202412", "1")), "202501");
    EXPECT_EQ(s(PeriodAdd("10001", "-1")), "9912");
}

TEST(DateFromServer, DayNumbersToDates) {
    EXPECT_EQ(DateFromServer("1071205"), QDate(2007, 12, 5));
    EXPECT_EQ(DateFromServer("1000101"), QDate(2000, 1, 1));
    EXPECT_EQ(DateFromServer("991231"), QDate(1999, 12, 31));
    EXPECT_EQ(DateFromServer("1240229"), QDate(2024, 2, 29));
    EXPECT_FALSE(DateFromServer("1230229").isValid()); // no 29 February 2023
    EXPECT_FALSE(DateFromServer("1071305").isValid());
    EXPECT_FALSE(DateFromServer("Müll").isValid());
    EXPECT_FALSE(DateFromServer("").isValid());
}

TEST(Numbers, NumericWordsAndLeadingNumbers) {
    EXPECT_TRUE(IsNumeric("12"));
    EXPECT_TRUE(IsNumeric("-3"));
    EXPECT_TRUE(IsNumeric("1.5"));
    EXPECT_FALSE(IsNumeric(""));
    EXPECT_FALSE(IsNumeric("abc"));
    EXPECT_FALSE(IsNumeric("12x"));
    EXPECT_FALSE(IsNumeric("inf"));
    EXPECT_FALSE(IsNumeric("nan"));
    EXPECT_EQ(LeadingNumber("12403`1240415"), 12403);
    EXPECT_EQ(LeadingNumber(" -2"), -2);
    EXPECT_EQ(LeadingNumber("x1"), 0);
    EXPECT_EQ(LeadingNumber(QStringLiteral("١٢")), 0); // only ASCII digits
}

} // namespace
