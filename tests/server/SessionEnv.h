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

namespace platform {
inline void PrintTo(const RecordedMessage& m, std::ostream* os) {
    *os << "{title \"" << m.title.toStdString() << "\", text \"" << m.text.toStdString()
        << "\", icon " << toString(m.icon) << ", buttons " << toString(m.buttons) << ", answer "
        << toString(m.answer) << ", at " << m.atMs << "}";
}
} // namespace platform

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
QT_END_NAMESPACE

namespace testenv {

// The fake clock starts at 08:00:00; message times are ms since midnight.
constexpr qint64 kStartMs = 8 * 3600 * 1000;
inline qint64 at(double seconds) {
    return kStartMs + qint64(seconds * 1000);
}

inline platform::RecordedMessage msg(const char* title, const char* text, platform::MsgIcon icon,
                                     platform::MsgButtons buttons, platform::MsgAnswer answer,
                                     qint64 atMs) {
    return {QString::fromUtf8(title), QString::fromUtf8(text), icon, buttons, answer, atMs};
}

inline platform::RecordedMessage warningAfterThree(qint64 atMs) {
    return msg("Anmeldung an Caché",
               "Server nach 3 Versuchen nicht erreichbar!\nBitte Kontrollieren Sie die "
               "Verbindungsdaten",
               platform::MsgIcon::Exclamation, platform::MsgButtons::Ok, platform::MsgAnswer::Ok,
               atMs);
}

inline platform::RecordedMessage finalFailure(qint64 atMs) {
    return msg("Anmeldung an Caché",
               "Der Server ist nicht erreichbar!\nBitte Versuchen Sie die Anmeldung zu einem "
               "späteren Zeitpunk noch ein mal.",
               platform::MsgIcon::Stop, platform::MsgButtons::Ok, platform::MsgAnswer::Ok, atMs);
}

inline platform::RecordedMessage wrongPassword(qint64 atMs) {
    return msg("Anmeldung an Caché.", "Passwort Falsch oder Benutzer nicht Aktiv.",
               platform::MsgIcon::Information, platform::MsgButtons::Ok, platform::MsgAnswer::Ok,
               atMs);
}

inline platform::RecordedMessage accessError(const QString& operation, int number,
                                             const QString& description, qint64 atMs) {
    return {QStringLiteral("Caché Zugriffsfehler"),
            QStringLiteral("Vorgang: ") + operation + QStringLiteral(".\n\nFehler: ") +
                QString::number(number) + QLatin1Char('\n') + description + QStringLiteral("\n\n"),
            platform::MsgIcon::Exclamation,
            platform::MsgButtons::Ok,
            platform::MsgAnswer::Ok,
            atMs};
}

inline platform::RecordedMessage question(const char* text, platform::MsgAnswer answer,
                                          qint64 atMs) {
    return msg("Anmeldung an Caché", text, platform::MsgIcon::None, platform::MsgButtons::YesNo,
               answer, atMs);
}

struct Env {
    platform::FakeClock clock;
    platform::ScriptedUi ui{&clock};
    platform::MemorySettingsStore settings;
    srv::MemoryLoginDialog login;
    srv::MemoryServerDialog server{clock};
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
    explicit Env(srv::FactoryMaker m = {},
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
    ~Env() {
        session.reset();
        srv::resetRecords();
    }
    srv::Session& s() { return *session; }
    const QList<platform::RecordedMessage>& messages() const { return ui.messages(); }
};

} // namespace testenv
