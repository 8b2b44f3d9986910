#pragma once

// The server settings dialog "ZORVEK Server" as a Qt widget. It hosts the
// idle timer Lock of the connection.

#include "Dialogs.h"

#include <QDialog>
#include <QHash>

class QLabel;
class QLineEdit;
class QPushButton;

namespace srv {

class FMServer : public QDialog, public ServerDialog {
    Q_OBJECT
public:
    explicit FMServer(platform::Clock& clock, QWidget* parent = nullptr);

    QString text(ServerField field) const override;
    void setText(ServerField field, const QString& text) override;
    bool fieldsLocked() const override { return locked_; }
    void setFieldsLocked(bool locked) override;
    bool editUnlocked() const override;
    void setEditUnlocked(bool unlocked) override;
    void showModal() override { exec(); }
    void hide() override { QDialog::hide(); }
    bool isVisible() const override { return QDialog::isVisible(); }
    void setConnectError(const QString& reason) override;

    QLineEdit* field(ServerField f) const { return fields_.value(int(f)); }
    QPushButton* BUEdit() const { return edit_; }
    QPushButton* BUZurück() const { return back_; }

    // Escape and the window's close button act like "Zurück".
    void reject() override;

private:
    static void setLockedLook(QLineEdit* field, bool locked);

    QHash<int, QLineEdit*> fields_;
    QPushButton* edit_;
    QPushButton* back_;
    QLabel* error_;
    bool locked_ = true;
};

} // namespace srv
