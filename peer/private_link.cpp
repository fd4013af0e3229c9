#include "peer/private_link.h"

#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "peer/chat_host.h"
#include "peer/dcc_tls.h"

#include <QCoreApplication>
#include <QSslSocket>

#include <memory>

namespace peer {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("peer", text);
}

} // namespace

QSslSocket* newPrivateSocket(ChatHost& host, QObject* parent)
{
    const TlsIdentity* identity = host.tlsIdentity();
    if (!identity)
        return nullptr;
    auto* socket = new QSslSocket(parent);
    socket->setSslConfiguration(directLinkTls(*identity));
    return socket;
}

void watchPrivateLink(QSslSocket& socket, ChatHost& host, const QByteArray& nick,
                      std::function<void(const PrivateLinkResult&)> done)
{
    auto ended = std::make_shared<bool>(false);
    auto finish = [ended, done = std::move(done), &socket](const PrivateLinkResult& result) {
        if (*ended)
            return;
        *ended = true;
        if (!result.trusted) {
            diag::DebugLog(result.refusal);
            socket.abort();
        }
        done(result);
    };
    const QString who = diag::decodeServerText(nick);
    // Nothing here is vouched for by an authority: the pin below is the whole of the trust.
    QObject::connect(&socket, &QSslSocket::sslErrors, &socket,
                     [&socket](const QList<QSslError>&) { socket.ignoreSslErrors(); });
    QObject::connect(&socket, &QSslSocket::encrypted, &socket, [&socket, &host, nick, who, finish] {
        const QSslCertificate certificate = socket.peerCertificate();
        PrivateLinkResult result;
        if (certificate.isNull()) {
            result.refusal = tr("%1 presented no certificate. Connection refused.").arg(who);
            finish(result);
            return;
        }
        result.fingerprint = certificateFingerprint(certificate);
        switch (judgePeer(host.peerPin(nick), result.fingerprint)) {
        case PeerTrust::Pinned:
            result.trusted = true;
            result.protection = LinkProtection::TlsPinned;
            break;
        case PeerTrust::FirstUse:
            // Pinned now, so that a different certificate next time is caught; verified only
            // once the two users have compared the fingerprint.
            host.pinPeer(nick, result.fingerprint);
            result.trusted = true;
            result.protection = LinkProtection::TlsNotYetVerified;
            break;
        case PeerTrust::Changed:
            result.refusal = tr("The certificate of %1 has changed! Connection refused.").arg(who);
            break;
        case PeerTrust::Missing:
            result.refusal = tr("%1 presented no certificate. Connection refused.").arg(who);
            break;
        }
        finish(result);
    });
    QObject::connect(
        &socket, &QAbstractSocket::errorOccurred, &socket,
        [&socket, who, finish](QAbstractSocket::SocketError) {
            PrivateLinkResult result;
            result.refusal =
                tr("The private link with %1 failed: %2").arg(who, socket.errorString());
            finish(result);
        });
}

QString protectionText(LinkProtection protection, const QByteArray& fingerprint)
{
    switch (protection) {
    case LinkProtection::None:
        return tr("Not private: this link carries plain text.");
    case LinkProtection::BlowfishKeyOverLink:
        return tr("Blowfish encrypted, but the key was sent over this link.");
    case LinkProtection::TlsPinned:
        return tr("Private (TLS), the certificate pinned before: %1")
            .arg(displayFingerprint(fingerprint));
    case LinkProtection::TlsNotYetVerified:
        return tr("Private (TLS), certificate not yet verified: %1")
            .arg(displayFingerprint(fingerprint));
    }
    return {};
}

} // namespace peer
