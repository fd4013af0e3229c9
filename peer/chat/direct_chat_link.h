#pragma once

#include "peer/chat/direct_chat_framer.h"
#include "peer/crypto/link_check.h"
#include "peer/link/dcc_endpoint.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class QTcpSocket;

namespace peer {

class ChatHost;
struct ChatSession;

// The direct (DCC) link of one chat: listens for the peer or connects to it, frames what
// arrives, seals and opens encrypted packets, and runs the key exchange. The record keeps the
// flags and the cipher; the link is the record's `link`.
class DirectChatLink : public QObject
{
    Q_OBJECT

public:
    // A private session runs TLS with `host`'s identity, the peer judged by its pin.
    DirectChatLink(ChatSession& session, ChatHost& host, QObject* parent = nullptr);
    ~DirectChatLink() override;

    // Our offer or answer: it listens for the peer, or waits for the peer's answer.
    DccEndpoint& endpoint() { return *m_endpoint; }
    const DccEndpoint& endpoint() const { return *m_endpoint; }
    // How the endpoint listens for this chat's peer.
    PeerListen listening() const;
    void connectTo(const QHostAddress& address, quint16 port);
    // Whether the link has been asked to connect or has a peer (a passive offer has neither).
    bool hasPeer() const;

    bool isConnected() const;
    // Sends one line the user typed: plain text ends in LF, encrypted text goes as packets.
    bool send(const QByteArray& text);
    // Ends encryption on both sides: the end message, then plain lines again.
    void endEncryption();
    void close();

    // Whether a private link we listened for is held, its certificate new to us, until the user
    // accepts or refuses it; the record's `peerFingerprint` is the certificate's.
    bool awaitsPeerKey() const { return !m_heldFingerprint.isEmpty(); }
    // Our own certificate's fingerprint on a private link, for the users to compare.
    const QByteArray& ownFingerprint() const { return m_ownFingerprint; }
    // The private link as this side sees it, for the checks our programs send over it.
    LinkEnds ends() const;
    // The user compared the fingerprint and accepted it: it is pinned and the link carries on.
    void acceptPeerKey();
    // The user refused the certificate: the link is closed, nothing having gone over it.
    void refusePeerKey();

signals:
    void connected();
    void textReceived(const QByteArray& text);
    void ciphertextReceived(const QByteArray& ciphertext);
    // The key was installed, replaced or ended; the record's flags say which.
    void keyChanged();
    // Something the user should know about the link, as a line for the chat view.
    void noteShown(const QByteArray& note);
    // A private link's handshake ended: the record's `tls` and `peerFingerprint` say how.
    void protectionChanged();
    // A private link is held until the user accepts its certificate (awaitsPeerKey()).
    void peerKeyToAccept();
    void closed();

private:
    void accept(QTcpSocket* socket);
    void attach(QTcpSocket* socket);
    void secure(QTcpSocket* socket);
    void readAll();
    void handle(const DirectChatEvent& event);
    void installKey(const QByteArray& key);
    void dropKey();
    void offerKey();

    ChatSession& m_session;
    ChatHost& m_host;
    // A private link carries nothing until the peer's certificate has been judged.
    bool m_trusted = false;
    DccEndpoint* m_endpoint;
    QPointer<QTcpSocket> m_socket;
    DirectChatFramer m_framer;
    QByteArray m_heldFingerprint;
    QByteArray m_ownFingerprint;
    LinkRole m_role = LinkRole::Connector;
};

} // namespace peer
