// The main window's contact and chat paths against a real ngircd: presence, private text from a
// contact, and a nick already taken.
#include "app/app_context.h"
#include "app/main_window.h"
#include "peer/chat_window.h"
#include "peer/session_record.h"
#include "tests/support/ngircd.h"
#include "tests/support/temp_store.h"
#include "tests/support/wait_for.h"

#include <QListWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

using test::waitFor;

namespace {

class ContactsEndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!test::haveNgircd())
            GTEST_SKIP() << "ngircd is not installed (tools/test installs it)";
        ASSERT_TRUE(server.start(dir.path(), KIVVO_SOURCE_DIR "/tools/ngircd/test.conf.in"));
    }
    void startProgram(const QByteArray& nick, const QList<QByteArray>& contacts)
    {
        for (const QByteArray& contact : contacts)
            temp.store().AddContact(contact);
        temp.store().AddServer({"127.0.0.1", "Local", server.port()});
        config::Settings settings;
        settings.nick = nick;
        settings.realname = "E2E";
        settings.autoconnect = true;
        temp.store().SaveSettings(settings);
        context = std::make_unique<app::AppContext>(temp.registry());
        window = std::make_unique<app::MainWindow>(*context);
        window->show();
        window->start();
    }
    QStringList shownContacts() const
    {
        QStringList texts;
        for (int row = 0; row < window->contactList()->count(); ++row)
            texts << window->contactList()->item(row)->text();
        return texts;
    }

    QTemporaryDir dir;
    test::Ngircd server;
    test::TempStore temp;
    std::unique_ptr<app::AppContext> context;
    std::unique_ptr<app::MainWindow> window;
};

} // namespace

TEST_F(ContactsEndToEnd, ShowsAnOnlineContactAndOpensAChatForItsMessage)
{
    test::Watcher bob;
    ASSERT_TRUE(bob.connectTo(server.port(), "bob"));
    startProgram("alice", {"bob", "nobody"});
    ASSERT_TRUE(waitFor([&] { return shownContacts() == QStringList{"bob"}; }, 15000))
        << shownContacts().join(',').toStdString();

    bob.send("PRIVMSG alice :hello from bob");
    ASSERT_TRUE(waitFor([&] { return context->chats.CountRecords() == 1; }, 10000));
    peer::ChatSession* chat = context->chats.at(0);
    EXPECT_EQ(chat->nick, "bob");
    EXPECT_TRUE(chat->serverRouted);
    auto* chatWindow = qobject_cast<peer::ChatWindow*>(chat->window.data());
    ASSERT_NE(chatWindow, nullptr);
    EXPECT_TRUE(waitFor([&] { return chatWindow->transcript().contains("hello from bob"); }));

    // A second message goes to the same record, not a new one.
    bob.send("PRIVMSG alice :again");
    EXPECT_TRUE(waitFor([&] { return chatWindow->transcript().contains("again"); }));
    EXPECT_EQ(context->chats.CountRecords(), 1);
}

TEST_F(ContactsEndToEnd, TakesTheAlternateNickWhenTheNickIsInUse)
{
    test::Watcher holder;
    ASSERT_TRUE(holder.connectTo(server.port(), "carol"));
    startProgram("carol", {});
    EXPECT_TRUE(waitFor([&] { return context->link.nickInUse() == "carol_"; }, 15000))
        << context->link.nickInUse().toStdString();
    EXPECT_TRUE(waitFor([&] { return holder.isOnline("carol_"); }, 5000));
}
