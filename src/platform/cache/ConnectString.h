#pragma once

#include <QString>

#include <optional>

namespace cache {

// "cn_iptcp:" + server + "[" + port + "]:" + namespace
struct ConnectTarget {
    QString server;
    QString port;
    QString nameSpace;
};

std::optional<ConnectTarget> parseConnectString(const QString& text);
QString makeConnectString(const QString& server, const QString& port,
                          const QString& nameSpace = QStringLiteral("ZORVEK"));

} // namespace cache
