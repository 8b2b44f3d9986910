// The auxiliary windows: the program log and its window, the registry
// stand-in with GetKeyValue, and the about box with its system information
// button.

#include "platform/ui/ScriptedUi.h"
#include "support/Utf8.h"
#include "windows/FrmAbout.h"
#include "windows/FrmProgrammverlauf.h"
#include "windows/ProgramLog.h"
#include "windows/Registry.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTreeView>
#include <gtest/gtest.h>

using namespace windows;
using platform::MsgButtons;
using platform::MsgIcon;
using platform::RecordedMessage;

namespace {

using testsupport::u;

QString cell(QTreeView* view, int row, int column) {
    return view->model()->index(row, column).data().toString();
}

// Every test starts with an empty log and no window.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        frmProgrammverlauf::shutdown();
        programLog().clear();
    }
};

// A ";" in the first two fields pushes the rest right; after the second ";"
// all is the last column.
TEST_F(LogTest, RowTextIsSplitAtSemicolons) {
    for (const auto& [text, expected] : {std::pair{"p;t;u;v;w", LogEntry{"p", "t", "u;v;w"}},
                                         {";;", {}},
                                         {"only", {"only", "", ""}},
                                         {"x;y", {"x", "y", ""}}})
        EXPECT_EQ(splitRowText(u(text)), expected) << text;
    WriteLog(u("a;b"), u("c"), u("d"));
    EXPECT_EQ(programLog().entries().first(), (LogEntry{"a", "b", "c;d"}));
}

TEST_F(LogTest, WritesFromAnotherThreadArriveInTheLogsThread) {
    const std::unique_ptr<QThread> worker(QThread::create([] {
        for (int i = 0; i < 5; ++i)
            WriteLog(QStringLiteral("worker"), QString::number(i), QString());
    }));
    worker->start();
    ASSERT_TRUE(worker->wait(10000));
    EXPECT_EQ(programLog().thread(), QCoreApplication::instance()->thread());
    QCoreApplication::sendPostedEvents(&programLog());
    ASSERT_EQ(programLog().rowCount(), 5);
    EXPECT_EQ(programLog().entries().first().text, QStringLiteral("4"));
}

// 150 entries written before the window first opens: it lists the newest
// 100, newest first, in read-only columns that fill the window. The close
// button only hides it (reopened, the same rows); an owner given later
// takes it along when it goes, and the end of the program closes it.
TEST_F(LogTest, TheWindowListsTheNewestHundredAndOnlyItsOwnerOrTheEndCloseIt) {
    for (int i = 1; i <= 150; ++i)
        WriteLog(QStringLiteral("fmstart.cmdÜbernehmen"), QString::number(i), QStringLiteral("p"));
    frmProgrammverlauf* w = frmProgrammverlauf::instance();
    EXPECT_TRUE(w->windowFlags().testFlag(Qt::Tool) && !w->isVisible()); // created, not shown
    QTreeView* view = w->Verlauf();
    const QAbstractItemModel* m = view->model();
    ASSERT_EQ(m->columnCount(), 3);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(m->headerData(c, Qt::Horizontal).toString(),
                  QStringList({"Programmteil", "Text", "Parameter"})[c]);
    EXPECT_FALSE(m->data(m->index(0, 1), Qt::EditRole).isValid());
    const auto expectNewestHundred = [&] {
        ASSERT_EQ(m->rowCount(), 100);
        for (int r = 0; r < 100; ++r)
            EXPECT_EQ(cell(view, r, 1), QString::number(150 - r)) << r;
    };
    expectNewestHundred();

    QPointer<frmProgrammverlauf> shown = frmProgrammverlauf::showInstance(nullptr);
    EXPECT_EQ(shown.data(), w);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    w->resize(900, 450);
    QApplication::processEvents();
    EXPECT_EQ(view->geometry(), w->rect());
    QCloseEvent ev; // what the window's close button sends
    QApplication::sendEvent(w, &ev);
    EXPECT_FALSE(ev.isAccepted() || w->isVisible() || w->close());
    ASSERT_EQ(frmProgrammverlauf::showInstance(nullptr), shown.data());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    expectNewestHundred();

    w->StatusText(QStringLiteral("nur Teil"));
    EXPECT_EQ(QStringList({cell(view, 0, 0), cell(view, 0, 1), cell(view, 1, 1)}),
              QStringList({"nur Teil", "", "150"}));

    EXPECT_EQ(w->parentWidget(), nullptr);
    auto* main = new QWidget;
    main->show();
    EXPECT_EQ(frmProgrammverlauf::instance(main), w);
    EXPECT_EQ(w->parentWidget(), main);
    EXPECT_TRUE(w->isWindow() && w->windowFlags().testFlag(Qt::Tool));
    EXPECT_TRUE(w->isVisible());                  // re-parenting keeps an open window open
    EXPECT_EQ(frmProgrammverlauf::instance(), w); // no owner: keeps the one it has
    delete main;
    EXPECT_TRUE(shown.isNull());
    // A new window over the same log, closed only when the program ends.
    w = frmProgrammverlauf::showInstance(nullptr);
    shown = w;
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    EXPECT_EQ(cell(w->Verlauf(), 1, 2), QStringLiteral("p"));
    w->setQuitting(true);
    EXPECT_TRUE(w->close());
    frmProgrammverlauf::shutdown();
    EXPECT_TRUE(shown.isNull());
    EXPECT_EQ(frmProgrammverlauf::existing(), nullptr);
    EXPECT_EQ(programLog().rowCount(), 100); // the log outlives the window, still cut at 100
}

// --- GetKeyValue -----------------------------------------------------------

const QString kKey = QStringLiteral("SOFTWARE\\Tallvero\\Test");
const QString kMsinfo = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");

// Texts end at their NUL or stated length, other types come back raw, a DWORD
// as its unsigned decimal value; names are case-insensitive. A key that does
// not open is not closed, every key opened (with full access) is closed
// again, and a failure leaves the output as it was.
TEST(GetKeyValue, ValuesOfEachTypeAndFailures) {
    const QString fits(1023, QLatin1Char('x')); // 1024 bytes fit the buffer, 1025 do not
    const struct {
        const char* name;
        std::optional<RegValue> value; // none: not stored
        QString expected;              // null: GetKeyValue fails
        bool opens = true;
        quint32 root = HKEY_LOCAL_MACHINE;
        QString key = kKey;
    } rows[] = {
        {"mitNul", RegValue::text(u("C:\\Programme\\Überall")), u("C:\\Programme\\Überall")},
        {"ohneNul", RegValue{REG_SZ, "abc", 3}, u("abc")},
        {"kurz", RegValue{REG_SZ, QByteArray("C:\\Tools\0Rest dahinter", 22), 9}, u("C:\\Tools")},
        {"leer", RegValue::text(QString()), u("")},
        {"bin", RegValue{REG_BINARY, "\x41\xe4\x42", 3}, u("A\u00e4B")},
        {"d0", RegValue::dword(0u), u("0")},
        {"d12345678", RegValue::dword(0x12345678u), u("305419896")},
        {"dFF00", RegValue::dword(0x0000FF00u), u("65280")},
        {"d345678", RegValue::dword(0x00345678u), u("3430008")}, // top byte 0 is the final NUL
        {"dFFFFFFFF", RegValue::dword(0xFFFFFFFFu), u("4294967295")},
        {"passt", RegValue::text(fits), fits},
        {"zuLang", RegValue::text(fits + QLatin1Char('x')), {}},
        {"fehlt", std::nullopt, {}},
        {"keinSchluessel", RegValue::dword(1u), {}, false, HKEY_LOCAL_MACHINE, kKey + "\\Fehlt"},
        {"andereWurzel", RegValue::dword(1u), {}, false, HKEY_CURRENT_USER},
    };
    MemoryRegistry reg;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        const QString name = QString::fromLatin1(r.name);
        if (r.value) reg.setValue(HKEY_LOCAL_MACHINE, kKey, name, *r.value);
        const int opens = reg.opens(), attempts = reg.openAttempts();
        QString val = u("vorher");
        EXPECT_EQ(GetKeyValue(reg, r.root, r.key, name.toUpper(), val), !r.expected.isNull());
        EXPECT_EQ(val, r.expected.isNull() ? u("vorher") : r.expected);
        EXPECT_EQ(reg.openAttempts(), attempts + 1);
        EXPECT_EQ(reg.opens(), opens + (r.opens ? 1 : 0));
        EXPECT_EQ(reg.closes(), reg.opens());
        EXPECT_EQ(reg.openHandles(), 0);
    }
    EXPECT_EQ(reg.accessMasks(), QList<quint32>(std::size(rows), 0x2003Fu));
    EXPECT_EQ(RegValue::dword(0x12345678u).data, QByteArrayLiteral("\x78\x56\x34\x12"));
}

// The INI file that stands in for the registry: typed values in sections.
TEST(IniRegistry, ReadsTypedValuesFromSections) {
    QTemporaryDir dir;
    QFile f(dir.filePath(QStringLiteral("registry.ini")));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"(; Stand-in for the machine's registry
[HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shared Tools\MSINFO]
PATH=sz:C:\Programme\Gemeinsame Dateien\MSINFO32.EXE
Zahl = dword:305419896
Hex=dword:0xFFFFFFFF
Kaputt=dword:zwölf
Roh=hex:41,42,00
Typ7=hex(7):61,00,62,00,00
@=sz:Standard
Ohne=Überall\Text

[HKEY_CURRENT_USER\Software\Leer]
# a key without values
)");
    f.close();
    IniRegistry reg(f.fileName());
    const struct {
        const char *name, *expected; // no expected value: none to read
        quint32 root = HKEY_LOCAL_MACHINE;
        QString key = kMsinfo;
    } cases[] = {{"path", "C:\\Programme\\Gemeinsame Dateien\\MSINFO32.EXE"},
                 {"Zahl", "305419896"},
                 {"Hex", "4294967295"},
                 {"Roh", "AB"},
                 {"", "Standard"},
                 {"Ohne", "Überall\\Text"},
                 {"Kaputt", nullptr}, // a malformed number is no value at all
                 {"x", nullptr, HKEY_CURRENT_USER, u("Software\\Leer")},
                 {"PATH", nullptr, HKEY_USERS}};
    for (const auto& c : cases) {
        QString val = QStringLiteral("unberührt");
        EXPECT_EQ(GetKeyValue(reg, c.root, c.key, u(c.name), val), c.expected != nullptr) << c.name;
        EXPECT_EQ(val, u(c.expected ? c.expected : "unberührt")) << c.name;
    }
    EXPECT_EQ(reg.openHandles(), 0);
    // Key names are case-insensitive; the type in hex(N) is kept.
    const auto key = reg.open(HKEY_LOCAL_MACHINE, kMsinfo.toLower(), kKeyAccessMask);
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(reg.queryValue(*key, u("Typ7"), kValueBufferSize),
              (RegValue{7, QByteArray("a\0b\0\0", 5), 5}));
    reg.close(*key);
    EXPECT_TRUE(reg.open(HKEY_CURRENT_USER, QStringLiteral("Software\\Leer"), kKeyAccessMask));
    EXPECT_FALSE(reg.queryValue(*key, QStringLiteral("PATH"), kValueBufferSize).has_value());
    EXPECT_FALSE(IniRegistry(dir.filePath(QStringLiteral("fehlt.ini")))
                     .open(HKEY_LOCAL_MACHINE, kMsinfo, kKeyAccessMask));
    EXPECT_TRUE(IniRegistry::defaultPath().endsWith(QStringLiteral("/registry.ini")));
}

// --- the about box ---------------------------------------------------------

struct AboutEnv {
    platform::ScriptedUi ui;
    MemoryRegistry reg;
    QStringList started;
    bool starterSucceeds = true;
    ProcessStarter starter = [this](const QString& p) {
        started << p;
        return starterSucceeds;
    };
};

// Which key answers, what is started, and when the user is told.
TEST(StartSysInfo, KeysFolderAndStart) {
    QTemporaryDir withTool, withoutTool;
    ASSERT_TRUE(
        QFile(withTool.filePath(QStringLiteral("MSINFO32.EXE"))).open(QIODevice::WriteOnly));
    const QString path = QStringLiteral("C:\\PROGRA~1\\COMMON~1\\MICROS~1\\MSINFO\\MSINFO32.EXE");
    const struct {
        const char* what;
        QString pathKey, folderKey;
        bool startSucceeds;
        QStringList started;
        bool told;
        int openAttempts;
    } rows[] = {
        // clang-format off
        {"no keys: both tried", {}, {}, true, {}, true, 2},
        {"folder without the tool", {}, withoutTool.path(), true, {}, true, 2},
        {"folder with the tool", {}, withTool.path(), true, {withTool.filePath("MSINFO32.EXE")},
         false, 2},
        // The second key is not consulted when the first one answers.
        {"path key as it is", path, QStringLiteral("/anderswo"), true, {path}, false, 1},
        {"failed start", QStringLiteral("/gibt/es/nicht"), {}, false, {"/gibt/es/nicht"}, true, 1},
        // clang-format on
    };
    const RecordedMessage notAvailable{
        u("Tallvero"),           u("Systeminformationen sind momentan nicht verfügbar"),
        MsgIcon::None,           MsgButtons::Ok,
        platform::MsgAnswer::Ok, -1};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        AboutEnv env;
        env.starterSucceeds = r.startSucceeds;
        if (!r.pathKey.isEmpty())
            env.reg.setValue(HKEY_LOCAL_MACHINE, kMsinfo, QStringLiteral("PATH"),
                             RegValue::text(r.pathKey));
        if (!r.folderKey.isEmpty())
            env.reg.setValue(HKEY_LOCAL_MACHINE, u("SOFTWARE\\Microsoft\\Shared Tools Location"),
                             u("MSINFO"), RegValue::text(r.folderKey));
        frmAbout box(env.ui, env.reg, env.starter);
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
        QTest::mouseClick(box.cmdSysInfo(), Qt::LeftButton);
        EXPECT_EQ(env.started, r.started);
        EXPECT_EQ(env.ui.messages(), r.told ? QList{notAvailable} : QList<RecordedMessage>{});
        EXPECT_EQ(env.reg.openAttempts(), r.openAttempts);
        EXPECT_TRUE(box.isVisible()); // the about box stays open
    }
    // The real starter fails as well for a program that does not exist.
    EXPECT_FALSE(startDetachedProcess(QStringLiteral("/gibt/es/nicht/msinfo32")));
    EXPECT_FALSE(startDetachedProcess(QString()));
}

TEST(FrmAbout, VersionPartsArePlainIntegers) {
    for (const auto& [in, out] : {std::pair{"1.2.15", "1.2.15"},
                                  {"1.02.3", "1.2.3"},
                                  {"2", "2.0.0"},
                                  {"", "0.0.0"},
                                  {"3.4", "3.4.0"},
                                  {"1.2.3.4", "1.2.3"},
                                  {"1.2.15-beta", "1.2.15"}})
        EXPECT_EQ(frmAbout::versionText(QString::fromLatin1(in)), QString::fromLatin1(out)) << in;
}

// One ownerless, non-modal box per process showing the program's version;
// OK and Escape only hide it.
TEST(FrmAbout, OneOwnerlessNonModalBoxForTheProcess) {
    const QString oldVersion = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion(QStringLiteral("1.02.15"));
    AboutEnv env;
    QPointer<frmAbout> box = frmAbout::showInstance(env.ui, env.reg, env.starter);
    QCoreApplication::setApplicationVersion(oldVersion);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    EXPECT_EQ(frmAbout::instance(env.ui, env.reg, env.starter), box.data());
    EXPECT_TRUE(box->parentWidget() == nullptr && !box->isModal());
    EXPECT_EQ(box->lblVersion()->text(), QStringLiteral("1.2.15"));
    EXPECT_FALSE(box->picIcon()->pixmap().isNull());
    EXPECT_TRUE(box->lblKontakt()->text().contains(QStringLiteral("href=\"mailto:")));
    for (const bool escape : {false, true}) {
        EXPECT_EQ(frmAbout::showInstance(env.ui, env.reg, env.starter), box.data());
        ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
        if (escape)
            QTest::keyClick(box, Qt::Key_Escape);
        else
            QTest::mouseClick(box->cmdOK(), Qt::LeftButton);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        ASSERT_FALSE(box.isNull());
        EXPECT_FALSE(box->isVisible());
    }
    EXPECT_TRUE(env.ui.messages().isEmpty());
    EXPECT_EQ(frmAbout::existing(), box.data());
}

} // namespace
