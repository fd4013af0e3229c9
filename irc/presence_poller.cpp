#include "irc/presence_poller.h"

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
    QMetaObject::invokeMethod(this, &PresencePoller::poll, Qt::QueuedConnection);
    m_timer.start(kIntervalMs);
}

void PresencePoller::stop()
{
    m_timer.stop();
}

void PresencePoller::poll()
{
    const QList<QByteArray> contacts = m_contacts();
    if (contacts.isEmpty()) {
        emit noContacts();
        return;
    }
    const QList<QByteArray> lines = BuildIsonLines(contacts);
    m_merge.startPoll(static_cast<int>(lines.size()));
    for (const QByteArray& line : lines)
        m_send(line);
}

void PresencePoller::takeReply(const QList<QByteArray>& names)
{
    if (const auto merged = m_merge.takeReply(names))
        emit onlineChanged(*merged);
}

} // namespace irc
