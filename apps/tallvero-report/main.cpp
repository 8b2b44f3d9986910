// tallvero-report: the report's value tables for a selection, without a
// window, for monthly automation and for checking the figures.

#include "ReportTool.h"
#include "platform/settings/QSettingsStore.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    // The same names as the desktop client, so that "embedded" opens the
    // same per-user database.
    QCoreApplication::setApplicationName(QStringLiteral("Tallvero"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tallvero"));

    QTextStream out(stdout);
    QTextStream err(stderr);
    platform::QSettingsStore settings;
    if (!settings.problem().isEmpty()) err << settings.problem() << "\n" << Qt::flush;

    std::optional<QString> password;
    if (qEnvironmentVariableIsSet("TALLVERO_PASSWORD"))
        password = qEnvironmentVariable("TALLVERO_PASSWORD");

    reporttool::ReportContext context{settings, out, err, password, {}, {}};
    const int code = reporttool::run(QCoreApplication::arguments().mid(1), context);
    out.flush();
    err.flush();
    return code;
}
