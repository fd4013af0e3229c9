#pragma once

#include "peer/chat/new_chat_gate.h"

#include <QByteArray>
#include <QDateTime>
#include <QElapsedTimer>

#include <optional>

namespace peer {

class ChatHost;
class ChatLogger;

// Whether someone with no open chat may open a window by writing: contacts always, strangers
// within the gate's bound. What a stranger wrote beyond it is kept for the user and logged at
// once, the log being its record.
class HeldChats
{
public:
    HeldChats(ChatHost& host, ChatLogger& logger);

    enum class Admission {
        Open,      // a window may come up
        Kept,      // held for the user
        KeptNewly, // held, and the first of this sender: the list of held people changed
        Refused,   // no room to keep it
    };
    Admission admit(const QByteArray& sender, const std::optional<QByteArray>& text,
                    const std::optional<QByteArray>& awayEcho, const QDateTime& at,
                    bool unprotected);

    NewChatGate& gate() { return m_gate; }
    const NewChatGate& gate() const { return m_gate; }

private:
    bool isContact(const QByteArray& nick) const;

    ChatHost& m_host;
    ChatLogger& m_logger;
    NewChatGate m_gate;
    QElapsedTimer m_clock;
};

} // namespace peer
