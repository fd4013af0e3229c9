#include "app/server_actions.h"

#include "app/app_context.h"
#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "irc/texts.h"

#include <QDateTime>
#include <QHostInfo>
#include <QPointer>

namespace app {

ServerActions::ServerActions(AppContext& context, QObject* parent)
    : QObject(parent)
    , m_context(context)
{
}

QByteArray ServerActions::nickInUse() const
{
    return m_context.link.nickInUse();
}

void ServerActions::setNickInUse(const QByteArray& nick)
{
    m_context.link.setNickInUse(nick);
}

qint64 ServerActions::nowMs() const
{
    return QDateTime::currentMSecsSinceEpoch();
}

QByteArray ServerActions::localHostName() const
{
    return QHostInfo::localHostName().toUtf8();
}

bool ServerActions::sendLine(const QByteArray& line)
{
    return m_context.link.sendLine(line);
}

void ServerActions::setTitleNick(const QByteArray& nick)
{
    emit titleChanged(QString::fromLatin1(irc::text::kTitleConnected)
                          .arg(diag::decodeServerText(nick)));
}

void ServerActions::noticeText(const QByteArray& /*sender*/, const QByteArray& /*text*/)
{
    // CTCP replies are shown once CTCP handling exists; other notices only reach the log.
}

bool ServerActions::ctcpQuery(const QByteArray& /*sender*/, const QByteArray& /*text*/)
{
    return false;
}

void ServerActions::dccOffer(irc::DccKind /*kind*/, const QByteArray& sender,
                             const QByteArray& /*line*/)
{
    diag::DebugLog(QStringLiteral("DCC offer from %1 not handled yet")
                       .arg(diag::decodeServerText(sender)), 2);
}

void ServerActions::privateText(const QByteArray& sender, const std::optional<QByteArray>& text,
                                const std::optional<QByteArray>& awayEcho)
{
    emit privateTextArrived(sender, text, awayEcho);
}

void ServerActions::presenceReply(const QList<QByteArray>& onlineNames)
{
    emit onlineNamesArrived(onlineNames);
}

void ServerActions::showWhois(const QByteArray& text)
{
    emit whoisArrived(diag::decodeServerText(text));
}

void ServerActions::resolveOwnHost(const QByteArray& host)
{
    // Resolved in the background: the GUI never waits for a name server.
    QHostInfo::lookupHost(QString::fromUtf8(host), this, [this](const QHostInfo& info) {
        for (const QHostAddress& address : info.addresses()) {
            if (address.protocol() == QAbstractSocket::IPv4Protocol) {
                m_context.serverSeenAddress = address.toIPv4Address();
                return;
            }
        }
    });
}

void ServerActions::logStatus(const QString& text)
{
    diag::DebugLog(text);
}

} // namespace app
