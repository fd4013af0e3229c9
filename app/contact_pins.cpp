#include "app/contact_pins.h"

#include "irc/isupport.h"

namespace app {

QByteArray ContactPins::key(const QByteArray& nick)
{
    return irc::foldNick(nick, irc::CaseMapping::Rfc1459);
}

QList<QByteArray> ContactPins::otherSpellings(const QByteArray& nick) const
{
    // Store names compare without regard to ASCII case: "Bob" is the name "bob" already, and
    // forgetting it after writing "bob" would forget the new pin.
    const QByteArray folded = key(nick);
    QList<QByteArray> others;
    for (const QByteArray& name : m_store.pinnedNicks()) {
        if (key(name) == folded && name.compare(folded, Qt::CaseInsensitive) != 0)
            others.append(name);
    }
    return others;
}

std::optional<config::PeerPin> ContactPins::find(const QByteArray& nick)
{
    if (std::optional<config::PeerPin> pin = m_store.peerPinRecord(key(nick)))
        return pin;
    for (const QByteArray& name : otherSpellings(nick)) {
        std::optional<config::PeerPin> old = m_store.peerPinRecord(name);
        if (!old)
            continue;
        if (m_store.pinPeer(key(nick), old->fingerprint, old->kind))
            m_store.forgetPin(name);
        return old;
    }
    return std::nullopt;
}

bool ContactPins::pin(const QByteArray& nick, const QByteArray& fingerprint,
                      config::PeerPinKind kind)
{
    if (!m_store.pinPeer(key(nick), fingerprint, kind))
        return false;
    // An older pin under another spelling would come back once this one is forgotten.
    for (const QByteArray& name : otherSpellings(nick))
        m_store.forgetPin(name);
    return true;
}

bool ContactPins::markCompared(const QByteArray& nick, const QByteArray& fingerprint)
{
    const std::optional<config::PeerPin> pinned = find(nick);
    if (pinned && pinned->fingerprint != fingerprint)
        return false;
    return pin(nick, fingerprint, config::PeerPinKind::Compared);
}

bool ContactPins::forget(const QByteArray& nick)
{
    bool forgotten = m_store.forgetPin(key(nick));
    for (const QByteArray& name : otherSpellings(nick))
        forgotten = m_store.forgetPin(name) && forgotten;
    return forgotten;
}

} // namespace app
