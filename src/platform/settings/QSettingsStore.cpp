#include "QSettingsStore.h"

#include <QStringList>

namespace platform {

namespace {
const QString kGroup = QStringLiteral("Login");
}

QSettingsStore::QSettingsStore()
    : settings_(std::make_unique<QSettings>(QStringLiteral("Cache Login"),
                                            QStringLiteral("Cache Login"))) {
    settings_->beginGroup(kGroup);
}

QSettingsStore::QSettingsStore(const QString& iniPath)
    : settings_(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)) {
    settings_->beginGroup(kGroup);
}

QString QSettingsStore::read(const QString& key, const QString& def) const {
    const QVariant v = settings_->value(key);
    if (!v.isValid()) return def;
    // An INI value with a comma comes back as a list; the store holds text.
    if (v.typeId() == QMetaType::QStringList) return v.toStringList().join(QLatin1Char(','));
    if (!v.canConvert<QString>()) return def;
    return v.toString();
}

void QSettingsStore::write(const QString& key, const QString& value) {
    settings_->setValue(key, value);
}

void QSettingsStore::sync() {
    settings_->sync();
}

QString QSettingsStore::problem() const {
    switch (settings_->status()) {
    case QSettings::NoError:
        return {};
    case QSettings::AccessError:
        return QStringLiteral(
                   "Die Einstellungsdatei %1 kann nicht gelesen oder geschrieben werden.")
            .arg(settings_->fileName());
    case QSettings::FormatError:
        return QStringLiteral(
                   "Die Einstellungsdatei %1 ist beschädigt; fehlende Werte werden durch "
                   "Vorgaben ersetzt.")
            .arg(settings_->fileName());
    }
    return {};
}

} // namespace platform
