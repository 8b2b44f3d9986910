// The two login-time dialogs as real widgets: captions, fields, buttons,
// focus and upper-case behaviour, the locked/unlocked editing, and a whole
// login through the modal widget against the server component.

#include "SessionEnv.h"
#include "platform/cache/ConnectString.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/cache/server/Store.h"
#include "server/FMPass.h"
#include "server/FMServer.h"
#include "support/TestDatabase.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace testenv;
using platform::MsgAnswer;
using platform::RecordedMessage;
using srv::LoginField;
using srv::ServerField;

namespace {

QString labelFor(QWidget* dialog, QWidget* field) {
    for (QLabel* l : dialog->findChildren<QLabel*>())
        if (l->buddy() == field) return l->text();
    return {};
}

// The widget dialogs wired to a session with scripted message boxes.
struct WidgetEnv {
    platform::FakeClock clock;
    platform::ScriptedUi ui{&clock};
    platform::MemorySettingsStore settings;
    srv::FMPass pass;
    srv::FMServer server{clock, &pass};
    fakes::FakeServer fake;
    fakes::CallLog log;
    int endCalls = 0;
    bool mainVisible = false;
    QString caption;
    srv::FactoryMaker maker;
    std::unique_ptr<srv::Session> session;

    explicit WidgetEnv(srv::FactoryMaker m = {}) : maker(std::move(m)) {
        srv::resetRecords();
        if (!maker) maker = [this] { return std::make_unique<fakes::FakeFactory>(fake); };
        session = std::make_unique<srv::Session>(srv::SessionServices{
            ui, clock, settings, pass, server, [this] { return maker(); }, [this] { ++endCalls; },
            [] { return QString(); }, [this] { return mainVisible; },
            [this](const QString& c) { caption = c; }});
    }
    ~WidgetEnv() {
        session.reset();
        srv::resetRecords();
    }
};

bool activate(QWidget& w) {
    w.show();
    QApplication::setActiveWindow(&w);
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
}

TEST(FMPassWidget, CaptionFieldsAndButtons) {
    srv::FMPass d;
    EXPECT_EQ(d.windowTitle(), QStringLiteral("ZORVEK Benutzeranmeldung"));
    auto* user = d.findChild<QLineEdit*>(QStringLiteral("BUSER"));
    auto* password = d.findChild<QLineEdit*>(QStringLiteral("BPASSWORT"));
    ASSERT_TRUE(user && password);
    EXPECT_EQ(labelFor(&d, user), QStringLiteral("User(WWS Personalcode):"));
    EXPECT_EQ(labelFor(&d, password), QStringLiteral("Passwort:"));
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(password->text(), QString());
    const struct {
        const char* name;
        const char* text;
    } buttons[] = {{"BUSpeich", "Anmelden"}, {"BUAusst", "Abbruch"}, {"BUServer", "Server"}};
    for (const auto& b : buttons) {
        auto* button = d.findChild<QPushButton*>(QString::fromLatin1(b.name));
        ASSERT_TRUE(button) << b.name;
        EXPECT_EQ(button->text(), QString::fromUtf8(b.text));
    }
}

TEST(FMPassWidget, FocusSelectsAllLeavingTheUserFieldMakesItUpperCase) {
    srv::FMPass d;
    d.setText(LoginField::BUSER, QStringLiteral("alt"));
    ASSERT_TRUE(activate(d));
    // Activation puts the focus into the password field.
    EXPECT_EQ(QApplication::focusWidget(), d.BPASSWORT());

    d.BUSER()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(d.BUSER()->selectedText(), QStringLiteral("alt"));
    QTest::keyClicks(d.BUSER(), QStringLiteral("demo")); // replaces the selection
    EXPECT_EQ(d.BUSER()->text(), QStringLiteral("demo"));
    d.BPASSWORT()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(d.BUSER()->text(), QStringLiteral("DEMO"));

    QTest::keyClicks(d.BPASSWORT(), QStringLiteral("Geheim"));
    d.BUSER()->setFocus(Qt::TabFocusReason);
    d.BPASSWORT()->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(d.BPASSWORT()->selectedText(), QStringLiteral("Geheim"));
    EXPECT_EQ(d.BPASSWORT()->text(), QStringLiteral("Geheim")); // not upper-cased

    srv::SelectAllText(d.BUSER(), false);
    EXPECT_EQ(QApplication::focusWidget(), d.BUSER());
    EXPECT_EQ(d.BUSER()->selectedText(), QStringLiteral("DEMO"));
    d.hide();
}

// "Abbruch" ends the program; Escape and the close button end it only at
// start-up, over the main window they give up the re-login.
TEST(FMPassWidget, ClosingEndsTheProgramOnlyAtStartUp) {
    enum How { Escape, CloseButton, Abbruch };
    const struct {
        bool mainVisible;
        How how;
        bool ends;
    } rows[] = {{false, Escape, true}, {false, CloseButton, true}, {false, Abbruch, true},
                {true, Escape, false}, {true, CloseButton, false}, {true, Abbruch, true}};
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << r.mainVisible << " " << r.how);
        WidgetEnv env;
        env.mainVisible = r.mainVisible;
        ASSERT_TRUE(activate(env.pass));
        // Qt does not support exceptions leaving an event handler (unwinding
        // skips its cleanups), so ProgramEnded is caught inside the handler.
        bool ended = false;
        for (std::function<void()>* hook : {&env.pass.onBUAusst, &env.pass.onClose})
            *hook = [&ended, inner = *hook] {
                try {
                    if (inner) inner();
                } catch (const srv::ProgramEnded&) {
                    ended = true;
                }
            };
        if (r.how == Escape)
            QTest::keyClick(&env.pass, Qt::Key_Escape);
        else if (r.how == CloseButton)
            env.pass.close();
        else
            env.pass.findChild<QPushButton*>(QStringLiteral("BUAusst"))->click();
        EXPECT_EQ(ended, r.ends);
        EXPECT_EQ(env.endCalls, r.ends ? 1 : 0);
        EXPECT_EQ(env.pass.isVisible(), r.ends); // the ending program closes it itself
        env.pass.hide();
    }
}

TEST(FMServerWidget, FieldsStartLockedWithTheirInitialTexts) {
    platform::FakeClock clock;
    srv::FMServer d(clock);
    EXPECT_EQ(d.windowTitle(), QStringLiteral("ZORVEK Server"));
    const struct {
        ServerField field;
        const char* name;
        const char* label;
        const char* text;
    } fields[] = {
        {ServerField::BWJ, "BWJ", "WJ:", "0"},
        {ServerField::BNAMESPACE, "BNAMESPACE", "Namespace:", "ZORVEK"},
        {ServerField::BFIRMA, "BFIRMA", "Firma:", "1"},
        {ServerField::BFIL, "BFIL", "Filiale:", "0"},
        {ServerField::BSERVERIP, "BSERVERIP", "ServerIP:", "embedded"},
        {ServerField::BPORT, "BPORT", "Port:", "1973"},
    };
    for (const auto& f : fields) {
        auto* edit = d.findChild<QLineEdit*>(QString::fromLatin1(f.name));
        ASSERT_TRUE(edit) << f.name;
        EXPECT_EQ(edit, d.field(f.field));
        EXPECT_EQ(labelFor(&d, edit), QString::fromUtf8(f.label));
        EXPECT_EQ(edit->text(), QString::fromUtf8(f.text));
        EXPECT_TRUE(edit->isReadOnly()) << f.name;
    }
    EXPECT_EQ(d.BUEdit()->text(), QStringLiteral("Ändern"));
    EXPECT_TRUE(d.BUEdit()->isCheckable());
    EXPECT_FALSE(d.BUEdit()->isChecked());
    EXPECT_EQ(d.BUZurück()->text(), QStringLiteral("Zurück"));
    EXPECT_EQ(d.BUZurück()->objectName(), QStringLiteral("BUZurück"));
    EXPECT_EQ(d.Lock().interval(), 60000);
    EXPECT_FALSE(d.Lock().isActive());
}

TEST(FMServerWidget, TheEditButtonAsksBeforeUnlockingAndBeforeSaving) {
    WidgetEnv env;
    srv::FMServer& d = env.server;
    env.ui.queueAnswer(MsgAnswer::No);
    QTest::mouseClick(d.BUEdit(), Qt::LeftButton);
    EXPECT_FALSE(d.BUEdit()->isChecked()); // put back
    EXPECT_TRUE(d.field(ServerField::BPORT)->isReadOnly());

    env.ui.queueAnswer(MsgAnswer::Yes);
    QTest::mouseClick(d.BUEdit(), Qt::LeftButton);
    EXPECT_TRUE(d.BUEdit()->isChecked());
    for (ServerField f : {ServerField::BNAMESPACE, ServerField::BFIRMA, ServerField::BFIL,
                          ServerField::BSERVERIP, ServerField::BPORT})
        EXPECT_FALSE(d.field(f)->isReadOnly());
    EXPECT_TRUE(d.field(ServerField::BWJ)->isReadOnly());
    d.field(ServerField::BPORT)->setText(QStringLiteral("4711"));

    env.ui.queueAnswer(MsgAnswer::No);
    QTest::mouseClick(d.BUEdit(), Qt::LeftButton);
    EXPECT_FALSE(d.BUEdit()->isChecked());
    EXPECT_TRUE(d.field(ServerField::BPORT)->isReadOnly());
    EXPECT_EQ(d.field(ServerField::BPORT)->text(), QStringLiteral("4711"));
    EXPECT_EQ(env.ui.messages(), (QList<RecordedMessage>{
                                     question("Änderungen erlauben?", MsgAnswer::No, at(0)),
                                     question("Änderungen erlauben?", MsgAnswer::Yes, at(0)),
                                     question("Änderungen sichern?", MsgAnswer::No, at(0)),
                                 }));
    EXPECT_TRUE(env.settings.values.isEmpty());
}

TEST(FMServerWidget, TheLockTimerClosesTheConnection) {
    WidgetEnv env;
    env.session->ReadLoginSettings();
    ASSERT_TRUE(env.session->factory()->isConnected());
    env.clock.advance(60000);
    EXPECT_FALSE(env.session->factory()->isConnected());
}

// A whole start-up login through the modal widget, against SQLite.
TEST(WidgetLogin, TheModalDialogLogsTheDemoUserInAndReLoginRebuildsTheCaption) {
    auto db = testsupport::makeTestDatabase(testsupport::TestEngine::Sqlite, QStringLiteral("gui"));
    {
        auto d = db->open();
        cache::server::Store store(*d);
        cache::server::DemoOptions o;
        o.lines = 100;
        o.untilYear = 2024;
        o.untilMonth = 3;
        cache::server::generateDemo(store, o);
    }
    const auto target = cache::parseConnectString(db->connectString);
    ASSERT_TRUE(target);
    fakes::CallLog log;
    WidgetEnv env([&] {
        return std::make_unique<fakes::RecordingFactory>(
            std::make_unique<cache::server::ServerFactory>(), log);
    });
    env.settings.values[QStringLiteral("Server")] = target->server;
    env.settings.values[QStringLiteral("Port")] = target->port;

    int tries = 0;
    std::function<void()> user = [&] {
        if (!env.pass.isVisible() && ++tries < 200) {
            QTimer::singleShot(5, user);
            return;
        }
        // The user works in the active dialog: focus changes reach the fields.
        QApplication::setActiveWindow(&env.pass);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&env.pass));
        env.pass.BUSER()->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(env.pass.BUSER(), QStringLiteral("demo"));
        env.pass.BPASSWORT()->setFocus(Qt::TabFocusReason);
        QTest::keyClicks(env.pass.BPASSWORT(), QStringLiteral("demo"));
        QTest::mouseClick(env.pass.findChild<QPushButton*>(QStringLiteral("BUSpeich")),
                          Qt::LeftButton);
    };
    QTimer::singleShot(0, user);
    ASSERT_TRUE(env.session->CacheLogin())
        << log.lines.join(QLatin1Char('\n')).toStdString()
        << (env.ui.messages().isEmpty() ? std::string()
                                        : env.ui.messages().first().text.toStdString());
    EXPECT_FALSE(env.pass.isVisible());
    EXPECT_EQ(srv::userContext().Benutzer, QStringLiteral("DEMO|Demo Müller"));
    EXPECT_EQ(env.settings.values.value(QStringLiteral("Name")), QStringLiteral("DEMO"));
    EXPECT_TRUE(env.ui.messages().isEmpty());

    // Re-login from the main window: modeless, as another user.
    env.mainVisible = true;
    env.session->mLogin_Click();
    EXPECT_TRUE(env.pass.isVisible());
    env.pass.setText(LoginField::BUSER, QStringLiteral("ABTLEITER"));
    env.pass.setText(LoginField::BPASSWORT, QStringLiteral("abt"));
    QTest::mouseClick(env.pass.findChild<QPushButton*>(QStringLiteral("BUSpeich")), Qt::LeftButton);
    EXPECT_FALSE(env.pass.isVisible());
    EXPECT_EQ(env.caption,
              QStringLiteral("ZORVEK     Firma: 1     Filiale: 0     Benutzer: Franz Köhler"));
    EXPECT_EQ(srv::userContext().Personalcode, QStringLiteral("ABTLEITER"));
    EXPECT_EQ(log.lines.last(), QStringLiteral("Xecute S FIRMA=1,FIL=0,PERSONAL=\"ABTLEITER\""));
    EXPECT_EQ(env.session->CheckPermission(), 5);
}

} // namespace
