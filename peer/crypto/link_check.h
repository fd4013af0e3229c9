#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

namespace peer {

// Which end of a private link this side is: the one that listened, or the one that connected.
enum class LinkRole { Listener, Connector };

// One private link as one side sees it: its role and both certificates' fingerprints (lower-case
// hex SHA-256).
struct LinkEnds
{
    LinkRole ownRole = LinkRole::Connector;
    QByteArray ownFingerprint;
    QByteArray peerFingerprint;
};

// What the two users compare to know that the link joins their two programs and nobody else's:
// a hash of both certificates' fingerprints, the smaller first so that both sides read the same,
// as five groups of four digits.
QString linkComparison(const QByteArray& fingerprintA, const QByteArray& fingerprintB);

// What one program tells the other over a private link to say that it holds the exchange
// `digest`: a hash over the sender's role and both fingerprints, the sender's first, with the
// digest. A check sent back to its sender, or carried over from another link, does not match.
// Lower-case hex.
QByteArray linkCheckToSend(const LinkEnds& ends, QByteArrayView digest);
// The check this side takes from the other end of `ends` as saying the same `digest`.
QByteArray linkCheckExpected(const LinkEnds& ends, QByteArrayView digest);

} // namespace peer
