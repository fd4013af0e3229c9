#pragma once

#include <QtGlobal>

namespace irc {

// How long to wait before the next pass over the server list once a pass after a lost link has
// found no server: 15 s, doubling up to 5 minutes. Each wait is spread by up to a tenth either
// way, so that many clients dropped by the same outage do not all come back in the same second.
class ReconnectBackoff
{
public:
    static constexpr qint64 kFirstMs = 15'000;
    static constexpr qint64 kLastMs = 300'000;
    static constexpr double kSpread = 0.1;

    // The next wait; `unit` (clamped to -1..1) picks where in the spread it falls.
    qint64 next(double unit);
    // After a registration the next outage starts again from the shortest wait.
    void reset() { m_baseMs = kFirstMs; }

private:
    qint64 m_baseMs = kFirstMs;
};

} // namespace irc
