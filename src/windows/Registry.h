#pragma once

// A stand-in for the Windows registry, which the about box reads the system
// information tool's path from. Linux has none, so the program reads an INI
// file (IniRegistry); tests use MemoryRegistry. The layout of the file is
// described in docs/windows.md.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <map>
#include <optional>

namespace windows {

// Predefined roots, with the values the registry API gives them.
inline constexpr quint32 HKEY_CLASSES_ROOT = 0x80000000u;
inline constexpr quint32 HKEY_CURRENT_USER = 0x80000001u;
inline constexpr quint32 HKEY_LOCAL_MACHINE = 0x80000002u;
inline constexpr quint32 HKEY_USERS = 0x80000003u;
inline constexpr quint32 HKEY_CURRENT_CONFIG = 0x80000005u;

// Value types.
inline constexpr quint32 REG_SZ = 1;
inline constexpr quint32 REG_BINARY = 3;
inline constexpr quint32 REG_DWORD = 4;

// Root name as used in the INI section names ("HKEY_LOCAL_MACHINE"); empty
// for an unknown root.
QString rootName(quint32 root);

struct RegValue {
    quint32 type = REG_SZ;
    QByteArray data; // raw bytes: text as UTF-8 with its final NUL, numbers little-endian
    quint32 length = 0; // the length the registry reports, in bytes

    bool operator==(const RegValue&) const = default;

    // Text as the registry stores it: UTF-8 with a final NUL, counted.
    static RegValue text(const QString& s);
    static RegValue dword(quint32 v);
};

class Registry {
public:
    using Handle = quint64;
    virtual ~Registry() = default;

    virtual std::optional<Handle> open(quint32 root, const QString& keyPath, quint32 access) = 0;
    // Fails for an unknown handle or value, or when the value does not fit
    // into bufferSize bytes.
    virtual std::optional<RegValue> queryValue(Handle key, const QString& name,
                                               quint32 bufferSize) = 0;
    virtual void close(Handle key) = 0;
};

// Key and value names are case-insensitive, as in the registry.
using RegKeyValues = QHash<QString, RegValue>; // lower-case value name -> value

// Shared handle bookkeeping: a handle holds a snapshot of its key's values.
class SnapshotRegistry : public Registry {
public:
    std::optional<Handle> open(quint32 root, const QString& keyPath, quint32 access) override;
    std::optional<RegValue> queryValue(Handle key, const QString& name,
                                       quint32 bufferSize) override;
    void close(Handle key) override;

    int openHandles() const { return int(open_.size()); }

protected:
    virtual std::optional<RegKeyValues> lookupKey(quint32 root, const QString& keyPath) = 0;
    static QString normalizedKey(quint32 root, const QString& keyPath);

private:
    std::map<Handle, RegKeyValues> open_;
    Handle next_ = 1;
};

// Reads a read-only INI file at every open, so edits apply without a
// restart. A missing or unreadable file makes every open fail. The access
// mask is accepted as given: nothing is ever written.
class IniRegistry : public SnapshotRegistry {
public:
    explicit IniRegistry(QString path) : path_(std::move(path)) {}
    // QStandardPaths::AppConfigLocation + "/registry.ini".
    static QString defaultPath();
    const QString& path() const { return path_; }

protected:
    std::optional<RegKeyValues> lookupKey(quint32 root, const QString& keyPath) override;

private:
    QString path_;
};

// For tests: keys set from code, with counters for the calls.
class MemoryRegistry : public SnapshotRegistry {
public:
    void addKey(quint32 root, const QString& keyPath);
    void setValue(quint32 root, const QString& keyPath, const QString& name, RegValue value);

    std::optional<Handle> open(quint32 root, const QString& keyPath, quint32 access) override;
    void close(Handle key) override;

    int openAttempts() const { return openAttempts_; }
    int opens() const { return opens_; }
    int closes() const { return closes_; }
    const QList<quint32>& accessMasks() const { return accessMasks_; }

protected:
    std::optional<RegKeyValues> lookupKey(quint32 root, const QString& keyPath) override;

private:
    QHash<QString, RegKeyValues> keys_;
    QList<quint32> accessMasks_;
    int openAttempts_ = 0;
    int opens_ = 0;
    int closes_ = 0;
};

// Reads one value: open with the access mask 0x2003F, read into a buffer of
// 1024 characters, cut at the reported length (a final NUL dropped). Text
// (REG_SZ) comes back as stored; a DWORD as its decimal value (unsigned,
// 0xFFFFFFFF is "4294967295"); other types as their raw bytes, one
// character per byte. False if the key cannot be opened or the value not
// read; KeyVal is then left alone. The key is closed in every case it was
// opened.
bool GetKeyValue(Registry& registry, quint32 KeyRoot, const QString& KeyName,
                 const QString& SubKeyRef, QString& KeyVal);

inline constexpr quint32 kKeyAccessMask = 0x2003F;
inline constexpr quint32 kValueBufferSize = 1024;

} // namespace windows
