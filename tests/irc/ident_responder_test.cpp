#include "diag/debug_log.h"
#include "irc/ident_responder.h"
#include "tests/support/wait_for.h"

#include <QLoggingCategory>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using irc::IdentResponder;
using test::waitFor;
using namespace std::chrono_literals;

namespace {

// Long enough for a loopback write to reach the responder and its answer to come back.
constexpr int kQuietMs = 300;

// The querying side of an ident connection, as a server makes it.
class Querier
{
public:
    explicit Querier(bool readReplies = true)
    {
        if (readReplies) {
            QObject::connect(&m_socket, &QTcpSocket::readyRead, &m_socket,
                             [this] { m_received += m_socket.readAll(); });
        } else {
            m_socket.setReadBufferSize(1);
        }
    }

    bool connectTo(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return waitFor([&] { return m_socket.state() == QAbstractSocket::ConnectedState; });
    }
    // The system refused the connection: nothing listens on the port.
    bool isRefusedAt(quint16 port)
    {
        m_socket.connectToHost(QHostAddress::LocalHost, port);
        return waitFor([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; })
               && m_socket.error() == QAbstractSocket::ConnectionRefusedError;
    }
    void write(const QByteArray& bytes) { m_socket.write(bytes); }
    bool receives(qsizetype bytes, int timeoutMs = 5000)
    {
        return waitFor([&] { return m_received.size() >= bytes; }, timeoutMs);
    }
    bool isClosedByPeer()
    {
        return waitFor([&] { return m_socket.state() == QAbstractSocket::UnconnectedState; });
    }
    void close() { m_socket.disconnectFromHost(); }

    const QByteArray& received() const { return m_received; }

private:
    QTcpSocket m_socket;
    QByteArray m_received;
};

QString statusPane()
{
    return diag::DebugPanes::instance().text(diag::Pane::Status);
}

class IdentResponderTest : public ::testing::Test
{
protected:
    void SetUp() override { diag::DebugPanes::instance().clear(); }

    std::unique_ptr<IdentResponder>
    startResponder(std::chrono::milliseconds idleTimeout = IdentResponder::kIdleTimeout)
    {
        auto responder = std::make_unique<IdentResponder>([this] { return nick; }, idleTimeout);
        EXPECT_TRUE(responder->start(0, QHostAddress::LocalHost));
        return responder;
    }
    static bool isServing(const IdentResponder& responder)
    {
        return waitFor([&] { return responder.state() == IdentResponder::State::Serving; });
    }
    static bool isListening(const IdentResponder& responder)
    {
        return waitFor([&] { return responder.state() == IdentResponder::State::Listening; });
    }
    // A new querier is let in and answered.
    static bool answersANewQuerier(quint16 port)
    {
        Querier next;
        if (!next.connectTo(port))
            return false;
        next.write("6191, 23\r\n");
        return next.receives(1);
    }

    QByteArray nick = "alice";
};

} // namespace

// One end-to-end path for the answers the pure tables prove byte for byte: a query is answered
// only once whole, several in one write in order, a malformed one echoed without its controls.
TEST_F(IdentResponderTest, AnswersEachQueryOnceWholeAndByteExactly)
{
    const auto responder = startResponder();
    Querier querier;
    ASSERT_TRUE(querier.connectTo(responder->port()));
    querier.write("6191,");
    EXPECT_FALSE(querier.receives(1, kQuietMs)) << querier.received().toStdString();
    querier.write(" 23\r");
    EXPECT_FALSE(querier.receives(1, kQuietMs)) << querier.received().toStdString();
    querier.write("\n113,4000\nPRIVMSG #x :hi\x1b[2J\r\n0, 23\r\n");
    const QByteArray expected = "6191, 23 : USERID : WINDOWS : alice\r\n"
                                "113,4000 : USERID : WINDOWS : alice\r\n"
                                "PRIVMSG #x :hi[2J : ERROR : INVALID-PORT\r\n"
                                "0, 23 : ERROR : INVALID-PORT\r\n";
    ASSERT_TRUE(querier.receives(expected.size()));
    EXPECT_EQ(querier.received(), expected);
    EXPECT_TRUE(statusPane().contains("Accepted identd connection"));
    EXPECT_TRUE(diag::DebugPanes::instance().text(diag::Pane::Info).contains("6191, 23"));

    querier.close();
    ASSERT_TRUE(isListening(*responder));
    EXPECT_TRUE(statusPane().contains("identd closed"));
}

TEST_F(IdentResponderTest, ClosesAConnectionWhoseRequestIsOverLong)
{
    const auto responder = startResponder();
    Querier querier;
    ASSERT_TRUE(querier.connectTo(responder->port()));
    querier.write("6191, 23\r\n" + QByteArray(irc::kMaxIdentRequestBytes + 1, '1'));
    ASSERT_TRUE(querier.isClosedByPeer());
    EXPECT_EQ(querier.received(), "6191, 23 : USERID : WINDOWS : alice\r\n");
    ASSERT_TRUE(isListening(*responder));
    EXPECT_TRUE(statusPane().contains("identd closed"));
}

TEST_F(IdentResponderTest, ClosesAnIdleConnectionAndListensAgain)
{
    const auto responder = startResponder(200ms);
    Querier idle;
    ASSERT_TRUE(idle.connectTo(responder->port()));
    ASSERT_TRUE(isServing(*responder));
    ASSERT_TRUE(idle.isClosedByPeer());
    ASSERT_TRUE(isListening(*responder));
    EXPECT_TRUE(statusPane().contains("identd closed"));
    EXPECT_TRUE(answersANewQuerier(responder->port()));
}

// A querier that asks just often enough never to be idle still gives up the only slot.
TEST_F(IdentResponderTest, EndsABusyConnectionAtItsLifetimeAndListensAgain)
{
    IdentResponder responder([this] { return nick; }, 10s, 300ms);
    ASSERT_TRUE(responder.start(0, QHostAddress::LocalHost));
    Querier busy;
    ASSERT_TRUE(busy.connectTo(responder.port()));
    ASSERT_TRUE(isServing(responder));
    QTimer keepAsking;
    QObject::connect(&keepAsking, &QTimer::timeout, &keepAsking,
                     [&] { busy.write("6191, 23\r\n"); });
    keepAsking.start(50);
    ASSERT_TRUE(busy.isClosedByPeer());
    keepAsking.stop();
    EXPECT_TRUE(busy.received().startsWith("6191, 23 : USERID : WINDOWS : alice\r\n"));
    ASSERT_TRUE(isListening(responder));
    EXPECT_TRUE(answersANewQuerier(responder.port()));
}

TEST_F(IdentResponderTest, RefusesASecondClientWhileOneIsServedAndServesItAfter)
{
    const auto responder = startResponder();
    Querier first;
    ASSERT_TRUE(first.connectTo(responder->port()));
    ASSERT_TRUE(isServing(*responder));

    Querier second;
    EXPECT_TRUE(second.isRefusedAt(responder->port()));
    first.write("6191, 23\r\n");
    EXPECT_TRUE(first.receives(1));

    first.close();
    ASSERT_TRUE(isListening(*responder));
    EXPECT_TRUE(answersANewQuerier(responder->port()));
}

TEST_F(IdentResponderTest, ClosesAConnectionThatNeverReadsItsReplies)
{
    nick = QByteArray(1000, 'n'); // each short query makes a long reply
    const auto responder = startResponder();
    Querier flooder(false);
    ASSERT_TRUE(flooder.connectTo(responder->port()));
    ASSERT_TRUE(isServing(*responder));
    QByteArray queries;
    for (int i = 0; i < 50000; ++i)
        queries += "1,1\n";
    // Each answer is logged; megabytes of them would bury the test's output.
    QLoggingCategory::setFilterRules(QStringLiteral("kivvo.debug=false"));
    flooder.write(queries);
    EXPECT_TRUE(isListening(*responder));
    QLoggingCategory::setFilterRules(QString());
}

TEST_F(IdentResponderTest, LogsBindErrorWhenThePortIsTaken)
{
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::LocalHost));
    IdentResponder responder([] { return QByteArray("alice"); });
    EXPECT_FALSE(responder.start(holder.serverPort(), QHostAddress::LocalHost));
    EXPECT_EQ(responder.state(), IdentResponder::State::Off);
    EXPECT_TRUE(statusPane().contains("bind() error"));
}
