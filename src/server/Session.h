#pragma once

// The server access of the client: one connection for the whole process,
// opened lazily with bounded attempts and closed after a minute without
// server work; the remote-call bracket and its wrappers; the login. All
// outside effects (message boxes, dialogs, clock, settings, the factory,
// ending the process) come in through SessionServices, so the whole
// behaviour runs in tests without a window and without real waits.

#include "Dialogs.h"
#include "Records.h"
#include "platform/cache/Factory.h"
#include "platform/settings/SettingsStore.h"
#include "platform/ui/Ui.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

namespace srv {

using FactoryMaker = std::function<std::unique_ptr<cache::Factory>()>;

// Thrown by EndProgram when its hook returns (tests): the program has ended
// and nothing after the call may run.
struct ProgramEnded {};

struct SessionServices {
    platform::Ui& ui;
    platform::Clock& clock;
    platform::SettingsStore& settings;
    LoginDialog& login;
    ServerDialog& server;
    // A new, unconnected factory; called once per connection attempt.
    FactoryMaker makeFactory;
    // Unloads the windows and ends the process; should not return.
    std::function<void()> endProgram;
    // The process command line as one text (the words after the program name).
    std::function<QString()> processCommandLine;
    // The main window, once it exists: whether it is visible, and its caption.
    std::function<bool()> mainWindowVisible;
    std::function<void(const QString&)> setMainCaption;
};

class Session {
public:
    explicit Session(SessionServices services);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // The session the free functions below use (the last one constructed).
    static Session* current();

    // --- session and connection -------------------------------------------
    void LoadConnection();
    void ReadLoginSettings();
    void CacheConnect();
    void CacheDisconnect();
    int Pause(int hundredths);
    [[noreturn]] void EndProgram();

    // --- remote execution -------------------------------------------------
    void DBBegin(bool showHourglass);
    void DBEnd(bool showHourglass);
    template <class T> void CacheClose(std::unique_ptr<T>& object);
    QString DBCall(const QString& code, bool& failed);
    // The number of values, or nullopt when the server call failed.
    std::optional<int> DBCallD(const QString& code, const QString& separator, QStringList& values,
                               bool& failed);
    void ShowAccessError(const QString& operation, int number, const QString& description);
    void ShowAccessError(const QString& operation, const cache::CacheError& error);
    int CheckPermission(const QString& programm = {}, const QString& user = {});

    // --- login ------------------------------------------------------------
    bool CacheLogin();
    void Sichern();
    void BUSpeich_Click();
    void BUAusst_Click();
    // Escape or the close button of the login dialog.
    void FMPass_Close();
    void BUServer_Click();
    // Re-login from the main window: the login dialog without blocking.
    void mLogin_Click();

    // --- server settings dialog -------------------------------------------
    void BUEdit_Click();
    void BUZurück_Click();
    void Lock_Timer();

    // One piece of long server work (a fetch, the details) from start to
    // end: the brackets inside it leave the pointer and the idle timer
    // alone, so user events between its requests cannot end it early; the
    // end of the outermost piece shows the arrow and starts the timer.
    class Work {
    public:
        explicit Work(Session& s) : s_(s) { ++s_.work_; }
        ~Work() { s_.endWork(); }
        Work(const Work&) = delete;
        Work& operator=(const Work&) = delete;

    private:
        Session& s_;
    };
    bool working() const { return work_ > 0; }

    // The current factory for direct class queries and methods inside a
    // bracket; null before the first connection attempt.
    cache::Factory* factory() const { return factory_.get(); }
    // True when the last LoadConnection took its values from the command line.
    bool credentialsFromCommandLine() const { return fromCommandLine_; }
    // The line that tells the server company, branch and personnel code.
    static QString sessionLine(const QString& firma, const QString& filiale,
                               const QString& personalcode);
    // The routine line that lists the sub groups of a main group.
    static QString subGroupLine(const QString& hauptgruppe);

    static constexpr char16_t kRowSeparator = 0xFF;

private:
    bool factoryConnected() const;
    void sendSessionVariables();
    [[noreturn]] void finalConnectFailure();
    QString xecute(const QString& code);
    void copyIntoDialogs();
    void copyIntoServerDialog();
    void endWork();

    SessionServices s_;
    int work_ = 0;
    std::unique_ptr<cache::Factory> factory_;
    bool fromCommandLine_ = false;
    // The code and password of the last successful login, for the
    // connections after it; the only copy kept after the login (the user
    // context's password is cleared then). Empty while nobody is logged in.
    QString verifiedCode_, verifiedPassword_;
    Session* previous_ = nullptr;
};

template <class T> void Session::CacheClose(std::unique_ptr<T>& object) {
    s_.ui.processEvents();
    if (object) {
        try {
            object->SYS_Close();
        } catch (const std::exception&) {
            // Closing is best effort: the object is released either way.
        }
    }
    object.reset();
}

} // namespace srv
