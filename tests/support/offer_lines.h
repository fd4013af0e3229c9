#pragma once

#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/message.h"
#include "irc/message_dispatcher.h"

#include <QByteArray>

#include <optional>

namespace test {

// An offer line as a server hands it on, read the way the dispatcher reads it.
inline std::optional<irc::DccOffer> readOfferLine(const QByteArray& line)
{
    const std::optional<irc::Message> message = irc::parseMessage(line);
    const std::optional<irc::Ctcp> ctcp =
        irc::splitCtcp(message ? message->trailing() : std::nullopt);
    if (!ctcp || !ctcp->dcc)
        return std::nullopt;
    const std::optional<irc::DccType> type = irc::readDccType(ctcp->arguments);
    if (!type || !type->offer)
        return std::nullopt;
    return irc::parseDccOffer(*type->offer, irc::GetSenderNick(*message), ctcp->arguments,
                              type->secure);
}

} // namespace test
