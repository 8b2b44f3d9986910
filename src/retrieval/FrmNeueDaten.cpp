#include "FrmNeueDaten.h"

#include "RebuildProgress.h"
#include "platform/clock/Clock.h"
#include "platform/ui/Ui.h"
#include "server/Records.h"
#include "server/Session.h"
#include "server/Text.h"
#include "windows/ProgramLog.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QVBoxLayout>

namespace retrieval {

using platform::MsgButtons;
using platform::MsgIcon;

namespace {

const QString kLogPart = QStringLiteral("frmNeueDaten.OKButton_Click");
const QString kTitle = QStringLiteral("Neu aufzubauende Daten");
const QString kDoneTitle = QStringLiteral("Daten holen");
const QString kUnchanged = QStringLiteral("Die bisherigen Periodensummen bleiben unverändert");

QString quoted(const QString& s) {
    return QStringLiteral("„") + s + QStringLiteral("“");
}

} // namespace

bool isPeriodCode(const QString& text) {
    // [0-9] rather than \d: other scripts' digits are no period for the server.
    static const QRegularExpression re(QStringLiteral("\\A[0-9]{1,3}(?:0[1-9]|1[0-2])\\z"));
    return re.match(text).hasMatch();
}

FrmNeueDaten::FrmNeueDaten(srv::Session& session, platform::Ui& ui, platform::Clock& clock,
                           QWidget* owner)
    : QDialog(owner), session_(session), ui_(ui), clock_(clock) {
    setObjectName(QStringLiteral("frmNeueDaten"));
    setWindowTitle(kTitle);
    setModal(true);

    lblDatenAnzeige = new QLabel(QStringLiteral("Daten"));
    lblDatenAnzeige->setObjectName(QStringLiteral("lblDatenAnzeige"));
    edtVon = new QLineEdit;
    edtVon->setObjectName(QStringLiteral("edtVon"));
    edtBis = new QLineEdit;
    edtBis->setObjectName(QStringLiteral("edtBis"));
    lblVon = new QLabel(QStringLiteral("von Periode"));
    lblVon->setObjectName(QStringLiteral("lblVon"));
    lblVon->setBuddy(edtVon);
    lblBis = new QLabel(QStringLiteral("bis Periode"));
    lblBis->setObjectName(QStringLiteral("lblBis"));
    lblBis->setBuddy(edtBis);
    auto* form = new QFormLayout;
    form->addRow(lblVon, edtVon);
    form->addRow(lblBis, edtBis);

    prgFortschritt = new QProgressBar;
    prgFortschritt->setObjectName(QStringLiteral("prgFortschritt"));
    prgFortschritt->setTextVisible(true);
    prgFortschritt->hide();

    OKButton = new QPushButton(QStringLiteral("OK"));
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Abbrechen"));
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setAutoDefault(false);
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButton_Click(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButton_Click(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);

    auto* lay = new QVBoxLayout(this);
    lay->addWidget(lblDatenAnzeige);
    lay->addLayout(form);
    lay->addWidget(prgFortschritt);
    lay->addLayout(buttons);
}

FrmNeueDaten::~FrmNeueDaten() = default;

int FrmNeueDaten::showModal(srv::Session& session, platform::Ui& ui, platform::Clock& clock,
                            QWidget* owner) {
    FrmNeueDaten dialog(session, ui, clock, owner);
    dialog.Form_Load();
    return dialog.exec();
}

void FrmNeueDaten::Form_Load() {
    bool failed = false;
    const QString info = session_.DBCall(QStringLiteral("S P0=^XWGDAT W P0"), failed);
    const QString period = srv::Piece(info, QChar(u'`'), 1);
    if (!failed && !period.isEmpty()) {
        // A missing or impossible day leaves only the date part empty.
        const QDate built = srv::DateFromServer(srv::Piece(info, QChar(u'`'), 2));
        const QString date =
            built.isValid() ? QLocale().toString(built, QLocale::ShortFormat) : QString();
        lblDatenAnzeige->setText(QStringLiteral("Letzte Periode ") + period +
                                 QStringLiteral(" erstellt am ") + date);
    }

    const QDate today = clock_.now().date();
    const QString current = QString::number(today.year() * 100 + today.month() - 190000);
    edtVon->setText(srv::PeriodAdd(current, QStringLiteral("-2")));
    edtBis->setText(srv::PeriodAdd(current, QStringLiteral("-1")));
}

QString FrmNeueDaten::clockTime() const {
    return clock_.now().time().toString(QStringLiteral("HH:mm:ss"));
}

bool FrmNeueDaten::validateFields() {
    const struct {
        QLineEdit* edit;
        QString name;
    } fields[] = {{edtVon, lblVon->text()}, {edtBis, lblBis->text()}};
    for (const auto& f : fields) {
        const QString text = f.edit->text();
        if (isPeriodCode(text)) continue;
        const QString what =
            text.isEmpty()
                ? QStringLiteral("Das Feld ") + quoted(f.name) + QStringLiteral(" ist leer.")
                : QStringLiteral("Das Feld ") + quoted(f.name) +
                      QStringLiteral(" enthält keine gültige Periode: ") + quoted(text) +
                      QLatin1Char('.');
        ui_.message(kTitle,
                    what + QStringLiteral("\nBitte geben Sie die Periode als Jahr minus 1900 und "
                                          "zweistelligen Monat ein, z. B. 12401 für Januar 2024."),
                    MsgIcon::Exclamation, MsgButtons::Ok);
        f.edit->setFocus();
        f.edit->selectAll();
        return false;
    }
    if (edtVon->text().toInt() > edtBis->text().toInt()) {
        ui_.message(kTitle,
                    QStringLiteral("Die Periode im Feld ") + quoted(lblVon->text()) +
                        QStringLiteral(" (") + edtVon->text() +
                        QStringLiteral(") liegt nach der Periode im Feld ") +
                        quoted(lblBis->text()) + QStringLiteral(" (") + edtBis->text() +
                        QStringLiteral(").\nBitte geben Sie zuerst die frühere Periode ein."),
                    MsgIcon::Exclamation, MsgButtons::Ok);
        edtVon->setFocus();
        edtVon->selectAll();
        return false;
    }
    return true;
}

void FrmNeueDaten::setEditable(bool editable) {
    edtVon->setReadOnly(!editable);
    edtBis->setReadOnly(!editable);
    OKButton->setEnabled(editable);
}

bool FrmNeueDaten::onProgress(int done, int total, int period) {
    prgFortschritt->setRange(0, total > 0 ? total : 0);
    prgFortschritt->setValue(total > 0 ? done : 0);
    prgFortschritt->setFormat(
        QStringLiteral("Periode %1 (%2 von %3)")
            .arg(QString::number(period), QString::number(done), QString::number(total)));
    prgFortschritt->show();
    // Keeps the window painted and lets "Abbrechen" reach CancelButton_Click.
    ui_.processEvents();
    if (cancelRequested_) cancelDelivered_ = true;
    return !cancelRequested_;
}

std::optional<cache::CacheError> FrmNeueDaten::generate(const QString& von, const QString& bis) {
    running_ = true;
    cancelRequested_ = false;
    cancelDelivered_ = false;
    setEditable(false);
    // Back to idle before any message: the user may correct and retry.
    struct Idle {
        FrmNeueDaten* d;
        ~Idle() {
            d->running_ = false;
            d->prgFortschritt->hide();
            d->setEditable(true);
        }
    } idle{this};
    const ScopedRebuildProgress listen(
        [this](int done, int total, int period) { return onProgress(done, total, period); });

    std::unique_ptr<cache::CacheObject> handle;
    try {
        session_.DBBegin(false);
        cache::Factory* factory = session_.factory();
        if (!factory)
            throw cache::CacheError(cache::err::NotConnected,
                                    QStringLiteral("Keine Verbindung zum Server"));
        handle = factory->classHandle(QStringLiteral("ZKUmsatz.Daten"));
        handle->call(QStringLiteral("Generieren"), {srv::userContext().Firma, von, bis});
        session_.CacheClose(handle);
        session_.DBEnd(false);
    } catch (const cache::CacheError& e) {
        session_.CacheClose(handle);
        session_.DBEnd(false);
        return e;
    }
    return std::nullopt;
}

void FrmNeueDaten::OKButton_Click() {
    if (running_) return; // the event pump of the progress can deliver a second click
    if (!validateFields()) {
        outcome_ = Outcome::Rejected;
        return;
    }
    const QString von = edtVon->text();
    const QString bis = edtBis->text();
    windows::WriteLog(kLogPart, QStringLiteral("Daten Holen für"),
                      von + QLatin1Char(' ') + bis + QStringLiteral(" um ") + clockTime());
    ui_.setBusyCursor(true);
    const std::optional<cache::CacheError> error = generate(von, bis);
    ui_.setBusyCursor(false);

    if (error) {
        const QString range =
            QStringLiteral("Daten Holen für Periode ") + von + QStringLiteral(" bis ") + bis;
        if (cancelDelivered_) {
            // The server stopped because we asked it to: no error to report.
            outcome_ = Outcome::Cancelled;
            windows::WriteLog(kLogPart, QStringLiteral("Daten Holen abgebrochen um"), clockTime());
            ui_.message(kDoneTitle,
                        range + QStringLiteral(" abgebrochen!\n") + kUnchanged + QLatin1Char('.'),
                        MsgIcon::Information, MsgButtons::Ok);
        } else {
            outcome_ = Outcome::Failed;
            windows::WriteLog(kLogPart, QStringLiteral("Daten Holen fehlgeschlagen um"),
                              clockTime());
            // The access error report adds the closing full stop.
            session_.ShowAccessError(range + QLatin1Char('\n') + kUnchanged, *error);
        }
        return;
    }
    windows::WriteLog(kLogPart, QStringLiteral("Daten Holen erledigt um"), clockTime());

    outcome_ = Outcome::Done;
    hide();
    ui_.message(kDoneTitle,
                QStringLiteral("Daten Holen für Periode ") + edtVon->text() +
                    QStringLiteral(" bis ") + edtBis->text() + QStringLiteral(" erledigt!"),
                MsgIcon::None, MsgButtons::Ok);
    accept();
}

void FrmNeueDaten::CancelButton_Click() {
    if (running_) {
        cancelRequested_ = true;
        return;
    }
    QDialog::reject();
}

void FrmNeueDaten::reject() {
    CancelButton_Click();
}

} // namespace retrieval
