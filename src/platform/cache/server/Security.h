#pragma once

// Where the passwords live and who reads what.
//
// SQLite (one user's own file): the login records keep a salted Argon2id
// hash of libsodium, never the password; a file with plain passwords is
// converted when it is opened.
//
// PostgreSQL: every personnel code is a login role of the same name whose
// password PostgreSQL keeps; no table holds a password or a hash. Row-level
// security and a few SECURITY DEFINER functions limit every role to what
// the client may show it: the gate role (before a login) the fiscal-year
// text, the build information and whether a login exists; a user the
// master data of the companies with an active login record of theirs, the
// figures of those companies (a restricted user only of the departments
// the department rules allow), and their own personnel records.

#include "Database.h"

#include <QString>
#include <QStringList>

namespace cache::server {

// Cluster-wide roles: the login before a user logs in, and the group every
// personnel role belongs to (all grants go to it).
inline const QString kGateRole = QStringLiteral("tallvero_gate");
inline const QString kUserRole = QStringLiteral("tallvero_user");

// --- SQLite --------------------------------------------------------------

// An Argon2id hash in libsodium's text form (salt and cost inside).
QString hashPassword(const QString& password);
bool verifyPassword(const QString& hash, const QString& password);
bool isPasswordHash(const QString& value);
// Replaces every plain password of the login records by its hash, in one
// transaction; returns how many were converted.
int convertPlainPasswords(Database& db);

// --- PostgreSQL ----------------------------------------------------------

// The group and gate roles, the functions, grants and policies of the
// schema, and the login roles of existing records (an older database's
// plain passwords become role passwords, and the column goes). Idempotent;
// run by the owner of the tables, who needs CREATEROLE.
void createSecurity(Database& db);

// Every table of the schema that a personnel role may read at all.
const QStringList& readableTables();

// --- both ---------------------------------------------------------------

// Keeps the password of a login: SQLite as the hash in the login record
// (firma, code), PostgreSQL as the password of the role `code` (one per
// code, whatever the company). An empty password on PostgreSQL means the
// role cannot log in with a password.
void storeLoginPassword(Database& db, qint64 firma, const QString& code, const QString& password);
// PostgreSQL: creates the login role of a code if needed and lets it log
// in only while one of its login records is active. SQLite: nothing.
void syncLoginRole(Database& db, const QString& code);

} // namespace cache::server
