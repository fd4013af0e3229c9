#pragma once

#include "irc/isupport.h"
#include "irc/presence.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTimer>

#include <functional>

namespace irc {

class ServerEvents;
class ServerLink;

// Keeps the contacts' presence while registered. By default it asks the server every ten
// seconds with ISON and merges the replies of one poll into one list. A server that offers
// MONITOR (RPL_ISUPPORT) is given the contacts once and tells us of every change; contacts past
// its MONITOR limit are still asked about by ISON on the same ten-second beat. A server that
// refuses ISON without offering MONITOR leaves presence unknown, and is asked nothing more on
// that connection. The contacts and the link come in as functions, so that the poller knows
// neither the store nor the socket.
class PresencePoller : public QObject
{
    Q_OBJECT

public:
    static constexpr int kIntervalMs = 10000;

    using ContactSource = std::function<QList<QByteArray>()>;
    using LineSender = std::function<bool(const QByteArray&)>;

    PresencePoller(ContactSource contacts, LineSender send, QObject* parent = nullptr);

    // Polls while the link is registered, and takes the server's answers from its events.
    void follow(ServerLink& link, ServerEvents& events);

    bool isRunning() const { return m_timer.isActive(); }
    PresenceSource source() const { return m_source; }
    const ServerSupport& support() const { return m_support; }
    // The contacts MONITOR watches, and those still asked about by ISON beside it.
    const QList<QByteArray>& monitored() const { return m_watch.watched(); }
    const QList<QByteArray>& overflow() const { return m_watch.overflow(); }

public slots:
    // Registered: what the last server told us is forgotten; the first poll once the current
    // event is done, then one every ten seconds.
    void start();
    void stop();
    // One poll now: ISON for the stored contacts, or noContacts() when there are none. Under
    // MONITOR it brings the server's list in step with the contacts and asks ISON only about
    // the overflow; with presence unknown it only shows the contacts again.
    void poll();
    // The contacts were edited. ISON picks the change up on its next poll; MONITOR and unknown
    // presence have no next poll, so they follow at once.
    void contactsChanged();
    // A 303 reply's names.
    void takeReply(const QList<QByteArray>& names);
    // The tokens of a 005 line.
    void takeSupport(const QList<QByteArray>& tokens);
    // 730, 731 and 734.
    void takeMonitorOnline(const QList<QByteArray>& nicks);
    void takeMonitorOffline(const QList<QByteArray>& nicks);
    void takeMonitorFull(const QList<QByteArray>& nicks);
    // 421 for `command`.
    void takeRefusal(const QByteArray& command);

signals:
    void onlineChanged(const QList<QByteArray>& names);
    void noContacts();
    // The server can tell us nothing of these contacts' presence.
    void presenceUnknown(const QList<QByteArray>& contacts);
    // The link to the server dropped: what it last told us no longer holds.
    void linkDown(const QList<QByteArray>& contacts);
    void caseMappingChanged(irc::CaseMapping mapping);

private:
    QList<QByteArray> contactsToWatch() const;
    void sendIson(const QList<QByteArray>& names);
    void startMonitor();
    void showMonitored();
    void setSupport(const ServerSupport& support);

    ContactSource m_contacts;
    LineSender m_send;
    PresenceMerge m_merge;
    QTimer m_timer;
    ServerSupport m_support;
    PresenceSource m_source = PresenceSource::Ison;
    // Between start() and stop(): only then do server replies change how we ask.
    bool m_registered = false;
    MonitorWatch m_watch;
    // The last ISON answer about the overflow, and whether the server refuses ISON for it.
    QList<QByteArray> m_overflowOnline;
    bool m_overflowRefused = false;
};

} // namespace irc
