#include "Dialogs.h"

#include "Records.h"

namespace srv {

ServerDialog::ServerDialog(platform::Clock& clock) : lock_(clock.createTimer()) {
    lock_->setInterval(kLockIntervalMs);
}

ServerDialog::~ServerDialog() = default;

QString initialText(ServerField field) {
    switch (field) {
    case ServerField::BWJ:
        return QStringLiteral("0");
    case ServerField::BNAMESPACE:
        return QStringLiteral("ZORVEK");
    case ServerField::BFIRMA:
        return QStringLiteral("1");
    case ServerField::BFIL:
        return QStringLiteral("0");
    case ServerField::BSERVERIP:
        return kDefaultServer;
    case ServerField::BPORT:
        return QStringLiteral("1973");
    }
    return {};
}

} // namespace srv
