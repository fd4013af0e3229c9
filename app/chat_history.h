#pragma once

#include "irc/capabilities.h"
#include "irc/history_batches.h"
#include "irc/history_merge.h"
#include "irc/line_router.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <functional>
#include <optional>

namespace config {
class Store;
}

namespace irc {
class ServerEvents;
class ServerLink;
} // namespace irc

namespace app {

// The contacts' private conversations missed while we were away, where the server keeps
// history (chathistory with batch): asked for at each registration since the last line we have,
// merged with what was shown (by msgid, else by time) and handed on once, in order. Where the
// history stands is kept in the store under the nick as the server folds it, for the contacts and
// the conversations fetched only (a stranger's line writes nothing), and written together: at a
// batch's end, or kWriteDelayMs after a line, not once per line on the GUI thread.
class ChatHistory : public QObject
{
    Q_OBJECT

public:
    static constexpr int kLimit = 100;
    static constexpr int kWriteDelayMs = 2000;

    using LineSender = std::function<bool(const QByteArray&)>;
    // Where the chat log of a nick is, if logging is on: its last stamp is the fallback point.
    using LogPath = std::function<std::optional<QString>(const QByteArray& nick)>;
    using Fold = std::function<QByteArray(const QByteArray& nick)>;
    using IsContact = std::function<bool(const QByteArray& nick)>;

    ChatHistory(config::Store& store, LineSender send, LogPath logPath, Fold fold,
                IsContact isContact, QObject* parent = nullptr);
    // The marks not yet written are written.
    ~ChatHistory() override;

    // Follows the link: what it granted, each welcome, the stamped lines of private chats; and
    // takes the history batches out of the received lines before anything acts on them.
    void follow(irc::ServerLink& link, irc::ServerEvents& events, irc::LineRouter& router);
    void setCapabilities(irc::Capabilities capabilities);
    bool isOn() const;

    // Registered: the history of each of `contacts` is asked for.
    void fetch(const QList<QByteArray>& contacts);
    // A batch of history ended. Only lines between us (`ownNick`) and the batch's contact count.
    void batchFinished(const irc::HistoryBatches::Finished& batch, const QByteArray& ownNick);
    // A private line with `nick` was shown as it happened: the history stands there now.
    void noteLine(const QByteArray& nick, const QByteArray& msgId, const QDateTime& time);
    // Whether the conversation with `nick` was asked for and not yet answered.
    bool isAsked(const QByteArray& nick) const { return m_asked.contains(m_fold(nick)); }
    // Writes the marks that moved, in one transaction.
    void writeMarks();

signals:
    // Lines of the conversation with `nick` that nothing showed before, oldest first.
    void linesMissed(const QByteArray& nick, const QList<irc::HistoryLine>& lines);

private:
    irc::HistoryMark markOf(const QByteArray& nick);
    void moved(const QByteArray& key, const irc::HistoryMark& mark);

    config::Store& m_store;
    LineSender m_send;
    LogPath m_logPath;
    Fold m_fold;
    IsContact m_isContact;
    irc::Capabilities m_capabilities;
    // The conversations asked for and not yet answered, by folded nick: a batch nobody asked
    // for, or one for someone else, opens no window.
    QSet<QByteArray> m_asked;
    // The conversations fetched this run, whose marks are kept though no longer contacts.
    QSet<QByteArray> m_fetched;
    // The marks in use (contacts and fetched conversations only), and those not yet written.
    QHash<QByteArray, irc::HistoryMark> m_marks;
    QSet<QByteArray> m_moved;
    QTimer m_writeTimer;
    irc::ServerLink* m_link = nullptr;
    // Takes the lines of history batches out before anything acts on them (no window, no away
    // reply, no DCC offer from last week), and hands each finished batch here.
    irc::HistoryFilter m_filter;
};

} // namespace app
