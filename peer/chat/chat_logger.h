#pragma once

#include "peer/chat/new_chat_gate.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <vector>

namespace peer {

class ChatHost;
struct ChatSession;

// The chat log as the chats keep it: with logging on, each line a window shows goes to its
// chat's log once, stamped with when it was said. A log that cannot be written is said once per
// window; the chat goes on without it.
class ChatLogger
{
public:
    explicit ChatLogger(ChatHost& host);

    // A window of `chat` came up: its log says the chat started.
    void started(const ChatSession& chat);
    // One shown line of `chat` (one line, ending in CR LF), said at `at` (invalid: now); where
    // in the log it went, when it was logged.
    std::optional<qint64> line(const ChatSession& chat, const QByteArray& line,
                               const QDateTime& at);
    // The lines of someone whose window was held or refused: the log is their record, so they
    // are logged as they arrive, and not again when a window shows them. Where they went in the
    // log, when they were logged.
    std::optional<qint64> unshown(const QByteArray& nick,
                                  const std::vector<NewChatGate::HeldLine>& lines,
                                  const QDateTime& at);
    // The log of `nick`, when logging is on and it has one.
    std::optional<QString> pathOf(const QByteArray& nick) const;

    // Told the path of every log that was written to.
    std::function<void(const QString& path)> written;

private:
    std::optional<qint64> append(const QByteArray& nick, const QByteArray& text, bool& noted);

    ChatHost& m_host;
    // The chats whose window said its log cannot be written.
    QSet<const ChatSession*> m_noted;
    bool m_unshownNoted = false;
};

} // namespace peer
