#include "ConnectString.h"

namespace cache {

std::optional<ConnectTarget> parseConnectString(const QString& text) {
    static const QString prefix = QStringLiteral("cn_iptcp:");
    if (!text.startsWith(prefix, Qt::CaseInsensitive))
        return std::nullopt;
    // The port sits in the last bracket pair, so a server path may itself
    // contain brackets.
    const int close = text.lastIndexOf(QStringLiteral("]:"));
    if (close < 0)
        return std::nullopt;
    const int open = text.lastIndexOf(QLatin1Char('['), close);
    if (open < prefix.size())
        return std::nullopt;
    ConnectTarget t;
    t.server = text.mid(prefix.size(), open - prefix.size());
    t.port = text.mid(open + 1, close - open - 1);
    t.nameSpace = text.mid(close + 2);
    if (t.server.isEmpty() || t.nameSpace.isEmpty())
        return std::nullopt;
    return t;
}

QString makeConnectString(const QString& server, const QString& port, const QString& nameSpace) {
    return QStringLiteral("cn_iptcp:") + server + QLatin1Char('[') + port + QStringLiteral("]:") +
           nameSpace;
}

} // namespace cache
