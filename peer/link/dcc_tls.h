#pragma once

#include <QByteArray>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>

#include <optional>

namespace peer {

// What we present on a private direct link. Nobody signs it: contacts trust it by pinning its
// fingerprint the first time they see it, so the same identity must survive restarts.
struct TlsIdentity
{
    QSslCertificate certificate;
    QSslKey key;
};

// A fresh self-signed identity: EC P-256 key, CN "Kivvo", valid from a day ago (so a peer whose
// clock runs late still accepts it) for 20 years, SHA-256 signature, random 128-bit serial.
// Nothing when OpenSSL fails.
std::optional<TlsIdentity> makeTlsIdentity();

// This installation's identity, kept in `path` as PEM (certificate, then private key). Made on
// first use with mode 0600 and read back afterwards. A file that is damaged, unreadable, holds a
// key that does not belong to its certificate or an expired certificate is renamed aside, to
// "<path>.damaged-<UTC time>", and replaced by a fresh identity, with the reason and the old
// file's new name in *note when `note` is given. Nothing when no identity can be made or saved,
// or the old file cannot be put aside.
std::optional<TlsIdentity> loadOrMakeTlsIdentity(const QString& path, QString* note = nullptr);

// The lower-case hex SHA-256 of the DER certificate, the form pins are stored in; empty for a
// null certificate.
QByteArray certificateFingerprint(const QSslCertificate& certificate);
// The form users compare by voice or by eye: "AB:CD:...". Empty when `hexFingerprint` is not an
// even run of hex digits.
QString displayFingerprint(const QByteArray& hexFingerprint);

// The TLS settings of either end of a private direct link: our certificate and key, TLS 1.2 or
// newer, and the peer's certificate requested (QSslSocket::QueryPeer) but checked against no
// root, since the trust comes from the pin and not from a certificate authority. Qt still emits
// sslErrors (self-signed, host name mismatch) under QueryPeer without stopping the handshake:
// those are expected here and are no reason to drop the link; judgePeer decides.
QSslConfiguration directLinkTls(const TlsIdentity& identity);

// What a presented certificate means for the contact.
enum class PeerTrust {
    Pinned,   // matches the stored pin
    FirstUse, // no pin yet: the caller pins it
    Changed,  // differs from the pin: refuse
    Missing,  // the peer presented no certificate: refuse
};
PeerTrust judgePeer(const std::optional<QByteArray>& pin, const QByteArray& presentedFingerprint);

} // namespace peer
