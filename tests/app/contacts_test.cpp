// The contact list, presence, private text, queries and their replies, through the whole
// program against a scripted server.
#include "config/contact_editor.h"
#include "diag/debug_log.h"
#include "peer/chat/chat_window.h"
#include "tests/support/connected_program.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

using app::Command;
using test::waitFor;

namespace {

class ContactsTest : public test::ConnectedProgramTest
{
protected:
    void connectWith(const QList<QByteArray>& contacts)
    {
        test::CoreOptions options;
        options.altnick = "alice2";
        options.contacts = contacts;
        connect(options);
    }
};

} // namespace

TEST_F(ContactsTest, PollsRightAfterConnectingShowsWhoIsOnlineSortedAndKeepsTheSelection)
{
    connectWith({"zed", "bob", "carol"});
    ASSERT_TRUE(waitFor([&] { return server.received().contains("ISON zed bob carol\r\n"); }));
    server.send(":irc 303 alice :Zed bob\r\n");
    ASSERT_TRUE(waitFor([&] { return items().size() == 2; }));
    EXPECT_EQ(items(), (QStringList{"bob", "Zed"})); // as the server spells them, sorted
    server.send(":irc 303 alice :\r\n");
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"No Contacts Online"}; }));

    // The selection is kept across rebuilds.
    ASSERT_TRUE(showOnline({"bob", "carol"}));
    item("carol")->setSelected(true);
    server.send(":irc 303 alice :carol bob\r\n");
    server.send(":irc 303 alice :bob carol\r\n");
    QTest::qWait(100);
    ASSERT_NE(item("carol"), nullptr);
    EXPECT_TRUE(item("carol")->isSelected());
    ASSERT_TRUE(showOnline({"bob"}));
    EXPECT_TRUE(core->contacts()->selectedItems().isEmpty());
}

// The hint is longer than the list is wide: it wraps inside the list instead of running out of
// it, and it is no contact, so it has no contact's icon and "Chat" on it opens nothing.
TEST_F(ContactsTest, ShowsTheHintWithoutContactsAndARefusedNickWithTheServersReason)
{
    connectWith({});
    ASSERT_TRUE(waitFor([&] { return items() == QStringList{"Click \"Contacts\" (above)"}; }));
    EXPECT_FALSE(server.received().contains("ISON"));
    app::ContactListView* list = core->contacts();
    core->window().grab(); // laid out and painted, as on the screen
    QListWidgetItem* hint = list->item(0);
    EXPECT_TRUE(hint->icon().isNull());
    EXPECT_FALSE(list->horizontalScrollBar()->isVisible());
    const QRect row = list->visualItemRect(hint);
    EXPECT_TRUE(list->viewport()->rect().contains(row)) << row.width() << "x" << row.height();
    const QFontMetrics metrics(list->font());
    const QRect text = row.adjusted(3, 0, -3, 0);
    EXPECT_LE(metrics.boundingRect(text, Qt::TextWordWrap, hint->text()).height(), row.height());
    EXPECT_TRUE(list->wordWrap());
    hint->setSelected(true);
    core->run(Command::Chat);
    EXPECT_EQ(records().CountRecords(), 0);

    // Once registered, a nick the server refuses is reported with its reason, and ours stays; the
    // alternates are for a collision while registering (ServerLinkTest).
    diag::DebugPanes::instance().clear();
    server.send(":irc 433 alice bob :Nickname is already in use\r\n");
    const QString said = "The server refused the nick bob: Nickname is already in use";
    ASSERT_TRUE(waitFor([&] { return window().statusText() == said; }));
    EXPECT_TRUE(diag::DebugPanes::instance().text(diag::Pane::Status).contains(said));
    EXPECT_EQ(core->program->link().nickInUse(), "alice");
    ASSERT_TRUE(linesRead("refused"));
    EXPECT_EQ(server.received().count("NICK "), 1); // the registration's alone

    server.send(":irc 352 alice * ~alice 127.0.0.9 irc alice H :0 Alice\r\n");
    ASSERT_TRUE(waitFor([&] { return core->program->serverSeenAddress() == 0x7f000009u; }));
}

// Once the server says how it compares nicks, "Bob" and "bob" are one user and one chat.
TEST_F(ContactsTest, PrivateTextFollowsTheServersCaseMapping)
{
    connectWith({"bob"});
    server.send(":irc 005 alice CASEMAPPING=rfc1459 :are supported by this server\r\n"
                ":bob!b@h PRIVMSG alice :hi\r\n:Bob!b@h PRIVMSG alice :again\r\n"
                ":[x]!x@h PRIVMSG alice :one\r\n:{X}!x@h PRIVMSG alice :two\r\n");
    ASSERT_TRUE(waitFor(
        [&] { return core->chat(1) != nullptr && core->chat(1)->transcript().contains("two"); }));
    EXPECT_EQ(records().CountRecords(), 2);
    EXPECT_EQ(core->chat(0)->transcript(), "<bob> hi\r\n<bob> again\r\n");

    // Under plain ASCII folding, brackets are not letters.
    server.send(":irc 005 alice CASEMAPPING=ascii :are supported by this server\r\n"
                ":{x}!x@h PRIVMSG alice :three\r\n");
    ASSERT_TRUE(waitFor([&] { return records().CountRecords() == 3; }));
}

TEST_F(ContactsTest, PrivateTextOpensOneChatPerSenderAndCaseMatters)
{
    connectWith({"bob"});
    server.send(":bob!b@h PRIVMSG alice :hi\r\n:bob!b@h PRIVMSG alice :again\r\n"
                ":Bob!b@h PRIVMSG alice :other\r\n");
    ASSERT_TRUE(waitFor([&] { return records().CountRecords() == 2; }));
    peer::ChatSession* bob = records().at(0);
    EXPECT_EQ(bob->nick, "bob");
    peer::ChatWindow* bobWindow = core->chat(0);
    ASSERT_NE(bobWindow, nullptr);
    ASSERT_TRUE(waitFor([&] { return bobWindow->transcript().contains("again"); }));
    EXPECT_EQ(bobWindow->transcript(), "<bob> hi\r\n<bob> again\r\n");
    // Closed, the record stays, and the next line opens a new window.
    bobWindow->close();
    server.send(":bob!b@h PRIVMSG alice :back\r\n");
    ASSERT_TRUE(waitFor([&] { return records().CountRecords() == 3; }));
    EXPECT_FALSE(bob->serverRouted);
}

TEST_F(ContactsTest, DoubleClickAndChatCommandMakeARecordAndRemovingTheSelectedContactPollsAtOnce)
{
    connectWith({"bob"});
    ASSERT_TRUE(showOnline({"bob"}));
    app::ContactListView* list = core->contacts();
    const QRect rect = list->visualItemRect(item("bob"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, rect.center());
    ASSERT_EQ(records().CountRecords(), 1);
    core->run(Command::Chat);
    ASSERT_EQ(records().CountRecords(), 2);
    EXPECT_EQ(records().at(1)->nick, "bob");
    EXPECT_TRUE(records().at(1)->serverRouted);
    EXPECT_FALSE(records().at(1)->isDirect());
    EXPECT_FALSE(server.received().contains("PRIVMSG"));

    item("bob")->setSelected(true);
    core->run(Command::RemoveSelectedContact);
    EXPECT_TRUE(core->temp.store().EnumContacts().isEmpty());
    EXPECT_EQ(items(), QStringList{"Click \"Contacts\" (above)"});
}

TEST_F(ContactsTest, RightClickShowsTheMenuOnlyOverAContactAndItsCommandsReachTheirHandlers)
{
    connectWith({"bob"});
    ASSERT_TRUE(showOnline({"bob"}));
    app::ContactListView* list = core->contacts();
    emit list->customContextMenuRequested(QPoint(5, list->height() - 10));
    EXPECT_FALSE(list->popupMenu()->isVisible());
    emit list->customContextMenuRequested(list->visualItemRect(item("bob")).center());
    EXPECT_TRUE(list->popupMenu()->isVisible());
    list->popupMenu()->hide();
    // Every item carries its command id and has its handler. Forgetting a key and encrypting
    // the chat are no commands: they go with the contact under the pointer.
    const QAction* forget = list->forgetKeyAction();
    QList<int> ids;
    for (QAction* action : list->popupMenu()->actions()) {
        if (action->isSeparator() || action == forget || action == list->encryptAction())
            continue;
        EXPECT_TRUE(action->isEnabled()) << action->text().toStdString();
        ids << action->data().toInt();
    }
    EXPECT_EQ(ids, (QList<int>{40013, 40034, 40062, 40063, 40014, 40018, 40017, 40020, 40021, 40019,
                               40032}));
    // Encrypting starts a key exchange with the contact, said in the chat with them.
    list->encryptAction()->trigger();
    EXPECT_TRUE(
        test::waitFor([&] { return server.received().contains("NOTICE bob :DH1080_INIT "); }));
    ASSERT_NE(core->chatWith("bob", false), nullptr);
    EXPECT_TRUE(core->chatWith("bob", false)
                    ->viewText()
                    .contains(QStringLiteral("Key exchange sent to bob")));
}

TEST_F(ContactsTest, ForgetsAPinnedPrivateLinkKeyFromTheContactsMenu)
{
    connectWith({"[Bob]"});
    ASSERT_TRUE(showOnline({"[Bob]"}));
    app::ContactListView* list = core->contacts();
    QAction* forget = list->forgetKeyAction();
    ASSERT_TRUE(list->popupMenu()->actions().contains(forget));
    EXPECT_EQ(forget->text(), "Forget Private Link Key");
    const QPoint over = list->visualItemRect(item("[Bob]")).center();
    const auto menuAllowsForgetting = [&] {
        emit list->customContextMenuRequested(over);
        list->popupMenu()->hide();
        return forget->isEnabled();
    };
    EXPECT_FALSE(menuAllowsForgetting()); // nothing pinned

    // Kept under the nick as RFC 1459 folds it.
    config::Store& store = core->program->store();
    ASSERT_TRUE(store.pinPeer("{bob}", QByteArray(64, 'a')));
    ASSERT_TRUE(menuAllowsForgetting());
    forget->trigger();
    EXPECT_EQ(store.peerPin("{bob}"), std::nullopt);
    EXPECT_FALSE(menuAllowsForgetting());

    // Whatever folding the server announces, the pin stays [Bob]'s: none can make it vanish.
    server.send(":irc 005 alice CASEMAPPING=ascii :are supported by this server\r\n");
    ASSERT_TRUE(linesRead("ascii"));
    ASSERT_TRUE(store.pinPeer("{bob}", QByteArray(64, 'a')));
    EXPECT_TRUE(menuAllowsForgetting());
    forget->trigger();
    EXPECT_EQ(store.peerPin("{bob}"), std::nullopt);
}

TEST_F(ContactsTest, SendsTheSixQueriesToTheSelectedContactOnly)
{
    connectWith({"bob"});
    ASSERT_TRUE(showOnline({"bob"}));
    const Command queries[] = {Command::Whois, Command::Version, Command::Finger,
                               Command::Time,  Command::Source,  Command::Ping};
    for (Command id : queries)
        core->run(id); // nothing selected: nothing goes out
    item("bob")->setSelected(true);
    for (Command id : queries)
        core->program->commands().action(id)->trigger();
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
    ASSERT_TRUE(waitFor([&] {
        return server.received().contains(
            "NOTICE bob :\x01VERSION Kivvo Version 2.0 https://kivvo.example.org/\x01\r\n");
    }));
    server.send(":bob!b@h PRIVMSG alice :\x01PING 12345\x01\r\n");
    ASSERT_TRUE(
        waitFor([&] { return server.received().contains("NOTICE bob :\x01PING 12345\x01\r\n"); }));
    // A flood: twenty more queries draw only what the limit leaves (one more answer).
    QByteArray flood;
    for (int i = 0; i < 20; ++i)
        flood += ":bob!b@h PRIVMSG alice :\x01PING " + QByteArray::number(i) + "\x01\r\n";
    server.send(flood);
    ASSERT_TRUE(linesRead("after.flood"));
    EXPECT_EQ(server.received().count("NOTICE bob"), 3);
    // Queries are never shown as chat text.
    EXPECT_EQ(records().CountRecords(), 0);
}

TEST_F(ContactsTest, ShowsOneReplyBoxPerQueryAndNoneForAReplyNobodyAskedFor)
{
    connectWith({});
    ASSERT_TRUE(ask(Command::Version, "PRIVMSG bob :\x01VERSION\x01\r\n"));
    // Only the first reply from the nick asked, as the server folds it, answers the query.
    server.send(":mallory!m@h NOTICE alice :\x01VERSION Not asked\x01\r\n"
                ":BOB!b@h NOTICE alice :\x01VERSION Other 1.0\x01\r\n"
                ":bob!b@h NOTICE alice :\x01VERSION Second\x01\r\n"
                ":bob!b@h NOTICE alice :\x01TIME no end\r\n");
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitFor([&] {
        box = boxes().size() == 1 ? boxes().front() : nullptr;
        return box && box->isVisible();
    }));
    EXPECT_EQ(box->windowTitle(), "Version Reply");
    EXPECT_EQ(box->text(), "From BOB\nOther 1.0");
    box->accept();
    ASSERT_TRUE(waitFor([&] { return boxes().isEmpty(); }));

    // Asked again: one more box, and while it is open a second query's reply waits for nothing.
    ASSERT_TRUE(ask(Command::Version, "PRIVMSG bob :\x01VERSION\x01\r\n"));
    server.send(":bob!b@h NOTICE alice :\x01VERSION Third\x01\r\n");
    ASSERT_TRUE(waitFor(
        [&] { return boxes().size() == 1 && boxes().front()->text() == "From bob\nThird"; }));
    ASSERT_TRUE(ask(Command::Time, "PRIVMSG bob :\x01TIME\x01\r\n"));
    server.send(":bob!b@h NOTICE alice :\x01TIME noon\x01\r\n");
    ASSERT_TRUE(waitFor([&] { return boxes().size() == 2; }));

    diag::DebugPanes::instance().clear();
    server.send(":mallory!m@h NOTICE alice :\x01VERSION <a href=https://x>update</a>\x01\r\n");
    ASSERT_TRUE(linesRead("after.reply"));
    EXPECT_EQ(window().findChildren<QMessageBox*>().size(), 2); // no box of its own
    // Noted where the user can still read it.
    EXPECT_TRUE(diag::DebugPanes::instance()
                    .text(diag::Pane::Status)
                    .contains("Version Reply from mallory, not asked for: <a href=https://x>"));
}

namespace {

// Runs Edit Contacts and adds `name` through its Add... button, as the user would; what the
// store holds afterwards.
QList<QByteArray> addThroughTheEditor(test::ProgramCore& core, const QString& name)
{
    core.prompter->inputs = {name};
    QTimer::singleShot(0, [] {
        for (QWidget* top : QApplication::topLevelWidgets()) {
            if (auto* editor = qobject_cast<config::ContactEditor*>(top)) {
                editor->addButton()->click();
                editor->okButton()->click();
            }
        }
    });
    core.run(Command::EditContacts);
    return core.temp.store().EnumContacts();
}

} // namespace

// Today's networks take nicks of 16 to 30 characters; a contact list that stopped at nine could
// not watch most of them.
TEST_F(ContactsTest, AContactNameMayBeAsLongAsTheServersNickLength)
{
    connectWith({});
    const QString sixteen = "averyverylongnic";
    // Until the server says, nine characters, refused in the words the program always used.
    EXPECT_TRUE(addThroughTheEditor(*core, sixteen).isEmpty());
    EXPECT_EQ(core->prompter->errors,
              (std::vector<test::Box>{{"Error", "A contact name can have at most 9 characters."}}));
    core->prompter->errors.clear();

    server.send(":irc 005 alice NICKLEN=30 :are supported by this server\r\nPING :read\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("PONG :read\r\n"); }));
    const QString thirty = sixteen + "abcdefghijklmn";
    EXPECT_EQ(addThroughTheEditor(*core, sixteen), QList<QByteArray>{sixteen.toUtf8()});
    EXPECT_EQ(addThroughTheEditor(*core, thirty),
              (QList<QByteArray>{sixteen.toUtf8(), thirty.toUtf8()}));
    EXPECT_TRUE(core->prompter->errors.empty());
    // Past the server's length, refused in the same words with its number.
    EXPECT_EQ(addThroughTheEditor(*core, thirty + "x").size(), 2);
    EXPECT_EQ(
        core->prompter->errors,
        (std::vector<test::Box>{{"Error", "A contact name can have at most 30 characters."}}));
}
