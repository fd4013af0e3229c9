#include "irc/ident.h"

#include <gtest/gtest.h>

using irc::BuildIdentReply;
using irc::IdentPortPair;
using irc::IdentRequestFramer;
using irc::kMaxIdentRequestBytes;
using irc::ParseIdentRequest;

TEST(IdentRequest, AcceptsOnlyTwoPortsWithOptionalBlanks)
{
    const struct
    {
        QByteArray request;
        std::optional<IdentPortPair> expected;
    } cases[] = {
        {"6191, 23", IdentPortPair{6191, 23}},
        {"6191,23", IdentPortPair{6191, 23}},
        {"  6191 ,\t23 \t", IdentPortPair{6191, 23}},
        {"1,65535", IdentPortPair{1, 65535}},
        {"65535 , 1", IdentPortPair{65535, 1}},
        {"006191,0023", IdentPortPair{6191, 23}},
        {"0,23", std::nullopt},
        {"6191,0", std::nullopt},
        {"65536,23", std::nullopt},
        {"6191,99999999999999999999", std::nullopt},
        {"-1,23", std::nullopt},
        {"+6191,23", std::nullopt},
        {"6191", std::nullopt},
        {"6191,", std::nullopt},
        {",23", std::nullopt},
        {"6191,23,5", std::nullopt},
        {"6191 23", std::nullopt},
        {"61 91,23", std::nullopt},
        {"6191.0,23", std::nullopt},
        {"6191,23\r", std::nullopt},
        {"6191,23 : USERID : UNIX : root", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.toStdString());
        EXPECT_EQ(ParseIdentRequest(c.request), c.expected);
    }
}

TEST(IdentReply, EchoesWellFormedRequestsAndRefusesArbitraryBytes)
{
    const struct
    {
        QByteArray request;
        QByteArray nick;
        QByteArray expected;
    } cases[] = {
        {"6191, 23", "alice", "6191, 23 : USERID : WINDOWS : alice\r\n"},
        {"6191,23", "alice", "6191,23 : USERID : WINDOWS : alice\r\n"},
        {" 6191 , 23 ", "alice", " 6191 , 23  : USERID : WINDOWS : alice\r\n"},
        // Before the first connection there is no nick in use.
        {"6191, 23", "", "6191, 23 : USERID : WINDOWS : \r\n"},
        {"0, 23", "alice", "0, 23 : ERROR : INVALID-PORT\r\n"},
        {"6191,23,5", "alice", "6191,23,5 : ERROR : INVALID-PORT\r\n"},
        {"", "alice", " : ERROR : INVALID-PORT\r\n"},
        // A malformed request is echoed as received, so the querier can match the answer...
        {"garbage", "alice", "garbage : ERROR : INVALID-PORT\r\n"},
        {"GET / HTTP/1.0", "alice", "GET / HTTP/1.0 : ERROR : INVALID-PORT\r\n"},
        {"6191, 23 : USERID : UNIX : root", "alice",
         "6191, 23 : USERID : UNIX : root : ERROR : INVALID-PORT\r\n"},
        // ...without the bytes that would reach its terminal or log as controls.
        {QByteArray("6191,\0\x1b[2J23", 11), "alice", "6191,[2J2 : ERROR : INVALID-PORT\r\n"},
        {"a\rb\x7f\xc3\xa9"
         "c",
         "alice", "abc : ERROR : INVALID-PORT\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request.toStdString());
        EXPECT_EQ(BuildIdentReply(c.request, c.nick), c.expected);
    }
}

TEST(IdentRequestFramer, AnswersEachLineOnceInOrderWhereverTheStreamIsCut)
{
    const QByteArray stream = "6191, 23\r\n113,4000\n\r\n1 , 2\r\n";
    const QList<QByteArray> expected = {"6191, 23", "113,4000", "", "1 , 2"};
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        IdentRequestFramer framer;
        QList<QByteArray> requests = framer.feed(stream.first(cut)).requests;
        requests += framer.feed(stream.sliced(cut)).requests;
        EXPECT_EQ(requests, expected) << "cut at " << cut;
    }

    IdentRequestFramer unfinished;
    EXPECT_TRUE(unfinished.feed("6191, 23").requests.isEmpty());
    EXPECT_TRUE(unfinished.feed("\r").requests.isEmpty());
    EXPECT_EQ(unfinished.feed("\n").requests, QList<QByteArray>{"6191, 23"});
}

TEST(IdentRequestFramer, StopsAtARequestLongerThanTheLimit)
{
    const QByteArray longest(kMaxIdentRequestBytes, '1');
    const QByteArray tooLong(kMaxIdentRequestBytes + 1, '1');
    const struct
    {
        const char* name;
        QList<QByteArray> pieces;
        QList<QByteArray> requests;
        bool overLong;
    } cases[] = {
        {"longest with CR LF", {longest + "\r\n"}, {longest}, false},
        {"longest, CR apart from its LF", {longest + "\r", "\n"}, {longest}, false},
        {"longest with LF", {longest + "\n"}, {longest}, false},
        {"too long, whole", {"1,2\r\n" + tooLong + "\r\n3,4\r\n"}, {"1,2"}, true},
        {"too long, never ended", {"1,2\n", tooLong}, {"1,2"}, true},
        {"too long, in pieces", {longest, "1"}, {}, true},
        {"nothing after the stop", {tooLong, "\r\n5,6\r\n"}, {}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        IdentRequestFramer framer;
        QList<QByteArray> requests;
        bool overLong = false;
        for (const QByteArray& piece : c.pieces) {
            const IdentRequestFramer::Result result = framer.feed(piece);
            requests += result.requests;
            overLong = result.overLong;
        }
        EXPECT_EQ(requests, c.requests);
        EXPECT_EQ(overLong, c.overLong);
    }
}
