#pragma once

#include "irc/link_status.h"
#include "irc/retry_timer.h"
#include "irc/server_attempt.h"
#include "irc/server_rotation.h"

#include <QObject>
#include <QString>
#include <QTcpSocket>

#include <functional>
#include <memory>
#include <optional>

namespace config {
class Store;
}

namespace irc {

// Gets the server link a connected socket: the pass over the stored list from the current index,
// one attempt at a time, on to the next server when an attempt fails, and after a lost link the
// pass again, after a back-off wait, until a server lets us on. The attempt itself (look-up,
// socket, TLS trust, registration deadlines) is the ServerAttempt's; which server comes next and
// when is the ServerRotation's. This object holds the two together with the wait's timer.
class ServerConnector : public QObject
{
    Q_OBJECT

public:
    using State = ServerAttempt::State;

    ServerConnector(config::Store& store, bool reconnect, QObject* parent = nullptr);

    State state() const { return m_attempt.state(); }
    bool attempted() const { return m_attempt.made(); }
    int serverIndex() const { return m_rotation.index(); }
    void setServerIndex(int index) { m_rotation.setIndex(index); }
    // The server of the attempt, as connected to (over TLS where its policy says so).
    const config::ServerEntry& server() const { return m_attempt.server(); }
    // The entry of the list the attempt is for: what the user configured for it (its password
    // and account) belongs to this one, whatever port a policy took the attempt to.
    const config::ServerEntry& listedServer() const { return m_listed; }

    // Turned off while a pass waits for its time, the pass ends as it does without reconnection.
    void setReconnect(bool reconnect);
    void setRetryTimer(std::unique_ptr<RetryTimer> timer);
    void setJitterSource(std::function<double()> source) { m_jitter = std::move(source); }
    bool retryPending() const { return m_retryPending; }
    void setRegistrationTimer(std::unique_ptr<RetryTimer> timer)
    {
        m_attempt.setRegistrationTimer(std::move(timer));
    }
    void setTrustQuestion(ServerAttempt::TrustQuestion question)
    {
        m_attempt.setTrustQuestion(std::move(question));
    }

    // The user starts a pass at the current index.
    void connectToCurrentServer();
    // The server at the current index, without the pass's end or the empty list's report.
    void resolveAndConnect();
    // The user takes over: nothing posted, looked up or waited for goes on by itself.
    void stop();
    // The attempt in progress ends without a word: a socket still connecting is closed.
    void dropAttempt() { m_attempt.drop(); }

    // The handed-over link's side: the registration's next deadline (milliseconds since the
    // hand-over), the server's welcome, a registration never let on, and a dropped link.
    void armRegistrationDeadline(std::optional<qint64> deadline)
    {
        m_attempt.armRegistrationDeadline(deadline);
    }
    void welcomed() { m_rotation.welcomed(); }
    // The server offered TLS on `port` over the plain link (its "sts"): the same server is tried
    // again at once that way, this time only.
    void upgradeToTls(quint16 port);
    // The clock of the remembered policies, seconds since the epoch.
    void setPolicyClock(std::function<qint64()> nowS) { m_nowS = std::move(nowS); }
    qint64 policyNow() const { return m_nowS(); }
    void failAttempt(const QString& detail);
    void linkLost();

signals:
    void statusChanged(const irc::LinkStatus& status);
    // A new socket is about to be made: whatever the link still holds goes.
    void attemptStarting();
    // Connected (TLS: encrypted): `socket` is the link's from now on.
    void connected(QTcpSocket* socket);
    void registrationTimeReached(qint64 elapsedMs);
    void attemptFailed();
    void lost();
    // The attempt is over: the link closes the socket it holds.
    void attemptEnded();

private:
    void postContinuePass();
    int serverCount() const;
    // One step of the pass over the list: the server at the current index, or the pass's end.
    void continuePass();
    void passEnded();
    // An attempt at `entry`, over TLS where the server asked to be reached only so.
    void startAt(const config::ServerEntry& entry);
    void cancelRetry();
    void resolveFailed();
    void certificateChanged(const QString& problems);
    void certificateRefused(const QString& problems);

    config::Store& m_store;
    bool m_reconnect = true;
    ServerRotation m_rotation;
    ServerAttempt m_attempt;
    // Bumped whenever the user takes over, so that a posted step or a wait of an earlier pass
    // that comes later is ignored instead of connecting behind the user's back.
    int m_generation = 0;
    bool m_retryPending = false;
    std::unique_ptr<RetryTimer> m_retryTimer;
    std::function<double()> m_jitter;
    // A plain entry's host and the TLS port it offered, for the next attempt at it.
    std::optional<std::pair<QByteArray, quint16>> m_upgrade;
    config::ServerEntry m_listed;
    std::function<qint64()> m_nowS;
};

} // namespace irc
