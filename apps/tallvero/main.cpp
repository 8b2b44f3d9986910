// Desktop client. The main window logs the user in against the configured
// server (the embedded demo server unless the settings or the command line
// say otherwise), fills its selection lists and shows the report page.

#include "main_window/FMStart.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/clock/QtClock.h"
#include "platform/settings/QSettingsStore.h"
#include "platform/ui/QtUi.h"
#include "platform/ui/TextRoomStyle.h"
#include "retrieval/FrmNeueDaten.h"
#include "retrieval/RebuildProgress.h"
#include "server/FMPass.h"
#include "server/FMServer.h"
#include "server/Session.h"
#include "windows/FrmAbout.h"
#include "windows/FrmProgrammverlauf.h"
#include "windows/Registry.h"

#include <QApplication>
#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QProgressDialog>
#include <QScreen>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>

namespace {

// The embedded server fills a new database on its first connect; this shows
// that work in a progress window and closes it when the connect returns.
class ProgressServerFactory : public cache::server::ServerFactory {
public:
    ProgressServerFactory() {
        options().demoProgress = [this](const cache::server::DemoProgress& p) {
            if (!progress_) {
                progress_ = std::make_unique<QProgressDialog>(
                    QStringLiteral("Demodaten werden angelegt .."), QString(), 0, 100);
                progress_->setWindowTitle(QStringLiteral("Tallvero"));
                progress_->setCancelButton(nullptr);
                progress_->setMinimumDuration(300);
            }
            progress_->setLabelText(p.stage + QStringLiteral(" .."));
            progress_->setValue(p.total > 0 ? int(p.done * 100 / p.total) : 0);
            QApplication::processEvents();
        };
        // The rebuild dialog listens there while its Generieren runs.
        options().generateProgress = [](const cache::server::GenerateProgress& p) {
            return retrieval::reportRebuildProgress(p.done, p.total, p.period);
        };
    }
    bool connect(const QString& connectString) override {
        const bool ok = ServerFactory::connect(connectString);
        progress_.reset();
        return ok;
    }

private:
    std::unique_ptr<QProgressDialog> progress_;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // Room for the dots of Ä, Ö and Ü in every list, label and status line.
    QApplication::setStyle(new platform::TextRoomStyle);
    QApplication::setApplicationName(QStringLiteral("Tallvero"));
    QApplication::setOrganizationName(QStringLiteral("Tallvero"));
    QApplication::setApplicationVersion(QStringLiteral(TALLVERO_VERSION));
    // The installed icon theme's icon, else the one built in; the desktop
    // file name lets Wayland compositors match the window to its entry.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("tallvero"), QIcon(QStringLiteral(":/tallvero.png"))));
    QGuiApplication::setDesktopFileName(QStringLiteral("example.tallvero.Tallvero"));
    // Qt's own dialogs (printer, files, context menus) in German.
    QTranslator qtGerman;
    if (qtGerman.load(QLocale(QLocale::German, QLocale::Germany), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(&qtGerman);

    platform::QtClock clock;
    platform::QtUi ui;
    platform::QSettingsStore settings;
    if (!settings.problem().isEmpty()) qWarning("%s", qPrintable(settings.problem()));

    srv::Session* session = nullptr;
    mw::FMStart* window = nullptr;
    // The login dialog belongs to the main window (re-login); it gets its
    // owner as soon as the window exists.
    auto* pass = new srv::FMPass;
    srv::FMServer server(clock, pass);

    const QStringList args = QApplication::arguments().mid(1);
    srv::SessionServices services{
        ui,
        clock,
        settings,
        *pass,
        server,
        [] { return std::make_unique<ProgressServerFactory>(); },
        [&] {
            // Last opened first, then the process ends at once.
            windows::frmProgrammverlauf::shutdown();
            const QWidgetList windows = QApplication::topLevelWidgets();
            for (qsizetype i = windows.size() - 1; i >= 0; --i)
                if (windows.at(i)->isVisible()) windows.at(i)->hide();
            if (session) session->CacheDisconnect();
            settings.sync();
            std::fflush(nullptr);
            std::exit(0);
        },
        [args] { return args.join(QLatin1Char(' ')); },
        [&] { return window && window->isVisible(); },
        [&](const QString& caption) {
            if (window) window->loggedInAgain(caption);
        },
    };
    srv::Session s(std::move(services));
    session = &s;

    windows::IniRegistry registry(windows::IniRegistry::defaultPath());
    mw::FMStart w(mw::FMStartServices{
        .ui = ui,
        .clock = clock,
        .session = s,
        .screenWidth = {},
        .openRebuildDialog =
            [&](QWidget* owner) { retrieval::FrmNeueDaten::showModal(s, ui, clock, owner); },
        .showAbout = [&] { windows::frmAbout::showInstance(ui, registry); },
        .showLog = [](QWidget* owner) { windows::frmProgrammverlauf::showInstance(owner); },
        .processCommandLine = [args] { return args.join(QLatin1Char(' ')); },
        .printDialog = {},
        .saveFileName = {},
        .statusObserver = {},
    });
    window = &w;
    pass->setParent(&w, pass->windowFlags());

    w.Form_Load();
    // Without a window manager (a bare X server) maximising does nothing,
    // so the window takes the screen's available area itself.
    if (QScreen* screen = QGuiApplication::primaryScreen())
        w.setGeometry(screen->availableGeometry());
    w.showMaximized();
    return QApplication::exec();
}
