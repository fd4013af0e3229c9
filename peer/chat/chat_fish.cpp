// The relayed chats' encryption in ChatSessions: the status each window shows, the notes about
// it, the window's requests, and the comparison over a private link whose certificate the two
// users compared.
#include "peer/chat/chat_sessions.h"
#include "peer/chat/chat_window.h"
#include "peer/chat/direct_chat_link.h"
#include "peer/common/chat_host.h"
#include "peer/crypto/link_check.h"
#include "peer/link/private_link.h"

namespace peer {

void ChatSessions::setFish(FishChats* fish)
{
    m_fish = fish;
    if (!fish)
        return;
    connect(fish, &FishChats::statusChanged, this, &ChatSessions::fishStatusChanged);
    connect(fish, &FishChats::noteShown, this, &ChatSessions::showFishNote);
    connect(fish, &FishChats::keyChanged, this, &ChatSessions::sendFishChecks);
}

void ChatSessions::wireFishActions(ChatWindow* window, ChatSession& chat)
{
    if (m_fish)
        chat.fish = m_fish->status(chat.nick);
    window->protectionChanged();
    const QByteArray nick = chat.nick;
    connect(window, &ChatWindow::encryptAsked, this, [this, nick] {
        if (m_fish)
            m_fish->startExchange(nick);
    });
    connect(window, &ChatWindow::stopEncryptingAsked, this, [this, nick] {
        if (m_fish)
            m_fish->stopEncrypting(nick);
    });
    connect(window, &ChatWindow::keyEntryAsked, this,
            [this, nick, window] { emit keyEntryRequested(nick, window); });
    connect(window, &ChatWindow::comparisonAsked, this,
            [this, nick, window] { emit comparisonRequested(nick, window); });
}

void ChatSessions::fishStatusChanged(const QByteArray& nick)
{
    if (!m_fish)
        return;
    const FishStatus status = m_fish->status(nick);
    for (const auto& chat : m_records) {
        if (chat->isDirect()
            || !m_host.nicks().same(chat->nick, nick, NickRule::Unsaid::IgnoreAsciiCase))
            continue;
        chat->fish = status;
        if (ChatWindow* window = windowOf(*chat))
            window->protectionChanged();
    }
}

void ChatSessions::showFishNote(const QByteArray& nick, const QByteArray& line)
{
    ChatSession* chat = FindRoutedChat(m_records, nick, m_host.nicks());
    ChatWindow* window = chat ? windowOf(*chat) : nullptr;
    // Said where the user looks for it: the chat with them, opened if need be.
    if (!window) {
        chat = addRecord(nick, true, ChatMode::Relayed);
        window = openWindow(*chat, Activation::Leave);
    }
    window->showLine(line);
}

void ChatSessions::wireLinkComparison(ChatWindow* window, ChatSession& chat)
{
    ChatSession* record = &chat;
    connect(window, &ChatWindow::linkComparisonAsked, this, [this, record, window] {
        if (!record->isPrivate() || record->tls == LinkProtection::None || !record->link)
            return;
        const LinkEnds ends = record->link->ends();
        emit linkComparisonRequested(record->nick,
                                     linkComparison(ends.ownFingerprint, ends.peerFingerprint),
                                     ends.peerFingerprint, window);
    });
}

void ChatSessions::linkCompared(const QByteArray& nick, const QByteArray& fingerprint)
{
    // The certificate pinned by now, if another: the comparison was of a link that has gone.
    const std::optional<QByteArray> pinned = m_host.peerPin(nick);
    if (fingerprint.isEmpty() || (pinned && *pinned != fingerprint))
        return;
    const bool kept = m_host.pinPeer(nick, fingerprint, PinKind::Compared);
    for (const auto& chat : m_records) {
        if (!chat->isPrivate() || chat->tls == LinkProtection::None
            || chat->tls == LinkProtection::TlsCompared || chat->peerFingerprint != fingerprint
            || !m_host.nicks().same(chat->nick, nick, NickRule::Unsaid::IgnoreAsciiCase))
            continue;
        ChatWindow* window = windowOf(*chat);
        if (!kept) {
            if (window)
                window->showLine("*" + comparisonNotKeptText().toUtf8() + "*\r\n");
            continue;
        }
        chat->tls = LinkProtection::TlsCompared;
        if (window)
            window->protectionChanged();
        sendFishCheck(*chat);
    }
}

bool ChatSessions::mayVouch(const ChatSession& chat)
{
    // Only a link whose certificate the two users compared can vouch for a key: a first-seen or
    // merely accepted one may belong to whoever stood between us when it was pinned (the server
    // that relayed the offer, say).
    return chat.isPrivate() && chat.tls == LinkProtection::TlsCompared && chat.link;
}

void ChatSessions::sendFishCheck(ChatSession& chat)
{
    if (!m_fish || !mayVouch(chat))
        return;
    if (const auto check = m_fish->checkMessage(chat.nick, chat.link->ends()))
        chat.link->send(*check);
}

void ChatSessions::sendFishChecks(const QByteArray& nick)
{
    for (const auto& chat : m_records) {
        if (m_host.nicks().same(chat->nick, nick, NickRule::Unsaid::IgnoreAsciiCase))
            sendFishCheck(*chat);
    }
}

bool ChatSessions::fishCheckArrived(ChatSession& chat, const QByteArray& text)
{
    if (!FishChats::isCheckMessage(text))
        return false;
    // From a link that cannot vouch, it changes nothing: it neither verifies a key nor ends
    // the verification of one.
    if (!m_fish || !mayVouch(chat))
        return true;
    const bool before = m_fish->status(chat.nick).verified;
    m_fish->takeCheck(chat.nick, text, chat.link->ends());
    // Ours may have gone out before our key existed: the answer lets the other side verify too.
    if (!before && m_fish->status(chat.nick).verified)
        sendFishCheck(chat);
    return true;
}

} // namespace peer
