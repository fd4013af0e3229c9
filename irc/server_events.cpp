#include "irc/server_events.h"

#include "irc/server_time.h"

namespace irc {

LineStamp lineStamp(const Message& message, Capabilities granted)
{
    LineStamp stamp;
    if (message.tags.isEmpty() || !granted.has(Capability::ServerTime))
        return stamp;
    if (const std::optional<QDateTime> at = serverTime(message))
        stamp.at = *at;
    for (const Tag& tag : message.tags) {
        if (tag.key == "msgid")
            stamp.msgId = tag.value;
    }
    return stamp;
}

} // namespace irc
