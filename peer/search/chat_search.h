#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>

#include <optional>

namespace peer {

class ChatSessions;
class ChatWindow;
class FindWindow;
class LogSearch;

// Finding what was said: Ctrl+F in a chat window looks in that contact's log, "Find..." in all
// of them, in one find window; a line chosen there opens its chat at that line.
class ChatSearch : public QObject
{
    Q_OBJECT

public:
    ChatSearch(LogSearch& search, ChatSessions& chats, QObject* parent = nullptr);
    ~ChatSearch() override;

    // Every chat window takes Ctrl+F from now on.
    void follow();
    // The find window, for the log of `nick` alone or for all, over `over` when given.
    FindWindow* open(const std::optional<QByteArray>& nick = std::nullopt);
    FindWindow* window() const;

private:
    LogSearch& m_search;
    ChatSessions& m_chats;
    QPointer<FindWindow> m_window;
    quint64 m_ticket = 0;
};

} // namespace peer
