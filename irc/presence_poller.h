#pragma once

#include "irc/presence.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>

namespace irc {

// Asks the server every ten seconds which contacts are online, while registered, and merges
// the replies of one poll into one list. The contacts and the link come in as functions, so
// that the poller knows neither the store nor the socket.
class PresencePoller : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 10000;

    using ContactSource = std::function<QList<QByteArray>()>;
    using LineSender = std::function<bool(const QByteArray&)>;

    PresencePoller(ContactSource contacts, LineSender send, QObject* parent = nullptr);

    bool isRunning() const { return m_timer.isActive(); }

public slots:
    // Registered: the first poll once the current event is done, then one every ten seconds.
    void start();
    void stop();
    // One poll now: ISON for the stored contacts, or noContacts() when there are none.
    void poll();
    // A 303 reply's names.
    void takeReply(const QList<QByteArray>& names);

signals:
    void onlineChanged(const QList<QByteArray>& names);
    void noContacts();

private:
    ContactSource m_contacts;
    LineSender m_send;
    PresenceMerge m_merge;
    QTimer m_timer;
};

} // namespace irc
