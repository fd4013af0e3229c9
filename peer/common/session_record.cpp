#include "peer/common/session_record.h"

#include <algorithm>

namespace peer {

ChatSession* FindRoutedChat(const ChatList& list, const QByteArray& nick, const NickRule& nicks)
{
    for (const auto& chat : list) {
        if (chat->serverRouted && nicks.same(chat->nick, nick))
            return chat.get();
    }
    return nullptr;
}

void ChatSession::keepShown(const QByteArray& line, int keep, int slack)
{
    transcript += line;
    transcriptLines += int(std::max<qsizetype>(1, line.count("\r\n")));
    if (transcriptLines <= keep + slack)
        return;
    qsizetype cut = 0;
    for (; transcriptLines > keep; --transcriptLines) {
        const qsizetype end = transcript.indexOf("\r\n", cut);
        cut = end < 0 ? transcript.size() : end + 2;
    }
    transcript.remove(0, cut);
}

} // namespace peer
