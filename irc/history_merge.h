#pragma once

#include "irc/message.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QSet>

#include <optional>

namespace irc {

// One line of a conversation's history, as a chathistory batch gives it.
struct HistoryLine
{
    QByteArray msgId; // empty when the server gave none
    QDateTime time;
    QByteArray sender;
    QByteArray text;

    friend bool operator==(const HistoryLine& a, const HistoryLine& b)
    {
        return a.msgId == b.msgId && a.time == b.time && a.sender == b.sender && a.text == b.text;
    }
};

// A PRIVMSG or NOTICE inside a history batch as a HistoryLine; nothing without a valid time
// tag (it could not be placed) or without a text.
std::optional<HistoryLine> historyLine(const Message& message);

// What the log already holds of the conversation.
struct LoggedHistory
{
    QSet<QByteArray> msgIds;
    std::optional<QDateTime> lastTime; // of the newest logged line
};

// The lines of `batch` that are new to `logged`, in time order (lines of one time keep the
// batch's order): a line whose msgid is logged or came earlier in the batch is dropped, and so
// is a line without a msgid that is not newer than the newest logged line, since it cannot be
// told apart from one already shown. Lines without a valid time are dropped.
QList<HistoryLine> mergeHistory(const QList<HistoryLine>& batch, const LoggedHistory& logged);

// Where a conversation's history stands, kept between runs: the newest line shown and the msgids
// of the last lines, so that a line fetched again is not shown twice.
struct HistoryMark
{
    static constexpr qsizetype kMaxIds = 100;

    QByteArray lastMsgId;
    std::optional<QDateTime> lastTime;
    QList<QByteArray> recentIds; // oldest first

    // A line was shown: it is the newest unless an older time says otherwise.
    void note(const QByteArray& msgId, const QDateTime& time);
    LoggedHistory logged() const;

    // One line of text for the store: the time, the last msgid, then the recent ones.
    QByteArray encode() const;
    static HistoryMark decode(const QByteArray& stored);
};

// The reference CHATHISTORY asks from: "msgid=<id>" when the newest logged line has one,
// else "timestamp=<time>", else "*" (for LATEST: nothing logged yet).
QByteArray historyReference(const QByteArray& lastMsgId, const std::optional<QDateTime>& lastTime);

} // namespace irc
