#pragma once

#include "config/settings.h"
#include "irc/retry_timer.h"
#include "irc/server_trust.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <optional>

class QSslError;
class QSslSocket;

namespace config {
class Store;
}

namespace irc {

// One attempt at one server of the list: resolves its name without blocking, connects, and for
// a TLS entry makes the trust decision on a certificate that does not verify. The socket is
// handed over once connected, for TLS once encrypted; the attempt still fails if the server does
// not let us on within the registration's deadlines, whose timer runs here. What follows a
// failure is the pass's business: the attempt only says how it failed.
class ServerAttempt : public QObject
{
    Q_OBJECT

public:
    // Registered: the socket was handed over, and its registration is under way or done.
    enum class State { Idle, Resolving, Connecting, Registered };

    explicit ServerAttempt(config::Store& store, QObject* parent = nullptr);
    ~ServerAttempt() override;

    State state() const { return m_state; }
    void setIdle() { m_state = State::Idle; }
    // Whether any socket was ever made: until then nothing is ever sent to any server.
    bool made() const { return m_made; }
    const config::ServerEntry& server() const { return m_server; }

    void setRegistrationTimer(std::unique_ptr<RetryTimer> timer);
    using TrustQuestion = std::function<bool(const QByteArray& address, const QString& problems,
                                             const QByteArray& fingerprint)>;
    void setTrustQuestion(TrustQuestion question) { m_trustQuestion = std::move(question); }

    void start(const config::ServerEntry& server);
    // The user took over: no look-up, posted step or question of an earlier attempt goes on.
    void cancel() { ++m_generation; }
    // Ends without a word: a socket still connecting is closed.
    void drop();
    // Ends after a failure or a lost link: the link closes the socket it holds, too.
    void end();

    // The registration's next deadline, in milliseconds since the hand-over.
    void armRegistrationDeadline(std::optional<qint64> deadline);

signals:
    // A new socket is about to be made: whatever the link still holds goes.
    void starting();
    // Connected (TLS: encrypted): `socket` is the link's from now on.
    void connected(QTcpSocket* socket);
    // A deadline of the registration came, `elapsedMs` after the hand-over.
    void registrationTimeReached(qint64 elapsedMs);
    void resolveFailed();
    void failed(const QString& detail);
    // Another certificate than the pinned one; the user did not trust an unverified one.
    void certificateChanged(const QString& problems);
    void certificateRefused(const QString& problems);
    // The link closes the socket it holds.
    void ended();

private:
    void connectToEntry();
    void lookUpFinished(const QHostAddress& address, bool ok, int generation);
    void connectToAddress(const QHostAddress& address, int port);
    QTcpSocket* makeSocket();
    void failInvalidPort(int port);
    void limitHandshake(QSslSocket* secure);
    void handOver();
    void onSocketError();
    void onSslErrors(const QList<QSslError>& errors);
    void certificateNotAccepted();
    void askTrust(const QByteArray& fingerprint, const QString& problems);
    void closeOwnSocket();
    qint64 registrationElapsed() const;

    State m_state = State::Idle;
    bool m_made = false;
    // The server of the current attempt, read from the store once per attempt.
    config::ServerEntry m_server;
    // The socket until it is handed over.
    QPointer<QTcpSocket> m_socket;
    int m_generation = 0;

    // When the socket was handed over, and the timer of the registration's next deadline.
    QDateTime m_registrationStart;
    std::unique_ptr<RetryTimer> m_registrationTimer;

    // What the TLS handshake of the current attempt found wrong with the server's certificate;
    // the handshake failure that follows is then handled as that, not as a plain error.
    std::optional<CertificateRefusal> m_refusal;
    // Bumped by every connection attempt, so that the answer to a trust question asked while
    // the user started another attempt does not reconnect behind it.
    int m_serial = 0;
    TrustQuestion m_trustQuestion;
    ServerTrust m_trust;
};

// Closes a socket we end ourselves: `listener` hears nothing more of it (closing the link
// ourselves is not a lost link), what was written still leaves, and it is deleted once closed.
void closeSocket(QTcpSocket* socket, const QObject* listener);

} // namespace irc
