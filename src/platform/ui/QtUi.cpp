#include "QtUi.h"

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>

namespace platform {

QtUi::~QtUi() {
    if (busy_) QGuiApplication::restoreOverrideCursor();
}

MsgAnswer QtUi::message(const QString& title, const QString& text, MsgIcon icon,
                        MsgButtons buttons) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case MsgIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case MsgIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MsgIcon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case MsgIcon::Stop:
        box.setIcon(QMessageBox::Critical);
        break;
    case MsgIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    QMessageBox::StandardButtons std;
    switch (buttons) {
    case MsgButtons::Ok:
        std = QMessageBox::Ok;
        break;
    case MsgButtons::OkCancel:
        std = QMessageBox::Ok | QMessageBox::Cancel;
        break;
    case MsgButtons::YesNo:
        std = QMessageBox::Yes | QMessageBox::No;
        break;
    case MsgButtons::YesNoCancel:
        std = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        break;
    }
    box.setStandardButtons(std);
    // German captions even where Qt's own translations are not installed.
    const std::pair<QMessageBox::StandardButton, const char*> captions[] = {
        {QMessageBox::Ok, "OK"},
        {QMessageBox::Cancel, "Abbrechen"},
        {QMessageBox::Yes, "&Ja"},
        {QMessageBox::No, "&Nein"}};
    for (const auto& [b, text] : captions)
        if (QAbstractButton* button = box.button(b)) button->setText(QString::fromUtf8(text));
    // The message boxes of the original have their first button as default.
    box.setDefaultButton(buttons == MsgButtons::YesNo || buttons == MsgButtons::YesNoCancel
                             ? QMessageBox::Yes
                             : QMessageBox::Ok);
    // The pointer is the arrow while the user has to answer.
    if (busy_) QGuiApplication::setOverrideCursor(Qt::ArrowCursor);
    const int r = box.exec();
    if (busy_) QGuiApplication::restoreOverrideCursor();
    switch (r) {
    case QMessageBox::Yes:
        return MsgAnswer::Yes;
    case QMessageBox::No:
        return MsgAnswer::No;
    case QMessageBox::Cancel:
        return MsgAnswer::Cancel;
    case QMessageBox::Ok:
        return MsgAnswer::Ok;
    default:
        // Closed with Escape or the window button: the cancelling answer.
        if (buttons == MsgButtons::YesNo) return MsgAnswer::No;
        return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
    }
}

void QtUi::setBusyCursor(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy)
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QGuiApplication::restoreOverrideCursor();
}

void QtUi::processEvents() {
    QCoreApplication::processEvents();
}

} // namespace platform
