#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>

class QWidget;

namespace peer {

class ChatHost;
class ChatSessions;
class ChatWindow;
class FishChats;
struct ChatSession;

// The relayed chats' encryption as the chats see it: the status each window shows, the notes
// about it, the window's requests, what goes out sealed and what comes in opened, and the
// comparison over a private link whose certificate the two users compared.
class ChatFish : public QObject
{
    Q_OBJECT

public:
    ChatFish(ChatSessions& sessions, ChatHost& host);

    // The contacts' keys (none: relayed chats are never encrypted).
    void setFish(FishChats* fish);
    // The texts of a line the user typed to `nick`, each fitting `room`: sealed when the chat is
    // encrypted; none when it should be and cannot be.
    QList<QByteArray> outgoing(const QByteArray& nick, const QByteArray& text, qsizetype room);
    // A text from `nick` as it is shown and logged: opened, or marked for how it came.
    struct Opened
    {
        QByteArray text;
        bool unprotected = false;
    };
    Opened incoming(const QByteArray& nick, const QByteArray& text);

    // The encryption menu of the relayed chat's window, and a direct chat's "Compare...".
    void wireWindow(ChatWindow* window, ChatSession& chat);
    void wireLinkComparison(ChatWindow* window, ChatSession& chat);
    // The two users compared the private link with `nick` whose certificate is `fingerprint`.
    void linkCompared(const QByteArray& nick, const QByteArray& fingerprint);
    // Over a link that may vouch: our check of the key of its peer, and theirs arriving (true
    // when `text` was one, never shown).
    void sendCheck(ChatSession& chat);
    bool checkArrived(ChatSession& chat, const QByteArray& text);

signals:
    void keyEntryRequested(const QByteArray& nick, QWidget* over);
    void comparisonRequested(const QByteArray& nick, QWidget* over);
    void linkComparisonRequested(const QByteArray& nick, const QString& comparison,
                                 const QByteArray& fingerprint, QWidget* over);

private:
    void statusChanged(const QByteArray& nick);
    void showNote(const QByteArray& nick, const QByteArray& line);
    void sendChecks(const QByteArray& nick);
    static bool mayVouch(const ChatSession& chat);

    ChatSessions& m_sessions;
    ChatHost& m_host;
    QPointer<FishChats> m_fish;
};

} // namespace peer
