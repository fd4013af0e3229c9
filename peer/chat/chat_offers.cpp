#include "peer/chat/chat_offers.h"

#include "peer/chat/chat_fish.h"
#include "peer/chat/chat_sessions.h"
#include "peer/chat/chat_window.h"
#include "peer/chat/direct_chat_link.h"
#include "peer/common/chat_host.h"
#include "peer/common/chat_text.h"
#include "peer/common/texts.h"
#include "peer/link/offer_match.h"
#include "peer/link/peer_key_question.h"

namespace peer {

ChatOffers::ChatOffers(ChatSessions& sessions, ChatFish& fish, ChatHost& host)
    : m_sessions(sessions)
    , m_fish(fish)
    , m_host(host)
{}

void ChatOffers::offerFailed(ChatSession* chat, DccEndpoint::Failure failure)
{
    // An offer nobody can take up is worse than none: say so instead.
    m_sessions.removeRecord(chat);
    emit failed(failure == DccEndpoint::Failure::NoPort ? ChatError::NoPortForOffer
                                                        : ChatError::OfferNotSent);
}

void ChatOffers::startChat(const QByteArray& nick, ChatMode mode)
{
    // The Blowfish chat stays as it always was, for peers that speak nothing else.
    if (mode == ChatMode::Direct && m_host.privateLinks())
        mode = ChatMode::Private;
    ChatSession* chat = m_sessions.addRecord(nick, true, mode);
    if (mode == ChatMode::Relayed) {
        // Through the server: there is no offer, so nobody to wait for.
        m_sessions.openWindow(*chat);
        return;
    }
    if (chat->isPrivate() && !m_host.tlsIdentity()) {
        m_sessions.removeRecord(chat);
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
    m_sessions.openWindow(*chat);
    m_sessions.showLine(*chat, text::kWaiting);
}

void ChatOffers::acceptOffer(const irc::DccOffer& offer)
{
    // Not routed: relayed text from the same nick opens a chat of its own.
    ChatSession* chat = m_sessions.addRecord(offer.sender, false,
                                             offer.secure ? ChatMode::Private : ChatMode::Direct);
    DirectChatLink* link = makeLink(*chat);
    if (!offer.passive()) {
        link->connectTo(offer.address, offer.port);
        m_sessions.openWindow(*chat);
        m_sessions.showLine(*chat, text::kEstablished);
        return;
    }
    // The peer cannot be reached: we listen, and our answer tells it where.
    if (const auto failure = link->endpoint().answer(m_host, offer, link->listening())) {
        offerFailed(chat, *failure);
        return;
    }
    // "Connection established." follows when the peer has connected.
    m_sessions.openWindow(*chat);
}

ChatSession* ChatOffers::waitingForAnswer(const irc::DccOffer& offer) const
{
    for (const auto& chat : m_sessions.records()) {
        if (!chat->link)
            continue;
        OurOffer ours = chat->link->endpoint().ours();
        ours.open = !chat->link->hasPeer();
        if (answersOffer(ours, offer, m_host.nicks()))
            return chat.get();
    }
    return nullptr;
}

bool ChatOffers::answersOurOffer(const irc::DccOffer& offer) const
{
    return waitingForAnswer(offer) != nullptr;
}

void ChatOffers::takeAnswer(const irc::DccOffer& offer)
{
    ChatSession* chat = waitingForAnswer(offer);
    if (!chat)
        return;
    chat->link->endpoint().answered();
    chat->link->connectTo(offer.address, offer.port);
    if (m_sessions.windowOf(*chat))
        m_sessions.connectionEstablished(*chat);
}

void ChatOffers::takeReject(const irc::DccReject& reject)
{
    for (const auto& chat : m_sessions.records()) {
        if (!chat->link)
            continue;
        OurOffer ours = chat->link->endpoint().ours();
        ours.open = ours.open && !chat->link->hasPeer();
        if (!rejectDeclinesOffer(ours, reject, m_host.nicks()))
            continue;
        const QByteArray declined = QByteArray(text::kDeclinedChat).replace("%1", chat->nick);
        m_sessions.showLine(*chat, noteLine(declined));
        chat->link->close();
        return;
    }
}

DirectChatLink* ChatOffers::makeLink(ChatSession& chat)
{
    auto* link = new DirectChatLink(chat, m_host, &m_sessions);
    ChatSession* record = &chat;
    connect(link, &DirectChatLink::protectionChanged, this, [this, record] {
        m_sessions.protectionChanged(*record);
        m_fish.sendCheck(*record);
    });
    connect(link, &DirectChatLink::connected, this,
            [this, record] { m_sessions.connectionEstablished(*record); });
    connect(link, &DirectChatLink::peerKeyToAccept, this,
            [this, record, link] { askPeerKey(*record, link); });
    connect(link, &DirectChatLink::textReceived, this, [this, record](const QByteArray& text) {
        if (!m_fish.checkArrived(*record, text))
            m_sessions.lineArrived(*record, text);
    });
    connect(link, &DirectChatLink::ciphertextReceived, this,
            [this, record](const QByteArray& ciphertext) {
                m_sessions.windowFor(*record)->showCiphertext(ciphertext);
            });
    connect(link, &DirectChatLink::keyChanged, this, [this, record] {
        if (ChatWindow* window = m_sessions.windowOf(*record))
            window->encryptionChanged();
    });
    connect(link, &DirectChatLink::noteShown, this, [this, record](const QByteArray& note) {
        m_sessions.windowFor(*record);
        m_sessions.showLine(*record, note);
    });
    connect(
        link, &DirectChatLink::closed, this,
        [this, record] { m_sessions.showLine(*record, text::kLinkClosed); },
        Qt::SingleShotConnection);
    return link;
}

void ChatOffers::askPeerKey(ChatSession& chat, DirectChatLink* link)
{
    auto* question =
        new PeerKeyQuestion(chat.nick, chat.peerFingerprint, link->ownFingerprint(), nullptr);
    question->overlay(m_sessions.windowFor(chat));
    connect(question, &PeerKeyQuestion::accepted, link, &DirectChatLink::acceptPeerKey);
    connect(question, &PeerKeyQuestion::refused, link, &DirectChatLink::refusePeerKey);
    // A window closed unanswered leaves nobody to accept the link: it goes unused.
    connect(question, &QObject::destroyed, link, [link] {
        if (link->awaitsPeerKey())
            link->close();
    });
}

} // namespace peer
