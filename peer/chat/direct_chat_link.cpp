#include "peer/chat/direct_chat_link.h"

#include "diag/debug_log.h"
#include "peer/common/chat_host.h"
#include "peer/common/chat_text.h"
#include "peer/common/session_record.h"
#include "peer/common/texts.h"
#include "peer/crypto/encrypted_chat.h"
#include "peer/link/listen.h"
#include "peer/link/private_link.h"

#include <QSslSocket>
#include <QTcpSocket>

namespace peer {

namespace {

constexpr char kUnsealedNote[] = "*The next line arrived unencrypted*\r\n";
constexpr char kFaultNote[] =
    "*The encrypted link lost its framing and was closed; nothing after this point arrived*\r\n";
constexpr char kEndedNote[] = "*Encryption ended*\r\n";
constexpr char kCutNote[] = "*A line too long to show was dropped*\r\n";

} // namespace

DirectChatLink::DirectChatLink(ChatSession& session, ChatHost& host, QObject* parent)
    : QObject(parent)
    , m_session(session)
    , m_host(host)
    , m_trusted(!session.isPrivate())
    , m_endpoint(new DccEndpoint(this))
{
    m_session.link = this;
    connect(m_endpoint, &DccEndpoint::peerConnected, this, &DirectChatLink::accept);
    connect(m_endpoint, &DccEndpoint::expired, this, [this](std::chrono::milliseconds waited) {
        emit noteShown(noteLine(offerExpiredText(waited).toUtf8()));
    });
}

DirectChatLink::~DirectChatLink()
{
    m_session.cipher.reset();
    m_session.keyInstalled = false;
}

PeerListen DirectChatLink::listening() const
{
    PeerListen how;
    how.privateHost = m_session.isPrivate() ? &m_host : nullptr;
    how.nick = m_session.nick;
    how.expiry = m_host.linkTimeouts().listen;
    return how;
}

void DirectChatLink::connectTo(const QHostAddress& address, quint16 port)
{
    if (m_session.isPrivate()) {
        QTcpSocket* socket = DccEndpoint::newSocket(&m_host, this);
        if (!socket) {
            emit noteShown(noteLine("No certificate of our own for a private link; not connected"));
            emit closed();
            return;
        }
        attach(socket);
        secure(socket);
        static_cast<QSslSocket*>(socket)->connectToHostEncrypted(address.toString(), port);
        return;
    }
    auto* socket = new QTcpSocket(this);
    attach(socket);
    // Our own encrypted chat, offered passively: the side that offered sends the key, and here
    // that is the side that connects.
    if (m_session.isEncrypted() && !m_session.keyInstalled)
        connect(socket, &QTcpSocket::connected, this, &DirectChatLink::offerKey);
    socket->connectToHost(address, port);
}

void DirectChatLink::secure(QTcpSocket* socket)
{
    DccEndpoint::watch(socket, m_host, m_session.nick, [this](const PrivateLinkResult& result) {
        if (result.verdict == PrivateLinkResult::Verdict::Refused) {
            emit noteShown(noteLine(result.refusal.toUtf8()));
            return;
        }
        m_ownFingerprint = result.ownFingerprint;
        m_role = result.role;
        if (result.verdict == PrivateLinkResult::Verdict::AskUser) {
            m_heldFingerprint = result.fingerprint;
            m_session.peerFingerprint = result.fingerprint;
            emit peerKeyToAccept();
            return;
        }
        m_trusted = true;
        m_session.tls = result.protection;
        m_session.peerFingerprint = result.fingerprint;
        emit protectionChanged();
        // What arrived with the handshake.
        readAll();
    });
}

LinkEnds DirectChatLink::ends() const
{
    return {m_role, m_ownFingerprint, m_session.peerFingerprint};
}

void DirectChatLink::acceptPeerKey()
{
    auto* socket = qobject_cast<QSslSocket*>(m_socket.data());
    if (!awaitsPeerKey() || !socket)
        return;
    // Whoever it was has gone: nobody is left to pin.
    if (socket->state() != QAbstractSocket::ConnectedState) {
        m_heldFingerprint.clear();
        return;
    }
    peer::acceptPeerKey(*socket, m_host, m_session.nick, m_heldFingerprint);
    m_heldFingerprint.clear();
    m_trusted = true;
    m_session.tls = LinkProtection::TlsNotYetVerified;
    emit protectionChanged();
    // What the peer sent while we waited.
    readAll();
}

void DirectChatLink::refusePeerKey()
{
    if (!awaitsPeerKey())
        return;
    const QString refusal = peerKeyRefusedText(m_session.nick);
    diag::DebugLog(refusal);
    m_heldFingerprint.clear();
    emit noteShown(noteLine(refusal.toUtf8()));
    close();
}

void DirectChatLink::accept(QTcpSocket* socket)
{
    attach(socket);
    emit connected();
    if (m_session.isPrivate())
        secure(socket);
    else if (m_session.isEncrypted())
        offerKey();
}

void DirectChatLink::attach(QTcpSocket* socket)
{
    m_socket = socket;
    connect(socket, &QTcpSocket::readyRead, this, &DirectChatLink::readAll);
    connect(socket, &QTcpSocket::disconnected, this, &DirectChatLink::closed);
    connect(socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        if (m_socket && m_socket->state() == QAbstractSocket::UnconnectedState)
            emit closed();
    });
}

bool DirectChatLink::hasPeer() const
{
    return !m_socket.isNull();
}

bool DirectChatLink::isConnected() const
{
    return m_trusted && m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool DirectChatLink::send(const QByteArray& text)
{
    if (!isConnected())
        return false;
    QByteArray data;
    if (m_session.keyInstalled) {
        for (const QByteArray& piece : splitChatText(text)) {
            if (const auto packet = SealChatText(m_session.cipher, piece))
                data += *packet;
        }
    } else {
        data = text + '\n';
    }
    return m_socket->write(data) == data.size();
}

void DirectChatLink::offerKey()
{
    const QByteArray key = MakeChatKey();
    const auto message = chatKeyMessage(key);
    if (!message || !isConnected())
        return;
    installKey(key);
    m_socket->write(*message);
}

void DirectChatLink::endEncryption()
{
    if (!m_session.keyInstalled)
        return;
    if (isConnected())
        m_socket->write(kEndMessage);
    dropKey();
}

void DirectChatLink::installKey(const QByteArray& key)
{
    if (!installChatKey(m_session.cipher, key))
        return;
    // A key the peer sent over a plain link makes it an encrypted chat from now on.
    if (m_session.mode == ChatMode::Direct)
        m_session.mode = ChatMode::Encrypted;
    m_session.keyInstalled = true;
    m_framer.setEncrypted(true);
    emit keyChanged();
}

void DirectChatLink::dropKey()
{
    m_session.cipher.reset();
    m_session.keyInstalled = false;
    m_framer.setEncrypted(false);
    emit keyChanged();
    emit noteShown(kEndedNote);
}

void DirectChatLink::readAll()
{
    // Read until drained: a handler may open a box whose nested loop swallows the next signal.
    while (m_trusted && m_socket && m_socket->bytesAvailable() > 0) {
        const QByteArray bytes = m_socket->read(64 * 1024);
        for (const DirectChatEvent& event : m_framer.feed(bytes))
            handle(event);
    }
}

void DirectChatLink::handle(const DirectChatEvent& event)
{
    switch (event.kind) {
    case DirectChatEventKind::Text:
        emit textReceived(event.data);
        break;
    case DirectChatEventKind::Packet:
        if (const auto opened = OpenChatPacket(m_session.cipher, event.data)) {
            emit ciphertextReceived(opened->ciphertext);
            emit textReceived(opened->text);
        } else {
            diag::DebugLog(QStringLiteral("Refused an encrypted packet that does not open"));
        }
        break;
    case DirectChatEventKind::Key:
        installKey(event.data);
        break;
    case DirectChatEventKind::End:
        // Never answered with an end of our own, which would bounce between the two sides.
        dropKey();
        break;
    case DirectChatEventKind::UnsealedText:
        emit noteShown(kUnsealedNote);
        emit textReceived(event.data);
        break;
    case DirectChatEventKind::LineCut:
        diag::DebugLog(QStringLiteral("Direct chat: dropped a line longer than %1 bytes")
                           .arg(DirectChatFramer::kMaxLineLength));
        emit noteShown(kCutNote);
        break;
    case DirectChatEventKind::Fault:
        diag::DebugLog(QStringLiteral("Direct chat: bad packet length, link closed"));
        emit noteShown(kFaultNote);
        close();
        break;
    }
}

void DirectChatLink::close()
{
    m_heldFingerprint.clear();
    if (m_socket)
        m_socket->abort();
    m_endpoint->close();
    m_session.cipher.reset();
    m_session.keyInstalled = false;
    emit closed();
}

} // namespace peer
