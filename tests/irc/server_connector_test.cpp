// The pass over the server list without a link: what each attempt reports and where the pass
// goes on. The test holds the socket of an attempt that connects, as the link would.
#include "diag/debug_log.h"
#include "irc/server_connector.h"
#include "tests/support/fake_irc_server.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

using test::FakeIrcServer;
using test::waitFor;

namespace {

class ServerConnectorTest : public ::testing::Test
{
protected:
    ServerConnectorTest()
    {
        QObject::connect(
            &connector, &irc::ServerConnector::statusChanged, &connector,
            [this](const irc::LinkStatus& status) { statuses << irc::statusText(status); });
        QObject::connect(&connector, &irc::ServerConnector::connected, &connector,
                         [this](QTcpSocket* socket) {
                             held = socket;
                             ++connections;
                         });
        // The link's part: the socket it holds goes when an attempt starts or ends.
        const auto release = [this] {
            irc::closeSocket(held, &connector);
            held = nullptr;
        };
        QObject::connect(&connector, &irc::ServerConnector::attemptStarting, &connector, release);
        QObject::connect(&connector, &irc::ServerConnector::attemptEnded, &connector, release);
    }

    void addServer(const QByteArray& address, int port)
    {
        temp.store().AddServer({address, "Net", port});
    }
    bool connectedTimes(int count)
    {
        return waitFor([&] { return connections == count; });
    }

    test::TempStore temp;
    irc::ServerConnector connector{temp.store(), true};
    QStringList statuses;
    QPointer<QTcpSocket> held;
    int connections = 0;
};

} // namespace

TEST_F(ServerConnectorTest, ReportsAnEmptyServerList)
{
    connector.connectToCurrentServer();
    EXPECT_EQ(statuses, QStringList{"There are no servers defined!"});
    EXPECT_FALSE(connector.attempted());
}

TEST_F(ServerConnectorTest, FailsOverPastARefusedAndAnUnresolvableServer)
{
    FakeIrcServer good;
    addServer("127.0.0.1", FakeIrcServer::closedPort());
    addServer("nothere..invalid", 6667); // refused by the resolver without any DNS query
    addServer("127.0.0.1", good.port());
    QSignalSpy failed(&connector, &irc::ServerConnector::attemptFailed);
    connector.connectToCurrentServer();
    ASSERT_TRUE(connectedTimes(1));
    EXPECT_EQ(statuses, QStringList{"Could not resolve server! Trying again..."});
    EXPECT_EQ(failed.count(), 1); // the refused one; a failed look-up is only said
    EXPECT_EQ(connector.serverIndex(), 2);
    EXPECT_EQ(connector.server().port, good.port());
}

TEST_F(ServerConnectorTest, NamesEachServerItTriesInTheDebugWindow)
{
    FakeIrcServer good;
    const quint16 refusing = FakeIrcServer::closedPort();
    addServer("127.0.0.1", refusing);
    temp.store().AddServer({"localhost", "", good.port()});
    diag::DebugPanes::instance().clear();
    connector.connectToCurrentServer();
    ASSERT_TRUE(connectedTimes(1));
    const QString info = diag::DebugPanes::instance().text(diag::Pane::Info);
    EXPECT_TRUE(info.contains(
        QStringLiteral("Trying to connect to server #0: 127.0.0.1:%1 (Net)\r\n").arg(refusing)))
        << info.toStdString();
    EXPECT_TRUE(info.contains(
        QStringLiteral("Trying to connect to server #1: localhost:%1\r\n").arg(good.port())))
        << info.toStdString();
}

TEST_F(ServerConnectorTest, EndsThePassTheUserStartedWhenNoServerAnswers)
{
    addServer("127.0.0.1", FakeIrcServer::closedPort());
    addServer("127.0.0.1", FakeIrcServer::closedPort());
    addServer("127.0.0.1", 0); // a port that can never connect
    QSignalSpy failed(&connector, &irc::ServerConnector::attemptFailed);
    QSignalSpy lost(&connector, &irc::ServerConnector::lost);
    connector.connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return statuses.contains("Can't connect to any servers!"); }));
    EXPECT_EQ(statuses, QStringList{"Can't connect to any servers!"});
    EXPECT_EQ(connector.serverIndex(), 0);
    EXPECT_EQ(failed.count(), 3);
    EXPECT_EQ(lost.count(), 0);
    // Nothing was lost: no wait starts, and no further attempt follows by itself.
    EXPECT_FALSE(connector.retryPending());
    QTest::qWait(200);
    EXPECT_EQ(statuses.size(), 1);
    EXPECT_EQ(connector.state(), irc::ServerConnector::State::Idle);
}

TEST_F(ServerConnectorTest, HandsOverTheConnectedSocketAndLeavesItsEndToTheLink)
{
    FakeIrcServer server;
    addServer("127.0.0.1", server.port());
    QSignalSpy failed(&connector, &irc::ServerConnector::attemptFailed);
    connector.connectToCurrentServer();
    ASSERT_TRUE(connectedTimes(1));
    ASSERT_TRUE(held);
    EXPECT_EQ(held->state(), QAbstractSocket::ConnectedState);
    EXPECT_EQ(connector.state(), irc::ServerConnector::State::Registered);
    EXPECT_TRUE(connector.attempted());

    // A drop is the link's to notice: the connector neither fails the attempt nor goes on.
    server.dropClient();
    ASSERT_TRUE(waitFor([&] { return held->state() == QAbstractSocket::UnconnectedState; }));
    QTest::qWait(100);
    EXPECT_EQ(failed.count(), 0);
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_TRUE(statuses.isEmpty());
}
