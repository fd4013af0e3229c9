#include "irc/server_connector.h"

#include "config/store.h"
#include "diag/debug_log.h"
#include "irc/sts.h"
#include "irc/texts.h"

#include <QDateTime>
#include <QMetaObject>
#include <QRandomGenerator>

#include <limits>

namespace irc {

ServerConnector::ServerConnector(config::Store& store, bool reconnect, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_reconnect(reconnect)
    , m_attempt(store, this)
    , m_retryTimer(makeRetryTimer())
    , m_jitter([] { return QRandomGenerator::global()->bounded(2.0) - 1.0; })
    , m_nowS([] { return QDateTime::currentSecsSinceEpoch(); })
{
    connect(&m_attempt, &ServerAttempt::starting, this, &ServerConnector::attemptStarting);
    connect(&m_attempt, &ServerAttempt::connected, this, &ServerConnector::connected);
    connect(&m_attempt, &ServerAttempt::registrationTimeReached, this,
            &ServerConnector::registrationTimeReached);
    connect(&m_attempt, &ServerAttempt::ended, this, &ServerConnector::attemptEnded);
    connect(&m_attempt, &ServerAttempt::resolveFailed, this, &ServerConnector::resolveFailed);
    connect(&m_attempt, &ServerAttempt::failed, this, &ServerConnector::failAttempt);
    connect(&m_attempt, &ServerAttempt::certificateChanged, this,
            &ServerConnector::certificateChanged);
    connect(&m_attempt, &ServerAttempt::certificateRefused, this,
            &ServerConnector::certificateRefused);
}

void ServerConnector::setReconnect(bool reconnect)
{
    m_reconnect = reconnect;
    if (!m_reconnect && m_retryPending) {
        cancelRetry();
        m_rotation.userTakesOver();
        emit statusChanged({LinkStatus::Step::AllServersFailed});
    }
}

void ServerConnector::setRetryTimer(std::unique_ptr<RetryTimer> timer)
{
    cancelRetry();
    m_retryTimer = std::move(timer);
}

void ServerConnector::postContinuePass()
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

void ServerConnector::connectToCurrentServer()
{
    // The user starts this pass: a wait that was running is over, and a pass the user started
    // ends as it always did, without starting again by itself.
    cancelRetry();
    m_rotation.userTakesOver();
    continuePass();
}

void ServerConnector::continuePass()
{
    const std::vector<config::ServerEntry> servers = m_store.EnumServers();
    if (servers.empty()) {
        m_attempt.setIdle();
        emit statusChanged({LinkStatus::Step::NoServers});
        return;
    }
    const std::optional<int> index = m_rotation.current(static_cast<int>(servers.size()));
    if (!index) {
        passEnded();
        return;
    }
    const config::ServerEntry& server = servers[static_cast<size_t>(*index)];
    diag::DebugLog(QString::fromLatin1(text::kTryingServer).arg(*index) + QLatin1Char(' ')
                       + serverLabel(server),
                   2);
    startAt(server);
}

void ServerConnector::passEnded()
{
    m_attempt.setIdle();
    if (!m_rotation.passEnded(m_reconnect)) {
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

void ServerConnector::cancelRetry()
{
    m_retryPending = false;
    if (m_retryTimer)
        m_retryTimer->stop();
}

void ServerConnector::stop()
{
    ++m_generation;
    m_attempt.cancel();
    cancelRetry();
    m_rotation.userTakesOver();
}

void ServerConnector::resolveAndConnect()
{
    const std::vector<config::ServerEntry> servers = m_store.EnumServers();
    const std::optional<int> index = m_rotation.current(static_cast<int>(servers.size()));
    if (!index)
        return;
    startAt(servers[static_cast<size_t>(*index)]);
}

void ServerConnector::startAt(const config::ServerEntry& entry)
{
    m_listed = entry;
    std::optional<StsPolicy> policy;
    if (const std::optional<QByteArray> stored = m_store.stsPolicy(entry.address))
        policy = StsPolicy::decode(*stored);
    if (m_upgrade && m_upgrade->first == entry.address.toLower())
        policy = StsPolicy{m_upgrade->second, std::numeric_limits<qint64>::max()};
    m_upgrade.reset();
    const config::ServerEntry target = underPolicy(entry, policy, m_nowS());
    if (target.tls != entry.tls)
        diag::DebugLog(QString::fromLatin1(text::kLogStsUpgrade).arg(target.port));
    m_attempt.start(target);
}

void ServerConnector::upgradeToTls(quint16 port)
{
    m_upgrade.emplace(server().address.toLower(), port);
    // Nothing of the plain attempt goes on by itself; the pass goes on at the same entry.
    ++m_generation;
    m_attempt.cancel();
    m_attempt.drop();
    continuePass();
}

void ServerConnector::certificateChanged(const QString& problems)
{
    // Someone may be impersonating the server: moving on would hand the next entry the user's
    // attention instead, and coming back later would try the impostor again. The pass ends
    // here, with the warning as its last word.
    emit attemptFailed();
    m_attempt.end();
    m_rotation.stop();
    cancelRetry();
    diag::DebugLog(text::kLogConnectError);
    diag::DebugLog(problems, 2);
    emit statusChanged(
        {LinkStatus::Step::CertificateChanged, m_rotation.index(), server().address});
}

void ServerConnector::resolveFailed()
{
    emit statusChanged({LinkStatus::Step::ResolveFailed});
    postContinuePass();
    m_rotation.attemptFailed(serverCount());
}

void ServerConnector::certificateRefused(const QString& problems)
{
    emit statusChanged(
        {LinkStatus::Step::CertificateRefused, m_rotation.index(), server().address});
    failAttempt(problems);
}

void ServerConnector::failAttempt(const QString& detail)
{
    emit attemptFailed();
    m_attempt.end();
    m_rotation.attemptFailed(serverCount());
    postContinuePass();
    diag::DebugLog(text::kLogConnectError);
    diag::DebugLog(detail, 2);
}

int ServerConnector::serverCount() const
{
    return static_cast<int>(m_store.EnumServers().size());
}

void ServerConnector::linkLost()
{
    m_rotation.linkLost(serverCount());
    emit lost();
    m_attempt.end();
    emit statusChanged({LinkStatus::Step::Reconnecting, m_rotation.index()});
    postContinuePass();
}

} // namespace irc
