// The program's start against a secret service of the test's own (private_keyring.h): the
// automatic connection waits for the passwords the service holds, and an older store's password
// moves there.
#include "app/program.h"
#include "config/registry.h"
#include "config/store.h"
#include "tests/support/fake_irc_server.h"
#include "tests/support/private_keyring.h"
#include "tests/support/program_core.h"
#include "tests/support/wait_for.h"

#include <QLineEdit>
#include <gtest/gtest.h>

namespace {

using test::waitFor;

class KeychainStartTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!test::privateKeyring().missing.isEmpty())
            GTEST_SKIP() << test::privateKeyring().missing.toStdString();
    }

    // A program over a store with one entry, this server, holding `password` the way stores
    // before the keychain held it; started as main() starts it.
    std::unique_ptr<test::ProgramCore> startWith(const QByteArray& password)
    {
        test::CoreOptions options;
        options.serverPort = server.port();
        options.start = false;
        auto core = std::make_unique<test::ProgramCore>(options);
        const config::ServerEntry entry = core->temp.store().EnumServers().front();
        EXPECT_TRUE(core->temp.store().setServerPassword(entry, password));
        core->window().show();
        core->program->start();
        return core;
    }

    test::FakeIrcServer server;
};

TEST_F(KeychainStartTest, AnOlderStoresPasswordMovesAndStillReachesTheServer)
{
    auto core = startWith("old pw");
    ASSERT_TRUE(core->program->secrets().isActive());
    ASSERT_TRUE(
        waitFor([&] { return server.received(0).contains("USER "); }, test::kKeyringWaitMs));
    EXPECT_TRUE(server.received(0).startsWith("CAP LS 302\r\nPASS old pw\r\nNICK alice\r\n"));
    ASSERT_TRUE(
        waitFor([&] { return core->program->secrets().pendingJobs() == 0; }, test::kKeyringWaitMs));
    const config::ServerEntry entry = core->temp.store().EnumServers().front();
    EXPECT_EQ(core->temp.registry().readValue(config::kKeyServerPasswords,
                                              config::serverValueName(entry)),
              std::nullopt);

    // The next run finds it in the service alone, before its automatic connection.
    core.reset();
    test::CoreOptions options;
    options.serverPort = server.port();
    options.start = false;
    test::ProgramCore next(options);
    next.program->start();
    ASSERT_TRUE(waitFor(
        [&] { return server.connectionCount() == 2 && server.received(1).contains("USER "); },
        test::kKeyringWaitMs));
    EXPECT_TRUE(server.received(1).startsWith("CAP LS 302\r\nPASS old pw\r\n"));
}

TEST_F(KeychainStartTest, AChatKeyTheServiceDoesNotHoldIsNeverReplacedByClearText)
{
    // An earlier run moved bob's key text into the service, which holds none now.
    server.setWelcoming(true);
    test::CoreOptions options;
    options.serverPort = server.port();
    options.contacts = {"bob"};
    options.start = false;
    test::ProgramCore core(options);
    ASSERT_TRUE(
        core.temp.store().setChatKey("bob", "cbc 1 " + QByteArray(32, '\x11').toHex() + " "));
    core.window().show();
    core.program->start();
    ASSERT_TRUE(waitFor([&] { return core.program->secrets().isLoaded(); }, test::kKeyringWaitMs));
    ASSERT_TRUE(waitFor([&] { return server.received(0).contains("USER "); }));
    core.program->chats().openChat("bob");
    peer::ChatWindow* window = core.chatWith("bob", false);
    ASSERT_TRUE(window);
    window->input()->setText(QStringLiteral("pay 500 EUR"));
    window->send();
    ASSERT_TRUE(waitFor([&] { return window->viewText().contains("Not sent: this chat is"); }));
    server.send("PING :after\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received(0).contains("PONG :after\r\n"); }));
    EXPECT_FALSE(server.received(0).contains("PRIVMSG bob"));
}

} // namespace
