#pragma once

#include "config/store.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace app {

// The pins of contacts' private links, each kept under the nick folded by RFC 1459 rules, the
// widest of the servers' foldings: "Bob" and "bob", "[a]" and "{a}" share one pin whatever
// CASEMAPPING the server announces, so that a server cannot make a pin vanish (and a changed
// certificate pass for a first one) by announcing another. Two nicks that a narrower folding
// tells apart share a pin too, which can only refuse a link, never trust one.
class ContactPins
{
public:
    explicit ContactPins(config::Store& store)
        : m_store(store)
    {}

    // The pin of `nick`: under the folded nick, or under any spelling that folds the same, the
    // way pins were kept before (as spelled, or folded by the server's rules of the day); one
    // found so is moved under the folded nick.
    std::optional<config::PeerPin> find(const QByteArray& nick);
    bool pin(const QByteArray& nick, const QByteArray& fingerprint,
             config::PeerPinKind kind = config::PeerPinKind::FirstSeen);
    // The two users compared the link whose certificate is `fingerprint`: its pin says so. False
    // when another certificate is pinned by now, or the store would not keep it.
    bool markCompared(const QByteArray& nick, const QByteArray& fingerprint);
    // Forgets the pin under every spelling of `nick`; false when the store would not let one go.
    bool forget(const QByteArray& nick);

private:
    static QByteArray key(const QByteArray& nick);
    // The names of pins that fold as `nick` does but that the store keeps apart from its folded
    // form.
    QList<QByteArray> otherSpellings(const QByteArray& nick) const;

    config::Store& m_store;
};

} // namespace app
