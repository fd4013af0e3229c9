#pragma once

#include "irc/capabilities.h"
#include "irc/history_batches.h"
#include "irc/history_merge.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>

#include <functional>
#include <optional>

namespace config {
class Store;
}

namespace app {

// The contacts' private conversations missed while we were away, where the server keeps
// history (chathistory with batch): asked for at each registration since the last line we have,
// merged with what was shown (by msgid, else by time) and handed on once, in order. Where the
// history stands is kept in the store under the nick as the server folds it.
class ChatHistory : public QObject
{
    Q_OBJECT

public:
    static constexpr int kLimit = 100;

    using LineSender = std::function<bool(const QByteArray&)>;
    // Where the chat log of a nick is, if logging is on: its last stamp is the fallback point.
    using LogPath = std::function<std::optional<QString>(const QByteArray& nick)>;
    using Fold = std::function<QByteArray(const QByteArray& nick)>;

    ChatHistory(config::Store& store, LineSender send, LogPath logPath, Fold fold,
                QObject* parent = nullptr);

    void setCapabilities(irc::Capabilities capabilities);
    bool isOn() const;

    // Registered: the history of each of `contacts` is asked for.
    void fetch(const QList<QByteArray>& contacts);
    // A batch of history ended. Only lines between us (`ownNick`) and the batch's contact count.
    void batchFinished(const irc::HistoryBatches::Finished& batch, const QByteArray& ownNick);
    // A private line with `nick` was shown as it happened: the history stands there now.
    void noteLine(const QByteArray& nick, const QByteArray& msgId, const QDateTime& time);

signals:
    // Lines of the conversation with `nick` that nothing showed before, oldest first.
    void linesMissed(const QByteArray& nick, const QList<irc::HistoryLine>& lines);

private:
    irc::HistoryMark markOf(const QByteArray& nick) const;

    config::Store& m_store;
    LineSender m_send;
    LogPath m_logPath;
    Fold m_fold;
    irc::Capabilities m_capabilities;
    // The conversations asked for and not yet answered, by folded nick: a batch nobody asked
    // for, or one for someone else, opens no window.
    QSet<QByteArray> m_asked;
};

} // namespace app
