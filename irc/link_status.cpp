#include "irc/link_status.h"

#include "diag/control_escape.h"
#include "diag/server_text.h"
#include "irc/texts.h"

namespace irc {

QString serverLabel(const config::ServerEntry& server)
{
    QString address = diag::decodeServerText(server.address);
    if (address.contains(QLatin1Char(':')))
        address = QLatin1Char('[') + address + QLatin1Char(']');
    QString label = address + QLatin1Char(':') + (server.tls ? QStringLiteral("+") : QString())
                    + QString::number(server.port);
    if (!server.network.isEmpty())
        label += QStringLiteral(" (%1)").arg(diag::decodeServerText(server.network));
    return label;
}

QString statusText(const LinkStatus& status)
{
    using Step = LinkStatus::Step;
    switch (status.step) {
    case Step::NoServers:
        return QString::fromLatin1(text::kNoServers);
    case Step::AllServersFailed:
        return QString::fromLatin1(text::kAllServersFailed);
    case Step::ResolveFailed:
        return QString::fromLatin1(text::kResolveFailed);
    case Step::SendingUserInfo:
        return QString::fromLatin1(text::kSendingUserInfo);
    case Step::Connected:
        return QString::fromLatin1(status.secure ? text::kConnectedSecurelyTo : text::kConnectedTo)
            .arg(diag::decodeServerText(status.address));
    case Step::Reconnecting:
        return QString::fromLatin1(text::kReconnecting).arg(status.serverIndex);
    case Step::Disconnected:
        return QString::fromLatin1(text::kDisconnected);
    case Step::CertificateChanged:
        return QString::fromLatin1(text::kCertificateChanged)
            .arg(diag::decodeServerText(status.address));
    case Step::CertificateRefused:
        return QString::fromLatin1(text::kCertificateRefused)
            .arg(diag::decodeServerText(status.address));
    case Step::WaitingToRetry:
        return QString::fromLatin1(text::kRetryingAt)
            .arg(status.retryAt.toString(QStringLiteral("HH:mm:ss")));
    case Step::AccountLoginFailed:
        return QString::fromLatin1(text::kAccountLoginFailed);
    case Step::AccountNickLocked:
        return QString::fromLatin1(text::kAccountNickLocked);
    case Step::AccountLoginAborted:
        return QString::fromLatin1(text::kAccountLoginAborted);
    case Step::AccountAlreadyLoggedIn:
        return QString::fromLatin1(text::kAccountAlreadyLoggedIn);
    case Step::AccountNoPlainLogin:
        return QString::fromLatin1(text::kAccountNoPlainLogin);
    case Step::NicksTaken:
        return QString::fromLatin1(text::kNicksTaken);
    case Step::NickRefused:
        // The server's words: shown on one line, never as markup (the status bar is plain).
        return QString::fromLatin1(text::kNickRefused)
            .arg(diag::escapeControls(diag::decodeServerText(status.address)),
                 diag::escapeControls(diag::decodeServerText(status.reason)));
    }
    return {};
}

QString connectedTitle(const QByteArray& nick)
{
    // The server names us: whatever it put in the nick stays on the title's one line.
    return QString::fromLatin1(text::kTitleConnected)
        .arg(diag::escapeControls(diag::decodeServerText(nick)));
}

QString idleTitle()
{
    return QString::fromLatin1(text::kTitleIdle);
}

QString trustTitle()
{
    return QString::fromLatin1(text::kTrustTitle);
}

QString trustQuestion(const QByteArray& address, const QString& problems,
                      const QByteArray& fingerprint)
{
    return QString::fromLatin1(text::kTrustQuestion)
        .arg(diag::decodeServerText(address), problems, fingerprintText(fingerprint));
}

QString fingerprintText(const QByteArray& fingerprint)
{
    return QString::fromLatin1(QByteArray::fromHex(fingerprint).toHex(':').toUpper());
}

} // namespace irc
