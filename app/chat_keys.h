#pragma once

#include "peer/fish_keys.h"

namespace config {
class Store;
}

namespace app {

// The keys of encrypted relayed chats, kept in the store (a file only its owner reads) under
// the nick as the chats fold it.
class ChatKeys : public peer::FishKeyStore
{
public:
    explicit ChatKeys(config::Store& store)
        : m_store(store)
    {}

    std::optional<peer::StoredFishKey> find(const QByteArray& nick) override;
    bool save(const QByteArray& nick, const peer::StoredFishKey& key) override;
    bool forget(const QByteArray& nick) override;

private:
    config::Store& m_store;
};

} // namespace app
