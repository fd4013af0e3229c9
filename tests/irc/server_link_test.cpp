#include "config/settings.h"
#include "irc/server_link.h"
#include "tests/support/fake_retry_timer.h"
#include "tests/support/link_fixture.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using test::FakeIrcServer;
using test::waitFor;

namespace {

class ServerLinkTest : public test::LinkFixture
{};

} // namespace

TEST_F(ServerLinkTest, RegistersWithExactlyNickUserAndWho)
{
    FakeIrcServer server;
    QSignalSpy registered(link.get(), &irc::ServerLink::registered);
    ASSERT_TRUE(connectedTo(server));
    EXPECT_EQ(server.received(), "NICK alice\r\nUSER alice 0 * :Alice Smith\r\nWHO alice\r\n");
    EXPECT_EQ(statuses, (QStringList{"Sending user info...", "Connected to server 127.0.0.1."}));
    EXPECT_EQ(irc::connectedTitle("alice"), "Kivvo - v2.0 - alice");
    // A nick the server gives us holds no line break the title would show.
    EXPECT_EQ(irc::connectedTitle("al\xE2\x80\xA8ice"), "Kivvo - v2.0 - al\\u2028ice");
    EXPECT_EQ(link->nickInUse(), "alice");
}

TEST_F(ServerLinkTest, IsRegisteredAtTheWelcomeUnderTheNickTheServerKnows)
{
    FakeIrcServer server;
    QSignalSpy registered(link.get(), &irc::ServerLink::registered);
    ASSERT_TRUE(connectedTo(server));
    // Connected is not let on: polls started now would be refused before the welcome.
    EXPECT_EQ(registered.count(), 0);
    // A collision during registration moved us to another nick; the welcome names that one.
    server.send(":irc 433 * alice :Nickname is already in use\r\n");
    ASSERT_TRUE(
        waitFor([&] { return server.received().endsWith("NICK alice_\r\nWHO alice_\r\n"); }));
    // Asked for, not ours: the server has not said it took it.
    EXPECT_EQ(link->nickInUse(), "alice");
    server.send(":irc 001 alice_ :Welcome\r\n");
    ASSERT_TRUE(waitFor([&] { return registered.count() == 1; }));
    EXPECT_EQ(registered.at(0).at(0).toByteArray(), "alice_");
    EXPECT_EQ(link->nickInUse(), "alice_");

    // Services rename us: from then on we are the new nick; a rename of someone else is not ours.
    QSignalSpy renamed(link.get(), &irc::ServerLink::nickChanged);
    server.send(":alice_!a@h NICK :Guest4711\r\n:bob!b@h NICK :carol\r\n");
    ASSERT_TRUE(waitFor([&] { return lines.size() >= 4; }));
    EXPECT_EQ(link->nickInUse(), "Guest4711");
    ASSERT_EQ(renamed.count(), 1);
    EXPECT_EQ(renamed.at(0).at(0).toByteArray(), "Guest4711");
}

// A server that takes neither nick sees three rounds of tries, then a status, not a flood.
TEST_F(ServerLinkTest, StopsAskingForNicksWhenBothStayTaken)
{
    settings.altnick = "alice_2";
    link->setSettings(settings);
    FakeIrcServer server;
    ASSERT_TRUE(connectedTo(server));
    for (int i = 0; i < 10; ++i)
        server.send(":irc 433 * alice :Nickname is already in use\r\n");
    server.send(":irc NOTICE * :end\r\n");
    ASSERT_TRUE(waitFor([&] { return !lines.isEmpty() && lines.back().endsWith(":end"); }));
    // Whatever the link wrote before this line has reached the server once it has.
    link->sendLine("PING :written");
    ASSERT_TRUE(waitFor([&] { return server.received().endsWith("PING :written\r\n"); }));
    EXPECT_EQ(server.received().count("NICK "), 1 + irc::OwnNick::kMaxTries);
    EXPECT_EQ(statuses.count(irc::statusText({irc::LinkStatus::Step::NicksTaken})), 1);
    EXPECT_EQ(statuses.back(),
              "The nick and the alternate nick are both in use. Choose another in the settings.");
}

TEST(ServerLabel, NamesAddressPortAndNetwork)
{
    const struct
    {
        config::ServerEntry server;
        const char* label;
    } cases[] = {
        {{"irc.example.net", "ExampleNet", 6667}, "irc.example.net:6667 (ExampleNet)"},
        {{"irc.example.net", "", 6667}, "irc.example.net:6667"},
        // A secure port as the server list writes it.
        {{"irc.example.net", "ExampleNet", 6697, true}, "irc.example.net:+6697 (ExampleNet)"},
        // An IPv6 address in brackets, so that the port stands apart.
        {{"::1", "Local", 6667}, "[::1]:6667 (Local)"},
        {{"caf\xc3\xa9.example", "R\xc3\xa9seau", 7000}, "caf\u00e9.example:7000 (R\u00e9seau)"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(irc::serverLabel(c.server), QString::fromUtf8(c.label)) << c.label;
}

TEST_F(ServerLinkTest, SendsPassFirstOnlyWhenAServerPasswordIsSet)
{
    settings.nick = "twelvecharsx";
    link->setSettings(settings);
    FakeIrcServer server;
    addServer(server);
    ASSERT_TRUE(temp.store().setServerPassword({"127.0.0.1", "Net", server.port()}, "s3cret"));
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(server));
    EXPECT_EQ(server.received(), "PASS s3cret\r\nNICK twelvecharsx\r\n"
                                 "USER twelvecharsx 0 * :Alice Smith\r\nWHO twelvecharsx\r\n");
    // The nick in use is the whole nick, not its first nine characters.
    EXPECT_EQ(link->nickInUse(), "twelvecharsx");
}

TEST_F(ServerLinkTest, ReconnectsToTheNextServerWhenTheLinkDrops)
{
    FakeIrcServer first;
    FakeIrcServer second;
    addServer(first);
    addServer(second);
    QSignalSpy failed(link.get(), &irc::ServerLink::attemptFailed);
    QSignalSpy lost(link.get(), &irc::ServerLink::lost);
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(first));
    first.send(":irc 001 alice :Welcome\r\nPING :last");
    first.send(" words\r\n");
    first.dropClient();
    ASSERT_TRUE(registered(second));
    EXPECT_TRUE(statuses.contains("Disconnected!  Trying to reconnect... (server #1)"));
    EXPECT_EQ(lost.count(), 1);
    EXPECT_EQ(failed.count(), 0);
    // Lines read before the drop were all delivered, the split one whole.
    EXPECT_EQ(lines, (QList<QByteArray>{":irc 001 alice :Welcome", "PING :last words"}));
}

TEST_F(ServerLinkTest, ManualDisconnectSendsQuitAndDoesNotReconnect)
{
    FakeIrcServer server;
    QSignalSpy cleared(link.get(), &irc::ServerLink::closedByUser);
    ASSERT_TRUE(connectedTo(server));
    link->disconnectFromServer();
    ASSERT_TRUE(waitFor([&] { return !server.isClientConnected(); }));
    EXPECT_TRUE(server.received().endsWith("WHO alice\r\nQUIT\r\n"));
    EXPECT_EQ(statuses.last(), "Disconnected.");
    EXPECT_EQ(cleared.count(), 1);
    QTest::qWait(200);
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_EQ(link->serverIndex(), 0);
}

TEST_F(ServerLinkTest, DisconnectDuringAConnectionAttemptCancelsIt)
{
    FakeIrcServer server;
    addServer(server);
    link->connectToCurrentServer(); // the connect step is posted
    link->disconnectFromServer();
    QTest::qWait(200);
    EXPECT_EQ(server.connectionCount(), 0);
}

TEST_F(ServerLinkTest, QuitsAtCloseOnlyWhenAnAttemptWasMade)
{
    link->quitForClose();
    EXPECT_FALSE(link->hasSocket());

    FakeIrcServer server;
    ASSERT_TRUE(connectedTo(server));
    link->quitForClose();
    ASSERT_TRUE(waitFor([&] { return !server.isClientConnected(); }));
    EXPECT_TRUE(server.received().endsWith("QUIT :Kivvo is closing...\r\n"));
}

TEST_F(ServerLinkTest, KeepsReadingInOrderWhileAHandlerRunsANestedLoop)
{
    FakeIrcServer server;
    ASSERT_TRUE(connectedTo(server));
    bool nested = false;
    QObject::connect(link.get(), &irc::ServerLink::lineReceived, link.get(),
                     [&](QByteArrayView line) {
                         if (line == "one" && !nested) {
                             nested = true;
                             server.send("three\r\n");
                             // As a modal message box would: other events run meanwhile,
                             // and the link must not stall until the box is answered.
                             EXPECT_TRUE(waitFor([&] { return lines.contains("three"); }));
                         }
                     });
    server.send("one\r\ntwo\r\n");
    ASSERT_TRUE(waitFor([&] { return lines.size() == 3; }));
    EXPECT_EQ(lines, (QList<QByteArray>{"one", "two", "three"}));
}

TEST_F(ServerLinkTest, RefusesLinesThatWouldInjectACommand)
{
    FakeIrcServer server;
    ASSERT_TRUE(connectedTo(server));
    EXPECT_FALSE(link->sendLine("PRIVMSG bob :hi\r\nQUIT"));
    EXPECT_FALSE(link->sendLine(QByteArray("PRIVMSG bob :a\0b", 16)));
    EXPECT_TRUE(link->sendLine("PRIVMSG bob :hi"));
    ASSERT_TRUE(waitFor([&] { return server.received().endsWith("PRIVMSG bob :hi\r\n"); }));
    EXPECT_FALSE(server.received().contains("QUIT"));
}

// An older store's single password went to every server of the list, an account's too.
TEST_F(ServerLinkTest, SendsAServerPasswordOnlyToItsOwnEntry)
{
    FakeIrcServer first;
    FakeIrcServer second;
    addServer(first);
    addServer(second);
    ASSERT_TRUE(temp.registry().writeValue(config::kKeyRoot, "serverpass", "s3cret"));
    ASSERT_TRUE(temp.store().migrateServerPass());
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(first));
    EXPECT_EQ(first.received(), "PASS s3cret\r\nNICK alice\r\nUSER alice 0 * :Alice Smith\r\n"
                                "WHO alice\r\n");
    first.dropClient();
    ASSERT_TRUE(registered(second));
    EXPECT_EQ(second.received(), "NICK alice\r\nUSER alice 0 * :Alice Smith\r\nWHO alice\r\n");
}

namespace {

// A link whose registration deadlines run on a clock the test moves.
class RegistrationTimeTest : public ServerLinkTest
{
protected:
    RegistrationTimeTest()
    {
        auto fake = std::make_unique<test::FakeRetryTimer>();
        clock = fake.get();
        link->setRegistrationTimer(std::move(fake));
    }
    test::FakeRetryTimer* clock = nullptr;
};

} // namespace

TEST_F(RegistrationTimeTest, AccountOnAServerThatNeverAnswersCapGoesAsPassAfterTheWait)
{
    FakeIrcServer server;
    addServer(server);
    ASSERT_TRUE(temp.store().setServerPassword({"127.0.0.1", "Net", server.port()}, "alice:pw"));
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return server.received() == "CAP LS 302\r\n"; }));
    ASSERT_TRUE(clock->pending());
    EXPECT_EQ(clock->delays.last(), irc::Registration::kCapWaitMs);
    clock->elapse();
    ASSERT_TRUE(registered(server));
    EXPECT_EQ(server.received(), "CAP LS 302\r\nPASS alice:pw\r\nNICK alice\r\n"
                                 "USER alice 0 * :Alice Smith\r\nWHO alice\r\n");
    // The time-out of the registration is what waits now.
    ASSERT_TRUE(clock->pending());
    EXPECT_EQ(clock->delays.last(),
              irc::Registration::kRegistrationTimeoutMs - irc::Registration::kCapWaitMs);
}

TEST_F(RegistrationTimeTest, ARegistrationNeverLetOnFailsTheAttemptAndThePassGoesOn)
{
    FakeIrcServer silent;
    FakeIrcServer next;
    addServer(silent);
    addServer(next);
    QSignalSpy failed(link.get(), &irc::ServerLink::attemptFailed);
    link->connectToCurrentServer();
    ASSERT_TRUE(registered(silent));
    ASSERT_TRUE(clock->pending());
    EXPECT_EQ(clock->delays.last(), irc::Registration::kRegistrationTimeoutMs);
    clock->elapse();
    ASSERT_TRUE(registered(next));
    EXPECT_EQ(failed.count(), 1);
    EXPECT_EQ(link->serverIndex(), 1);
    EXPECT_TRUE(waitFor([&] { return !silent.isClientConnected(); }));

    // Let on in time: nothing waits any more.
    next.send(":irc 001 alice :Welcome\r\n");
    ASSERT_TRUE(waitFor([&] { return !lines.isEmpty(); }));
    EXPECT_FALSE(clock->pending());
    EXPECT_EQ(failed.count(), 1);
}

// With the extensions the registration lines go with CAP LS at once; WHO waits for the welcome,
// which a server that registers only after CAP END would refuse before; what the server granted
// reaches the link's listeners before its welcome.
TEST_F(ServerLinkTest, NegotiatesExtensionsBeforeTheWelcome)
{
    settings.ircv3 = true;
    link->setSettings(settings);
    QList<irc::Capabilities> granted;
    QObject::connect(link.get(), &irc::ServerLink::capabilitiesChanged,
                     [&](irc::Capabilities capabilities) { granted << capabilities; });
    QSignalSpy registered(link.get(), &irc::ServerLink::registered);
    FakeIrcServer server;
    addServer(server);
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] {
        return server.received() == "CAP LS 302\r\nNICK alice\r\nUSER alice 0 * :Alice Smith\r\n";
    }));
    server.send(":irc CAP * LS :multi-prefix away-notify server-time\r\n");
    ASSERT_TRUE(waitFor(
        [&] { return server.received().endsWith("CAP REQ :away-notify server-time\r\n"); }));
    server.send(":irc CAP alice ACK :away-notify server-time\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().endsWith("CAP END\r\n"); }));
    ASSERT_EQ(granted.size(), 1);
    EXPECT_TRUE(granted[0].has(irc::Capability::AwayNotify));
    EXPECT_TRUE(granted[0].has(irc::Capability::ServerTime));
    EXPECT_EQ(link->capabilities(), granted[0]);
    EXPECT_TRUE(registered.isEmpty());
    server.send(":irc 001 alice :Welcome\r\n");
    ASSERT_TRUE(waitFor([&] { return !registered.isEmpty(); }));
    ASSERT_TRUE(waitFor([&] { return server.received().endsWith("CAP END\r\nWHO alice\r\n"); }));

    // A new connection starts with nothing granted.
    link->disconnectFromServer();
    link->connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return granted.size() == 2; }));
    EXPECT_TRUE(granted[1].isEmpty());
}
