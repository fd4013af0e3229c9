#include "peer/chat/chat_logger.h"

#include "diag/debug_log.h"
#include "peer/chat/chat_log.h"
#include "peer/common/chat_host.h"
#include "peer/common/chat_text.h"
#include "peer/common/session_record.h"

namespace peer {

ChatLogger::ChatLogger(ChatHost& host)
    : m_host(host)
{}

void ChatLogger::started(const ChatSession& chat)
{
    m_noted.remove(&chat);
    bool noted = false;
    append(chat.nick, ChatLog::startedText(chat.nick), noted);
    if (noted)
        m_noted.insert(&chat);
}

void ChatLogger::line(const ChatSession& chat, const QByteArray& line, const QDateTime& at)
{
    bool noted = m_noted.contains(&chat);
    append(chat.nick, ChatLog::stampedLine(at.isValid() ? at : m_host.nowUtc(), line), noted);
    if (noted)
        m_noted.insert(&chat);
}

void ChatLogger::unshown(const QByteArray& nick, const std::vector<NewChatGate::HeldLine>& lines,
                         const QDateTime& at)
{
    const QDateTime stamp = at.isValid() ? at : m_host.nowUtc();
    QByteArray text;
    for (const NewChatGate::HeldLine& line : lines)
        text +=
            ChatLog::stampedLine(stamp, line.awayEcho ? autoReplyLine(m_host.nickInUse(), line.text)
                                                      : saidLine(nick, line.text));
    if (!text.isEmpty())
        append(nick, text, m_unshownNoted);
}

void ChatLogger::append(const QByteArray& nick, const QByteArray& text, bool& noted)
{
    if (!m_host.loggingOn())
        return;
    const auto dir = m_host.installDir();
    if (!dir)
        return;
    const auto path = ChatLog::logFilePath(*dir, nick);
    // The chat goes on without its log, but the user learns once that lines are not kept.
    if (path && !ChatLog::append(*path, text) && !noted) {
        noted = true;
        diag::DebugLog(QStringLiteral("Could not write the chat log %1; this chat is not "
                                      "being logged")
                           .arg(*path));
    }
}

} // namespace peer
