#include "irc/server_link.h"

#include "config/store.h"
#include "diag/debug_log.h"
#include "irc/texts.h"

#include <QHostInfo>
#include <QMetaObject>
#include <QTcpSocket>

namespace irc {

namespace {

QString fromStore(const QByteArray& bytes)
{
    return QString::fromUtf8(bytes);
}

QHostAddress firstUsableAddress(const QHostInfo& info)
{
    // DCC offers carry IPv4 addresses, so an IPv4 answer is preferred when there is one.
    for (const QHostAddress& address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol)
            return address;
    }
    return info.addresses().isEmpty() ? QHostAddress() : info.addresses().constFirst();
}

} // namespace

ServerLink::ServerLink(config::Store& store, config::Settings settings, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_settings(std::move(settings))
{}

ServerLink::~ServerLink()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        delete m_socket;
    }
}

bool ServerLink::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void ServerLink::postConnectToCurrentServer()
{
    const int generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_generation)
                connectToCurrentServer();
        },
        Qt::QueuedConnection);
}

void ServerLink::connectToCurrentServer()
{
    const std::vector<config::ServerEntry> servers = m_store.EnumServers();
    if (servers.empty()) {
        m_state = State::Idle;
        emit statusChanged({LinkStatus::Step::NoServers});
        return;
    }
    if (m_serverIndex < 0 || m_serverIndex >= static_cast<int>(servers.size())) {
        m_state = State::Idle;
        emit statusChanged({LinkStatus::Step::AllServersFailed});
        m_serverIndex = 0;
        return;
    }
    diag::DebugLog(QString::fromLatin1(text::kTryingServer).arg(m_serverIndex), 2);
    m_server = servers[static_cast<size_t>(m_serverIndex)];
    connectToEntry();
}

void ServerLink::resolveAndConnect()
{
    const std::vector<config::ServerEntry> servers = m_store.EnumServers();
    if (m_serverIndex < 0 || m_serverIndex >= static_cast<int>(servers.size()))
        return;
    m_server = servers[static_cast<size_t>(m_serverIndex)];
    connectToEntry();
}

void ServerLink::connectToEntry()
{
    const int generation = m_generation;
    const int port = m_server.port;

    QHostAddress literal;
    if (literal.setAddress(fromStore(m_server.address))
        && literal.protocol() == QAbstractSocket::IPv4Protocol) {
        m_state = State::Connecting;
        QMetaObject::invokeMethod(
            this,
            [this, literal, port, generation] {
                if (generation == m_generation)
                    connectToAddress(literal, port);
            },
            Qt::QueuedConnection);
        return;
    }

    m_state = State::Resolving;
    QHostInfo::lookupHost(
        fromStore(m_server.address), this, [this, generation](const QHostInfo& info) {
            const bool ok = info.error() == QHostInfo::NoError && !info.addresses().isEmpty();
            lookUpFinished(firstUsableAddress(info), ok, generation);
        });
}

void ServerLink::lookUpFinished(const QHostAddress& address, bool ok, int generation)
{
    if (generation != m_generation)
        return;
    if (!ok) {
        emit statusChanged({LinkStatus::Step::ResolveFailed});
        postConnectToCurrentServer();
        ++m_serverIndex;
        return;
    }
    connectToAddress(address, m_server.port);
}

void ServerLink::connectToAddress(const QHostAddress& address, int port)
{
    retireSocket();
    m_attempted = true;
    m_state = State::Connecting;
    m_framer.reset();
    m_pending.clear();

    auto* socket = new QTcpSocket(this);
    m_socket = socket;
    connect(socket, &QTcpSocket::connected, this, &ServerLink::onConnected);
    connect(socket, &QTcpSocket::errorOccurred, this, &ServerLink::onSocketError);
    connect(socket, &QTcpSocket::disconnected, this, &ServerLink::onDisconnected);
    connect(socket, &QTcpSocket::readyRead, this, &ServerLink::onReadyRead);

    if (port < 1 || port > 65535) {
        // A stored port outside the TCP range can never connect; fail it as a refused
        // connection would, so the pass goes on with the next server.
        const int generation = m_generation;
        QMetaObject::invokeMethod(
            this,
            [this, generation, port] {
                if (generation == m_generation && m_state == State::Connecting)
                    connectFailed(QStringLiteral("invalid port %1").arg(port));
            },
            Qt::QueuedConnection);
        return;
    }
    socket->connectToHost(address, static_cast<quint16>(port));
}

void ServerLink::onConnected()
{
    m_state = State::Registered;
    diag::DebugLog(text::kLogConnectionEstablished);
    emit statusChanged({LinkStatus::Step::SendingUserInfo});

    const QByteArray& nick = m_settings.nick;
    if (!m_settings.serverpass.isEmpty())
        sendLine("PASS " + m_settings.serverpass);
    sendLine("NICK " + nick);
    sendLine("USER " + nick + " 0 * :" + m_settings.realname);
    emit registered(nick);

    emit statusChanged({LinkStatus::Step::Connected, m_serverIndex, m_server.address});
    // Servers today take nicks longer than nine characters; cutting it here would make our own
    // nick look foreign to the nick-collision handling.
    m_nickInUse = nick;
    sendLine("WHO " + nick);
}

void ServerLink::onSocketError()
{
    if (!m_socket)
        return;
    if (m_state == State::Connecting) {
        connectFailed(m_socket->errorString());
        return;
    }
    if (m_state == State::Registered
        && m_socket->error() != QAbstractSocket::RemoteHostClosedError) {
        diag::DebugLog(text::kLogRecvError);
        diag::DebugLog(m_socket->errorString(), 2);
        // A reset link may report only the error; treat it as lost unless the close follows.
        if (m_socket->state() == QAbstractSocket::UnconnectedState)
            linkLost();
    }
}

void ServerLink::onDisconnected()
{
    if (m_state == State::Registered)
        linkLost();
}

void ServerLink::connectFailed(const QString& detail)
{
    emit attemptFailed();
    retireSocket();
    m_state = State::Idle;
    ++m_serverIndex;
    postConnectToCurrentServer();
    diag::DebugLog(text::kLogConnectError);
    diag::DebugLog(detail, 2);
}

void ServerLink::linkLost()
{
    // Lines already read still reach the parser before the link is counted as gone.
    readAvailable();
    QPointer<ServerLink> self(this);
    deliverPending();
    if (!self)
        return;
    if (m_state != State::Registered)
        return; // a handler of those lines already ended the link
    ++m_serverIndex;
    emit lost();
    retireSocket();
    m_state = State::Idle;
    emit statusChanged({LinkStatus::Step::Reconnecting, m_serverIndex});
    postConnectToCurrentServer();
}

void ServerLink::onReadyRead()
{
    readAvailable();
    // Delivered from the event loop, not from inside this signal: Qt does not signal readyRead
    // again while a handler of it runs, so a handler that opens a box would stall the link (no
    // PONG, lines piling up) for as long as the box stays open.
    scheduleDelivery();
}

void ServerLink::readAvailable()
{
    while (m_socket && m_socket->bytesAvailable() > 0) {
        const QByteArray bytes = m_socket->readAll();
        if (bytes.isEmpty())
            break;
        QList<QByteArray> lines = m_framer.feed(bytes);
        if (const int dropped = m_framer.takeDroppedLines(); dropped > 0) {
            diag::DebugLog(QStringLiteral("Dropped %1 server line(s) longer than %2 bytes")
                               .arg(dropped)
                               .arg(LineFramer::kMaxPendingBytes));
        }
        if (lines.isEmpty())
            continue;
        emit batchReceived(lines);
        for (QByteArray& line : lines)
            m_pending.push_back(std::move(line));
    }
}

void ServerLink::scheduleDelivery()
{
    if (m_deliveryPosted || m_pending.empty())
        return;
    m_deliveryPosted = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_deliveryPosted = false;
            deliverPending();
        },
        Qt::QueuedConnection);
}

void ServerLink::deliverPending()
{
    // A handler may run a nested event loop (a message box); the lines still queued then go
    // out from that loop, so the queue keeps arrival order whichever loop delivers a line.
    QPointer<ServerLink> self(this);
    while (!m_pending.empty()) {
        QByteArray line = std::move(m_pending.front());
        m_pending.pop_front();
        scheduleDelivery();
        emit lineReceived(line);
        if (!self)
            return;
    }
}

void ServerLink::disconnectFromServer()
{
    ++m_generation;
    if (m_socket) {
        writeBytes("QUIT\r\n");
        retireSocket();
    }
    m_state = State::Idle;
    m_pending.clear();
    emit statusChanged({LinkStatus::Step::Disconnected});
    emit closedByUser();
}

void ServerLink::quitForClose()
{
    ++m_generation;
    if (!m_attempted)
        return;
    if (!writeBytes(QByteArray(text::kQuitAtClose) + "\r\n"))
        diag::DebugLog(text::kLogSendError);
    retireSocket();
    m_state = State::Idle;
}

void ServerLink::retireSocket()
{
    if (!m_socket)
        return;
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    // Closing the link ourselves is not a lost link: no reconnection may follow.
    socket->disconnect(this);
    socket->flush();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

bool ServerLink::writeBytes(const QByteArray& bytes)
{
    if (!isConnected())
        return false;
    if (m_socket->write(bytes) != bytes.size())
        return false;
    // Hand the bytes to the kernel now: the quit line must leave before the process ends.
    m_socket->flush();
    return true;
}

bool ServerLink::sendLine(const QByteArray& line)
{
    if (line.contains('\r') || line.contains('\n') || line.contains('\0')) {
        diag::DebugLog(QStringLiteral("Refused to send a line holding CR, LF or NUL"));
        return false;
    }
    return writeBytes(line + "\r\n");
}

bool ServerLink::sendRaw(const QByteArray& bytes)
{
    return writeBytes(bytes);
}

QHostAddress ServerLink::localAddress() const
{
    return isConnected() ? m_socket->localAddress() : QHostAddress();
}

QHostAddress ServerLink::peerAddress() const
{
    return isConnected() ? m_socket->peerAddress() : QHostAddress();
}

} // namespace irc
