// The two login-time dialogs as real widgets: closing, focus and upper-case
// behaviour, the locked/unlocked editing, and a whole login through the
// modal widget.

#include "SessionEnv.h"
#include "server/FMPass.h"
#include "server/FMServer.h"
#include "support/Utf8.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace testenv;
using srv::LoginField;
using srv::ServerField;

namespace {

using testsupport::u;

// The widget dialogs wired to a session on the fake server.
using WidgetEnv = BasicEnv<srv::FMPass, srv::FMServer>;

bool activate(QWidget& w) {
    w.show();
    QApplication::setActiveWindow(&w);
    w.activateWindow();
    return QTest::qWaitForWindowActive(&w);
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
        ASSERT_TRUE(activate(env.login));
        // Qt does not support exceptions leaving an event handler (unwinding
        // skips its cleanups), so ProgramEnded is caught inside the handler.
        bool ended = false;
        for (std::function<void()>* hook : {&env.login.onBUAusst, &env.login.onClose})
            *hook = [&ended, inner = *hook] {
                try {
                    if (inner) inner();
                } catch (const srv::ProgramEnded&) {
                    ended = true;
                }
            };
        if (r.how == Escape)
            QTest::keyClick(&env.login, Qt::Key_Escape);
        else if (r.how == CloseButton)
            env.login.close();
        else
            env.login.findChild<QPushButton*>(u("BUAusst"))->click();
        EXPECT_EQ(ended, r.ends);
        EXPECT_EQ(env.endCalls, r.ends ? 1 : 0);
        EXPECT_EQ(env.login.isVisible(), r.ends); // the ending program closes it itself
        EXPECT_TRUE(env.ui.messages().isEmpty());
        env.login.hide();
    }
}

// "Ändern" asks before unlocking and before saving. No to saving locks the
// fields, closes and saves nothing, and leaves the texts for the next
// "Anmelden"; yes saves and connects to the new port at once.
TEST(Widgets, TheEditButtonAsksBeforeUnlockingAndBeforeSaving) {
    using enum ServerField;
    WidgetEnv env;
    env.s().ReadLoginSettings();
    env.fake.log.lines.clear();
    srv::FMServer& d = env.server;
    auto click = [&](MsgAnswer a) {
        env.ui.queueAnswer(a);
        QTest::mouseClick(d.BUEdit(), Qt::LeftButton);
    };
    click(MsgAnswer::No);
    EXPECT_FALSE(d.BUEdit()->isChecked()); // put back
    for (ServerField f : {BWJ, BNAMESPACE, BFIRMA, BFIL, BSERVERIP, BPORT})
        EXPECT_TRUE(d.field(f)->isReadOnly());
    for (const MsgAnswer save : {MsgAnswer::No, MsgAnswer::Yes}) {
        click(MsgAnswer::Yes);
        EXPECT_TRUE(d.BUEdit()->isChecked());
        for (ServerField f : {BNAMESPACE, BFIRMA, BFIL, BSERVERIP, BPORT})
            EXPECT_FALSE(d.field(f)->isReadOnly());
        EXPECT_TRUE(d.field(BWJ)->isReadOnly());
        d.field(BPORT)->setText(u("2000"));
        click(save);
        EXPECT_FALSE(d.BUEdit()->isChecked());
        EXPECT_TRUE(d.field(BPORT)->isReadOnly());
        EXPECT_EQ(d.field(BPORT)->text(), u("2000"));
        if (save == MsgAnswer::Yes) break;
        EXPECT_TRUE(env.fake.log.lines.isEmpty());
        // "Server" shows the dialog modally; "Zurück" and Escape close it.
        for (const bool escape : {false, true}) {
            QTimer::singleShot(0, [&] {
                if (escape)
                    QTest::keyClick(&d, Qt::Key_Escape);
                else
                    QTest::mouseClick(d.BUZurück(), Qt::LeftButton);
            });
            env.login.findChild<QPushButton*>(u("BUServer"))->click();
            EXPECT_FALSE(d.isVisible());
        }
        EXPECT_TRUE(env.settings.values.isEmpty());
        QTest::mouseClick(env.login.findChild<QPushButton*>(u("BUSpeich")), Qt::LeftButton);
        EXPECT_EQ(env.settings.values.value(u("Port")), u("2000"));
        env.settings.values.clear();
    }
    EXPECT_EQ(env.fake.log.lines.mid(0, 2),
              (QStringList{"disconnect", "connect cn_iptcp:embedded[2000]:ZORVEK"}));
    EXPECT_EQ(env.settings.values.value(u("Port")), u("2000"));
    EXPECT_TRUE(env.s().factory()->isConnected());
    EXPECT_TRUE(d.Lock().isActive());
    const auto q = [](const char* text, MsgAnswer a) { return question(text, a, at(0)); };
    EXPECT_EQ(env.ui.messages(),
              (QList<RecordedMessage>{q("Änderungen erlauben?", MsgAnswer::No),
                                      q("Änderungen erlauben?", MsgAnswer::Yes),
                                      q("Änderungen sichern?", MsgAnswer::No),
                                      q("Änderungen erlauben?", MsgAnswer::Yes),
                                      q("Änderungen sichern?", MsgAnswer::Yes)}));
}

// A start-up login through the modal widget: activation focuses the
// password, focus (also by a click) selects a field's text, leaving the user
// field makes it upper case (the password stays as typed). The re-login does
// not block.
TEST(Widgets, TheModalLoginAndTheReLogin) {
    WidgetEnv env;
    env.fake.addDemoUser();
    env.settings.values[u("Name")] = u("alt");
    srv::FMPass& d = env.login;
    int tries = 0;
    std::function<void()> user = [&] {
        if (!d.isVisible() && ++tries < 200) return QTimer::singleShot(5, user);
        // The user works in the active dialog: focus changes reach the fields.
        QApplication::setActiveWindow(&d);
        EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
        EXPECT_EQ(QApplication::focusWidget(), d.BPASSWORT());
        EXPECT_EQ(d.BPASSWORT()->echoMode(), QLineEdit::Password);
        QTest::mouseClick(d.BUSER(), Qt::LeftButton); // selects after placing the cursor
        QApplication::processEvents();
        EXPECT_EQ(d.BUSER()->selectedText(), u("alt"));
        QTest::keyClicks(d.BUSER(), u("demo")); // replaces the selection
        d.BPASSWORT()->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(d.BUSER()->text(), u("DEMO"));
        QTest::keyClicks(d.BPASSWORT(), u("demo"));
        d.BUSER()->setFocus(Qt::TabFocusReason);
        d.BPASSWORT()->setFocus(Qt::TabFocusReason);
        EXPECT_EQ(d.BPASSWORT()->selectedText(), u("demo")); // not upper-cased
        srv::SelectAllText(d.BUSER(), false);
        EXPECT_EQ(QApplication::focusWidget(), d.BUSER());
        EXPECT_EQ(d.BUSER()->selectedText(), u("DEMO"));
        QTest::mouseClick(d.findChild<QPushButton*>(u("BUSpeich")), Qt::LeftButton);
    };
    QTimer::singleShot(0, user);
    ASSERT_TRUE(env.s().CacheLogin());
    EXPECT_FALSE(d.isVisible());
    EXPECT_EQ(srv::userContext().Benutzer, u("DEMO|Demo M}ller"));
    EXPECT_EQ(env.settings.values.value(u("Name")), u("DEMO"));
    EXPECT_TRUE(env.ui.messages().isEmpty());

    // Over the main window: disconnected first, then the new connection and
    // the login both tell the server who works. A failed re-login rebuilds
    // the caption too and leaves nobody logged in.
    const QString caption = u("ZORVEK     Firma: 1     Filiale: 0     Benutzer: Demo M}ller");
    const QString session = u("S FIRMA=1,FIL=0,PERSONAL=\"DEMO\"");
    const QString wj = u("S P0=$P(^FA(0),\"`\",2) W P0");
    env.mainVisible = true;
    env.fake.log.lines.clear();
    for (const char* password : {"demo", "falsch"}) {
        env.s().mLogin_Click();
        EXPECT_TRUE(d.isVisible()); // without blocking
        d.setText(LoginField::BPASSWORT, u(password));
        env.caption.clear();
        QTest::mouseClick(d.findChild<QPushButton*>(u("BUSpeich")), Qt::LeftButton);
        EXPECT_FALSE(d.isVisible());
        EXPECT_EQ(env.caption, caption);
    }
    EXPECT_EQ(env.fake.log.lines.value(0), u("disconnect"));
    EXPECT_EQ(env.fake.log.xecutes().mid(0, 5),
              (QStringList{session, u("D ^%XTT"), wj, wj, session}));
    EXPECT_EQ(env.ui.messages(), QList<RecordedMessage>{wrongPassword(at(0))});
    EXPECT_TRUE(srv::userContext().Benutzer.isEmpty());
}

} // namespace
