#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

namespace peer {

class ChatDeliveries;
class ChatHost;
class ChatSessions;
class ChatWindow;
class TypingNotices;
struct ChatSession;

// The IRCv3 parts of relayed chats: the delivery marks of the user's lines, typing, and the
// contact's away state in the window's title.
class ChatExtras : public QObject
{
    Q_OBJECT

public:
    ChatExtras(ChatSessions& sessions, ChatHost& host);

    // None: neither marks nor typing are shown.
    void setDeliveries(ChatDeliveries* deliveries);
    void setTyping(TypingNotices* typing);
    // The typing line, the input's edits and the title of a relayed chat's window.
    void wireWindow(ChatWindow* window, ChatSession& chat);

    // A line the user typed to be relayed: its id while the server echoes what we send (none
    // without echoes), the label of each of its texts, and its window's wait for the echo.
    std::optional<quint64> newLine();
    std::optional<QByteArray> label(quint64 id, const QByteArray& nick, const QByteArray& text);
    void waitForEcho(quint64 id, ChatWindow* window, const QByteArray& shown);
    // The server echoed (true) or refused the line `id`.
    void lineDelivered(quint64 id, bool delivered);
    // Typing ends with a sent line or one received.
    void sent(const QByteArray& nick);
    void messageFrom(const QByteArray& nick);

    void setAway(const QByteArray& nick, const std::optional<QByteArray>& text);
    void clearAway();

private:
    void showTypingOf(const QByteArray& nick);
    QString windowTitle(const QByteArray& nick) const;

    ChatSessions& m_sessions;
    ChatHost& m_host;
    QPointer<ChatDeliveries> m_deliveries;
    QPointer<TypingNotices> m_typing;
    // The user's lines waiting for the server's echo: their window and text.
    struct PendingLine
    {
        QPointer<ChatWindow> window;
        QByteArray text;
    };
    QHash<quint64, PendingLine> m_pendingLines;
    // Contacts away, by folded nick, with their away text.
    QHash<QByteArray, QByteArray> m_away;
};

} // namespace peer
