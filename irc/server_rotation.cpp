#include "irc/server_rotation.h"

namespace irc {

std::optional<int> ServerRotation::current(int count) const
{
    if (m_index < 0 || m_index >= count || (m_recovering && m_tried >= count))
        return std::nullopt;
    return m_index;
}

void ServerRotation::attemptFailed(int count)
{
    ++m_index;
    if (!m_recovering)
        return;
    ++m_tried;
    if (m_index >= count)
        m_index = 0;
}

void ServerRotation::linkLost(int count)
{
    // The server that dropped us has failed this pass: every other entry is tried at once, and
    // that one again only after the wait, so that a server which lets us on and drops us again
    // is never hammered.
    m_index = count > 0 ? (m_index + 1) % count : 0;
    m_recovering = true;
    m_tried = 1;
}

void ServerRotation::welcomed()
{
    m_backoff.reset();
    m_recovering = false;
    m_tried = 0;
}

void ServerRotation::stop()
{
    m_index = 0;
    m_recovering = false;
    m_tried = 0;
}

bool ServerRotation::passEnded(bool reconnect)
{
    m_index = 0;
    m_tried = 0;
    return m_recovering && reconnect;
}

ServerRotation::Retry ServerRotation::nextRetry(const QDateTime& now, double jitter)
{
    Retry retry;
    retry.waitMs = m_backoff.next(jitter);
    retry.at = now.addMSecs(retry.waitMs);
    return retry;
}

} // namespace irc
