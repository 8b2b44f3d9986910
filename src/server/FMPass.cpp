#include "FMPass.h"

#include <QEvent>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace srv {

void SelectAllText(QLineEdit* field, bool keepFocus) {
    field->setSelection(0, int(field->text().size()));
    if (!keepFocus) field->setFocus();
}

FMPass::FMPass(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("FMPass"));
    setWindowTitle(QStringLiteral("ZORVEK Benutzeranmeldung"));

    user_ = new QLineEdit(this);
    user_->setObjectName(QStringLiteral("BUSER"));
    password_ = new QLineEdit(this);
    password_->setObjectName(QStringLiteral("BPASSWORT"));
    password_->setEchoMode(QLineEdit::Password);
    // One "*" for every character, as the original shows it.
    password_->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));

    auto* userLabel = new QLabel(QStringLiteral("User(WWS Personalcode):"), this);
    userLabel->setBuddy(user_);
    auto* passwordLabel = new QLabel(QStringLiteral("Passwort:"), this);
    passwordLabel->setBuddy(password_);

    speich_ = new QPushButton(QStringLiteral("Anmelden"), this);
    speich_->setObjectName(QStringLiteral("BUSpeich"));
    speich_->setDefault(true);
    ausst_ = new QPushButton(QStringLiteral("Abbruch"), this);
    ausst_->setObjectName(QStringLiteral("BUAusst"));
    server_ = new QPushButton(QStringLiteral("Server"), this);
    server_->setObjectName(QStringLiteral("BUServer"));
    for (QPushButton* b : {speich_, ausst_, server_})
        b->setAutoDefault(false);
    speich_->setAutoDefault(true);

    auto* grid = new QGridLayout;
    grid->addWidget(userLabel, 0, 0);
    grid->addWidget(user_, 0, 1);
    grid->addWidget(passwordLabel, 1, 0);
    grid->addWidget(password_, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(speich_);
    buttons->addWidget(ausst_);
    buttons->addStretch();
    buttons->addWidget(server_);
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addLayout(buttons);
    setMinimumWidth(380);

    connect(speich_, &QPushButton::clicked, this, [this] {
        if (onBUSpeich) onBUSpeich();
    });
    connect(ausst_, &QPushButton::clicked, this, [this] {
        if (onBUAusst) onBUAusst();
    });
    connect(server_, &QPushButton::clicked, this, [this] {
        if (onBUServer) onBUServer();
    });
    user_->installEventFilter(this);
    password_->installEventFilter(this);
}

QString FMPass::text(LoginField f) const {
    return field(f)->text();
}

void FMPass::setText(LoginField f, const QString& text) {
    field(f)->setText(text);
}

void FMPass::selectAllText(LoginField f, bool keepFocus) {
    SelectAllText(field(f), keepFocus);
}

void FMPass::showModal() {
    // exec() returns when a button handler hides the dialog.
    exec();
}

void FMPass::showModeless() {
    show();
    raise();
    activateWindow();
}

void FMPass::reject() {
    if (onClose)
        onClose();
    else
        QDialog::reject();
}

bool FMPass::eventFilter(QObject* watched, QEvent* event) {
    auto* edit = qobject_cast<QLineEdit*>(watched);
    if (edit && event->type() == QEvent::FocusIn) {
        SelectAllText(edit, true);
        // A mouse click places the cursor after the focus arrives; select
        // again once the click has been handled.
        if (static_cast<QFocusEvent*>(event)->reason() == Qt::MouseFocusReason)
            QTimer::singleShot(0, edit, [edit] { SelectAllText(edit, true); });
    } else if (edit == user_ && event->type() == QEvent::FocusOut) {
        user_->setText(user_->text().toUpper());
    }
    return QDialog::eventFilter(watched, event);
}

void FMPass::focusPassword() {
    password_->setFocus(Qt::ActiveWindowFocusReason);
}

void FMPass::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) focusPassword();
    QDialog::changeEvent(event);
}

void FMPass::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    focusPassword();
}

} // namespace srv
