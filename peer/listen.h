#pragma once

#include <QList>

#include <optional>

class QTcpServer;

namespace peer {

// Makes `server` listen for the peer of an offer on the first of `ports` that can be bound,
// noting each port that cannot in the debug window. The port, or nothing when none could.
std::optional<quint16> listenForPeer(QTcpServer& server, const QList<quint16>& ports);

} // namespace peer
