// A server (or peers through it) sending what no well-behaved one would: the program stays
// connected and responsive, shows peer text literally, and never puts a broken line on the wire.
#include "diag/debug_window.h"
#include "tests/support/connected_program.h"

#include <QFile>
#include <QTcpSocket>
#include <QTextEdit>

#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using test::waitFor;

namespace {

class HostileServerTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override { connect(); }
    QString transcriptOf(const QByteArray& nick)
    {
        const peer::ChatWindow* window = core->chatWith(nick, false);
        return window ? window->transcript() : QString();
    }
    // Every line we sent is one line: no NUL, no stray CR or LF, within 512 bytes.
    void expectOnlySafeLines()
    {
        const QByteArray sent = server.received();
        EXPECT_FALSE(sent.contains('\0'));
        for (const QByteArray& line : sent.split('\n')) {
            if (line.isEmpty())
                continue; // after the last LF
            EXPECT_TRUE(line.endsWith('\r')) << line.toStdString();
            EXPECT_EQ(line.count('\r'), 1) << line.toStdString();
            EXPECT_LE(line.size() + 1, 512) << line.left(40).toStdString();
        }
    }
};

// The same, with chat logging on.
class LoggingHostileServerTest : public test::ConnectedProgramTest
{
protected:
    void SetUp() override
    {
        test::CoreOptions options;
        options.logging = true;
        connect(options);
    }
    QByteArray logOf(const QByteArray& nick) const
    {
        QFile log(core->temp.dirPath() + "/logs/" + nick + ".txt");
        return log.open(QIODevice::ReadOnly) ? log.readAll() : QByteArray();
    }
};

} // namespace

// A nick that hides a paragraph separator, a bare LF or a lone CR in its line would otherwise
// show, and log, a line of its choosing under the user's name.
TEST_F(LoggingHostileServerTest, ALineBreakInsideALineShowsAndLogsAsOneLine)
{
    server.send(":mallory!m@h PRIVMSG alice :ok\xE2\x80\xA9<alice> yes, I will pay 500 EUR\r\n"
                ":trudy!t@h PRIVMSG alice :ok\n<alice> yes, I will pay 600 EUR\r\n"
                ":eve!e@h PRIVMSG alice :ok\r<alice> yes, I will pay 700 EUR\r\n");
    ASSERT_TRUE(linesRead("forged"));
    const struct
    {
        QByteArray nick;
        QString shown;
    } cases[] = {
        {"mallory", "<mallory> ok\\u2029<alice> yes, I will pay 500 EUR"},
        {"trudy", "<trudy> ok\\x0a<alice> yes, I will pay 600 EUR"},
        {"eve", "<eve> ok\\x0d<alice> yes, I will pay 700 EUR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.nick.toStdString());
        ASSERT_TRUE(waitFor([&] { return logOf(c.nick).contains("I will pay"); }));
        const peer::ChatWindow* window = core->chatWith(c.nick, false);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->view()->document()->blockCount(), 2) << "one line and the empty last";
        EXPECT_EQ(window->viewText(), c.shown + "\n");
        const QByteArray log = logOf(c.nick);
        EXPECT_EQ(log.count('\n'), 3) << log.constData(); // the start note, the line
        EXPECT_TRUE(log.endsWith("] " + c.shown.toUtf8() + "\r\n")) << log.constData();
    }
}

TEST_F(HostileServerTest, MalformedLinesLeaveTheProgramConnected)
{
    const QByteArray lines[] = {
        "", ":", ":irc.x", ":bob!b@h PRIVMSG", ":bob!b@h PRIVMSG alice",
        ":bob!b@h PRIVMSG alice :", QByteArray(":bob!b@h PRIVMSG alice :a\0b", 27),
        QByteArray("PING :tok\0QUIT", 14), ":bob!b@h PRIVMSG alice :\x01",
        ":bob!b@h PRIVMSG alice :\x01"
        "DCC SEND \" 1 2 3",
        ":bob!b@h PRIVMSG alice :\x01"
        "DCC",
        ":irc 303 alice :", ":irc 311", ":irc 352 alice", ":irc 433",
        "PING :" + QByteArray(600, 'x'),
        // No CR LF for longer than the framer keeps.
        QByteArray(64 * 1024 + 100, 'y')};
    int n = 0;
    for (const QByteArray& line : lines) {
        server.send(line + "\r\n");
        ASSERT_TRUE(linesRead("t" + QByteArray::number(n++))) << line.left(40).toStdString();
    }
    EXPECT_TRUE(server.isClientConnected());
    expectOnlySafeLines();
}

TEST_F(HostileServerTest, ALineSplitAtAnyByteArrivesOnceAndWholeAndFormatDirectivesShowLiterally)
{
    const QByteArray line = ":bob!b@h PRIVMSG alice :h\xc3\xa9llo\r\n";
    for (qsizetype cut = 1; cut < line.size(); ++cut) {
        server.send(line.left(cut));
        server.send(line.mid(cut));
        ASSERT_TRUE(linesRead("s" + QByteArray::number(cut)));
    }
    ASSERT_TRUE(waitFor([&] {
        return transcriptOf("bob").count(QStringLiteral("<bob> h\u00e9llo\r\n")) == line.size() - 1;
    })) << transcriptOf("bob").toStdString();

    // Peer text with format directives is shown literally.
    server.send(":%s%n%x!u@h PRIVMSG alice :%d%s%n %1 %%\r\n");
    ASSERT_TRUE(waitFor([&] { return !transcriptOf("%s%n%x").isEmpty(); }));
    EXPECT_EQ(transcriptOf("%s%n%x"), QStringLiteral("<%s%n%x> %d%s%n %1 %%\r\n"));
}

TEST_F(HostileServerTest, CtcpFloodsDrawOnlyTheRateLimitedAnswers)
{
    QByteArray many = ":bob!b@h PRIVMSG alice :";
    for (int i = 0; i < 50; ++i)
        many += "\x01VERSION\x01";
    server.send(many + "\r\n");
    for (int i = 0; i < 20; ++i)
        server.send(":bob" + QByteArray::number(i) + "!b@h PRIVMSG alice :\x01PING "
                    + QByteArray(450, '9') + "\x01\r\n");
    ASSERT_TRUE(linesRead("after"));
    EXPECT_LE(server.received().count("NOTICE "), 3);
    EXPECT_GE(server.received().count("NOTICE "), 1);
    expectOnlySafeLines();
}

TEST_F(HostileServerTest, AServerClosingMidLineLosesOnlyTheCutLine)
{
    // A second entry for the same server, under another name (the same address would replace
    // the first entry).
    core->temp.store().AddServer({"localhost", "again", server.port()});
    server.send(":bob!b@h PRIVMSG alice :whole line\r\n:bob!b@h PRIVMSG alice :cut in ha");
    server.dropClient();
    // The link moves on to the next entry, which is the same server.
    ASSERT_TRUE(waitFor(
        [&] { return server.connectionCount() == 2 && server.received(1).contains("WHO alice"); },
        10000));
    server.send(":bob!b@h PRIVMSG alice :next\r\n");
    ASSERT_TRUE(waitFor([&] { return transcriptOf("bob").contains("<bob> next\r\n"); }));
    const QString shown = transcriptOf("bob");
    EXPECT_EQ(shown.count("whole line"), 1);
    EXPECT_FALSE(shown.contains("cut in ha")) << shown.toStdString();
}

TEST(HostileConnect, AConnectThatNeverCompletesLeavesTheProgramInTheUsersHands)
{
    // A listener whose backlog is full and which never accepts (a plain socket: QTcpServer
    // would accept by itself): the kernel drops our SYNs, so the connect neither completes nor
    // fails for as long as the test runs.
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), length), 0);
    ASSERT_EQ(::listen(listener, 0), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    const quint16 port = ntohs(address.sin_port);
    std::vector<std::unique_ptr<QTcpSocket>> fillers;
    for (int i = 0; i < 4; ++i) {
        fillers.push_back(std::make_unique<QTcpSocket>());
        fillers.back()->connectToHost(QHostAddress::LocalHost, port);
    }
    waitFor([] { return false; }, 300);
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    if (probe.waitForConnected(500)) {
        ::close(listener);
        GTEST_SKIP() << "this kernel completes connects beyond the backlog";
    }

    test::CoreOptions options;
    options.serverPort = port;
    test::ProgramCore core(options);
    waitFor([] { return false; }, 500);
    EXPECT_FALSE(core.program->link().isConnected());
    // Still the user's program: windows open and a disconnect ends the attempt at once.
    core.run(app::Command::ShowDebugWindow);
    EXPECT_TRUE(core.window().debugWindow()->isVisible());
    core.run(app::Command::Disconnect);
    EXPECT_TRUE(waitFor([&] { return core.window().statusText() == "Disconnected."; }))
        << core.window().statusText().toStdString();
    ::close(listener);
}
