#pragma once

// The per-user settings store: text values by key, read with a default.

#include <QMap>
#include <QString>

namespace platform {

class SettingsStore {
public:
    virtual ~SettingsStore() = default;
    // The stored value, or def when the key is missing or unreadable.
    virtual QString read(const QString& key, const QString& def) const = 0;
    virtual void write(const QString& key, const QString& value) = 0;
    // Makes written values durable; a no-op where nothing is persisted.
    virtual void sync() {}
};

class MemorySettingsStore : public SettingsStore {
public:
    QString read(const QString& key, const QString& def) const override {
        return values.value(key, def);
    }
    void write(const QString& key, const QString& value) override { values[key] = value; }

    QMap<QString, QString> values;
};

} // namespace platform
