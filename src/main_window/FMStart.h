#pragma once

// The main window: start-up, selection panel, print preview and details
// pane, and the menus. Handlers keep the names of the events they answer,
// so that the other windows and the tests call them directly; the
// selection's rules live in SelectionController, the start-up's decisions
// in Startup.h, and the handlers forward to them.

#include "FrmAuswahlDetail.h"
#include "Selection.h"
#include "retrieval/DetailQuery.h"
#include "retrieval/PeriodQuery.h"

#include <QMainWindow>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPrinter;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QSplitter;
class QTreeWidget;

namespace platform {
class Clock;
class Ui;
} // namespace platform
namespace srv {
class Session;
}
namespace print {
class PreviewWidget;
}
namespace report {
struct PageInputs;
}

namespace mw {

class ComboList;
class ProportionalPanel;
class SelectionController;
class Splash;

struct FMStartServices {
    platform::Ui& ui;
    platform::Clock& clock;
    srv::Session& session;
    // Screen width in pixels for the start-up layout; the primary screen
    // when not set.
    std::function<int()> screenWidth;
    // Logical dots per inch of the screen (twips per pixel = 1440 / dpi);
    // the window's own when not set.
    std::function<int()> logicalDpi = {};
    // Opens the data rebuild dialog modally, owned by the main window.
    std::function<void(QWidget* owner)> openRebuildDialog;
    // The about box (no owner, not modal) and the program log window
    // (owned by the main window, not modal).
    std::function<void()> showAbout;
    std::function<void(QWidget* owner)> showLog;
    // The process command line as one text (the words after the program name).
    std::function<QString()> processCommandLine;
    // The printer dialog: the number of print passes, or nothing when it
    // was cancelled. Qt's dialog when not set.
    std::function<std::optional<int>(QPrinter&, QWidget*)> printDialog;
    // The file to save to ("" cancels). Qt's file dialog when not set.
    std::function<QString(const QString& title, const QString& suggested, const QString& filter)>
        saveFileName;
    // Sees every status text of the start-up (tests, log).
    std::function<void(const QString&)> statusObserver;
    // Which list the report book goes through: the index of one of the
    // names, or -1 when cancelled. Qt's item dialog when not set.
    std::function<int(QWidget*, const QStringList& names)> chooseBookList = {};
};

class FMStart : public QMainWindow,
                public AuswahlHost,
                public retrieval::PeriodQueryHost,
                public retrieval::DetailQueryHost {
    Q_OBJECT
public:
    explicit FMStart(FMStartServices services);
    ~FMStart() override;

    // --- start-up and end --------------------------------------------------
    void Form_Load();
    void Form_Unload();
    void mLogin_Click();
    // After a re-login: the caption, then the new user's rights and fresh
    // lists, as the start-up gives them.
    void loggedInAgain(const QString& caption);

    // --- selection ---------------------------------------------------------
    void SHABT_Click();
    void SABTNR_Click();
    void SPCNR_Click();
    void SHGRP_Click();
    void SUGRP_Click();
    void SPG_Click();
    void SHVArt_Click();
    void SFirma_Change();
    void chkUGRP_Click();
    void chkHKGRP_Click();
    void chkHVArt_Click();
    void optJahr_Click(int index);
    void optJahrMonat_Click(int index);
    void mAuswahl_Click();
    void mGenerieren_Click();
    // Chooses entry index of a list from code; runs its handler at once,
    // as a choice by the user does.
    void setListIndex(QComboBox* list, int index);

    // --- layout ------------------------------------------------------------
    void mDaten_Click(int index);
    void mDetails_Click(int index);
    void Form_Resize();
    void ctSplit_Resize();
    void ctSize3_Resize(int id, int leftTwips);
    void ctList_HeaderClick(int column);

    // --- view and report ---------------------------------------------------
    void mGraph_Click(int index);
    void mTabelle_Click(int index);
    void mJahr_Click(int index);
    void mNeuZeichnen_Click();
    void HilfeUeber_Click();
    void mProgrammverlauf_Click();
    void Zeichnen();
    void cmdÜbernehmen_Click();
    void cmdÜbernehmenDetails_Click();
    // What the page shows besides the value store.
    report::PageInputs pageInputs() const;

    // --- zoom, printing, export -------------------------------------------
    void cmbZoom_Click();
    void Synchronize();
    void mDrucken_Click();
    void mExportPdf_Click();
    void mExportCsv_Click();
    int zoomHandlerRuns() const { return zoomHandlerRuns_; }

    // --- report book and drill-down ---------------------------------------
    // "Berichtsmappe als PDF …": the page of the selection and one per
    // entry of a list, into one PDF; the screen stays as it is.
    void mBerichtsmappe_Click();
    // A double-click on a row of the details list chooses its group in the
    // list the rows were grouped by, then fetches.
    void ctList_DblClick(int row);
    // Back to the selection and page before the last drill-down.
    void mZurück_Click();
    int drillSteps() const { return int(drillHistory_.size()); }
    // The level the rows of the details list were grouped by.
    retrieval::GroupLevel detailsLevel() const { return detailsLevel_; }

    // --- AuswahlHost -------------------------------------------------------
    QString companyNumber() const override;
    QString mainShippingCode() const override;
    void runPeriodQuery() override { cmdÜbernehmen_Click(); }
    void extendedSelectionClosed() override;

    // --- PeriodQueryHost ---------------------------------------------------
    retrieval::Selection readSelection() override;
    bool departmentChosen() const override;
    void monthFetched(int done, int total, const QString& period) override;
    void redraw() override { Zeichnen(); }
    // --- DetailQueryHost ---------------------------------------------------
    retrieval::DetailInputs readInputs() override;
    QStringList groupCodes(retrieval::GroupLevel level) override;
    void prepareList(const QStringList& columns) override;
    void addRow(const QStringList& cells) override;
    void finishList() override;
    const retrieval::DetailOutcome& lastDetails() const { return lastDetails_; }

    // How the last period query ended.
    const retrieval::FetchOutcome& lastFetch() const { return lastFetch_; }

    // The extended selection window, created on first use.
    FrmAuswahlDetail* auswahlDetail();
    bool auswahlDetailExists() const { return auswahl_ != nullptr; }

    // --- state -------------------------------------------------------------
    SelectionController& selection() const { return *selection_; }
    int permissionLevel() const;
    bool restricted() const;
    double twipsPerPixel() const { return twipsPerPixel_; }
    // Redraws so far (tests).
    int redraws() const { return redraws_; }

    // --- controls ----------------------------------------------------------
    QLineEdit* SFirma;
    QComboBox* SPCNR;
    QComboBox* SHABT;
    QComboBox* SABTNR;
    QComboBox* SHGRP;
    QComboBox* SUGRP;
    QComboBox* SPG;
    QComboBox* SHVArt;
    QComboBox* cmbZoom;
    QPushButton* cmdÜbernehmen;
    QPushButton* cmdAusblenden;
    QPushButton* cmdEinblenden;
    QLabel* lblPC;
    QLabel* lblFirma;
    QLabel* lblZoom;
    QLabel* lblHabt;
    QLabel* lblAbt;
    QLabel* lblHG;
    QLabel* lblUG;
    QLabel* lblHVArt;
    QLabel* lblHKG;
    ProportionalPanel* ctSize3;
    QSplitter* ctSplit;
    print::PreviewWidget* VSPrinter1;
    QWidget* ctSize2;
    QGroupBox* frDetails;
    QCheckBox* chkUGRP;
    QCheckBox* chkHKGRP;
    QCheckBox* chkHVArt;
    QRadioButton* optJahr[3];
    QRadioButton* optJahrMonat[2];
    QSpinBox* txtMonat;
    QPushButton* cmdÜbernehmenDetails;
    QPushButton* cmdAusbeldenDetails;
    QTreeWidget* ctList;

    QAction* mDaten[2];
    QAction* mDetails[2];
    QAction* mGraph[4];
    QAction* mTabelle[5];
    QAction* mJahr[2];
    QAction* mAuswahl;
    QAction* mNeuZeichnen;
    QAction* mGenerieren;
    QAction* mLogin;
    QAction* mDrucken;
    QAction* mStandardDrucker;
    QAction* mExportPdf;
    QAction* mExportCsv;
    QAction* mBerichtsmappe;
    QAction* mZurück;
    QPushButton* cmdZurück;
    QAction* Beenden;
    QAction* HilfeUeber;
    QAction* mProgrammverlauf;

protected:
    void closeEvent(QCloseEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;
    bool eventFilter(QObject* o, QEvent* e) override;

private:
    void buildMenus();
    void buildSelectionPanel();
    void buildDetailsPane();
    void startupLayout();
    void status(const QString& text);
    void loginLoop();
    void dataBasisCheck();
    // The rights of the logged-in user: the end of the program without
    // any, else what the level may use.
    bool applyPermission(int level);
    void splitClick(QCheckBox* box, int value);
    // The handler of a user event, reporting any failure that reaches it.
    std::function<void()> guard(const QString& name, std::function<void()> handler);
    int toPixels(int twips) const;
    int toTwips(int px) const;
    QString askFileName(const QString& title, const QString& suggested, const QString& filter);
    // The selection, the fetched figures and the details rows before a
    // drill-down: "Zurück" shows them again without asking the server.
    struct DrillStep {
        SelectionState selection;
        values::Table periodValues;
        int fetchYear = 0;
        retrieval::FetchOutcome fetch;
        QString fetchStatus;
        QStringList columns;
        QList<QStringList> rows;
        retrieval::GroupLevel detailsLevel = retrieval::GroupLevel::None;
    };
    DrillStep drillStep() const;
    void buildBookAndDrill();
    // Another user logged in: nothing to go back to, no rows to drill into.
    void forgetDrillDown();

    FMStartServices s_;
    std::unique_ptr<ComboList> lists_[7];
    std::unique_ptr<SelectionController> selection_;
    Splash* splash_ = nullptr;
    FrmAuswahlDetail* auswahl_ = nullptr;
    std::unique_ptr<QPrinter> printer_;
    QWidget* central_ = nullptr;
    double twipsPerPixel_ = 15;
    int redraws_ = 0;
    int sortColumn_ = -1;
    bool sortDescending_ = true;
    bool loaded_ = false;
    retrieval::FetchOutcome lastFetch_;
    retrieval::DetailOutcome lastDetails_;
    void setValueColumnWidths();
    bool synchronizing_ = false;
    int zoomHandlerRuns_ = 0;
    QLabel* fetchStatus_ = nullptr;
    retrieval::GroupLevel detailsLevel_ = retrieval::GroupLevel::None;
    std::vector<DrillStep> drillHistory_;
};

} // namespace mw
