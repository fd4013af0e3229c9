#include "irc/link_status.h"

#include "diag/server_text.h"
#include "irc/texts.h"

namespace irc {

QString statusText(const LinkStatus& status)
{
    using Step = LinkStatus::Step;
    switch (status.step) {
    case Step::NoServers:
        return QString::fromLatin1(text::kNoServers);
    case Step::AllServersFailed:
        return QString::fromLatin1(text::kAllServersFailed);
    case Step::ResolveFailed:
        return QString::fromLatin1(text::kResolveFailed);
    case Step::SendingUserInfo:
        return QString::fromLatin1(text::kSendingUserInfo);
    case Step::Connected:
        return QString::fromLatin1(text::kConnectedTo).arg(diag::decodeServerText(status.address));
    case Step::Reconnecting:
        return QString::fromLatin1(text::kReconnecting).arg(status.serverIndex);
    case Step::Disconnected:
        return QString::fromLatin1(text::kDisconnected);
    }
    return {};
}

QString connectedTitle(const QByteArray& nick)
{
    return QString::fromLatin1(text::kTitleConnected).arg(diag::decodeServerText(nick));
}

QString idleTitle()
{
    return QString::fromLatin1(text::kTitleIdle);
}

} // namespace irc
