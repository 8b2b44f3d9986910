#pragma once

// Interpreter for the routine lines that ZK.Windows.Xecute accepts. Only the
// line forms the client sends are understood; everything else is a
// <SYNTAX> error. Nothing of a line ever reaches SQL as text.

#include "Store.h"

#include <QHash>
#include <QString>

namespace cache::server {

// Local variables of one server session (FIRMA, FIL, PERSONAL, ...).
struct Session {
    QHash<QString, QString> vars;
};

// Runs one line; returns what the line wrote. Throws CacheError.
QString xecute(const QString& line, Session& session, Store& store);

// The character between the rows of a routine answer.
constexpr char16_t kRowSeparator = 0xFF;

} // namespace cache::server
