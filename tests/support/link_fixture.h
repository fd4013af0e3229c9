#pragma once

#include "config/settings.h"
#include "irc/link_status.h"
#include "irc/server_link.h"
#include "tests/support/fake_irc_server.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <memory>

namespace test {

// A server link over a temporary store, recording its statuses and the lines it reads: the
// fixture of the link's loopback suites. The registration is the one without the IRCv3
// extensions, which the link's own cases pin; the extensions have cases of their own.
class LinkFixture : public ::testing::Test
{
protected:
    LinkFixture()
    {
        settings.nick = "alice";
        settings.realname = "Alice Smith";
        settings.ircv3 = false;
        makeLink();
    }

    // A fresh link with the settings as they are now.
    void makeLink()
    {
        link = std::make_unique<irc::ServerLink>(temp.store(), settings);
        statuses.clear();
        lines.clear();
        QObject::connect(
            link.get(), &irc::ServerLink::statusChanged, link.get(),
            [this](const irc::LinkStatus& status) { statuses << irc::statusText(status); });
        QObject::connect(link.get(), &irc::ServerLink::lineReceived, link.get(),
                         [this](QByteArrayView line) { lines << line.toByteArray(); });
    }

    void addServer(quint16 port) { temp.store().AddServer({"127.0.0.1", "Net", port}); }
    void addServer(const FakeIrcServer& server) { addServer(server.port()); }

    // Waits for connection `index` of `server` (the latest when -1) to have sent its WHO.
    static bool registered(const FakeIrcServer& server, int index = -1)
    {
        return waitFor([&] {
            return server.connectionCount() > index && server.received(index).contains("WHO ");
        });
    }
    // The only server in the list, connected to and registered with.
    bool connectedTo(const FakeIrcServer& server)
    {
        addServer(server);
        link->connectToCurrentServer();
        return registered(server);
    }

    TempStore temp;
    config::Settings settings;
    std::unique_ptr<irc::ServerLink> link;
    QStringList statuses;
    QList<QByteArray> lines;
};

} // namespace test
