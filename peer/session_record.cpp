#include "peer/session_record.h"

namespace peer {

std::unique_ptr<SessionRecord> AllocRecord(int kind)
{
    switch (kind) {
    case KIND_CHAT:
        return std::make_unique<ChatSession>();
    case KIND_TRANSFER:
        return std::make_unique<TransferSession>();
    case KIND_AUDIOBUF:
        return std::make_unique<AudioBuffer>();
    default:
        return nullptr;
    }
}

ChatSession* FindRoutedChat(const ChatList& list, const QByteArray& nick)
{
    for (const auto& chat : list) {
        if (chat->serverRouted && chat->nick == nick)
            return chat.get();
    }
    return nullptr;
}

ChatSession* FindRoutedChat(const ChatList& list, const QByteArray& nick,
                            const NickComparison& same)
{
    if (!same)
        return FindRoutedChat(list, nick);
    for (const auto& chat : list) {
        if (chat->serverRouted && same(chat->nick, nick))
            return chat.get();
    }
    return nullptr;
}

} // namespace peer
