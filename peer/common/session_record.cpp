#include "peer/common/session_record.h"

namespace peer {

ChatSession* FindRoutedChat(const ChatList& list, const QByteArray& nick, const NickRule& nicks)
{
    for (const auto& chat : list) {
        if (chat->serverRouted && nicks.same(chat->nick, nick))
            return chat.get();
    }
    return nullptr;
}

} // namespace peer
