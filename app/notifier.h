#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QSystemTrayIcon;

namespace peer {
class ChatSessions;
class Transfers;
} // namespace peer

namespace app {

class OfferInbox;

// Tells the user about what happened while they were looking elsewhere: a new chat, an offer
// that waits for an answer, a finished transfer. Through the desktop's notification service
// where the session bus has one, else as the tray icon's message; nothing while one of the
// program's windows is active (the user sees it already) or when the setting is off.
class Notifier : public QObject
{
    Q_OBJECT

public:
    // Tells of what the chats, transfers and offers report from now on.
    void follow(peer::ChatSessions& chats, peer::Transfers& transfers, OfferInbox& offers);
    struct Notice
    {
        QString title;
        QString text;
    };
    // Where notices go; the desktop's service or the tray by default, tests record them.
    using Sink = std::function<void(const Notice&)>;

    explicit Notifier(QSystemTrayIcon* tray, QObject* parent = nullptr);

    void setEnabled(bool on) { m_enabled = on; }
    bool isEnabled() const { return m_enabled; }
    void setSink(Sink sink) { m_sink = std::move(sink); }
    // Whether a window of ours has the focus; tests replace it.
    void setActiveCheck(std::function<bool()> active) { m_active = std::move(active); }

public slots:
    void newChat(const QByteArray& nick);
    void offerWaiting();
    void transferCompleted(const QByteArray& peer, const QString& fileName);
    // `keptPart`, when not empty, names the part file that holds what arrived.
    void transferStoppedShort(const QByteArray& peer, const QString& fileName,
                              const QString& keptPart);

private:
    void post(const QString& title, const QString& text);
    void sendToDesktop(const Notice& notice);
    void showInTray(const Notice& notice);

    QSystemTrayIcon* m_tray;
    bool m_enabled = true;
    Sink m_sink;
    std::function<bool()> m_active;
};

} // namespace app
