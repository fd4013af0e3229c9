#include "peer/common/nick_rule.h"

namespace peer {

bool NickRule::same(QByteArrayView a, QByteArrayView b, Unsaid unsaid) const
{
    if (m_mapping)
        return irc::sameNick(a, b, *m_mapping);
    if (unsaid == Unsaid::IgnoreAsciiCase)
        return a.compare(b, Qt::CaseInsensitive) == 0;
    return a == b;
}

} // namespace peer
