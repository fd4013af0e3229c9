#include "peer/chat/chat_earlier.h"

#include "peer/chat/chat_log.h"
#include "peer/chat/chat_logger.h"
#include "peer/chat/chat_window.h"
#include "peer/chat/earlier_lines.h"
#include "peer/common/session_record.h"

#include <QFileInfo>
#include <QPointer>

namespace peer {

ChatEarlier::ChatEarlier(ChatLogger& logger)
    : m_logger(logger)
{}

void ChatEarlier::opened(ChatWindow& window, ChatSession& chat, std::optional<qint64> heldFrom)
{
    // A direct chat's window that opens again shows what it said from its record instead.
    const std::optional<QString> path = m_logger.pathOf(chat.nick);
    if (path && chat.transcript.isEmpty()) {
        const qint64 end = heldFrom ? *heldFrom : QFileInfo(*path).size();
        window.earlier()->showTail(ChatLog::linesBefore(*path, end, kOnOpen));
        EarlierLines* earlier = window.earlier();
        const QString log = *path;
        QObject::connect(earlier, &EarlierLines::olderWanted, earlier, [earlier, log] {
            if (const std::optional<qint64> oldest = earlier->oldest())
                earlier->showOlder(
                    ChatLog::linesBefore(log, *oldest, std::min(kPerLoad, earlier->room())));
        });
    }
    m_logger.started(chat);
}

void ChatEarlier::log(ChatSession& chat, const QByteArray& line, const QDateTime& at)
{
    const std::optional<qint64> offset = m_logger.line(chat, line, at);
    if (offset && chat.window)
        chat.window->earlier()->tagNewest(*offset);
}

void ChatEarlier::showAt(ChatWindow& window, qint64 offset)
{
    EarlierLines* earlier = window.earlier();
    const std::optional<QString> path = m_logger.pathOf(window.session().nick);
    if (earlier->showAt(offset) || !path)
        return;
    std::vector<LoggedLine> lines = ChatLog::linesBefore(*path, offset, kAround);
    std::vector<LoggedLine> after = ChatLog::linesFrom(*path, offset, kAround + 2);
    const bool later = after.size() > std::size_t(kAround + 1);
    if (later)
        after.pop_back();
    lines.insert(lines.end(), after.begin(), after.end());
    earlier->showAround(lines, later);
    earlier->showAt(offset);
}

} // namespace peer
