#pragma once

// The two login-time dialogs as the server access logic sees them: the
// login dialog FMPass and the server settings dialog FMServer. The Qt
// widgets (FMPass.h, FMServer.h) and the in-memory versions
// (MemoryDialogs.h) implement them; the button handlers live in Session
// and are wired in through the on... callbacks.

#include "platform/clock/Clock.h"

#include <functional>
#include <memory>

namespace srv {

enum class LoginField { BUSER, BPASSWORT };
enum class ServerField { BWJ, BNAMESPACE, BFIRMA, BFIL, BSERVERIP, BPORT };

class LoginDialog {
public:
    virtual ~LoginDialog() = default;
    virtual QString text(LoginField field) const = 0;
    virtual void setText(LoginField field, const QString& text) = 0;
    // SelectAllText of the field.
    virtual void selectAllText(LoginField field, bool keepFocus) = 0;
    // Shows the dialog and returns once it has been hidden again.
    virtual void showModal() = 0;
    // Shows the dialog without blocking (re-login from the main window).
    virtual void showModeless() = 0;
    virtual void hide() = 0;
    virtual bool isVisible() const = 0;

    std::function<void()> onBUSpeich; // "Anmelden"
    std::function<void()> onBUAusst;  // "Abbruch"
    std::function<void()> onClose;    // Escape or the window's close button
    std::function<void()> onBUServer; // "Server"
};

class ServerDialog {
public:
    // Creates the idle timer Lock (60000 ms) that this dialog hosts.
    explicit ServerDialog(platform::Clock& clock);
    virtual ~ServerDialog();

    virtual QString text(ServerField field) const = 0;
    virtual void setText(ServerField field, const QString& text) = 0;
    // The five editable fields (BWJ stays locked whatever this says).
    virtual bool fieldsLocked() const = 0;
    virtual void setFieldsLocked(bool locked) = 0;
    // Position of the two-position button BUEdit: true = unlocked position.
    virtual bool editUnlocked() const = 0;
    virtual void setEditUnlocked(bool unlocked) = 0;
    virtual void showModal() = 0;
    virtual void hide() = 0;
    virtual bool isVisible() const = 0;
    // Why the last connection attempt failed, shown below the fields; ""
    // hides it.
    virtual void setConnectError(const QString& reason) = 0;

    platform::Timer& Lock() { return *lock_; }

    std::function<void()> onBUEdit;   // after the button has flipped
    std::function<void()> onBUZurück; // "Zurück", also closing the window

    static constexpr int kLockIntervalMs = 60000;

private:
    std::unique_ptr<platform::Timer> lock_;
};

// Texts of the fields before any settings are copied in.
QString initialText(ServerField field);

} // namespace srv
