#include "peer/chat/chat_extras.h"

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

ChatExtras::ChatExtras(ChatSessions& sessions, ChatHost& host)
    : m_sessions(sessions)
    , m_host(host)
{}

void ChatExtras::setDeliveries(ChatDeliveries* deliveries)
{
    m_deliveries = deliveries;
    if (!deliveries)
        return;
    connect(deliveries, &ChatDeliveries::delivered, this,
            [this](quint64 id) { lineDelivered(id, true); });
    connect(deliveries, &ChatDeliveries::notDelivered, this,
            [this](quint64 id) { lineDelivered(id, false); });
}

void ChatExtras::setTyping(TypingNotices* typing)
{
    m_typing = typing;
    if (typing)
        connect(typing, &TypingNotices::shownChanged, this, &ChatExtras::showTypingOf);
}

void ChatExtras::wireWindow(ChatWindow* window, ChatSession& chat)
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

std::optional<quint64> ChatExtras::newLine()
{
    return m_deliveries ? m_deliveries->newLine() : std::nullopt;
}

std::optional<QByteArray> ChatExtras::label(quint64 id, const QByteArray& nick,
                                            const QByteArray& text)
{
    return m_deliveries ? m_deliveries->sending(id, nick, text) : std::nullopt;
}

void ChatExtras::waitForEcho(quint64 id, ChatWindow* window, const QByteArray& shown)
{
    m_pendingLines.insert(id, {window, shown});
}

void ChatExtras::sent(const QByteArray& nick)
{
    if (m_typing)
        m_typing->sent(nick);
}

void ChatExtras::messageFrom(const QByteArray& nick)
{
    if (m_typing)
        m_typing->messageFrom(nick);
}

QString ChatExtras::windowTitle(const QByteArray& nick) const
{
    const QString name = diag::escapeLineBreaks(diag::decodeServerText(nick));
    return m_away.contains(folded(m_host, nick)) ? tr("%1 (away)").arg(name) : name;
}

void ChatExtras::lineDelivered(quint64 id, bool delivered)
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
        m_sessions.showLine(line.window->session(),
                            QByteArray(text::kNotDeliveredNote).replace("%1", line.text));
}

void ChatExtras::showTypingOf(const QByteArray& nick)
{
    if (!m_typing)
        return;
    if (ChatSession* chat = FindRoutedChat(m_sessions.records(), nick, m_host.nicks())) {
        if (ChatWindow* window = m_sessions.windowOf(*chat))
            window->showTyping(m_typing->shownFor(nick));
    }
}

void ChatExtras::setAway(const QByteArray& nick, const std::optional<QByteArray>& text)
{
    const QByteArray key = folded(m_host, nick);
    if (text && text->isEmpty() && m_away.contains(key))
        return; // only the fact, and it is known
    if (text)
        m_away.insert(key, *text);
    else if (m_away.remove(key) == 0)
        return;
    for (const auto& chat : m_sessions.records()) {
        if (!chat->isDirect() && chat->window && m_host.nicks().same(chat->nick, nick))
            chat->window->setWindowTitle(windowTitle(chat->nick));
    }
}

void ChatExtras::clearAway()
{
    if (m_away.isEmpty())
        return;
    m_away.clear();
    for (const auto& chat : m_sessions.records()) {
        if (!chat->isDirect() && chat->window)
            chat->window->setWindowTitle(windowTitle(chat->nick));
    }
}

} // namespace peer
