// The pass over the server list and each attempt in it: the look-up, the connection, and the
// TLS handshake with its trust decision.
#include "config/store.h"
#include "diag/debug_log.h"
#include "irc/server_link.h"
#include "irc/texts.h"

#include <QCryptographicHash>
#include <QHostInfo>
#include <QMetaObject>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <utility>

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

} // namespace

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
    m_rotation.userTakesOver();
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
    const std::optional<int> index = m_rotation.current(static_cast<int>(servers.size()));
    if (!index) {
        passEnded();
        return;
    }
    m_server = servers[static_cast<size_t>(*index)];
    diag::DebugLog(QString::fromLatin1(text::kTryingServer).arg(*index) + QLatin1Char(' ')
                       + serverLabel(m_server),
                   2);
    connectToEntry();
}

void ServerLink::passEnded()
{
    m_state = State::Idle;
    if (!m_rotation.passEnded(m_settings.reconnect)) {
        emit statusChanged({LinkStatus::Step::AllServersFailed});
        return;
    }
    const ServerRotation::Retry retry =
        m_rotation.nextRetry(m_retryTimer->now(), m_jitter ? m_jitter() : 0.0);
    m_retryPending = true;
    const int generation = m_generation;
    m_retryTimer->start(retry.waitMs, [this, generation] {
        if (generation != m_generation || !m_retryPending)
            return;
        m_retryPending = false;
        continuePass();
    });
    LinkStatus status(LinkStatus::Step::WaitingToRetry);
    status.retryAt = retry.at.time();
    diag::DebugLog(QString::fromLatin1(text::kLogRetryAt)
                       .arg(retry.at.time().toString(QStringLiteral("HH:mm:ss")))
                       .arg(double(retry.waitMs) / 1000.0, 0, 'f', 1));
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
        m_rotation.userTakesOver();
        emit statusChanged({LinkStatus::Step::AllServersFailed});
    }
}

void ServerLink::setRetryTimer(std::unique_ptr<RetryTimer> timer)
{
    cancelRetry();
    m_retryTimer = std::move(timer);
}

void ServerLink::resolveAndConnect()
{
    const std::vector<config::ServerEntry> servers = m_store.EnumServers();
    const std::optional<int> index = m_rotation.current(static_cast<int>(servers.size()));
    if (!index)
        return;
    m_server = servers[static_cast<size_t>(*index)];
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
        m_rotation.attemptFailed();
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
    m_refusal.reset();

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

void ServerLink::onSslErrors(const QList<QSslError>& errors)
{
    auto* secure = qobject_cast<QSslSocket*>(m_socket.data());
    if (!secure || sender() != secure)
        return;
    const QSslCertificate certificate = secure->peerCertificate();
    if (certificate.isNull())
        return; // nothing to judge or pin: the handshake fails as it would anyway
    const QByteArray fingerprint = certificate.digest(QCryptographicHash::Sha256).toHex();
    const std::optional<QByteArray> pin = m_trust.pin(m_server);
    const ServerTrust::Verdict verdict = ServerTrust::judge(pin, fingerprint);
    if (verdict == ServerTrust::Verdict::Pinned) {
        secure->ignoreSslErrors(errors);
        return;
    }
    // Only noted here: Qt fails the handshake right after this signal, and that error is then
    // handled as this certificate's refusal. The socket is left alone inside its own signal.
    QStringList problems;
    for (const QSslError& error : errors)
        problems << error.errorString();
    m_refusal = CertificateRefusal{verdict, fingerprint, problems.join(QLatin1Char('\n'))};
    if (pin) {
        diag::DebugLog(
            QString::fromLatin1(text::kLogCertificateChanged)
                .arg(fromStore(m_server.address), fromStore(*pin), fromStore(fingerprint)));
    }
}

void ServerLink::certificateNotAccepted()
{
    const CertificateRefusal refusal = *std::exchange(m_refusal, std::nullopt);
    if (refusal.verdict == ServerTrust::Verdict::Changed) {
        // Someone may be impersonating the server: moving on would hand the next entry the
        // user's attention instead, and coming back later would try the impostor again. The pass
        // ends here, with the warning as its last word.
        emit attemptFailed();
        retireSocket();
        m_state = State::Idle;
        m_rotation.stop();
        cancelRetry();
        diag::DebugLog(text::kLogConnectError);
        diag::DebugLog(refusal.problems, 2);
        emit statusChanged(
            {LinkStatus::Step::CertificateChanged, m_rotation.index(), m_server.address});
        return;
    }
    // The question may stay open for long, longer than a server waits for a handshake: this
    // attempt ends now, and a Yes starts another one with the certificate pinned.
    retireSocket();
    const int generation = m_generation;
    const int serial = m_attemptSerial;
    QMetaObject::invokeMethod(
        this,
        [this, generation, serial, refusal] {
            if (generation == m_generation && serial == m_attemptSerial)
                askTrust(refusal.fingerprint, refusal.problems);
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
        m_trust.trust(server, fingerprint);
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
    emit statusChanged(
        {LinkStatus::Step::CertificateRefused, m_rotation.index(), m_server.address});
    connectFailed(problems);
}

void ServerLink::connectFailed(const QString& detail)
{
    emit attemptFailed();
    retireSocket();
    m_state = State::Idle;
    m_rotation.attemptFailed();
    postConnectToCurrentServer();
    diag::DebugLog(text::kLogConnectError);
    diag::DebugLog(detail, 2);
}

} // namespace irc
