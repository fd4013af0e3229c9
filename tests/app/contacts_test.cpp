#include "app/app_context.h"
#include "app/command_ids.h"
#include "app/main_window.h"
#include "peer/chat_window.h"
#include "tests/support/fake_irc_server.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QAction>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using test::waitFor;

namespace {

// A main window connected to a scripted server, with contacts in its store.
class ContactsTest : public ::testing::Test
{
protected:
    void connectWith(const QList<QByteArray>& contacts)
    {
        for (const QByteArray& contact : contacts)
            temp.store().AddContact(contact);
        temp.store().AddServer({"127.0.0.1", "", server.port()});
        config::Settings settings;
        settings.nick = "alice";
        settings.altnick = "alice2";
        settings.autoconnect = true;
        temp.store().SaveSettings(settings);
        context = std::make_unique<app::AppContext>(temp.registry());
        window = std::make_unique<app::MainWindow>(*context);
        window->show();
        window->start();
        ASSERT_TRUE(waitFor([&] { return server.received().contains("WHO alice\r\n"); }));
    }
    QStringList items() const
    {
        QStringList texts;
        for (int row = 0; row < window->contactList()->count(); ++row)
            texts << window->contactList()->item(row)->text();
        return texts;
    }
    QListWidgetItem* item(const QString& text) const
    {
        const auto found = window->contactList()->findItems(text, Qt::MatchExactly);
        return found.isEmpty() ? nullptr : found.first();
    }

    test::TempStore temp;
    test::FakeIrcServer server;
    std::unique_ptr<app::AppContext> context;
    std::unique_ptr<app::MainWindow> window;
};

} // namespace

TEST_F(ContactsTest, PollsRightAfterConnectingAndShowsWhoIsOnlineSorted)
{
    connectWith({"zed", "bob", "carol"});
    ASSERT_TRUE(waitFor([&] { return server.received().contains("ISON zed bob carol\r\n"); }));
    server.send(":irc 303 alice :Zed bob\r\n");
    ASSERT_TRUE(waitFor([&] { return items().size() == 2; }));
    EXPECT_EQ(items(), (QStringList{"bob", "Zed"})); // as the server spells them, sorted
    server.send(":irc 303 alice :\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"No Contacts Online"}; }));
}

TEST_F(ContactsTest, KeepsTheSelectionAcrossRebuilds)
{
    connectWith({"bob", "carol"});
    server.send(":irc 303 alice :bob carol\r\n");
    ASSERT_TRUE(waitFor([&] { return items().size() == 2; }));
    item("carol")->setSelected(true);
    server.send(":irc 303 alice :carol bob\r\n");
    server.send(":irc 303 alice :bob carol\r\n");
    QTest::qWait(100);
    ASSERT_NE(item("carol"), nullptr);
    EXPECT_TRUE(item("carol")->isSelected());
    server.send(":irc 303 alice :bob\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"bob"}; }));
    EXPECT_TRUE(window->contactList()->selectedItems().isEmpty());
}

TEST_F(ContactsTest, ShowsTheHintWithoutContactsAndSendsNoIson)
{
    connectWith({});
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"Click \"Contacts\" (above)"}; }));
    EXPECT_FALSE(server.received().contains("ISON"));
    // The hint is not a contact: "Chat" on it opens nothing.
    window->contactList()->item(0)->setSelected(true);
    window->runCommand(app::cmd::Chat);
    EXPECT_EQ(context->chats.CountRecords(), 0);
}

TEST_F(ContactsTest, RemovingTheSelectedContactPollsAtOnce)
{
    connectWith({"bob"});
    server.send(":irc 303 alice :bob\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"bob"}; }));
    item("bob")->setSelected(true);
    window->runCommand(app::cmd::RemoveSelectedContact);
    EXPECT_TRUE(temp.store().EnumContacts().isEmpty());
    EXPECT_EQ(items(), QStringList{"Click \"Contacts\" (above)"});
}

TEST_F(ContactsTest, PrivateTextOpensOneChatPerSenderAndCaseMatters)
{
    connectWith({"bob"});
    server.send(":bob!b@h PRIVMSG alice :hi\r\n:bob!b@h PRIVMSG alice :again\r\n"
                ":Bob!b@h PRIVMSG alice :other\r\n");
    ASSERT_TRUE(waitFor([&] { return context->chats.CountRecords() == 2; }));
    peer::ChatSession* bob = context->chats.at(0);
    EXPECT_EQ(bob->nick, "bob");
    auto* bobWindow = qobject_cast<peer::ChatWindow*>(bob->window.data());
    ASSERT_NE(bobWindow, nullptr);
    ASSERT_TRUE(waitFor([&] { return bobWindow->transcript().contains("again"); }));
    EXPECT_EQ(bobWindow->transcript(), "<bob> hi\r\n<bob> again\r\n");
    // Closed, the record stays, and the next line opens a new window.
    bobWindow->close();
    server.send(":bob!b@h PRIVMSG alice :back\r\n");
    ASSERT_TRUE(waitFor([&] { return context->chats.CountRecords() == 3; }));
    EXPECT_FALSE(bob->serverRouted);
}

TEST_F(ContactsTest, DoubleClickAndChatCommandMakeARecord)
{
    connectWith({"bob"});
    server.send(":irc 303 alice :bob\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"bob"}; }));
    QListWidget* list = window->contactList();
    const QRect rect = list->visualItemRect(item("bob"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_EQ(context->chats.CountRecords(), 1);
    window->runCommand(app::cmd::Chat);
    ASSERT_EQ(context->chats.CountRecords(), 2);
    EXPECT_EQ(context->chats.at(1)->nick, "bob");
    EXPECT_TRUE(context->chats.at(1)->serverRouted);
    EXPECT_FALSE(context->chats.at(1)->isDcc);
    EXPECT_FALSE(server.received().contains("PRIVMSG"));
}

TEST_F(ContactsTest, RightClickShowsTheMenuOnlyOverAContact)
{
    connectWith({"bob"});
    server.send(":irc 303 alice :bob\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"bob"}; }));
    QListWidget* list = window->contactList();
    emit list->customContextMenuRequested(QPoint(5, list->height() - 10));
    EXPECT_FALSE(window->contactMenu()->isVisible());
    emit list->customContextMenuRequested(list->visualItemRect(item("bob")).center());
    EXPECT_TRUE(window->contactMenu()->isVisible());
    window->contactMenu()->hide();
}

TEST_F(ContactsTest, CommandsReachTheirHandlers)
{
    connectWith({"bob"});
    server.send(":irc 303 alice :bob\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"bob"}; }));
    item("bob")->setSelected(true);
    for (int id : {app::cmd::SendFile, app::cmd::VoiceChat}) {
        window->runCommand(id);
        EXPECT_EQ(window->lastUnhandledCommand(), id);
    }
    // Every pop-up item carries its command id.
    QList<int> ids;
    for (QAction* action : window->contactMenu()->actions()) {
        if (!action->isSeparator())
            ids << action->data().toInt();
    }
    EXPECT_EQ(ids, (QList<int>{40013, 40034, 40062, 40063, 40014, 40018, 40017, 40020, 40021, 40019,
                               40032}));
}

TEST_F(ContactsTest, NickCollisionSwitchesToTheAlternateNick)
{
    connectWith({});
    server.send(":irc 433 * alice :Nickname already in use\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("WHO alice2\r\n"); }));
    EXPECT_TRUE(server.received().contains("NICK alice2\r\nWHO alice2\r\n"));
    EXPECT_EQ(window->windowTitle(), "Kivvo - v2.0 - alice2");
    EXPECT_EQ(context->link.nickInUse(), "alice2");
}

TEST_F(ContactsTest, AnswersPingWithTheServersToken)
{
    connectWith({});
    server.send("PING :irc.token.check\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("PONG :irc.token.check\r\n"); }));
}

TEST_F(ContactsTest, LearnsItsOwnAddressFromTheWhoReply)
{
    connectWith({});
    server.send(":irc 352 alice * ~alice 127.0.0.9 irc alice H :0 Alice\r\n");
    ASSERT_TRUE(waitFor([&] { return context->serverSeenAddress == 0x7f000009u; }));
}

TEST_F(ContactsTest, SendsTheSixQueriesToTheSelectedContactOnly)
{
    connectWith({"bob"});
    server.send(":irc 303 alice :bob\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"bob"}; }));
    const int queries[] = {app::cmd::Whois, app::cmd::Version, app::cmd::Finger,
                           app::cmd::Time,  app::cmd::Source,  app::cmd::Ping};
    for (int id : queries)
        window->runCommand(id); // nothing selected: nothing goes out
    item("bob")->setSelected(true);
    for (int id : queries)
        window->runCommand(id);
    ASSERT_TRUE(waitFor([&] { return server.received().contains("PRIVMSG bob :\x01PING "); }));
    const QByteArray sent = server.received();
    EXPECT_EQ(sent.count("WHOIS"), 1);
    EXPECT_TRUE(sent.contains("WHOIS bob\r\nPRIVMSG bob :\x01VERSION\x01\r\n"
                              "PRIVMSG bob :\x01"
                              "FINGER\x01\r\nPRIVMSG bob :\x01TIME\x01\r\n"
                              "PRIVMSG bob :\x01SOURCE\x01\r\nPRIVMSG bob :\x01PING "));
}

TEST_F(ContactsTest, AnswersQueriesWithinTheRateLimit)
{
    connectWith({});
    server.send(":bob!b@h PRIVMSG alice :\x01VERSION\x01\r\n");
    ASSERT_TRUE(
        waitFor([&] { return server.received().contains("NOTICE bob :Kivvo Version 2.0 "); }));
    server.send(":bob!b@h PRIVMSG alice :\x01PING 12345\x01\r\n");
    ASSERT_TRUE(
        waitFor([&] { return server.received().contains("NOTICE bob :\x01PING 12345\x01\r\n"); }));
    // A flood: twenty more queries draw only what the limit leaves (one more answer).
    QByteArray flood;
    for (int i = 0; i < 20; ++i)
        flood += ":bob!b@h PRIVMSG alice :\x01PING " + QByteArray::number(i) + "\x01\r\n";
    server.send(flood + "PING :after.flood\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("PONG :after.flood"); }));
    EXPECT_EQ(server.received().count("NOTICE bob"), 3);
    // Queries are never shown as chat text.
    EXPECT_EQ(context->chats.CountRecords(), 0);
}

TEST_F(ContactsTest, ShowsOneReplyBoxPerKind)
{
    connectWith({});
    server.send(":bob!b@h NOTICE alice :\x01VERSION Other 1.0\x01\r\n"
                ":bob!b@h NOTICE alice :\x01VERSION Second\x01\r\n"
                ":bob!b@h NOTICE alice :\x01TIME no end\r\n");
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitFor([&] {
        const auto boxes = window->findChildren<QMessageBox*>();
        box = boxes.size() == 1 ? boxes.front() : nullptr;
        return box && box->isVisible();
    }));
    EXPECT_EQ(box->windowTitle(), "Version Reply");
    EXPECT_EQ(box->text(), "Other 1.0");
    box->accept();
    server.send(":bob!b@h NOTICE alice :\x01VERSION Third\x01\r\n");
    ASSERT_TRUE(waitFor([&] {
        const auto boxes = window->findChildren<QMessageBox*>();
        return boxes.size() == 1 && boxes.front()->text() == "Third";
    }));
}
