// The server link's account login over a loopback connection, and its reconnection back-off on
// a fake clock.
#include "diag/debug_log.h"
#include "tests/support/fake_retry_timer.h"
#include "tests/support/link_fixture.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using test::FakeIrcServer;
using test::FakeRetryTimer;
using test::waitFor;

namespace {

class ReconnectTest : public test::LinkFixture
{
protected:
    ReconnectTest() { makeLink(); }

    // A fresh link whose retries wait on the test's clock, without jitter.
    void makeLink()
    {
        LinkFixture::makeLink();
        auto fake = std::make_unique<FakeRetryTimer>();
        timer = fake.get();
        link->setRetryTimer(std::move(fake));
        link->setJitterSource([] { return 0.0; });
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

    FakeRetryTimer* timer = nullptr;
};

} // namespace

// The series of waits and its 5-minute cap are the rotation's (server_rotation_test); here the
// link's own part: it waits after each failed pass, longer each time, and says until when.
TEST_F(ReconnectTest, ALostLinkWaits15SecondsThenLongerAfterEachFailedPass)
{
    auto server = std::make_unique<FakeIrcServer>();
    addServer(*server);
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
    addServer(first);
    addServer(last);
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
    addServer(server);
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
    addServer(server);
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
    addServer(server);
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
    addServer(server);
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
    addServer(server);
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
        addServer(server);
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
