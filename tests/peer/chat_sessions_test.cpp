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

#include <rapidcheck/gtest.h>

using test::ChatWindowTest;
using test::waitFor;

TEST_F(ChatWindowTest, ShowsPeerLinesOwnLinesAndTheAwayEchoAndSendsWhatIsTyped)
{
    open();
    chats.lineArrived(session, "hi there");
    type("hello");
    chats.lineArrived(session, "I am away", true);
    // Own lines carry the nick in use, which need not be the configured one.
    // The away echo is ours, but not typed: it says it went by itself.
    EXPECT_EQ(window->transcript(),
              "<bob> hi there\r\n<alice_> hello\r\n<alice_> (auto-reply) I am away\r\n");
    EXPECT_EQ(window->viewText(),
              "<bob> hi there\n<alice_> hello\n<alice_> (auto-reply) I am away\n");
    EXPECT_TRUE(window->input()->text().isEmpty());

    // Enter sends once, an empty line nothing, and typed line breaks never reach the wire.
    window->input()->setText("by enter");
    QTest::keyClick(window->input(), Qt::Key_Return);
    QTest::keyClick(window->input(), Qt::Key_Return);
    type("");
    type(QString("one\rQUIT :x\ntwo") + QChar(0) + "three");
    EXPECT_EQ(host.sent, (QList<QByteArray>{"PRIVMSG bob :hello", "PRIVMSG bob :by enter",
                                            "PRIVMSG bob :one QUIT :x two three"}));
}

// A long paste goes out whole, in messages cut at words that still fit once the server has put
// ":alice_!<10-byte user>@<63-byte host> " before them; what the input cannot take it says.
TEST_F(ChatWindowTest, LongTextGoesOutInPiecesThatFitTheRelayedLine)
{
    open();
    QString text;
    for (int word = 0; text.size() < peer::ChatWindow::kInputLimit - 8; ++word)
        text += QStringLiteral("w\u00e9rd%1 ").arg(word, 3, 10, QChar('0'));
    window->input()->insert(text);
    window->sendButton()->click();
    ASSERT_GT(host.sent.size(), 8);
    const qsizetype serverPrefix = 1 + host.nick.size() + 1 + 10 + 1 + 63 + 1;
    QByteArray joined;
    for (const QByteArray& line : host.sent) {
        EXPECT_LE(serverPrefix + line.size() + 2, 512) << line.toStdString();
        ASSERT_TRUE(line.startsWith("PRIVMSG bob :"));
        EXPECT_TRUE(line.endsWith(' ') || line == host.sent.last()) << line.toStdString();
        joined += line.mid(13);
    }
    EXPECT_EQ(joined, text.toUtf8());
    EXPECT_EQ(window->transcript(), "<alice_> " + text.toUtf8() + "\r\n");

    window->input()->insert(QString(peer::ChatWindow::kInputLimit + 10, QChar('x')));
    EXPECT_EQ(window->input()->text().size(), peer::ChatWindow::kInputLimit);
    EXPECT_TRUE(window->transcript().endsWith(
        "*The input holds 4096 characters; the rest was not taken. Send this, then the rest*\r\n"));
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

// Whatever the text and the room, nothing is lost, no piece is too long or cuts a character, and
// a piece ends at a blank whenever one fits.
RC_GTEST_PROP(ChatText, SplitsAtWordsWithoutLosingAByte, ())
{
    // Blanks, and characters of every UTF-8 length.
    const auto picked = *rc::gen::container<std::vector<std::string>>(rc::gen::element<std::string>(
        "a", "b", " ", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"));
    QByteArray text;
    for (const std::string& character : picked)
        text += QByteArray::fromStdString(character);
    const int room = *rc::gen::inRange(4, 40);
    const QList<QByteArray> pieces = peer::splitAtWords(text, room);
    RC_ASSERT(pieces.join() == text);
    for (qsizetype i = 0; i < pieces.size(); ++i) {
        const QByteArray& piece = pieces[i];
        RC_ASSERT(piece.size() <= room);
        RC_ASSERT(QString::fromUtf8(piece).toUtf8() == piece);
        RC_ASSERT(!piece.isEmpty() || text.isEmpty());
        const bool last = i + 1 == pieces.size();
        const bool wordCut = piece.endsWith(' ') || (!last && pieces[i + 1].startsWith(' '));
        RC_ASSERT(last || wordCut || !piece.contains(' '));
    }
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

// A line that could not go out never looks sent: it is marked as not delivered, the chat says
// why, and the text waits in the input.
TEST_F(ChatWindowTest, ALineThatCouldNotGoOutIsMarkedNotSentAndWaitsInTheInput)
{
    struct Case
    {
        peer::ChatMode mode;
        bool linkUp;
        const char* reason;
    };
    const Case cases[] = {
        {peer::ChatMode::Direct, true, "the direct connection is closed"}, // offer not accepted
        {peer::ChatMode::Relayed, false, "not connected to the server"},
        {peer::ChatMode::Relayed, true, "the connection to the server did not take it"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reason);
        diag::DebugPanes::instance().clear();
        session.mode = c.mode;
        host.sendWorks = false;
        host.linkUp = c.linkUp;
        open();
        type("too early");
        EXPECT_TRUE(diag::DebugPanes::instance()
                        .text(diag::Pane::Status)
                        .contains("send() error (CHATWINDOW send) - SOCKET_ERROR"));
        EXPECT_EQ(window->transcript(), "<alice_> too early\r\n*Not sent: " + QByteArray(c.reason)
                                            + ". It waits in the input.*\r\n");
        EXPECT_EQ(window->deliveryOf(peer::ChatWindow::kUnsentLine),
                  peer::LineDelivery::NotDelivered);
        EXPECT_EQ(window->input()->text(), "too early");
        window->close();
        delete window.data();
        session.transcript.clear();
    }
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
    // The log's earlier lines end where the held ones start: they show once, as new.
    EXPECT_EQ(chat->window->viewText().count("hello " + QString::number(held)), 1);
    // What they write now is logged once, by their window.
    chats.deliverPrivateText(nickOf(held), "again", std::nullopt);
    EXPECT_EQ(logOf(held).count("> again\r\n"), 1);
}
