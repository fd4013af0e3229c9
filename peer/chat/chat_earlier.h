#pragma once

#include <QByteArray>
#include <QDateTime>

#include <optional>

namespace peer {

class ChatLogger;
class ChatWindow;
struct ChatSession;

// What a chat's window shows of its log, and the log it writes: the end of the log when the
// window opens (up to where held lines start, which come after as new), older lines as the user
// scrolls up, and the lines around one that was found. Reads only the log's own file, a block at
// a time, so a log of any size opens as fast as a short one.
class ChatEarlier
{
public:
    static constexpr int kOnOpen = 100;
    static constexpr int kPerLoad = 200;
    static constexpr int kAround = 50;

    explicit ChatEarlier(ChatLogger& logger);

    // `window` of `chat` came up: it shows the end of the log (before `heldFrom`, where lines
    // held for the user start, which come as new), then the log says the chat started.
    void opened(ChatWindow& window, ChatSession& chat, std::optional<qint64> heldFrom);
    // Logs one shown line of `chat`; its window learns where the line went.
    void log(ChatSession& chat, const QByteArray& line, const QDateTime& at);
    // Brings the line of the log at `offset` into view in `window`, with the lines around it.
    void showAt(ChatWindow& window, qint64 offset);

private:
    ChatLogger& m_logger;
};

} // namespace peer
