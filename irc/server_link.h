#pragma once

#include "config/settings.h"
#include "irc/line_framer.h"
#include "irc/line_queue.h"
#include "irc/link_status.h"
#include "irc/own_nick.h"
#include "irc/registration.h"
#include "irc/retry_timer.h"
#include "irc/server_connector.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

class QTcpSocket;

namespace config {
class Store;
}

namespace irc {

// The one connection to an IRC server. Its ServerConnector finds a server of the stored list that
// takes the connection and hands over the socket; the link registers on it, frames the received
// bytes into lines and delivers them one at a time, in order, writes our lines, and ends the link
// when the user does or tells the connector when it drops.
class ServerLink : public QObject
{
    Q_OBJECT

public:
    using State = ServerConnector::State;

    ServerLink(config::Store& store, config::Settings settings, QObject* parent = nullptr);
    ~ServerLink() override;

    // Where each attempt reads its entry's server password: the store when none is set. Asked
    // synchronously, so it answers from what it holds.
    using PasswordSource = std::function<QByteArray(const config::ServerEntry&)>;
    void setPasswordSource(PasswordSource source) { m_passwordSource = std::move(source); }

    State state() const { return m_connector.state(); }
    bool isConnected() const;
    // Whether any attempt has been made: until then nothing is ever sent to any server.
    bool hasSocket() const { return m_connector.attempted(); }

    int serverIndex() const { return m_connector.serverIndex(); }
    void setServerIndex(int index) { m_connector.setServerIndex(index); }

    // The nick the server knows us by (its welcome, and each NICK of ours it relays); before the
    // welcome, the nick the registration asked for.
    const QByteArray& nickInUse() const { return m_ownNick.nick(); }
    // Asks the server for `nick`; it becomes ours once the server relays the change.
    void askForNick(const QByteArray& nick);

    // The IRCv3 extensions the server granted on this link; none before it negotiated.
    Capabilities capabilities() const { return m_capabilities; }

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
    void setRetryTimer(std::unique_ptr<RetryTimer> timer)
    {
        m_connector.setRetryTimer(std::move(timer));
    }
    void setJitterSource(std::function<double()> source)
    {
        m_connector.setJitterSource(std::move(source));
    }
    // The clock and timer of the registration's deadlines (the wait for a CAP answer, the
    // time-out after which an attempt that was never let on fails).
    void setRegistrationTimer(std::unique_ptr<RetryTimer> timer)
    {
        m_connector.setRegistrationTimer(std::move(timer));
    }
    // The clock of the servers' TLS policies, seconds since the epoch.
    void setPolicyClock(std::function<qint64()> nowS)
    {
        m_connector.setPolicyClock(std::move(nowS));
    }
    // Whether a new pass is waiting for its time.
    bool retryPending() const { return m_connector.retryPending(); }

    // Asked when a TLS server's certificate does not verify and no pin is stored for that server:
    // `problems` is what verification found, `fingerprint` the certificate's SHA-256 in hex.
    // True trusts it: it is pinned and the server tried again. Without a question, it is refused.
    using TrustQuestion = ServerAttempt::TrustQuestion;
    void setTrustQuestion(TrustQuestion question)
    {
        m_connector.setTrustQuestion(std::move(question));
    }

public slots:
    // Connects to the server at the current index, or reports an empty or exhausted list.
    void connectToCurrentServer() { m_connector.connectToCurrentServer(); }
    // Resolves and connects to the server at the current index without the range check.
    void resolveAndConnect() { m_connector.resolveAndConnect(); }
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
    void lineReceived(QByteArrayView line, const irc::Message* message);
    // The extensions granted changed: at the end of a negotiation, when the server withdraws or
    // grants one later, and back to none with a new connection.
    void capabilitiesChanged(irc::Capabilities capabilities);
    // The server let us on (its welcome, 001) under `nick`.
    void registered(const QByteArray& nick);
    // The server renamed us once registered (our own change, services, an operator).
    void nickChanged(const QByteArray& nick);
    // A connection attempt failed; the next server is tried.
    void attemptFailed();
    // An established link dropped; the next server is tried.
    void lost();
    // The user ended the link; nothing follows by itself.
    void closedByUser();

private:
    void takeSocket(QTcpSocket* socket);
    void startRegistration();
    void takeRegistrationReply(const Registration::Reply& reply);
    void takeOwnNick(const Message& message);
    void reportOutcome(Registration::Outcome outcome);
    // The server's "sts": kept when said over TLS, followed at once when said in clear.
    void takeStsPolicy();
    void onSocketError();
    void onDisconnected();
    void linkLost();
    void onReadyRead();
    void readAvailable();
    void scheduleDelivery();
    void deliverPending();
    void dropSocket();
    void retireSocket();
    bool writeBytes(const QByteArray& bytes);
    void sendWho(const QByteArray& nick);

    config::Store& m_store;
    PasswordSource m_passwordSource;
    config::Settings m_settings;
    ServerConnector m_connector;
    // The socket the connector handed over, from its connection until the link ends.
    QPointer<QTcpSocket> m_socket;
    LineFramer m_framer;
    LineQueue m_pending;
    bool m_deliveryPosted = false;
    OwnNick m_ownNick;

    // The registration of the current link, and the account login it may negotiate.
    Registration m_registration;
    // The WHO of registration waits while the server negotiates: it would be refused as coming
    // from a client that has not registered yet.
    bool m_whoDeferred = false;
    bool m_whoAtWelcome = false;
    Capabilities m_capabilities;
};

} // namespace irc
