#pragma once

// The login dialog "ZORVEK Benutzeranmeldung" as a Qt widget.

#include "Dialogs.h"

#include <QDialog>

class QLineEdit;
class QPushButton;

namespace srv {

// Selects the whole text (start 0, length = text length); unless keepFocus,
// the field also gets the focus.
void SelectAllText(QLineEdit* field, bool keepFocus);

class FMPass : public QDialog, public LoginDialog {
    Q_OBJECT
public:
    explicit FMPass(QWidget* parent = nullptr);

    QString text(LoginField field) const override;
    void setText(LoginField field, const QString& text) override;
    void selectAllText(LoginField field, bool keepFocus) override;
    void showModal() override;
    void showModeless() override;
    void hide() override { QDialog::hide(); }
    bool isVisible() const override { return QDialog::isVisible(); }

    QLineEdit* BUSER() const { return user_; }
    QLineEdit* BPASSWORT() const { return password_; }

    // Escape and the window's close button.
    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* field(LoginField f) const { return f == LoginField::BUSER ? user_ : password_; }
    void focusPassword();

    QLineEdit* user_;
    QLineEdit* password_;
    QPushButton* speich_;
    QPushButton* ausst_;
    QPushButton* server_;
};

} // namespace srv
