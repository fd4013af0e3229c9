// The main window and the program's start and close, with and without a server.
#include "app/held_chats_entry.h"
#include "config/connect_dialog.h"
#include "config/settings_dialog.h"
#include "diag/debug_window.h"
#include "diag/server_log_window.h"
#include "peer/search/find_window.h"
#include "tests/support/connected_program.h"
#include "tests/support/typing_elsewhere.h"
#include "tests/support/when_shown.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using app::Command;
using test::waitFor;
using test::whenShown;

namespace {

class MainWindowTest : public test::ConnectedProgramTest
{
protected:
    // A program that is not started, on an empty server list unless `withServer`.
    void makeProgram(bool autoconnect, bool withServer = false)
    {
        test::CoreOptions options;
        options.autoconnect = autoconnect;
        options.start = false;
        if (withServer)
            options.serverPort = server.port();
        core = std::make_unique<test::ProgramCore>(options);
    }
};

} // namespace

TEST_F(MainWindowTest, StartsWithItsTitleSizeStatusAndMenusAndBoxesShowNetworkTextAsItIs)
{
    makeProgram(false);
    EXPECT_EQ(window().windowTitle(), "Kivvo v2.0");
    EXPECT_EQ(window().size(), QSize(225, 360));
    EXPECT_EQ(window().statusText(), "Not Connected.");
    QStringList menus;
    for (QAction* menu : window().menuBar()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, (QStringList{"IRC", "Server", "View", "Contacts", "Help"}));
    // Every command has its handler.
    for (Command id : app::CommandTable::all())
        EXPECT_TRUE(core->program->commands().action(id)->isEnabled()) << int(id);
    // The View commands show the diagnostic windows.
    EXPECT_FALSE(window().serverLogWindow()->isVisible());
    core->run(Command::ShowServerLog);
    EXPECT_TRUE(window().serverLogWindow()->isVisible());
    core->run(Command::ShowDebugWindow);
    EXPECT_TRUE(window().debugWindow()->isVisible());
    core->run(Command::Find);
    ASSERT_TRUE(core->program->chatSearch().window());
    EXPECT_TRUE(core->program->chatSearch().window()->isVisible());
    EXPECT_EQ(core->program->chatSearch().window()->windowTitle(), "Find in all chats");

    // Boxes show network text as it is.
    const QString texts[] = {
        "<img src=/dev/zero>",
        "<a href=https://x>update</a>",
        "<b>bold</b> & <i>more</i>",
    };
    for (const QString& text : texts) {
        SCOPED_TRACE(text.toStdString());
        window().showWhois(text);
        window().showCtcpReply(irc::CtcpCode::Version, "Version Reply", text);
        const auto boxes = window().findChildren<QMessageBox*>();
        ASSERT_EQ(boxes.size(), 2);
        for (QMessageBox* box : boxes) {
            EXPECT_EQ(box->textFormat(), Qt::PlainText);
            auto* label = box->findChild<QLabel*>("qt_msgbox_label");
            ASSERT_NE(label, nullptr);
            EXPECT_EQ(label->textFormat(), Qt::PlainText);
            EXPECT_EQ(label->text(), text);
            box->accept();
        }
        ASSERT_TRUE(waitFor([&] { return window().findChildren<QMessageBox*>().isEmpty(); }));
    }
}

TEST_F(MainWindowTest, AutoconnectWithNoServersSaysSo)
{
    makeProgram(true);
    core->program->start();
    EXPECT_EQ(window().statusText(), "Connecting...please wait");
    ASSERT_TRUE(waitFor([&] { return window().statusText() == "There are no servers defined!"; }));
}

TEST_F(MainWindowTest, NoAutoconnectMeansNoAttemptAndClosingThenSendsNothing)
{
    makeProgram(false, true);
    core->program->start();
    QTest::qWait(150);
    EXPECT_EQ(server.connectionCount(), 0);
    EXPECT_EQ(window().statusText(), "Not Connected.");

    QSignalSpy done(core->program.get(), &app::Program::closeStepDone);
    window().close();
    EXPECT_EQ(done.count(), 1);
    EXPECT_FALSE(core->program->link().hasSocket());
}

TEST_F(MainWindowTest, EchoesServerLinesToTheLogAndOptionsSavedTellTheServerTheNickAndExitQuitsOnce)
{
    connect();
    EXPECT_EQ(window().windowTitle(), "Kivvo - v2.0 - alice");
    EXPECT_EQ(window().statusText(), "Connected to server 127.0.0.1.");
    // The fixture's server welcomed us already.
    server.send(":irc 303 alice :bob\r\n\r\n:irc 005 alice :x\r\n");
    QPlainTextEdit* view = window().serverLogWindow()->view();
    ASSERT_TRUE(waitFor([&] { return view->toPlainText().contains("005"); }));
    EXPECT_EQ(view->toPlainText(), ":irc 001 alice :Welcome\n\n:irc 005 alice :x");

    whenShown<config::SettingsDialog>([](config::SettingsDialog& dialog) {
        dialog.nickEdit()->setText("alicia");
        dialog.altnickEdit()->setText("alicia_");
        dialog.realnameEdit()->setText("Alicia");
        dialog.emailEdit()->setText("a@example.org");
        dialog.okButton()->click();
    });
    core->run(Command::ProgramSettings);
    ASSERT_TRUE(waitFor([&] { return server.received().endsWith("NICK alicia\r\n"); }));
    EXPECT_EQ(core->program->settings().nick, "alicia");
    EXPECT_EQ(core->temp.store().LoadSettings().realname, "Alicia");
    // The title and the nick in use change only when the server says so.
    EXPECT_EQ(window().windowTitle(), "Kivvo - v2.0 - alice");

    QSignalSpy done(core->program.get(), &app::Program::closeStepDone);
    core->program->commands().action(Command::Exit)->trigger();
    window().close(); // the close box afterwards runs nothing twice
    ASSERT_TRUE(waitFor([&] { return !server.isClientConnected(); }));
    EXPECT_EQ(done.count(), 1);
    EXPECT_TRUE(core->prompter->questions.empty()); // nothing running: nothing to ask
    EXPECT_EQ(server.received().count("QUIT"), 1);
    EXPECT_TRUE(server.received().endsWith("QUIT :Kivvo is closing...\r\n"));
}

TEST_F(MainWindowTest, DisconnectEmptiesTheListAndRestoresTheTitle)
{
    test::CoreOptions options;
    options.contacts = {"bob"};
    connect(options);
    ASSERT_TRUE(showOnline({"bob"}));
    core->run(Command::Disconnect);
    EXPECT_EQ(window().windowTitle(), "Kivvo v2.0");
    EXPECT_EQ(window().statusText(), "Disconnected.");
    EXPECT_EQ(core->contacts()->count(), 0);
}

TEST_F(MainWindowTest, ConnectToServerConnectsToTheChosenEntry)
{
    test::FakeIrcServer second;
    second.setWelcoming(true);
    connect();
    core->temp.store().AddServer({"127.0.0.1", "Other", second.port()});
    whenShown<config::ConnectDialog>([](config::ConnectDialog& dialog) {
        dialog.list()->setCurrentRow(1);
        dialog.connectButton()->click();
    });
    core->run(Command::Connect);
    ASSERT_TRUE(waitFor([&] { return second.received().contains("WHO alice\r\n"); }));
    EXPECT_TRUE(server.received().endsWith("QUIT\r\n"));
    EXPECT_EQ(server.connectionCount(), 1);
    EXPECT_EQ(core->program->link().serverIndex(), 1);
}

TEST_F(MainWindowTest, OffersAndChatsFromTheNetworkLeaveTheKeyboardWhereTheUserTypes)
{
    connect();
    test::TypingElsewhere user;
    ASSERT_TRUE(user.hasKeyboard());
    server.send(":bob!b@h PRIVMSG alice :\x01"
                "DCC CHAT chat 2130706433 5000\x01\r\n");
    ASSERT_TRUE(waitFor([&] { return core->prompter->questions.size() == 1; }));
    EXPECT_TRUE(user.keptKeyboard());

    server.send(":bob!b@h PRIVMSG alice :hi\r\n");
    ASSERT_TRUE(waitFor([&] { return core->chat(0) != nullptr; }));
    // The offscreen platform makes every window it shows the active one, whatever the window
    // asks; on X11 this attribute keeps the window manager from giving it the keyboard.
    EXPECT_TRUE(core->chat(0)->testAttribute(Qt::WA_ShowWithoutActivating));
    ASSERT_TRUE(user.takeKeyboard());
    server.send(":bob!b@h PRIVMSG alice :now type your password\r\n");
    ASSERT_TRUE(waitFor([&] { return core->chat(0)->viewText().contains("password"); }));
    EXPECT_TRUE(user.keptKeyboard());
    // Opened by the user, a chat may come up in front.
    core->program->commands().run(Command::Chat, QByteArray("carol"));
    ASSERT_TRUE(waitFor([&] { return core->chat(1) != nullptr; }));
    EXPECT_FALSE(core->chat(1)->testAttribute(Qt::WA_ShowWithoutActivating));
}

TEST_F(MainWindowTest, StrangersBeyondTenOpenOneEntryThatListsThem)
{
    test::CoreOptions options;
    options.contacts = {"carol"};
    connect(options);
    QByteArray lines;
    for (int i = 0; i < 14; ++i)
        lines += ":p" + QByteArray::number(i) + "!u@h PRIVMSG alice :hello " + QByteArray::number(i)
                 + "\r\n";
    // A nick with a line separator in it stays one entry of the list.
    lines += ":p14\xE2\x80\xA8x!u@h PRIVMSG alice :hello 14\r\n";
    server.send(lines + ":p12!u@h PRIVMSG alice :again\r\n:carol!c@h PRIVMSG alice :hi\r\n");
    // A contact is never held.
    ASSERT_TRUE(waitFor([&] { return core->chatWith("carol", false) != nullptr; }));
    EXPECT_EQ(records().CountRecords(), 11);
    QToolButton* entry = window().heldChats();
    ASSERT_TRUE(entry->isVisibleTo(&window()));
    EXPECT_EQ(entry->text(), "5 more people wrote to you");
    QStringList listed;
    for (QAction* action : entry->menu()->actions())
        listed << action->text();
    EXPECT_EQ(listed, (QStringList{"p10", "p11", "p12", "p13", "p14\\u2028x"}));

    // Chosen, p12's chat opens with what they wrote, and the entry lists one less.
    entry->menu()->actions().at(2)->trigger();
    peer::ChatWindow* chat = core->chatWith("p12", false);
    ASSERT_NE(chat, nullptr);
    EXPECT_EQ(chat->transcript(), "<p12> hello 12\r\n<p12> again\r\n");
    EXPECT_EQ(entry->text(), "4 more people wrote to you");
    // Their next line goes to that chat; the others stay held.
    server.send(":p12!u@h PRIVMSG alice :thanks\r\n:p13!u@h PRIVMSG alice :me too\r\n");
    ASSERT_TRUE(waitFor([&] { return chat->transcript().contains("thanks"); }));
    EXPECT_EQ(records().CountRecords(), 12);
    EXPECT_EQ(entry->menu()->actions().size(), 4);
}

// "3 more people wrote to you" stayed through a reconnection and named people long gone: one
// chosen opened an empty window with no one on the other end.
TEST_F(MainWindowTest, TheHeldEntryDropsWhoQuitAndIsClearedWhenTheLinkChanges)
{
    connect();
    QByteArray lines;
    for (int i = 0; i < 13; ++i)
        lines += ":p" + QByteArray::number(i) + "!u@h PRIVMSG alice :hello\r\n";
    server.send(lines);
    QToolButton* entry = window().heldChats();
    ASSERT_TRUE(waitFor([&] { return entry->text() == "3 more people wrote to you"; }));
    server.send(":p11!u@h QUIT :Quit: gone\r\n");
    ASSERT_TRUE(waitFor([&] { return entry->text() == "2 more people wrote to you"; }));
    QStringList listed;
    for (QAction* action : entry->menu()->actions())
        listed << action->text();
    EXPECT_EQ(listed, (QStringList{"p10", "p12"}));
    // Someone else's quit, or a chat's own peer's, changes nothing here.
    server.send(":p3!u@h QUIT :bye\r\n:zed!u@h QUIT :bye\r\n");
    server.send("PING :read\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("PONG :read\r\n"); }));
    EXPECT_EQ(entry->menu()->actions().size(), 2);

    server.dropClient();
    ASSERT_TRUE(waitFor([&] { return !entry->isVisibleTo(&window()); }));
    EXPECT_TRUE(core->program->chats().heldSenders().isEmpty());
}
