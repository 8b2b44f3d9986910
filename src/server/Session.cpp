#include "Session.h"

#include "Text.h"
#include "platform/cache/ConnectString.h"

#include <QLoggingCategory>
#include <cmath>
#include <stdexcept>
#include <utility>

namespace srv {

Q_LOGGING_CATEGORY(lcServer, "tallvero.server")

using platform::MsgAnswer;
using platform::MsgButtons;
using platform::MsgIcon;

namespace {

Session* g_current = nullptr;

const QString kTitleLogin = QStringLiteral("Anmeldung an Caché");
const QString kWindowsClass = QStringLiteral("ZK.Windows");
const QString kNoResult = QStringLiteral("Ungültige Anfrage! Kein Ergebnis gefunden");
// VB's "type mismatch": an answer that should be a number is not one.
constexpr int kTypeMismatch = 13;

ConnectionSettings& cs() {
    return connectionSettings();
}
UserContext& uc() {
    return userContext();
}

} // namespace

Session::Session(SessionServices services) : s_(std::move(services)), previous_(g_current) {
    g_current = this;
    s_.login.onBUSpeich = [this] { BUSpeich_Click(); };
    s_.login.onBUAusst = [this] { BUAusst_Click(); };
    s_.login.onBUServer = [this] { BUServer_Click(); };
    s_.login.onClose = [this] { FMPass_Close(); };
    s_.server.onBUEdit = [this] { BUEdit_Click(); };
    s_.server.onBUZurück = [this] { BUZurück_Click(); };
    s_.server.Lock().setCallback([this] { Lock_Timer(); });
}

Session::~Session() {
    s_.server.Lock().stop();
    s_.server.Lock().setCallback({});
    s_.login.onBUSpeich = {};
    s_.login.onBUAusst = {};
    s_.login.onBUServer = {};
    s_.login.onClose = {};
    s_.server.onBUEdit = {};
    s_.server.onBUZurück = {};
    if (g_current == this) g_current = previous_;
}

Session* Session::current() {
    return g_current;
}

QString Session::sessionLine(const QString& firma, const QString& filiale,
                             const QString& personalcode) {
    // A quote inside the code is doubled, as the server's string literals
    // require; personnel codes never contain one in practice.
    QString code = personalcode;
    code.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QStringLiteral("S FIRMA=") + firma + QStringLiteral(",FIL=") + filiale +
           QStringLiteral(",PERSONAL=\"") + code + QLatin1Char('"');
}

QString Session::subGroupLine(const QString& hauptgruppe) {
    // Always a string literal: a bare argument would be read as a number
    // ("020" as 20) or as a literal of its own ("\"20\""), i.e. as another code.
    QString code = hauptgruppe;
    code.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QStringLiteral("d UGRP^ZKCLSU(\"") + code + QStringLiteral("\")");
}

// --- session and connection --------------------------------------------------

void Session::copyIntoDialogs() {
    copyIntoServerDialog();
    s_.login.setText(LoginField::BUSER, uc().Personalcode);
}

void Session::copyIntoServerDialog() {
    s_.server.setText(ServerField::BWJ, cs().WJ);
    s_.server.setText(ServerField::BNAMESPACE, cs().Namespace);
    s_.server.setText(ServerField::BFIRMA, uc().Firma);
    s_.server.setText(ServerField::BFIL, uc().Filiale);
    s_.server.setText(ServerField::BSERVERIP, cs().Server);
    s_.server.setText(ServerField::BPORT, cs().Port);
}

void Session::LoadConnection() {
    const QString& line = cs().CommandLine;
    fromCommandLine_ = !line.isEmpty() && IsNumeric(Piece(line, QChar(u' '), 1));
    if (fromCommandLine_) {
        auto word = [&](int n, const QString& def) { return Piece(line, QChar(u' '), n, def); };
        uc().Firma = word(1, {});
        uc().Filiale = word(2, {});
        uc().Personalcode = word(3, {});
        uc().Passwort = word(4, {});
        cs().Server = word(5, kDefaultServer);
        cs().Port = word(6, QStringLiteral("1972"));
        cs().Namespace = word(7, QStringLiteral("ZORVEK"));
        cs().WJ = word(8, {});
        (void)word(9, {}); // read, not used
        copyIntoDialogs();
    } else {
        ReadLoginSettings();
        if (!s_.login.isVisible()) s_.login.showModal();
        ReadLoginSettings();
    }
    cs().ConnectString = cache::makeConnectString(cs().Server, cs().Port);
}

void Session::ReadLoginSettings() {
    platform::SettingsStore& st = s_.settings;
    uc().Firma = st.read(QStringLiteral("Firma"), QStringLiteral("1"));
    uc().Filiale = st.read(QStringLiteral("Filiale"), QStringLiteral("0"));
    cs().Server = st.read(QStringLiteral("Server"), kDefaultServer);
    cs().Port = st.read(QStringLiteral("Port"), QStringLiteral("1973"));
    cs().Namespace = st.read(QStringLiteral("Namespace"), QStringLiteral("ZORVEK"));
    cs().ConnectString = cache::makeConnectString(cs().Server, cs().Port);
    bool failed = false;
    cs().WJ = DBCall(QStringLiteral("S P0=$P(^FA(0),\"`\",2) W P0"), failed);
    uc().Personalcode = st.read(QStringLiteral("Name"), QString());
    uc().Passwort = s_.login.text(LoginField::BPASSWORT);
    copyIntoDialogs();
}

bool Session::factoryConnected() const {
    if (!factory_) return false;
    try {
        return factory_->isConnected();
    } catch (const std::exception&) {
        return false;
    }
}

void Session::sendSessionVariables() {
    std::unique_ptr<cache::CacheObject> h = factory_->classHandle(kWindowsClass);
    h->call(QStringLiteral("Xecute"), {sessionLine(uc().Firma, uc().Filiale, uc().Personalcode)});
    h->call(QStringLiteral("Xecute"), {QStringLiteral("D ^%XTT")});
    CacheClose(h);
}

void Session::CacheConnect() {
    if (factoryConnected()) return;
    int failures = 0;
    bool dialogShown = false;
    for (;;) {
        factory_ = s_.makeFactory ? s_.makeFactory() : nullptr;
        bool connected = false;
        if (factory_ && !verifiedCode_.isEmpty())
            factory_->setLogin(verifiedCode_, verifiedPassword_);
        if (factory_) {
            try {
                const bool answered = factory_->connect(cs().ConnectString);
                const bool reported = factory_->isConnected();
                connected = answered && reported;
                if (!connected)
                    qCInfo(lcServer) << "connection attempt failed:" << cs().ConnectString
                                     << factory_->lastConnectError();
            } catch (const std::exception& e) {
                qCInfo(lcServer) << "connection attempt failed:" << cs().ConnectString << e.what();
            }
        }
        if (connected) {
            s_.server.setConnectError({});
            try {
                sendSessionVariables();
            } catch (const cache::CacheError&) {
                // Without its session variables the connection is of no use;
                // drop it so that the next server call sets it up afresh.
                try {
                    factory_->disconnect();
                } catch (const std::exception&) {
                }
                throw;
            }
            return;
        }
        ++failures;
        if (failures >= 3) {
            if (dialogShown) finalConnectFailure();
            s_.ui.message(kTitleLogin,
                          QStringLiteral("Server nach 3 Versuchen nicht erreichbar!\n"
                                         "Bitte Kontrollieren Sie die Verbindungsdaten"),
                          MsgIcon::Exclamation, MsgButtons::Ok);
            // The dialog is where the user looks at the connection: it says
            // why the last attempt failed (a certificate, a refused login).
            s_.server.setConnectError(factory_ ? factory_->lastConnectError() : QString());
            // Already open (the user saved new settings in it, and that
            // reconnect failed too): it cannot be shown a second time.
            if (!s_.server.isVisible()) {
                // The first connection runs before the settings reach the
                // fields; the user must see the values that just failed.
                copyIntoServerDialog();
                s_.server.showModal();
            }
            dialogShown = true;
            continue;
        }
        s_.ui.processEvents();
        Pause(1000);
    }
}

void Session::finalConnectFailure() {
    s_.ui.message(kTitleLogin,
                  QStringLiteral("Der Server ist nicht erreichbar!\n"
                                 "Bitte Versuchen Sie die Anmeldung zu einem späteren Zeitpunk "
                                 "noch ein mal."),
                  MsgIcon::Stop, MsgButtons::Ok);
    s_.server.hide();
    uc().Benutzer.clear();
    verifiedCode_.clear();
    verifiedPassword_.clear();
    if (factoryConnected()) {
        try {
            factory_->disconnect();
        } catch (const std::exception&) {
        }
    }
    BUAusst_Click();
    throw ProgramEnded{}; // not reached: BUAusst ends the program
}

void Session::CacheDisconnect() {
    s_.server.Lock().stop();
    if (factoryConnected()) {
        try {
            factory_->disconnect();
        } catch (const std::exception&) {
        }
    }
}

int Session::Pause(int hundredths) {
    const double limit = hundredths / 100.0;
    const double start = s_.clock.secondsSinceMidnight();
    double now = start;
    // The second test ends the wait when the timer wraps at midnight.
    while (now < start + limit && now + 0.01 > start) {
        s_.clock.processEvents();
        now = s_.clock.secondsSinceMidnight();
    }
    return int(std::lround(now - start));
}

void Session::EndProgram() {
    if (s_.endProgram) s_.endProgram();
    throw ProgramEnded{};
}

// --- remote execution ----------------------------------------------------------

void Session::DBBegin(bool showHourglass) {
    if (showHourglass) s_.ui.setBusyCursor(true);
    CacheConnect();
    s_.server.Lock().stop();
}

void Session::DBEnd(bool showHourglass) {
    if (work_ > 0) return;
    if (showHourglass) s_.ui.setBusyCursor(false);
    s_.server.Lock().start();
}

void Session::endWork() {
    if (--work_ > 0) return;
    if (s_.ui.busyCursor()) s_.ui.setBusyCursor(false);
    s_.server.Lock().start();
}

QString Session::xecute(const QString& code) {
    DBBegin(false);
    std::unique_ptr<cache::CacheObject> h = factory_->classHandle(kWindowsClass);
    const QString result = h->call(QStringLiteral("Xecute"), {code});
    CacheClose(h);
    DBEnd(false);
    return result;
}

QString Session::DBCall(const QString& code, bool& failed) {
    try {
        return xecute(code);
    } catch (const cache::CacheError& e) {
        failed = true;
        ShowAccessError(
            kNoResult + QStringLiteral("\n\nDBCall Aufruf von ZK.Windwos Xecute ") + code, e);
        return {};
    }
}

std::optional<int> Session::DBCallD(const QString& code, const QString& separator,
                                    QStringList& values, bool& failed) {
    QString written;
    try {
        written = xecute(code);
    } catch (const cache::CacheError& e) {
        failed = true;
        ShowAccessError(
            kNoResult + QStringLiteral("\n\nDBCallD Aufruf von ZK.Windwos Xecute ") + code, e);
        return std::nullopt;
    }
    int n = 0;
    int capacity = 0;
    QString current;
    auto store = [&] {
        ++n;
        if (n > capacity) {
            capacity += 10;
            values.resize(capacity + 1); // positions 0..capacity
        }
        values[n] = current;
        current.clear();
    };
    for (const QChar c : written) {
        if (separator.size() == 1 && c == separator.at(0))
            store();
        else
            current += c;
    }
    if (!current.isEmpty()) store();
    return n;
}

void Session::ShowAccessError(const QString& operation, int number, const QString& description) {
    s_.ui.message(QStringLiteral("Caché Zugriffsfehler"),
                  QStringLiteral("Vorgang: ") + operation + QStringLiteral(".\n\nFehler: ") +
                      QString::number(number) + QLatin1Char('\n') + description +
                      QStringLiteral("\n\n"),
                  MsgIcon::Exclamation, MsgButtons::Ok);
    DBEnd(true);
}

void Session::ShowAccessError(const QString& operation, const cache::CacheError& error) {
    ShowAccessError(operation, error.number(), error.description());
}

int Session::CheckPermission(const QString& programm, const QString& user) {
    const QString part = programm.isEmpty() ? QStringLiteral("alles") : programm;
    const QString who = user.isEmpty() ? uc().Personalcode : user;
    DBBegin(false);
    std::unique_ptr<cache::CacheObject> h =
        factory_->classHandle(QStringLiteral("UserVerwaltung.Programm"));
    const QString answer = h->call(QStringLiteral("Berechtigung"), {who, kApplicationTitle, part});
    bool ok = false;
    const double level = answer.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(level) || std::abs(level) > 1e9)
        throw cache::CacheError(
            kTypeMismatch,
            QStringLiteral("Typen unverträglich: Berechtigung lieferte „%1“").arg(answer.left(80)));
    CacheClose(h);
    DBEnd(false);
    return int(std::lround(level));
}

// --- login ---------------------------------------------------------------------

bool Session::CacheLogin() {
    uc().Benutzer.clear();
    verifiedCode_.clear();
    verifiedPassword_.clear();
    if (cs().CommandLine.isEmpty() && s_.processCommandLine)
        cs().CommandLine = s_.processCommandLine();
    LoadConnection();

    // A new connection sends the session line first; should that fail, it is
    // reported under the name of the step that sends the same line.
    QString step = QStringLiteral("Firma Filiale Personal Setzen");
    bool result = false;
    try {
        DBBegin(false);
        // The reads of the login record run under this step's name too.
        step = QStringLiteral("Anmeldung mit nicht existierendem Personalcode");
        std::unique_ptr<cache::CacheObject> rec = factory_->open(
            QStringLiteral("ZK.ParPersEdv"), uc().Firma + QStringLiteral("||") + uc().Personalcode);
        // The server checks the password (it keeps no copy that could be
        // read back); on PostgreSQL this is the login of the code's own
        // role, and the connection runs as that role from here on.
        if (rec->call(QStringLiteral("PasswortPruefen"), {uc().Passwort}) != QLatin1String("1") ||
            rec->property(QStringLiteral("AKTIV")) != QLatin1String("J")) {
            s_.ui.message(QStringLiteral("Anmeldung an Caché."),
                          QStringLiteral("Passwort Falsch oder Benutzer nicht Aktiv."),
                          MsgIcon::Information, MsgButtons::Ok);
            s_.login.selectAllText(LoginField::BPASSWORT, true);
            result = false;
        } else {
            const QString name = rec->call(QStringLiteral("PNAMELogicalToODBC"),
                                           {rec->property(QStringLiteral("PNAME"))});
            uc().Benutzer = uc().Personalcode + QLatin1Char('|') + name;
            uc().BenutzerName = name;
            uc().PersonalNr = rec->property(QStringLiteral("PNR"));
            const QString abtnr = rec->property(QStringLiteral("ABTNR"));
            uc().DW = rec->property(QStringLiteral("DW"));
            uc().BerGrp = rec->property(QStringLiteral("BERGRP"));

            step = QStringLiteral("Abteilungsermittlung");
            std::unique_ptr<cache::CacheObject> abt = factory_->open(
                QStringLiteral("ZK.ParPersAbt"), uc().Firma + QStringLiteral("||") + abtnr);
            uc().AbteilungBez = abt->call(QStringLiteral("ABTBEZlogicaltoodbc"),
                                          {abt->property(QStringLiteral("abtbez"))});
            uc().Abteilung = abt->property(QStringLiteral("ABTNR"));
            uc().HauptAbteilung = abt->property(QStringLiteral("HAbtNr"));
            CacheClose(abt);

            step = QStringLiteral("PersBasis Nummern");
            std::unique_ptr<cache::CacheObject> basis =
                factory_->open(QStringLiteral("ZK.PersBasis"),
                               uc().Firma + QStringLiteral("||") + uc().PersonalNr);
            uc().Fax = basis->property(QStringLiteral("fax"));
            uc().EMail = basis->call(QStringLiteral("EMailLogicalToODBC"),
                                     {basis->property(QStringLiteral("EMAIL"))});
            CacheClose(basis);

            CacheClose(rec);

            if (!uc().Benutzer.isEmpty()) {
                step = QStringLiteral("Firma Filiale Personal Setzen");
                std::unique_ptr<cache::CacheObject> h = factory_->classHandle(kWindowsClass);
                h->call(
                    QStringLiteral("Xecute"),
                    {sessionLine(uc().Firma, uc().Filiale, Piece(uc().Benutzer, QChar(u'|'), 1))});
                CacheClose(h);
            }
            // Later connections log in as this user again (the idle close,
            // a lost link); nothing else needs the password any more.
            verifiedCode_ = uc().Personalcode;
            verifiedPassword_ = std::exchange(uc().Passwort, QString());
            result = true;
        }
    } catch (const cache::CacheError& e) {
        ShowAccessError(step, e);
        return false;
    }
    DBEnd(false);
    s_.login.hide();
    s_.server.hide();
    return result;
}

void Session::Sichern() {
    platform::SettingsStore& st = s_.settings;
    st.write(QStringLiteral("Firma"), s_.server.text(ServerField::BFIRMA));
    st.write(QStringLiteral("Filiale"), s_.server.text(ServerField::BFIL));
    st.write(QStringLiteral("Name"), s_.login.text(LoginField::BUSER));
    st.write(QStringLiteral("Server"), s_.server.text(ServerField::BSERVERIP));
    st.write(QStringLiteral("Port"), s_.server.text(ServerField::BPORT));
    st.write(QStringLiteral("Namespace"), s_.server.text(ServerField::BNAMESPACE));
    st.sync();
}

void Session::BUSpeich_Click() {
    Sichern();
    if (s_.mainWindowVisible && s_.mainWindowVisible()) {
        CacheDisconnect();
        CacheLogin();
        if (s_.setMainCaption)
            s_.setMainCaption(QStringLiteral("ZORVEK     Firma: ") + uc().Firma +
                              QStringLiteral("     Filiale: ") + uc().Filiale +
                              QStringLiteral("     Benutzer: ") + uc().BenutzerName);
    }
    s_.ui.processEvents();
    s_.login.hide();
}

void Session::BUAusst_Click() {
    uc().Benutzer.clear();
    EndProgram();
}

void Session::FMPass_Close() {
    // Over the main window only the re-login is given up; at start-up there
    // is nothing to go back to.
    if (s_.mainWindowVisible && s_.mainWindowVisible())
        s_.login.hide();
    else
        BUAusst_Click();
}

void Session::BUServer_Click() {
    s_.server.showModal();
}

void Session::mLogin_Click() {
    s_.login.showModeless();
}

// --- server settings dialog ------------------------------------------------------

void Session::BUEdit_Click() {
    const QString ask = kTitleLogin;
    if (!s_.server.editUnlocked()) {
        s_.server.setFieldsLocked(true);
        if (s_.ui.message(ask, QStringLiteral("Änderungen sichern?"), MsgIcon::None,
                          MsgButtons::YesNo) == MsgAnswer::Yes) {
            DBEnd(false);
            CacheDisconnect();
            Sichern();
            ReadLoginSettings();
        }
    } else {
        if (s_.ui.message(ask, QStringLiteral("Änderungen erlauben?"), MsgIcon::None,
                          MsgButtons::YesNo) == MsgAnswer::Yes)
            s_.server.setFieldsLocked(false);
        else
            s_.server.setEditUnlocked(false);
    }
}

void Session::BUZurück_Click() {
    s_.server.hide();
}

void Session::Lock_Timer() {
    CacheDisconnect();
}

} // namespace srv
