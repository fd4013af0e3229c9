#include "peer/chat_sessions.h"

#include "diag/debug_log.h"
#include "peer/chat_host.h"
#include "peer/chat_window.h"
#include "peer/direct_chat_link.h"
#include "peer/peer_key_question.h"

#include <QHostAddress>
#include <QRandomGenerator>

#include <algorithm>

namespace peer {

ChatSessions::ChatSessions(ChatHost& host, QObject* parent)
    : QObject(parent)
    , m_host(host)
{
    m_clock.start();
}

void ChatSessions::setNickComparison(NickComparison same)
{
    m_gate.setNickComparison(same);
    m_sameNick = std::move(same);
}

ChatSessions::~ChatSessions()
{
    closeAll();
}

ChatSession* ChatSessions::addRecord(const QByteArray& nick, bool routed, ChatMode mode)
{
    auto record = std::make_unique<ChatSession>();
    record->nick = nick;
    record->serverRouted = routed;
    record->isDcc = mode != ChatMode::Relayed;
    record->encrypted = mode == ChatMode::Encrypted;
    return m_records.AppendRecord(std::move(record));
}

void ChatSessions::removeRecord(ChatSession* chat)
{
    delete chat->window.data();
    delete chat->socket.data();
    m_records.RemoveRecord(chat);
}

void ChatSessions::closeAll()
{
    // A window and a link both point into their record, so neither may outlive it.
    for (const auto& chat : m_records)
        delete chat->window.data();
    for (const auto& chat : m_records)
        delete chat->socket.data();
    m_records.FreeAllRecords();
    m_gate.clear();
}

ChatWindow* ChatSessions::windowOf(const ChatSession& chat) const
{
    return qobject_cast<ChatWindow*>(chat.window.data());
}

ChatWindow* ChatSessions::openWindow(ChatSession& chat, Activation activation)
{
    // Without an owner, as every chat window: it lives beside the main window, not inside it.
    auto* window = new ChatWindow(chat, m_host);
    m_placer->show(window, activation == Activation::Leave ? WindowPlacer::Opener::Network
                                                           : WindowPlacer::Opener::User);
    return window;
}

ChatWindow* ChatSessions::windowFor(ChatSession& chat)
{
    // A direct link outlives its window; what still arrives opens the window again.
    if (ChatWindow* window = windowOf(chat))
        return window;
    return openWindow(chat, Activation::Leave);
}

ChatWindow* ChatSessions::openChat(const QByteArray& nick)
{
    return openWindow(*addRecord(nick, true, ChatMode::Relayed));
}

DirectChatLink* ChatSessions::makeLink(ChatSession& chat)
{
    auto* link = new DirectChatLink(chat, m_host, this);
    ChatSession* record = &chat;
    connect(link, &DirectChatLink::protectionChanged, this, [this, record] {
        if (ChatWindow* window = windowOf(*record))
            window->protectionChanged();
    });
    connect(link, &DirectChatLink::connected, this,
            [this, record] { windowFor(*record)->connectionEstablished(); });
    connect(link, &DirectChatLink::peerKeyToAccept, this, [this, record, link] {
        auto* question = new PeerKeyQuestion(record->nick, record->peerFingerprint,
                                             link->ownFingerprint(), nullptr);
        question->overlay(windowFor(*record));
        connect(question, &PeerKeyQuestion::accepted, link, &DirectChatLink::acceptPeerKey);
        connect(question, &PeerKeyQuestion::refused, link, &DirectChatLink::refusePeerKey);
        // A window closed unanswered leaves nobody to accept the link: it goes unused.
        connect(question, &QObject::destroyed, link, [link] {
            if (link->awaitsPeerKey())
                link->close();
        });
    });
    connect(link, &DirectChatLink::textReceived, this,
            [this, record](const QByteArray& text) { windowFor(*record)->lineArrived(text); });
    connect(link, &DirectChatLink::ciphertextReceived, this,
            [this, record](const QByteArray& ciphertext) {
                windowFor(*record)->showCiphertext(ciphertext);
            });
    connect(link, &DirectChatLink::keyChanged, this, [this, record] {
        if (ChatWindow* window = windowOf(*record))
            window->encryptionChanged();
    });
    connect(link, &DirectChatLink::noteShown, this,
            [this, record](const QByteArray& note) { windowFor(*record)->showLine(note); });
    connect(
        link, &DirectChatLink::closed, this,
        [this, record] {
            if (ChatWindow* window = windowOf(*record))
                window->showLine(text::kLinkClosed);
        },
        Qt::SingleShotConnection);
    return link;
}

void ChatSessions::startChat(const QByteArray& nick, ChatMode mode)
{
    ChatSession* chat = addRecord(nick, true, mode);
    if (mode == ChatMode::Relayed) {
        // Through the server: there is no offer, so nobody to wait for.
        openWindow(*chat);
        return;
    }
    // The Blowfish chat stays as it always was, for peers that speak nothing else.
    chat->secure = mode == ChatMode::Direct && m_host.privateLinks();
    if (chat->secure && !m_host.tlsIdentity()) {
        removeRecord(chat);
        emit failed(ChatError::NoIdentity);
        return;
    }
    DirectChatLink* link = makeLink(*chat);
    std::optional<quint16> port;
    if (m_host.passiveOffers()) {
        // Behind NAT nobody can reach us: the peer listens and we connect out.
        chat->token = irc::makeOfferToken(QRandomGenerator::global()->generate());
        port = 0;
    } else {
        port = link->listen(irc::offerPortsToTry(QRandomGenerator::global()->generate()));
    }
    const auto offer = port ? irc::formatOffer({irc::DccKind::Chat,
                                                nick,
                                                m_host.offerAddressField(),
                                                *port,
                                                {},
                                                0,
                                                chat->token,
                                                chat->secure})
                            : std::nullopt;
    if (!offer || !m_host.sendServerLine(*offer)) {
        // An offer nobody can take up is worse than none: say so instead.
        removeRecord(chat);
        emit failed(port ? ChatError::OfferNotSent : ChatError::NoPortForOffer);
        return;
    }
    openWindow(*chat)->showLine(text::kWaiting);
}

void ChatSessions::acceptOffer(const irc::DccOffer& offer)
{
    // Not routed: relayed text from the same nick opens a chat of its own.
    ChatSession* chat = addRecord(offer.sender, false, ChatMode::Direct);
    chat->secure = offer.secure;
    DirectChatLink* link = makeLink(*chat);
    if (!offer.passive()) {
        link->connectTo(offer.address, offer.port);
        openWindow(*chat)->showLine(text::kEstablished);
        return;
    }
    // The peer cannot be reached: we listen, and our answer tells it where.
    const auto port = link->listen(irc::offerPortsToTry(QRandomGenerator::global()->generate()));
    const auto answer = port ? irc::formatOffer({irc::DccKind::Chat,
                                                 offer.sender,
                                                 m_host.offerAddressField(),
                                                 *port,
                                                 {},
                                                 0,
                                                 offer.token,
                                                 offer.secure})
                             : std::nullopt;
    if (!answer || !m_host.sendServerLine(*answer)) {
        removeRecord(chat);
        emit failed(port ? ChatError::OfferNotSent : ChatError::NoPortForOffer);
        return;
    }
    // "Connection established." follows when the peer has connected.
    openWindow(*chat);
}

ChatSession* ChatSessions::waitingForAnswer(const irc::DccOffer& offer) const
{
    if (offer.kind != irc::DccKind::Chat || offer.token.isEmpty() || offer.port == 0)
        return nullptr;
    for (const auto& chat : m_records) {
        const auto* link = qobject_cast<DirectChatLink*>(chat->socket.data());
        if (link && !link->hasPeer() && chat->token == offer.token
            && chat->nick.compare(offer.sender, Qt::CaseInsensitive) == 0)
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
    auto* link = qobject_cast<DirectChatLink*>(chat->socket.data());
    link->connectTo(offer.address, offer.port);
    if (ChatWindow* window = windowOf(*chat))
        window->connectionEstablished();
}

bool ChatSessions::isContact(const QByteArray& nick) const
{
    const QList<QByteArray> contacts = m_host.contactNicks();
    return std::any_of(contacts.begin(), contacts.end(), [&](const QByteArray& contact) {
        return m_sameNick ? m_sameNick(contact, nick) : contact == nick;
    });
}

bool ChatSessions::mayOpenWindow(const QByteArray& sender, const std::optional<QByteArray>& text,
                                 const std::optional<QByteArray>& awayEcho)
{
    if (isContact(sender))
        return true;
    std::vector<NewChatGate::HeldLine> lines;
    if (text)
        lines.push_back({*text, false});
    if (awayEcho)
        lines.push_back({*awayEcho, true});
    const int heldBefore = m_gate.heldCount();
    switch (m_gate.arrive(sender, lines, m_clock.elapsed())) {
    case NewChatGate::Verdict::Open:
        return true;
    case NewChatGate::Verdict::Held:
        // The entry lists people: more lines from one already listed change nothing there.
        if (m_gate.heldCount() != heldBefore)
            emit heldChanged();
        return false;
    case NewChatGate::Verdict::DroppedFirst:
        diag::DebugLog(QStringLiteral("Too many people outside the contact list wrote to you; "
                                      "what more of them write is dropped until you open theirs"));
        return false;
    case NewChatGate::Verdict::Dropped:
        return false;
    }
    return false;
}

void ChatSessions::showReleased(ChatWindow* window, const QByteArray& nick)
{
    const std::vector<NewChatGate::HeldLine> lines = m_gate.release(nick);
    for (const NewChatGate::HeldLine& line : lines)
        window->lineArrived(line.text, line.awayEcho);
    if (!lines.empty())
        emit heldChanged();
}

void ChatSessions::openHeld(const QByteArray& nick)
{
    // Asked for by the user, so it may come up in front; the lines were never shown before.
    ChatSession* chat = FindRoutedChat(m_records, nick, m_sameNick);
    ChatWindow* window = chat ? windowOf(*chat) : nullptr;
    showReleased(window ? window : openChat(nick), nick);
}

void ChatSessions::deliverPrivateText(const QByteArray& sender,
                                      const std::optional<QByteArray>& text,
                                      const std::optional<QByteArray>& awayEcho)
{
    ChatSession* chat = FindRoutedChat(m_records, sender, m_sameNick);
    if (chat && !chat->window) {
        // Its window is gone without closing; nothing may be lost, so a new chat takes over.
        chat->serverRouted = false;
        chat = nullptr;
    }
    ChatWindow* window = chat ? windowOf(*chat) : nullptr;
    if (!window) {
        if (!mayOpenWindow(sender, text, awayEcho))
            return;
        window = openWindow(*addRecord(sender, true, ChatMode::Relayed), Activation::Leave);
        // Held before and a contact since: what they wrote then comes first.
        showReleased(window, sender);
    }
    if (text)
        window->lineArrived(*text);
    if (awayEcho)
        window->lineArrived(*awayEcho, true);
    if (!chat)
        emit chatStartedByPeer(sender);
}

} // namespace peer
