// Desktop client. Starts with the real login against the configured server
// (the embedded demo server unless the settings or the command line say
// otherwise), then shows a small main window with the user context and a
// re-login entry; the report window follows in a later step.

#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/ServerFactory.h"
#include "platform/clock/QtClock.h"
#include "platform/settings/QSettingsStore.h"
#include "platform/ui/QtUi.h"
#include "server/FMPass.h"
#include "server/FMServer.h"
#include "server/Session.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFormLayout>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QMenuBar>
#include <QProgressDialog>
#include <QStatusBar>
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
    }
    bool connect(const QString& connectString) override {
        const bool ok = ServerFactory::connect(connectString);
        progress_.reset();
        return ok;
    }

private:
    std::unique_ptr<QProgressDialog> progress_;
};

// Stand-in for the report window: the logged-in user and the connection.
class StartWindow : public QMainWindow {
public:
    explicit StartWindow(srv::Session*& session) : session_(session) {
        setObjectName(QStringLiteral("FMStart"));
        auto* datei = menuBar()->addMenu(QStringLiteral("&Datei"));
        auto* login = datei->addAction(QStringLiteral("&Anmelden ..."));
        login->setObjectName(QStringLiteral("mLogin"));
        connect(login, &QAction::triggered, this, [this] { session_->mLogin_Click(); });
        datei->addSeparator();
        auto* quit = datei->addAction(QStringLiteral("&Beenden"));
        connect(quit, &QAction::triggered, this, &QWidget::close);

        auto* central = new QWidget;
        form_ = new QFormLayout(central);
        setCentralWidget(central);
        statusBar()->showMessage(QStringLiteral("Angemeldet"));
        resize(640, 460);
    }

    void refresh(const QString& permission) {
        while (form_->rowCount() > 0)
            form_->removeRow(0);
        const srv::UserContext& u = srv::userContext();
        const srv::ConnectionSettings& c = srv::connectionSettings();
        auto row = [&](const char* label, const QString& value) {
            auto* v = new QLabel(value.isEmpty() ? QStringLiteral("–") : value);
            v->setTextInteractionFlags(Qt::TextSelectableByMouse);
            form_->addRow(QString::fromUtf8(label), v);
        };
        row("Benutzer:", u.Benutzer);
        row("Name:", u.BenutzerName);
        row("Personalnummer:", u.PersonalNr);
        row("Firma:", u.Firma);
        row("Filiale:", u.Filiale);
        row("Abteilung:", u.Abteilung + QStringLiteral(" ") + u.AbteilungBez);
        row("Hauptabteilung:", u.HauptAbteilung);
        row("DW / Berechtigungsgruppe:", u.DW + QStringLiteral(" / ") + u.BerGrp);
        row("Fax:", u.Fax);
        row("E-Mail:", u.EMail);
        row("Berechtigung Tallvero:", permission);
        row("Server:", c.Server + QStringLiteral(" [") + c.Port + QStringLiteral("]"));
        row("Namespace / WJ:", c.Namespace + QStringLiteral(" / ") + c.WJ);
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        // Closing the main window closes the connection and ends the program.
        event->accept();
        session_->CacheDisconnect();
        session_->EndProgram();
    }

private:
    srv::Session*& session_;
    QFormLayout* form_;
};

QString permissionText(srv::Session& s) {
    try {
        return QString::number(s.CheckPermission());
    } catch (const cache::CacheError& e) {
        return QStringLiteral("nicht ermittelbar (%1)").arg(e.description());
    }
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tallvero"));
    QApplication::setOrganizationName(QStringLiteral("Tallvero"));

    platform::QtClock clock;
    platform::QtUi ui;
    platform::QSettingsStore settings;
    if (!settings.problem().isEmpty()) qWarning("%s", qPrintable(settings.problem()));

    srv::Session* session = nullptr;
    StartWindow window(session);
    srv::FMPass pass(&window); // owned by the main window (re-login)
    srv::FMServer server(clock, &pass);

    const QStringList args = QApplication::arguments().mid(1);
    srv::SessionServices services{
        ui,
        clock,
        settings,
        pass,
        server,
        [] { return std::make_unique<ProgressServerFactory>(); },
        [&] {
            // Last opened first, then the process ends at once.
            const QWidgetList windows = QApplication::topLevelWidgets();
            for (qsizetype i = windows.size() - 1; i >= 0; --i)
                if (windows.at(i)->isVisible()) windows.at(i)->hide();
            if (session) session->CacheDisconnect();
            settings.sync();
            std::fflush(nullptr);
            std::exit(0);
        },
        [args] { return args.join(QLatin1Char(' ')); },
        [&] { return window.isVisible(); },
        [&](const QString& caption) {
            window.setWindowTitle(caption);
            window.refresh(permissionText(*session));
        },
    };
    srv::Session s(std::move(services));
    session = &s;

    // Login loop of the start-up: repeat until it succeeds; cancelling ends
    // the program from inside. Credentials from the command line are not
    // retried: the same words would fail the same way for ever.
    for (;;) {
        srv::connectionSettings().CommandLine = args.join(QLatin1Char(' '));
        if (s.CacheLogin()) break;
        if (s.credentialsFromCommandLine()) s.EndProgram();
    }

    const srv::UserContext& u = srv::userContext();
    window.setWindowTitle(QStringLiteral("ZORVEK Tallvero   Firma: ") + u.Firma +
                          QStringLiteral("     Filiale: ") + u.Filiale +
                          QStringLiteral("     Benutzer: ") + u.Benutzer);
    window.refresh(permissionText(s));
    window.show();
    return QApplication::exec();
}
