#include "app/contact_pins.h"

#include "config/store.h"

namespace app {

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

std::optional<QByteArray> ContactPins::find(const QByteArray& nick)
{
    if (std::optional<QByteArray> pin = m_store.peerPin(key(nick)))
        return pin;
    for (const QByteArray& name : otherSpellings(nick)) {
        std::optional<QByteArray> old = m_store.peerPin(name);
        if (!old)
            continue;
        if (m_store.pinPeer(key(nick), *old))
            m_store.forgetPin(name);
        return old;
    }
    return std::nullopt;
}

bool ContactPins::pin(const QByteArray& nick, const QByteArray& fingerprint)
{
    if (!m_store.pinPeer(key(nick), fingerprint))
        return false;
    // An older pin under another spelling would come back once this one is forgotten.
    for (const QByteArray& name : otherSpellings(nick))
        m_store.forgetPin(name);
    return true;
}

bool ContactPins::forget(const QByteArray& nick)
{
    bool forgotten = m_store.forgetPin(key(nick));
    for (const QByteArray& name : otherSpellings(nick))
        forgotten = m_store.forgetPin(name) && forgotten;
    return forgotten;
}

} // namespace app
