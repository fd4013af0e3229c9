// The IRCv3 extensions through the whole program against a scripted server: what is asked for,
// and what each granted extension changes in the windows, the log and on the wire; and that
// nothing changes where the server grants nothing.
#include "app/contact_list_view.h"
#include "app/main_window.h"
#include "peer/chat/chat_deliveries.h"
#include "peer/chat/chat_window.h"
#include "tests/support/connected_program.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

using test::waitFor;
using Delivery = peer::ChatWindow::Delivery;

namespace {

class Ircv3ProgramTest : public test::ConnectedProgramTest
{
protected:
    // Starts the program, grants what it asks for among `offered`, and welcomes it.
    void connectGranting(const QByteArray& offered, test::CoreOptions options = {})
    {
        options.serverPort = server.port();
        server.setWelcoming(false);
        core = std::make_unique<test::ProgramCore>(options);
        negotiate(offered);
    }
    void negotiate(const QByteArray& offered, int connection = -1)
    {
        ASSERT_TRUE(waitFor([&] { return server.received(connection).contains("USER "); }));
        server.send(":irc CAP * LS :" + offered + "\r\n", connection);
        ASSERT_TRUE(waitFor([&] {
            return server.received(connection).contains("CAP REQ :")
                   || server.received(connection).contains("CAP END");
        }));
        const QByteArray all = server.received(connection);
        const qsizetype at = all.indexOf("CAP REQ :");
        if (at >= 0) {
            const QByteArray asked = all.mid(at + 9, all.indexOf("\r\n", at) - at - 9);
            server.send(":irc CAP alice ACK :" + asked + "\r\n", connection);
        }
        ASSERT_TRUE(waitFor([&] { return server.received(connection).contains("CAP END\r\n"); }));
        QSignalSpy welcomed(&core->program->link(), &irc::ServerLink::registered);
        server.send(":irc 001 alice :Welcome\r\n", connection);
        ASSERT_TRUE(waitFor([&] { return !welcomed.isEmpty(); }));
    }
    peer::ChatWindow* chatWithBob() { return core->program->chats().openChat("bob"); }
    void typeAndSend(peer::ChatWindow* window, const QString& text)
    {
        QTest::keyClicks(window->input(), text);
        window->sendButton()->click();
    }
    QByteArray logOf(const QByteArray& nick) const
    {
        QFile log(core->temp.dirPath() + "/logs/" + nick + ".txt");
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }
};

} // namespace

// Off, registration is the lines it always was; on, toward a server that grants nothing we use,
// the session differs only by CAP LS 302 and CAP END.
TEST_F(Ircv3ProgramTest, NothingChangesWhereNothingIsGranted)
{
    test::CoreOptions off;
    off.ircv3 = false;
    connect(off);
    EXPECT_TRUE(
        server.received().startsWith("NICK alice\r\nUSER alice 0 * :alice\r\nWHO alice\r\n"));
    core.reset();

    test::FakeIrcServer plain;
    test::CoreOptions on;
    on.serverPort = plain.port();
    core = std::make_unique<test::ProgramCore>(on);
    ASSERT_TRUE(waitFor([&] { return plain.received().contains("USER "); }));
    plain.send(":irc CAP * LS :multi-prefix\r\n");
    ASSERT_TRUE(waitFor([&] { return plain.received().endsWith("CAP END\r\n"); }));
    plain.send(":irc 001 alice :Welcome\r\n:bob!b@h TAGMSG alice\r\n");
    ASSERT_TRUE(waitFor([&] { return plain.received().endsWith("CAP END\r\nWHO alice\r\n"); }));
    EXPECT_EQ(plain.received(),
              "CAP LS 302\r\nNICK alice\r\nUSER alice 0 * :alice\r\nCAP END\r\nWHO alice\r\n");
    peer::ChatWindow* window = core->program->chats().openChat("bob");
    QTest::keyClicks(window->input(), "hello");
    window->sendButton()->click();
    ASSERT_TRUE(waitFor([&] { return plain.received().endsWith("PRIVMSG bob :hello\r\n"); }));
    EXPECT_FALSE(plain.received().contains("TAGMSG"));
    EXPECT_FALSE(plain.received().contains("@"));
    EXPECT_FALSE(window->deliveryOf(1).has_value());
}

// With echo-message a line looks sent only once the server echoed it, and a refused or
// unanswered one says it was not delivered; echoes are never shown again, nor taken as someone
// else's lines, offers or notices.
TEST_F(Ircv3ProgramTest, MarksLinesDeliveredByTheServersEcho)
{
    connectGranting("echo-message labeled-response");
    qint64 nowMs = 0;
    core->program->deliveries().setClock([&] { return nowMs; });
    peer::ChatWindow* window = chatWithBob();

    typeAndSend(window, "hello");
    ASSERT_TRUE(
        waitFor([&] { return server.received().endsWith("@label=kv1.1 PRIVMSG bob :hello\r\n"); }));
    EXPECT_EQ(window->deliveryOf(1), Delivery::Pending);
    server.send("@label=kv1.1;msgid=x :alice!a@h PRIVMSG bob :hello\r\n");
    ASSERT_TRUE(waitFor([&] { return window->deliveryOf(1) == Delivery::Sent; }));

    typeAndSend(window, "refused");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("@label=kv2.2 PRIVMSG bob"); }));
    server.send("@label=kv2.2 :irc 404 alice bob :Cannot send to nick\r\n");
    ASSERT_TRUE(waitFor([&] { return window->deliveryOf(2) == Delivery::NotDelivered; }));
    EXPECT_TRUE(window->viewText().contains("*Not delivered: refused*"));

    typeAndSend(window, "into the void");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("PRIVMSG bob :into the void"); }));
    nowMs += irc::PendingEchoes::kTimeoutMs + 1;
    ASSERT_TRUE(waitFor([&] { return window->deliveryOf(3) == Delivery::NotDelivered; }, 5000));

    // Our own offer and notice coming back are ours, not bob's or someone new's.
    server.send(":alice!a@h PRIVMSG bob :\x01"
                "DCC CHAT chat 2130706433 5000\x01\r\n"
                ":alice!a@h NOTICE bob :DH1080_INIT abc\r\n"
                ":alice!a@h PRIVMSG alice :note to self\r\n");
    ASSERT_TRUE(linesRead("echoes"));
    EXPECT_EQ(records().CountRecords(), 1);
    EXPECT_TRUE(core->prompter->questions.empty());
    EXPECT_EQ(window->viewText().count("hello"), 1);
}

TEST_F(Ircv3ProgramTest, TellsAndShowsTyping)
{
    connectGranting("message-tags");
    peer::ChatWindow* window = chatWithBob();
    QTest::keyClicks(window->input(), "hel");
    ASSERT_TRUE(
        waitFor([&] { return server.received().contains("@+typing=active TAGMSG bob\r\n"); }));
    // Repeated at most every 3 s, however fast the user types.
    QTest::keyClicks(window->input(), "lo");
    window->sendButton()->click();
    // The message ends the typing by itself: no "done" after it.
    ASSERT_TRUE(waitFor([&] { return server.received().endsWith("PRIVMSG bob :hello\r\n"); }));
    ASSERT_TRUE(linesRead("sent"));
    EXPECT_FALSE(server.received().contains("+typing=done"));
    EXPECT_EQ(server.received().count("+typing=active"), 1);
    // A command is not a message being typed.
    QTest::keyClicks(window->input(), "/me");
    ASSERT_TRUE(linesRead("command"));
    EXPECT_EQ(server.received().count("+typing=active"), 1);
    window->input()->clear();

    server.send("@+typing=active :bob!b@h TAGMSG alice\r\n");
    ASSERT_TRUE(waitFor([&] { return !window->typingLabel()->isHidden(); }));
    EXPECT_EQ(window->typingLabel()->text(), "bob is typing…");
    server.send(":bob!b@h PRIVMSG alice :hi\r\n");
    ASSERT_TRUE(waitFor([&] { return !!window->typingLabel()->isHidden(); }));
    // Typing from a stranger, or to a channel, opens nothing.
    server.send("@+typing=active :carol!c@h TAGMSG alice\r\n"
                "@+typing=active :dave!d@h TAGMSG #room\r\n");
    ASSERT_TRUE(linesRead("strangers"));
    EXPECT_EQ(records().CountRecords(), 1);

    // The user's setting stops ours; theirs still shows.
    config::Settings settings = core->program->settings();
    settings.typing = false;
    core->program->applySettings(settings);
    QTest::keyClicks(window->input(), "quiet");
    ASSERT_TRUE(linesRead("quiet"));
    EXPECT_EQ(server.received().count("+typing=active"), 1);
    server.send("@+typing=active :bob!b@h TAGMSG alice\r\n");
    ASSERT_TRUE(waitFor([&] { return !window->typingLabel()->isHidden(); }));
}

TEST_F(Ircv3ProgramTest, ShowsContactsAway)
{
    test::CoreOptions options;
    options.contacts = {"bob"};
    connectGranting("away-notify extended-monitor", options);
    server.send(":irc 005 alice MONITOR=100 :are supported\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().contains("MONITOR + bob\r\n"); }));
    server.send(":irc 730 alice :bob!b@h\r\n");
    // Online says nothing of away: the program asks.
    ASSERT_TRUE(waitFor([&] { return server.received().contains("USERHOST bob\r\n"); }));
    ASSERT_TRUE(waitFor([&] { return item("bob") != nullptr; }));
    server.send(":irc 302 alice :bob=-b@h\r\n");
    ASSERT_TRUE(waitFor([&] { return item("bob") && item("bob")->toolTip() == "Away"; }));
    peer::ChatWindow* window = chatWithBob();
    EXPECT_EQ(window->windowTitle(), "bob (away)");

    server.send(":bob!b@h AWAY :out to <b>lunch</b>\r\n");
    ASSERT_TRUE(waitFor([&] {
        return item("bob")->toolTip() == "<qt>Away: out to &lt;b&gt;lunch&lt;/b&gt;</qt>";
    }));
    // One line, whatever the text holds.
    server.send(":bob!b@h AWAY :out\xE2\x80\xA8\x0b"
                "back at five\r\n");
    ASSERT_TRUE(waitFor([&] {
        return item("bob")->toolTip() == "Away: out\\u2028\\x0bback at five";
    })) << item("bob")->toolTip().toStdString();
    EXPECT_EQ(item("bob")->data(Qt::AccessibleTextRole).toString(), "bob, away");
    server.send(":bob!b@h AWAY\r\n");
    ASSERT_TRUE(waitFor([&] { return item("bob")->toolTip().isEmpty(); }));
    EXPECT_EQ(window->windowTitle(), "bob");

    // Gone and back: not away any more, whatever was said before.
    server.send(":bob!b@h AWAY :later\r\n:irc 731 alice :bob\r\n:irc 730 alice :bob\r\n");
    ASSERT_TRUE(waitFor([&] { return server.received().count("USERHOST bob\r\n") == 2; }));
    ASSERT_TRUE(waitFor([&] { return item("bob") != nullptr; }));
    EXPECT_TRUE(item("bob")->toolTip().isEmpty());
}

// Renamed by the server (services, an operator), we are the new nick: whoever takes the old one
// is someone else, whose lines open a chat, while our echoed offers, notices and queries under
// the new nick stay ours.
TEST_F(Ircv3ProgramTest, GoesByTheNickTheServerGaveUs)
{
    connectGranting("echo-message");
    server.send(":alice!a@h NICK :Guest4711\r\n");
    ASSERT_TRUE(waitFor([&] { return core->program->link().nickInUse() == "Guest4711"; }));
    EXPECT_EQ(window().windowTitle(), "Kivvo - v2.0 - Guest4711");

    server.send(":Guest4711!a@h PRIVMSG bob :\x01"
                "DCC CHAT chat 2130706433 5000\x01\r\n"
                ":Guest4711!a@h NOTICE bob :DH1080_INIT abc\r\n"
                ":Guest4711!a@h PRIVMSG bob :\x01VERSION\x01\r\n"
                ":alice!m@h PRIVMSG Guest4711 :I am alice now\r\n");
    ASSERT_TRUE(waitFor([&] { return records().CountRecords() == 1 && core->chat(0); }));
    ASSERT_TRUE(linesRead("renamed"));
    EXPECT_EQ(records().CountRecords(), 1);
    EXPECT_TRUE(
        waitFor([&] { return core->chat(0)->viewText().contains("<alice> I am alice now"); }));
    EXPECT_TRUE(core->prompter->questions.empty());
    EXPECT_FALSE(server.received().contains("NOTICE Guest4711"));
}

// Missed lines come from a history batch once, in order, into the log at their times; nothing in
// the batch is acted on as new, and the next connection asks from where the last one ended.
TEST_F(Ircv3ProgramTest, FetchesMissedLinesOnceAndStampsLinesWithTheServersTime)
{
    test::CoreOptions options;
    options.contacts = {"bob"};
    options.logging = true;
    connectGranting("batch server-time draft/chathistory", options);
    ASSERT_TRUE(
        waitFor([&] { return server.received().contains("CHATHISTORY LATEST bob * 100\r\n"); }));
    const QByteArray batch =
        ":irc BATCH +h1 chathistory bob\r\n"
        "@batch=h1;time=2026-12-01T10:00:02.000Z;msgid=m2 :alice!a@h PRIVMSG bob :second\r\n"
        "@batch=h1;time=2026-12-01T10:00:01.000Z;msgid=m1 :bob!b@h PRIVMSG alice :first\r\n"
        "@batch=h1;time=2026-12-01T10:00:03.000Z;msgid=m3 :bob!b@h PRIVMSG alice "
        ":\x01"
        "DCC SEND old.txt 2130706433 5000 10\x01\r\n"
        "@batch=h1;time=2026-12-01T10:00:01.000Z;msgid=m1 :bob!b@h PRIVMSG alice :first\r\n"
        "@batch=h1;time=2026-12-01T10:00:04.000Z;msgid=mx :carol!c@h PRIVMSG alice :not bob\r\n"
        ":irc BATCH -h1\r\n"
        // Nobody asked for carol's.
        ":irc BATCH +h9 chathistory carol\r\n"
        "@batch=h9;time=2026-12-01T10:00:01.000Z;msgid=c1 :carol!c@h PRIVMSG alice :spam\r\n"
        ":irc BATCH -h9\r\n";
    server.send(batch);
    ASSERT_TRUE(waitFor([&] { return records().CountRecords() == 1 && core->chat(0); }));
    peer::ChatWindow* window = core->chat(0);
    ASSERT_TRUE(waitFor([&] { return window->viewText().contains("DCC SEND old.txt"); }));
    const QString text = window->viewText();
    EXPECT_EQ(text.count("first"), 1);
    EXPECT_LT(text.indexOf("<bob> first"), text.indexOf("<alice> second"));
    EXPECT_TRUE(core->prompter->questions.empty()); // the old offer is only text
    ASSERT_TRUE(linesRead("history"));
    EXPECT_FALSE(text.contains("not bob"));
    EXPECT_EQ(records().CountRecords(), 1);
    EXPECT_TRUE(logOf("bob").contains("[1/12/2026 10:0:1] <bob> first\r\n"));
    EXPECT_TRUE(logOf("bob").contains("[1/12/2026 10:0:2] <alice> second\r\n"));

    // A line that happens now moves the mark too.
    server.send("@time=2026-12-01T10:05:00.000Z;msgid=m4 :bob!b@h PRIVMSG alice :live\r\n");
    ASSERT_TRUE(waitFor([&] { return window->viewText().contains("live"); }));

    core->program->link().disconnectFromServer();
    core->program->link().connectToCurrentServer();
    ASSERT_TRUE(waitFor([&] { return server.connectionCount() == 2; }));
    negotiate("batch server-time draft/chathistory");
    ASSERT_TRUE(waitFor(
        [&] { return server.received().contains("CHATHISTORY AFTER bob msgid=m4 100\r\n"); }));
    server.send(":irc BATCH +h2 chathistory bob\r\n"
                "@batch=h2;time=2026-12-01T10:05:00.000Z;msgid=m4 :bob!b@h PRIVMSG alice :live\r\n"
                "@batch=h2;time=2026-12-01T10:06:00.000Z;msgid=m5 :bob!b@h PRIVMSG alice :new\r\n"
                ":irc BATCH -h2\r\n");
    ASSERT_TRUE(waitFor([&] { return window->viewText().contains("new"); }));
    EXPECT_EQ(window->viewText().count("live"), 1);

    // Live lines are stamped with the server's time too.
    server.send("@time=2026-01-02T03:04:05.678Z :bob!b@h PRIVMSG alice :from a bouncer\r\n"
                "@time=yesterday :bob!b@h PRIVMSG alice :a broken stamp\r\n");
    ASSERT_TRUE(waitFor([&] { return logOf("bob").contains("a broken stamp"); }));
    const QByteArray log = logOf("bob");
    EXPECT_TRUE(log.contains("[2/1/2026 3:4:5] <bob> from a bouncer\r\n")) << log.constData();
    // A stamp that cannot be read is the time of receipt.
    const QByteArray today = QByteArray::number(QDateTime::currentDateTimeUtc().date().year());
    const QByteArray broken = log.mid(log.lastIndexOf("\r\n[", log.indexOf("a broken stamp")));
    EXPECT_TRUE(broken.startsWith("\r\n[")) << log.constData();
    EXPECT_TRUE(broken.left(broken.indexOf("]")).contains("/" + today + " ")) << log.constData();
}
