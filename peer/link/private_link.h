#pragma once

#include "peer/common/session_record.h"
#include "peer/crypto/link_check.h"

#include <QByteArray>
#include <QString>

#include <functional>

class QObject;
class QSslSocket;

namespace peer {

class ChatHost;

// The end of a private link's handshake: the protection it has, with the peer's certificate,
// or why it was refused.
struct PrivateLinkResult
{
    enum class Verdict {
        Refused,
        Trusted,
        // A certificate with no pin yet, on a link we listened for: anyone who found the port
        // may have connected, so the link is held, carrying nothing, until the user has
        // compared the fingerprint and accepted it (acceptPeerKey) or refused it.
        AskUser,
    };

    Verdict verdict = Verdict::Refused;
    bool trusted() const { return verdict == Verdict::Trusted; }
    LinkProtection protection = LinkProtection::None;
    QByteArray fingerprint;              // lower-case hex SHA-256 of the peer's certificate
    QByteArray ownFingerprint;           // ours, the same way: for the users to compare
    LinkRole role = LinkRole::Connector; // ours on the link
    QString refusal;
};

// A TLS socket with our identity for a private link we connect out on; null when this
// installation has no identity (the link cannot be private then).
QSslSocket* newPrivateSocket(ChatHost& host, QObject* parent);

// Watches the handshake of `socket` with `nick`, as either side, and calls `done` once: the
// peer's certificate is judged by the contact's pin, and a changed or missing one is refused,
// as is a handshake that does not end within the host's time-out (the socket is then aborted).
// A certificate seen for the first time is pinned at once, as first seen, on a link we connected
// out on, to the address the peer itself offered; on a link we listened for, it waits for the
// user (Verdict::AskUser). A pin the two users compared makes the link TlsCompared. A socket
// whose handshake has already ended is judged at once.
void watchPrivateLink(QSslSocket& socket, ChatHost& host, const QByteArray& nick,
                      std::function<void(const PrivateLinkResult&)> done);

// The user accepted the certificate of the link held on `socket`: it is pinned for `nick` as
// accepted (not compared: that takes both users), and the link may carry data from now on.
void acceptPeerKey(QSslSocket& socket, ChatHost& host, const QByteArray& nick,
                   const QByteArray& fingerprint);

// How much a held link may take in before it carries anything: the rest waits in the peer's
// socket, not in our memory.
inline constexpr qint64 kHeldLinkBufferBytes = 64 * 1024;

// What a chat window says about the protection of its link: in short, and whole.
QString protectionShortText(LinkProtection protection);
QString protectionText(LinkProtection protection, const QByteArray& fingerprint);

// The question of a direct chat's "Compare...": the string both users read (linkComparison),
// and whether the contact reads the same.
QString linkCompareTitle();
QString linkCompareQuestion(const QByteArray& nick, const QString& comparison);
// The store would not keep the comparison: the link stays as it was.
QString comparisonNotKeptText();

} // namespace peer
