#pragma once

#include "peer/chat/new_chat_gate.h"

#include <QByteArray>
#include <QDateTime>
#include <QSet>

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
    // One shown line of `chat` (one line, ending in CR LF), said at `at` (invalid: now).
    void line(const ChatSession& chat, const QByteArray& line, const QDateTime& at);
    // The lines of someone whose window was held or refused: the log is their record, so they
    // are logged as they arrive, and not again when a window shows them.
    void unshown(const QByteArray& nick, const std::vector<NewChatGate::HeldLine>& lines,
                 const QDateTime& at);

private:
    void append(const QByteArray& nick, const QByteArray& text, bool& noted);

    ChatHost& m_host;
    // The chats whose window said its log cannot be written.
    QSet<const ChatSession*> m_noted;
    bool m_unshownNoted = false;
};

} // namespace peer
