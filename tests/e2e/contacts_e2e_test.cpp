// The main window's contact and chat paths against a real ngircd: presence, private text from a
// contact, a nick already taken, and queries between two programs.
#include "tests/support/ngircd.h"
#include "tests/support/program_core.h"
#include "tests/support/wait_for.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <memory>

using test::waitFor;

namespace {

class ContactsEndToEnd : public test::NgircdTest
{
protected:
    void startProgram(const QByteArray& nick, const QList<QByteArray>& contacts)
    {
        core = std::make_unique<test::ProgramCore>(server.port(), nick, contacts);
    }
    QStringList shownContacts() const { return core->shownContacts(); }

    std::unique_ptr<test::ProgramCore> core;
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
    ASSERT_TRUE(waitFor([&] { return core->records().CountRecords() == 1; }, 10000));
    peer::ChatSession* chat = core->records().at(0);
    EXPECT_EQ(chat->nick, "bob");
    EXPECT_TRUE(chat->serverRouted);
    peer::ChatWindow* chatWindow = core->chat(0);
    ASSERT_NE(chatWindow, nullptr);
    EXPECT_TRUE(waitFor([&] { return chatWindow->transcript().contains("hello from bob"); }));

    // A second message goes to the same record, not a new one.
    bob.send("PRIVMSG alice :again");
    EXPECT_TRUE(waitFor([&] { return chatWindow->transcript().contains("again"); }));
    EXPECT_EQ(core->records().CountRecords(), 1);
}

TEST_F(ContactsEndToEnd, TakesTheAlternateNickWhenTheNickIsInUse)
{
    test::Watcher holder;
    ASSERT_TRUE(holder.connectTo(server.port(), "carol"));
    startProgram("carol", {});
    EXPECT_TRUE(waitFor([&] { return core->program->link().nickInUse() == "carol_"; }, 15000))
        << core->program->link().nickInUse().toStdString();
    EXPECT_TRUE(waitFor([&] { return holder.isOnline("carol_"); }, 5000));
}

using Program = test::ProgramCore;

TEST_F(ContactsEndToEnd, TwoProgramsHoldAnEncryptedChatThroughTheServer)
{
    Program alice(server.port(), "alice", {"bob"});
    Program bob(server.port(), "bob", {"alice"});
    bob.prompter->answers = {true};
    ASSERT_TRUE(waitFor([&] { return alice.contacts()->selectContact("bob"); }, 15000));
    alice.run(app::Command::EncryptedChat);

    // Bob is asked, accepts, connects; alice's side sends the key over the direct link.
    ASSERT_TRUE(waitFor([&] { return bob.chat() != nullptr; }, 10000));
    ASSERT_EQ(bob.prompter->questions.size(), 1u);
    EXPECT_EQ(bob.prompter->questions[0].title, "Accept DCC Chat?");
    ASSERT_TRUE(waitFor(
        [&] { return alice.records().at(0)->keyInstalled && bob.records().at(0)->keyInstalled; },
        10000));
    EXPECT_EQ(alice.records().at(0)->cipher, bob.records().at(0)->cipher);

    alice.chat()->input()->setText("hello bob, \x02"
                                   "secretly\x02");
    alice.chat()->send();
    ASSERT_TRUE(waitFor([&] { return bob.chat()->transcript().contains("<alice> hello bob"); }));
    bob.chat()->input()->setText("hi alice");
    bob.chat()->send();
    ASSERT_TRUE(waitFor([&] { return alice.chat()->transcript().contains("<bob> hi alice\r\n"); }));
    EXPECT_TRUE(bob.chat()->transcript().contains("<alice> hello bob, \x02"
                                                  "secretly\x02\r\n"));
    EXPECT_FALSE(bob.chat()->cipherField()->isVisible()); // the field is the offering side's
    EXPECT_FALSE(alice.chat()->cipherField()->text().isEmpty());
}

TEST_F(ContactsEndToEnd, OneProgramShowsAnothersAnswersToItsQueries)
{
    Program alice(server.port(), "alice", {"bob"});
    Program bob(server.port(), "bob", {"alice"});
    ASSERT_TRUE(waitFor([&] { return alice.contacts()->selectContact("bob"); }, 15000));
    const auto shownBox = [&](const QString& title) -> QMessageBox* {
        for (QMessageBox* box : alice.window().findChildren<QMessageBox*>()) {
            if (box->windowTitle() == title && box->isVisible())
                return box;
        }
        return nullptr;
    };
    const struct
    {
        app::Command query;
        const char* title;
        QString text;
    } cases[] = {
        {app::Command::Version, "Version Reply",
         "From bob\nKivvo Version 2.0 https://kivvo.example.org/"},
        {app::Command::Source, "Source Reply", "From bob\nhttps://kivvo.example.org/download/"},
    };
    for (const auto& c : cases) {
        alice.run(c.query);
        ASSERT_TRUE(waitFor([&] { return shownBox(c.title) != nullptr; }, 10000)) << c.title;
        EXPECT_EQ(shownBox(c.title)->text(), c.text);
    }
    alice.run(app::Command::Ping);
    ASSERT_TRUE(waitFor([&] { return shownBox("Ping Reply") != nullptr; }, 10000));
    const QString ping = shownBox("Ping Reply")->text();
    EXPECT_TRUE(QRegularExpression("^From bob\nPing Reply - \\d+ ms$").match(ping).hasMatch())
        << ping.toStdString();
}
