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

std::optional<qint64> ChatLogger::line(const ChatSession& chat, const QByteArray& line,
                                       const QDateTime& at)
{
    bool noted = m_noted.contains(&chat);
    const std::optional<qint64> offset =
        append(chat.nick, ChatLog::stampedLine(at.isValid() ? at : m_host.nowUtc(), line), noted);
    if (noted)
        m_noted.insert(&chat);
    return offset;
}

std::optional<qint64> ChatLogger::unshown(const QByteArray& nick,
                                          const std::vector<NewChatGate::HeldLine>& lines,
                                          const QDateTime& at)
{
    const QDateTime stamp = at.isValid() ? at : m_host.nowUtc();
    QByteArray text;
    for (const NewChatGate::HeldLine& line : lines)
        text +=
            ChatLog::stampedLine(stamp, line.awayEcho ? autoReplyLine(m_host.nickInUse(), line.text)
                                                      : saidLine(nick, line.text));
    if (text.isEmpty())
        return std::nullopt;
    return append(nick, text, m_unshownNoted);
}

std::optional<QString> ChatLogger::pathOf(const QByteArray& nick) const
{
    if (!m_host.loggingOn())
        return std::nullopt;
    const auto dir = m_host.installDir();
    return dir ? ChatLog::logFilePath(*dir, nick) : std::nullopt;
}

std::optional<qint64> ChatLogger::append(const QByteArray& nick, const QByteArray& text,
                                         bool& noted)
{
    const std::optional<QString> path = pathOf(nick);
    if (!path)
        return std::nullopt;
    const std::optional<qint64> at = ChatLog::append(*path, text);
    // The chat goes on without its log, but the user learns once that lines are not kept.
    if (!at && !noted) {
        noted = true;
        diag::DebugLog(QStringLiteral("Could not write the chat log %1; this chat is not "
                                      "being logged")
                           .arg(*path));
    }
    if (at && written)
        written(*path);
    return at;
}

} // namespace peer
