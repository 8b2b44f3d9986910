// The main window's report book and the drill-down from the details list.
// Both work through the selection controller, so every choice runs the
// list's handler with its cascade and rules, as a click would.

#include "ComboList.h"
#include "FMStart.h"
#include "ReportBook.h"
#include "Selection.h"
#include "platform/print/Export.h"
#include "platform/print/PreviewWidget.h"
#include "platform/ui/Ui.h"
#include "server/Records.h"
#include "server/Session.h"
#include "values/ValueStore.h"

#include <QAction>
#include <QBoxLayout>
#include <QComboBox>
#include <QGroupBox>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QProgressDialog>
#include <QPushButton>
#include <QTreeWidget>

namespace mw {

using retrieval::GroupLevel;

namespace {

const GroupLevel kLevels[] = {GroupLevel::Pc, GroupLevel::Habt, GroupLevel::Abt, GroupLevel::Hgrp,
                              GroupLevel::Ugrp};

QString listTitle(GroupLevel level) {
    switch (level) {
    case GroupLevel::Pc:
        return QStringLiteral("Profitcenter");
    case GroupLevel::Habt:
        return QStringLiteral("Hauptabteilungen");
    case GroupLevel::Abt:
        return QStringLiteral("Abteilungen");
    case GroupLevel::Hgrp:
        return QStringLiteral("Hauptgruppen");
    case GroupLevel::Ugrp:
        return QStringLiteral("Untergruppen");
    case GroupLevel::None:
        break;
    }
    return {};
}

// The book's pages go into the PDF; a progress window lets the user stop.
class BookProgress : public BookSink {
public:
    BookProgress(const QString& file, GroupLevel level, QWidget* owner, platform::Ui& ui)
        : pdf(file), level_(levelName(level)), ui_(ui),
          dialog_(QStringLiteral("Berichtsmappe wird erstellt …"), QStringLiteral("Abbrechen"), 0,
                  1, owner) {
        dialog_.setWindowTitle(QStringLiteral("Berichtsmappe als PDF"));
        dialog_.setWindowModality(Qt::WindowModal);
        dialog_.setMinimumDuration(0);
        dialog_.setAutoReset(false);
        dialog_.setAutoClose(false);
    }
    bool progress(int n, int total, const QString& entry) override {
        dialog_.setMaximum(total);
        dialog_.setValue(n - 1);
        dialog_.setLabelText(QStringLiteral("Seite %1 von %2: %3")
                                 .arg(pdf.pages() + 1)
                                 .arg(pdf.pages() + total - n + 1)
                                 .arg(entry.isEmpty() ? QStringLiteral("die Auswahl")
                                                      : level_ + QLatin1Char(' ') + entry));
        ui_.processEvents();
        return !dialog_.wasCanceled();
    }
    bool page(const print::DisplayList& page) override { return pdf.addPage(page); }
    void finish() { dialog_.close(); }
    print::PdfBook pdf;

private:
    QString level_;
    platform::Ui& ui_;
    QProgressDialog dialog_;
};

} // namespace

void FMStart::buildBookAndDrill() {
    mBerichtsmappe = new QAction(QStringLiteral("Berichts&mappe als PDF …"), this);
    mBerichtsmappe->setObjectName(QStringLiteral("mBerichtsmappe"));
    connect(mBerichtsmappe, &QAction::triggered, this,
            guard(QStringLiteral("mBerichtsmappe_Click"), [this] { mBerichtsmappe_Click(); }));
    if (auto* datei = findChild<QMenu*>(QStringLiteral("MDatei"))) {
        const QList<QAction*> actions = datei->actions();
        datei->insertAction(actions.value(actions.indexOf(mExportCsv) + 1), mBerichtsmappe);
    }

    mZurück = new QAction(QStringLiteral("&Zurück"), this);
    mZurück->setObjectName(QStringLiteral("mZurück"));
    mZurück->setShortcut(QKeySequence(Qt::ALT | Qt::Key_Left));
    mZurück->setEnabled(false);
    connect(mZurück, &QAction::triggered, this,
            guard(QStringLiteral("mZurück_Click"), [this] { mZurück_Click(); }));
    if (auto* details = findChild<QMenu*>(QStringLiteral("HDetails"))) {
        details->addSeparator();
        details->addAction(mZurück);
    }
    // A row of its own under the details' buttons: beside them the pane is
    // too narrow for three.
    cmdZurück = new QPushButton(QStringLiteral("Zurück"));
    cmdZurück->setObjectName(QStringLiteral("cmdZurück"));
    cmdZurück->setToolTip(QStringLiteral("Zurück zur vorigen Auswahl (Alt+Links)"));
    cmdZurück->setEnabled(false);
    connect(cmdZurück, &QPushButton::clicked, this,
            guard(QStringLiteral("cmdZurück_Click"), [this] { mZurück_Click(); }));
    if (auto* pane = qobject_cast<QBoxLayout*>(frDetails->layout()))
        for (int i = 0; i < pane->count(); ++i)
            if (auto* row = qobject_cast<QBoxLayout*>(pane->itemAt(i)->layout());
                row && row->indexOf(cmdAusbeldenDetails) >= 0) {
                auto* back = new QHBoxLayout;
                back->addWidget(cmdZurück);
                back->addStretch();
                pane->insertLayout(i + 1, back);
                break;
            }

    ctList->setToolTip(QStringLiteral("Doppelklick: in die Gruppe hinein"));
    connect(ctList, &QTreeWidget::itemDoubleClicked, this, [this](QTreeWidgetItem* item) {
        const int row = ctList->indexOfTopLevelItem(item);
        guard(QStringLiteral("ctList_DblClick"), [this, row] { ctList_DblClick(row); })();
    });
}

// --- report book -----------------------------------------------------------

void FMStart::mBerichtsmappe_Click() {
    if (s_.session.working()) return;
    QList<GroupLevel> levels;
    QStringList names;
    for (GroupLevel level : kLevels) {
        const qsizetype n = selection_->choosableEntries(level).size();
        // A list the user cannot open offers nothing to go through.
        if (n == 0 || !selection_->listOf(level) ||
            (level == GroupLevel::Pc && !SPCNR->isEnabled()))
            continue;
        levels << level;
        names << QStringLiteral("%1 (%2 Einträge)").arg(listTitle(level)).arg(n);
    }
    if (levels.isEmpty()) {
        s_.ui.message(srv::kApplicationTitle,
                      QStringLiteral("Keine der Listen hat für diese Auswahl Einträge."),
                      platform::MsgIcon::Information, platform::MsgButtons::Ok);
        return;
    }
    int chosen = -1;
    if (s_.chooseBookList) {
        chosen = s_.chooseBookList(this, names);
    } else {
        bool ok = false;
        const QString name = QInputDialog::getItem(
            this, QStringLiteral("Berichtsmappe als PDF"),
            QStringLiteral("Erst die Seite der Auswahl, dann eine Seite für jeden Eintrag der "
                           "Liste:"),
            names, 0, false, &ok);
        chosen = ok ? int(names.indexOf(name)) : -1;
    }
    if (chosen < 0 || chosen >= levels.size()) return;
    const QString file =
        askFileName(QStringLiteral("Berichtsmappe als PDF speichern"),
                    QStringLiteral("Berichtsmappe.pdf"), QStringLiteral("PDF-Dateien (*.pdf)"));
    if (file.isEmpty()) return;

    // The book's own lists and store, set to what the screen shows: the
    // screen's selection, figures and page stay as they are.
    values::PeriodValueStore store;
    const values::PeriodValueStore& screen = values::store();
    store.GraphMode = screen.GraphMode;
    store.TableMode = screen.TableMode;
    store.YearMode = screen.YearMode;
    store.DisplayMode = screen.DisplayMode;
    MemorySelection lists(s_.session, s_.ui, store);
    lists.controller.setPermission(selection_->permissionLevel());
    lists.controller.restore(selection_->state());

    BookSettings settings;
    settings.each = levels[chosen];
    const retrieval::Selection sel = readSelection();
    settings.extended = sel.extended;
    settings.styp = sel.styp;
    settings.vart = sel.vart;
    settings.page = pageInputs();

    BookProgress progress(file, settings.each, this, s_.ui);
    BookOutcome b;
    {
        // One piece of work: no fetch of the screen starts between the pages.
        srv::Session::Work work(s_.session);
        b = runBook(s_.session, s_.ui, s_.clock, lists.controller, store, settings, progress);
    }
    progress.finish();

    QString why;
    switch (b.result) {
    case BookOutcome::Result::Done:
        if (progress.pdf.commit(&why)) {
            fetchStatus_->setText(QStringLiteral("Berichtsmappe: %1 Seiten in %2%3")
                                      .arg(b.pages)
                                      .arg(file)
                                      .arg(b.withoutFigures.isEmpty()
                                               ? QString()
                                               : QStringLiteral(" (%1 ohne Werte ausgelassen)")
                                                     .arg(b.withoutFigures.size())));
            return;
        }
        break;
    case BookOutcome::Result::Cancelled:
        fetchStatus_->setText(QStringLiteral("Berichtsmappe abgebrochen, keine Datei geschrieben"));
        return;
    case BookOutcome::Result::Refused:
    case BookOutcome::Result::Failed:
        // The query has said why.
        fetchStatus_->setText(QStringLiteral("Berichtsmappe nicht geschrieben"));
        return;
    case BookOutcome::Result::NotKept:
        progress.pdf.commit(&why);
        break;
    }
    s_.ui.message(srv::kApplicationTitle,
                  QStringLiteral("Die Berichtsmappe konnte nicht geschrieben werden.\n%1").arg(why),
                  platform::MsgIcon::Exclamation, platform::MsgButtons::Ok);
}

// --- drill-down --------------------------------------------------------------

FMStart::DrillStep FMStart::drillStep() const {
    DrillStep d;
    d.selection = selection_->state();
    d.periodValues = values::store().PeriodValues;
    d.fetchYear = values::store().FetchYear;
    d.fetch = lastFetch_;
    d.fetchStatus = fetchStatus_->text();
    for (int c = 0; c < ctList->columnCount(); ++c)
        d.columns << ctList->headerItem()->text(c);
    for (int i = 0; i < ctList->topLevelItemCount(); ++i) {
        QStringList cells;
        for (int c = 0; c < ctList->columnCount(); ++c)
            cells << ctList->topLevelItem(i)->text(c);
        d.rows << cells;
    }
    d.detailsLevel = detailsLevel_;
    return d;
}

void FMStart::ctList_DblClick(int row) {
    QTreeWidgetItem* item = ctList->topLevelItem(row);
    SelectionList* list = selection_->listOf(detailsLevel_);
    // The total row (and the single row of a chosen sub group) has no group.
    if (!item || !list || s_.session.working()) return;
    const QString code = item->text(0);
    if (code.isEmpty()) return;
    const QComboBox* box = nullptr;
    for (const auto& l : lists_)
        if (l.get() == list) box = l->box();
    auto refuse = [this](const QString& text) {
        s_.ui.message(QStringLiteral("Fehlermeldung"), text, platform::MsgIcon::None,
                      platform::MsgButtons::Ok);
    };
    // A list the user cannot open cannot be chosen in.
    if (!box || !box->isEnabled())
        return refuse(QStringLiteral("Sie dürfen kein Profitcenter auswählen."));
    auto indexOf = [&] {
        const QStringList items = list->items();
        for (qsizetype i = 0; i < items.size(); ++i)
            if (codeOf(items[i]) == code) return int(i);
        return -1;
    };
    if (indexOf() < 0)
        return refuse(QStringLiteral("„%1“ steht nicht in der Liste %2; bitte die Details neu "
                                     "holen.")
                          .arg(code, levelName(detailsLevel_)));

    DrillStep before = drillStep();
    if (detailsLevel_ == GroupLevel::Abt) {
        // With a profit centre or main department chosen the details stay
        // by department; without them they go on to the department's main
        // groups. The page is the same: the department decides it.
        for (SelectionList* above : {&selection_->lists().SPCNR, &selection_->lists().SHABT})
            if (!above->currentText().isEmpty())
                above->setCurrentIndex(int(above->items().indexOf(QString())));
    }
    const int index = indexOf();
    if (index >= 0) list->setCurrentIndex(index);
    if (index < 0 || codeOf(list->currentText()) != code) {
        // Refused by the list's rules (its message has been shown): as if
        // nothing had been clicked.
        selection_->restore(before.selection);
        return;
    }
    drillHistory_.push_back(std::move(before));
    mZurück->setEnabled(true);
    cmdZurück->setEnabled(true);
    mNeuZeichnen_Click();
}

void FMStart::forgetDrillDown() {
    drillHistory_.clear();
    detailsLevel_ = GroupLevel::None;
    mZurück->setEnabled(false);
    cmdZurück->setEnabled(false);
}

void FMStart::mZurück_Click() {
    if (drillHistory_.empty() || s_.session.working()) return;
    const DrillStep d = std::move(drillHistory_.back());
    drillHistory_.pop_back();
    selection_->restore(d.selection);
    values::PeriodValueStore& st = values::store();
    st.PeriodValues = d.periodValues;
    st.FetchYear = d.fetchYear;
    lastFetch_ = d.fetch;
    fetchStatus_->setText(d.fetchStatus);
    Zeichnen();
    prepareList(d.columns);
    for (const QStringList& r : d.rows)
        addRow(r);
    finishList();
    detailsLevel_ = d.detailsLevel;
    mZurück->setEnabled(!drillHistory_.empty());
    cmdZurück->setEnabled(!drillHistory_.empty());
}

} // namespace mw
