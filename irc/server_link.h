#pragma once

#include "config/settings.h"
#include "irc/line_framer.h"
#include "irc/line_queue.h"
#include "irc/link_status.h"
#include "irc/registration.h"
#include "irc/retry_timer.h"
#include "irc/server_rotation.h"
#include "irc/server_trust.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>

#include <deque>
#include <functional>
#include <memory>

class QSslError;
class QTcpSocket;

namespace config {
class Store;
}

namespace irc {

// The one connection to an IRC server: picks the server at the current index of the stored
// list, resolves its name without blocking, connects, registers, and moves on to the next server
// when a look-up fails, a connection is refused or the link drops. Received bytes are framed
// into lines and delivered one at a time, in order.
class ServerLink : public QObject
{
    Q_OBJECT

public:
    enum class State { Idle, Resolving, Connecting, Registered };

    ServerLink(config::Store& store, config::Settings settings, QObject* parent = nullptr);
    ~ServerLink() override;

    // Where each attempt reads its entry's server password: the store when none is set. Asked
    // synchronously, so it answers from what it holds.
    using PasswordSource = std::function<QByteArray(const config::ServerEntry&)>;
    void setPasswordSource(PasswordSource source) { m_passwordSource = std::move(source); }

    State state() const { return m_state; }
    bool isConnected() const;
    // Whether any attempt has been made: until then nothing is ever sent to any server.
    bool hasSocket() const { return m_attempted; }

    int serverIndex() const { return m_rotation.index(); }
    void setServerIndex(int index) { m_rotation.setIndex(index); }

    // The nick the server knows us by; set at registration and on a nick collision.
    const QByteArray& nickInUse() const { return m_nickInUse; }
    void setNickInUse(const QByteArray& nick) { m_nickInUse = nick; }

    // Our end and the server's end of the connection; null addresses when not connected.
    QHostAddress localAddress() const;
    QHostAddress peerAddress() const;

    // Sends one line with CR LF appended. Refuses a line holding CR, LF or NUL, so that text
    // from a peer can never smuggle in a second command. False when not connected.
    bool sendLine(const QByteArray& line);
    // Sends bytes exactly as given (the raw data window). False when not connected.
    bool sendRaw(const QByteArray& bytes);

    // The settings changed: the next registration uses these.
    void setSettings(const config::Settings& settings);

    // The seams of the reconnection back-off: its clock and timer, and where in its spread each
    // wait falls (-1..1; random by default).
    void setRetryTimer(std::unique_ptr<RetryTimer> timer);
    void setJitterSource(std::function<double()> source) { m_jitter = std::move(source); }
    // The clock and timer of the registration's deadlines (the wait for a CAP answer, the
    // time-out after which an attempt that was never let on fails).
    void setRegistrationTimer(std::unique_ptr<RetryTimer> timer);
    // Whether a new pass is waiting for its time.
    bool retryPending() const { return m_retryPending; }

    // Asked when a TLS server's certificate does not verify and no pin is stored for that server:
    // `problems` is what verification found, `fingerprint` the certificate's SHA-256 in hex.
    // True trusts it: it is pinned and the server tried again. Without a question, it is refused.
    using TrustQuestion = std::function<bool(const QByteArray& address, const QString& problems,
                                             const QByteArray& fingerprint)>;
    void setTrustQuestion(TrustQuestion question) { m_trustQuestion = std::move(question); }

public slots:
    // Connects to the server at the current index, or reports an empty or exhausted list.
    void connectToCurrentServer();
    // Resolves and connects to the server at the current index without the range check.
    void resolveAndConnect();
    // The user's disconnect: "QUIT", the socket closed, no reconnection.
    void disconnectFromServer();
    // The program is closing: the quit line goes out on whatever socket there is.
    void quitForClose();

signals:
    void statusChanged(const irc::LinkStatus& status);
    // The complete lines of one read, before any is delivered (the received-data dump). The
    // lines, here and below, view the link's read buffer and are valid only during the call:
    // copying every line out for its listeners cost more than all the rest of its handling.
    void batchReceived(const QList<QByteArrayView>& lines);
    // Each line as it is delivered: first parsed (the message views the line and lives only
    // during the call), then as received, for the windows that show it.
    void messageReceived(const irc::Message& message);
    void lineReceived(QByteArrayView line);
    // The server let us on (its welcome, 001) under `nick`.
    void registered(const QByteArray& nick);
    // A connection attempt failed; the next server is tried.
    void attemptFailed();
    // An established link dropped; the next server is tried.
    void lost();
    // The user ended the link; nothing follows by itself.
    void closedByUser();

private:
    void postConnectToCurrentServer();
    // One step of the pass over the list: the server at the current index, or the pass's end.
    void continuePass();
    void passEnded();
    void cancelRetry();
    void takeRegistrationReply(const Registration::Reply& reply);
    void reportOutcome(Registration::Outcome outcome);
    void armRegistrationTimer();
    void registrationTimeReached();
    qint64 registrationElapsed() const;
    void connectToEntry();
    void lookUpFinished(const QHostAddress& address, bool ok, int generation);
    void connectToAddress(const QHostAddress& address, int port);
    void onConnected();
    void onSocketError();
    void onSslErrors(const QList<QSslError>& errors);
    void certificateNotAccepted();
    void askTrust(const QByteArray& fingerprint, const QString& problems);
    void onDisconnected();
    void onReadyRead();
    void readAvailable();
    void scheduleDelivery();
    void deliverPending();
    void connectFailed(const QString& detail);
    void linkLost();
    void retireSocket();
    bool writeBytes(const QByteArray& bytes);
    void sendWho(const QByteArray& nick);

    config::Store& m_store;
    PasswordSource m_passwordSource;
    config::Settings m_settings;
    QPointer<QTcpSocket> m_socket;
    LineFramer m_framer;
    LineQueue m_pending;
    bool m_deliveryPosted = false;
    State m_state = State::Idle;
    bool m_attempted = false;
    ServerRotation m_rotation;
    // The server of the current attempt, read from the store once per attempt.
    config::ServerEntry m_server;
    // Bumped whenever the user ends the link, so that a look-up or a posted step of an earlier
    // attempt that finishes later is ignored instead of connecting behind the user's back.
    int m_generation = 0;
    QByteArray m_nickInUse;

    // The registration of the current link, and the account login it may negotiate.
    Registration m_registration;
    // When the registration started, and the timer of its next deadline.
    QDateTime m_registrationStart;
    std::unique_ptr<RetryTimer> m_registrationTimer;
    // The WHO of registration waits while the server negotiates: it would be refused as coming
    // from a client that has not registered yet.
    bool m_whoDeferred = false;
    bool m_retryPending = false;
    std::unique_ptr<RetryTimer> m_retryTimer;
    std::function<double()> m_jitter;

    // What the TLS handshake of the current attempt found wrong with the server's certificate;
    // the handshake failure that follows is then handled as that, not as a plain error.
    std::optional<CertificateRefusal> m_refusal;
    // Bumped by every connection attempt, so that the answer to a trust question asked while
    // the user started another attempt does not reconnect behind it.
    int m_attemptSerial = 0;
    TrustQuestion m_trustQuestion;
    ServerTrust m_trust;
};

} // namespace irc
