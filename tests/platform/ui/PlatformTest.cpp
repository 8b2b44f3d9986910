// The settings store over real (and damaged) INI files, the Qt message box
// and the system clock. The fake clock and the scripted message boxes are
// checked by every session test.

#include "platform/clock/QtClock.h"
#include "platform/settings/QSettingsStore.h"
#include "platform/ui/QtUi.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <gtest/gtest.h>

using namespace platform;

namespace {

// Values written come back; damaged files keep what is readable and default
// the rest; a path that cannot be read is reported in German.
TEST(SettingsFile, ReadsWhatIsReadableAndDefaultsTheRest) {
    QByteArray junk;
    for (int i = 0; i < 4096; ++i)
        junk.append(char((i * 7919) % 256));
    const QByteArray halfWritten = "[Login]\nFirma=12\nFiliale=3\nServ";
    const QByteArray typed =
        "[Login]\nServer=a, b\nPort=@Variant(\\0\\0\\0\\x7f)\nName=@Rect(1 2 3 4)\n";
    const QByteArray dir = "a directory";
    const struct {
        QByteArray content; // empty: written by the store itself
        const char *key, *def, *expected;
    } rows[] = {{{}, "Server", "d", "db,1 \"x\""},
                {{}, "Port", "1973", "1973"},
                {halfWritten, "Firma", "1", "12"},
                {halfWritten, "Filiale", "0", "3"},
                {halfWritten, "Server", "embedded", "embedded"},
                {junk, "Port", "1973", "1973"},
                {typed, "Server", "d", "a,b"}, // a comma makes a list: joined again
                {typed, "Port", "1973", "1973"},
                {typed, "Name", "", ""}, // not text: the default
                {dir, "Firma", "1", "1"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.key);
        QTemporaryDir tmp;
        const QString path = tmp.filePath(QStringLiteral("login.ini"));
        QFile f(path);
        if (r.content.isEmpty()) {
            QSettingsStore store(path);
            store.write(QStringLiteral("Server"), QStringLiteral("db,1 \"x\""));
            store.sync();
        } else if (r.content == dir) {
            ASSERT_TRUE(QDir().mkpath(path));
        } else {
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(r.content);
            f.close();
        }
        QSettingsStore store(path);
        EXPECT_EQ(store.read(QString::fromLatin1(r.key), QString::fromLatin1(r.def)),
                  QString::fromUtf8(r.expected));
        if (r.content == dir) {
            store.write(QStringLiteral("Firma"), QStringLiteral("5"));
            store.sync();
            EXPECT_TRUE(store.problem().contains(QLatin1String("Einstellungsdatei")));
        } else if (r.content.isEmpty()) {
            EXPECT_TRUE(store.problem().isEmpty());
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            EXPECT_TRUE(f.readAll().startsWith("[Login]"));
        }
    }
}

// German captions whatever Qt's translations, the first button as the
// default, Escape as the cancelling answer, and the arrow pointer while the
// user answers over the hourglass. Busy twice is one hourglass; not busy or
// the end of the interface takes it away.
TEST(QtUiMessage, CaptionsDefaultsAndAnswers) {
    enum Press { Return, Escape, Nein };
    using B = MsgButtons;
    using A = MsgAnswer;
    const struct {
        MsgIcon icon;
        B buttons;
        Press press;
        bool busy;
        QMessageBox::Icon shown;
        const char* captions; // the default first, the others sorted
        A answer;
    } rows[] = {
        {MsgIcon::None, B::Ok, Escape, true, QMessageBox::NoIcon, "OK", A::Ok},
        {MsgIcon::Information, B::OkCancel, Return, false, QMessageBox::Information, "OK|Abbrechen",
         A::Ok},
        {MsgIcon::Exclamation, B::OkCancel, Escape, true, QMessageBox::Warning, "OK|Abbrechen",
         A::Cancel},
        {MsgIcon::Stop, B::YesNo, Return, false, QMessageBox::Critical, "&Ja|&Nein", A::Yes},
        {MsgIcon::Question, B::YesNo, Escape, false, QMessageBox::Question, "&Ja|&Nein", A::No},
        {MsgIcon::None, B::YesNoCancel, Escape, false, QMessageBox::NoIcon, "&Ja|&Nein|Abbrechen",
         A::Cancel},
        {MsgIcon::None, B::YesNoCancel, Nein, true, QMessageBox::NoIcon, "&Ja|&Nein|Abbrechen",
         A::No},
    };
    const auto cursor = []() -> std::optional<Qt::CursorShape> {
        const QCursor* c = QGuiApplication::overrideCursor();
        return c ? std::optional(c->shape()) : std::nullopt;
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.captions);
        QStringList seen;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        std::optional<Qt::CursorShape> answering;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr);
            icon = box->icon();
            answering = cursor();
            QStringList captions{box->defaultButton()->text()};
            for (QAbstractButton* b : box->buttons())
                if (b != box->defaultButton()) captions << b->text();
            std::sort(captions.begin() + 1, captions.end()); // the order depends on the style
            seen << box->windowTitle() << box->text() << captions.join(QLatin1Char('|'));
            if (r.press == Nein)
                box->button(QMessageBox::No)->click();
            else
                QTest::keyClick(box, r.press == Escape ? Qt::Key_Escape : Qt::Key_Return);
        });
        QtUi ui;
        ui.setBusyCursor(true);
        ui.setBusyCursor(r.busy);
        EXPECT_EQ(ui.busyCursor(), r.busy);
        EXPECT_EQ(ui.message(QStringLiteral("Titel"), QStringLiteral("Text"), r.icon, r.buttons),
                  r.answer);
        EXPECT_EQ(seen, (QStringList{QStringLiteral("Titel"), QStringLiteral("Text"),
                                     QString::fromUtf8(r.captions)}));
        EXPECT_EQ(icon, r.shown);
        EXPECT_EQ(answering, r.busy ? std::optional(Qt::ArrowCursor) : std::nullopt);
        EXPECT_EQ(cursor(), r.busy ? std::optional(Qt::WaitCursor) : std::nullopt);
    }
    EXPECT_EQ(cursor(), std::nullopt); // the last row ended busy
    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QtUi().processEvents();
    EXPECT_TRUE(ran);
}

// The system time, repeating timers until stopped, and a wait of about 10 ms
// that keeps the events flowing.
TEST(QtClockTest, SystemTimeTimersAndAShortWait) {
    QtClock clock;
    EXPECT_LT(std::abs(clock.now().msecsTo(QDateTime::currentDateTime())), 1000);
    EXPECT_NEAR(clock.secondsSinceMidnight(), QTime::currentTime().msecsSinceStartOfDay() / 1000.0,
                1.0);

    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    QElapsedTimer waited;
    waited.start();
    clock.processEvents();
    EXPECT_TRUE(ran);
    EXPECT_GE(waited.elapsed(), 9);

    std::unique_ptr<Timer> timer = clock.createTimer();
    int fired = 0;
    timer->setCallback([&] { ++fired; });
    timer->setInterval(20);
    EXPECT_EQ(timer->interval(), 20);
    EXPECT_FALSE(timer->isActive());
    timer->start();
    EXPECT_TRUE(timer->isActive());
    for (int i = 0; i < 500 && fired < 2; ++i)
        clock.processEvents();
    EXPECT_EQ(fired, 2); // repeats
    timer->stop();
    EXPECT_FALSE(timer->isActive());
    for (int i = 0; i < 5; ++i)
        clock.processEvents();
    EXPECT_EQ(fired, 2);
}

} // namespace
