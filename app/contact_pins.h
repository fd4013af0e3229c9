#pragma once

#include "irc/isupport.h"

#include <QByteArray>
#include <QList>

#include <optional>

namespace config {
class Store;
}

namespace app {

// The pins of contacts' private links, each kept under the nick as the server folds it, so that
// the spellings the server takes for one user ("Bob" and "bob", and under RFC 1459 rules "[a]"
// and "{a}") share one pin, and those it tells apart do not.
class ContactPins
{
public:
    explicit ContactPins(config::Store& store)
        : m_store(store)
    {}

    // How the server folds nicks (CASEMAPPING); RFC 1459 until it says.
    void setCaseMapping(irc::CaseMapping mapping) { m_mapping = mapping; }
    irc::CaseMapping caseMapping() const { return m_mapping; }

    // The pin of `nick`: under the folded nick, or under any spelling that folds the same, the
    // way pins were kept before they were folded; one found so is moved under the folded nick.
    std::optional<QByteArray> find(const QByteArray& nick);
    bool pin(const QByteArray& nick, const QByteArray& fingerprint);
    // Forgets the pin under every spelling of `nick`; false when the store would not let one go.
    bool forget(const QByteArray& nick);

private:
    QByteArray key(const QByteArray& nick) const { return irc::foldNick(nick, m_mapping); }
    // The names of pins that fold as `nick` does but that the store keeps apart from its folded
    // form.
    QList<QByteArray> otherSpellings(const QByteArray& nick) const;

    config::Store& m_store;
    irc::CaseMapping m_mapping = irc::CaseMapping::Rfc1459;
};

} // namespace app
