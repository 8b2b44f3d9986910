#include "FrmAuswahlDetail.h"

#include "ComboList.h"
#include "server/Session.h"
#include "values/ValueStore.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace mw {

FrmAuswahlDetail::FrmAuswahlDetail(AuswahlHost& host, QWidget* owner)
    : QDialog(owner), host_(host) {
    setObjectName(QStringLiteral("frmAuswahlDetail"));
    setWindowTitle(QStringLiteral("Zusätzliche Auswahlparameter"));
    setModal(false);

    SSTyp = new QComboBox;
    SSTyp->setObjectName(QStringLiteral("SSTyp"));
    SVART = new QComboBox;
    SVART->setObjectName(QStringLiteral("SVART"));
    SVART->setMinimumContentsLength(22);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("STyp:"), SSTyp);
    form->addRow(QStringLiteral("Versandart:"), SVART);

    auto* frame = new QGroupBox(QStringLiteral(" Darstellung Umsatz/DB oder Skonto/Nachlass"));
    auto* fl = new QHBoxLayout(frame);
    const char* captions[] = {"Umsatz/DB", "Skonto/Nachlass"};
    for (int i = 0; i < 2; ++i) {
        oDarstellung[i] = new QRadioButton(QString::fromUtf8(captions[i]));
        oDarstellung[i]->setObjectName(QStringLiteral("oDarstellung%1").arg(i));
        fl->addWidget(oDarstellung[i]);
        connect(oDarstellung[i], &QRadioButton::clicked, this,
                [this, i] { oDarstellung_Click(i); });
    }

    OKButton = new QPushButton(QStringLiteral("DatenHolen (F5)"));
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setShortcut(QKeySequence(Qt::Key_F5));
    OKButton->setAutoDefault(false);
    CancelButton = new QPushButton(QStringLiteral("Beenden"));
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    CancelButton->setAutoDefault(false);
    connect(OKButton, &QPushButton::clicked, this, [this] { OKButton_Click(); });
    connect(CancelButton, &QPushButton::clicked, this, [this] { CancelButton_Click(); });
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);

    auto* lay = new QVBoxLayout(this);
    lay->addLayout(form);
    lay->addWidget(frame);
    lay->addLayout(buttons);
}

void FrmAuswahlDetail::Form_Load() {
    ComboList styp(SSTyp), vart(SVART);
    fillArticleTypes(styp);
    if (srv::Session* s = srv::Session::current()) {
        fillShippingTypes(*s, vart, host_.companyNumber(), host_.mainShippingCode());
    } else {
        vart.clear();
        vart.add(QString());
    }

    values::store().DisplayMode = 0;
    oDarstellung[0]->setChecked(true);
    oDarstellung[1]->setChecked(false);
}

void FrmAuswahlDetail::oDarstellung_Click(int index) {
    oDarstellung[index]->setChecked(true);
    oDarstellung[1 - index]->setChecked(false);
    values::store().DisplayMode = index;
}

void FrmAuswahlDetail::OKButton_Click() {
    host_.runPeriodQuery();
}

void FrmAuswahlDetail::CancelButton_Click() {
    close();
}

void FrmAuswahlDetail::Form_Unload() {
    host_.extendedSelectionClosed();
}

void FrmAuswahlDetail::done(int r) {
    // Every way of closing (button, Escape, title bar) ends here.
    const bool wasVisible = isVisible();
    QDialog::done(r);
    if (wasVisible) Form_Unload();
}

} // namespace mw
