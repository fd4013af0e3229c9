#include "app/chat_history.h"

#include "config/store.h"
#include "irc/commands.h"
#include "irc/server_events.h"
#include "irc/server_link.h"
#include "peer/chat/chat_log.h"

namespace app {

ChatHistory::ChatHistory(config::Store& store, LineSender send, LogPath logPath, Fold fold,
                         IsContact isContact, QObject* parent)
    : QObject(parent)
    , m_store(store)
    , m_send(std::move(send))
    , m_logPath(std::move(logPath))
    , m_fold(std::move(fold))
    , m_isContact(std::move(isContact))
    , m_filter([this](const irc::HistoryBatches::Finished& batch) {
        batchFinished(batch, m_link ? m_link->nickInUse() : QByteArray());
    })
{
    m_writeTimer.setSingleShot(true);
    m_writeTimer.setInterval(kWriteDelayMs);
    connect(&m_writeTimer, &QTimer::timeout, this, &ChatHistory::writeMarks);
}

void ChatHistory::follow(irc::ServerLink& link, irc::ServerEvents& events, irc::LineRouter& router)
{
    m_link = &link;
    // A batch for a conversation nobody asked for is dropped as it comes, never held.
    m_filter.batches().setWanted([this](const QByteArray& target) { return isAsked(target); });
    router.addFilter(m_filter);
    connect(&link, &irc::ServerLink::capabilitiesChanged, this, &ChatHistory::setCapabilities);
    connect(&link, &irc::ServerLink::registered, this, [this] {
        m_filter.batches().clear();
        fetch(m_store.EnumContacts());
    });
    connect(&events, &irc::ServerEvents::privateText, this, [this](const irc::PrivateText& line) {
        if (line.stamp.isValid() && line.text)
            noteLine(line.sender.toByteArray(), line.stamp.msgId, line.stamp.at);
    });
    // Our own line to a contact is history too: fetched again later, it is known.
    connect(&events, &irc::ServerEvents::ownLineEchoed, this,
            [this](const irc::Message& message, const irc::LineStamp& stamp) {
                if (stamp.isValid() && message.command == "PRIVMSG" && message.params.size() >= 2)
                    noteLine(message.params.front().toByteArray(), stamp.msgId, stamp.at);
            });
}

ChatHistory::~ChatHistory()
{
    writeMarks();
}

void ChatHistory::writeMarks()
{
    m_writeTimer.stop();
    if (m_moved.isEmpty())
        return;
    QList<std::pair<QByteArray, QByteArray>> marks;
    for (const QByteArray& key : std::as_const(m_moved))
        marks.append({key, m_marks.value(key).encode()});
    m_moved.clear();
    m_store.setHistoryMarks(marks);
}

void ChatHistory::moved(const QByteArray& key, const irc::HistoryMark& mark)
{
    m_marks.insert(key, mark);
    m_moved.insert(key);
    if (!m_writeTimer.isActive())
        m_writeTimer.start();
}

void ChatHistory::setCapabilities(irc::Capabilities capabilities)
{
    m_capabilities = capabilities;
}

bool ChatHistory::isOn() const
{
    // Without batch the server's replay could not be told from new messages.
    return m_capabilities.has(irc::Capability::ChatHistory)
           && m_capabilities.has(irc::Capability::Batch)
           && m_capabilities.has(irc::Capability::ServerTime);
}

irc::HistoryMark ChatHistory::markOf(const QByteArray& nick)
{
    const QByteArray key = m_fold(nick);
    if (const auto known = m_marks.constFind(key); known != m_marks.constEnd())
        return *known;
    const std::optional<QByteArray> stored = m_store.historyMark(key);
    irc::HistoryMark mark = stored ? irc::HistoryMark::decode(*stored) : irc::HistoryMark{};
    if (!mark.lastTime) {
        // Never fetched before: from what the log holds, so that it is not shown again.
        if (const std::optional<QString> path = m_logPath(nick))
            mark.lastTime = peer::ChatLog::lastStampOf(*path);
    }
    m_marks.insert(key, mark);
    return mark;
}

void ChatHistory::fetch(const QList<QByteArray>& contacts)
{
    if (!isOn())
        return;
    for (const QByteArray& nick : contacts) {
        const irc::HistoryMark mark = markOf(nick);
        const QByteArray reference = irc::historyReference(mark.lastMsgId, mark.lastTime);
        const std::optional<QByteArray> line =
            reference == "*" ? irc::Command::chatHistoryLatest(nick, "*", kLimit)
                             : irc::Command::chatHistoryAfter(nick, reference, kLimit);
        if (line && m_send(*line)) {
            m_asked.insert(m_fold(nick));
            m_fetched.insert(m_fold(nick));
        }
    }
}

void ChatHistory::batchFinished(const irc::HistoryBatches::Finished& batch,
                                const QByteArray& ownNick)
{
    const QByteArray contact = m_fold(batch.target);
    if (!isOn() || batch.target.isEmpty() || !m_asked.remove(contact))
        return;
    // A line of a third party in this conversation would be shown as the contact's.
    QList<irc::HistoryLine> between;
    for (const irc::HistoryLine& line : batch.lines) {
        const QByteArray sender = m_fold(line.sender);
        if (sender == contact || sender == m_fold(ownNick))
            between.append(line);
    }
    irc::HistoryMark mark = markOf(batch.target);
    const QList<irc::HistoryLine> fresh = irc::mergeHistory(between, mark.logged());
    if (fresh.isEmpty())
        return;
    for (const irc::HistoryLine& line : fresh)
        mark.note(line.msgId, line.time);
    moved(contact, mark);
    writeMarks();
    emit linesMissed(batch.target, fresh);
}

void ChatHistory::noteLine(const QByteArray& nick, const QByteArray& msgId, const QDateTime& time)
{
    if (!isOn() || !time.isValid())
        return;
    const QByteArray key = m_fold(nick);
    if (!m_fetched.contains(key) && !m_marks.contains(key) && !(m_isContact && m_isContact(nick)))
        return;
    irc::HistoryMark mark = markOf(nick);
    mark.note(msgId, time);
    moved(key, mark);
}

} // namespace app
