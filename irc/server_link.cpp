#include "irc/server_link.h"

#include "config/store.h"
#include "diag/debug_log.h"
#include "irc/commands.h"
#include "irc/texts.h"

#include <QMetaObject>
#include <QRandomGenerator>
#include <QSslSocket>
#include <QTcpSocket>

#include <algorithm>

namespace irc {

ServerLink::ServerLink(config::Store& store, config::Settings settings, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_settings(std::move(settings))
    , m_registrationTimer(makeRetryTimer())
    , m_retryTimer(makeRetryTimer())
    , m_jitter([] { return QRandomGenerator::global()->bounded(2.0) - 1.0; })
    , m_trust(store)
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
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState)
        return false;
    // A TLS link counts from the end of its handshake: nothing may go out before it, in clear.
    const auto* secure = qobject_cast<const QSslSocket*>(m_socket.data());
    return !secure || secure->isEncrypted();
}

void ServerLink::setRegistrationTimer(std::unique_ptr<RetryTimer> timer)
{
    m_registrationTimer->stop();
    m_registrationTimer = std::move(timer);
}

void ServerLink::onConnected()
{
    m_state = State::Registered;
    diag::DebugLog(text::kLogConnectionEstablished);
    emit statusChanged({LinkStatus::Step::SendingUserInfo});

    const QByteArray& nick = m_settings.nick;
    // The password of this entry only: another server of the list never sees it.
    m_registration = Registration(nick, m_settings.realname,
                                  m_passwordSource ? m_passwordSource(m_server)
                                                   : m_store.serverPassword(m_server));
    m_registrationStart = m_registrationTimer->now();
    for (const QByteArray& line : m_registration.start(0))
        sendLine(line);
    armRegistrationTimer();

    emit statusChanged(
        {LinkStatus::Step::Connected, m_rotation.index(), m_server.address, m_server.tls});
    // Servers today take nicks longer than nine characters; cutting it here would make our own
    // nick look foreign to the nick-collision handling.
    m_nickInUse = nick;
    m_whoDeferred = m_registration.negotiating();
    if (!m_whoDeferred)
        sendWho(nick);
}

void ServerLink::armRegistrationTimer()
{
    const std::optional<qint64> deadline = m_registration.nextDeadline();
    if (!deadline || m_state != State::Registered) {
        m_registrationTimer->stop();
        return;
    }
    const qint64 wait = std::max<qint64>(0, *deadline - registrationElapsed());
    const int attempt = m_attemptSerial;
    m_registrationTimer->start(wait, [this, attempt] {
        if (attempt == m_attemptSerial)
            registrationTimeReached();
    });
}

qint64 ServerLink::registrationElapsed() const
{
    return m_registrationStart.msecsTo(m_registrationTimer->now());
}

void ServerLink::registrationTimeReached()
{
    if (m_state != State::Registered)
        return;
    takeRegistrationReply(m_registration.poll(registrationElapsed()));
}

void ServerLink::onSocketError()
{
    if (!m_socket)
        return;
    if (m_state == State::Connecting && m_refusal) {
        certificateNotAccepted();
        return;
    }
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
    m_rotation.linkLost();
    emit lost();
    retireSocket();
    m_state = State::Idle;
    emit statusChanged({LinkStatus::Step::Reconnecting, m_rotation.index()});
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
        const QList<QByteArrayView> lines = m_pending.push(bytes, m_framer);
        if (const int dropped = m_framer.takeDroppedLines(); dropped > 0) {
            diag::DebugLog(QStringLiteral("Dropped %1 server line(s) longer than %2 bytes")
                               .arg(dropped)
                               .arg(LineFramer::kMaxPendingBytes));
        }
        if (lines.isEmpty())
            continue;
        emit batchReceived(lines);
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
        const LineQueue::Line line = m_pending.pop();
        scheduleDelivery();
        // Parsed once, here: the registration and every listener read the same parts, which
        // view the line for as long as its delivery lasts.
        const std::optional<Message> message = parseMessage(line.view);
        takeRegistrationReply(message ? m_registration.take(*message) : Registration::Reply{});
        if (message) {
            emit messageReceived(*message);
            if (!self)
                return;
        }
        emit lineReceived(line.view);
        if (!self)
            return;
    }
}

void ServerLink::takeRegistrationReply(const Registration::Reply& reply)
{
    for (const QByteArray& out : reply.send)
        sendLine(out);
    if (m_whoDeferred && !m_registration.negotiating()) {
        m_whoDeferred = false;
        sendWho(m_nickInUse);
    }
    if (reply.welcomed)
        m_rotation.welcomed();
    if (reply.outcome == Registration::Outcome::TimedOut) {
        m_registrationTimer->stop();
        // Never let on: the attempt failed like a refused connection, and the pass goes on.
        connectFailed(QString::fromLatin1(text::kLogRegistrationTimedOut));
        return;
    }
    armRegistrationTimer();
    reportOutcome(reply.outcome);
    // Last: what its handlers start (presence polls) is only taken once the server let us on,
    // under the nick it knows, which a collision during registration may have changed.
    if (reply.welcomed)
        emit registered(m_nickInUse);
}

void ServerLink::reportOutcome(Registration::Outcome outcome)
{
    const Registration::Report report = Registration::report(outcome);
    if (report.status) {
        const LinkStatus status(*report.status);
        diag::DebugLog(statusText(status));
        emit statusChanged(status);
    } else if (report.note) {
        diag::DebugLog(report.note);
    }
}

void ServerLink::disconnectFromServer()
{
    ++m_generation;
    cancelRetry();
    m_rotation.userTakesOver();
    if (m_socket) {
        writeBytes(Command::quit() + "\r\n");
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
    cancelRetry();
    m_rotation.userTakesOver();
    if (!m_attempted)
        return;
    const auto quit = Command::quit(text::kQuitReasonAtClose);
    if (!quit || !writeBytes(*quit + "\r\n"))
        diag::DebugLog(text::kLogSendError);
    retireSocket();
    m_state = State::Idle;
}

void ServerLink::retireSocket()
{
    m_registrationTimer->stop();
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

void ServerLink::sendWho(const QByteArray& nick)
{
    if (const auto who = Command::who(nick))
        sendLine(*who);
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
