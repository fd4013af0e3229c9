#include "peer/crypto/link_check.h"

#include "peer/crypto/dh1080.h"

#include <QCryptographicHash>

#include <utility>

namespace peer {

namespace {

constexpr char kComparisonLabel[] = "Kivvo private link comparison v1";
constexpr char kCheckLabel[] = "Kivvo exchange check v1";

// Each field with its length before it, so that no two lists of fields hash alike.
void addField(QCryptographicHash& hash, QByteArrayView field)
{
    const quint32 size = quint32(field.size());
    const char length[] = {char(size >> 24), char(size >> 16), char(size >> 8), char(size)};
    hash.addData(QByteArrayView(length, 4));
    hash.addData(field);
}

QByteArray checkFrom(LinkRole senderRole, QByteArrayView senderFingerprint,
                     QByteArrayView receiverFingerprint, QByteArrayView digest)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    addField(hash, kCheckLabel);
    addField(hash, senderRole == LinkRole::Listener ? "listener" : "connector");
    addField(hash, senderFingerprint);
    addField(hash, receiverFingerprint);
    addField(hash, digest);
    return hash.result().toHex();
}

} // namespace

QString linkComparison(const QByteArray& fingerprintA, const QByteArray& fingerprintB)
{
    QByteArray a = fingerprintA.toLower();
    QByteArray b = fingerprintB.toLower();
    if (b < a)
        std::swap(a, b);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    addField(hash, kComparisonLabel);
    addField(hash, a);
    addField(hash, b);
    return dh1080::shortAuthenticationString(hash.result());
}

QByteArray linkCheckToSend(const LinkEnds& ends, QByteArrayView digest)
{
    return checkFrom(ends.ownRole, ends.ownFingerprint, ends.peerFingerprint, digest);
}

QByteArray linkCheckExpected(const LinkEnds& ends, QByteArrayView digest)
{
    const LinkRole theirs =
        ends.ownRole == LinkRole::Listener ? LinkRole::Connector : LinkRole::Listener;
    return checkFrom(theirs, ends.peerFingerprint, ends.ownFingerprint, digest);
}

} // namespace peer
