#pragma once

#include "peer/common/session_record.h"
#include "peer/common/texts.h"
#include "peer/link/dcc_endpoint.h"

#include <QObject>

namespace irc {
struct DccOffer;
}

namespace peer {

class ChatFish;
class ChatHost;
class ChatSessions;
class DirectChatLink;

// The direct chats: our offers, the peer's offers we take up, the answers to our passive ones,
// and what each direct link says to its chat.
class ChatOffers : public QObject
{
    Q_OBJECT

public:
    ChatOffers(ChatSessions& sessions, ChatFish& fish, ChatHost& host);

    void startChat(const QByteArray& nick, ChatMode mode);
    void acceptOffer(const irc::DccOffer& offer);
    bool answersOurOffer(const irc::DccOffer& offer) const;
    void takeAnswer(const irc::DccOffer& offer);
    // The peer declined a chat we offered: its window says so and the wait ends. A REJECT
    // that declines no open offer of ours changes nothing.
    void takeReject(const irc::DccReject& reject);

signals:
    void failed(peer::ChatError error);

private:
    // An offer or answer of ours that did not go out: the chat goes, and the user learns why.
    void offerFailed(ChatSession* chat, DccEndpoint::Failure failure);
    ChatSession* waitingForAnswer(const irc::DccOffer& offer) const;
    DirectChatLink* makeLink(ChatSession& chat);
    void askPeerKey(ChatSession& chat, DirectChatLink* link);

    ChatSessions& m_sessions;
    ChatFish& m_fish;
    ChatHost& m_host;
};

} // namespace peer
