#include "irc/ident_responder.h"

#include "config/paths.h"
#include "diag/debug_log.h"
#include "irc/texts.h"

#include <QTcpSocket>

namespace irc {

namespace {

constexpr int kInfoPane = 2;

// Qt binds and listens in one call; its error says which of the steps failed.
const char* listenFailureText(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::AddressInUseError:
    case QAbstractSocket::SocketAccessError:
    case QAbstractSocket::SocketAddressNotAvailableError:
        return text::kLogBindError;
    case QAbstractSocket::SocketResourceError:
    case QAbstractSocket::UnsupportedSocketOperationError:
        return text::kLogSocketError;
    default:
        return text::kLogListenError;
    }
}

} // namespace

IdentResponder::IdentResponder(NickSource nickInUse, QObject* parent)
    : IdentResponder(std::move(nickInUse), kIdleTimeout, parent)
{}

IdentResponder::IdentResponder(NickSource nickInUse, std::chrono::milliseconds idleTimeout,
                               QObject* parent)
    : IdentResponder(std::move(nickInUse), idleTimeout, kMaxLifetime, parent)
{}

IdentResponder::IdentResponder(NickSource nickInUse, std::chrono::milliseconds idleTimeout,
                               std::chrono::milliseconds lifetime, QObject* parent)
    : QObject(parent)
    , m_nickInUse(std::move(nickInUse))
{
    m_lifetimeTimer.setSingleShot(true);
    m_lifetimeTimer.setInterval(lifetime);
    connect(&m_lifetimeTimer, &QTimer::timeout, this, &IdentResponder::endConnection);
    // Taking more than one connection off the queue would accept a query we then drop.
    m_server.setMaxPendingConnections(1);
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(idleTimeout);
    connect(&m_server, &QTcpServer::newConnection, this, &IdentResponder::accept);
    connect(&m_server, &QTcpServer::acceptError, this,
            [] { diag::DebugLog(QString::fromLatin1(text::kLogAcceptError)); });
    connect(&m_idleTimer, &QTimer::timeout, this, &IdentResponder::endConnection);
}

IdentResponder::~IdentResponder()
{
    if (m_connection) {
        m_connection->disconnect(this);
        m_connection->abort();
        delete m_connection;
    }
}

void IdentResponder::stop()
{
    m_state = State::Off;
    m_idleTimer.stop();
    m_lifetimeTimer.stop();
    m_server.close();
    if (m_connection) {
        m_connection->disconnect(this);
        m_connection->abort();
        m_connection->deleteLater();
        m_connection = nullptr;
    }
}

quint16 IdentResponder::portFromEnvironment()
{
    return config::identPort();
}

bool IdentResponder::start()
{
    return start(portFromEnvironment());
}

bool IdentResponder::start(quint16 port, const QHostAddress& address)
{
    if (m_state != State::Off)
        return true;
    m_port = port;
    m_address = address;
    return listen();
}

bool IdentResponder::listen()
{
    if (!m_server.listen(m_address, m_port)) {
        m_state = State::Off;
        diag::DebugLog(QString::fromLatin1(listenFailureText(m_server.serverError())));
        diag::DebugLog(m_server.errorString(), kInfoPane);
        return false;
    }
    // Port 0 asked for any free port; listening again after a query must reuse the one found.
    m_port = m_server.serverPort();
    m_state = State::Listening;
    return true;
}

void IdentResponder::accept()
{
    QTcpSocket* socket = m_server.nextPendingConnection();
    if (!socket)
        return;
    m_server.close();
    socket->setParent(this);
    // readAll() then never returns more than a few requests' worth, which bounds the replies
    // built from one read.
    socket->setReadBufferSize(4 * kMaxIdentRequestBytes);
    m_connection = socket;
    m_framer = IdentRequestFramer();
    m_state = State::Serving;
    connect(socket, &QTcpSocket::readyRead, this, &IdentResponder::answer);
    connect(socket, &QTcpSocket::disconnected, this, &IdentResponder::endConnection);
    connect(socket, &QTcpSocket::errorOccurred, this, &IdentResponder::onSocketError);
    m_idleTimer.start();
    m_lifetimeTimer.start();
    diag::DebugLog(QString::fromLatin1(text::kLogIdentAccepted));
}

void IdentResponder::answer()
{
    if (!m_connection)
        return;
    const IdentRequestFramer::Result result = m_framer.feed(m_connection->readAll());
    for (const QByteArray& request : result.requests) {
        if (!sendReply(request))
            return;
    }
    if (!result.requests.isEmpty())
        m_idleTimer.start();
    if (m_connection) {
        m_connection->flush();
        if (result.overLong || m_connection->bytesToWrite() > kMaxUnsentBytes)
            endConnection();
    }
}

bool IdentResponder::sendReply(const QByteArray& request)
{
    diag::DebugLog(QString::fromLatin1(request), kInfoPane);
    const QByteArray reply = BuildIdentReply(request, m_nickInUse ? m_nickInUse() : QByteArray());
    const qint64 written = m_connection ? m_connection->write(reply) : -1;
    if (written < 0) {
        diag::DebugLog(QString::fromLatin1(text::kLogSendError));
        return false;
    }
    if (written < reply.size())
        diag::DebugLog(QString::fromLatin1(text::kLogSendShort));
    diag::DebugLog(QString::fromLatin1(reply.chopped(2)));
    return true;
}

void IdentResponder::onSocketError()
{
    if (!m_connection)
        return;
    if (m_connection->error() != QAbstractSocket::RemoteHostClosedError) {
        diag::DebugLog(QString::fromLatin1(text::kLogIdentRecvError));
        diag::DebugLog(m_connection->errorString(), kInfoPane);
    }
    if (m_connection->state() == QAbstractSocket::UnconnectedState)
        endConnection();
}

void IdentResponder::endConnection()
{
    if (!m_connection)
        return;
    m_idleTimer.stop();
    m_lifetimeTimer.stop();
    QTcpSocket* socket = m_connection;
    m_connection = nullptr;
    socket->disconnect(this);
    // Replies already written go out as far as the peer takes them; waiting for the rest would
    // let a peer that never reads keep the listener closed.
    socket->flush();
    socket->abort();
    socket->deleteLater();
    diag::DebugLog(QString::fromLatin1(text::kLogIdentClosed));
    listen();
}

} // namespace irc
