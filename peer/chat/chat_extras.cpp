// The IRCv3 parts of relayed chats in ChatSessions: delivery marks, typing, the contact's away
// state in the title, and missed lines fetched from the server's history.
#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "peer/chat/chat_deliveries.h"
#include "peer/chat/chat_sessions.h"
#include "peer/chat/chat_window.h"
#include "peer/chat/typing_notices.h"
#include "peer/common/chat_host.h"
#include "peer/common/texts.h"

namespace peer {

namespace {

QByteArray folded(const ChatHost& host, const QByteArray& nick)
{
    return irc::foldNick(nick, host.nicks().caseMapping().value_or(irc::CaseMapping::Rfc1459));
}

} // namespace

void ChatSessions::setDeliveries(ChatDeliveries* deliveries)
{
    m_deliveries = deliveries;
    if (!deliveries)
        return;
    connect(deliveries, &ChatDeliveries::delivered, this,
            [this](quint64 id) { lineDelivered(id, true); });
    connect(deliveries, &ChatDeliveries::notDelivered, this,
            [this](quint64 id) { lineDelivered(id, false); });
}

void ChatSessions::setTyping(TypingNotices* typing)
{
    m_typing = typing;
    if (typing)
        connect(typing, &TypingNotices::shownChanged, this, &ChatSessions::showTypingOf);
}

void ChatSessions::wireExtras(ChatWindow* window, ChatSession& chat)
{
    const QByteArray nick = chat.nick;
    connect(window, &ChatWindow::inputEdited, this, [this, nick](const QString& text) {
        if (m_typing)
            m_typing->edited(nick, text);
    });
    if (m_typing)
        window->showTyping(m_typing->shownFor(nick));
    window->setWindowTitle(windowTitle(nick));
}

QString ChatSessions::windowTitle(const QByteArray& nick) const
{
    const QString name = diag::escapeLineBreaks(diag::decodeServerText(nick));
    return m_away.contains(folded(m_host, nick)) ? tr("%1 (away)").arg(name) : name;
}

void ChatSessions::lineDelivered(quint64 id, bool delivered)
{
    const auto it = m_pendingLines.constFind(id);
    if (it == m_pendingLines.cend())
        return;
    const PendingLine line = *it;
    m_pendingLines.erase(it);
    if (!line.window)
        return;
    line.window->markDelivered(id, delivered);
    if (!delivered)
        line.window->showLine(QByteArray(text::kNotDeliveredNote).replace("%1", line.text));
}

void ChatSessions::showTypingOf(const QByteArray& nick)
{
    if (!m_typing)
        return;
    if (ChatSession* chat = FindRoutedChat(m_records, nick, m_host.nicks())) {
        if (ChatWindow* window = windowOf(*chat))
            window->showTyping(m_typing->shownFor(nick));
    }
}

void ChatSessions::setAway(const QByteArray& nick, const std::optional<QByteArray>& text)
{
    const QByteArray key = folded(m_host, nick);
    if (text && text->isEmpty() && m_away.contains(key))
        return; // only the fact, and it is known
    if (text)
        m_away.insert(key, *text);
    else if (m_away.remove(key) == 0)
        return;
    for (const auto& chat : m_records) {
        if (!chat->isDirect() && chat->window && m_host.nicks().same(chat->nick, nick))
            chat->window->setWindowTitle(windowTitle(chat->nick));
    }
}

void ChatSessions::clearAway()
{
    if (m_away.isEmpty())
        return;
    m_away.clear();
    for (const auto& chat : m_records) {
        if (!chat->isDirect() && chat->window)
            chat->window->setWindowTitle(windowTitle(chat->nick));
    }
}

void ChatSessions::showHistory(const QByteArray& nick, const QList<irc::HistoryLine>& lines)
{
    if (lines.isEmpty())
        return;
    ChatSession* chat = FindRoutedChat(m_records, nick, m_host.nicks());
    ChatWindow* window = chat ? windowOf(*chat) : nullptr;
    const bool opened = !window;
    if (!window)
        window = openWindow(*addRecord(nick, true, ChatMode::Relayed), Activation::Leave);
    for (const irc::HistoryLine& line : lines) {
        const bool ours =
            m_host.nicks().same(line.sender, m_host.nickInUse(), NickRule::Unsaid::IgnoreAsciiCase);
        QByteArray text = line.text;
        bool unprotected = false;
        // Our own lines of an encrypted chat went out sealed with the same key.
        if (m_fish) {
            const FishChats::Incoming opened = m_fish->incoming(nick, text);
            text = fishText::markedText(opened.protection, opened.text);
            unprotected = fishText::isUnprotected(opened.protection);
        }
        window->lineArrived(text, ours, line.time, unprotected);
    }
    if (opened)
        emit chatStartedByPeer(nick);
}

} // namespace peer
