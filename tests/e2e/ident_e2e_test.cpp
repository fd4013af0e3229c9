// A real ngircd that asks the ident port of every client sees the program's nick as its user
// name.
#include "tests/support/ngircd.h"
#include "tests/support/program_core.h"
#include "tests/support/wait_for.h"

#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using test::waitFor;

TEST(IdentEndToEnd, TheServerSeesOurNickAsTheUserName)
{
    if (!test::haveNgircd())
        GTEST_SKIP() << "ngircd is not installed (tools/test installs it)";
    // ngircd asks port 113 and no other, so the program must answer there.
    {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::Any, 113))
            GTEST_SKIP() << "port 113 cannot be bound here: " << probe.errorString().toStdString();
    }
    QTemporaryDir dir;
    QFile source(KIVVO_SOURCE_DIR "/tools/ngircd/test.conf.in");
    ASSERT_TRUE(source.open(QIODevice::ReadOnly));
    QByteArray config = source.readAll();
    // ngircd asks ident only from its resolver, which "DNS = no" switches off; the look-up of
    // 127.0.0.1 is answered from the hosts file.
    ASSERT_TRUE(config.contains("Ident = no") && config.contains("DNS = no"));
    config.replace("Ident = no", "Ident = yes").replace("DNS = no", "DNS = yes");
    const QString withIdent = dir.filePath("ident.conf.in");
    QFile target(withIdent);
    ASSERT_TRUE(target.open(QIODevice::WriteOnly));
    target.write(config);
    target.close();

    test::Ngircd server;
    ASSERT_TRUE(server.start(dir.path(), withIdent));
    test::CoreOptions options;
    options.nick = "identnick";
    options.serverPort = server.port();
    options.identPort = 113;
    test::ProgramCore program(options);
    ASSERT_TRUE(waitFor([&] { return program.program->link().isConnected(); }, 15000));

    test::Watcher watcher;
    ASSERT_TRUE(watcher.connectTo(server.port(), "watcher"));
    ASSERT_TRUE(waitFor([&] { return watcher.isOnline("identnick"); }, 15000));
    watcher.send("WHOIS identnick");
    // ":server 311 watcher identnick <user> <host> * :<real name>": without an ident answer
    // the user name would carry ngircd's "~".
    ASSERT_TRUE(
        waitFor([&] { return watcher.received().contains(" 311 watcher identnick "); }, 10000));
    EXPECT_TRUE(watcher.received().contains(" 311 watcher identnick identnick "))
        << watcher.received().toStdString();
}
