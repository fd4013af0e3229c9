#include "irc/server_link.h"

#include "config/store.h"
#include "diag/debug_log.h"
#include "irc/texts.h"

#include <QCryptographicHash>
#include <QHostInfo>
#include <QMetaObject>
#include <QRandomGenerator>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <chrono>

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

constexpr int kHandshakeTimeoutMs = 30000;

QByteArray pinName(const config::ServerEntry& server)
{
    return server.address + ':' + QByteArray::number(server.port);
}

} // namespace

namespace {

class QtRetryTimer final : public RetryTimer
{
public:
    QtRetryTimer()
    {
        m_timer.setSingleShot(true);
        QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this] {
            // Taken out first: the pass it starts may start the timer again.
            const std::function<void()> fire = std::move(m_fire);
            m_fire = nullptr;
            if (fire)
                fire();
        });
    }
    QDateTime now() const override { return QDateTime::currentDateTime(); }
    void start(qint64 delayMs, std::function<void()> fire) override
    {
        m_fire = std::move(fire);
        m_timer.start(std::chrono::milliseconds(delayMs));
    }
    void stop() override
    {
        m_timer.stop();
        m_fire = nullptr;
    }

private:
    QTimer m_timer;
    std::function<void()> m_fire;
};

} // namespace

std::unique_ptr<RetryTimer> makeRetryTimer()
{
    return std::make_unique<QtRetryTimer>();
}

ServerLink::ServerLink(config::Store& store, config::Settings settings, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_settings(std::move(settings))
    , m_registrationTimer(std::make_unique<QtRetryTimer>())
    , m_retryTimer(std::make_unique<QtRetryTimer>())
    , m_jitter([] { return QRandomGenerator::global()->bounded(2.0) - 1.0; })
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

void ServerLink::postConnectToCurrentServer()
{
    const int generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (generation == m_generation)
                continuePass();
        },
        Qt::QueuedConnection);
}

void ServerLink::connectToCurrentServer()
{
    // The user starts this pass: a wait that was running is over, and a pass the user started
    // ends as it always did, without starting again by itself.
    cancelRetry();
    m_recovering = false;
    continuePass();
}

void ServerLink::continuePass()
{
    const std::vector<config::ServerEntry> servers = m_store.EnumServers();
    if (servers.empty()) {
        m_state = State::Idle;
        emit statusChanged({LinkStatus::Step::NoServers});
        return;
    }
    if (m_serverIndex < 0 || m_serverIndex >= static_cast<int>(servers.size())) {
        passEnded();
        return;
    }
    m_server = servers[static_cast<size_t>(m_serverIndex)];
    diag::DebugLog(QString::fromLatin1(text::kTryingServer).arg(m_serverIndex) + QLatin1Char(' ')
                       + serverLabel(m_server),
                   2);
    connectToEntry();
}

void ServerLink::passEnded()
{
    m_state = State::Idle;
    if (!m_recovering || !m_settings.reconnect) {
        emit statusChanged({LinkStatus::Step::AllServersFailed});
        m_serverIndex = 0;
        return;
    }
    m_serverIndex = 0;
    const qint64 waitMs = m_backoff.next(m_jitter ? m_jitter() : 0.0);
    const QDateTime at = m_retryTimer->now().addMSecs(waitMs);
    m_retryPending = true;
    const int generation = m_generation;
    m_retryTimer->start(waitMs, [this, generation] {
        if (generation != m_generation || !m_retryPending)
            return;
        m_retryPending = false;
        continuePass();
    });
    LinkStatus status(LinkStatus::Step::WaitingToRetry);
    status.retryAt = at.time();
    diag::DebugLog(QString::fromLatin1(text::kLogRetryAt)
                       .arg(at.time().toString(QStringLiteral("HH:mm:ss")))
                       .arg(double(waitMs) / 1000.0, 0, 'f', 1));
    emit statusChanged(status);
}

void ServerLink::cancelRetry()
{
    m_retryPending = false;
    if (m_retryTimer)
        m_retryTimer->stop();
}

void ServerLink::setSettings(const config::Settings& settings)
{
    m_settings = settings;
    if (!m_settings.reconnect && m_retryPending) {
        // Turned off while waiting: the pass ends the way it does without reconnection.
        cancelRetry();
        m_recovering = false;
        emit statusChanged({LinkStatus::Step::AllServersFailed});
    }
}

void ServerLink::setRegistrationTimer(std::unique_ptr<RetryTimer> timer)
{
    m_registrationTimer->stop();
    m_registrationTimer = std::move(timer);
}

void ServerLink::setRetryTimer(std::unique_ptr<RetryTimer> timer)
{
    cancelRetry();
    m_retryTimer = std::move(timer);
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
    ++m_attemptSerial;
    m_certificate = Certificate::Unjudged;

    QSslSocket* secure = m_server.tls ? new QSslSocket(this) : nullptr;
    QTcpSocket* socket = secure ? secure : new QTcpSocket(this);
    m_socket = socket;
    if (secure) {
        // Registration waits for the handshake, so that no line ever goes out in clear.
        connect(secure, &QSslSocket::encrypted, this, &ServerLink::onConnected);
        connect(secure, &QSslSocket::sslErrors, this, &ServerLink::onSslErrors);
    } else {
        connect(socket, &QTcpSocket::connected, this, &ServerLink::onConnected);
    }
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
    if (secure) {
        // A server that takes the connection but never finishes the handshake would hold the
        // pass for good: once connected, the handshake gets a bounded time.
        const QPointer<QSslSocket> guard(secure);
        connect(secure, &QSslSocket::connected, this, [this, guard] {
            QTimer::singleShot(kHandshakeTimeoutMs, this, [this, guard] {
                if (guard && m_socket.data() == guard.data() && m_state == State::Connecting
                    && !guard->isEncrypted())
                    connectFailed(QStringLiteral("TLS handshake timed out"));
            });
        });
        // The address was looked up already; the certificate is checked against the name the
        // user gave the server, against the system's roots.
        secure->connectToHostEncrypted(address.toString(), static_cast<quint16>(port),
                                       fromStore(m_server.address));
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
    // The password of this entry only: another server of the list never sees it.
    m_registration = Registration(nick, m_settings.realname,
                                  m_passwordSource ? m_passwordSource(m_server)
                                                   : m_store.serverPassword(m_server));
    m_registrationStart = m_registrationTimer->now();
    for (const QByteArray& line : m_registration.start(0))
        sendLine(line);
    armRegistrationTimer();
    emit registered(nick);

    emit statusChanged(
        {LinkStatus::Step::Connected, m_serverIndex, m_server.address, m_server.tls});
    // Servers today take nicks longer than nine characters; cutting it here would make our own
    // nick look foreign to the nick-collision handling.
    m_nickInUse = nick;
    m_whoDeferred = m_registration.negotiating();
    if (!m_whoDeferred)
        sendLine("WHO " + nick);
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
    if (m_state == State::Connecting && m_certificate != Certificate::Unjudged) {
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

void ServerLink::onSslErrors(const QList<QSslError>& errors)
{
    auto* secure = qobject_cast<QSslSocket*>(m_socket.data());
    if (!secure || sender() != secure)
        return;
    const QSslCertificate certificate = secure->peerCertificate();
    if (certificate.isNull())
        return; // nothing to judge or pin: the handshake fails as it would anyway
    const QByteArray fingerprint = certificate.digest(QCryptographicHash::Sha256).toHex();
    std::optional<QByteArray> pin = m_store.certificatePin(m_server);
    if (!pin && m_unsavedPins.contains(pinName(m_server)))
        pin = m_unsavedPins.value(pinName(m_server));
    if (pin && *pin == fingerprint) {
        // The very certificate the user trusted: its verification errors are expected.
        secure->ignoreSslErrors(errors);
        return;
    }
    // Only noted here: Qt fails the handshake right after this signal, and that error is then
    // handled as this certificate's refusal. The socket is left alone inside its own signal.
    QStringList problems;
    for (const QSslError& error : errors)
        problems << error.errorString();
    m_certificate = pin ? Certificate::Changed : Certificate::Unknown;
    m_presentedFingerprint = fingerprint;
    m_certificateProblems = problems.join(QLatin1Char('\n'));
    if (pin) {
        diag::DebugLog(
            QString::fromLatin1(text::kLogCertificateChanged)
                .arg(fromStore(m_server.address), fromStore(*pin), fromStore(fingerprint)));
    }
}

void ServerLink::certificateNotAccepted()
{
    const Certificate verdict = m_certificate;
    m_certificate = Certificate::Unjudged;
    if (verdict == Certificate::Changed) {
        // Someone may be impersonating the server: moving on would hand the next entry the
        // user's attention instead, and coming back later would try the impostor again. The pass
        // ends here, with the warning as its last word.
        emit attemptFailed();
        retireSocket();
        m_state = State::Idle;
        m_serverIndex = 0;
        m_recovering = false;
        cancelRetry();
        diag::DebugLog(text::kLogConnectError);
        diag::DebugLog(m_certificateProblems, 2);
        emit statusChanged({LinkStatus::Step::CertificateChanged, m_serverIndex, m_server.address});
        return;
    }
    // The question may stay open for long, longer than a server waits for a handshake: this
    // attempt ends now, and a Yes starts another one with the certificate pinned.
    retireSocket();
    const int generation = m_generation;
    const int serial = m_attemptSerial;
    const QByteArray fingerprint = m_presentedFingerprint;
    const QString problems = m_certificateProblems;
    QMetaObject::invokeMethod(
        this,
        [this, generation, serial, fingerprint, problems] {
            if (generation == m_generation && serial == m_attemptSerial)
                askTrust(fingerprint, problems);
        },
        Qt::QueuedConnection);
}

void ServerLink::askTrust(const QByteArray& fingerprint, const QString& problems)
{
    const int generation = m_generation;
    const int serial = m_attemptSerial;
    const config::ServerEntry server = m_server;
    QPointer<ServerLink> self(this);
    const bool trusted = m_trustQuestion && m_trustQuestion(server.address, problems, fingerprint);
    // The box ran a nested event loop: the link may be gone, ended or busy with another attempt.
    if (!self)
        return;
    if (trusted) {
        diag::DebugLog(QString::fromLatin1(text::kLogCertificatePinned)
                           .arg(fromStore(server.address), fromStore(fingerprint)));
        if (!m_store.pinCertificate(server, fingerprint)) {
            diag::DebugLog(
                QString::fromLatin1(text::kLogPinNotSaved).arg(fromStore(server.address)));
            m_unsavedPins.insert(pinName(server), fingerprint);
        }
    } else {
        diag::DebugLog(QString::fromLatin1(text::kLogCertificateRefused)
                           .arg(fromStore(server.address), fromStore(fingerprint)));
    }
    if (generation != m_generation || serial != m_attemptSerial || m_state != State::Connecting)
        return;
    if (trusted) {
        connectToEntry();
        return;
    }
    emit statusChanged({LinkStatus::Step::CertificateRefused, m_serverIndex, m_server.address});
    connectFailed(problems);
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
    m_recovering = true;
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
        sendLine("WHO " + m_nickInUse);
    }
    if (reply.welcomed) {
        // Let on: the next outage starts again from the shortest wait.
        m_backoff.reset();
        m_recovering = false;
    }
    if (reply.outcome == Registration::Outcome::TimedOut) {
        m_registrationTimer->stop();
        // Never let on: the attempt failed like a refused connection, and the pass goes on.
        connectFailed(QString::fromLatin1(text::kLogRegistrationTimedOut));
        return;
    }
    armRegistrationTimer();
    reportOutcome(reply.outcome);
}

void ServerLink::reportOutcome(Registration::Outcome outcome)
{
    using Outcome = Registration::Outcome;
    using Step = LinkStatus::Step;
    const auto failed = [this](Step step) {
        const LinkStatus status(step);
        diag::DebugLog(statusText(status));
        emit statusChanged(status);
    };
    switch (outcome) {
    case Outcome::None:
    case Outcome::TimedOut:
        break;
    case Outcome::LoggedIn:
        diag::DebugLog(text::kLogAccountLoggedIn);
        break;
    case Outcome::LoginFailed:
        failed(Step::AccountLoginFailed);
        break;
    case Outcome::NickLocked:
        failed(Step::AccountNickLocked);
        break;
    case Outcome::Aborted:
        failed(Step::AccountLoginAborted);
        break;
    case Outcome::AlreadyLoggedIn:
        failed(Step::AccountAlreadyLoggedIn);
        break;
    case Outcome::NoPlainLogin:
        failed(Step::AccountNoPlainLogin);
        break;
    case Outcome::NoSasl:
        diag::DebugLog(text::kLogAccountNoSasl);
        break;
    case Outcome::NoCapabilities:
        diag::DebugLog(text::kLogAccountNoCapabilities);
        break;
    }
}

void ServerLink::disconnectFromServer()
{
    ++m_generation;
    cancelRetry();
    m_recovering = false;
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
    cancelRetry();
    m_recovering = false;
    if (!m_attempted)
        return;
    if (!writeBytes(QByteArray(text::kQuitAtClose) + "\r\n"))
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
