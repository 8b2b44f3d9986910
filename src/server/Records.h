#pragma once

// The two process-wide records of the server access: where the connection
// goes, and who is logged in. Plain text fields, shared by every part of
// the program.

#include <QString>

namespace srv {

// The server address used when neither the settings nor the command line
// give one: the in-process server on the per-user SQLite file.
inline const QString kDefaultServer = QStringLiteral("embedded");
// The program's own name towards the permission check and in messages.
inline const QString kApplicationTitle = QStringLiteral("Tallvero");

struct ConnectionSettings {
    QString Server;
    QString Port;
    QString Namespace; // shown and saved only; the connect string ignores it
    QString WJ;
    QString ConnectString;
    QString CommandLine;
};

struct UserContext {
    QString Firma;
    QString Filiale;
    QString Personalcode;
    QString Passwort;
    QString Benutzer; // Personalcode + "|" + BenutzerName, "" while nobody is logged in
    QString BenutzerName;
    QString PersonalNr;
    QString DW;
    QString BerGrp;
    QString Abteilung;
    QString AbteilungBez;
    QString HauptAbteilung;
    QString Fax;
    QString EMail;
};

ConnectionSettings& connectionSettings();
UserContext& userContext();

// Back to the empty state of program start (tests).
void resetRecords();

} // namespace srv
