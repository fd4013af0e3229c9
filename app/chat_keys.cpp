#include "app/chat_keys.h"

#include "config/store.h"

namespace app {

std::optional<peer::StoredFishKey> ChatKeys::find(const QByteArray& nick)
{
    const std::optional<QByteArray> value = m_store.chatKey(nick);
    if (!value)
        return std::nullopt;
    return peer::decodeStoredFishKey(*value);
}

bool ChatKeys::save(const QByteArray& nick, const peer::StoredFishKey& key)
{
    return m_store.setChatKey(nick, peer::encodeStoredFishKey(key));
}

bool ChatKeys::forget(const QByteArray& nick)
{
    return m_store.forgetChatKey(nick);
}

} // namespace app
