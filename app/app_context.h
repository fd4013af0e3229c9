#pragma once

#include "config/registry.h"
#include "config/settings.h"
#include "config/store.h"
#include "irc/server_link.h"
#include "peer/session_record.h"

#include <QtGlobal>

namespace app {

// The program's shared state: the settings, the store, the server link and what the server told
// us about ourselves. Owned by main(); every window reads it, and only each field's owner
// changes it.
struct AppContext
{
    explicit AppContext(config::Registry& registry)
        : store(registry)
        , settings(store.LoadSettings())
        , link(store, settings)
    {}

    config::Store store;
    config::Settings settings;
    irc::ServerLink link;
    // Our IPv4 address as the server sees it, host byte order; 0 until the WHO reply is seen.
    quint32 serverSeenAddress = 0;
    bool debugDump = false;
    peer::ChatList chats;
    peer::DccList transfers;
};

} // namespace app
