#include "irc/server_rotation.h"

namespace irc {

std::optional<int> ServerRotation::current(int count) const
{
    if (m_index < 0 || m_index >= count)
        return std::nullopt;
    return m_index;
}

void ServerRotation::linkLost()
{
    ++m_index;
    m_recovering = true;
}

void ServerRotation::welcomed()
{
    m_backoff.reset();
    m_recovering = false;
}

void ServerRotation::stop()
{
    m_index = 0;
    m_recovering = false;
}

bool ServerRotation::passEnded(bool reconnect)
{
    m_index = 0;
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
