// The program as a whole: chat windows' commands, and the order in which it comes down with
// every kind of chat open (run under the sanitizers in CI, where a freed record written to
// fails the test).
#include "app/menu_bar.h"
#include "peer/crypto/encrypted_chat.h"
#include "peer/search/find_window.h"
#include "tests/support/connected_program.h"

#include <QAction>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTreeWidget>

using app::Command;
using test::waitFor;

namespace {

class ProgramTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        test::CoreOptions options;
        options.contacts = {"bob", "carol"};
        connect(options);
        ASSERT_TRUE(showOnline({"bob", "carol"}));
    }
    // A click on the chat window's image button over `zone`.
    static void press(peer::ChatWindow* window, app::MenuBarZone zone)
    {
        auto* bar = window->findChild<app::MenuBar*>("ChatMenuBar");
        ASSERT_NE(bar, nullptr);
        QTest::mousePress(bar->button(zone), Qt::LeftButton);
        QTest::mouseRelease(bar->button(zone), Qt::LeftButton);
    }
    // The item `text` of the chat window's CTCP menu, which its button opens.
    static QAction* ctcpItem(peer::ChatWindow* window, const QString& text)
    {
        press(window, app::MenuBarZone::CtcpMenu);
        for (QMenu* menu : window->findChildren<QMenu*>()) {
            if (!menu->isVisible())
                continue;
            for (QAction* item : menu->actions()) {
                if (item->text() == text) {
                    menu->hide();
                    return item;
                }
            }
        }
        return nullptr;
    }
    // The port of the chat offer to `nick` that went out last.
    quint16 offeredPort(const QByteArray& nick)
    {
        return ConnectedProgramTest::offeredPort(nick, "CHAT chat \\d+");
    }
};

} // namespace

// A user in bob's window who chose "Version" got carol queried, the contact selected in the
// main window: the query leaked to a third person.
TEST_F(ProgramTest, AChatWindowsCommandsActOnItsPeerNotOnTheSelection)
{
    server.send(":bob!b@h PRIVMSG alice :hi\r\n");
    ASSERT_TRUE(waitFor([&] { return core->chat(0) != nullptr; }));
    core->contacts()->selectContact("carol");
    peer::ChatWindow* bobWindow = core->chat(0);
    for (const char* query : {"Whois", "Ping", "Finger", "Time", "Version", "Source"}) {
        QAction* item = ctcpItem(bobWindow, query);
        ASSERT_NE(item, nullptr) << query;
        item->trigger();
    }
    ASSERT_TRUE(waitFor([&] { return server.received().contains("PRIVMSG bob :\x01SOURCE"); }));
    EXPECT_TRUE(server.received().contains("WHOIS bob\r\nPRIVMSG bob :\x01PING "));
    EXPECT_FALSE(server.received().contains("PRIVMSG carol"));
    EXPECT_FALSE(server.received().contains("WHOIS carol"));

    press(bobWindow, app::MenuBarZone::Chat);
    ASSERT_EQ(records().CountRecords(), 2);
    EXPECT_EQ(records().at(1)->nick, "bob");
    // Relayed: nobody is asked to accept anything.
    EXPECT_EQ(core->chat(1)->transcript(), "");
    press(bobWindow, app::MenuBarZone::VoiceChat);
    ASSERT_TRUE(waitFor([&] {
        return server.received().contains("PRIVMSG bob :\x01"
                                          "DCC VOICE ");
    }));
    EXPECT_FALSE(server.received().contains("PRIVMSG carol"));
}

// A direct link pointed into its chat record, which the close step freed before the link went:
// destroying the program afterwards wrote into freed memory.
TEST_F(ProgramTest, ComesDownCleanlyWithEveryKindOfChatOpen)
{
    // Relayed, from a message.
    server.send(":carol!c@h PRIVMSG alice :hi\r\n");
    ASSERT_TRUE(waitFor([&] { return records().CountRecords() == 1; }));
    // Direct, offered and never taken up.
    core->contacts()->selectContact("carol");
    core->run(Command::DccChat);
    ASSERT_NE(offeredPort("carol"), 0);
    // Encrypted, taken up, with its key in place.
    core->contacts()->selectContact("bob");
    core->run(Command::EncryptedChat);
    QTcpSocket bob;
    bob.connectToHost(QHostAddress::LocalHost, offeredPort("bob"));
    ASSERT_TRUE(bob.waitForConnected(3000));
    ASSERT_TRUE(waitFor([&] { return records().at(2)->keyInstalled; }));
    // Accepted from a peer, connected.
    QTcpServer listener;
    core->prompter->answers = {true};
    offerFromBob(listener, "CHAT chat");
    ASSERT_TRUE(waitFor([&] { return listener.hasPendingConnections(); }));
    ASSERT_EQ(records().CountRecords(), 4);
    // One window closed by the user while its link stays.
    core->chat(2)->close();

    QSignalSpy done(core->program.get(), &app::Program::closeStepDone);
    core->program->closeStep();
    EXPECT_EQ(done.count(), 1);
    EXPECT_EQ(records().CountRecords(), 0);
    core.reset(); // the order main() uses: the close step, then everything goes
    // The peers see their links end.
    EXPECT_TRUE(waitFor([&] { return bob.state() == QAbstractSocket::UnconnectedState; }));
}

TEST_F(ProgramTest, ComesDownCleanlyWithoutACloseStep)
{
    core->contacts()->selectContact("bob");
    core->run(Command::EncryptedChat);
    QTcpSocket bob;
    bob.connectToHost(QHostAddress::LocalHost, offeredPort("bob"));
    ASSERT_TRUE(bob.waitForConnected(3000));
    ASSERT_TRUE(waitFor([&] { return records().at(0)->keyInstalled; }));
    core.reset();
    EXPECT_TRUE(waitFor([&] { return bob.state() == QAbstractSocket::UnconnectedState; }));
}

// A setting changed in the options dialog reached only what read the store again (the away
// reply's text is AwayTest's): the next registration uses the new password.
TEST_F(ProgramTest, TheNextRegistrationUsesAPasswordChangedMeanwhile)
{
    ASSERT_TRUE(
        core->temp.store().setServerPassword(core->temp.store().EnumServers().front(), "pw"));
    core->run(Command::Disconnect);
    core->run(Command::ConnectCurrent);
    ASSERT_TRUE(waitFor([&] { return server.received(1).contains("WHO alice"); }));
    EXPECT_TRUE(server.received(1).startsWith("CAP LS 302\r\nPASS pw\r\nNICK alice\r\n"));
}

// The index beside the store follows the chat logs as the program writes them.
TEST(ProgramSearch, FindsWhatWasSaidOnceLogged)
{
    test::FakeIrcServer server;
    test::CoreOptions options;
    options.serverPort = server.port();
    options.logging = true;
    server.setWelcoming(true);
    test::ProgramCore core(options);
    ASSERT_TRUE(waitFor([&] { return server.received().contains("WHO "); }));
    server.send(":bob!b@h PRIVMSG " + core.program->link().nickInUse()
                + " :the harbour opens at nine\r\n");
    ASSERT_TRUE(waitFor([&] { return core.program->chats().records().CountRecords() == 1; }));
    peer::FindWindow* find = core.program->chatSearch().open();
    find->input()->setText("harbour");
    ASSERT_TRUE(waitFor([&] { return find->results()->topLevelItemCount() == 1; }));
    EXPECT_EQ(find->results()->topLevelItem(0)->text(2), "<bob> the harbour opens at nine");
    EXPECT_TRUE(
        QFileInfo::exists(QFileInfo(core.temp.registry().path()).dir().filePath("log-index.db")));
}
