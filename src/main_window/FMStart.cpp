#include "FMStart.h"

#include "ComboList.h"
#include "ProportionalPanel.h"
#include "ReportBook.h"
#include "Rules.h"
#include "Selection.h"
#include "Splash.h"
#include "Startup.h"
#include "platform/clock/Clock.h"
#include "platform/print/Export.h"
#include "platform/print/PreviewWidget.h"
#include "platform/ui/Ui.h"
#include "report/Page.h"
#include "report/Zoom.h"
#include "server/Records.h"
#include "server/Session.h"
#include "server/Text.h"
#include "values/ValueStore.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScreen>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <cmath>

namespace mw {

using platform::MsgAnswer;
using platform::MsgButtons;
using platform::MsgIcon;

namespace {

// Design geometry of the selection panel at the reference width, in pixels
// of a 96-dpi screen (times 15 gives twips).
struct Place {
    int x, y, w;
};
constexpr int kRow1 = 6, kRow2 = 36, kRowHeight = 26, kPanelHeight = 68;

QRect twipsRect(const Place& p) {
    return QRect(p.x * 15, p.y * 15, p.w * 15, kRowHeight * 15);
}

} // namespace

FMStart::FMStart(FMStartServices services) : s_(std::move(services)) {
    setObjectName(QStringLiteral("FMStart"));
    setWindowTitle(srv::kApplicationTitle);
    const int dpi = s_.logicalDpi ? s_.logicalDpi() : logicalDpiX();
    twipsPerPixel_ = dpi > 0 ? 1440.0 / dpi : 15;

    central_ = new QWidget;
    setCentralWidget(central_);
    buildSelectionPanel();
    ctSize3->setTwipsPerPixel(twipsPerPixel_);
    auto list = [this](QComboBox* box, void (FMStart::*handler)()) {
        return std::make_unique<ComboList>(box, [this, handler] { (this->*handler)(); });
    };
    lists_[0] = list(SPCNR, &FMStart::SPCNR_Click);
    lists_[1] = list(SHABT, &FMStart::SHABT_Click);
    lists_[2] = list(SABTNR, &FMStart::SABTNR_Click);
    lists_[3] = list(SHGRP, &FMStart::SHGRP_Click);
    lists_[4] = list(SUGRP, &FMStart::SUGRP_Click);
    lists_[5] = list(SPG, &FMStart::SPG_Click);
    lists_[6] = list(SHVArt, &FMStart::SHVArt_Click);
    selection_ = std::make_unique<SelectionController>(
        s_.session, s_.ui, values::store(),
        SelectionLists{*lists_[0], *lists_[1], *lists_[2], *lists_[3], *lists_[4], *lists_[5],
                       *lists_[6]});

    ctSplit = new QSplitter(Qt::Horizontal, central_);
    ctSplit->setObjectName(QStringLiteral("ctSplit"));
    ctSplit->setChildrenCollapsible(true);

    VSPrinter1 = new print::PreviewWidget;
    VSPrinter1->setObjectName(QStringLiteral("VSPrinter1"));
    connect(VSPrinter1, &print::PreviewWidget::redrawRequested, this, [this] {
        Zeichnen();
        Synchronize();
    });
    connect(VSPrinter1, &print::PreviewWidget::zoomChanged, this, [this] { Synchronize(); });
    ctSplit->addWidget(VSPrinter1);

    ctSize2 = new QWidget;
    ctSize2->setObjectName(QStringLiteral("ctSize2"));
    // The pane has the width the layout gives it, not its contents' wish.
    ctSize2->setMinimumWidth(1);
    buildDetailsPane();
    ctSplit->addWidget(ctSize2);
    ctSplit->setStretchFactor(0, 1);
    ctSplit->setStretchFactor(1, 0);
    connect(ctSplit, &QSplitter::splitterMoved, this, [this] { ctSplit_Resize(); });
    ctSize2->installEventFilter(this);

    cmdEinblenden = new QPushButton(QStringLiteral("Ei&nblenden (F2)"), central_);
    cmdEinblenden->setObjectName(QStringLiteral("cmdEinblenden"));
    cmdEinblenden->hide();
    connect(cmdEinblenden, &QPushButton::clicked, this, [this] { mDaten_Click(0); });

    buildMenus();
    buildBookAndDrill();
    fetchStatus_ = new QLabel;
    fetchStatus_->setObjectName(QStringLiteral("fetchStatus"));
    statusBar()->addWidget(fetchStatus_, 1);
    frDetails->hide();
    ctSize2->hide();
    resize(1100, 760);
}

FMStart::~FMStart() = default;

// --- construction ------------------------------------------------------------

void FMStart::buildSelectionPanel() {
    ctSize3 = new ProportionalPanel(central_);
    ctSize3->setObjectName(QStringLiteral("ctSize3"));
    ctSize3->setAutoFillBackground(true);
    connect(ctSize3, &ProportionalPanel::labelMoved, this,
            [this](int id, int left) { ctSize3_Resize(id, left); });

    auto combo = [this](const char* name, int chars) {
        auto* c = new QComboBox(ctSize3);
        c->setObjectName(QString::fromUtf8(name));
        c->setMinimumContentsLength(chars);
        c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        c->setMaxVisibleItems(24);
        return c;
    };
    SPCNR = combo("SPCNR", 12);
    SHABT = combo("SHABT", 14);
    SABTNR = combo("SABTNR", 14);
    SHGRP = combo("SHGRP", 14);
    SUGRP = combo("SUGRP", 14);
    SPG = combo("SPG", 8);
    SHVArt = combo("SHVArt", 8);
    cmbZoom = combo("cmbZoom", 8);
    cmbZoom->setEditable(true);
    cmbZoom->setInsertPolicy(QComboBox::NoInsert);
    cmbZoom->setToolTip(QStringLiteral("Zommstufen"));
    cmbZoom->addItems({QStringLiteral("Ganze Seite"), QStringLiteral("Seitenbreite"),
                       QStringLiteral("Zwei Seiten"), QStringLiteral("Alle Seiten"),
                       QStringLiteral("100%"), QStringLiteral("150%"), QStringLiteral("200%"),
                       QStringLiteral("400%")});
    SFirma = new QLineEdit(ctSize3);
    SFirma->setObjectName(QStringLiteral("SFirma"));
    SFirma->setMaxLength(6);
    cmdÜbernehmen = new QPushButton(QStringLiteral("Daten &holen (F5)"), ctSize3);
    cmdÜbernehmen->setObjectName(QStringLiteral("cmdÜbernehmen"));
    cmdÜbernehmen->setDefault(true);
    cmdAusblenden = new QPushButton(QStringLiteral("&Ausblenden (F3)"), ctSize3);
    cmdAusblenden->setObjectName(QStringLiteral("cmdAusblenden"));

    auto label = [this](const char* name, const char* text, QWidget* buddy) {
        auto* l = new QLabel(QString::fromUtf8(text), ctSize3);
        l->setObjectName(QString::fromUtf8(name));
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        l->setBuddy(buddy);
        return l;
    };
    lblPC = label("lblPC", "PC:", SPCNR);
    lblFirma = label("lblFirma", "FA:", SFirma);
    lblZoom = label("lblZoom", "Zoom", cmbZoom);
    lblHabt = label("lblHabt", "HABT:", SHABT);
    lblAbt = label("lblAbt", "ABT:", SABTNR);
    lblHG = label("lblHG", "HG:", SHGRP);
    lblUG = label("lblUG", "UG:", SUGRP);
    lblHVArt = label("lblHVArt", "HVArt:", SHVArt);
    lblHKG = label("lblHKG", "HKG:", SPG);

    connect(SHABT, &QComboBox::activated, this, guard("SHABT_Click", [this] { SHABT_Click(); }));
    connect(SABTNR, &QComboBox::activated, this, guard("SABTNR_Click", [this] { SABTNR_Click(); }));
    connect(SPCNR, &QComboBox::activated, this, guard("SPCNR_Click", [this] { SPCNR_Click(); }));
    connect(SHGRP, &QComboBox::activated, this, guard("SHGRP_Click", [this] { SHGRP_Click(); }));
    connect(SUGRP, &QComboBox::activated, this, guard("SUGRP_Click", [this] { SUGRP_Click(); }));
    connect(SPG, &QComboBox::activated, this, guard("SPG_Click", [this] { SPG_Click(); }));
    connect(SHVArt, &QComboBox::activated, this, guard("SHVArt_Click", [this] { SHVArt_Click(); }));
    connect(SFirma, &QLineEdit::textChanged, this,
            guard("SFirma_Change", [this] { SFirma_Change(); }));
    connect(cmdÜbernehmen, &QPushButton::clicked, this,
            guard("cmdÜbernehmen_Click", [this] { cmdÜbernehmen_Click(); }));
    connect(cmdAusblenden, &QPushButton::clicked, this, [this] { mDaten_Click(1); });
    connect(cmbZoom, &QComboBox::activated, this, [this] { cmbZoom_Click(); });
    connect(cmbZoom->lineEdit(), &QLineEdit::returnPressed, this, [this] { cmbZoom_Click(); });
    ctSize3->setFixedHeight(kPanelHeight);
}

void FMStart::buildDetailsPane() {
    auto* outer = new QVBoxLayout(ctSize2);
    outer->setContentsMargins(0, 0, 0, 0);
    frDetails = new QGroupBox(QStringLiteral(" Details "));
    frDetails->setObjectName(QStringLiteral("frDetails"));
    outer->addWidget(frDetails);
    auto* lay = new QVBoxLayout(frDetails);
    lay->setSpacing(4);

    chkUGRP = new QCheckBox(QStringLiteral("Aufteilung Untergruppen"));
    chkUGRP->setObjectName(QStringLiteral("chkUGRP"));
    chkHKGRP = new QCheckBox(QStringLiteral("Aufteilung Hauptkundengruppen"));
    chkHKGRP->setObjectName(QStringLiteral("chkHKGRP"));
    chkHVArt = new QCheckBox(QStringLiteral("Aufteilung Hauptversandart"));
    chkHVArt->setObjectName(QStringLiteral("chkHVArt"));
    // Ticked as designed; the mask starts at 1 + 2.
    chkUGRP->setChecked(true);
    chkHKGRP->setChecked(true);
    for (QCheckBox* c : {chkUGRP, chkHKGRP, chkHVArt})
        lay->addWidget(c);
    connect(chkUGRP, &QCheckBox::toggled, this, [this] { chkUGRP_Click(); });
    connect(chkHKGRP, &QCheckBox::toggled, this, [this] { chkHKGRP_Click(); });
    connect(chkHVArt, &QCheckBox::toggled, this, [this] { chkHVArt_Click(); });

    auto* years = new QHBoxLayout;
    auto* yearGroup = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        optJahr[i] = new QRadioButton;
        optJahr[i]->setObjectName(QStringLiteral("optJahr%1").arg(i));
        yearGroup->addButton(optJahr[i], i);
        years->addWidget(optJahr[i]);
        connect(optJahr[i], &QRadioButton::clicked, this, [this, i] { optJahr_Click(i); });
    }
    years->addStretch();
    optJahr[0]->setChecked(true);
    lay->addLayout(years);

    auto* kind = new QGridLayout;
    auto* kindGroup = new QButtonGroup(this);
    const char* kinds[] = {"Jahreswerte", "Monatswerte"};
    for (int i = 0; i < 2; ++i) {
        optJahrMonat[i] = new QRadioButton(QString::fromUtf8(kinds[i]));
        optJahrMonat[i]->setObjectName(QStringLiteral("optJahrMonat%1").arg(i));
        kindGroup->addButton(optJahrMonat[i], i);
        kind->addWidget(optJahrMonat[i], i, 0);
        connect(optJahrMonat[i], &QRadioButton::clicked, this,
                [this, i] { optJahrMonat_Click(i); });
    }
    optJahrMonat[0]->setChecked(true);
    txtMonat = new QSpinBox;
    txtMonat->setObjectName(QStringLiteral("txtMonat"));
    txtMonat->setRange(1, 12);
    txtMonat->setToolTip(QStringLiteral("Monat (1 bis 12)"));
    txtMonat->setEnabled(false);
    kind->addWidget(txtMonat, 1, 1);
    kind->setColumnStretch(2, 1);
    lay->addLayout(kind);

    auto* buttons = new QHBoxLayout;
    cmdÜbernehmenDetails = new QPushButton(QStringLiteral("D&aten holen (F5)"));
    cmdÜbernehmenDetails->setObjectName(QStringLiteral("cmdÜbernehmenDetails"));
    cmdAusbeldenDetails = new QPushButton(QStringLiteral("Aus&blenden"));
    cmdAusbeldenDetails->setObjectName(QStringLiteral("cmdAusbeldenDetails"));
    buttons->addWidget(cmdÜbernehmenDetails);
    buttons->addWidget(cmdAusbeldenDetails);
    lay->addLayout(buttons);
    connect(cmdÜbernehmenDetails, &QPushButton::clicked, this,
            guard("cmdÜbernehmenDetails_Click", [this] { cmdÜbernehmenDetails_Click(); }));
    connect(cmdAusbeldenDetails, &QPushButton::clicked, this, [this] { mDetails_Click(1); });

    ctList = new QTreeWidget;
    ctList->setObjectName(QStringLiteral("ctList"));
    ctList->setRootIsDecorated(false);
    ctList->setUniformRowHeights(true);
    ctList->setAlternatingRowColors(true);
    ctList->setHeaderLabels(
        {QStringLiteral("Grp"), QStringLiteral("Umsatz"), QStringLiteral("DB")});
    ctList->header()->setSectionsClickable(true);
    ctList->header()->setStretchLastSection(false);
    ctList->header()->setMinimumSectionSize(20);
    ctList->setColumnWidth(0, 36);
    connect(ctList->header(), &QHeaderView::sectionClicked, this,
            [this](int logical) { ctList_HeaderClick(logical + 1); });
    lay->addWidget(ctList, 1);
}

void FMStart::buildMenus() {
    auto act = [](QMenu* m, const char* name, const char* text, QKeySequence key = {},
                  bool checkable = false) {
        QAction* a = m->addAction(QString::fromUtf8(text));
        a->setObjectName(QString::fromUtf8(name));
        if (!key.isEmpty()) a->setShortcut(key);
        a->setCheckable(checkable);
        return a;
    };
    // Ticks follow the handlers, not Qt's own toggling: undo that first.
    auto onClick = [this](QAction* a, std::function<void()> handler) {
        connect(a, &QAction::triggered, this,
                guard(a->objectName() + QStringLiteral("_Click"), [a, handler] {
                    if (a->isCheckable()) a->setChecked(!a->isChecked());
                    handler();
                }));
    };

    QMenu* datei = menuBar()->addMenu(QStringLiteral("&Datei"));
    datei->setObjectName(QStringLiteral("MDatei"));
    mLogin = act(datei, "mLogin", "&Anmelden ...");
    onClick(mLogin, [this] { mLogin_Click(); });
    datei->addSeparator();
    mDrucken = act(datei, "mDrucken", "&Drucken", QKeySequence(Qt::CTRL | Qt::Key_P));
    onClick(mDrucken, [this] { mDrucken_Click(); });
    mStandardDrucker = act(datei, "mStandardDrucker", "Druckereinstellungen");
    datei->addSeparator();
    mExportPdf = act(datei, "mExportPdf", "Seite als &PDF exportieren ...");
    onClick(mExportPdf, [this] { mExportPdf_Click(); });
    mExportCsv = act(datei, "mExportCsv", "Werte&tabelle als CSV exportieren ...");
    onClick(mExportCsv, [this] { mExportCsv_Click(); });
    datei->addSeparator();
    Beenden = act(datei, "Beenden", "&Beenden");
    connect(Beenden, &QAction::triggered, this, &QWidget::close);

    QMenu* eig = menuBar()->addMenu(QStringLiteral("&Eigenschaften"));
    eig->setObjectName(QStringLiteral("MEigenschaften"));
    mDaten[0] = act(eig, "mDaten0", "Dateneingabe Anzeigen", QKeySequence(Qt::Key_F2), true);
    mDaten[1] = act(eig, "mDaten1", "Dateneingabe Ausblenden", QKeySequence(Qt::Key_F3), true);
    mDaten[0]->setChecked(true);
    for (int i = 0; i < 2; ++i)
        onClick(mDaten[i], [this, i] { mDaten_Click(i); });

    QMenu* hGraph = eig->addMenu(QStringLiteral("Darstellung Graph"));
    hGraph->setObjectName(QStringLiteral("HGraph"));
    const char* graph[] = {"bezogen auf Jahresmittel", "bezogen auf letztes Quartal", "Absolut",
                           "DB in % von Umsatz"};
    for (int i = 0; i < 4; ++i) {
        mGraph[i] = act(hGraph, qPrintable(QStringLiteral("mGraph%1").arg(i)), graph[i],
                        QKeySequence(Qt::Key_F6 + i), true);
        onClick(mGraph[i], [this, i] { mGraph_Click(i); });
    }
    mGraph[0]->setChecked(true);

    QMenu* hTabelle = eig->addMenu(QStringLiteral("Darstellung Tabelle"));
    hTabelle->setObjectName(QStringLiteral("HTabelle"));
    const char* table[] = {"Werte Kumuliert", "Absolut", "% Bezogen auf", "% Bezogen auf",
                           "Werte Graph"};
    const QKeySequence tableKeys[] = {
        QKeySequence(Qt::CTRL | Qt::Key_F6), QKeySequence(Qt::CTRL | Qt::Key_F7),
        QKeySequence(Qt::CTRL | Qt::Key_F8), QKeySequence(), QKeySequence(Qt::CTRL | Qt::Key_F9)};
    for (int i = 0; i < 5; ++i) {
        mTabelle[i] = act(hTabelle, qPrintable(QStringLiteral("mTabelle%1").arg(i)), table[i],
                          tableKeys[i], true);
        onClick(mTabelle[i], [this, i] { mTabelle_Click(i); });
    }
    mTabelle[2]->setChecked(true);

    QMenu* hJahr = eig->addMenu(QStringLiteral("Darstellung Jahr"));
    hJahr->setObjectName(QStringLiteral("HJahr"));
    mJahr[0] = act(hJahr, "mJahr0", "Kalenderjahr", QKeySequence(Qt::CTRL | Qt::Key_K), true);
    mJahr[1] = act(hJahr, "mJahr1", "Wirtschaftsjahr", QKeySequence(Qt::CTRL | Qt::Key_W), true);
    mJahr[0]->setChecked(true);
    for (int i = 0; i < 2; ++i)
        onClick(mJahr[i], [this, i] { mJahr_Click(i); });

    eig->addSeparator();
    mAuswahl = act(eig, "mAuswahl", "Erweiterte Auswahl", {}, true);
    onClick(mAuswahl, [this] { mAuswahl_Click(); });
    eig->addSeparator();
    mNeuZeichnen = act(eig, "mNeuZeichnen", "Daten holen", QKeySequence(Qt::Key_F5));
    onClick(mNeuZeichnen, [this] { mNeuZeichnen_Click(); });

    QMenu* details = menuBar()->addMenu(QStringLiteral("Detai&ls"));
    details->setObjectName(QStringLiteral("HDetails"));
    mDetails[0] =
        act(details, "mDetails0", "Details Anz&eigen", QKeySequence(Qt::CTRL | Qt::Key_D), true);
    mDetails[1] = act(details, "mDetails1", "Details &Ausbelden", {}, true);
    mDetails[1]->setChecked(true);
    for (int i = 0; i < 2; ++i)
        onClick(mDetails[i], [this, i] { mDetails_Click(i); });

    QMenu* tools = menuBar()->addMenu(QStringLiteral("E&xtras"));
    tools->setObjectName(QStringLiteral("HTools"));
    mGenerieren = act(tools, "mGenerieren", "Daten &Generieren");
    onClick(mGenerieren, [this] { mGenerieren_Click(); });

    QMenu* hilfe = menuBar()->addMenu(QStringLiteral("&Hilfe"));
    hilfe->setObjectName(QStringLiteral("HHilfe"));
    HilfeUeber = act(hilfe, "HilfeUeber", "Hilfe &über ...", QKeySequence(Qt::Key_F1));
    onClick(HilfeUeber, [this] { HilfeUeber_Click(); });
    mProgrammverlauf =
        act(hilfe, "mProgrammverlauf", "Programmverlauf", QKeySequence(Qt::CTRL | Qt::Key_F1));
    onClick(mProgrammverlauf, [this] { mProgrammverlauf_Click(); });
}

// --- start-up --------------------------------------------------------------

void FMStart::status(const QString& text) {
    if (splash_) splash_->setStatus(text);
    if (s_.statusObserver) s_.statusObserver(text);
}

void FMStart::loginLoop() {
    for (;;) {
        srv::connectionSettings().CommandLine =
            s_.processCommandLine ? s_.processCommandLine() : QString();
        if (s_.session.CacheLogin()) return;
        // Credentials from the command line would fail the same way again,
        // and no dialog could change them: end instead of looping.
        if (s_.session.credentialsFromCommandLine()) s_.session.EndProgram();
    }
}

void FMStart::Form_Load() {
    loginLoop();

    s_.ui.processEvents();
    if (!splash_) splash_ = new Splash(this);
    splash_->show();
    splash_->raise();
    s_.ui.processEvents();

    status(QStringLiteral("Überprüfung Berechtigung"));
    // Rights that cannot be read are no rights.
    if (!applyPermission(askPermission(s_.session, QStringLiteral("Überprüfung Berechtigung"), -1)))
        return;

    const StartupTexts texts = startupTexts(srv::userContext(), s_.clock.now().date().year());
    setWindowTitle(texts.title);
    startupLayout();
    mTabelle[2]->setText(mTabelle[2]->text() + texts.tableMeanYears);
    mTabelle[3]->setText(mTabelle[3]->text() + texts.tablePreviousYear);

    status(QStringLiteral("Firma Setzten"));
    // A change of the field like any other: printing fetches first.
    SFirma->setText(srv::userContext().Firma);
    selection_->fillLists([this](const QString& t) { status(t); });

    status(QStringLiteral("Defaultparameter .."));
    // Unknown rights: the narrower ones.
    applyPermission(
        askPermission(s_.session, QStringLiteral("Defaultparameter"), kRestrictedLevel));

    values::PeriodValueStore& st = values::store();
    st.TableMode = 2;
    st.GraphMode = 0;
    SelectionController& sel = *selection_;
    sel.PeriodKind = 0;
    sel.SplitMask = kSplitUGRP + kSplitHKGRP;
    sel.YearChoice = 0;
    for (int i = 0; i < 3; ++i)
        optJahr[i]->setText(texts.yearButtons[i]);

    status(QStringLiteral("Überprüfung Datenbasis"));
    dataBasisCheck();

    status(QStringLiteral("Fertig!"));
    splash_->hide();
    splash_->deleteLater();
    splash_ = nullptr;
    loaded_ = true;
    Zeichnen();
}

bool FMStart::applyPermission(int level) {
    if (level == -1) {
        s_.ui.message(QStringLiteral("Abbruch!"),
                      QStringLiteral("Sie haben keine Berchtigung für dieses Programm."),
                      MsgIcon::Stop, MsgButtons::Ok);
        status(QStringLiteral("Beenden"));
        Form_Unload();
        return false;
    }
    selection_->setPermission(level);
    const Allowed a = allowedFor(level);
    SPCNR->setEnabled(a.profitCentres);
    mGraph[1]->setEnabled(a.quarterGraph);
    mTabelle[3]->setEnabled(a.previousYearTable);
    mAuswahl->setEnabled(a.extendedSelection);
    // What the level may not use does not stay in use either.
    if (!a.quarterGraph && mGraph[1]->isChecked()) mGraph_Click(0);
    if (!a.previousYearTable && mTabelle[3]->isChecked()) mTabelle_Click(2);
    if (!a.extendedSelection && mAuswahl->isChecked()) mAuswahl_Click();
    return true;
}

void FMStart::loggedInAgain(const QString& caption) {
    setWindowTitle(caption);
    // Nobody is logged in after a failed attempt: the narrower rights until
    // the next one succeeds.
    const bool in = !srv::userContext().Benutzer.isEmpty();
    if (!applyPermission(
            in ? askPermission(s_.session, QStringLiteral("Überprüfung Berechtigung"), -1)
               : kRestrictedLevel))
        return;
    // Fresh lists and an empty page: nothing of the last user's choice or
    // figures stays for the new one.
    SFirma->setText(srv::userContext().Firma);
    selection_->fillLists();
    values::store().PeriodValues.clear();
    values::store().MonthYearValues.clear();
    ctList->clear();
    forgetDrillDown();
    Zeichnen();
}

void FMStart::dataBasisCheck() {
    bool failed = false;
    const QString text = s_.session.DBCall(QStringLiteral("S P0=^XWGDAT W P0"), failed);
    const QString question = failed ? QString() : dataBasisQuestion(text, s_.clock.now().date());
    if (question.isEmpty()) return;
    if (s_.ui.message(srv::kApplicationTitle, question, MsgIcon::None, MsgButtons::YesNo) ==
            MsgAnswer::Yes &&
        s_.openRebuildDialog)
        s_.openRebuildDialog(this);
}

void FMStart::startupLayout() {
    // The page is A4 landscape on the surface itself; the printer follows it.
    printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    printer_->setPageSize(QPageSize(QPageSize::A4));
    printer_->setPageOrientation(QPageLayout::Landscape);
    printer_->setDocName(QStringLiteral("Tallvero"));

    const int screen = s_.screenWidth ? s_.screenWidth()
                                      : (QGuiApplication::primaryScreen()
                                             ? QGuiApplication::primaryScreen()->size().width()
                                             : layout::kReferenceScreenWidth);
    const double factor = layout::scaleFactor(screen);
    auto scaledRect = [&](const Place& p) {
        const QRect r = twipsRect(p);
        return QRect(layout::scaled(r.x(), factor), r.y(), layout::scaled(r.width(), factor),
                     r.height());
    };
    struct LabelPlace {
        int id;
        QLabel* l;
        Place p;
    };
    const LabelPlace labels[] = {
        {100, lblPC, {6, kRow2, 40}},    {110, lblFirma, {6, kRow1, 40}},
        {120, lblZoom, {94, kRow1, 40}}, {200, lblHabt, {262, kRow1, 44}},
        {210, lblAbt, {262, kRow2, 44}}, {300, lblHG, {538, kRow1, 32}},
        {310, lblUG, {538, kRow2, 32}},  {400, lblHVArt, {800, kRow1, 50}},
        {410, lblHKG, {800, kRow2, 50}},
    };
    for (const LabelPlace& l : labels)
        ctSize3->registerLabel(l.id, l.l, scaledRect(l.p));
    struct ControlPlace {
        QWidget* w;
        Place p;
    };
    const ControlPlace controls[] = {
        {SPCNR, {50, kRow2, 204}},          {SFirma, {50, kRow1, 40}},
        {SHABT, {310, kRow1, 220}},         {SABTNR, {310, kRow2, 220}},
        {SHGRP, {574, kRow1, 220}},         {SUGRP, {574, kRow2, 220}},
        {SPG, {854, kRow2, 132}},           {SHVArt, {854, kRow1, 132}},
        {cmdÜbernehmen, {998, kRow1, 146}}, {cmdAusblenden, {998, kRow2, 146}},
        {cmbZoom, {138, kRow1, 116}},
    };
    for (const ControlPlace& c : controls)
        ctSize3->registerControl(c.w, scaledRect(c.p));
    // The scaled geometry holds at the screen's width; the panel keeps it
    // in proportion at any other width.
    ctSize3->setReferenceWidth(
        int(std::lround(layout::kReferenceScreenWidth * 15 * factor / twipsPerPixel_)));
    Form_Resize();
}

void FMStart::Form_Unload() {
    s_.session.CacheDisconnect();
    s_.session.EndProgram();
}

void FMStart::mLogin_Click() {
    s_.session.mLogin_Click();
}

// --- lists -----------------------------------------------------------------

std::function<void()> FMStart::guard(const QString& name, std::function<void()> handler) {
    return [this, name, handler] {
        // Qt cannot carry an exception out of an event: whatever server
        // failure got this far is reported here and the window stays usable.
        try {
            handler();
        } catch (const cache::CacheError& e) {
            s_.session.ShowAccessError(QStringLiteral("fmstart.") + name, e);
        } catch (const std::exception& e) {
            s_.session.ShowAccessError(QStringLiteral("fmstart.") + name, 0,
                                       QString::fromUtf8(e.what()));
        }
    };
}

int FMStart::permissionLevel() const {
    return selection_->permissionLevel();
}

bool FMStart::restricted() const {
    return selection_->restricted();
}

bool FMStart::departmentChosen() const {
    return selection_->departmentChosen();
}

void FMStart::setListIndex(QComboBox* list, int index) {
    for (const auto& l : lists_)
        if (l->box() == list) return l->setCurrentIndex(index);
    list->setCurrentIndex(index);
}

void FMStart::SHABT_Click() {
    selection_->SHABT_Click();
}

void FMStart::SABTNR_Click() {
    selection_->SABTNR_Click();
}

void FMStart::SPCNR_Click() {
    selection_->SPCNR_Click();
}

void FMStart::SHGRP_Click() {
    selection_->SHGRP_Click();
}

void FMStart::SUGRP_Click() {
    selection_->SUGRP_Click();
}

void FMStart::SPG_Click() {
    selection_->SPG_Click();
}

void FMStart::SHVArt_Click() {
    selection_->SHVArt_Click();
}

void FMStart::SFirma_Change() {
    selection_->SFirma_Change(SFirma->text());
}

void FMStart::splitClick(QCheckBox* box, int value) {
    // Unticking the other box runs its own handler, which subtracts.
    if (const int other = selection_->splitClicked(value, box->isChecked()))
        (other == kSplitHKGRP ? chkHKGRP : chkHVArt)->setChecked(false);
}

void FMStart::chkUGRP_Click() {
    splitClick(chkUGRP, kSplitUGRP);
}

void FMStart::chkHKGRP_Click() {
    splitClick(chkHKGRP, kSplitHKGRP);
}

void FMStart::chkHVArt_Click() {
    splitClick(chkHVArt, kSplitHVArt);
}

void FMStart::optJahr_Click(int index) {
    selection_->optJahr_Click(index);
}

void FMStart::optJahrMonat_Click(int index) {
    selection_->optJahrMonat_Click(index);
    txtMonat->setEnabled(selection_->monthFieldEnabled());
    optJahr[2]->setEnabled(selection_->thirdYearEnabled());
}

FrmAuswahlDetail* FMStart::auswahlDetail() {
    if (!auswahl_) {
        auswahl_ = new FrmAuswahlDetail(*this, this);
        auswahl_->Form_Load();
    }
    return auswahl_;
}

void FMStart::mAuswahl_Click() {
    if (mAuswahl->isChecked()) {
        mAuswahl->setChecked(false);
        if (auswahl_) auswahl_->close();
    } else {
        const bool existed = auswahl_ != nullptr;
        FrmAuswahlDetail* w = auswahlDetail();
        // Every opening loads the window afresh.
        if (existed) w->Form_Load();
        w->show();
        w->raise();
        mAuswahl->setChecked(true);
    }
}

void FMStart::extendedSelectionClosed() {
    if (mAuswahl->isChecked()) mAuswahl->setChecked(false);
}

void FMStart::mGenerieren_Click() {
    if (s_.openRebuildDialog && !s_.session.working()) s_.openRebuildDialog(this);
}

QString FMStart::companyNumber() const {
    return QString::number(srv::LeadingNumber(SFirma->text()));
}

QString FMStart::mainShippingCode() const {
    return selection_->selection().hvart;
}

// --- layout ----------------------------------------------------------------

int FMStart::toPixels(int twips) const {
    return int(std::lround(twips / twipsPerPixel_));
}

int FMStart::toTwips(int px) const {
    return int(std::lround(px * twipsPerPixel_));
}

void FMStart::mDaten_Click(int index) {
    mDaten[0]->setChecked(false);
    mDaten[1]->setChecked(false);
    if (index == 1) {
        ctSize3->hide();
        cmdEinblenden->show();
    } else {
        ctSize3->show();
        cmdEinblenden->hide();
    }
    mDaten[index]->setChecked(true);
    Form_Resize();
}

void FMStart::mDetails_Click(int index) {
    mDetails[0]->setChecked(false);
    mDetails[1]->setChecked(false);
    frDetails->setVisible(index == 0);
    mDetails[index]->setChecked(true);
    Form_Resize();
}

void FMStart::Form_Resize() {
    if (isMinimized() || !central_) return;
    const int W = toTwips(central_->width());
    const int H = toTwips(central_->height());
    const bool details = !frDetails->isHidden();
    const int top = ctSize3->isHidden() ? 0 : toTwips(ctSize3->height());

    // The right pane is closed while the details are hidden.
    ctSize2->setVisible(details);
    const int pos = layout::splitterPosition(W, details);
    ctSplit->setGeometry(0, toPixels(top), toPixels(W), std::max(0, toPixels(H - top)));
    // The position is the left pane's width; the handle takes from the right.
    ctSplit->setSizes(
        {toPixels(pos), details ? std::max(1, toPixels(W - pos) - ctSplit->handleWidth()) : 0});

    ctSize3->setGeometry(0, 0, toPixels(W), ctSize3->height());

    const int ausLeft = toTwips(cmdAusblenden->x());
    const int ausWidth = toTwips(cmdAusblenden->width());
    // The pane as the splitter left it, not as designed: the handle takes
    // its share.
    const int left = layout::einblendenLeft(ausLeft, ausWidth, W, toTwips(frDetails->width()),
                                            mDaten[1]->isChecked(), mDetails[0]->isChecked());
    cmdEinblenden->setGeometry(toPixels(left), 4, cmdAusblenden->width(), cmdAusblenden->height());
    cmdEinblenden->raise();
    ctSplit_Resize();
}

void FMStart::ctSplit_Resize() {
    const int columns = ctList->columnCount();
    const int w = layout::detailColumnWidth(ctList->width(), columns);
    if (w <= 0) return;
    for (int c = 1; c < columns; ++c)
        ctList->setColumnWidth(c, w);
}

void FMStart::ctSize3_Resize(int id, int leftTwips) {
    if (QWidget* l = ctSize3->label(id))
        l->move(toPixels(leftTwips), toPixels(ctSize3->registeredTwips(l).y()));
}

void FMStart::ctList_HeaderClick(int column) {
    if (column < 2 || column > ctList->columnCount()) return;
    const int c = column - 1;
    const QLocale locale;
    for (int i = 0; i < ctList->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = ctList->topLevelItem(i);
        bool ok = false;
        QString t = item->text(c).trimmed();
        qlonglong v = locale.toLongLong(t, &ok);
        if (!ok) {
            t.remove(locale.groupSeparator());
            v = std::llround(t.toDouble(&ok));
        }
        item->setData(c, Qt::UserRole, ok ? v : 0);
    }
    // First click: largest first; clicking the same column again turns it.
    // Sorted here rather than by the view, so any row type sorts by value.
    sortDescending_ = (sortColumn_ == c) ? !sortDescending_ : true;
    sortColumn_ = c;
    QList<QTreeWidgetItem*> rows;
    while (ctList->topLevelItemCount() > 0)
        rows.append(ctList->takeTopLevelItem(0));
    std::stable_sort(rows.begin(), rows.end(), [&](QTreeWidgetItem* a, QTreeWidgetItem* b) {
        const qlonglong x = a->data(c, Qt::UserRole).toLongLong();
        const qlonglong y = b->data(c, Qt::UserRole).toLongLong();
        return sortDescending_ ? x > y : x < y;
    });
    ctList->addTopLevelItems(rows);
    ctList->header()->setSortIndicatorShown(true);
    ctList->header()->setSortIndicator(c,
                                       sortDescending_ ? Qt::DescendingOrder : Qt::AscendingOrder);
}

void FMStart::resizeEvent(QResizeEvent* e) {
    QMainWindow::resizeEvent(e);
    Form_Resize();
}

bool FMStart::eventFilter(QObject* o, QEvent* e) {
    if (o == ctSize2 && e->type() == QEvent::Resize) ctSplit_Resize();
    return QMainWindow::eventFilter(o, e);
}

void FMStart::closeEvent(QCloseEvent* e) {
    e->accept();
    Form_Unload();
}

// --- view and report -------------------------------------------------------

namespace {
// A group of radio entries: untick the one the flag names, tick the new one.
void moveTick(QAction* const* group, int& flag, int index) {
    group[flag]->setChecked(false);
    group[index]->setChecked(true);
    flag = index;
}
} // namespace

void FMStart::mGraph_Click(int index) {
    if (index == 3)
        mGraph[3]->setChecked(!mGraph[3]->isChecked());
    else
        moveTick(mGraph, values::store().GraphMode, index);
    Zeichnen();
}

void FMStart::mTabelle_Click(int index) {
    moveTick(mTabelle, values::store().TableMode, index);
    Zeichnen();
}

void FMStart::mJahr_Click(int index) {
    moveTick(mJahr, values::store().YearMode, index);
    Zeichnen();
}

void FMStart::mNeuZeichnen_Click() {
    cmdÜbernehmen_Click();
    if (!frDetails->isHidden()) cmdÜbernehmenDetails_Click();
}

void FMStart::HilfeUeber_Click() {
    if (s_.showAbout) s_.showAbout();
}

void FMStart::mProgrammverlauf_Click() {
    if (s_.showLog) s_.showLog(this);
}

void FMStart::cmdÜbernehmen_Click() {
    // Events run between the months; no other server work starts inside.
    if (s_.session.working()) return;
    cmdÜbernehmen->setEnabled(false);
    mNeuZeichnen->setEnabled(false);
    cmdÜbernehmenDetails->setEnabled(false);
    lastFetch_ = retrieval::runPeriodQuery(s_.session, s_.ui, s_.clock, values::store(), *this);
    cmdÜbernehmenDetails->setEnabled(true);
    cmdÜbernehmen->setEnabled(true);
    mNeuZeichnen->setEnabled(true);
    switch (lastFetch_.result) {
    case retrieval::FetchResult::Done:
        fetchStatus_->setText(QStringLiteral("%1 Monate geholt").arg(lastFetch_.months));
        break;
    case retrieval::FetchResult::Failed:
        fetchStatus_->setText(QStringLiteral("Abbruch bei Periode %1: %2 Monate geholt")
                                  .arg(lastFetch_.failedPeriod)
                                  .arg(lastFetch_.months));
        break;
    case retrieval::FetchResult::Refused:
        fetchStatus_->clear();
        break;
    }
}

retrieval::Selection FMStart::readSelection() {
    retrieval::Selection sel = selection_->selection();
    sel.extended = mAuswahl->isChecked();
    if (sel.extended) {
        FrmAuswahlDetail* x = auswahlDetail();
        sel.styp = codeOf(x->SSTyp->currentText());
        sel.vart = codeOf(x->SVART->currentText());
    }
    return sel;
}

void FMStart::monthFetched(int done, int total, const QString& period) {
    fetchStatus_->setText(
        QStringLiteral("Datenabfrage Periode %1 (%2 von %3)").arg(period).arg(done).arg(total));
    fetchStatus_->repaint();
}

void FMStart::cmdÜbernehmenDetails_Click() {
    if (s_.session.working()) return;
    lastDetails_ = retrieval::runDetailQuery(s_.session, s_.ui, *this);
    // Rows were replaced: a drill-down chooses in the list they came from.
    if (lastDetails_.result == retrieval::DetailOutcome::Result::Done ||
        lastDetails_.result == retrieval::DetailOutcome::Result::Failed)
        detailsLevel_ = lastDetails_.level;
}

retrieval::DetailInputs FMStart::readInputs() {
    retrieval::DetailInputs in;
    in.sel = readSelection();
    in.sel.extended = false;
    in.splitMask = selection_->SplitMask;
    in.yearChoice = selection_->YearChoice;
    in.periodKind = selection_->PeriodKind;
    in.month = txtMonat->value();
    in.yearMode = values::store().YearMode;
    in.clockYear = s_.clock.now().date().year();
    return in;
}

QStringList FMStart::groupCodes(retrieval::GroupLevel level) {
    return selection_->groupCodes(level);
}

void FMStart::prepareList(const QStringList& columns) {
    ctList->clear();
    ctList->setColumnCount(int(columns.size()));
    ctList->setHeaderLabels(columns);
    ctList->header()->setSortIndicatorShown(false);
    sortColumn_ = -1;
    for (int c = 1; c < columns.size(); ++c)
        ctList->headerItem()->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
    setValueColumnWidths();
}

void FMStart::addRow(const QStringList& cells) {
    auto* item = new QTreeWidgetItem(cells);
    for (int c = 1; c < cells.size(); ++c) {
        item->setTextAlignment(c, Qt::AlignRight | Qt::AlignVCenter);
        // A narrow pane cuts long amounts; the tip shows them whole.
        item->setToolTip(c, ctList->headerItem()->text(c) + QStringLiteral(": ") + cells[c]);
    }
    ctList->addTopLevelItem(item);
}

void FMStart::finishList() {
    setValueColumnWidths();
}

void FMStart::setValueColumnWidths() {
    // The group column 25 pixels, the value columns share the rest.
    const int values = ctList->columnCount() - 1;
    ctList->setColumnWidth(0, 25);
    if (values > 0)
        for (int c = 1; c <= values; ++c)
            ctList->setColumnWidth(c, std::max(20, (ctList->width() - 50) / values));
}

void FMStart::Zeichnen() {
    ++redraws_;
    report::Zeichnen(VSPrinter1->surface(), values::store(), pageInputs());
}

report::PageInputs FMStart::pageInputs() const {
    report::PageInputs in;
    in.SFirma = SFirma->text();
    setListTexts(in, selection_->lists());
    if (auswahl_) {
        in.SVART = auswahl_->SVART->currentText();
        in.SSTyp = auswahl_->SSTyp->currentText();
    }
    in.auswahlChecked = mAuswahl->isChecked();
    in.dbPercent = mGraph[3]->isChecked();
    in.Firma = srv::userContext().Firma;
    in.BenutzerName = srv::userContext().BenutzerName;
    in.now = s_.clock.now();
    return in;
}

// --- zoom and printing -----------------------------------------------------

void FMStart::cmbZoom_Click() {
    ++zoomHandlerRuns_;
    if (!VSPrinter1) return;
    const QString text = cmbZoom->currentText();
    const double v = report::GetVal(text);
    if (v > 0) {
        VSPrinter1->setZoom(v);
    } else if (const int mode = report::zoomModeOf(text)) {
        VSPrinter1->setZoomMode(mode);
    }
    Synchronize();
}

void FMStart::Synchronize() {
    if (!VSPrinter1 || synchronizing_) return;
    synchronizing_ = true;
    const int item = report::zoomItemOf(VSPrinter1->zoomMode());
    if (item >= 0) {
        // Choosing the item runs the box's handler, whose own call of
        // Synchronize finds the flag set: one round only.
        cmbZoom->setCurrentIndex(item);
        cmbZoom_Click();
    } else {
        // The system's decimal separator, but no thousands separator: GetVal
        // must read 1000% back as 1000.
        QLocale locale;
        locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
        cmbZoom->setEditText(locale.toString(VSPrinter1->zoom()) + QLatin1Char('%'));
    }
    synchronizing_ = false;
}

void FMStart::mDrucken_Click() {
    if (s_.session.working()) return;
    if (values::store().SelectionChanged) cmdÜbernehmen_Click();
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer_->setPageOrientation(QPageLayout::Landscape);
    }
    // The dialog answers the number of print passes, or nothing when it
    // was cancelled.
    std::optional<int> copies;
    if (s_.printDialog) {
        copies = s_.printDialog(*printer_, this);
    } else {
        QPrintDialog dialog(printer_.get(), this);
        dialog.setWindowTitle(QStringLiteral("Drucken"));
        if (dialog.exec() == QDialog::Accepted) copies = std::max(1, printer_->copyCount());
    }
    if (!copies) return;
    Zeichnen();
    // Each copy is a document of its own: n print jobs, not one of n pages.
    for (int i = 0; i < *copies; ++i)
        VSPrinter1->printDocument(*printer_);
}

QString FMStart::askFileName(const QString& title, const QString& suggested,
                             const QString& filter) {
    if (s_.saveFileName) return s_.saveFileName(title, suggested, filter);
    return QFileDialog::getSaveFileName(this, title, suggested, filter);
}

void FMStart::mExportPdf_Click() {
    const QString file =
        askFileName(QStringLiteral("Seite als PDF exportieren"), QStringLiteral("Tallvero.pdf"),
                    QStringLiteral("PDF-Dateien (*.pdf)"));
    if (file.isEmpty()) return;
    QString why;
    if (!print::writePdf(VSPrinter1->shownPage(), file, &why))
        s_.ui.message(
            srv::kApplicationTitle,
            QStringLiteral("Die Datei %1 konnte nicht geschrieben werden.\n%2").arg(file, why),
            MsgIcon::Exclamation, MsgButtons::Ok);
}

void FMStart::mExportCsv_Click() {
    const QString file =
        askFileName(QStringLiteral("Wertetabelle als CSV exportieren"),
                    QStringLiteral("Tallvero.csv"), QStringLiteral("CSV-Dateien (*.csv)"));
    if (file.isEmpty()) return;
    QSaveFile f(file);
    // With a byte order mark spreadsheet programs read the umlauts right.
    const QByteArray bytes =
        QByteArray("\xEF\xBB\xBF") + report::ValueTableCsv(values::store(), pageInputs()).toUtf8();
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size() || !f.commit())
        s_.ui.message(srv::kApplicationTitle,
                      QStringLiteral("Die Datei %1 konnte nicht geschrieben werden.\n%2")
                          .arg(file, f.errorString()),
                      MsgIcon::Exclamation, MsgButtons::Ok);
}

} // namespace mw
