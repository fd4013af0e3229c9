#include "app/chat_keys.h"

#include "config/secret_store.h"
#include "config/store.h"

namespace app {

namespace {

std::optional<peer::StoredFishKey> recordIn(const config::Store& store, const QByteArray& nick)
{
    const std::optional<QByteArray> value = store.chatKey(nick);
    return value ? peer::decodeFishKeyRecord(*value) : std::nullopt;
}

// The server passwords' keys end in ":<port>", and no nick is a number, so "chat:" keeps the two
// apart. The store compares nicks without regard to case, and so must the service.
config::SecretStore::Secret secretOf(config::Store& store, const QByteArray& nick)
{
    return {"chat:" + nick.toLower(),
            [&store, nick] {
                const std::optional<peer::StoredFishKey> record = recordIn(store, nick);
                return record ? record->key : QByteArray();
            },
            [&store, nick](const QByteArray& key) {
                std::optional<peer::StoredFishKey> record = recordIn(store, nick);
                if (!record)
                    return key.isEmpty(); // forgotten meanwhile: nothing to keep it with
                if (record->key == key)
                    return true;
                record->key = key;
                return store.setChatKey(nick, key.isEmpty() ? peer::encodeFishKeyRecord(*record)
                                                            : peer::encodeStoredFishKey(*record));
            }};
}

} // namespace

ChatKeys::ChatKeys(config::Store& store, config::SecretStore& secrets)
    : m_store(store)
    , m_secrets(secrets)
{
    m_secrets.addKind([&store] {
        std::vector<config::SecretStore::Secret> keys;
        for (const QByteArray& nick : store.chatKeyNicks())
            keys.push_back(secretOf(store, nick));
        return keys;
    });
}

std::optional<peer::StoredFishKey> ChatKeys::find(const QByteArray& nick)
{
    if (!m_store.chatKey(nick))
        return std::nullopt;
    // A damaged record still says that the chats were encrypted: it comes back without a key.
    std::optional<peer::StoredFishKey> record = recordIn(m_store, nick);
    if (!record)
        return peer::StoredFishKey{};
    record->key = m_secrets.secret(secretOf(m_store, nick));
    // Held to the checks of a whole stored text, wherever its key came from.
    if (const auto whole = peer::decodeStoredFishKey(peer::encodeStoredFishKey(*record)))
        return whole;
    record->key.clear();
    return record;
}

bool ChatKeys::save(const QByteArray& nick, const peer::StoredFishKey& key)
{
    if (!m_secrets.isActive())
        return m_store.setChatKey(nick, peer::encodeStoredFishKey(key));
    // The record first: the service's refusal puts the key text back into it.
    return m_store.setChatKey(nick, peer::encodeFishKeyRecord(key))
           && m_secrets.setSecret(secretOf(m_store, nick), key.key);
}

bool ChatKeys::forget(const QByteArray& nick)
{
    const bool forgotten = m_store.forgetChatKey(nick);
    if (!m_secrets.isActive())
        return forgotten;
    return m_secrets.setSecret(secretOf(m_store, nick), {}) && forgotten;
}

} // namespace app
