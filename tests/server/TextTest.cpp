// Field extraction, 7-bit conversion, period arithmetic and day numbers.

#include "server/Text.h"
#include "support/Utf8.h"

#include <gtest/gtest.h>

using namespace srv;

namespace {

using testsupport::u;

// The rows after "a b" use delimiters of other than one character: they never match.
TEST(Piece, FieldsAndTheirDefaults) {
    const struct {
        const char *text, *delim;
        int n;
        const char *def, *expected;
    } rows[] = {
        {"A|B", "|", 1, "d", "A"},        {"A|B", "|", 2, "d", "B"},  {"A|B", "|", 3, "d", "d"},
        {"a||b", "|", 2, "leer", "leer"}, {"a||b", "|", 3, "", "b"},  {"12`Name", "`", 1, "", "12"},
        {"12`Name", "`", 2, "", "Name"},  {"", " ", 1, "x", "x"},     {"abc", " ", 0, "x", "x"},
        {"abc", " ", -1, "x", "x"},       {"abc|", "|", 2, "x", "x"}, {"|abc", "|", 1, "", ""},
        {"|abc", "|", 2, "", "abc"},      {"a b", "", 1, "", "a b"},  {"a||b", "||", 1, "", "a||b"},
        {"a||b", "||", 2, "x", "x"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.text << " " << r.delim << " " << r.n);
        EXPECT_EQ(Piece(u(r.text), u(r.delim), r.n, u(r.def)), u(r.expected));
        if (u(r.delim).size() == 1) {
            EXPECT_EQ(Piece(u(r.text), u(r.delim).at(0), r.n, u(r.def)), u(r.expected));
        }
    }
    EXPECT_EQ(Piece(u("|abc"), u("|"), 1), QString()); // a missing default counts as ""
    EXPECT_EQ(Piece(u("01 Zubehör Innen"), u(" "), 2), u("Zubehör"));
    EXPECT_EQ(Piece(u("01 Zubehör Innen"), QChar(u' '), 3), u("Innen"));
}

TEST(ConvertText, SevenBitCharactersBecomeUmlautsInTheHomeNamespaceOnly) {
    // Already converted text stays as it is.
    const char* rows[][3] = {{"M}ller [rger", "ZORVEK", "Müller Ärger"},
                             {"Stra~e", "ZORVEK", "Straße"},
                             {"{|}~[\\]õ", "ZORVEK", "äöüßÄÖÜ§"},
                             {"Haustechnik 10", "ZORVEK", "Haustechnik 10"},
                             {"", "ZORVEK", ""},
                             {"M}ller", "ANDERS", "M}ller"},
                             {"Müller", "ZORVEK", "Müller"}};
    for (const auto& r : rows)
        EXPECT_EQ(ConvertText(u(r[0]), u(r[1])), u(r[2])) << r[0] << " " << r[1];
}

TEST(PeriodAdd, MonthArithmeticWithOneCarry) {
    // Any number of year digits; an untouched year keeps its text.
    const char* rows[][3] = {
        {"12612", "-1", "12611"},  {"12701", "-1", "12612"}, {"12702", "-2", "12612"},
        {"12612", "1", "12701"},   {"12612", "+1", "12701"}, {"12606", "0", "12606"},
        {"12401", "11", "12412"},  {"9912", "1", "10001"},   {"09905", "1", "09906"},
        {"202412", "1", "202501"}, {"10001", "-1", "9912"}};
    for (const auto& r : rows)
        EXPECT_EQ(PeriodAdd(u(r[0]), u(r[1])), u(r[2])) << r[0] << " " << r[1];
}

TEST(DateFromServer, DayNumbersToDates) {
    // Year 0: no date (no 29 February 2023, no month 13, no number).
    const struct {
        const char* number;
        int y, m, d;
    } rows[] = {{"1071205", 2007, 12, 5}, {"1000101", 2000, 1, 1},
                {"991231", 1999, 12, 31}, {"1240229", 2024, 2, 29},
                {"1230229", 0, 0, 0},     {"1071305", 0, 0, 0},
                {"Muell", 0, 0, 0},       {"", 0, 0, 0}};
    for (const auto& r : rows)
        EXPECT_EQ(DateFromServer(u(r.number)), QDate(r.y, r.m, r.d)) << r.number;
}

TEST(Numbers, NumericWordsAndLeadingNumbers) {
    for (const char* yes : {"12", "-3", "1.5"})
        EXPECT_TRUE(IsNumeric(u(yes))) << yes;
    for (const char* no : {"", "abc", "12x", "inf", "nan"})
        EXPECT_FALSE(IsNumeric(u(no))) << no;
    // Only ASCII digits count.
    const struct {
        const char* text;
        qint64 n;
    } rows[] = {{"12403`1240415", 12403}, {" -2", -2}, {"x1", 0}, {"١٢", 0}};
    for (const auto& r : rows)
        EXPECT_EQ(LeadingNumber(u(r.text)), r.n) << r.text;
}

} // namespace
