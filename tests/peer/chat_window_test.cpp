// The chat window on real widgets, opened by the chat sessions that send what is typed in it and
// log what it shows, with a scripted host standing in for the server link, the settings and the
// clock, and a real loopback socket for the direct path.
#include "diag/debug_log.h"
#include "peer/chat_host.h"
#include "peer/chat_log.h"
#include "peer/chat_sessions.h"
#include "peer/chat_text.h"
#include "peer/chat_window.h"
#include "peer/direct_chat_link.h"
#include "peer/session_record.h"
#include "tests/support/typing_elsewhere.h"
#include "tests/support/wait_for.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <gtest/gtest.h>

using test::waitFor;

namespace {

class ScriptedHost : public peer::ChatHost
{
public:
    QByteArray nick = "alice_";
    bool logging = false;
    bool sendWorks = true;
    std::optional<QString> dir;
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(5, 3, 9), Qt::UTC);
    QList<QByteArray> sent;

    QByteArray nickInUse() const override { return nick; }
    bool sendServerLine(const QByteArray& line) override
    {
        sent << line;
        return sendWorks;
    }
    bool loggingOn() const override { return logging; }
    std::optional<QString> installDir() const override { return dir; }
    QDateTime nowUtc() const override { return now; }
    QWidget* makeMenuBar(QWidget* parent, const QByteArray& peer) override
    {
        barsFor << peer;
        auto* bar = new QWidget(parent);
        bar->setObjectName("ChatMenuBar");
        return bar;
    }
    QList<QByteArray> barsFor;
};

class ChatWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        session.nick = "bob";
        session.serverRouted = true;
        host.dir = installDir.path();
    }
    peer::ChatWindow& open()
    {
        window = chats.openWindow(session);
        return *window;
    }
    void type(const QString& text)
    {
        window->input()->setText(text);
        window->sendButton()->click();
    }
    QByteArray logFile() const
    {
        QFile file(installDir.filePath("logs/bob.txt"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir installDir;
    ScriptedHost host;
    peer::ChatSessions chats{host};
    peer::ChatSession session;
    QPointer<peer::ChatWindow> window;

    void TearDown() override { delete window.data(); }
};

} // namespace

TEST_F(ChatWindowTest, OpensWithThePeersNickAndItsSize)
{
    open();
    EXPECT_EQ(window->windowTitle(), "bob");
    EXPECT_EQ(window->size(), QSize(peer::ChatWindow::kWidth, peer::ChatWindow::kHeight));
    EXPECT_EQ(session.window, window.data());
    EXPECT_FALSE(window->cipherField()->isVisible());
    EXPECT_EQ(window->input()->maxLength(), 511);
}

TEST_F(ChatWindowTest, ShowsPeerLinesOwnLinesAndTheAwayEcho)
{
    open();
    window->lineArrived("hi there");
    type("hello");
    window->lineArrived("I am away", true);
    EXPECT_EQ(host.sent, QList<QByteArray>{"PRIVMSG bob :hello"});
    // Own lines carry the nick in use, which need not be the configured one.
    EXPECT_EQ(window->transcript(), "<bob> hi there\r\n<alice_> hello\r\n<alice_> I am away\r\n");
    EXPECT_EQ(window->viewText(), "<bob> hi there\n<alice_> hello\n<alice_> I am away\n");
    EXPECT_TRUE(window->input()->text().isEmpty());
}

// The window shows and hands on; its sessions send and log. On its own it reaches neither the
// server nor the disk.
TEST(ChatWindowAlone, HandsOnWhatIsTypedAndWhatItShowsAndWritesNothingItself)
{
    QTemporaryDir installDir;
    ScriptedHost host;
    host.logging = true;
    host.dir = installDir.path();
    peer::ChatSession session;
    session.nick = "bob";
    session.serverRouted = true;
    peer::ChatWindow window(session, host);
    QList<QByteArray> typed;
    QList<QByteArray> shown;
    QObject::connect(&window, &peer::ChatWindow::textTyped,
                     [&](const QByteArray& text) { typed << text; });
    QObject::connect(&window, &peer::ChatWindow::lineShown,
                     [&](const QByteArray& line) { shown << line; });
    window.show();
    window.input()->setText("hello");
    window.sendButton()->click();
    window.lineArrived("hi");
    EXPECT_EQ(typed, QList<QByteArray>{"hello"});
    EXPECT_EQ(shown, QList<QByteArray>{"<bob> hi\r\n"});
    EXPECT_TRUE(host.sent.isEmpty());
    EXPECT_FALSE(QDir(installDir.filePath("logs")).exists());
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

TEST_F(ChatWindowTest, LongReceivedTextIsShownWhole)
{
    open();
    const QByteArray text(5000, 'x');
    window->lineArrived(text);
    EXPECT_EQ(window->viewText(), "<bob> " + QString(text) + "\n");
}

TEST_F(ChatWindowTest, ClearEmptiesTheViewButNotTheLog)
{
    host.logging = true;
    open();
    window->lineArrived("first");
    window->clearButton()->click();
    EXPECT_TRUE(window->viewText().isEmpty());
    window->lineArrived("second");
    EXPECT_EQ(window->viewText(), "<bob> second\n");
    EXPECT_EQ(logFile(), "\r\n*Started chat with bob*\r\n"
                         "[7/12/2026 5:3:9] <bob> first\r\n"
                         "[7/12/2026 5:3:9] <bob> second\r\n");
}

TEST_F(ChatWindowTest, LogsInUtcWithFormattingCodesKept)
{
    host.logging = true;
    host.now = QDateTime(QDate(2027, 1, 2), QTime(23, 59, 58), Qt::OffsetFromUTC, 3600);
    open();
    window->lineArrived("\002bold\002 \0034red");
    EXPECT_EQ(logFile(), "\r\n*Started chat with bob*\r\n"
                         "[2/1/2027 22:59:58] <bob> \002bold\002 \0034red\r\n");
}

TEST_F(ChatWindowTest, WritesNoLogWithLoggingOff)
{
    open();
    window->lineArrived("quiet");
    EXPECT_FALSE(QDir(installDir.filePath("logs")).exists());
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

TEST_F(ChatWindowTest, CreatesTheLogsFolderWhenMissing)
{
    host.logging = true;
    host.dir = installDir.filePath("fresh/install");
    open();
    window->lineArrived("x");
    EXPECT_TRUE(QFile::exists(installDir.filePath("fresh/install/logs/bob.txt")));
}

TEST_F(ChatWindowTest, CloseKeepsTheRecordButStopsServerText)
{
    open();
    window->lineArrived("bye");
    QTest::keyClick(window.data(), Qt::Key_Escape);
    EXPECT_TRUE(window->isVisible()); // Escape does not close a chat
    window->close();
    EXPECT_FALSE(session.serverRouted);
    EXPECT_TRUE(waitFor([&] { return window.isNull(); }));
    EXPECT_TRUE(session.window.isNull());
}

// A direct link outlives its window, and what arrives over it brings the window up again: it
// came back empty, the conversation so far gone from sight.
TEST_F(ChatWindowTest, AReopenedDirectChatShowsItsEarlierLinesOnce)
{
    host.logging = true;
    session.mode = peer::ChatMode::Direct;
    open();
    window->showLine("Connection established.\r\n");
    window->lineArrived("plain \002bold");
    type("mine");
    const QByteArray before = window->transcript();
    window->close();
    ASSERT_TRUE(waitFor([&] { return window.isNull(); }));

    open();
    EXPECT_EQ(window->transcript(), before);
    EXPECT_EQ(window->viewText(), "Connection established.\n<bob> plain bold\n<alice_> mine\n");
    window->lineArrived("again");
    EXPECT_TRUE(window->transcript().endsWith("<alice_> mine\r\n<bob> again\r\n"));
    // Shown again, not said again.
    EXPECT_EQ(logFile().count("<bob> plain"), 1);
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

TEST_F(ChatWindowTest, ConnectionEstablishedArrivesAfterTheCurrentEvent)
{
    open();
    window->connectionEstablished();
    EXPECT_TRUE(window->transcript().isEmpty());
    EXPECT_TRUE(waitFor([&] { return window->transcript() == "Connection established.\r\n"; }));
}

TEST_F(ChatWindowTest, LaysOutRoomForTheCipherFieldOnceEncrypted)
{
    open();
    const int viewHeight = window->view()->height();
    session.mode = peer::ChatMode::Encrypted;
    window->resize(window->width() + 10, window->height() + 10);
    EXPECT_EQ(window->view()->height(), viewHeight + 10 - 20);
    EXPECT_FALSE(window->cipherField()->isVisible());
}

TEST_F(ChatWindowTest, FormatMenusInsertCodesAtTheCaret)
{
    open();
    window->input()->setText("hello");
    window->input()->setCursorPosition(0);
    const auto actions = window->colourMenu()->actions();
    const auto red =
        std::find_if(actions.begin(), actions.end(), [](QAction* a) { return a->text() == "Red"; });
    ASSERT_NE(red, actions.end());
    (*red)->trigger();
    EXPECT_EQ(window->input()->text(), "\0034hello");
    EXPECT_EQ(window->input()->cursorPosition(), 2);
    window->styleMenu()->actions().front()->trigger(); // Bold
    EXPECT_EQ(window->input()->text(), "\0034\002hello");
}

TEST_F(ChatWindowTest, TheHostMakesTheCommandBarForThisPeer)
{
    open();
    EXPECT_EQ(host.barsFor, (QList<QByteArray>{"bob"}));
    auto* bar = window->findChild<QWidget*>("ChatMenuBar");
    ASSERT_NE(bar, nullptr);
    EXPECT_EQ(bar->geometry(), QRect(10, 5, 150, 20));
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
    window->lineArrived("one", false);
    window->lineArrived("two", false);
    EXPECT_EQ(window->transcript(), "<bob> one\r\n<bob> two\r\n");
    EXPECT_EQ(
        diag::DebugPanes::instance().text(diag::Pane::Status).count("Could not write the chat log"),
        1);
}

TEST_F(ChatWindowTest, InvalidUtf8IsShownAsLatin1AndLoggedAsReceived)
{
    host.logging = true;
    open();
    window->lineArrived("caf\xe9 \xff", false);
    window->lineArrived("caf\xc3\xa9", false);
    EXPECT_EQ(window->viewText(), QString::fromUtf8("<bob> caf\u00e9 \u00ff\n<bob> caf\u00e9\n"));
    // The log keeps the bytes, so nothing the peer sent is lost or re-encoded.
    EXPECT_EQ(logFile(), "\r\n*Started chat with bob*\r\n"
                         "[7/12/2026 5:3:9] <bob> caf\xe9 \xff\r\n"
                         "[7/12/2026 5:3:9] <bob> caf\xc3\xa9\r\n");
}

TEST_F(ChatWindowTest, AnArrivingLineLeavesTheKeyboardWhereTheUserTypes)
{
    open();
    test::TypingElsewhere user;
    ASSERT_TRUE(user.hasKeyboard());
    window->lineArrived("type your password here");
    window->lineArrived("and press Enter", true);
    EXPECT_TRUE(user.keptKeyboard());
    EXPECT_TRUE(window->viewText().contains("press Enter"));
}

TEST_F(ChatWindowTest, TheViewAndTranscriptKeepTheNewestLinesAndTheLogAll)
{
    host.logging = true;
    open();
    // The last of these lines is the one that makes both cut back to the newest kMaxLines.
    const int total = peer::ChatWindow::kMaxLines + peer::ChatWindow::kTrimLines;
    for (int i = 0; i < total; ++i)
        window->lineArrived("line " + QByteArray::number(i));
    const QByteArray firstKept = "<bob> line " + QByteArray::number(total + 1 - window->kMaxLines);
    ASSERT_EQ(window->viewText().count('\n'), total);
    window->lineArrived("plain \002bold");
    const QStringList shown = window->viewText().split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(shown.size(), peer::ChatWindow::kMaxLines);
    EXPECT_EQ(shown.front(), firstKept);
    EXPECT_EQ(shown.back(), "<bob> plain bold");
    EXPECT_EQ(window->transcript().count("\r\n"), peer::ChatWindow::kMaxLines);
    EXPECT_TRUE(window->transcript().startsWith(firstKept + "\r\n"));
    // What stays keeps its formats: the newest line's bold is on its last word alone.
    const QTextBlock last = window->view()->document()->lastBlock().previous();
    const auto boldAt = [&](int index) {
        QTextCursor cursor(last);
        cursor.setPosition(last.position() + index + 1);
        return cursor.charFormat().fontWeight() == QFont::Bold;
    };
    EXPECT_FALSE(boldAt(int(qstrlen("<bob> pl"))));
    EXPECT_TRUE(boldAt(int(qstrlen("<bob> plain b"))));
    const QByteArray log = logFile();
    EXPECT_TRUE(log.contains("] <bob> line 0\r\n")) << "the log keeps everything";
    EXPECT_EQ(log.count("<bob> line "), total);
}

TEST_F(ChatWindowTest, ItsLabelsShowTextAsItIs)
{
    open();
    for (QLabel* label : window->findChildren<QLabel*>())
        EXPECT_EQ(label->textFormat(), Qt::PlainText) << label->text().toStdString();
}
