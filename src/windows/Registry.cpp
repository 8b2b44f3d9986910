#include "Registry.h"

#include <QFile>
#include <QStandardPaths>
#include <QStringList>

#include <algorithm>

namespace windows {

QString rootName(quint32 root) {
    switch (root) {
    case HKEY_CLASSES_ROOT:
        return QStringLiteral("HKEY_CLASSES_ROOT");
    case HKEY_CURRENT_USER:
        return QStringLiteral("HKEY_CURRENT_USER");
    case HKEY_LOCAL_MACHINE:
        return QStringLiteral("HKEY_LOCAL_MACHINE");
    case HKEY_USERS:
        return QStringLiteral("HKEY_USERS");
    case HKEY_CURRENT_CONFIG:
        return QStringLiteral("HKEY_CURRENT_CONFIG");
    default:
        return {};
    }
}

RegValue RegValue::text(const QString& s) {
    RegValue v;
    v.type = REG_SZ;
    v.data = s.toUtf8();
    v.data.append('\0');
    v.length = quint32(v.data.size());
    return v;
}

RegValue RegValue::dword(quint32 n) {
    RegValue v;
    v.type = REG_DWORD;
    for (int i = 0; i < 4; ++i) v.data.append(char((n >> (8 * i)) & 0xFFu));
    v.length = 4;
    return v;
}

// --- handles -----------------------------------------------------------

QString SnapshotRegistry::normalizedKey(quint32 root, const QString& keyPath) {
    QString path = keyPath.trimmed();
    while (path.startsWith(QLatin1Char('\\'))) path.remove(0, 1);
    while (path.endsWith(QLatin1Char('\\'))) path.chop(1);
    QString key = rootName(root);
    if (!path.isEmpty()) key += QLatin1Char('\\') + path;
    return key.toLower();
}

std::optional<Registry::Handle> SnapshotRegistry::open(quint32 root, const QString& keyPath,
                                                       quint32 /*access*/) {
    if (rootName(root).isEmpty()) return std::nullopt;
    std::optional<RegKeyValues> values = lookupKey(root, keyPath);
    if (!values) return std::nullopt;
    const Handle h = next_++;
    open_.emplace(h, std::move(*values));
    return h;
}

std::optional<RegValue> SnapshotRegistry::queryValue(Handle key, const QString& name,
                                                     quint32 bufferSize) {
    const auto it = open_.find(key);
    if (it == open_.end()) return std::nullopt;
    const auto v = it->second.constFind(name.toLower());
    if (v == it->second.constEnd()) return std::nullopt;
    // Like the registry's "more data" error: the caller's buffer is too small.
    if (v->length > bufferSize) return std::nullopt;
    return *v;
}

void SnapshotRegistry::close(Handle key) {
    open_.erase(key);
}

// --- INI file ----------------------------------------------------------

namespace {

std::optional<QByteArray> parseHexBytes(const QString& s) {
    QByteArray out;
    const QString trimmed = s.trimmed();
    if (trimmed.isEmpty()) return out;
    for (const QString& part : trimmed.split(QLatin1Char(','))) {
        bool ok = false;
        const uint b = part.trimmed().toUInt(&ok, 16);
        if (!ok || b > 0xFF) return std::nullopt;
        out.append(char(b));
    }
    return out;
}

// One "name=value" line's value; nullopt for a malformed typed value,
// which is then skipped like a missing one.
std::optional<RegValue> parseIniValue(const QString& raw) {
    const auto hasPrefix = [&](const char* p) {
        return raw.startsWith(QLatin1String(p), Qt::CaseInsensitive);
    };
    if (hasPrefix("sz:")) return RegValue::text(raw.mid(3));
    if (hasPrefix("dword:")) {
        const QString n = raw.mid(6).trimmed();
        bool ok = false;
        const qulonglong v = n.startsWith(QLatin1String("0x"), Qt::CaseInsensitive)
                                 ? n.mid(2).toULongLong(&ok, 16)
                                 : n.toULongLong(&ok, 10);
        if (!ok || v > 0xFFFFFFFFull) return std::nullopt;
        return RegValue::dword(quint32(v));
    }
    if (hasPrefix("hex:") || hasPrefix("hex(")) {
        quint32 type = REG_BINARY;
        qsizetype start = 4;
        if (hasPrefix("hex(")) {
            const qsizetype close = raw.indexOf(QLatin1String("):"));
            if (close < 0) return std::nullopt;
            bool ok = false;
            type = raw.mid(4, close - 4).toUInt(&ok, 16);
            if (!ok) return std::nullopt;
            start = close + 2;
        }
        std::optional<QByteArray> bytes = parseHexBytes(raw.mid(start));
        if (!bytes) return std::nullopt;
        RegValue v;
        v.type = type;
        v.data = *bytes;
        v.length = quint32(bytes->size());
        return v;
    }
    // Untyped values are text, so a hand-written file stays simple.
    return RegValue::text(raw);
}

QString normalizedSection(const QString& section) {
    QString s = section.trimmed();
    while (s.endsWith(QLatin1Char('\\'))) s.chop(1);
    return s.toLower();
}

} // namespace

QString IniRegistry::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/registry.ini");
}

std::optional<RegKeyValues> IniRegistry::lookupKey(quint32 root, const QString& keyPath) {
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QString wanted = normalizedKey(root, keyPath);
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));

    bool found = false;
    bool inKey = false;
    RegKeyValues values;
    for (const QString& rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            inKey = normalizedSection(line.mid(1, line.size() - 2)) == wanted;
            found = found || inKey;
            continue;
        }
        if (!inKey) continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq < 0) continue;
        QString name = line.left(eq).trimmed();
        if (name == QLatin1String("@")) name.clear(); // the key's default value
        if (std::optional<RegValue> v = parseIniValue(line.mid(eq + 1).trimmed()))
            values.insert(name.toLower(), *v);
    }
    if (!found) return std::nullopt;
    return values;
}

// --- in memory ---------------------------------------------------------

void MemoryRegistry::addKey(quint32 root, const QString& keyPath) {
    keys_[normalizedKey(root, keyPath)];
}

void MemoryRegistry::setValue(quint32 root, const QString& keyPath, const QString& name,
                              RegValue value) {
    keys_[normalizedKey(root, keyPath)].insert(name.toLower(), std::move(value));
}

std::optional<Registry::Handle> MemoryRegistry::open(quint32 root, const QString& keyPath,
                                                     quint32 access) {
    ++openAttempts_;
    accessMasks_.append(access);
    std::optional<Handle> h = SnapshotRegistry::open(root, keyPath, access);
    if (h) ++opens_;
    return h;
}

void MemoryRegistry::close(Handle key) {
    ++closes_;
    SnapshotRegistry::close(key);
}

std::optional<RegKeyValues> MemoryRegistry::lookupKey(quint32 root, const QString& keyPath) {
    const auto it = keys_.constFind(normalizedKey(root, keyPath));
    if (it == keys_.constEnd()) return std::nullopt;
    return *it;
}

// --- reading one value ---------------------------------------------------

bool GetKeyValue(Registry& registry, quint32 KeyRoot, const QString& KeyName,
                 const QString& SubKeyRef, QString& KeyVal) {
    const std::optional<Registry::Handle> key = registry.open(KeyRoot, KeyName, kKeyAccessMask);
    if (!key) return false;
    const std::optional<RegValue> value = registry.queryValue(*key, SubKeyRef, kValueBufferSize);
    if (!value) {
        registry.close(*key);
        return false;
    }
    const quint32 length = std::min(value->length, kValueBufferSize);
    QByteArray bytes = value->data.left(qsizetype(length));
    // Dropping a final NUL never changes a number: its last byte is the
    // most significant one.
    if (bytes.endsWith('\0')) bytes.chop(1);

    switch (value->type) {
    case REG_SZ:
        KeyVal = QString::fromUtf8(bytes);
        break;
    case REG_DWORD: {
        // Most significant byte first, two digits each, so the digits are
        // the number's true hexadecimal value.
        const QByteArray dword = bytes.left(4);
        QString hex;
        for (qsizetype i = dword.size() - 1; i >= 0; --i)
            hex += QStringLiteral("%1").arg(uint(uchar(dword.at(i))), 2, 16, QLatin1Char('0'));
        KeyVal = QString::number(hex.isEmpty() ? 0u : hex.toUInt(nullptr, 16));
        break;
    }
    default:
        KeyVal = QString::fromLatin1(bytes);
        break;
    }
    registry.close(*key);
    return true;
}

} // namespace windows
