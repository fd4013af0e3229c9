#include "peer/nick_rule.h"

namespace peer {

bool NickRule::same(QByteArrayView a, QByteArrayView b, Unsaid unsaid) const
{
    if (m_server)
        return m_server(a, b);
    if (unsaid == Unsaid::IgnoreAsciiCase)
        return a.compare(b, Qt::CaseInsensitive) == 0;
    return a == b;
}

} // namespace peer
