#include "FrmProgrammverlauf.h"

#include "ProgramLog.h"

#include <QCloseEvent>
#include <QHeaderView>
#include <QPointer>
#include <QTreeView>
#include <QVBoxLayout>

namespace windows {

namespace {
QPointer<frmProgrammverlauf>& theInstance() {
    static QPointer<frmProgrammverlauf> p;
    return p;
}

// Tool window: stays above its owner and has no task bar entry.
constexpr Qt::WindowFlags kFlags = Qt::Tool;
} // namespace

frmProgrammverlauf::frmProgrammverlauf(QWidget* owner) : QWidget(owner, kFlags) {
    setObjectName(QStringLiteral("frmProgrammverlauf"));
    setWindowTitle(QStringLiteral("Programmverlauf"));

    verlauf_ = new QTreeView(this);
    verlauf_->setObjectName(QStringLiteral("Verlauf"));
    verlauf_->setModel(&programLog());
    verlauf_->setRootIsDecorated(false);
    verlauf_->setItemsExpandable(false);
    verlauf_->setUniformRowHeights(true);
    verlauf_->setAlternatingRowColors(true);
    verlauf_->setSortingEnabled(false); // the order is the log's: newest first
    verlauf_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    verlauf_->setSelectionBehavior(QAbstractItemView::SelectRows);
    verlauf_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    QHeaderView* header = verlauf_->header();
    header->setStretchLastSection(true);
    // Programmteil holds names like "frmNeueDaten.OKButton_Click", Text
    // "Datenabfrage Periode 202411"; the parameters get the rest.
    verlauf_->setColumnWidth(ProgramLog::ColProgrammteil, 220);
    verlauf_->setColumnWidth(ProgramLog::ColText, 220);

    // The list fills the whole client area.
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(verlauf_);
    resize(720, 320);
}

frmProgrammverlauf* frmProgrammverlauf::instance(QWidget* owner) {
    QPointer<frmProgrammverlauf>& p = theInstance();
    if (!p) {
        p = new frmProgrammverlauf(owner);
    } else if (owner && p->parentWidget() != owner) {
        // setParent() resets the flags and hides the window.
        const bool wasVisible = p->isVisible();
        const QRect geometry = p->geometry();
        p->setParent(owner, p->windowFlags() | kFlags);
        p->setGeometry(geometry);
        if (wasVisible) p->show();
    }
    return p;
}

frmProgrammverlauf* frmProgrammverlauf::existing() {
    return theInstance();
}

frmProgrammverlauf* frmProgrammverlauf::showInstance(QWidget* owner) {
    frmProgrammverlauf* w = instance(owner);
    w->show();
    w->raise();
    w->activateWindow();
    return w;
}

void frmProgrammverlauf::shutdown() {
    QPointer<frmProgrammverlauf>& p = theInstance();
    if (!p) return;
    p->setQuitting(true);
    p->close();
    delete p.data();
}

void frmProgrammverlauf::StatusText(const QString& Programmteil, const QString& Text,
                                    const QString& Parameter) {
    WriteLog(Programmteil, Text, Parameter);
}

void frmProgrammverlauf::closeEvent(QCloseEvent* event) {
    if (quitting_) {
        event->accept();
        return;
    }
    event->ignore();
    hide();
}

} // namespace windows
