#pragma once

#include "irc/capabilities.h"
#include "irc/message.h"

namespace irc {

// A step a received line passes before it is acted on. It may take the line out, so that
// nothing after it sees the line.
class LineFilter
{
public:
    virtual ~LineFilter() = default;
    // True when the line was taken: it is no one else's.
    virtual bool take(const Message& message) = 0;
    // What the server granted on this connection; a new connection starts with none.
    virtual void setCapabilities(Capabilities /*granted*/) {}
};

} // namespace irc
