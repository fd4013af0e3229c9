#include "peer/link/private_link.h"

#include "diag/debug_log.h"
#include "diag/server_text.h"
#include "peer/common/chat_host.h"
#include "peer/common/texts.h"
#include "peer/link/dcc_tls.h"

#include <QCoreApplication>
#include <QSslSocket>
#include <QTimer>

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

namespace {

// The judgement of a certificate that the handshake has shown us.
PrivateLinkResult judge(QSslSocket& socket, ChatHost& host, const QByteArray& nick,
                        const QString& who)
{
    PrivateLinkResult result;
    result.fingerprint = certificateFingerprint(socket.peerCertificate());
    result.ownFingerprint = certificateFingerprint(socket.localCertificate());
    result.role =
        socket.mode() == QSslSocket::SslServerMode ? LinkRole::Listener : LinkRole::Connector;
    switch (judgePeer(host.peerPin(nick), result.fingerprint)) {
    case PeerTrust::Pinned:
        result.verdict = PrivateLinkResult::Verdict::Trusted;
        result.protection =
            host.peerPinCompared(nick) ? LinkProtection::TlsCompared : LinkProtection::TlsPinned;
        break;
    case PeerTrust::FirstUse:
        result.protection = LinkProtection::TlsNotYetVerified;
        // The side that listens serves. Whoever found our port may be on the other end, so
        // only the user can say it is the contact.
        if (result.role == LinkRole::Listener) {
            result.verdict = PrivateLinkResult::Verdict::AskUser;
            break;
        }
        // We reached the address the server said the contact offered: pinned now, so that a
        // different certificate next time is caught. Whoever relayed the offer may have put
        // their own address in it, so the pin vouches for nothing until the two users have
        // compared it.
        host.pinPeer(nick, result.fingerprint, PinKind::FirstSeen);
        result.verdict = PrivateLinkResult::Verdict::Trusted;
        break;
    case PeerTrust::Changed:
        result.refusal = tr("The certificate of %1 has changed! Connection refused.").arg(who);
        break;
    case PeerTrust::Missing:
        result.refusal = tr("%1 presented no certificate. Connection refused.").arg(who);
        break;
    }
    return result;
}

} // namespace

void watchPrivateLink(QSslSocket& socket, ChatHost& host, const QByteArray& nick,
                      std::function<void(const PrivateLinkResult&)> done)
{
    auto ended = std::make_shared<bool>(false);
    // A socket whose handshake is over needs no deadline.
    auto* deadline = socket.isEncrypted() ? nullptr : new QTimer(&socket);
    auto finish = [ended, deadline, done = std::move(done),
                   &socket](const PrivateLinkResult& result) {
        if (*ended)
            return;
        *ended = true;
        if (deadline) {
            deadline->stop();
            deadline->deleteLater();
        }
        if (result.verdict == PrivateLinkResult::Verdict::Refused) {
            diag::DebugLog(result.refusal);
            socket.abort();
        } else if (result.verdict == PrivateLinkResult::Verdict::AskUser) {
            socket.setReadBufferSize(kHeldLinkBufferBytes);
        }
        done(result);
    };
    const QString who = diag::decodeServerText(nick);
    if (!deadline) {
        finish(judge(socket, host, nick, who));
        return;
    }
    // A peer that connects and then says nothing would hold the link, and on our side the
    // offer, for as long as it liked.
    const std::chrono::milliseconds waited = host.linkTimeouts().handshake;
    deadline->setSingleShot(true);
    QObject::connect(deadline, &QTimer::timeout, &socket, [who, waited, finish] {
        PrivateLinkResult result;
        result.refusal = handshakeTimedOutText(who, waited);
        finish(result);
    });
    deadline->start(waited);
    // Nothing here is vouched for by an authority: the pin is the whole of the trust.
    QObject::connect(&socket, &QSslSocket::sslErrors, &socket,
                     [&socket](const QList<QSslError>&) { socket.ignoreSslErrors(); });
    QObject::connect(&socket, &QSslSocket::encrypted, &socket, [&socket, &host, nick, who, finish] {
        finish(judge(socket, host, nick, who));
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

void acceptPeerKey(QSslSocket& socket, ChatHost& host, const QByteArray& nick,
                   const QByteArray& fingerprint)
{
    host.pinPeer(nick, fingerprint, PinKind::Accepted);
    socket.setReadBufferSize(0);
}

QString protectionShortText(LinkProtection protection)
{
    static const char* const shortTexts[] = {
        QT_TR_NOOP("Not private"),
        QT_TR_NOOP("Blowfish, key sent over link"),
        QT_TR_NOOP("TLS, certificate pinned, not compared"),
        QT_TR_NOOP("TLS, certificate pinned, not compared"),
        QT_TR_NOOP("TLS, certificate compared"),
    };
    return tr(shortTexts[int(protection)]);
}

QString protectionText(LinkProtection protection, const QByteArray& fingerprint)
{
    switch (protection) {
    case LinkProtection::None:
        return tr("Not private: this link carries plain text.");
    case LinkProtection::BlowfishKeyOverLink:
        return tr("Blowfish encrypted, but the key was sent over this link.");
    case LinkProtection::TlsPinned:
        return tr("Private (TLS), certificate pinned, not compared: %1")
            .arg(displayFingerprint(fingerprint));
    case LinkProtection::TlsNotYetVerified:
        return tr("Private (TLS), first seen now: certificate pinned, not compared: %1")
            .arg(displayFingerprint(fingerprint));
    case LinkProtection::TlsCompared:
        return tr("Private (TLS), certificate compared: %1").arg(displayFingerprint(fingerprint));
    }
    return {};
}

QString linkCompareTitle()
{
    return tr("Compare");
}

QString linkCompareQuestion(const QByteArray& nick, const QString& comparison)
{
    return tr("Read this code to %1 by voice, or another way you trust, and let %1 read you the "
              "code their chat window shows:\n\n%2\n\nDoes %1 see the same code? Say Yes only if "
              "it matches: the link then vouches for the keys you exchange with %1.")
        .arg(diag::decodeServerText(nick), comparison);
}

QString comparisonNotKeptText()
{
    return tr("The comparison could not be saved; this link still vouches for nothing.");
}

} // namespace peer
