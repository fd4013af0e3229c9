// What the user types in a chat window goes out through its chat sessions, relayed or over the
// direct link, and what the window shows goes to the chat's log.
#include "diag/debug_log.h"
#include "peer/chat/chat_log.h"
#include "peer/chat/direct_chat_link.h"
#include "peer/common/chat_text.h"
#include "tests/peer/chat_window_rig.h"
#include "tests/support/files.h"
#include "tests/support/wait_for.h"

#include <QDir>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <gtest/gtest.h>

using test::ChatWindowTest;
using test::waitFor;

TEST_F(ChatWindowTest, ShowsPeerLinesOwnLinesAndTheAwayEcho)
{
    open();
    chats.lineArrived(session, "hi there");
    type("hello");
    chats.lineArrived(session, "I am away", true);
    EXPECT_EQ(host.sent, QList<QByteArray>{"PRIVMSG bob :hello"});
    // Own lines carry the nick in use, which need not be the configured one.
    // The away echo is ours, but not typed: it says it went by itself.
    EXPECT_EQ(window->transcript(),
              "<bob> hi there\r\n<alice_> hello\r\n<alice_> (auto-reply) I am away\r\n");
    EXPECT_EQ(window->viewText(),
              "<bob> hi there\n<alice_> hello\n<alice_> (auto-reply) I am away\n");
    EXPECT_TRUE(window->input()->text().isEmpty());
}

TEST_F(ChatWindowTest, EnterSendsOnceAndAnEmptyLineNothing)
{
    open();
    window->input()->setText("by enter");
    QTest::keyClick(window->input(), Qt::Key_Return);
    EXPECT_EQ(host.sent, QList<QByteArray>{"PRIVMSG bob :by enter"});
    QTest::keyClick(window->input(), Qt::Key_Return);
    type("");
    EXPECT_EQ(host.sent.size(), 1);
    EXPECT_EQ(window->transcript(), "<alice_> by enter\r\n");
}

TEST_F(ChatWindowTest, LongTextGoesOutInPiecesThatFitALine)
{
    open();
    const QString text(511, QChar(0x00E9)); // 1022 bytes of UTF-8
    type(text);
    ASSERT_GT(host.sent.size(), 1);
    QByteArray joined;
    for (const QByteArray& line : host.sent) {
        EXPECT_LE(line.size() + 2, 512);
        ASSERT_TRUE(line.startsWith("PRIVMSG bob :"));
        joined += line.mid(13);
    }
    EXPECT_EQ(joined, text.toUtf8()); // no character cut in two
    EXPECT_EQ(window->transcript(), "<alice_> " + text.toUtf8() + "\r\n");
}

TEST_F(ChatWindowTest, TypedLineBreaksNeverReachTheWire)
{
    open();
    type(QString("one\rQUIT :x\ntwo") + QChar(0) + "three");
    EXPECT_EQ(host.sent, QList<QByteArray>{"PRIVMSG bob :one QUIT :x two three"});
}

TEST_F(ChatWindowTest, ClearEmptiesTheViewButNotTheLog)
{
    host.logging = true;
    open();
    chats.lineArrived(session, "first");
    window->clearButton()->click();
    EXPECT_TRUE(window->viewText().isEmpty());
    chats.lineArrived(session, "second");
    EXPECT_EQ(window->viewText(), "<bob> second\n");
    EXPECT_EQ(logFile(), "\r\n*Started chat with bob*\r\n"
                         "[7/12/2026 5:3:9] <bob> first\r\n"
                         "[7/12/2026 5:3:9] <bob> second\r\n");
}

TEST(ChatLog, KeepsEveryLogInsideTheLogsFolder)
{
    struct Case
    {
        QByteArray nick;
        std::optional<QString> file;
    };
    const Case cases[] = {
        {"bob", "/i/logs/bob.txt"},
        {"../../etc/x", "/i/logs/.._.._etc_x.txt"},
        {QByteArray("a\0b", 3), "/i/logs/a_b.txt"},
        {".", std::nullopt},
        {"..", std::nullopt},
        {"", std::nullopt},
        {"%s%n", "/i/logs/%s%n.txt"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(peer::ChatLog::logFilePath("/i", c.nick), c.file) << c.nick.toStdString();
}

TEST(ChatText, SplitsOnCharacterBoundaries)
{
    EXPECT_EQ(peer::splitUtf8("", 10), QList<QByteArray>{""});
    EXPECT_EQ(peer::splitUtf8("abcdef", 4), (QList<QByteArray>{"abcd", "ef"}));
    // "aé€" is a, C3 A9, E2 82 AC: a 4-byte cut must not split the euro sign.
    EXPECT_EQ(peer::splitUtf8("a\xc3\xa9\xe2\x82\xac", 4),
              (QList<QByteArray>{"a\xc3\xa9", "\xe2\x82\xac"}));
}

// What someone said and what the program notes, as the view and the log take them; neither
// escapes anything, oneShownLine() does.
TEST(ChatText, BuildsTheTwoFormsOfALine)
{
    EXPECT_EQ(peer::saidLine("bob", "hi there"), "<bob> hi there\r\n");
    EXPECT_EQ(peer::saidLine("bob", ""), "<bob> \r\n");
    EXPECT_EQ(peer::noteLine("Encryption ended"), "*Encryption ended*\r\n");
    EXPECT_EQ(peer::oneShownLine(peer::saidLine("bob", "a\nb")), "<bob> a\\x0ab\r\n");
}

TEST_F(ChatWindowTest, DirectLinesEndInLfAlone)
{
    QTcpServer listener;
    ASSERT_TRUE(listener.listen(QHostAddress::LocalHost, 0));
    peer::DirectChatLink link(session, host);
    link.connectTo(QHostAddress::LocalHost, listener.serverPort());
    ASSERT_TRUE(waitFor([&] { return listener.hasPendingConnections(); }));
    QTcpSocket* peerSide = listener.nextPendingConnection();
    ASSERT_TRUE(waitFor([&] { return link.isConnected(); }));
    session.mode = peer::ChatMode::Direct;
    open();
    type("direct hello");
    ASSERT_TRUE(waitFor([&] { return peerSide->bytesAvailable() >= 13; }));
    EXPECT_EQ(peerSide->readAll(), "direct hello\n");
    EXPECT_TRUE(host.sent.isEmpty());
}

TEST_F(ChatWindowTest, AFailedSendIsLoggedAndTheLineStillShown)
{
    diag::DebugPanes::instance().clear();
    session.mode = peer::ChatMode::Direct; // an offer nobody accepted yet: no link
    open();
    type("too early");
    EXPECT_TRUE(diag::DebugPanes::instance()
                    .text(diag::Pane::Status)
                    .contains("send() error (CHATWINDOW send) - SOCKET_ERROR"));
    EXPECT_EQ(window->transcript(), "<alice_> too early\r\n");
}

TEST_F(ChatWindowTest, AnUnwritableLogIsNotedOnceAndTheChatGoesOn)
{
    diag::DebugPanes::instance().clear();
    host.logging = true;
    // A file where the logs folder should be: no folder can be made, not even by root.
    QFile blocker(installDir.filePath("logs"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    open();
    chats.lineArrived(session, "one", false);
    chats.lineArrived(session, "two", false);
    EXPECT_EQ(window->transcript(), "<bob> one\r\n<bob> two\r\n");
    EXPECT_EQ(
        diag::DebugPanes::instance().text(diag::Pane::Status).count("Could not write the chat log"),
        1);
}

// The log keeps the bytes as received, codes and all, so nothing the peer sent is lost or
// re-encoded; the view shows what is not UTF-8 as Latin-1.
TEST(ChatLog, KeepsInUtcWhatWasReceivedAndOnlyWithLoggingOn)
{
    QTemporaryDir installDir;
    const QByteArray started = "\r\n*Started chat with bob*\r\n";
    const struct
    {
        const char* why;
        bool logging;
        QString dir; // under the install folder
        QList<QByteArray> lines;
        QString shown;
        QByteArray logged; // "<missing>": no log at all
    } cases[] = {
        {"codes kept, in UTC",
         true,
         "utc",
         {"\002bold\002 \0034red"},
         "<bob> bold red\n",
         started + "[2/1/2027 22:59:58] <bob> \002bold\002 \0034red\r\n"},
        {"not UTF-8",
         true,
         "latin1",
         {"caf\xe9 \xff", "caf\xc3\xa9"},
         QString::fromUtf8("<bob> caf\u00e9 \u00ff\n<bob> caf\u00e9\n"),
         started
             + "[2/1/2027 22:59:58] <bob> caf\xe9 \xff\r\n"
               "[2/1/2027 22:59:58] <bob> caf\xc3\xa9\r\n"},
        {"logging off", false, "off", {"quiet"}, "<bob> quiet\n", "<missing>"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.why);
        test::ScriptedHost host;
        host.now = QDateTime(QDate(2027, 1, 2), QTime(23, 59, 58), Qt::OffsetFromUTC, 3600);
        host.logging = c.logging;
        host.dir = installDir.filePath(c.dir + "/fresh"); // the folders are made when missing
        peer::ChatSessions chats(host);
        peer::ChatSession session;
        session.nick = "bob";
        session.serverRouted = true;
        QPointer<peer::ChatWindow> window = chats.openWindow(session);
        for (const QByteArray& line : c.lines)
            chats.lineArrived(session, line, false);
        EXPECT_EQ(window->viewText(), c.shown);
        EXPECT_EQ(test::readFile(installDir.filePath(c.dir + "/fresh/logs/bob.txt")), c.logged);
        delete window.data();
    }
    EXPECT_FALSE(QDir(installDir.filePath("off/fresh/logs")).exists());
}

// Of a crowd of strangers only the windows are bounded: with logging on, each line is in its
// writer's log as it arrives, whether their window came up, was held or was refused, and held
// lines shown later are not logged a second time.
TEST_F(ChatWindowTest, LogsEveryStrangersLineThoughTheirWindowIsHeld)
{
    host.logging = true;
    const auto nickOf = [](int i) { return "p" + QByteArray::number(i); };
    const auto lineOf = [&](int i) {
        return "<" + nickOf(i) + "> hello " + QByteArray::number(i) + "\r\n";
    };
    const auto logOf = [&](int i) {
        return test::readFile(
            installDir.filePath("logs/" + QString::fromLatin1(nickOf(i)) + ".txt"));
    };
    constexpr int kStrangers = 300;
    for (int i = 0; i < kStrangers; ++i)
        chats.deliverPrivateText(nickOf(i), "hello " + QByteArray::number(i), std::nullopt);
    ASSERT_FALSE(chats.heldSenders().isEmpty());
    for (int i = 0; i < kStrangers; ++i)
        EXPECT_EQ(logOf(i).count(lineOf(i)), 1) << nickOf(i).constData();

    const int held = chats.heldSenders().front().mid(1).toInt();
    chats.openHeld(nickOf(held));
    const peer::ChatSession* chat = peer::FindRoutedChat(chats.records(), nickOf(held));
    ASSERT_TRUE(chat && chat->window);
    EXPECT_TRUE(chat->window->transcript().contains(lineOf(held)));
    EXPECT_EQ(logOf(held).count(lineOf(held)), 1);
    // What they write now is logged once, by their window.
    chats.deliverPrivateText(nickOf(held), "again", std::nullopt);
    EXPECT_EQ(logOf(held).count("> again\r\n"), 1);
}
