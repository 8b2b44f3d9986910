// The two login-time dialogs as real widgets: captions, fields, buttons,
// focus and upper-case behaviour, the locked/unlocked editing, and a whole
// login through the modal widget.

#include "SessionEnv.h"
#include "server/FMPass.h"
#include "server/FMServer.h"

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

QString u(const char* s) {
    return QString::fromUtf8(s);
}

// The widget dialogs wired to a session on the fake server.
struct WidgetEnv {
    platform::FakeClock clock;
    platform::ScriptedUi ui{&clock};
    platform::MemorySettingsStore settings;
    srv::FMPass pass;
    srv::FMServer server{clock, &pass};
    fakes::FakeServer fake;
    int endCalls = 0;
    bool mainVisible = false;
    QString caption;
    srv::Session session{srv::SessionServices{
        ui, clock, settings, pass, server,
        [this] { return std::make_unique<fakes::FakeFactory>(fake); }, [this] { ++endCalls; },
        [] { return QString(); }, [this] { return mainVisible; },
        [this](const QString& c) { caption = c; }}};
    WidgetEnv() { srv::resetRecords(); }
    ~WidgetEnv() { srv::resetRecords(); }
};

bool activate(QWidget& w) {
    w.show();
    QApplication::setActiveWindow(&w);
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
}

// Fields: the label text, the initial text, locked in the server dialog;
// buttons: their text.
TEST(Widgets, CaptionsFieldsAndButtons) {
    platform::FakeClock clock;
    srv::FMPass pass;
    srv::FMServer server(clock);
    EXPECT_EQ(pass.windowTitle(), QStringLiteral("ZORVEK Benutzeranmeldung"));
    EXPECT_EQ(server.windowTitle(), QStringLiteral("ZORVEK Server"));
    const struct {
        QDialog* dialog;
        const char *name, *text, *initial;
    } rows[] = {{&pass, "BUSER", "User(WWS Personalcode):", ""},
                {&pass, "BPASSWORT", "Passwort:", ""},
                {&pass, "BUSpeich", "Anmelden", nullptr},
                {&pass, "BUAusst", "Abbruch", nullptr},
                {&pass, "BUServer", "Server", nullptr},
                {&server, "BWJ", "WJ:", "0"},
                {&server, "BNAMESPACE", "Namespace:", "ZORVEK"},
                {&server, "BFIRMA", "Firma:", "1"},
                {&server, "BFIL", "Filiale:", "0"},
                {&server, "BSERVERIP", "ServerIP:", "embedded"},
                {&server, "BPORT", "Port:", "1973"},
                {&server, "BUEdit", "Ändern", nullptr},
                {&server, "BUZurück", "Zurück", nullptr}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        QWidget* w = r.dialog->findChild<QWidget*>(u(r.name));
        ASSERT_TRUE(w);
        if (auto* button = qobject_cast<QPushButton*>(w)) {
            EXPECT_EQ(button->text(), u(r.text));
            continue;
        }
        QString label;
        for (QLabel* l : r.dialog->findChildren<QLabel*>())
            if (l->buddy() == w) label = l->text();
        EXPECT_EQ(label, u(r.text));
        auto* edit = qobject_cast<QLineEdit*>(w);
        ASSERT_TRUE(edit && r.initial);
        EXPECT_EQ(edit->text(), u(r.initial));
        EXPECT_EQ(edit->isReadOnly(), r.dialog == &server);
    }
    EXPECT_EQ(pass.BPASSWORT()->echoMode(), QLineEdit::Password);
    EXPECT_TRUE(server.BUEdit()->isCheckable());
    EXPECT_FALSE(server.BUEdit()->isChecked());
}

// "Abbruch" ends the program; Escape and the close button end it only at
// start-up, over the main window they give up the re-login.
TEST(Widgets, ClosingTheLoginEndsTheProgramOnlyAtStartUp) {
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
        EXPECT_TRUE(env.ui.messages().isEmpty());
        env.pass.hide();
    }
}

TEST(Widgets, TheEditButtonAsksBeforeUnlockingAndBeforeSaving) {
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

// A start-up login through the modal widget: activation focuses the
// password, focus selects a field's text, leaving the user field makes it
// upper case (the password stays as typed). The re-login does not block.
TEST(Widgets, TheModalLoginAndTheReLogin) {
    WidgetEnv env;
    env.fake.addDemoUser();
    env.settings.values[QStringLiteral("Name")] = QStringLiteral("alt");
    srv::FMPass& d = env.pass;
    int tries = 0;
    std::function<void()> user = [&] {
        if (!d.isVisible() && ++tries < 200) return QTimer::singleShot(5, user);
        // The user works in the active dialog: focus changes reach the fields.
        QApplication::setActiveWindow(&d);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
        EXPECT_EQ(QApplication::focusWidget(), d.BPASSWORT());
        d.BUSER()->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(d.BUSER()->selectedText(), QStringLiteral("alt"));
        QTest::keyClicks(d.BUSER(), QStringLiteral("demo")); // replaces the selection
        d.BPASSWORT()->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(d.BUSER()->text(), QStringLiteral("DEMO"));
        QTest::keyClicks(d.BPASSWORT(), QStringLiteral("demo"));
        d.BUSER()->setFocus(Qt::TabFocusReason);
        d.BPASSWORT()->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(d.BPASSWORT()->selectedText(), QStringLiteral("demo")); // not upper-cased
        srv::SelectAllText(d.BUSER(), false);
        EXPECT_EQ(QApplication::focusWidget(), d.BUSER());
        EXPECT_EQ(d.BUSER()->selectedText(), QStringLiteral("DEMO"));
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("BUSpeich")), Qt::LeftButton);
    };
    QTimer::singleShot(0, user);
    ASSERT_TRUE(env.session.CacheLogin());
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(srv::userContext().Benutzer, QStringLiteral("DEMO|Demo M}ller"));
    EXPECT_EQ(env.settings.values.value(QStringLiteral("Name")), QStringLiteral("DEMO"));
    EXPECT_TRUE(env.ui.messages().isEmpty());

    // Over the main window: disconnected first, then the new connection and
    // the login both tell the server who works. A failed re-login rebuilds
    // the caption too and leaves nobody logged in.
    const QString caption =
        QStringLiteral("ZORVEK     Firma: 1     Filiale: 0     Benutzer: Demo M}ller");
    const QString session = QStringLiteral("S FIRMA=1,FIL=0,PERSONAL=\"DEMO\"");
    const QString wj = QStringLiteral("S P0=$P(^FA(0),\"`\",2) W P0");
    env.mainVisible = true;
    env.fake.log.lines.clear();
    for (const char* password : {"demo", "falsch"}) {
        env.session.mLogin_Click();
        EXPECT_TRUE(d.isVisible()); // without blocking
        d.setText(LoginField::BPASSWORT, u(password));
        env.caption.clear();
        QTest::mouseClick(d.findChild<QPushButton*>(QStringLiteral("BUSpeich")), Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(env.caption, caption);
    }
    EXPECT_EQ(env.fake.log.lines.value(0), QStringLiteral("disconnect"));
    EXPECT_EQ(env.fake.log.xecutes().mid(0, 5),
              (QStringList{session, QStringLiteral("D ^%XTT"), wj, wj, session}));
    EXPECT_EQ(env.ui.messages(), QList<RecordedMessage>{wrongPassword(at(0))});
    EXPECT_TRUE(srv::userContext().Benutzer.isEmpty());
}

} // namespace
