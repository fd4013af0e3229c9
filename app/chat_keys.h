#pragma once

#include "peer/crypto/fish_keys.h"

namespace config {
class SecretStore;
class Store;
} // namespace config

namespace app {

// The keys of encrypted relayed chats, under the nick as RFC 1459 folds it: the key text in the
// desktop's secret service where one runs, the rest (and the key text wherever the service does
// not hold it) in the store, a file only its owner reads. A key kept before, under the folding
// the server announced that day (ascii, strict RFC 1459), is found and kept where it is.
class ChatKeys : public peer::FishKeyStore
{
public:
    // Registers the keys for the load() of `secrets`, which must not have run yet.
    ChatKeys(config::Store& store, config::SecretStore& secrets);

    std::optional<peer::StoredFishKey> find(const QByteArray& nick) override;
    bool save(const QByteArray& nick, const peer::StoredFishKey& key) override;
    bool forget(const QByteArray& nick) override;

private:
    // The name the key of `nick` is kept under: the folded nick, or an older name that folds as
    // it does.
    QByteArray nameOf(const QByteArray& nick) const;

    config::Store& m_store;
    config::SecretStore& m_secrets;
};

} // namespace app
