#include "peer/listen.h"

#include "diag/debug_log.h"

#include <QTcpServer>

namespace peer {

std::optional<quint16> listenForPeer(QTcpServer& server, const QList<quint16>& ports)
{
    for (const quint16 port : ports) {
        if (server.listen(QHostAddress::AnyIPv4, port))
            return server.serverPort();
        diag::DebugLog(QStringLiteral("bind() error"));
    }
    return std::nullopt;
}

} // namespace peer
