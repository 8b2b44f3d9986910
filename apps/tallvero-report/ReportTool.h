#pragma once

// tallvero-report: logs in like the desktop client, runs the period query
// and the redraw of the report page for a selection given as options, and
// writes the page (PDF, PNG, SVG), the value table (CSV) and the value
// tables with the page's display list (JSON). Everything outside
// (settings, streams, the factory, the password from the environment, the
// wall clock) comes in through ReportContext, so tests run the tool
// in-process exactly as the binary does. Text measuring needs a
// QGuiApplication (the offscreen platform is enough). The selection is
// made in the lists the main window uses, in memory, as a user would.

#include "ReportOptions.h"
#include "server/Session.h"

#include <QDateTime>
#include <QTextStream>

namespace reporttool {

struct ReportContext {
    platform::SettingsStore& settings;
    QTextStream& out; // the JSON with "--json -"
    QTextStream& err; // messages, usage errors, the summary
    std::optional<QString> environmentPassword;
    // A new, unconnected factory per connection attempt; empty: the server
    // component.
    srv::FactoryMaker makeFactory;
    // The wall clock at start; invalid: the current time.
    QDateTime now;
};

// Runs the tool; returns the exit code (kExitOk, kExitFailed, kExitUsage).
int run(const QStringList& args, ReportContext& context);

} // namespace reporttool
