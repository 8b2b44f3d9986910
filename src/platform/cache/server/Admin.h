#pragma once

// Administration of a server database: users, permissions, overview.

#include "Store.h"

#include <QString>
#include <QStringList>

namespace cache::server {

struct NewUser {
    qint64 firma = 1;
    QString code;  // upper-cased on the way in
    QString name;
    QString password;
    QString pnr;
    QString abtnr;  // must exist as personnel department
};

// All throw CacheError with a German description on failure.
void addUser(Store& store, const NewUser& user);
void setPassword(Store& store, qint64 firma, const QString& code, const QString& password);
void setActive(Store& store, qint64 firma, const QString& code, bool active);
void setDepartment(Store& store, qint64 firma, const QString& code, const QString& abtnr);
void setPermission(Store& store, const QString& user, int level,
                   const QString& part = QStringLiteral("alles"),
                   const QString& program = QStringLiteral("Tallvero"));

// A readable overview of the database (no passwords), one line per entry.
QStringList databaseInfo(Store& store);

} // namespace cache::server
