// An account in the server password against a real ngircd, which negotiates capabilities but
// offers no SASL: the negotiation ends, the account goes as PASS, and registration completes.
// ngircd takes a PASS only when it equals its own server password, so this one is given that
// password.
#include "diag/debug_log.h"
#include "irc/server_link.h"
#include "tests/support/ngircd.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <gtest/gtest.h>

using test::waitFor;

TEST(AccountEndToEnd, NgircdWithoutSaslRegistersAfterTheNegotiation)
{
    if (!test::haveNgircd())
        GTEST_SKIP() << "ngircd is not installed (tools/test installs it)";
    // No watcher of the test's own: it would not get in without the password.
    test::Ngircd server;
    ASSERT_TRUE(server.start(
        0, {{"[Global]\n", "[Global]\n    Password = alice:not-a-server-password\n"}}));

    test::TempStore temp;
    temp.store().AddServer({"127.0.0.1", "Local", server.port()});
    temp.store().setServerPassword({"127.0.0.1", "Local", server.port()},
                                   "alice:not-a-server-password");
    config::Settings settings;
    settings.nick = "alice";
    settings.realname = "Alice";
    diag::DebugPanes::instance().clear();
    irc::ServerLink link(temp.store(), settings);
    QList<QByteArray> lines;
    QObject::connect(&link, &irc::ServerLink::lineReceived, &link,
                     [&](QByteArrayView line) { lines << line.toByteArray(); });
    link.connectToCurrentServer();

    const auto has = [&](const QByteArray& command) {
        for (const QByteArray& line : lines) {
            if (line.contains(' ' + command + ' '))
                return true;
        }
        return false;
    };
    ASSERT_TRUE(waitFor([&] { return has("001"); }, 15000)) << lines.join('\n').constData();
    // The WHO that follows the negotiation is answered.
    ASSERT_TRUE(waitFor([&] { return has("315"); }, 10000)) << lines.join('\n').constData();
    EXPECT_TRUE(has("CAP"));
    EXPECT_TRUE(diag::DebugPanes::instance()
                    .text(diag::Pane::Status)
                    .contains("The server offers no account login (SASL)"));
}
