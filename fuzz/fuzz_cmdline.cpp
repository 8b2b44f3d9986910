// Command lines: the desktop client's login words (Session::LoadConnection,
// through CacheLogin on the scripted fake server) and the options of the
// headless report tool (parseArguments and run).
//
// Input: UTF-8 text. For the report tool its NUL bytes split the argument
// list; for the client a NUL reads as a blank, so the same input is one
// process command line.

#include "FuzzSupport.h"
#include "ReportTool.h"
#include "platform/cache/ConnectString.h"
#include "server/SessionEnv.h"
#include "server/Text.h"

namespace {

bool hasBlank(const QString& s) {
    for (const QChar c : s)
        if (c.isSpace()) return true;
    return false;
}

bool digitsOnly(const QString& s) {
    if (s.isEmpty()) return false;
    for (const QChar c : s)
        if (c < u'0' || c > u'9') return false;
    return true;
}

// The client: first word numeric -> nine words at single blanks, else the
// stored settings and the login dialog.
void clientCommandLine(const QString& line) {
    testenv::Env env;
    env.fake.addDemoUser();
    env.commandLine = line;
    // Should the dialog open, the user cancels the password entry only by
    // leaving it; the settings stay as stored.
    env.login.script.push_back([&env] { env.login.hide(); });
    bool loggedIn = false;
    FUZZ_NO_ESCAPE(loggedIn = env.s().CacheLogin());
    FUZZ_CHECK(env.endCalls == 0);

    const srv::UserContext& u = srv::userContext();
    const srv::ConnectionSettings& c = srv::connectionSettings();
    FUZZ_CHECK(c.CommandLine == line);
    const QStringList words = line.split(QLatin1Char(' '));
    const bool fromLine = !line.isEmpty() && srv::IsNumeric(words.first());
    FUZZ_CHECK(env.s().credentialsFromCommandLine() == fromLine);
    auto word = [&](int n, const QString& def) {
        const QString w = words.value(n - 1);
        return w.isEmpty() ? def : w;
    };
    if (fromLine) {
        FUZZ_CHECK(env.login.modalShows == 0);
        FUZZ_CHECK(u.Firma == words.first());
        FUZZ_CHECK(u.Filiale == word(2, {}));
        FUZZ_CHECK(u.Personalcode == word(3, {}));
        // A successful login keeps the password in the session only.
        FUZZ_CHECK(u.Passwort == (loggedIn ? QString() : word(4, {})));
        FUZZ_CHECK(c.Server == word(5, srv::kDefaultServer));
        FUZZ_CHECK(c.Port == word(6, QStringLiteral("1972")));
        FUZZ_CHECK(c.Namespace == word(7, QStringLiteral("ZORVEK")));
        FUZZ_CHECK(c.WJ == word(8, {}));
        // The dialogs show what the command line said.
        FUZZ_CHECK(env.server.text(srv::ServerField::BFIRMA) == u.Firma);
        FUZZ_CHECK(env.server.text(srv::ServerField::BFIL) == u.Filiale);
        FUZZ_CHECK(env.server.text(srv::ServerField::BSERVERIP) == c.Server);
        FUZZ_CHECK(env.server.text(srv::ServerField::BPORT) == c.Port);
        FUZZ_CHECK(env.server.text(srv::ServerField::BNAMESPACE) == c.Namespace);
        // Only the demo user of company 1 with the right password gets in.
        const bool demo = u.Firma == QLatin1String("1") && u.Personalcode == QLatin1String("DEMO") &&
                          word(4, {}) == QLatin1String("demo");
        FUZZ_CHECK(loggedIn == demo);
    } else {
        // Nothing stored: the defaults, and the dialog was shown once.
        FUZZ_CHECK(env.login.modalShows == 1);
        FUZZ_CHECK(u.Firma == QLatin1String("1") && u.Filiale == QLatin1String("0"));
        FUZZ_CHECK(c.Server == srv::kDefaultServer && c.Port == QLatin1String("1973"));
        FUZZ_CHECK(!loggedIn);
    }
    FUZZ_CHECK(c.ConnectString == cache::makeConnectString(c.Server, c.Port));
    FUZZ_CHECK(env.login.text(srv::LoginField::BUSER) == u.Personalcode);
    // A failed login says so in a message box, a successful one does not.
    FUZZ_CHECK(loggedIn == env.messages().isEmpty());
}

void checkOptions(const reporttool::Options& o) {
    FUZZ_CHECK(!o.server.isEmpty() && !hasBlank(o.server));
    FUZZ_CHECK(digitsOnly(o.port) && o.port.toInt() >= 1 && o.port.toInt() <= 65535);
    FUZZ_CHECK(digitsOnly(o.firma) && digitsOnly(o.filiale));
    FUZZ_CHECK(!o.user.isEmpty() && !hasBlank(o.user) && o.user == o.user.toUpper());
    FUZZ_CHECK(!hasBlank(o.password));
    for (const QString* code : {&o.pc, &o.habt, &o.abt, &o.hg, &o.ug, &o.vart})
        FUZZ_CHECK(!hasBlank(*code) && !code->contains(QLatin1Char('`')) &&
                   !code->contains(QChar(0xFF)));
    FUZZ_CHECK(o.hkg.isEmpty() || o.hkg == QLatin1String("P") || o.hkg == QLatin1String("G"));
    FUZZ_CHECK(o.hvart.isEmpty() || o.hvart == QLatin1String("L") ||
               o.hvart == QLatin1String("S"));
    FUZZ_CHECK(QStringList({"A", "L", "B", "W"}).contains(o.styp));
    if (!o.extended) FUZZ_CHECK(o.vart.isEmpty() && !o.skonto && o.styp == QLatin1String("A"));
    FUZZ_CHECK(o.graphMode >= 0 && o.graphMode <= 2);
    FUZZ_CHECK(o.tableMode >= 0 && o.tableMode <= 4);
    FUZZ_CHECK(o.yearMode >= 0 && o.yearMode <= 1);
    FUZZ_CHECK(!o.today.isValid() || o.today.year() >= 1906);
    FUZZ_CHECK(!(o.json.isEmpty() && o.pdf.isEmpty() && o.png.isEmpty() && o.svg.isEmpty() &&
                 o.csv.isEmpty() && o.details.isEmpty()));
    for (const QString* file : {&o.pdf, &o.png, &o.svg, &o.csv, &o.details})
        FUZZ_CHECK(*file != QLatin1String("-"));
    FUZZ_CHECK(o.dpi >= reporttool::kMinDpi && o.dpi <= reporttool::kMaxDpi);
    FUZZ_CHECK(o.splitMask == 1 || o.splitMask == 2 || o.splitMask == 8);
    FUZZ_CHECK(o.yearChoice >= 0 && o.yearChoice <= 2);
    FUZZ_CHECK(o.month >= 0 && o.month <= 12);
    if (o.month > 0) FUZZ_CHECK(o.yearChoice != 2);
}

void reportTool(const QStringList& args, const std::optional<QString>& envPassword) {
    using Kind = reporttool::ParseResult::Kind;
    platform::MemorySettingsStore settings;
    reporttool::ParseResult r;
    FUZZ_NO_ESCAPE(r = reporttool::parseArguments(args, settings, envPassword));
    const bool help =
        args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"));
    FUZZ_CHECK((r.kind == Kind::Help) == help);
    FUZZ_CHECK((r.kind == Kind::Usage) == !r.error.isEmpty());
    if (r.kind == Kind::Run) {
        checkOptions(r.options);
        if (!envPassword) {
            bool given = false;
            for (const QString& a : args)
                given |= a.startsWith(QLatin1String("--password"));
            FUZZ_CHECK(given);
        }
        // The password is never part of what the JSON records.
        FUZZ_CHECK(!reporttool::optionsJson(r.options).contains(QStringLiteral("password")));
    }

    // The whole tool: bad arguments give the German error and exit code 2;
    // without a QGuiApplication a good command line fails before any work.
    QString out, err;
    QTextStream outStream(&out), errStream(&err);
    reporttool::ReportContext context{settings, outStream, errStream, envPassword, {}, {}};
    int rc = -1;
    FUZZ_NO_ESCAPE(rc = reporttool::run(args, context));
    switch (r.kind) {
    case Kind::Help:
        FUZZ_CHECK(rc == reporttool::kExitOk && out == reporttool::usageText());
        break;
    case Kind::Version:
        FUZZ_CHECK(rc == reporttool::kExitOk && out.startsWith(QStringLiteral("tallvero-report ")));
        break;
    case Kind::Usage:
        FUZZ_CHECK(rc == reporttool::kExitUsage && out.isEmpty());
        FUZZ_CHECK(err.contains(r.error) && err.contains(QStringLiteral("--help“ zeigt alle Optionen")));
        break;
    case Kind::Run:
        FUZZ_CHECK(rc == reporttool::kExitFailed && err.contains(QStringLiteral("QGuiApplication")));
        break;
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzzsupport::initApp(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray raw = fuzzsupport::bytes(data, size);

    QString line = QString::fromUtf8(raw);
    line.replace(QChar(0), QLatin1Char(' '));
    clientCommandLine(line);

    QStringList args;
    if (!raw.isEmpty())
        for (const QByteArray& w : raw.split('\0'))
            args << QString::fromUtf8(w);
    reportTool(args, std::nullopt);
    reportTool(args, QStringLiteral("demo"));
    return 0;
}
