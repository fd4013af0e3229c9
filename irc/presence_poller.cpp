#include "irc/presence_poller.h"

#include "diag/debug_log.h"
#include "irc/server_events.h"
#include "irc/server_link.h"
#include "irc/texts.h"

#include <QMetaObject>

namespace irc {

PresencePoller::PresencePoller(ContactSource contacts, LineSender send, QObject* parent)
    : QObject(parent)
    , m_contacts(std::move(contacts))
    , m_send(std::move(send))
{
    connect(&m_timer, &QTimer::timeout, this, &PresencePoller::poll);
}

void PresencePoller::start()
{
    // A new connection: its server has told us nothing yet.
    setSupport(ServerSupport{});
    m_source = PresenceSource::Ison;
    m_watch = MonitorWatch{};
    m_overflowOnline.clear();
    m_overflowRefused = false;
    m_merge.startPoll(0);
    m_registered = true;
    QMetaObject::invokeMethod(this, &PresencePoller::poll, Qt::QueuedConnection);
    m_timer.start(kIntervalMs);
}

void PresencePoller::stop()
{
    m_registered = false;
    m_timer.stop();
}

QList<QByteArray> PresencePoller::contactsToWatch() const
{
    // A contact the server could never accept as a nick cannot be online there; under MONITOR
    // it would also break the comma-separated list, so it is left out whole.
    QList<QByteArray> contacts = m_contacts();
    contacts.removeIf([this](const QByteArray& nick) {
        if (m_source == PresenceSource::Monitor)
            return !nickFits(nick, m_support);
        return m_support.nickLen != ServerSupport::kNoNickLimit && nick.size() > m_support.nickLen;
    });
    return contacts;
}

void PresencePoller::sendIson(const QList<QByteArray>& names)
{
    const QList<QByteArray> lines = BuildIsonLines(names);
    m_merge.startPoll(static_cast<int>(lines.size()));
    for (const QByteArray& line : lines)
        m_send(line);
}

void PresencePoller::poll()
{
    const QList<QByteArray> contacts = m_contacts();
    switch (m_source) {
    case PresenceSource::Unknown:
        if (contacts.isEmpty())
            emit noContacts();
        else
            emit presenceUnknown(contacts);
        return;
    case PresenceSource::Monitor: {
        const QList<QByteArray> lines = m_watch.sync(contactsToWatch());
        for (const QByteArray& line : lines)
            m_send(line);
        if (!m_watch.overflow().isEmpty() && !m_overflowRefused)
            sendIson(m_watch.overflow());
        // The server tells of changes as they happen: the list is drawn again only when the
        // contacts changed (a removed contact must go at once).
        if (!lines.isEmpty() || contacts.isEmpty())
            showMonitored();
        return;
    }
    case PresenceSource::Ison:
        break;
    }
    if (contacts.isEmpty()) {
        emit noContacts();
        return;
    }
    const QList<QByteArray> lines = BuildIsonLines(
        m_support.nickLen == ServerSupport::kNoNickLimit ? contacts : contactsToWatch());
    if (lines.isEmpty()) {
        emit onlineChanged({});
        return;
    }
    m_merge.startPoll(static_cast<int>(lines.size()));
    for (const QByteArray& line : lines)
        m_send(line);
}

void PresencePoller::contactsChanged()
{
    if (m_registered && m_source != PresenceSource::Ison)
        poll();
}

void PresencePoller::showMonitored()
{
    if (m_contacts().isEmpty()) {
        emit noContacts();
        return;
    }
    QList<QByteArray> names = m_watch.onlineNames();
    for (const QByteArray& name : std::as_const(m_overflowOnline)) {
        for (const QByteArray& waiting : m_watch.overflow()) {
            if (sameNick(name, waiting, m_support.caseMapping)) {
                names.append(name);
                break;
            }
        }
    }
    emit onlineChanged(names);
}

void PresencePoller::takeReply(const QList<QByteArray>& names)
{
    const auto merged = m_merge.takeReply(names);
    if (!merged)
        return;
    switch (m_source) {
    case PresenceSource::Ison:
        emit onlineChanged(*merged);
        break;
    case PresenceSource::Monitor:
        m_overflowOnline = *merged;
        showMonitored();
        break;
    case PresenceSource::Unknown:
        break;
    }
}

void PresencePoller::setSupport(const ServerSupport& support)
{
    const bool mappingChanged = support.caseMapping != m_support.caseMapping;
    m_support = support;
    if (mappingChanged)
        emit caseMappingChanged(m_support.caseMapping);
}

void PresencePoller::takeSupport(const QList<QByteArray>& tokens)
{
    ServerSupport support = m_support;
    applyIsupportTokens(support, tokens);
    setSupport(support);
    if (!m_registered)
        return;
    if (m_support.monitor && m_source == PresenceSource::Ison) {
        startMonitor();
    } else if (!m_support.monitor && m_source == PresenceSource::Monitor) {
        // The server withdrew MONITOR: back to asking.
        m_source = PresenceSource::Ison;
        poll();
    }
}

void PresencePoller::startMonitor()
{
    m_source = PresenceSource::Monitor;
    // An ISON sent before the server said what it offers may still be answered; that answer
    // then stands alone and counts only for the overflow.
    m_merge.startPoll(0);
    m_overflowOnline.clear();
    m_overflowRefused = false;
    for (const QByteArray& line : m_watch.begin(contactsToWatch(), m_support))
        m_send(line);
    if (!m_watch.overflow().isEmpty())
        sendIson(m_watch.overflow());
}

void PresencePoller::takeMonitorOnline(const QList<QByteArray>& nicks)
{
    if (m_source == PresenceSource::Monitor && m_watch.setOnline(nicks))
        showMonitored();
}

void PresencePoller::takeMonitorOffline(const QList<QByteArray>& nicks)
{
    if (m_source == PresenceSource::Monitor && m_watch.setOffline(nicks))
        showMonitored();
}

void PresencePoller::takeMonitorFull(const QList<QByteArray>& nicks)
{
    if (m_source != PresenceSource::Monitor || !m_watch.listFull(nicks))
        return;
    if (!m_overflowRefused)
        sendIson(m_watch.overflow());
    showMonitored();
}

void PresencePoller::takeRefusal(const QByteArray& command)
{
    if (!m_registered)
        return;
    const QByteArray word = command.toUpper();
    if (word == "MONITOR" && m_source == PresenceSource::Monitor) {
        diag::DebugLog(QString::fromLatin1(text::kNoteMonitorRefused));
        m_support.monitor = false;
        m_source = PresenceSource::Ison;
        poll();
    } else if (word == "ISON" && m_source == PresenceSource::Ison) {
        // Said once: the poll stops, so the server is not asked again on this connection.
        diag::DebugLog(QString::fromLatin1(text::kNotePresenceUnknown));
        m_source = PresenceSource::Unknown;
        m_timer.stop();
        m_merge.startPoll(0);
        poll();
    } else if (word == "ISON" && m_source == PresenceSource::Monitor && !m_overflowRefused) {
        m_overflowRefused = true;
        m_overflowOnline.clear();
        if (!m_watch.overflow().isEmpty()) {
            diag::DebugLog(QString::fromLatin1(text::kNoteNotWatched)
                               .arg(QString::fromUtf8(m_watch.overflow().join(' '))));
        }
        showMonitored();
    }
}

void PresencePoller::follow(ServerLink& link, ServerEvents& events)
{
    connect(&link, &ServerLink::registered, this, &PresencePoller::start);
    for (auto ended : {&ServerLink::attemptFailed, &ServerLink::lost, &ServerLink::closedByUser})
        connect(&link, ended, this, &PresencePoller::stop);
    connect(&link, &ServerLink::lost, this, [this] {
        if (const QList<QByteArray> contacts = m_contacts(); !contacts.isEmpty())
            emit linkDown(contacts);
    });
    connect(&events, &ServerEvents::onlineNames, this, [this](const NameViews& views) {
        QList<QByteArray> names;
        names.reserve(views.size());
        for (const QByteArrayView name : views)
            names.append(name.toByteArray());
        takeReply(names);
    });
    connect(&events, &ServerEvents::serverSupport, this, &PresencePoller::takeSupport);
    connect(&events, &ServerEvents::monitorOnline, this, &PresencePoller::takeMonitorOnline);
    connect(&events, &ServerEvents::monitorOffline, this, &PresencePoller::takeMonitorOffline);
    connect(&events, &ServerEvents::monitorListFull, this, &PresencePoller::takeMonitorFull);
    connect(&events, &ServerEvents::commandRefused, this, &PresencePoller::takeRefusal);
}

} // namespace irc
