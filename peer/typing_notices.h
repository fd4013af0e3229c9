#pragma once

#include "irc/capabilities.h"
#include "irc/typing.h"

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <map>

namespace irc {
class LineRouter;
class ServerEvents;
class ServerLink;
} // namespace irc

namespace peer {

// Typing in relayed chats (the "+typing" client tag): ours, told to the person we chat with as
// the input line changes, and theirs, shown for a few seconds. Ours is told only while the server
// relays client tags and the user lets it; theirs is shown whenever it comes.
class TypingNotices : public QObject
{
    Q_OBJECT

public:
    // Follows what the link granted and the typing of others, and sends ours through it.
    void follow(irc::ServerLink& link, irc::ServerEvents& events);
    explicit TypingNotices(QObject* parent = nullptr);

    void setCapabilities(irc::Capabilities capabilities);
    // The user's setting: whether we tell others.
    void setSending(bool on);
    // The monotonic clock, in milliseconds; tests move their own.
    void setClock(std::function<qint64()> clockMs) { m_clockMs = std::move(clockMs); }
    // How nicks are folded for comparison (the server's case mapping).
    void setFold(std::function<QByteArray(const QByteArray&)> fold) { m_fold = std::move(fold); }

    // The input line of the chat with `nick` now holds `text`.
    void edited(const QByteArray& nick, const QString& text);
    // A line went to `nick`.
    void sent(const QByteArray& nick);
    // What `nick` told us; and a message from `nick`, which ends their typing.
    void received(const QByteArray& nick, irc::TypingState state);
    void messageFrom(const QByteArray& nick);
    // The text to show under the chat with `nick` now ("bob is typing…"); empty for none.
    QString shownFor(const QByteArray& nick) const;

signals:
    // A "+typing" tag for `nick` is to go out (TAGMSG).
    void tagToSend(const QByteArray& nick, irc::TypingState state);
    // What shownFor(nick) says changed.
    void shownChanged(const QByteArray& nick);

private:
    bool mayTell() const;
    void tick();
    void tell(const QByteArray& nick, std::optional<irc::TypingState> state);
    void updateTimer();
    QByteArray key(const QByteArray& nick) const { return m_fold ? m_fold(nick) : nick; }

    irc::Capabilities m_capabilities;
    bool m_sending = true;
    std::function<qint64()> m_clockMs;
    std::function<QByteArray(const QByteArray&)> m_fold;
    // Ours, by folded nick, with the nick as spelt for the tag.
    struct Outgoing
    {
        QByteArray nick;
        irc::TypingSender sender;
    };
    std::map<QByteArray, Outgoing> m_outgoing;
    // Theirs: one watch, keyed by folded nick; what each chat showed last.
    irc::TypingWatch m_watch;
    QHash<QByteArray, QByteArray> m_spelling;
    QHash<QByteArray, QString> m_shown;
    QTimer m_timer;
};

} // namespace peer
