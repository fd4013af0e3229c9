#pragma once

#include "peer/session_record.h"

#include <QByteArray>
#include <QString>

#include <functional>

class QObject;
class QSslSocket;

namespace peer {

class ChatHost;

// The end of a private link's handshake: the protection it has, with the peer's certificate,
// or why it was refused.
struct PrivateLinkResult
{
    bool trusted = false;
    LinkProtection protection = LinkProtection::None;
    QByteArray fingerprint; // lower-case hex SHA-256 of the peer's certificate
    QString refusal;
};

// A TLS socket with our identity for a private link we connect out on; null when this
// installation has no identity (the link cannot be private then).
QSslSocket* newPrivateSocket(ChatHost& host, QObject* parent);

// Watches the handshake of `socket` with `nick`, as either side, and calls `done` once: the
// peer's certificate is judged by the contact's pin, pinned on first use, and a changed or
// missing one is refused (the socket is then aborted).
void watchPrivateLink(QSslSocket& socket, ChatHost& host, const QByteArray& nick,
                      std::function<void(const PrivateLinkResult&)> done);

// What a chat window says about the protection of its link.
QString protectionText(LinkProtection protection, const QByteArray& fingerprint);

} // namespace peer
