#include "app/notifier.h"

#include "app/offer_inbox.h"
#include "app/texts.h"
#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "peer/chat/chat_sessions.h"
#include "peer/transfer/transfers.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QSystemTrayIcon>
#include <QVariantMap>

namespace app {

namespace {

const char kService[] = "org.freedesktop.Notifications";
const char kPath[] = "/org/freedesktop/Notifications";
// How long the desktop shows a notice; -1 lets it choose.
constexpr int kDesktopTimeout = -1;
constexpr int kTrayTimeoutMs = 8000;

// Only what the service's markup gives a meaning; quotes stay, as a service that shows the body
// raw would show their entities.
QString markupEscaped(QString text)
{
    text.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    text.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    text.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return text;
}

} // namespace

Notifier::Notifier(QSystemTrayIcon* tray, QObject* parent)
    : QObject(parent)
    , m_tray(tray)
    , m_sink([this](const Notice& notice) { sendToDesktop(notice); })
    , m_active([] { return QApplication::activeWindow() != nullptr; })
{}

void Notifier::newChat(const QByteArray& nick)
{
    post(tr(text::kNewChat), tr(text::kWroteToYou).arg(diag::decodeServerText(nick)));
}

void Notifier::offerWaiting()
{
    post(tr(text::kKivvoIsAsking), tr(text::kOfferWaiting));
}

void Notifier::transferCompleted(const QByteArray& peer, const QString& fileName)
{
    post(tr(text::kTransferComplete),
         tr(text::kTransferDone).arg(fileName, diag::decodeServerText(peer)));
}

void Notifier::transferStoppedShort(const QByteArray& peer, const QString& fileName,
                                    const QString& keptPart)
{
    const QString nick = diag::decodeServerText(peer);
    post(tr(text::kTransferStopped),
         keptPart.isEmpty() ? tr(text::kStoppedBeforeEnd).arg(fileName, nick)
                            : tr(text::kStoppedBeforeEndKept).arg(fileName, nick, keptPart));
}

void Notifier::post(const QString& title, const QString& text)
{
    if (!m_enabled || m_active())
        return;
    // A nick or a file name from the network is one line of the notice, whatever it holds.
    m_sink({title, diag::escapeControls(text)});
}

void Notifier::sendToDesktop(const Notice& notice)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        showInTray(notice);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kService), QStringLiteral("Notify"));
    // The service reads the body as markup (its summary is plain text): a nick or a file name
    // must not turn into a link or a picture there.
    call << QString::fromLatin1(text::kKivvo) << uint(0) << QStringLiteral("org.kivvo.Kivvo")
         << notice.title << markupEscaped(notice.text) << QStringList() << QVariantMap()
         << kDesktopTimeout;
    // Never waited for: the event loop does not stop for the desktop. A bus without the
    // service answers with an error, and the tray says it instead.
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, notice](QDBusPendingCallWatcher* finished) {
                if (finished->isError())
                    showInTray(notice);
                finished->deleteLater();
            });
}

void Notifier::showInTray(const Notice& notice)
{
    if (m_tray && m_tray->isVisible())
        m_tray->showMessage(notice.title, notice.text, QSystemTrayIcon::Information,
                            kTrayTimeoutMs);
}

void Notifier::follow(peer::ChatSessions& chats, peer::Transfers& transfers, OfferInbox& offers)
{
    connect(&chats, &peer::ChatSessions::chatStartedByPeer, this, &Notifier::newChat);
    connect(&transfers, &peer::Transfers::transferCompleted, this, &Notifier::transferCompleted);
    connect(&transfers, &peer::Transfers::transferStoppedShort, this,
            &Notifier::transferStoppedShort);
    connect(&offers, &OfferInbox::attentionNeeded, this, &Notifier::offerWaiting);
}

} // namespace app
