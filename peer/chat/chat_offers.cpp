// The direct chats of ChatSessions: our offers, the peer's offers we take up, and the answers to
// our passive ones.
#include "peer/chat/chat_sessions.h"
#include "peer/chat/chat_window.h"
#include "peer/chat/direct_chat_link.h"
#include "peer/common/chat_host.h"

namespace peer {

void ChatSessions::offerFailed(ChatSession* chat, DccEndpoint::Failure failure)
{
    // An offer nobody can take up is worse than none: say so instead.
    removeRecord(chat);
    emit failed(failure == DccEndpoint::Failure::NoPort ? ChatError::NoPortForOffer
                                                        : ChatError::OfferNotSent);
}

void ChatSessions::startChat(const QByteArray& nick, ChatMode mode)
{
    // The Blowfish chat stays as it always was, for peers that speak nothing else.
    if (mode == ChatMode::Direct && m_host.privateLinks())
        mode = ChatMode::Private;
    ChatSession* chat = addRecord(nick, true, mode);
    if (mode == ChatMode::Relayed) {
        // Through the server: there is no offer, so nobody to wait for.
        openWindow(*chat);
        return;
    }
    if (chat->isPrivate() && !m_host.tlsIdentity()) {
        removeRecord(chat);
        emit failed(ChatError::NoIdentity);
        return;
    }
    DirectChatLink* link = makeLink(*chat);
    irc::OutgoingOffer offer;
    offer.kind = irc::DccKind::Chat;
    offer.nick = nick;
    offer.secure = chat->isPrivate();
    if (const auto failure =
            link->endpoint().offer(m_host, offer, link->listening(), m_host.passiveOffers())) {
        offerFailed(chat, *failure);
        return;
    }
    openWindow(*chat)->showLine(text::kWaiting);
}

void ChatSessions::acceptOffer(const irc::DccOffer& offer)
{
    // Not routed: relayed text from the same nick opens a chat of its own.
    ChatSession* chat =
        addRecord(offer.sender, false, offer.secure ? ChatMode::Private : ChatMode::Direct);
    DirectChatLink* link = makeLink(*chat);
    if (!offer.passive()) {
        link->connectTo(offer.address, offer.port);
        openWindow(*chat)->showLine(text::kEstablished);
        return;
    }
    // The peer cannot be reached: we listen, and our answer tells it where.
    if (const auto failure = link->endpoint().answer(m_host, offer, link->listening())) {
        offerFailed(chat, *failure);
        return;
    }
    // "Connection established." follows when the peer has connected.
    openWindow(*chat);
}

ChatSession* ChatSessions::waitingForAnswer(const irc::DccOffer& offer) const
{
    for (const auto& chat : m_records) {
        if (!chat->link)
            continue;
        OurOffer ours = chat->link->endpoint().ours();
        ours.open = !chat->link->hasPeer();
        if (answersOffer(ours, offer, m_host.nicks()))
            return chat.get();
    }
    return nullptr;
}

bool ChatSessions::answersOurOffer(const irc::DccOffer& offer) const
{
    return waitingForAnswer(offer) != nullptr;
}

void ChatSessions::takeAnswer(const irc::DccOffer& offer)
{
    ChatSession* chat = waitingForAnswer(offer);
    if (!chat)
        return;
    chat->link->endpoint().answered();
    chat->link->connectTo(offer.address, offer.port);
    if (ChatWindow* window = windowOf(*chat))
        window->connectionEstablished();
}

} // namespace peer
