// tallvero-report: the report page and its value tables for a selection,
// without a window, for monthly automation and for checking the figures.

#include "ReportTool.h"
#include "platform/settings/QSettingsStore.h"

#include <QGuiApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char** argv) {
    // Fonts need a GUI application, a display does not: a cron job or an
    // ssh session has none.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", QByteArrayLiteral("offscreen"));
    QGuiApplication app(argc, argv);
    // The same names as the desktop client, so that "embedded" opens the
    // same per-user database.
    QCoreApplication::setApplicationName(QStringLiteral("Tallvero"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tallvero"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALLVERO_VERSION));

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
