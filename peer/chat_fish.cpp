// The relayed chats' encryption in ChatSessions: the status each window shows, the notes about
// it, the window's requests, and the comparison over a pinned private link.
#include "peer/chat_host.h"
#include "peer/chat_sessions.h"
#include "peer/chat_window.h"
#include "peer/direct_chat_link.h"

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

void ChatSessions::sendFishCheck(ChatSession& chat)
{
    // Only a link whose certificate is the one pinned before can vouch for the exchange: a
    // first-seen one could belong to whoever stood between us in it.
    if (!m_fish || !chat.isPrivate() || chat.tls != LinkProtection::TlsPinned || !chat.link)
        return;
    if (const auto check = m_fish->checkMessage(chat.nick))
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
    if (!m_fish || !chat.isPrivate() || chat.tls != LinkProtection::TlsPinned)
        return true;
    const bool before = m_fish->status(chat.nick).verified;
    m_fish->takeCheck(chat.nick, text);
    // Ours may have gone out before our key existed: the answer lets the other side verify too.
    if (!before && m_fish->status(chat.nick).verified)
        sendFishCheck(chat);
    return true;
}

} // namespace peer
