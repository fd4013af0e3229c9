#include "irc/server_attempt.h"

#include "config/store.h"
#include "diag/debug_log.h"
#include "irc/texts.h"

#include <QCryptographicHash>
#include <QHostInfo>
#include <QMetaObject>
#include <QSslCertificate>
#include <QSslError>
#include <QSslSocket>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
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

// The pins of servers' certificates are kept in the store, by address and port.
PinKeeper pinKeeperOf(config::Store& store)
{
    return {[&store](const config::ServerEntry& server) { return store.certificatePin(server); },
            [&store](const config::ServerEntry& server, const QByteArray& fingerprint) {
                return store.pinCertificate(server, fingerprint);
            }};
}

} // namespace

void closeSocket(QTcpSocket* socket, const QObject* listener)
{
    if (!socket)
        return;
    socket->disconnect(listener);
    socket->flush();
    if (socket->state() == QAbstractSocket::UnconnectedState) {
        socket->deleteLater();
        return;
    }
    QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->disconnectFromHost();
    if (socket->state() == QAbstractSocket::UnconnectedState)
        socket->deleteLater();
}

ServerAttempt::ServerAttempt(config::Store& store, QObject* parent)
    : QObject(parent)
    , m_registrationTimer(makeRetryTimer())
    , m_trust(pinKeeperOf(store))
{}

ServerAttempt::~ServerAttempt()
{
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        delete m_socket;
    }
}

void ServerAttempt::setRegistrationTimer(std::unique_ptr<RetryTimer> timer)
{
    m_registrationTimer->stop();
    m_registrationTimer = std::move(timer);
}

void ServerAttempt::start(const config::ServerEntry& server)
{
    m_server = server;
    connectToEntry();
}

void ServerAttempt::connectToEntry()
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

void ServerAttempt::lookUpFinished(const QHostAddress& address, bool ok, int generation)
{
    if (generation != m_generation)
        return;
    if (!ok) {
        emit resolveFailed();
        return;
    }
    connectToAddress(address, m_server.port);
}

void ServerAttempt::connectToAddress(const QHostAddress& address, int port)
{
    closeOwnSocket();
    emit starting();
    m_made = true;
    m_state = State::Connecting;
    ++m_serial;
    m_refusal.reset();

    QTcpSocket* socket = makeSocket();
    if (port < 1 || port > 65535) {
        failInvalidPort(port);
        return;
    }
    if (auto* secure = qobject_cast<QSslSocket*>(socket)) {
        limitHandshake(secure);
        // The address was looked up already; the certificate is checked against the name the
        // user gave the server, against the system's roots.
        secure->connectToHostEncrypted(address.toString(), static_cast<quint16>(port),
                                       fromStore(m_server.address));
        return;
    }
    socket->connectToHost(address, static_cast<quint16>(port));
}

QTcpSocket* ServerAttempt::makeSocket()
{
    QSslSocket* secure = m_server.tls ? new QSslSocket(this) : nullptr;
    QTcpSocket* socket = secure ? secure : new QTcpSocket(this);
    m_socket = socket;
    if (secure) {
        // Registration waits for the handshake, so that no line ever goes out in clear.
        connect(secure, &QSslSocket::encrypted, this, &ServerAttempt::handOver);
        connect(secure, &QSslSocket::sslErrors, this, &ServerAttempt::onSslErrors);
    } else {
        connect(socket, &QTcpSocket::connected, this, &ServerAttempt::handOver);
    }
    connect(socket, &QTcpSocket::errorOccurred, this, &ServerAttempt::onSocketError);
    return socket;
}

void ServerAttempt::failInvalidPort(int port)
{
    // A stored port outside the TCP range can never connect; fail it as a refused connection
    // would, so the pass goes on with the next server.
    const int generation = m_generation;
    QMetaObject::invokeMethod(
        this,
        [this, generation, port] {
            if (generation == m_generation && m_state == State::Connecting)
                emit failed(QString::fromLatin1(text::kInvalidPort).arg(port));
        },
        Qt::QueuedConnection);
}

void ServerAttempt::limitHandshake(QSslSocket* secure)
{
    // A server that takes the connection but never finishes the handshake would hold the pass
    // for good: once connected, the handshake gets a bounded time.
    const QPointer<QSslSocket> guard(secure);
    connect(secure, &QSslSocket::connected, this, [this, guard] {
        QTimer::singleShot(kHandshakeTimeoutMs, this, [this, guard] {
            if (guard && m_socket.data() == guard.data() && m_state == State::Connecting
                && !guard->isEncrypted())
                emit failed(QString::fromLatin1(text::kHandshakeTimedOut));
        });
    });
}

void ServerAttempt::handOver()
{
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    socket->disconnect(this);
    m_state = State::Registered;
    m_registrationStart = m_registrationTimer->now();
    emit connected(socket);
}

void ServerAttempt::onSocketError()
{
    if (!m_socket || m_state != State::Connecting)
        return;
    if (m_refusal) {
        certificateNotAccepted();
        return;
    }
    emit failed(m_socket->errorString());
}

void ServerAttempt::onSslErrors(const QList<QSslError>& errors)
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

void ServerAttempt::certificateNotAccepted()
{
    const CertificateRefusal refusal = *std::exchange(m_refusal, std::nullopt);
    if (refusal.verdict == ServerTrust::Verdict::Changed) {
        // Someone may be impersonating the server: nothing more is tried before the user knows.
        emit certificateChanged(refusal.problems);
        return;
    }
    // The question may stay open for long, longer than a server waits for a handshake: this
    // attempt ends now, and a Yes starts another one with the certificate pinned.
    closeOwnSocket();
    const int generation = m_generation;
    const int serial = m_serial;
    QMetaObject::invokeMethod(
        this,
        [this, generation, serial, refusal] {
            if (generation == m_generation && serial == m_serial)
                askTrust(refusal.fingerprint, refusal.problems);
        },
        Qt::QueuedConnection);
}

void ServerAttempt::askTrust(const QByteArray& fingerprint, const QString& problems)
{
    const int generation = m_generation;
    const int serial = m_serial;
    const config::ServerEntry server = m_server;
    QPointer<ServerAttempt> self(this);
    const bool trusted = m_trustQuestion && m_trustQuestion(server.address, problems, fingerprint);
    // The box ran a nested event loop: the link may be gone, ended or busy with another attempt.
    if (!self)
        return;
    if (trusted) {
        diag::DebugLog(QString::fromLatin1(text::kLogCertificatePinned)
                           .arg(fromStore(server.address), fromStore(fingerprint)));
        if (!m_trust.trust(server, fingerprint)) {
            diag::DebugLog(
                QString::fromLatin1(text::kLogPinNotSaved).arg(fromStore(server.address)));
        }
    } else {
        diag::DebugLog(QString::fromLatin1(text::kLogCertificateRefused)
                           .arg(fromStore(server.address), fromStore(fingerprint)));
    }
    if (generation != m_generation || serial != m_serial || m_state != State::Connecting)
        return;
    if (trusted) {
        connectToEntry();
        return;
    }
    emit certificateRefused(problems);
}

void ServerAttempt::drop()
{
    closeOwnSocket();
    m_state = State::Idle;
}

void ServerAttempt::end()
{
    closeOwnSocket();
    emit ended();
    m_state = State::Idle;
}

void ServerAttempt::closeOwnSocket()
{
    m_registrationTimer->stop();
    QTcpSocket* socket = m_socket;
    m_socket = nullptr;
    irc::closeSocket(socket, this);
}

void ServerAttempt::armRegistrationDeadline(std::optional<qint64> deadline)
{
    if (!deadline || m_state != State::Registered) {
        m_registrationTimer->stop();
        return;
    }
    const qint64 wait = std::max<qint64>(0, *deadline - registrationElapsed());
    const int attempt = m_serial;
    m_registrationTimer->start(wait, [this, attempt] {
        if (attempt == m_serial && m_state == State::Registered)
            emit registrationTimeReached(registrationElapsed());
    });
}

qint64 ServerAttempt::registrationElapsed() const
{
    return m_registrationStart.msecsTo(m_registrationTimer->now());
}

} // namespace irc
