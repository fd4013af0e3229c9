#include "irc/server_link.h"

#include "config/store.h"
#include "diag/debug_log.h"
#include "irc/commands.h"
#include "irc/sts.h"
#include "irc/texts.h"

#include <QMetaObject>
#include <QSslSocket>
#include <QTcpSocket>

namespace irc {

ServerLink::ServerLink(config::Store& store, config::Settings settings, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_settings(std::move(settings))
    , m_connector(store, m_settings.reconnect, this)
{
    // Forwarded as they come, so that every listener hears the steps of the pass in order.
    connect(&m_connector, &ServerConnector::statusChanged, this, &ServerLink::statusChanged);
    connect(&m_connector, &ServerConnector::attemptFailed, this, &ServerLink::attemptFailed);
    connect(&m_connector, &ServerConnector::lost, this, &ServerLink::lost);
    connect(&m_connector, &ServerConnector::attemptStarting, this, &ServerLink::dropSocket);
    connect(&m_connector, &ServerConnector::attemptEnded, this, &ServerLink::retireSocket);
    connect(&m_connector, &ServerConnector::connected, this, &ServerLink::takeSocket);
    connect(&m_connector, &ServerConnector::registrationTimeReached, this,
            [this](qint64 elapsedMs) { takeRegistrationReply(m_registration.poll(elapsedMs)); });
}

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

void ServerLink::setSettings(const config::Settings& settings)
{
    m_settings = settings;
    m_connector.setReconnect(m_settings.reconnect);
    m_ownNick.setChoices(m_settings.nick, m_settings.altnick);
}

void ServerLink::takeSocket(QTcpSocket* socket)
{
    m_socket = socket;
    connect(socket, &QTcpSocket::errorOccurred, this, &ServerLink::onSocketError);
    connect(socket, &QTcpSocket::disconnected, this, &ServerLink::onDisconnected);
    connect(socket, &QTcpSocket::readyRead, this, &ServerLink::onReadyRead);
    diag::DebugLog(text::kLogConnectionEstablished);
    emit statusChanged({LinkStatus::Step::SendingUserInfo});
    startRegistration();
}

void ServerLink::startRegistration()
{
    const config::ServerEntry& server = m_connector.server();
    const QByteArray& nick = m_settings.nick;
    // The password of this entry only: another server of the list never sees it. It is the
    // entry's as listed, also when a TLS-only policy took the attempt to another port.
    const config::ServerEntry& listed = m_connector.listedServer();
    m_registration =
        Registration(nick, m_settings.realname,
                     m_passwordSource ? m_passwordSource(listed) : m_store.serverPassword(listed),
                     m_settings.ircv3);
    const auto* secure = qobject_cast<const QSslSocket*>(m_socket.data());
    m_registration.setSecure(secure && secure->isEncrypted());
    if (!m_capabilities.isEmpty()) {
        m_capabilities = {};
        emit capabilitiesChanged(m_capabilities);
    }
    for (const QByteArray& line : m_registration.start(0))
        sendLine(line);
    m_connector.armRegistrationDeadline(m_registration.nextDeadline());

    emit statusChanged(
        {LinkStatus::Step::Connected, m_connector.serverIndex(), server.address, server.tls});
    // Servers today take nicks longer than nine characters: it goes whole, and the server's
    // welcome says what it made of it.
    m_ownNick.start(nick, m_settings.altnick);
    m_whoDeferred = m_registration.negotiating();
    // With the extensions asked for, WHO waits for the welcome: a server that finishes
    // registering after CAP END (InspIRCd) refuses it before, and our address is never learnt.
    m_whoAtWelcome = m_settings.ircv3;
    if (!m_whoDeferred)
        sendWho(nick);
}

void ServerLink::onSocketError()
{
    if (!m_socket || state() != State::Registered
        || m_socket->error() == QAbstractSocket::RemoteHostClosedError)
        return;
    diag::DebugLog(text::kLogRecvError);
    diag::DebugLog(m_socket->errorString(), 2);
    // A reset link may report only the error; treat it as lost unless the close follows.
    if (m_socket->state() == QAbstractSocket::UnconnectedState)
        linkLost();
}

void ServerLink::onDisconnected()
{
    if (state() == State::Registered)
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
    if (state() != State::Registered)
        return; // a handler of those lines already ended the link
    m_connector.linkLost();
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
        // Learnt first: the welcome announces us under the nick it names.
        if (message)
            takeOwnNick(*message);
        if (!self)
            return;
        takeRegistrationReply(message ? m_registration.take(*message) : Registration::Reply{});
        if (message) {
            emit messageReceived(*message);
            if (!self)
                return;
        }
        emit lineReceived(line.view, message ? &*message : nullptr);
        if (!self)
            return;
    }
}

void ServerLink::takeRegistrationReply(const Registration::Reply& reply)
{
    for (const QByteArray& out : reply.send)
        sendLine(out);
    if (m_whoDeferred && !m_registration.negotiating() && (!m_whoAtWelcome || reply.welcomed)) {
        m_whoDeferred = false;
        sendWho(m_ownNick.nick());
    }
    if (reply.welcomed)
        m_connector.welcomed();
    if (reply.stsOffered)
        takeStsPolicy();
    if (reply.capabilitiesChanged && m_registration.capabilities() != m_capabilities) {
        m_capabilities = m_registration.capabilities();
        emit capabilitiesChanged(m_capabilities);
    }
    if (reply.outcome == Registration::Outcome::TimedOut) {
        // Never let on: the attempt failed like a refused connection, and the pass goes on.
        m_connector.failAttempt(QString::fromLatin1(text::kLogRegistrationTimedOut));
        return;
    }
    m_connector.armRegistrationDeadline(m_registration.nextDeadline());
    reportOutcome(reply.outcome);
    // Last: what its handlers start (presence polls) is only taken once the server let us on,
    // under the nick it knows, which a collision during registration may have changed.
    if (reply.welcomed)
        emit registered(m_ownNick.nick());
}

void ServerLink::takeOwnNick(const Message& message)
{
    const OwnNick::Reply reply = m_ownNick.take(message);
    if (reply.askFor) {
        if (const auto line = Command::nick(*reply.askFor))
            sendLine(*line);
        sendWho(*reply.askFor);
    }
    if (reply.refusal) {
        LinkStatus status(LinkStatus::Step::NickRefused, 0, reply.refusal->nick);
        status.reason = reply.refusal->reason;
        diag::DebugLog(statusText(status));
        emit statusChanged(status);
    }
    if (reply.gaveUp) {
        const LinkStatus status(LinkStatus::Step::NicksTaken);
        diag::DebugLog(statusText(status));
        emit statusChanged(status);
    }
    if (reply.renamed)
        emit nickChanged(m_ownNick.nick());
}

void ServerLink::askForNick(const QByteArray& nick)
{
    if (const auto line = Command::nick(nick); line && sendLine(*line))
        m_ownNick.asked(nick);
}

void ServerLink::takeStsPolicy()
{
    const std::optional<QByteArray>& offered = m_registration.stsPolicy();
    const std::optional<StsValue> sts = offered ? parseSts(*offered) : std::nullopt;
    if (!sts)
        return;
    const auto* secure = qobject_cast<const QSslSocket*>(m_socket.data());
    const config::ServerEntry& server = m_connector.server();
    if (secure && secure->isEncrypted()) {
        // Only what a server says over TLS is kept: over a plain link anyone could say it.
        if (!sts->durationS)
            return;
        if (*sts->durationS == 0)
            m_store.forgetStsPolicy(server.address);
        else
            m_store.setStsPolicy(
                server.address,
                StsPolicy{quint16(server.port), m_connector.policyNow() + *sts->durationS}
                    .encode());
        return;
    }
    if (!sts->port)
        return;
    // Not from inside the delivery of the line that said it: the link's buffers go with the
    // plain socket, and the line views them.
    const quint16 port = *sts->port;
    QMetaObject::invokeMethod(
        this, [this, port] { m_connector.upgradeToTls(port); }, Qt::QueuedConnection);
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
    m_connector.stop();
    if (m_socket) {
        writeBytes(Command::quit() + "\r\n");
        retireSocket();
    }
    m_connector.dropAttempt();
    m_pending.clear();
    emit statusChanged({LinkStatus::Step::Disconnected});
    emit closedByUser();
}

void ServerLink::quitForClose()
{
    m_connector.stop();
    if (!hasSocket())
        return;
    const auto quit = Command::quit(text::kQuitReasonAtClose);
    if (!quit || !writeBytes(*quit + "\r\n"))
        diag::DebugLog(text::kLogSendError);
    retireSocket();
    m_connector.dropAttempt();
}

void ServerLink::dropSocket()
{
    retireSocket();
    m_framer.reset();
    m_pending.clear();
}

void ServerLink::retireSocket()
{
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    closeSocket(socket, this);
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
