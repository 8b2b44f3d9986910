// Command lines: the desktop client's login words (Session::LoadConnection,
// through CacheLogin on the scripted fake server) and the options of the
// headless report tool (parseArguments and run). Input: UTF-8 text; NUL bytes
// split the tool's arguments and read as blanks for the client, so the same
// input is one process command line.

#include "FuzzSupport.h"
#include "ReportTool.h"
#include "platform/cache/ConnectString.h"
#include "server/SessionEnv.h"
#include "server/Text.h"

#include <QRegularExpression>

namespace {

bool hasBlank(const QString& s) {
    return fuzzsupport::anyChar(s, [](QChar c) { return c.isSpace(); });
}

bool digitsOnly(const QString& s) {
    return !s.isEmpty() && !fuzzsupport::anyChar(s, [](QChar c) { return c < u'0' || c > u'9'; });
}

// The client: first word numeric -> nine words at single blanks, else the
// stored settings and the login dialog.
void clientCommandLine(const QString& line) {
    using F = srv::ServerField;
    testenv::Env env;
    env.fake.addDemoUser();
    env.commandLine = line;
    // Should the dialog open, the user leaves it; the settings stay as stored.
    env.login.script.push_back([&env] { env.login.hide(); });
    const bool loggedIn = fuzzsupport::noEscape([&env] { return env.s().CacheLogin(); });
    FUZZ_CHECK(env.endCalls == 0);

    const srv::UserContext& u = srv::userContext();
    const srv::ConnectionSettings& c = srv::connectionSettings();
    const QStringList words = line.split(QLatin1Char(' '));
    const bool fromLine = !line.isEmpty() && srv::IsNumeric(words.first());
    FUZZ_CHECK(c.CommandLine == line && env.s().credentialsFromCommandLine() == fromLine);
    const auto word = [&words](int n, const QString& def = {}) {
        return words.value(n - 1).isEmpty() ? def : words.value(n - 1);
    };
    const auto shown = [&env](F field) { return env.server.text(field); };
    if (fromLine) {
        // A successful login keeps the password in the session only; the
        // dialogs show what the command line said. Only the demo user of
        // company 1 with the right password gets in.
        FUZZ_CHECK(env.login.modalShows == 0);
        FUZZ_EQUAL({u.Firma, words.first()}, {u.Filiale, word(2)}, {u.Personalcode, word(3)},
                   {u.Passwort, loggedIn ? QString() : word(4)},
                   {c.Server, word(5, srv::kDefaultServer)}, {c.Port, word(6, "1972")},
                   {c.Namespace, word(7, "ZORVEK")}, {c.WJ, word(8)}, {shown(F::BFIRMA), u.Firma},
                   {shown(F::BFIL), u.Filiale}, {shown(F::BSERVERIP), c.Server},
                   {shown(F::BPORT), c.Port}, {shown(F::BNAMESPACE), c.Namespace});
        FUZZ_CHECK(loggedIn == (u.Firma == "1" && u.Personalcode == "DEMO" && word(4) == "demo"));
    } else {
        // Nothing stored: the defaults, and the dialog was shown once.
        FUZZ_CHECK(env.login.modalShows == 1 && !loggedIn);
        FUZZ_EQUAL({u.Firma, "1"}, {u.Filiale, "0"}, {c.Server, srv::kDefaultServer},
                   {c.Port, "1973"});
    }
    FUZZ_EQUAL({c.ConnectString, cache::makeConnectString(c.Server, c.Port)},
               {env.login.text(srv::LoginField::BUSER), u.Personalcode});
    // A failed login says so in a message box, a successful one does not.
    FUZZ_CHECK(loggedIn == env.messages().isEmpty());
}

void checkOptions(const reporttool::Options& o) {
    FUZZ_CHECK(!o.server.isEmpty() && !hasBlank(o.server) && !hasBlank(o.password));
    FUZZ_CHECK(digitsOnly(o.port) && o.port.toInt() >= 1 && o.port.toInt() <= 65535);
    FUZZ_CHECK(digitsOnly(o.firma) && digitsOnly(o.filiale));
    FUZZ_CHECK(!o.user.isEmpty() && !hasBlank(o.user) && o.user == o.user.toUpper());
    for (const QString* code : {&o.pc, &o.habt, &o.abt, &o.hg, &o.ug, &o.vart})
        FUZZ_CHECK(!hasBlank(*code) && !code->contains(u'`') && !code->contains(QChar(0xFF)));
    FUZZ_CHECK(QStringList({"", "P", "G"}).contains(o.hkg));
    FUZZ_CHECK(QStringList({"", "L", "S"}).contains(o.hvart));
    FUZZ_CHECK(QStringList({"A", "L", "B", "W"}).contains(o.styp));
    if (!o.extended) FUZZ_CHECK(o.vart.isEmpty() && !o.skonto && o.styp == "A");
    FUZZ_CHECK(o.graphMode >= 0 && o.graphMode <= 2 && o.tableMode >= 0 && o.tableMode <= 4);
    FUZZ_CHECK(o.yearMode >= 0 && o.yearMode <= 1);
    FUZZ_CHECK(!o.today.isValid() || o.today.year() >= 1906);
    FUZZ_CHECK(!(o.json.isEmpty() && o.pdf.isEmpty() && o.png.isEmpty() && o.svg.isEmpty() &&
                 o.csv.isEmpty() && o.details.isEmpty()));
    for (const QString* file : {&o.pdf, &o.png, &o.svg, &o.csv, &o.details})
        FUZZ_CHECK(*file != "-");
    FUZZ_CHECK(o.dpi >= reporttool::kMinDpi && o.dpi <= reporttool::kMaxDpi);
    FUZZ_CHECK(o.splitMask == 1 || o.splitMask == 2 || o.splitMask == 8);
    FUZZ_CHECK(o.yearChoice >= 0 && o.yearChoice <= 2 && o.month >= 0 && o.month <= 12);
    if (o.month > 0) FUZZ_CHECK(o.yearChoice != 2);
}

void reportTool(const QStringList& args, const std::optional<QString>& envPassword) {
    using Kind = reporttool::ParseResult::Kind;
    platform::MemorySettingsStore settings;
    const reporttool::ParseResult r = fuzzsupport::noEscape(
        [&] { return reporttool::parseArguments(args, settings, envPassword); });
    FUZZ_CHECK((r.kind == Kind::Help) == (args.contains("--help") || args.contains("-h")));
    FUZZ_CHECK((r.kind == Kind::Usage) == !r.error.isEmpty());
    if (r.kind == Kind::Run) {
        checkOptions(r.options);
        // Without one from the environment, only --password gives a password;
        // the JSON never records it.
        FUZZ_CHECK(envPassword || !args.filter(QRegularExpression("^--password")).isEmpty());
        FUZZ_CHECK(!reporttool::optionsJson(r.options).contains("password"));
    }

    // The whole tool: bad arguments give the German error and exit code 2;
    // without a QGuiApplication a good command line fails before any work.
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    reporttool::ReportContext context{settings, outStream, errStream, envPassword, {}, {}};
    const int rc = fuzzsupport::noEscape([&] { return reporttool::run(args, context); });
    switch (r.kind) {
    case Kind::Help:
        FUZZ_CHECK(rc == reporttool::kExitOk && out == reporttool::usageText());
        break;
    case Kind::Version:
        FUZZ_CHECK(rc == reporttool::kExitOk && out.startsWith("tallvero-report "));
        break;
    case Kind::Usage:
        FUZZ_CHECK(rc == reporttool::kExitUsage && out.isEmpty() && err.contains(r.error) &&
                   err.contains("--help“ zeigt alle Optionen"));
        break;
    case Kind::Run:
        FUZZ_CHECK(rc == reporttool::kExitFailed && err.contains("QGuiApplication"));
        break;
    }
}

} // namespace

void fuzzOne(const QByteArray& raw) {
    clientCommandLine(QString::fromUtf8(raw).replace(QChar(0), u' '));
    QStringList args;
    for (const QByteArray& w : raw.isEmpty() ? QList<QByteArray>() : raw.split('\0'))
        args << QString::fromUtf8(w);
    reportTool(args, std::nullopt);
    reportTool(args, QStringLiteral("demo"));
}
