#include "irc/reconnect_backoff.h"

#include <algorithm>
#include <cmath>

namespace irc {

qint64 ReconnectBackoff::next(double unit)
{
    const double spread = std::clamp(std::isfinite(unit) ? unit : 0.0, -1.0, 1.0) * kSpread;
    const qint64 wait = std::llround(double(m_baseMs) * (1.0 + spread));
    m_baseMs = std::min(m_baseMs * 2, kLastMs);
    return wait;
}

} // namespace irc
