// Desktop client. Until the full main window lands this is a small window
// over the server component: it connects (filling the embedded demo
// database on first start, with progress), logs in as the demo user and
// shows the company's monthly revenue and margin of the last twelve months.

#include "platform/cache/ConnectString.h"
#include "platform/cache/server/DemoData.h"
#include "platform/cache/server/ServerFactory.h"

#include <QApplication>
#include <QDate>
#include <QHeaderView>
#include <QLabel>
#include <QLocale>
#include <QMainWindow>
#include <QMessageBox>
#include <QProgressDialog>
#include <QSettings>
#include <QStatusBar>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace cache;

namespace {

QString periodCode(const QDate& d) {
    return QString::number(d.year() - 1900) + QStringLiteral("%1").arg(d.month(), 2, 10, QLatin1Char('0'));
}

QString xecute(Factory& f, const QString& line) {
    auto h = f.classHandle(QStringLiteral("ZK.Windows"));
    const QString r = h->call(QStringLiteral("Xecute"), {line});
    h->SYS_Close();
    return r;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tallvero"));
    QApplication::setOrganizationName(QStringLiteral("Tallvero"));

    QSettings settings(QStringLiteral("Cache Login"), QStringLiteral("Cache Login"));
    settings.beginGroup(QStringLiteral("Login"));
    const QString server = settings.value(QStringLiteral("Server"), QStringLiteral("embedded")).toString();
    const QString port = settings.value(QStringLiteral("Port"), QStringLiteral("1973")).toString();
    const QString firma = settings.value(QStringLiteral("Firma"), QStringLiteral("1")).toString();

    QProgressDialog progress(QStringLiteral("Demodaten werden angelegt .."), QString(), 0, 100);
    progress.setWindowTitle(QStringLiteral("Tallvero"));
    progress.setMinimumDuration(300);
    progress.setCancelButton(nullptr);
    server::ServerOptions options;
    options.demoProgress = [&](const server::DemoProgress& p) {
        progress.setLabelText(p.stage + QStringLiteral(" .."));
        progress.setValue(p.total > 0 ? int(p.done * 100 / p.total) : 0);
        QApplication::processEvents();
    };
    server::ServerFactory factory(options);
    if (!factory.connect(makeConnectString(server, port))) {
        QMessageBox::critical(nullptr, QStringLiteral("Tallvero"),
                              QStringLiteral("Keine Verbindung zum Server %1:\n%2")
                                  .arg(server, factory.lastConnectError()));
        return 1;
    }
    progress.close();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Tallvero – Umsatz und Deckungsbeitrag"));
    auto* central = new QWidget;
    auto* layout = new QVBoxLayout(central);
    auto* info = new QLabel;
    auto* table = new QTableWidget(0, 3);
    table->setHorizontalHeaderLabels({QStringLiteral("Periode"), QStringLiteral("Umsatz"),
                                      QStringLiteral("DB")});
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    layout->addWidget(info);
    layout->addWidget(table);
    window.setCentralWidget(central);

    try {
        xecute(factory, QStringLiteral("S FIRMA=%1,FIL=0,PERSONAL=\"DEMO\"").arg(firma));
        const QString built = xecute(factory, QStringLiteral("S P0=^XWGDAT W P0"));
        info->setText(QStringLiteral("Server: %1 · Firma %2 · Letzte Periode %3")
                          .arg(server, firma, built.section(QLatin1Char('`'), 0, 0)));
        const QLocale locale;
        const QDate now = QDate::currentDate();
        for (int back = 12; back >= 0; --back) {
            const QDate d = now.addMonths(-back);
            auto q = factory.query(QStringLiteral("ZKUmsatz.Daten"), QStringLiteral("PeriodenSumme"));
            q->execute({firma, periodCode(d), QString(), QString(), QString(), QString(), QString(),
                        QString(), QString()});
            q->next();
            const int row = table->rowCount();
            table->insertRow(row);
            table->setItem(row, 0, new QTableWidgetItem(periodCode(d)));
            for (int c = 1; c <= 2; ++c) {
                auto* item = new QTableWidgetItem(
                    locale.toString(q->column(c).toDouble(), 'f', 0) + QStringLiteral(" €"));
                item->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
                table->setItem(row, c, item);
            }
            q->SYS_Close();
        }
        window.statusBar()->showMessage(QStringLiteral("Fertig!"));
    } catch (const CacheError& e) {
        QMessageBox::warning(&window, QStringLiteral("Caché Zugriffsfehler"),
                             QStringLiteral("Fehler: %1\n%2").arg(e.number()).arg(e.description()));
    }
    window.resize(720, 520);
    window.show();
    return QApplication::exec();
}
