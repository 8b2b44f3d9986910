#pragma once

#include "SettingsStore.h"

#include <QSettings>
#include <memory>

namespace platform {

// QSettings, organisation and application "Cache Login", group "Login"
// (on Linux ~/.config/Cache Login/Cache Login.conf).
class QSettingsStore : public SettingsStore {
public:
    QSettingsStore();
    // An INI file at that path (tests, or a site-wide file).
    explicit QSettingsStore(const QString& iniPath);

    QString read(const QString& key, const QString& def) const override;
    void write(const QString& key, const QString& value) override;
    void sync() override;

    // Empty, or a German description of why the file could not be read or
    // written; values that could not be read take their defaults.
    QString problem() const;
    QString fileName() const { return settings_->fileName(); }

private:
    std::unique_ptr<QSettings> settings_;
};

} // namespace platform
