#pragma once

// A session with every outside effect replaced: fake clock, scripted
// message boxes, in-memory settings and dialogs, and a factory maker the
// test chooses. Ending the program is counted instead of exiting.

#include "Fakes.h"
#include "platform/clock/FakeClock.h"
#include "platform/settings/SettingsStore.h"
#include "platform/ui/ScriptedUi.h"
#include "server/MemoryDialogs.h"
#include "server/Session.h"

#include <gtest/gtest.h>
#include <ostream>
#include <type_traits>

namespace platform {
inline void PrintTo(const RecordedMessage& m, std::ostream* os) {
    // The enums as their numbers, in declaration order (see Ui.h).
    *os << "{title \"" << m.title.toStdString() << "\", text \"" << m.text.toStdString()
        << "\", icon " << int(m.icon) << ", buttons " << int(m.buttons) << ", answer "
        << int(m.answer) << ", at " << m.atMs << "}";
}
} // namespace platform

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace testenv {

using platform::MsgAnswer;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::RecordedMessage;

// The fake clock starts at 08:00:00; message times are ms since midnight.
constexpr qint64 kStartMs = 8 * 3600 * 1000;
inline qint64 at(double seconds) {
    return kStartMs + qint64(seconds * 1000);
}

inline RecordedMessage msg(const char* title, const char* text, MsgIcon icon, MsgButtons buttons,
                           MsgAnswer answer, qint64 atMs) {
    return {QString::fromUtf8(title), QString::fromUtf8(text), icon, buttons, answer, atMs};
}

inline RecordedMessage warningAfterThree(qint64 atMs) {
    return msg("Anmeldung an Caché",
               "Server nach 3 Versuchen nicht erreichbar!\nBitte Kontrollieren Sie die "
               "Verbindungsdaten",
               MsgIcon::Exclamation, MsgButtons::Ok, MsgAnswer::Ok, atMs);
}

inline RecordedMessage finalFailure(qint64 atMs) {
    return msg("Anmeldung an Caché",
               "Der Server ist nicht erreichbar!\nBitte Versuchen Sie die Anmeldung zu einem "
               "späteren Zeitpunk noch ein mal.",
               MsgIcon::Stop, MsgButtons::Ok, MsgAnswer::Ok, atMs);
}

inline RecordedMessage wrongPassword(qint64 atMs) {
    return msg("Anmeldung an Caché.", "Passwort Falsch oder Benutzer nicht Aktiv.",
               MsgIcon::Information, MsgButtons::Ok, MsgAnswer::Ok, atMs);
}

inline RecordedMessage accessError(const QString& operation, int number, const QString& description,
                                   qint64 atMs) {
    return {QStringLiteral("Caché Zugriffsfehler"),
            QStringLiteral("Vorgang: ") + operation + QStringLiteral(".\n\nFehler: ") +
                QString::number(number) + QLatin1Char('\n') + description + QStringLiteral("\n\n"),
            MsgIcon::Exclamation,
            MsgButtons::Ok,
            MsgAnswer::Ok,
            atMs};
}

inline RecordedMessage question(const char* text, MsgAnswer answer, qint64 atMs) {
    return msg("Anmeldung an Caché", text, MsgIcon::None, MsgButtons::YesNo, answer, atMs);
}

// The dialogs are the in-memory ones, or the widgets (DialogsTest), whose
// server dialog takes the login dialog as its parent.
template <class LoginDialog, class ServerDialog> struct BasicEnv {
    platform::FakeClock clock;
    platform::ScriptedUi ui{&clock};
    platform::MemorySettingsStore settings;
    LoginDialog login;
    ServerDialog server = [this]() -> ServerDialog {
        if constexpr (std::is_constructible_v<ServerDialog, platform::Clock&, LoginDialog*>)
            return ServerDialog(clock, &login);
        else
            return ServerDialog(clock);
    }();
    fakes::FakeServer fake;
    int endCalls = 0;
    bool mainVisible = false;
    QString caption;
    // Sees the caption the re-login sets (the main window's part of it).
    std::function<void(const QString&)> onCaption;
    QString commandLine;
    srv::FactoryMaker maker;
    std::unique_ptr<srv::Session> session;

    // Without a maker the fake server answers.
    explicit BasicEnv(srv::FactoryMaker m = {},
                      QDateTime start = QDateTime(QDate(2024, 4, 15), QTime(8, 0), Qt::UTC))
        : clock(std::move(start)), maker(std::move(m)) {
        srv::resetRecords();
        fake.log.clock = &clock;
        if (!maker) maker = [this] { return std::make_unique<fakes::FakeFactory>(fake); };
        session = std::make_unique<srv::Session>(srv::SessionServices{
            ui,
            clock,
            settings,
            login,
            server,
            [this] { return maker(); },
            [this] { ++endCalls; },
            [this] { return commandLine; },
            [this] { return mainVisible; },
            [this](const QString& c) {
                caption = c;
                if (onCaption) onCaption(c);
            },
        });
    }
    ~BasicEnv() {
        session.reset();
        srv::resetRecords();
    }
    srv::Session& s() { return *session; }
    const QList<RecordedMessage>& messages() const { return ui.messages(); }
};
using Env = BasicEnv<srv::MemoryLoginDialog, srv::MemoryServerDialog>;

} // namespace testenv
