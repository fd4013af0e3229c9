#include "irc/history_merge.h"

#include "irc/server_time.h"

#include <algorithm>

namespace irc {

namespace {

constexpr QByteArrayView kMsgIdTag = "msgid";

} // namespace

std::optional<HistoryLine> historyLine(const Message& message)
{
    if ((message.command != "PRIVMSG" && message.command != "NOTICE") || !message.hasTrailing
        || message.params.size() < 2)
        return std::nullopt;
    const std::optional<QDateTime> time = serverTime(message);
    if (!time)
        return std::nullopt;
    HistoryLine line;
    line.time = *time;
    line.sender = splitUserHost(message.source).nick.toByteArray();
    line.text = message.params.back().toByteArray();
    for (const Tag& tag : message.tags) {
        if (tag.key == kMsgIdTag)
            line.msgId = tag.value;
    }
    return line;
}

QList<HistoryLine> mergeHistory(const QList<HistoryLine>& batch, const LoggedHistory& logged)
{
    QList<HistoryLine> fresh;
    QSet<QByteArray> seen;
    for (const HistoryLine& line : batch) {
        if (!line.time.isValid())
            continue;
        if (line.msgId.isEmpty()) {
            if (logged.lastTime && line.time <= *logged.lastTime)
                continue;
        } else {
            if (logged.msgIds.contains(line.msgId) || seen.contains(line.msgId))
                continue;
            seen.insert(line.msgId);
        }
        fresh.append(line);
    }
    std::stable_sort(fresh.begin(), fresh.end(),
                     [](const HistoryLine& a, const HistoryLine& b) { return a.time < b.time; });
    return fresh;
}

void HistoryMark::note(const QByteArray& msgId, const QDateTime& time)
{
    if (!time.isValid())
        return;
    if (!msgId.isEmpty() && !recentIds.contains(msgId)) {
        recentIds.append(msgId);
        if (recentIds.size() > kMaxIds)
            recentIds.removeFirst();
    }
    if (lastTime && time < *lastTime)
        return;
    lastTime = time;
    lastMsgId = msgId;
}

LoggedHistory HistoryMark::logged() const
{
    LoggedHistory history;
    history.msgIds = QSet<QByteArray>(recentIds.begin(), recentIds.end());
    history.lastTime = lastTime;
    return history;
}

QByteArray HistoryMark::encode() const
{
    // msgids are tag values: they hold no blank once unescaped by a sane server, and one that
    // does is simply not kept.
    QByteArray out = lastTime ? formatServerTime(*lastTime) : QByteArray("-");
    out += ' ';
    out += lastMsgId.isEmpty() || lastMsgId.contains(' ') ? QByteArray("-") : lastMsgId;
    for (const QByteArray& id : recentIds) {
        if (!id.contains(' ') && !id.isEmpty())
            out += ' ' + id;
    }
    return out;
}

HistoryMark HistoryMark::decode(const QByteArray& stored)
{
    HistoryMark mark;
    const QList<QByteArray> words = stored.split(' ');
    if (words.size() < 2)
        return mark;
    mark.lastTime = parseServerTime(words.at(0));
    if (words.at(1) != "-")
        mark.lastMsgId = words.at(1);
    for (qsizetype i = 2; i < words.size() && mark.recentIds.size() < kMaxIds; ++i) {
        if (!words.at(i).isEmpty())
            mark.recentIds.append(words.at(i));
    }
    return mark;
}

QByteArray historyReference(const QByteArray& lastMsgId, const std::optional<QDateTime>& lastTime)
{
    if (!lastMsgId.isEmpty())
        return "msgid=" + lastMsgId;
    if (lastTime) {
        const QByteArray time = formatServerTime(*lastTime);
        if (!time.isEmpty())
            return "timestamp=" + time;
    }
    return "*";
}

} // namespace irc
