// The server link's account login over a loopback connection, and its reconnection back-off on
// a fake clock.
#include "config/settings.h"
#include "diag/debug_log.h"
#include "irc/server_link.h"
#include "tests/support/fake_irc_server.h"
#include "tests/support/fake_retry_timer.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using test::FakeIrcServer;
using test::FakeRetryTimer;
using test::waitFor;

namespace {

class ReconnectTest : public ::testing::Test
{
protected:
    ReconnectTest()
    {
        settings.nick = "alice";
        settings.realname = "Alice Smith";
        // The lines of a registration without the IRCv3 extensions, which the link's own cases
        // pin; the extensions have cases of their own.
        settings.ircv3 = false;
        makeLink();
    }

    void makeLink()
    {
        link = std::make_unique<irc::ServerLink>(temp.store(), settings);
        auto fake = std::make_unique<FakeRetryTimer>();
        timer = fake.get();
        link->setRetryTimer(std::move(fake));
        link->setJitterSource([] { return 0.0; });
        statuses.clear();
        QObject::connect(
            link.get(), &irc::ServerLink::statusChanged, link.get(),
            [this](const irc::LinkStatus& status) { statuses << irc::statusText(status); });
    }

    void addServer(quint16 port) { temp.store().AddServer({"127.0.0.1", "Net", port}); }

    // Waits for connection `index` of `server` to have sent its WHO.
    static bool registered(const FakeIrcServer& server, int index)
    {
        return waitFor([&] {
            return server.connectionCount() > index && server.received(index).contains("WHO ");
        });
    }

    // Drops the latest connection and waits for the pass after it to end.
    bool dropAndWaitForThePassToEnd(FakeIrcServer& server)
    {
        const int waits = int(timer->delays.size());
        const int shown = int(statuses.size());
        server.dropClient();
        return waitFor([&] {
            return timer->delays.size() > waits
                   || statuses.mid(shown).contains("Can't connect to any servers!");
        });
    }

    test::TempStore temp;
    config::Settings settings;
    std::unique_ptr<irc::ServerLink> link;
    FakeRetryTimer* timer = nullptr;
    QStringList statuses;
};

} // namespace

// The series of waits and its 5-minute cap are the rotation's (server_rotation_test); here the
// link's own part: it waits after each failed pass, longer each time, and says until when.
TEST_F(ReconnectTest, ALostLinkWaits15SecondsThenLongerAfterEachFailedPass)
{
    auto server = std::make_unique<FakeIrcServer>();
    addServer(server->port());
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(*server, 0));
    ASSERT_TRUE(dropAndWaitForThePassToEnd(*server));
    ASSERT_EQ(timer->delays, QList<qint64>{15'000});
    EXPECT_TRUE(link->retryPending());
    EXPECT_EQ(statuses.last(), "Can't connect to any servers! Trying again at 10:42:32.");
    // The next entry is the only one, the top of the list.
    EXPECT_TRUE(statuses.contains("Disconnected!  Trying to reconnect... (server #0)"));
    EXPECT_EQ(link->state(), irc::ServerLink::State::Idle);

    // The server is gone for good: every pass fails, and each wait is twice the last.
    server.reset();
    for (int pass = 0; pass < 2; ++pass) {
        const int waits = int(timer->delays.size());
        timer->elapse();
        ASSERT_TRUE(waitFor([&] { return timer->delays.size() > waits; })) << pass;
    }
    EXPECT_EQ(timer->delays, (QList<qint64>{15'000, 30'000, 60'000}));
    // 10:42:17 plus the two waits elapsed (45 s) plus the pending minute.
    EXPECT_EQ(statuses.last(), "Can't connect to any servers! Trying again at 10:44:02.");
}

// Dropped by the last server of the list, the link goes on at once to the first, which is up:
// no wait while an entry is left untried.
TEST_F(ReconnectTest, ALostLinkMovesToTheNextEntryAtOnceAroundTheList)
{
    FakeIrcServer first;
    FakeIrcServer last;
    addServer(first.port());
    addServer(last.port());
    link->setServerIndex(1);
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(last, 0));
    last.send(":irc 001 alice :Welcome\r\n");
    QTest::qWait(50);
    last.dropClient();
    ASSERT_TRUE(registered(first, 0));
    EXPECT_TRUE(timer->delays.isEmpty());
    EXPECT_TRUE(statuses.contains("Disconnected!  Trying to reconnect... (server #0)"));
}

TEST_F(ReconnectTest, ARegistrationResetsTheWait)
{
    FakeIrcServer server;
    addServer(server.port());
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(server, 0));
    server.send(":irc 001 alice :Welcome\r\n");
    QTest::qWait(50);
    ASSERT_TRUE(dropAndWaitForThePassToEnd(server));
    timer->elapse();
    // Connected again, but never let on: the next wait is longer.
    ASSERT_TRUE(registered(server, 1));
    ASSERT_TRUE(dropAndWaitForThePassToEnd(server));
    timer->elapse();
    ASSERT_TRUE(registered(server, 2));
    server.send(":irc 001 alice :Welcome back\r\n");
    QTest::qWait(50);
    ASSERT_TRUE(dropAndWaitForThePassToEnd(server));
    EXPECT_EQ(timer->delays, (QList<qint64>{15'000, 30'000, 15'000}));
}

TEST_F(ReconnectTest, NoReconnectionAfterTheUsersDisconnect)
{
    FakeIrcServer server;
    addServer(server.port());
    QSignalSpy closed(link.get(), &irc::ServerLink::closedByUser);
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(server, 0));
    link->disconnectFromServer();
    QTest::qWait(200);
    EXPECT_TRUE(timer->delays.isEmpty());
    EXPECT_FALSE(link->retryPending());
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_EQ(statuses.last(), "Disconnected.");

    // A disconnect while waiting ends the wait.
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(server, 1));
    ASSERT_TRUE(dropAndWaitForThePassToEnd(server));
    ASSERT_TRUE(link->retryPending());
    link->disconnectFromServer();
    EXPECT_FALSE(link->retryPending());
    EXPECT_FALSE(timer->pending());
    EXPECT_EQ(statuses.last(), "Disconnected.");
    EXPECT_EQ(closed.count(), 2);
}

TEST_F(ReconnectTest, TheUsersConnectEndsTheWait)
{
    FakeIrcServer server;
    addServer(server.port());
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(server, 0));
    ASSERT_TRUE(dropAndWaitForThePassToEnd(server));
    ASSERT_TRUE(link->retryPending());
    link->connectToCurrentServer();
    EXPECT_FALSE(link->retryPending());
    ASSERT_TRUE(registered(server, 1));
}

TEST_F(ReconnectTest, WithTheFlagOffALostLinkEndsThePassAsBefore)
{
    settings.reconnect = false;
    makeLink();
    FakeIrcServer server;
    addServer(server.port());
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(server, 0));
    ASSERT_TRUE(dropAndWaitForThePassToEnd(server));
    QTest::qWait(100);
    EXPECT_TRUE(timer->delays.isEmpty());
    EXPECT_FALSE(link->retryPending());
    EXPECT_EQ(statuses.last(), "Can't connect to any servers!");
    EXPECT_EQ(link->serverIndex(), 0);
    EXPECT_EQ(server.connectionCount(), 1);
}

TEST_F(ReconnectTest, TurningTheFlagOffWhileWaitingEndsTheWait)
{
    FakeIrcServer server;
    addServer(server.port());
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(server, 0));
    ASSERT_TRUE(dropAndWaitForThePassToEnd(server));
    ASSERT_TRUE(link->retryPending());
    settings.reconnect = false;
    link->setSettings(settings);
    EXPECT_FALSE(link->retryPending());
    EXPECT_FALSE(timer->pending());
    EXPECT_EQ(statuses.last(), "Can't connect to any servers!");
}

// --- The account login on a live link ------------------------------------------------------

class AccountLinkTest : public ReconnectTest
{
protected:
    AccountLinkTest()
    {
        diag::DebugPanes::instance().clear();
        addServer(server.port());
        temp.store().setServerPassword({"127.0.0.1", "Net", server.port()}, "alice:hunter2 pw");
    }
    bool received(const QByteArray& tail)
    {
        return waitFor([&] { return server.received().endsWith(tail); });
    }

    FakeIrcServer server;
};

TEST_F(AccountLinkTest, LogsInWithSaslThenSendsWho)
{
    link->connectToCurrentServer();
    ASSERT_TRUE(received("CAP LS 302\r\n"));
    server.send(":irc CAP * LS * :multi-prefix\r\n:irc CAP * LS :sasl=PLAIN\r\n");
    ASSERT_TRUE(received("CAP REQ :sasl\r\n"));
    // The server offers SASL: the password goes in the login only, never in PASS.
    EXPECT_EQ(server.received(),
              "CAP LS 302\r\nNICK alice\r\nUSER alice 0 * :Alice Smith\r\nCAP REQ :sasl\r\n");
    server.send(":irc CAP alice ACK :sasl\r\n");
    ASSERT_TRUE(received("AUTHENTICATE PLAIN\r\n"));
    server.send("AUTHENTICATE +\r\n");
    const QByteArray login =
        "AUTHENTICATE " + QByteArray("alice\0alice\0hunter2 pw", 22).toBase64() + "\r\n";
    ASSERT_TRUE(received(login));
    server.send(":irc 903 alice :SASL authentication successful\r\n");
    ASSERT_TRUE(received("CAP END\r\nWHO alice\r\n"));
    EXPECT_TRUE(diag::DebugPanes::instance()
                    .text(diag::Pane::Status)
                    .contains("Logged in to the account (SASL)."));
    // A login is only noted: the status bar still says where we are connected.
    EXPECT_EQ(statuses.last(), "Connected to server 127.0.0.1.");
}

TEST_F(AccountLinkTest, AFailedLoginIsSaidAndRegistrationGoesOn)
{
    link->connectToCurrentServer();
    ASSERT_TRUE(received("CAP LS 302\r\n"));
    server.send(":irc CAP * LS :sasl\r\n");
    ASSERT_TRUE(received("CAP REQ :sasl\r\n"));
    server.send(":irc CAP alice ACK :sasl\r\n");
    ASSERT_TRUE(received("AUTHENTICATE PLAIN\r\n"));
    server.send("AUTHENTICATE +\r\n:irc 904 alice :SASL authentication failed\r\n");
    ASSERT_TRUE(received("CAP END\r\nWHO alice\r\n"));
    EXPECT_EQ(statuses.last(), "Login to the account failed (SASL).");
    EXPECT_TRUE(diag::DebugPanes::instance()
                    .text(diag::Pane::Status)
                    .contains("Login to the account failed (SASL)."));
}
