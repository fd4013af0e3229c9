#pragma once

#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/message.h"

#include <QByteArray>

#include <optional>

namespace bench {

// The offer of `kind` in a line our side sent, read as alice's peer reads it from the server.
inline std::optional<irc::DccOffer> readSentOffer(irc::DccKind kind, const QByteArray& line,
                                                  bool secure = false)
{
    const std::optional<irc::Message> message = irc::parseMessage(line);
    const std::optional<irc::Ctcp> ctcp =
        irc::splitCtcp(message ? message->trailing() : std::nullopt);
    if (!ctcp || !ctcp->dcc)
        return std::nullopt;
    return irc::parseDccOffer(kind, "alice", ctcp->arguments, secure);
}

} // namespace bench
