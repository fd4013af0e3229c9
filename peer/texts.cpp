#include "peer/texts.h"

#include <QCoreApplication>

namespace peer {

QString errorTitle(ChatError /*error*/)
{
    return QCoreApplication::translate("peer", "DCC Chat");
}

QString errorText(ChatError error)
{
    switch (error) {
    case ChatError::NoPortForOffer:
        return QCoreApplication::translate(
            "peer", "No port could be opened for a direct chat, so no offer was sent.");
    case ChatError::OfferNotSent:
        return QCoreApplication::translate("peer",
                                           "The chat offer could not be sent to the server.");
    }
    return {};
}

} // namespace peer
