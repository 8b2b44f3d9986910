// The auxiliary windows: the program log and its window, the registry
// stand-in with GetKeyValue, and the about box with its system information
// button.

#include "platform/ui/ScriptedUi.h"
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

QString cell(QTreeView* view, int row, int column) {
    return view->model()->index(row, column).data().toString();
}

// Every test starts with an empty log and no window.
class LogTest : public ::testing::Test {
protected:
    void SetUp() override {
        frmProgrammverlauf::shutdown();
        programLog().clear();
    }
    void TearDown() override {
        frmProgrammverlauf::shutdown();
        programLog().clear();
    }
};

// --- the log and its window ----------------------------------------------

TEST_F(LogTest, KeepsTheNewestHundredEntriesNewestFirst) {
    for (int i = 1; i <= 150; ++i)
        WriteLog(QStringLiteral("fmstart.cmdÜbernehmen"), QStringLiteral("Datenabfrage"),
                 QStringLiteral("1|%1").arg(i));
    ASSERT_EQ(programLog().rowCount(), 100);
    // Row r holds entry 150 - r: the latest first, entries 1..50 gone.
    for (int r = 0; r < 100; ++r)
        EXPECT_EQ(programLog().entries()[r].parameter, QStringLiteral("1|%1").arg(150 - r)) << r;
}

TEST_F(LogTest, RowTextIsSplitAtSemicolons) {
    const struct {
        const char *part, *text, *parameter;
        LogEntry expected;
    } rows[] = {
        {"frmNeueDaten.OKButton_Click",
         "Daten Holen für",
         "202401-202412 um 08:15:00",
         {"frmNeueDaten.OKButton_Click", "Daten Holen für", "202401-202412 um 08:15:00"}},
        {"a;b", "c", "d", {"a", "b", "c;d"}},     // a ";" in the first part pushes the rest right
        {"p", "t;u;v", "w", {"p", "t", "u;v;w"}}, // after the second ";" all is the last column
        {"", "", "", {}},
    };
    for (const auto& r : rows) {
        WriteLog(r.part, r.text, r.parameter);
        EXPECT_EQ(programLog().entries().first(), r.expected) << r.part;
    }
    EXPECT_EQ(splitRowText(QStringLiteral("only")), (LogEntry{"only", "", ""}));
    EXPECT_EQ(splitRowText(QStringLiteral("x;y")), (LogEntry{"x", "y", ""}));
}

TEST_F(LogTest, WritesFromAnotherThreadArriveInTheLogsThread) {
    QThread* worker = QThread::create([] {
        for (int i = 0; i < 5; ++i)
            WriteLog(QStringLiteral("worker"), QString::number(i), QString());
    });
    worker->start();
    ASSERT_TRUE(worker->wait(10000));
    delete worker;
    EXPECT_EQ(programLog().thread(), QCoreApplication::instance()->thread());
    QCoreApplication::sendPostedEvents(&programLog());
    ASSERT_EQ(programLog().rowCount(), 5);
    EXPECT_EQ(programLog().entries().first().text, QStringLiteral("4"));
}

// A tool window over the log: read-only columns, the list fills the window,
// earlier and later entries both show.
TEST_F(LogTest, WindowShowsTheLogInThreeColumns) {
    WriteLog(QStringLiteral("eins"), QStringLiteral("a"), QStringLiteral("1"));
    ASSERT_EQ(frmProgrammverlauf::existing(), nullptr);
    frmProgrammverlauf* w = frmProgrammverlauf::instance();
    EXPECT_EQ(w->objectName(), QStringLiteral("frmProgrammverlauf"));
    EXPECT_EQ(w->windowTitle(), QStringLiteral("Programmverlauf"));
    EXPECT_TRUE(w->isWindow() && w->windowFlags().testFlag(Qt::Tool));
    EXPECT_FALSE(w->isVisible()); // created, not shown
    QTreeView* view = w->findChild<QTreeView*>(QStringLiteral("Verlauf"));
    ASSERT_EQ(view, w->Verlauf());
    const QAbstractItemModel* m = view->model();
    ASSERT_EQ(m->columnCount(), 3);
    for (int c = 0; c < 3; ++c)
        EXPECT_EQ(m->headerData(c, Qt::Horizontal).toString(),
                  QStringList({"Programmteil", "Text", "Parameter"})[c]);
    EXPECT_FALSE(m->data(m->index(0, 1), Qt::EditRole).isValid()); // read-only
    EXPECT_GT(view->header()->sectionSize(0), 100);

    EXPECT_EQ(frmProgrammverlauf::showInstance(nullptr), w);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    for (const QSize size : {QSize(500, 200), QSize(900, 450)}) {
        w->resize(size);
        QApplication::processEvents();
        EXPECT_EQ(view->geometry(), w->rect()) << size.width();
    }
    w->StatusText(QStringLiteral("frmNeueDaten.OKButton_Click"),
                  QStringLiteral("Daten Holen erledigt um"), QStringLiteral("08:16:02"));
    w->StatusText(QStringLiteral("nur Teil"));
    ASSERT_EQ(m->rowCount(), 3);
    const QStringList shown{
        "nur Teil", "",  "", "frmNeueDaten.OKButton_Click", "Daten Holen erledigt um", "08:16:02",
        "eins",     "a", "1"};
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(cell(view, i / 3, i % 3), shown[i]) << i;
}

TEST_F(LogTest, CloseButtonOnlyHidesUntilTheProgramEnds) {
    for (int i = 0; i < 7; ++i)
        WriteLog(QStringLiteral("t"), QString::number(i), {});
    QPointer<frmProgrammverlauf> w = frmProgrammverlauf::showInstance(nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));

    // What the window's close button sends.
    QCloseEvent ev;
    QApplication::sendEvent(w, &ev);
    EXPECT_FALSE(ev.isAccepted());
    EXPECT_FALSE(w->isVisible());
    EXPECT_FALSE(w->close());
    ASSERT_TRUE(w);

    EXPECT_EQ(frmProgrammverlauf::showInstance(nullptr), w.data());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    ASSERT_EQ(w->Verlauf()->model()->rowCount(), 7);
    EXPECT_EQ(cell(w->Verlauf(), 0, 1), QStringLiteral("6"));

    w->setQuitting(true);
    EXPECT_TRUE(w->close());
    w->setQuitting(false);
    frmProgrammverlauf::shutdown();
    EXPECT_TRUE(w.isNull());
    EXPECT_EQ(frmProgrammverlauf::existing(), nullptr);
    EXPECT_EQ(programLog().rowCount(), 7); // the log outlives the window
}

TEST_F(LogTest, OwnerGivenLaterBecomesTheParent) {
    frmProgrammverlauf* w = frmProgrammverlauf::showInstance(nullptr);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(w));
    EXPECT_EQ(w->parentWidget(), nullptr);
    WriteLog(QStringLiteral("vor"), QStringLiteral("dem"), QStringLiteral("Hauptfenster"));

    auto* main = new QWidget;
    main->show();
    QPointer<frmProgrammverlauf> owned = frmProgrammverlauf::instance(main);
    EXPECT_EQ(owned.data(), w);
    EXPECT_EQ(w->parentWidget(), main);
    EXPECT_TRUE(w->isWindow() && w->windowFlags().testFlag(Qt::Tool));
    EXPECT_TRUE(w->isVisible());                  // re-parenting keeps an open window open
    EXPECT_EQ(frmProgrammverlauf::instance(), w); // no owner: keeps the one it has

    // The owner takes the window with it; the log stays.
    delete main;
    EXPECT_TRUE(owned.isNull());
    frmProgrammverlauf* again = frmProgrammverlauf::instance();
    ASSERT_EQ(again->Verlauf()->model()->rowCount(), 1);
    EXPECT_EQ(cell(again->Verlauf(), 0, 2), QStringLiteral("Hauptfenster"));
}

// --- GetKeyValue -----------------------------------------------------------

const QString kKey = QStringLiteral("SOFTWARE\\Tallvero\\Test");

RegValue rawValue(quint32 type, const QByteArray& data, quint32 length) {
    RegValue v;
    v.type = type;
    v.data = data;
    v.length = length;
    return v;
}

// Texts end at their NUL or stated length, other types come back raw, a DWORD
// as its unsigned decimal value; names are case-insensitive; every key opened
// (with full access) is closed again.
TEST(GetKeyValue, ValuesOfEachType) {
    const struct {
        const char* name;
        RegValue value;
        const char* expected;
    } rows[] = {
        {"mitNul", RegValue::text(QStringLiteral("C:\\Programme\\Überall")),
         "C:\\Programme\\Überall"},
        {"ohneNul", rawValue(REG_SZ, "abc", 3), "abc"},
        {"kurz", rawValue(REG_SZ, QByteArray("C:\\Tools\0Rest dahinter", 22), 9), "C:\\Tools"},
        {"leer", RegValue::text(QString()), ""},
        {"bin", rawValue(REG_BINARY, "\x41\xe4\x42", 3), "A\u00e4B"},
        {"d0", RegValue::dword(0u), "0"},
        {"d1", RegValue::dword(1u), "1"},
        {"d12345678", RegValue::dword(0x12345678u), "305419896"},
        {"dFF00", RegValue::dword(0x0000FF00u), "65280"},
        {"d345678", RegValue::dword(0x00345678u), "3430008"}, // top byte 0 is the final NUL
        {"d80000000", RegValue::dword(0x80000000u), "2147483648"},
        {"dFFFFFFFF", RegValue::dword(0xFFFFFFFFu), "4294967295"},
    };
    MemoryRegistry reg;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        reg.setValue(HKEY_LOCAL_MACHINE, kKey, QString::fromLatin1(r.name), r.value);
        QString val = QStringLiteral("vorher");
        EXPECT_TRUE(
            GetKeyValue(reg, HKEY_LOCAL_MACHINE, kKey, QString::fromLatin1(r.name).toUpper(), val));
        EXPECT_EQ(val, QString::fromUtf8(r.expected));
    }
    EXPECT_EQ(reg.opens(), int(std::size(rows)));
    EXPECT_EQ(reg.closes(), reg.opens());
    EXPECT_EQ(reg.openHandles(), 0);
    for (quint32 mask : reg.accessMasks())
        EXPECT_EQ(mask, 0x2003Fu);
    // The raw bytes of the example: 78 56 34 12.
    EXPECT_EQ(RegValue::dword(0x12345678u).data, QByteArrayLiteral("\x78\x56\x34\x12"));
}

// A key that does not open is not closed; a value that cannot be read
// closes the key; neither touches the output.
TEST(GetKeyValue, FailuresLeaveTheValueAndNoOpenKey) {
    MemoryRegistry reg;
    // 1024 bytes fit the buffer, 1025 do not.
    reg.setValue(HKEY_LOCAL_MACHINE, kKey, QStringLiteral("passt"),
                 RegValue::text(QString(1023, QLatin1Char('x'))));
    reg.setValue(HKEY_LOCAL_MACHINE, kKey, QStringLiteral("zuLang"),
                 RegValue::text(QString(1024, QLatin1Char('x'))));
    QString val = QStringLiteral("unberührt");
    EXPECT_FALSE(GetKeyValue(reg, HKEY_LOCAL_MACHINE, kKey + QStringLiteral("\\Fehlt"),
                             QStringLiteral("passt"), val));
    EXPECT_FALSE(GetKeyValue(reg, HKEY_CURRENT_USER, kKey, QStringLiteral("passt"), val));
    EXPECT_EQ(reg.openAttempts(), 2);
    EXPECT_EQ(reg.opens(), 0);
    EXPECT_EQ(reg.closes(), 0);
    EXPECT_FALSE(GetKeyValue(reg, HKEY_LOCAL_MACHINE, kKey, QStringLiteral("fehlt"), val));
    EXPECT_FALSE(GetKeyValue(reg, HKEY_LOCAL_MACHINE, kKey, QStringLiteral("zuLang"), val));
    EXPECT_EQ(val, QStringLiteral("unberührt"));
    EXPECT_EQ(reg.opens(), 2);
    EXPECT_EQ(reg.closes(), 2);
    EXPECT_EQ(reg.openHandles(), 0);
    ASSERT_TRUE(GetKeyValue(reg, HKEY_LOCAL_MACHINE, kKey, QStringLiteral("passt"), val));
    EXPECT_EQ(val.size(), 1023);
}

// --- the INI file ----------------------------------------------------------

TEST(IniRegistry, ReadsTypedValuesFromSections) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("registry.ini"));
    QFile f(path);
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

    IniRegistry reg(path);
    const QString msinfo = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
    const struct {
        const char* name;
        const char* expected;
    } cases[] = {{"PATH", "C:\\Programme\\Gemeinsame Dateien\\MSINFO32.EXE"},
                 {"path", "C:\\Programme\\Gemeinsame Dateien\\MSINFO32.EXE"},
                 {"Zahl", "305419896"},
                 {"Hex", "4294967295"},
                 {"Roh", "AB"},
                 {"", "Standard"},
                 {"Ohne", "Überall\\Text"}};
    for (const auto& c : cases) {
        QString val;
        EXPECT_TRUE(GetKeyValue(reg, HKEY_LOCAL_MACHINE, msinfo, QString::fromUtf8(c.name), val))
            << c.name;
        EXPECT_EQ(val, QString::fromUtf8(c.expected)) << c.name;
    }
    EXPECT_EQ(reg.openHandles(), 0);

    // Key names are case-insensitive; the type in hex(N) is kept.
    const auto key = reg.open(HKEY_LOCAL_MACHINE, msinfo.toLower(), kKeyAccessMask);
    ASSERT_TRUE(key.has_value());
    const auto typ7 = reg.queryValue(*key, QStringLiteral("Typ7"), kValueBufferSize);
    ASSERT_TRUE(typ7.has_value());
    EXPECT_EQ(typ7->type, 7u);
    EXPECT_EQ(typ7->data, QByteArray("a\0b\0\0", 5));
    // A malformed number is no value at all.
    EXPECT_FALSE(reg.queryValue(*key, QStringLiteral("Kaputt"), kValueBufferSize).has_value());
    reg.close(*key);
    EXPECT_FALSE(reg.queryValue(*key, QStringLiteral("PATH"), kValueBufferSize).has_value());

    EXPECT_TRUE(reg.open(HKEY_CURRENT_USER, QStringLiteral("Software\\Leer"), kKeyAccessMask));
    QString val = QStringLiteral("unberührt");
    EXPECT_FALSE(GetKeyValue(reg, HKEY_CURRENT_USER, QStringLiteral("Software\\Leer"),
                             QStringLiteral("x"), val));
    EXPECT_FALSE(GetKeyValue(reg, HKEY_USERS, msinfo, QStringLiteral("PATH"), val));
    EXPECT_EQ(val, QStringLiteral("unberührt"));

    IniRegistry missing(dir.filePath(QStringLiteral("gibtsnicht.ini")));
    EXPECT_FALSE(missing.open(HKEY_LOCAL_MACHINE, msinfo, kKeyAccessMask));
    EXPECT_TRUE(IniRegistry::defaultPath().endsWith(QStringLiteral("/registry.ini")));
}

// --- the about box ---------------------------------------------------------

const QString kMsinfo = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools\\MSINFO");
const QString kLocation = QStringLiteral("SOFTWARE\\Microsoft\\Shared Tools Location");
const RecordedMessage kNotAvailable{QStringLiteral("Tallvero"),
                                    QStringLiteral("Systeminformationen sind momentan nicht "
                                                   "verfügbar"),
                                    MsgIcon::None,
                                    MsgButtons::Ok,
                                    platform::MsgAnswer::Ok,
                                    -1};

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
    ASSERT_TRUE(withTool.isValid() && withoutTool.isValid());
    QFile tool(withTool.filePath(QStringLiteral("MSINFO32.EXE")));
    ASSERT_TRUE(tool.open(QIODevice::WriteOnly));
    tool.close();
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
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        AboutEnv env;
        env.starterSucceeds = r.startSucceeds;
        if (!r.pathKey.isEmpty())
            env.reg.setValue(HKEY_LOCAL_MACHINE, kMsinfo, QStringLiteral("PATH"),
                             RegValue::text(r.pathKey));
        if (!r.folderKey.isEmpty())
            env.reg.setValue(HKEY_LOCAL_MACHINE, kLocation, QStringLiteral("MSINFO"),
                             RegValue::text(r.folderKey));
        frmAbout box(env.ui, env.reg, env.starter);
        box.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
        QTest::mouseClick(box.cmdSysInfo(), Qt::LeftButton);
        EXPECT_EQ(env.started, r.started);
        EXPECT_EQ(env.ui.messages(),
                  r.told ? QList<RecordedMessage>{kNotAvailable} : QList<RecordedMessage>{});
        EXPECT_EQ(env.reg.openAttempts(), r.openAttempts);
        EXPECT_TRUE(box.isVisible()); // the about box stays open
    }
    // The real starter fails as well for a program that does not exist.
    EXPECT_FALSE(startDetachedProcess(QStringLiteral("/gibt/es/nicht/msinfo32")));
    EXPECT_FALSE(startDetachedProcess(QString()));
}

TEST(FrmAbout, VersionPartsArePlainIntegers) {
    const struct {
        const char* in;
        const char* out;
    } cases[] = {
        {"1.2.15", "1.2.15"}, {"1.02.3", "1.2.3"},  {"2", "2.0.0"},           {"", "0.0.0"},
        {"3.4", "3.4.0"},     {"1.2.3.4", "1.2.3"}, {"1.2.15-beta", "1.2.15"}};
    for (const auto& c : cases)
        EXPECT_EQ(frmAbout::versionText(QString::fromLatin1(c.in)), QString::fromLatin1(c.out))
            << c.in;
}

// One ownerless, non-modal box per process with its texts and links; OK and
// Escape only hide it.
TEST(FrmAbout, OneOwnerlessNonModalBoxForTheProcess) {
    const QString oldVersion = QCoreApplication::applicationVersion();
    QCoreApplication::setApplicationVersion(QStringLiteral("1.2.15"));
    AboutEnv env;
    QPointer<frmAbout> box = frmAbout::showInstance(env.ui, env.reg, env.starter);
    QCoreApplication::setApplicationVersion(oldVersion);
    ASSERT_TRUE(box);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(box));
    EXPECT_EQ(frmAbout::instance(env.ui, env.reg, env.starter), box.data());
    EXPECT_EQ(box->parentWidget(), nullptr);
    EXPECT_FALSE(box->isModal());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);

    EXPECT_EQ(box->objectName(), QStringLiteral("frmAbout"));
    EXPECT_EQ(box->windowTitle(), QStringLiteral("Info zu Tallvero"));
    const auto label = [&](const char* name) {
        return box->findChild<QLabel*>(QString::fromLatin1(name));
    };
    ASSERT_TRUE(label("lblTitle") && label("lblVersion") && label("lblDescription") &&
                label("picIcon") && label("lblKontakt") && label("lblWebseite"));
    EXPECT_EQ(label("lblTitle")->text(), QStringLiteral("Tallvero"));
    EXPECT_EQ(label("lblVersion")->text(), QStringLiteral("1.2.15"));
    EXPECT_FALSE(label("lblDescription")->text().isEmpty());
    EXPECT_FALSE(label("picIcon")->pixmap().isNull());
    EXPECT_TRUE(label("lblKontakt")->text().contains(QStringLiteral("href=\"mailto:")));
    EXPECT_TRUE(label("lblWebseite")->text().contains(QStringLiteral("href=\"https://")));
    EXPECT_TRUE(label("lblKontakt")->openExternalLinks());
    EXPECT_EQ(box->findChild<QPushButton*>(QStringLiteral("cmdOK")), box->cmdOK());
    EXPECT_EQ(box->findChild<QPushButton*>(QStringLiteral("cmdSysInfo")), box->cmdSysInfo());
    EXPECT_EQ(box->cmdOK()->text(), QStringLiteral("OK"));
    EXPECT_EQ(box->cmdSysInfo()->text(), QStringLiteral("&Systeminfo..."));

    QTest::mouseClick(box->cmdOK(), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_FALSE(box.isNull());
    EXPECT_FALSE(box->isVisible());
    EXPECT_TRUE(env.ui.messages().isEmpty());

    // Opened a second time: the same box again; Escape closes it like OK.
    QPointer<frmAbout> next = frmAbout::showInstance(env.ui, env.reg, env.starter);
    EXPECT_EQ(next.data(), box.data());
    ASSERT_TRUE(QTest::qWaitForWindowExposed(next));
    QTest::keyClick(next, Qt::Key_Escape);
    EXPECT_FALSE(next->isVisible());
    EXPECT_EQ(frmAbout::existing(), box.data());
}

} // namespace
