// Reading DCC offers and RESUME / ACCEPT from the arguments of their CTCP message.
#include "irc/ctcp.h"
#include "irc/dcc_offer.h"
#include "irc/message.h"
#include "irc/message_dispatcher.h"
#include "tests/support/dcc_offers.h"
#include "tests/support/offer_lines.h"

#include <gtest/gtest.h>

using irc::DccKind;
using irc::DccOffer;
using test::dccArguments;
using test::offer;
using test::overIPv6;
using test::secured;

namespace {

// The offers of the table, all from bob.
DccOffer send(const QByteArray& name, quint32 address, quint16 port, quint64 size,
              const QByteArray& token = {})
{
    return offer(DccKind::Send, "bob", name, address, port, size, token);
}
DccOffer chat(quint32 address, quint16 port, const QByteArray& token = {})
{
    return offer(DccKind::Chat, "bob", "", address, port, 0, token);
}
DccOffer voice(quint32 address, quint16 port)
{
    return offer(DccKind::Voice, "bob", "", address, port, 0);
}

// The kind the request's type word names; whether it is the secure form is the table's.
DccKind kindOf(const QByteArray& body)
{
    const QByteArray word = body.split(' ').value(1);
    return word.endsWith("SEND") ? DccKind::Send
                                 : (word.endsWith("CHAT") ? DccKind::Chat : DccKind::Voice);
}

} // namespace

TEST(DccOffer, ReadsOffersAsTheyAreSent)
{
    struct Case
    {
        QByteArray body;
        std::optional<DccOffer> offer;
        bool secure = false;
    };
    const Case cases[] = {
        {"DCC SEND \"my file.txt\" 3232235777 4000 1234",
         send("my file.txt", 0xC0A80101, 4000, 1234)},
        {"DCC SEND plain.txt 3232235777 4000 1234 extra",
         send("plain.txt", 0xC0A80101, 4000, 1234, "extra")},
        {"DCC CHAT chat 3232235777 70000", chat(0xC0A80101, 4464)},
        // The word after CHAT is skipped unread.
        {"DCC CHAT xxxx 16909060 2000", chat(0x01020304, 2000)},
        {"DCC VOICE 16909060 3000", voice(0x01020304, 3000)},
        // Numbers wrap modulo 2^32 and read as C reads them.
        {"DCC SEND f 4294967297 -1 -1", send("f", 1, 65535, ~0ull)},
        // Files of 4 GiB and more are offered with their whole size.
        {"DCC SEND big.iso 16909060 2000 5368709120",
         send("big.iso", 0x01020304, 2000, 5368709120ull)},
        {"DCC SEND f 1 2 18446744073709551616", send("f", 1, 2, 0)},
        {"DCC SEND f x y big", send("f", 0, 0, 0)},
        {"DCC SEND \" 1 2 3", send("\"", 1, 2, 3)},
        // Missing fields drop the offer.
        {"DCC SEND", std::nullopt},
        {"DCC SEND f", std::nullopt},
        {"DCC SEND f 1", std::nullopt},
        {"DCC SEND f 1 2", std::nullopt},
        {"DCC SEND \"unclosed 1 2", std::nullopt},
        {"DCC SEND \"name\"", std::nullopt},
        {"DCC CHAT chat 1", std::nullopt},
        {"DCC CHAT", std::nullopt},
        {"DCC VOICE 5", std::nullopt},
        // Passive, secure and IPv6 offers.
        {"DCC SEND f 16843009 0 5000 18", send("f", 0x01010101, 0, 5000, "18")},
        // The answer to a passive offer: our peer's address and port, and our token back.
        {"DCC SEND f 3232235777 4000 5000 18", send("f", 0xC0A80101, 4000, 5000, "18")},
        {"DCC CHAT chat 16843009 0 12", chat(0x01010101, 0, "12")},
        {"DCC CHAT CHAT 16843009 0 12", chat(0x01010101, 0, "12")},
        {"DCC SSEND \"my file.txt\" 16843009 4000 10",
         secured(send("my file.txt", 0x01010101, 4000, 10)), true},
        {"DCC SSEND f 16843009 0 10 7", secured(send("f", 0x01010101, 0, 10, "7")), true},
        {"DCC SCHAT chat 16843009 4000", secured(chat(0x01010101, 4000)), true},
        // Neither form is read as the other.
        {"DCC SSEND f 16843009 4000 10", std::nullopt},
        {"DCC SEND f 16843009 4000 10", std::nullopt, true},
        // A voice chat has no passive form and no secure one.
        {"DCC VOICE 16843009 3000 99", voice(0x01010101, 3000)},
        {"DCC VOICE 16843009 3000 99", voice(0x01010101, 3000), true},
        {"DCC CHAT chat ::1 4000", overIPv6(chat(0, 4000), "::1")},
        {"DCC SEND \"a b\" 2001:db8::7 4000 10 5",
         overIPv6(send("a b", 0, 4000, 10, "5"), "2001:db8::7")},
        {"DCC CHAT chat ::ffff:192.0.2.1 4000", overIPv6(chat(0, 4000), "::ffff:192.0.2.1")},
        // A half-read IPv6 address would send us somewhere else.
        {"DCC CHAT chat ::1::2 4000", std::nullopt},
        {"DCC CHAT chat 2001:db8:::1 4000", std::nullopt},
        {"DCC CHAT chat fe80::1%eth0 4000", std::nullopt},
        {"DCC CHAT chat 1:2:3:4:5:6:7:8:9 4000", std::nullopt},
        {"DCC CHAT chat : 4000", std::nullopt},
        {"DCC SEND f 1.2.3.4:80 4000 10", std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(irc::parseDccOffer(kindOf(c.body), "bob", dccArguments(c.body), c.secure),
                  c.offer)
            << c.body.toStdString();

    const auto passive =
        irc::parseDccOffer(DccKind::Send, "bob", dccArguments("DCC SEND f 16843009 0 5000 18"));
    ASSERT_TRUE(passive);
    EXPECT_TRUE(passive->passive());
    EXPECT_EQ(passive->address, QHostAddress("1.1.1.1"));
    const auto v6 =
        irc::parseDccOffer(DccKind::Chat, "bob", dccArguments("DCC CHAT chat 2001:db8::7 4000"));
    ASSERT_TRUE(v6);
    EXPECT_FALSE(v6->passive());
    EXPECT_EQ(v6->address, QHostAddress("2001:db8::7"));
}

TEST(DccOffer, SurvivesHostileLines)
{
    // No prefix, twenty fields, a sender without user@host: read or dropped, never a crash.
    const auto bare = test::readOfferLine("PRIVMSG alice :\001DCC CHAT chat 1 2\001");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->port, 2);
    QByteArray many = "DCC SEND f";
    for (int i = 0; i < 20; ++i)
        many += ' ' + QByteArray::number(i + 1);
    EXPECT_TRUE(irc::parseDccOffer(DccKind::Send, "bob", dccArguments(many)));
    const auto noHost = test::readOfferLine(":bob PRIVMSG a :\001DCC CHAT chat 1 2\001");
    ASSERT_TRUE(noHost);
    EXPECT_EQ(noHost->sender, "bob");
}

TEST(DccResume, ReadsResumeAndAcceptWithOrWithoutToken)
{
    using irc::DccResumeKind;
    const auto resume = [](DccResumeKind kind, const QByteArray& name, quint16 port,
                           std::optional<quint64> position, const QByteArray& token = {}) {
        return irc::DccResume{kind, "bob", name, port, position, token};
    };
    const struct
    {
        DccResumeKind kind;
        QByteArray body;
        std::optional<irc::DccResume> read;
    } cases[] = {
        {DccResumeKind::Resume, "DCC RESUME f 4000 100",
         resume(DccResumeKind::Resume, "f", 4000, 100)},
        {DccResumeKind::Accept, "DCC ACCEPT f 0 100 18",
         resume(DccResumeKind::Accept, "f", 0, 100, "18")},
        {DccResumeKind::Resume, "DCC RESUME \"my file.txt\" 4000 100",
         resume(DccResumeKind::Resume, "my file.txt", 4000, 100)},
        {DccResumeKind::Accept, "DCC RESUME f 4000 100", std::nullopt},
        {DccResumeKind::Resume, "DCC RESUME", std::nullopt},
        {DccResumeKind::Resume, "DCC RESUME f", std::nullopt},
        {DccResumeKind::Resume, "DCC RESUME f 4000", std::nullopt},
        // An unclosed quote is part of a plain name.
        {DccResumeKind::Resume, "DCC RESUME \"unclosed 4000 1",
         resume(DccResumeKind::Resume, "\"unclosed", 4000, 1)},
        {DccResumeKind::Resume, "DCC RESUME \"my file\"", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(irc::parseDccResume(c.kind, "bob", dccArguments(c.body)), c.read)
            << c.body.toStdString();

    // A position we would seek to must be exactly what the peer wrote.
    const std::pair<QByteArray, std::optional<quint64>> positions[] = {
        {"0", 0},
        {"18446744073709551615", ~0ull},
        {"-1", std::nullopt},
        {"+5", std::nullopt},
        {"12x", std::nullopt},
        {"", std::nullopt},
        {" 5", std::nullopt},
        {"0x10", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"18446744073709551616", std::nullopt},
    };
    for (const auto& [text, position] : positions) {
        const auto read = irc::parseDccResume(DccResumeKind::Resume, "bob",
                                              dccArguments("DCC RESUME f 4000 " + text));
        ASSERT_TRUE(read) << text.toStdString();
        EXPECT_EQ(read->position, position) << text.toStdString();
    }
}

TEST(DccResume, FormatsSafeLinesThatReadBack)
{
    using irc::DccResumeKind;
    EXPECT_EQ(irc::formatDccResume(DccResumeKind::Resume, "bob", "f", 4000, 100),
              QByteArray("PRIVMSG bob :\001DCC RESUME f 4000 100\001"));
    EXPECT_EQ(irc::formatDccResume(DccResumeKind::Accept, "bob", "my file.txt", 0, 100, "18"),
              QByteArray("PRIVMSG bob :\001DCC ACCEPT \"my file.txt\" 0 100 18\001"));
    const struct
    {
        QByteArray nick, name, token;
    } unsafe[] = {
        {"", "f", ""},   {"a b", "f", ""},    {":x", "f", ""},     {"a\r\nQUIT", "f", ""},
        {"bob", "", ""}, {"bob", "f", "1 2"}, {"bob", "f", "1\n"},
    };
    for (const auto& u : unsafe)
        EXPECT_FALSE(irc::formatDccResume(DccResumeKind::Resume, u.nick, u.name, 1, 2, u.token))
            << u.nick.toStdString() << "|" << u.name.toStdString() << "|" << u.token.toStdString();

    // The name is echoed, and means nothing to the sender: what would break the line goes as
    // '_', and the port and position always read back.
    const std::pair<QByteArray, QByteArray> names[] = {
        {"f", "f"},
        {"my file.txt", "my file.txt"},
        {"\"x", "_x"},
        {"a\"b", "a_b"},
        {"a \"b c", "a _b c"},
        {"a\001b", "a_b"},
        {"f\r\nQUIT", "f__QUIT"},
    };
    for (const auto& [name, echoed] : names) {
        for (const QByteArray token : {"", "18"}) {
            const auto made = irc::formatDccResume(DccResumeKind::Accept, "bob", name, 4000,
                                                   5368709120ull, token);
            ASSERT_TRUE(made) << name.toStdString();
            EXPECT_EQ(made->count('\001'), 2);
            const QByteArray received = ":alice!a@h " + *made;
            const std::optional<irc::Message> message = irc::parseMessage(received);
            ASSERT_TRUE(message);
            const std::optional<irc::Ctcp> ctcp = irc::splitCtcp(message->trailing());
            ASSERT_TRUE(ctcp && ctcp->dcc);
            EXPECT_EQ(irc::parseDccResume(DccResumeKind::Accept, irc::GetSenderNick(*message),
                                          ctcp->arguments),
                      (irc::DccResume{DccResumeKind::Accept, "alice", echoed, 4000, 5368709120ull,
                                      token}))
                << received.toStdString();
        }
    }
}
