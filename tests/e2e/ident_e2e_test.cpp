// A real ngircd that asks the ident port of every client sees the program's nick as its user
// name.
#include "tests/support/ngircd.h"
#include "tests/support/program_core.h"
#include "tests/support/wait_for.h"

#include <QTcpServer>
#include <gtest/gtest.h>

using test::waitFor;

// ngircd asks ident only from its resolver, which "DNS = no" switches off; the look-up of
// 127.0.0.1 is answered from the hosts file.
class IdentEndToEnd : public test::NgircdTest
{
    test::ConfigEdits configEdits() const override
    {
        return {{"Ident = no", "Ident = yes"}, {"DNS = no", "DNS = yes"}};
    }
};

TEST_F(IdentEndToEnd, TheServerSeesOurNickAsTheUserName)
{
    // ngircd asks port 113 and no other, so the program must answer there.
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::Any, 113))
            GTEST_SKIP() << "port 113 cannot be bound here: " << probe.errorString().toStdString();
    }
    test::CoreOptions options;
    options.nick = "identnick";
    options.serverPort = server.port();
    options.identPort = 113;
    test::ProgramCore program(options);
    ASSERT_TRUE(waitFor([&] { return program.program->link().isConnected(); }, 15000));

    ASSERT_TRUE(waitFor([&] { return watcher.isOnline("identnick"); }, 15000));
    watcher.send("WHOIS identnick");
    // ":server 311 watcher identnick <user> <host> * :<real name>": without an ident answer
    // the user name would carry ngircd's "~".
    ASSERT_TRUE(
        waitFor([&] { return watcher.received().contains(" 311 watcher identnick "); }, 10000));
    EXPECT_TRUE(watcher.received().contains(" 311 watcher identnick identnick "))
        << watcher.received().toStdString();
}
