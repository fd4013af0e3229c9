#pragma once

#include "config/settings.h"
#include "irc/capabilities.h"
#include "irc/line_filter.h"
#include "irc/message.h"
#include "irc/message_dispatcher.h"

#include <QList>
#include <QObject>

namespace irc {

class ServerEvents;
class ServerLink;

// The one way a received line travels. The link parses it once and passes its registration;
// here it goes through the filters in the order they were added (history batches), then our own
// echoes are taken out (echo-message: never someone else's text, never shown twice), and the
// dispatcher turns what is left into typed events that the features subscribe to.
class LineRouter : public QObject
{
    Q_OBJECT

public:
    LineRouter(ServerEvents& events, const config::Settings& settings, LineServices services,
               QObject* parent = nullptr);
    // The services of a real link: its nick and its socket, the clock, the host name, the
    // debug window.
    static LineServices servicesOf(ServerLink& link);

    // Routes every line the link delivers, read by what the link was granted.
    void follow(ServerLink& link);

    // Runs after the filters added before it. The filter must outlive the router's link.
    void addFilter(LineFilter& filter) { m_filters.append(&filter); }
    void setSettings(const config::Settings& settings) { m_dispatcher.setSettings(settings); }
    void setAwaySealer(MessageDispatcher::AwaySealer sealer)
    {
        m_dispatcher.setAwaySealer(std::move(sealer));
    }
    // One line as the link delivers it; tests and benchmarks call it directly.
    void route(const Message& message);
    void setCapabilities(Capabilities capabilities);

private:
    bool takeOwnEcho(const Message& message);

    ServerEvents& m_events;
    std::function<QByteArray()> m_nickInUse;
    MessageDispatcher m_dispatcher;
    QList<LineFilter*> m_filters;
    Capabilities m_capabilities;
};

} // namespace irc
