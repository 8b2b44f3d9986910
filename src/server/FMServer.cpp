#include "FMServer.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace srv {

namespace {
struct FieldDef {
    ServerField field;
    const char* name;
    const char* label;
};
const FieldDef kFields[] = {
    {ServerField::BWJ, "BWJ", "WJ:"},
    {ServerField::BNAMESPACE, "BNAMESPACE", "Namespace:"},
    {ServerField::BFIRMA, "BFIRMA", "Firma:"},
    {ServerField::BFIL, "BFIL", "Filiale:"},
    {ServerField::BSERVERIP, "BSERVERIP", "ServerIP:"},
    {ServerField::BPORT, "BPORT", "Port:"},
};
} // namespace

FMServer::FMServer(platform::Clock& clock, QWidget* parent) : QDialog(parent), ServerDialog(clock) {
    setObjectName(QStringLiteral("FMServer"));
    setWindowTitle(QStringLiteral("ZORVEK Server"));
    auto* grid = new QGridLayout;
    int row = 0;
    for (const FieldDef& d : kFields) {
        auto* edit = new QLineEdit(initialText(d.field), this);
        edit->setObjectName(QString::fromLatin1(d.name));
        auto* label = new QLabel(QString::fromUtf8(d.label), this);
        label->setBuddy(edit);
        grid->addWidget(label, row, 0);
        grid->addWidget(edit, row, 1);
        fields_.insert(int(d.field), edit);
        setLockedLook(edit, true);
        ++row;
    }
    edit_ = new QPushButton(QStringLiteral("Ändern"), this);
    edit_->setObjectName(QStringLiteral("BUEdit"));
    // The two-position button: pressed in = unlocked position.
    edit_->setCheckable(true);
    edit_->setAutoDefault(false);
    back_ = new QPushButton(QStringLiteral("Zurück"), this);
    back_->setObjectName(QStringLiteral("BUZurück"));
    back_->setAutoDefault(false);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(edit_);
    buttons->addStretch();
    buttons->addWidget(back_);
    error_ = new QLabel(this);
    error_->setObjectName(QStringLiteral("lblFehler"));
    error_->setWordWrap(true);
    error_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    error_->hide();
    auto* top = new QVBoxLayout(this);
    top->addLayout(grid);
    top->addWidget(error_);
    top->addLayout(buttons);
    setMinimumWidth(360);

    // clicked, not toggled: setting the position from code runs no handler.
    connect(edit_, &QPushButton::clicked, this, [this] {
        if (onBUEdit) onBUEdit();
    });
    connect(back_, &QPushButton::clicked, this, [this] {
        if (onBUZurück) onBUZurück();
    });
}

QString FMServer::text(ServerField f) const {
    return field(f)->text();
}

void FMServer::setText(ServerField f, const QString& text) {
    field(f)->setText(text);
}

void FMServer::setLockedLook(QLineEdit* field, bool locked) {
    field->setReadOnly(locked);
    QPalette p = field->palette();
    p.setColor(QPalette::Base, locked ? QColor(0xd4, 0xd0, 0xc8) : QColor(Qt::white));
    field->setPalette(p);
}

void FMServer::setFieldsLocked(bool locked) {
    locked_ = locked;
    for (ServerField f : {ServerField::BPORT, ServerField::BSERVERIP, ServerField::BFIRMA,
                          ServerField::BFIL, ServerField::BNAMESPACE})
        setLockedLook(field(f), locked);
}

bool FMServer::editUnlocked() const {
    return edit_->isChecked();
}

void FMServer::setEditUnlocked(bool unlocked) {
    edit_->setChecked(unlocked);
}

void FMServer::setConnectError(const QString& reason) {
    error_->setText(reason.isEmpty() ? QString()
                                     : QStringLiteral("Letzter Verbindungsversuch: ") + reason);
    error_->setVisible(!reason.isEmpty());
}

void FMServer::reject() {
    if (onBUZurück)
        onBUZurück();
    else
        QDialog::reject();
}

} // namespace srv
