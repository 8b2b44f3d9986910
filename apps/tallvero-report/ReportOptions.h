#pragma once

// The command line of tallvero-report: what it asks for, read and checked
// apart from running it. Connection values missing from the options come
// from the settings store, the password from the option or the
// environment.

#include "platform/settings/SettingsStore.h"

#include <QDate>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <optional>

namespace reporttool {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

struct Options {
    // Connection and login.
    QString server, port, firma, filiale, user;
    QString password; // never written anywhere
    // Selection codes, empty for no restriction.
    QString pc, habt, abt, hg, ug, hkg, hvart;
    bool extended = false;
    QString styp = QStringLiteral("A");
    QString vart;
    bool skonto = false;
    // View flags, as the value store numbers them.
    int graphMode = 0;
    bool dbPercent = false;
    int tableMode = 2;
    int yearMode = 0;
    QDate today; // invalid: the day the tool runs
    // Outputs, empty when not asked for; at least one is given.
    QString json; // "-" for stdout
    QString pdf, png, svg, csv;
    int dpi = 150; // of the PNG
    // The details list as CSV, and its options.
    QString details;
    int splitMask = 2;      // 1 none, 2 customer groups, 8 shipping types
    int yearChoice = 0;     // --jahr
    int month = 0;          // --monat: 0 year values, else that month
    bool groupByPc = false; // --gruppierung pc: the question answered "Ja"
    // The report book: one PDF with the page of the selection and a page
    // per entry of the list `each` (pc, habt, abt, hg, ug).
    QString book, each;
};

constexpr int kMinDpi = 30;
constexpr int kMaxDpi = 1200;

struct ParseResult {
    enum class Kind { Run, Help, Version, Usage };
    Kind kind = Kind::Usage;
    Options options;
    QString error; // German, names the option (Kind::Usage)
};

// Reads the words after the program name.
ParseResult parseArguments(const QStringList& args, const platform::SettingsStore& settings,
                           const std::optional<QString>& environmentPassword);

// The German text of --help.
QString usageText();

// The options as the JSON file records them: every option, never the password.
QJsonObject optionsJson(const Options& o);

// A value in German quotes, for messages.
QString quoted(const QString& s);

} // namespace reporttool
